#include <gtest/gtest.h>

#include "library/custom_folder.h"
#include "library_test_util.h"
#include "platform/stream.h"

using namespace fv;
using fvtest::TFakeFolder;

TEST(CustomFolder, KindsMapToCategories) {
    EXPECT_EQ(FolderCategory(fkFolder), 1);
    EXPECT_EQ(FolderCategory(fkRoot), 1);
    EXPECT_EQ(FolderCategory(2), 1);
    EXPECT_EQ(FolderCategory(fkAlbum), 2);
    EXPECT_EQ(FolderCategory(fkSearchAlbum), 2);
    EXPECT_EQ(FolderCategory(5), 2);
    EXPECT_EQ(FolderCategory(fkCalendarDay), 3);
    EXPECT_EQ(FolderCategory(fkCalendarRoot), 3);
    EXPECT_EQ(FolderCategory(10), 0);
    EXPECT_EQ(FolderCategory(-1), 0);
}

TEST(CustomFolder, CheckStateKeepAndOptionsShareTheFlagByte) {
    TFakeFolder f(fkFolder);
    f.SetCheckState(csExcluded);
    EXPECT_EQ(f.GetFlagByte(), 0x04);
    f.SetCheckState(csRegistered);
    EXPECT_EQ(f.GetFlagByte(), 0x02);  // only bit 1 left
    EXPECT_EQ(f.GetCheckState(), csRegistered);
    f.SetCheckState(7);  // unknown states change nothing
    EXPECT_EQ(f.GetCheckState(), csRegistered);
    f.SetKeep(true);
    f.SetOptionsFollow(true);
    EXPECT_EQ(f.GetFlagByte(), 0x0B);
    f.SetCheckState(csUndecided);
    f.SetKeep(false);
    EXPECT_EQ(f.GetFlagByte(), 0x08);

    TMemoryStream m;
    f.SetKeep(true);
    f.SaveToStream(m);
    ASSERT_EQ(m.Size(), 1);
    EXPECT_EQ(m.Data()[0], 0x09);
    m.SetPosition(0);
    TFakeFolder g(fkFolder);
    g.LoadFromStream(m);
    EXPECT_TRUE(g.GetKeep());
    EXPECT_TRUE(g.GetOptionsFollow());
    // an empty stream is a read error, not garbage
    TMemoryStream empty;
    EXPECT_THROW(g.LoadFromStream(empty), EReadError);
}

TEST(CustomFolder, TotalsAndEmptyKindSet) {
    TFakeFolder root(fkFolder, 2, 1), a(fkFolder, 3, 0), b(fkFolder, 5, 2);
    root.Subs = {&a, &b};
    EXPECT_EQ(root.GetTotalItemCount(), 10);
    EXPECT_EQ(root.GetTotalMarkedItemCount(), 3);
    EXPECT_EQ(root.GetTotalItemCountOfKinds(1), 10);
    a.KindQueries = b.KindQueries = 0;
    root.SubFolderQueries = 0;
    EXPECT_EQ(root.GetTotalItemCountOfKinds(0), 0);
    EXPECT_EQ(a.KindQueries + b.KindQueries + root.SubFolderQueries, 0);
}

namespace {
struct TRecorder {
    std::vector<std::pair<TCustomFolder*, int>> Events;
    void OnEvent(TCustomFolder* f, int code, intptr_t) { Events.emplace_back(f, code); }
};
}  // namespace

TEST(CustomFolder, UpdateCountsAndTotalsReportChangesOnce) {
    TRecorder rec;
    TFakeFolder root(fkFolder, 2, 1), sub(fkFolder, 3, 1);
    root.Subs = {&sub};
    root.SetUpdateEvent(MakeFolderUpdateEvent<TRecorder, &TRecorder::OnEvent>(&rec));
    EXPECT_EQ(sub.GetUpdateEvent(), root.GetUpdateEvent());  // passed down

    EXPECT_TRUE(root.UpdateTotals(true));
    EXPECT_EQ(root.SubtreeItemCount(), 5);
    EXPECT_EQ(root.SubtreeMarkedCount(), 2);
    EXPECT_EQ(sub.SubtreeItemCount(), 3);
    // sub and root each announce new totals once
    EXPECT_EQ(rec.Events.size(), 2u);
    EXPECT_FALSE(root.UpdateTotals(true));
    EXPECT_EQ(rec.Events.size(), 2u);
    EXPECT_FALSE(root.UpdateCounts(true));
}

