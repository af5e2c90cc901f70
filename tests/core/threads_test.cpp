#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "core/threads.h"
#include "platform/ui_dispatch.h"

using namespace fv;
using namespace std::chrono_literals;

namespace {

// A worker following the usual pattern over `items` units, each taking `unitMs`.
class TCountingWorker : public TCorvaThreadBase {
public:
    TCountingWorker(int items, int unitMs, bool sync = false, int failAt = -1)
        : TCorvaThreadBase(sync), FItems(items), FUnitMs(unitMs), FFailAt(failAt) {}
    ~TCountingWorker() override { TerminateAndWait(); }
    int GetThreadKind() const override { return 99; }
    std::atomic<bool> Gate{true};
    std::atomic<int> Processed{0};
    std::string NameSeen;

protected:
    void Execute() override {
        SetThreadName();
        char buf[32] = {};
        pthread_getname_np(pthread_self(), buf, sizeof buf);
        NameSeen = buf;
        DoStart(FItems);
        try {
            for (int i = 0; i < FItems; ++i) {
                while (!Gate && !IsTerminated()) std::this_thread::sleep_for(1ms);
                if (IsTerminated()) break;
                if (i == FFailAt) throw std::runtime_error("unit failed");
                std::this_thread::sleep_for(std::chrono::milliseconds(FUnitMs));
                IncSuccessCount();
                ++Processed;
                DoProgress(1);
            }
            DoFinish(IsTerminated() ? tsCancelled : tsFinished);
        } catch (...) {
            DoFinish(tsFailed);
        }
    }

private:
    int FItems, FUnitMs, FFailAt;
};

struct UiThread : ::testing::Test {
    TQueueDispatcher dispatcher;
    void SetUp() override { SetUiDispatcher(&dispatcher); }
    void TearDown() override { SetUiDispatcher(nullptr); }
    void PumpUntil(const std::function<bool()>& done, int maxMs = 5000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
        while (!done() && std::chrono::steady_clock::now() < end) dispatcher.WaitAndProcess(10);
    }
};

TCorvaThreadBase* Fake(int n) { return reinterpret_cast<TCorvaThreadBase*>(static_cast<uintptr_t>(0x1000 * n)); }

}  // namespace

TEST(ThreadMasterSums, TwoWorkersAddUpAndAFinishedOneLeavesTheSum) {
    TThreadMaster m;
    bool active = false;
    int pct = -1;
    m.GetProgress(active, pct);
    EXPECT_FALSE(active);
    EXPECT_EQ(pct, 0);
    m.ProgressHandler(Fake(1), tsStarted, 0, 0, 10);
    m.ProgressHandler(Fake(2), tsStarted, 0, 0, 30);
    for (int i = 1; i <= 5; ++i) m.ProgressHandler(Fake(1), tsProgress, 0, i, 10);
    m.ProgressHandler(Fake(2), tsProgress, 0, 15, 30);  // reports may skip steps
    m.GetProgress(active, pct);
    EXPECT_TRUE(active);
    EXPECT_EQ(pct, 50);
    m.ProgressHandler(Fake(1), tsProgress, 0, 10, 10);
    m.ProgressHandler(Fake(1), tsFinished, 0, 10, 10);
    m.GetProgress(active, pct);
    EXPECT_EQ(pct, 50);  // 15 of 30
    EXPECT_EQ(m.GetActiveCount(), 1);
    m.ProgressHandler(Fake(2), 9, 0, 30, 30);  // unknown state: ignored
    m.GetProgress(active, pct);
    EXPECT_EQ(pct, 50);
}

TEST(ThreadMasterSums, AFailedWorkerRemovesExactlyItsOwnShare) {
    TThreadMaster m;
    m.ProgressHandler(Fake(1), tsStarted, 0, 0, 10);
    m.ProgressHandler(Fake(2), tsStarted, 0, 0, 4);
    m.ProgressHandler(Fake(1), tsProgress, 0, 3, 10);
    m.ProgressHandler(Fake(2), tsProgress, 0, 1, 4);
    m.ProgressHandler(Fake(1), tsFailed, 1, 3, 10);
    bool active;
    int pct;
    m.GetProgress(active, pct);
    EXPECT_TRUE(active);
    EXPECT_EQ(pct, 25);  // 1 of 4 left
    m.ProgressHandler(Fake(2), tsCancelled, 0, 1, 4);
    m.GetProgress(active, pct);
    EXPECT_FALSE(active);
    EXPECT_EQ(pct, 0);
    // an end without a start never drives the sums below zero
    m.ProgressHandler(Fake(3), tsFinished, 0, 5, 5);
    m.GetProgress(active, pct);
    EXPECT_FALSE(active);
}

