#pragma once
// The viewer's pictures ready to paint: the shown photo and the neighbours prepared while the
// user looks, each fitted to the box in device pixels. Bounded by pixels (a few screens); what
// is farthest from the shown photo in the grid's order goes first.
#include <QImage>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/file_sys.h"
#include "ui/frame_view_loader.h"

namespace fv {

struct TViewCacheEntry {
    TViewKey Key;
    const void* Item = nullptr;  // identity only, never followed
    QImage Picture;              // what is painted (corrections applied)
    int DecodedWidth = 0, DecodedHeight = 0;  // the decoded picture it was fitted from (oriented)
    int Eighths = 8;
    TFileFacts Facts;  // of the file it was read from
};

class TViewPictureCache {
public:
    // steps from the shown photo in the grid's order: 0 the shown one, INT_MAX unknown
    using TDistance = std::function<int(const void* item)>;

    void SetBudget(int64_t pixels) { FBudget = pixels; }
    int64_t Budget() const { return FBudget; }
    int64_t Pixels() const;
    size_t Count() const { return FEntries.size(); }
    const TViewCacheEntry* Find(const TViewKey& key);
    bool HasItem(const void* item) const;
    // replaces what is held for the same item, then gives up the farthest pictures (the least
    // recently used of equally far ones) until the budget holds; a picture larger than the
    // whole budget is not kept
    void Put(TViewCacheEntry entry, const TDistance& distance);
    void Trim(const TDistance& distance);
    void DropItem(const void* item);
    void DropKey(const TViewKey& key);
    void Clear() { FEntries.clear(); }

private:
    struct TSlot {
        TViewCacheEntry Entry;
        uint64_t Used = 0;
    };
    std::vector<TSlot> FEntries;
    int64_t FBudget = 3LL * 1920 * 1080;
    uint64_t FClock = 0;
};

}  // namespace fv
