// Folders that update themselves: real inotify in a temporary folder, the library's real tree.
#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "library/catalog_item.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "library/library_test_util.h"
#include "library/live_folders.h"

using namespace fv;
using namespace fvtest;
using namespace std::chrono_literals;

namespace {

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return done();
}

struct LiveFolders : TempDirTest {
    TFolderTreeList tree;
    std::unique_ptr<TLiveFolders> live;
    std::mutex lock;
    std::map<TCustomFolder*, int> itemEvents;  // event 12 per folder
    std::vector<std::pair<TCatalogItem*, uint8_t>> catalogEvents;
    std::map<TFolder*, int> rescans;

    void OnFolderEvent(TCustomFolder* f, int code, intptr_t) {
        std::lock_guard g(lock);
        if (code == feItemsChanged) ++itemEvents[f];
    }
    int ItemEvents(TCustomFolder* f) {
        std::lock_guard g(lock);
        return itemEvents[f];
    }
    int Rescans(TFolder* f) {
        std::lock_guard g(lock);
        return rescans[f];
    }
    bool HasCatalogEvent(TCatalogItem* item, uint8_t type) {
        std::lock_guard g(lock);
        for (auto& [i, t] : catalogEvents)
            if (i == item && t == type) return true;
        return false;
    }

    // a folder of the tree, registered in the calendar or not, that reports its events here
    TFolder* Folder(const std::string& rel, bool registered) {
        fs::create_directories(dir / rel);
        TFolder* f = tree.FindOrCreateFolderByPath(Path(rel));
        EXPECT_NE(f, nullptr);
        TFolder* top = f;
        while (top->GetParentFolder()) top = top->GetParentFolder();
        top->SetUpdateEvent(MakeFolderUpdateEvent<LiveFolders, &LiveFolders::OnFolderEvent>(this));
        if (registered) f->SetCheckState(csRegistered);
        return f;
    }
    void Begin(TLiveFolders::TOptions o = Quick()) {
        live = std::make_unique<TLiveFolders>(&tree, o);
        live->SetItemEventProc([this](TCatalogItem* item, uint8_t type) {
            std::lock_guard g(lock);
            catalogEvents.emplace_back(item, type);
        });
        live->SetRescanObserver([this](TFolder* f, const TFolderRescan&) {
            std::lock_guard g(lock);
            ++rescans[f];
        });
        ASSERT_TRUE(live->Start());
    }
    static TLiveFolders::TOptions Quick() {
        TLiveFolders::TOptions o;
        o.QuietMs = 60;
        o.CapMs = 400;
        o.SettleMs = 300;
        o.FallbackMs = 300;
        o.ResyncMs = 200;
        o.Kinds = kDefaultKindSet;
        return o;
    }
    void TearDown() override {
        if (live) live->Stop();
        live.reset();
        TempDirTest::TearDown();
    }
    static bool Present(TFolder* f, const std::string& name) {
        TCatalogItem* it = f->FindItem(name);
        return it && it->GetState() == isPresent;
    }
};

}  // namespace

TEST_F(LiveFolders, FollowsFilesCreatedRenamedMovedOutAndDeleted) {
    TFolder* f = Folder("photos", true);
    Begin();
    ASSERT_TRUE(WaitUntil([&] { return live->IsWatched(f); }));

    WriteFile(dir / "photos/a.jpg", "not really a jpeg");
    ASSERT_TRUE(WaitUntil([&] { return Present(f, "a.jpg"); }));
    EXPECT_TRUE(WaitUntil([&] { return ItemEvents(f) > 0; }));  // the views list the folder again
    TCatalogItem* a = f->FindItem("a.jpg");

    fs::rename(dir / "photos/a.jpg", dir / "photos/b.jpg");
    ASSERT_TRUE(WaitUntil([&] { return Present(f, "b.jpg") && !f->FindItem("a.jpg"); }));
    EXPECT_TRUE(WaitUntil([&] { return HasCatalogEvent(a, 2); }));
    EXPECT_EQ(a->GetState(), isDeleted);

    // renamed out of the watched folder, then deleted from it
    fs::create_directories(dir / "elsewhere");
    TCatalogItem* b = f->FindItem("b.jpg");
    fs::rename(dir / "photos/b.jpg", dir / "elsewhere/b.jpg");
    ASSERT_TRUE(WaitUntil([&] { return !f->FindItem("b.jpg"); }));
    EXPECT_TRUE(WaitUntil([&] { return HasCatalogEvent(b, 2); }));
    WriteFile(dir / "photos/c.jpg", "x");
    ASSERT_TRUE(WaitUntil([&] { return Present(f, "c.jpg"); }));
    fs::remove(dir / "photos/c.jpg");
    ASSERT_TRUE(WaitUntil([&] { return !f->FindItem("c.jpg"); }));

    // a folder made inside a registered one is registered, watched and read
    fs::create_directories(dir / "photos/day2");
    WriteFile(dir / "photos/day2/d.jpg", "x");
    ASSERT_TRUE(WaitUntil([&] { return f->FindSubFolder("day2") && Present(f->FindSubFolder("day2"), "d.jpg"); }));
    TFolder* day2 = f->FindSubFolder("day2");
    EXPECT_TRUE(WaitUntil([&] { return live->IsWatched(day2); }));
    WriteFile(dir / "photos/day2/e.jpg", "x");
    EXPECT_TRUE(WaitUntil([&] { return Present(day2, "e.jpg"); }));
    // files of other kinds are left alone
    WriteFile(dir / "photos/notes.txt", "x");
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(f->FindItem("notes.txt"), nullptr);
}

