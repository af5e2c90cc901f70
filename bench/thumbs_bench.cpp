// Thumbnail production on 200 camera-size JPEGs (4000 x 3000 with EXIF thumbnails, made here
// deterministically and kept in the build tree between runs):
//  - definitive 240-pixel thumbnails by the source workers, against `djpeg -scale 1/8` alone and
//    against `vipsthumbnail --size 240`, each with the same number of threads;
//  - the same with 2 threads against 1 (wall time);
//  - first pictures from EXIF thumbnails alone, per second and core;
//  - 1,000 cached thumbnails read back and drawn at 160 px with their orientation, per second and core;
//  - the peak memory of `fvb thumbs` over the 200 photos with 2 threads.
// Times of our code and of the peers are CPU times (the machine is shared); scaling is wall time.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../tests/image/exif_test_jpeg.h"
#include "thumbs/cache_image_maker.h"
#include "thumbs/cache_image_route.h"
#include "thumbs/catalog_image_cache.h"
#include "image/resample.h"
#include "library/catalog_item.h"
#include "library/folder.h"
#include "platform/ui_dispatch.h"

using namespace fv;
namespace fs = std::filesystem;

namespace {

constexpr int kPhotos = 200;
constexpr int kThreads = 2;

// smooth gradients, blocks and fine grain: a JPEG of camera size (2-5 MB at quality 92)
TBitmap CameraPicture(int w, int h, uint32_t seed) {
    TBitmap b(w, h);
    const int bx = static_cast<int>(seed % 7) * w / 10, by = static_cast<int>(seed % 5) * h / 8;
    for (int y = 0; y < h; ++y) {
        uint8_t* p = b.ScanLine(y);
        for (int x = 0; x < w; ++x, p += 3) {
            seed = seed * 1664525u + 1013904223u;
            const int n = static_cast<int>(seed >> 27) - 16;
            const bool block = x > bx && x < bx + w / 4 && y > by && y < by + h / 3;
            p[0] = static_cast<uint8_t>(std::clamp((block ? 230 : 60 + 120 * x / w) + n, 0, 255));
            p[1] = static_cast<uint8_t>(std::clamp(90 + 100 * y / h + ((x / 37 + y / 41) % 2) * 20 + n, 0, 255));
            p[2] = static_cast<uint8_t>(std::clamp((block ? 40 : 200 - 130 * x / w) + n, 0, 255));
        }
    }
    return b;
}

std::vector<std::string> MakePhotos(const std::string& dir) {
    fs::create_directories(dir);
    std::vector<std::string> files;
    for (int i = 0; i < kPhotos; ++i) files.push_back(dir + "/" + Format("IMG_%04d.JPG", i + 1));
    std::atomic<int> next{0};
    auto work = [&] {
        for (int i = next++; i < kPhotos; i = next++) {
            if (fs::exists(files[i]) && fs::file_size(files[i]) > 1000000) continue;
            TBitmap main = CameraPicture(4000, 3000, 1234u + 97u * static_cast<uint32_t>(i));
            TBitmap thumb(160, 120);
            FilteredResample(main, thumb, fkTriangle);
            // every fourth photo was taken upright: the camera tags it with a quarter turn
            const auto bytes = testutil::MakeExifJpeg(main, i % 4 == 3 ? 6 : 1, &thumb, 92);
            const std::string temp = files[i] + ".part";
            TMemoryStream out(bytes);
            out.SaveToFile(temp);
            fs::rename(temp, files[i]);
        }
    };
    std::thread helper(work);
    work();
    helper.join();
    return files;
}

// camera-size photos without an EXIF thumbnail (kept between runs like the others)
std::vector<std::string> MakePlainPhotos(const std::string& dir, int count) {
    fs::create_directories(dir);
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) files.push_back(dir + "/" + Format("DSC_%04d.JPG", i + 1));
    std::atomic<int> next{0};
    auto work = [&] {
        for (int i = next++; i < count; i = next++) {
            if (fs::exists(files[i]) && fs::file_size(files[i]) > 1000000) continue;
            TBitmap main = CameraPicture(4000, 3000, 4321u + 89u * static_cast<uint32_t>(i));
            const auto bytes = testutil::MakeExifJpeg(main, 1, nullptr, 92);
            TMemoryStream out(bytes);
            out.SaveToFile(files[i] + ".part");
            fs::rename(files[i] + ".part", files[i]);
        }
    };
    std::thread helper(work);
    work();
    helper.join();
    return files;
}

