#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "bitmap_test_util.h"
#include "image/image_decode.h"
#include "image/image_io.h"
#include "image/jpeg_codec.h"
#include "metadata/jpeg_info.h"
#include "metadata/raw_preview.h"
#include "image/resample.h"
#include "image/transform.h"

namespace fv {
namespace {

using namespace testutil;

const std::string kPhotos = std::string(FV_TESTDATA_DIR) + "/photos";

TBitmap Thumb(const std::string& file, int box, TImageInfoRec& info, int kind = ikJpeg) {
    TBitmap b;
    LoadThumbnail(b, file, kind, info, true, box, box);
    return b;
}

// The samples differ in their drawn numbers and labels, and the first of each shape is
// brighter than the others: compare the coarse layout by correlation, which ignores tone.
double Correlation(const TBitmap& a0, const TBitmap& b0) {
    if (a0.Width() != b0.Width() || a0.Height() != b0.Height()) return -1;
    TBitmap a(a0.Width() / 8, a0.Height() / 8), b(a.Width(), a.Height());
    TBitmap ca = a0, cb = b0;
    AreaAverage(ca, a);
    AreaAverage(cb, b);
    const int n = a.Width() * 3;
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0, cnt = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int j = 0; j < n; ++j) {
            const double x = a.ScanLine(y)[j], z = b.ScanLine(y)[j];
            sa += x; sb += z; saa += x * x; sbb += z * z; sab += x * z; ++cnt;
        }
    const double cov = sab / cnt - sa / cnt * sb / cnt;
    const double va = saa / cnt - (sa / cnt) * (sa / cnt), vb = sbb / cnt - (sb / cnt) * (sb / cnt);
    return cov / std::sqrt(va * vb);
}

TEST(Orientation, EverySampleComesOutUpright) {
    for (const char* shape : {"landscape", "portrait"}) {
        TImageInfoRec info;
        const TBitmap want = Thumb(kPhotos + "/orientation/" + shape + "_1.jpg", 160, info);
        ASSERT_FALSE(want.Empty());
        for (int o = 1; o <= 8; ++o) {
            const std::string file = kPhotos + "/orientation/" + shape + "_" + std::to_string(o) + ".jpg";
            const TBitmap stored = Thumb(file, 160, info);
            EXPECT_EQ(info.Orientation, o) << file;
            EXPECT_EQ(info.HasOrientation, o > 1);
            EXPECT_TRUE(info.IsExif);
            // the stored orientation matches best of all eight ways to turn the picture
            double best = -2;
            int bestWay = 0;
            for (int way = 1; way <= 8; ++way) {
                TBitmap b = stored;
                ApplyOrientation(b, way);
                const double c = Correlation(b, want);
                if (c > best) {
                    best = c;
                    bestWay = way;
                }
            }
            EXPECT_EQ(bestWay, o) << file;
            EXPECT_GT(best, 0.95) << file;
        }
    }
}

struct TGenerated {
    TTempDir Dir;
    std::string Big, Small;
    TGenerated() {
        Big = Dir.File("big.jpg");
        Small = Dir.File("small.jpg");
        SaveJpegToFile(Scene(4000, 3000), Big, 85);
        SaveJpegToFile(Scene(100, 80), Small, 85);
    }
};

TEST(Thumbnails, LargePhotosDecodeAtAnEighthThenResample) {
    TGenerated g;
    EXPECT_EQ(ThumbnailScaleDenominator(4000, 160), 8);
    EXPECT_EQ(ThumbnailScaleDenominator(4000, 600), 4);
    EXPECT_EQ(ThumbnailScaleDenominator(4000, 1999), 2);
    EXPECT_EQ(ThumbnailScaleDenominator(4000, 2001), 1);
    TImageInfoRec info;
    TBitmap b;
    LoadThumbnail(b, g.Big, ikJpeg, info, true, 120, 160);
    EXPECT_TRUE(info.Resized);
    EXPECT_EQ(info.Width, 4000);
    EXPECT_EQ(info.Height, 3000);
    EXPECT_FALSE(info.IsExif);
    ASSERT_EQ(b.Width(), 160);
    ASSERT_EQ(b.Height(), 120);
    // same content as a plain reduction of the original scene
    TBitmap ref = Scene(4000, 3000);
    TBitmap small(160, 120);
    AreaAverage(ref, small);
    EXPECT_LT(MeanAbsDiff(b, small), 6.0);

    TBitmap s;
    LoadThumbnail(s, g.Small, ikJpeg, info, true, 120, 160);
    EXPECT_FALSE(info.Resized);
    EXPECT_EQ(s.Width(), 100);
    EXPECT_EQ(s.Height(), 80);
    // not smooth: nearest neighbour
    TBitmap n;
    LoadThumbnail(n, g.Big, ikJpeg, info, false, 90, 90);
    EXPECT_EQ(n.Width(), 90);
    EXPECT_EQ(n.Height(), 68);
}

TEST(Thumbnails, BadFilesOfTheRightKindRaiseOthersStayQuiet) {
    TTempDir dir;
    TImageInfoRec info;
    TBitmap b;
    EXPECT_THROW(LoadThumbnail(b, dir.File("missing.jpg"), ikJpeg, info, true, 100, 100), EStreamError);
    EXPECT_THROW(LoadThumbnail(b, dir.File("missing.nef"), ikRaw, info, true, 100, 100), EStreamError);
    EXPECT_THROW(LoadThumbnail(b, dir.File("song.mp3"), ikNotImage, info, true, 100, 100), EImageAbort);
    WriteBytes(dir.File("bad.bmp"), {'B', 'M', 1, 2, 3});
    b = Flat(3, 3, 1);
    LoadThumbnail(b, dir.File("bad.bmp"), ikBmp, info, true, 100, 100);
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(info.PixelFormat, pf24bit);
    EXPECT_EQ(info.Width, 0);
    LoadThumbnail(b, dir.File("missing.wmf"), ikMetafile, info, true, 100, 100);
    EXPECT_TRUE(b.Empty());
}

TEST(LoadImage, ReduceLevelsGiveTheDctScaledSizes) {
    TTempDir dir;
    const std::string f = dir.File("odd.jpg");
    SaveJpegToFile(Scene(1001, 603), f, 80);
    const int want[4][2] = {{1001, 603}, {501, 302}, {251, 151}, {126, 76}};
    for (int r = 0; r < 4; ++r) {
        TBitmap b;
        LoadImage(b, ikJpeg, f, {}, r);
        EXPECT_EQ(b.Width(), want[r][0]) << r;
        EXPECT_EQ(b.Height(), want[r][1]) << r;
    }
    TBitmap b;
    EXPECT_THROW(LoadImage(b, 6, f), EImageLoadError);
    try {
        LoadImage(b, 7, f);
    } catch (const EImageLoadError& e) {
        EXPECT_EQ(e.Message(), "未サポートの形式です。");
    }
    TBitmap r = Noise(101, 51);
    ReduceBitmap(r, 1);
    EXPECT_EQ(r.Width(), 51);
    EXPECT_EQ(r.Height(), 26);
    TBitmap one = Noise(3, 3);
    ReduceBitmap(one, 3);
    EXPECT_EQ(one.Width(), 1);  // never shrinks to nothing
}

TEST(LoadImage, RealCameraFilesDecode) {
    for (const char* name : {"Canon_40D.jpg", "Nikon_D70.jpg", "Fujifilm_FinePix6900ZOOM.jpg", "long_description.jpg"}) {
        const std::string f = kPhotos + "/" + name;
        TImageInfoRec info;
        GetImageInfo(f, ikJpeg, info);
        TBitmap b;
        LoadImage(b, ikJpeg, f);
        EXPECT_EQ(b.Width(), info.Width) << name;
        EXPECT_EQ(b.Height(), info.Height) << name;
        EXPECT_TRUE(info.IsExif) << name;
    }
}

// A JPEG whose SOF claims another size
std::vector<uint8_t> WithSofSize(std::vector<uint8_t> j, int w, int h) {
    for (size_t i = 2; i + 9 < j.size(); ++i)
        if (j[i] == 0xFF && (j[i + 1] == 0xC0 || j[i + 1] == 0xC2)) {
            j[i + 5] = static_cast<uint8_t>(h >> 8);
            j[i + 6] = static_cast<uint8_t>(h);
            j[i + 7] = static_cast<uint8_t>(w >> 8);
            j[i + 8] = static_cast<uint8_t>(w);
            break;
        }
    return j;
}

TEST(Jpeg, CorruptAndAbsurdFilesRaiseInsteadOfCrashing) {
    const auto good = EncodeJpeg(Noise(640, 480), 90);
    TBitmap b;
    DecodeJpeg(good.data(), good.size(), b);
    EXPECT_EQ(b.Width(), 640);
    // truncated inside the scan: libjpeg fills the missing rows; the picture keeps its size
    DecodeJpeg(good.data(), good.size() / 2, b);
    EXPECT_EQ(b.Height(), 480);
    // header only
    EXPECT_THROW(DecodeJpeg(good.data(), 20, b), EJpegError);
    std::vector<uint8_t> garbage = good;
    for (size_t i = 2; i < 200 && i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 7);
    EXPECT_THROW(DecodeJpeg(garbage.data(), garbage.size(), b), EJpegError);
    const auto huge = WithSofSize(good, 60000, 60000);
    try {
        DecodeJpeg(huge.data(), huge.size(), b, 8);
        FAIL() << "accepted a 60000 x 60000 picture";
    } catch (const EJpegError& e) {
        EXPECT_NE(e.Message().find("60000"), std::string::npos);
    }
    // a large picture claimed by far too few bytes is refused before anything is allocated
    const auto claim = WithSofSize(EncodeJpeg(Scene(64, 48), 90), 20000, 20000);
    try {
        DecodeJpeg(claim.data(), claim.size(), b, 8);
        FAIL() << "decoded 400 megapixels from " << claim.size() << " bytes";
    } catch (const EJpegError& e) {
        EXPECT_NE(e.Message().find("too short"), std::string::npos);
    }
    const auto zero = WithSofSize(good, 0, 48);
    EXPECT_THROW(DecodeJpeg(zero.data(), zero.size(), b), EJpegError);
    EXPECT_THROW(DecodeJpeg(nullptr, 0, b), EJpegError);

    TImageInfoRec info;
    TBitmap t;
    // a camera file with a damaged scan still gives the part that decodes
    LoadThumbnail(t, kPhotos + "/corrupted.jpg", ikJpeg, info, true, 100, 100);
    EXPECT_EQ(t.Width(), 100);
    EXPECT_EQ(t.Height(), 75);
}

TEST(Jpeg, EncoderRoundTripAndScaledSides) {
    const TBitmap src = Scene(120, 90);
    const auto bytes = EncodeJpeg(src, 95);
    const TJpegHeader h = ReadJpegHeader(bytes.data(), bytes.size());
    EXPECT_EQ(h.Width, 120);
    EXPECT_EQ(h.Components, 3);
    TBitmap b;
    DecodeJpeg(bytes.data(), bytes.size(), b);
    EXPECT_LT(MeanAbsDiff(b, src), 3.0);
    EXPECT_EQ(JpegScaledSide(1001, 8), 126);
    TBitmap grey(10, 10, pf8bit);
    const auto gb = EncodeJpeg(grey, 90);
    DecodeJpeg(gb.data(), gb.size(), b);
    EXPECT_EQ(b.PixelFormat(), pf24bit);

    // the header reader's format reaches the facts as the same type the bitmap and records use
    TTempDir dir;
    std::vector<uint8_t> oneComponent = bytes;  // the header alone says grey: one component
    for (size_t i = 2; i + 9 < oneComponent.size(); ++i)
        if (oneComponent[i] == 0xFF && oneComponent[i + 1] == 0xC0) {
            oneComponent[i + 9] = 1;
            break;
        }
    WriteBytes(dir.File("grey.jpg"), oneComponent);
    WriteBytes(dir.File("colour.jpg"), bytes);
    TImageInfoRec info;
    GetImageInfo(dir.File("grey.jpg"), ikJpeg, info);
    EXPECT_EQ(info.PixelFormat, pf8bit);
    EXPECT_EQ(PixelFormatName(info.PixelFormat), "8bit");
    GetImageInfo(dir.File("colour.jpg"), ikJpeg, info);
    EXPECT_EQ(PixelFormatName(info.PixelFormat), "24bit");
    EXPECT_EQ(PixelFormatName(pfDevice), "Device");
    EXPECT_EQ(PixelFormatName(pfCustom), "Custom");
    EXPECT_EQ(PixelFormatName(9), "");  // a number read from a damaged record
}

// ---- BMP files ----

std::vector<uint8_t> BmpFile(int w, int h, int bits, bool topDown, const std::vector<uint8_t>& palette,
                             const std::vector<uint8_t>& pixels, uint32_t compression = 0) {
    std::vector<uint8_t> d(54);
    auto p32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) d[at + i] = static_cast<uint8_t>(v >> (8 * i)); };
    d[0] = 'B';
    d[1] = 'M';
    p32(10, static_cast<uint32_t>(54 + palette.size()));
    p32(14, 40);
    p32(18, static_cast<uint32_t>(w));
    p32(22, static_cast<uint32_t>(topDown ? -h : h));
    d[26] = 1;
    d[28] = static_cast<uint8_t>(bits);
    p32(30, compression);
    d.insert(d.end(), palette.begin(), palette.end());
    d.insert(d.end(), pixels.begin(), pixels.end());
    p32(2, static_cast<uint32_t>(d.size()));
    return d;
}

