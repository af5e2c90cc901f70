#include "thumbs/image_cache.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "image/jpeg_codec.h"
#include "platform/byte_order.h"
#include "platform/file_ops.h"

namespace fv {

namespace {

const char* const kInvalidParameter = "パラメータが無効です。";

// a stamp no other emptying of any segment is likely to have drawn (never 0, which means none)
uint64_t NewStamp(uint64_t previous) {
    static std::mutex lock;
    static std::mt19937_64 engine = [] {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    std::lock_guard g(lock);
    uint64_t stamp;
    do stamp = engine();
    while (stamp == 0 || stamp == previous);
    return stamp;
}

std::string Composed(const char* className, const char* label, const std::exception& e) {
    return Format("%s.%s : %s Raised. (%s)", className, label, ExceptionClassName(e).c_str(), e.what());
}

}  // namespace

std::string CacheSegmentFileName(const std::string& folder, int index) {
    return Format("%s/Cache-%.2d.che", folder.c_str(), index);
}

// ---- segments ----

TCustomCacheStream::~TCustomCacheStream() {
    std::unique_lock g(FLock);
    FStream.reset();
}

void TCustomCacheStream::Open() {
    try {
        std::unique_lock g(FLock);
        if (!FStream) FStream = CreateStream();
    } catch (const std::exception& e) {
        throw ECacheStreamError(Composed(ClassName(), "CreateCacheStream", e));
    }
}

int64_t TCustomCacheStream::WriteCache(TMemoryStream* source) {
    if (!source || source->Size() <= 0) return -1;
    return WriteCache(source->Data().data(), source->Data().size());
}

int64_t TCustomCacheStream::WriteCache(const uint8_t* data, size_t size) {
    if (!data || size == 0) return -1;
    try {
        std::unique_lock g(FLock);
        if (!FStream) return -1;
        const int64_t pos = FStream->Seek(0, soEnd);
        uint8_t header[kCacheRecordHeaderSize];
        PutU32(header, kCacheRecordMagic);
        PutU32(header + 4, 1);
        PutU64(header + 8, static_cast<uint64_t>(size));
        // header and payload go out in one write where the stream allows, so that a process
        // killed in between leaves at most a record whose payload runs past the end (read as absent)
        std::vector<uint8_t> record(kCacheRecordHeaderSize + size);
        std::memcpy(record.data(), header, kCacheRecordHeaderSize);
        std::memcpy(record.data() + kCacheRecordHeaderSize, data, size);
        FUnflushed = true;
        const int64_t written = FStream->Write(record.data(), static_cast<int64_t>(record.size()));
        if (written != static_cast<int64_t>(record.size())) {
            // a short write (disk full): cut the torn record off again
            FStream->SetSize(pos);
            throw ECacheStreamError("WriteSize <> SourceSize");
        }
        return pos;
    } catch (const std::exception& e) {
        throw ECacheStreamError(Composed(ClassName(), "WriteCache", e));
    }
}

bool TCustomCacheStream::ReadCache(TMemoryStream& dest, int64_t offset, const uint64_t* generation) {
    try {
        std::unique_lock g(FLock);
        if (!FStream || offset < FHeadSize) return false;
        if (generation && *generation != FGeneration.load()) return false;
        const int64_t size = FStream->Size();
        if (offset > size - kCacheRecordHeaderSize) return false;
        FStream->Seek(offset, soBeginning);
        uint8_t header[kCacheRecordHeaderSize];
        if (FStream->Read(header, kCacheRecordHeaderSize) != kCacheRecordHeaderSize) return false;
        if (GetU32(header) != kCacheRecordMagic) return false;
        const int64_t length = static_cast<int64_t>(GetU64(header + 8));
        // the payload must lie inside the segment: a torn or foreign length reads as absent
        if (length <= 0 || length > size - offset - kCacheRecordHeaderSize) return false;
        dest.Clear();
        dest.Data().resize(static_cast<size_t>(length));
        if (FStream->Read(dest.Data().data(), length) != length) {
            dest.Clear();
            return false;
        }
        dest.SetPosition(0);
        return true;
    } catch (const std::exception& e) {
        throw ECacheStreamError(Composed(ClassName(), "ReadCache", e));
    }
}

bool TCustomCacheStream::HasRecordAt(int64_t offset) {
    try {
        std::unique_lock g(FLock);
        if (!FStream || offset < FHeadSize) return false;
        const int64_t size = FStream->Size();
        if (offset > size - kCacheRecordHeaderSize) return false;
        FStream->Seek(offset, soBeginning);
        uint8_t header[kCacheRecordHeaderSize];
        if (FStream->Read(header, kCacheRecordHeaderSize) != kCacheRecordHeaderSize) return false;
        const int64_t length = static_cast<int64_t>(GetU64(header + 8));
        return GetU32(header) == kCacheRecordMagic && length > 0 && length <= size - offset - kCacheRecordHeaderSize;
    } catch (const std::exception& e) {
        throw ECacheStreamError(Composed(ClassName(), "ReadCache", e));
    }
}

int64_t TCustomCacheStream::Size() {
    std::shared_lock g(FLock);
    return FStream ? FStream->Size() : 0;
}

void TCustomCacheStream::Clear() {
    std::unique_lock g(FLock);
    ++FGeneration;
    if (FStream) ClearStream(*FStream);
}

void TCustomCacheStream::Flush() {
    try {
        std::unique_lock g(FLock);  // appends take it too
        if (FStream && FUnflushed.exchange(false)) {
            try {
                FlushStream(*FStream);
            } catch (...) {
                FUnflushed = true;  // tried again by the next save
                throw;
            }
        }
    } catch (const std::exception& e) {
        throw ECacheStreamError(Composed(ClassName(), "Flush", e));
    }
}

int TJpegCacheStream::GetQuality() {
    std::lock_guard g(FQualityLock);
    return FQuality;
}

void TJpegCacheStream::SetQuality(int q) {
    std::lock_guard g(FQualityLock);
    FQuality = std::clamp(q, 0, 100);
}

int64_t TJpegCacheStream::WriteJpegCache(const TBitmap* bitmap) {
    try {
        if (!bitmap || bitmap->Empty()) throw ECacheStreamError("BMP is Empty");
        // libjpeg takes 1..100; quality 0 is stored as the lowest it can do
        const std::vector<uint8_t> jpeg = EncodeJpeg(*bitmap, std::max(1, GetQuality()));
        return WriteCache(jpeg.data(), jpeg.size());
    } catch (const std::exception& e) {
        throw ECacheStreamError(Composed(ClassName(), "WriteJpegCache", e));
    }
}

bool TJpegCacheStream::ReadJpegCache(TBitmap* bitmap, int64_t offset, const uint64_t* generation) {
    try {
        if (!bitmap) throw ECacheStreamError("BMP = nil");
        TMemoryStream ms;
        if (!ReadCache(ms, offset, generation)) return false;
        DecodeJpeg(ms.Data().data(), ms.Data().size(), *bitmap, 1);
        return !bitmap->Empty();
    } catch (const std::exception& e) {
        throw ECacheStreamError(Composed(ClassName(), "ReadJpegCache", e));
    }
}

std::unique_ptr<TStream> TJpegMemoryCacheStream::CreateStream() { return std::make_unique<TMemoryStream>(); }

void TJpegMemoryCacheStream::ClearStream(TStream& stream) {
    auto& ms = static_cast<TMemoryStream&>(stream);
    ms.Clear();
    ms.Data().shrink_to_fit();
}

std::unique_ptr<TStream> TJpegFileCacheStream::CreateStream() {
    if (FFileName.empty()) throw ECacheStreamError("FileName is Empty.");
    std::error_code ec;
    std::unique_ptr<TStream> stream;
    if (std::filesystem::exists(FFileName, ec))
        stream = std::make_unique<TFileStream>(FFileName, TFileStream::fmOpenReadWrite);
    else
        stream = std::make_unique<TFileStream>(FFileName, TFileStream::fmCreate);
    uint8_t head[kCacheSegmentHeadSize];
    stream->Seek(0, soBeginning);
    if (stream->Size() >= kCacheSegmentHeadSize && stream->Read(head, kCacheSegmentHeadSize) == kCacheSegmentHeadSize &&
        std::memcmp(head, kCacheSegmentSignature, 8) == 0 && GetU64(head + 8) != 0) {
        SetHead(kCacheSegmentHeadSize, GetU64(head + 8));
    } else {
        stream->SetSize(0);
        WriteHead(*stream);
    }
    return stream;
}

void TJpegFileCacheStream::WriteHead(TStream& stream) {
    const uint64_t stamp = NewStamp(Stamp());
    uint8_t head[kCacheSegmentHeadSize];
    std::memcpy(head, kCacheSegmentSignature, 8);
    PutU64(head + 8, stamp);
    stream.Seek(0, soBeginning);
    if (stream.Write(head, kCacheSegmentHeadSize) != kCacheSegmentHeadSize) {
        stream.SetSize(0);
        throw ECacheStreamError("WriteSize <> SourceSize");
    }
    // The new stamp is on the disk before the first record lands where an older index may still
    // point: after a power cut the index finds the stamp changed, never another item's picture.
    FlushStream(stream);
    SetHead(kCacheSegmentHeadSize, stamp);
}

void TJpegFileCacheStream::ClearStream(TStream& stream) {
    stream.SetSize(0);
    WriteHead(stream);
}

void TJpegFileCacheStream::FlushStream(TStream& stream) {
    auto* file = dynamic_cast<TFileStream*>(&stream);
    if (file && !FlushFileToDisk(file->Handle()))
        throw ECacheStreamError(Format("Cannot flush \"%s\". %s", FFileName.c_str(), std::strerror(errno)));
}

// ---- the master ----

TImageCacheMaster::~TImageCacheMaster() { FreeSegments(); }

void TImageCacheMaster::RaiseError(const std::string& message) { throw EImageCacheMasterError(message); }

void TImageCacheMaster::Reraise(const char* label, const std::exception& e) {
    const std::string message = Composed(ClassName(), label, e);
    RaiseError(message);
    throw EImageCacheMasterError(message);  // an override that returned
}

void TImageCacheMaster::FreeSegments() {
    std::unique_lock g(FSegmentLock);
    for (auto& s : FSegments) s.reset();
}

void TImageCacheMaster::Initialize(uint8_t mode, const std::string& folder, bool useFiles, int64_t maxSize) {
    FreeSegments();
    {
        std::unique_lock g(FLock);
        FRecords.clear();
    }
    std::lock_guard w(FWriteLock);
    FMode = mode;
    FFolder = folder;
    while (FFolder.size() > 1 && FFolder.back() == '/') FFolder.pop_back();
    FUseFiles = useFiles;
    FMaxSize = std::max<int64_t>(maxSize, 0);
    FSegmentLimit = FMaxSize / kCacheSegmentCount;
    FCurrent = 0;
    std::array<std::shared_ptr<TJpegCacheStream>, kCacheSegmentCount> made;
    for (int i = 0; i < kCacheSegmentCount; ++i) {
        const std::string name = CacheSegmentFileName(FFolder, i);
        if (mode == cmFiles) {
            if (!useFiles) continue;
            made[i] = std::make_shared<TJpegFileCacheStream>(i, name);
        } else {
            if (mode == cmMemoryDeleteFiles && !FFolder.empty()) {
                std::error_code ec;
                std::filesystem::remove(name, ec);
            }
            made[i] = std::make_shared<TJpegMemoryCacheStream>(i);
        }
        made[i]->Open();
    }
    std::unique_lock g(FSegmentLock);
    FSegments = made;
}

std::shared_ptr<TJpegCacheStream> TImageCacheMaster::Segment(int index) {
    if (index < 0 || index >= kCacheSegmentCount) return nullptr;
    std::shared_lock g(FSegmentLock);
    return FSegments[index];
}

bool TImageCacheMaster::HasSegments() {
    std::shared_lock g(FSegmentLock);
    for (auto& s : FSegments)
        if (s) return true;
    return false;
}

int64_t TImageCacheMaster::SegmentSize(int index) {
    auto s = Segment(index);
    return s ? s->Size() : 0;
}

int32_t TImageCacheMaster::GetCurrent() {
    std::lock_guard w(FWriteLock);
    return FCurrent;
}

void TImageCacheMaster::SetQuality(int quality) {
    std::shared_lock g(FSegmentLock);
    for (auto& s : FSegments)
        if (s) s->SetQuality(quality);
}

size_t TImageCacheMaster::Search(uint32_t item, bool& found) const {
    const auto it = std::lower_bound(FRecords.begin(), FRecords.end(), item,
                                     [](const TImgCacheRecord& r, uint32_t key) { return r.Item < key; });
    found = it != FRecords.end() && it->Item == item;
    return static_cast<size_t>(it - FRecords.begin());
}

bool TImageCacheMaster::Append(uint32_t item, int32_t value, const uint8_t* jpeg, size_t size) {
    std::vector<uint32_t> dropped;
    bool ok = false;
    {
        // Rotation, append and registration happen under WriteLock, so that the segment
        // cannot grow past its share of the budget and a record can never name a segment
        // that was recycled between its append and its registration. Readers never take
        // WriteLock, so taking a segment's lock inside it cannot deadlock.
        std::lock_guard w(FWriteLock);
        const int64_t need = static_cast<int64_t>(size) + kCacheRecordHeaderSize;
        if (need > FSegmentLimit) return false;  // could never fit the budget
        auto seg = Segment(FCurrent);
        // a file-mode cache without files has no segments: nothing can be stored
        if (!seg) throw ECacheStreamError("Segment = nil");
        if (seg->Size() + need > FSegmentLimit) {
            FCurrent = (FCurrent + 1) % kCacheSegmentCount;
            {
                std::unique_lock g(FLock);
                auto keep = FRecords.begin();
                for (auto& r : FRecords) {
                    if (r.Segment == FCurrent)
                        dropped.push_back(r.Item);
                    else
                        *keep++ = r;
                }
                FRecords.erase(keep, FRecords.end());
            }
            seg = Segment(FCurrent);
            if (!seg) throw ECacheStreamError("Segment = nil");
            seg->Clear();
        }
        const int64_t offset = seg->WriteCache(jpeg, size);
        if (offset >= 0) {
            SetImgCacheRecordData(item, TImgCacheRecord{item, value, FCurrent, offset});
            ++FAppends;
            ok = true;
        }
    }
    if (!dropped.empty()) ItemsDropped(dropped);
    return ok;
}

bool TImageCacheMaster::WriteCacheImage(uint32_t item, const TBitmap* bitmap, int32_t value) {
    try {
        if (item == 0 || !bitmap || bitmap->Empty()) RaiseError(kInvalidParameter);
        auto seg = Segment(0);
        const int quality = seg ? seg->GetQuality() : kDefaultCacheQuality;
        const std::vector<uint8_t> jpeg = EncodeJpeg(*bitmap, std::max(1, quality));
        return Append(item, value, jpeg.data(), jpeg.size());
    } catch (const std::exception& e) {
        Reraise("WriteCacheImage", e);
    }
}

bool TImageCacheMaster::WriteCacheImage(uint32_t item, TMemoryStream* jpegStream, int32_t value) {
    try {
        if (item == 0 || !jpegStream || jpegStream->Size() <= 0) RaiseError(kInvalidParameter);
        return Append(item, value, jpegStream->Data().data(), jpegStream->Data().size());
    } catch (const std::exception& e) {
        Reraise("WriteCacheImage", e);
    }
}

bool TImageCacheMaster::ReadCacheBytes(uint32_t item, TMemoryStream& dest, int32_t& value) {
    try {
        TImgCacheRecord rec;
        return ReadRecordBytes(item, dest, value, rec);
    } catch (const std::exception& e) {
        Reraise("ReadCacheImage", e);
    }
}

bool TImageCacheMaster::ReadRecordBytes(uint32_t item, TMemoryStream& dest, int32_t& value, TImgCacheRecord& rec) {
    if (item == 0) RaiseError(kInvalidParameter);
    std::shared_ptr<TJpegCacheStream> seg;
    uint64_t generation = 0;
    {
        // the generation is read while the record is known to be current: a rotation
        // drops the record before it empties the segment
        std::shared_lock g(FLock);
        bool found;
        const size_t at = Search(item, found);
        if (!found) return false;
        rec = FRecords[at];
        seg = Segment(rec.Segment);
        if (seg) generation = seg->Generation();
    }
    value = rec.Value;
    if (!seg) return false;
    if (seg->ReadCache(dest, rec.Offset, &generation)) return true;
    // the segment still holds what the record was written into, yet no whole record is there:
    // the picture is lost, and the item is no longer cached (a rotation dropped it itself)
    if (seg->Generation() == generation) DropDamagedRecord(item, rec);
    return false;
}

void TImageCacheMaster::DropDamagedRecord(uint32_t item, const TImgCacheRecord& rec) {
    {
        std::unique_lock g(FLock);
        bool found;
        const size_t at = Search(item, found);
        // a picture written again meanwhile stays
        if (!found || !(FRecords[at] == rec)) return;
        FRecords.erase(FRecords.begin() + static_cast<ptrdiff_t>(at));
    }
    ItemsDropped({item});
}

bool TImageCacheMaster::ReadCacheImage(uint32_t item, TBitmap* bitmap, int32_t& value) {
    try {
        if (item == 0 || !bitmap) RaiseError(kInvalidParameter);
        TMemoryStream ms;
        TImgCacheRecord rec;
        if (!ReadRecordBytes(item, ms, value, rec)) return false;
        try {
            DecodeJpeg(ms.Data().data(), ms.Data().size(), *bitmap, 1);
        } catch (const std::exception&) {
            bitmap->Clear();
        }
        if (!bitmap->Empty()) return true;
        // stored bytes that do not decode are no picture: the item is made again
        DropDamagedRecord(item, rec);
        return false;
    } catch (const std::exception& e) {
        Reraise("ReadCacheImage", e);
    }
}

bool TImageCacheMaster::GetImgCacheRecord(uint32_t item, TImgCacheRecord& record) {
    try {
        if (item == 0) RaiseError("Item = nil");
        std::shared_lock g(FLock);
        bool found;
        const size_t at = Search(item, found);
        record = found ? FRecords[at] : TImgCacheRecord();
        return found;
    } catch (const std::exception& e) {
        Reraise("GetImgCacheRecord", e);
    }
}

void TImageCacheMaster::SetImgCacheRecordData(uint32_t item, const TImgCacheRecord& record) {
    try {
        if (item == 0) RaiseError("Item = nil");
        std::unique_lock g(FLock);
        bool found;
        const size_t at = Search(item, found);
        if (!found) FRecords.insert(FRecords.begin() + static_cast<ptrdiff_t>(at), TImgCacheRecord{});
        if (at >= FRecords.size()) RaiseError("アイテムを登録できません。");
        FRecords[at] = record;
        FRecords[at].Item = item;  // the list stays sorted by the key it was found under
    } catch (const std::exception& e) {
        Reraise("SetImgCacheRecordData", e);
    }
}

int32_t TImageCacheMaster::GetCacheValue(uint32_t item) {
    TImgCacheRecord r;
    return GetImgCacheRecord(item, r) ? r.Value : 0;
}

void TImageCacheMaster::RemoveCacheRecord(uint32_t item) {
    std::unique_lock g(FLock);
    bool found;
    const size_t at = Search(item, found);
    if (found) FRecords.erase(FRecords.begin() + static_cast<ptrdiff_t>(at));
}

int TImageCacheMaster::GetAllCacheRecords(TImgCacheRecords& records, int32_t& current) {
    try {
        {
            std::shared_lock g(FLock);
            records = FRecords;
        }
        current = GetCurrent();
        return static_cast<int>(records.size());
    } catch (const std::exception& e) {
        Reraise("GetAllCacheRecords", e);
    }
}

int TImageCacheMaster::GetCacheSnapshot(TImgCacheRecords& records, int32_t& current,
                                        std::array<uint64_t, kCacheSegmentCount>& stamps) {
    try {
        std::lock_guard w(FWriteLock);  // rotations happen under it
        {
            std::shared_lock g(FLock);
            records = FRecords;
        }
        current = FCurrent;
        stamps = SegmentStamps();
        return static_cast<int>(records.size());
    } catch (const std::exception& e) {
        Reraise("GetCacheSnapshot", e);
    }
}

void TImageCacheMaster::SetAllCacheRecords(const TImgCacheRecords& records, int32_t current) {
    try {
        std::lock_guard w(FWriteLock);
        {
            std::unique_lock g(FLock);
            for (const auto& r : records)
                if (r.Item != 0) FRecords.push_back(r);
            std::stable_sort(FRecords.begin(), FRecords.end(),
                             [](const TImgCacheRecord& a, const TImgCacheRecord& b) { return a.Item < b.Item; });
            // one record per key: the last one given wins
            for (auto it = FRecords.begin(); it != FRecords.end();) {
                auto run = it;
                while (run + 1 != FRecords.end() && (run + 1)->Item == it->Item) ++run;
                if (run != it) std::swap(*it, *run);
                it = run + 1;
            }
            auto last = std::unique(FRecords.begin(), FRecords.end(),
                               [](const TImgCacheRecord& a, const TImgCacheRecord& b) { return a.Item == b.Item; });
            FRecords.erase(last, FRecords.end());
        }
        // an index from elsewhere may name any number; only 0..7 is a segment
        FCurrent = current >= 0 && current < kCacheSegmentCount ? current : 0;
    } catch (const std::exception& e) {
        Reraise("SetAllCacheRecords", e);
    }
}

void TImageCacheMaster::ClearAll() {
    std::lock_guard w(FWriteLock);
    for (int i = 0; i < kCacheSegmentCount; ++i) {
        {
            std::unique_lock g(FLock);
            FRecords.erase(std::remove_if(FRecords.begin(), FRecords.end(),
                                          [i](const TImgCacheRecord& r) { return r.Segment == i; }),
                           FRecords.end());
        }
        if (auto seg = Segment(i)) seg->Clear();
    }
    std::unique_lock g(FLock);
    FRecords.clear();  // records naming no segment at all go too
}

std::vector<uint32_t> TImageCacheMaster::DropUnreadableRecords() {
    std::lock_guard w(FWriteLock);
    TImgCacheRecords records;
    {
        std::shared_lock g(FLock);
        records = FRecords;
    }
    std::vector<uint32_t> dropped;
    for (const auto& r : records) {
        auto seg = Segment(r.Segment);
        if (!seg || !seg->HasRecordAt(r.Offset)) dropped.push_back(r.Item);
    }
    if (!dropped.empty()) {
        std::unique_lock g(FLock);
        for (uint32_t item : dropped) {
            bool found;
            const size_t at = Search(item, found);
            if (found) FRecords.erase(FRecords.begin() + static_cast<ptrdiff_t>(at));
        }
    }
    return dropped;
}

std::array<uint64_t, kCacheSegmentCount> TImageCacheMaster::SegmentStamps() {
    std::array<uint64_t, kCacheSegmentCount> stamps{};
    for (int i = 0; i < kCacheSegmentCount; ++i)
        if (auto seg = Segment(i)) stamps[i] = seg->Stamp();
    return stamps;
}

void TImageCacheMaster::FlushSegments() {
    for (int i = 0; i < kCacheSegmentCount; ++i)
        if (auto seg = Segment(i)) seg->Flush();
}

int64_t TImageCacheMaster::TotalSize() {
    int64_t total = 0;
    for (int i = 0; i < kCacheSegmentCount; ++i) total += SegmentSize(i);
    return total;
}

bool TImageCacheMaster::CanHold(int32_t count, int32_t thumbSize) const {
    int32_t bytes;
    if (thumbSize <= 80)
        bytes = 4096;
    else if (thumbSize <= 120)
        bytes = 6144;
    else if (thumbSize <= 160)
        bytes = 8192;
    else if (thumbSize <= 200)
        bytes = 24576;
    else if (thumbSize <= 240)
        bytes = 30720;
    else
        return false;
    // in 64 bits: a 32-bit product wraps negative for large counts and would claim they fit
    if (count < 0) return false;
    return static_cast<int64_t>(count) * bytes < FMaxSize;
}

}  // namespace fv
