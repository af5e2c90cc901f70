#include "ui/grid/grid_model.h"

#include <algorithm>

#include "library/album.h"
#include "library/catalog_item.h"
#include "library/catalog_list_dates.h"
#include "library/catalog_updater.h"
#include "library/folder.h"
#include "library/item_ops.h"
#include "ui/grid/catalog_grid_layout.h"

namespace fv {

// ---------------------------------------------------------------------------------------------
// folder and order

void TGridModel::UpdateGrouping() {
    // the calendar's days, or every folder's when asked; never the tray or a sibling album
    const int albumType = AlbumType();
    FGrouping = (FolderIs(fcCalendar) || FAlwaysGroup) && albumType != atTray && albumType != atMirabelo;
}

void TGridModel::SetFolder(TCustomFolder* folder) {
    FFolder = folder;
    UpdateGrouping();
}

bool TGridModel::SetSortType(int t) {
    if (t == FSortType || t < stFileName || t > stManual) return false;
    FSortType = t;
    return true;
}

bool TGridModel::SetAscending(bool on) {
    if (on == FAscending) return false;
    FAscending = on;
    return true;
}

bool TGridModel::SetAlwaysGroup(bool on) {
    if (on == FAlwaysGroup) return false;
    FAlwaysGroup = on;
    UpdateGrouping();
    return true;
}

bool TGridModel::SetFiltering(bool on) {
    if (on == FFiltering) return false;
    FFiltering = on;
    return true;
}

TViewOrder TGridModel::CurrentOrder() const {
    TViewOrder o;
    o.SortType = FSortType;
    o.Ascending = FAscending;
    o.GroupByDay = FGrouping;
    o.GroupByNumber = AlbumType() == atMirabelo;
    o.Filtering = FFiltering;
    if (FFiltering) o.Filter = FFilter;
    return o;
}

// ---------------------------------------------------------------------------------------------
// the loaded and the shown list

void TGridModel::SetLoaded(std::vector<TCatalogItem*> items, int needsDates) {
    FLoaded = std::move(items);
    FLoadedNeedsDates = needsDates;
}

bool TGridModel::LoadedNeedsShootingDates() const {
    // the lister's "no" holds; its "yes" is looked at again, as the dates may have been read
    // since (the look ends at the first date still unread)
    if (FLoadedNeedsDates == 0) return false;
    return NeedsShootingDates(FLoaded);
}

bool TGridModel::IsLoaded(TCatalogItem* item) const {
    // the shown list is the loaded one unless a sort is on its way or a filter left some out
    if (!FSortPending && !FShownOrder.Filtering && FOrdered.Items.size() == FLoaded.size())
        return FOrdered.IndexOf(item) >= 0;
    return std::find(FLoaded.begin(), FLoaded.end(), item) != FLoaded.end();
}

void TGridModel::CancelSort() {
    ++FSortGeneration;  // a result on its way is dropped
    FSortPending = false;
    if (FSorter) FSorter->Cancel();
}

void TGridModel::StopSorter() {
    // the list on screen stays
    ++FSortGeneration;
    FSortPending = false;
    FSorter.reset();
}

bool TGridModel::Resort() {
    const TViewOrder order = CurrentOrder();
    CancelSort();
    if (FLoaded.size() <= FSyncSortLimit || !FSortDone) {
        TOrderedList list;
        OrderItems(FLoaded, order, list);
        ApplyOrdered(std::move(list), order);
        return true;
    }
    if (!FSorter) {
        FSorter = std::make_unique<TViewSorter>(FSortDone);
        FSorter->Start();
    }
    FSortPending = true;
    FPendingOrder = order;
    FSorter->Request(FSortGeneration, FLoaded, order);
    return false;
}

bool TGridModel::TakeSorted(uint64_t generation, TOrderedList&& list) {
    if (generation != FSortGeneration || !FSortPending) return false;  // asked again since
    FSortPending = false;
    ApplyOrdered(std::move(list), FPendingOrder);
    return true;
}

void TGridModel::ApplyOrdered(TOrderedList&& list, const TViewOrder& order) {
    FOrdered = std::move(list);
    FShownOrder = order;
}

bool TGridModel::DateMoved(TCatalogItem* item) const {
    const bool byDate = FShownOrder.SortType == stShootingDate, byDay = FShownOrder.GroupByDay;
    if (!byDate && !byDay) return false;
    const int i = FOrdered.IndexOf(item);
    if (i < 0 || static_cast<size_t>(i) >= FOrdered.ShootingDates.size()) return false;
    const TDateTime was = FOrdered.ShootingDates[static_cast<size_t>(i)], now = item->GetShootingDate();
    return byDate ? was != now : ItemDay(was) != ItemDay(now);
}

// ---------------------------------------------------------------------------------------------
// cells

void TGridModel::LayCells(int columns, bool bandOnFirstRow, int rowHeight, int bandHeight) {
    FColumns = std::max(1, columns);
    // the grouping the shown list was sorted with (a new one may be on its way)
    BuildGridCells(FOrdered.Items, FOrdered.ShootingDates, FShownOrder.GroupByDay, bandOnFirstRow, FColumns, FCells,
                   FRowBand, FCellOfSorted);
    FRowTop.assign(FRowBand.size() + 1, 0);
    for (size_t r = 0; r < FRowBand.size(); ++r) FRowTop[r + 1] = FRowTop[r] + rowHeight + (FRowBand[r] ? bandHeight : 0);
}

int TGridModel::CellOf(TCatalogItem* item) const {
    if (!item) return -1;
    // through the index of the shown list; a search only while the cells lag behind it
    const int i = FOrdered.IndexOf(item);
    if (i >= 0 && static_cast<size_t>(i) < FCellOfSorted.size()) {
        const size_t c = FCellOfSorted[static_cast<size_t>(i)];
        if (c < FCells.size() && FCells[c] == item) return static_cast<int>(c);
    }
    auto it = std::find(FCells.begin(), FCells.end(), item);
    return it == FCells.end() ? -1 : static_cast<int>(it - FCells.begin());
}

std::pair<size_t, size_t> TGridModel::RowCells(int top, int rows) const {
    const size_t cols = static_cast<size_t>(FColumns);
    const size_t first = std::min(FCells.size(), static_cast<size_t>(std::max(0, top)) * cols);
    const size_t last = std::min(FCells.size(), first + static_cast<size_t>(std::max(0, rows)) * cols);
    return {first, last};
}

// ---------------------------------------------------------------------------------------------
// selection and focus

void TGridModel::Select(TCatalogItem* item) {
    if (!item || !FSelected.insert(item).second) return;
    FSelection.push_back(item);
}

void TGridModel::Deselect(TCatalogItem* item) {
    if (!FSelected.erase(item)) return;
    FSelection.erase(std::find(FSelection.begin(), FSelection.end(), item));
}

void TGridModel::SetSelection(std::vector<TCatalogItem*> items) {
    FSelected = std::unordered_set<TCatalogItem*>(items.begin(), items.end());
    FSelection = std::move(items);
}

std::vector<TCatalogItem*> TGridModel::TakeSelection() {
    std::vector<TCatalogItem*> old;
    old.swap(FSelection);
    FSelected.clear();
    return old;
}

void TGridModel::SelectCells(int fromCell, int toCell, bool add) {
    if (fromCell > toCell) std::swap(fromCell, toCell);
    if (!add) TakeSelection();
    for (int c = std::max(0, fromCell); c <= toCell && c < static_cast<int>(FCells.size()); ++c)
        Select(FCells[static_cast<size_t>(c)]);
}

void TGridModel::PlaceFocus(TCatalogItem* focus) {
    // the selection keeps the items still shown
    if (!FSelection.empty()) {
        std::vector<TCatalogItem*> kept;
        for (TCatalogItem* it : FSelection)
            if (FOrdered.IndexOf(it) >= 0) kept.push_back(it);
        if (kept.size() != FSelection.size()) SetSelection(std::move(kept));
    }
    FFocusCell = focus ? CellOf(focus) : -1;
    FAnchorCell = FFocusCell;
    if (FFocusCell >= 0) return;
    if (FOrdered.Items.empty()) {
        TakeSelection();
        return;
    }
    FFocusCell = CellOf(FOrdered.Items.front());
    FAnchorCell = FFocusCell;
    if (FSelection.empty()) SetSelection({FOrdered.Items.front()});
}

TCatalogItem* TGridModel::NextItem(TCatalogItem* from, bool wrap) const {
    const std::vector<TCatalogItem*>& list = FOrdered.Items;
    if (list.empty()) return nullptr;
    const int i = from ? FOrdered.IndexOf(from) : -1;
    if (i < 0) return list.front();
    if (static_cast<size_t>(i) + 1 >= list.size()) return wrap ? list.front() : nullptr;
    return list[static_cast<size_t>(i) + 1];
}

TCatalogItem* TGridModel::PrevItem(TCatalogItem* from, bool wrap) const {
    const std::vector<TCatalogItem*>& list = FOrdered.Items;
    if (list.empty()) return nullptr;
    const int i = from ? FOrdered.IndexOf(from) : -1;
    if (i < 0) return list.back();
    if (i == 0) return wrap ? list.back() : nullptr;
    return list[static_cast<size_t>(i) - 1];
}

std::vector<TCatalogItem*> TGridModel::ItemList(int kind, bool withoutErrors) const {
    std::vector<TCatalogItem*> out;
    for (TCatalogItem* it : FOrdered.Items) {
        bool take;
        switch (kind) {
            case glkSelection: take = IsSelected(it); break;
            case glkFavourites: take = it->IsMarked(); break;
            case glkStarred: take = it->GetRating() > 0; break;
            case glkPrintReserved: take = it->GetPrintReservation() > 0; break;
            case glkDeleteReserved: take = it->HasFlag(ifDeleteReservation); break;
            default: take = true; break;
        }
        if (take && !(withoutErrors && IsItemGone(it))) out.push_back(it);
    }
    return out;
}

void TGridModel::RemoveItems(const std::unordered_set<TCatalogItem*>& gone) {
    if (gone.empty()) return;
    TCatalogItem* focus = FocusedItem();
    if (focus && gone.count(focus)) {
        // the focus moves to the next photo in sorted order, or the previous one
        TCatalogItem* next = nullptr;
        auto pos = std::find(FOrdered.Items.begin(), FOrdered.Items.end(), focus);
        for (auto it = pos; it != FOrdered.Items.end() && !next; ++it)
            if (!gone.count(*it)) next = *it;
        for (auto it = pos; it != FOrdered.Items.begin() && !next;)
            if (!gone.count(*--it)) next = *it;
        FFocusCell = -1;
        if (next) {
            SetSelection({next});
            FFocusCell = CellOf(next);
        }
    }
    auto drop = [&](std::vector<TCatalogItem*>& v) {
        v.erase(std::remove_if(v.begin(), v.end(), [&](TCatalogItem* i) { return gone.count(i) != 0; }), v.end());
    };
    drop(FLoaded);
    drop(FSelection);
    for (TCatalogItem* it : gone) FSelected.erase(it);
    // the shown list keeps its order and each photo's date; its index is made again
    size_t n = 0;
    const bool dated = FOrdered.ShootingDates.size() == FOrdered.Items.size();
    for (size_t i = 0; i < FOrdered.Items.size(); ++i) {
        if (gone.count(FOrdered.Items[i])) continue;
        if (dated) FOrdered.ShootingDates[n] = FOrdered.ShootingDates[i];
        FOrdered.Items[n++] = FOrdered.Items[i];
    }
    FOrdered.Items.resize(n);
    if (dated) FOrdered.ShootingDates.resize(n);
    FOrdered.BuildIndex();
}

// ---------------------------------------------------------------------------------------------
// change events

bool TGridModel::IsBatchedChange(int code) {
    switch (code) {
        case cuChanged: case cuRenamed: case cuDeleted: case cuCopiedOrMoved: case cuLeftFolder: case cuShootingDate:
        case cuFileDate: case cuPictureRewritten: return true;
        default: return false;
    }
}

bool TGridModel::IsPictureChange(int code) {
    return code == cuOrientation || code == cuCorrections || code == cuThumbnailStored;
}

TGridChangeBatch TGridModel::TakeChanges() {
    std::vector<std::pair<TCatalogItem*, int>> queue;
    queue.swap(FPendingChanges);
    TGridChangeBatch b;
    const bool disk = FolderIs(fcDiskFolder);
    for (auto [item, code] : queue) {
        // a photo whose date was read since the list was put in order (the thumbnail maker reads
        // the camera data of the photos it decodes) goes to its day: the list is put in order again
        if (code != cuDeleted && !b.Resort && DateMoved(item)) b.Resort = true;
        switch (code) {
            case cuRenamed: if (FSortType == stFileName) b.Resort = true; else b.Repaint.push_back(item); break;
            case cuDeleted: b.Remove.push_back(item); break;
            case cuCopiedOrMoved:
                if (disk && static_cast<TCustomFolder*>(item->GetOwner()) != FFolder) b.Remove.push_back(item);
                else b.Repaint.push_back(item);
                break;
            case cuLeftFolder: {
                TFolder* owner = item->GetOwner();
                bool inside = owner && FFolder && (static_cast<TCustomFolder*>(owner) == FFolder || owner->IsChildOf(FFolder));
                if (!inside) b.Remove.push_back(item);
                break;
            }
            case cuShootingDate: if (FGrouping || FSortType == stShootingDate) b.Resort = true; else b.Repaint.push_back(item); break;
            case cuFileDate: if (FSortType == stFileTime) b.Resort = true; else b.Repaint.push_back(item); break;
            case cuPictureRewritten:
                b.Rewritten.push_back(item);
                b.Repaint.push_back(item);
                break;
            default: b.Repaint.push_back(item); break;
        }
        b.Touched.push_back(item);
    }
    return b;
}

size_t TGridModel::MemoryBytes() const {
    return (FLoaded.capacity() + FOrdered.Items.capacity() + FCells.capacity() + FSelection.capacity()) * sizeof(void*) +
           FRowBand.capacity() + FRowTop.capacity() * sizeof(int);
}

}  // namespace fv