std::vector<TCatalogItem*> ListedItems(TFolder& folder) {
    folder.SearchFiles(nullptr);
    TItemList listed;
    folder.GetItems(listed);
    std::vector<TCatalogItem*> items(listed.begin(), listed.end());
    std::sort(items.begin(), items.end(), [](TCatalogItem* a, TCatalogItem* b) { return a->GetFileName() < b->GetFileName(); });
    return items;
}

double ProcessCpu() {
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}
double ChildCpu() {
    rusage ru;
    getrusage(RUSAGE_CHILDREN, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}
double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

bool Have(const char* tool) { return std::system(Format("command -v %s >/dev/null 2>&1", tool).c_str()) == 0; }

struct TTimes {
    double Cpu = 0, Wall = 0;
};

// the source workers (and with thumbsWorkers the EXIF-thumbnail workers before them) over
// every photo into a fresh file cache
TTimes RunMaker(const std::vector<TCatalogItem*>& items, int threads, int size, const std::string& cacheDir,
                int thumbsWorkers = 0) {
    fs::remove_all(cacheDir);
    TCatalogImageCacheMaster cache;
    cache.Initialize(cmFiles, cacheDir, true, 1000LL * 1024 * 1024);
    for (auto* item : items) item->SetCachedSize(0);
    TCacheImageMaker maker(&cache, false);
    maker.SetProcessorCount(threads);
    maker.SetWorkersPerProcessor(thumbsWorkers, 1);
    std::atomic<bool> done{false};
    std::atomic<int> failed{0};
    maker.SetFinishedCallbacks({}, [&] { done = true; });
    maker.SetObserver([&](TCatalogItem*, TCacheWorkerType, TCacheImageSource, bool f) { failed += f; });
    maker.Start();
    const double c0 = ProcessCpu(), w0 = Now();
    maker.Request(items, size, true);
    WaitPumping([&] { return done.load(); }, 2);
    TTimes t{ProcessCpu() - c0, Now() - w0};
    if (failed) std::fprintf(stderr, "thumbs: %d photos failed\n", failed.load());
    return t;
}

// the tool over every photo from `threads` parallel streams, best of rounds
TTimes RunTool(const std::vector<std::string>& files, int threads, const std::string& commandFmt, int rounds) {
    TTimes best{1e18, 1e18};
    for (int r = 0; r < rounds; ++r) {
        const double c0 = ChildCpu(), w0 = Now();
        std::vector<std::thread> streams;
        for (int t = 0; t < threads; ++t)
            streams.emplace_back([&, t] {
                for (size_t i = static_cast<size_t>(t); i < files.size(); i += static_cast<size_t>(threads))
                    if (std::system(Format(commandFmt.c_str(), files[i].c_str()).c_str()) != 0)
                        std::fprintf(stderr, "failed: %s\n", Format(commandFmt.c_str(), files[i].c_str()).c_str());
            });
        for (auto& s : streams) s.join();
        best.Cpu = std::min(best.Cpu, ChildCpu() - c0);
        best.Wall = std::min(best.Wall, Now() - w0);
    }
    return best;
}

// peak resident set of a child process in MB
double PeakMbOf(const std::vector<std::string>& argv) {
    std::fflush(stdout);  // the child must not write our buffered lines a second time
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        if (!freopen("/dev/null", "w", stdout)) _exit(127);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    wait4(pid, &status, 0, &ru);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 127) return -1;
    return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

// Screens of pixel ratio 2: every photo made for cells of S points at 2S device pixels
// against S, both phases (EXIF thumbnail first, then the picture itself where that is too
// small), one worker of each kind, CPU per photo. The 160 x 120 EXIF thumbnails serve S = 80
// at both ratios; at S = 160 they serve ratio 1 only (ratio 2 must decode the picture:
// enlarging the thumbnail would be blurred); at 240 neither. Without EXIF thumbnails every
// size decodes the picture at the same DCT scale (1/8 of 4000 x 3000 is 500 x 375, enough
// for 480). The headline figure is the main window's default size, 80.
void HidpiFigures(const std::vector<TCatalogItem*>& items, const std::string& tree, const std::string& work) {
    const auto plainFiles = MakePlainPhotos(tree + "/bench-data/thumbs40_plain", 40);
    for (const auto& f : plainFiles) {
        TMemoryStream ms;
        ms.LoadFromFile(f);
    }
    TFolder plainFolder(tree + "/bench-data/thumbs40_plain");
    const auto plain = ListedItems(plainFolder);
    const std::vector<TCatalogItem*> exif(items.begin(), items.begin() + std::min<size_t>(40, items.size()));
    double headline = 0;
    for (const int s : {80, 160, 240}) {
        for (const bool withExif : {true, false}) {
            const auto& set = withExif ? exif : plain;
            double at1 = 1e18, at2 = 1e18;
            for (int r = 0; r < 2; ++r) {
                at1 = std::min(at1, RunMaker(set, 1, s, work + "/hidpi1", 1).Cpu);
                at2 = std::min(at2, RunMaker(set, 1, 2 * s, work + "/hidpi2", 1).Cpu);
            }
            const double n = static_cast<double>(set.size());
            const char* kind = withExif ? "exif" : "noexif";
            std::printf("cells of %d: %s %.2f ms per photo at ratio 1, %.2f ms at ratio 2\n", s, kind,
                        at1 / n * 1e3, at2 / n * 1e3);
            std::printf("bench: thumbs_hidpi_vs_1x_%s_%d = %.2f x\n", kind, s, at2 / at1);
            if (s == 80) headline = std::max(headline, at2 / at1);
        }
    }
    std::printf("bench: thumbs_hidpi_vs_1x = %.2f x\n", headline);
}

}  // namespace

