#pragma once
// Puts a view's list in order off the user-interface thread. A request carries a generation
// number; a newer request replaces one not started yet, and the view takes a result only when
// its generation is still the latest it asked for (an order changed meanwhile is sorted again,
// never shown in the old one).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "core/threads.h"
#include "library/catalog_list.h"

namespace fv {

class TViewSorter : public TThreadObject {
public:
    // called on the sorter's thread with the generation of the request and its result
    using TDone = std::function<void(uint64_t generation, TOrderedList&& list)>;
    // The items must outlive the sort: library items live as long as their owner folder, and
    // the view ends the sorter before it lets go of them.
    explicit TViewSorter(TDone done) : FDone(std::move(done)) {}
    ~TViewSorter() override { TerminateAndWait(); }
    std::string ClassName() const override { return "TViewSorter"; }

    void Request(uint64_t generation, std::vector<TCatalogItem*> items, const TViewOrder& order);
    // drops a request not started yet
    void Cancel();
    // sorts done since the start (for tests and benchmarks)
    int SortsDone() const { return FSortsDone.load(); }

protected:
    void Execute() override;

private:
    struct TJob {
        uint64_t Generation;
        std::vector<TCatalogItem*> Items;
        TViewOrder Order;
    };
    TDone FDone;
    std::mutex FLock;
    std::condition_variable FCond;
    std::optional<TJob> FNext;
    std::atomic<int> FSortsDone{0};
};

}  // namespace fv
