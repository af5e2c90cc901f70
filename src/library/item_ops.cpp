#include "library/item_ops.h"

#include <algorithm>
#include <unordered_set>

#include "library/album.h"
#include "library/catalog_item.h"
#include "library/catalog_updater.h"
#include "library/folder.h"

namespace fv {

namespace {

// each item fn changed gets the event: views registered with the updater repaint it
template <class F>
TItemVector Each(const TItemVector& items, uint8_t event, F&& fn) {
    TItemVector changed;
    for (TCatalogItem* it : items) {
        if (!it || !fn(it)) continue;
        changed.push_back(it);
        if (CatalogUpdaterRunning()) RaiseCatalogUpdateEvent(it, event);
    }
    return changed;
}

bool Wanted(TMarkChange change, bool current) {
    return change == TMarkChange::Toggle ? !current : change == TMarkChange::On;
}

}  // namespace

bool IsItemGone(const TCatalogItem* item) {
    if (!item) return true;
    TFolder* owner = item->GetOwner();
    if (!owner || owner->IsOffline()) return true;
    uint8_t state = item->GetState();
    return state == isMissing || state == isDeleted;
}

TItemVector TurnItems(const TItemVector& items, TTurn turn) {
    return Each(items, cuOrientation, [turn](TCatalogItem* it) {
        switch (turn) {
            case TTurn::Reset: return it->GetOrientation() != 1 && it->SetOrientation(1);
            case TTurn::Left: it->RotateLeft(); break;
            case TTurn::Right: it->RotateRight(); break;
            case TTurn::FlipVertical: it->FlipVertical(); break;
            case TTurn::Mirror: it->FlipHorizontal(); break;
        }
        return true;
    });
}

TItemVector SetFavourite(const TItemVector& items, TMarkChange change) {
    return Each(items, cuFavourite, [change](TCatalogItem* it) {
        bool want = Wanted(change, it->IsMarked());
        if (want == it->IsMarked()) return false;
        it->SetMarked(want);
        return true;
    });
}

TItemVector SetDeleteReservation(const TItemVector& items, TMarkChange change) {
    return Each(items, cuDeleteReservation, [change](TCatalogItem* it) {
        bool cur = it->HasFlag(ifDeleteReservation);
        bool want = Wanted(change, cur);
        if (want == cur) return false;
        it->SetFlag(ifDeleteReservation, want);
        return true;
    });
}

TItemVector ChangePrintReservation(const TItemVector& items, TPrintChange change) {
    return Each(items, cuPrintReservation, [change](TCatalogItem* it) {
        int n = it->GetPrintReservation();
        int want = change == TPrintChange::Plus    ? std::min(kMaxPrintReservation, n + 1)
                   : change == TPrintChange::Minus ? std::max(0, n - 1)
                                                   : 0;
        if (want == n) return false;
        it->SetPrintReservation(static_cast<uint8_t>(want));
        return true;
    });
}

TItemVector SetItemRating(const TItemVector& items, int rating) {
    return Each(items, cuRating, [rating](TCatalogItem* it) { return it->GetRating() != rating && it->SetRating(rating); });
}

void DropDeletedItems(const TItemVector& items) {
    std::unordered_set<TFolder*> folders;
    for (TCatalogItem* it : items) {
        if (!it) continue;
        it->SetState(isDeleted);
        if (TFolder* owner = it->GetOwner()) {
            folders.insert(owner);
            owner->RemoveItem(it);
        }
        if (CatalogUpdaterRunning()) RaiseCatalogUpdateEvent(it, cuDeleted);
    }
    for (TFolder* f : folders) f->UpdateCounts(true);
}

void SetItemCorrection(TCatalogItem* item, const TCorrectionRecord& record) {
    if (!item) return;
    item->SetCorrection(record);
    if (CatalogUpdaterRunning()) RaiseCatalogUpdateEvent(item, cuCorrections);
}

std::string UniqueChildName(const TAlbum* parent, const std::string& base) {
    if (!parent || !parent->FindChild(base)) return base;
    for (int n = 2; n < 100000; ++n) {
        const std::string name = base + "(" + std::to_string(n) + ")";
        if (!parent->FindChild(name)) return name;
    }
    return base;
}

}  // namespace fv