TEST(CustomFolder, CalendarDayNeverDescendsAndUpperNodesTakeTotals) {
    TFakeFolder day(fkCalendarDay, 4, 0), stray(fkCalendarDay, 9, 0);
    day.Subs = {&stray};
    day.SubFolderQueries = 0;
    day.UpdateTotals(false);
    EXPECT_EQ(day.SubtreeItemCount(), 4);
    EXPECT_EQ(day.SubFolderQueries, 0);

    TFakeFolder month(fkCalendarMonth, 0, 0), d1(fkCalendarDay, 2, 1), d2(fkCalendarDay, 3, 0);
    month.Subs = {&d1, &d2};
    EXPECT_TRUE(month.UpdateCounts(false));
    EXPECT_EQ(month.OwnItemCount(), 5);  // totals for months, years and the root
    month.UpdateTotals(false);
    EXPECT_EQ(month.SubtreeItemCount(), 5);  // not counted twice
    EXPECT_EQ(month.SubtreeMarkedCount(), 1);
}

TEST(CustomFolder, SearchFilesIsNotSupportedByTheBase) {
    TFakeFolder f(fkAlbum);
    try {
        f.SearchFiles(nullptr);
        FAIL();
    } catch (const ECustomFolderError& e) {
        EXPECT_EQ(e.Message(), "TFakeFolder では SearchFilesEx はサポートされていません。");
        EXPECT_STREQ(e.ClassName(), "ECustomFolderError");
    }
    EXPECT_THROW(f.SearchFilesEx(1, nullptr), ECustomFolderError);
    EXPECT_EQ(f.GetAlbumType(), 13);
    EXPECT_EQ(f.GetAlbumTypeName(), "未対応");
}

namespace {
struct TView {
    std::string Name;
    std::vector<std::string>* Log;
    bool Throw = false;
    bool ThrowForeign = false;
    void OnEvent(TCustomFolder*, int code, intptr_t) {
        Log->push_back(Name + ":" + std::to_string(code));
        if (Throw) throw Exception("view broke");
        if (ThrowForeign) throw std::runtime_error("not ours");
    }
};
}  // namespace

TEST(FolderUpdateMaster, NewestFirstAndFailingSubscribersAreDropped) {
    std::vector<std::string> log;
    TView a{"a", &log}, b{"b", &log}, c{"c", &log};
    b.Throw = true;
    TFolderUpdateMaster master;
    auto ev = [](TView* v) { return MakeFolderUpdateEvent<TView, &TView::OnEvent>(v); };
    master.Add(&a, "TView", ev(&a));
    master.Add(&b, "TView", ev(&b));
    master.Add(&c, "TView", ev(&c));
    master.Add(&c, "TView", TFolderUpdateEvent{});  // no function: ignored
    master.Add(nullptr, "TView", ev(&a));           // no subscriber: ignored
    EXPECT_EQ(master.Count(), 3u);

    TFakeFolder f(fkFolder);
    f.SetUpdateEvent(master.AsUpdateEvent());
    f.DoUpdated(feItemsChanged, 0);
    EXPECT_EQ(log, (std::vector<std::string>{"c:12", "b:12", "a:12"}));
    EXPECT_EQ(master.Count(), 2u);
    log.clear();
    f.NotifyItemsChanged();
    EXPECT_EQ(log, (std::vector<std::string>{"c:12", "a:12"}));

    // the same pair twice is kept twice and removed together
    master.Add(&a, "TView", ev(&a));
    EXPECT_EQ(master.Count(), 3u);
    master.Remove(&a, ev(&a));
    EXPECT_EQ(master.Count(), 1u);

    // exceptions that are not ours pass through
    c.ThrowForeign = true;
    EXPECT_THROW(f.DoUpdated(feNameChanged, 0), std::runtime_error);
    EXPECT_EQ(master.Count(), 1u);
}

namespace {
struct TSelfRemover {
    TFolderUpdateMaster* Master;
    int Calls = 0;
    void OnEvent(TCustomFolder*, int, intptr_t) {
        ++Calls;
        Master->Remove(this, MakeFolderUpdateEvent<TSelfRemover, &TSelfRemover::OnEvent>(this));
    }
};
}  // namespace

TEST(FolderUpdateMaster, SubscriberMayRemoveItselfDuringAnEvent) {
    TFolderUpdateMaster master;
    TSelfRemover a{&master}, b{&master};
    master.Add(&a, "TSelfRemover", MakeFolderUpdateEvent<TSelfRemover, &TSelfRemover::OnEvent>(&a));
    master.Add(&b, "TSelfRemover", MakeFolderUpdateEvent<TSelfRemover, &TSelfRemover::OnEvent>(&b));
    TFakeFolder f(fkFolder);
    master.DoEvent(&f, feCreated, 0);
    EXPECT_EQ(a.Calls, 1);
    EXPECT_EQ(b.Calls, 1);
    EXPECT_EQ(master.Count(), 0u);
}
