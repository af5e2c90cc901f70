#pragma once
// Operating-system side of threads: names (what debuggers and top show) and scheduling priority
// of the calling thread. The worker-thread classes built on it live in core/threads.
#include <string>

namespace fv {

// pthread_setname_np keeps at most 15 bytes; longer names are cut at a character boundary.
void SetCurrentThreadName(const std::string& name);
std::string GetCurrentThreadName();
// Lowers the calling thread's scheduling priority by the nice increment (1..19).
bool LowerCurrentThreadPriority(int increment);
int GetCurrentThreadNice();

}  // namespace fv
