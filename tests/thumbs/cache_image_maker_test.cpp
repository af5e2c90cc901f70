#include "thumbs/cache_image_maker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include "../image/bitmap_test_util.h"
#include "../image/exif_test_jpeg.h"
#include "thumbs/cache_work_lock.h"
#include "thumbs/catalog_image_cache.h"
#include "library/catalog_updater.h"
#include "image/image_loader.h"
#include "library/folder.h"
#include "platform/ui_dispatch.h"

using namespace fv;
using namespace fv::testutil;

namespace {

std::vector<TCatalogItem*> Fake(int n, std::vector<std::unique_ptr<TCatalogItem>>& owned) {
    std::vector<TCatalogItem*> out;
    for (int i = 0; i < n; ++i) {
        owned.push_back(std::make_unique<TCatalogItem>());
        out.push_back(owned.back().get());
    }
    return out;
}

}  // namespace

// Requesting A, B, C while the thumbs queue holds C, D, A gives A, C, D; the source queue
// puts what is wanted now first and keeps the rest.
TEST(CacheImageQueues, RequestsReorderRatherThanReplace) {
    std::vector<std::unique_ptr<TCatalogItem>> owned;
    auto it = Fake(6, owned);
    TCatalogItem *A = it[0], *B = it[1], *C = it[2], *D = it[3], *E = it[4], *F = it[5];
    TCacheImageQueues q("QueueTest-");
    q.ReorderThumbs({C, D, A}, false);  // empty queue: taken as it is
    q.ReorderThumbs({A, B, C}, false);
    EXPECT_EQ(q.ThumbsQueue(), (std::vector<TCatalogItem*>{A, C, D}));
    EXPECT_TRUE(q.ThumbsEvent()->IsSignalled());
    q.ReorderThumbs({B, E}, true);
    EXPECT_EQ(q.ThumbsQueue(), (std::vector<TCatalogItem*>{B, E}));
    EXPECT_EQ(q.TakeThumbs(), B);
    EXPECT_EQ(q.TakeThumbs(), E);
    EXPECT_FALSE(q.ThumbsEvent()->IsSignalled());
    EXPECT_EQ(q.TakeThumbs(), nullptr);

    // finished thumbs jobs land on the urgent list
    for (auto* x : {A, B, C}) q.HandOn(x);
    q.ReorderSource({}, false);  // urgent back to the front of the later list
    EXPECT_EQ(q.SourceLater(), (std::vector<TCatalogItem*>{A, B, C}));
    q.ReorderSource({C, F, A}, false);
    EXPECT_EQ(q.SourceUrgent(), (std::vector<TCatalogItem*>{C, A}));
    EXPECT_EQ(q.SourceLater(), (std::vector<TCatalogItem*>{B}));
    q.HandOn(B);
    EXPECT_EQ(q.SourceUrgent(), (std::vector<TCatalogItem*>{C, A, B}));
    EXPECT_TRUE(q.SourceLater().empty());
    EXPECT_EQ(q.TakeSource(), C);
    q.ReorderSource({A}, true);
    EXPECT_TRUE(q.SourceUrgent().empty());
    EXPECT_FALSE(q.SourceEvent()->IsSignalled());
    // requests: empty entries dropped, duplicates of RequestOne ignored
    q.SetRequest({A, nullptr, B}, false);
    q.AddRequest(B);
    q.AddRequest(D);
    std::vector<TCatalogItem*> list;
    bool reset = true;
    ASSERT_TRUE(q.TakeRequest(list, reset));
    EXPECT_EQ(list, (std::vector<TCatalogItem*>{A, B, D}));
    EXPECT_FALSE(reset);
    EXPECT_FALSE(q.RequestEvent()->IsSignalled());
}