TEST(Bmp, ReadsTheCommonLayouts) {
    // 2 x 2, 24 bits, bottom-up, rows padded to 8 bytes
    const std::vector<uint8_t> px24 = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
    TBitmap b;
    auto f = BmpFile(2, 2, 24, false, {}, px24);
    LoadBmpFromMemory(f.data(), f.size(), b);
    EXPECT_EQ(PixelAt(b, 0, 0), (Bgr{7, 8, 9}));  // the last stored row is the top
    EXPECT_EQ(PixelAt(b, 1, 1), (Bgr{4, 5, 6}));
    f = BmpFile(2, 2, 24, true, {}, px24);
    LoadBmpFromMemory(f.data(), f.size(), b);
    EXPECT_EQ(PixelAt(b, 0, 0), (Bgr{1, 2, 3}));
    // 8 bits with a palette of two entries
    const std::vector<uint8_t> pal = {10, 20, 30, 0, 40, 50, 60, 0};
    f = BmpFile(3, 1, 8, false, pal, {1, 0, 1, 0});
    LoadBmpFromMemory(f.data(), f.size(), b);
    EXPECT_EQ(PixelAt(b, 0, 0), (Bgr{40, 50, 60}));
    EXPECT_EQ(PixelAt(b, 1, 0), (Bgr{10, 20, 30}));
    int w = 0, h = 0;
    TPixelFormat pf = pfDevice;
    EXPECT_TRUE(ReadBmpSize(f.data(), f.size(), w, h, pf));
    EXPECT_EQ(pf, pf8bit);
    // 1 bit
    f = BmpFile(9, 1, 1, false, pal, {0x80, 0x80, 0, 0});
    LoadBmpFromMemory(f.data(), f.size(), b);
    EXPECT_EQ(PixelAt(b, 0, 0), (Bgr{40, 50, 60}));
    EXPECT_EQ(PixelAt(b, 8, 0), (Bgr{40, 50, 60}));
    EXPECT_EQ(PixelAt(b, 7, 0), (Bgr{10, 20, 30}));
    // 16 bits 5-5-5
    f = BmpFile(1, 1, 16, false, {}, {0x1F, 0x7C, 0, 0});  // red 31, blue 31
    LoadBmpFromMemory(f.data(), f.size(), b);
    EXPECT_EQ(PixelAt(b, 0, 0), (Bgr{255, 0, 255}));
    // RLE8: a run of three 1s, end of bitmap
    f = BmpFile(4, 1, 8, false, pal, {3, 1, 0, 1}, 1);
    LoadBmpFromMemory(f.data(), f.size(), b);
    EXPECT_EQ(PixelAt(b, 2, 0), (Bgr{40, 50, 60}));
    EXPECT_EQ(PixelAt(b, 3, 0), (Bgr{10, 20, 30}));
}

