// Starts the library engine on fuzzed data files: the input is split at the first two "\n--\n"
// marks into the folder data file, the album data file and the history data file (each given the
// data-file header unless the input part brings its own), the engine is started, its library walked
// and saved into memory, and ended without writing back.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/data_file.h"
#include "core/engine.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "library/history_list.h"
#include "library/library_engine.h"
#include "platform/stream.h"

namespace {

namespace fs = std::filesystem;

fs::path gData;

void Write(const fs::path& p, const std::string& part) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    if (part.compare(0, 7, "CORVADF") != 0) {
        fv::TMemoryStream head;
        fv::WriteDataFileHeader(head, 0, 0);
        out.write(reinterpret_cast<const char*>(head.Data().data()), static_cast<std::streamsize>(head.Data().size()));
    }
    out.write(part.data(), static_cast<std::streamsize>(part.size()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fs::path base = fs::temp_directory_path() / ("fv-fuzz-engine-" + std::to_string(::getpid()));
    fs::create_directories(base);
    setenv("XDG_DATA_HOME", (base / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (base / "config").c_str(), 1);
    gData = base / "data/Kestrona/FolvaneBrowser/Data";
    fs::create_directories(gData);
    fv::InstallLibraryEngine();
    fv::SetCorvaEngineSavesLibrary(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    std::string parts[3];
    size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        size_t mark = i < 2 ? in.find("\n--\n", at) : std::string::npos;
        parts[i] = in.substr(at, mark == std::string::npos ? std::string::npos : mark - at);
        if (mark == std::string::npos) {
            at = in.size();
        } else {
            at = mark + 4;
        }
    }
    Write(gData / "CorvaData.tdb", parts[0]);
    Write(gData / "CorvaGroup.tdb", parts[1]);
    Write(gData / "CorvaHistory.tdb", parts[2]);
    // a fuzzed backup too, so the fall-back path runs on damaged data as well
    Write(gData / "CorvaData.bak", parts[2] + parts[0]);

    fv::InitCorvaEngine();
    if (fv::TFolderTreeList* tree = fv::CorvaFolders()) {
        fv::TMemoryStream out;
        int32_t count = 0;
        tree->SaveTree(out, count);  // what was loaded can always be saved again
        (void)tree->BuildItemIndex();
    }
    if (fv::THistoryList* h = fv::CorvaHistorys()) {
        fv::TMemoryStream out;
        h->SaveToStream(out);
    }
    fv::FinalCorvaEngine();
    return 0;
}
