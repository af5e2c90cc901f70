#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include <pthread.h>

#include "library/album.h"
#include "library/calendar.h"
#include "library/folder_tree_list.h"
#include "library/history_list.h"
#include "library_test_util.h"
#include "platform/ui_dispatch.h"

using namespace fv;

namespace {

struct Albums : ::testing::Test {
    TQueueDispatcher ui;
    void SetUp() override { SetUiDispatcher(&ui); }
    void TearDown() override { SetUiDispatcher(nullptr); }
};

std::vector<std::string> ChildNames(TAlbum* a) {
    std::vector<std::string> out;
    for (TAlbum* s : a->GetSubAlbums()) out.push_back(s->GetName());
    return out;
}

// counts how often the body reaches the file
struct TCountingStream : TMemoryStream {
    int Writes = 0;
    int64_t Write(const void* buffer, int64_t count) override {
        ++Writes;
        return TMemoryStream::Write(buffer, count);
    }
};

// a header of an album body
void BodyHeader(TStream& s, uint32_t version, uint32_t count) {
    s.WriteU32(version);
    s.WriteU32(count);
    s.WriteDouble(45000.5);
}

// the record of an album with no subalbums in the current layout of version v, its
// entries written by `entries`
void NewRecord(TStream& s, uint32_t v, uint8_t type, const std::string& name, uint32_t entryCount,
               const std::function<void(TStream&)>& entries, uint32_t subs = 0) {
    s.WriteU32(v);
    s.WriteU8(type);
    s.WriteText(name);
    s.WriteText("desc");
    if (v >= 0x700) s.WriteText("title");
    if (v >= 0x1000) s.WriteText("host");
    s.WriteU8(0x01);
    if (v >= 13) s.WriteI32(77);
    s.WriteU32(entryCount);
    if (entries) entries(s);
    s.WriteU32(subs);
}

void RunOnSmallStack(const std::function<void()>& fn) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t t;
    auto* call = new std::function<void()>(fn);
    pthread_create(
        &t, &attr,
        [](void* p) -> void* {
            std::unique_ptr<std::function<void()>> f(static_cast<std::function<void()>*>(p));
            (*f)();
            return nullptr;
        },
        call);
    pthread_join(t, nullptr);
    pthread_attr_destroy(&attr);
}

}  // namespace

TEST_F(Albums, NamesStayUniqueAmongSiblingsIgnoringCase) {
    TAlbumList list;
    TAlbum* root = list.GetRootAlbum(atAlbum);
    EXPECT_EQ(root->GetName(), "アルバム");
    EXPECT_EQ(root->GetDescription(), "アルバムを格納します。");
    EXPECT_EQ(list.GetRootAlbum(atTags)->GetName(), "WORK2");
    EXPECT_EQ(list.GetRootAlbum(14), nullptr);
    EXPECT_EQ(AlbumTypeLabel(14), "Error");
    TAlbum* a = list.CreateAlbum(root, atAlbum, "", "Trip");
    TAlbum* b = list.CreateAlbum(root, atAlbum, "", "trip");
    TAlbum* c = list.CreateAlbum(root, atAlbum, "", "Trip");
    EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"Trip", "trip(1)", "Trip(2)"}));
    TAlbum* d = list.CreateAlbum(root, atAlbum, "", "a\\b");
    EXPECT_EQ(d->GetName(), "a-b");
    EXPECT_EQ(d->GetFullName(), "アルバム\\a-b");
    // a change of case alone is not applied and raises nothing
    int events = 0;
    struct TCount {
        int* N;
        void On(TCustomFolder*, int code, intptr_t) {
            if (code == feNameChanged) ++*N;
        }
    } counter{&events};
    a->SetUpdateEvent(MakeFolderUpdateEvent<TCount, &TCount::On>(&counter));
    a->SetName("TRIP");
    EXPECT_EQ(a->GetName(), "Trip");
    EXPECT_EQ(events, 0);
    a->SetName("Holiday");
    EXPECT_EQ(events, 1);
    // moving under a parent with a child of that name takes the first free number
    TAlbum* other = list.CreateAlbum(root, atAlbum, "", "Other");
    list.CreateAlbum(other, atAlbum, "", "beach");
    list.CreateAlbum(other, atAlbum, "", "Beach(1)");
    TAlbum* beach = list.CreateAlbum(root, atAlbum, "", "Beach");
    beach->SetParentAlbum(other);
    EXPECT_EQ(beach->GetName(), "Beach(2)");
    EXPECT_EQ(beach->GetParentAlbum(), other);
    EXPECT_EQ(ChildNames(root).size(), 5u);
    // never below itself
    other->SetParentAlbum(beach);
    EXPECT_EQ(other->GetParentAlbum(), root);
    (void)b;
    (void)c;
}

