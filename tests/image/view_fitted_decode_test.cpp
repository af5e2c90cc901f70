#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "bitmap_test_util.h"
#include "image/image_decode.h"
#include "image/image_loader.h"
#include "image/jpeg_codec.h"
#include "image/resample.h"
#include "image/transform.h"
#include "platform/stream.h"

namespace fv {
namespace {

using namespace testutil;
namespace fs = std::filesystem;

const std::string kPhotos = std::string(FV_TESTDATA_DIR) + "/photos";

struct TDiff {
    int Max = 0;
    double Mean = 0;
};

// a 24-bit picture against a 32-bit one: colour differences, and every alpha must be 255
TDiff Compare(const TBitmap& want24, const TBitmap& got32) {
    EXPECT_EQ(got32.PixelFormat(), pf32bit);
    TDiff d;
    if (want24.Width() != got32.Width() || want24.Height() != got32.Height()) {
        ADD_FAILURE() << "sizes " << want24.Width() << "x" << want24.Height() << " and " << got32.Width() << "x"
                      << got32.Height();
        d.Max = 256;
        return d;
    }
    int64_t sum = 0;
    for (int y = 0; y < want24.Height(); ++y) {
        const uint8_t* a = want24.ScanLine(y);
        const uint8_t* b = got32.ScanLine(y);
        for (int x = 0; x < want24.Width(); ++x, a += 3, b += 4) {
            if (b[3] != 255) {
                ADD_FAILURE() << "alpha " << int(b[3]) << " at " << x << "," << y;
                return {256, 256};
            }
            for (int c = 0; c < 3; ++c) {
                const int e = std::abs(int(a[c]) - int(b[c]));
                d.Max = std::max(d.Max, e);
                sum += e;
            }
        }
    }
    d.Mean = double(sum) / (3.0 * want24.Width() * want24.Height());
    return d;
}

// the fitted size of a picture in a box, keeping its shape (what the viewer's fit does)
void FitBox(int boxW, int boxH, int w, int h, int& fw, int& fh) {
    const double s = std::min(double(boxW) / w, double(boxH) / h);
    fw = std::max(1, int(std::lround(w * s)));
    fh = std::max(1, int(std::lround(h * s)));
}

struct TBothWays {
    TBitmap Old, Straight;
    int OldEighths = 0;
    TViewFittedFacts Facts;
};

// the photo decoded whole (at the DCT scale covering the box), turned and then fitted, and the
// same photo filtered into its fitted picture as it is decoded
TBothWays BothWays(const std::string& file, int orientation, int boxW, int boxH) {
    TBothWays r;
    const bool turn = orientation >= 5 && orientation <= 8;
    auto want = [&](int w, int h, int& minW, int& minH) {
        int fw, fh;
        FitBox(boxW, boxH, turn ? h : w, turn ? w : h, fw, fh);
        minW = turn ? fh : fw;
        minH = turn ? fw : fh;
    };
    auto fit = [&](int w, int h, int& fw, int& fh) { FitBox(boxW, boxH, w, h, fw, fh); };
    TBitmap decoded;
    LoadViewImage(decoded, ikJpeg, file, 0, want, {}, &r.OldEighths);
    ApplyOrientation(decoded, orientation);
    int fw, fh;
    fit(decoded.Width(), decoded.Height(), fw, fh);
    r.Old = TBitmap(fw, fh);
    FilteredResample(decoded, r.Old, fkSinc);
    EXPECT_TRUE(LoadViewImageFitted(r.Straight, ikJpeg, file, 0, orientation, want, fit, fkSinc, {}, &r.Facts));
    EXPECT_EQ(r.Facts.Eighths, r.OldEighths) << file;
    EXPECT_EQ(r.Facts.DecodedWidth, decoded.Width()) << file;
    EXPECT_EQ(r.Facts.DecodedHeight, decoded.Height()) << file;
    return r;
}

class ViewFittedDecode : public ::testing::Test {
protected:
    void SetUp() override {
        FDir = fs::temp_directory_path() / ("fv-view-fitted-" + std::to_string(::getpid()));
        fs::create_directories(FDir);
    }
    void TearDown() override { fs::remove_all(FDir); }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = (FDir / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path;
    }
    fs::path FDir;
};

TEST_F(ViewFittedDecode, RealPhotosComeOutAsTheDecodedFrameFittedAfterwards) {
    // upright photos: the very same rows through the very same filter, so the very same pixels
    // (a reduced decode of the trail-camera photo, a truncated camera file, small odd sizes fitted
    // up, a turned camera photo shown as stored)
    const struct {
        std::string File;
        int BoxW, BoxH;
    } upright[] = {{"Reconyx_HC500_Hyperfire.jpg", 804, 604},  {"Reconyx_HC500_Hyperfire.jpg", 1608, 1208},
                   {"corrupted.jpg", 1000, 700},                {"Canon_PowerShot_S40.jpg", 1280, 720},
                   {"Fujifilm_FinePix_E500.jpg", 333, 211},    {"Konica_Minolta_DiMAGE_Z3.jpg", 97, 61}};
    for (const auto& c : upright) {
        const TBothWays b = BothWays(kPhotos + "/" + c.File, 1, c.BoxW, c.BoxH);
        const TDiff d = Compare(b.Old, b.Straight);
        EXPECT_EQ(d.Max, 0) << c.File << " in " << c.BoxW << "x" << c.BoxH;
    }
    // turned photos are fitted before they are turned, with the passes in the order they had
    // turned first; a mirrored axis only takes its rounding remainders at mirrored taps, so a
    // rare pixel is a step or two off, nothing more
    for (const char* shape : {"landscape", "portrait"})
        for (int o = 2; o <= 8; ++o) {
            const std::string file = kPhotos + "/orientation/" + shape + "_" + std::to_string(o) + ".jpg";
            const TBothWays b = BothWays(file, o, 380, 250);
            const TDiff d = Compare(b.Old, b.Straight);
            EXPECT_LE(d.Max, 2) << file;
            EXPECT_LT(d.Mean, 0.01) << file;
        }
}

TEST_F(ViewFittedDecode, ProgressiveAndOddSizedFilesAndReducedScales) {
    const TBitmap scene = Scene(1001, 667);
    for (bool progressive : {false, true}) {
        const std::string file = Write(progressive ? "p.jpg" : "b.jpg", EncodeJpeg(scene, 88, progressive));
        // 5/8, 3/8 and full scale decodes, and a box larger than the photo
        for (const auto& box : {std::pair{611, 400}, std::pair{300, 300}, std::pair{1001, 667}, std::pair{1500, 1100}}) {
            const TBothWays b = BothWays(file, 1, box.first, box.second);
            EXPECT_EQ(Compare(b.Old, b.Straight).Max, 0) << file << " " << box.first;
        }
        const TBothWays turned = BothWays(file, 8, 250, 380);
        const TDiff d = Compare(turned.Old, turned.Straight);
        EXPECT_LE(d.Max, 2) << file;
        EXPECT_LT(d.Mean, 0.01) << file;
    }
}

TEST_F(ViewFittedDecode, BadFilesGiveTheirErrorAndStopsAreSilent) {
    auto fit = [](int w, int h, int& fw, int& fh) { FitBox(300, 200, w, h, fw, fh); };
    TBitmap out;
    // not a JPEG: the caller decodes it whole
    EXPECT_FALSE(LoadViewImageFitted(out, ikBmp, kPhotos + "/Canon_40D.jpg", 0, 1, {}, fit, fkSinc, {}));
    EXPECT_TRUE(out.Empty());
    // rubbish behind a JPEG start
    std::vector<uint8_t> junk{0xFF, 0xD8, 0xFF, 0xE0};
    for (int i = 0; i < 4000; ++i) junk.push_back(static_cast<uint8_t>(i * 7919 >> 3));
    EXPECT_THROW(LoadViewImageFitted(out, ikJpeg, Write("junk.jpg", junk), 0, 1, {}, fit, fkSinc, {}), Exception);
    // a file cut in half is shown as far as it goes, the rest as the decoder fills it
    TMemoryStream whole;
    ASSERT_TRUE(LoadFileToMemory(kPhotos + "/Reconyx_HC500_Hyperfire.jpg", whole));
    std::vector<uint8_t> half(whole.Data().begin(), whole.Data().begin() + whole.Data().size() / 2);
    const std::string cut = Write("cut.jpg", half);
    ASSERT_TRUE(LoadViewImageFitted(out, ikJpeg, cut, 0, 6, {}, fit, fkSinc, {}));
    EXPECT_EQ(out.Width(), 150);  // turned: 1536 x 2048 in 300 x 200
    EXPECT_EQ(out.Height(), 200);
    const TBothWays b = BothWays(cut, 1, 300, 200);
    EXPECT_EQ(Compare(b.Old, b.Straight).Max, 0);
    // a stop between strips leaves silently, and so does a fit to nothing
    int asked = 0;
    auto cancelled = [&asked] { return ++asked > 20; };
    EXPECT_THROW(LoadViewImageFitted(out, ikJpeg, kPhotos + "/Reconyx_HC500_Hyperfire.jpg", 0, 1, {}, fit, fkSinc,
                                     cancelled),
                 EImageAbort);
    auto none = [](int, int, int& fw, int& fh) { fw = fh = 0; };
    EXPECT_THROW(LoadViewImageFitted(out, ikJpeg, cut, 0, 1, {}, none, fkSinc, {}), EImageAbort);
}

// a file that fails part-way through (a disk error, a volume gone)
class TFailingStream : public TMemoryStream {
public:
    TFailingStream(std::vector<uint8_t> bytes, int64_t failAt) : TMemoryStream(std::move(bytes)), FFailAt(failAt) {}
    int64_t Read(void* buffer, int64_t count) override {
        if (Position() + count > FFailAt) throw EReadError("the disk went away");
        return TMemoryStream::Read(buffer, count);
    }

private:
    int64_t FFailAt;
};

TEST_F(ViewFittedDecode, AStreamReadAChunkAtATimeGivesTheSameRowsAndItsErrorsAsJpegErrors) {
    const std::vector<uint8_t> bytes = EncodeJpeg(Scene(700, 300), 90);
    TBitmap whole;
    DecodeJpegEighths(bytes.data(), bytes.size(), whole, 5);
    // from a stream, rows in uneven strips: the same rows as the whole decode
    TMemoryStream ms(bytes);
    TJpegRowReader reader;
    reader.Open(ms, 5, 8);
    ASSERT_EQ(reader.Width(), whole.Width());
    ASSERT_EQ(reader.Height(), whole.Height());
    std::vector<uint8_t> row(static_cast<size_t>(whole.Width()) * 3 * 7);
    while (reader.NextRow() < reader.Height()) {
        const int y = reader.NextRow();
        uint8_t* rows[7];
        for (int k = 0; k < 7; ++k) rows[k] = row.data() + static_cast<size_t>(k) * whole.Width() * 3;
        reader.ReadRows(rows, 7);
        for (int k = 0; k < 7 && y + k < whole.Height(); ++k)
            ASSERT_EQ(std::memcmp(rows[k], whole.ScanLine(y + k), static_cast<size_t>(whole.Width()) * 3), 0) << y + k;
    }
    // a read that fails in the header or in the middle of the picture is a JPEG error, never
    // something thrown through the decoder
    for (int64_t at : {int64_t(100), static_cast<int64_t>(bytes.size() / 2)}) {
        TFailingStream bad(bytes, at);
        TJpegRowReader r;
        EXPECT_THROW(
            {
                r.Open(bad, 8, 8);
                std::vector<uint8_t> one(static_cast<size_t>(r.Width()) * 3);
                uint8_t* p = one.data();
                while (r.NextRow() < r.Height()) r.ReadRows(&p, 1);
            },
            EJpegError)
            << at;
    }
}

TEST_F(ViewFittedDecode, AHeaderOfManySegmentsIsReadFromTheFileAsFarAsItGoes) {
    // 24 application segments of 60,000 bytes (1.4 MB, as large colour profiles or maker data
    // can be) before the picture's own tables
    const std::vector<uint8_t> plain = EncodeJpeg(Scene(320, 200), 90);
    std::vector<uint8_t> bytes(plain.begin(), plain.begin() + 2);
    for (int k = 0; k < 24; ++k) {
        const int len = 60000;
        bytes.insert(bytes.end(), {0xFF, 0xE2, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len & 0xFF)});
        bytes.insert(bytes.end(), len - 2, static_cast<uint8_t>(k));
    }
    bytes.insert(bytes.end(), plain.begin() + 2, plain.end());
    const std::string file = Write("segments.jpg", bytes);
    TFileStream fs(file, TFileStream::fmOpenRead);
    fs.Seek(0, soBeginning);
    const TJpegHeader h = ReadJpegHeaderStream(fs);
    EXPECT_EQ(h.Width, 320);
    EXPECT_EQ(h.Height, 200);
    EXPECT_EQ(fs.Position(), 0);  // kept
    const TBothWays b = BothWays(file, 1, 160, 100);
    EXPECT_EQ(Compare(b.Old, b.Straight).Max, 0);
}

TEST(ViewPicture32, TurnsAndFilteredPicturesMatchTheir24BitForms) {
    // every orientation of an odd-sized picture, as ApplyOrientation turns the 24-bit one
    const TBitmap noise = Noise(37, 23, 5);
    for (int o = 1; o <= 8; ++o) {
        TBitmap want = noise;
        ApplyOrientation(want, o);
        TBitmap wide = noise;
        wide.SetPixelFormat(pf32bit);
        OrientPicture32(wide, o);
        EXPECT_EQ(Compare(want, wide).Max, 0) << "orientation " << o;
    }
    // the filtered resampler writes a 32-bit picture with the 24-bit one's colours, with and
    // without the vector loops, at widths that leave odd pixels after the vector steps
    for (bool simd : {true, false}) {
        resample_detail::SetUseSimd(simd);
        for (const auto& size : {std::pair{97, 61}, std::pair{5, 3}, std::pair{1, 1}, std::pair{250, 170}}) {
            TBitmap src = Noise(401, 233, 9);
            TBitmap narrow(size.first, size.second);
            FilteredResample(src, narrow, fkSinc);
            TBitmap wide(size.first, size.second, pf32bit);
            FilteredResample(src, wide, fkSinc);
            EXPECT_EQ(Compare(narrow, wide).Max, 0) << size.first << (simd ? " vector" : " plain");
        }
    }
    resample_detail::SetUseSimd(true);
}

}  // namespace
}  // namespace fv
