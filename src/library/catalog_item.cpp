#include "library/catalog_item.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/log.h"
#include "library/folder.h"
#include "library/item_calendar_link.h"
#include "metadata/orientation.h"
#include "platform/collate.h"
#include "platform/page_memory.h"

namespace fv {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

std::mutex gProviderLock;
std::shared_ptr<TImageFactsProvider> gProvider;
std::mutex gCalendarLock;
std::shared_ptr<TItemCalendarLink> gCalendar;

uint32_t FloatBits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}
float BitsFloat(uint32_t u) {
    float f;
    std::memcpy(&f, &u, 4);
    return f;
}
uint64_t DoubleBits(double d) {
    uint64_t u;
    std::memcpy(&u, &d, 8);
    return u;
}
double BitsDouble(uint64_t u) {
    double d;
    std::memcpy(&d, &u, 8);
    return d;
}

}  // namespace

void SetImageFactsProvider(std::shared_ptr<TImageFactsProvider> provider) {
    std::lock_guard<std::mutex> g(gProviderLock);
    gProvider = std::move(provider);
}

std::shared_ptr<TImageFactsProvider> GetImageFactsProvider() {
    std::lock_guard<std::mutex> g(gProviderLock);
    return gProvider;
}

void SetItemCalendarLink(std::shared_ptr<TItemCalendarLink> link) {
    std::lock_guard<std::mutex> g(gCalendarLock);
    gCalendar = std::move(link);
}

std::shared_ptr<TItemCalendarLink> GetItemCalendarLink() {
    std::lock_guard<std::mutex> g(gCalendarLock);
    return gCalendar;
}

std::string InfoKindLabel(int infoKind) {
    static const char* const kLabels[] = {"ファイル名", "拡張子", "画像サイズ", "色数", "ファイルサイズ", "ファイル更新日時", "コメント", "フォルダ名"};
    return infoKind >= 0 && infoKind <= 7 ? kLabels[infoKind] : std::string();
}

std::string FormatThousands(int64_t v) {
    bool neg = v < 0;
    uint64_t u = neg ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    std::string digits = std::to_string(u);
    std::string out;
    int n = static_cast<int>(digits.size());
    for (int i = 0; i < n; ++i) {
        out += digits[static_cast<size_t>(i)];
        int left = n - 1 - i;
        if (left > 0 && left % 3 == 0) out += ',';
    }
    return neg ? "-" + out : out;
}

// ---------------------------------------------------------------------------
// record layout

void TCatalogItemRecord::Encode(uint8_t* p) const {
    std::memset(p, 0, kSize);
    PutU32(p + 0, static_cast<uint32_t>(ItemNumber));
    PutU32(p + 4, static_cast<uint32_t>(Reserved0));
    p[8] = Kind;
    p[9] = PixelFormat;
    PutU32(p + 10, static_cast<uint32_t>(Width));
    PutU32(p + 14, static_cast<uint32_t>(Height));
    PutU32(p + 18, static_cast<uint32_t>(FileSize));
    PutU64(p + 22, DoubleBits(FileTime));
    Correction.Encode(p + 30);
    for (int i = 0; i < 5; ++i) p[58 + i] = CacheStates[i];
    for (int i = 0; i < 5; ++i) PutU32(p + 63 + 4 * i, static_cast<uint32_t>(CacheIndices[i]));
    for (int i = 0; i < 5; ++i) p[83 + i] = Reserved83[i];
    PutU16(p + 88, static_cast<uint16_t>(StoredPosition));
    p[90] = CameraState;
    p[91] = Reserved91;
    p[92] = PrintReservation;
    p[93] = Flags;
    PutU16(p + 94, Orientation);
    PutU32(p + 96, static_cast<uint32_t>(CacheSlotA));
    PutU32(p + 100, static_cast<uint32_t>(CacheSlotB));
    PutU64(p + 104, DoubleBits(ShootingDate));
    p[112] = Rating;
    PutU32(p + 113, FloatBits(ResolutionX));
    PutU32(p + 117, FloatBits(ResolutionY));
    PutU32(p + 121, FloatBits(FocalLength));
    PutU32(p + 125, FloatBits(ExposureTime));
    PutU32(p + 129, FloatBits(FNumber));
    PutU32(p + 133, FloatBits(ExposureBias));
    p[137] = InCalendar;
    p[138] = CommentImported;
    p[139] = OrientationKnown;
}