int main(int, char** argv) {
    const fs::path exe = fs::absolute(argv[0]);
    const std::string tree = exe.parent_path().parent_path().string();
    const std::string dataDir = tree + "/bench-data/thumbs200";
    const std::string work = "/tmp/fv-bench-thumbs-" + std::to_string(getpid());
    fs::create_directories(work);

    std::printf("making %d photos in %s (kept for the next run)\n", kPhotos, dataDir.c_str());
    const auto files = MakePhotos(dataDir);
    uintmax_t total = 0, smallest = UINTMAX_MAX, largest = 0;
    for (const auto& f : files) {
        const auto s = fs::file_size(f);
        total += s;
        smallest = std::min(smallest, s);
        largest = std::max(largest, s);
    }
    std::printf("photos: %.1f MB, %.2f .. %.2f MB each\n", total / 1e6, smallest / 1e6, largest / 1e6);
    // warm file cache for everybody
    for (const auto& f : files) {
        TMemoryStream ms;
        ms.LoadFromFile(f);
    }

    TFolder folder(dataDir);
    folder.SearchFiles(nullptr);
    TItemList listed;
    folder.GetItems(listed);
    std::vector<TCatalogItem*> items(listed.begin(), listed.end());
    std::sort(items.begin(), items.end(), [](TCatalogItem* a, TCatalogItem* b) { return a->GetFileName() < b->GetFileName(); });

    const bool hidpiOnly = std::getenv("FV_BENCH_HIDPI_ONLY") != nullptr;
    if (hidpiOnly) {
        HidpiFigures(items, tree, work);
        fs::remove_all(work);
        return 0;
    }

    // definitive 240-pixel thumbnails
    TTimes one{1e18, 1e18}, two{1e18, 1e18};
    for (int r = 0; r < 2; ++r) {
        const TTimes a = RunMaker(items, 1, 240, work + "/cache1");
        const TTimes b = RunMaker(items, kThreads, 240, work + "/cache2");
        one = {std::min(one.Cpu, a.Cpu), std::min(one.Wall, a.Wall)};
        two = {std::min(two.Cpu, b.Cpu), std::min(two.Wall, b.Wall)};
    }
    std::printf("ours, 1 thread:  %.2f ms CPU per photo, %.2f s wall\n", one.Cpu / kPhotos * 1e3, one.Wall);
    std::printf("ours, %d threads: %.2f ms CPU per photo, %.2f s wall\n", kThreads, two.Cpu / kPhotos * 1e3, two.Wall);
    std::printf("bench: thumbs_240_ms_per_photo = %.2f ms\n", one.Cpu / kPhotos * 1e3);
    std::printf("bench: thumbs_2_threads_scaling = %.2f x\n", one.Wall / two.Wall);

    if (Have("djpeg")) {
        const TTimes d = RunTool(files, 1, "djpeg -scale 1/8 -outfile /dev/null '%s'", 2);
        std::printf("djpeg -scale 1/8, 1 stream: %.2f ms CPU per photo\n", d.Cpu / kPhotos * 1e3);
        std::printf("bench: thumbs_vs_djpeg8 = %.2f x\n", one.Cpu / d.Cpu);
    } else {
        std::printf("bench: thumbs_vs_djpeg8 = - x\n");
    }
    if (Have("vipsthumbnail")) {
        fs::create_directories(work + "/vips");
        const std::string cmd = "VIPS_CONCURRENCY=1 vipsthumbnail --size 240 -o '" + work + "/vips/%%s.jpg' '%s'";
        const TTimes v = RunTool(files, kThreads, cmd, 2);
        std::printf("vipsthumbnail --size 240, %d streams: %.2f ms CPU per photo, %.2f s wall\n", kThreads,
                    v.Cpu / kPhotos * 1e3, v.Wall);
        std::printf("bench: thumbs_vs_vipsthumbnail = %.2f x\n", v.Cpu / two.Cpu);
    } else {
        std::printf("bench: thumbs_vs_vipsthumbnail = - x\n");
    }

    if (!hidpiOnly) HidpiFigures(items, tree, work);

    // first pictures from EXIF thumbnails alone, one thread, warm
    {
        TCatalogImageCacheMaster cache;
        cache.Initialize(2, "", false, 64LL * 1024 * 1024);
        double best = 1e18;
        int made = 0;
        for (int r = 0; r < 3; ++r) {
            const double c0 = ProcessCpu();
            made = 0;
            for (auto* item : items) {
                TCacheImage image;
                MakeFirstPicture(*item, 160, false, image);
                if (!image.Bitmap.Empty() && cache.AddCatalogImage(item, &image.Bitmap, image.Size)) ++made;
            }
            best = std::min(best, ProcessCpu() - c0);
        }
        std::printf("EXIF thumbnails: %d of %d made, %.3f ms CPU each\n", made, kPhotos, best / kPhotos * 1e3);
        std::printf("bench: exifthumbs_per_s_per_core = %.0f /s\n", kPhotos / best);
    }

    // 1,000 cached thumbnails drawn at 160 px with their orientation
    {
        TCatalogImageCacheMaster cache;
        cache.Initialize(cmFiles, work + "/reads", true, 256LL * 1024 * 1024);
        std::vector<std::unique_ptr<TCatalogItem>> owned;
        for (int i = 0; i < 1000; ++i) {
            owned.push_back(std::make_unique<TCatalogItem>());
            TCatalogItem* item = owned.back().get();
            item->SetOrientation(i % 4 == 3 ? 6 : 1);
            TBitmap pic = CameraPicture(160, 120, 77u + static_cast<uint32_t>(i));
            cache.AddCatalogImage(item, &pic, 160);
        }
        TBitmap canvas(164, 164);
        double best = 1e18;
        int drawn = 0;
        for (int r = 0; r < 3; ++r) {
            const double c0 = ProcessCpu();
            drawn = 0;
            for (auto& item : owned) drawn += cache.DrawCatalogImage(item.get(), 160, TRect{2, 2, 162, 162}, &canvas);
            best = std::min(best, ProcessCpu() - c0);
        }
        std::printf("cache reads: %d drawn, %.3f ms CPU each\n", drawn, best / 1000 * 1e3);
        std::printf("bench: cache_reads_per_s_per_core = %.0f /s\n", 1000 / best);
    }

    // peak memory of fvb thumbs, 2 threads, fresh cache
    const std::string fvb = tree + "/fvb";
    if (fs::exists(fvb)) {
        const double mb = PeakMbOf({fvb, "thumbs", dataDir, "--size", "240", "--threads", "2", "--cache", work + "/fvb"});
        if (mb > 0)
            std::printf("bench: thumbs_peak_mb = %.1f MB\n", mb);
        else
            std::printf("bench: thumbs_peak_mb = - MB\n");
    } else {
        std::printf("bench: thumbs_peak_mb = - MB\n");
    }
    fs::remove_all(work);
    return 0;
}
