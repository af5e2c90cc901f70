#include "ui/ui_fonts.h"

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

}  // namespace fv
