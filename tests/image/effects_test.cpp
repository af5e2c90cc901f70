#include <gtest/gtest.h>

#include <cmath>

#include "bitmap_test_util.h"
#include "image/correction.h"
#include "image/effects.h"

namespace fv {
namespace {

using namespace testutil;

TBitmap FlatColour(int w, int h, Bgr c) {
    return MakeBitmap(w, h, [c](int, int) { return c; });
}

// level after the tone correction for a grey pixel of level v
uint8_t Tone(uint8_t v, int brightness, int contrast, int gamma, int red = 0, int channel = 1) {
    TBitmap b = Flat(1, 1, v);
    ApplyToneCorrection(b, brightness, contrast, gamma, red, 0, 0);
    return b.ScanLine(0)[channel];
}

TEST(Tone, WorkedValues) {
    EXPECT_EQ(Tone(128, 0, 0, 200), 180);
    EXPECT_EQ(Tone(128, 0, 0, 50), 64);
    const uint8_t in[] = {0, 64, 128, 192, 255}, out[] = {0, 36, 128, 221, 255};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Tone(in[i], 0, 45, 100), out[i]) << int(in[i]);
    EXPECT_EQ(Tone(0, -30, 0, 100), 0);
    EXPECT_EQ(Tone(128, -30, 0, 100), 52);
    EXPECT_EQ(Tone(255, -30, 0, 100), 179);
    EXPECT_EQ(Tone(128, 0, 0, 100, 20, 2), 154);  // red gain, red channel
    EXPECT_EQ(Tone(128, 0, 0, 100, 20, 1), 128);  // green untouched
}

TEST(Tone, GammaZeroAndFullBrightness) {
    TBitmap b = Noise(8, 8);
    ApplyToneCorrection(b, 0, 0, 0, 0, 0, 0);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(PixelAt(b, x, y), (Bgr{0, 0, 0}));
    TBitmap w = Noise(8, 8);
    ApplyToneCorrection(w, 100, 0, 100, 0, 0, 0);
    EXPECT_TRUE(w.SamePixels(Flat(8, 8, 255)));
    // a negative gamma (imported data) is held inside the byte range
    TBitmap n = Noise(8, 8);
    ApplyToneCorrection(n, 0, 0, -50, 0, 0, 0);
    EXPECT_EQ(PixelAt(n, 3, 3).G == 0 || PixelAt(n, 3, 3).G == 255, true);
}

TEST(Corrections, FlagZeroIgnoresTheRecordAndFilterOneOnlySharpens) {
    TBitmap b = Noise(9, 7);
    const TBitmap before = b;
    TCorrectionRecord r;
    r.Enabled = 0;
    r.Brightness = 50;
    r.Filter1 = 3;
    ApplyCorrections(b, r);
    EXPECT_TRUE(b.SamePixels(before));
    InitCorrectionRecord(r);
    EXPECT_EQ(r.Gamma, 100);
    EXPECT_FALSE(CorrectionRecordHasSettings(r));
    r.Filter1 = 8;
    EXPECT_TRUE(CorrectionRecordHasSettings(r));
    r.Enabled = 1;
    ApplyCorrections(b, r);
    TBitmap sharp = before;
    SharpenWeak(sharp);
    EXPECT_TRUE(b.SamePixels(sharp));
    EXPECT_FALSE(b.SamePixels(before));
}

TEST(Corrections, FiltersRunInOrderAfterTheTone) {
    TBitmap b = Flat(4, 4, 100);
    TCorrectionRecord r;
    r.Enabled = 1;
    r.Brightness = 10;  // +25
    r.Filter1 = 3;      // negative: 255 - 125
    r.Filter2 = 1;      // grey keeps it
    ApplyCorrections(b, r);
    EXPECT_EQ(PixelAt(b, 1, 1), (Bgr{130, 130, 130}));
}

TEST(Helpers, GrayLevelClampAndNames) {
    EXPECT_EQ(GrayLevel(255, 0, 0), 76);
    EXPECT_EQ(GrayLevel(0, 255, 0), 150);
    EXPECT_EQ(GrayLevel(0, 0, 255), 29);
    EXPECT_EQ(GrayLevel(255, 255, 255), 255);
    EXPECT_EQ(ClampByte(-4), 0);
    EXPECT_EQ(ClampByte(300), 255);
    EXPECT_EQ(RoundClampByte(254.5), 255);
    EXPECT_EQ(RoundClampByte(1.49), 1);
    EXPECT_EQ(RoundClampByte(std::nan("")), 0);
    EXPECT_EQ(EffectName(128 + 2), "セピアカラー");
    EXPECT_EQ(EffectName(41), "Unknown");
    EXPECT_EQ(EffectName(0), "無し");
    EXPECT_EQ(EffectName(40), "イラスト2");
}

TEST(ColourEffects, SepiaGreyNegativeAndSwaps) {
    TBitmap s = MakeBitmap(4, 1, [](int x, int) {
        const uint8_t v[] = {128, 64, 255, 0};
        return Bgr{v[x], v[x], v[x]};
    });
    Sepia(s);
    EXPECT_EQ(PixelAt(s, 0, 0), (Bgr{102, 128, 152}));
    EXPECT_EQ(PixelAt(s, 1, 0), (Bgr{40, 64, 90}));
    EXPECT_EQ(PixelAt(s, 2, 0), (Bgr{255, 255, 255}));
    EXPECT_EQ(PixelAt(s, 3, 0), (Bgr{0, 0, 0}));

    TBitmap g = FlatColour(2, 2, {0, 0, 255});
    Grayscale(g);
    EXPECT_EQ(PixelAt(g, 1, 1), (Bgr{76, 76, 76}));
    TBitmap n = FlatColour(2, 2, {1, 2, 3});
    Invert(n);
    EXPECT_EQ(PixelAt(n, 0, 1), (Bgr{254, 253, 252}));

    const Bgr in{30, 20, 10};  // R 10, G 20, B 30
    const Bgr want[] = {{20, 10, 30}, {30, 10, 20}, {20, 30, 10}, {10, 20, 30}};  // codes 4..7
    for (int code = 4; code <= 7; ++code) {
        TBitmap b = FlatColour(1, 1, in);
        ApplyEffect(b, code);
        EXPECT_EQ(PixelAt(b, 0, 0), want[code - 4]) << code;
    }
    TBitmap keep = FlatColour(1, 1, in);
    SwapChannels(keep, 8);
    EXPECT_EQ(PixelAt(keep, 0, 0), in);
}

TEST(NeighbourhoodEffects, FlatAreasGiveTheirKnownLevels) {
    struct Case {
        int Code;
        int Level;
        int Want;
    };
    const Case cases[] = {{8, 90, 90},   {9, 90, 90},   {10, 90, 90},  {11, 90, 90},  {36, 90, 90}, {12, 200, 199},
                          {13, 90, 90},  {14, 90, 90},  {15, 90, 90},  {16, 90, 128}, {17, 90, 128}, {18, 90, 0},
                          {19, 90, 0},   {20, 90, 0},   {21, 90, 255}, {22, 100, 128}, {27, 90, 90}, {28, 90, 90},
                          {29, 90, 90},  {37, 90, 90},  {38, 90, 90},  {39, 90, 255}, {40, 100, 128}};
    for (const auto& c : cases) {
        for (auto sz : {std::pair{6, 5}, std::pair{1, 1}}) {
            TBitmap b = Flat(sz.first, sz.second, static_cast<uint8_t>(c.Level));
            ApplyEffect(b, c.Code);
            EXPECT_TRUE(b.SamePixels(Flat(sz.first, sz.second, static_cast<uint8_t>(c.Want))))
                << "code " << c.Code << " size " << sz.first << " got " << int(PixelAt(b, 0, 0).G);
        }
    }
}

TEST(NeighbourhoodEffects, KernelsOnAKnownNeighbourhood) {
    // a single bright pixel in the middle of a dark 3 x 3 picture
    auto spot = [] {
        return MakeBitmap(3, 3, [](int x, int y) { return x == 1 && y == 1 ? Bgr{160, 160, 160} : Bgr{16, 16, 16}; });
    };
    auto centre = [&](int code) {
        TBitmap b = spot();
        ApplyEffect(b, code);
        return int(PixelAt(b, 1, 1).G);
    };
    auto corner = [&](int code) {
        TBitmap b = spot();
        ApplyEffect(b, code);
        return int(PixelAt(b, 0, 0).G);
    };
    EXPECT_EQ(centre(8), (24 * 160 - 8 * 16) / 16);          // 232
    EXPECT_EQ(centre(10), 255);                              // clamped
    EXPECT_EQ(corner(8), 7);                                 // (24*16 - 7*16 - 160) / 16 = 7.0
    EXPECT_EQ(centre(11), (4 * 16 + 2 * 4 * 16 + 4 * 160) >> 4);
    EXPECT_EQ(centre(12), ((8 * 16 + 160) * 3640) >> 15);
    EXPECT_EQ(centre(13), 160);
    EXPECT_EQ(corner(13), 160);
    EXPECT_EQ(centre(14), 16);
    EXPECT_EQ(centre(15), 16);
    EXPECT_EQ(centre(18), 0);
    EXPECT_EQ(corner(18), 0);    // the bright pixel is only a diagonal neighbour of the corner
    EXPECT_EQ(corner(19), 144);  // 160 + 7 * 16 - 8 * 16
    EXPECT_EQ(centre(19), 0);
    EXPECT_EQ(corner(20), 204);  // gradients of -144 both ways (edges repeat): sqrt(2) * 144
    // negative sharpening rounds toward zero: (24*16 - (160 + 7*16 ... )) is exact here; a dark
    // pixel next to two bright ones goes below zero and is clamped
    TBitmap two = MakeBitmap(3, 1, [](int x, int) { return x == 1 ? Bgr{0, 0, 0} : Bgr{255, 255, 255}; });
    ApplyEffect(two, 9);
    EXPECT_EQ(PixelAt(two, 1, 0).G, 0);
}

TEST(NeighbourhoodEffects, VectorAndPlainKernelsGiveTheSameBytes) {
    for (int code : {8, 9, 10, 11, 12, 16, 17, 18, 19, 36}) {
        for (auto sz : std::vector<std::pair<int, int>>{{37, 11}, {1, 3}, {6, 2}, {16, 4}}) {
            TBitmap a = Noise(sz.first, sz.second, static_cast<uint32_t>(code)), b = a;
            // extremes as well as noise
            if (sz.first > 6) {
                for (int x = 0; x < 6; ++x) SetPixel(a, x, 0, x % 2 ? Bgr{255, 255, 255} : Bgr{0, 0, 0});
                b = a;
            }
            effects_detail::SetUseSimd(false);
            ApplyEffect(a, code);
            effects_detail::SetUseSimd(true);
            ApplyEffect(b, code);
            EXPECT_TRUE(a.SamePixels(b)) << "code " << code << " " << sz.first << "x" << sz.second;
        }
    }
}

TEST(NeighbourhoodEffects, EmbossReadsTheDiagonalNeighbours) {
    TBitmap b = MakeBitmap(3, 3, [](int x, int y) { return Bgr{0, 0, static_cast<uint8_t>(x * 10 + y * 30)}; });
    ApplyEffect(b, 16);
    // P(2, 2) - P(0, 0) + 128
    EXPECT_EQ(PixelAt(b, 1, 1).R, 80 - 0 + 128);
    TBitmap c = MakeBitmap(3, 3, [](int x, int y) { return Bgr{0, 0, static_cast<uint8_t>(x * 10 + y * 30)}; });
    ApplyEffect(c, 17);
    // P(2,1) + P(1,2) + P(2,2) - P(0,0) - P(1,0) - P(0,1) + 128 = 50 + 70 + 80 - 0 - 10 - 30 + 128
    EXPECT_EQ(PixelAt(c, 1, 1).R, 255);
    TBitmap d = MakeBitmap(3, 3, [](int x, int y) { return Bgr{0, 0, static_cast<uint8_t>(x + y)}; });
    ApplyEffect(d, 17);
    EXPECT_EQ(PixelAt(d, 1, 1).R, 3 + 3 + 4 - 0 - 1 - 1 + 128);
}

TEST(HistogramEffects, StretchAndEqualise) {
    TBitmap one = Flat(20, 20, 90);
    for (int code : {33, 34, 35}) {
        TBitmap b = one;
        ApplyEffect(b, code);
        EXPECT_TRUE(b.SamePixels(one)) << code;
    }
    TBitmap grey = Flat(5, 5, 90);
    HistogramEqualize1(grey);
    EXPECT_TRUE(grey.SamePixels(Flat(5, 5, 255)));
    // two levels spread over the whole range
    TBitmap two = MakeBitmap(200, 2, [](int x, int) { return x < 100 ? Bgr{100, 100, 100} : Bgr{150, 150, 150}; });
    ContrastStretch1(two);
    EXPECT_EQ(PixelAt(two, 0, 0).G, 5);  // low = 99, the last level with at most 0.5 % below it
    EXPECT_EQ(PixelAt(two, 150, 0).G, 255);
    TBitmap three = MakeBitmap(4, 1, [](int x, int) { return Bgr{static_cast<uint8_t>(x * 50 + 10), 0, 0}; });
    HistogramEqualize3(three);
    EXPECT_EQ(PixelAt(three, 0, 0).B, 63);  // cumulative 1/4; the map already starts at 0
    EXPECT_EQ(PixelAt(three, 3, 0).B, 255);
    EXPECT_EQ(PixelAt(three, 2, 0).G, 0);  // a channel that is 0 everywhere stays as it is
    TBitmap zeros = MakeBitmap(4, 1, [](int x, int) { return Bgr{static_cast<uint8_t>(x < 2 ? 0 : x * 100 - 100), 0, 0}; });
    HistogramEqualize3(zeros);  // map 127, 191, 255 stretched from 127 down to 0
    EXPECT_EQ(PixelAt(zeros, 0, 0).B, 0);
    EXPECT_EQ(PixelAt(zeros, 2, 0).B, 128);
    EXPECT_EQ(PixelAt(zeros, 3, 0).B, 255);
    TBitmap eq2 = Flat(4, 4, 120);
    HistogramEqualize2(eq2);
    EXPECT_EQ(PixelAt(eq2, 0, 0).G, 255);
    TBitmap empty;
    HistogramEqualize1(empty);
    ContrastStretch2(empty);
    EXPECT_TRUE(empty.Empty());
}

TEST(OtherEffects, ProgressAfterEachRowWhenThePercentChanges) {
    std::vector<std::pair<int, int>> seen;
    TProgressEvent ev = [&](TProgressStage s, int pct) { seen.push_back({s, pct}); };
    TBitmap b = Noise(4, 3);
    Grayscale(b, ev);
    const std::vector<std::pair<int, int>> want = {{psStarting, 0}, {psRunning, 33}, {psRunning, 66}, {psEnding, 100}};
    EXPECT_EQ(seen, want);
    seen.clear();
    ButtonBevel(b, 2, 64);  // the bevel reports nothing
    EXPECT_TRUE(seen.empty());
    seen.clear();
    TCorrectionRecord r;
    r.Enabled = 1;
    r.Filter1 = 3;
    r.Filter3 = 8;
    ApplyCorrections(b, r, ev);  // one report sequence for each effect that runs
    int starts = 0, ends = 0;
    for (const auto& e : seen) {
        starts += e.first == psStarting;
        ends += e.first == psEnding;
    }
    EXPECT_EQ(starts, 2);
    EXPECT_EQ(ends, 2);
}

TEST(OtherEffects, BevelBands) {
    TBitmap b = Flat(10, 10, 100);
    ApplyEffect(b, 23);
    EXPECT_EQ(PixelAt(b, 9, 0).G, 164);
    EXPECT_EQ(PixelAt(b, 0, 9).G, 164);
    EXPECT_EQ(PixelAt(b, 9, 1).G, 36);
    EXPECT_EQ(PixelAt(b, 1, 9).G, 36);
    EXPECT_EQ(PixelAt(b, 9, 9).G, 36);
    EXPECT_EQ(PixelAt(b, 5, 5).G, 100);
    const int borders[] = {2, 4, 6, 10};
    for (int code = 23; code <= 26; ++code) {
        const int n = borders[code - 23];
        TBitmap w = Flat(30, 30, 100);
        ApplyEffect(w, code);
        EXPECT_EQ(PixelAt(w, n - 1, n - 1).G, 164) << code;  // inside the light band
        EXPECT_EQ(PixelAt(w, n, n).G, 100) << code;          // just outside it
        EXPECT_EQ(PixelAt(w, 29 - n + 1, 15).G, 36) << code; // inside the dark band
        EXPECT_EQ(PixelAt(w, 29 - n, 15).G, 100) << code;
    }
}

TEST(OtherEffects, SmoothingAndNoiseReductionWorkInPlace) {
    // smoothing leaves the outer ring and reads new values above and to the left
    TBitmap b = MakeBitmap(4, 4, [](int x, int y) { return x == 1 && y == 1 ? Bgr{36, 36, 36} : Bgr{0, 0, 0}; });
    Smooth(b);
    EXPECT_EQ(PixelAt(b, 1, 1).G, 16);  // 16 * 36 / 36
    EXPECT_EQ(PixelAt(b, 2, 1).G, 4 * 16 / 36);
    EXPECT_EQ(PixelAt(b, 2, 2).G, (16 + 4 * 1) / 36);  // reads the new (1,1) and (2,1)
    EXPECT_EQ(PixelAt(b, 0, 0).G, 0);
    // a strong edge is above the threshold and stays sharp
    TBitmap e = MakeBitmap(8, 8, [](int x, int) { return x < 4 ? Bgr{0, 0, 0} : Bgr{200, 200, 200}; });
    const TBitmap before = e;
    NoiseReduction(e, 24);
    EXPECT_EQ(PixelAt(e, 3, 4).G, 0);
    EXPECT_EQ(PixelAt(e, 4, 4).G, 200);
    // a faint speck is smoothed away
    TBitmap s = MakeBitmap(8, 8, [](int x, int y) { return x == 4 && y == 4 ? Bgr{108, 108, 108} : Bgr{100, 100, 100}; });
    NoiseReduction(s, 56);
    EXPECT_LT(PixelAt(s, 4, 4).G, 104);
}

}  // namespace
}  // namespace fv
