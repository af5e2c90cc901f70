#include "ui/qt_ui_dispatcher.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <exception>
#include <memory>

namespace fv {

bool TQtUiDispatcher::IsUiThread() const {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void TQtUiDispatcher::RunOnUiThread(std::function<void()> fn, bool wait) {
    auto* app = QCoreApplication::instance();
    if (!app || IsUiThread()) {
        fn();
        return;
    }
    if (!wait) {
        QMetaObject::invokeMethod(app, [fn = std::move(fn)] {
            try {
                fn();
            } catch (...) {
                // nobody waits for this call: nothing to report to
            }
        }, Qt::QueuedConnection);
        return;
    }
    std::exception_ptr error;
    QMetaObject::invokeMethod(app, [&] {
        try {
            fn();
        } catch (...) {
            error = std::current_exception();
        }
    }, Qt::BlockingQueuedConnection);
    if (error) std::rethrow_exception(error);
}

void TQtUiDispatcher::ProcessPending() {
    if (IsUiThread()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void InstallQtUiDispatcher() {
    static TQtUiDispatcher dispatcher;
    SetUiDispatcher(&dispatcher);
}

}  // namespace fv
