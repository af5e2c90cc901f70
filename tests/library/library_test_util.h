#pragma once
// Helpers shared by the library tests: a private temporary folder per test and a
// small concrete folder for the base-class behaviour.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "library/album.h"
#include "library/calendar.h"
#include "library/custom_folder.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "library/history_list.h"
#include "platform/datetime.h"
#include "platform/stream.h"

namespace fvtest {

namespace fs = std::filesystem;

struct TempDirTest : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = fs::temp_directory_path() /
              ("fv-lib-" + std::to_string(::getpid()) + "-" + info->test_suite_name() + "-" + info->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
    }
    std::string Path(const std::string& rel = "") const { return rel.empty() ? dir.string() : (dir / rel).string(); }
};

// A running engine with the library body on this test's own data and settings folders.
struct EngineTest : TempDirTest {
    std::string savedData, savedConfig;
    void SetUp() override;
    void TearDown() override;
    std::string Log() const;
    fs::path Data() const { return dir / "data/Kestrona/FolvaneBrowser/Data"; }
};

inline void WriteFile(const fs::path& p, const std::string& content) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out << content;
}

inline std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A library's three bodies (folder tree, albums, history) saved to memory ...
struct TLibraryBodies {
    fv::TMemoryStream Tree, Albums, History;
    int32_t ItemCount = 0;
    TLibraryBodies(fv::TFolderTreeList& tree, fv::TAlbumList& albums, fv::THistoryList& history);
};

// ... and loaded again in the engine's order: tree, albums, the item index, the calendar from
// the index, the history resolved against all three.
struct TReloadedLibrary {
    fv::TFolderTreeList Tree;
    fv::TAlbumList Albums;
    std::unique_ptr<fv::TItemIndex> Index;
    fv::TCalendarRoot Calendar{fv::Now()};
    fv::THistoryList History{50};
    explicit TReloadedLibrary(TLibraryBodies& bodies);
};

// A running engine with two disk folders of the library: "lib/Trip" holding the given files
// (name, content; names may lead into subfolders), read into the library, and the empty "lib/Other".
struct TwoFoldersTest : EngineTest {
    fv::TFolder* src = nullptr;
    fv::TFolder* dst = nullptr;
    void StartWith(const std::vector<std::pair<std::string, std::string>>& tripFiles);
};

// A folder with a fixed kind, a fixed own item count and hand-made subfolders.
class TFakeFolder : public fv::TCustomFolder {
public:
    explicit TFakeFolder(int kind, int items = 0, int marked = 0) : FKind(kind), FCount(items), FMarked(marked) {}
    const char* ClassName() const override { return "TFakeFolder"; }
    int GetFolderKind() const override { return FKind; }
    std::string GetCaption() const override { return "fake"; }
    std::string GetFullName() const override { return "fake"; }
    bool HasSubFolders() const override { return !Subs.empty(); }
    fv::TCustomFolder* GetParent() const override { return nullptr; }
    int GetItemCount() const override { return FCount; }
    int GetItemCountOfKinds(fv::TKindSet kinds) const override {
        ++KindQueries;
        return kinds ? FCount : 0;
    }
    int GetMarkedItemCount() const override { return FMarked; }
    bool IsChildOf(const fv::TCustomFolder*) const override { return false; }
    void GetSubFolders(fv::TFolderList& list) const override {
        ++SubFolderQueries;
        list.insert(list.end(), Subs.begin(), Subs.end());
    }
    void GetRemovedSubFolders(fv::TFolderList&) const override {}
    void GetItems(fv::TItemList&) const override {}
    void GetItemsOfKinds(fv::TKindSet, fv::TItemList&) const override {}

    std::vector<fv::TCustomFolder*> Subs;
    mutable int KindQueries = 0;
    mutable int SubFolderQueries = 0;

private:
    int FKind, FCount, FMarked;
};

}  // namespace fvtest
