#pragma once
// The lists behind a grid of photos, free of widgets: the loaded list and the shown one in its
// order (sorted at once, or on a worker when long), the cells and day groups laid from it, the
// selection and the focus, and the batching of catalog change events. The catalog grid paints
// and takes input over it; any other grid of photos can hold one the same way.
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

#include "library/catalog_list.h"
#include "library/catalog_list_sorter.h"
#include "library/custom_folder.h"

namespace fv {

class TCatalogItem;

// item list kinds
enum : int { glkSelection = 0, glkFavourites = 1, glkStarred = 2, glkPrintReserved = 3, glkDeleteReserved = 4, glkAll = 5 };

// what a burst of catalog changes asks of the grid
struct TGridChangeBatch {
    std::vector<TCatalogItem*> Remove;     // to leave the grid
    std::vector<TCatalogItem*> Repaint;    // to be drawn again
    std::vector<TCatalogItem*> Rewritten;  // whose file has a new picture: made again
    std::vector<TCatalogItem*> Touched;    // every item of the burst (their drawn text is stale)
    bool Resort = false;                   // the list is to be put in order again
};

class TGridModel {
public:
    TGridModel() = default;
    TGridModel(const TGridModel&) = delete;
    TGridModel& operator=(const TGridModel&) = delete;
    ~TGridModel() { StopSorter(); }

    // the folder shown; its kind decides the grouping
    void SetFolder(TCustomFolder* folder);
    TCustomFolder* Folder() const { return FFolder; }
    bool FolderIs(int category) const { return FFolder && FFolder->GetCategory() == category; }
    // the album type of an album shown, -1 for other folders
    int AlbumType() const { return FolderIs(fcAlbum) ? FFolder->GetAlbumType() : -1; }

    // settings of the order; each returns false when the value is unchanged (or out of range)
    bool SetSortType(int t);
    int SortType() const { return FSortType; }
    bool SetAscending(bool on);
    bool Ascending() const { return FAscending; }
    bool SetAlwaysGroup(bool on);
    bool AlwaysGroup() const { return FAlwaysGroup; }
    bool IsGrouping() const { return FGrouping; }
    bool SetFiltering(bool on);
    bool Filtering() const { return FFiltering; }
    void SetFilter(const TCatalogFilter& f) { FFilter = f; }
    const TCatalogFilter& Filter() const { return FFilter; }
    // the order the settings ask for
    TViewOrder CurrentOrder() const;

    // the loaded list; needsDates as the lister found it (-1: not known)
    void SetLoaded(std::vector<TCatalogItem*> items, int needsDates = -1);
    void SetLoadedNeedsDates(int needsDates) { FLoadedNeedsDates = needsDates; }
    const std::vector<TCatalogItem*>& Loaded() const { return FLoaded; }
    // Whether a loaded photo has its shooting date still to be read from its file. The lister
    // finds it out on its own thread; dates are only ever read, never unread, so its "no" holds
    // until the next list and only its "yes" is looked at again.
    bool LoadedNeedsShootingDates() const;
    bool IsLoaded(TCatalogItem* item) const;

    // Ordering: a list longer than the limit is sorted on a worker while the shown list stays; a
    // result whose request was overtaken is dropped. The worker's results go to `done` on its
    // thread; the owner hands them to TakeSorted on its own thread.
    void SetSortDone(TViewSorter::TDone done) { FSortDone = std::move(done); }
    // puts the loaded list in the current order: true when it is shown at once (to be laid out),
    // false when it went to the worker
    bool Resort();
    // a result of the worker: true when it is the one asked for last (it is shown now)
    bool TakeSorted(uint64_t generation, TOrderedList&& list);
    // a sort on its way is dropped
    void CancelSort();
    void StopSorter();
    bool IsSorting() const { return FSortPending; }
    void SetSyncSortLimit(size_t items) { FSyncSortLimit = items; }
    int SortsOnWorker() const { return FSorter ? FSorter->SortsDone() : 0; }
    // the shown list and the order it was sorted by
    void ApplyOrdered(TOrderedList&& list, const TViewOrder& order);
    const TOrderedList& Ordered() const { return FOrdered; }
    const std::vector<TCatalogItem*>& Sorted() const { return FOrdered.Items; }
    const TViewOrder& ShownOrder() const { return FShownOrder; }
    // whether a photo's shooting date moved since the shown list was sorted (when the order or
    // the grouping depends on it)
    bool DateMoved(TCatalogItem* item) const;

