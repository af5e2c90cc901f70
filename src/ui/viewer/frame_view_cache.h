#pragma once
// The viewer's pictures ready to paint: the shown photo and the neighbours prepared while the
// user looks, each fitted to the box in device pixels. One byte budget (a few screens) covers
// the cache and what the viewer holds on screen besides it; what is farthest from the shown
// photo in the grid's order goes first, and the picture on screen never goes.
#include <QImage>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/file_sys.h"
#include "ui/viewer/frame_view_loader.h"

namespace fv {

struct TViewCacheEntry {
    TViewKey Key;
    const void* Item = nullptr;  // identity only, never followed
    QImage Picture;              // what is painted (corrections applied)
    int DecodedWidth = 0, DecodedHeight = 0;  // the decoded picture it was fitted from (oriented)
    int Eighths = 8;
    TFileFacts Facts;  // of the file it was read from
};

// What the viewer holds besides the cache: the picture on screen (counted once, whether an
// entry shares it or not, and never given up) and the bytes of its other frames (the decoded
// and the fitted picture while it still has them).
struct TViewHeld {
    const QImage* OnScreen = nullptr;
    int64_t OtherBytes = 0;
};

class TViewPictureCache {
public:
    // steps from the shown photo in the grid's order: 0 the shown one, INT_MAX unknown
    using TDistance = std::function<int(const void* item)>;

    void SetBudget(int64_t bytes) { FBudget = bytes; }
    int64_t Budget() const { return FBudget; }
    // the bytes of the entries' pictures
    int64_t Bytes() const;
    // the entries and what the viewer holds outside them: what the budget bounds
    int64_t Used(const TViewHeld& held) const;
    size_t Count() const { return FEntries.size(); }
    const TViewCacheEntry* Find(const TViewKey& key);
    bool HasItem(const void* item) const;
    // replaces what is held for the same item, then gives up the farthest pictures (the least
    // recently used of equally far ones) until the budget holds; a picture that does not fit
    // beside what is on screen is not kept and evicts nothing
    void Put(TViewCacheEntry entry, const TDistance& distance, const TViewHeld& held = {});
    void Trim(const TDistance& distance, const TViewHeld& held = {});
    // before a picture of about `bytes` is made for a photo `steps` from the shown one: gives up
    // the pictures farther than it (farthest first, never the one on screen) until it would fit
    // beside what is held, so that what Put would evict is gone while the new one is made
    void MakeRoom(int64_t bytes, int steps, const TDistance& distance, const TViewHeld& held = {});
    void DropItem(const void* item);
    void DropKey(const TViewKey& key);
    void Clear() { FEntries.clear(); }

private:
    // gives up the farthest picture more than `beyond` steps away (not the one on screen)
    bool DropFarthest(const TDistance& distance, const TViewHeld& held, int beyond);
    struct TSlot {
        TViewCacheEntry Entry;
        uint64_t Used = 0;
    };
    std::vector<TSlot> FEntries;
    int64_t FBudget = 3LL * 1920 * 1080 * 4;
    uint64_t FClock = 0;
};

}  // namespace fv
