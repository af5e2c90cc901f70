#include "platform/ui_dispatch.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <stdexcept>

namespace fv {

struct TQueueDispatcher::Task {
    std::function<void()> Fn;
    bool Done = false;
    std::exception_ptr Error;
};

TQueueDispatcher::TQueueDispatcher() : FUiThread(std::this_thread::get_id()) {}

TQueueDispatcher::~TQueueDispatcher() {
    // release waiters of calls that will never run
    std::lock_guard<std::mutex> g(FLock);
    for (auto& t : FQueue) {
        t->Done = true;
        t->Error = std::make_exception_ptr(std::runtime_error("the user-interface queue was closed"));
    }
    FQueue.clear();
    FCond.notify_all();
}

bool TQueueDispatcher::IsUiThread() const { return std::this_thread::get_id() == FUiThread.load(); }

void TQueueDispatcher::RebindToCurrentThread() { FUiThread.store(std::this_thread::get_id()); }

void TQueueDispatcher::RunOnUiThread(std::function<void()> fn, bool wait) {
    if (IsUiThread()) {
        fn();
        return;
    }
    auto task = std::make_shared<Task>();
    task->Fn = std::move(fn);
    std::unique_lock<std::mutex> g(FLock);
    FQueue.push_back(task);
    FCond.notify_all();
    if (!wait) return;
    FCond.wait(g, [&] { return task->Done; });
    if (task->Error) std::rethrow_exception(task->Error);
}

void TQueueDispatcher::ProcessPending() {
    if (!IsUiThread()) return;
    while (true) {
        std::shared_ptr<Task> t;
        {
            std::lock_guard<std::mutex> g(FLock);
            if (FQueue.empty()) return;
            t = FQueue.front();
            FQueue.pop_front();
        }
        std::exception_ptr err;
        try {
            t->Fn();
        } catch (...) {
            err = std::current_exception();
        }
        std::lock_guard<std::mutex> g(FLock);
        t->Done = true;
        t->Error = err;
        FCond.notify_all();
    }
}

void TQueueDispatcher::WaitAndProcess(int timeoutMs) {
    {
        std::unique_lock<std::mutex> g(FLock);
        FCond.wait_for(g, std::chrono::milliseconds(timeoutMs), [this] { return !FQueue.empty(); });
    }
    ProcessPending();
}

namespace {
std::atomic<TUiDispatcher*> gInstalled{nullptr};
TQueueDispatcher& DefaultDispatcher() {
    static TQueueDispatcher d;
    return d;
}
// built during static initialisation, i.e. on the main thread, never on a worker that asks first
[[maybe_unused]] TQueueDispatcher& gDefaultOnMainThread = DefaultDispatcher();
}  // namespace

TUiDispatcher& UiDispatcher() {
    TUiDispatcher* d = gInstalled.load();
    return d ? *d : DefaultDispatcher();
}

void SetUiDispatcher(TUiDispatcher* dispatcher) { gInstalled.store(dispatcher); }

void WaitPumping(const std::function<bool()>& done, int sliceMs) {
    TUiDispatcher& d = UiDispatcher();
    bool ui = d.IsUiThread();
    auto* queue = dynamic_cast<TQueueDispatcher*>(&d);
    while (!done()) {
        if (ui && queue) {
            queue->WaitAndProcess(sliceMs);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(sliceMs));
            if (ui) d.ProcessPending();
        }
    }
}

}  // namespace fv
