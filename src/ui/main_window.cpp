#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMetaObject>
#include <QPointer>
#include <QStatusBar>
#include <QVBoxLayout>

#include "core/config.h"
#include "core/engine.h"
#include "core/log.h"
#include "core/startup.h"
#include "core/threads.h"
#include "platform/instance.h"

namespace fv {

TFolvaneMain2::TFolvaneMain2(QWidget* parent) : QMainWindow(parent) {
    setObjectName(kMainWindowClassName);
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    resize(1024, 700);

    auto* central = new QWidget(this);
    central->setObjectName("CatalogArea");
    central->setAutoFillBackground(true);
    QPalette pal = central->palette();
    pal.setColor(QPalette::Window, QColor(44, 48, 54));
    pal.setColor(QPalette::WindowText, QColor(220, 224, 230));
    central->setPalette(pal);
    auto* v = new QVBoxLayout(central);
    auto* title = new QLabel(QString::fromUtf8(kApplicationTitle), central);
    QFont f = title->font();
    f.setPointSize(22);
    f.setBold(true);
    title->setFont(f);
    title->setAlignment(Qt::AlignCenter);
    auto* version = new QLabel(QStringLiteral("Ver %1").arg(QString::fromStdString(RunningFileVersion())), central);
    version->setAlignment(Qt::AlignCenter);
    v->addStretch();
    v->addWidget(title);
    v->addWidget(version);
    v->addStretch();
    setCentralWidget(central);

    FStatus = new QLabel(this);
    statusBar()->addWidget(FStatus, 1);
    FProgress = new QProgressBar(this);
    FProgress->setObjectName("ProgressBar");
    FProgress->setRange(0, 100);
    FProgress->setMaximumWidth(200);
    FProgress->hide();
    statusBar()->addPermanentWidget(FProgress);

    // the engine master's progress: shown exactly while work is active
    if (TThreadMaster* m = CorvaThreadMaster()) {
        m->StartWatcher(std::string(kMainWindowClassName) + kApplicationTitle,
                        [this](bool active, int percent) { ShowProgress(active, percent); });
    }
}

TFolvaneMain2::~TFolvaneMain2() {
    if (FServer) FServer->Stop();
    if (TThreadMaster* m = CorvaThreadMaster()) m->StopWatcher();
}

void TFolvaneMain2::ShowProgress(bool active, int percent) {
    if (!statusBar()->isVisible()) return;
    FProgress->setValue(percent);
    FProgress->setVisible(active);
}

void TFolvaneMain2::StartListening(const std::string& socketPath) {
    FServer = std::make_unique<TForwardServer>();
    QPointer<TFolvaneMain2> self(this);
    // the answer is always 1; the message itself is handled on the UI thread
    FServer->Start(socketPath, [self](const TForwardMessage& m) -> uint32_t {
        std::string text = m.Text;
        bool hasData = m.HasData;
        QMetaObject::invokeMethod(qApp, [self, text, hasData] {
            if (self) self->ReceiveForwarded(text, hasData);
        }, Qt::QueuedConnection);
        return 1;
    });
}

void TFolvaneMain2::ReceiveForwarded(const std::string& text, bool hasData) {
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    if (!isVisible()) show();
    if (QGuiApplication::platformName() != "offscreen") {
        raise();
        activateWindow();
    }
    if (!hasData || text.empty()) return;
    WriteLogText("TFolvaneMain2.WMCopyData", text);
    {
        std::lock_guard g(FQueueLock);
        FPending.push_back(text);
    }
    emit commandQueued();
    QMetaObject::invokeMethod(this, &TFolvaneMain2::ProcessPendingCommands, Qt::QueuedConnection);
}

std::deque<std::string> TFolvaneMain2::PendingCommands() const {
    std::lock_guard g(FQueueLock);
    return FPending;
}

bool TFolvaneMain2::TakePendingCommand(std::string& out) {
    std::lock_guard g(FQueueLock);
    if (FPending.empty()) return false;
    out = FPending.front();
    FPending.pop_front();
    return true;
}

void TFolvaneMain2::SetCommandProcessor(std::function<void(const std::string&)> proc) {
    FProcessor = std::move(proc);
    QMetaObject::invokeMethod(this, &TFolvaneMain2::ProcessPendingCommands, Qt::QueuedConnection);
}

void TFolvaneMain2::ProcessPendingCommands() {
    if (!FProcessor || FClosing) return;  // without a processor the commands wait in the queue
    std::string cmd;
    while (TakePendingCommand(cmd)) {
        try {
            FProcessor(cmd);
        } catch (const std::exception& e) {
            WriteLogFailed("TFolvaneMain2.ProcessPendingCommands", e);
        }
    }
}

void TFolvaneMain2::closeEvent(QCloseEvent* e) {
    if (!FClosing) {
        FClosing = true;
        if (FServer) FServer->Stop();  // no second start reaches a closing window
        if (TThreadMaster* m = CorvaThreadMaster()) {
            m->TerminateAll();
            m->RestartWatcher(std::string(kMainWindowClassName) + kApplicationTitle, nullptr);
            // the workers may still report to the UI: keep the loop running until they are gone
            while (m->GetThreadCount() > 0) QApplication::processEvents(QEventLoop::AllEvents, 50);
        }
    }
    e->accept();
    emit closed();
}

}  // namespace fv
