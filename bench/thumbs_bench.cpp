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
#include "image/cache_image_maker.h"
#include "image/cache_image_route.h"
#include "image/catalog_image_cache.h"
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

// the source workers over every photo into a fresh file cache
TTimes RunMaker(const std::vector<TCatalogItem*>& items, int threads, int size, const std::string& cacheDir) {
    fs::remove_all(cacheDir);
    TCatalogImageCacheMaster cache;
    cache.Initialize(cmFiles, cacheDir, true, 1000LL * 1024 * 1024);
    for (auto* item : items) item->SetCachedSize(0);
    TCacheImageMaker maker(&cache, false);
    maker.SetProcessorCount(threads);
    maker.SetWorkersPerProcessor(0, 1);
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
