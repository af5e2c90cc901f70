// Every sample file through every metadata reader, and the fvb commands over them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>

#include "metadata/exif_item.h"
#include "metadata/exif_present.h"
#include "metadata/jpeg_info.h"
#include "metadata/tiff_info.h"

namespace fv {
namespace {

namespace fs = std::filesystem;
const std::string kPhotos = std::string(FV_TESTDATA_DIR) + "/photos/";

std::vector<std::string> AllSamples() {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(kPhotos))
        if (e.is_regular_file() && e.path().extension() != ".md" && e.path().extension() != ".txt") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(ExifFiles, EveryReaderTakesEverySampleIncludingBrokenOnes) {
    auto files = AllSamples();
    ASSERT_GE(files.size(), 50u);
    int withExif = 0;
    for (const auto& f : files) {
        SCOPED_TRACE(f);
        uint8_t options = jiExif | jiThumbnail | jiPreview | jiComment;
        TJpegInfoExRec rec;
        ASSERT_TRUE(ReadJpegInfoExFromFile(f, options, rec));
        if (rec.ThumbStream) {
            EXPECT_GT(rec.ThumbWidth, 0);
            EXPECT_EQ(rec.ThumbStream->Position(), 0);
        }
        TTiffInfoRec tiff;
        EXPECT_TRUE(ReadTiffInfoFromFile(f, tiff));
        bool isTiff = f.find("/tiff/") != std::string::npos;
        TExifItem item;
        if (item.LoadFromFile(f, !isTiff, true)) {
            ++withExif;
            for (int i = 0; i <= kExifTagCount; ++i) GetDisplayLine(item, i, true, "%-16s : %s", "");
        }
        if (f.find("/invalid/") != std::string::npos) {
            // XMP-only files: measured, no EXIF
            EXPECT_GT(rec.Width, 0);
            EXPECT_FALSE(rec.IsExif);
        }
    }
    EXPECT_GE(withExif, 45);
    uint8_t options = jiExif;
    TJpegInfoExRec rec;
    EXPECT_FALSE(ReadJpegInfoExFromFile(kPhotos + "missing.jpg", options, rec));
    EXPECT_EQ(options, 0);
    TExifItem item;
    EXPECT_FALSE(item.LoadFromFile(kPhotos + "missing.jpg", true, false));
}

TEST(ExifFiles, CorruptedCameraFileStillGivesItsHeaderFacts) {
    uint8_t options = jiExif | jiThumbnail;
    TJpegInfoExRec rec;
    ASSERT_TRUE(ReadJpegInfoExFromFile(kPhotos + "corrupted.jpg", options, rec));
    EXPECT_EQ(rec.Width, 3648);
    EXPECT_EQ(rec.Height, 2736);
    EXPECT_EQ(DateTimeToExifStr(rec.ShootingDate), "2015:09:08 11:02:17");
    EXPECT_EQ(rec.ThumbWidth, 160);
    EXPECT_EQ(rec.ThumbHeight, 120);
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(ExifFiles, MakerNotesOfRealCameras) {
    TExifItem canon;
    ASSERT_TRUE(canon.LoadFromFile(kPhotos + "Canon_PowerShot_S40.jpg", true, true));
    EXPECT_TRUE(HasLine(canon.Lines, "所有者           : Andreas Huggel"));
    EXPECT_TRUE(HasLine(canon.Lines, "撮影No           : 117-1771"));
    EXPECT_TRUE(HasLine(canon.Lines, "画質モード       : Superfine"));
    EXPECT_TRUE(HasLine(canon.Lines, "レンズタイプ     : 不明（65535）"));
    EXPECT_FALSE(canon.MakerNoteLines.empty());

    TExifItem fuji;
    ASSERT_TRUE(fuji.LoadFromFile(kPhotos + "Fujifilm_FinePix6900ZOOM.jpg", true, true));
    EXPECT_TRUE(HasLine(fuji.Lines, "Version          : 0130"));
    EXPECT_TRUE(HasLine(fuji.Lines, "フラッシュ補正   : 0.0 (EV)"));

    TExifItem nikon;
    ASSERT_TRUE(nikon.LoadFromFile(kPhotos + "Nikon_COOLPIX_P1.jpg", true, true));
    EXPECT_TRUE(HasLine(nikon.Lines, "カラーモード     : COLOR"));
    EXPECT_TRUE(HasLine(nikon.Lines, "フォーカス距離   : 0/0 (m)"));

    // Panasonic notes are listed raw only
    TExifItem panasonic;
    ASSERT_TRUE(panasonic.LoadFromFile(kPhotos + "Panasonic_DMC-FZ30.jpg", true, true));
    EXPECT_TRUE(panasonic.Lines.empty());
    ASSERT_GE(panasonic.MakerNoteLines.size(), 10u);
    EXPECT_EQ(panasonic.MakerNoteLines[0], "(0001: 3:   1)   : 2");
}

// runs fvb with arguments; returns the exit status and its standard output
int RunFvb(const std::string& args, std::string& out) {
    std::string fvb = std::string(FV_BINARY_DIR) + "/fvb";
    if (!fs::exists(fvb)) return -1;
    FILE* p = popen((fvb + " " + args + " 2>/dev/null").c_str(), "r");
    if (!p) return -1;
    out.clear();
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = pclose(p);
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

TEST(ExifFiles, FvbCommandsReportFilesAndExitStatus) {
    std::string out;
    ASSERT_GE(RunFvb("--help", out), 0) << "fvb is missing beside the tests (it is built with them)";
    const std::string canon = kPhotos + "Canon_40D.jpg";
    ASSERT_EQ(RunFvb("info '" + canon + "' '" + kPhotos + "orientation/portrait_6.jpg'", out), 0);
    EXPECT_NE(out.find(canon + "\tJPEG (EXIF)\t100\t68\t24bit\t1\t2008/05/30 15:56:01\tyes\t68x46\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\t600\t450\t24bit\t6\t-\tyes\t-\n"), std::string::npos) << out;

    ASSERT_EQ(RunFvb("exif --json '" + kPhotos + "gps/DSCN0010.jpg'", out), 0);
    EXPECT_NE(out.find("\"GPSLatitude\": [43,28,2.814]"), std::string::npos) << out;
    EXPECT_NE(out.find("\"ExposureTime\": 0.0133333333333333"), std::string::npos);
    EXPECT_NE(out.find("\"GPSMapDatum\": \"WGS-84\""), std::string::npos);  // trailing blanks gone
    EXPECT_NE(out.find("\"ISOSpeedRatings\": 64"), std::string::npos);

    ASSERT_EQ(RunFvb("exif --json '" + canon + "' '" + kPhotos + "nothing.jpg' '" + kPhotos + "SOURCES.md'", out), 1);
    EXPECT_NE(out.find("\"error\": \"Cannot open file"), std::string::npos) << out;
    EXPECT_NE(out.find("\"error\": \"not a JPEG or TIFF file\""), std::string::npos);
    EXPECT_EQ(out.front(), '[');

    ASSERT_EQ(RunFvb("exif '" + canon + "'", out), 0);
    EXPECT_NE(out.find("Ｆナンバー       : F7.1\n"), std::string::npos) << out;
    EXPECT_EQ(RunFvb("exif", out), 2);
    EXPECT_EQ(RunFvb("exif --frobnicate x", out), 2);
    EXPECT_EQ(RunFvb("nonsense", out), 2);
    EXPECT_EQ(RunFvb("info '" + kPhotos + "nothing.jpg'", out), 1);
}

}  // namespace
}  // namespace fv
