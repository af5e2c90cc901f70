#include "core/threads.h"

#include <algorithm>
#include <cxxabi.h>
#include <typeinfo>

#include "core/log.h"
#include "platform/exception.h"
#include "platform/os_thread.h"
#include "platform/ui_dispatch.h"

namespace fv {

// The one way from a worker to its master. Lock is held for the whole of every call through the
// link, and the master's destructor takes it to clear Master, so no call outlives the master.
// Lock order: a link's Lock, then the master's FLock, then a worker's FProcLock.
struct TMasterLink {
    std::mutex Lock;
    TThreadMaster* Master = nullptr;
};

// ---------------------------------------------------------------- TThreadObject

TThreadObject::~TThreadObject() {
    if (FThread.joinable()) {
        Terminate();
        if (FThread.get_id() == std::this_thread::get_id())
            FThread.detach();  // freeing itself at its end
        else
            FThread.join();
    }
}

void TThreadObject::Start() {
    if (FStarted) return;
    FStarted = true;
    std::lock_guard g(FStartLock);
    FThread = std::thread([this] { Run(); });
}

void TThreadObject::Run() {
    try {
        Execute();
    } catch (const std::exception& e) {
        WriteLogFailed(ClassName() + ".Execute", e);
    } catch (...) {
        WriteLog(ClassName() + ".Execute is Failed. ( unknown exception )");
    }
    try {
        DoTerminate();
    } catch (const std::exception& e) {
        WriteLogFailed(ClassName() + ".DoTerminate", e);
    }
    if (FFreeOnTerminate) {
        { std::lock_guard g(FStartLock); }  // Start has finished assigning FThread
        FThread.detach();
        delete this;
        return;
    }
    FFinished.store(true);
    // a UI thread waiting in WaitFor sleeps until a call arrives: an empty one ends its slice
    if (FUiWaiting.load()) UiDispatcher().RunOnUiThread([] {}, false);
}

void TThreadObject::WaitFor() {
    if (!FThread.joinable()) return;
    if (FThread.get_id() == std::this_thread::get_id()) return;
    // only the UI thread has to keep serving the worker's synchronised calls while it waits
    if (UiDispatcher().IsUiThread()) {
        FUiWaiting.store(true);
        WaitPumping([this] { return FFinished.load(); }, 50);
    }
    FThread.join();
}

void TThreadObject::Synchronize(const std::function<void()>& fn) { UiDispatcher().RunOnUiThread(fn, true); }

std::string TThreadObject::ClassName() const {
    int status = 0;
    char* d = abi::__cxa_demangle(typeid(*this).name(), nullptr, nullptr, &status);
    std::string name = status == 0 && d ? d : typeid(*this).name();
    std::free(d);
    size_t colon = name.rfind("::");
    return colon == std::string::npos ? name : name.substr(colon + 2);
}

// ---------------------------------------------------------------- TCorvaThreadBase

TCorvaThreadBase::~TCorvaThreadBase() {
    std::shared_ptr<TMasterLink> link;
    {
        std::lock_guard g(FProcLock);
        link = FLink;
    }
    if (!link) return;
    std::lock_guard g(link->Lock);
    if (link->Master) link->Master->UnregisterThread(this);
}

void TCorvaThreadBase::SetReportProc(TThreadReportProc proc) {
    std::lock_guard g(FProcLock);
    FReportProc = std::move(proc);
}

bool TCorvaThreadBase::HasReportProc() {
    std::lock_guard g(FProcLock);
    return static_cast<bool>(FReportProc);
}

void TCorvaThreadBase::Report() {
    TThreadReportProc proc;
    {
        std::lock_guard g(FProcLock);
        proc = FReportProc;
    }
    if (!proc) return;
    uint8_t state = FState.load();
    uint32_t failures = FFailureCount.load();
    int32_t done = FDone.load(), total = FTotal.load();
    if (FSynchronized)
        Synchronize([&] { proc(this, state, failures, done, total); });
    else
        proc(this, state, failures, done, total);
}

void TCorvaThreadBase::DoStart(int32_t total) {
    if (!HasReportProc()) return;
    FState = tsStarted;
    FTotal = total;
    FDone = 0;
    Report();
}

void TCorvaThreadBase::DoProgress(int32_t count) {
    if (IsTerminated() || !HasReportProc()) return;
    FState = tsProgress;
    FDone += count;
    Report();
}

void TCorvaThreadBase::DoFinish(uint8_t state) {
    if (!HasReportProc()) return;
    FState = state;
    Report();
}

TEventHandle TCorvaThreadBase::CreateNamedEvent(const std::string& name) {
    if (name.empty()) return nullptr;
    return fv::CreateNamedEvent(name, false);
}

bool TCorvaThreadBase::WaitNamedEvent(const std::string& name) {
    if (name.empty()) return true;
    try {
        TEventHandle ev = CreateNamedEvent(name);
        if (!ev) return false;
        while (!IsTerminated()) {
            if (ev->WaitFor(100)) return true;
        }
        return false;
    } catch (...) {
        return false;
    }
}

void TCorvaThreadBase::SignalNamedEvent(const std::string& name) {
    if (TEventHandle ev = CreateNamedEvent(name)) ev->SetEvent();
}

void TCorvaThreadBase::SetThreadName() { SetCurrentThreadName(ClassName()); }

// ---------------------------------------------------------------- TProgressWatcher

void TProgressWatcher::Report(bool active, int percent) {
    if (Terminated()) return;
    if (FHasLast && FLastActive == active && FLastPercent == percent) return;
    FHasLast = true;
    FLastActive = active;
    FLastPercent = percent;
    Synchronize([&] { FUi(active, percent); });
}

void TProgressWatcher::Execute() {
    SetCurrentThreadName("TProgressWatcher");
    if (FEventName.empty() || !FQuery || !FUi) return;
    try {
        TEventHandle ev = fv::CreateNamedEvent(FEventName, false);
        TEventHandle timer = CreateUnnamedEvent(true, false);  // never signalled: a 100 ms clock
        while (!Terminated()) {
            bool signalled = false;
            while (!Terminated() && !(signalled = ev->WaitFor(200))) {
            }
            if (!signalled) break;
            try {
                Report(true, 0);
                while (true) {
                    if (!ev->IsSignalled()) break;
                    if (timer->WaitFor(100)) break;
                    if (Terminated()) break;
                    bool active = false;
                    int percent = 0;
                    FQuery(active, percent);
                    if (active) Report(true, percent);
                }
            } catch (...) {
            }
            Report(false, 0);
        }
    } catch (...) {
        // the watcher never takes the program down
    }
}

// ---------------------------------------------------------------- TThreadMaster

TThreadMaster::TThreadMaster() : FLink(std::make_shared<TMasterLink>()) { FLink->Master = this; }

TThreadMaster::~TThreadMaster() {
    try {
        StopWatcher();
    } catch (...) {
    }
    // waits for reports and departures in progress; later ones find no master
    std::lock_guard l(FLink->Lock);
    FLink->Master = nullptr;
    std::lock_guard g(FLock);
    for (auto* w : FWorkers) Detach(w);
    FWorkers.clear();
}

void TThreadMaster::Detach(TCorvaThreadBase* worker) {
    std::lock_guard g(worker->FProcLock);
    worker->FReportProc = nullptr;
    worker->FLink.reset();
}

int TThreadMaster::GetThreadCount() {
    std::lock_guard g(FLock);
    return static_cast<int>(FWorkers.size());
}

int TThreadMaster::GetActiveCount() {
    std::lock_guard g(FLock);
    return FActive;
}

void TThreadMaster::RegisterThread(TCorvaThreadBase* worker) {
    if (!worker) return;
    std::lock_guard g(FLock);
    if (std::find(FWorkers.begin(), FWorkers.end(), worker) != FWorkers.end()) return;
    FWorkers.push_back(worker);
    std::lock_guard p(worker->FProcLock);
    worker->FLink = FLink;
    worker->FReportProc = GetProgressHandler();
}

void TThreadMaster::UnregisterThread(TCorvaThreadBase* worker) {
    std::lock_guard g(FLock);
    auto it = std::find(FWorkers.begin(), FWorkers.end(), worker);
    if (it == FWorkers.end()) return;
    FWorkers.erase(it);
    Detach(worker);
}

TThreadReportProc TThreadMaster::GetProgressHandler() {
    // through the link: a report that comes after the master's end goes nowhere
    std::weak_ptr<TMasterLink> weak = FLink;
    return [weak](TCorvaThreadBase* w, uint8_t state, uint32_t failures, int32_t done, int32_t total) {
        std::shared_ptr<TMasterLink> link = weak.lock();
        if (!link) return;
        std::lock_guard g(link->Lock);
        if (link->Master) link->Master->ProgressHandler(w, state, failures, done, total);
    };
}

void TThreadMaster::ProgressHandler(TCorvaThreadBase* worker, uint8_t state, uint32_t, int32_t done, int32_t total) {
    try {
        std::lock_guard g(FLock);
        switch (state) {
            case tsStarted: {
                int64_t before = FTotal;
                ++FActive;
                FTotal += total;
                FTotals[worker] = total;
                FLastDone[worker] = done;
                FDone += done;
                if (FActiveEvent && before <= 0 && FTotal > 0) FActiveEvent->SetEvent();
                break;
            }
            case tsProgress: {
                // only the increase since this worker's previous report
                auto it = FLastDone.find(worker);
                int32_t last = it == FLastDone.end() ? 0 : it->second;
                FDone += done - last;
                FLastDone[worker] = done;
                break;
            }
            case tsFinished:
            case tsCancelled:
            case tsFailed: {
                if (FActive > 0) --FActive;
                auto t = FTotals.find(worker);
                int32_t wtotal = t == FTotals.end() ? total : t->second;
                auto d = FLastDone.find(worker);
                int32_t wdone = d == FLastDone.end() ? done : d->second;
                FTotal = std::max<int64_t>(0, FTotal - wtotal);
                FDone = std::max<int64_t>(0, FDone - wdone);
                if (t != FTotals.end()) FTotals.erase(t);
                if (d != FLastDone.end()) FLastDone.erase(d);
                if (FActiveEvent && FTotal == 0) FActiveEvent->ResetEvent();
                break;
            }
            default: break;
        }
    } catch (...) {
    }
}

void TThreadMaster::GetProgress(bool& active, int& percent) {
    std::lock_guard g(FLock);
    active = FTotal > 0;
    percent = FTotal <= 0 ? 0 : static_cast<int>(FDone * 100 / FTotal);
}

void TThreadMaster::StartWatcher(const std::string& name, TProgressUiProc callback) {
    if (!callback) return;
    std::lock_guard g(FLock);
    if (FWatcher) return;  // one watcher at a time; RestartWatcher replaces it
    std::string full = "ProgressWatcherActiveEvent" + name;
    FActiveEvent = CreateNamedEvent(full, false);
    // work that is already running shows at once instead of after its end
    if (FTotal > 0) FActiveEvent->SetEvent();
    FWatcher = std::make_unique<TProgressWatcher>(full, std::move(callback),
                                                  [this](bool& a, int& p) { GetProgress(a, p); });
    FWatcher->Start();
}

void TThreadMaster::StopWatcher() {
    std::unique_ptr<TProgressWatcher> watcher;
    TEventHandle ev;
    {
        std::lock_guard g(FLock);
        watcher = std::move(FWatcher);
        ev = std::move(FActiveEvent);
    }
    // waited for outside the lock: the watcher takes it to read the progress
    if (watcher) {
        watcher->Terminate();
        watcher->WaitFor();
        watcher.reset();
    }
    if (ev) ev->ResetEvent();
}

void TThreadMaster::RestartWatcher(const std::string& name, TProgressUiProc callback) {
    StopWatcher();
    StartWatcher(name, std::move(callback));
}

void TThreadMaster::TerminateAll() {
    // a worker that frees itself meanwhile waits for the lock to leave, so every pointer here is alive
    std::lock_guard g(FLock);
    for (auto it = FWorkers.rbegin(); it != FWorkers.rend(); ++it) (*it)->Terminate();
}

void TThreadMaster::Finish() {
    TerminateAll();
    StopWatcher();
}

bool TThreadMaster::WatcherRunning() {
    std::lock_guard g(FLock);
    return FWatcher != nullptr;
}

TEventHandle TThreadMaster::ActiveEvent() {
    std::lock_guard g(FLock);
    return FActiveEvent;
}

}  // namespace fv