TEST(Bmp, RefusesBrokenFiles) {
    TBitmap b;
    const std::vector<uint8_t> px24 = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
    auto f = BmpFile(2, 2, 24, false, {}, px24);
    auto shortFile = f;
    shortFile.resize(f.size() - 3);
    EXPECT_THROW(LoadBmpFromMemory(shortFile.data(), shortFile.size(), b), EBitmapFormatError);
    auto huge = BmpFile(60000, 60000, 24, false, {}, px24);
    EXPECT_THROW(LoadBmpFromMemory(huge.data(), huge.size(), b), EBitmapFormatError);
    auto badBits = BmpFile(2, 2, 7, false, {}, px24);
    EXPECT_THROW(LoadBmpFromMemory(badBits.data(), badBits.size(), b), EBitmapFormatError);
    auto offset = f;
    offset[10] = 0xFF;
    offset[11] = 0xFF;
    EXPECT_THROW(LoadBmpFromMemory(offset.data(), offset.size(), b), EBitmapFormatError);
    // RLE runs that point outside the picture are dropped, not written
    const std::vector<uint8_t> pal = {10, 20, 30, 0};
    auto rle = BmpFile(2, 2, 8, false, pal, {0, 2, 200, 200, 9, 0, 0, 1}, 1);
    LoadBmpFromMemory(rle.data(), rle.size(), b);
    EXPECT_EQ(b.Width(), 2);
}

