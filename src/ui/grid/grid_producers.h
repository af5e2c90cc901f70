#pragma once
// What fills a grid of photos, free of widgets: the listing thread of the folder shown, which
// hands its list back already in the grid's order, and the thumbnail requests for the rows on
// screen (pictures to read from the cache, pictures to make) with the maker that makes them.
// Results come back through the owner's post function, which runs a call on the owner's thread
// later (and drops it once the owner is gone).
#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <tuple>
#include <unordered_set>
#include <vector>

#include "library/catalog_list.h"

namespace fv {

class TCacheImageMaker;
class TCatalogImageCacheMaster;
class TCatalogItem;
class TCustomFolder;
class TListupItemsThreadEx;

using TGridPost = std::function<void(std::function<void()> call)>;

class TGridLister {
public:
    // stage 0: the thread started; the final list with the order it was put in and whether a
    // photo of it has its shooting date still to be read (0 or 1)
    using TStarted = std::function<void(uint64_t ticket)>;
    using TListed = std::function<void(uint64_t ticket, std::vector<TCatalogItem*> items, TOrderedList&& ordered,
                                       const TViewOrder& order, int needsDates)>;
    TGridLister(TGridPost post, TStarted started, TListed listed);
    ~TGridLister();
    TGridLister(const TGridLister&) = delete;
    TGridLister& operator=(const TGridLister&) = delete;

    // Lists a disk folder, an album or a calendar on a thread of its own, put in `order` there;
    // the running listing is told to stop and forgotten. diskDepth: the depth of a disk folder's
    // listing, 0 the folder alone .. 3 every level below (an album is listed alone, a calendar
    // to every level). False for a folder with nothing to read from the disk (a list made in
    // memory) or none: the owner takes its items as they are.
    bool Start(TCustomFolder* folder, uint64_t ticket, int diskDepth, int kinds, const TViewOrder& order);
    // ends every listing
    void Stop();
    // listings told to stop that have not ended yet
    size_t Abandoned() const { return FAbandoned.size(); }

private:
    TGridPost FPost;
    TStarted FStarted;
    TListed FListed;
    std::unique_ptr<TListupItemsThreadEx> FThread;
    std::vector<std::unique_ptr<TListupItemsThreadEx>> FAbandoned;
};

// The thumbnail requests of a grid: which photos of the rows on screen (and of up to two more
// screens in the direction of the scroll) are to be read from the cache and which to be made,
// the reads asked and not answered yet, and the make range the maker was told last.
class TGridThumbRequests {
public:
    // cells of `columns` columns, rows [top, top + rows) on screen; want: the edge in device
    // pixels. cachedSize(item): the edge the cache holds (0 none, -1 no cache); inMemory(item):
    // the grid has its picture.
    template <class TCachedSize, class TInMemory>
    void Plan(const std::vector<TCatalogItem*>& cells, int columns, int rowCount, int top, int rows, bool scrolledUp,
              int want, const TCachedSize& cachedSize, const TInMemory& inMemory, std::vector<TCatalogItem*>& read,
              std::vector<TCatalogItem*>& make) const {
        auto addRow = [&](int r) {
            for (int c = 0; c < columns; ++c) {
                const size_t i = static_cast<size_t>(r) * columns + c;
                if (i >= cells.size() || !cells[i]) continue;
                TCatalogItem* it = cells[i];
                const int cached = cachedSize(it);
                // the cache's picture is read (stretched when made for another size); the reader's
                // queue is replaced, so what was asked before and not answered yet is asked again
                if (cached != 0 && !inMemory(it)) read.push_back(it);
                // ... and one of this size is made when it has none or a smaller one (a larger one,
                // made for a screen of a higher pixel ratio, is reduced by the reader)
                if (cached < want) make.push_back(it);
            }
        };
        for (int r = top; r < std::min(rowCount, top + rows); ++r) addRow(r);
        if (scrolledUp) {
            for (int r = top - 1; r >= std::max(0, top - 2 * rows); --r) addRow(r);
        } else {
            for (int r = top + rows; r < std::min(rowCount, top + 3 * rows); ++r) addRow(r);
        }
    }

    void Asked(const std::vector<TCatalogItem*>& items) { FAsked.insert(items.begin(), items.end()); }
    void Answered(TCatalogItem* item) { FAsked.erase(item); }
    bool IsAsked(TCatalogItem* item) const { return FAsked.count(item) != 0; }
    void ClearAsked() { FAsked.clear(); }

    // The maker hears of a range once: true (and remembered) when this one is new.
    bool NewMakeRange(uint64_t layoutGeneration, int top, int want, bool scrolledUp) {
        auto range = std::make_tuple(layoutGeneration, top, want, scrolledUp);
        if (range == FLastMakeRange) return false;
        FLastMakeRange = range;
        return true;
    }
    void ForgetMakeRange() { FLastMakeRange = {~0ull, -1, 0, false}; }
    // a size change holds the maker back for a while
    bool Paused() const { return FPaused; }
    void SetPaused(bool on) { FPaused = on; }

private:
    std::unordered_set<TCatalogItem*> FAsked;
    std::tuple<uint64_t, int, int, bool> FLastMakeRange{~0ull, -1, 0, false};
    bool FPaused = false;
};

// The grid's own thumbnail maker feeding a catalog image cache. Its reports of a picture
// stored (stored true) or of a file that could not be read (false) reach `report` through post.
class TGridMakerFeed {
public:
    using TReport = std::function<void(TCatalogItem* item, bool stored)>;
    TGridMakerFeed(TCatalogImageCacheMaster* cache, TGridPost post, TReport report);
    ~TGridMakerFeed();
    TGridMakerFeed(const TGridMakerFeed&) = delete;
    TGridMakerFeed& operator=(const TGridMakerFeed&) = delete;

    // one item (its file changed) joins the queue; a range replaces it
    void Request(const std::vector<TCatalogItem*>& items, int size);
    void CancelAll();
    TCacheImageMaker* Maker() const { return FMaker.get(); }

private:
    std::unique_ptr<TCacheImageMaker> FMaker;
};

}  // namespace fv