TEST_F(LiveFolders, CoalescesABurstAndStillUpdatesASteadyStream) {
    TFolder* f = Folder("burst", true);
    Begin();
    ASSERT_TRUE(WaitUntil([&] { return live->IsWatched(f); }));

    for (int i = 0; i < 300; ++i) WriteFile(dir / ("burst/p" + std::to_string(i) + ".jpg"), "x");
    ASSERT_TRUE(WaitUntil([&] { return f->GetItemCount() == 300; }));
    std::this_thread::sleep_for(300ms);
    // 300 files in a few rescans, not one per file
    EXPECT_LT(Rescans(f), 10);

    // a file every 30 ms never leaves the folder quiet for 60 ms; the cap still rescans it
    int before = Rescans(f);
    auto start = std::chrono::steady_clock::now();
    bool seenDuringStream = false;
    for (int i = 0; i < 50; ++i) {
        WriteFile(dir / ("burst/s" + std::to_string(i) + ".jpg"), "x");
        if (i > 0 && Present(f, "s0.jpg")) seenDuringStream = true;
        std::this_thread::sleep_for(30ms);
    }
    auto streamed = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(seenDuringStream);
    EXPECT_GE(Rescans(f) - before, 2);
    EXPECT_LE(Rescans(f) - before, std::chrono::duration_cast<std::chrono::milliseconds>(streamed).count() / 400 + 3);
    EXPECT_TRUE(WaitUntil([&] { return f->GetItemCount() == 350; }));
}

TEST_F(LiveFolders, HalfWrittenPhotoIsReadAgainWhenCompleteAndItsThumbnailMadeAgain) {
    TFolder* f = Folder("copying", false);
    Begin();
    live->SetShownFolder(f);  // shown, not registered
    ASSERT_TRUE(WaitUntil([&] { return live->IsWatched(f); }));

    std::ofstream out(dir / "copying/big.jpg", std::ios::binary);
    out << std::string(1000, 'a');
    out.flush();
    ASSERT_TRUE(WaitUntil([&] { return Present(f, "big.jpg"); }));
    TCatalogItem* item = f->FindItem("big.jpg");
    EXPECT_EQ(item->GetFileSize(), 1000);
    // as the thumbnail maker leaves an item after storing its (broken) picture
    item->SetFlag(ifThumbOutOfDate, false);

    out << std::string(5000, 'b');
    out.close();
    ASSERT_TRUE(WaitUntil([&] { return item->GetFileSize() == 6000; }));
    EXPECT_TRUE(WaitUntil([&] { return HasCatalogEvent(item, 17); }));
    EXPECT_TRUE(item->HasFlag(ifThumbOutOfDate));  // the maker makes it again

    // a writer that never closes: once the size stops changing the file is read as it is
    item->SetFlag(ifThumbOutOfDate, false);
    {
        std::lock_guard g(lock);
        catalogEvents.clear();
    }
    fs::create_hard_link(dir / "copying/big.jpg", dir / "copying/linked.jpg");  // a create without a close
    ASSERT_TRUE(WaitUntil([&] { return Present(f, "linked.jpg"); }));

    // no longer shown: no longer watched
    live->SetShownFolder(nullptr);
    EXPECT_TRUE(WaitUntil([&] { return !live->IsWatched(f); }));
}

