#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "library/folder_tree_list.h"
#include "library/history_list.h"
#include "library_test_util.h"
#include "platform/ui_dispatch.h"

using namespace fv;

namespace {

TDriveInfoRec Drive(const std::string& mount, uint32_t serial, const std::string& label = "VOL", int type = DRIVE_FIXED) {
    TDriveInfoRec info;
    info.Drive = mount;
    info.DriveType = type;
    info.SerialNumber = serial;
    info.VolumeName = label;
    return info;
}

int SubCount(TCustomFolder* f) {
    TFolderList l;
    f->GetSubFolders(l);
    return static_cast<int>(l.size());
}

// pumps the test's UI dispatcher until done() or the time is up
bool PumpUntil(TQueueDispatcher& ui, const std::function<bool()>& done, int ms = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        ui.WaitAndProcess(5);
    }
    return true;
}

struct UiThread : ::testing::Test {
    TQueueDispatcher ui;
    void SetUp() override { SetUiDispatcher(&ui); }
    void TearDown() override { SetUiDispatcher(nullptr); }
};

using TreeList = UiThread;
using Relay = UiThread;

// a small library: two drives, nested folders, items with comments
void FillTree(TFolderTreeList& tree) {
    TFolder* a = tree.FindOrCreateFolder(Drive("/media/CARD", 7, "CARD", DRIVE_REMOVABLE), "/media/CARD/DCIM/100CANON");
    for (int i = 0; i < 5; ++i) a->FindOrCreateItem("IMG_" + std::to_string(i) + ".JPG", nullptr)->SetComment("a" + std::to_string(i));
    TFolder* b = tree.FindOrCreateFolder(Drive("/", 1), "/home/u/Pictures");
    for (int i = 0; i < 3; ++i) b->FindOrCreateItem("p" + std::to_string(i) + ".jpg", nullptr);
    b->GetParentFolder()->FindOrCreateItem("top.jpg", nullptr);
}

}  // namespace

TEST_F(TreeList, FindsAndCreatesFoldersByPathUnderSortedRoots) {
    TFolderTreeList tree;
    TDriveInfoRec card = Drive("/media/CARD", 7, "CARD", DRIVE_REMOVABLE);
    TFolder* f = tree.FindOrCreateFolder(card, "/media/CARD//DCIM/100CANON/");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->GetFullName(), "/media/CARD/DCIM/100CANON");
    EXPECT_EQ(tree.FindOrCreateFolder(card, "/media/CARD/DCIM/100CANON"), f);
    EXPECT_EQ(tree.FindOrCreateFolder(card, "/media/CARD"), tree.FindRoot(card));
    tree.FindOrCreateFolder(Drive("/", 1), "/home/u");
    ASSERT_EQ(tree.GetRootCount(), 2);
    EXPECT_EQ(tree.GetRoot(0)->GetDriveName(), "/");  // identity order: drive text first
    // the same mount point on another volume is another root
    tree.FindOrCreateRoot(Drive("/media/CARD", 8, "CARD", DRIVE_REMOVABLE));
    EXPECT_EQ(tree.GetRootCount(), 3);
    // paths outside the drive, longer or deeper than any real path: none, nothing created
    TFolderRoot* cardRoot = tree.FindRoot(card);
    EXPECT_EQ(tree.FindOrCreateFolder(card, "/home/u"), nullptr);
    std::string deep = "/media/CARD";
    for (int i = 0; i < 2100; ++i) deep += "/d";
    EXPECT_EQ(tree.FindOrCreateFolder(card, deep), nullptr);
    EXPECT_EQ(tree.FindOrCreateFolder(card, "/media/CARD/x/" + std::string(5000, 'x')), nullptr);
    EXPECT_EQ(SubCount(cardRoot), 1);
    // searching never creates below the root, but an unknown drive becomes a root
    EXPECT_EQ(tree.FindFolder(card, "/media/CARD/DCIM/100CANON"), f);
    EXPECT_EQ(tree.FindFolder(card, "/media/CARD/DCIM/101CANON"), nullptr);
    EXPECT_EQ(SubCount(f->GetParentFolder()), 1);
    EXPECT_EQ(tree.FindFolder(Drive("/mnt/new", 9), "/mnt/new/a"), nullptr);
    EXPECT_EQ(tree.GetRootCount(), 4);
    // by path: the live mount table names the drive
    TFolder* tmp = tree.FindOrCreateFolderByPath("/tmp/fv-tree-list-test/x");
    ASSERT_NE(tmp, nullptr);
    EXPECT_EQ(tmp->GetFullName(), "/tmp/fv-tree-list-test/x");
    EXPECT_EQ(tree.FindFolderByPath("/tmp/fv-tree-list-test/x"), tmp);
}

