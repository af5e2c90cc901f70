#include <gtest/gtest.h>

#include "bitmap_test_util.h"
#include "image/transform.h"

namespace fv {
namespace {

using namespace testutil;

// a 3 x 2 picture where every pixel differs
TBitmap Upright() {
    return MakeBitmap(3, 2, [](int x, int y) { return Bgr{static_cast<uint8_t>(x * 10 + y), static_cast<uint8_t>(y * 50), 7}; });
}

// how a camera stores the upright picture for orientation o (the inverse of what ApplyOrientation does)
TBitmap StoredAs(int o) {
    TBitmap b = Upright();
    switch (o) {
        case 2: Mirror(b); break;
        case 3: RotateHalf(b); break;
        case 4: FlipVertical(b); break;
        case 5: FlipVertical(b); RotateClockwise(b); break;
        case 6: RotateCounterClockwise(b); break;
        case 7: FlipVertical(b); RotateCounterClockwise(b); break;
        case 8: RotateClockwise(b); break;
    }
    return b;
}

TEST(Transforms, PrimitivesMovePixelsWhereTheFormulasSay) {
    const TBitmap src = Upright();  // W = 3, H = 2
    TBitmap cw = src;
    RotateClockwise(cw);
    ASSERT_EQ(cw.Width(), 2);
    ASSERT_EQ(cw.Height(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(PixelAt(cw, x, y), PixelAt(src, y, 2 - 1 - x));
    TBitmap ccw = src;
    RotateCounterClockwise(ccw);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(PixelAt(ccw, x, y), PixelAt(src, 3 - 1 - y, x));
    TBitmap half = src;
    RotateHalf(half);
    TBitmap mir = src;
    Mirror(mir);
    TBitmap flip = src;
    FlipVertical(flip);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(PixelAt(half, x, y), PixelAt(src, 2 - x, 1 - y));
            EXPECT_EQ(PixelAt(mir, x, y), PixelAt(src, 2 - x, y));
            EXPECT_EQ(PixelAt(flip, x, y), PixelAt(src, x, 1 - y));
        }
}

TEST(Transforms, HalfTurnOfAnOddHeightReversesTheMiddleRow) {
    TBitmap b = Noise(5, 3);
    const TBitmap src = b;
    RotateHalf(b);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(PixelAt(b, x, y), PixelAt(src, 4 - x, 2 - y));
    TBitmap twice = src;
    RotateClockwise(twice);
    RotateClockwise(twice);
    EXPECT_TRUE(twice.SamePixels(b));
}

TEST(Transforms, EveryOrientationComesOutUpright) {
    const TBitmap want = Upright();
    for (int o = 1; o <= 8; ++o) {
        TBitmap b = StoredAs(o);
        ApplyOrientation(b, o);
        EXPECT_TRUE(b.SamePixels(want)) << "orientation " << o;
    }
    TBitmap odd = Upright();
    ApplyOrientation(odd, 9);  // unknown values count as 1
    EXPECT_TRUE(odd.SamePixels(want));
}

TEST(Transforms, UserTransformMatchesTheOrientationItComposesTo) {
    for (int steps = 0; steps < 4; ++steps)
        for (int f = 0; f < 2; ++f)
            for (int m = 0; m < 2; ++m) {
                TBitmap a = Noise(4, 3, 9);
                TBitmap b = a;
                ApplyUserTransform(steps, f != 0, m != 0, {}, a);
                ApplyOrientation(b, OrientationFromTransform(steps, f != 0, m != 0));
                EXPECT_TRUE(a.SamePixels(b)) << steps << f << m;
            }
}

TEST(Transforms, OrientationSplitsBackIntoItsUserTransform) {
    for (int o = 1; o <= 8; ++o)
        EXPECT_EQ(OrientationFromTransform(RotationStepsOf(o), NeedsFlipVertical(o), NeedsMirror(o)), o) << o;
    for (int o = 1; o <= 8; ++o) EXPECT_EQ(OrientationMirror(OrientationMirror(o)), o);
    EXPECT_EQ(OrientationMirror(0), 7);  // outside 1..8 behaves like 8
    EXPECT_EQ(RotationStepsOf(42), 0);
    EXPECT_FALSE(NeedsFlipVertical(-1));
}

TEST(Transforms, EmptyBitmapsAreLeftAlone) {
    TBitmap b;
    RotateClockwise(b);
    RotateHalf(b);
    FlipVertical(b);
    Mirror(b);
    EXPECT_TRUE(b.Empty());
}

TEST(FitAndCover, SizesOfTheUsualCases) {
    EXPECT_EQ(FitSize(160, 120, 4000, 3000), (TSize{160, 120}));
    EXPECT_EQ(FitSize(160, 120, 3000, 4000), (TSize{90, 120}));
    EXPECT_EQ(FitSize(0, 120, 400, 300), (TSize{160, 120}));
    EXPECT_EQ(FitSize(160, 0, 400, 300), (TSize{160, 120}));
    EXPECT_EQ(FitSize(100, 100, 10000, 10), (TSize{100, 1}));  // never 0
    EXPECT_EQ(FitSize(100, 100, 5, 100000), (TSize{1, 100}));
    // sizes read from damaged files neither overflow nor go below 1
    EXPECT_EQ(FitSize(160, 120, -2147483647, 3), (TSize{160, 1}));
    EXPECT_EQ(FitSize(160, 120, 2147483647, 1), (TSize{160, 1}));
    EXPECT_EQ(FitSize(0, 120, 2147483647, 1).Width, 2147483647);
    EXPECT_EQ(CoverSize(100, 100, 1, -5).Height, 1);
    EXPECT_EQ(CoverSize(100, 100, 400, 200), (TSize{200, 100}));
    EXPECT_EQ(CoverSize(100, 100, 200, 400), (TSize{100, 200}));
    TBitmap b;
    FitSizeToBitmap(b, 160, 120, 3000, 4000);
    EXPECT_EQ(b.Width(), 160);
    EXPECT_EQ(b.Height(), 120);
}

TEST(FitAndCover, CropFitCutsTheOverhangEvenly) {
    // 400 x 200 covered to 200 x 100, then 50 columns cut from each side
    TBitmap b = MakeBitmap(400, 200, [](int x, int) { return Bgr{static_cast<uint8_t>(x < 100 || x >= 300 ? 0 : 255), 0, 0}; });
    CropFit(b, 100, 100, {}, 1);
    ASSERT_EQ(b.Width(), 100);
    ASSERT_EQ(b.Height(), 100);
    // what was the middle half of the picture fills the whole crop
    for (int x = 2; x < 98; ++x) EXPECT_GE(PixelAt(b, x, 50).B, 200) << x;
}

TEST(FitAndCover, CropRefusesMarginsThatLeaveNothing) {
    TBitmap b = Noise(10, 10);
    EXPECT_THROW(CropBitmap(b, 5, 5, {}, 0, 0), EImageAbort);
    EXPECT_THROW(CropBitmap(b, -1, 0, {}, 0, 0), EImageAbort);
    CropBitmap(b, 1, 2, {}, 3, 4);
    EXPECT_EQ(b.Width(), 7);
    EXPECT_EQ(b.Height(), 3);
}

TEST(Progress, StartsRunsAndEndsOnce) {
    std::vector<std::pair<int, int>> seen;
    TProgressEvent ev = [&](TProgressStage s, int pct) { seen.push_back({s, pct}); };
    TBitmap b = Noise(7, 9);
    Mirror(b, ev);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), (std::pair<int, int>{psStarting, 0}));
    EXPECT_EQ(seen.back(), (std::pair<int, int>{psEnding, 100}));
    for (size_t i = 1; i + 1 < seen.size(); ++i) {
        EXPECT_EQ(seen[i].first, psRunning);
        EXPECT_GT(seen[i].second, seen[i - 1].second);
    }
}

TEST(Bitmap, PixelFormatConversionsKeepTheColours) {
    TBitmap b = Noise(5, 4, 3);
    TBitmap c = b;
    c.SetPixelFormat(pf32bit);
    EXPECT_EQ(c.ScanLine(2)[3 * 4 + 3], 255);
    c.SetPixelFormat(pf24bit);
    EXPECT_TRUE(c.SamePixels(b));
    EXPECT_THROW(b.SetSize(-1, 5), EBitmapError);
    EXPECT_THROW(b.SetSize(60000, 60000), EBitmapError);
    EXPECT_EQ(b.Stride() % 4, 0);
}

}  // namespace
}  // namespace fv