TEST_F(Albums, PathsCopiesAndDeletion) {
    TAlbumList list;
    TAlbum* root = list.GetRootAlbum(atAlbum);
    TAlbum* x = list.GetAlbumFromPathEx(atTray, "\\\\Books\\\\2026\\Summer\\");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->GetFullName(), "トレイ\\Books\\2026\\Summer");
    EXPECT_EQ(x->GetAlbumType(), atTray);
    EXPECT_EQ(list.GetAlbumFromPath("トレイ\\books\\2026\\SUMMER"), x);
    EXPECT_EQ(list.GetAlbumFromPath("トレイ\\Missing\\Summer"), nullptr);
    EXPECT_EQ(list.GetAlbumFromPath(""), nullptr);
    list.GetRootAlbum(atAlbum)->SetName("Albums");
    EXPECT_EQ(list.GetAlbumFromPath("ALBUMS"), root);
    std::vector<std::string> parts;
    list.SeparateAlbumPathLines(parts, "\\a\\\\b\\");
    EXPECT_EQ(parts, (std::vector<std::string>{"a", "b"}));

    // entries: sorted by identity, registered with their items, copied without their extras
    std::vector<std::unique_ptr<TCatalogItem>> items;
    for (int i = 0; i < 6; ++i) {
        items.push_back(std::make_unique<TCatalogItem>());
        items.back()->SetKind(1);
    }
    TAlbum* src = list.CreateAlbum(root, atAlbum, "d", "src");
    for (int i = 5; i >= 0; --i) src->AddItem(items[static_cast<size_t>(i)].get(), i)->Position = static_cast<int16_t>(i);
    EXPECT_EQ(src->AddItem(items[2].get(), 9)->GroupNumber, 9);  // found, not added twice
    EXPECT_EQ(src->GetItemCount(), 6);
    auto entries = src->GetEntries();
    EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end(),
                               [](auto* a, auto* b) { return std::less<TCatalogItem*>()(a->Item, b->Item); }));
    EXPECT_EQ(items[3]->GetAlbums(), (std::vector<TCustomFolder*>{src}));
    TAlbum* sub = list.CreateAlbum(src, atAlbum, "", "sub");
    sub->AddItem(items[0].get(), 0);
    // copying into its own subtree copies what was there, once
    TAlbum* copy = list.CopyAlbum(sub, src, true);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->GetItemCount(), 6);
    EXPECT_EQ(copy->FindEntry(items[4].get())->Position, -1);
    EXPECT_EQ(copy->FindEntry(items[4].get())->GroupNumber, 4);
    EXPECT_EQ(ChildNames(copy), (std::vector<std::string>{"sub"}));
    EXPECT_TRUE(ChildNames(copy->GetSubAlbums()[0]).empty());
    // deleted items leave the album on purge
    items[1]->SetState(isDeleted);
    TItemList left;
    src->GetItems(left);
    EXPECT_EQ(left.size(), 5u);
    EXPECT_EQ(src->RemoveItem(items[1].get()), -1);
    EXPECT_GE(src->RemoveItem(items[2].get()), 0);
    EXPECT_EQ(src->GetRemovedEntryCount(), 2);
    EXPECT_TRUE(items[2]->GetAlbums().size() == 1);  // still in the copy

    // DeleteAlbumEx on a root with type 13 deletes everything below and keeps the root
    int below = 0;
    std::vector<TAlbum*> todo{root};
    while (!todo.empty()) {
        TAlbum* a = todo.back();
        todo.pop_back();
        for (TAlbum* s : a->GetSubAlbums()) {
            ++below;
            todo.push_back(s);
        }
    }
    EXPECT_EQ(list.DeleteAlbumEx(root, atUnknown), below);
    EXPECT_FALSE(root->HasSubFolders());
    EXPECT_TRUE(items[3]->GetAlbums().empty());
    EXPECT_FALSE(list.CleanUpChilds(root));
    EXPECT_EQ(list.DeleteAlbumEx(list.GetRootAlbum(atTray), atTray), 3);
}

