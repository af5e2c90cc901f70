#include "library/disk_rescan.h"

#include <string>
#include <unordered_map>
#include <unordered_set>

#include "library/catalog_item.h"
#include "library/folder.h"

namespace fv {

void RescanFolderItems(TFolder* folder, TKindSet kinds, bool registerInCalendar, TFolderRescan& out,
                       const std::function<bool()>& cancelled) {
    out = TFolderRescan{};
    if (!folder || kinds == 0) return;
    struct TSeen {
        TDateTime Time;
        int32_t Size;
        uint8_t State;
    };
    std::unordered_map<TCatalogItem*, TSeen> before;
    {
        TItemList items;
        folder->GetItemsOfKinds(kinds, items);
        before.reserve(items.size());
        for (TCatalogItem* it : items) before[it] = {it->GetFileTime(), it->GetFileSize(), it->GetState()};
    }
    TItemList found;
    folder->SearchFilesEx(kinds, &found);
    out.Offline = folder->IsOffline();
    out.Found.assign(found.begin(), found.end());

    std::unordered_set<TCatalogItem*> seen;
    seen.reserve(found.size() * 2);
    for (TCatalogItem* it : found) {
        seen.insert(it);
        auto was = before.find(it);
        bool fresh = was == before.end();
        bool changed = !fresh && (was->second.Time != it->GetFileTime() || was->second.Size != it->GetFileSize() ||
                                  was->second.State == isMissing || was->second.State == isDeleted);
        if (fresh) out.Fresh.push_back(it);
        if (changed) out.Changed.push_back(it);
        if (cancelled && cancelled()) continue;  // the facts wait for the next scan (they stay unread)
        if (fresh || changed || it->GetCameraState() == cdNotRead) it->ReadImageInfo();
        if (registerInCalendar && it->GetShootingDate() > 0 && it->GetKind() != ikNotImage) it->SetInCalendar(true);
    }
    // an unreadable folder keeps what it had (missing, not deleted): nothing is gone for sure
    if (out.Offline) return;
    for (auto& [item, was] : before)
        if (!seen.count(item) && was.State != isMissing && was.State != isDeleted) out.Gone.push_back(item);
}

}  // namespace fv
