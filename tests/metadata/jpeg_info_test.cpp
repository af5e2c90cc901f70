#include "metadata/jpeg_info.h"

#include <gtest/gtest.h>

#include "metadata/buffered_stream.h"
#include "metadata/raw_preview.h"
#include "metadata/tiff_info.h"
#include "tiff_builder.h"

namespace fv {
namespace {

using fvtest::Bytes;
using fvtest::ExifPayload;
using fvtest::MakeJpeg;
using fvtest::TTiffBuilder;

const std::string kPhotos = std::string(FV_TESTDATA_DIR) + "/photos/";

// an EXIF block: orientation, DateTimeOriginal, and optionally an IFD1 with a thumbnail
Bytes ExifTiff(bool big, int orientation, const std::string& date, const Bytes* thumb) {
    TTiffBuilder b(big);
    int ifd0 = b.AddIfd();
    int exif = b.AddIfd();
    b.Short(ifd0, 0x0112, {static_cast<uint16_t>(orientation)});
    b.Pointer(ifd0, 0x8769, exif);
    b.Ascii(exif, 0x9003, date);
    if (thumb) {
        int ifd1 = b.AddIfd();
        b.Next(ifd0, ifd1);
        b.Short(ifd1, 0x0103, {6});
        b.Short(ifd1, 0x0112, {8});
        b.Raw(ifd1, 0x0201, 4, 1, 0);
        b.Raw(ifd1, 0x0202, 4, 1, static_cast<uint32_t>(thumb->size()));
        b.Blob(*thumb);
        b.Build();
        b.SetRaw(ifd1, 0x0201, b.BlobOffset(0));
    }
    return b.Build();
}

void ReadInfo(const Bytes& file, uint8_t& options, TJpegInfoExRec& rec) {
    TBytesStream s(file.data(), file.size());
    TBufferedStream b(s, 64);  // small on purpose: segments straddle the buffer
    ReadJpegInfoEx(b, options, rec);
}

TEST(JpegInfo, ReadsSizeOrientationDateAndThumbnailOfCameraFiles) {
    uint8_t options = jiExif | jiThumbnail;
    TJpegInfoExRec rec;
    ASSERT_TRUE(ReadJpegInfoExFromFile(kPhotos + "Canon_40D.jpg", options, rec));
    EXPECT_EQ(options, jiExif | jiThumbnail);
    EXPECT_EQ(rec.Width, 100);
    EXPECT_EQ(rec.Height, 68);
    EXPECT_EQ(rec.PixelFormat, pf24bit);
    EXPECT_TRUE(rec.IsExif);
    EXPECT_EQ(FormatDateTimeText(rec.ShootingDate), "2008/05/30 15:56:01");
    EXPECT_EQ(rec.ThumbWidth, 68);
    EXPECT_EQ(rec.ThumbHeight, 46);
    ASSERT_TRUE(rec.ThumbStream);
    EXPECT_EQ(rec.ThumbStream->Position(), 0);
    EXPECT_EQ(rec.ThumbStream->Data()[0], 0xFF);
    EXPECT_EQ(rec.ThumbStream->Data()[1], 0xD8);
    FreeJpegInfoEx(rec);
    EXPECT_FALSE(rec.ThumbStream);

    for (const char* kind : {"landscape", "portrait"}) {
        for (int o = 1; o <= 8; ++o) {
            uint8_t opt = jiExif;
            TJpegInfoExRec r;
            ASSERT_TRUE(ReadJpegInfoExFromFile(kPhotos + "orientation/" + kind + "_" + std::to_string(o) + ".jpg", opt, r));
            EXPECT_EQ(r.Orientation, o) << kind << o;
        }
    }
}

TEST(JpegInfo, FindsJpegDataAfterAPrefix) {
    Bytes jpeg = MakeJpeg({}, 40, 30);
    for (size_t prefix : {size_t(128), size_t(300)}) {
        Bytes file(prefix, 0x11);
        file.insert(file.end(), jpeg.begin(), jpeg.end());
        TBytesStream s(file.data(), file.size());
        EXPECT_EQ(FindJpegStart(s), static_cast<int64_t>(prefix));
        EXPECT_EQ(s.Position(), static_cast<int64_t>(prefix));
        uint8_t options = jiExif;
        TJpegInfoExRec rec;
        ReadInfo(file, options, rec);
        EXPECT_EQ(rec.Width, 40);
        EXPECT_EQ(rec.Height, 30);
    }
    // beyond the first 1024 bytes there is no JPEG data: no metadata at all
    Bytes far(1100, 0x11);
    far.insert(far.end(), jpeg.begin(), jpeg.end());
    TBytesStream s(far.data(), far.size());
    EXPECT_THROW(FindJpegStart(s), EJpegStartNotFound);
    uint8_t options = jiExif;
    TJpegInfoExRec rec;
    ReadInfo(far, options, rec);
    EXPECT_EQ(options, 0);
    EXPECT_EQ(rec.Width, -1);
    EXPECT_FALSE(rec.IsExif);
}

TEST(JpegInfo, ExifWithoutIfd1OrWithAThumbnailPastTheEndGivesNoThumbnail) {
    Bytes noIfd1 = MakeJpeg({{0xE1, ExifPayload(ExifTiff(false, 6, "2010:01:02 03:04:05", nullptr))}}, 64, 48);
    uint8_t options = jiExif | jiThumbnail;
    TJpegInfoExRec rec;
    ReadInfo(noIfd1, options, rec);
    EXPECT_EQ(options, jiExif);
    EXPECT_EQ(rec.Orientation, 6);
    EXPECT_EQ(DateTimeToExifStr(rec.ShootingDate), "2010:01:02 03:04:05");
    EXPECT_FALSE(rec.ThumbStream);

    // a thumbnail whose length runs past the end of the file
    Bytes thumb = MakeJpeg({}, 16, 12);
    Bytes tiff = ExifTiff(true, 3, "2010:01:02 03:04:05", &thumb);
    Bytes file = MakeJpeg({{0xE1, ExifPayload(tiff)}}, 64, 48);
    uint8_t opt2 = jiExif | jiThumbnail;
    ReadInfo(file, opt2, rec);
    EXPECT_EQ(opt2, jiExif | jiThumbnail);
    EXPECT_EQ(rec.ThumbWidth, 16);
    EXPECT_EQ(rec.ThumbHeight, 12);
    EXPECT_EQ(rec.ThumbOrientation, 8);

    TTiffInfoRec info;
    TBytesStream whole(tiff.data(), tiff.size() - 4);  // cut the thumbnail short
    ReadTiffInfo(whole, true, info);
    EXPECT_GT(info.ThumbLength, 0);
    EXPECT_FALSE(info.ThumbStream);
    EXPECT_EQ(whole.Position(), 0);
}

TEST(JpegInfo, CommentPreviewAndExifBehindXmp) {
    Bytes preview = MakeJpeg({}, 20, 10);
    Bytes app13 = {'P', 'h', 'o', 't', 'o'};
    app13.insert(app13.end(), preview.begin(), preview.end());
    Bytes xmp = {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', 0};
    Bytes exif = ExifPayload(ExifTiff(false, 5, "2001:02:03 04:05:06", nullptr));
    Bytes file = MakeJpeg({{0xED, app13}, {0xE1, xmp}, {0xE1, exif}, {0xFE, {'h', 'i', '!'}}}, 64, 48, 1);
    uint8_t options = jiExif | jiPreview | jiComment;
    TJpegInfoExRec rec;
    ReadInfo(file, options, rec);
    EXPECT_EQ(options, jiExif | jiPreview | jiComment);
    EXPECT_EQ(rec.Comment, "hi!");
    EXPECT_EQ(rec.PixelFormat, pf8bit);
    EXPECT_EQ(rec.Orientation, 5);
    EXPECT_EQ(rec.PreviewWidth, 20);
    EXPECT_EQ(rec.PreviewHeight, 10);
    ASSERT_TRUE(rec.PreviewStream);
    EXPECT_EQ(rec.PreviewStream->Position(), 5);

    TBytesStream s(file.data(), file.size());
    TMemoryStream seg;
    ASSERT_TRUE(ExtractAppSegment(s, 1, seg));
    EXPECT_EQ(seg.Data(), xmp);  // the first APP1 is the XMP one
    ASSERT_TRUE(ExtractExifSegment(s, seg));
    EXPECT_EQ(seg.Data(), exif);
    EXPECT_FALSE(ExtractAppSegment(s, 2, seg));
    EXPECT_EQ(seg.Size(), 0);
    int64_t at = FindAppSegment(s, 13);
    EXPECT_EQ(at, 2);
    EXPECT_EQ(FindAppSegment(s, 4), -1);
}

TEST(JpegInfo, SegmentFindersResumeAtTheEndOfEverySegment) {
    Bytes exif = ExifPayload(ExifTiff(true, 6, "2001:02:03 04:05:06", nullptr));
    // an empty APP2 (length 2): its payload is empty, not the rest of the file
    Bytes file = MakeJpeg({{0xE2, {}}, {0xE1, exif}}, 8, 8);
    TBytesStream s(file.data(), file.size());
    TMemoryStream seg;
    ASSERT_TRUE(ExtractAppSegment(s, 2, seg));
    EXPECT_EQ(seg.Size(), 0);
    // APP1 segments too short to hold "Exif" NUL NUL (empty, 3 and 5 bytes) come before the real one
    for (const Bytes& shortApp1 : {Bytes{}, Bytes{'a', 'b', 'c'}, Bytes{0, 0, 0xFF, 0xD9, 0}}) {
        Bytes f2 = MakeJpeg({{0xE1, shortApp1}, {0xE1, exif}}, 8, 8);
        TBytesStream s2(f2.data(), f2.size());
        ASSERT_TRUE(ExtractExifSegment(s2, seg)) << shortApp1.size();
        EXPECT_EQ(seg.Data(), exif);
        ASSERT_TRUE(ExtractAppSegment(s2, 1, seg));
        EXPECT_EQ(seg.Data(), shortApp1);
        uint8_t options = jiExif;
        TJpegInfoExRec rec;
        ReadInfo(f2, options, rec);
        EXPECT_EQ(rec.Orientation, 6);
    }
}

TEST(JpegInfo, SizeReaderToleratesGarbageAndBrokenSegmentsNeverHang) {
    Bytes file = MakeJpeg({{0xE0, {'J', 'F', 'I', 'F', 0}}}, 33, 22);
    // ten garbage bytes between APP0 and the frame header
    Bytes garbled = file;
    garbled.insert(garbled.begin() + 2 + 9, 10, 0x00);
    TJpegSizeRec size;
    TBytesStream s(garbled.data(), garbled.size());
    s.Seek(5, soBeginning);
    ReadJpegSize(s, true, size);
    EXPECT_EQ(size.Width, 33);
    EXPECT_EQ(size.Height, 22);
    EXPECT_EQ(s.Position(), 5);  // restored

    // a zero length field would loop on the spot
    Bytes zero = {0xFF, 0xD8, 0xFF, 0xE5, 0x00, 0x00, 0xFF, 0xE5, 0x00, 0x00};
    TBytesStream z(zero.data(), zero.size());
    ReadJpegSize(z, true, size);
    EXPECT_EQ(size.Width, -1);
    uint8_t options = jiExif;
    TJpegInfoExRec rec;
    ReadInfo(zero, options, rec);
    EXPECT_EQ(options, 0);

    // a file cut off after its frame header keeps its size
    Bytes cut(file.begin(), file.end() - 14);  // SOS and EOI gone
    options = jiExif | jiComment;
    ReadInfo(cut, options, rec);
    EXPECT_EQ(rec.Width, 33);
    EXPECT_EQ(rec.Height, 22);
}

TEST(JpegInfo, QuickTiffReaderSurvivesLoopsAndHostileOffsets) {
    TTiffBuilder b(false);
    int ifd0 = b.AddIfd();
    b.Short(ifd0, 0x0100, {640});
    b.Long(ifd0, 0x0101, {480});
    b.Raw(ifd0, 0x8769, 4, 1, 0xFFFFFFF0u);  // Exif IFD far past the end
    b.Next(ifd0, ifd0);                      // IFD1 is IFD0 again
    Bytes tiff = b.Build();
    TBytesStream s(tiff.data(), tiff.size());
    TTiffInfoRec rec;
    ReadTiffInfo(s, true, rec);
    EXPECT_EQ(rec.Width, 640);
    EXPECT_EQ(rec.Height, 480);
    EXPECT_EQ(rec.ExifIfdFound, 1);
    EXPECT_EQ(rec.ShootingDate, 0);
    EXPECT_FALSE(rec.ThumbStream);

    // entries out of order still give the date
    TTiffBuilder u(true);
    int i0 = u.AddIfd(), ex = u.AddIfd();
    u.Pointer(i0, 0x8769, ex);
    u.Short(i0, 0x0112, {7});
    u.Undefined(ex, 0x9101, {1, 2, 3, 0});
    u.Ascii(ex, 0x9003, "2020:03:16 10:00:00");
    Bytes t2 = u.Build();
    TBytesStream s2(t2.data(), t2.size());
    ReadTiffInfo(s2, false, rec);
    EXPECT_EQ(rec.Orientation, 7);
    EXPECT_EQ(DateTimeToExifStr(rec.ShootingDate), "2020:03:16 10:00:00");

    // a header that claims 65535 entries in a 20-byte stream
    Bytes tiny = {'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF, 0x00, 0x01, 0x03, 0x00, 0x01, 0, 0, 0, 9, 0};
    TBytesStream s3(tiny.data(), tiny.size());
    ReadTiffInfo(s3, true, rec);
    EXPECT_EQ(rec.Width, 0);
}

TEST(JpegInfo, SidesBeyondTheSignedRangeReadAsUnknownNotNegative) {
    TTiffBuilder b(true);
    int ifd0 = b.AddIfd();
    b.Long(ifd0, 0x0100, {0x80000000u});
    b.Long(ifd0, 0x0101, {0xFFFFFFFFu});
    Bytes tiff = b.Build();
    TBytesStream s(tiff.data(), tiff.size());
    TTiffInfoRec rec;
    ReadTiffInfo(s, false, rec);
    EXPECT_EQ(rec.Width, 0);
    EXPECT_EQ(rec.Height, 0);
    TRawIfdInfo raw;
    ReadRawIfd(s, 8, true, false, raw, 0, false);
    EXPECT_EQ(raw.Width, 0);
    EXPECT_EQ(raw.Height, 0);
}

TEST(JpegInfo, ExifDatesAndExtensions) {
    EXPECT_EQ(ExifStrToDateTime("2003:02:30 10:00:00"), 0);
    TDateTime dateOnly = ExifStrToDateTime("2003:02:28 25:00:00");
    EXPECT_EQ(dateOnly, EncodeDateTime(2003, 2, 28));
    EXPECT_EQ(ExifStrToDateTime("2003:02:28 12:30:15"), EncodeDateTime(2003, 2, 28, 12, 30, 15));
    EXPECT_EQ(ExifStrToDateTime("    :  :     :  :  "), 0);
    EXPECT_EQ(ExifStrToDateTime(""), 0);
    EXPECT_EQ(DateTimeToExifStr(EncodeDateTime(1999, 12, 31, 23, 59, 58)), "1999:12:31 23:59:58");

    EXPECT_TRUE(IsExifFileExt("/p/IMG_0001.jpg"));
    EXPECT_TRUE(IsExifFileExt("a.Nef"));
    EXPECT_TRUE(IsExifFileExt("x.JP"));
    EXPECT_FALSE(IsExifFileExt("x.png"));
    EXPECT_FALSE(IsExifFileExt("noext"));
    EXPECT_FALSE(IsExifFileExt("dir.jpg/file"));
}

}  // namespace
}  // namespace fv
