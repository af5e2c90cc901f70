// The three library bodies of one small library, saved and loaded together. With
// FV_FUZZ_SEED_DIR set, the bodies are also written there as seeds for the fuzz targets
// (fuzz/seeds/<target>/).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "library/album.h"
#include "library/calendar.h"
#include "library/folder_tree_list.h"
#include "library/history_list.h"
#include "library_test_util.h"
#include "platform/ui_dispatch.h"

using namespace fv;

namespace {

void WriteSeed(const char* target, const std::string& name, const TMemoryStream& body) {
    const char* dir = std::getenv("FV_FUZZ_SEED_DIR");
    if (!dir) return;
    std::filesystem::path p = std::filesystem::path(dir) / target;
    std::filesystem::create_directories(p);
    TMemoryStream copy(body.Data());
    copy.SaveToFile((p / name).string());
}

}  // namespace

TEST(LibraryBodies, OneLibrarySavesAndLoadsThroughItsThreeBodies) {
    TQueueDispatcher ui;
    SetUiDispatcher(&ui);
    {
        TFolderTreeList tree;
        TDriveInfoRec card;
        card.Drive = "/media/CARD";
        card.DriveType = DRIVE_REMOVABLE;
        card.SerialNumber = 0x1234;
        card.VolumeName = "CARD";
        TDriveInfoRec sys;
        sys.Drive = "/";
        sys.SerialNumber = 1;
        std::vector<TCatalogItem*> items;
        for (const char* path : {"/media/CARD/DCIM/100CANON", "/media/CARD/DCIM/101CANON"}) {
            TFolder* f = tree.FindOrCreateFolder(card, path);
            for (int i = 0; i < 4; ++i) items.push_back(f->FindOrCreateItem("IMG_" + std::to_string(i) + ".JPG", nullptr));
        }
        TFolder* home = tree.FindOrCreateFolder(sys, "/home/u/写真");
        home->SetKeep(true);
        items.push_back(home->FindOrCreateItem("浜辺.jpg", nullptr));
        for (size_t i = 0; i < items.size(); ++i) {
            items[i]->SetKind(1);
            items[i]->SetShootingDate(EncodeDateTime(2024 + static_cast<int>(i % 3), 1 + static_cast<int>(i), 10, 9));
            items[i]->SetInCalendar(i % 2 == 0);
            items[i]->SetComment("c" + std::to_string(i));
        }
        TAlbumList albums;
        TAlbum* trip = albums.GetAlbumFromPathEx(atAlbum, "Trip\\Day 1");
        TAlbum* tray = albums.GetRootAlbum(atTray);
        for (size_t i = 0; i < items.size(); i += 2) trip->AddItem(items[i], static_cast<int32_t>(i));
        for (size_t i = 0; i < 4; ++i) {
            TAlbumItem* e = tray->AddItem(items[i], 0);
            e->Position = static_cast<int16_t>(i);
            e->MutableUpload().ResourceId = "r" + std::to_string(i);
            e->MutableUpload().Orientation = 1;
            e->MutableUpload().Comment = "tray";
        }
        TCalendarRoot calendar(Now());
        THistoryList history(50);
        history.Add(home);
        history.Add(trip);
        history.Add(calendar.FindOrCreateNode(true, items[0]->GetShootingDate()));

        fvtest::TLibraryBodies bodies(tree, albums, history);
        EXPECT_EQ(bodies.ItemCount, 9);
        WriteSeed("folder_tree", "library.tree", bodies.Tree);
        WriteSeed("album_list", "library.albums", bodies.Albums);
        WriteSeed("history", "library.history", bodies.History);

        // loaded again in the engine's order: tree, albums, index, calendar, history
        fvtest::TReloadedLibrary lib(bodies);
        TCalendarRoot& calendar2 = lib.Calendar;
        TAlbumList& albums2 = lib.Albums;
        THistoryList& history2 = lib.History;
        auto& index = lib.Index;

        EXPECT_EQ(calendar2.GetTotalItemCount(), 5);
        for (int n = 0; n < 9; ++n) {
            TCatalogItem* it = index->Get(n);
            if (!it->IsInCalendar()) continue;
            TCalendar* day = calendar2.FindOrCreateNode(false, it->GetShootingDate());
            TItemList list;
            day->GetItems(list);
            EXPECT_NE(std::find(list.begin(), list.end(), it), list.end()) << n;
        }
        TAlbum* trip2 = albums2.GetAlbumFromPath("アルバム\\Trip\\Day 1");
        ASSERT_NE(trip2, nullptr);
        std::vector<std::string> a, b;
        for (TAlbumItem* e : trip->GetEntries()) a.push_back(e->Item->GetFullPath());
        for (TAlbumItem* e : trip2->GetEntries()) b.push_back(e->Item->GetFullPath());
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        EXPECT_EQ(a, b);
        ASSERT_EQ(history2.Count(), 3);
        EXPECT_EQ(history2.GetFolder(0)->GetFullName(), "/home/u/写真");
        EXPECT_TRUE(static_cast<TFolder*>(history2.GetFolder(0))->GetKeep());
        EXPECT_EQ(history2.GetFolder(1), trip2);
        EXPECT_EQ(history2.GetFolder(2)->GetFullName(), calendar.FindOrCreateNode(false, items[0]->GetShootingDate())->GetFullName());
    }
    SetUiDispatcher(nullptr);
}
