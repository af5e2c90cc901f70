#include <gtest/gtest.h>

#include <cstring>

#include "bitmap_test_util.h"
#include "image/image_decode.h"
#include "image/jpeg_codec.h"
#include "metadata/raw_preview.h"

namespace fv {
namespace {

using namespace testutil;

// Builds TIFF-structured files byte by byte in either byte order.
struct TFileBuilder {
    bool Big = false;
    std::vector<uint8_t> D;
    size_t Pos() const { return D.size(); }
    void U8(uint8_t v) { D.push_back(v); }
    void U16(uint16_t v) {
        if (Big) { U8(static_cast<uint8_t>(v >> 8)); U8(static_cast<uint8_t>(v)); }
        else { U8(static_cast<uint8_t>(v)); U8(static_cast<uint8_t>(v >> 8)); }
    }
    void U32(uint32_t v) {
        if (Big) { U16(static_cast<uint16_t>(v >> 16)); U16(static_cast<uint16_t>(v)); }
        else { U16(static_cast<uint16_t>(v)); U16(static_cast<uint16_t>(v >> 16)); }
    }
    void Bytes(const void* p, size_t n) { D.insert(D.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n); }
    void Bytes(const std::vector<uint8_t>& v) { D.insert(D.end(), v.begin(), v.end()); }
    void Patch32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) D[at + i] = static_cast<uint8_t>(Big ? v >> (24 - 8 * i) : v >> (8 * i));
    }
    void Header() {  // TIFF header at the current position, IFD0 offset patched later
        U8(Big ? 'M' : 'I');
        U8(Big ? 'M' : 'I');
        U16(42);
        U32(8);
    }
    struct Entry {
        uint16_t Tag, Type;
        uint32_t Count, Value;
    };
    // an IFD; returns the position of its next-IFD field
    size_t Ifd(const std::vector<Entry>& entries, uint32_t next = 0) {
        U16(static_cast<uint16_t>(entries.size()));
        for (const auto& e : entries) {
            U16(e.Tag);
            U16(e.Type);
            U32(e.Count);
            if (e.Type == 3 && e.Count == 1) {  // a SHORT sits in the first two bytes
                U16(static_cast<uint16_t>(e.Value));
                U16(0);
            } else {
                U32(e.Value);
            }
        }
        const size_t at = Pos();
        U32(next);
        return at;
    }
};

std::vector<uint8_t> PreviewJpeg(int w, int h) { return EncodeJpeg(Scene(w, h), 90); }

std::string Save(const TTempDir& dir, const std::string& name, const std::vector<uint8_t>& d) {
    const std::string f = dir.File(name);
    WriteBytes(f, d);
    return f;
}

void ExpectPreview(const std::string& file, int w, int h) {
    TBitmap b;
    LoadImage(b, ikRaw, file);
    EXPECT_EQ(b.Width(), w) << file;
    EXPECT_EQ(b.Height(), h) << file;
    TImageInfoRec info;
    TBitmap t;
    LoadThumbnail(t, file, ikRaw, info, true, 50, 50);
    EXPECT_EQ(std::max(t.Width(), t.Height()), 50) << file;
    EXPECT_EQ(info.Width, w);
}

TEST(RawKinds, ExtensionsAndStrategies) {
    EXPECT_EQ(RawKind("/a/b/IMG_1.cr2"), rkCR2);
    EXPECT_EQ(RawKind("x.RAF"), rkRAF);
    EXPECT_EQ(RawKind("x.SRF"), rkSRF);
    EXPECT_EQ(RawKind("x.jpg"), rkNone);
    EXPECT_EQ(RawKind("dir.nef/file"), rkNone);
    EXPECT_EQ(RawLargeStrategy(rkDNG), rsSubIfd2);
    EXPECT_EQ(RawThumbStrategy(rkDNG), rsIfd0);
    EXPECT_EQ(RawLargeStrategy(rkRAF), rsNone);
    EXPECT_EQ(RawThumbStrategy(rkPEF), rsIfd1);
}