void TCatalogItemRecord::Decode(const uint8_t* p) {
    ItemNumber = static_cast<int32_t>(GetU32(p + 0));
    Reserved0 = static_cast<int32_t>(GetU32(p + 4));
    Kind = p[8];
    PixelFormat = p[9];
    Width = static_cast<int32_t>(GetU32(p + 10));
    Height = static_cast<int32_t>(GetU32(p + 14));
    FileSize = static_cast<int32_t>(GetU32(p + 18));
    FileTime = BitsDouble(GetU64(p + 22));
    Correction.Decode(p + 30);
    for (int i = 0; i < 5; ++i) CacheStates[i] = p[58 + i];
    for (int i = 0; i < 5; ++i) CacheIndices[i] = static_cast<int32_t>(GetU32(p + 63 + 4 * i));
    for (int i = 0; i < 5; ++i) Reserved83[i] = p[83 + i];
    StoredPosition = static_cast<int16_t>(GetU16(p + 88));
    CameraState = p[90];
    Reserved91 = p[91];
    PrintReservation = p[92];
    Flags = p[93];
    Orientation = GetU16(p + 94);
    CacheSlotA = static_cast<int32_t>(GetU32(p + 96));
    CacheSlotB = static_cast<int32_t>(GetU32(p + 100));
    ShootingDate = BitsDouble(GetU64(p + 104));
    Rating = p[112];
    ResolutionX = BitsFloat(GetU32(p + 113));
    ResolutionY = BitsFloat(GetU32(p + 117));
    FocalLength = BitsFloat(GetU32(p + 121));
    ExposureTime = BitsFloat(GetU32(p + 125));
    FNumber = BitsFloat(GetU32(p + 129));
    ExposureBias = BitsFloat(GetU32(p + 133));
    InCalendar = p[137];
    CommentImported = p[138];
    OrientationKnown = p[139];
}

// ---------------------------------------------------------------------------

namespace {
// made once and never freed: items may still be freed while the program's statics go away
TBlockPool& ItemPool() {
    static TBlockPool* pool = new TBlockPool(sizeof(TCatalogItem));
    return *pool;
}
}  // namespace

void* TCatalogItem::operator new(size_t size) {
    if (size != sizeof(TCatalogItem)) return ::operator new(size);  // a derived kind of item
    void* block = ItemPool().Allocate();
    if (!block) throw std::bad_alloc();
    return block;
}

void TCatalogItem::operator delete(void* block, size_t size) noexcept {
    if (size != sizeof(TCatalogItem)) ::operator delete(block);
    else ItemPool().Free(block);
}

size_t CatalogItemPoolBytes() { return ItemPool().BytesInUse(); }

TCatalogItem::TCatalogItem() : FRuntimeId(NextRuntimeId()) {}

TCatalogItem::~TCatalogItem() = default;

std::string TCatalogItem::GetFileName() const {
    Guard g(FLock);
    return FFileName;
}

bool TCatalogItem::GetExifTextLines(const std::vector<std::string>& formatArgs, std::vector<std::string>& lines) {
    try {
        auto provider = GetImageFactsProvider();
        if (!provider) return false;
        return provider->GetExifTextLines(GetFullPath(), GetKind(), formatArgs, lines);
    } catch (...) {
        return false;
    }
}

int TCatalogItem::LoadRemoteImage(TStream&, int, int) { return 0; }

void TCatalogItem::SaveToStream(TStream& stream) {
    uint8_t buf[TCatalogItemRecord::kSize];
    std::string texts[7];
    {
        Guard g(FLock);
        FRec.Reserved0 = 0;
        FRec.Encode(buf);
        texts[0] = FFileName;
        if (FTexts) {
            texts[1] = FTexts->Title;
            texts[2] = FTexts->FurtherText;
            texts[3] = FTexts->Comment;
            texts[4] = FTexts->ModelName;
            texts[5] = FTexts->IsoText;
            texts[6] = FTexts->SourceLocation;
        }
    }
    stream.WriteU32(TCatalogItemRecord::kVersion);
    stream.WriteU16(TCatalogItemRecord::kSize);
    stream.WriteBuffer(buf, sizeof buf);
    for (const std::string& t : texts) stream.WriteText(t);
}

