#include "thumbs/catalog_image_cache.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "../image/bitmap_test_util.h"
#include "library/catalog_item.h"

using namespace fv;
using namespace fv::testutil;

namespace {

struct CatalogCache : ::testing::Test {
    TTempDir dir;
    std::string folder = dir.File("data");
    std::vector<std::unique_ptr<TCatalogItem>> owned;
    std::vector<TCatalogItem*> catalog;

    void MakeCatalog(int n) {
        for (int i = 0; i < n; ++i) {
            owned.push_back(std::make_unique<TCatalogItem>());
            catalog.push_back(owned.back().get());
        }
    }
    // a flat picture whose colour names the item
    static TBitmap PictureOf(int index, int w = 160, int h = 120) {
        return Flat(w, h, static_cast<uint8_t>(20 + 9 * index));
    }
    static int IndexOfColour(const TBitmap& b) { return (PixelAt(b, b.Width() / 2, b.Height() / 2).G - 20 + 4) / 9; }
    static int IndexOfNoisy(const TBitmap& b) { return (PixelAt(b, b.Width() / 2, b.Height() / 2).G - 10 + 2) / 4; }
    // about 10 KB as JPEG (noise), the grey naming the item (up to 60) in a flat middle
    static TBitmap NoisyPictureOf(int index) {
        TBitmap b = Noise(120, 90, static_cast<uint32_t>(index + 1));
        const uint8_t v = static_cast<uint8_t>(10 + 4 * index);
        for (int y = 25; y < 65; ++y)
            for (int x = 35; x < 85; ++x) SetPixel(b, x, y, Bgr{v, v, v});
        return b;
    }
    // the items as files: a name, a size and a time each
    void NameFiles() {
        for (size_t i = 0; i < catalog.size(); ++i) {
            catalog[i]->SetFileName(Format("IMG_%04zu.JPG", i));
            catalog[i]->SetFileSize(static_cast<int32_t>(100000 + i));
            catalog[i]->SetFileTime(45000.25 + static_cast<double>(i));
        }
    }
    // which items read back as their own picture (-1 absent); a wrong picture fails the test
    std::vector<int> ReadBack(TCatalogImageCacheMaster& c, int (*indexOf)(const TBitmap&) = IndexOfColour) {
        std::vector<int> got;
        for (size_t i = 0; i < catalog.size(); ++i) {
            TBitmap b;
            int32_t size = 0;
            if (!c.GetCatalogImage(catalog[i], &b, size)) {
                got.push_back(-1);
                continue;
            }
            EXPECT_EQ(indexOf(b), static_cast<int>(i)) << "item " << i << " shows another picture";
            got.push_back(static_cast<int>(i));
        }
        return got;
    }
};

// the stamp at the head of a segment file (0 when it has none)
uint64_t StampOf(const std::string& segment) {
    std::error_code ec;
    if (std::filesystem::file_size(segment, ec) < static_cast<uintmax_t>(kCacheSegmentHeadSize) || ec) return 0;
    TFileStream f(segment, TFileStream::fmOpenRead);
    f.Seek(8, soBeginning);
    return f.ReadU64();
}

// An index as a save writes it: the segments' stamps as they are in `folder`, each record's
// Item the position of its item in `catalog` (checked as that item's file)
void WriteIndex(const std::string& folder, const std::vector<TCatalogItem*>& catalog, int32_t current,
                const std::vector<TImgCacheRecord>& records, int32_t count = -1) {
    TFileStream f(folder + "/Cache.tdb", TFileStream::fmCreate);
    f.WriteBuffer("CIC_Head", 8);
    f.WriteU32(4098);
    f.WriteI32(current);
    f.WriteI32(count < 0 ? static_cast<int32_t>(records.size()) : count);
    for (int i = 0; i < kCacheSegmentCount; ++i) f.WriteU64(StampOf(CacheSegmentFileName(folder, i)));
    for (const auto& r : records) {
        f.WriteI32(static_cast<int32_t>(r.Item));
        f.WriteI32(r.Value);
        f.WriteI32(r.Segment);
        f.WriteI64(r.Offset);
        f.WriteU32(r.Item < catalog.size() ? CacheItemCheck(catalog[r.Item]) : 0);
    }
}

}  // namespace

