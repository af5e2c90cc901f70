#pragma once
// The thumbnail cache store: eight append-only segments (memory streams or "Cache-%.2d.che"
// files) used as a ring, and TImageCacheMaster, which maps a 32-bit item key to the place of
// its JPEG and recycles the oldest segment when the current one is full.
//
// A segment file starts with a 16-byte head: the signature "CIC_Seg1" and a random 64-bit stamp
// drawn anew each time the segment is emptied. An index that recorded the stamp knows, at the
// next start, whether the segment still holds what it named: a segment recycled since (by a run
// that was killed before it saved its index) has another stamp, and only its records are dropped.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "platform/stream.h"

namespace fv {

FV_DECLARE_EXCEPTION(ECacheStreamError, Exception);
FV_DECLARE_EXCEPTION(EImageCacheMasterError, Exception);

constexpr int kCacheSegmentCount = 8;
constexpr uint32_t kCacheRecordMagic = 0x88888888u;
constexpr int kCacheRecordHeaderSize = 16;
constexpr int64_t kDefaultCacheMaxSize = 16777216;
constexpr char kCacheSegmentSignature[] = "CIC_Seg1";
constexpr int kCacheSegmentHeadSize = 16;  // signature, stamp
constexpr int kDefaultCacheQuality = 85;

// "%s/Cache-%.2d.che"
std::string CacheSegmentFileName(const std::string& folder, int index);

// One segment: a stream that records are appended to and that is emptied as a whole.
class TCustomCacheStream {
public:
    explicit TCustomCacheStream(int index) : FIndex(index) {}
    virtual ~TCustomCacheStream();
    TCustomCacheStream(const TCustomCacheStream&) = delete;
    TCustomCacheStream& operator=(const TCustomCacheStream&) = delete;

    virtual const char* ClassName() const { return "TCustomCacheStream"; }
    int Index() const { return FIndex; }

    // Creates the inner stream (once, right after construction); failures raise the
    // "CreateCacheStream" error.
    void Open();
    // Appends a record holding the bytes; the offset of its header, or -1 when there is no
    // inner stream or no bytes.
    int64_t WriteCache(const uint8_t* data, size_t size);
    int64_t WriteCache(TMemoryStream* source);
    // The payload of the record at offset into dest; false for anything that is not a whole
    // record with the magic and a positive length. With a generation, also false when the
    // segment was emptied since that generation was read.
    bool ReadCache(TMemoryStream& dest, int64_t offset, const uint64_t* generation = nullptr);
    // whether a whole record (magic, positive length, payload inside the segment) starts at offset
    bool HasRecordAt(int64_t offset);
    int64_t Size();
    void Clear();
    // counts the times the segment was emptied
    uint64_t Generation() const { return FGeneration.load(); }
    // the random stamp at the head of a segment file (0 for a memory segment); a new one each
    // time the segment is emptied
    uint64_t Stamp() const { return FStamp.load(); }
    // where the first record goes: past the head of a segment file
    int64_t FirstRecordOffset() const { return FHeadSize; }
    // the segment's bytes on the disk (nothing for a memory segment, nor when nothing was
    // appended since the last flush); raises ECacheStreamError
    void Flush();

protected:
    virtual std::unique_ptr<TStream> CreateStream() = 0;
    virtual void ClearStream(TStream& stream) = 0;
    virtual void FlushStream(TStream& stream) { (void)stream; }
    // called with the segment's lock held, by CreateStream and ClearStream of a file segment
    void SetHead(int64_t size, uint64_t stamp) {
        FHeadSize = size;
        FStamp = stamp;
    }
    // the segment's lock; appends and clears take it exclusively, so do reads: the inner
    // stream has a single position shared by seek and read
    std::shared_mutex FLock;

private:
    int FIndex;
    std::unique_ptr<TStream> FStream;
    std::atomic<uint64_t> FGeneration{0};
    std::atomic<uint64_t> FStamp{0};
    std::atomic<bool> FUnflushed{false};  // appended to since the last flush
    int64_t FHeadSize = 0;
};

class TJpegCacheStream : public TCustomCacheStream {
public:
    using TCustomCacheStream::TCustomCacheStream;
    const char* ClassName() const override { return "TJpegCacheStream"; }

    int GetQuality();
    void SetQuality(int q);  // clamped to 0..100
    // "BMP is Empty" for an empty bitmap; compresses with the quality and appends
    int64_t WriteJpegCache(const TBitmap* bitmap);
    // ReadCache, then a full-size decode; "BMP = nil" for a missing bitmap
    bool ReadJpegCache(TBitmap* bitmap, int64_t offset, const uint64_t* generation = nullptr);

private:
    std::mutex FQualityLock;
    int FQuality = kDefaultCacheQuality;
};

class TJpegMemoryCacheStream : public TJpegCacheStream {
public:
    using TJpegCacheStream::TJpegCacheStream;
    const char* ClassName() const override { return "TJpegMemoryCacheStream"; }

protected:
    std::unique_ptr<TStream> CreateStream() override;
    void ClearStream(TStream& stream) override;
};

class TJpegFileCacheStream : public TJpegCacheStream {
public:
    TJpegFileCacheStream(int index, std::string fileName) : TJpegCacheStream(index), FFileName(std::move(fileName)) {}
    const char* ClassName() const override { return "TJpegFileCacheStream"; }
    const std::string& FileName() const { return FFileName; }

protected:
    // A file without a whole head (new, cut short, or of an older layout whose records an index
    // can no longer vouch for) is emptied and gets a head with a fresh stamp, on the disk before
    // any record is appended.
    std::unique_ptr<TStream> CreateStream() override;
    void ClearStream(TStream& stream) override;
    void FlushStream(TStream& stream) override;

private:
    void WriteHead(TStream& stream);
    std::string FFileName;
};

// 20 bytes in the index file; Item 0 marks an empty slot.
struct TImgCacheRecord {
    uint32_t Item = 0;
    int32_t Value = 0;
    int32_t Segment = 0;
    int64_t Offset = 0;
    bool operator==(const TImgCacheRecord&) const = default;
};
using TImgCacheRecords = std::vector<TImgCacheRecord>;

// cache modes
enum : uint8_t { cmMemoryDeleteFiles = 0, cmFiles = 1 };

class TImageCacheMaster {
public:
    TImageCacheMaster() = default;
    virtual ~TImageCacheMaster();
    TImageCacheMaster(const TImageCacheMaster&) = delete;
    TImageCacheMaster& operator=(const TImageCacheMaster&) = delete;

