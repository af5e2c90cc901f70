// The grid model, its picture memory and its producers on their own, without a widget or a
// display: lists and cells, selection and focus, change bursts, the sort on the worker, the byte
// budget and the thumbnail requests, and a real listing through a post function.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <unordered_map>

#include "library/catalog_item.h"
#include "library/catalog_list_dates.h"
#include "library/catalog_updater.h"
#include "ui/grid/grid_model.h"
#include "ui/grid/grid_picture_memory.h"
#include "ui/grid/grid_producers.h"
#include "ui_test_items.h"

using namespace fv;
namespace fs = std::filesystem;

namespace {

// calls posted from other threads, run on the test's thread when it asks
struct TPostQueue {
    std::mutex Lock;
    std::condition_variable Posted;
    std::deque<std::function<void()>> Calls;
    TGridPost Post() {
        return [this](std::function<void()> call) {
            std::lock_guard<std::mutex> lock(Lock);
            Calls.push_back(std::move(call));
            Posted.notify_all();
        };
    }
    // runs what is posted until done() or the time is up
    bool RunUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            std::function<void()> call;
            {
                std::unique_lock<std::mutex> lock(Lock);
                if (!Posted.wait_until(lock, end, [&] { return !Calls.empty(); })) return done();
                call = std::move(Calls.front());
                Calls.pop_front();
            }
            call();
        }
        return true;
    }
};