// Save at the end of a run, load at the next start: the same pictures, the items' cached sizes
// restored; the index stays where it is (it is still true of the segments).
TEST_F(CatalogCache, IndexSurvivesARestart) {
    MakeCatalog(10);
    {
        TCatalogImageCacheMaster c;
        c.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
        ASSERT_TRUE(c.OwnsFiles());
        for (int i = 0; i < 10; i += 2) {
            TBitmap b = PictureOf(i);
            ASSERT_TRUE(c.AddCatalogImage(catalog[i], &b, 160));
            EXPECT_EQ(catalog[i]->GetCachedSize(), 160);
        }
        catalog[4]->SetState(isDeleted);  // a removed item is not written
        c.SaveCacheData(catalog);
    }
    ASSERT_TRUE(std::filesystem::exists(folder + "/Cache.tdb"));
    EXPECT_EQ(std::filesystem::file_size(folder + "/Cache.tdb"), 84u + 4 * 24u);
    for (auto* item : catalog) item->SetCachedSize(0);
    TCatalogImageCacheMaster c;
    c.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
    c.LoadCacheData(catalog);
    EXPECT_TRUE(std::filesystem::exists(folder + "/Cache.tdb"));
    for (int i = 0; i < 10; ++i) {
        TBitmap b;
        int32_t size = 0;
        const bool cached = i % 2 == 0 && i != 4;
        EXPECT_EQ(c.GetCatalogImage(catalog[i], &b, size), cached) << i;
        EXPECT_EQ(catalog[i]->GetCachedSize(), cached ? 160 : 0) << i;
        if (cached) {
            EXPECT_EQ(IndexOfColour(b), i);
        }
    }
}

