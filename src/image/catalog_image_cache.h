#pragma once
// The thumbnail cache of catalog items: the store of image_cache.h keyed by the items'
// runtime identifiers, with the index file "Cache.tdb" that lets a file cache survive a
// restart, and the drawing of an item's cached thumbnail into a grid cell. The cache holds
// pictures as the files store them; orientation and corrections are applied on every read,
// so changing them never invalidates a cached thumbnail.
//
// Life cycle (the engine's): CreateCatalogImageCache(dataFolder, kind, maxMB) after the
// configuration is loaded, LoadCacheData(catalog) once the catalog is loaded, SaveCacheData(catalog)
// before shutdown, then free it. `catalog` is the list of every item, the position in it being
// the number the index file stores; load and save must be given lists in the same order.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "image/image_cache.h"
#include "platform/resource_lock.h"

namespace fv {

class TCatalogItem;


FV_DECLARE_EXCEPTION(ECatalogImageCacheMasterError, EImageCacheMasterError);

constexpr char kCacheIndexSignature[] = "CIC_Head";
constexpr uint32_t kCacheIndexVersion = 4097;
constexpr int kCacheIndexHeaderSize = 20;  // signature, version, current, count
constexpr int kCacheIndexRecordSize = 20;

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

    // File mode only. The new index is written beside the old one and renamed over it.
    void SaveCacheData(const std::vector<TCatalogItem*>& catalog);
    // File mode only. A damaged index empties the cache and is deleted; records naming items
    // that do not exist, or pictures that are no longer in their segment, are dropped. The
    // index is deleted once read, so that a run that ends without saving (killed, crashed)
    // cannot leave an index that names pictures its segments no longer hold.
    void LoadCacheData(const std::vector<TCatalogItem*>& catalog);
    void SaveToStream(TStream& file, const std::vector<TCatalogItem*>& catalog);
    void LoadFromStream(TStream& file, const std::vector<TCatalogItem*>& catalog);

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
};

// The engine's door: a cache of the configured kind (1 files in the data folder, 0 memory
// deleting old files, others memory) and size in MiB.
std::unique_ptr<TCatalogImageCacheMaster> CreateCatalogImageCache(const std::string& dataFolder, uint8_t cacheKind,
                                                                  uint32_t cacheMaxSizeMB);

}  // namespace fv
