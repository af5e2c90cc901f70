#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/engine.h"
#include "core/log.h"
#include "library/album.h"
#include "library/calendar.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "library/history_list.h"
#include "library/library_engine.h"
#include "library_test_util.h"

using namespace fv;
using namespace fvtest;

namespace {

struct LibraryEngine : EngineTest {};

}  // namespace

TEST_F(LibraryEngine, TreeAndHistorySurviveARestart) {
    WriteFile(dir / "photos/a.jpg", "x");
    WriteFile(dir / "photos/b.jpg", "y");
    InitCorvaEngine();
    ASSERT_NE(CorvaFolders(), nullptr);
    EXPECT_EQ(CorvaHistorys()->Capacity(), kCorvaHistoryCapacity);
    TFolder* photos = GetFolderFromPath(Path("photos"));
    photos->SearchFiles(nullptr);
    CorvaHistorys()->Add(photos);
    FinalCorvaEngine();
    EXPECT_EQ(CorvaFolders(), nullptr);

    InitCorvaEngine();
    TFolder* again = CorvaFolders()->FindFolderByPath(Path("photos"));
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again->FindItem("a.jpg"), nullptr);
    EXPECT_NE(again->FindItem("b.jpg"), nullptr);
    ASSERT_EQ(CorvaHistorys()->Count(), 1);
    EXPECT_EQ(CorvaHistorys()->GetCurrent(), again);
    FinalCorvaEngine();
    EXPECT_TRUE(fs::exists(Data() / "CorvaData.bak"));
    EXPECT_TRUE(fs::exists(Data() / "CorvaHistory.bak"));

    try {
        InitCorvaEngine();
        GetFolderFromPath(Path("nowhere"));
        ADD_FAILURE();
    } catch (const ECorvaEngineError& e) {
        EXPECT_EQ(e.Message(), "セットされたFolderPath( " + Path("nowhere") + " )は存在しません。");
    }
}

TEST_F(LibraryEngine, DamagedOrOrphanedFilesNeverStopTheStart) {
    WriteFile(dir / "photos/a.jpg", "x");
    InitCorvaEngine();
    CorvaHistorys()->Add(GetFolderFromPath(Path("photos")));
    FinalCorvaEngine();

    // without the folder data file nothing is loaded, the history neither
    fs::remove(Data() / "CorvaData.tdb");
    fs::remove(Data() / "CorvaData.bak");
    InitCorvaEngine();
    EXPECT_EQ(CorvaHistorys()->Count(), 0);
    TFolder* photos = GetFolderFromPath(Path("photos"));
    photos->SearchFiles(nullptr);  // a folder with items outlives the save's purge
    CorvaHistorys()->Add(photos);
    FinalCorvaEngine();

    // both history files damaged: the start goes on with an empty history and the log says why
    for (const char* name : {"CorvaHistory.tdb", "CorvaHistory.bak"})
        std::ofstream(Data() / name, std::ios::binary | std::ios::trunc) << "CORVADX";
    InitCorvaEngine();
    EXPECT_EQ(CorvaHistorys()->Count(), 0);
    EXPECT_NE(CorvaFolders()->FindFolderByPath(Path("photos")), nullptr);
    std::string log = Log();
    EXPECT_NE(log.find("CorvaHistorys のデータの読込に失敗しました。\r\n\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("CorvaEngine のデータの読込に失敗しました。\r\n\r\nECorvaEngineLoadDataError\r\n"), std::string::npos);
}

TEST_F(LibraryEngine, AlbumsCalendarAndKeptDaysSurviveARestart) {
    WriteFile(dir / "photos/a.jpg", "x");
    WriteFile(dir / "photos/b.jpg", "y");
    TDateTime day = EncodeDateTime(2024, 3, 1, 10);
    InitCorvaEngine();
    ASSERT_NE(CorvaAlbums(), nullptr);
    ASSERT_NE(CorvaCalendars(), nullptr);
    TFolder* photos = GetFolderFromPath(Path("photos"));
    photos->SearchFiles(nullptr);
    TCatalogItem* a = photos->FindItem("a.jpg");
    a->SetShootingDate(day);
    a->SetInCalendar(true);
    TAlbum* trip = CorvaAlbums()->CreateAlbum(CorvaAlbums()->GetRootAlbum(atAlbum), atAlbum, "", "Trip");
    trip->AddItem(a, 3);
    CorvaAlbums()->CreateAlbum(CorvaAlbums()->GetRootAlbum(atTray), atTray, "作業用トレイ", "CorvaTray");
    TCalendar* node = CorvaCalendars()->FindOrCreateNode(true, day);
    node->AddItem(a, day);
    node->SetKeep(true);
    FinalCorvaEngine();

    InitCorvaEngine();
    TAlbum* again = CorvaAlbums()->GetAlbumFromPath("アルバム\\Trip");
    if (!again) again = CorvaAlbums()->GetRootAlbum(atAlbum)->FindChild("Trip");
    ASSERT_NE(again, nullptr);
    auto entries = again->GetEntries();
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_NE(entries[0]->Item, nullptr);
    EXPECT_EQ(entries[0]->Item->GetFileName(), "a.jpg");
    EXPECT_EQ(entries[0]->GroupNumber, 3);
    EXPECT_TRUE(CorvaAlbums()->GetRootAlbum(atTray)->GetSubAlbums().empty());  // trays are not kept
    // the calendar is filled again from the items, and the kept day is kept again
    TCalendar* day2 = CorvaCalendars()->FindOrCreateNode(false, day);
    ASSERT_NE(day2, nullptr);
    EXPECT_EQ(day2->GetCalendarItems().size(), 1u);
    EXPECT_TRUE(day2->GetKeep());
    FinalCorvaEngine();

    // damaged album data (and backup): folders and calendar still load, the log names the albums
    for (const char* name : {"CorvaGroup.tdb", "CorvaGroup.bak"})
        std::ofstream(Data() / name, std::ios::binary | std::ios::trunc) << "CORVADF";
    InitCorvaEngine();
    EXPECT_NE(CorvaFolders()->FindFolderByPath(Path("photos")), nullptr);
    EXPECT_NE(CorvaCalendars()->FindOrCreateNode(false, day), nullptr);
    EXPECT_NE(Log().find("CorvaAlbums のデータの読込に失敗しました。"), std::string::npos);
}
