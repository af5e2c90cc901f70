#include "thumbs/image_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "../image/bitmap_test_util.h"
#include "image/jpeg_codec.h"

using namespace fv;
using namespace fv::testutil;

namespace {

// a payload whose bytes name the item, so a read can tell whose picture it got
std::vector<uint8_t> PayloadBytes(uint32_t item, size_t size) {
    std::vector<uint8_t> d(size);
    for (size_t i = 0; i < size; ++i) d[i] = static_cast<uint8_t>(item * 31 + i);
    return d;
}

bool PayloadIs(const TMemoryStream& ms, uint32_t item, size_t size) {
    if (ms.Data().size() != size) return false;
    for (size_t i = 0; i < size; ++i)
        if (ms.Data()[i] != static_cast<uint8_t>(item * 31 + i)) return false;
    return true;
}

class TRecordingMaster : public TImageCacheMaster {
public:
    void ItemsDropped(const std::vector<uint32_t>& items) override {
        Dropped.insert(Dropped.end(), items.begin(), items.end());
    }
    std::vector<uint32_t> Dropped;
};

std::string ErrorOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const Exception& e) {
        return std::string(e.ClassName()) + ": " + e.Message();
    }
    return "";
}

}  // namespace

// The ring: a segment takes records until the next one would pass its share of the budget;
// wrapping onto a used segment reports its items, which then read as absent.
TEST(ImageCacheMaster, RotatesThroughTheRingAndReportsDroppedItems) {
    TRecordingMaster m;
    m.Initialize(2, "", false, 8 * 1000);  // 1000 bytes per segment
    ASSERT_EQ(m.GetSegmentLimit(), 1000);
    // 16-byte header + 284 bytes: three records (900 bytes) fit a segment, a fourth does not
    constexpr size_t kSize = 284;
    uint32_t item = 1;
    for (int seg = 0; seg < 8; ++seg)
        for (int k = 0; k < 3; ++k) {
            TMemoryStream p(PayloadBytes(item, kSize));
            ASSERT_TRUE(m.WriteCacheImage(item, &p, 100 + static_cast<int32_t>(item)));
            EXPECT_EQ(m.GetCurrent(), seg) << "item " << item;
            ++item;
        }
    EXPECT_TRUE(m.Dropped.empty());
    EXPECT_EQ(m.TotalSize(), 8 * 900);
    // item 25 wraps onto segment 0: items 1..3 go
    TMemoryStream p(PayloadBytes(item, kSize));
    ASSERT_TRUE(m.WriteCacheImage(item, &p, 7));
    EXPECT_EQ(m.GetCurrent(), 0);
    EXPECT_EQ(m.Dropped, (std::vector<uint32_t>{1, 2, 3}));
    TMemoryStream out;
    int32_t value = -1;
    for (uint32_t gone = 1; gone <= 3; ++gone) {
        EXPECT_FALSE(m.ReadCacheBytes(gone, out, value));
        EXPECT_EQ(m.GetCacheValue(gone), 0);
    }
    for (uint32_t kept = 4; kept <= 25; ++kept) {
        ASSERT_TRUE(m.ReadCacheBytes(kept, out, value)) << kept;
        EXPECT_TRUE(PayloadIs(out, kept, kSize));
        EXPECT_EQ(value, kept == 25 ? 7 : 100 + static_cast<int32_t>(kept));
    }
    EXPECT_LE(m.TotalSize(), m.GetMaxSize());
    // a record larger than a whole segment is refused instead of breaking the budget
    TMemoryStream big(PayloadBytes(99, 2000));
    EXPECT_FALSE(m.WriteCacheImage(99, &big, 1));
    EXPECT_LE(m.TotalSize(), m.GetMaxSize());
}