TEST(Bmp, RleRunsAndDeltasStayInsideThePicture) {
    const std::vector<uint8_t> pal = {10, 20, 30, 0, 40, 50, 60, 0};
    const Bgr zero{10, 20, 30}, one{40, 50, 60};
    TBitmap b;
    // more than 2^31 pixels of runs on one row of a 2 x 2 picture (about 17 MB of input):
    // the column must stay clipped at the right edge, then the next line starts over
    std::vector<uint8_t> runs;
    const size_t pairs = (size_t(1) << 31) / 255 + 1000;
    runs.reserve(pairs * 2 + 8);
    for (size_t i = 0; i < pairs; ++i) runs.insert(runs.end(), {255, 1});
    runs.insert(runs.end(), {0, 0, 1, 1, 0, 1});
    auto f = BmpFile(2, 2, 8, false, pal, runs, 1);
    LoadBmpFromMemory(f.data(), f.size(), b);
    EXPECT_EQ(PixelAt(b, 0, 1), one);  // bottom row: the long runs
    EXPECT_EQ(PixelAt(b, 1, 1), one);
    EXPECT_EQ(PixelAt(b, 0, 0), one);  // top row: one pixel after the end of line
    EXPECT_EQ(PixelAt(b, 1, 0), zero);

    // RLE8 on a 4 x 3 picture: a delta far to the right clips to the edge (the run after it
    // writes nothing), a delta up past the top ends the picture
    f = BmpFile(4, 3, 8, false, pal, {1, 1, 0, 2, 250, 0, 3, 1, 0, 0, 0, 2, 1, 0, 2, 1, 0, 2, 0, 200, 4, 1, 0, 1}, 1);
    LoadBmpFromMemory(f.data(), f.size(), b);
    EXPECT_EQ(PixelAt(b, 0, 2), one);
    EXPECT_EQ(PixelAt(b, 1, 2), zero);
    EXPECT_EQ(PixelAt(b, 3, 2), zero);
    EXPECT_EQ(PixelAt(b, 0, 0), zero);
    EXPECT_EQ(PixelAt(b, 1, 1), one);  // after the end of line the delta moved one right
    EXPECT_EQ(PixelAt(b, 2, 1), one);
    EXPECT_EQ(PixelAt(b, 3, 1), zero);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelAt(b, x, 0), zero) << x;  // nothing written above the picture

    // RLE4: an absolute run of 5 nibbles longer than the 3-pixel row is cut at the edge
    const std::vector<uint8_t> pal16 = {10, 20, 30, 0, 40, 50, 60, 0};
    f = BmpFile(3, 1, 4, false, pal16, {0, 5, 0x10, 0x10, 0x10, 0, 0, 1}, 2);
    LoadBmpFromMemory(f.data(), f.size(), b);
    EXPECT_EQ(PixelAt(b, 0, 0), one);
    EXPECT_EQ(PixelAt(b, 1, 0), zero);
    EXPECT_EQ(PixelAt(b, 2, 0), one);
}