// NEF without a SubIFD pair: the Nikon maker note holds the preview
std::vector<uint8_t> NefWithMakerNote(const std::vector<uint8_t>& jpeg) {
    TFileBuilder f;
    f.Header();
    f.Ifd({{0x0100, 4, 1, 160}, {0x0101, 4, 1, 120}, {0x0112, 3, 1, 6}, {0x8769, 4, 1, 100}});
    while (f.Pos() < 100) f.U8(0);
    f.Ifd({{0x9003, 2, 20, 200}, {0x927C, 7, 200, 300}});  // Exif IFD
    while (f.Pos() < 200) f.U8(0);
    f.Bytes("2009:10:11 12:13:14", 20);
    while (f.Pos() < 300) f.U8(0);
    // maker note: "Nikon" header, then a big-endian TIFF header of its own at +10
    f.Bytes("Nikon\0\2\x10\0\0", 10);
    TFileBuilder n;
    n.Big = true;
    n.Header();
    n.Ifd({{0x0011, 4, 1, 40}});
    while (n.Pos() < 40) n.U8(0);
    const uint32_t jpegAt = 80;
    n.Ifd({{0x0103, 3, 1, 6}, {0x0201, 4, 1, jpegAt}, {0x0202, 4, 1, static_cast<uint32_t>(jpeg.size())}});
    while (n.Pos() < jpegAt) n.U8(0);
    n.Bytes(jpeg);
    f.Bytes(n.D);
    return f.D;
}

TEST(RawPreviews, NefFallsBackToTheNikonMakerNote) {
    TTempDir dir;
    const auto file = Save(dir, "a.nef", NefWithMakerNote(PreviewJpeg(320, 240)));
    TTiffInfoRec rec;
    RawPreviewInfo(file, true, false, rec);
    ASSERT_TRUE(rec.ThumbStream);
    EXPECT_EQ(rec.Width, 320);  // from the preview's own SOF
    EXPECT_EQ(rec.Height, 240);
    EXPECT_EQ(rec.Orientation, 6);
    EXPECT_EQ(rec.ExifIfdFound, 1);
    EXPECT_GT(rec.ShootingDate, 0);
    ExpectPreview(file, 320, 240);
    TImageInfoRec info;
    GetImageInfo(file, ikRaw, info);
    EXPECT_EQ(info.Width, 320);
    EXPECT_TRUE(info.HasOrientation);
    EXPECT_TRUE(info.IsExif);
}

TEST(RawPreviews, NefWithoutExifTakesTheStripOfIfd0) {
    TTempDir dir;
    const auto jpeg = PreviewJpeg(200, 100);
    TFileBuilder f;
    f.Header();
    f.Ifd({{0x0103, 3, 1, 6}, {0x0111, 4, 1, 64}, {0x0117, 4, 1, static_cast<uint32_t>(jpeg.size())}});
    while (f.Pos() < 64) f.U8(0);
    f.Bytes(jpeg);
    const auto file = Save(dir, "b.nef", f.D);
    ExpectPreview(file, 200, 100);
}

