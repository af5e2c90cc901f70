#include "thumbs/catalog_image_cache.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unordered_map>

#include "core/log.h"
#include "image/correction.h"
#include "image/jpeg_codec.h"
#include "image/resample.h"
#include "image/transform.h"
#include "library/catalog_item.h"
#include "platform/byte_order.h"
#include "platform/file_replace.h"
#include "platform/fnv_hash.h"
#include "platform/resource_lock.h"

namespace fv {

namespace {

const char* const kInvalidCacheData = "キャッシュデータが不正です。";

bool IsStoreError(const std::exception& e) {
    return dynamic_cast<const EImageCacheMasterError*>(&e) != nullptr ||
           dynamic_cast<const ECacheStreamError*>(&e) != nullptr;
}

// 1-pixel sunken edge: shadow on the top and left, light on the bottom and right
void DrawSunkenEdge(TBitmap& canvas, int x, int y, int w, int h) {
    const auto put = [&](int px, int py, uint8_t v) {
        if (px < 0 || py < 0 || px >= canvas.Width() || py >= canvas.Height()) return;
        uint8_t* p = canvas.ScanLine(py) + px * canvas.BytesPerPixel();
        p[0] = p[1] = p[2] = v;
    };
    for (int i = 0; i < w; ++i) {
        put(x + i, y, 128);
        put(x + i, y + h - 1, 255);
    }
    for (int j = 0; j < h; ++j) {
        put(x, y + j, 128);
        put(x + w - 1, y + j, 255);
    }
}

// copies pic into canvas at (x, y), clipped
void Blit(const TBitmap& pic, TBitmap& canvas, int x, int y) {
    const int bpp = canvas.BytesPerPixel();
    for (int j = 0; j < pic.Height(); ++j) {
        const int cy = y + j;
        if (cy < 0 || cy >= canvas.Height()) continue;
        const uint8_t* s = pic.ScanLine(j);
        uint8_t* d = canvas.ScanLine(cy);
        for (int i = 0; i < pic.Width(); ++i) {
            const int cx = x + i;
            if (cx < 0 || cx >= canvas.Width()) continue;
            std::memcpy(d + cx * bpp, s + i * 3, 3);
        }
    }
}

}  // namespace

TCatalogImageCacheMaster::~TCatalogImageCacheMaster() {
    FreeSegments();
    FFolderLock.reset();
}

void TCatalogImageCacheMaster::RaiseError(const std::string& message) {
    throw ECatalogImageCacheMasterError(message);
}

std::string TCatalogImageCacheMaster::IndexFileName() const { return GetFolder() + "/Cache.tdb"; }

void TCatalogImageCacheMaster::DeleteIndexFile() {
    std::error_code ec;
    std::filesystem::remove(IndexFileName(), ec);
}

void TCatalogImageCacheMaster::Initialize(uint8_t mode, const std::string& folder, bool useFiles, int64_t maxSize) {
    FOwnsFiles = false;
    FFolderLock.reset();
    if (mode == cmFiles && useFiles) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        auto lock = std::make_unique<TResourceLock>(folder + "/Cache");
        if (lock->BeginWrite(0)) {
            FFolderLock = std::move(lock);
            FOwnsFiles = true;
        } else {
            WriteLog(Format("%s.Initialize : \"%s\" is used by another process; thumbnails are kept in memory",
                            ClassName(), folder.c_str()));
            TImageCacheMaster::Initialize(2, folder, false, maxSize);
            return;
        }
    }
    TImageCacheMaster::Initialize(mode, folder, useFiles, maxSize);
    if (mode != cmFiles && !GetFolder().empty()) DeleteIndexFile();
}

void TCatalogImageCacheMaster::Remember(TCatalogItem* item) {
    std::lock_guard g(FItemsLock);
    FItems[item->RuntimeId()] = item;
}

void TCatalogImageCacheMaster::ForgetItem(TCatalogItem* item) {
    if (!item) return;
    RemoveCacheRecord(item->RuntimeId());
    std::lock_guard g(FItemsLock);
    FItems.erase(item->RuntimeId());
    FFailures.erase(item->RuntimeId());
}

void TCatalogImageCacheMaster::ItemsDropped(const std::vector<uint32_t>& items) {
    if (!GetUseFiles()) return;
    std::vector<TCatalogItem*> found;
    {
        std::lock_guard g(FItemsLock);
        for (uint32_t id : items) {
            auto it = FItems.find(id);
            if (it != FItems.end()) found.push_back(it->second);
        }
    }
    for (TCatalogItem* item : found) item->SetCachedSize(0);
}

