#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <thread>

#include "library/catalog_list.h"
#include "library/catalog_list_sorter.h"
#include "platform/os_thread.h"
#include "library/folder.h"

using namespace fv;

namespace {

struct Items : ::testing::Test {
    std::vector<std::unique_ptr<TCatalogItem>> owned;
    TCatalogItem* Make(const std::string& name, TDateTime fileTime = 0, TDateTime shot = 0, int16_t pos = -1, int32_t group = 0) {
        owned.push_back(std::make_unique<TCatalogItem>());
        TCatalogItem* it = owned.back().get();
        it->SetFileNameRaw(name);
        it->SetFileTime(fileTime);
        it->SetShootingDate(shot);
        it->SetManualPosition(pos);
        it->SetGroupNumber(group);
        return it;
    }
    static std::vector<std::string> Names(const TCorvaSortList& l) {
        std::vector<std::string> out;
        for (TCatalogItem* it : l.Items()) out.push_back(it->GetFileName());
        return out;
    }
};

}  // namespace

TEST_F(Items, NameOrderIsLocaleAwareAndCaseTwinsStayStable) {
    TCorvaSortList l;
    TCatalogItem* lower = Make("b.jpg");
    TCatalogItem* upper = Make("B.JPG");  // created later: higher identity
    l.Add(Make("Zeta.jpg"));
    l.Add(upper);
    l.Add(Make("apple.jpg"));
    l.Add(lower);
    l.Add(Make("Äpple.jpg"));
    l.SetOrder(stFileName, true, false, false);
    EXPECT_EQ(Names(l), (std::vector<std::string>{"apple.jpg", "Äpple.jpg", "b.jpg", "B.JPG", "Zeta.jpg"}));
    // the twins keep their order however the list is rebuilt
    TCorvaSortList again;
    again.Add(upper);
    again.Add(lower);
    again.SetOrder(stFileName, true, false, false);
    EXPECT_EQ(again[0], lower);
    again.SetOrder(stFileName, false, false, false);
    EXPECT_EQ(again[0], upper);
}

TEST_F(Items, TimesTieBreakByName) {
    TCorvaSortList l;
    l.Add(Make("c.jpg", 10, 5));
    l.Add(Make("a.jpg", 20, 5));
    l.Add(Make("b.jpg", 10, 1));
    l.SetOrder(stFileTime, true, false, false);
    EXPECT_EQ(Names(l), (std::vector<std::string>{"b.jpg", "c.jpg", "a.jpg"}));
    l.SetOrder(stShootingDate, true, false, false);
    EXPECT_EQ(Names(l), (std::vector<std::string>{"b.jpg", "a.jpg", "c.jpg"}));
    l.SetOrder(stShootingDate, false, false, false);
    EXPECT_EQ(Names(l), (std::vector<std::string>{"c.jpg", "a.jpg", "b.jpg"}));
}

TEST_F(Items, ManualOrderPutsItemsWithoutPositionLastOrFirstDescending) {
    TCorvaSortList l;
    l.Add(Make("none.jpg", 0, 0, -1));
    l.Add(Make("two.jpg", 0, 0, 2));
    l.Add(Make("zero.jpg", 0, 0, 0));
    l.Add(Make("also-two.jpg", 0, 0, 2));
    l.SetOrder(stManual, true, false, false);
    EXPECT_EQ(Names(l), (std::vector<std::string>{"zero.jpg", "also-two.jpg", "two.jpg", "none.jpg"}));
    l.SetOrder(stManual, false, false, false);
    EXPECT_EQ(Names(l), (std::vector<std::string>{"none.jpg", "two.jpg", "also-two.jpg", "zero.jpg"}));
}

