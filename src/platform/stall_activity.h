#pragma once
// Names for long pieces of user-interface work, so that a stall of the UI thread can say what was
// running ("ShowFolder", "SortByDate", "CalendarRegister"). A scope guard marks the work; while
// nobody watches for stalls it does nothing but one relaxed load.
#include <atomic>

namespace fv {

namespace stall_detail {
extern std::atomic<bool> gWatching;
extern std::atomic<const char*> gActivity;
bool OnWatchedThread();
}  // namespace stall_detail

// Marks the work of its scope on the watched (UI) thread; name must outlive the program (a literal).
// Nested marks report the innermost; work on other threads is never marked.
class TStallActivity {
public:
    explicit TStallActivity(const char* name) noexcept {
        if (!stall_detail::gWatching.load(std::memory_order_relaxed) || !stall_detail::OnWatchedThread()) return;
        FPrevious = stall_detail::gActivity.exchange(name, std::memory_order_relaxed);
        FMarked = true;
    }
    ~TStallActivity() {
        if (FMarked) stall_detail::gActivity.store(FPrevious, std::memory_order_relaxed);
    }
    TStallActivity(const TStallActivity&) = delete;
    TStallActivity& operator=(const TStallActivity&) = delete;

private:
    const char* FPrevious = nullptr;
    bool FMarked = false;
};

// The innermost activity marked on the watched thread now (null when none); readable from any thread.
inline const char* CurrentStallActivity() { return stall_detail::gActivity.load(std::memory_order_relaxed); }

// Turns the marks on for the calling thread (the watcher does this) or off (on == false).
void SetStallActivityThread(bool on);

}  // namespace fv
