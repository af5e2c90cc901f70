#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/config.h"
#include "platform/registry.h"

using namespace fv;
namespace fs = std::filesystem;

namespace {
struct Config : ::testing::Test {
    std::string file = DefaultRegistryFileName();
    void SetUp() override {
        fs::remove(file);
        fs::remove(file + ".bad");
    }
    void TearDown() override {
        fs::remove(file);
        fs::remove(file + ".bad");
    }
    TRegistry& Key(TRegistry& reg, const std::string& key = "SOFTWARE\\Kestrona\\FolvaneBrowser\\Config") {
        EXPECT_TRUE(reg.OpenKey(key, true));
        return reg;
    }
};
}  // namespace

TEST_F(Config, FirstRunHasEveryDefaultAndTheDerivedLocations) {
    TFolvaneConfigItem c;
    c.LoadFromRegistry();
    std::string data = std::string(std::getenv("XDG_DATA_HOME")) + "/Kestrona/FolvaneBrowser/";
    EXPECT_EQ(c.GetRegistryKey(), "SOFTWARE\\Kestrona\\FolvaneBrowser\\Config");
    EXPECT_EQ(c.GetDataFolder(), data + "Data");
    EXPECT_EQ(c.GetLogFolder(), data + "Log");
    EXPECT_EQ(c.GetFolderDataFile(), data + "Data/CorvaData.tdb");
    EXPECT_EQ(c.GetAlbumDataFile(), data + "Data/CorvaGroup.tdb");
    EXPECT_EQ(c.GetHistoryDataFile(), data + "Data/CorvaHistory.tdb");
    EXPECT_EQ(c.GetMusicLibraryFile(), data + "Data/BgmLib.tdb");
    EXPECT_EQ(c.GetImageTypes(), 99);
    EXPECT_EQ(c.GetSortType(), 2);
    EXPECT_TRUE(c.GetSortUp());
    EXPECT_EQ(c.GetCatalogSize(), 0);
    EXPECT_EQ(c.GetThumbnailSize(), 80);
    EXPECT_EQ(c.GetInfoTypes(), 3);
    EXPECT_EQ(c.GetMakeCatalogOptions(), 5);
    EXPECT_EQ(c.GetCacheKind(), 1);
    EXPECT_EQ(c.GetCacheMaxSizeMB(), 1000u);
    EXPECT_FALSE(c.GetDontCheckNetwork());
    EXPECT_EQ(c.GetTargetPanelW(), 320);
    EXPECT_EQ(c.GetToolPanelW(), 320);
    EXPECT_EQ(c.GetCatalogSize2(), 1);
    EXPECT_TRUE(c.GetNeedBgmLibrarySetup());
    EXPECT_TRUE(c.GetOpenUrlInHome());
    EXPECT_FALSE(c.GetShowMainMenu());
    EXPECT_EQ(c.GetWindowPlacement(), TWindowPlacement{});
    EXPECT_FALSE(fs::exists(file));  // loading never creates the store

    TCorvaConfigItem base;
    EXPECT_EQ(base.GetRegistryKey(), "SOFTWARE\\Kestrona\\Corva\\Config");
}