TEST_F(TreeList, NumbersFollowTreeOrderAfterCreationRenameAndMove) {
    TFolderTreeList tree;
    TDriveInfoRec d = Drive("/", 1);
    TFolder* b = tree.FindOrCreateFolder(d, "/b");
    TFolder* a = tree.FindOrCreateFolder(d, "/a");
    TFolder* a1 = tree.FindOrCreateFolder(d, "/a/1");
    TFolderRoot* root = tree.FindRoot(d);
    auto numbers = [&] {
        return std::vector<int>{root->GetTreeNumber(), a->GetTreeNumber(), a1->GetTreeNumber(), b->GetTreeNumber()};
    };
    EXPECT_EQ(numbers(), (std::vector<int>{0, 1, 2, 3}));
    a->Rename("c");  // now after b
    EXPECT_EQ(numbers(), (std::vector<int>{0, 2, 3, 1}));
    a1->SetParent(b);  // b, 1, c
    EXPECT_EQ(numbers(), (std::vector<int>{0, 3, 2, 1}));
    // a second root numbers after the first
    TFolderRoot* other = tree.FindOrCreateRoot(Drive("/z", 2));
    EXPECT_EQ(other->GetTreeNumber(), 4);
    // a removed root leaves the roots and stays owned
    other->Remove();
    EXPECT_EQ(tree.GetRootCount(), 1);
    EXPECT_EQ(tree.GetRemovedRootCount(), 1);
}

TEST_F(TreeList, BodyRoundTripsAndItemNumbersResolve) {
    TFolderTreeList tree;
    FillTree(tree);
    TMemoryStream file;
    int32_t count = -1;
    tree.SaveTree(file, count);
    EXPECT_EQ(count, 9);
    EXPECT_EQ(file.Data()[0], 0xF0);
    EXPECT_EQ(file.Data()[1], 0xF0);

    TFolderTreeList back;
    file.SetPosition(0);
    back.LoadTree(file);
    EXPECT_EQ(file.Remaining(), 0);
    ASSERT_EQ(back.GetRootCount(), 2);
    EXPECT_EQ(back.GetTotalItemCount(), 9);
    auto index = back.BuildItemIndex();
    ASSERT_NE(index, nullptr);
    ASSERT_EQ(index->Count(), 9);
    // every number resolves to the item saved under it
    TItemList items;
    for (int n = 0; n < 9; ++n) {
        TCatalogItem* it = index->Get(n);
        ASSERT_NE(it, nullptr) << n;
        EXPECT_EQ(it->GetItemNumber(), n);
        items.push_back(it);
    }
    EXPECT_EQ(index->Get(9), nullptr);
    EXPECT_EQ(index->Get(-1), nullptr);
    TFolder* a = back.FindFolder(Drive("/media/CARD", 7, "CARD", DRIVE_REMOVABLE), "/media/CARD/DCIM/100CANON");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->FindItem("IMG_3.JPG")->GetComment(), "a3");
    // saved again: the same bytes
    TMemoryStream again;
    back.SaveTree(again, count);
    EXPECT_EQ(again.Data(), file.Data());
}