TEST_F(Albums, LibraryRoundTripsThroughItsBodies) {
    // folders with items, nested albums with entries and tray positions: saved and loaded
    // again, every entry resolves to the same item
    TFolderTreeList tree;
    TDriveInfoRec info;
    info.Drive = "/";
    std::vector<TCatalogItem*> items;
    for (int f = 0; f < 4; ++f) {
        TFolder* folder = tree.FindOrCreateFolder(info, "/photos/f" + std::to_string(f));
        for (int i = 0; i < 10; ++i) {
            TCatalogItem* it = folder->FindOrCreateItem("IMG_" + std::to_string(i) + ".JPG", nullptr);
            it->SetKind(1);
            items.push_back(it);
        }
    }
    TAlbumList list;
    TAlbum* trip = list.CreateAlbum(list.GetRootAlbum(atAlbum), atAlbum, "d", "Trip");
    trip->SetTitle("夏の旅");
    trip->SetHostName("book.example");
    trip->SetKeep(true);
    trip->SetStoredValue(5);
    TAlbum* day = list.CreateAlbum(trip, atAlbum, "", "Day 1");
    TAlbum* tray = list.GetRootAlbum(atTray);
    for (int i = 0; i < 40; i += 3) trip->AddItem(items[static_cast<size_t>(i)], i);
    for (int i = 1; i < 40; i += 7) day->AddItem(items[static_cast<size_t>(i)], 0);
    for (int i = 0; i < 8; ++i) {
        TAlbumItem* e = tray->AddItem(items[static_cast<size_t>(39 - i)], 0);
        e->Position = static_cast<int16_t>(i);
        e->MutableUpload().ResourceId = "res" + std::to_string(i);
        e->MutableUpload().Orientation = 6;
        e->MutableUpload().Correction.Enabled = 1;
        e->MutableUpload().Correction.Gamma = 140;
        e->MutableUpload().Comment = "コメント";
    }
    TMemoryStream treeBody, albumBody;
    int32_t count;
    tree.SaveTree(treeBody, count);
    list.SaveToStream(albumBody);
    EXPECT_EQ(GetU32(albumBody.Data().data()), 50u);

    auto key = [](TCatalogItem* it) { return it->GetFullPath(); };
    TFolderTreeList tree2;
    treeBody.SetPosition(0);
    tree2.LoadTree(treeBody);
    TAlbumList list2;
    albumBody.SetPosition(0);
    list2.LoadFromStream(albumBody);
    EXPECT_EQ(albumBody.Remaining(), 0);
    auto index = tree2.BuildItemIndex();
    list2.SetupFromIDList(*index);
    TAlbum* trip2 = list2.GetAlbumFromPath("アルバム\\Trip");
    ASSERT_NE(trip2, nullptr);
    EXPECT_EQ(trip2->GetTitle(), "夏の旅");
    EXPECT_EQ(trip2->GetHostName(), "book.example");
    EXPECT_TRUE(trip2->GetKeep());
    EXPECT_EQ(trip2->GetStoredValue(), 5);
    TAlbum* day2 = list2.GetAlbumFromPath("アルバム\\Trip\\Day 1");
    ASSERT_NE(day2, nullptr);
    for (auto [a, b] : {std::pair{trip, trip2}, std::pair{day, day2}, std::pair{tray, list2.GetRootAlbum(atTray)}}) {
        TItemList x, y;
        a->GetItems(x);
        b->GetItems(y);
        ASSERT_EQ(x.size(), y.size());
        std::vector<std::string> kx, ky;
        for (auto* it : x) kx.push_back(key(it));
        for (auto* it : y) ky.push_back(key(it));
        std::sort(kx.begin(), kx.end());
        std::sort(ky.begin(), ky.end());
        EXPECT_EQ(kx, ky);
        for (auto* it : y) {
            auto in = it->GetAlbums();
            EXPECT_NE(std::find(in.begin(), in.end(), b), in.end());
        }
    }
    TAlbum* tray2 = list2.GetRootAlbum(atTray);
    for (TAlbumItem* e : tray2->GetEntries()) {
        int i = e->Position;
        ASSERT_GE(i, 0);
        EXPECT_EQ(key(e->Item), key(items[static_cast<size_t>(39 - i)]));
        EXPECT_EQ(e->Upload().ResourceId, "res" + std::to_string(i));
        EXPECT_EQ(e->Upload().Orientation, 6);
        EXPECT_EQ(e->Upload().Correction.Gamma, 140);
        EXPECT_EQ(e->Upload().Comment, "コメント");
    }
    // an entry whose item number is not in the index is dropped at setup and not saved again
    TMemoryStream stale;
    BodyHeader(stale, 50, 0);
    NewRecord(stale, 0x1100, 0, "アルバム", 2, [](TStream& s) {
        for (int32_t n : {3, 4000}) {
            s.WriteI32(n);
            s.WriteI32(0);
            s.WriteU16(0xFFFF);
            s.WriteText("");
            s.WriteI32(0);
            s.WriteU16(28);
            uint8_t z[28] = {};
            s.WriteBuffer(z, 28);
            s.WriteText("");
        }
    });
    for (int t = 1; t < 14; ++t) NewRecord(stale, 0x1100, static_cast<uint8_t>(t), AlbumTypeLabel(t), 0, nullptr);
    stale.SetPosition(0);
    TAlbumList list3;
    list3.LoadFromStream(stale);
    list3.SetupFromIDList(*index);
    EXPECT_EQ(list3.GetRootAlbum(0)->GetItemCount(), 1);
    TMemoryStream again;
    list3.SaveToStream(again);
    again.SetPosition(0);
    TAlbumList list4;
    list4.LoadFromStream(again);
    EXPECT_EQ(list4.GetRootAlbum(0)->GetItemCount(), 1);
}

