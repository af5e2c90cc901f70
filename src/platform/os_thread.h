#pragma once
// Operating-system side of threads: names (what debuggers and top show) and scheduling priority
// of the calling thread. The worker-thread classes built on it live in core/threads.
#include <string>

namespace fv {

// pthread_setname_np keeps at most 15 bytes; longer names are cut at a character boundary.
void SetCurrentThreadName(const std::string& name);
std::string GetCurrentThreadName();
// Lowers the calling thread's scheduling priority by the nice increment (1..19).
// kBackgroundNice: the increment of the workers behind the interface (listing, sorting, reading
// pictures and dates, filing the calendar, making thumbnails). When one of them and the UI thread
// want the same core, the UI thread gets most of it, so that a paint is not stretched by the
// program's own background work; when the UI thread is idle they run at full speed.
constexpr int kBackgroundNice = 5;
bool LowerCurrentThreadPriority(int increment);
int GetCurrentThreadNice();

}  // namespace fv
