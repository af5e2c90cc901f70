#pragma once
// The thumbnail cache of catalog items: the store of image_cache.h keyed by the items'
// runtime identifiers, with the index file "Cache.tdb" that lets a file cache survive a
// restart (and a crash: it stays valid while the run goes on, see LoadCacheData), and the
// drawing of an item's cached thumbnail into a grid cell. The cache holds
// pictures as the files store them; orientation and corrections are applied on every read,
// so changing them never invalidates a cached thumbnail.
//
// Life cycle (the engine's): CreateCatalogImageCache(dataFolder, kind, maxMB) after the
// configuration is loaded, LoadCacheData(catalog) once the catalog is loaded, SaveCacheData(catalog)
// before shutdown, then free it. `catalog` is the list of every item, the position in it being
// the number the index file stores; load and save must be given lists in the same order.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "thumbs/image_cache.h"
#include "platform/resource_lock.h"

namespace fv {

class TCatalogItem;


FV_DECLARE_EXCEPTION(ECatalogImageCacheMasterError, EImageCacheMasterError);

// "Cache.tdb": signature, version, current segment, record count, the stamp of each segment as
// the index saw it, then per record the item's number, the edge size, segment, offset and a
// check of the item's file (name, size and time) that keeps a number that came to name another
// item from giving it this one's picture. Indexes of version 4097 (no stamps, no checks) are
// dropped.
constexpr char kCacheIndexSignature[] = "CIC_Head";
constexpr uint32_t kCacheIndexVersion = 4098;
constexpr uint32_t kCacheIndexOldVersion = 4097;
constexpr int kCacheIndexHeaderSize = 20 + 8 * kCacheSegmentCount;
constexpr int kCacheIndexRecordSize = 24;
// how often thumbnail work saves the index by default
constexpr int kCacheIndexSaveIntervalMs = 60000;

// the save interval of thumbnail work: FOLVANE_CACHE_SAVE_MS when set (tests use a short one),
// otherwise kCacheIndexSaveIntervalMs
int CacheIndexSaveIntervalMs();
// the check an index record keeps of the item's file
uint32_t CacheItemCheck(const TCatalogItem* item);

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
};

class TCatalogImageCacheMaster : public TImageCacheMaster {
public:
    TCatalogImageCacheMaster() = default;
    ~TCatalogImageCacheMaster() override;

    const char* ClassName() const override { return "TCatalogImageCacheMaster"; }
    [[noreturn]] void RaiseError(const std::string& message) override;
    void ItemsDropped(const std::vector<uint32_t>& items) override;
    // Besides the store's own set-up: a non-file mode deletes "Cache.tdb"; a file mode creates
    // the folder and takes the folder's lock, and when another process holds it the cache
    // works in memory for this run (two processes appending to the same segment files would
    // corrupt each other's records).
    void Initialize(uint8_t mode, const std::string& folder, bool useFiles, int64_t maxSize) override;

    std::string IndexFileName() const;
    // whether this process writes the segment files (file mode and the folder lock held)
    bool OwnsFiles() const { return FOwnsFiles; }

    // File mode only. The segments are flushed to the disk, then the new index is written beside
    // the old one, flushed and renamed over it: the index on the disk never names bytes that
    // are not there.
    void SaveCacheData(const std::vector<TCatalogItem*>& catalog);
    // File mode only. A damaged index empties the cache and is deleted; records naming items
    // that do not exist or whose file is not the one they were made for, records of a segment
    // whose stamp changed since the save (recycled by a run that ended without saving), and
    // pictures that are no longer in their segment, are dropped. The index stays on the disk: it
    // remains true of what it names while this run appends, so a run killed at any time loses
    // at most the pictures made since the index was last saved.
    void LoadCacheData(const std::vector<TCatalogItem*>& catalog);
    // `numberOf` gives the number an item has in the catalog the index is read with (< 0: none)
    void SaveToStream(TStream& file, const std::function<int32_t(TCatalogItem*)>& numberOf);
    void SaveToStream(TStream& file, const std::vector<TCatalogItem*>& catalog);
    void LoadFromStream(TStream& file, const std::vector<TCatalogItem*>& catalog);

    // While thumbnails are being made, the index is saved again after each picture added once
    // `intervalMs` have passed since the last save, with the numbers `numberOf` gives (those of
    // the catalog the next start reads the index with). Off until enabled; DisableAutoSave waits
    // for a save under way and must come before the catalog is numbered anew.
    void EnableAutoSave(std::function<int32_t(TCatalogItem*)> numberOf, int intervalMs = kCacheIndexSaveIntervalMs);
    void DisableAutoSave();
    // the index saved now with the auto-save's numbering when pictures were added since the last
    // save; false when there was nothing to do or the save failed (logged)
    bool SaveIndexIfChanged();

    bool AddCatalogStream(TCatalogItem* item, TMemoryStream* jpegStream, int32_t size);
    bool AddCatalogImage(TCatalogItem* item, const TBitmap* bitmap, int32_t size);
    // the cached picture with the item's orientation and corrections applied
    bool GetCatalogImage(TCatalogItem* item, TBitmap* bitmap, int32_t& size);
    // the same, reduced to fit maxEdge x maxEdge when it is larger: a picture made for a
    // bigger cell (a screen of a higher pixel ratio) serves a smaller one without being made
    // again. size is still the edge the stored picture was made for.
    bool GetCatalogImageFitted(TCatalogItem* item, TBitmap* bitmap, int32_t& size, int32_t maxEdge);
    // centres the picture in rect (stretched to fit when it was made for another size) with a
    // sunken edge around it
    bool DrawCatalogImage(TCatalogItem* item, int32_t cellSize, const TRect& rect, TBitmap* canvas);

    // the edge size the item's cached picture was made for (0 none)
    int32_t CachedSizeOf(TCatalogItem* item);
    // the item leaves the library: its record goes and it is no longer referred to
    void ForgetItem(TCatalogItem* item);

    // A picture that could not be made is remembered for the file as it is now (time and
    // size), so that views asking again and again do not send it through the decoder again.
    void MarkFailed(TCatalogItem* item, int32_t size);
    bool HasFailed(TCatalogItem* item, int32_t size);

private:
    void Remember(TCatalogItem* item);
    void DeleteIndexFile();
    void WriteIndex(const std::function<int32_t(TCatalogItem*)>& numberOf);
    void AfterAdd();

    std::mutex FItemsLock;
    std::map<uint32_t, TCatalogItem*> FItems;  // runtime id -> item, for ItemsDropped
    struct TFailure {
        int32_t Size;
        double FileTime;
        int32_t FileSize;
    };
    std::map<uint32_t, TFailure> FFailures;
    std::unique_ptr<TResourceLock> FFolderLock;
    bool FOwnsFiles = false;

    std::mutex FSaveLock;  // one index save at a time
    std::mutex FAutoSaveLock;
    std::function<int32_t(TCatalogItem*)> FAutoNumberOf;
    int FAutoSaveIntervalMs = kCacheIndexSaveIntervalMs;
    std::chrono::steady_clock::time_point FLastSave{};
    std::atomic<uint64_t> FSavedAppends{0};
    uint64_t FWrittenDigest = 0;  // of the index on the disk as this run read or wrote it (FSaveLock)
};

// The engine's door: a cache of the configured kind (1 files in the data folder, 0 memory
// deleting old files, others memory) and size in MiB.
std::unique_ptr<TCatalogImageCacheMaster> CreateCatalogImageCache(const std::string& dataFolder, uint8_t cacheKind,
                                                                  uint32_t cacheMaxSizeMB);

}  // namespace fv
