#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "library/calendar.h"
#include "library/catalog_item.h"
#include "library/folder_tree_list.h"
#include "platform/ui_dispatch.h"

using namespace fv;

namespace {

TDateTime D(int y, int m, int d, int h = 12) { return EncodeDateTime(y, m, d, h); }

struct TRecorder {
    std::thread::id Ui = std::this_thread::get_id();
    std::vector<std::pair<TCustomFolder*, int>> Events;
    int WrongThread = 0;
    void On(TCustomFolder* f, int code, intptr_t) {
        if (std::this_thread::get_id() != Ui) ++WrongThread;
        Events.emplace_back(f, code);
    }
    int Count(int code, TCustomFolder* f = nullptr) const {
        int n = 0;
        for (auto& e : Events)
            if (e.second == code && (!f || e.first == f)) ++n;
        return n;
    }
};

struct CalendarTest : ::testing::Test {
    TQueueDispatcher ui;
    void SetUp() override { SetUiDispatcher(&ui); }
    void TearDown() override { SetUiDispatcher(nullptr); }
    bool PumpUntil(const std::function<bool()>& done, int ms = 5000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) return false;
            ui.WaitAndProcess(5);
        }
        return true;
    }
};

std::unique_ptr<TCatalogItem> Photo(TDateTime shot, uint8_t kind = 1) {
    auto it = std::make_unique<TCatalogItem>();
    it->SetKind(kind);
    it->SetShootingDate(shot);
    return it;
}

}  // namespace

TEST_F(CalendarTest, NodesCaptionsPathsAndGauges) {
    TCalendarRoot root(Now());
    EXPECT_EQ(root.GetCaption(), "カレンダー");
    EXPECT_EQ(root.GetSlotCount(), 200);
    EXPECT_EQ(root.GetSlotIndex(D(1899, 12, 31)), 1);
    EXPECT_EQ(root.GetSlotIndex(D(2098, 1, 1)), 200);
    EXPECT_EQ(root.GetSlotIndex(D(2099, 1, 1)), -1);
    EXPECT_EQ(root.GetSlotIndex(std::nan("")), -1);
    EXPECT_EQ(root.FindOrCreateNode(true, D(2099, 1, 1)), &root);  // no slot: nothing created

    TCalendar* day = root.FindOrCreateNode(true, D(2026, 12, 8, 9));
    ASSERT_EQ(day->GetFolderKind(), fkCalendarDay);
    EXPECT_EQ(day->GetCaption(), "08日(火)");
    EXPECT_EQ(day->GetFullName(), "2026年12月08日(火)");
    EXPECT_EQ(day->GetParentNode()->GetCaption(), "12月");
    EXPECT_EQ(day->GetParentNode()->GetFullName(), "2026年12月");
    EXPECT_EQ(day->GetParentNode()->GetParentNode()->GetCaption(), "2026年");
    EXPECT_EQ(day->GetCategory(), 3);
    EXPECT_EQ(root.FindOrCreateNode(true, D(2026, 12, 8, 23)), day);
    // with create off the descent stops at the deepest existing node
    EXPECT_EQ(root.FindOrCreateNode(false, D(2026, 3, 1)), day->GetParentNode()->GetParentNode());
    // paths: the full name of a day leads back to it; a missing month stops at the year
    EXPECT_EQ(root.FindByPath(day->GetFullName()), day);
    EXPECT_EQ(root.FindByPath("2026年03月"), day->GetParentNode()->GetParentNode());
    TCalendar* march = root.FindOrCreateNode(true, D(2026, 3, 5))->GetParentNode();
    EXPECT_EQ(root.FindByPath("2026年03月"), march);
    EXPECT_EQ(root.FindByPath("カレンダー"), &root);
    EXPECT_EQ(root.FindByPath("99999999999999999999年"), &root);

    // gauges
    TCalendarGauge g;
    root.FindOrCreateNode(true, D(2024, 2, 10))->GetParentNode()->GetGauge(g);
    EXPECT_EQ(g.FirstValue, 1);
    EXPECT_EQ(g.Bars.size(), 29u);  // February of a leap year
    auto p1 = Photo(D(2026, 12, 8, 9)), p2 = Photo(D(2026, 12, 8, 9)), p3 = Photo(D(2026, 12, 8, 21));
    day->AddItem(p1.get(), p1->GetShootingDate());
    day->AddItem(p2.get(), p2->GetShootingDate());
    day->AddItem(p3.get(), p3->GetShootingDate());
    EXPECT_FALSE(day->AddItem(p3.get(), 0));  // once per day
    day->GetGauge(g);
    ASSERT_EQ(g.Bars.size(), 24u);
    EXPECT_EQ(g.Bars[9].Count, 2);
    EXPECT_EQ(g.Bars[21].Count, 1);
    EXPECT_EQ(g.Bars[21].Caption, "21");
    EXPECT_NEAR(g.Bars[21].End - g.Bars[21].Start, 1.0 / 24, 1e-9);
    day->GetParentNode()->GetGauge(g);
    EXPECT_EQ(g.Bars.size(), 31u);
    EXPECT_EQ(g.Bars[7].Count, 3);
    EXPECT_EQ(g.Bars[7].Node, day);
    EXPECT_EQ(g.Bars[6].Node, nullptr);
    day->GetParentNode()->GetParentNode()->GetGauge(g);
    EXPECT_EQ(g.Bars[11].Count, 3);
    EXPECT_EQ(g.Bars[11].Caption, "12月");
    EXPECT_DOUBLE_EQ(g.Bars[11].End, D(2027, 1, 1, 0));
    root.GetGauge(g);
    EXPECT_EQ(g.FirstValue, 2024);
    ASSERT_EQ(g.Bars.size(), 3u);
    EXPECT_EQ(g.Bars[2].Count, 3);
    EXPECT_EQ(g.Bars[1].Node, nullptr);
    EXPECT_EQ(g.Bars[0].Caption, "2024年");
    TCalendarRoot empty(Now());
    empty.GetGauge(g);
    EXPECT_TRUE(g.Bars.empty());
}

