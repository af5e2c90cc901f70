// The library engine: start (create, load, start) and end (stop, save, free) of a library of
// 100,000 items in 2,000 folders with 200 albums, and fvb scan of 10,000 camera JPEGs against
// exiftool and find over the same folder in the same run.
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/engine.h"
#include "library/album.h"
#include "library/calendar.h"
#include "library/catalog_item.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "library/library_engine.h"
#include "thumbs/engine_image_cache.h"
#include "platform/datetime.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// CPU seconds of the whole process (every thread): beside the wall clock, it shows how much of
// a figure was waiting on a busy machine
double ProcessCpu() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// the high-water mark of the resident set, from the kernel's own account of this process
double PeakMb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

double RunTimed(const std::string& cmd) {
    auto t = Clock::now();
    int rc = std::system(cmd.c_str());
    double s = Since(t);
    return rc == 0 ? s : -1;
}

// 2,000 folders of 50 items, each with a shooting date in the calendar; 200 albums of 250 entries
void MakeLibrary(const fs::path& work) {
    fv::AssembleEngine();
    fv::InitCorvaEngine();
    std::vector<fv::TCatalogItem*> all;
    for (int f = 0; f < 2000; ++f) {
        fs::path dir = work / "lib" / ("y" + std::to_string(2000 + f % 20)) / ("folder" + std::to_string(f));
        fs::create_directories(dir);
        fv::TFolder* folder = fv::CorvaFolders()->FindOrCreateFolderByPath(dir.string());
        for (int i = 0; i < 50; ++i) {
            bool created = false;
            fv::TCatalogItem* it = folder->FindOrCreateItem("IMG_" + std::to_string(10000 + i) + ".JPG", &created);
            it->SetShootingDate(fv::EncodeDateTime(2000 + f % 20, 1 + i % 12, 1 + f % 28, i % 24));
            it->SetInCalendar(true);
            all.push_back(it);
        }
    }
    fv::TAlbumList* albums = fv::CorvaAlbums();
    for (int a = 0; a < 200; ++a) {
        fv::TAlbum* album = albums->CreateAlbum(albums->GetRootAlbum(fv::atAlbum), fv::atAlbum, "", "Album " + std::to_string(a));
        for (int e = 0; e < 250; ++e) album->AddItem(all[(static_cast<size_t>(a) * 499 + static_cast<size_t>(e) * 7) % all.size()], e % 5);
    }
    all.clear();
    fv::FinalCorvaEngine();  // the first save writes the files
}

void EngineFigures(const fs::path& work) {
    setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (work / "config").c_str(), 1);
    // The library is made and saved by a child process, so that the start below runs in a process
    // whose heap never held a library, as the browser's start does.
    std::fflush(stdout);
    pid_t child = ::fork();
    if (child == 0) {
        MakeLibrary(work);
        std::_Exit(0);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::printf("bench: engine_100k_start_ms = - ms\nbench: engine_100k_end_ms = - ms\nbench: engine_100k_peak_mb = - MB\n");
        return;
    }
    fv::AssembleEngine();
    auto t = Clock::now();
    double c = ProcessCpu();
    fv::InitCorvaEngine();
    double start = Since(t), startCpu = ProcessCpu() - c;
    int items = fv::CorvaFolders()->GetTotalItemCount();
    // one change, as after any session: the end writes the folder data file again (an unchanged
    // file would be left alone)
    if (fv::TFolder* f = fv::CorvaFolders()->FindFolderByPath((work / "lib/y2000/folder0").string())) {
        if (fv::TCatalogItem* it = f->FindItem("IMG_10000.JPG")) it->SetRating(2);
    }
    t = Clock::now();
    c = ProcessCpu();
    fv::FinalCorvaEngine();
    double end = Since(t), endCpu = ProcessCpu() - c;
    std::printf("library of %d items: start %.3f s (cpu %.3f s), end %.3f s (cpu %.3f s)\n", items, start, startCpu, end,
                endCpu);
    std::printf("bench: engine_100k_start_ms = %.1f ms\n", start * 1000);
    std::printf("bench: engine_100k_end_ms = %.1f ms\n", end * 1000);
    std::printf("bench: engine_100k_peak_mb = %.1f MB\n", PeakMb());
}

