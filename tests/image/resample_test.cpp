#include <gtest/gtest.h>

#include <numeric>

#include "bitmap_test_util.h"
#include "image/resample.h"

namespace fv {
namespace {

using namespace testutil;

const int kAllKernels[] = {fkBox, fkTriangle, fkSinc, fkPolynomial, fkBSpline, fkLanczos3};

TEST(Contributions, EveryWeightListAddsUpTo16384) {
    const int sizes[][2] = {{100, 37}, {37, 100}, {1, 9}, {9, 1}, {640, 160}, {4000, 240}, {5, 5}, {3, 7}, {1000, 999}};
    for (int k : kAllKernels)
        for (const auto& s : sizes) {
            const auto list = BuildContributions(s[0], s[1], k);
            ASSERT_EQ(static_cast<int>(list.size()), s[1]);
            for (const auto& c : list) {
                ASSERT_FALSE(c.Weights.empty());
                EXPECT_GE(c.First, 0);
                EXPECT_LE(c.First + static_cast<int>(c.Weights.size()), s[0]);
                EXPECT_EQ(std::accumulate(c.Weights.begin(), c.Weights.end(), 0), 16384)
                    << "kernel " << k << " " << s[0] << "->" << s[1];
            }
        }
}

TEST(Contributions, LanczosHasNegativeLobesAndTheKernelsTheirValues) {
    const auto list = BuildContributions(1000, 500, fkLanczos3);
    bool negative = false;
    for (const auto& c : list)
        for (int w : c.Weights) negative |= w < 0;
    EXPECT_TRUE(negative);
    EXPECT_FLOAT_EQ(KernelValue(fkTriangle, 0.25), 0.75f);
    EXPECT_FLOAT_EQ(KernelValue(fkTriangle, 1.0), 0.0f);
    EXPECT_FLOAT_EQ(KernelValue(fkBSpline, 0), 2.0f / 3.0f);
    EXPECT_NEAR(KernelValue(fkSinc, 0.5), 2.0 / 3.14159265, 1e-5);
    EXPECT_EQ(KernelValue(fkLanczos3, 3.0), 0.0f);
    EXPECT_NEAR(KernelValue(fkPolynomial, 0), 3 * (1.0 / 3) * (2.0 / 3) * (2.0 / 3), 1e-6);
}

TEST(Resamplers, FlatGreyStaysExactlyFlat) {
    const int sizes[][4] = {{97, 61, 40, 25}, {40, 25, 97, 61}, {300, 200, 15, 10}, {13, 11, 13, 11}, {1, 1, 6, 4}, {6, 4, 1, 1}};
    for (const auto& s : sizes) {
        for (int method = rmNearest; method <= rmBSpline; ++method) {
            TBitmap src = Flat(s[0], s[1], 137);
            TBitmap dst(s[2], s[3]);
            Resample(src, dst, method);
            EXPECT_TRUE(dst.SamePixels(Flat(s[2], s[3], 137))) << "method " << method << " " << s[0] << "x" << s[1];
        }
    }
}

TEST(Resamplers, SameSizeIsTheIdentityForTheInterpolatingKernels) {
    for (int k : {fkTriangle, fkSinc, fkLanczos3}) {
        TBitmap src = Noise(23, 17, 5);
        TBitmap dst(23, 17);
        FilteredResample(src, dst, k);
        EXPECT_TRUE(dst.SamePixels(src)) << "kernel " << k;
    }
    TBitmap src = Noise(23, 17, 5);
    TBitmap dst(23, 17);
    Nearest(src, dst);
    EXPECT_TRUE(dst.SamePixels(src));
}

TEST(Resamplers, VectorAndPlainRowCombinersGiveTheSameBytes) {
    for (int k : kAllKernels) {
        for (auto sz : {std::pair{211, 97}, std::pair{64, 150}}) {
            TBitmap src = Noise(317, 203, 11);
            TBitmap a(sz.first, sz.second), b(sz.first, sz.second);
            resample_detail::SetUseSimd(false);
            FilteredResample(src, a, k);
            resample_detail::SetUseSimd(true);
            FilteredResample(src, b, k);
            EXPECT_TRUE(a.SamePixels(b)) << "kernel " << k;
        }
    }
    // sums that saturate on both sides
    const uint8_t rows[4][20] = {{255, 0, 255, 0, 255, 255, 255, 255, 0, 0, 0, 0, 9, 8, 7, 6, 5, 4, 3, 2},
                                 {0, 255, 0, 255, 255, 255, 0, 0, 0, 0, 255, 1, 2, 3, 4, 5, 6, 7, 8, 9},
                                 {255, 255, 0, 0, 0, 255, 0, 255, 255, 0, 255, 0, 1, 1, 1, 1, 1, 1, 1, 1},
                                 {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}};
    const int32_t w[4] = {-3000, 20000, 2000, -2616};
    uint8_t x[20], y[20];
    resample_detail::CombineRowsScalar(&rows[0][0], 20, w, 4, x, 20);
    resample_detail::CombineRows(&rows[0][0], 20, w, 4, y, 20);
    for (int j = 0; j < 20; ++j) EXPECT_EQ(x[j], y[j]) << j;
    EXPECT_EQ(x[0], 0);    // -3000*255 + 2000*255 < 0
    EXPECT_EQ(x[1], 255);  // 20000*255 > 255*16384
}

// the filtered resampler written the plain way: every source row filtered horizontally into a
// full intermediate picture, then every column vertically
TBitmap NaiveFiltered(const TBitmap& src, int dw, int dh, int kernel) {
    const auto cols = BuildContributions(src.Width(), dw, kernel);
    const auto rows = BuildContributions(src.Height(), dh, kernel);
    auto clamp = [](int64_t sum) { return static_cast<uint8_t>(sum <= 0 ? 0 : (sum >= 255 * 16384 ? 255 : sum / 16384)); };
    std::vector<std::vector<uint8_t>> mid(static_cast<size_t>(src.Height()), std::vector<uint8_t>(static_cast<size_t>(dw) * 3));
    for (int y = 0; y < src.Height(); ++y)
        for (int x = 0; x < dw; ++x)
            for (int c = 0; c < 3; ++c) {
                int64_t sum = 0;
                for (size_t k = 0; k < cols[x].Weights.size(); ++k)
                    sum += int64_t(cols[x].Weights[k]) * src.ScanLine(y)[(cols[x].First + k) * 3 + c];
                mid[y][x * 3 + c] = clamp(sum);
            }
    TBitmap out(dw, dh);
    for (int y = 0; y < dh; ++y)
        for (int j = 0; j < dw * 3; ++j) {
            int64_t sum = 0;
            for (size_t k = 0; k < rows[y].Weights.size(); ++k) sum += int64_t(rows[y].Weights[k]) * mid[rows[y].First + k][j];
            out.ScanLine(y)[j] = clamp(sum);
        }
    return out;
}

TEST(Resamplers, FilteredMatchesThePlainTwoPassDefinition) {
    const TBitmap src = Noise(203, 331, 17);
    const int sizes[][2] = {{101, 165}, {203, 40}, {50, 331}, {407, 700}, {3, 2}, {202, 330}};
    for (int k : kAllKernels)
        for (const auto& sz : sizes) {
            TBitmap s = src, dst(sz[0], sz[1]);
            FilteredResample(s, dst, k);
            EXPECT_TRUE(dst.SamePixels(NaiveFiltered(src, sz[0], sz[1], k))) << "kernel " << k << " " << sz[0] << "x" << sz[1];
        }
    // narrow pictures around the edges of the four-pixel transposes
    for (int sw = 1; sw <= 11; ++sw)
        for (int dw = 1; dw <= 11; ++dw) {
            const TBitmap small = Noise(sw, 9, static_cast<uint32_t>(sw * 16 + dw));
            TBitmap s = small, dst(dw, 5);
            FilteredResample(s, dst, fkLanczos3);
            EXPECT_TRUE(dst.SamePixels(NaiveFiltered(small, dw, 5, fkLanczos3))) << sw << " -> " << dw;
        }
}

TEST(Resamplers, AutoPicksAreaAverageForStrongReductionsOnly) {
    TBitmap src = Noise(1000, 800, 2);
    TBitmap autoDst(400, 320), area(400, 320);
    Resample(src, autoDst, rmAuto);
    AreaAverage(src, area);
    EXPECT_TRUE(autoDst.SamePixels(area));
    TBitmap auto2(600, 480), bil(600, 480);
    Resample(src, auto2, rmAuto);
    Bilinear(src, bil);
    EXPECT_TRUE(auto2.SamePixels(bil));
}

TEST(Resamplers, AreaAverageOfBigBlocksGoesThroughTheIntermediate) {
    // a reduction by 20 in each direction (400 pixels a block) must not overflow and stays
    // the average of the checkerboard
    TBitmap src = MakeBitmap(400, 400, [](int x, int y) { return (x + y) % 2 ? Bgr{255, 255, 255} : Bgr{0, 0, 0}; });
    TBitmap dst(20, 20);
    AreaAverage(src, dst);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) EXPECT_NEAR(PixelAt(dst, x, y).G, 127, 2);
    // one direction only shrinks a little: the intermediate never gets wider than the source
    TBitmap tall = Noise(30, 3000, 4);
    TBitmap small(20, 10);
    AreaAverage(tall, small);
    EXPECT_EQ(small.Width(), 20);
}

TEST(Resamplers, AreaAverageTakesTheMeanOfItsBlock) {
    // 6 x 1 -> 2 x 1: spans of (6-1)/2 = 2.5 columns: [0,1] and [2,3,4]
    TBitmap src = MakeBitmap(6, 2, [](int x, int) { return Bgr{static_cast<uint8_t>(x * 10), 0, 0}; });
    TBitmap dst(2, 1);
    AreaAverage(src, dst);
    EXPECT_EQ(PixelAt(dst, 0, 0).B, 5);
    EXPECT_EQ(PixelAt(dst, 1, 0).B, 30);
}

TEST(Resamplers, BilinearOfASinglePixelColumnDoesNotReadPastTheRow) {
    TBitmap src = MakeBitmap(1, 5, [](int, int y) { return Bgr{static_cast<uint8_t>(y * 50), 0, 0}; });
    TBitmap dst(4, 10);
    Bilinear(src, dst);
    EXPECT_EQ(PixelAt(dst, 3, 0).B, 0);
    EXPECT_EQ(PixelAt(dst, 0, 5).B, PixelAt(dst, 3, 5).B);
}

TEST(Resamplers, EmptyInputsAbortAndOneMatchingSideIsLeftAlone) {
    TBitmap empty, dst(4, 4);
    EXPECT_THROW(Resample(empty, dst, rmAuto), EImageAbort);
    TBitmap b = Noise(800, 600, 3);
    const TBitmap before = b;
    EXPECT_THROW(ResizeBitmap(b, 0, 10), EImageAbort);
    ResizeBitmap(b, 800, 400);
    EXPECT_TRUE(b.SamePixels(before));
    ResizeBitmap(b, 80, 60, {}, rmLanczos3);
    EXPECT_EQ(b.Width(), 80);
    EXPECT_EQ(b.Height(), 60);
}

TEST(Resamplers, ReductionKeepsAnEdgeWhereItWas) {
    // left half black, right half white: after halving, the edge sits in the middle
    TBitmap src = MakeBitmap(64, 8, [](int x, int) { return x < 32 ? Bgr{0, 0, 0} : Bgr{255, 255, 255}; });
    for (int k : kAllKernels) {
        TBitmap dst(32, 4);
        FilteredResample(src, dst, k);
        EXPECT_LE(PixelAt(dst, 5, 2).G, 10) << k;
        EXPECT_GE(PixelAt(dst, 26, 2).G, 245) << k;
    }
}

}  // namespace
}  // namespace fv