void TCatalogItem::LoadFromStream(TStream& stream) {
    uint32_t version = stream.ReadU32();
    if (version < 50)
        // older layouts are not readable; the loader reports this like a short read
        throw EReadError(Format("Catalog item version %u is not supported", version));
    uint16_t length = stream.ReadU16();
    uint8_t buf[TCatalogItemRecord::kSize];
    {
        Guard g(FLock);
        FRec.Encode(buf);  // a shorter record keeps the current values of the bytes it lacks
    }
    size_t take = length <= TCatalogItemRecord::kSize ? length : TCatalogItemRecord::kSize;
    stream.ReadBuffer(buf, static_cast<int64_t>(take));
    if (length > TCatalogItemRecord::kSize) {
        uint8_t skip[256];
        int64_t rest = length - TCatalogItemRecord::kSize;
        while (rest > 0) {
            int64_t n = rest < static_cast<int64_t>(sizeof skip) ? rest : static_cast<int64_t>(sizeof skip);
            stream.ReadBuffer(skip, n);
            rest -= n;
        }
    }
    TCatalogItemRecord rec;
    rec.Decode(buf);
    if (version < 54) rec.OrientationKnown = 1;
    std::string texts[7];
    for (int i = 0; i < 6; ++i) texts[i] = stream.ReadText();
    if (version >= 52) texts[6] = stream.ReadText();
    Guard g(FLock);
    FRec = rec;
    FFileName = std::move(texts[0]);
    bool any = false;
    for (int i = 1; i < 7; ++i) any = any || !texts[i].empty();
    if (any) {
        if (!FTexts) FTexts = std::make_unique<TItemTexts>();
        FTexts->Title = std::move(texts[1]);
        FTexts->FurtherText = std::move(texts[2]);
        FTexts->Comment = std::move(texts[3]);
        FTexts->ModelName = std::move(texts[4]);
        FTexts->IsoText = std::move(texts[5]);
        FTexts->SourceLocation = std::move(texts[6]);
    } else {
        FTexts.reset();
    }
    FNameKeyValid = false;
}

TCatalogItemRecord TCatalogItem::GetRecord() const {
    Guard g(FLock);
    return FRec;
}

void TCatalogItem::SetRecord(const TCatalogItemRecord& rec) {
    Guard g(FLock);
    FRec = rec;
}

#define FV_ITEM_TEXT(Name)                                   \
    std::string TCatalogItem::Get##Name() const {            \
        Guard g(FLock);                                      \
        return FTexts ? FTexts->Name : std::string();        \
    }                                                        \
    void TCatalogItem::Set##Name(const std::string& s) {     \
        Guard g(FLock);                                      \
        if (!FTexts) {                                       \
            if (s.empty()) return;                           \
            FTexts = std::make_unique<TItemTexts>();         \
        }                                                    \
        FTexts->Name = s;                                    \
        if (FTexts->Empty()) FTexts.reset();                 \
    }
FV_ITEM_TEXT(Title)
FV_ITEM_TEXT(FurtherText)
FV_ITEM_TEXT(Comment)
FV_ITEM_TEXT(ModelName)
FV_ITEM_TEXT(IsoText)
FV_ITEM_TEXT(SourceLocation)
#undef FV_ITEM_TEXT

#define FV_ITEM_FIELD(Type, Name, Field)      \
    Type TCatalogItem::Get##Name() const {    \
        Guard g(FLock);                       \
        return Field;                         \
    }                                         \
    void TCatalogItem::Set##Name(Type v) {    \
        Guard g(FLock);                       \
        Field = v;                            \
    }