TEST_F(LiveFolders, FilesThatAppearAndVanishAtOnceLeaveNothingBehind) {
    TFolder* f = Folder("flicker", true);
    Begin();
    ASSERT_TRUE(WaitUntil([&] { return live->IsWatched(f); }));
    for (int i = 0; i < 200; ++i) {
        fs::path p = dir / ("flicker/t" + std::to_string(i % 7) + ".jpg");
        WriteFile(p, "x");
        fs::remove(p);
    }
    WriteFile(dir / "flicker/stays.jpg", "x");
    ASSERT_TRUE(WaitUntil([&] { return Present(f, "stays.jpg"); }));
    std::this_thread::sleep_for(200ms);
    TItemList items;
    f->GetItems(items);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]->GetFileName(), "stays.jpg");
}

TEST_F(LiveFolders, WatchLimitFallsBackToPeriodicRescansAndSaysSoOnce) {
    TFolder* a = Folder("lib/a", true);
    TFolder* b = Folder("lib/b", true);
    auto o = Quick();
    o.WatchLimitForTests = 1;
    Begin(o);
    ASSERT_TRUE(WaitUntil([&] { return live->State().LimitReached; }));
    auto s = live->State();
    EXPECT_EQ(s.Watched, 1);
    EXPECT_EQ(s.Unwatched, 1);
    TFolder* unwatched = live->IsWatched(a) ? b : a;
    TFolder* watched = unwatched == a ? b : a;

    WriteFile(fs::path(unwatched->GetFullName()) / "late.jpg", "x");
    WriteFile(fs::path(watched->GetFullName()) / "quick.jpg", "x");
    EXPECT_TRUE(WaitUntil([&] { return Present(watched, "quick.jpg"); }));
    // the unwatched folder is read by the periodic rescan
    EXPECT_TRUE(WaitUntil([&] { return Present(unwatched, "late.jpg"); }));
    EXPECT_TRUE(WaitUntil([&] { return Rescans(unwatched) >= 3; }));
    EXPECT_EQ(live->State().LimitLogs, 1);
}

TEST_F(LiveFolders, AVanishedFolderGoesOfflineAndComesBackWhenItIsThereAgain) {
    TFolder* parent = Folder("card", true);
    TFolder* f = Folder("card/DCIM", true);
    WriteFile(dir / "card/DCIM/one.jpg", "x");
    f->SearchFilesEx(kDefaultKindSet, nullptr);
    ASSERT_TRUE(Present(f, "one.jpg"));
    Begin();
    ASSERT_TRUE(WaitUntil([&] { return live->IsWatched(f) && live->IsWatched(parent); }));
    int events = ItemEvents(f);

    fs::remove_all(dir / "card/DCIM");
    ASSERT_TRUE(WaitUntil([&] { return f->IsOffline(); }));
    // kept, as the existence check keeps it; the rescan marks the folder before its photos
    EXPECT_TRUE(WaitUntil([&] { return f->FindItem("one.jpg")->GetState() == isMissing; }));
    EXPECT_TRUE(WaitUntil([&] { return ItemEvents(f) > events; }));
    EXPECT_FALSE(parent->IsOffline());
    EXPECT_FALSE(live->IsWatched(f));

    fs::create_directories(dir / "card/DCIM");
    WriteFile(dir / "card/DCIM/one.jpg", "x");
    EXPECT_TRUE(WaitUntil([&] { return !f->IsOffline() && Present(f, "one.jpg") && live->IsWatched(f); }));
}

TEST_F(LiveFolders, StopsCleanlyWhileChangesKeepComing) {
    TFolder* f = Folder("busy", true);
    Begin();
    ASSERT_TRUE(WaitUntil([&] { return live->IsWatched(f); }));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) WriteFile(dir / ("busy/w" + std::to_string(i % 50) + ".jpg"), std::to_string(i));
    });
    std::this_thread::sleep_for(300ms);
    live->Stop();
    EXPECT_FALSE(live->Running());
    stop = true;
    writer.join();
    EXPECT_EQ(live->State().Watched, 0);
}

