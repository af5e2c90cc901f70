#include "ui/viewer/frame_view_cache.h"

#include <algorithm>
#include <climits>

namespace fv {

namespace {
int64_t BytesOf(const QImage& img) { return static_cast<int64_t>(img.sizeInBytes()); }
// the same pixels (QImage copies share them until one is changed)
bool Same(const QImage& a, const QImage* b) { return b && !b->isNull() && !a.isNull() && a.cacheKey() == b->cacheKey(); }
}  // namespace

int64_t TViewPictureCache::Bytes() const {
    int64_t n = 0;
    for (const TSlot& s : FEntries) n += BytesOf(s.Entry.Picture);
    return n;
}

int64_t TViewPictureCache::Used(const TViewHeld& held) const {
    int64_t n = held.OtherBytes;
    bool shared = false;
    for (const TSlot& s : FEntries) {
        n += BytesOf(s.Entry.Picture);
        shared = shared || Same(s.Entry.Picture, held.OnScreen);
    }
    if (held.OnScreen && !shared) n += BytesOf(*held.OnScreen);
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

void TViewPictureCache::Put(TViewCacheEntry entry, const TDistance& distance, const TViewHeld& held) {
    if (entry.Picture.isNull()) return;
    // what stays whatever happens: the picture on screen and the viewer's other frames
    int64_t fixed = held.OtherBytes + BytesOf(entry.Picture);
    if (held.OnScreen && !Same(entry.Picture, held.OnScreen)) fixed += BytesOf(*held.OnScreen);
    if (fixed > FBudget) return;
    DropItem(entry.Item);
    DropKey(entry.Key);
    FEntries.push_back({std::move(entry), ++FClock});
    Trim(distance, held);
}

bool TViewPictureCache::DropFarthest(const TDistance& distance, const TViewHeld& held, int beyond) {
    auto farthest = FEntries.end();
    int farDist = -1;
    for (auto it = FEntries.begin(); it != FEntries.end(); ++it) {
        if (Same(it->Entry.Picture, held.OnScreen)) continue;  // on screen: stays
        const int d = distance ? distance(it->Entry.Item) : INT_MAX;
        if (d <= beyond) continue;
        if (farthest == FEntries.end() || d > farDist || (d == farDist && it->Used < farthest->Used)) {
            farthest = it;
            farDist = d;
        }
    }
    if (farthest == FEntries.end()) return false;
    FEntries.erase(farthest);
    return true;
}

void TViewPictureCache::Trim(const TDistance& distance, const TViewHeld& held) {
    while (Used(held) > FBudget && DropFarthest(distance, held, -1)) {
    }
}

void TViewPictureCache::MakeRoom(int64_t bytes, int steps, const TDistance& distance, const TViewHeld& held) {
    while (Used(held) + bytes > FBudget && DropFarthest(distance, held, steps)) {
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