TEST(RawPreviews, DngTakesTheSecondSubIfd) {
    TTempDir dir;
    const auto small = PreviewJpeg(64, 48), large = PreviewJpeg(400, 300);
    TFileBuilder f;
    f.Header();
    f.Ifd({{0x0100, 4, 1, 64}, {0x0101, 4, 1, 48}, {0x0111, 4, 1, 300}, {0x0117, 4, 1, static_cast<uint32_t>(small.size())},
           {0x014A, 4, 2, 100}});
    while (f.Pos() < 100) f.U8(0);
    f.U32(150);
    f.U32(200);
    while (f.Pos() < 150) f.U8(0);
    f.Ifd({{0x0100, 4, 1, 4000}, {0x0103, 3, 1, 1}});  // the raw data itself
    while (f.Pos() < 200) f.U8(0);
    const uint32_t largeAt = static_cast<uint32_t>(300 + small.size());
    f.Ifd({{0x0100, 4, 1, 400}, {0x0101, 4, 1, 300}, {0x0103, 3, 1, 7}, {0x0111, 4, 1, largeAt},
           {0x0117, 4, 1, static_cast<uint32_t>(large.size())}});
    while (f.Pos() < 300) f.U8(0);
    f.Bytes(small);
    f.Bytes(large);
    const auto file = Save(dir, "c.dng", f.D);
    ExpectPreview(file, 400, 300);
    TTiffInfoRec rec;
    RawPreviewInfo(file, false, true, rec);  // thumbnail: IFD0's strip
    ASSERT_TRUE(rec.ThumbStream);
    EXPECT_EQ(rec.ThumbStream->Size(), static_cast<int64_t>(small.size()));
    EXPECT_EQ(rec.Width, 400);
}

TEST(RawPreviews, MrwPreviewWithoutMarkerIsPatched) {
    TTempDir dir;
    auto jpeg = PreviewJpeg(160, 120);
    jpeg[0] = 0;
    jpeg[1] = 0;
    TFileBuilder f;
    f.Big = true;
    f.Header();
    f.Ifd({{0x8769, 4, 1, 40}});
    while (f.Pos() < 40) f.U8(0);
    f.Ifd({{0x927C, 7, 100, 80}});
    while (f.Pos() < 80) f.U8(0);
    f.Ifd({{0x0088, 4, 1, 200}, {0x0089, 4, 1, static_cast<uint32_t>(jpeg.size())}});
    while (f.Pos() < 200) f.U8(0);
    f.Bytes(jpeg);
    const auto file = Save(dir, "d.mrw", f.D);
    TTiffInfoRec rec;
    RawPreviewInfo(file, true, false, rec);
    ASSERT_TRUE(rec.ThumbStream);
    EXPECT_EQ(rec.ThumbStream->Data()[0], 0xFF);
    EXPECT_EQ(rec.ThumbStream->Data()[1], 0xD8);
    TBitmap b;
    LoadImage(b, ikRaw, file);
    EXPECT_EQ(b.Width(), 160);
}

TEST(RawPreviews, PefWithoutAThirdIfdUsesThePentaxMakerNote) {
    TTempDir dir;
    const auto jpeg = PreviewJpeg(240, 160);
    TFileBuilder f;
    f.Header();
    f.Ifd({{0x8769, 4, 1, 60}}, 40);  // IFD1 at 40
    while (f.Pos() < 40) f.U8(0);
    f.Ifd({{0x0100, 4, 1, 16}});      // IFD1 with no successor
    while (f.Pos() < 60) f.U8(0);
    f.Ifd({{0x927C, 7, 100, 100}});
    while (f.Pos() < 100) f.U8(0);
    f.Bytes("AOC\0MM", 6);
    TFileBuilder note;
    note.Big = true;
    note.Ifd({{0x0002, 3, 2, (240u << 16) | 160u}, {0x0003, 4, 1, static_cast<uint32_t>(jpeg.size())}, {0x0004, 4, 1, 300}});
    f.Bytes(note.D);
    while (f.Pos() < 300) f.U8(0);
    f.Bytes(jpeg);
    const auto file = Save(dir, "e.pef", f.D);
    TTiffInfoRec rec;
    RawPreviewInfo(file, true, false, rec);
    EXPECT_EQ(rec.Width, 240);
    EXPECT_EQ(rec.Height, 160);
    ExpectPreview(file, 240, 160);

    // the size as two LONGs lies outside the directory: reading it must not lose the entries after it
    f.D.resize(100);
    f.Bytes("AOC\0MM", 6);
    TFileBuilder longs;
    longs.Big = true;
    longs.Ifd({{0x0002, 4, 2, 280}, {0x0003, 4, 1, static_cast<uint32_t>(jpeg.size())}, {0x0004, 4, 1, 300}});
    f.Bytes(longs.D);
    while (f.Pos() < 280) f.U8(0);
    f.Big = true;
    f.U32(240);
    f.U32(160);
    while (f.Pos() < 300) f.U8(0);
    f.Bytes(jpeg);
    const auto file2 = Save(dir, "f.pef", f.D);
    RawPreviewInfo(file2, true, false, rec);
    EXPECT_EQ(rec.Width, 240);
    EXPECT_EQ(rec.Height, 160);
    ExpectPreview(file2, 240, 160);
}