int32_t TCatalogImageCacheMaster::CachedSizeOf(TCatalogItem* item) {
    if (!item) return 0;
    return GetUseFiles() ? item->GetCachedSize() : GetCacheValue(item->RuntimeId());
}

void TCatalogImageCacheMaster::MarkFailed(TCatalogItem* item, int32_t size) {
    if (!item) return;
    std::lock_guard g(FItemsLock);
    FFailures[item->RuntimeId()] = TFailure{size, item->GetFileTime(), item->GetFileSize()};
}

bool TCatalogImageCacheMaster::HasFailed(TCatalogItem* item, int32_t size) {
    if (!item) return false;
    std::lock_guard g(FItemsLock);
    auto it = FFailures.find(item->RuntimeId());
    if (it == FFailures.end()) return false;
    // a changed file gets another chance
    if (it->second.FileTime != item->GetFileTime() || it->second.FileSize != item->GetFileSize()) {
        FFailures.erase(it);
        return false;
    }
    return it->second.Size == size;
}

// ---- the index file ----

// FOLVANE_CACHE_SAVE_MS sets how often thumbnail work saves the index (tests use a short one)
int CacheIndexSaveIntervalMs() {
    const char* v = std::getenv("FOLVANE_CACHE_SAVE_MS");
    if (!v || !*v) return kCacheIndexSaveIntervalMs;
    char* end = nullptr;
    const long ms = std::strtol(v, &end, 10);
    return end && *end == 0 && ms >= 0 && ms <= 24L * 3600 * 1000 ? static_cast<int>(ms) : kCacheIndexSaveIntervalMs;
}

uint32_t CacheItemCheck(const TCatalogItem* item) {
    if (!item) return 0;
    const std::string name = item->GetFileName();
    uint8_t tail[12];
    PutU32(tail, static_cast<uint32_t>(item->GetFileSize()));
    const double time = item->GetFileTime();
    uint64_t bits;
    std::memcpy(&bits, &time, sizeof bits);
    PutU64(tail + 4, bits);
    return Fnv1a32(tail, sizeof tail, Fnv1a32(name.data(), name.size()));
}

void TCatalogImageCacheMaster::SaveToStream(TStream& file, const std::function<int32_t(TCatalogItem*)>& numberOf) {
    try {
        TImgCacheRecords records;
        int32_t current = 0;
        std::array<uint64_t, kCacheSegmentCount> stamps{};
        GetCacheSnapshot(records, current, stamps);
        std::unordered_map<uint32_t, TCatalogItem*> items;
        {
            std::lock_guard g(FItemsLock);
            items.reserve(FItems.size());
            for (auto& [id, item] : FItems) items.emplace(id, item);
        }
        // in the order of the numbers, so that an index saved again unchanged has the same bytes
        struct TOut {
            int32_t Number;
            TImgCacheRecord Record;
            uint32_t Check;
        };
        std::vector<TOut> out;
        out.reserve(records.size());
        for (const auto& r : records) {
            auto it = items.find(r.Item);
            if (it == items.end() || it->second->GetState() == isDeleted) continue;
            const int32_t number = numberOf(it->second);
            if (number < 0) continue;  // not in the catalog: nothing could find it again
            out.push_back({number, r, CacheItemCheck(it->second)});
        }
        std::sort(out.begin(), out.end(), [](const TOut& a, const TOut& b) { return a.Number < b.Number; });
        // the records go out in one buffer after the head, whose count is known only then
        TMemoryStream body;
        const int32_t count = static_cast<int32_t>(out.size());
        for (const TOut& o : out) {
            body.WriteI32(o.Number);
            body.WriteI32(o.Record.Value);
            body.WriteI32(o.Record.Segment);
            body.WriteI64(o.Record.Offset);
            body.WriteU32(o.Check);
        }
        file.WriteBuffer(kCacheIndexSignature, 8);
        file.WriteU32(kCacheIndexVersion);
        file.WriteI32(current);
        file.WriteI32(count);
        for (uint64_t stamp : stamps) file.WriteU64(stamp);
        file.WriteBuffer(body.Data().data(), static_cast<int64_t>(body.Data().size()));
    } catch (const std::exception& e) {
        Reraise("SaveToStream", e);
    }
}

