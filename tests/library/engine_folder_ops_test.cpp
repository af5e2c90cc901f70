#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/engine.h"
#include "core/log.h"
#include "library/album.h"
#include "library/engine_folder_ops.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "library/library_engine.h"
#include "library_test_util.h"

using namespace fv;
using namespace fvtest;

namespace {

struct FolderOps : TwoFoldersTest {
    void SetUp() override {
        TwoFoldersTest::SetUp();
        StartWith({{"a.jpg", "aaaa"}, {"sub/b.jpg", "bb"}});
        src->ScanSubFoldersQuiet();
        src->FindSubFolder("sub")->SearchFiles(nullptr);
    }
};

}  // namespace

TEST_F(FolderOps, RefusalsReachTheCallerWrappedTwice) {
    TAlbumList* albums = CorvaAlbums();
    TAlbum* a = albums->CreateAlbum(albums->GetRootAlbum(atAlbum), atAlbum, "", "A");
    TAlbum* b = albums->CreateAlbum(a, atAlbum, "", "B");
    try {
        CorvaEngineCopyFolder(a, b);
        FAIL();
    } catch (const ECorvaEngineError& e) {
        std::string inner = a->GetFullName() + " を\r\n" + b->GetFullName() + " にコピーすることはできません。";
        EXPECT_EQ(e.Message(), "CorvaEngineCopyFolder でエラーが発生しました。\r\n\r\nECorvaEngineError\r\n"
                               "CheckCopyMoveToFolder でエラーが発生しました。\r\n\r\nECorvaEngineError\r\n" +
                                   inner + "\r\n\r\n");
    }
    EXPECT_THROW(CorvaEngineMoveFolder(albums->GetRootAlbum(atAlbum), b), ECorvaEngineError);  // a root stays
    EXPECT_THROW(CorvaEngineCopyFolder(src, a), ECorvaEngineError);                           // disk into album
    std::string empty;
    try {
        CorvaEngineRenameFolder(src, empty);
        FAIL();
    } catch (const ECorvaEngineError& e) {
        EXPECT_NE(e.Message().find("CorvaEngineRenameFolder でエラーが発生しました。"), std::string::npos);
        EXPECT_NE(e.Message().find("空白のフォルダ名は無効です。"), std::string::npos);
    }
    EXPECT_NE(Log().find("ECorvaEngineError\r\n空白のフォルダ名は無効です。"), std::string::npos);
}

TEST_F(FolderOps, ChildrenGetFreeNamesAndRenamesFollowTheDisk) {
    std::string name = "sub";
    TCustomFolder* child = CorvaEngineCreateChild(src, name);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(name, "sub(2)");  // the first alternative for a directory is formed with 2
    EXPECT_TRUE(fs::is_directory(dir / "lib/Trip/sub(2)"));

    TAlbum* root = CorvaAlbums()->GetRootAlbum(atAlbum);
    std::string album = "Trip";
    CorvaEngineCreateChild(root, album);
    EXPECT_EQ(album, "Trip");
    CorvaEngineCreateChild(root, album);
    EXPECT_EQ(album, "Trip(1)");  // albums count from 1

    std::string renamed = "Renamed:1";
    CorvaEngineRenameFolder(child, renamed);
    EXPECT_EQ(renamed, "Renamed-1");
    EXPECT_TRUE(fs::is_directory(dir / "lib/Trip/Renamed-1"));
    std::string clash = "sub";
    EXPECT_THROW(CorvaEngineRenameFolder(child, clash), ECorvaEngineError);  // never over an existing folder
    EXPECT_TRUE(fs::is_directory(dir / "lib/Trip/sub/"));

    TAlbum* tray = CreateNewTrayAlbum();
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(tray->GetAlbumType(), atTray);
}

TEST_F(FolderOps, CopiesTakeTheItemDataAlongAndMovesKeepTheItems) {
    TCatalogItem* a = src->FindItem("a.jpg");
    ASSERT_NE(a, nullptr);
    a->SetRating(3);
    CorvaEngineCopyFolder(src, dst);
    TFolder* copy = CorvaFolders()->FindFolderByPath(Path("lib/Other/Trip"));
    ASSERT_NE(copy, nullptr);
    ASSERT_NE(copy->FindItem("a.jpg"), nullptr);
    EXPECT_EQ(copy->FindItem("a.jpg")->GetRating(), 3);
    EXPECT_TRUE(fs::exists(dir / "lib/Other/Trip/sub/b.jpg"));

    fs::create_directories(dir / "lib/Moved");
    TFolder* moved = GetFolderFromPath(Path("lib/Moved"));
    TCatalogItem* b = src->FindSubFolder("sub")->FindItem("b.jpg");
    CorvaEngineMoveFolder(src, moved);
    EXPECT_FALSE(fs::exists(dir / "lib/Trip"));
    TFolder* there = CorvaFolders()->FindFolderByPath(Path("lib/Moved/Trip"));
    ASSERT_NE(there, nullptr);
    EXPECT_EQ(there->FindItem("a.jpg"), a);  // the same item object, with everything held of it
    EXPECT_EQ(a->GetOwner(), there);
    EXPECT_EQ(there->FindSubFolder("sub")->FindItem("b.jpg"), b);
    EXPECT_TRUE(src->IsRemoved());
}

TEST_F(FolderOps, DeletingGoesToTheTrashAndAlbumUtilitiesNeverRaise) {
    TCatalogItem* a = src->FindItem("a.jpg");
    CorvaEngineDeleteFolder(src);
    EXPECT_FALSE(fs::exists(dir / "lib/Trip"));
    EXPECT_TRUE(fs::exists(dir / "data/Trash/files/Trip/a.jpg"));
    EXPECT_TRUE(fs::exists(dir / "data/Trash/info/Trip.trashinfo"));
    EXPECT_TRUE(src->IsRemoved());

    TAlbum* album = CorvaAlbums()->CreateAlbum(CorvaAlbums()->GetRootAlbum(atAlbum), atAlbum, "", "Best");
    EXPECT_FALSE(CorvaAddItemToAlbum(nullptr, a, 0, true, true));
    EXPECT_FALSE(CorvaAddItemsToAlbum(album, nullptr, 0, true, true));
    TItemList none;
    EXPECT_FALSE(CorvaAddItemsToAlbum(album, &none, 0, true, true));
    EXPECT_TRUE(CorvaAddItemToAlbum(album, a, 2, true, true));
    EXPECT_NE(album->FindEntry(a), nullptr);
    EXPECT_TRUE(CorvaDelItemFromAlbum(album, a, true, true));
    EXPECT_FALSE(CorvaDelItemFromAlbum(album, a, true, true));  // no entry any more
    std::string log = Log();
    EXPECT_NE(log.find("CorvaAddItemToAlbum でエラーが発生しました。\r\nEAlbumUtilsError\r\nDestAlbum = nil\r\n"), std::string::npos);
    EXPECT_NE(log.find("Items.Count = 0"), std::string::npos);

    std::string path;
    TAlbum* inner = CorvaAlbums()->CreateAlbum(album, atAlbum, "", "Inner");
    ASSERT_TRUE(CorvaGetFolderPathWithOutRoot(inner, path));
    EXPECT_EQ(path, "Best\\Inner");
    EXPECT_FALSE(CorvaGetFolderPathWithOutRoot(nullptr, path));
}