TEST_F(Albums, OlderLayoutsLoad) {
    // bodies below version 50: old records, each attached under the root of its type
    TMemoryStream old;
    BodyHeader(old, 40, 3);
    old.WriteU32(10);  // layout A
    old.WriteU8(0);
    old.WriteU32(2);
    old.WriteText("Old");
    old.WriteText("d10");
    for (int n : {7, 8}) {
        old.WriteI32(n);
        old.WriteI32(n * 10);
    }
    old.WriteU32(11);  // layout B
    old.WriteU8(6);
    old.WriteU32(1);
    old.WriteText("Tray");
    old.WriteText("");
    old.WriteI32(9);
    old.WriteI32(1);
    old.WriteU16(3);
    old.WriteU32(12);  // same name as the first: made unique
    old.WriteU8(0);
    old.WriteU32(0);
    old.WriteText("old");
    old.WriteText("");
    old.SetPosition(0);
    TAlbumList list;
    list.LoadFromStream(old);
    TAlbum* root = list.GetRootAlbum(0);
    ASSERT_EQ(ChildNames(root), (std::vector<std::string>{"Old", "old(1)"}));
    auto e = root->GetSubAlbums()[0]->GetEntries();
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[1]->ItemNumber, 8);
    EXPECT_EQ(e[1]->GroupNumber, 80);
    EXPECT_EQ(e[1]->Position, -1);
    TAlbum* tray = list.GetRootAlbum(6)->GetSubAlbums().at(0);
    EXPECT_EQ(tray->GetEntries()[0]->Position, 3);
    EXPECT_EQ(tray->GetDescription(), "");

    // a truncated old body keeps what was read
    std::vector<uint8_t> cut(old.Data().begin(), old.Data().end() - 6);
    TMemoryStream cm(cut);
    TAlbumList partial;
    EXPECT_NO_THROW(partial.LoadFromStream(cm));
    EXPECT_EQ(partial.GetRootAlbum(0)->GetSubAlbums().size(), 1u);

    // current bodies with records of every version the readers know
    auto entryB = [](TStream& s) {
        s.WriteI32(1);
        s.WriteI32(2);
        s.WriteU16(5);
    };
    auto entryC = [&](TStream& s) {
        entryB(s);
        s.WriteText("R1");
        s.WriteI32(8);
    };
    auto entryD = [&](uint16_t corrLength) {
        return [&, corrLength](TStream& s) {
            entryC(s);
            s.WriteU16(corrLength);
            std::vector<uint8_t> c(corrLength, 0);
            if (corrLength >= 13) {
                c[0] = 1;   // enabled
                c[9] = 150;  // gamma, low byte
            }
            s.WriteBuffer(c.data(), corrLength);
            s.WriteText("note");
        };
    };
    struct TCase {
        uint32_t V;
        std::function<void(TStream&)> Entry;
    };
    std::vector<TCase> cases = {{12, entryB}, {13, entryB}, {0x700, entryB}, {0x800, entryC},
                                {0x900, entryD(28)}, {0x1000, entryD(40)}, {0x1100, entryD(13)}};
    for (const TCase& c : cases) {
        TMemoryStream m;
        BodyHeader(m, 50, 0);
        NewRecord(m, c.V, 0, "Albums", 1, c.Entry, 1);
        NewRecord(m, c.V, 0, "child", 1, c.Entry, 0);
        for (int t = 1; t < 14; ++t) NewRecord(m, c.V, static_cast<uint8_t>(t), AlbumTypeLabel(t), 0, nullptr);
        m.SetPosition(0);
        TAlbumList l;
        ASSERT_NO_THROW(l.LoadFromStream(m)) << std::hex << c.V;
        EXPECT_EQ(m.Remaining(), 0) << std::hex << c.V;
        TAlbum* r = l.GetRootAlbum(0);
        EXPECT_EQ(r->GetName(), "Albums");
        EXPECT_EQ(r->GetTitle(), c.V >= 0x700 ? "title" : "");
        EXPECT_EQ(r->GetHostName(), c.V >= 0x1000 ? "host" : "");
        EXPECT_EQ(r->GetStoredValue(), c.V >= 13 ? 77 : 0);
        EXPECT_TRUE(r->GetKeep());
        TAlbum* child = l.GetAlbumFromPath("Albums\\child");
        ASSERT_NE(child, nullptr) << std::hex << c.V;
        TAlbumItem* e1 = child->GetEntries().at(0);
        EXPECT_EQ(e1->ItemNumber, 1);
        EXPECT_EQ(e1->GroupNumber, 2);
        EXPECT_EQ(e1->Position, 5);
        EXPECT_EQ(e1->Upload().ResourceId, c.V >= 0x800 ? "R1" : "");
        EXPECT_EQ(e1->Upload().Orientation, c.V >= 0x800 ? 8 : 0);
        EXPECT_EQ(e1->Upload().Comment, c.V >= 0x900 ? "note" : "");
        EXPECT_EQ(e1->Upload().Correction.Enabled, c.V >= 0x900 ? 1 : 0);
        EXPECT_EQ(e1->Upload().Correction.Gamma, c.V >= 0x900 ? 150 : 0);
    }
}