TEST_F(Items, GroupingByDayAndByNumber) {
    TCorvaSortList l;
    // day 100: late morning and early morning; day 99 in the evening
    l.Add(Make("a.jpg", 3, 100.75, 1, 2));
    l.Add(Make("b.jpg", 1, 100.25, 0, 1));
    l.Add(Make("c.jpg", 2, 99.9, 5, 2));
    l.SetOrder(stFileTime, true, true, false);
    EXPECT_EQ(Names(l), (std::vector<std::string>{"c.jpg", "b.jpg", "a.jpg"}));
    l.SetOrder(stFileName, true, true, false);
    EXPECT_EQ(Names(l), (std::vector<std::string>{"c.jpg", "a.jpg", "b.jpg"}));
    // descending negates the day too
    l.SetOrder(stFileName, false, true, false);
    EXPECT_EQ(Names(l), (std::vector<std::string>{"b.jpg", "a.jpg", "c.jpg"}));
    // shooting date grouped by day is the shooting-date order itself
    EXPECT_EQ(ChooseComparator(stShootingDate, true, true, false), ChooseComparator(stShootingDate, true, false, false));
    // group number wins over the day
    l.SetOrder(stManual, true, true, true);
    EXPECT_EQ(Names(l), (std::vector<std::string>{"b.jpg", "a.jpg", "c.jpg"}));
    l.SetOrder(stShootingDate, false, false, true);
    EXPECT_EQ(Names(l), (std::vector<std::string>{"a.jpg", "c.jpg", "b.jpg"}));
}

TEST_F(Items, FindIndexSearchesAndInserts) {
    TCorvaSortList l;
    EXPECT_EQ(l.FindIndex(Make("x.jpg"), true), -1);  // no comparator yet
    EXPECT_EQ(l.Count(), 0u);
    TCatalogItem* b = Make("b.jpg");
    l.Add(Make("d.jpg"));
    l.Add(b);
    l.Add(Make("f.jpg"));
    l.SetOrder(stFileName, true, false, false);
    EXPECT_EQ(l.FindIndex(b, false), 0);
    TCatalogItem* e = Make("e.jpg");
    EXPECT_EQ(l.FindIndex(e, false), -1);
    EXPECT_EQ(l.FindIndex(e, true), 2);
    EXPECT_EQ(l.FindIndex(Make("a.jpg"), true), 0);
    EXPECT_EQ(l.FindIndex(Make("z.jpg"), true), 5);
    EXPECT_EQ(Names(l), (std::vector<std::string>{"a.jpg", "b.jpg", "d.jpg", "e.jpg", "f.jpg", "z.jpg"}));
    // an unsorted list is sorted before searching
    TCorvaSortList u;
    u.SetOrder(stFileName, true, false, false);
    u.Add(Make("q.jpg"));
    u.Add(b);
    EXPECT_EQ(u.FindIndex(b, false), 0);
}

TEST_F(Items, CatalogListFindsExactNamesOnly) {
    TCatalogList list;
    TCatalogItem* lower = Make("img.jpg");
    TCatalogItem* upper = Make("IMG.jpg");
    list.Add(Make("zz.jpg"));
    list.Add(upper);
    list.Add(lower);
    list.Add(Make("a\xff.jpg"));
    list.Add(Make("a\xfe.jpg"));
    EXPECT_EQ(list.FindByName("img.jpg"), lower);
    EXPECT_EQ(list.FindByName("IMG.jpg"), upper);
    EXPECT_EQ(list.FindByName("Img.jpg"), nullptr);
    ASSERT_NE(list.FindByName("a\xfe.jpg"), nullptr);
    EXPECT_EQ(list.FindByName("a\xfe.jpg")->GetFileName(), "a\xfe.jpg");
    EXPECT_EQ(list.FindByName("a\xfd.jpg"), nullptr);
}

TEST_F(Items, FilterKeywordsAllHaveToOccur) {
    TCatalogFilter f;
    f.Name.Enabled = true;
    f.Name.Text = "ab;CD";
    EXPECT_TRUE(ItemPassesFilter(f, Make("xxCDyyAB.jpg")));
    EXPECT_FALSE(ItemPassesFilter(f, Make("ab.jpg")));
    f.Name.Text = "写真;;";
    EXPECT_TRUE(ItemPassesFilter(f, Make("旅行写真.JPG")));
    f.Name.Text = "ÄB";
    EXPECT_TRUE(ItemPassesFilter(f, Make("xäbx.jpg")));
}

