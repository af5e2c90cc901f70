#include "platform/stall_activity.h"

#include <thread>

namespace fv {

namespace stall_detail {
std::atomic<bool> gWatching{false};
std::atomic<const char*> gActivity{nullptr};
namespace {
std::atomic<std::thread::id> gThread{};
}
bool OnWatchedThread() { return gThread.load(std::memory_order_relaxed) == std::this_thread::get_id(); }
}  // namespace stall_detail

void SetStallActivityThread(bool on) {
    using namespace stall_detail;
    gActivity.store(nullptr, std::memory_order_relaxed);
    gThread.store(on ? std::this_thread::get_id() : std::thread::id{}, std::memory_order_relaxed);
    gWatching.store(on, std::memory_order_release);
}

}  // namespace fv
