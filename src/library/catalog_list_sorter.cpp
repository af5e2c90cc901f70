#include "library/catalog_list_sorter.h"
#include "platform/os_thread.h"

#include <chrono>

#include "core/log.h"

namespace fv {

void TViewSorter::Request(uint64_t generation, std::vector<TCatalogItem*> items, const TViewOrder& order) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FNext = TJob{generation, std::move(items), order};
    }
    FCond.notify_one();
}

void TViewSorter::Cancel() {
    std::lock_guard<std::mutex> lock(FLock);
    FNext.reset();
}

void TViewSorter::Execute() {
    SetCurrentThreadName("TViewSorter");
    LowerCurrentThreadPriority(kBackgroundNice);
    while (!Terminated()) {
        std::optional<TJob> job;
        {
            std::unique_lock<std::mutex> lock(FLock);
            // a termination request does not wake the wait: it is looked at every 50 ms
            FCond.wait_for(lock, std::chrono::milliseconds(50), [&] { return FNext.has_value() || Terminated(); });
            if (Terminated()) break;
            if (!FNext) continue;
            job.swap(FNext);
        }
        try {
            TOrderedList list;
            OrderItems(job->Items, job->Order, list);
            ++FSortsDone;
            if (!Terminated() && FDone) FDone(job->Generation, std::move(list));
        } catch (const std::exception& e) {
            WriteLogFailed(ClassName() + ".Execute", e);
        }
    }
}

}  // namespace fv