TEST(Bmp, ImageInfoReadsTheHeadersOnly) {
    // a 20000 x 20000 picture whose pixels are not in the file: the facts come from the header
    TTempDir dir;
    WriteBytes(dir.File("big.bmp"), BmpFile(20000, 20000, 24, false, {}, {1, 2, 3}));
    TImageInfoRec info;
    GetImageInfo(dir.File("big.bmp"), ikBmp, info);
    EXPECT_EQ(info.Width, 20000);
    EXPECT_EQ(info.Height, 20000);
    EXPECT_EQ(info.PixelFormat, pf24bit);
    TBitmap b;
    EXPECT_THROW(LoadImage(b, ikBmp, dir.File("big.bmp")), EBitmapFormatError);
    // a broken header still raises, a missing file too
    auto bad = BmpFile(2, 2, 7, false, {}, {});
    WriteBytes(dir.File("bad.bmp"), bad);
    EXPECT_THROW(GetImageInfo(dir.File("bad.bmp"), ikBmp, info), EBitmapFormatError);
    EXPECT_THROW(GetImageInfo(dir.File("none.bmp"), ikBmp, info), EFOpenError);
}

TEST(Bmp, ThroughTheLoaders) {
    TTempDir dir;
    const std::vector<uint8_t> px24(8 * 4 * 3, 77);
    WriteBytes(dir.File("a.bmp"), BmpFile(8, 4, 24, false, {}, px24));
    TImageInfoRec info;
    GetImageInfo(dir.File("a.bmp"), ikBmp, info);
    EXPECT_EQ(info.Width, 8);
    EXPECT_EQ(info.PixelFormat, pf24bit);
    TBitmap b;
    LoadImage(b, ikBmp, dir.File("a.bmp"), {}, 1);
    EXPECT_EQ(b.Width(), 4);
    EXPECT_EQ(PixelAt(b, 1, 1).G, 77);
    LoadThumbnail(b, dir.File("a.bmp"), ikBmp, info, true, 4, 4);
    EXPECT_TRUE(info.Resized);
    EXPECT_EQ(b.Width(), 4);
    EXPECT_EQ(b.Height(), 2);
}