namespace {

// an index of a library of a million photos is 24 MB
constexpr int64_t kCacheIndexDigestLimit = 64 << 20;

uint64_t Digest(const std::vector<uint8_t>& bytes) { return Fnv1a64(bytes.data(), bytes.size()); }

// an item's number is its position in the catalog (-1 when it is not in it)
std::function<int32_t(TCatalogItem*)> PositionsIn(const std::vector<TCatalogItem*>& catalog) {
    auto index = std::make_shared<std::unordered_map<uint32_t, int32_t>>();
    index->reserve(catalog.size());
    for (size_t i = 0; i < catalog.size(); ++i)
        if (catalog[i]) index->emplace(catalog[i]->RuntimeId(), static_cast<int32_t>(i));
    return [index](TCatalogItem* item) {
        auto at = index->find(item->RuntimeId());
        return at == index->end() ? -1 : at->second;
    };
}

}  // namespace

void TCatalogImageCacheMaster::SaveToStream(TStream& file, const std::vector<TCatalogItem*>& catalog) {
    SaveToStream(file, PositionsIn(catalog));
}

void TCatalogImageCacheMaster::LoadFromStream(TStream& file, const std::vector<TCatalogItem*>& catalog) {
    try {
        char signature[8];
        file.ReadBuffer(signature, 8);
        const uint32_t version = file.ReadU32();
        if (std::memcmp(signature, kCacheIndexSignature, 8) != 0) RaiseError(kInvalidCacheData);
        if (version == kCacheIndexOldVersion) {
            // an index of the older layout cannot tell which segments changed since it was saved
            WriteLog(Format("%s.LoadFromStream : an index of version %u is not read; the thumbnails are made again",
                            ClassName(), version));
            RaiseError(kInvalidCacheData);
        }
        if (version != kCacheIndexVersion) RaiseError(kInvalidCacheData);
        const int32_t current = file.ReadI32();
        const int32_t n = file.ReadI32();
        if (current < 0 || current >= kCacheSegmentCount) RaiseError(kInvalidCacheData);
        std::array<uint64_t, kCacheSegmentCount> saved{};
        for (auto& stamp : saved) stamp = file.ReadU64();
        // the count must agree with the bytes that follow before anything is allocated
        if (n < 0 || static_cast<int64_t>(n) * kCacheIndexRecordSize > file.Remaining()) RaiseError(kInvalidCacheData);
        const std::array<uint64_t, kCacheSegmentCount> stamps = SegmentStamps();
        std::vector<uint8_t> body(static_cast<size_t>(n) * kCacheIndexRecordSize);
        file.ReadBuffer(body.data(), static_cast<int64_t>(body.size()));
        TBytesStream in(body.data(), body.size());
        TImgCacheRecords records;
        records.reserve(static_cast<size_t>(n));
        std::vector<TCatalogItem*> listed;
        for (int32_t i = 0; i < n; ++i) {
            const int32_t index = in.ReadI32();
            TImgCacheRecord r;
            r.Value = in.ReadI32();
            r.Segment = in.ReadI32();
            r.Offset = in.ReadI64();
            const uint32_t check = in.ReadU32();
            if (index < 0 || static_cast<size_t>(index) >= catalog.size() || !catalog[index]) continue;
            if (r.Segment < 0 || r.Segment >= kCacheSegmentCount || r.Offset < 0 || r.Value <= 0) continue;
            // a segment recycled since the save holds other pictures where this record points
            if (saved[r.Segment] == 0 || saved[r.Segment] != stamps[r.Segment]) continue;
            TCatalogItem* item = catalog[index];
            if (check != CacheItemCheck(item)) continue;
            r.Item = item->RuntimeId();
            records.push_back(r);
            listed.push_back(item);
        }
        SetAllCacheRecords(records, current);
        // pictures whose segment was deleted or cut short since the index was written
        const std::vector<uint32_t> gone = DropUnreadableRecords();
        std::vector<uint32_t> sortedGone(gone);
        std::sort(sortedGone.begin(), sortedGone.end());
        for (TCatalogItem* item : listed) {
            if (std::binary_search(sortedGone.begin(), sortedGone.end(), item->RuntimeId())) continue;
            // a number listed twice keeps its last record; the item's size follows that record
            const int32_t kept = GetCacheValue(item->RuntimeId());
            if (kept == 0) continue;
            Remember(item);
            if (GetUseFiles()) item->SetCachedSize(kept);
        }
    } catch (const std::exception& e) {
        Reraise("LoadfromStream", e);
    }
}