TEST(ImageCacheMaster, BitmapRoundTripKeepsTheValueAndEmptyInputIsRefused) {
    TImageCacheMaster m;
    m.Initialize(2, "", false, kDefaultCacheMaxSize);
    TBitmap empty;
    EXPECT_EQ(ErrorOf([&] { m.WriteCacheImage(5, &empty, 160); }),
              "EImageCacheMasterError: TImageCacheMaster.WriteCacheImage : EImageCacheMasterError Raised. "
              "(パラメータが無効です。)");
    EXPECT_NE(ErrorOf([&] { m.WriteCacheImage(0, &empty, 160); }), "");
    TBitmap scene = Scene(160, 120);
    ASSERT_TRUE(m.WriteCacheImage(5, &scene, 160));
    TBitmap back;
    int32_t value = 0;
    ASSERT_TRUE(m.ReadCacheImage(5, &back, value));
    EXPECT_EQ(value, 160);
    EXPECT_LT(MeanAbsDiff(back, scene), 4.0);
    // an absent item: false, value untouched
    value = 42;
    EXPECT_FALSE(m.ReadCacheImage(6, &back, value));
    EXPECT_EQ(value, 42);
    EXPECT_NE(ErrorOf([&] { m.ReadCacheImage(5, nullptr, value); }), "");
}

// Records that are not whole read as absent: an offset into a payload, a torn record at the
// end of a file, a length that runs past the end.
TEST(ImageCacheMaster, PartialOrForeignRecordsReadAsAbsent) {
    TTempDir dir;
    const std::string folder = dir.File("cache");
    std::filesystem::create_directories(folder);
    {
        TImageCacheMaster m;
        m.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
        TMemoryStream a(PayloadBytes(1, 500)), b(PayloadBytes(2, 500));
        ASSERT_TRUE(m.WriteCacheImage(1, &a, 1));
        ASSERT_TRUE(m.WriteCacheImage(2, &b, 1));
    }
    const std::string file = CacheSegmentFileName(folder, 0);
    const int64_t h = kCacheSegmentHeadSize;  // the first record follows the file's head
    ASSERT_EQ(std::filesystem::file_size(file), h + 2u * 516u);
    TJpegFileCacheStream seg(0, file);
    seg.Open();
    EXPECT_EQ(seg.FirstRecordOffset(), h);
    TMemoryStream out;
    EXPECT_TRUE(seg.ReadCache(out, h));
    EXPECT_TRUE(PayloadIs(out, 1, 500));
    EXPECT_TRUE(seg.ReadCache(out, h + 516));
    EXPECT_FALSE(seg.ReadCache(out, 0));         // the head is no record
    EXPECT_FALSE(seg.ReadCache(out, h + 100));   // inside a payload: no magic
    EXPECT_FALSE(seg.ReadCache(out, -16));
    EXPECT_FALSE(seg.ReadCache(out, h + 1032));  // at the end
    // the second record's length now runs past the end
    std::filesystem::resize_file(file, h + 516 + 300);
    TJpegFileCacheStream cut(0, file);
    cut.Open();
    EXPECT_TRUE(cut.ReadCache(out, h));
    EXPECT_FALSE(cut.ReadCache(out, h + 516));
    EXPECT_FALSE(cut.HasRecordAt(h + 516));
    EXPECT_TRUE(cut.HasRecordAt(h));
}

TEST(ImageCacheMaster, FileModesAndMissingSegments) {
    TTempDir dir;
    const std::string folder = dir.File("c");
    std::filesystem::create_directories(folder);
    {
        TImageCacheMaster files;
        files.Initialize(cmFiles, folder + "/", true, kDefaultCacheMaxSize);
        EXPECT_EQ(files.GetFolder(), folder);
        TMemoryStream p(PayloadBytes(3, 100));
        ASSERT_TRUE(files.WriteCacheImage(3, &p, 1));
    }
    for (int i = 0; i < kCacheSegmentCount; ++i) EXPECT_TRUE(std::filesystem::exists(CacheSegmentFileName(folder, i)));
    EXPECT_EQ(std::filesystem::file_size(CacheSegmentFileName(folder, 0)), kCacheSegmentHeadSize + 116u);
    // reopening keeps the files' contents
    {
        TImageCacheMaster files;
        files.Initialize(cmFiles, folder, true, kDefaultCacheMaxSize);
        EXPECT_EQ(files.TotalSize(), 8 * kCacheSegmentHeadSize + 116);
    }
    // mode 1 without files: nothing stored, reads absent, writes fail with the composed error
    {
        TImageCacheMaster none;
        none.Initialize(cmFiles, folder, false, kDefaultCacheMaxSize);
        EXPECT_FALSE(none.HasSegments());
        TBitmap b = Flat(8, 8, 100);
        int32_t v = 0;
        EXPECT_FALSE(none.ReadCacheImage(3, &b, v));
        const std::string err = ErrorOf([&] { none.WriteCacheImage(3, &b, 1); });
        EXPECT_EQ(err.rfind("EImageCacheMasterError: TImageCacheMaster.WriteCacheImage : ", 0), 0u) << err;
    }
    // mode 0 works in memory and deletes the old files
    TImageCacheMaster mem;
    mem.Initialize(cmMemoryDeleteFiles, folder, true, kDefaultCacheMaxSize);
    EXPECT_FALSE(std::filesystem::exists(CacheSegmentFileName(folder, 0)));
    TMemoryStream p(PayloadBytes(4, 10));
    EXPECT_TRUE(mem.WriteCacheImage(4, &p, 2));
    EXPECT_EQ(mem.GetCacheValue(4), 2);
}

