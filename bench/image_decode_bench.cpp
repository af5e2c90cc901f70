// Decoding camera-size JPEGs (CPU time per photo): LoadThumbnail into a 240-pixel box against djpeg at 1/8 scale,
// and the full-size LoadImage against a plain djpeg, on the same files in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "image/image_decode.h"
#include "image/image_io.h"

using namespace fv;

namespace {

// a camera-like picture: smooth gradients with fine texture, so the JPEG has a realistic size
TBitmap CameraPicture(int w, int h, uint32_t seed) {
    TBitmap b(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* p = b.ScanLine(y);
        for (int x = 0; x < w; ++x, p += 3) {
            seed = seed * 1664525u + 1013904223u;
            const int n = static_cast<int>(seed >> 28) - 8;
            p[0] = static_cast<uint8_t>(std::clamp(60 + 120 * x / w + n, 0, 255));
            p[1] = static_cast<uint8_t>(std::clamp(90 + 100 * y / h + ((x / 37 + y / 41) % 2) * 20 + n, 0, 255));
            p[2] = static_cast<uint8_t>(std::clamp(200 - 130 * x / w + n, 0, 255));
        }
    }
    return b;
}

// CPU time (user + system) of this process's thread and of finished child processes: the
// machine is shared, so wall time would measure the neighbours as much as the decoders
double OwnSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}
double ChildSeconds() {
    rusage ru;
    getrusage(RUSAGE_CHILDREN, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

// best of several rounds over all files, per photo
template <class Fn>
double PerPhoto(const std::vector<std::string>& files, int rounds, double (*clock)(), Fn fn) {
    double best = 1e9;
    for (int r = 0; r < rounds; ++r) {
        const double t0 = clock();
        for (const auto& f : files) fn(f);
        best = std::min(best, (clock() - t0) / static_cast<double>(files.size()));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const std::string dir = "/tmp/fv-bench-decode-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    std::vector<std::string> files;
    for (int i = 0; i < 4; ++i) {
        const std::string f = dir + "/photo" + std::to_string(i) + ".jpg";
        SaveJpegToFile(CameraPicture(4000, 3000, 7 + i), f, 90);
        files.push_back(f);
    }
    const bool haveDjpeg = std::system("command -v djpeg >/dev/null 2>&1") == 0;
    const int rounds = 5;

    const double thumb = PerPhoto(files, rounds, OwnSeconds, [](const std::string& f) {
        TBitmap b;
        TImageInfoRec info;
        LoadThumbnail(b, f, ikJpeg, info, true, 240, 240);
        benchmark::DoNotOptimize(b.Bits());
    });
    const double full = PerPhoto(files, rounds, OwnSeconds, [](const std::string& f) {
        TBitmap b;
        LoadImage(b, ikJpeg, f);
        benchmark::DoNotOptimize(b.Bits());
    });
    std::printf("LoadThumbnail 4000x3000 -> 240 box: %.2f ms per photo\n", thumb * 1e3);
    std::printf("LoadImage full size 4000x3000:      %.2f ms per photo\n", full * 1e3);
    if (haveDjpeg) {
        const double d8 = PerPhoto(files, rounds, ChildSeconds, [](const std::string& f) {
            const std::string cmd = "djpeg -scale 1/8 -outfile /dev/null '" + f + "'";
            if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "djpeg failed\n");
        });
        const double d1 = PerPhoto(files, rounds, ChildSeconds, [](const std::string& f) {
            const std::string cmd = "djpeg -outfile /dev/null '" + f + "'";
            if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "djpeg failed\n");
        });
        std::printf("djpeg -scale 1/8:                   %.2f ms per photo\n", d8 * 1e3);
        std::printf("djpeg full size:                    %.2f ms per photo\n", d1 * 1e3);
        std::printf("bench: loadthumb_240_ms = %.2f ms\n", thumb * 1e3);
        std::printf("bench: loadthumb_240_vs_djpeg8 = %.2f x\n", thumb / d8);
        std::printf("bench: loadimage_full_vs_djpeg = %.2f x\n", full / d1);
    } else {
        std::printf("bench: loadthumb_240_vs_djpeg8 = - x\n");
        std::printf("bench: loadimage_full_vs_djpeg = - x\n");
    }
    std::filesystem::remove_all(dir);
    return 0;
}