TEST_F(CalendarTest, HasItemsPropagatesWithItsEventsAndNeighboursSkipEmptyDays) {
    TRecorder rec;  // outlives the root, whose nodes report their removal to it
    TCalendarRoot root(Now());
    root.SetUpdateEvent(MakeFolderUpdateEvent<TRecorder, &TRecorder::On>(&rec));
    auto a = Photo(D(2025, 5, 1)), b = Photo(D(2025, 6, 1)), c = Photo(D(2024, 11, 30));
    TCalendar* may1 = root.FindOrCreateNode(true, D(2025, 5, 1));
    TCalendar* may = may1->GetParentNode();
    TCalendar* year = may->GetParentNode();
    may1->AddItem(a.get(), D(2025, 5, 1));
    EXPECT_TRUE(may->HasItems() && year->HasItems() && root.HasItems());
    EXPECT_EQ(rec.Count(fePresenceSet), 4);
    TCalendar* jun1 = root.FindOrCreateNode(true, D(2025, 6, 1));
    jun1->AddItem(b.get(), D(2025, 6, 1));
    EXPECT_EQ(rec.Count(fePresenceSet), 6);  // the year had items already
    may1->RemoveItemKeep(a.get());
    EXPECT_FALSE(may->HasItems());
    EXPECT_TRUE(year->HasItems());
    EXPECT_EQ(rec.Count(fePresenceCleared, may1), 1);
    EXPECT_EQ(may1->GetRemovedItemCount(), 1);
    // previous and next with items skip empty days, months and years
    TCalendar* nov30 = root.FindOrCreateNode(true, D(2024, 11, 30));
    nov30->AddItem(c.get(), D(2024, 11, 30));
    root.FindOrCreateNode(true, D(2025, 1, 3));  // a day without items
    EXPECT_EQ(jun1->GetPrevious(true), nov30);
    EXPECT_EQ(jun1->GetPrevious(false), may1);
    EXPECT_EQ(nov30->GetNext(true), jun1);
    EXPECT_EQ(nov30->GetNext(false)->GetFullName(), "2025年01月03日(金)");
    EXPECT_EQ(jun1->GetNext(true), nullptr);
    // kept nodes with items, each before its children
    year->SetKeep(true);
    jun1->SetKeep(true);
    may1->SetKeep(true);  // no items: not kept
    std::vector<TCalendar*> kept;
    root.CollectKept(kept);
    EXPECT_EQ(kept, (std::vector<TCalendar*>{year, jun1}));
}