TEST(Png, WriterProducesAValidStream) {
    const auto png = EncodePng(Noise(70000 / 3 / 10, 10));  // more than one stored block
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(png[1], 'P');
    EXPECT_EQ(std::string(png.end() - 8, png.end() - 4), "IEND");
}

// ---- metafiles ----

std::vector<uint8_t> Wmf(int16_t l, int16_t t, int16_t r, int16_t b, uint16_t upi, bool goodSum = true) {
    std::vector<uint8_t> d(22 + 18, 0);
    auto p16 = [&](size_t at, uint16_t v) { d[at] = static_cast<uint8_t>(v); d[at + 1] = static_cast<uint8_t>(v >> 8); };
    p16(0, 0xCDD7);
    p16(2, 0x9AC6);
    p16(6, static_cast<uint16_t>(l));
    p16(8, static_cast<uint16_t>(t));
    p16(10, static_cast<uint16_t>(r));
    p16(12, static_cast<uint16_t>(b));
    p16(14, upi);
    uint16_t x = 0;
    for (int i = 0; i < 10; ++i) x ^= static_cast<uint16_t>(d[2 * i] | (d[2 * i + 1] << 8));
    p16(20, goodSum ? x : static_cast<uint16_t>(x ^ 1));
    return d;
}

TEST(Metafile, PlaceableHeaderGivesTheSize) {
    TTempDir dir;
    WriteBytes(dir.File("a.wmf"), Wmf(0, 0, 1440, 720, 1440));
    WriteBytes(dir.File("zero.wmf"), Wmf(10, 10, 110, 60, 0));
    WriteBytes(dir.File("bad.wmf"), Wmf(0, 0, 100, 100, 96, false));
    TImageInfoRec info;
    GetImageInfo(dir.File("a.wmf"), ikMetafile, info);
    EXPECT_EQ(info.Width, 96);
    EXPECT_EQ(info.Height, 48);
    GetImageInfo(dir.File("zero.wmf"), ikMetafile, info);  // units per inch 0 counts as 96
    EXPECT_EQ(info.Width, 100);
    EXPECT_EQ(info.Height, 50);
    EXPECT_THROW(GetImageInfo(dir.File("bad.wmf"), ikMetafile, info), EImageAbort);
    // a box whose right edge lies left of its left edge: unknown sides, not negative ones
    WriteBytes(dir.File("inverted.wmf"), Wmf(1012, 232, 0, 0, 1440));
    GetImageInfo(dir.File("inverted.wmf"), ikMetafile, info);
    EXPECT_EQ(info.Width, 0);
    EXPECT_EQ(info.Height, 0);
    TBitmap b;
    LoadImage(b, ikMetafile, dir.File("inverted.wmf"));
    EXPECT_TRUE(b.Empty());
    try {
        LoadImage(b, ikMetafile, dir.File("bad.wmf"));
        FAIL();
    } catch (const EImageLoadError& e) {
        EXPECT_EQ(e.Message(), "この形式のWMFは未対応です。");
    }
    LoadImage(b, ikMetafile, dir.File("a.wmf"), {}, 1);
    EXPECT_EQ(b.Width(), 48);
    EXPECT_EQ(b.Height(), 24);
}

}  // namespace
}  // namespace fv