TEST(ThreadMasterWatcher, WithoutCallbackNothingIsCreated) {
    TThreadMaster m;
    m.StartWatcher("X", nullptr);
    EXPECT_FALSE(m.WatcherRunning());
    EXPECT_EQ(m.ActiveEvent(), nullptr);
    EXPECT_EQ(OpenNamedEvent("ProgressWatcherActiveEventX"), nullptr);
}

TEST_F(UiThread, WatcherReportsChangesOnTheUiThreadAndSleepsWhenIdle) {
    TThreadMaster m;
    std::vector<std::pair<bool, int>> reports;
    std::atomic<bool> offUiThread{false};
    m.StartWatcher("Test", [&](bool a, int p) {
        if (!dispatcher.IsUiThread()) offUiThread = true;
        reports.emplace_back(a, p);
    });
    ASSERT_TRUE(m.WatcherRunning());
    ASSERT_NE(m.ActiveEvent(), nullptr);
    EXPECT_FALSE(m.ActiveEvent()->IsSignalled());
    // idle: no calls into the UI at all
    PumpUntil([] { return false; }, 450);
    EXPECT_TRUE(reports.empty());

    TCountingWorker w(20, 15);
    m.RegisterThread(&w);
    EXPECT_EQ(m.GetThreadCount(), 1);
    w.Start();
    PumpUntil([&] { return w.Finished() && !reports.empty() && !reports.back().first; });
    w.WaitFor();
    ASSERT_GE(reports.size(), 3u);
    EXPECT_FALSE(offUiThread);
    EXPECT_EQ(reports.front(), std::make_pair(true, 0));
    EXPECT_EQ(reports.back(), std::make_pair(false, 0));
    for (size_t i = 1; i < reports.size(); ++i) {
        EXPECT_NE(reports[i], reports[i - 1]);  // only changes reach the UI
        if (reports[i].first && reports[i - 1].first) {
            EXPECT_GE(reports[i].second, reports[i - 1].second);
        }
    }
    EXPECT_FALSE(m.ActiveEvent()->IsSignalled());
    m.StopWatcher();
    EXPECT_FALSE(m.WatcherRunning());
}

TEST_F(UiThread, SynchronisedReportsRunOnTheUiThreadWhileItWaits) {
    TThreadMaster m;
    TCountingWorker w(5, 1, true);
    std::atomic<int> onUi{0}, offUi{0};
    w.SetReportProc([&](TCorvaThreadBase*, uint8_t, uint32_t, int32_t, int32_t) {
        (dispatcher.IsUiThread() ? onUi : offUi)++;
    });
    w.Start();
    w.WaitFor();  // pumps, so the worker's synchronised calls complete
    EXPECT_EQ(offUi, 0);
    EXPECT_EQ(onUi, 1 + 5 + 1);
    EXPECT_EQ(w.GetState(), tsFinished);
    EXPECT_EQ(w.GetSuccessCount(), 5u);
    EXPECT_EQ(w.NameSeen, "TCountingWorker");
}

TEST_F(UiThread, TerminateAllCancelsAndWorkersLeaveTheMasterWhenFreed) {
    TThreadMaster m;
    auto a = std::make_unique<TCountingWorker>(1000, 1);
    auto b = std::make_unique<TCountingWorker>(1000, 1);
    a->Gate = false;
    b->Gate = false;
    m.RegisterThread(a.get());
    m.RegisterThread(b.get());
    m.RegisterThread(a.get());  // once only
    EXPECT_EQ(m.GetThreadCount(), 2);
    a->Start();
    b->Start();
    PumpUntil([&] { return m.GetActiveCount() == 2; });
    m.TerminateAll();
    a->WaitFor();
    b->WaitFor();
    EXPECT_EQ(a->GetState(), tsCancelled);
    EXPECT_EQ(b->GetState(), tsCancelled);
    bool active;
    int pct;
    m.GetProgress(active, pct);
    EXPECT_FALSE(active);
    a.reset();
    EXPECT_EQ(m.GetThreadCount(), 1);
    m.UnregisterThread(b.get());
    EXPECT_FALSE(b->HasReportProc());
    EXPECT_EQ(m.GetThreadCount(), 0);
}

TEST_F(UiThread, WorkerWithoutCallbackKeepsNoBookkeeping) {
    TCountingWorker w(3, 1, false, 1);
    w.Start();
    w.WaitFor();
    EXPECT_EQ(w.GetTotal(), 0);
    EXPECT_EQ(w.GetDone(), 0);
    EXPECT_EQ(w.Processed, 1);
}

namespace {
class TEventWorker : public TCorvaThreadBase {
public:
    ~TEventWorker() override { TerminateAndWait(); }
    int GetThreadKind() const override { return 1; }
    std::string Name;
    std::atomic<int> Result{-1};

protected:
    void Execute() override { Result = WaitNamedEvent(Name) ? 1 : 0; }
};
}  // namespace

