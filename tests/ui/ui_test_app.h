#pragma once
// The one QApplication of the UI test program (offscreen unless told otherwise) and the
// folder where tests leave their screenshots.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QString>

namespace fv::test {

inline QApplication& App() {
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // never destroyed: tearing it down among the exit handlers crashes inside Qt's test devices
    static QApplication* app = qobject_cast<QApplication*>(QCoreApplication::instance())
                                   ? qobject_cast<QApplication*>(QCoreApplication::instance())
                                   : new QApplication(argc, argv);
    return *app;
}

// <build>/screenshots/<name>.png, with "@2x" added when the screen scale is 2
inline QString SaveScreenshot(const QImage& image, const QString& name) {
    QString dir = QStringLiteral(FV_BINARY_DIR "/screenshots");
    QDir().mkpath(dir);
    qreal scale = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble();
    QString file = dir + QLatin1Char('/') + name + (scale >= 2 ? QStringLiteral("@2x") : QString()) + QStringLiteral(".png");
    image.save(file);
    return file;
}

}  // namespace fv::test