FV_ITEM_FIELD(int32_t, ItemNumber, FRec.ItemNumber)
FV_ITEM_FIELD(uint8_t, Kind, FRec.Kind)
FV_ITEM_FIELD(uint8_t, PixelFormat, FRec.PixelFormat)
FV_ITEM_FIELD(int32_t, FileSize, FRec.FileSize)
FV_ITEM_FIELD(TDateTime, FileTime, FRec.FileTime)
FV_ITEM_FIELD(int16_t, StoredPosition, FRec.StoredPosition)
FV_ITEM_FIELD(uint8_t, CameraState, FRec.CameraState)
FV_ITEM_FIELD(uint8_t, PrintReservation, FRec.PrintReservation)
FV_ITEM_FIELD(int32_t, CacheSlotA, FRec.CacheSlotA)
FV_ITEM_FIELD(int32_t, CacheSlotB, FRec.CacheSlotB)
FV_ITEM_FIELD(int32_t, GroupNumber, FGroupNumber)
FV_ITEM_FIELD(int16_t, ManualPosition, FManualPosition)
FV_ITEM_FIELD(int32_t, Counter, FCounter)
FV_ITEM_FIELD(int32_t, CachedSize, FCachedSize)
FV_ITEM_FIELD(uint8_t, TrayByte, FTrayByte)
FV_ITEM_FIELD(uint8_t, UploadByte, FUploadByte)
#undef FV_ITEM_FIELD

int32_t TCatalogItem::GetWidth() const {
    Guard g(FLock);
    return FRec.Width;
}

int32_t TCatalogItem::GetHeight() const {
    Guard g(FLock);
    return FRec.Height;
}

void TCatalogItem::SetSize(int32_t width, int32_t height) {
    Guard g(FLock);
    FRec.Width = width;
    FRec.Height = height;
}

TCorrectionRecord TCatalogItem::GetCorrection() const {
    Guard g(FLock);
    return FRec.Correction;
}

void TCatalogItem::SetCorrection(const TCorrectionRecord& c) {
    Guard g(FLock);
    FRec.Correction = c;
}

uint8_t TCatalogItem::GetFlags() const {
    Guard g(FLock);
    return FRec.Flags;
}

void TCatalogItem::SetFlag(uint8_t bit, bool on) {
    Guard g(FLock);
    FRec.Flags = static_cast<uint8_t>(on ? (FRec.Flags | bit) : (FRec.Flags & ~bit));
}

int TCatalogItem::GetOrientation() const {
    Guard g(FLock);
    return FRec.Orientation;
}

bool TCatalogItem::SetOrientation(int o) {
    if (o < 1 || o > 8) return false;
    Guard g(FLock);
    FRec.Orientation = static_cast<uint16_t>(o);
    FRec.OrientationKnown = 1;
    return true;
}

bool TCatalogItem::IsOrientationKnown() const {
    Guard g(FLock);
    return FRec.OrientationKnown != 0;
}

TDateTime TCatalogItem::GetShootingDate() const {
    Guard g(FLock);
    return FRec.ShootingDate;
}

void TCatalogItem::SetShootingDate(TDateTime d) {
    TDateTime old;
    bool inCalendar;
    {
        Guard g(FLock);
        if (FRec.ShootingDate == d) return;
        old = FRec.ShootingDate;
        FRec.ShootingDate = d;
        inCalendar = FRec.InCalendar != 0 && FState != isDeleted;
    }
    if (inCalendar)
        if (auto cal = GetItemCalendarLink()) cal->MoveItem(this, old, d);
}

uint8_t TCatalogItem::GetRating() const {
    Guard g(FLock);
    return FRec.Rating;
}

bool TCatalogItem::SetRating(int r) {
    if (r < 0 || r > 3) return false;
    Guard g(FLock);
    FRec.Rating = static_cast<uint8_t>(r);
    return true;
}

bool TCatalogItem::IsInCalendar() const {
    Guard g(FLock);
    return FRec.InCalendar != 0;
}

void TCatalogItem::SetInCalendar(bool on) {
    TDateTime date;
    {
        Guard g(FLock);
        if ((FRec.InCalendar != 0) == on) return;
        FRec.InCalendar = on ? 1 : 0;
        date = FRec.ShootingDate;
    }
    if (auto cal = GetItemCalendarLink()) {
        if (on) cal->AddItem(this, date);
        else cal->RemoveItem(this, date);
    }
}

bool TCatalogItem::IsCommentImported() const {
    Guard g(FLock);
    return FRec.CommentImported != 0;
}

void TCatalogItem::SetCommentImported(bool on) {
    Guard g(FLock);
    FRec.CommentImported = on ? 1 : 0;
}