TEST_F(UiThread, WaitNamedEventEndsOnSignalOrTermination) {
    TEventWorker a;
    a.Name = "fv-test-event-a";
    a.Start();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(a.Result, -1);
    CreateNamedEvent("fv-test-event-a")->SetEvent();
    a.WaitFor();
    EXPECT_EQ(a.Result, 1);

    TEventWorker b;
    b.Name = "fv-test-event-b";
    b.Start();
    b.Terminate();
    b.WaitFor();
    EXPECT_EQ(b.Result, 0);

    TEventWorker c;  // empty name: at once
    c.Start();
    c.WaitFor();
    EXPECT_EQ(c.Result, 1);
}

namespace {
std::atomic<int> gFreed{0};
class TSelfFreeing : public TThreadObject {
public:
    ~TSelfFreeing() override { ++gFreed; }

protected:
    void Execute() override {}
};
}  // namespace

TEST(ThreadObject, FreesItselfAtItsEndWhenAsked) {
    gFreed = 0;
    for (int i = 0; i < 50; ++i) {
        auto* t = new TSelfFreeing;
        t->SetFreeOnTerminate(true);
        t->Start();
    }
    for (int i = 0; i < 500 && gFreed < 50; ++i) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(gFreed, 50);
}

// ---------------------------------------------------------------- master and worker lifetimes
// These races need real threads; a fault shows as a use-after-free under the sanitizer builds
// (make sanitize, make tsan) and as a crash or a wrong count in a plain build.

namespace {
// A self-freeing worker that ends on its own as soon as it is released, racing whoever terminates it.
class TQuickWorker : public TCorvaThreadBase {
public:
    explicit TQuickWorker(std::atomic<bool>& go, std::atomic<int>& freed) : FGo(go), FFreed(freed) {
        SetFreeOnTerminate(true);
    }
    ~TQuickWorker() override { ++FFreed; }
    int GetThreadKind() const override { return 98; }

protected:
    void Execute() override {
        while (!FGo.load() && !IsTerminated()) std::this_thread::yield();
        DoStart(1);
        DoFinish(tsFinished);
    }

private:
    std::atomic<bool>& FGo;
    std::atomic<int>& FFreed;
};

// Keeps announcing and finishing work until terminated: a steady stream of reports into its master.
class TChattyWorker : public TCorvaThreadBase {
public:
    ~TChattyWorker() override { TerminateAndWait(); }
    int GetThreadKind() const override { return 97; }
    std::atomic<int> Rounds{0};

protected:
    void Execute() override {
        while (!IsTerminated()) {
            DoStart(10);
            DoProgress(5);
            DoFinish(tsFinished);
            ++Rounds;
        }
    }
};
}  // namespace

TEST(ThreadLifetime, TerminateAllRacesSelfFreeingWorkersSafely) {
    // workers free themselves while TerminateAll runs; it must never touch a freed one
    for (int round = 0; round < 300; ++round) {
        TThreadMaster m;
        std::atomic<bool> go{false};
        std::atomic<int> freed{0};
        const int n = 12;
        for (int i = 0; i < n; ++i) {
            auto* w = new TQuickWorker(go, freed);
            m.RegisterThread(w);
            w->Start();
        }
        go = true;
        for (int k = 0; k < 20; ++k) m.TerminateAll();
        for (int i = 0; i < 1000 && freed < n; ++i) std::this_thread::sleep_for(1ms);
        ASSERT_EQ(freed, n);
        // each freed worker leaves its master: the base part unregisters just after the worker's
        // own destructor has counted itself freed
        for (int i = 0; i < 1000 && m.GetThreadCount() != 0; ++i) std::this_thread::sleep_for(1ms);
        EXPECT_EQ(m.GetThreadCount(), 0);
    }
}

TEST(ThreadLifetime, MasterDestroyedWhileItsWorkersStillReport) {
    // after the master's destructor returns no report reaches it; the workers outlive it
    for (int round = 0; round < 20; ++round) {
        TChattyWorker a, b;
        {
            auto m = std::make_unique<TThreadMaster>();
            m->RegisterThread(&a);
            m->RegisterThread(&b);
            a.Start();
            b.Start();
            while (a.Rounds < 3 || b.Rounds < 3) std::this_thread::sleep_for(1ms);
            m.reset();
        }
        int before = a.Rounds;
        while (a.Rounds < before + 3) std::this_thread::sleep_for(1ms);  // still reporting, to nobody
        EXPECT_FALSE(a.HasReportProc());
        a.TerminateAndWait();
        b.TerminateAndWait();
    }
}

TEST(ThreadLifetime, WorkerFreedWhileItsMasterIsDestroyed) {
    // a worker leaving its master and the master going away at the same moment
    for (int round = 0; round < 100; ++round) {
        auto m = std::make_unique<TThreadMaster>();
        auto w = std::make_unique<TChattyWorker>();
        m->RegisterThread(w.get());
        w->Start();
        std::thread t([&] { w.reset(); });
        m.reset();
        t.join();
    }
}