TEST_F(Items, FilterCriteriaAndCompaction) {
    TCatalogFilter f;
    // defaults: nothing enabled, ranges over yesterday
    EXPECT_FALSE(f.Name.Enabled || f.ShootingDate.Enabled || f.FileTime.Enabled || f.MarkedOnly);
    EXPECT_EQ(f.ShootingDate.To - f.ShootingDate.From, 1.0);
    EXPECT_EQ(f.FileTime.To, std::floor(Now()));

    TCatalogItem* marked = Make("m.jpg", 5, 10);
    marked->SetMarked(true);
    TCatalogItem* rated = Make("r.jpg", 5, 20);
    rated->SetRating(2);
    TCatalogItem* corrected = Make("c.jpg", 50, 10);
    TCorrectionRecord c;
    c.Enabled = 1;
    corrected->SetCorrection(c);
    corrected->SetComment("Beach Party");

    TCorvaSortList l;
    for (auto* it : {marked, rated, corrected}) l.Add(it);
    TCatalogFilter none;
    ApplyFilter(none, l);
    EXPECT_EQ(l.Count(), 3u);

    TCatalogFilter range;
    range.ShootingDate = {true, 10, 10};  // both ends inclusive
    ApplyFilter(range, l);
    EXPECT_EQ(Names(l), (std::vector<std::string>{"m.jpg", "c.jpg"}));

    TCatalogFilter comment;
    comment.Comment = {true, "beach"};
    EXPECT_TRUE(ItemPassesFilter(comment, corrected));
    EXPECT_FALSE(ItemPassesFilter(comment, marked));
    TCatalogFilter flags;
    flags.MarkedOnly = true;
    EXPECT_TRUE(ItemPassesFilter(flags, marked));
    EXPECT_FALSE(ItemPassesFilter(flags, rated));
    flags = TCatalogFilter();
    flags.RatedOnly = true;
    EXPECT_TRUE(ItemPassesFilter(flags, rated));
    EXPECT_FALSE(ItemPassesFilter(flags, marked));
    flags = TCatalogFilter();
    flags.CorrectedOnly = true;
    flags.FileTime = {true, 40, 60};
    EXPECT_TRUE(ItemPassesFilter(flags, corrected));
    EXPECT_FALSE(ItemPassesFilter(flags, rated));
}

TEST_F(Items, FolderFilterLooksAtTheOwnerPath) {
    TFolder photos("/data/Holiday 2024");
    TCatalogItem* it = new TCatalogItem();
    it->SetFileNameRaw("a.jpg");
    photos.AddItem(it);
    TCatalogFilter f;
    f.Folder = {true, "holiday"};
    EXPECT_TRUE(ItemPassesFilter(f, it));
    f.Folder.Text = "work";
    EXPECT_FALSE(ItemPassesFilter(f, it));
}

// The view's ordering (which may run on any thread) gives the order of the sort list for every
// sort key, grouping and direction, with equal dates, equal names and photos without a date.
TEST_F(Items, OrderItemsMatchesTheSortListForEveryOrder) {
    std::vector<TCatalogItem*> v;
    const TDateTime day = 45000;
    v.push_back(Make("b.jpg", 3, day + 0.25, 2, 1));
    v.push_back(Make("a.jpg", 3, day + 0.25, 2, 1));      // same times and place as b: the name decides
    v.push_back(Make("a.jpg", 1, day - 0.5, -1, 2));      // same name as the one above: identity decides
    v.push_back(Make("undated.jpg", 0, 0, 0, 0));          // no shooting date
    v.push_back(Make("C.JPG", 2, day + 1.75, 1, 1));
    v.push_back(Make("c.jpg", 2, day + 1.25, 3, 3));
    v.push_back(Make("also-undated.jpg", 5, 0, -1, 0));
    for (int type : {stFileName, stFileTime, stShootingDate, stManual})
        for (bool up : {true, false})
            for (int grouping = 0; grouping < 3; ++grouping) {
                TViewOrder o;
                o.SortType = type;
                o.Ascending = up;
                o.GroupByDay = grouping == 1;
                o.GroupByNumber = grouping == 2;
                TCorvaSortList l;
                for (TCatalogItem* it : v) l.Add(it);
                l.SetOrder(type, up, o.GroupByDay, o.GroupByNumber);
                TOrderedList out;
                OrderItems(v, o, out);
                SCOPED_TRACE(testing::Message() << "type " << type << " up " << up << " grouping " << grouping);
                ASSERT_EQ(out.Items, l.Items());
                ASSERT_EQ(out.ShootingDates.size(), v.size());
                for (size_t i = 0; i < v.size(); ++i) {
                    EXPECT_EQ(out.ShootingDates[i], out.Items[i]->GetShootingDate());
                    EXPECT_EQ(out.IndexOf(out.Items[i]), static_cast<int>(i));
                }
            }
    TOrderedList out;
    OrderItems(v, TViewOrder(), out);
    EXPECT_EQ(out.IndexOf(Make("elsewhere.jpg")), -1);
    // a filtering order leaves out what the filter does, as the sort list's filter does
    TViewOrder filtered;
    filtered.Filtering = true;
    filtered.Filter.Name = {true, "a.jpg"};
    OrderItems(v, filtered, out);
    EXPECT_EQ(out.Items.size(), 2u);
    for (TCatalogItem* it : out.Items) EXPECT_EQ(it->GetFileName(), "a.jpg");
    EXPECT_EQ(out.IndexOf(v[4]), -1);
    // a filter counts in the comparison of orders only when the order filters
    TViewOrder other = filtered;
    other.Filter.Name.Text = "b";
    EXPECT_FALSE(other == filtered);
    other.Filtering = filtered.Filtering = false;
    EXPECT_TRUE(other == filtered);
}