TEST(RawPreviews, BigEndianNextIfdWithAHighLastByteFindsIfd1) {
    TTempDir dir;
    const auto jpeg = PreviewJpeg(64, 48);
    TFileBuilder f;
    f.Big = true;
    f.Header();
    f.Ifd({{0x0100, 4, 1, 5000}}, 0x0180);
    while (f.Pos() < 0x0180) f.U8(0);
    f.Ifd({{0x0201, 4, 1, 0x0200}, {0x0202, 4, 1, static_cast<uint32_t>(jpeg.size())}});
    while (f.Pos() < 0x0200) f.U8(0);
    f.Bytes(jpeg);
    const auto file = Save(dir, "f.cr2", f.D);
    TTiffInfoRec rec;
    RawPreviewInfo(file, false, true, rec);
    ASSERT_TRUE(rec.ThumbStream);
    EXPECT_EQ(rec.ThumbWidth, 64);
    EXPECT_EQ(rec.ThumbLength, static_cast<int64_t>(jpeg.size()));
}

TEST(RawPreviews, OffsetsOutsideTheFileGiveNoPreview) {
    TTempDir dir;
    for (uint32_t at : {0x7FFFFFF0u, 0xFFFFFFFFu, 60u}) {
        TFileBuilder f;
        f.Header();
        f.Ifd({{0x0103, 3, 1, 6}, {0x0111, 4, 1, at}, {0x0117, 4, 1, 0x7FFFFFFF}, {0x014A, 4, 2, 0xFFFFFFF0u},
               {0x8769, 4, 1, 0xFFFFFF00u}}, 0xFFFFFFF0u);
        const auto file = Save(dir, "g.nef", f.D);
        TTiffInfoRec rec;
        RawPreviewInfo(file, true, true, rec);
        EXPECT_FALSE(rec.ThumbStream);
        TBitmap b;
        EXPECT_THROW(LoadImage(b, ikRaw, file), EImageLoadError);
        TImageInfoRec info;
        LoadThumbnail(b, file, ikRaw, info, true, 50, 50);  // no preview: nothing drawn, no error
    }
    // a truncated header and an empty file
    const auto tiny = Save(dir, "h.orf", {'I', 'I', 42, 0, 8});
    TTiffInfoRec rec;
    RawPreviewInfo(tiny, true, false, rec);
    EXPECT_EQ(rec.Width, 0);
    const auto empty = Save(dir, "i.pef", {});
    RawPreviewInfo(empty, true, false, rec);
    EXPECT_FALSE(rec.ThumbStream);
}

TEST(RawPreviews, AbsurdSizesInTheDirectoryYieldToTheJpegItself) {
    TTempDir dir;
    const auto jpeg = PreviewJpeg(200, 100);
    TFileBuilder f;
    f.Header();
    f.Ifd({{0x0100, 4, 1, 0x80000001u}, {0x0101, 4, 1, 5}, {0x0103, 3, 1, 6}, {0x0111, 4, 1, 64},
           {0x0117, 4, 1, static_cast<uint32_t>(jpeg.size())}});
    while (f.Pos() < 64) f.U8(0);
    f.Bytes(jpeg);
    const auto file = Save(dir, "m.nef", f.D);
    TImageInfoRec info;
    TBitmap t;
    LoadThumbnail(t, file, ikRaw, info, true, 50, 50);
    EXPECT_EQ(t.Width(), 50);
    EXPECT_EQ(t.Height(), 25);
}

