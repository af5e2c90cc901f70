#pragma once
// The pictures a grid of photos holds in memory, to a byte budget: the least recently drawn
// leave first, never those the owner keeps (the cells on screen). Free of widgets: the picture
// type is the owner's, and so is the size each one is counted at.
#include <cstddef>
#include <list>
#include <unordered_map>
#include <utility>

namespace fv {

class TCatalogItem;

template <class TPicture>
class TPictureMemory {
public:
    bool Has(TCatalogItem* item) const { return FEntries.count(item) != 0; }
    // the picture of an item (null when none), untouched
    const TPicture* Find(TCatalogItem* item) const {
        auto found = FEntries.find(item);
        return found == FEntries.end() ? nullptr : &found->second.Picture;
    }
    // the same, drawn now: the last to go
    const TPicture* Touch(TCatalogItem* item) {
        auto found = FEntries.find(item);
        if (found == FEntries.end()) return nullptr;
        FLru.splice(FLru.begin(), FLru, found->second.Lru);
        return &found->second.Picture;
    }
    // a new picture of an item (it replaces an older one), counted at `bytes`
    void Put(TCatalogItem* item, TPicture picture, size_t bytes) {
        FBytes += bytes;
        auto found = FEntries.find(item);
        if (found != FEntries.end()) {
            FBytes -= found->second.Bytes;
            found->second.Picture = std::move(picture);
            found->second.Bytes = bytes;
            FLru.splice(FLru.begin(), FLru, found->second.Lru);
            return;
        }
        FLru.push_front(item);
        FEntries.emplace(item, TEntry{std::move(picture), bytes, FLru.begin()});
    }
    bool Forget(TCatalogItem* item) {
        auto found = FEntries.find(item);
        if (found == FEntries.end()) return false;
        FBytes -= found->second.Bytes;
        FLru.erase(found->second.Lru);
        FEntries.erase(found);
        return true;
    }
    void Clear() {
        FEntries.clear();
        FLru.clear();
        FBytes = 0;
    }
    // the least recently drawn go until the rest fits the budget; those keep(item) is true for
    // stay, whatever the budget says
    template <class TKeep>
    void Trim(size_t budget, const TKeep& keep) {
        auto it = FLru.end();
        while (FBytes > budget && it != FLru.begin()) {
            --it;
            if (keep(*it)) continue;
            auto found = FEntries.find(*it);
            FBytes -= found->second.Bytes;
            FEntries.erase(found);
            it = FLru.erase(it);
        }
    }
    size_t Bytes() const { return FBytes; }
    size_t Count() const { return FEntries.size(); }

private:
    struct TEntry {
        TPicture Picture;
        size_t Bytes;
        typename std::list<TCatalogItem*>::iterator Lru;
    };
    std::unordered_map<TCatalogItem*, TEntry> FEntries;
    std::list<TCatalogItem*> FLru;  // most recently drawn first
    size_t FBytes = 0;
};

}  // namespace fv
