#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "library/album.h"
#include "library/calendar.h"
#include "library/catalog_item.h"
#include "library/ext_items.h"
#include "library/folder.h"
#include "library/item_ops.h"
#include "library/listup_thread.h"
#include "platform/os_thread.h"
#include "library_test_util.h"
#include "platform/ui_dispatch.h"

using namespace fv;
using namespace fvtest;

namespace {

struct TReport {
    uint8_t Stage;
    int NewCount;
    std::vector<std::string> Names;
    bool OnUiThread;
};

struct Listup : TempDirTest {
    std::unique_ptr<TFolderRoot> root;
    TFolder* top = nullptr;
    void SetUp() override {
        TempDirTest::SetUp();
        TDriveInfoRec info;
        fv::GetDriveInfo(Path(), info);
        root = std::make_unique<TFolderRoot>(info);
        top = root.get();
        for (const auto& part : fs::relative(dir, root->GetFullName())) top = top->AddSubFolder(part.string());
    }
    void TearDown() override {
        root.reset();
        TempDirTest::TearDown();
    }
    // runs a thread to its end with the UI queue pumped, and returns its reports
    std::vector<TReport> Run(TCustomFolder* target, uint8_t depth, bool sync = true, bool order = false,
                             std::function<void(TListupItemsThreadEx*, uint8_t)> during = nullptr) {
        std::vector<TReport> reports;
        std::atomic<bool> done{false};
        auto* t = new TListupItemsThreadEx();
        t->SetTarget(target);
        t->SetDepthCode(depth);
        t->SetKinds(kDefaultKindSet);
        t->SetOrderFlag(order);
        t->SetSynchronize(sync);
        t->SetFreeOnTerminate(true);
        t->SetReportProc(
            [&](void* ctx, TListupItemsThreadEx* th, TItemList& list, uint8_t stage, int newCount) {
                EXPECT_EQ(ctx, this);
                TReport r{stage, newCount, {}, UiDispatcher().IsUiThread()};
                for (auto* it : list) r.Names.push_back(it->GetFileName());
                reports.push_back(r);
                if (during) during(th, stage);
                if (stage != lsStarted) done = true;
            },
            this);
        t->Start();
        WaitPumping([&] { return done.load(); }, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the thread frees itself
        return reports;
    }
};

}  // namespace

TEST_F(Listup, TheListingRunsBehindTheInterfaceAtALowerPriority) {
    WriteFile(dir / "a.jpg", "x");
    int nice = -100;
    // unsynchronised reports run on the listing thread itself
    auto reports = Run(top, 0, false, false, [&](TListupItemsThreadEx*, uint8_t stage) {
        if (stage != lsStarted) nice = GetCurrentThreadNice();
    });
    ASSERT_FALSE(reports.empty());
    EXPECT_FALSE(reports.back().OnUiThread);
    EXPECT_EQ(nice, std::min(19, GetCurrentThreadNice() + kBackgroundNice));
}

TEST_F(Listup, DiskFolderByDepthCodeWithReportsOnTheUiThread) {
    WriteFile(dir / "a.jpg", "x");
    WriteFile(dir / "notes.txt", "not a picture");
    WriteFile(dir / "d1/b.jpg", "x");
    WriteFile(dir / "d1/d2/c.jpg", "x");
    WriteFile(dir / "d1/d2/d3/d.jpg", "x");
    WriteFile(dir / "d1/d2/d3/d4/e.jpg", "x");

    auto r0 = Run(top, 0);
    ASSERT_EQ(r0.size(), 2u);
    EXPECT_EQ(r0[0].Stage, lsStarted);
    EXPECT_TRUE(r0[0].Names.empty());
    EXPECT_EQ(r0[1].Stage, lsCompleted);
    EXPECT_EQ(r0[1].Names, (std::vector<std::string>{"a.jpg"}));
    EXPECT_EQ(r0[1].NewCount, 1);
    EXPECT_TRUE(r0[0].OnUiThread && r0[1].OnUiThread);

    EXPECT_EQ(Run(top, 1)[1].Names, (std::vector<std::string>{"a.jpg", "b.jpg"}));
    EXPECT_EQ(Run(top, 2)[1].Names, (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg"}));
    auto all = Run(top, 3, false);
    EXPECT_EQ(all[1].Names, (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"}));
    EXPECT_FALSE(all[1].OnUiThread);  // without the synchronise flag the worker reports itself
}

TEST_F(Listup, MissingDirectoryAndMissingTargetAndOrder) {
    WriteFile(dir / "gone/a.jpg", "x");
    TFolder* gone = top->AddSubFolder("gone");
    fs::remove_all(dir / "gone");
    auto r = Run(gone, 3);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].Stage, lsCompleted);  // an empty list, not an error
    EXPECT_TRUE(r[1].Names.empty());

    auto none = Run(nullptr, 0);
    ASSERT_EQ(none.size(), 2u);
    EXPECT_EQ(none[1].Stage, lsFailed);

    WriteFile(dir / "p.jpg", "x");
    Run(top, 0);
    TCatalogItem* p = top->FindItem("p.jpg");
    ASSERT_NE(p, nullptr);
    p->SetStoredPosition(7);
    p->SetManualPosition(-1);
    Run(top, 0, true, true);
    EXPECT_EQ(p->GetManualPosition(), 7);  // the order flag carries the stored position into the item
    EXPECT_FALSE(IsItemGone(p));
    p->SetState(isMissing);
    EXPECT_TRUE(IsItemGone(p));
    EXPECT_TRUE(IsItemGone(nullptr));
}

TEST_F(Listup, LinksBackUpTheTreeDoNotMakeTheWalkEndless) {
    WriteFile(dir / "a/x.jpg", "x");
    // two links to the top in every folder would make 2^40 paths before the system says "too many links"
    fs::create_directory_symlink(dir, dir / "a/up1");
    fs::create_directory_symlink(dir, dir / "a/up2");
    fs::create_directory_symlink(dir / "a", dir / "again");
    auto r = Run(top, 3);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].Stage, lsCompleted);
    EXPECT_EQ(r[1].Names, (std::vector<std::string>{"x.jpg"}));
}

TEST_F(Listup, TerminationDuringADeepWalkReportsWhatWasGathered) {
    fs::path p = dir;
    for (int i = 0; i < 60; ++i) {
        p /= "d" + std::to_string(i);
        WriteFile(p / ("f" + std::to_string(i) + ".jpg"), "x");
    }
    TListupItemsThreadEx* thread = nullptr;
    auto r = Run(top, 3, true, false, [&](TListupItemsThreadEx* th, uint8_t stage) {
        if (stage == lsStarted) {
            thread = th;
            th->Terminate();  // the owner gives up at once
        }
    });
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].Stage, lsTerminated);
    EXPECT_LT(r[1].Names.size(), 60u);
    EXPECT_EQ(r[1].NewCount, static_cast<int>(r[1].Names.size()));  // everything since stage 0
    (void)thread;
}

