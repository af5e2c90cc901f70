#include "metadata/exif_item.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "metadata/exif_present.h"
#include "metadata/jpeg_info.h"
#include "tiff_builder.h"

namespace fv {
namespace {

using fvtest::Bytes;
using fvtest::TTiffBuilder;

const std::string kPhotos = std::string(FV_TESTDATA_DIR) + "/photos/";

bool Load(TExifItem& item, const Bytes& tiff, bool makerNote = true) {
    TMemoryStream s(tiff);
    return item.LoadFromStream(s, makerNote);
}

// the same tags in either byte order
Bytes SampleTiff(bool big) {
    TTiffBuilder b(big);
    int ifd0 = b.AddIfd(), exif = b.AddIfd(), gps = b.AddIfd();
    b.Ascii(ifd0, 0x010F, "Maker\x01X");
    b.Ascii(ifd0, 0x0110, "M1");
    b.Short(ifd0, 0x0112, {6});
    b.Rational(ifd0, 0x011A, {{300, 1}});
    b.Short(ifd0, 0x0128, {3});
    b.Ascii(ifd0, 0x8298, std::string("Photo\0Edit", 10));
    b.Pointer(ifd0, 0x8769, exif);
    b.Pointer(ifd0, 0x8825, gps);
    b.Rational(exif, 0x829A, {{1, 250}});
    b.Rational(exif, 0x829D, {{28, 10}});
    b.Short(exif, 0x8827, {100, 200});
    b.Undefined(exif, 0x9000, {'0', '2', '2', '1'});
    b.Ascii(exif, 0x9003, "2008:05:30 15:56:01");
    b.Rational(exif, 0x9204, {{static_cast<uint32_t>(-2), 3}}, 10);
    b.Rational(exif, 0x9206, {{5, 0}});
    b.Short(exif, 0x9209, {0x19});
    b.Short(exif, 0x9214, {10, 20, 30, 40});
    b.Ascii(exif, 0x9291, "25");
    b.Short(exif, 0xA001, {0xFFFF});
    b.Long(exif, 0xA002, {4000});
    b.Short(exif, 0xA003, {3000});
    b.Short(exif, 0xA214, {11, 22});
    b.Short(exif, 0xA217, {7});
    b.Undefined(gps, 0, {2, 2, 0, 0});
    b.Ascii(gps, 1, "S");
    b.Rational(gps, 2, {{35, 1}, {30, 1}, {1530, 100}});
    b.Ascii(gps, 3, "W");
    b.Rational(gps, 4, {{139, 1}, {4530, 100}, {0, 0}});
    b.Undefined(gps, 5, {1});
    b.Rational(gps, 7, {{14, 1}, {27, 1}, {724, 100}});
    b.Ascii(gps, 29, "2008:10:23");
    return b.Build();
}

TEST(ExifItem, BothByteOrdersGiveTheSameFields) {
    for (bool big : {false, true}) {
        SCOPED_TRACE(big ? "MM" : "II");
        TExifItem x;
        ASSERT_TRUE(Load(x, SampleTiff(big)));
        EXPECT_EQ(x.BigEndian, big);
        EXPECT_EQ(x.Make, "Maker X");  // control byte shown as a blank
        EXPECT_EQ(x.Orientation, 6);
        EXPECT_FLOAT_EQ(x.XResolution, 300);
        EXPECT_FALSE(x.ResolutionUnitInch);
        EXPECT_EQ(x.CopyrightPhotographer, "Photo");
        EXPECT_EQ(x.CopyrightEditor, "Edit");
        EXPECT_TRUE(x.IsPresent(8) && x.IsPresent(9));
        EXPECT_FLOAT_EQ(x.ExposureTime, 0.004f);
        EXPECT_FLOAT_EQ(x.FNumber, 2.8f);
        EXPECT_EQ(x.ISOSpeedRatings, "100,200");
        EXPECT_EQ(std::string(reinterpret_cast<char*>(x.ExifVersion), 4), "0221");
        EXPECT_EQ(DateTimeToExifStr(x.DateTimeOriginal), "2008:05:30 15:56:01");
        EXPECT_EQ(x.SubSecTimeOriginal, 25);
        EXPECT_NEAR(x.ExposureBiasValue, -0.6667, 1e-4);
        EXPECT_TRUE(x.SubjectDistanceInfinite);
        EXPECT_EQ(x.SubjectDistance, 0);
        EXPECT_EQ(x.Flash, (1 << efFired) | (1 << efReturnNoDetection) | (1 << efModeAuto) | (1 << efFunctionPresent) |
                               (1 << efNoRedEye));
        EXPECT_EQ(x.SubjectArea.Kind, 2);
        EXPECT_EQ(x.SubjectArea.Values[3], 40);
        EXPECT_EQ(x.SubjectArea.ImageWidth, 4000);
        EXPECT_EQ(x.ColorSpace, 1);
        EXPECT_EQ(x.SubjectLocationX, 11);
        EXPECT_EQ(x.SubjectLocationY, 22);
        EXPECT_EQ(x.SensingMethod, 5);
        EXPECT_EQ(x.GPSVersionID[0], 2);
        EXPECT_EQ(x.GPSVersionID[1], 2);
        EXPECT_EQ(x.GPSLatitude.Ref, 'S');
        EXPECT_EQ(x.GPSLatitude.Degrees, 35);
        EXPECT_EQ(x.GPSLatitude.Minutes, 30);
        EXPECT_NEAR(x.GPSLatitude.Seconds, 15.3, 1e-6);
        EXPECT_EQ(x.GPSLongitude.Degrees, 139);
        EXPECT_EQ(x.GPSLongitude.Minutes, 45);
        EXPECT_NEAR(x.GPSLongitude.Seconds, 18, 1e-6);  // 45.30 minutes, zero-denominator seconds as 0
        EXPECT_EQ(x.GPSAltitudeRef, 1);
        EXPECT_EQ(FormatDatePattern("hh:nn:ss", x.GPSTimeStamp), "14:27:07");
        EXPECT_EQ(FormatDatePattern("yyyy/mm/dd", x.GPSDateStamp), "2008/10/23");
        EXPECT_EQ(FormatGpsPosition(x.GPSLatitude), "S35度30分15.30秒");
        // what the JSON listing gets
        EXPECT_EQ(x.Raw[37].Numbers, std::vector<double>({2.8}));
        EXPECT_EQ(x.Raw[33].Numbers, std::vector<double>({100, 200}));
        EXPECT_EQ(x.Raw[0].Text, "0221");
        EXPECT_EQ(x.Raw[8].Text, "Photo - Edit");
    }
}

Bytes CommentTiff(bool big, const std::string& software, const Bytes& comment) {
    TTiffBuilder b(big);
    int ifd0 = b.AddIfd(), exif = b.AddIfd();
    if (!software.empty()) b.Ascii(ifd0, 0x0131, software);
    b.Pointer(ifd0, 0x8769, exif);
    b.Undefined(exif, 0x9286, comment);
    return b.Build();
}

Bytes Unicode(const Bytes& text) {
    Bytes c = {'U', 'N', 'I', 'C', 'O', 'D', 'E', 0};
    c.insert(c.end(), text.begin(), text.end());
    return c;
}

TEST(ExifItem, EncodedTextsFollowTheirCharacterCode) {
    TExifItem x;
    // a byte-order mark decides, whatever the file's order
    ASSERT_TRUE(Load(x, CommentTiff(false, "", Unicode({0xFE, 0xFF, 0x30, 0x42, 0x00, 'a'}))));
    EXPECT_EQ(x.UserCommentCode, ecUnicodeMarked);
    EXPECT_EQ(x.UserComment, "あa");
    // no mark: the TIFF byte order
    ASSERT_TRUE(Load(x, CommentTiff(true, "", Unicode({0x30, 0x42}))));
    EXPECT_EQ(x.UserCommentCode, ecUnicode);
    EXPECT_EQ(x.UserComment, "あ");
    // old versions of that software wrote little-endian text into big-endian files
    for (auto [software, little] : {std::pair{"Orin 3.5", true}, {"Orin 4.1", false}, {"Orin 5.0", false},
                                    {"Other 3.5", false}, {"Orin", false}}) {
        ASSERT_TRUE(Load(x, CommentTiff(true, software, Unicode({0x42, 0x30}))));
        EXPECT_EQ(x.UserComment, little ? "あ" : "\xe4\x88\xb0") << software;
    }
    EXPECT_FALSE(IsOldOrinSoftware("Orin v1.2.3"));
    EXPECT_TRUE(IsOldOrinSoftware("OrinView4"));

    Bytes jis = {'J', 'I', 'S', 0, 0, 0, 0, 0, 0x1B, '$', 'B', 0x24, 0x22, 0x1B, '(', 'B', 'x', ' ', ' '};
    ASSERT_TRUE(Load(x, CommentTiff(false, "", jis)));
    EXPECT_EQ(x.UserCommentCode, ecJis);
    EXPECT_EQ(x.UserComment, "あx");
    Bytes ascii = {'A', 'S', 'C', 'I', 'I', 0, 0, 0, 'h', 'e', 'y', 0, 'z'};
    ASSERT_TRUE(Load(x, CommentTiff(false, "", ascii)));
    EXPECT_EQ(x.UserCommentCode, ecAscii);
    EXPECT_EQ(x.UserComment, "hey");
    Bytes undefined(8, 0);
    undefined.push_back(0x82);  // CP932 "あ" from a Japanese device
    undefined.push_back(0xA0);
    ASSERT_TRUE(Load(x, CommentTiff(false, "", undefined)));
    EXPECT_EQ(x.UserCommentCode, ecUndefined);
    EXPECT_EQ(x.UserComment, "あ");
    EXPECT_EQ(JisToSjis("\x1b$B%\"\x1b(B"), "\x83\x41");
}

// One Exif IFD holding the given entries (added by fill).
template <class Fill>
Bytes ExifWith(bool big, Fill fill) {
    TTiffBuilder b(big);
    int ifd0 = b.AddIfd(), exif = b.AddIfd();
    b.Pointer(ifd0, 0x8769, exif);
    fill(b, exif);
    return b.Build();
}

TEST(ExifItem, ValuesAreReadByTheirStoredTypeAndCount) {
    for (bool big : {false, true}) {
        TExifItem x;
        // SubjectArea as 3 BYTEs (inline, 3 bytes only), then as 4 LONGs (16 bytes at an offset)
        ASSERT_TRUE(Load(x, ExifWith(big, [](TTiffBuilder& b, int d) { b.Typed(d, 0x9214, 1, 3, {10, 20, 30}); })));
        EXPECT_TRUE(x.IsPresent(50));
        EXPECT_EQ(x.SubjectArea.Kind, 1);
        EXPECT_EQ(x.SubjectArea.Values[0], 10);
        EXPECT_EQ(x.SubjectArea.Values[1], 20);
        EXPECT_EQ(x.SubjectArea.Values[2], 30);
        EXPECT_EQ(x.SubjectArea.Values[3], 0);
        ASSERT_TRUE(Load(x, ExifWith(big, [](TTiffBuilder& b, int d) { b.Long(d, 0x9214, {1, 2, 300, 40000}); })));
        EXPECT_EQ(x.SubjectArea.Kind, 2);
        EXPECT_EQ(x.SubjectArea.Values[2], 300);
        EXPECT_EQ(x.SubjectArea.Values[3], 40000);
        // a text where numbers belong loses the tag
        ASSERT_TRUE(Load(x, ExifWith(big, [](TTiffBuilder& b, int d) { b.Ascii(d, 0x9214, "ab"); })));
        EXPECT_FALSE(x.IsPresent(50));
        EXPECT_EQ(x.SubjectArea.Kind, 3);

        // ISO speed as one LONG, SubjectLocation as two BYTEs, FNumber stored as a SHORT
        ASSERT_TRUE(Load(x, ExifWith(big, [](TTiffBuilder& b, int d) {
            b.Long(d, 0x8827, {400});
            b.Typed(d, 0xA214, 1, 2, {7, 9});
            b.Short(d, 0x829D, {4});
        })));
        EXPECT_EQ(x.ISOSpeedRatings, "400") << big;
        EXPECT_EQ(x.SubjectLocationX, 7);
        EXPECT_EQ(x.SubjectLocationY, 9);
        EXPECT_TRUE(x.IsPresent(47));
        EXPECT_FALSE(x.IsPresent(37));  // no rational to read: the tag is lost, not read at a made-up offset
        // RelatedSoundFile takes only the bytes its count gives
        ASSERT_TRUE(Load(x, ExifWith(big, [](TTiffBuilder& b, int d) { b.Ascii(d, 0xA004, "abc"); })));
        EXPECT_STREQ(x.RelatedSoundFile, "abc");
    }
}

TEST(ExifItem, BadStructuresLoseOnlyWhatIsBroken) {
    TExifItem x;
    EXPECT_FALSE(Load(x, Bytes{'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0}));  // shorter than 11 bytes
    EXPECT_FALSE(Load(x, Bytes{'X', 'X', 42, 0, 8, 0, 0, 0, 0, 0, 0, 0}));

    // IFD0 claims more entries than the stream holds: the load fails
    Bytes t = SampleTiff(false);
    Bytes cut(t.begin(), t.begin() + 8 + 2 + 12 * 3);
    EXPECT_FALSE(Load(x, cut));

    // the same in the Exif IFD only ends that directory
    TTiffBuilder b(false);
    int ifd0 = b.AddIfd(), exif = b.AddIfd();
    b.Ascii(ifd0, 0x010F, "Make");
    b.Pointer(ifd0, 0x8769, exif);
    b.Rational(exif, 0x829D, {{4, 1}});
    b.Rational(exif, 0x829A, {{1, 0}});                 // zero denominator reads as 0
    b.Raw(exif, 0x9003, 2, 20, 0x7FFFFFF0);              // text far past the end
    b.Raw(exif, 0x9214, 3, 0x80000001u, 0x10);           // count x size overflows
    b.Raw(exif, 0x9286, 7, 0xFFFFFFFFu, 0x10);           // huge comment
    Bytes good = b.Build();
    ASSERT_TRUE(Load(x, good));
    EXPECT_FLOAT_EQ(x.FNumber, 4);
    EXPECT_TRUE(x.IsPresent(35));
    EXPECT_EQ(x.ExposureTime, 0);
    EXPECT_FALSE(x.IsPresent(11));
    EXPECT_EQ(x.SubjectArea.Kind, 3);  // an odd count reads nothing more
    EXPECT_FALSE(x.IsPresent(10));
    // cut inside the Exif IFD: what came before stays
    size_t exifStart = 8 + 2 + 12 * 2 + 4 + 6;  // IFD0 with its "Make" text
    Bytes half(good.begin(), good.begin() + static_cast<long>(exifStart + 2 + 12 + 6));
    ASSERT_TRUE(Load(x, half));
    EXPECT_EQ(x.Make, "Make");
    EXPECT_FALSE(x.IsPresent(37));

    // directories that point at themselves are read once
    TTiffBuilder loop(true);
    int l0 = loop.AddIfd();
    loop.Pointer(l0, 0x8769, l0);
    loop.Pointer(l0, 0x8825, l0);
    loop.Short(l0, 0x0112, {3});
    loop.Next(l0, l0);
    ASSERT_TRUE(Load(x, loop.Build()));
    EXPECT_EQ(x.Orientation, 3);
}

Bytes MakerNoteTiff(const std::string& make, const Bytes& note) {
    TTiffBuilder b(false);
    int ifd0 = b.AddIfd(), exif = b.AddIfd();
    b.Ascii(ifd0, 0x010F, make);
    b.Pointer(ifd0, 0x8769, exif);
    b.Undefined(exif, 0x927C, note);
    return b.Build();
}

TEST(ExifItem, MakerNotesAreDecodedByMakeAndHeader) {
    // an Olympus directory with a quality entry; entry offsets are in the note
    Bytes olympus = {'O', 'L', 'Y', 'M', 'P', 0, 1, 0, 1, 0, 0x01, 0x02, 3, 0, 1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    TExifItem x;
    ASSERT_TRUE(Load(x, MakerNoteTiff("OLYMPUS OPTICAL", olympus)));
    ASSERT_EQ(x.Lines.size(), 1u);
    EXPECT_EQ(x.Lines[0], "撮影画質         : SHQ");
    ASSERT_EQ(x.MakerNoteLines.size(), 1u);
    EXPECT_EQ(x.MakerNoteLines[0], "(0201: 3:   1)   : 3");
    EXPECT_TRUE(x.MakerNoteInfo.rfind("有り ($", 0) == 0);

    Bytes wrongHeader = olympus;
    wrongHeader[0] = 'X';
    ASSERT_TRUE(Load(x, MakerNoteTiff("OLYMPUS", wrongHeader)));
    EXPECT_TRUE(x.Lines.empty());
    Bytes orin = olympus;
    std::memcpy(orin.data(), "ORIN_MNH", 8);
    ASSERT_TRUE(Load(x, MakerNoteTiff("OLYMPUS", orin)));
    EXPECT_TRUE(x.MakerNoteLines.empty());
    ASSERT_TRUE(Load(x, MakerNoteTiff("OLYMPUS", olympus), false));
    EXPECT_TRUE(x.MakerNoteLines.empty());
}

TEST(ExifItem, AReusedItemKeepsNothingOfThePreviousFile) {
    Bytes olympus = {'O', 'L', 'Y', 'M', 'P', 0, 1, 0, 1, 0, 0x01, 0x02, 3, 0, 1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    TTiffBuilder b(false);
    int ifd0 = b.AddIfd(), exif = b.AddIfd();
    b.Ascii(ifd0, 0x010F, "OLYMPUS");
    b.Short(ifd0, 0x0112, {8});
    b.Pointer(ifd0, 0x8769, exif);
    b.Undefined(ifd0, 0xC4A5, {'P', 'r', 'i', 'n', 't', 'I', 'M', 0, '0', '3', '0', '0', 0, 0, 1, 0, 7, 0, 1, 2, 3, 4});
    b.Undefined(exif, 0x927C, olympus);
    TExifItem x;
    ASSERT_TRUE(Load(x, b.Build()));
    ASSERT_EQ(x.Lines.size(), 1u);
    ASSERT_TRUE(x.HasPrintIM);
    ASSERT_EQ(x.PrintIMLines.size(), 1u);
    EXPECT_EQ(x.Orientation, 8);
    // a second file without maker note, PrintIM or orientation
    TTiffBuilder plain(false);
    plain.Ascii(plain.AddIfd(), 0x010F, "Other");
    ASSERT_TRUE(Load(x, plain.Build()));
    EXPECT_TRUE(x.Lines.empty());
    EXPECT_TRUE(x.MakerNoteLines.empty());
    EXPECT_FALSE(x.HasPrintIM);
    EXPECT_TRUE(x.PrintIMHeader.empty());
    EXPECT_TRUE(x.PrintIMLines.empty());
    EXPECT_EQ(x.Orientation, 1);
    EXPECT_FALSE(x.HasOrientation);
    EXPECT_EQ(x.Make, "Other");
}

TEST(ExifItem, ReadsCameraFiles) {
    struct TExpect {
        const char* File;
        const char* Make;
        const char* Model;
        double FNumber, ExposureTime, FocalLength;
        const char* Iso;
        uint16_t FlashRaw;
    };
    // values as an independent reader reports them
    const TExpect kFiles[] = {
        {"Canon_40D.jpg", "Canon", "Canon EOS 40D", 7.1, 0.00625, 135, "100", 9},
        {"Nikon_D70.jpg", "NIKON CORPORATION", "NIKON D70", 9, 0.005, 100, "200", 0},
        {"Olympus_C8080WZ.jpg", "OLYMPUS CORPORATION", "C8080WZ", 2.8, 0.00625, 15.8, "50", 9},
        {"Pentax_K10D.jpg", "PENTAX Corporation", "PENTAX K10D", 11, 1 / 180.0, 90, "200", 16},
        {"gps/DSCN0021.jpg", "NIKON", "COOLPIX P6000", 4.7, 0.01044932, 16.6, "64", 16},
    };
    for (const auto& e : kFiles) {
        SCOPED_TRACE(e.File);
        TExifItem x;
        ASSERT_TRUE(x.LoadFromFile(kPhotos + e.File, true, true));
        // texts are kept as stored; the listing trims them
        EXPECT_EQ(x.Raw[3].Text, e.Make);
        EXPECT_EQ(x.Raw[4].Text, e.Model);
        EXPECT_NEAR(x.FNumber, e.FNumber, 1e-5);
        EXPECT_NEAR(x.ExposureTime, e.ExposureTime, 1e-7);
        EXPECT_NEAR(x.FocalLength, e.FocalLength, 1e-5);
        EXPECT_EQ(x.ISOSpeedRatings, e.Iso);
        EXPECT_EQ(x.Raw[42].Numbers, std::vector<double>({static_cast<double>(e.FlashRaw)}));
    }
    const struct {
        const char* File;
        double Lat, Lon;
    } kGps[] = {{"gps/DSCN0010.jpg", 43.4674483333333, 11.8851266666639},
                {"gps/DSCN0021.jpg", 43.4670816666639, 11.8845383333306}};
    for (const auto& g : kGps) {
        TExifItem x;
        ASSERT_TRUE(x.LoadFromFile(kPhotos + g.File, true, false));
        EXPECT_NEAR(x.GPSLatitude.Degrees + x.GPSLatitude.Minutes / 60 + x.GPSLatitude.Seconds / 3600, g.Lat, 1e-9);
        EXPECT_NEAR(x.GPSLongitude.Degrees + x.GPSLongitude.Minutes / 60 + x.GPSLongitude.Seconds / 3600, g.Lon, 1e-9);
        EXPECT_EQ(x.GPSLatitude.Ref, 'N');
        EXPECT_EQ(x.GPSLongitude.Ref, 'E');
    }
    // maker notes of the makers the panel decodes
    TExifItem canon;
    ASSERT_TRUE(canon.LoadFromFile(kPhotos + "Canon_PowerShot_S40.jpg", true, true));
    EXPECT_FALSE(canon.Lines.empty());
    TExifItem fuji;
    ASSERT_TRUE(fuji.LoadFromFile(kPhotos + "Fujifilm_FinePix6900ZOOM.jpg", true, true));
    EXPECT_FALSE(fuji.Lines.empty());
    // an EXIF segment behind an XMP one is still found
    TExifItem behindXmp;
    EXPECT_TRUE(behindXmp.LoadFromFile(kPhotos + "xmp/no_exif.jpg", true, false));
    // TIFF files are read as TIFF structures
    TExifItem tiff;
    ASSERT_TRUE(tiff.LoadFromFile(kPhotos + "tiff/BSG1.tiff", false, false));
    EXPECT_TRUE(tiff.HasOrientation);
    EXPECT_EQ(tiff.Orientation, 1);
}

TEST(ExifItem, RafFilesAreReadThroughTheirEmbeddedJpeg) {
    Bytes jpeg = fvtest::MakeJpeg({{0xE1, fvtest::ExifPayload(SampleTiff(true))}}, 8, 8);
    Bytes raf(160, 0);
    std::memcpy(raf.data(), "FUJIFILMCCD-RAW ", 16);
    raf.insert(raf.end(), jpeg.begin(), jpeg.end());
    std::string path = std::string(std::getenv("HOME")) + "/sample.RAF";
    {
        std::ofstream f(path, std::ios::binary);
        f.write(reinterpret_cast<const char*>(raf.data()), static_cast<std::streamsize>(raf.size()));
    }
    TExifItem x;
    ASSERT_TRUE(x.LoadFromFile(path, false, false));
    EXPECT_EQ(x.Model, "M1");
    EXPECT_EQ(x.Orientation, 6);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace fv