TEST_F(TreeList, DamagedBodiesLoadNothingOrFailAndKeepTheTree) {
    TFolderTreeList tree;
    FillTree(tree);
    TMemoryStream file;
    int32_t count;
    tree.SaveTree(file, count);
    const std::vector<uint8_t> good = file.Data();

    // a wrong marker loads an empty tree without error
    std::vector<uint8_t> marker = good;
    marker[0] = 0;
    TMemoryStream m1(marker);
    TFolderTreeList t1;
    EXPECT_NO_THROW(t1.LoadTree(m1));
    EXPECT_EQ(t1.GetRootCount(), 0);
    // a root count larger than the bytes left is refused before anything is built
    TMemoryStream m2;
    m2.WriteU16(0xF0F0);
    m2.WriteU32(0x7FFFFFFF);
    m2.SetPosition(0);
    EXPECT_THROW(t1.LoadTree(m2), EReadError);
    // every truncation raises, and the roots already there stay
    TFolderTreeList t2;
    t2.FindOrCreateRoot(Drive("/keep", 3));
    for (size_t n = 2; n < good.size(); n += 7) {
        TMemoryStream cut(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)));
        EXPECT_THROW(t2.LoadTree(cut), Exception) << n;
        ASSERT_EQ(t2.GetRootCount(), 1);
    }
    // random damage: a clean error or a tree whose index holds only real items
    std::mt19937 rng(99);
    for (int round = 0; round < 800; ++round) {
        std::vector<uint8_t> bad = good;
        for (int k = 0; k < 3; ++k) bad[rng() % bad.size()] = static_cast<uint8_t>(rng());
        TMemoryStream m(bad);
        TFolderTreeList t;
        try {
            t.LoadTree(m);
        } catch (const Exception&) {
            continue;
        }
        auto index = t.BuildItemIndex();
        ASSERT_NE(index, nullptr);
        ASSERT_EQ(index->Count(), t.GetTotalItemCount());
        for (int n = 0; n < index->Count(); ++n)
            if (TCatalogItem* it = index->Get(n)) {
                ASSERT_EQ(it->GetItemNumber(), n);
            }
    }
}

// --- the relay

namespace {

// a view that records what reaches it and on which thread
struct TView {
    std::thread::id UiThread = std::this_thread::get_id();
    std::atomic<int> Calls{0};
    std::atomic<int> WrongThread{0};
    std::atomic<bool> Gone{false};
    std::atomic<int> AfterGone{0};
    std::vector<std::pair<TCustomFolder*, int>> Seen;
    void On(TCustomFolder* f, int code, intptr_t) {
        if (Gone) ++AfterGone;
        if (std::this_thread::get_id() != UiThread) ++WrongThread;
        Seen.emplace_back(f, code);
        ++Calls;
    }
};

}  // namespace

TEST_F(Relay, WorkerEventsReachTheViewsOnTheUiThreadInOrder) {
    auto tree = std::make_unique<TFolderTreeList>();
    TFolderUpdateMaster views;
    TView view;
    views.Add(&view, "TView", MakeFolderUpdateEvent<TView, &TView::On>(&view));
    tree->SetUpdateEvent(views.AsUpdateEvent());
    TFolderRoot* root = tree->FindOrCreateRoot(Drive("/", 1));
    std::thread worker([&] {
        TFolder* f = root->AddSubFolder("a");  // event 0
        f->Rename("b");                        // event 1
    });
    worker.join();
    ASSERT_TRUE(PumpUntil(ui, [&] { return view.Calls >= 2; }));
    EXPECT_EQ(view.WrongThread, 0);
    ASSERT_EQ(view.Seen.size(), 2u);
    EXPECT_EQ(view.Seen[0].second, feCreated);
    EXPECT_EQ(view.Seen[1].second, feNameChanged);
    EXPECT_EQ(view.Seen[0].first, root->FindSubFolder("b"));
    // detached: events are no longer delivered
    tree->SetUpdateEvent(TFolderUpdateEvent{});
    root->AddSubFolder("c");
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    ui.ProcessPending();
    EXPECT_EQ(view.Calls, 2);
}

