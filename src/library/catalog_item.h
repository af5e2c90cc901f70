#pragma once
// The library's record of one file: name, kind, size, times, picture facts, the user's
// marks, rating, orientation and corrections, a camera summary, and cache bookkeeping.
// Persisted as a fixed 140-byte record (version 54) followed by seven texts.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "metadata/correction_record.h"
#include "library/custom_folder.h"
#include "library/image_facts.h"
#include "platform/datetime.h"
#include "platform/pixel_format.h"
#include "platform/stream.h"

namespace fv {

class TFolder;

// item states (runtime)
enum : uint8_t { isUnknown = 0, isPresent = 1, isMissing = 2, isDeleted = 3 };

// flag set bits
enum : uint8_t {
    ifMark = 0x01,
    ifViewable = 0x02,
    ifThumbOutOfDate = 0x04,
    ifReadOnly = 0x08,
    ifCameraSummaryOutOfDate = 0x10,
    ifDeleteReservation = 0x20,
    ifMusicTagOutOfDate = 0x40,
};

// camera-data states
enum : uint8_t { cdNotRead = 0, cdRead = 1, cdNone = 2 };

// info kinds for GetInfoText
enum : int {
    ikiFileName = 0,
    ikiExtension = 1,
    ikiImageSize = 2,
    ikiPixelFormat = 3,
    ikiFileSize = 4,
    ikiFileTime = 5,
    ikiComment = 6,
    ikiFolder = 7,
};

std::string InfoKindLabel(int infoKind);
// "#,##0"
std::string FormatThousands(int64_t v);
// bytes of the items alive (they come from a pool of their own, not from the heap)
size_t CatalogItemPoolBytes();

// One directory entry as the enumeration hands it over.
struct TSearchRec {
    std::string Name;
    int64_t Size = 0;
    int64_t MTimeSec = 0;  // last write, Unix seconds
    int32_t MTimeNsec = 0;
    bool ReadOnly = false;
};

// The persisted 140-byte record, as fields. Encoded and decoded field by field.
struct TCatalogItemRecord {
    static constexpr int kSize = 140;
    static constexpr uint32_t kVersion = 54;

    int32_t ItemNumber = 0;
    int32_t Reserved0 = -1;  // written as 0
    uint8_t Kind = 0;
    uint8_t PixelFormat = 0;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t FileSize = 0;
    TDateTime FileTime = 0;
    TCorrectionRecord Correction;
    uint8_t CacheStates[5] = {0, 0, 0, 0, 0};
    int32_t CacheIndices[5] = {-1, -1, -1, -1, -1};
    uint8_t Reserved83[5] = {0, 0, 0, 0, 0};
    int16_t StoredPosition = -1;
    uint8_t CameraState = cdNotRead;
    uint8_t Reserved91 = 0;
    uint8_t PrintReservation = 0;
    uint8_t Flags = ifThumbOutOfDate | ifCameraSummaryOutOfDate;
    uint16_t Orientation = 1;
    int32_t CacheSlotA = -1;
    int32_t CacheSlotB = -1;
    TDateTime ShootingDate = 0;
    uint8_t Rating = 0;
    float ResolutionX = 0, ResolutionY = 0;
    float FocalLength = 0, ExposureTime = 0, FNumber = 0, ExposureBias = 0;
    uint8_t InCalendar = 0;
    uint8_t CommentImported = 0;
    uint8_t OrientationKnown = 0;

    void Encode(uint8_t* p) const;  // kSize bytes
    void Decode(const uint8_t* p);
};

class TCatalogItem {
public:
    TCatalogItem();
    virtual ~TCatalogItem();
    TCatalogItem(const TCatalogItem&) = delete;
    TCatalogItem& operator=(const TCatalogItem&) = delete;
    // Items live in a pool of their own: loading a large library then costs one page fault per
    // 2 MiB instead of one per 4 KiB, and no heap header per item.
    static void* operator new(size_t size);
    static void operator delete(void* block, size_t size) noexcept;

    virtual const char* ClassName() const { return "TCatalogItem"; }
    uint32_t RuntimeId() const { return FRuntimeId; }

    // virtual operations
    virtual bool IsRemoteItem() const { return false; }
    virtual std::string GetFileName() const;
    virtual bool GetExifTextLines(const std::vector<std::string>& formatArgs, std::vector<std::string>& lines);
    virtual int LoadRemoteImage(TStream& stream, int size, int kind);
    virtual void LoadFromStream(TStream& stream);
    virtual void SaveToStream(TStream& stream);

    // the whole persisted record (a copy) and its replacement
    TCatalogItemRecord GetRecord() const;
    void SetRecord(const TCatalogItemRecord& rec);

    // texts
    std::string GetTitle() const;
    void SetTitle(const std::string& s);
    std::string GetFurtherText() const;
    void SetFurtherText(const std::string& s);
    std::string GetComment() const;
    void SetComment(const std::string& s);
    std::string GetModelName() const;
    void SetModelName(const std::string& s);
    std::string GetIsoText() const;
    void SetIsoText(const std::string& s);
    std::string GetSourceLocation() const;
    void SetSourceLocation(const std::string& s);

    // the ICU sort key of the file name ignoring case (kept until the name changes)
    std::string GetNameKey() const;
    // What sorting looks at, read under one lock; the name key is appended to `keys`.
    struct TSortFacts {
        size_t KeyOffset, KeyLength;
        TDateTime FileTime, ShootingDate;
        int32_t Group;
        int16_t Position;
    };
    void GetSortFacts(TSortFacts& out, std::string& keys) const;

    // derived texts
    std::string GetExtension() const;
    std::string GetNameWithoutExtension() const;
    std::string GetFolderPath() const;
    std::string GetFullPath() const;
    bool IsJpeg() const { return GetKind() == 1; }
    bool HasCameraDataKind() const {
        uint8_t k = GetKind();
        return k == 1 || k == 4;
    }
    std::string GetInfoText(int infoKind) const;