TEST_F(Albums, DamagedBodiesFailCleanly) {
    TAlbumList list;
    TAlbum* a = list.GetAlbumFromPathEx(0, "a\\b\\c");
    auto item = std::make_unique<TCatalogItem>();
    for (int i = 0; i < 3; ++i) {
        TAlbumItem* e = a->AppendItem(item.get(), i);
        e->MutableUpload().ResourceId = "r";
        e->MutableUpload().Comment = "c";
    }
    TMemoryStream good;
    list.SaveToStream(good);
    const std::vector<uint8_t> bytes = good.Data();
    // every truncation of a current body raises the list's error
    for (size_t n = 0; n < bytes.size(); n += 3) {
        TMemoryStream cut(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n)));
        TAlbumList l;
        EXPECT_THROW(l.LoadFromStream(cut), EAlbumListError) << n;
    }
    // counts larger than the bytes left are refused before anything is allocated
    TMemoryStream huge;
    BodyHeader(huge, 50, 0);
    NewRecord(huge, 0x1100, 0, "x", 0x7FFFFFFF, nullptr);
    huge.SetPosition(0);
    TAlbumList l1;
    try {
        l1.LoadFromStream(huge);
        FAIL();
    } catch (const EAlbumListError& e) {
        EXPECT_NE(e.Message().find("EReadError Raised in TAlbumList.LoadFromStream"), std::string::npos) << e.Message();
    }
    // nesting deeper than any library: the load error, on a small stack
    TMemoryStream deep;
    BodyHeader(deep, 50, 0);
    for (int i = 0; i < 40000; ++i) NewRecord(deep, 12, 0, "d", 0, nullptr, 1);
    bool failed = false;
    RunOnSmallStack([&] {
        deep.SetPosition(0);
        TAlbumList l;
        try {
            l.LoadFromStream(deep);
        } catch (const EAlbumListError& e) {
            failed = e.Message().find("EAlbumLoadError") != std::string::npos;
        }
    });
    EXPECT_TRUE(failed);
    // random damage: a clean error or albums that save again
    std::mt19937 rng(5);
    for (int round = 0; round < 800; ++round) {
        std::vector<uint8_t> bad = bytes;
        for (int k = 0; k < 3; ++k) bad[16 + rng() % (bad.size() - 16)] = static_cast<uint8_t>(rng());
        TMemoryStream m(bad);
        TAlbumList l;
        try {
            l.LoadFromStream(m);
        } catch (const EAlbumListError&) {
            continue;
        }
        TMemoryStream out;
        l.SaveToStream(out);
    }
}