TEST_F(LiveFolders, TheShownFolderListedWithItsSubfoldersHasThemWatchedAsDeepAsListed) {
    TFolder* shown = Folder("shown", false);
    TFolder* a = Folder("shown/a", false);
    TFolder* deep = Folder("shown/a/deep", false);
    TFolder* other = Folder("other", false);
    Begin();
    live->SetShownFolder(shown, 1);
    ASSERT_TRUE(WaitUntil([&] { return live->IsWatched(shown) && live->IsWatched(a); }));
    EXPECT_FALSE(live->IsWatched(deep));  // one level below only

    // a photo put into the subfolder is read by its own rescan
    WriteFile(dir / "shown/a/p.jpg", "x");
    EXPECT_TRUE(WaitUntil([&] { return Present(a, "p.jpg") && ItemEvents(a) > 0; }));

    // a subfolder made inside the shown tree later is watched, and what came in it meanwhile read
    fs::create_directories(dir / "shown/b");
    WriteFile(dir / "shown/b/q.jpg", "x");
    TFolder* b = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (b = tree.FindFolderByPath(Path("shown/b"))) && live->IsWatched(b); }));
    EXPECT_TRUE(WaitUntil([&] { return Present(b, "q.jpg"); }));

    // every level, then another folder shown: the old tree's watches are dropped
    live->SetShownFolder(shown, 3);
    EXPECT_TRUE(WaitUntil([&] { return live->IsWatched(deep); }));
    live->SetShownFolder(other, 2);
    ASSERT_TRUE(WaitUntil([&] { return live->IsWatched(other) && !live->IsWatched(shown); }));
    EXPECT_FALSE(live->IsWatched(a));
    EXPECT_FALSE(live->IsWatched(b));
    EXPECT_FALSE(live->IsWatched(deep));
    EXPECT_EQ(live->State().Watched, 1);
}

TEST_F(LiveFolders, AShownTreeBeyondTheWatchLimitIsReadPeriodically) {
    TFolder* shown = Folder("shown", false);
    for (const char* s : {"shown/a", "shown/b", "shown/c"}) Folder(s, false);
    TLiveFolders::TOptions o = Quick();
    o.WatchLimitForTests = 2;
    Begin(o);
    live->SetShownFolder(shown, 1);
    ASSERT_TRUE(WaitUntil([&] { return live->State().Watched == 2 && live->State().Unwatched == 2; }));
    EXPECT_TRUE(live->State().LimitReached);
    EXPECT_EQ(live->State().LimitLogs, 1);
    // whichever subfolders did not get a watch, a photo in each is still found
    for (const char* s : {"shown/a/1.jpg", "shown/b/2.jpg", "shown/c/3.jpg"}) WriteFile(dir / s, "x");
    EXPECT_TRUE(WaitUntil([&] {
        return Present(tree.FindFolderByPath(Path("shown/a")), "1.jpg") && Present(tree.FindFolderByPath(Path("shown/b")), "2.jpg") &&
               Present(tree.FindFolderByPath(Path("shown/c")), "3.jpg");
    }));
}

TEST_F(LiveFolders, AQueueOverflowReadsEveryWatchedFolderOnceAndIsLoggedOnce) {
    TFolder* a = Folder("a", true);
    TFolder* b = Folder("b", true);
    TFolder* shown = Folder("shown", false);
    TLiveFolders::TOptions o = Quick();
    o.TestFeed = true;
    Begin(o);
    live->SetShownFolder(shown);
    ASSERT_TRUE(WaitUntil([&] { return live->State().Watched == 3; }));
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(Rescans(a) + Rescans(b) + Rescans(shown), 0);

    // a burst of overflow records (and one the reader cannot read) in one piece
    std::vector<uint8_t> records;
    for (int i = 0; i < 4; ++i) {
        std::vector<uint8_t> r = MakeDirWatchRecord(-1, dwOverflow, 0, "");
        records.insert(records.end(), r.begin(), r.end());
    }
    std::vector<uint8_t> broken = MakeDirWatchRecord(7, dwCreated, 0, "x.jpg");
    records.insert(records.end(), broken.begin(), broken.end() - 4);
    ASSERT_TRUE(live->FeedForTests(records));
    ASSERT_TRUE(WaitUntil([&] { return Rescans(a) && Rescans(b) && Rescans(shown); }));
    std::this_thread::sleep_for(4 * std::chrono::milliseconds(Quick().CapMs));
    EXPECT_EQ(Rescans(a), 1);
    EXPECT_EQ(Rescans(b), 1);
    EXPECT_EQ(Rescans(shown), 1);
    EXPECT_EQ(live->State().Overflows, 1);
    EXPECT_EQ(live->State().OverflowLogs, 1);

    // another overflow later: read again, not logged again
    ASSERT_TRUE(live->FeedForTests(MakeDirWatchRecord(-1, dwOverflow, 0, "")));
    EXPECT_TRUE(WaitUntil([&] { return Rescans(a) == 2 && Rescans(b) == 2 && Rescans(shown) == 2; }));
    EXPECT_EQ(live->State().Overflows, 2);
    EXPECT_EQ(live->State().OverflowLogs, 1);
}