void TCatalogItem::SetCameraSummary(float resX, float resY, float focal, float exposure, float fnumber, float bias) {
    Guard g(FLock);
    FRec.ResolutionX = resX;
    FRec.ResolutionY = resY;
    FRec.FocalLength = focal;
    FRec.ExposureTime = exposure;
    FRec.FNumber = fnumber;
    FRec.ExposureBias = bias;
    FRec.Flags = static_cast<uint8_t>(FRec.Flags & ~ifCameraSummaryOutOfDate);
}

void TCatalogItem::MarkCameraSummaryOutOfDate() {
    Guard g(FLock);
    FRec.Flags |= ifCameraSummaryOutOfDate;
    FRec.CacheSlotB = -1;
    FCameraData.reset();
}

int32_t TCatalogItem::GetMemoryCacheIndex(int set, int size) const {
    if (set < 0 || set > 1 || size < 0 || size > 4) return -1;
    Guard g(FLock);
    return FMemoryCache[set][size];
}

void TCatalogItem::SetMemoryCacheIndex(int set, int size, int32_t v) {
    if (set < 0 || set > 1 || size < 0 || size > 4) return;
    Guard g(FLock);
    FMemoryCache[set][size] = v;
}

bool TCatalogItem::HasCameraDataObject() const {
    Guard g(FLock);
    return FCameraData != nullptr;
}

void TCatalogItem::SetCameraDataObject(std::unique_ptr<TCameraDataBase> data) {
    Guard g(FLock);
    FCameraData = std::move(data);
}

void TCatalogItem::ResetCacheLocked() {
    for (int i = 0; i < 5; ++i) {
        FRec.CacheStates[i] = 0;
        FRec.CacheIndices[i] = -1;
        FMemoryCache[0][i] = -1;
        FMemoryCache[1][i] = -1;
    }
}

void TCatalogItem::ResetCacheBookkeeping() {
    Guard g(FLock);
    ResetCacheLocked();
}

std::string TCatalogItem::GetNameKey() const {
    Guard g(FLock);
    if (!FNameKeyValid) {
        FNameKey = CollationKeyIgnoreCase(FFileName);
        FNameKeyValid = true;
    }
    return FNameKey;
}

void TCatalogItem::GetSortFacts(TSortFacts& out, std::string& keys) const {
    Guard g(FLock);
    if (!FNameKeyValid) {
        FNameKey = CollationKeyIgnoreCase(FFileName);
        FNameKeyValid = true;
    }
    out.KeyOffset = keys.size();
    out.KeyLength = FNameKey.size();
    keys.append(FNameKey);
    out.FileTime = FRec.FileTime;
    out.ShootingDate = FRec.ShootingDate;
    out.Group = FGroupNumber;
    out.Position = FManualPosition;
}

std::string TCatalogItem::GetExtension() const {
    return std::string(ExtractFileExtView(GetFileName()));
}

std::string TCatalogItem::GetNameWithoutExtension() const {
    std::string name = GetFileName();
    return name.substr(0, name.size() - ExtractFileExtView(name).size());
}

std::string TCatalogItem::GetFolderPath() const {
    TFolder* owner = GetOwner();
    if (!owner) return std::string();
    std::string path = owner->GetFullName();
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path + "/";
}

std::string TCatalogItem::GetFullPath() const {
    TFolder* owner = GetOwner();
    std::string name = GetFileName();
    if (!owner) return name;
    return GetFolderPath() + name;
}

std::string TCatalogItem::GetInfoText(int infoKind) const {
    switch (infoKind) {
        case ikiFileName: return GetFileName();
        case ikiExtension: return GetExtension();
        case ikiImageSize: {
            Guard g(FLock);
            return FormatThousands(FRec.Width) + " x " + FormatThousands(FRec.Height);
        }
        case ikiPixelFormat: return PixelFormatName(GetPixelFormat());
        case ikiFileSize: return FormatThousands(GetFileSize());
        case ikiFileTime: return FormatDateTimeText(GetFileTime());
        case ikiComment: return GetComment();
        case ikiFolder: return GetFolderPath();
        default: return std::string();
    }
}

void TCatalogItem::SetFileNameRaw(const std::string& name) {
    Guard g(FLock);
    FFileName = name;
    FNameKeyValid = false;
}

void TCatalogItem::SetFileNameAndKey(const std::string& name, const std::string& key) {
    Guard g(FLock);
    FFileName = name;
    FNameKey = key;
    FNameKeyValid = true;
}

