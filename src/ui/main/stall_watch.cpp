#include "ui/main/stall_watch.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaEnum>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>

#include "core/log.h"
#include "platform/stall_activity.h"

namespace fv {

namespace {
// Names kept for the life of the process, so that the watchdog thread may read them while the UI
// thread goes on: a member timer has no parent to name it, its object name says whose it is.
const char* KeptName(const QString& name) {
    static std::mutex lock;
    static std::unordered_set<std::string> kept;
    std::lock_guard g(lock);
    return kept.insert(name.toStdString()).first->c_str();
}
}  // namespace

namespace {

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

class TStallWatch : public QObject {
public:
    TStallWatch(int thresholdMs, TStallSink sink)
        : FThresholdNs(int64_t(thresholdMs) * 1000000),
          // the heartbeat comes often enough to see a stall of the threshold, at most 40 times a second
          FIntervalMs(std::clamp(thresholdMs / 2, 1, 25)),
          FSink(std::move(sink)) {
        FLastBeat.store(NowNs());
        FTimer.setTimerType(Qt::PreciseTimer);
        FTimer.setInterval(FIntervalMs);
        QObject::connect(&FTimer, &QTimer::timeout, this, [this] { Beat(); });
        qApp->installEventFilter(this);
        SetStallActivityThread(true);
        FTimer.start();
        FThread = std::thread([this] { Watchdog(); });
    }

    ~TStallWatch() override {
        {
            std::lock_guard g(FLock);
            FStop = true;
        }
        FWake.notify_all();
        FThread.join();
        FTimer.stop();
        if (qApp) qApp->removeEventFilter(this);
        SetStallActivityThread(false);
    }

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        // what is being delivered now; class names are static texts, safe to read from the watchdog
        FEventType.store(static_cast<int>(e->type()), std::memory_order_relaxed);
        FReceiver.store(o ? o->metaObject()->className() : nullptr, std::memory_order_relaxed);
        QObject* parent = o ? o->parent() : nullptr;
        FOwner.store(parent ? parent->metaObject()->className() : nullptr, std::memory_order_relaxed);
        const char* name = nullptr;
        if (o && !parent && !o->isWidgetType()) {
            const QString n = o->objectName();
            if (!n.isEmpty()) name = KeptName(n);
        }
        FName.store(name, std::memory_order_relaxed);
        return false;
    }

private:
    void Beat() {
        const int64_t now = NowNs();
        const int64_t prev = FLastBeat.exchange(now);
        const int64_t late = now - prev - int64_t(FIntervalMs) * 1000000;
        if (late <= FThresholdNs) return;
        TStallRecord r;
        {
            std::lock_guard g(FLock);
            if (FSnapBeat == prev) r = FSnap;
        }
        r.Ms = late / 1e6;
        if (FSink)
            FSink(r);
        else
            WriteLogText("UIStall", StallLogText(r));
    }

    void Watchdog() {
        const auto period = std::chrono::milliseconds(std::max(1, std::min<int>(FIntervalMs, int(FThresholdNs / 2000000))));
        std::unique_lock lk(FLock);
        while (!FWake.wait_for(lk, period, [this] { return FStop; })) {
            const int64_t beat = FLastBeat.load();
            if (FSnapBeat == beat) continue;  // this stall is noted already
            if (NowNs() - beat - int64_t(FIntervalMs) * 1000000 <= FThresholdNs) continue;
            // the UI thread is late beyond the threshold: note what it is doing now
            TStallRecord r;
            r.Activity = CurrentStallActivity();
            r.EventType = FEventType.load(std::memory_order_relaxed);
            r.Receiver = FReceiver.load(std::memory_order_relaxed);
            r.Owner = FOwner.load(std::memory_order_relaxed);
            r.Name = FName.load(std::memory_order_relaxed);
            r.Sampled = true;
            FSnap = r;
            FSnapBeat = beat;
        }
    }

    const int64_t FThresholdNs;
    const int FIntervalMs;
    TStallSink FSink;
    QTimer FTimer;
    std::atomic<int64_t> FLastBeat{0};
    std::atomic<int> FEventType{-1};
    std::atomic<const char*> FReceiver{nullptr};
    std::atomic<const char*> FOwner{nullptr};
    std::atomic<const char*> FName{nullptr};
    std::mutex FLock;
    std::condition_variable FWake;
    bool FStop = false;
    int64_t FSnapBeat = -1;
    TStallRecord FSnap;
    std::thread FThread;
};

std::unique_ptr<TStallWatch> gWatch;

}  // namespace

std::string StallLogText(const TStallRecord& r) {
    char head[64];
    std::snprintf(head, sizeof head, "UI stall %.0f ms : ", r.Ms);
    std::string s = head;
    if (!r.Sampled) return s + "not seen while it lasted";
    s += "activity ";
    s += r.Activity ? r.Activity : "(none)";
    if (r.EventType >= 0) {
        const char* name = QMetaEnum::fromType<QEvent::Type>().valueToKey(r.EventType);
        s += ", event ";
        s += name ? name : std::to_string(r.EventType);
        if (r.Receiver) {
            s += " to ";
            s += r.Receiver;
            if (r.Owner) {
                s += " of ";
                s += r.Owner;
            } else if (r.Name) {
                s += " ";
                s += r.Name;
            }
        }
    }
    return s;
}

void StartStallWatch(int thresholdMs, TStallSink sink) {
    gWatch.reset();
    gWatch = std::make_unique<TStallWatch>(std::max(1, thresholdMs), std::move(sink));
}

void StopStallWatch() { gWatch.reset(); }

bool StallWatchRunning() { return gWatch != nullptr; }

int StartStallWatchFromEnvironment() {
    const char* v = std::getenv("FOLVANE_STALL_LOG_MS");
    if (!v || !*v) return 0;
    char* end = nullptr;
    long ms = std::strtol(v, &end, 10);
    if (*end != '\0' || ms <= 0 || ms > 60000) {
        WriteLogText("UIStall", std::string("FOLVANE_STALL_LOG_MS ignored ( ") + v + " )");
        return 0;
    }
    StartStallWatch(static_cast<int>(ms));
    WriteLogText("UIStall", "Logging UI-thread stalls over " + std::to_string(ms) + " ms");
    return static_cast<int>(ms);
}

}  // namespace fv