TEST_F(Config, EverySettingSurvivesSaveAndLoad) {
    {
        TFolvaneConfigItem c;
        c.SetImageTypes(7);
        c.SetSortType(4);
        c.SetSortUp(false);
        c.SetCatalogSize(2);
        c.SetThumbnailSize(200);
        c.SetInfoTypes(0x1234);
        c.SetCacheKind(0);
        c.SetCacheMaxSizeMB(16000);
        c.SetDontCheckNetwork(true);
        TWindowPlacement wp;
        wp.Length = 44, wp.ShowCmd = 3, wp.Left = -10, wp.Bottom = 700;
        c.SetWindowPlacement(wp);
        c.SetTrayHeight(123);
        c.SetLastViewDate(45123.5);
        c.SetCursorMode(2);
        c.SetShowAddrBar(true);
        c.SetInportViewerPaths({"/usr/bin/gimp", "/opt/写真"});
        c.SaveToRegistry();
    }
    TFolvaneConfigItem c;
    c.LoadFromRegistry();
    EXPECT_EQ(c.GetImageTypes(), 7);
    EXPECT_EQ(c.GetSortType(), 4);
    EXPECT_FALSE(c.GetSortUp());
    EXPECT_EQ(c.GetCatalogSize(), 2);
    EXPECT_EQ(c.GetThumbnailSize(), 200);
    EXPECT_EQ(c.GetInfoTypes(), 0x1234);
    EXPECT_EQ(c.GetCacheKind(), 0);
    EXPECT_EQ(c.GetCacheMaxSizeMB(), 16000u);
    EXPECT_TRUE(c.GetDontCheckNetwork());
    EXPECT_EQ(c.GetWindowPlacement().Left, -10);
    EXPECT_EQ(c.GetWindowPlacement().Bottom, 700);
    EXPECT_EQ(c.GetTrayHeight(), 123);
    EXPECT_DOUBLE_EQ(c.GetLastViewDate(), 45123.5);
    EXPECT_EQ(c.GetCursorMode(), 2);
    EXPECT_TRUE(c.GetShowAddrBar());
    std::vector<std::string> paths{"stale"};
    c.GetInportViewerPaths(paths);
    EXPECT_EQ(paths, (std::vector<std::string>{"/usr/bin/gimp", "/opt/写真"}));
}

TEST_F(Config, ThumbnailSizeIsDerivedFromAnOldCatalogSize) {
    struct Case {
        int32_t catalog;
        int want;
    } cases[] = {{3, 200}, {0, 80}, {4, 240}, {150, 150}, {300, 80}, {79, 80}, {-1, 80}};
    for (auto cs : cases) {
        {
            TRegistry reg(file);
            Key(reg).WriteInteger("CatalogSize", cs.catalog);
        }
        TFolvaneConfigItem c;
        c.LoadFromRegistry();
        EXPECT_EQ(c.GetThumbnailSize(), cs.want) << cs.catalog;
        EXPECT_EQ(c.GetCatalogSize(), cs.catalog >= 0 ? cs.catalog : 0);
    }
}

TEST_F(Config, CacheSizeOutOfRangeIsIgnoredOnLoadAndRefusedBySetter) {
    {
        TRegistry reg(file);
        Key(reg).WriteInteger("CacheMaxSizeMB", 20000);
        reg.WriteInteger("CatalogSize", -3);
        unsigned char none = 0;
        reg.WriteBinaryData("SortType", &none, 0);  // wrong width: not taken
    }
    TFolvaneConfigItem c;
    c.LoadFromRegistry();
    EXPECT_EQ(c.GetCacheMaxSizeMB(), 1000u);
    EXPECT_EQ(c.GetSortType(), 2);
    try {
        c.SetCacheMaxSizeMB(16001);
        FAIL();
    } catch (const ERangeError& e) {
        EXPECT_EQ(e.Message(), "キャッシュサイズが範囲を超えています。( 16001 )");
    }
    EXPECT_EQ(c.GetCacheMaxSizeMB(), 1000u);
}

TEST_F(Config, ShorterPathListLeavesOnlyItsOwnValues) {
    TFolvaneConfigItem c;
    c.SetInportViewerPaths({"a", "b", "c", "d", "e"});
    c.SaveToRegistry();
    c.SetInportViewerPaths({"x", "y"});
    c.SaveToRegistry();
    TRegistry reg(file);
    ASSERT_TRUE(reg.OpenKeyReadOnly("SOFTWARE\\Kestrona\\FolvaneBrowser\\Config\\InportViewerPath"));
    EXPECT_EQ(reg.GetValueNames(), (std::vector<std::string>{"Data_00", "Data_01"}));
    EXPECT_EQ(reg.ReadString("Data_01"), "y");
    // from index 100 the names have three digits
    std::vector<std::string> many(101, "p");
    c.SetInportBackupPaths(many);
    c.SaveToRegistry();
    ASSERT_TRUE(reg.OpenKeyReadOnly("SOFTWARE\\Kestrona\\FolvaneBrowser\\Config\\InportBackupPath"));
    EXPECT_EQ(reg.GetValueNames().back(), "Data_100");
}