void ScanFigures(const fs::path& work, const std::string& fvb, bool withExiftool) {
    // 10,000 camera JPEGs: hard links to the sample photos, so the disk holds them once and the
    // file cache is warm for every contender
    fs::path photos = work / "photos";
    std::vector<fs::path> samples;
    for (auto& e : fs::directory_iterator(fs::path(FV_TESTDATA_DIR) / "photos"))
        if (e.is_regular_file() && e.path().extension() == ".jpg" && e.file_size() < 200000) samples.push_back(e.path());
    if (samples.empty() || !fs::exists(fvb)) {
        std::printf("bench: scan_10k_vs_exiftool = - x\nbench: scan_rescan_10k_vs_find = - x\n");
        return;
    }
    for (int i = 0; i < 10000; ++i) {
        fs::path dir = photos / ("DCIM" + std::to_string(100 + i / 500));
        if (i % 500 == 0) fs::create_directories(dir);
        fs::create_hard_link(samples[static_cast<size_t>(i) % samples.size()], dir / ("P" + std::to_string(1000000 + i) + ".jpg"));
    }
    std::string env = "XDG_DATA_HOME='" + (work / "scan-data").string() + "' XDG_CONFIG_HOME='" + (work / "config").string() + "' ";
    std::string quiet = " > /dev/null 2>&1";
    RunTimed("find '" + photos.string() + "' -printf '%s %T@\\n'" + quiet);  // warms the cache
    double scan = RunTimed(env + fvb + " scan '" + photos.string() + "'" + quiet);
    // the rescan and find alternate, three times each (the median counts): a busy machine slows
    // whichever runs at a bad moment
    std::vector<double> rescans, finds;
    for (int i = 0; i < 3; ++i) {
        rescans.push_back(RunTimed(env + fvb + " scan '" + photos.string() + "'" + quiet));
        finds.push_back(RunTimed("find '" + photos.string() + "' -printf '%s %T@\\n'" + quiet));
    }
    std::sort(rescans.begin(), rescans.end());
    std::sort(finds.begin(), finds.end());
    double rescan = rescans[0] < 0 ? -1 : rescans[1], find = finds[0] < 0 ? -1 : finds[1];
    bool haveExiftool = withExiftool && std::system("command -v exiftool > /dev/null 2>&1") == 0;
    double exif = haveExiftool ? RunTimed("exiftool -fast2 -DateTimeOriginal -r '" + photos.string() + "'" + quiet) : -1;
    std::printf("fvb scan %.3f s, rescan %.3f s, find %.3f s, exiftool %.3f s\n", scan, rescan, find, exif);
    if (exif > 0 && scan > 0) std::printf("bench: scan_10k_vs_exiftool = %.2f x\n", exif / scan);
    else std::printf("bench: scan_10k_vs_exiftool = - x\n");
    if (find > 0 && rescan > 0) std::printf("bench: scan_rescan_10k_vs_find = %.2f x\n", rescan / find);
    else std::printf("bench: scan_rescan_10k_vs_find = - x\n");
}

}  // namespace

// "engine_bench engine" or "engine_bench scan" runs one half; "engine_bench rescan" the scan
// figures without exiftool, which alone takes minutes
int main(int argc, char** argv) {
    std::string only = argc > 1 ? argv[1] : "";
    fs::path work = fs::temp_directory_path() / ("fv-bench-engine-" + std::to_string(::getpid()));
    fs::remove_all(work);
    fs::create_directories(work);
    std::string fvb = (fs::path(argv[0]).parent_path() / ".." / "fvb").string();
    if (only.empty() || only == "scan" || only == "rescan") ScanFigures(work, fvb, only != "rescan");
    if (only.empty() || only == "engine") EngineFigures(work);  // last: its peak memory is this process's own
    std::error_code ec;
    fs::remove_all(work, ec);
    return 0;
}