    virtual const char* ClassName() const { return "TImageCacheMaster"; }
    // raises EImageCacheMasterError (subclasses their own kind)
    [[noreturn]] virtual void RaiseError(const std::string& message);
    // the items whose pictures a rotation discarded; called with no lock held
    virtual void ItemsDropped(const std::vector<uint32_t>& items) { (void)items; }
    virtual void Initialize(uint8_t mode, const std::string& folder, bool useFiles, int64_t maxSize);

    // A record whose picture cannot be read (its segment not emptied since) or decoded is dropped
    // and reported through ItemsDropped: the item is no longer cached.
    bool ReadCacheImage(uint32_t item, TBitmap* bitmap, int32_t& value);
    bool WriteCacheImage(uint32_t item, const TBitmap* bitmap, int32_t value);
    bool WriteCacheImage(uint32_t item, TMemoryStream* jpegStream, int32_t value);
    // the stored JPEG bytes themselves (no decode)
    bool ReadCacheBytes(uint32_t item, TMemoryStream& dest, int32_t& value);

    bool GetImgCacheRecord(uint32_t item, TImgCacheRecord& record);
    void SetImgCacheRecordData(uint32_t item, const TImgCacheRecord& record);
    int32_t GetCacheValue(uint32_t item);
    // removes one item's record (the picture stays in its segment until the segment is recycled)
    void RemoveCacheRecord(uint32_t item);

    int GetAllCacheRecords(TImgCacheRecords& records, int32_t& current);
    // the records, the current segment and the segments' stamps at one moment: no segment is
    // recycled between the copy of the records and that of the stamps
    int GetCacheSnapshot(TImgCacheRecords& records, int32_t& current,
                         std::array<uint64_t, kCacheSegmentCount>& stamps);
    void SetAllCacheRecords(const TImgCacheRecords& records, int32_t current);

    void ClearAll();
    int64_t TotalSize();
    bool CanHold(int32_t count, int32_t thumbSize) const;

    uint8_t GetMode() const { return FMode; }
    const std::string& GetFolder() const { return FFolder; }
    bool GetUseFiles() const { return FUseFiles; }
    int64_t GetMaxSize() const { return FMaxSize; }
    int64_t GetSegmentLimit() const { return FSegmentLimit; }
    int32_t GetCurrent();
    bool HasSegments();
    // the size of one segment (0 when absent)
    int64_t SegmentSize(int index);
    void SetQuality(int quality);
    // drops the records that do not name a whole record in an existing segment (a segment file
    // deleted or cut short since the index was written); the dropped keys are returned
    std::vector<uint32_t> DropUnreadableRecords();
    // the stamp of each segment (0 where there is none)
    std::array<uint64_t, kCacheSegmentCount> SegmentStamps();
    // every segment's bytes on the disk; raises ECacheStreamError when one cannot be flushed
    void FlushSegments();
    // counts the records appended so far (an index saved at one count needs no save until it moves)
    uint64_t AppendCount() const { return FAppends.load(); }

protected:
    // "%s.%s : %s Raised. (%s)" through RaiseError
    [[noreturn]] void Reraise(const char* label, const std::exception& e);
    void FreeSegments();

private:
    std::shared_ptr<TJpegCacheStream> Segment(int index);
    bool Append(uint32_t item, int32_t value, const uint8_t* jpeg, size_t size);
    // the bytes of the item's record (rec: the record they were read for)
    bool ReadRecordBytes(uint32_t item, TMemoryStream& dest, int32_t& value, TImgCacheRecord& rec);
    // drops a record whose picture cannot be read or decoded (unless the item was written again)
    // and reports the item as dropped
    void DropDamagedRecord(uint32_t item, const TImgCacheRecord& rec);
    // the position of the item, or where it belongs (found = false)
    size_t Search(uint32_t item, bool& found) const;

    std::shared_mutex FLock;
    TImgCacheRecords FRecords;  // sorted by Item
    std::shared_mutex FSegmentLock;
    std::array<std::shared_ptr<TJpegCacheStream>, kCacheSegmentCount> FSegments;
    std::mutex FWriteLock;
    std::atomic<uint64_t> FAppends{0};
    int32_t FCurrent = 0;
    uint8_t FMode = 2;
    std::string FFolder;
    bool FUseFiles = false;
    int64_t FMaxSize = kDefaultCacheMaxSize;
    int64_t FSegmentLimit = kDefaultCacheMaxSize / kCacheSegmentCount;
};

}  // namespace fv