// The sorter's newest request replaces one not started yet; every result names its request.
TEST_F(Items, SorterResultsCarryTheirRequest) {
    std::vector<TCatalogItem*> v;
    for (int i = 0; i < 3000; ++i) v.push_back(Make("p" + std::to_string((i * 7919) % 3000) + ".jpg", i, 3000 - i));
    std::mutex lock;
    std::vector<std::pair<uint64_t, TOrderedList>> results;
    int sorterNice = -100;
    TViewSorter sorter([&](uint64_t generation, TOrderedList&& list) {
        std::lock_guard<std::mutex> g(lock);
        results.emplace_back(generation, std::move(list));
        sorterNice = GetCurrentThreadNice();
    });
    sorter.Start();
    TViewOrder byName, byDate;
    byDate.SortType = stShootingDate;
    for (uint64_t g = 1; g <= 20; ++g) sorter.Request(g, v, g % 2 ? byName : byDate);
    for (int i = 0; i < 500; ++i) {
        {
            std::lock_guard<std::mutex> g(lock);
            if (!results.empty() && results.back().first == 20) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::lock_guard<std::mutex> g(lock);
    ASSERT_FALSE(results.empty());
    EXPECT_EQ(results.back().first, 20u);
    EXPECT_LT(results.size(), 20u);  // requests not started were replaced
    EXPECT_EQ(sorter.SortsDone(), static_cast<int>(results.size()));
    // it sorts behind the interface: at a lower priority than the thread that asks
    EXPECT_EQ(sorterNice, std::min(19, GetCurrentThreadNice() + kBackgroundNice));
    for (auto& [generation, list] : results) {
        TOrderedList expected;
        OrderItems(v, generation % 2 ? byName : byDate, expected);
        EXPECT_EQ(list.Items, expected.Items) << generation;
    }
}

// The sorter reads items that another thread changes meanwhile (as the thumbnail maker sets
// dates): every field is read under the item's lock, and each result holds every item once.
TEST_F(Items, SorterReadsItemsThatAnotherThreadChanges) {
    std::vector<TCatalogItem*> v;
    for (int i = 0; i < 2000; ++i) v.push_back(Make("q" + std::to_string(i) + ".jpg", i, i));
    std::atomic<int> results{0};
    std::atomic<bool> whole{true};
    TViewSorter sorter([&](uint64_t, TOrderedList&& list) {
        std::vector<TCatalogItem*> sorted = list.Items;
        std::sort(sorted.begin(), sorted.end());
        std::vector<TCatalogItem*> all = v;
        std::sort(all.begin(), all.end());
        if (sorted != all) whole = false;
        ++results;
    });
    sorter.Start();
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int round = 0; !stop; ++round)
            for (size_t i = 0; i < v.size(); i += 7) v[i]->SetShootingDate(static_cast<double>((i * 31 + round) % 997));
    });
    TViewOrder byDate;
    byDate.SortType = stShootingDate;
    byDate.GroupByDay = true;
    for (uint64_t g = 1; g <= 5; ++g) {
        sorter.Request(g, v, byDate);
        for (int i = 0; i < 400 && results < static_cast<int>(g); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    stop = true;
    writer.join();
    EXPECT_EQ(results.load(), 5);
    EXPECT_TRUE(whole.load());
}