void TCatalogImageCacheMaster::WriteIndex(const std::function<int32_t(TCatalogItem*)>& numberOf) {
    std::error_code ec;
    if (!std::filesystem::is_directory(GetFolder(), ec)) return;
    const uint64_t appends = AppendCount();
    TMemoryStream index;
    SaveToStream(index, numberOf);
    const uint64_t digest = Digest(index.Data());
    // the same index as the one on the disk (nothing made, moved or dropped since) is not
    // written again: an end without new thumbnails costs no flush
    if (digest != FWrittenDigest || !std::filesystem::exists(IndexFileName(), ec)) {
        // every byte the index names is on the disk before the index that names it
        FlushSegments();
        ReplaceFileContents(IndexFileName(), index.Data().data(), index.Data().size(), 0600);
        FWrittenDigest = digest;
    }
    FSavedAppends = appends;
    FLastSave = std::chrono::steady_clock::now();
}

void TCatalogImageCacheMaster::SaveCacheData(const std::vector<TCatalogItem*>& catalog) {
    if (GetMode() != cmFiles || !FOwnsFiles) return;
    try {
        const auto numberOf = PositionsIn(catalog);
        std::lock_guard g(FSaveLock);
        WriteIndex(numberOf);
    } catch (const std::exception& e) {
        Reraise("SaveCacheData", e);
    }
}

void TCatalogImageCacheMaster::EnableAutoSave(std::function<int32_t(TCatalogItem*)> numberOf, int intervalMs) {
    std::lock_guard save(FSaveLock);
    std::lock_guard g(FAutoSaveLock);
    FAutoNumberOf = std::move(numberOf);
    FAutoSaveIntervalMs = std::max(0, intervalMs);
    FLastSave = std::chrono::steady_clock::now();
    FSavedAppends = AppendCount();
}

void TCatalogImageCacheMaster::DisableAutoSave() {
    {
        std::lock_guard g(FAutoSaveLock);
        FAutoNumberOf = nullptr;
    }
    // a save that began before is over when this returns
    std::lock_guard wait(FSaveLock);
}

void TCatalogImageCacheMaster::AfterAdd() {
    if (!FOwnsFiles || AppendCount() == FSavedAppends.load()) return;
    // one save at a time; a thread that finds one under way goes on with its pictures
    std::unique_lock save(FSaveLock, std::try_to_lock);
    if (!save.owns_lock()) return;
    std::function<int32_t(TCatalogItem*)> numberOf;
    {
        std::lock_guard g(FAutoSaveLock);
        if (!FAutoNumberOf) return;
        const auto due = FLastSave + std::chrono::milliseconds(FAutoSaveIntervalMs);
        if (std::chrono::steady_clock::now() < due) return;
        numberOf = FAutoNumberOf;
    }
    try {
        WriteIndex(numberOf);
    } catch (const std::exception& e) {
        // the pictures stay; the index is tried again after the next interval
        FLastSave = std::chrono::steady_clock::now();
        WriteLogFailed(Format("%s.SaveIndex", ClassName()), e);
    }
}

void TCatalogImageCacheMaster::LoadCacheData(const std::vector<TCatalogItem*>& catalog) {
    if (GetMode() != cmFiles || !FOwnsFiles) return;
    const std::string name = IndexFileName();
    std::error_code ec;
    if (!std::filesystem::exists(name, ec)) {
        // without an index nothing in the segments can be found again
        ClearAll();
        return;
    }
    try {
        TFileStream file(name, TFileStream::fmOpenRead);
        // Read once and kept for its digest, so that an end with nothing changed need not write
        // it again; a file far larger than any index is read as a stream and simply written anew.
        uint64_t digest = 0;
        if (file.Size() <= kCacheIndexDigestLimit) {
            std::vector<uint8_t> bytes(static_cast<size_t>(file.Size()));
            file.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
            TBytesStream in(bytes.data(), bytes.size());
            LoadFromStream(in, catalog);
            digest = Digest(bytes);
        } else {
            LoadFromStream(file, catalog);
        }
        std::lock_guard g(FSaveLock);
        FWrittenDigest = digest;
    } catch (const std::exception& e) {
        WriteLogFailed(Format("%s.LoadCacheData", ClassName()), e);
        ClearAll();
        std::lock_guard g(FItemsLock);
        for (auto& [id, item] : FItems) item->SetCachedSize(0);
        // an index that cannot be read names nothing any more
        DeleteIndexFile();
    }
}

// ---- pictures ----

bool TCatalogImageCacheMaster::AddCatalogStream(TCatalogItem* item, TMemoryStream* jpegStream, int32_t size) {
    if (!item) RaiseError("Item = nil");
    if (!jpegStream) RaiseError("MemoryStream = nil");
    if (jpegStream->Size() <= 0) RaiseError("MemoryStream is Empty");
    try {
        Remember(item);
        if (!WriteCacheImage(item->RuntimeId(), jpegStream, size)) return false;
        if (GetUseFiles()) item->SetCachedSize(size);
        AfterAdd();
        return true;
    } catch (const std::exception& e) {
        if (IsStoreError(e)) return false;
        Reraise("AddCatalogStream", e);
    }
}