TEST_F(Albums, LargeListsAreWrittenThroughTheBuffer) {
    TAlbumList list;
    std::vector<std::unique_ptr<TCatalogItem>> items;
    TAlbum* big = list.CreateAlbum(list.GetRootAlbum(0), 0, "", "big");
    for (int i = 0; i < 12000; ++i) {
        items.push_back(std::make_unique<TCatalogItem>());
        items.back()->SetItemNumber(i);
        big->AddItem(items.back().get(), 0)->MutableUpload().Comment = "a comment of some length";
    }
    list.CreateAlbum(list.GetRootAlbum(0), 0, "", "after");
    TCountingStream file;
    list.SaveToStream(file);
    EXPECT_GE(file.Writes, 2);  // flushed on the way, then the rest
    // the same bytes as one piece: it loads back completely
    file.SetPosition(0);
    TAlbumList back;
    back.LoadFromStream(file);
    EXPECT_EQ(file.Remaining(), 0);
    EXPECT_EQ(back.GetAlbumFromPath("アルバム\\big")->GetItemCount(), 12000);
    EXPECT_NE(back.GetAlbumFromPath("アルバム\\after"), nullptr);
}

TEST_F(Albums, EventsReachTheSubscriberOnTheUiThread) {
    TAlbumList list;
    std::vector<int> codes;
    std::thread::id uiThread = std::this_thread::get_id();
    int wrong = 0;
    struct TSub {
        std::vector<int>* Codes;
        int* Wrong;
        std::thread::id Ui;
        void On(TCustomFolder*, int code, intptr_t) {
            if (std::this_thread::get_id() != Ui) ++*Wrong;
            Codes->push_back(code);
        }
    } sub{&codes, &wrong, uiThread};
    list.SetAlbumUpdatedProc(MakeFolderUpdateEvent<TSub, &TSub::On>(&sub));
    std::thread worker([&] {
        TAlbum* a = list.CreateAlbum(list.GetRootAlbum(0), 0, "", "x");
        a->SetTitle("t");
    });
    worker.join();
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (codes.size() < 2 && std::chrono::steady_clock::now() < end) ui.WaitAndProcess(5);
    EXPECT_EQ(codes, (std::vector<int>{feCreated, feAlbumText1Changed}));
    EXPECT_EQ(wrong, 0);
    list.SetAlbumUpdatedProc(TFolderUpdateEvent{});
}

