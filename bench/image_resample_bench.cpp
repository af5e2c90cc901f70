// Resamplers, tone correction and sharpening on a 24-megapixel bitmap (6000 x 4000), one core.
// Resamplers are measured output-side for a reduction to one half.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "image/correction.h"
#include "image/effects.h"
#include "image/resample.h"

using namespace fv;

namespace {

TBitmap Picture(int w, int h) {
    TBitmap b(w, h);
    uint32_t seed = 3;
    for (int y = 0; y < h; ++y) {
        uint8_t* p = b.ScanLine(y);
        for (int j = 0; j < w * 3; ++j) {
            seed = seed * 1664525u + 1013904223u;
            p[j] = static_cast<uint8_t>((j / 3 + y) / 40 * 13 + (seed >> 29));
        }
    }
    return b;
}

// CPU time of this thread: the machine is shared, and the figures are for one core
double ThreadSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

template <class Fn>
double BestSeconds(int rounds, Fn fn) {
    double best = 1e9;
    for (int r = 0; r < rounds; ++r) {
        const double t0 = ThreadSeconds();
        fn();
        best = std::min(best, ThreadSeconds() - t0);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const int W = 6000, H = 4000;
    TBitmap src = Picture(W, H);
    const double outMp = (W / 2) * (H / 2) / 1e6;
    const double inMp = W * H / 1e6;
    struct Method {
        const char* Figure;
        int Value;
    };
    const Method methods[] = {{"nearest", rmNearest},   {"auto_area", rmAuto},  {"box", rmBox},
                              {"triangle", rmTriangle}, {"sinc", rmSinc},       {"lanczos3", rmLanczos3},
                              {"polynomial", rmPolynomial}, {"bspline", rmBSpline}};
    for (const auto& m : methods) {
        TBitmap dst(W / 2, H / 2);
        const double s = BestSeconds(3, [&] { Resample(src, dst, m.Value); });
        std::printf("bench: resample_%s_half_mps = %.1f MP/s\n", m.Figure, outMp / s);
    }
    {
        TBitmap dst(W * 2 / 3, H * 2 / 3);  // bilinear (auto below a factor of 2)
        const double s = BestSeconds(3, [&] { Resample(src, dst, rmAuto); });
        std::printf("bench: resample_bilinear_two_thirds_mps = %.1f MP/s\n", dst.Width() * double(dst.Height()) / 1e6 / s);
    }
    {
        TBitmap work = src;
        const double s = BestSeconds(3, [&] { ApplyToneCorrection(work, 10, 15, 120, 0, 5, 0); });
        std::printf("bench: tone_correction_mps = %.1f MP/s\n", inMp / s);
    }
    {
        TBitmap work = src;
        const double s = BestSeconds(3, [&] { SharpenWeak(work); });
        std::printf("bench: sharpen_mps = %.1f MP/s\n", inMp / s);
    }
    return 0;
}