TEST_F(Listup, AlbumsWithTheirOrderAndTheTrayPositions) {
    WriteFile(dir / "a.jpg", "x");
    WriteFile(dir / "b.jpg", "x");
    WriteFile(dir / "c.jpg", "x");
    Run(top, 0);
    TCatalogItem* a = top->FindItem("a.jpg");
    TCatalogItem* b = top->FindItem("b.jpg");
    TCatalogItem* c = top->FindItem("c.jpg");
    TAlbumList albums;
    TAlbum* album = albums.CreateAlbum(albums.GetRootAlbum(atAlbum), atAlbum, "", "Trip");
    album->AddItem(a, 5);
    album->AddItem(b, 6);
    TAlbum* sub = albums.CreateAlbum(album, atAlbum, "", "Inner");
    sub->AddItem(c, 1);  // subalbums are not listed
    TAlbum* tray = albums.CreateAlbum(albums.GetRootAlbum(atTray), atTray, "作業用トレイ", "CorvaTray");
    tray->AddItem(c, 0)->Position = 9;

    auto r = Run(album, 3, true, true);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].Stage, lsCompleted);
    EXPECT_EQ(r[1].Names.size(), 2u);
    EXPECT_EQ(a->GetGroupNumber(), 5);  // the order flag carries the entry's group number
    EXPECT_EQ(b->GetGroupNumber(), 6);

    Run(tray, 0, true, true);
    EXPECT_EQ(c->GetManualPosition(), 9);

    // a photo deleted from the disk leaves the listing with the drop-gone flag
    b->SetState(isMissing);
    std::vector<std::string> names;
    auto* t = new TListupItemsThreadEx();
    std::atomic<bool> done{false};
    t->SetTarget(album);
    t->SetKinds(kDefaultKindSet);
    t->SetDropGone(true);
    t->SetSynchronize(true);
    t->SetFreeOnTerminate(true);
    t->SetReportProc(
        [&](void*, TListupItemsThreadEx*, TItemList& list, uint8_t stage, int) {
            if (stage == lsStarted) return;
            for (auto* it : list) names.push_back(it->GetFileName());
            done = true;
        },
        nullptr);
    t->Start();
    WaitPumping([&] { return done.load(); }, 10);
    EXPECT_EQ(names, (std::vector<std::string>{"a.jpg"}));

}

TEST_F(Listup, CalendarNodesWithTheirDays) {
    WriteFile(dir / "a.jpg", "x");
    WriteFile(dir / "b.jpg", "x");
    WriteFile(dir / "c.jpg", "x");
    Run(top, 0);
    TCalendarRoot root(0);
    TDateTime d1 = EncodeDateTime(2024, 3, 1, 10), d2 = EncodeDateTime(2024, 11, 30, 23), d3 = EncodeDateTime(2023, 5, 5);
    top->FindItem("a.jpg")->SetShootingDate(d1);
    top->FindItem("b.jpg")->SetShootingDate(d2);
    top->FindItem("c.jpg")->SetShootingDate(d3);
    root.FindOrCreateNode(true, d1)->AddItem(top->FindItem("a.jpg"), d1);
    root.FindOrCreateNode(true, d2)->AddItem(top->FindItem("b.jpg"), d2);
    root.FindOrCreateNode(true, d3)->AddItem(top->FindItem("c.jpg"), d3);
    TCalendar* year = root.FindOrCreateNode(true, d1)->GetParentNode()->GetParentNode();
    ASSERT_NE(year, nullptr);

    auto shallow = Run(year, 1);  // the year and its months: no entries there
    EXPECT_TRUE(shallow[1].Names.empty());
    auto all = Run(year, 3, true, true);
    EXPECT_EQ(all[1].Names, (std::vector<std::string>{"a.jpg", "b.jpg"}));
    EXPECT_EQ(top->FindItem("b.jpg")->GetGroupNumber(), static_cast<int32_t>(d2));  // the whole days of the date
    auto everything = Run(&root, 3);
    EXPECT_EQ(everything[1].Names.size(), 3u);
}
