#pragma once
// The main window. Here: the window a second start reaches (restore, raise, forwarded command
// texts into the queue of pending commands), the progress display of the worker threads, and
// a close that waits for the workers while the interface stays responsive.
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace fv {

class TForwardServer;

class TFolvaneMain2 : public QMainWindow {
    Q_OBJECT
public:
    explicit TFolvaneMain2(QWidget* parent = nullptr);
    ~TFolvaneMain2() override;

    // Listens for second starts on the instance socket (no window = nobody listening).
    void StartListening(const std::string& socketPath);
    // A forwarded message on the UI thread: restore and raise; a non-empty text joins the queue.
    void ReceiveForwarded(const std::string& text, bool hasData);
    std::deque<std::string> PendingCommands() const;
    // takes the oldest pending command; false when none is queued
    bool TakePendingCommand(std::string& out);
    // The processor of queued commands; called on the UI thread for each queued text.
    void SetCommandProcessor(std::function<void(const std::string&)> proc);

    QProgressBar* ProgressBar() const { return FProgress; }

signals:
    void closed();
    void commandQueued();

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void ProcessPendingCommands();
    void ShowProgress(bool active, int percent);
    std::unique_ptr<TForwardServer> FServer;
    mutable std::mutex FQueueLock;
    std::deque<std::string> FPending;
    std::function<void(const std::string&)> FProcessor;
    QProgressBar* FProgress = nullptr;
    QLabel* FStatus = nullptr;
    bool FClosing = false;
};

}  // namespace fv
