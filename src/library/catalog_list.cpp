#include "library/catalog_list.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string_view>

#include "library/folder.h"
#include "platform/collate.h"

namespace fv {

// ---------------------------------------------------------------------------
// TCatalogList

namespace {

struct TNameRec {
    std::string Key;
    std::string Name;
    TCatalogItem* Item;
};

int CompareNameRec(const std::string& ka, const std::string& na, const std::string& kb, const std::string& nb) {
    int r = CompareTextExact(ka, kb);
    return r != 0 ? r : CompareTextExact(na, nb);
}

}  // namespace

void TCatalogList::Sort() {
    std::vector<TNameRec> recs;
    recs.reserve(FItems.size());
    for (TCatalogItem* it : FItems) recs.push_back({it->GetNameKey(), it->GetFileName(), it});
    std::stable_sort(recs.begin(), recs.end(),
                     [](const TNameRec& a, const TNameRec& b) { return CompareNameRec(a.Key, a.Name, b.Key, b.Name) < 0; });
    for (size_t i = 0; i < recs.size(); ++i) FItems[i] = recs[i].Item;
    FSorted = true;
}

TCatalogItem* TCatalogList::FindByName(const std::string& name) {
    if (!FSorted) Sort();
    std::string key = CollationKeyIgnoreCase(name);
    size_t lo = 0, hi = FItems.size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        int r = CompareNameRec(FItems[mid]->GetNameKey(), FItems[mid]->GetFileName(), key, name);
        if (r == 0) return FItems[mid];
        if (r < 0) lo = mid + 1;
        else hi = mid;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// sort comparators

std::string SortTypeName(int sortType) {
    switch (sortType) {
        case stFileName: return "ファイル名";
        case stFileTime: return "更新日時";
        case stShootingDate: return "撮影日時";
        case stManual: return "手動整列";
        default: return std::string();
    }
}

namespace {

// What the comparators look at, taken from an item once per sort. Name keys live in
// one shared buffer, so a sort of 100,000 items makes no allocation per item.
struct TSortRec {
    const char* Key;
    size_t KeyLength;
    TDateTime FileTime;
    TDateTime ShootingDate;
    double ShootingDay;
    int32_t Group;
    uint16_t Position;
    uint32_t Id;
    TCatalogItem* Item;
};

// Fills records for items; `keys` must outlive the records.
void FillSortRecs(TCatalogItem* const* items, size_t n, std::vector<TSortRec>& recs, std::string& keys) {
    thread_local std::vector<TCatalogItem::TSortFacts> facts;
    facts.resize(n);
    keys.clear();
    keys.reserve(n * 48);
    for (size_t i = 0; i < n; ++i) items[i]->GetSortFacts(facts[i], keys);
    recs.resize(n);
    for (size_t i = 0; i < n; ++i) {
        TSortRec& r = recs[i];
        const TCatalogItem::TSortFacts& f = facts[i];
        r.Key = keys.data() + f.KeyOffset;  // the buffer no longer grows
        r.KeyLength = f.KeyLength;
        r.FileTime = f.FileTime;
        r.ShootingDate = f.ShootingDate;
        r.ShootingDay = std::floor(f.ShootingDate);
        r.Group = f.Group;
        r.Position = static_cast<uint16_t>(f.Position);
        r.Id = items[i]->RuntimeId();
        r.Item = items[i];
    }
}

template <class T>
int Cmp(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// names ignoring case, then identity, so that the order is total and stable for the
// life of the items
int ByName(const TSortRec& a, const TSortRec& b) {
    int r = CompareTextExact(std::string_view(a.Key, a.KeyLength), std::string_view(b.Key, b.KeyLength));
    return r != 0 ? r : Cmp(a.Id, b.Id);
}
int ByFileTime(const TSortRec& a, const TSortRec& b) {
    int r = Cmp(a.FileTime, b.FileTime);
    return r != 0 ? r : ByName(a, b);
}
int ByShooting(const TSortRec& a, const TSortRec& b) {
    int r = Cmp(a.ShootingDate, b.ShootingDate);
    return r != 0 ? r : ByName(a, b);
}
int ByManual(const TSortRec& a, const TSortRec& b) {
    int r = Cmp(a.Position, b.Position);
    return r != 0 ? r : ByName(a, b);
}

using TRecCompare = int (*)(const TSortRec&, const TSortRec&);

template <TRecCompare Base>
int GroupNumber(const TSortRec& a, const TSortRec& b) {
    int r = Cmp(a.Group, b.Group);
    return r != 0 ? r : Base(a, b);
}

template <TRecCompare Base>
int GroupDay(const TSortRec& a, const TSortRec& b) {
    int r = Cmp(a.ShootingDay, b.ShootingDay);
    return r != 0 ? r : Base(a, b);
}

template <TRecCompare C>
int Negate(const TSortRec& a, const TSortRec& b) {
    return -C(a, b);
}

TRecCompare ChooseRecCompare(int type, bool ascending, bool byDay, bool byNumber) {
    static const TRecCompare kTable[2][3][4] = {
        // ascending
        {{ByName, ByFileTime, ByShooting, ByManual},
         {GroupDay<ByName>, GroupDay<ByFileTime>, ByShooting, GroupDay<ByManual>},
         {GroupNumber<ByName>, GroupNumber<ByFileTime>, GroupNumber<ByShooting>, GroupNumber<ByManual>}},
        // descending
        {{Negate<ByName>, Negate<ByFileTime>, Negate<ByShooting>, Negate<ByManual>},
         {Negate<GroupDay<ByName>>, Negate<GroupDay<ByFileTime>>, Negate<ByShooting>, Negate<GroupDay<ByManual>>},
         {Negate<GroupNumber<ByName>>, Negate<GroupNumber<ByFileTime>>, Negate<GroupNumber<ByShooting>>,
          Negate<GroupNumber<ByManual>>}},
    };
    if (type < 0 || type > 3) type = stFileName;
    int grouping = byNumber ? 2 : (byDay ? 1 : 0);
    return kTable[ascending ? 0 : 1][grouping][type];
}

template <TRecCompare C>
int ItemCompare(TCatalogItem* a, TCatalogItem* b) {
    TCatalogItem* both[2] = {a, b};
    std::vector<TSortRec> recs;
    std::string keys;
    FillSortRecs(both, 2, recs, keys);
    return C(recs[0], recs[1]);
}

// item comparators, one per record comparator (same table layout)
TCorvaSortList::TComparator ItemComparatorOf(TRecCompare c) {
#define FV_MAP(C) \
    if (c == static_cast<TRecCompare>(C)) return ItemCompare<C>;
    FV_MAP(ByName)
    FV_MAP(ByFileTime)
    FV_MAP(ByShooting)
    FV_MAP(ByManual)
    FV_MAP(GroupDay<ByName>)
    FV_MAP(GroupDay<ByFileTime>)
    FV_MAP(GroupDay<ByManual>)
    FV_MAP(GroupNumber<ByName>)
    FV_MAP(GroupNumber<ByFileTime>)
    FV_MAP(GroupNumber<ByShooting>)
    FV_MAP(GroupNumber<ByManual>)
    FV_MAP(Negate<ByName>)
    FV_MAP(Negate<ByFileTime>)
    FV_MAP(Negate<ByShooting>)
    FV_MAP(Negate<ByManual>)
    FV_MAP(Negate<GroupDay<ByName>>)
    FV_MAP(Negate<GroupDay<ByFileTime>>)
    FV_MAP(Negate<GroupDay<ByManual>>)
    FV_MAP(Negate<GroupNumber<ByName>>)
    FV_MAP(Negate<GroupNumber<ByFileTime>>)
    FV_MAP(Negate<GroupNumber<ByShooting>>)
    FV_MAP(Negate<GroupNumber<ByManual>>)
#undef FV_MAP
    return nullptr;
}

}  // namespace

TCorvaSortList::TComparator ChooseComparator(int sortType, bool ascending, bool groupByDay, bool groupByNumber) {
    return ItemComparatorOf(ChooseRecCompare(sortType, ascending, groupByDay, groupByNumber));
}

void TCorvaSortList::Compact() {
    std::erase(FItems, nullptr);
}

void TCorvaSortList::SetOrder(int sortType, bool ascending, bool groupByDay, bool groupByNumber) {
    FSortType = sortType;
    FAscending = ascending;
    FGroupByDay = groupByDay;
    FGroupByNumber = groupByNumber;
    FComparator = ChooseComparator(sortType, ascending, groupByDay, groupByNumber);
    FSorted = false;
    Sort();
}

void TCorvaSortList::Sort() {
    if (!FComparator) return;
    TRecCompare cmp = ChooseRecCompare(FSortType, FAscending, FGroupByDay, FGroupByNumber);
    // Each item's fields are read once under its lock; the sort then works on the copies.
    // scratch kept per thread: repeated sorts of big lists reuse warm memory
    thread_local std::vector<TSortRec> recs;
    thread_local std::string keys;
    FillSortRecs(FItems.data(), FItems.size(), recs, keys);
    std::sort(recs.begin(), recs.end(), [cmp](const TSortRec& a, const TSortRec& b) { return cmp(a, b) < 0; });
    for (size_t i = 0; i < recs.size(); ++i) FItems[i] = recs[i].Item;
    if (recs.capacity() > 1000000) {  // do not hold on to huge buffers
        std::vector<TSortRec>().swap(recs);
        std::string().swap(keys);
    }
    FSorted = true;
}

int TCorvaSortList::Compare(TCatalogItem* a, TCatalogItem* b) const { return FComparator ? FComparator(a, b) : 0; }

int TCorvaSortList::FindIndex(TCatalogItem* item, bool insert) {
    if (!FComparator) return -1;
    if (!FSorted) Sort();
    TRecCompare cmp = ChooseRecCompare(FSortType, FAscending, FGroupByDay, FGroupByNumber);
    int lo = 0, hi = static_cast<int>(FItems.size()) - 1;
    int pos = 0;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        TCatalogItem* pair[2] = {FItems[static_cast<size_t>(mid)], item};
        std::vector<TSortRec> recs;
        std::string keys;
        FillSortRecs(pair, 2, recs, keys);
        int c = cmp(recs[0], recs[1]);
        if (c == 0) return mid;
        if (c < 0) {
            lo = mid + 1;
            pos = mid + 1;  // after a probe that compared lower
        } else {
            hi = mid - 1;
            pos = mid;
        }
    }
    if (!insert) return -1;
    FItems.insert(FItems.begin() + pos, item);
    return pos;
}

// ---------------------------------------------------------------------------
// ordered lists

int TOrderedList::IndexOf(const TCatalogItem* item) const {
    auto at = std::lower_bound(Index.begin(), Index.end(), item, [](const std::pair<TCatalogItem*, uint32_t>& e, const TCatalogItem* i) {
        return std::less<const TCatalogItem*>()(e.first, i);
    });
    return at != Index.end() && at->first == item ? static_cast<int>(at->second) : -1;
}

void TOrderedList::BuildIndex() {
    Index.resize(Items.size());
    for (size_t i = 0; i < Items.size(); ++i) Index[i] = {Items[i], static_cast<uint32_t>(i)};
    std::sort(Index.begin(), Index.end(), [](const auto& a, const auto& b) {
        return std::less<const TCatalogItem*>()(a.first, b.first);
    });
}

void OrderItems(const std::vector<TCatalogItem*>& items, const TViewOrder& order, TOrderedList& out) {
    std::vector<TCatalogItem*> kept;
    const std::vector<TCatalogItem*>* list = &items;
    if (order.Filtering) {
        kept.reserve(items.size());
        for (TCatalogItem* it : items)
            if (ItemPassesFilter(order.Filter, it)) kept.push_back(it);
        list = &kept;
    }
    std::vector<TSortRec> recs;
    std::string keys;
    FillSortRecs(list->data(), list->size(), recs, keys);
    TRecCompare cmp = ChooseRecCompare(order.SortType, order.Ascending, order.GroupByDay, order.GroupByNumber);
    std::sort(recs.begin(), recs.end(), [cmp](const TSortRec& a, const TSortRec& b) { return cmp(a, b) < 0; });
    out.Items.resize(recs.size());
    out.ShootingDates.resize(recs.size());
    for (size_t i = 0; i < recs.size(); ++i) {
        out.Items[i] = recs[i].Item;
        out.ShootingDates[i] = recs[i].ShootingDate;
    }
    out.BuildIndex();
}

// ---------------------------------------------------------------------------
// filter

TCatalogFilter::TCatalogFilter() {
    TDateTime today = std::floor(Now());
    ShootingDate.From = FileTime.From = today - 1;
    ShootingDate.To = FileTime.To = today;
}

namespace {

// every ";"-separated keyword of the (lower-cased) text occurs in the lower-cased field
bool TextPasses(const std::string& keywords, const std::string& field) {
    std::string k = LowerCaseText(keywords);
    std::string f = LowerCaseText(field);
    size_t start = 0;
    // UTF-8: ';' never occurs inside a multi-byte character
    while (start <= k.size()) {
        size_t end = k.find(';', start);
        if (end == std::string::npos) end = k.size();
        std::string_view word(k.data() + start, end - start);
        if (!word.empty() && f.find(word) == std::string::npos) return false;
        start = end + 1;
    }
    return true;
}

bool InRange(const TFilterRange& r, TDateTime v) { return r.From <= v && v <= r.To; }

}  // namespace

bool ItemPassesFilter(const TCatalogFilter& filter, TCatalogItem* item) {
    if (!item) return false;
    if (filter.Name.Enabled && !TextPasses(filter.Name.Text, item->GetFileName())) return false;
    if (filter.Folder.Enabled && !TextPasses(filter.Folder.Text, item->GetFolderPath())) return false;
    if (filter.Comment.Enabled && !TextPasses(filter.Comment.Text, item->GetComment())) return false;
    if (filter.Title.Enabled && !TextPasses(filter.Title.Text, item->GetTitle())) return false;
    if (filter.FurtherText.Enabled && !TextPasses(filter.FurtherText.Text, item->GetFurtherText())) return false;
    if (filter.ShootingDate.Enabled && !InRange(filter.ShootingDate, item->GetShootingDate())) return false;
    if (filter.FileTime.Enabled && !InRange(filter.FileTime, item->GetFileTime())) return false;
    if (filter.MarkedOnly && !item->IsMarked()) return false;
    if (filter.RatedOnly && item->GetRating() == 0) return false;
    if (filter.CorrectedOnly && item->GetCorrection().Enabled == 0) return false;
    return true;
}

void ApplyFilter(const TCatalogFilter& filter, TCorvaSortList& list) {
    for (TCatalogItem*& it : list.Items())
        if (!ItemPassesFilter(filter, it)) it = nullptr;
    list.Compact();
}

}  // namespace fv