TEST_F(Relay, ViewsSubscribeAndLeaveWhileWorkersRaiseEvents) {
    // Four workers create folders while the UI thread keeps adding and removing views and a
    // fifth thread detaches and re-attaches the subscriber: every event reaches the views
    // on the UI thread, nothing reaches a view after it left, the steady view loses nothing.
    auto tree = std::make_unique<TFolderTreeList>();
    TFolderUpdateMaster views;
    TView steady;
    views.Add(&steady, "TView", MakeFolderUpdateEvent<TView, &TView::On>(&steady));
    tree->SetUpdateEvent(views.AsUpdateEvent());
    TFolderRoot* root = tree->FindOrCreateRoot(Drive("/", 1));
    constexpr int kWorkers = 4, kPerWorker = 150;
    std::atomic<int> running{kWorkers};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w)
        workers.emplace_back([&, w] {
            TFolder* mine = root->AddSubFolder("w" + std::to_string(w));
            for (int i = 0; i < kPerWorker; ++i) {
                mine->AddSubFolder(std::to_string(i));
                if (i % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(3));
            }
            --running;
        });
    int transient = 0;
    while (running > 0) {
        auto* v = new TView();
        views.Add(v, "TView", MakeFolderUpdateEvent<TView, &TView::On>(v));
        ui.WaitAndProcess(20);
        views.Remove(v, MakeFolderUpdateEvent<TView, &TView::On>(v));
        v->Gone = true;
        ui.WaitAndProcess(5);
        EXPECT_EQ(v->AfterGone, 0);
        EXPECT_EQ(v->WrongThread, 0);
        delete v;  // a late call would be a use after free under the sanitizers
        ++transient;
    }
    for (auto& t : workers) t.join();
    const int expected = kWorkers * (kPerWorker + 1) + 0;
    ASSERT_TRUE(PumpUntil(ui, [&] { return steady.Calls >= expected; }));
    ui.WaitAndProcess(250);
    EXPECT_EQ(steady.Calls, expected);
    EXPECT_EQ(steady.WrongThread, 0);
    EXPECT_GT(transient, 0);

    // detaching from another thread: once SetUpdateEvent returns, the subscriber is not called
    std::atomic<bool> detached{false};
    std::atomic<int> late{0};
    struct TProbe {
        std::atomic<bool>* Detached;
        std::atomic<int>* Late;
        void On(TCustomFolder*, int, intptr_t) {
            if (*Detached) ++*Late;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    } probe{&detached, &late};
    tree->SetUpdateEvent(MakeFolderUpdateEvent<TProbe, &TProbe::On>(&probe));
    std::atomic<bool> stop{false};
    std::thread raiser([&] {
        for (int i = 0; !stop; ++i) root->AddSubFolder("r" + std::to_string(i));
    });
    std::thread detacher([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        tree->SetUpdateEvent(TFolderUpdateEvent{});
        detached = true;
    });
    PumpUntil(ui, [&] { return detached.load(); });
    ui.WaitAndProcess(300);
    stop = true;
    raiser.join();
    detacher.join();
    ui.WaitAndProcess(200);
    EXPECT_EQ(late, 0);
    tree.reset();  // the watcher stops while events may still be queued
}

// --- history

namespace {
struct History : UiThread {};
}  // namespace

TEST_F(History, NavigationAddsBacksAndTrims) {
    TFolderTreeList tree;
    std::vector<TFolder*> f;
    for (int i = 0; i < 60; ++i) f.push_back(tree.FindOrCreateFolder(Drive("/", 1), "/f" + std::to_string(i)));
    THistoryList h(50);
    h.Add(nullptr);
    EXPECT_EQ(h.Count(), 0);
    h.Add(f[0]);
    h.Add(f[0]);  // the same folder twice in a row: one entry
    h.Add(f[1]);
    h.Add(f[2]);
    EXPECT_EQ(h.Count(), 3);
    EXPECT_TRUE(h.CanBack());
    EXPECT_FALSE(h.CanForward());
    EXPECT_EQ(h.Back(), f[1]);
    EXPECT_EQ(h.Back(), f[0]);
    EXPECT_EQ(h.Back(), nullptr);
    EXPECT_EQ(h.Forward(), f[1]);
    h.Add(f[3]);  // drops the forward entry f[2]
    EXPECT_EQ(h.Count(), 3);
    EXPECT_EQ(h.GetLast(), f[3]);
    EXPECT_FALSE(h.CanForward());
    for (int i = 4; i < 60; ++i) h.Add(f[static_cast<size_t>(i)]);
    EXPECT_EQ(h.Count(), 50);
    EXPECT_EQ(h.GetFolder(0), f[10]);
    EXPECT_EQ(h.GetCurrent(), f[59]);
    h.SetCapacity(0);
    h.Add(f[0]);
    EXPECT_EQ(h.Count(), 51);

    // removing a folder collapses the neighbours it separated, and the current entry follows
    THistoryList r;
    for (int i : {0, 1, 0, 2, 1}) r.Add(f[static_cast<size_t>(i)]);
    r.Back();  // current: f2 (index 3)
    r.RemoveFolder(f[1]);  // 0 0 2 -> 0 2
    ASSERT_EQ(r.Count(), 2);
    EXPECT_EQ(r.GetFolder(0), f[0]);
    EXPECT_EQ(r.GetCurrent(), f[2]);
    r.ReplaceFolder(f[2], f[0]);
    EXPECT_EQ(r.Count(), 1);
    EXPECT_EQ(r.GetCurrent(), f[0]);
    r.RemoveFolder(f[0]);
    EXPECT_EQ(r.Count(), 0);
    EXPECT_EQ(r.GetCurrent(), nullptr);
    EXPECT_FALSE(r.CanBack());
}

