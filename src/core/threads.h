#pragma once
// Worker threads: the thread class every background job derives from, the master that sums
// the progress of its workers, and the watcher that turns the sum into a UI progress display.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sync.h"

namespace fv {

// The plain thread class: created suspended, Start() runs Execute on a new thread.
// Termination is a request. A class that overrides Execute stops its thread in its own
// destructor (TerminateAndWait) so that Execute never outlives the object's members.
class TThreadObject {
public:
    TThreadObject() = default;
    virtual ~TThreadObject();
    TThreadObject(const TThreadObject&) = delete;
    TThreadObject& operator=(const TThreadObject&) = delete;

    void Start();
    void Terminate() { FTerminated.store(true); }
    bool Terminated() const { return FTerminated.load(); }
    bool Started() const { return FStarted; }
    bool Finished() const { return FFinished.load(); }
    // waits for the end; on the UI thread in 50 ms slices while pending UI calls run (the
    // thread's end wakes the waiter at once)
    void WaitFor();
    void TerminateAndWait() {
        Terminate();
        WaitFor();
    }
    // the object deletes itself when Execute has ended (set before Start)
    void SetFreeOnTerminate(bool v) { FFreeOnTerminate = v; }

    // runs fn on the user-interface thread and waits for it (its exceptions come back here)
    static void Synchronize(const std::function<void()>& fn);
    // the class name of the object, for thread names and log lines
    virtual std::string ClassName() const;

protected:
    virtual void DoTerminate() {}
    virtual void Execute() = 0;

private:
    void Run();
    std::thread FThread;
    std::mutex FStartLock;  // Run waits on it until FThread has been assigned
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FUiWaiting{false};  // the UI thread pumps in WaitFor: the end posts it a wake-up
    bool FStarted = false;
    bool FFreeOnTerminate = false;
};

class TCorvaThreadBase;
class TThreadMaster;
struct TMasterLink;

// kind numbers of the concrete workers (GetThreadKind)
enum : int {
    tkExifDateChanger = 25,
    tkImagePrintThread = 27,
    tkListupItemsThread = 28,
    tkFileUpdater = 29,
    tkBgmFileUpdater = 34,
    tkBgmUploader = 35,
    tkImageLoader = 36,
    tkAlbumInporter = 37,
};

enum : uint8_t { tsStarted = 0, tsProgress = 1, tsFinished = 2, tsCancelled = 3, tsFailed = 4 };

// (worker, state, failure count, done, total)
using TThreadReportProc = std::function<void(TCorvaThreadBase*, uint8_t, uint32_t, int32_t, int32_t)>;

// Lifetimes of a master and its workers (either may end first, on any thread):
//  - A worker registered with a master reaches it only through their shared link. The master's
//    destructor cuts the link and waits for calls already in it, so once it has returned no worker
//    (report, unregistering) touches the master again; the workers simply report to nobody.
//  - A worker's destructor, or its own end when it frees itself, leaves its master first.
//  - The master keeps raw pointers to its workers and touches them only under its lock, which a
//    departing worker needs to leave: TerminateAll requests the end of every worker under it.
class TCorvaThreadBase : public TThreadObject {
public:
    explicit TCorvaThreadBase(bool synchronizedReports = false) : FSynchronized(synchronizedReports) {}
    ~TCorvaThreadBase() override;

    void SetReportProc(TThreadReportProc proc);
    bool HasReportProc();
    uint8_t GetState() const { return FState.load(); }
    int32_t GetTotal() const { return FTotal.load(); }
    int32_t GetDone() const { return FDone.load(); }
    uint32_t GetSuccessCount() const { return FSuccessCount.load(); }
    uint32_t GetFailureCount() const { return FFailureCount.load(); }
    bool SynchronizedReports() const { return FSynchronized; }

    virtual int GetThreadKind() const = 0;
    virtual bool IsTerminated() { return Terminated(); }

protected:
    virtual void DoStart(int32_t total);
    virtual void DoProgress(int32_t count);
    virtual void DoFinish(uint8_t state);
    // an empty name gives nothing; otherwise the named manual-reset event (unsignalled when new)
    virtual TEventHandle CreateNamedEvent(const std::string& name);
    // waits in 100 ms slices until signalled or terminated; true at once for an empty name
    virtual bool WaitNamedEvent(const std::string& name);
    virtual void SignalNamedEvent(const std::string& name);
    virtual void Idle() {}

    void IncSuccessCount() { ++FSuccessCount; }
    void IncFailureCount() { ++FFailureCount; }
    // names the calling thread after the worker class (what debuggers and top show)
    void SetThreadName();

private:
    friend class TThreadMaster;
    void Report();
    bool FSynchronized;
    std::mutex FProcLock;
    TThreadReportProc FReportProc;
    std::atomic<uint8_t> FState{tsStarted};
    std::atomic<int32_t> FTotal{0}, FDone{0};
    std::atomic<uint32_t> FSuccessCount{0}, FFailureCount{0};
    std::shared_ptr<TMasterLink> FLink;  // under FProcLock; the master this worker is registered with
};

// (active, percentage) on the user-interface thread
using TProgressUiProc = std::function<void(bool, int)>;
using TProgressQuery = std::function<void(bool&, int&)>;

class TProgressWatcher : public TThreadObject {
public:
    TProgressWatcher(std::string eventName, TProgressUiProc ui, TProgressQuery query)
        : FEventName(std::move(eventName)), FUi(std::move(ui)), FQuery(std::move(query)) {}
    ~TProgressWatcher() override { TerminateAndWait(); }
    const std::string& EventName() const { return FEventName; }

protected:
    void Execute() override;

private:
    void Report(bool active, int percent);
    std::string FEventName;
    TProgressUiProc FUi;
    TProgressQuery FQuery;
    bool FHasLast = false;
    bool FLastActive = false;
    int FLastPercent = 0;
};

class TThreadMaster {
public:
    TThreadMaster();
    // cuts the link to the workers and waits for their calls in progress; they keep running
    ~TThreadMaster();
    TThreadMaster(const TThreadMaster&) = delete;
    TThreadMaster& operator=(const TThreadMaster&) = delete;

    int GetThreadCount();
    void RegisterThread(TCorvaThreadBase* worker);
    void UnregisterThread(TCorvaThreadBase* worker);
    TThreadReportProc GetProgressHandler();
    void ProgressHandler(TCorvaThreadBase* worker, uint8_t state, uint32_t failures, int32_t done, int32_t total);
    void GetProgress(bool& active, int& percent);
    // without a callback nothing is created (so a restart without one only stops)
    void StartWatcher(const std::string& name, TProgressUiProc callback);
    void StopWatcher();
    void RestartWatcher(const std::string& name, TProgressUiProc callback);
    // requests the end of every registered worker (under the lock: none can be freed meanwhile)
    void TerminateAll();
    void Finish();

    // for tests and the status display
    bool WatcherRunning();
    TEventHandle ActiveEvent();
    int GetActiveCount();

private:
    void Detach(TCorvaThreadBase* worker);
    std::shared_ptr<TMasterLink> FLink;  // what the workers hold; cut by the destructor
    std::mutex FLock;
    TEventHandle FActiveEvent;
    std::unique_ptr<TProgressWatcher> FWatcher;
    std::vector<TCorvaThreadBase*> FWorkers;
    std::map<TCorvaThreadBase*, int32_t> FLastDone;  // per active worker: its done count at the last report
    std::map<TCorvaThreadBase*, int32_t> FTotals;    // per active worker: its announced total
    int FActive = 0;
    int64_t FTotal = 0;
    int64_t FDone = 0;
};

}  // namespace fv