struct GridModelFixture : ::testing::Test {
    std::unique_ptr<fv::test::TTestFolder> dir;
    TGridModel model;
    void SetUp() override {
        dir = std::make_unique<fv::test::TTestFolder>(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    void TearDown() override {
        model.StopSorter();
        dir.reset();
    }
    // photos named p0..p(n-1), perDay to a day, an hour apart, given in reverse name order
    std::vector<TCatalogItem*> Photos(int n, int perDay) {
        std::vector<TCatalogItem*> v;
        for (int i = n - 1; i >= 0; --i)
            v.push_back(dir->Add("p" + std::to_string(i) + ".jpg", 40, 30,
                                 EncodeDateTime(2024, 5, 1 + i / perDay, 8 + i % perDay)));
        return v;
    }
    std::vector<std::string> Names(const std::vector<TCatalogItem*>& items) {
        std::vector<std::string> out;
        for (TCatalogItem* it : items) out.push_back(it ? it->GetFileName() : "-");
        return out;
    }
};

}  // namespace

TEST_F(GridModelFixture, SettingsSayWhenTheyChangeAndMakeTheOrder) {
    model.SetFolder(dir->Folder());
    EXPECT_FALSE(model.IsGrouping());  // a disk folder groups only when asked
    EXPECT_FALSE(model.SetSortType(model.SortType()));
    EXPECT_FALSE(model.SetSortType(4));
    EXPECT_FALSE(model.SetSortType(-1));
    EXPECT_TRUE(model.SetSortType(stFileName));
    EXPECT_TRUE(model.SetAlwaysGroup(true));
    EXPECT_FALSE(model.SetAlwaysGroup(true));
    EXPECT_TRUE(model.IsGrouping());
    EXPECT_TRUE(model.SetAscending(false));
    TViewOrder o = model.CurrentOrder();
    EXPECT_EQ(o.SortType, stFileName);
    EXPECT_FALSE(o.Ascending);
    EXPECT_TRUE(o.GroupByDay);
    EXPECT_FALSE(o.GroupByNumber);
    // no folder: nothing to group by
    model.SetFolder(nullptr);
    EXPECT_TRUE(model.IsGrouping());
    model.SetAlwaysGroup(false);
    EXPECT_FALSE(model.IsGrouping());
}

TEST_F(GridModelFixture, CellsFocusAndSelectionFollowTheShownList) {
    model.SetFolder(dir->Folder());
    model.SetSortType(stFileName);
    model.SetAlwaysGroup(true);
    // five photos: three on May 1st, two on the 2nd, shown by name in three columns
    auto photos = Photos(5, 3);
    model.SetLoaded(photos);
    ASSERT_TRUE(model.Resort());
    EXPECT_EQ(Names(model.Sorted()), (std::vector<std::string>{"p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg"}));
    model.LayCells(3, false, 100, 24);
    EXPECT_EQ(Names(model.Cells()), (std::vector<std::string>{"p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg"}));
    ASSERT_EQ(model.RowCount(), 2);
    EXPECT_TRUE(model.RowHasBand(0));
    EXPECT_TRUE(model.RowHasBand(1));
    EXPECT_FALSE(model.RowHasBand(2));
    EXPECT_EQ(model.RowTops(), (std::vector<int>{0, 124, 248}));
    // the second day in two columns: its first row is padded with an empty cell
    model.LayCells(2, false, 100, 24);
    EXPECT_EQ(Names(model.Cells()), (std::vector<std::string>{"p0.jpg", "p1.jpg", "p2.jpg", "-", "p3.jpg", "p4.jpg"}));
    EXPECT_EQ(model.CellOf(photos[0]), 5);  // p4
    EXPECT_EQ(model.RowCells(1, 2), (std::pair<size_t, size_t>{2, 6}));

    // nothing focused: the first photo takes the focus and the selection
    model.PlaceFocus(nullptr);
    EXPECT_EQ(model.FocusedItem()->GetFileName(), "p0.jpg");
    EXPECT_EQ(Names(model.Selection()), (std::vector<std::string>{"p0.jpg"}));
    // a range backwards over the padding: each photo once, the empty cell left out
    model.SelectCells(5, 1, true);
    EXPECT_EQ(Names(model.Selection()), (std::vector<std::string>{"p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg"}));
    model.Select(photos[0]);
    EXPECT_EQ(model.SelectedCount(), 5);
    model.Deselect(photos[2]);  // p2
    EXPECT_FALSE(model.IsSelected(photos[2]));
    EXPECT_EQ(model.ItemList(glkSelection, false).size(), 4u);
    photos[1]->SetMarked(true);  // p3
    EXPECT_EQ(Names(model.ItemList(glkFavourites, false)), (std::vector<std::string>{"p3.jpg"}));
    EXPECT_EQ(model.NextItem(photos[0], false), nullptr);
    EXPECT_EQ(model.NextItem(photos[0], true)->GetFileName(), "p0.jpg");
    EXPECT_EQ(model.PrevItem(nullptr, false), photos[0]);

    // the focused photo and one beside it go: the focus and the selection take the next one
    model.SetFocusCell(model.CellOf(photos[3]));  // p1
    model.RemoveItems({photos[3], photos[2]});    // p1, p2
    EXPECT_EQ(Names(model.Sorted()), (std::vector<std::string>{"p0.jpg", "p3.jpg", "p4.jpg"}));
    EXPECT_EQ(model.Loaded().size(), 3u);
    EXPECT_EQ(Names(model.Selection()), (std::vector<std::string>{"p3.jpg"}));
    EXPECT_EQ(model.Ordered().ShootingDates.size(), 3u);
    EXPECT_EQ(model.Ordered().IndexOf(photos[0]), 2);
    EXPECT_FALSE(model.DateMoved(photos[0]));  // the dates kept with their photos
    model.LayCells(2, false, 100, 24);
    model.PlaceFocus(photos[1]);
    EXPECT_EQ(model.FocusCell(), 2);
    EXPECT_EQ(model.AnchorCell(), 2);
    // the last photo that goes leaves no focus and no selection
    model.RemoveItems({photos[0], photos[1], photos[4]});
    model.LayCells(2, false, 100, 24);
    model.PlaceFocus(nullptr);
    EXPECT_EQ(model.FocusedItem(), nullptr);
    EXPECT_EQ(model.SelectedCount(), 0);
    EXPECT_EQ(model.RowCount(), 1);  // an empty grid has a row all the same
}

TEST_F(GridModelFixture, ChangeBurstsAreDecidedTogether) {
    model.SetFolder(dir->Folder());
    model.SetSortType(stFileTime);
    auto photos = Photos(4, 10);
    model.SetLoaded(photos);
    model.Resort();
    EXPECT_TRUE(TGridModel::IsBatchedChange(cuRenamed));
    EXPECT_TRUE(TGridModel::IsBatchedChange(cuPictureRewritten));
    EXPECT_FALSE(TGridModel::IsBatchedChange(cuOrientation));
    EXPECT_TRUE(TGridModel::IsPictureChange(cuThumbnailStored));
    EXPECT_FALSE(TGridModel::IsPictureChange(cuRating));

    // sorted by time: a rename is painted, a deletion removes, a new picture is made again, a
    // photo that left for a folder below the shown one stays
    model.QueueChange(photos[0], cuRenamed);
    model.QueueChange(photos[1], cuDeleted);
    model.QueueChange(photos[2], cuPictureRewritten);
    model.QueueChange(photos[3], cuLeftFolder);
    EXPECT_EQ(model.PendingChangeCount(), 4);
    TGridChangeBatch b = model.TakeChanges();
    EXPECT_EQ(model.PendingChangeCount(), 0);
    EXPECT_FALSE(b.Resort);
    EXPECT_EQ(b.Remove, (std::vector<TCatalogItem*>{photos[1]}));
    EXPECT_EQ(b.Rewritten, (std::vector<TCatalogItem*>{photos[2]}));
    EXPECT_EQ(b.Repaint, (std::vector<TCatalogItem*>{photos[0], photos[2]}));
    EXPECT_EQ(b.Touched.size(), 4u);

    // by name a rename sorts again; so does a shooting date read since the sort, whatever the event
    model.SetSortType(stFileName);
    model.Resort();
    model.QueueChange(photos[0], cuRenamed);
    EXPECT_TRUE(model.TakeChanges().Resort);
    model.SetSortType(stShootingDate);
    model.Resort();
    photos[1]->SetShootingDate(EncodeDateTime(2020, 1, 1));
    EXPECT_TRUE(model.DateMoved(photos[1]));
    model.QueueChange(photos[1], cuChanged);
    b = model.TakeChanges();
    EXPECT_TRUE(b.Resort);
    EXPECT_TRUE(b.Remove.empty());
}

TEST_F(GridModelFixture, LongListsSortOnTheWorkerAndOnlyTheLastRequestCounts) {
    model.SetFolder(dir->Folder());
    model.SetSortType(stFileName);
    model.SetSyncSortLimit(3);
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<std::pair<uint64_t, TOrderedList>> results;
    model.SetSortDone([&](uint64_t generation, TOrderedList&& list) {
        std::lock_guard<std::mutex> l(lock);
        results.emplace_back(generation, std::move(list));
        arrived.notify_all();
    });
    auto wait = [&](size_t n) {
        std::unique_lock<std::mutex> l(lock);
        return arrived.wait_for(l, std::chrono::seconds(10), [&] { return results.size() >= n; });
    };
    auto photos = Photos(6, 10);
    model.SetLoaded(photos);
    ASSERT_FALSE(model.Resort());
    EXPECT_TRUE(model.IsSorting());
    EXPECT_TRUE(model.Sorted().empty());  // the list on screen stays meanwhile
    ASSERT_TRUE(wait(1));
    // asked again before the first result was taken: the first is dropped
    model.SetAscending(false);
    ASSERT_FALSE(model.Resort());
    ASSERT_TRUE(wait(2));
    EXPECT_FALSE(model.TakeSorted(results[0].first, std::move(results[0].second)));
    EXPECT_TRUE(model.IsSorting());
    EXPECT_TRUE(model.TakeSorted(results[1].first, std::move(results[1].second)));
    EXPECT_FALSE(model.IsSorting());
    EXPECT_EQ(model.Sorted().front()->GetFileName(), "p5.jpg");
    EXPECT_FALSE(model.ShownOrder().Ascending);
    EXPECT_EQ(model.SortsOnWorker(), 2);
    // a cancelled sort's result does not count either
    model.SetAscending(true);
    ASSERT_FALSE(model.Resort());
    ASSERT_TRUE(wait(3));
    model.CancelSort();
    EXPECT_FALSE(model.TakeSorted(results[2].first, std::move(results[2].second)));
    EXPECT_EQ(model.Sorted().front()->GetFileName(), "p5.jpg");
}

TEST(PictureMemory, KeepsToItsBudgetLeastRecentlyDrawnFirstAndSparesWhatIsKept) {
    TPictureMemory<std::string> memory;
    auto* a = reinterpret_cast<TCatalogItem*>(0x10);
    auto* b = reinterpret_cast<TCatalogItem*>(0x20);
    auto* c = reinterpret_cast<TCatalogItem*>(0x30);
    memory.Put(a, "a", 10);
    memory.Put(b, "b", 10);
    memory.Put(c, "c", 10);
    EXPECT_EQ(memory.Bytes(), 30u);
    // a replaced picture counts at its new size
    memory.Put(b, "B", 15);
    EXPECT_EQ(memory.Bytes(), 35u);
    EXPECT_EQ(*memory.Find(b), "B");
    // a drawn now: c is the least recently drawn, then b; what is kept stays whatever it costs
    ASSERT_NE(memory.Touch(a), nullptr);
    memory.Trim(25, [&](TCatalogItem* it) { return it == c; });
    EXPECT_TRUE(memory.Has(c));
    EXPECT_FALSE(memory.Has(b));
    EXPECT_TRUE(memory.Has(a));
    EXPECT_EQ(memory.Bytes(), 20u);
    memory.Trim(0, [](TCatalogItem*) { return true; });
    EXPECT_EQ(memory.Count(), 2u);
    EXPECT_TRUE(memory.Forget(a));
    EXPECT_FALSE(memory.Forget(a));
    EXPECT_EQ(memory.Bytes(), 10u);
    memory.Trim(0, [](TCatalogItem*) { return false; });
    EXPECT_EQ(memory.Count(), 0u);
    EXPECT_EQ(memory.Bytes(), 0u);
    EXPECT_EQ(memory.Find(c), nullptr);
}

TEST(GridThumbRequests, TheScreenFirstThenAheadInTheScrollDirection) {
    // ten rows of two cells, item i in cell i (row 4 holds 8 and 9); the screen shows rows 4 and 5
    std::vector<TCatalogItem*> cells;
    for (int i = 0; i < 20; ++i) cells.push_back(reinterpret_cast<TCatalogItem*>(static_cast<uintptr_t>(16 * (i + 1))));
    cells[9] = nullptr;
    auto index = [&](TCatalogItem* it) { return static_cast<int>(reinterpret_cast<uintptr_t>(it) / 16 - 1); };
    // the cache holds nothing for item 8, a smaller picture for 10, the size wanted for the rest;
    // the grid has 11's picture
    auto cached = [&](TCatalogItem* it) { return index(it) == 8 ? 0 : index(it) == 10 ? 60 : 80; };
    auto inMemory = [&](TCatalogItem* it) { return index(it) == 11; };
    TGridThumbRequests requests;
    std::vector<TCatalogItem*> read, make;
    auto indices = [&](const std::vector<TCatalogItem*>& v) {
        std::vector<int> out;
        for (TCatalogItem* it : v) out.push_back(index(it));
        return out;
    };
    requests.Plan(cells, 2, 10, 4, 2, false, 80, cached, inMemory, read, make);
    EXPECT_EQ(indices(read), (std::vector<int>{10, 12, 13, 14, 15, 16, 17, 18, 19}));
    EXPECT_EQ(indices(make), (std::vector<int>{8, 10}));
    read.clear();
    make.clear();
    // scrolled up: the rows above, nearest first, two screens at the most
    requests.Plan(cells, 2, 10, 4, 2, true, 80, cached, inMemory, read, make);
    EXPECT_EQ(indices(read), (std::vector<int>{10, 6, 7, 4, 5, 2, 3, 0, 1}));
    EXPECT_EQ(indices(make), (std::vector<int>{8, 10}));

    requests.Asked(read);
    EXPECT_TRUE(requests.IsAsked(cells[6]));
    requests.Answered(cells[6]);
    EXPECT_FALSE(requests.IsAsked(cells[6]));
    // the maker hears of a range once, and again after it is forgotten
    EXPECT_TRUE(requests.NewMakeRange(1, 4, 80, false));
    EXPECT_FALSE(requests.NewMakeRange(1, 4, 80, false));
    EXPECT_TRUE(requests.NewMakeRange(1, 4, 80, true));
    requests.ForgetMakeRange();
    EXPECT_TRUE(requests.NewMakeRange(1, 4, 80, true));
}

TEST_F(GridModelFixture, TheListerHandsBackItsListInTheOrderAskedThroughThePost) {
    for (const char* name : {"c.jpg", "a.jpg", "b.jpg"}) std::ofstream(dir->Path(name)) << "x";
    TPostQueue queue;
    std::vector<uint64_t> started;
    uint64_t listedTicket = 0;
    std::vector<std::string> names;
    int needs = -1;
    TViewOrder order;
    order.SortType = stFileName;
    order.Ascending = false;
    TGridLister lister(
        queue.Post(), [&](uint64_t t) { started.push_back(t); },
        [&](uint64_t t, std::vector<TCatalogItem*> items, TOrderedList&& ordered, const TViewOrder& o, int needsDates) {
            listedTicket = t;
            EXPECT_EQ(items.size(), 3u);
            EXPECT_TRUE(o == order);
            names = Names(ordered.Items);
            needs = needsDates;
            EXPECT_EQ(needsDates, NeedsShootingDates(items) ? 1 : 0);
        });
    EXPECT_FALSE(lister.Start(nullptr, 1, 0, 99, order));
    ASSERT_TRUE(lister.Start(dir->Folder(), 7, 0, 99, order));
    ASSERT_TRUE(queue.RunUntil([&] { return listedTicket != 0; }));
    EXPECT_EQ(listedTicket, 7u);
    EXPECT_EQ(started, (std::vector<uint64_t>{7}));
    EXPECT_EQ(names, (std::vector<std::string>{"c.jpg", "b.jpg", "a.jpg"}));
    EXPECT_GE(needs, 0);
    lister.Stop();
}
