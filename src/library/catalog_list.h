#pragma once
// Lists of catalog items: the name-sorted list used for lookups, the sort list of the
// catalog views with its comparators, grouping and tie-breaks, and the search filter.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "library/catalog_item.h"
#include "platform/datetime.h"

namespace fv {

// An unowned list of items kept in name order (locale, ignoring case; equal-collating
// names by their exact bytes). FindByName compares exactly.
class TCatalogList {
public:
    void Add(TCatalogItem* item) {
        FItems.push_back(item);
        FSorted = false;
    }
    void Clear() {
        FItems.clear();
        FSorted = true;
    }
    size_t Count() const { return FItems.size(); }
    bool Empty() const { return FItems.empty(); }
    TCatalogItem* operator[](size_t i) const { return FItems[i]; }
    const std::vector<TCatalogItem*>& Items() const { return FItems; }
    void Sort();
    // binary search; sorts first when needed
    TCatalogItem* FindByName(const std::string& name);

private:
    std::vector<TCatalogItem*> FItems;
    bool FSorted = true;
};

// sort types
enum : int { stFileName = 0, stFileTime = 1, stShootingDate = 2, stManual = 3 };
std::string SortTypeName(int sortType);

class TCorvaSortList {
public:
    using TComparator = int (*)(TCatalogItem* a, TCatalogItem* b);

    void Add(TCatalogItem* item) {
        FItems.push_back(item);
        FSorted = false;
    }
    void Clear() {
        FItems.clear();
        FSorted = false;
    }
    size_t Count() const { return FItems.size(); }
    TCatalogItem* operator[](size_t i) const { return FItems[i]; }
    std::vector<TCatalogItem*>& Items() { return FItems; }
    const std::vector<TCatalogItem*>& Items() const { return FItems; }
    // drop the entries set to none, keeping the order
    void Compact();

    // stores the order, chooses the comparator and sorts
    void SetOrder(int sortType, bool ascending, bool groupByDay, bool groupByNumber);
    void Sort();
    bool IsSorted() const { return FSorted; }
    int GetSortType() const { return FSortType; }
    bool IsAscending() const { return FAscending; }
    bool IsGroupByDay() const { return FGroupByDay; }
    bool IsGroupByNumber() const { return FGroupByNumber; }
    TComparator GetComparator() const { return FComparator; }
    // compare two items with the current order (0 without a comparator)
    int Compare(TCatalogItem* a, TCatalogItem* b) const;

    // index of an item comparing equal, or where it was inserted with `insert`; -1 otherwise
    int FindIndex(TCatalogItem* item, bool insert);

private:
    std::vector<TCatalogItem*> FItems;
    int FSortType = stFileName;
    bool FAscending = true;
    bool FGroupByDay = false;
    bool FGroupByNumber = false;
    TComparator FComparator = nullptr;
    bool FSorted = false;
};

// The comparator of an order: type 0..3, with grouping and direction.
TCorvaSortList::TComparator ChooseComparator(int sortType, bool ascending, bool groupByDay, bool groupByNumber);

struct TFilterText {
    bool Enabled = false;
    std::string Text;  // keywords separated by ";"
    bool operator==(const TFilterText&) const = default;
};

struct TFilterRange {
    bool Enabled = false;
    TDateTime From = 0;
    TDateTime To = 0;
    bool operator==(const TFilterRange&) const = default;
};

struct TCatalogFilter {
    TFilterText Name, Folder, Comment, Title, FurtherText;
    TFilterRange ShootingDate, FileTime;
    bool MarkedOnly = false;
    bool RatedOnly = false;
    bool CorrectedOnly = false;

    // everything disabled, ranges from yesterday 00:00 to today 00:00
    TCatalogFilter();
    bool operator==(const TCatalogFilter&) const = default;
};

bool ItemPassesFilter(const TCatalogFilter& filter, TCatalogItem* item);
// removes the items that fail any enabled criterion, keeping the order of the rest
void ApplyFilter(const TCatalogFilter& filter, TCorvaSortList& list);

// What a view's list is put in order by: the sort, its direction, the grouping (by shooting
// day, or by group number), and the filter when it filters.
struct TViewOrder {
    int SortType = stFileName;
    bool Ascending = true;
    bool GroupByDay = false;
    bool GroupByNumber = false;
    bool Filtering = false;
    TCatalogFilter Filter;  // looked at only when filtering
    bool operator==(const TViewOrder& o) const {
        return SortType == o.SortType && Ascending == o.Ascending && GroupByDay == o.GroupByDay &&
               GroupByNumber == o.GroupByNumber && Filtering == o.Filtering && (!Filtering || Filter == o.Filter);
    }
};

// A list in a view's order, with what it was ordered by: each item's shooting date as it was
// read (under the item's lock) for the sort, and an index from item to place.
struct TOrderedList {
    std::vector<TCatalogItem*> Items;
    std::vector<TDateTime> ShootingDates;  // of Items, one each
    // (item, place in Items), by item address: a look-up without a search of the whole list
    std::vector<std::pair<TCatalogItem*, uint32_t>> Index;

    // the place of an item in Items, -1 when it is not there
    int IndexOf(const TCatalogItem* item) const;
    // (re)builds Index from Items
    void BuildIndex();
};

// Filters (when the order filters) and sorts items into `out`. Any thread may call it: each
// item is read once under its own lock; the items must stay alive during the call.
void OrderItems(const std::vector<TCatalogItem*>& items, const TViewOrder& order, TOrderedList& out);

}  // namespace fv