TEST(RawPreviews, RafIsShownThroughItsEmbeddedJpeg) {
    TTempDir dir;
    // a JPEG with an Exif APP1 (orientation 8), behind the 148-byte header these files have
    auto jpeg = PreviewJpeg(300, 200);
    TFileBuilder exif;
    exif.Bytes("Exif\0\0", 6);
    exif.Header();
    exif.Ifd({{0x0112, 3, 1, 8}});
    std::vector<uint8_t> app1 = {0xFF, 0xE1, static_cast<uint8_t>((exif.D.size() + 2) >> 8),
                                 static_cast<uint8_t>(exif.D.size() + 2)};
    app1.insert(app1.end(), exif.D.begin(), exif.D.end());
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    std::vector<uint8_t> raf(148, 0);
    std::memcpy(raf.data(), "FUJIFILMCCD-RAW 0201FF383501", 28);
    raf.insert(raf.end(), jpeg.begin(), jpeg.end());
    const auto file = Save(dir, "j.RAF", raf);
    TBitmap b;
    LoadImage(b, ikRaw, file);
    EXPECT_EQ(b.Width(), 300);
    TImageInfoRec info;
    TBitmap t;
    LoadThumbnail(t, file, ikRaw, info, true, 60, 60);
    EXPECT_EQ(t.Width(), 60);
    EXPECT_EQ(t.Height(), 40);
    EXPECT_EQ(info.Orientation, 8);
    GetImageInfo(file, ikRaw, info);
    EXPECT_EQ(info.Width, 300);
    EXPECT_TRUE(info.IsExif);
    TTiffInfoRec rec;
    RawPreviewInfo(file, false, true, rec);  // the EXIF IFD0 is read, no IFD1 thumbnail here
    EXPECT_EQ(rec.Orientation, 8);
    EXPECT_FALSE(rec.ThumbStream);
}

TEST(RawPreviews, CrwHeapPreview) {
    TTempDir dir;
    const auto jpeg = PreviewJpeg(128, 96);
    TFileBuilder f;
    f.Bytes("II", 2);
    f.U32(26);
    f.Bytes("HEAPCCDR", 8);
    while (f.Pos() < 26) f.U8(0);
    f.Bytes(std::vector<uint8_t>(16, 0x11));  // some other record first
    const uint32_t jpegOff = 16;
    f.Bytes(jpeg);
    const uint32_t dirOff = static_cast<uint32_t>(f.Pos() - 26);
    f.U16(2);
    f.U16(0x300A);  // the other record
    f.U32(16);
    f.U32(0);
    f.U16(0x2007);
    f.U32(static_cast<uint32_t>(jpeg.size()));
    f.U32(jpegOff);
    f.U32(dirOff);
    const auto file = Save(dir, "k.crw", f.D);
    TTiffInfoRec rec;
    RawPreviewInfo(file, true, false, rec);
    EXPECT_EQ(rec.Width, 128);
    EXPECT_EQ(rec.StripOffset, 26 + 16);
    ASSERT_TRUE(rec.ThumbStream);
    EXPECT_EQ(rec.ThumbStream->Size(), static_cast<int64_t>(jpeg.size()));
    ExpectPreview(file, 128, 96);
    // a directory offset past the end
    auto bad = f.D;
    bad[bad.size() - 1] = 0x7F;
    const auto badFile = Save(dir, "l.crw", bad);
    RawPreviewInfo(badFile, true, false, rec);
    EXPECT_FALSE(rec.ThumbStream);
    EXPECT_EQ(rec.Width, 0);
}

}  // namespace
}  // namespace fv
