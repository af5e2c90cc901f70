#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/engine.h"
#include "core/log.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "library/history_list.h"
#include "library/library_engine.h"
#include "library_test_util.h"

using namespace fv;
using namespace fvtest;

namespace {

struct LibraryEngine : TempDirTest {
    std::string savedData, savedConfig;
    void SetUp() override {
        TempDirTest::SetUp();
        if (const char* v = std::getenv("XDG_DATA_HOME")) savedData = v;
        if (const char* v = std::getenv("XDG_CONFIG_HOME")) savedConfig = v;
        setenv("XDG_DATA_HOME", Path("data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", Path("config").c_str(), 1);
        OpenCorvaLog(Path());
        InstallLibraryEngine();
    }
    void TearDown() override {
        if (CorvaEngineExists()) FinalCorvaEngine();
        SetCorvaEngineBody(nullptr);
        CloseCorvaLog();
        setenv("XDG_DATA_HOME", savedData.c_str(), 1);
        setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
        TempDirTest::TearDown();
    }
    fs::path Data() const { return dir / "data/Kestrona/FolvaneBrowser/Data"; }
    std::string Log() {
        std::ifstream in(CorvaLogFileName(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

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