TEST_F(Config, AValueOfAnotherTypeFailsTheLoadAndKeepsTheFileAside) {
    {
        TRegistry reg(file);
        Key(reg).WriteString("SortUp", "yes");
        reg.WriteInteger("TrayHeight", 5);
    }
    TFolvaneConfigItem c;
    EXPECT_THROW(c.LoadFromRegistry(), ERegistryException);
    EXPECT_TRUE(fs::exists(file + ".bad"));
    EXPECT_FALSE(fs::exists(file));
    // a larger binary value than expected fails the same way
    {
        TRegistry reg(file);
        unsigned char big[45] = {};
        Key(reg).WriteBinaryData("WindowPlacement", big, 45);
    }
    fs::remove(file + ".bad");
    TFolvaneConfigItem d;
    EXPECT_THROW(d.LoadFromRegistry(), ERegistryException);
}

TEST_F(Config, VersionMarkerComparesWithoutCase) {
    TFolvaneConfigItem c;
    EXPECT_FALSE(c.IsVersionChanged());  // missing
    {
        TRegistry reg(file);
        Key(reg, "SOFTWARE\\Kestrona\\FolvaneBrowser").WriteString("SuccessedVersion", "");
    }
    EXPECT_FALSE(c.IsVersionChanged());  // empty
    {
        TRegistry reg(file);
        Key(reg, "SOFTWARE\\Kestrona\\FolvaneBrowser").WriteString("SuccessedVersion", "0.9.ALPHA");
    }
    EXPECT_TRUE(c.IsVersionChanged());
    c.StoreSuccessedVersion();
    EXPECT_FALSE(c.IsVersionChanged());
    std::string running;
    {
        TRegistry reg(file);
        running = Key(reg, "SOFTWARE\\Kestrona\\FolvaneBrowser").ReadString("SuccessedVersion");
        ASSERT_FALSE(running.empty());
        Key(reg, "SOFTWARE\\Kestrona\\FolvaneBrowser").WriteString("SuccessedVersion", running + ".beta");
    }
    EXPECT_TRUE(c.IsVersionChanged());  // a longer text that begins with the running version
    {
        TRegistry reg(file);
        Key(reg, "SOFTWARE\\Kestrona\\FolvaneBrowser").WriteInteger("SuccessedVersion", 1);
    }
    EXPECT_FALSE(c.IsVersionChanged());  // unreadable counts as missing
}

TEST(WindowPlacementRecord, IsElevenLittleEndianIntegers) {
    TWindowPlacement p;
    p.Length = 44, p.Flags = 1, p.Right = -2;
    unsigned char b[44];
    EncodeWindowPlacement(p, b);
    EXPECT_EQ(b[0], 44);
    EXPECT_EQ(b[4], 1);
    EXPECT_EQ(b[36], 0xFE);
    EXPECT_EQ(b[39], 0xFF);
    EXPECT_EQ(DecodeWindowPlacement(b, 44), p);
    TWindowPlacement shortRead = DecodeWindowPlacement(b, 8);
    EXPECT_EQ(shortRead.Flags, 1);
    EXPECT_EQ(shortRead.Right, 0);
}

TEST_F(Config, VersionMarkerLeavesADamagedStoreForTheLoadToReport) {
    fs::create_directories(fs::path(file).parent_path());
    const std::string damaged = "[SOFTWARE\\Kestrona\\FolvaneBrowser]\n\"SuccessedVersion\"=sz:\"1.0\n";
    std::ofstream(file) << damaged;
    TFolvaneConfigItem c;
    EXPECT_FALSE(c.IsVersionChanged());
    c.StoreSuccessedVersion();
    std::ifstream in(file);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), damaged);
    EXPECT_THROW(c.LoadFromRegistry(), ERegistryDamagedError);
    EXPECT_TRUE(fs::exists(file + ".bad"));
}
