#pragma once
// Calls into the user-interface thread and "process pending messages while waiting".
// The Qt layer installs its own dispatcher; headless programs and tests use TQueueDispatcher,
// whose queue the UI thread pumps with ProcessPending().
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace fv {

class TUiDispatcher {
public:
    virtual ~TUiDispatcher() = default;
    virtual bool IsUiThread() const = 0;
    // On the UI thread the call runs at once. Otherwise it is queued; with wait the caller
    // blocks until it has run and receives any exception it raised.
    virtual void RunOnUiThread(std::function<void()> fn, bool wait) = 0;
    // Runs what is pending for the UI thread (a no-op on other threads).
    virtual void ProcessPending() = 0;
};

// The process's dispatcher; when none is installed, a TQueueDispatcher bound to the main thread.
TUiDispatcher& UiDispatcher();
// Installs a dispatcher (not owned); null restores the default one.
void SetUiDispatcher(TUiDispatcher* dispatcher);

class TQueueDispatcher : public TUiDispatcher {
public:
    TQueueDispatcher();  // the constructing thread is the UI thread
    ~TQueueDispatcher() override;
    bool IsUiThread() const override;
    void RunOnUiThread(std::function<void()> fn, bool wait) override;
    void ProcessPending() override;
    // waits until something is queued (or the time passes), then pumps
    void WaitAndProcess(int timeoutMs);
    void RebindToCurrentThread();

private:
    struct Task;
    std::mutex FLock;
    std::condition_variable FCond;
    std::deque<std::shared_ptr<Task>> FQueue;
    std::atomic<std::thread::id> FUiThread;  // read by every thread, rebound by the UI thread
};

// Waits until done() holds, in slices of sliceMs, processing pending UI calls between slices
// when called on the UI thread (so that workers blocked in a synchronised call can finish).
void WaitPumping(const std::function<bool()>& done, int sliceMs = 50);

}  // namespace fv
