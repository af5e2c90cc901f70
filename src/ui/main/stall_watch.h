#pragma once
// The UI-thread stall watch behind FOLVANE_STALL_LOG_MS=n: a heartbeat timer on the UI thread and
// a plain watchdog thread. When the heartbeat is late by more than n ms the watchdog notes what
// the UI thread was doing (the named activity of platform/stall_activity.h and the event being
// delivered with its receiver's class); when the heartbeat comes back, the stall is written to the
// daily log with its length. Nothing is installed while the variable is unset.
#include <functional>
#include <string>

namespace fv {

struct TStallRecord {
    double Ms = 0;                    // how much later than due the heartbeat came
    const char* Activity = nullptr;   // the innermost named activity, null when none was marked
    int EventType = -1;               // the event being delivered (QEvent::Type), -1 when none was seen
    const char* Receiver = nullptr;   // its receiver's class
    const char* Owner = nullptr;      // the receiver's parent class (a timer's owner, for one)
    const char* Name = nullptr;       // the object name of a receiver without a parent (a member timer)
    bool Sampled = false;             // the watchdog saw the stall while it lasted
};

// "UI stall 123 ms : activity SortByDate, event Timer to QTimer of TFrameCatalogDG"; a named receiver
// without a parent: "... event Timer to QTimer MainIdleTimer"
std::string StallLogText(const TStallRecord& r);

// Watches the calling thread (the UI thread, with a running Qt event loop) for stalls longer than
// thresholdMs (at least 1). Each stall goes to the sink on the UI thread once it is over; without a
// sink it goes to the log. Starting again replaces the running watch.
using TStallSink = std::function<void(const TStallRecord&)>;
void StartStallWatch(int thresholdMs, TStallSink sink = nullptr);
void StopStallWatch();
bool StallWatchRunning();
// Starts the watch when FOLVANE_STALL_LOG_MS holds a positive number of milliseconds (at most one
// minute); answers the threshold, or 0 when nothing was started.
int StartStallWatchFromEnvironment();

}  // namespace fv