TEST(ImageCacheMaster, RecordListStaysSortedAndDropsEmptySlots) {
    TImageCacheMaster m;
    m.Initialize(2, "", false, kDefaultCacheMaxSize);
    m.SetAllCacheRecords({{30, 1, 0, 0}, {0, 9, 0, 0}, {10, 2, 1, 16}, {20, 3, 2, 32}, {10, 4, 3, 48}}, 5);
    TImgCacheRecords all;
    int32_t current = -1;
    ASSERT_EQ(m.GetAllCacheRecords(all, current), 3);
    EXPECT_EQ(current, 5);
    EXPECT_EQ(all[0], (TImgCacheRecord{10, 4, 3, 48}));  // the later record of a key wins
    EXPECT_EQ(all[1].Item, 20u);
    EXPECT_EQ(all[2].Item, 30u);
    // a current outside the ring falls back to the first segment
    m.SetAllCacheRecords({}, 12);
    EXPECT_EQ(m.GetCurrent(), 0);
    TImgCacheRecord r;
    EXPECT_FALSE(m.GetImgCacheRecord(99, r));
    EXPECT_EQ(r, TImgCacheRecord{});
    m.SetImgCacheRecordData(15, {0, 6, 1, 2});
    EXPECT_TRUE(m.GetImgCacheRecord(15, r));
    EXPECT_EQ(r, (TImgCacheRecord{15, 6, 1, 2}));
    EXPECT_NE(ErrorOf([&] { m.SetImgCacheRecordData(0, r); }).find("Item = nil"), std::string::npos);
    m.ClearAll();
    EXPECT_EQ(m.GetAllCacheRecords(all, current), 0);
}

TEST(ImageCacheMaster, CanHoldUsesTheBudgetTable) {
    TImageCacheMaster m;
    m.Initialize(2, "", false, kDefaultCacheMaxSize);
    EXPECT_TRUE(m.CanHold(500, 120));     // 3,072,000 bytes
    EXPECT_TRUE(m.CanHold(2730, 120));
    EXPECT_FALSE(m.CanHold(2731, 120));   // 16,777,216 + 3,840: no longer below the budget
    EXPECT_FALSE(m.CanHold(1, 300));
    EXPECT_TRUE(m.CanHold(546, 240));
    EXPECT_FALSE(m.CanHold(547, 240));
    // large counts must not wrap around to "fits"
    EXPECT_FALSE(m.CanHold(100000, 240));
    EXPECT_FALSE(m.CanHold(-1, 80));
}

// Writers rotate the ring while readers read: a read returns its own item's bytes or nothing,
// never another item's picture from a recycled segment.
TEST(ImageCacheMaster, ConcurrentReadersNeverSeeAnotherItemsPicture) {
    TImageCacheMaster m;
    m.Initialize(2, "", false, 8 * 2000);
    constexpr size_t kSize = 300;
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0}, hits{0};
    std::thread writer([&] {
        for (uint32_t round = 0; round < 200000 && (round < 4000 || hits.load() < 1000); ++round) {
            const uint32_t item = 1 + round % 97;
            TMemoryStream p(PayloadBytes(item, kSize));
            m.WriteCacheImage(item, &p, static_cast<int32_t>(item));
        }
        stop = true;
    });
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r)
        readers.emplace_back([&] {
            TMemoryStream out;
            while (!stop)
                for (uint32_t item = 1; item <= 97; ++item) {
                    int32_t v = 0;
                    if (m.ReadCacheBytes(item, out, v)) {
                        ++hits;
                        if (!PayloadIs(out, item, kSize)) ++wrong;
                    }
                }
        });
    writer.join();
    for (auto& t : readers) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(hits.load(), 0);
}
