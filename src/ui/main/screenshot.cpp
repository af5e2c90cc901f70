#include "ui/main/screenshot.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <cstdlib>

namespace fv {

void ScheduleScreenshot(int delayMs, const QString& fileName, QWidget* widget) {
    const char* dir = std::getenv("FOLVANE_SCREENSHOT_DIR");
    if (!dir || !*dir) return;
    QString path = QDir(QString::fromLocal8Bit(dir)).filePath(fileName);
    QPointer<QWidget> w(widget);
    QTimer::singleShot(delayMs, w ? static_cast<QObject*>(w.data()) : qApp, [path, w] {
        QPixmap shot;
        bool offscreen = QGuiApplication::platformName() == "offscreen";
        if (!offscreen)
            if (QScreen* s = QGuiApplication::primaryScreen()) shot = s->grabWindow(0);
        if (shot.isNull() && w) shot = w->grab();
        if (!shot.isNull()) shot.save(path);
    });
}

}  // namespace fv
