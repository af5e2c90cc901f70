#include "metadata/exif_present.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace fv {
namespace {

const std::string kPhotos = std::string(FV_TESTDATA_DIR) + "/photos/";

TExifItem& With(TExifItem& x, TExifTagIndex i) {
    x.Present.set(static_cast<size_t>(i));
    return x;
}

TEST(ExifPresent, NumberPatterns) {
    EXPECT_EQ(FormatFloatPattern("#,##0.##", 1234.567), "1,234.57");
    EXPECT_EQ(FormatFloatPattern("#,##0.##", 2.5), "2.5");
    EXPECT_EQ(FormatFloatPattern("#,##0.##", 0), "0");
    EXPECT_EQ(FormatFloatPattern("#,##0.##", -0.004), "0");
    EXPECT_EQ(FormatFloatPattern("#,##0.## \"(EV)\"", -0.6667), "-0.67 (EV)");
    EXPECT_EQ(FormatFloatPattern("\"1/\"#,##0 \"秒\"", 1999.5), "1/2,000 秒");
    EXPECT_EQ(FormatFloatPattern("\"x \"0.##", 1.5), "x 1.5");
    EXPECT_EQ(FormatFloatPattern("\"F\"#,##0.##", 7.0999999), "F7.1");
    EXPECT_EQ(FormatNumber(1234.5), "1,234.50");
    EXPECT_EQ(FormatNumber(72, 0, 5), "   72");
    EXPECT_EQ(FormatNumber(-1.25, 1), "-1.3");
    EXPECT_EQ(FormatNumber(1234567.891, 3, 7), "1,234,567.891");
}

TEST(ExifPresent, ExposureShutterAndApertureTexts) {
    TExifItem x;
    x.ExposureTime = 0.004f;
    EXPECT_EQ(GetValueText(With(x, 35), 35, ""), "1/250 秒   ←  0.004 秒");
    x.ExposureTime = 2.5f;
    EXPECT_EQ(GetValueText(x, 35, ""), "2.5 秒");
    x.ShutterSpeedValue = 8;
    EXPECT_EQ(GetValueText(With(x, 34), 34, ""), "1/256 秒   ←  8.000(Apex)");
    x.ShutterSpeedValue = -2147483648.0f;
    EXPECT_EQ(GetValueText(x, 34, ""), "バルブ撮影");
    x.ShutterSpeedValue = -1;
    EXPECT_EQ(GetValueText(x, 34, ""), "2 秒       ← -1.000(Apex)");
    x.ApertureValue = 5;
    EXPECT_EQ(GetValueText(With(x, 36), 36, ""), "F5.66      ←  5.000(Apex)");
    x.FNumber = 2.8f;
    EXPECT_EQ(GetValueText(With(x, 37), 37, ""), "F2.8");
}

TEST(ExifPresent, UnitsDatesAndDefaults) {
    TExifItem x;
    x.XResolution = 300;
    EXPECT_EQ(GetValueText(With(x, 23), 23, ""), "  300");
    x.ResolutionUnitInch = false;
    With(x, 25);
    EXPECT_EQ(GetValueText(x, 23, ""), "  300 (dot/cm)");
    EXPECT_EQ(GetDisplayLine(x, 23, false, "", ""), "300 (dot/cm)");
    EXPECT_EQ(GetDisplayLine(x, 23, true, "%-16s : %s", ""), "解像度(X)        : 300 (dot/cm)");

    EXPECT_EQ(GetValueText(With(x, 11), 11, ""), "不明");
    x.DateTimeOriginal = EncodeDateTime(2008, 5, 30, 15, 56, 1);
    x.SubSecTimeOriginal = 25;
    EXPECT_EQ(GetValueText(x, 11, ""), "2008/05/30 15:56:01.25");
    EXPECT_EQ(GetValueText(With(x, 12), 12, ""), "25 (ms)");
    x.DateFormatSet = true;
    x.DateFormat = "yy年m月d日";
    EXPECT_EQ(GetValueText(x, 11, ""), "08年5月30日");

    EXPECT_EQ(GetValueText(x, 46, "なし"), "なし");  // not present
    x.SubjectDistanceInfinite = true;
    EXPECT_EQ(GetValueText(With(x, 46), 46, ""), "無限遠 ∞");
    std::memcpy(x.ExifVersion, "0220", 4);
    EXPECT_EQ(GetValueText(With(x, 0), 0, ""), "2.20");
    std::memcpy(x.ExifVersion, "02\x01" "0", 4);
    EXPECT_EQ(GetValueText(x, 0, ""), "Error");
    x.ImageDescription = "  two\r\nlines  ";
    EXPECT_EQ(GetDisplayLine(With(x, 2), 2, false, "", ""), "two lines");
    EXPECT_EQ(GetValueText(With(x, 54), 54, ""), "OFF");
    x.DigitalZoomRatio = 1.5f;
    EXPECT_EQ(GetValueText(x, 54, ""), "x 1.5");
    x.Flash = (1 << efFired) | (1 << efReturnDetected) | (1 << efModeAuto) | (1 << efFunctionPresent) | (1 << efRedEye);
    EXPECT_EQ(GetValueText(With(x, 42), 42, ""), "発光(自動); 赤目(有り); ｽﾄﾛﾎﾞ(有り); ﾘﾀｰﾝ(検出)");
    x.Flash = 0;
    EXPECT_EQ(GetValueText(x, 42, ""), "?(?); 赤目(?); ｽﾄﾛﾎﾞ(?); ﾘﾀｰﾝ(?)");
    x.GPSSpeed = 12.5f;
    x.GPSSpeedRef = 'k';
    EXPECT_EQ(GetValueText(With(x, 78), 78, ""), "12.50 (km/h)");
    x.LightSource = 21;
    EXPECT_EQ(GetValueText(With(x, 41), 41, ""), "予約");
    x.LightSource = 200;  // an ordinal no reader stores still gives a text
    EXPECT_EQ(GetValueText(x, 41, ""), "予約");
    EXPECT_EQ(std::string(ExifTagLabel(95)), "不明");
}

TEST(ExifPresent, DisplayOrderCoversEveryIndexOnceAndListsAFile) {
    std::set<int> seen(ExifDisplayOrder(), ExifDisplayOrder() + kExifTagCount);
    EXPECT_EQ(seen.size(), static_cast<size_t>(kExifTagCount));
    EXPECT_EQ(*seen.begin(), 0);
    EXPECT_EQ(*seen.rbegin(), kExifTagCount - 1);
    EXPECT_EQ(ExifDisplayOrder()[7], 2);
    EXPECT_EQ(ExifDisplayOrder()[20], 49);

    std::vector<std::string> lines;
    ASSERT_TRUE(ListExif(kPhotos + "Canon_40D.jpg", true, "%s=%s", "", lines));
    ASSERT_GE(lines.size(), 20u);
    EXPECT_EQ(lines[0], "Exif Version=2.21");
    EXPECT_EQ(lines[2], "メーカー名=Canon");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Ｆナンバー=F7.1"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "撮影日時=2008/05/30 15:56:01"), lines.end());
    std::vector<std::string> none;
    EXPECT_FALSE(ListExif(kPhotos + "tiff/BSG1.tiff", true, "%s=%s", "", none));
}

}  // namespace
}  // namespace fv