TEST(CacheImageRoute, ExifThumbnailMustMatchTheShape) {
    // a 160 x 120 thumbnail whose own orientation needs a quarter turn, of a 3000 x 4000 picture
    EXPECT_TRUE(IsUsableExifThumbnail(false, 240, 160, 120, 6, 3000, 4000));
    // the same thumbnail for an upright 3000 x 4000 picture: letterboxed, not usable
    EXPECT_FALSE(IsUsableExifThumbnail(false, 240, 160, 120, 1, 3000, 4000));
    EXPECT_TRUE(IsUsableExifThumbnail(false, 240, 160, 120, 1, 4000, 3000));
    // an item that has a picture does not swap it for a smaller one
    EXPECT_FALSE(IsUsableExifThumbnail(true, 240, 160, 120, 1, 4000, 3000));
    EXPECT_TRUE(IsUsableExifThumbnail(true, 160, 160, 120, 1, 4000, 3000));
    EXPECT_FALSE(IsUsableExifThumbnail(false, 240, 0, 120, 1, 4000, 3000));
}

TEST(CacheImageRoute, JpegThumbnailsFitOrStandForTheirOwnSize) {
    const auto jpeg = [](int w, int h) {
        TMemoryStream ms(EncodeJpeg(Scene(w, h), 90));
        return ms.Data();
    };
    TCacheImage out;
    {
        TMemoryStream ms(jpeg(160, 120));
        ThumbnailFromJpeg(ms, 1, 120, 160, out, 240);  // smaller than asked: kept, stored as 160
        EXPECT_EQ(out.Size, 160);
        EXPECT_EQ(out.Bitmap.Width(), 160);
        EXPECT_FALSE(out.Resized);
    }
    {
        TMemoryStream ms(jpeg(640, 480));
        ThumbnailFromJpeg(ms, 1, 0, 0, out, 160);  // size read from the JPEG; 1/4 gives 160 x 120 exactly
        EXPECT_EQ(out.Size, 160);
        EXPECT_EQ(out.Bitmap.Width(), 160);
        EXPECT_EQ(out.Bitmap.Height(), 120);
        EXPECT_FALSE(out.Resized);
    }
    {
        TMemoryStream ms(jpeg(700, 525));
        ThumbnailFromJpeg(ms, 1, 525, 700, out, 160);  // 1/4 gives 175 x 132, resampled
        EXPECT_EQ(out.Bitmap.Width(), 160);
        EXPECT_EQ(out.Bitmap.Height(), 120);
        EXPECT_TRUE(out.Resized);
    }
    {
        TMemoryStream ms(jpeg(160, 100));
        ThumbnailFromJpeg(ms, 6, 100, 160, out, 160);  // exact fit, then its own orientation
        EXPECT_EQ(out.Bitmap.Width(), 100);
        EXPECT_EQ(out.Bitmap.Height(), 160);
        EXPECT_FALSE(out.Resized);
    }
    // strips are R, G, B: a red strip picture comes out red
    std::vector<uint8_t> rgb;
    for (int i = 0; i < 8 * 6; ++i) rgb.insert(rgb.end(), {250, 10, 10});
    TMemoryStream strips(rgb);
    ThumbnailFromRgbStrips(strips, 1, 6, 8, out, 160);
    EXPECT_EQ(out.Size, 8);  // kept as it is; the full picture is made later
    EXPECT_EQ(PixelAt(out.Bitmap, 2, 2), (Bgr{10, 10, 250}));
    TMemoryStream shortStrips(std::vector<uint8_t>(10, 1));
    EXPECT_THROW(ThumbnailFromRgbStrips(shortStrips, 1, 6, 8, out, 160), EImageCacheRouteError);
}

