#include "ui/frame_view_cache.h"

#include <algorithm>
#include <climits>

namespace fv {

namespace {
int64_t PixelsOf(const QImage& img) { return static_cast<int64_t>(img.width()) * img.height(); }
}  // namespace

int64_t TViewPictureCache::Pixels() const {
    int64_t n = 0;
    for (const TSlot& s : FEntries) n += PixelsOf(s.Entry.Picture);
    return n;
}

const TViewCacheEntry* TViewPictureCache::Find(const TViewKey& key) {
    for (TSlot& s : FEntries)
        if (s.Entry.Key == key) {
            s.Used = ++FClock;
            return &s.Entry;
        }
    return nullptr;
}

bool TViewPictureCache::HasItem(const void* item) const {
    return std::any_of(FEntries.begin(), FEntries.end(), [&](const TSlot& s) { return s.Entry.Item == item; });
}

void TViewPictureCache::Put(TViewCacheEntry entry, const TDistance& distance) {
    if (entry.Picture.isNull() || PixelsOf(entry.Picture) > FBudget) return;
    DropItem(entry.Item);
    DropKey(entry.Key);
    FEntries.push_back({std::move(entry), ++FClock});
    Trim(distance);
}

void TViewPictureCache::Trim(const TDistance& distance) {
    while (!FEntries.empty() && Pixels() > FBudget) {
        auto farthest = FEntries.begin();
        int farDist = -1;
        for (auto it = FEntries.begin(); it != FEntries.end(); ++it) {
            const int d = distance ? distance(it->Entry.Item) : INT_MAX;
            if (d > farDist || (d == farDist && it->Used < farthest->Used)) {
                farthest = it;
                farDist = d;
            }
        }
        FEntries.erase(farthest);
    }
}

void TViewPictureCache::DropItem(const void* item) {
    if (!item) return;
    std::erase_if(FEntries, [&](const TSlot& s) { return s.Entry.Item == item; });
}

void TViewPictureCache::DropKey(const TViewKey& key) {
    std::erase_if(FEntries, [&](const TSlot& s) { return s.Entry.Key == key; });
}

}  // namespace fv