bool TCatalogImageCacheMaster::AddCatalogImage(TCatalogItem* item, const TBitmap* bitmap, int32_t size) {
    if (!item) RaiseError("Item = nil");
    if (!bitmap) RaiseError("BMP = nil");
    if (bitmap->Empty()) RaiseError("BMP is Empty");
    try {
        Remember(item);
        if (!WriteCacheImage(item->RuntimeId(), bitmap, size)) return false;
        if (GetUseFiles()) item->SetCachedSize(size);
        AfterAdd();
        return true;
    } catch (const std::exception& e) {
        if (IsStoreError(e)) return false;
        Reraise("AddCatalogImage", e);
    }
}

bool TCatalogImageCacheMaster::GetCatalogImage(TCatalogItem* item, TBitmap* bitmap, int32_t& size) {
    if (!item) RaiseError("Item = nil");
    if (!bitmap) RaiseError("BMP = nil");
    try {
        size = 0;
        if (!ReadCacheImage(item->RuntimeId(), bitmap, size) || bitmap->Empty() || size == 0) return false;
        ApplyOrientation(*bitmap, item->GetOrientation());
        const TCorrectionRecord c = item->GetCorrection();
        if (c.Enabled) ApplyCorrections(*bitmap, c);
        return true;
    } catch (const std::exception& e) {
        if (IsStoreError(e)) return false;
        Reraise("GetCatalogImage", e);
    }
}

bool TCatalogImageCacheMaster::GetCatalogImageFitted(TCatalogItem* item, TBitmap* bitmap, int32_t& size,
                                                     int32_t maxEdge) {
    if (!GetCatalogImage(item, bitmap, size)) return false;
    const int w = bitmap->Width(), h = bitmap->Height();
    if (maxEdge <= 0 || (w <= maxEdge && h <= maxEdge)) return true;
    const TSize fit = FitSize(maxEdge, maxEdge, w, h);
    if (fit.Width <= 0 || fit.Height <= 0) return true;
    TBitmap fitted(fit.Width, fit.Height);
    FilteredResample(*bitmap, fitted, fkTriangle);
    bitmap->Swap(fitted);
    return true;
}

bool TCatalogImageCacheMaster::DrawCatalogImage(TCatalogItem* item, int32_t cellSize, const TRect& rect,
                                                TBitmap* canvas) {
    if (!item) RaiseError("Item = nil");
    if (!canvas) RaiseError("Canvas = nil");
    if (cellSize == 0) RaiseError("ImgSize = 0");
    try {
        TBitmap pic;
        int32_t size = 0;
        if (!GetCatalogImage(item, &pic, size)) return false;
        int w = pic.Width(), h = pic.Height();
        const bool fits = (w == cellSize && h <= cellSize) || (w <= cellSize && h == cellSize);
        const bool recorded = w == item->GetWidth() && h == item->GetHeight();
        if (!fits && !recorded) {
            const TSize fit = FitSize(rect.Width() + 1, rect.Height() + 1, w, h);
            if (fit.Width > 0 && fit.Height > 0 && (fit.Width != w || fit.Height != h)) {
                TBitmap scaled(fit.Width, fit.Height);
                FilteredResample(pic, scaled, fkTriangle);
                pic.Swap(scaled);
                w = fit.Width;
                h = fit.Height;
            }
        }
        const int x = (rect.Left + rect.Right - w + 1) / 2;
        const int y = (rect.Top + rect.Bottom - h + 1) / 2;
        Blit(pic, *canvas, x, y);
        DrawSunkenEdge(*canvas, x - 1, y - 1, w + 2, h + 2);
        return true;
    } catch (const std::exception& e) {
        if (IsStoreError(e)) return false;
        Reraise("DrawCatalogImage", e);
    }
}

std::unique_ptr<TCatalogImageCacheMaster> CreateCatalogImageCache(const std::string& dataFolder, uint8_t cacheKind,
                                                                  uint32_t cacheMaxSizeMB) {
    auto cache = std::make_unique<TCatalogImageCacheMaster>();
    cache->Initialize(cacheKind, dataFolder, true, static_cast<int64_t>(cacheMaxSizeMB) * 1024 * 1024);
    return cache;
}

}  // namespace fv