    // name and owner
    void SetFileName(const std::string& name);
    TFolder* GetOwner() const;
    void SetOwner(TFolder* folder, bool resetPosition);

    uint8_t GetState() const;
    void SetState(uint8_t state);
    void SetMissing(bool missing) { SetState(missing ? isMissing : isPresent); }
    bool IsUnavailable() const;

    // record fields
    int32_t GetItemNumber() const;
    void SetItemNumber(int32_t v);
    uint8_t GetKind() const;
    void SetKind(uint8_t v);
    uint8_t GetPixelFormat() const;
    void SetPixelFormat(uint8_t v);
    int32_t GetWidth() const;
    int32_t GetHeight() const;
    void SetSize(int32_t width, int32_t height);
    int32_t GetFileSize() const;
    void SetFileSize(int32_t v);
    TDateTime GetFileTime() const;
    void SetFileTime(TDateTime v);
    TCorrectionRecord GetCorrection() const;
    void SetCorrection(const TCorrectionRecord& c);
    int16_t GetStoredPosition() const;
    void SetStoredPosition(int16_t v);
    uint8_t GetCameraState() const;
    void SetCameraState(uint8_t v);
    uint8_t GetPrintReservation() const;
    void SetPrintReservation(uint8_t v);
    uint8_t GetFlags() const;
    bool HasFlag(uint8_t bit) const { return (GetFlags() & bit) != 0; }
    void SetFlag(uint8_t bit, bool on);
    bool IsMarked() const { return HasFlag(ifMark); }
    void SetMarked(bool on) { SetFlag(ifMark, on); }
    int GetOrientation() const;
    bool SetOrientation(int o);  // 1..8 only; marks the orientation known
    bool IsOrientationKnown() const;
    int32_t GetCacheSlotA() const;
    void SetCacheSlotA(int32_t v);
    int32_t GetCacheSlotB() const;
    void SetCacheSlotB(int32_t v);
    TDateTime GetShootingDate() const;
    void SetShootingDate(TDateTime d);
    uint8_t GetRating() const;
    bool SetRating(int r);  // 0..3 only
    bool IsInCalendar() const;
    void SetInCalendar(bool on);
    bool IsCommentImported() const;
    void SetCommentImported(bool on);
    void SetCameraSummary(float resX, float resY, float focal, float exposure, float fnumber, float bias);
    void MarkCameraSummaryOutOfDate();

    // runtime fields
    int32_t GetGroupNumber() const;
    void SetGroupNumber(int32_t v);
    int16_t GetManualPosition() const;
    void SetManualPosition(int16_t v);
    int32_t GetCounter() const;
    void SetCounter(int32_t v);
    int32_t GetCachedSize() const;
    void SetCachedSize(int32_t v);
    int32_t GetMemoryCacheIndex(int set, int size) const;
    void SetMemoryCacheIndex(int set, int size, int32_t v);
    uint8_t GetTrayByte() const;
    void SetTrayByte(uint8_t v);
    uint8_t GetUploadByte() const;
    void SetUploadByte(uint8_t v);
    bool HasCameraDataObject() const;
    void SetCameraDataObject(std::unique_ptr<TCameraDataBase> data);
    void ResetCacheBookkeeping();

    // directory entries, invalidation, picture facts
    void UpdateFromSearchRec(const TSearchRec& rec);
    void UpdateFromSearchRecEx(const TSearchRec& rec, uint8_t kind, bool viewable);
    void Invalidate();
    void ReadImageInfo();
    int64_t GetPixelCount();
    void CopyDataFrom(TCatalogItem& other);

    // orientation transforms on the stored value
    void RotateRight();
    void RotateLeft();
    void FlipVertical();
    void FlipHorizontal();

    // albums containing the item
    bool AddAlbum(TCustomFolder* album);
    void RemoveAlbum(TCustomFolder* album);
    int CountAlbumsOfTypes(uint16_t typeSet) const;
    std::vector<TCustomFolder*> GetAlbums() const;

    // for the owner folder only: set the name without touching any list
    void SetFileNameRaw(const std::string& name);
    // name and its collation key together (the folder computed the key already)
    void SetFileNameAndKey(const std::string& name, const std::string& key);
    void SetOwnerRaw(TFolder* folder);

protected:
    mutable std::recursive_mutex FLock;

private:
    void InvalidateLocked();
    void ResetCacheLocked();

    uint32_t FRuntimeId;
    TFolder* FOwner = nullptr;
    uint8_t FState = isUnknown;
    int32_t FGroupNumber = 0;
    int16_t FManualPosition = -1;
    int32_t FMemoryCache[2][5] = {{-1, -1, -1, -1, -1}, {-1, -1, -1, -1, -1}};
    int32_t FCounter = 0;
    int32_t FCachedSize = 0;
    std::unique_ptr<TCameraDataBase> FCameraData;
    uint8_t FTrayByte = 0, FUploadByte = 0;
    std::vector<TCustomFolder*> FAlbums;

    TCatalogItemRecord FRec;
    std::string FFileName;
    // The six further texts are empty for most files: they live in one block made when the
    // first of them is set, which keeps a large library small.
    struct TItemTexts {
        std::string Title, FurtherText, Comment, ModelName, IsoText, SourceLocation;
        bool Empty() const {
            return Title.empty() && FurtherText.empty() && Comment.empty() && ModelName.empty() && IsoText.empty() &&
                   SourceLocation.empty();
        }
    };
    std::unique_ptr<TItemTexts> FTexts;
    mutable std::string FNameKey;
    mutable bool FNameKeyValid = false;
};

}  // namespace fv