    // Cells: the shown list laid into rows of `columns`, grouped by day as it was sorted (each day
    // starts a row under a band of bandHeight); rowHeight without the band.
    void LayCells(int columns, bool bandOnFirstRow, int rowHeight, int bandHeight);
    const std::vector<TCatalogItem*>& Cells() const { return FCells; }
    TCatalogItem* CellItem(int cell) const {
        return cell >= 0 && cell < static_cast<int>(FCells.size()) ? FCells[static_cast<size_t>(cell)] : nullptr;
    }
    int Columns() const { return FColumns; }
    int RowCount() const { return static_cast<int>(FRowBand.size()); }
    bool RowHasBand(int row) const { return row >= 0 && row < RowCount() && FRowBand[static_cast<size_t>(row)]; }
    // content y of each row, one more entry for the end
    const std::vector<int>& RowTops() const { return FRowTop; }
    int CellOf(TCatalogItem* item) const;
    // the first cell of the first row from `top` and the end of `rows` rows, within the cells
    std::pair<size_t, size_t> RowCells(int top, int rows) const;

    // selection and focus
    const std::vector<TCatalogItem*>& Selection() const { return FSelection; }
    bool IsSelected(TCatalogItem* item) const { return FSelected.count(item) != 0; }
    int SelectedCount() const { return static_cast<int>(FSelection.size()); }
    void Select(TCatalogItem* item);  // added at the end when not selected
    void Deselect(TCatalogItem* item);
    void SetSelection(std::vector<TCatalogItem*> items);
    // the selection, emptied
    std::vector<TCatalogItem*> TakeSelection();
    // adds (or, without add, sets) the photos of cells from..to, either way round
    void SelectCells(int fromCell, int toCell, bool add);
    void SelectAll() { SetSelection(FOrdered.Items); }
    int FocusCell() const { return FFocusCell; }
    int AnchorCell() const { return FAnchorCell; }
    void SetFocusCell(int cell) { FFocusCell = cell; }
    void SetAnchorCell(int cell) { FAnchorCell = cell; }
    TCatalogItem* FocusedItem() const { return CellItem(FFocusCell); }
    // After the cells were laid again: the selection keeps the photos still shown, the focus
    // (and the anchor) goes to the cell of `focus`, else to the first photo, which is selected
    // when nothing is.
    void PlaceFocus(TCatalogItem* focus);
    // in sorted order, wrapping or not; from null: the first (the last)
    TCatalogItem* NextItem(TCatalogItem* from, bool wrap) const;
    TCatalogItem* PrevItem(TCatalogItem* from, bool wrap) const;
    // the shown photos of a kind (glk*), without the gone ones when asked
    std::vector<TCatalogItem*> ItemList(int kind, bool withoutErrors) const;

    // Takes photos out of every list; the shown list keeps its order. A focused photo that goes
    // hands the focus (and the selection) to the next photo in sorted order, or the previous.
    void RemoveItems(const std::unordered_set<TCatalogItem*>& gone);

    // Change events: those that may move, remove or re-sort a photo wait in the queue for their
    // burst to end (IsBatchedChange); the others are the owner's to show at once.
    static bool IsBatchedChange(int code);
    // a change that gives the photo another picture (the cells read it again)
    static bool IsPictureChange(int code);
    void QueueChange(TCatalogItem* item, int code) { FPendingChanges.emplace_back(item, code); }
    int PendingChangeCount() const { return static_cast<int>(FPendingChanges.size()); }
    // the burst so far, decided
    TGridChangeBatch TakeChanges();

    // lists and per-row data, in bytes
    size_t MemoryBytes() const;

private:
    void UpdateGrouping();

    TCustomFolder* FFolder = nullptr;
    int FSortType = stShootingDate;
    bool FAscending = true;
    bool FAlwaysGroup = false;
    bool FGrouping = false;
    bool FFiltering = false;
    TCatalogFilter FFilter;

    std::vector<TCatalogItem*> FLoaded, FCells;
    int FLoadedNeedsDates = -1;  // as the lister found it for FLoaded; -1: not known
    TOrderedList FOrdered;       // the shown list in order
    TViewOrder FShownOrder;
    std::vector<uint32_t> FCellOfSorted;  // cell of each item of FOrdered
    std::vector<uint8_t> FRowBand;
    std::vector<int> FRowTop;
    int FColumns = 1;

    std::vector<TCatalogItem*> FSelection;
    std::unordered_set<TCatalogItem*> FSelected;
    int FFocusCell = -1;
    int FAnchorCell = -1;
    std::vector<std::pair<TCatalogItem*, int>> FPendingChanges;

    TViewSorter::TDone FSortDone;
    std::unique_ptr<TViewSorter> FSorter;
    uint64_t FSortGeneration = 0;
    TViewOrder FPendingOrder;
    bool FSortPending = false;
    size_t FSyncSortLimit = 2000;
};

}  // namespace fv
