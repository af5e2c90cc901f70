#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "core/engine.h"
#include "core/log.h"
#include "library/folder_tree_list.h"
#include "library/library_engine.h"
#include "library_test_util.h"

namespace fvtest {

void EngineTest::SetUp() {
    TempDirTest::SetUp();
    if (const char* v = std::getenv("XDG_DATA_HOME")) savedData = v;
    if (const char* v = std::getenv("XDG_CONFIG_HOME")) savedConfig = v;
    setenv("XDG_DATA_HOME", Path("data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", Path("config").c_str(), 1);
    fv::OpenCorvaLog(Path());
    fv::InstallLibraryEngine();
}

void EngineTest::TearDown() {
    if (fv::CorvaEngineExists()) fv::FinalCorvaEngine();
    fv::SetCorvaEngineBody(nullptr);
    fv::CloseCorvaLog();
    setenv("XDG_DATA_HOME", savedData.c_str(), 1);
    setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    TempDirTest::TearDown();
}

void TwoFoldersTest::StartWith(const std::vector<std::pair<std::string, std::string>>& tripFiles) {
    fv::InitCorvaEngine();
    for (const auto& [name, content] : tripFiles) WriteFile(dir / "lib/Trip" / name, content);
    fs::create_directories(dir / "lib/Other");
    src = fv::GetFolderFromPath(Path("lib/Trip"));
    dst = fv::GetFolderFromPath(Path("lib/Other"));
    if (!src || !dst) throw std::runtime_error("the test folders are not in the library");
    src->SearchFiles(nullptr);
}

TLibraryBodies::TLibraryBodies(fv::TFolderTreeList& tree, fv::TAlbumList& albums, fv::THistoryList& history) {
    tree.SaveTree(Tree, ItemCount);
    albums.SaveToStream(Albums);
    history.SaveToStream(History);
}

TReloadedLibrary::TReloadedLibrary(TLibraryBodies& bodies) {
    bodies.Tree.SetPosition(0);
    Tree.LoadTree(bodies.Tree);
    bodies.Albums.SetPosition(0);
    Albums.LoadFromStream(bodies.Albums);
    Index = Tree.BuildItemIndex();
    if (!Index) throw std::runtime_error("the loaded tree gave no item index");
    Albums.SetupFromIDList(*Index);
    Calendar.RegisterItems(*Index);
    bodies.History.SetPosition(0);
    History.LoadAndResolve(bodies.History, fv::THistoryList::LibraryResolver(&Tree, &Calendar, &Albums));
}

std::string EngineTest::Log() const {
    std::ifstream in(fv::CorvaLogFileName(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace fvtest