TEST_F(History, BodyRoundTripsAndResolvesThroughTheTree) {
    TFolderTreeList tree;
    TDriveInfoRec card = Drive("/media/CARD", 7, "CARD", DRIVE_REMOVABLE);
    TFolder* a = tree.FindOrCreateFolder(card, "/media/CARD/DCIM/100CANON");
    TFolder* b = tree.FindOrCreateFolder(Drive("/", 1, "sys"), "/home/u");
    THistoryList h(50);
    h.Add(a);
    h.Add(b);
    h.Add(a);
    TMemoryStream m;
    h.SaveToStream(m);
    // field by field: magic, count, kind 1, path, drive type, serial, volume name
    m.SetPosition(0);
    EXPECT_EQ(m.ReadU32(), 0x1001u);
    EXPECT_EQ(m.ReadU32(), 3u);
    EXPECT_EQ(m.ReadU8(), 1);
    EXPECT_EQ(m.ReadText(), "/media/CARD/DCIM/100CANON");
    EXPECT_EQ(m.ReadI32(), DRIVE_REMOVABLE);
    EXPECT_EQ(m.ReadU32(), 7u);
    EXPECT_EQ(m.ReadText(), "CARD");

    // the card is not in the new tree: its folders are recreated under a root for it
    TFolderTreeList tree2;
    tree2.FindOrCreateRoot(card);
    THistoryList back(50);
    m.SetPosition(0);
    back.LoadAndResolve(m, THistoryList::TreeResolver(&tree2));
    ASSERT_EQ(back.Count(), 3);
    EXPECT_EQ(back.GetFolder(0)->GetFullName(), "/media/CARD/DCIM/100CANON");
    EXPECT_EQ(back.GetFolder(0), back.GetFolder(2));
    EXPECT_EQ(back.GetFolder(1)->GetFullName(), "/home/u");
    EXPECT_EQ(back.GetCurrent(), back.GetFolder(2));
    EXPECT_EQ(tree2.FindRoot(card), static_cast<TFolder*>(back.GetFolder(0))->GetParentFolder()->GetParentFolder());

    // entries that do not resolve go, and so do the duplicates they separated
    THistoryResolver onlyCard = THistoryList::TreeResolver(&tree2);
    auto inner = onlyCard.DiskFolder;
    onlyCard.DiskFolder = [inner](const THistoryItem& it) -> TCustomFolder* {
        return it.VolumeSerial == 7 ? inner(it) : nullptr;
    };
    m.SetPosition(0);
    back.LoadAndResolve(m, onlyCard);
    EXPECT_EQ(back.Count(), 1);

    // damaged bodies empty the history instead of raising
    const std::vector<uint8_t> good = m.Data();
    for (size_t n = 5; n < good.size(); ++n) {
        TMemoryStream cut(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)));
        back.Add(a);
        EXPECT_NO_THROW(back.LoadAndResolve(cut, THistoryList::TreeResolver(&tree2)));
        EXPECT_EQ(back.Count(), 0) << n;
    }
    TMemoryStream huge;
    huge.WriteU32(0x1001);
    huge.WriteU32(0xFFFFFFF0u);
    huge.SetPosition(0);
    EXPECT_FALSE(back.LoadFromStream(huge));
    // no magic: nothing loaded, not an error
    TMemoryStream other;
    other.WriteU32(0x1002);
    other.WriteU32(0);
    other.SetPosition(0);
    EXPECT_TRUE(back.LoadFromStream(other));
    EXPECT_EQ(back.Count(), 0);
}