TEST(CacheWorkLock, OneWorkerPerFileAndGivesUpWhenCancelled) {
    auto first = std::make_unique<TCacheWorkLock>("/photos/a.jpg", true);
    ASSERT_TRUE(first->Acquire([] { return true; }));
    EXPECT_EQ(CacheWorkLockName("/photos/a.jpg"), "CacheMaker--photos-a.jpg");
    std::atomic<bool> cancelled{false};
    std::atomic<bool> got{false};
    std::thread other([&] {
        TCacheWorkLock second("/photos/a.jpg", true);
        got = second.Acquire([&] { return !cancelled.load(); });
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    cancelled = true;
    other.join();
    EXPECT_FALSE(got);
    // another file is free at once; the same file after release too
    TCacheWorkLock b("/photos/b.jpg", false);
    EXPECT_TRUE(b.Acquire([] { return false; }));
    std::thread later([&] {
        TCacheWorkLock second("/photos/a.jpg", true);
        got = second.Acquire([] { return true; });
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    first.reset();
    later.join();
    EXPECT_TRUE(got);
}

// Without a session runtime folder the private folder may not exist yet: the first lock makes it,
// and the lock still keeps another process off the same file.
TEST(CacheWorkLock, HoldsAcrossProcessesWhenThePrivateFolderIsNotMadeYet) {
    TTempDir tmp;
    const char* oldRt = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedRt = oldRt ? oldRt : "";
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string savedTmp = oldTmp ? oldTmp : "";
    ::unsetenv("XDG_RUNTIME_DIR");
    const std::string base = tmp.File("tmp");
    std::filesystem::create_directory(base);
    ::setenv("TMPDIR", base.c_str(), 1);
    {
        TCacheWorkLock mine("/photos/held.jpg", true);
        ASSERT_TRUE(mine.Acquire([] { return true; }));
        EXPECT_TRUE(std::filesystem::is_directory(base + "/folvane-" + std::to_string(::geteuid())));
        const pid_t child = ::fork();
        if (child == 0) {
            // a fresh process: the file is another's, so it gives up when its time is over
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
            TCacheWorkLock theirs("/photos/held.jpg", true);
            const bool got = theirs.Acquire([&] { return std::chrono::steady_clock::now() < until; });
            ::_exit(got ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process took a file that is being made";
    }
    if (oldRt) ::setenv("XDG_RUNTIME_DIR", savedRt.c_str(), 1);
    if (oldTmp) ::setenv("TMPDIR", savedTmp.c_str(), 1); else ::unsetenv("TMPDIR");
}

namespace {

struct MakerTest : ::testing::Test {
    TQueueDispatcher dispatcher;
    TTempDir dir;
    std::string photos = dir.File("photos");
    std::unique_ptr<TFolder> folder;
    std::vector<TCatalogItem*> items;
    TCatalogImageCacheMaster cache;
    std::mutex lock;
    std::map<std::string, std::vector<std::string>> reports;  // file -> "thumbs:EXIF thumbnail", ...

    void SetUp() override {
        SetUiDispatcher(&dispatcher);
        std::filesystem::create_directories(photos);
        cache.Initialize(2, "", false, kDefaultCacheMaxSize);
    }
    void TearDown() override { SetUiDispatcher(nullptr); }

    void Write(const std::string& name, const std::vector<uint8_t>& bytes) { WriteBytes(photos + "/" + name, bytes); }
    void List() {
        folder = std::make_unique<TFolder>(photos);
        folder->SearchFiles(nullptr);
        TItemList list;
        folder->GetItems(list);
        items.assign(list.begin(), list.end());
        std::sort(items.begin(), items.end(),
                  [](TCatalogItem* a, TCatalogItem* b) { return a->GetFileName() < b->GetFileName(); });
    }
    void Observe(TCacheImageMaker& maker) {
        maker.SetObserver([this](TCatalogItem* item, TCacheWorkerType w, TCacheImageSource s, bool failed) {
            std::lock_guard g(lock);
            reports[item->GetFileName()].push_back(std::string(w == cwtThumbs ? "thumbs:" : "source:") +
                                                   (failed ? "failed" : CacheImageSourceName(s)));
        });
    }
    // runs one request to its end
    void RunToEnd(TCacheImageMaker& maker, int32_t size) {
        std::atomic<bool> done{false};
        maker.SetFinishedCallbacks({}, [&] { done = true; });
        maker.Request(items, size, true);
        WaitPumping([&] { return done.load(); }, 10);
        maker.SetFinishedCallbacks({}, {});
    }
};

}  // namespace

// The two phases: an EXIF thumbnail first (stored for its own size), then the full picture at
// the requested size; a file that cannot be decoded is marked and not tried again.
TEST_F(MakerTest, MakesFirstThenDefinitivePicturesAndSkipsBrokenFiles) {
    const TBitmap thumb = Scene(160, 120);
    Write("a.jpg", MakeExifJpeg(Scene(1600, 1200), 6, &thumb));
    Write("b.jpg", MakeExifJpeg(Scene(800, 600), 1, nullptr));
    Write("c.jpg", {0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 1, 2, 3, 4, 5});
    Write("c.txt", {'h', 'i'});
    List();
    ASSERT_EQ(items.size(), 3u);  // the side file is no photo
    InitializeCatalogUpdater();
    std::atomic<int> stored{0};
    int owner = 0;
    RegisterCatalogUpdateEvent(&owner, "MakerTest", false, [&](TCatalogItem*, uint8_t type) {
        if (type == cuThumbnailStored) ++stored;
    });
    {
        TCacheImageMaker maker(&cache, false);
        Observe(maker);
        maker.Start();
        RunToEnd(maker, 240);
        EXPECT_EQ(reports["a.jpg"], (std::vector<std::string>{"thumbs:EXIF thumbnail", "source:full picture"}));
        EXPECT_EQ(reports["b.jpg"], (std::vector<std::string>{"thumbs:none", "source:full picture"}));
        EXPECT_EQ(reports["c.jpg"], (std::vector<std::string>{"thumbs:none", "source:failed"}));
        TCatalogItem* a = items[0];
        EXPECT_EQ(cache.CachedSizeOf(a), 240);
        EXPECT_EQ(a->GetOrientation(), 6);
        EXPECT_EQ(a->GetWidth(), 1600);
        TBitmap pic;
        int32_t size = 0;
        ASSERT_TRUE(cache.GetCatalogImage(a, &pic, size));
        EXPECT_EQ(pic.Width(), 180);  // 240 x 180 stored, turned on read
        EXPECT_EQ(pic.Height(), 240);
        EXPECT_EQ(cache.CachedSizeOf(items[2]), 0);
        EXPECT_EQ(items[2]->GetComment(), "hi");  // the side file of c.jpg
        // asked again: nothing is decoded again, the broken file is not retried
        reports.clear();
        RunToEnd(maker, 240);
        EXPECT_EQ(reports["a.jpg"], (std::vector<std::string>{"thumbs:none", "source:none"}));
        EXPECT_EQ(reports["c.jpg"], (std::vector<std::string>{"thumbs:none", "source:none"}));
        // another size makes them again
        reports.clear();
        RunToEnd(maker, 160);
        EXPECT_EQ(reports["a.jpg"], (std::vector<std::string>{"thumbs:EXIF thumbnail", "source:none"}));
        EXPECT_EQ(reports["c.jpg"], (std::vector<std::string>{"thumbs:none", "source:failed"}));
    }
    WaitPumping([&] { return stored.load() >= 5; }, 10);
    EXPECT_EQ(stored.load(), 5);  // a twice, b once at 240; a at 160
    UnRegisterCatalogUpdateEvent(&owner);
    FinalizeCatalogUpdater();
}

TEST_F(MakerTest, CancelAllStopsWorkAndNothingIsStoredAfterwards) {
    for (int i = 0; i < 24; ++i) Write("p" + std::to_string(100 + i) + ".jpg", MakeExifJpeg(Scene(2000, 1500), 1, nullptr));
    List();
    TCacheImageMaker maker(&cache, true);
    maker.SetProcessorCount(2);
    maker.SetWorkersPerProcessor(0, 1);
    maker.Start();
    std::atomic<int> jobs{0};
    maker.SetObserver([&](TCatalogItem*, TCacheWorkerType, TCacheImageSource, bool) { ++jobs; });
    maker.Request(items, 240, true);
    WaitPumping([&] { return jobs.load() >= 2; }, 5);
    maker.CancelAll();
    const int64_t after = cache.TotalSize();
    const int made = jobs.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(cache.TotalSize(), after);
    EXPECT_EQ(jobs.load(), made);
    EXPECT_LT(made, 24);
    EXPECT_EQ(maker.SourceWorkerCount(), 2);
    EXPECT_EQ(maker.ThumbsWorkerCount(), 0);
    // the maker takes new requests after a cancel
    std::atomic<bool> done{false};
    maker.SetFinishedCallbacks({}, [&] { done = true; });
    maker.Request(items, 240, true);
    WaitPumping([&] { return done.load(); }, 10);
    for (auto* item : items) EXPECT_EQ(cache.CachedSizeOf(item), 240) << item->GetFileName();
}

// A cache written when cells were drawn at one pixel per point (80-pixel pictures) still reads
// on a screen of twice the pixel ratio: the old pictures are found, recognised as smaller than
// the 160 device pixels now wanted (never enlarged on read), made again at 160, and the new
// size survives a save and a reload; a screen of ratio 1 reads the 160 picture reduced to 80.
TEST_F(MakerTest, OldSmallerPicturesReadAndAreMadeAgainAtTheDeviceSize) {
    const TBitmap thumb = Scene(160, 120);
    Write("a.jpg", MakeExifJpeg(Scene(1600, 1200), 1, &thumb));
    Write("b.jpg", MakeExifJpeg(Scene(1200, 900), 1, nullptr));
    List();
    ASSERT_EQ(items.size(), 2u);
    const std::string cacheDir = dir.File("cache");
    {
        TCatalogImageCacheMaster old;
        old.Initialize(cmFiles, cacheDir, true, kDefaultCacheMaxSize);
        TBitmap small = Scene(80, 60);
        for (auto* item : items) ASSERT_TRUE(old.AddCatalogImage(item, &small, 80));
        old.SaveCacheData(items);
    }
    for (auto* item : items) item->SetCachedSize(0);
    {
        TCatalogImageCacheMaster file;  // one process at a time owns the folder
        file.Initialize(cmFiles, cacheDir, true, kDefaultCacheMaxSize);
        file.LoadCacheData(items);
        for (auto* item : items) {
            EXPECT_EQ(file.CachedSizeOf(item), 80);
            TBitmap pic;
            int32_t size = 0;
            ASSERT_TRUE(file.GetCatalogImageFitted(item, &pic, size, 160));
            EXPECT_EQ(size, 80);  // smaller than wanted: the grid asks for a new one
            EXPECT_EQ(pic.Width(), 80);
        }
        {
            TCacheImageMaker maker(&file, false);
            Observe(maker);
            maker.Start();
            RunToEnd(maker, 160);
        }
        // a's EXIF thumbnail is exactly 160; b is decoded from the picture itself
        EXPECT_EQ(reports["a.jpg"], (std::vector<std::string>{"thumbs:EXIF thumbnail", "source:none"}));
        EXPECT_EQ(reports["b.jpg"], (std::vector<std::string>{"thumbs:none", "source:full picture"}));
        file.SaveCacheData(items);
    }
    for (auto* item : items) item->SetCachedSize(0);
    TCatalogImageCacheMaster again;
    again.Initialize(cmFiles, cacheDir, true, kDefaultCacheMaxSize);
    again.LoadCacheData(items);
    for (auto* item : items) {
        EXPECT_EQ(again.CachedSizeOf(item), 160) << item->GetFileName();
        TBitmap pic;
        int32_t size = 0;
        ASSERT_TRUE(again.GetCatalogImageFitted(item, &pic, size, 160));
        EXPECT_EQ(size, 160);
        EXPECT_EQ(pic.Width(), 160);
        EXPECT_EQ(pic.Height(), 120);
        // a screen of ratio 1 takes it reduced, without anything made again
        ASSERT_TRUE(again.GetCatalogImageFitted(item, &pic, size, 80));
        EXPECT_EQ(size, 160);
        EXPECT_EQ(pic.Width(), 80);
        EXPECT_EQ(pic.Height(), 60);
    }
}