TEST_F(CalendarTest, DateChangesMoveItemsThroughTheWatcher) {
    TCalendarRoot* root = AcquireCalendarRoot();
    EXPECT_EQ(AcquireCalendarRoot(), root);
    ReleaseCalendarRoot(root);
    TRecorder rec;
    root->SetUpdateEvent(MakeFolderUpdateEvent<TRecorder, &TRecorder::On>(&rec));
    auto a = Photo(D(2025, 5, 1));
    auto undated = Photo(0);
    auto music = Photo(D(2025, 5, 1), 6);
    a->SetInCalendar(true);
    undated->SetInCalendar(true);
    music->SetInCalendar(true);
    auto dayOf = [&](TDateTime d) { return root->FindOrCreateNode(false, d); };
    ASSERT_TRUE(PumpUntil([&] { return dayOf(D(2025, 5, 1))->GetItemCount() == 1; }));
    TCalendar* may1 = dayOf(D(2025, 5, 1));
    EXPECT_EQ(may1->GetFolderKind(), fkCalendarDay);
    // moved within about 100 ms; May 1 loses its only item and says so
    a->SetShootingDate(D(2025, 6, 1));
    ASSERT_TRUE(PumpUntil([&] { return dayOf(D(2025, 6, 1))->GetItemCount() == 1; }));
    EXPECT_EQ(may1->GetItemCount(), 0);
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(fePresenceCleared, may1) == 1; }));
    EXPECT_FALSE(may1->GetParentNode()->HasItems());
    // an undated item is filed once it gets a date; non-images never are
    EXPECT_EQ(root->GetTotalItemCount(), 1);
    undated->SetShootingDate(D(2001, 1, 2));
    ASSERT_TRUE(PumpUntil([&] { return dayOf(D(2001, 1, 2))->GetItemCount() == 1; }));
    EXPECT_EQ(root->GetTotalItemCount(), 2);
    // deleted items leave
    a->SetState(isDeleted);
    ASSERT_TRUE(PumpUntil([&] { return root->GetTotalItemCount() == 1; }));
    EXPECT_EQ(rec.WrongThread, 0);
    root->SetUpdateEvent(TFolderUpdateEvent{});
    ReleaseCalendarRoot(root);
    // without a calendar the hook does nothing
    undated->SetShootingDate(D(2002, 1, 2));
}

TEST_F(CalendarTest, MovesFromManyThreadsGiveOneEventEachOnTheUiThread) {
    TCalendarRoot* root = AcquireCalendarRoot();
    TRecorder rec;
    root->SetUpdateEvent(MakeFolderUpdateEvent<TRecorder, &TRecorder::On>(&rec));
    constexpr int kThreads = 4, kItems = 50, kMoves = 5;
    std::vector<std::unique_ptr<TCatalogItem>> items;
    for (int i = 0; i < kThreads * kItems; ++i) {
        items.push_back(Photo(D(2020, 1, 1 + i % 28)));
        items.back()->SetInCalendar(true);
    }
    ASSERT_TRUE(PumpUntil([&] { return root->GetTotalItemCount() == kThreads * kItems; }));
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(feItemsChanged) == kThreads * kItems; }));
    rec.Events.clear();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int m = 1; m <= kMoves; ++m)
                for (int i = 0; i < kItems; ++i) {
                    size_t k = static_cast<size_t>(t * kItems + i);
                    items[k]->SetShootingDate(D(2020 + m, 1 + (t + m) % 12, 1 + i % 28));
                }
        });
    for (auto& th : threads) th.join();
    const int moves = kThreads * kItems * kMoves;
    ASSERT_TRUE(PumpUntil([&] { return rec.Count(feItemsChanged) >= moves; }));
    ui.WaitAndProcess(300);
    EXPECT_EQ(rec.Count(feItemsChanged), moves);
    EXPECT_EQ(rec.WrongThread, 0);
    // every item sits in exactly the day of its last date
    EXPECT_EQ(root->GetTotalItemCount(), kThreads * kItems);
    for (auto& it : items) {
        TCalendar* day = root->FindOrCreateNode(false, it->GetShootingDate());
        TItemList list;
        day->GetItems(list);
        EXPECT_NE(std::find(list.begin(), list.end(), it.get()), list.end());
    }
    root->SetUpdateEvent(TFolderUpdateEvent{});
    ReleaseCalendarRoot(root);
}