TEST_F(Albums, HistoryOfFoldersAlbumsAndDaysResolvesAfterALoad) {
    TFolderTreeList tree;
    TDriveInfoRec info;
    info.Drive = "/";
    TFolder* folder = tree.FindOrCreateFolder(info, "/photos/2026");
    TCatalogItem* item = folder->FindOrCreateItem("a.jpg", nullptr);
    item->SetKind(1);
    item->SetShootingDate(EncodeDateTime(2026, 12, 8, 10));
    item->SetInCalendar(true);
    TAlbumList albums;
    TAlbum* album = albums.GetAlbumFromPathEx(atAlbum, "Trip\\Day 1");
    album->AddItem(item, 0);
    TCalendarRoot calendar(Now());
    TCalendar* day = calendar.FindOrCreateNode(true, item->GetShootingDate());
    day->AddItem(item, item->GetShootingDate());
    THistoryList history(50);
    for (TCustomFolder* f : std::vector<TCustomFolder*>{folder, album, day, folder}) history.Add(f);
    fvtest::TLibraryBodies bodies(tree, albums, history);
    // a deleted album no longer resolves: its entries go on the next start
    TAlbum* gone = albums.GetAlbumFromPathEx(atAlbum, "Gone");
    history.Add(gone);
    TMemoryStream withGone;
    history.SaveToStream(withGone);

    fvtest::TReloadedLibrary lib(bodies);
    THistoryList& back = lib.History;
    ASSERT_EQ(back.Count(), 4);
    EXPECT_EQ(back.GetFolder(0), lib.Tree.FindFolder(info, "/photos/2026"));
    EXPECT_EQ(back.GetFolder(1), lib.Albums.GetAlbumFromPath("アルバム\\Trip\\Day 1"));
    EXPECT_EQ(back.GetFolder(2), lib.Calendar.FindOrCreateNode(false, item->GetShootingDate()));
    EXPECT_EQ(back.GetFolder(2)->GetItemCount(), 1);
    EXPECT_EQ(back.GetFolder(3), back.GetFolder(0));
    TItemList inAlbum;
    back.GetFolder(1)->GetItems(inAlbum);
    ASSERT_EQ(inAlbum.size(), 1u);
    EXPECT_EQ(inAlbum[0]->GetFullPath(), "/photos/2026/a.jpg");

    lib.Albums.DeleteAlbumEx(lib.Albums.GetRootAlbum(atAlbum), atUnknown);
    withGone.SetPosition(0);
    back.LoadAndResolve(withGone, THistoryList::LibraryResolver(&lib.Tree, &lib.Calendar, &lib.Albums));
    EXPECT_EQ(back.Count(), 3);  // folder, day, folder: both albums are gone
}