// Records naming items that do not exist are dropped, the others load; damaged indexes start
// the cache empty and are deleted; a missing index empties the segments.
TEST_F(CatalogCache, BadIndexesNeverStopTheStart) {
    MakeCatalog(10);
    int64_t offsets[3];
    {
        TCatalogImageCacheMaster c;
        c.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
        for (int i = 0; i < 3; ++i) {
            TBitmap b = PictureOf(i);
            ASSERT_TRUE(c.AddCatalogImage(catalog[i], &b, 160));
            TImgCacheRecord r;
            c.GetImgCacheRecord(catalog[i]->RuntimeId(), r);
            offsets[i] = r.Offset;
        }
    }
    const std::string index = folder + "/Cache.tdb";
    WriteIndex(folder, catalog, 0, {{0, 160, 0, offsets[0]}, {12, 160, 0, offsets[1]}, {2, 160, 0, offsets[2]},
                                    {1, 160, 9, offsets[1]}, {3, 160, 0, offsets[1] + 7}});
    {
        TCatalogImageCacheMaster c;
        c.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
        c.LoadCacheData(catalog);
        TImgCacheRecords all;
        int32_t current;
        EXPECT_EQ(c.GetAllCacheRecords(all, current), 2);  // index 12, segment 9 and the torn offset go
        EXPECT_EQ(c.GetCacheValue(catalog[0]->RuntimeId()), 160);
        EXPECT_EQ(c.GetCacheValue(catalog[2]->RuntimeId()), 160);
        EXPECT_EQ(catalog[3]->GetCachedSize(), 0);
    }
    const std::vector<std::vector<uint8_t>> damaged = {
        {},                                             // empty (what an empty cache wrote)
        {'C', 'I', 'C', '_', 'H', 'e', 'a', 'd', 1},    // truncated header
        {'X', 'I', 'C', '_', 'H', 'e', 'a', 'd', 0x02, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {'C', 'I', 'C', '_', 'H', 'e', 'a', 'd', 0x01, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},  // the older layout
    };
    for (const auto& bytes : damaged) {
        WriteBytes(index, bytes);
        TCatalogImageCacheMaster c;
        c.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
        c.LoadCacheData(catalog);
        EXPECT_FALSE(std::filesystem::exists(index));
        EXPECT_EQ(c.TotalSize(), kCacheSegmentCount * kCacheSegmentHeadSize);  // emptied segments keep a head
    }
    // a count far beyond the file's bytes, and a current segment outside the ring
    WriteIndex(folder, catalog, 0, {{0, 160, 0, kCacheSegmentHeadSize}}, 0x7fffffff);
    {
        TCatalogImageCacheMaster c;
        c.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
        c.LoadCacheData(catalog);
        TImgCacheRecords all;
        int32_t current;
        EXPECT_EQ(c.GetAllCacheRecords(all, current), 0);
    }
    WriteIndex(folder, catalog, 31, {{0, 160, 0, kCacheSegmentHeadSize}});
    TCatalogImageCacheMaster c;
    c.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
    c.LoadCacheData(catalog);
    TImgCacheRecords all;
    int32_t current;
    EXPECT_EQ(c.GetAllCacheRecords(all, current), 0);
}

// A run that saved its index, went on making pictures until the ring came round to the first
// segment again, and was then killed without saving: the next start keeps every picture the
// index named in the segments that were not recycled since, never gives an item the picture
// now stored where its record points, and leaves the index in place for the start after.
TEST_F(CatalogCache, AKilledRunLosesOnlyWhatItMadeAfterItsLastSaveAndTheRecycledSegment) {
    MakeCatalog(60);
    NameFiles();
    std::vector<int> segmentAtSave(60, -1);
    int saved = 0, made = 0;
    {
        TCatalogImageCacheMaster c;
        c.Initialize(cmFiles, folder, true, 8 * 40000);  // a few pictures a segment
        const auto segmentOf = [&](int i) {
            TImgCacheRecord r;
            return c.GetImgCacheRecord(catalog[i]->RuntimeId(), r) ? r.Segment : -1;
        };
        // up to the last segment of the ring, then the save
        while (made < 60 && (made == 0 || segmentOf(made - 1) < kCacheSegmentCount - 1)) {
            TBitmap b = NoisyPictureOf(made);
            ASSERT_TRUE(c.AddCatalogImage(catalog[made], &b, 120));
            ++made;
        }
        c.SaveCacheData(catalog);
        saved = made;
        for (int i = 0; i < saved; ++i) segmentAtSave[i] = segmentOf(i);
        ASSERT_EQ(segmentAtSave[0], 0);
        TImgCacheRecord first;
        ASSERT_TRUE(c.GetImgCacheRecord(catalog[0]->RuntimeId(), first));
        // on until the ring comes round to segment 0 and a picture lands where item 0's was
        bool over = false;
        while (made < 60 && !over) {
            TBitmap b = NoisyPictureOf(made);
            ASSERT_TRUE(c.AddCatalogImage(catalog[made], &b, 120));
            TImgCacheRecord r;
            over = c.GetImgCacheRecord(catalog[made]->RuntimeId(), r) && r.Segment == 0 && r.Offset == first.Offset;
            ++made;
        }
        ASSERT_TRUE(over);
    }  // killed: no save
    for (auto* item : catalog) item->SetCachedSize(0);
    TCatalogImageCacheMaster c;
    c.Initialize(cmFiles, folder, true, 8 * 40000);
    c.LoadCacheData(catalog);
    EXPECT_TRUE(std::filesystem::exists(folder + "/Cache.tdb"));
    const std::vector<int> got = ReadBack(c, IndexOfNoisy);
    int kept = 0;
    for (int i = 0; i < made; ++i) {
        const bool expected = i < saved && segmentAtSave[i] != 0;
        EXPECT_EQ(got[i] >= 0, expected) << i;
        EXPECT_EQ(catalog[i]->GetCachedSize(), expected ? 120 : 0) << i;
        kept += expected;
    }
    EXPECT_GT(kept, saved / 2);
}

// While pictures are made the index is saved again once the interval has passed; a run killed
// then keeps what was saved. A catalog whose numbers came to name other files (an item renamed,
// files in another order) gives no item another's picture.
TEST_F(CatalogCache, TheIndexSavedWhileWorkingSurvivesAndChecksTheFilesItNames) {
    MakeCatalog(6);
    NameFiles();
    {
        TCatalogImageCacheMaster c;
        c.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
        c.LoadCacheData(catalog);
        std::map<TCatalogItem*, int32_t> numbers;
        for (size_t i = 0; i < catalog.size(); ++i) numbers[catalog[i]] = static_cast<int32_t>(i);
        c.EnableAutoSave([&numbers](TCatalogItem* item) { return numbers.count(item) ? numbers[item] : -1; }, 0);
        for (int i = 0; i < 5; ++i) {
            TBitmap b = PictureOf(i);
            ASSERT_TRUE(c.AddCatalogImage(catalog[i], &b, 160));
        }
        c.DisableAutoSave();
        TBitmap b = PictureOf(5);
        ASSERT_TRUE(c.AddCatalogImage(catalog[5], &b, 160));  // after the last save
    }  // killed: no save at the end
    {
        for (auto* item : catalog) item->SetCachedSize(0);
        TCatalogImageCacheMaster c;
        c.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
        c.LoadCacheData(catalog);
        EXPECT_EQ(ReadBack(c), (std::vector<int>{0, 1, 2, 3, 4, -1}));
    }
    // the next start reads another catalog: item 1 was renamed, items 2 and 3 changed places
    catalog[1]->SetFileName("renamed.jpg");
    std::swap(catalog[2], catalog[3]);
    for (auto* item : catalog) item->SetCachedSize(0);
    TCatalogImageCacheMaster c;
    c.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
    c.LoadCacheData(catalog);
    TBitmap b;
    int32_t size = 0;
    EXPECT_FALSE(c.GetCatalogImage(catalog[1], &b, size));
    EXPECT_FALSE(c.GetCatalogImage(catalog[2], &b, size));
    EXPECT_FALSE(c.GetCatalogImage(catalog[3], &b, size));
    ASSERT_TRUE(c.GetCatalogImage(catalog[4], &b, size));
    EXPECT_EQ(IndexOfColour(b), 4);
}

// An end with nothing made, moved or dropped since the start leaves the index file as it is (no
// flush, no write); anything new is written.
TEST_F(CatalogCache, AnUnchangedIndexIsNotWrittenAgain) {
    MakeCatalog(4);
    NameFiles();
    {
        TCatalogImageCacheMaster c;
        c.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
        for (int i = 0; i < 3; ++i) {
            TBitmap b = PictureOf(i);
            ASSERT_TRUE(c.AddCatalogImage(catalog[i], &b, 160));
        }
        c.SaveCacheData(catalog);
    }
    const std::string index = folder + "/Cache.tdb";
    const auto inode = [&] {
        struct stat st {};
        return ::stat(index.c_str(), &st) == 0 ? st.st_ino : 0;
    };
    const ino_t first = inode();
    ASSERT_NE(first, 0u);
    {
        TCatalogImageCacheMaster c;
        c.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
        c.LoadCacheData(catalog);
        c.SaveCacheData(catalog);
    }
    EXPECT_EQ(inode(), first);  // the same file: not replaced
    {
        TCatalogImageCacheMaster c;
        c.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
        c.LoadCacheData(catalog);
        TBitmap b = PictureOf(3);
        ASSERT_TRUE(c.AddCatalogImage(catalog[3], &b, 160));
        c.SaveCacheData(catalog);
    }
    EXPECT_NE(inode(), first);
    for (auto* item : catalog) item->SetCachedSize(0);
    TCatalogImageCacheMaster again;
    again.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
    again.LoadCacheData(catalog);
    EXPECT_EQ(ReadBack(again), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(CatalogCache, DeletingOneSegmentLosesExactlyItsPictures) {
    MakeCatalog(12);
    {
        TCatalogImageCacheMaster c;
        c.Initialize(cmFiles, folder, true, 8 * 40000);
        for (int i = 0; i < 12; ++i) {
            TBitmap b = Noise(120, 90, static_cast<uint32_t>(i + 1));  // about 16 KB each: two a segment
            ASSERT_TRUE(c.AddCatalogImage(catalog[i], &b, 120));
        }
        c.SaveCacheData(catalog);
    }
    std::vector<int> segmentOf(12);
    {
        TFileStream f(folder + "/Cache.tdb", TFileStream::fmOpenRead);
        f.Seek(kCacheIndexHeaderSize, soBeginning);
        for (int k = 0; k < 12; ++k) {
            const int32_t index = f.ReadI32();
            f.ReadI32();
            segmentOf[index] = f.ReadI32();
            f.ReadI64();
            f.ReadU32();
        }
    }
    ASSERT_GE(segmentOf[11], 2);
    std::filesystem::remove(CacheSegmentFileName(folder, 1));
    for (auto* item : catalog) item->SetCachedSize(0);
    TCatalogImageCacheMaster c;
    c.Initialize(cmFiles, folder, true, 8 * 40000);
    c.LoadCacheData(catalog);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(catalog[i]->GetCachedSize(), segmentOf[i] == 1 ? 0 : 120) << i;
}

// A picture whose stored bytes were damaged (its record header intact) or whose record header
// was overwritten is no longer "cached": the read drops its record and the item's size, so that
// the next run makes it again instead of finding it cached for ever. The others still read.
TEST_F(CatalogCache, APictureThatCannotBeReadIsNoLongerCached) {
    MakeCatalog(3);
    {
        TCatalogImageCacheMaster c;
        c.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
        for (int i = 0; i < 3; ++i) {
            TBitmap b = PictureOf(i);
            ASSERT_TRUE(c.AddCatalogImage(catalog[i], &b, 160));
        }
        c.SaveCacheData(catalog);
    }
    TImgCacheRecord rec[3];
    {
        TCatalogImageCacheMaster c;
        c.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
        c.LoadCacheData(catalog);
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(c.GetImgCacheRecord(catalog[i]->RuntimeId(), rec[i]));
        c.SaveCacheData(catalog);
    }
    {
        TFileStream seg(CacheSegmentFileName(folder, rec[0].Segment), TFileStream::fmOpenReadWrite);
        // item 0: the JPEG bytes past the record header; item 2: the record's marker
        seg.Seek(rec[0].Offset + 8, soBeginning);
        const int64_t length = seg.ReadI64();
        ASSERT_GT(length, 0);
        std::vector<uint8_t> junk(static_cast<size_t>(length), 0x5A);
        seg.Seek(rec[0].Offset + kCacheRecordHeaderSize, soBeginning);
        seg.WriteBuffer(junk.data(), static_cast<int64_t>(junk.size()));
        seg.Seek(rec[2].Offset, soBeginning);
        seg.WriteU32(0x12345678u);
    }
    for (auto* item : catalog) item->SetCachedSize(0);
    TCatalogImageCacheMaster c;
    c.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
    c.LoadCacheData(catalog);
    EXPECT_EQ(catalog[0]->GetCachedSize(), 160);  // the header still looks whole
    for (int i = 0; i < 3; ++i) {
        TBitmap b;
        int32_t size = 0;
        EXPECT_EQ(c.GetCatalogImage(catalog[i], &b, size), i == 1) << i;
        EXPECT_EQ(catalog[i]->GetCachedSize(), i == 1 ? 160 : 0) << i;
        EXPECT_EQ(c.CachedSizeOf(catalog[i]), i == 1 ? 160 : 0) << i;
        TImgCacheRecord r;
        EXPECT_EQ(c.GetImgCacheRecord(catalog[i]->RuntimeId(), r), i == 1) << i;
    }
    // made again, it reads
    TBitmap again = PictureOf(0);
    ASSERT_TRUE(c.AddCatalogImage(catalog[0], &again, 160));
    TBitmap b;
    int32_t size = 0;
    ASSERT_TRUE(c.GetCatalogImage(catalog[0], &b, size));
    EXPECT_EQ(IndexOfColour(b), 0);
}

// Orientation and corrections are applied on every read; the stored picture never changes.
TEST_F(CatalogCache, OrientationAndCorrectionsApplyOnRead) {
    MakeCatalog(1);
    TCatalogItem* item = catalog[0];
    TCatalogImageCacheMaster c;
    c.Initialize(2, "", false, kDefaultCacheMaxSize);
    TBitmap pic = MakeBitmap(160, 120, [](int x, int) { return x < 80 ? Bgr{0, 0, 250} : Bgr{250, 0, 0}; });
    ASSERT_TRUE(c.AddCatalogImage(item, &pic, 160));
    EXPECT_EQ(item->GetCachedSize(), 0);  // memory caches keep the size in the record only
    EXPECT_EQ(c.CachedSizeOf(item), 160);
    TBitmap b;
    int32_t size = 0;
    ASSERT_TRUE(c.GetCatalogImage(item, &b, size));
    EXPECT_EQ(b.Width(), 160);
    EXPECT_GT(PixelAt(b, 10, 60).R, 200);
    item->SetOrientation(6);  // a clockwise quarter turn: the red left half ends on top
    ASSERT_TRUE(c.GetCatalogImage(item, &b, size));
    EXPECT_EQ(b.Width(), 120);
    EXPECT_EQ(b.Height(), 160);
    EXPECT_GT(PixelAt(b, 60, 10).R, 200);
    EXPECT_GT(PixelAt(b, 60, 150).B, 200);
    TCorrectionRecord cr = item->GetCorrection();
    cr.Enabled = 1;
    cr.Filter1 = 3;  // invert
    item->SetCorrection(cr);
    ASSERT_TRUE(c.GetCatalogImage(item, &b, size));
    EXPECT_LT(PixelAt(b, 60, 10).R, 50);
}

TEST_F(CatalogCache, DrawCentresCopiesOrStretches) {
    MakeCatalog(2);
    TCatalogImageCacheMaster c;
    c.Initialize(2, "", false, kDefaultCacheMaxSize);
    TBitmap a = Flat(160, 120, 60), b = Flat(150, 100, 60);
    ASSERT_TRUE(c.AddCatalogImage(catalog[0], &a, 160));
    ASSERT_TRUE(c.AddCatalogImage(catalog[1], &b, 160));
    catalog[1]->SetSize(600, 400);
    TBitmap canvas = Flat(160, 160, 200);
    ASSERT_TRUE(c.DrawCatalogImage(catalog[0], 160, TRect{0, 0, 160, 160}, &canvas));
    // unscaled at y = (160 - 120 + 1) div 2 = 20, the edge one pixel outside
    EXPECT_EQ(PixelAt(canvas, 5, 19).G, 128);
    EXPECT_NEAR(PixelAt(canvas, 5, 20).G, 60, 3);
    EXPECT_NEAR(PixelAt(canvas, 5, 139).G, 60, 3);
    EXPECT_EQ(PixelAt(canvas, 5, 140).G, 255);
    canvas = Flat(160, 160, 200);
    ASSERT_TRUE(c.DrawCatalogImage(catalog[1], 160, TRect{0, 0, 160, 160}, &canvas));
    // stretched to FitSize(161, 161, 150, 100) = 161 x 107, at y = 27
    EXPECT_EQ(PixelAt(canvas, 5, 26).G, 128);
    EXPECT_NEAR(PixelAt(canvas, 5, 27).G, 60, 3);
    EXPECT_NEAR(PixelAt(canvas, 5, 133).G, 60, 3);
    EXPECT_EQ(PixelAt(canvas, 5, 134).G, 255);
    TCatalogItem absent;
    EXPECT_FALSE(c.DrawCatalogImage(&absent, 160, TRect{0, 0, 160, 160}, &canvas));
    EXPECT_THROW(c.DrawCatalogImage(catalog[0], 0, TRect{0, 0, 160, 160}, &canvas), ECatalogImageCacheMasterError);
    EXPECT_THROW(c.DrawCatalogImage(catalog[0], 160, TRect{}, nullptr), ECatalogImageCacheMasterError);
}

TEST_F(CatalogCache, RotationClearsTheCachedSizeOfDroppedItems) {
    MakeCatalog(40);
    TCatalogImageCacheMaster c;
    c.Initialize(cmFiles, folder, true, 8 * 20000);
    for (int i = 0; i < 40; ++i) {
        TBitmap b = Noise(100, 75, static_cast<uint32_t>(i + 7));
        ASSERT_TRUE(c.AddCatalogImage(catalog[i], &b, 100));
    }
    int kept = 0;
    for (int i = 0; i < 40; ++i) {
        TBitmap b;
        int32_t size;
        const bool readable = c.GetCatalogImage(catalog[i], &b, size);
        EXPECT_EQ(readable, catalog[i]->GetCachedSize() == 100) << i;
        kept += readable;
    }
    EXPECT_GT(kept, 0);
    EXPECT_LT(kept, 40);
    for (int s = 0; s < kCacheSegmentCount; ++s)
        EXPECT_LE(std::filesystem::file_size(CacheSegmentFileName(folder, s)), 20000u);
}

// A process killed while it writes: the next start reads every picture as either absent or
// the right one, never a torn record or another item's picture.
TEST_F(CatalogCache, KilledWriterLeavesNothingThatReadsWrong) {
    MakeCatalog(30);
    {
        TCatalogImageCacheMaster c;
        c.Initialize(cmFiles, folder, true, 8 * 30000);
        for (int i = 0; i < 30; ++i) {
            TBitmap b = PictureOf(i);
            ASSERT_TRUE(c.AddCatalogImage(catalog[i], &b, 160));
        }
        c.SaveCacheData(catalog);
    }
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // the next run: loads the index, then writes other pictures round and round
        TCatalogImageCacheMaster c;
        c.Initialize(cmFiles, folder, true, 8 * 30000);
        c.LoadCacheData(catalog);
        for (uint32_t round = 0;; ++round) {
            const int i = static_cast<int>(round % 30);
            TBitmap b = Noise(160, 120, round + 1);  // a picture that matches no item's colour
            c.AddCatalogImage(catalog[i], &b, 160);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    for (auto* item : catalog) item->SetCachedSize(0);
    TCatalogImageCacheMaster c;
    c.Initialize(cmFiles, folder, true, 8 * 30000);
    c.LoadCacheData(catalog);
    for (int i = 0; i < 30; ++i) {
        TBitmap b;
        int32_t size = 0;
        if (c.GetCatalogImage(catalog[i], &b, size)) {
            EXPECT_EQ(IndexOfColour(b), i) << i;
        }
    }
    EXPECT_LE(c.TotalSize(), 8 * 30000);
}