TEST_F(CalendarTest, RegisteredItemsOfALoadedTreeAreFiledOnTheirDay) {
    TFolderTreeList tree;
    TDriveInfoRec info;
    info.Drive = "/";
    TFolder* f = tree.FindOrCreateFolder(info, "/p");
    const char* names[] = {"a.jpg", "b.jpg", "c.mp3", "d.jpg", "e.jpg"};
    for (int i = 0; i < 5; ++i) {
        TCatalogItem* it = f->FindOrCreateItem(names[i], nullptr);
        it->SetKind(i == 2 ? 6 : 1);
        it->SetShootingDate(i == 3 ? 0 : D(2023, 7, 1 + i));
        it->SetInCalendar(i != 4);
    }
    TMemoryStream m;
    int32_t n;
    tree.SaveTree(m, n);
    TFolderTreeList back;
    m.SetPosition(0);
    back.LoadTree(m);
    auto index = back.BuildItemIndex();
    TCalendarRoot root(Now());
    root.RegisterItems(*index);
    EXPECT_EQ(root.GetTotalItemCount(), 2);  // a and b; not the non-image, the undated or the unregistered
    EXPECT_EQ(root.FindOrCreateNode(false, D(2023, 7, 2))->GetItemCount(), 1);
}

namespace {
// counts the calls made to the UI thread (each is one slice of its time)
struct TCountingDispatcher : TQueueDispatcher {
    std::atomic<int> Calls{0};
    void RunOnUiThread(std::function<void()> fn, bool wait) override {
        ++Calls;
        TQueueDispatcher::RunOnUiThread(std::move(fn), wait);
    }
};
}  // namespace

TEST(CalendarBurst, ABurstOfEventsReachesTheUiThreadInSlicesEachEventOnceAndInOrder) {
    TCountingDispatcher ui;
    SetUiDispatcher(&ui);
    TCalendarRoot* root = AcquireCalendarRoot();
    // a subscriber that takes a while per event: 2,000 events are far more than one slice
    struct TSlowRecorder {
        TCountingDispatcher* Ui;
        std::vector<TCustomFolder*> Nodes;
        std::vector<int> Slice;
        void On(TCustomFolder* f, int code, intptr_t) {
            if (code != feItemsChanged) return;
            Nodes.push_back(f);
            Slice.push_back(Ui->Calls.load());
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(100);
            while (std::chrono::steady_clock::now() < until) {
            }
        }
    } rec{&ui, {}, {}};
    root->SetUpdateEvent(MakeFolderUpdateEvent<TSlowRecorder, &TSlowRecorder::On>(&rec));
    constexpr int kItems = 2000;
    std::vector<std::unique_ptr<TCatalogItem>> items;
    for (int i = 0; i < kItems; ++i) items.push_back(Photo(D(2021, 1 + i % 12, 1 + i % 28)));
    // filed in this order by the watcher, all in one go
    for (auto& it : items) it->SetInCalendar(true);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (rec.Nodes.size() < size_t(kItems) && std::chrono::steady_clock::now() < end) ui.WaitAndProcess(5);
    ui.WaitAndProcess(200);
    ASSERT_EQ(rec.Nodes.size(), size_t(kItems));
    for (int i = 0; i < kItems; ++i)
        ASSERT_EQ(rec.Nodes[i], root->FindOrCreateNode(false, items[i]->GetShootingDate())) << "event " << i;
    // delivered over many calls, not in one: at 100 us an event, a few ms a slice
    std::vector<int> slices(rec.Slice);
    slices.erase(std::unique(slices.begin(), slices.end()), slices.end());
    EXPECT_GE(slices.size(), 10u);
    root->SetUpdateEvent(TFolderUpdateEvent{});
    ReleaseCalendarRoot(root);
    SetUiDispatcher(nullptr);
}