void TCatalogItem::SetOwnerRaw(TFolder* folder) {
    Guard g(FLock);
    FOwner = folder;
}

void TCatalogItem::SetFileName(const std::string& name) {
    TFolder* owner;
    {
        Guard g(FLock);
        // exact comparison: names that differ only in case are different files here
        if (FFileName == name) return;
        owner = FOwner;
    }
    // the owner keeps its list sorted; it renames the item inside its own lock
    if (owner) owner->RenameItem(this, name);
    else SetFileNameRaw(name);
}

TFolder* TCatalogItem::GetOwner() const {
    Guard g(FLock);
    return FOwner;
}

void TCatalogItem::SetOwner(TFolder* folder, bool resetPosition) {
    TFolder* old = GetOwner();
    if (old != folder) {
        if (old) old->DetachItem(this);
        SetOwnerRaw(folder);
        // a folder that already holds this name refuses the item: it stays where it was
        // rather than belonging to nobody
        if (folder && !folder->AddItem(this)) {
            SetOwnerRaw(old);
            if (old) old->AddItem(this);
            return;
        }
    }
    if (resetPosition) SetStoredPosition(-1);
}

uint8_t TCatalogItem::GetState() const {
    Guard g(FLock);
    return FState;
}

void TCatalogItem::SetState(uint8_t state) {
    TDateTime date = 0;
    bool leaveCalendar = false;
    {
        Guard g(FLock);
        if (state == FState || FState == isDeleted) return;
        FState = state;
        if (state == isDeleted && FRec.InCalendar) {
            FRec.InCalendar = 0;
            leaveCalendar = true;
            date = FRec.ShootingDate;
        }
    }
    if (leaveCalendar)
        if (auto cal = GetItemCalendarLink()) cal->RemoveItem(this, date);
}

bool TCatalogItem::IsUnavailable() const {
    TFolder* owner;
    uint8_t state;
    {
        Guard g(FLock);
        owner = FOwner;
        state = FState;
    }
    if (!owner) return true;
    if (state == isMissing || state == isDeleted) return true;
    return owner->IsOffline();
}

void TCatalogItem::InvalidateLocked() {
    FRec.Width = 0;
    FRec.Height = 0;
    if (!FRec.OrientationKnown) FRec.Orientation = 1;
    FRec.CameraState = cdNotRead;
    FRec.Reserved91 = 0;
    ResetCacheLocked();
    FRec.Flags |= ifThumbOutOfDate | ifCameraSummaryOutOfDate | ifMusicTagOutOfDate;
    FRec.CacheSlotB = -1;
    FCameraData.reset();
}

void TCatalogItem::Invalidate() {
    Guard g(FLock);
    InvalidateLocked();
}

void TCatalogItem::UpdateFromSearchRec(const TSearchRec& rec) {
    // cut to whole 100 ns ticks, the resolution file times are compared in
    TDateTime t = UnixToLocalDateTime(static_cast<double>(rec.MTimeSec) + static_cast<double>(rec.MTimeNsec / 100) / 1e7);
    Guard g(FLock);
    if (t != FRec.FileTime || static_cast<int64_t>(FRec.FileSize) != rec.Size) InvalidateLocked();
    if (FState != isDeleted) FState = isPresent;
    if (FFileName != rec.Name) {
        FFileName = rec.Name;
        FNameKeyValid = false;
    }
    FRec.FileTime = t;
    FRec.FileSize = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(rec.Size)));
    FRec.Flags = static_cast<uint8_t>(rec.ReadOnly ? (FRec.Flags | ifReadOnly) : (FRec.Flags & ~ifReadOnly));
}

void TCatalogItem::UpdateFromSearchRecEx(const TSearchRec& rec, uint8_t kind, bool viewable) {
    Guard g(FLock);
    UpdateFromSearchRec(rec);
    FRec.Kind = kind;
    if (kind == ikNotImage) FRec.CameraState = cdNone;
    FRec.Flags = static_cast<uint8_t>(viewable ? (FRec.Flags | ifViewable) : (FRec.Flags & ~ifViewable));
}

