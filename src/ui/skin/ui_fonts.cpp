#include "ui/skin/ui_fonts.h"

#include <QApplication>
#include <QGlyphRun>
#include <QTextLayout>

namespace fv {
namespace {
const QString kCjkFamily = QStringLiteral("Noto Sans CJK JP");
}

QFont UiFont(int pointSize) {
    QFont f(kCjkFamily);
    f.setPointSize(pointSize > 0 ? pointSize : 9);
    f.setStyleHint(QFont::SansSerif);
    return f;
}

QFont UiFontNamed(const QString& name, int pixelSize) {
    // every named face maps to the CJK family; Tahoma's narrow Latin is closest to its sans
    QFont f(kCjkFamily);
    f.setStyleHint(QFont::SansSerif);
    if (name == QLatin1String("Tahoma")) f.setStretch(QFont::SemiCondensed);
    f.setPixelSize(pixelSize > 0 ? pixelSize : 12);
    return f;
}

QStringList OpenUiFont(int which) {
    QFont f;
    if (which == 0) {
        f = QApplication::font();
    } else if (which == 1 || which == 2) {
        f = UiFont(9);
        f.setBold(which == 2);
    } else {
        return {};
    }
    // the status bar's count, the day bands and the trees: Latin digits and Japanese
    const QString texts[] = {QStringLiteral("Folvane 2008/05/04 16:47"),
                             QString::fromUtf8("2008年5月4日 (日曜日) 枚 カレンダー")};
    QStringList families;
    for (const QString& t : texts) {
        QTextLayout layout(t, f);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        for (const QGlyphRun& run : layout.glyphRuns()) families << run.rawFont().familyName();
    }
    return families;
}

}  // namespace fv