void TCatalogItem::ReadImageInfo() {
    try {
        uint8_t state = GetState();
        if (state != isUnknown && state != isPresent) return;
        auto provider = GetImageFactsProvider();
        if (!provider) {
            // no image pipeline registered: the file has no camera data as far as we know
            SetCameraState(cdNone);
            return;
        }
        TImageFacts facts;
        if (!provider->ReadImageFacts(GetFullPath(), GetKind(), facts)) return;
        TDateTime shooting = 0;
        bool hasCamera = facts.HasCameraData;
        {
            Guard g(FLock);
            FRec.PixelFormat = facts.PixelFormat;
            FRec.Width = facts.Width;
            FRec.Height = facts.Height;
            if (hasCamera) {
                FRec.CameraState = cdRead;
                if (!FRec.OrientationKnown && facts.Orientation >= 1 && facts.Orientation <= 8) {
                    FRec.Orientation = static_cast<uint16_t>(facts.Orientation);
                    FRec.OrientationKnown = 1;
                }
                FCameraData = std::move(facts.CameraData);
                shooting = facts.ShootingDate;
            } else {
                FRec.CameraState = cdNone;
            }
        }
        if (hasCamera) SetShootingDate(shooting);
    } catch (const std::exception& e) {
        WriteLogFailed("TCatalogItem.ReadImageInfo", e);
    } catch (...) {
    }
}

int64_t TCatalogItem::GetPixelCount() {
    bool empty;
    {
        Guard g(FLock);
        empty = FRec.Width == 0 && FRec.Height == 0;
    }
    if (empty) ReadImageInfo();
    Guard g(FLock);
    return static_cast<int64_t>(FRec.Width) * FRec.Height;
}

void TCatalogItem::CopyDataFrom(TCatalogItem& other) {
    if (&other == this) return;
    TDateTime oldDate, newDate;
    bool wasIn, isIn;
    {
        // both locks; scoped_lock orders them so that two opposite copies cannot deadlock
        std::scoped_lock both(FLock, other.FLock);
        FTexts = other.FTexts ? std::make_unique<TItemTexts>(*other.FTexts) : nullptr;
        FGroupNumber = other.FGroupNumber;
        oldDate = FRec.ShootingDate;
        wasIn = FRec.InCalendar != 0;
        int32_t slotA = FRec.CacheSlotA;
        FRec = other.FRec;
        FRec.CacheSlotA = slotA;
        newDate = FRec.ShootingDate;
        isIn = FRec.InCalendar != 0 && FState != isDeleted;
        ResetCacheLocked();
        FRec.Flags |= ifThumbOutOfDate | ifCameraSummaryOutOfDate;
        FRec.CacheSlotB = -1;
        FCameraData.reset();
    }
    // keep the calendar in step with what the record now says
    if (auto cal = GetItemCalendarLink()) {
        if (wasIn && isIn && oldDate != newDate) cal->MoveItem(this, oldDate, newDate);
        else if (wasIn && !isIn) cal->RemoveItem(this, oldDate);
        else if (!wasIn && isIn) cal->AddItem(this, newDate);
    }
}

void TCatalogItem::RotateRight() { SetOrientation(OrientationRotateRight(GetOrientation())); }
void TCatalogItem::RotateLeft() { SetOrientation(OrientationRotateLeft(GetOrientation())); }
void TCatalogItem::FlipVertical() { SetOrientation(OrientationFlipVertical(GetOrientation())); }
void TCatalogItem::FlipHorizontal() { SetOrientation(OrientationFlipHorizontal(GetOrientation())); }

bool TCatalogItem::AddAlbum(TCustomFolder* album) {
    if (!album) return false;
    Guard g(FLock);
    if (std::find(FAlbums.begin(), FAlbums.end(), album) != FAlbums.end()) return false;
    FAlbums.push_back(album);
    return true;
}

void TCatalogItem::RemoveAlbum(TCustomFolder* album) {
    Guard g(FLock);
    std::erase(FAlbums, album);
}

std::vector<TCustomFolder*> TCatalogItem::GetAlbums() const {
    Guard g(FLock);
    return FAlbums;
}

int TCatalogItem::CountAlbumsOfTypes(uint16_t typeSet) const {
    int n = 0;
    for (TCustomFolder* a : GetAlbums()) {
        int t = a->GetAlbumType();
        if (t >= 0 && t <= 15 && (typeSet & (1u << t))) ++n;
    }
    return n;
}

}  // namespace fv
