#include "library/album.h"

#include <algorithm>
#include <functional>

#include "core/log.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "platform/collate.h"

namespace fv {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

const char* const kAlbumTypeLabels[kAlbumTypeCount] = {
    "アルバム", "類似画像検索", "File情報検索", "同位置検索", "インデックス検索", "Exif情報検索", "トレイ",
    "Mirabelo", "WORK2",    "WORK3",        "WORK4",        "WORK5",      "WORK6",            "不明",
};

// the smallest album record (old layout: version, type, entry count, two empty texts)
constexpr int64_t kMinRecordBytes = 4 + 1 + 4 + 4 + 4;

bool EntryLess(const std::unique_ptr<TAlbumItem>& e, const TCatalogItem* item) {
    return std::less<const TCatalogItem*>()(e->Item, item);
}

// an old record ended the data inside a current body
struct TAlbumDataEnd {};

uint8_t StoredType(uint32_t t) { return static_cast<uint8_t>(t < kAlbumTypeCount ? t : static_cast<uint32_t>(atUnknown)); }

}  // namespace

std::string AlbumTypeLabel(int type) {
    return type >= 0 && type < kAlbumTypeCount ? kAlbumTypeLabels[type] : "Error";
}

// ---------------------------------------------------------------------------
// TAlbum

TAlbum::TAlbum(TAlbum* parent, const TFolderUpdateEvent& callback, const std::string& description, const std::string& name,
               int type)
    : FType(StoredType(static_cast<uint32_t>(type))) {
    SetParentAlbum(parent);
    SetName(name);
    FDescription = description;
    TCustomFolder::SetUpdateEvent(callback);
    DoUpdated(feCreated, 0);
}

TAlbum::~TAlbum() {
    // everything below is taken out of the lists first and freed by this loop, so that a
    // deep tree does not free itself with one call per level
    std::vector<TAlbum*> below;
    auto take = [&below](TAlbum* a) {
        below.insert(below.end(), a->FSubAlbums.begin(), a->FSubAlbums.end());
        below.insert(below.end(), a->FRemovedSubAlbums.begin(), a->FRemovedSubAlbums.end());
        a->FSubAlbums.clear();
        a->FRemovedSubAlbums.clear();
    };
    take(this);
    for (size_t i = 0; i < below.size(); ++i) take(below[i]);
    for (TAlbum* a : below) {
        try {
            delete a;
        } catch (...) {
        }
    }
}

int TAlbum::GetFolderKind() const {
    int t = GetAlbumType();
    return t == atSimilarSearch || t == atSamePositionSearch ? fkSearchAlbum : fkAlbum;
}

int TAlbum::GetAlbumType() const {
    Guard g(FLock);
    return FType;
}

std::string TAlbum::GetFullName() const {
    std::vector<std::string> names;
    for (const TAlbum* a = this; a; a = a->GetParentAlbum()) names.push_back(a->GetName());
    std::string out;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        if (!out.empty() || it != names.rbegin()) out += '\\';
        out += *it;
    }
    return out;
}

bool TAlbum::HasSubFolders() const {
    Guard g(FLock);
    return !FSubAlbums.empty();
}

int TAlbum::GetItemCount() const {
    Guard g(FLock);
    return static_cast<int>(FEntries.size());
}

int TAlbum::GetItemCountOfKinds(TKindSet kinds) const {
    if (kinds == 0) return 0;
    Guard g(FLock);
    int n = 0;
    for (const auto& e : FEntries)
        if (e->Item && KindInSet(e->Item->GetKind(), kinds)) ++n;
    return n;
}

int TAlbum::GetMarkedItemCount() const {
    TItemList items;
    GetItems(items);
    int n = 0;
    for (TCatalogItem* it : items)
        if (it->IsMarked()) ++n;
    return n;
}

bool TAlbum::IsChildOf(const TCustomFolder* folder) const {
    if (!folder) return false;
    for (TAlbum* p = GetParentAlbum(); p; p = p->GetParentAlbum())
        if (p == folder) return true;
    return false;
}

void TAlbum::GetSubFolders(TFolderList& list) const {
    Guard g(FLock);
    for (TAlbum* a : FSubAlbums)
        if (a->FType < kAlbumTypeCount) list.push_back(a);  // the type set 0x3FFF
}

void TAlbum::GetRemovedSubFolders(TFolderList& list) const {
    Guard g(FLock);
    list.insert(list.end(), FRemovedSubAlbums.begin(), FRemovedSubAlbums.end());
}

std::vector<TAlbum*> TAlbum::GetSubAlbums() const {
    Guard g(FLock);
    return FSubAlbums;
}

void TAlbum::GetItems(TItemList& list) const {
    Guard g(FLock);
    const_cast<TAlbum*>(this)->PurgeEntriesLocked();
    for (const auto& e : FEntries) list.push_back(e->Item);
}

void TAlbum::GetItemsOfKinds(TKindSet kinds, TItemList& list) const {
    if (kinds == 0) return;
    Guard g(FLock);
    const_cast<TAlbum*>(this)->PurgeEntriesLocked();
    for (const auto& e : FEntries)
        if (KindInSet(e->Item->GetKind(), kinds)) list.push_back(e->Item);
}

std::string TAlbum::GetName() const {
    Guard g(FLock);
    return FName;
}

bool TAlbum::IsSameName(const std::string& name) const { return CompareTextIgnoreCase(GetName(), name) == 0; }

void TAlbum::SetName(const std::string& name) { SetNameImpl(name, true); }

void TAlbum::SetNameImpl(const std::string& name, bool notify) {
    std::string text = name;
    std::replace(text.begin(), text.end(), '\\', '-');
    std::string candidate = text;
    if (TAlbum* parent = GetParentAlbum()) {
        std::vector<TAlbum*> siblings = parent->GetSubAlbums();
        auto clash = [&](const std::string& c) {
            for (TAlbum* s : siblings)
                if (s != this && s->IsSameName(c)) return true;
            return false;
        };
        for (int n = 1; clash(candidate); ++n) candidate = Format("%s(%d)", text.c_str(), n);
    }
    {
        Guard g(FLock);
        if (CompareTextIgnoreCase(FName, candidate) == 0) return;  // a change of case alone is not applied
        FName = candidate;
    }
    if (notify) DoUpdated(feNameChanged, 0);
}

std::string TAlbum::GetTitle() const {
    Guard g(FLock);
    return FTitle;
}

void TAlbum::SetTitle(const std::string& s) {
    {
        Guard g(FLock);
        if (FTitle == s) return;
        FTitle = s;
    }
    DoUpdated(feAlbumText1Changed, 0);
}

std::string TAlbum::GetDescription() const {
    Guard g(FLock);
    return FDescription;
}

void TAlbum::SetDescription(const std::string& s) {
    {
        Guard g(FLock);
        if (FDescription == s) return;
        FDescription = s;
    }
    DoUpdated(feAlbumText2Changed, 0);
}

std::string TAlbum::GetHostName() const {
    Guard g(FLock);
    return FHostName;
}

void TAlbum::SetHostName(const std::string& s) {
    Guard g(FLock);
    FHostName = s;
}

TAlbum* TAlbum::GetParentAlbum() const {
    Guard g(FLock);
    return FParent;
}

TFolder* TAlbum::GetLinkedFolder() const {
    Guard g(FLock);
    return FLinkedFolder;
}

void TAlbum::SetLinkedFolder(TFolder* folder) {
    Guard g(FLock);
    FLinkedFolder = folder;
}

void TAlbum::SetParentAlbum(TAlbum* album) {
    TAlbum* old = GetParentAlbum();
    if (album == old) return;
    // an album never goes below itself (the tree would become a loop)
    if (album && (album == this || album->IsChildOf(this))) return;
    if (old) {
        Guard g(old->FLock);
        std::erase(old->FSubAlbums, this);
    }
    {
        Guard g(FLock);
        FParent = album;
    }
    if (album) {
        Guard g(album->FLock);
        if (std::find(album->FSubAlbums.begin(), album->FSubAlbums.end(), this) == album->FSubAlbums.end())
            album->FSubAlbums.push_back(this);
    }
    DoUpdated(feParentChanged, reinterpret_cast<intptr_t>(old));
    SetName(GetName());
}

TAlbum* TAlbum::FindChild(const std::string& name) const {
    for (TAlbum* a : GetSubAlbums())
        if (a->IsSameName(name)) return a;
    return nullptr;
}

TAlbum* TAlbum::FindOrCreateChild(const std::string& name) {
    if (TAlbum* a = FindChild(name)) return a;
    return new TAlbum(this, GetUpdateEvent(), std::string(), name, GetAlbumType());
}

TAlbum* TAlbum::FirstChild() const {
    Guard g(FLock);
    return FSubAlbums.empty() ? nullptr : FSubAlbums.front();
}

TAlbum* TAlbum::NextChild(const TAlbum* album) const {
    Guard g(FLock);
    auto it = std::find(FSubAlbums.begin(), FSubAlbums.end(), album);
    if (it == FSubAlbums.end() || ++it == FSubAlbums.end()) return nullptr;
    return *it;
}

// --- entries

size_t TAlbum::LowerBoundLocked(const TCatalogItem* item) const {
    return static_cast<size_t>(std::lower_bound(FEntries.begin(), FEntries.end(), item, EntryLess) - FEntries.begin());
}

TAlbumItem* TAlbum::FindEntry(const TCatalogItem* item) const {
    Guard g(FLock);
    size_t i = LowerBoundLocked(item);
    return i < FEntries.size() && FEntries[i]->Item == item ? FEntries[i].get() : nullptr;
}

TAlbumItem* TAlbum::AddItem(TCatalogItem* item, int32_t groupNumber) {
    if (!item) return nullptr;
    TAlbumItem* entry;
    bool created = false;
    {
        Guard g(FLock);
        size_t i = LowerBoundLocked(item);
        if (i < FEntries.size() && FEntries[i]->Item == item) {
            entry = FEntries[i].get();
        } else {
            auto e = std::make_unique<TAlbumItem>();
            e->Item = item;
            entry = e.get();
            FEntries.insert(FEntries.begin() + static_cast<std::ptrdiff_t>(i), std::move(e));
            created = true;
        }
        entry->ItemNumber = item->GetItemNumber();
        entry->GroupNumber = groupNumber;
    }
    if (created) item->AddAlbum(this);
    return entry;
}

TAlbumItem* TAlbum::AppendItem(TCatalogItem* item, int32_t groupNumber) {
    if (!item) return nullptr;
    TAlbumItem* entry;
    {
        Guard g(FLock);
        auto e = std::make_unique<TAlbumItem>();
        e->Item = item;
        e->ItemNumber = item->GetItemNumber();
        e->GroupNumber = groupNumber;
        entry = e.get();
        FEntries.push_back(std::move(e));
    }
    item->AddAlbum(this);
    return entry;
}

int TAlbum::RemoveItem(TCatalogItem* item) {
    if (!item) return -1;
    int index = -1;
    {
        Guard g(FLock);
        size_t i = LowerBoundLocked(item);
        if (i < FEntries.size() && FEntries[i]->Item == item) {
            index = static_cast<int>(i);
            FRemovedEntries.push_back(std::move(FEntries[i]));
            FEntries.erase(FEntries.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    if (index >= 0) item->RemoveAlbum(this);
    return index;
}

void TAlbum::ClearItems() {
    TItemList items;
    {
        Guard g(FLock);
        for (auto& e : FEntries) {
            if (e->Item) items.push_back(e->Item);
            FRemovedEntries.push_back(std::move(e));
        }
        FEntries.clear();
    }
    for (TCatalogItem* it : items) it->RemoveAlbum(this);
}

void TAlbum::GetEntriesOfKinds(TKindSet kinds, std::vector<TAlbumItem*>& list) {
    list.clear();
    if (kinds == 0) return;
    Guard g(FLock);
    PurgeEntriesLocked();
    for (auto& e : FEntries)
        if (KindInSet(e->Item->GetKind(), kinds)) list.push_back(e.get());
}

std::vector<TAlbumItem*> TAlbum::GetEntries() const {
    Guard g(FLock);
    std::vector<TAlbumItem*> out;
    out.reserve(FEntries.size());
    for (const auto& e : FEntries) out.push_back(e.get());
    return out;
}

int TAlbum::GetRemovedEntryCount() const {
    Guard g(FLock);
    return static_cast<int>(FRemovedEntries.size());
}

void TAlbum::SortEntries(bool recursive) {
    std::vector<TAlbum*> todo{this};
    while (!todo.empty()) {
        TAlbum* a = todo.back();
        todo.pop_back();
        Guard g(a->FLock);
        std::stable_sort(a->FEntries.begin(), a->FEntries.end(), [](const auto& x, const auto& y) {
            return std::less<const TCatalogItem*>()(x->Item, y->Item);
        });
        if (recursive) todo.insert(todo.end(), a->FSubAlbums.begin(), a->FSubAlbums.end());
    }
}

void TAlbum::PurgeEntriesLocked() {
    auto gone = [](const std::unique_ptr<TAlbumItem>& e) { return !e->Item || e->Item->GetState() == isDeleted; };
    if (std::none_of(FEntries.begin(), FEntries.end(), gone)) return;
    std::vector<std::unique_ptr<TAlbumItem>> keep;
    keep.reserve(FEntries.size());
    for (auto& e : FEntries) (gone(e) ? FRemovedEntries : keep).push_back(std::move(e));
    FEntries = std::move(keep);
}

void TAlbum::PurgeEntries() {
    Guard g(FLock);
    PurgeEntriesLocked();
}

void TAlbum::DeleteAlbum() {
    for (TAlbum* sub : GetSubAlbums()) sub->DeleteAlbum();
    TItemList items;
    GetItems(items);
    for (TCatalogItem* it : items) it->RemoveAlbum(this);
    if (TAlbum* parent = GetParentAlbum()) {
        Guard g(parent->FLock);
        auto it = std::find(parent->FSubAlbums.begin(), parent->FSubAlbums.end(), this);
        if (it != parent->FSubAlbums.end()) {
            parent->FSubAlbums.erase(it);
            parent->FRemovedSubAlbums.push_back(this);
        }
    }
    DoUpdated(feRemoved, 0);
}

void TAlbum::SetupFromIndex(const TItemIndex& index) {
    std::vector<TAlbum*> todo{this};
    TItemList items;
    while (!todo.empty()) {
        TAlbum* a = todo.back();
        todo.pop_back();
        items.clear();
        {
            Guard g(a->FLock);
            std::vector<std::unique_ptr<TAlbumItem>> keep;
            keep.reserve(a->FEntries.size());
            for (auto& e : a->FEntries) {
                e->Item = index.Get(e->ItemNumber);
                (e->Item ? keep : a->FRemovedEntries).push_back(std::move(e));
            }
            std::stable_sort(keep.begin(), keep.end(), [](const auto& x, const auto& y) {
                return std::less<const TCatalogItem*>()(x->Item, y->Item);
            });
            a->FEntries = std::move(keep);
            a->PurgeEntriesLocked();
            for (auto& e : a->FEntries) items.push_back(e->Item);
            todo.insert(todo.end(), a->FSubAlbums.begin(), a->FSubAlbums.end());
        }
        for (TCatalogItem* it : items) it->AddAlbum(a);
    }
}

// --- persistence

uint32_t TAlbum::SaveOwnRecord(TStream& file, TMemoryStream& buffer, std::vector<TAlbum*>& subs) {
    {
        Guard g(FLock);
        PurgeEntriesLocked();
        buffer.WriteU32(kRecordVersion);
        buffer.WriteU8(FType);
        buffer.WriteText(FName);
        buffer.WriteText(FDescription);
        buffer.WriteText(FTitle);
        buffer.WriteText(FHostName);
        buffer.WriteU8(FFlags);
        buffer.WriteI32(FStoredValue);
        buffer.WriteU32(static_cast<uint32_t>(FEntries.size()));
        uint8_t corr[TCorrectionRecord::kSize];
        for (auto& e : FEntries) {
            e->ItemNumber = e->Item->GetItemNumber();
            buffer.WriteI32(e->ItemNumber);
            buffer.WriteI32(e->GroupNumber);
            buffer.WriteU16(static_cast<uint16_t>(e->Position));
            const TAlbumItem::TUploadData& up = e->Upload();
            buffer.WriteText(up.ResourceId);
            buffer.WriteI32(up.Orientation);
            buffer.WriteU16(TCorrectionRecord::kSize);
            up.Correction.Encode(corr);
            buffer.WriteBuffer(corr, TCorrectionRecord::kSize);
            buffer.WriteText(up.Comment);
        }
        if (buffer.Position() > kSaveBufferLimit) FlushFolderSaveBuffer(file, buffer);
    }
    TFolderList list;
    GetSubFolders(list);
    subs.clear();
    for (TCustomFolder* f : list) subs.push_back(static_cast<TAlbum*>(f));
    buffer.WriteU32(static_cast<uint32_t>(subs.size()));
    return static_cast<uint32_t>(subs.size());
}

void TAlbum::SaveAlbum(TStream& file, TMemoryStream& buffer) {
    // each album before its subalbums, with a stack of our own
    std::vector<TAlbum*> todo{this};
    std::vector<TAlbum*> subs;
    while (!todo.empty()) {
        TAlbum* a = todo.back();
        todo.pop_back();
        a->SaveOwnRecord(file, buffer, subs);
        todo.insert(todo.end(), subs.rbegin(), subs.rend());
    }
}

void TAlbum::ReadEntries(TStream& stream, uint32_t version, bool oldLayout) {
    // layouts A (old 10), B (old 11/12, new below 0x800), C (below 0x900), D
    char layout = oldLayout ? (version == 10 ? 'A' : 'B') : (version < 0x800 ? 'B' : version < 0x900 ? 'C' : 'D');
    const int64_t minBytes = layout == 'A' ? 8 : layout == 'B' ? 10 : layout == 'C' ? 18 : 24;
    uint32_t count = stream.ReadU32();
    if (static_cast<int64_t>(count) > stream.Remaining() / minBytes) throw EReadError("Stream read error");
    std::vector<std::unique_ptr<TAlbumItem>> read;
    read.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        auto e = std::make_unique<TAlbumItem>();
        e->ItemNumber = stream.ReadI32();
        e->GroupNumber = stream.ReadI32();
        if (layout != 'A') e->Position = static_cast<int16_t>(stream.ReadU16());
        TAlbumItem::TUploadData up;
        if (layout == 'C' || layout == 'D') {
            up.ResourceId = stream.ReadText();
            up.Orientation = stream.ReadI32();
        }
        if (layout == 'D') {
            // the stored length may differ from our record: a longer one is cut, a shorter
            // one leaves the rest zero
            uint16_t length = stream.ReadU16();
            uint8_t corr[TCorrectionRecord::kSize] = {};
            uint16_t take = std::min<uint16_t>(length, TCorrectionRecord::kSize);
            stream.ReadBuffer(corr, take);
            if (length > take) {
                if (stream.Remaining() < length - take) throw EReadError("Stream read error");
                stream.Seek(length - take, soCurrent);
            }
            up.Correction.Decode(corr);
            up.Comment = stream.ReadText();
        }
        e->SetUpload(std::move(up));
        read.push_back(std::move(e));
    }
    Guard g(FLock);
    for (auto& e : read) FEntries.push_back(std::move(e));
}

uint32_t TAlbum::LoadOwnRecord(TStream& stream, bool keepType) {
    int64_t at = stream.Position();
    uint32_t v = stream.ReadU32();
    if (v < 12) {
        stream.SetPosition(at);
        if (LoadOldAlbum(stream) != olLoaded) throw TAlbumDataEnd{};
        return 0;
    }
    uint8_t type = stream.ReadU8();
    std::string name = stream.ReadText();
    std::string description = stream.ReadText();
    std::string title = v >= 0x700 ? stream.ReadText() : std::string();
    std::string host = v >= 0x1000 ? stream.ReadText() : std::string();
    uint8_t flags = stream.ReadU8();
    int32_t reserved = v >= 13 ? stream.ReadI32() : 0;
    {
        Guard g(FLock);
        if (!keepType) FType = StoredType(type);  // a root keeps the type it is the root of
        FName = name;
        FDescription = description;
        FTitle = title;
        FHostName = host;
        FFlags = flags;
        FStoredValue = reserved;
    }
    ReadEntries(stream, v, false);
    uint32_t subs = stream.ReadU32();
    if (static_cast<int64_t>(subs) > stream.Remaining() / kMinRecordBytes) throw EReadError("Stream read error");
    return subs;
}

void TAlbum::LoadAlbum(TStream& stream) {
    struct TFrame {
        TAlbum* Album;
        uint32_t Left;
    };
    std::vector<TFrame> stack;
    stack.push_back({this, LoadOwnRecord(stream, GetParentAlbum() == nullptr && FType < kAlbumTypeCount)});
    while (!stack.empty()) {
        if (stack.back().Left == 0) {
            stack.pop_back();
            continue;
        }
        --stack.back().Left;
        if (stack.size() > static_cast<size_t>(kMaxAlbumDepth))
            throw EAlbumLoadError(Format("Album records nest deeper than %d levels", kMaxAlbumDepth));
        TAlbum* parent = stack.back().Album;
        auto* child = new TAlbum(parent, parent->GetUpdateEvent(), std::string(), std::string(), 0);  // owned by parent
        stack.push_back({child, child->LoadOwnRecord(stream, false)});
    }
}

TAlbum::TOldLoadResult TAlbum::LoadOldAlbum(TStream& stream) {
    ClearItems();
    uint32_t v = stream.ReadU32();
    if (v != 10 && v != 11 && v != 12) return olNoRecord;
    uint8_t type = stream.ReadU8();
    uint32_t count = stream.ReadU32();
    std::string name = stream.ReadText();
    std::string description = stream.ReadText();
    {
        Guard g(FLock);
        FType = StoredType(type);
        FName = name;
        FDescription = description;
    }
    const int64_t minBytes = v == 10 ? 8 : 10;
    for (uint32_t i = 0; i < count; ++i) {
        if (stream.Remaining() < minBytes) return olStopped;
        auto e = std::make_unique<TAlbumItem>();
        e->ItemNumber = stream.ReadI32();
        e->GroupNumber = stream.ReadI32();
        if (v != 10) e->Position = static_cast<int16_t>(stream.ReadU16());
        Guard g(FLock);
        FEntries.push_back(std::move(e));
    }
    return olLoaded;
}

// ---------------------------------------------------------------------------
// TAlbumList

namespace {

// Operations with a label turn our exceptions into EAlbumListError naming the label.
template <class Fn>
auto Labeled(const char* label, Fn&& fn) -> decltype(fn()) {
    try {
        return fn();
    } catch (const EAlbumListError&) {
        throw;
    } catch (const Exception& e) {
        throw EAlbumListError(Format("%s Raised in %s.%s (%s)", e.ClassName(), "TAlbumList", label, e.Message().c_str()));
    }
}

}  // namespace

TFolderMaster& TAlbumList::Relay() {
    std::lock_guard<std::mutex> g(FRelayLock);
    if (!FRelay) FRelay = std::make_unique<TFolderMaster>("(Album)");
    return *FRelay;
}

TAlbumList::TAlbumList() {
    for (int t = 0; t < kAlbumTypeCount; ++t) {
        std::string label = AlbumTypeLabel(t);
        FRoots[static_cast<size_t>(t)] = new TAlbum(nullptr, Forwarder(), label + "を格納します。", label, t);
    }
}

TAlbumList::~TAlbumList() {
    try {
        SetAlbumUpdatedProc(TFolderUpdateEvent{});
    } catch (const std::exception& e) {
        WriteLogFailed("TAlbumList.Destroy", e);
    }
    for (TAlbum*& r : FRoots) {
        delete r;
        r = nullptr;
    }
    std::lock_guard<std::mutex> g(FRelayLock);
    FRelay.reset();
}

TFolderUpdateEvent TAlbumList::Forwarder() { return MakeFolderUpdateEvent<TAlbumList, &TAlbumList::Forward>(this); }

void TAlbumList::Forward(TCustomFolder* folder, int eventCode, intptr_t data) {
    std::lock_guard<std::mutex> g(FCallbackLock);
    if (FExternal) FExternal.Proc(FExternal.Context, folder, eventCode, data);
}

TAlbum* TAlbumList::GetRootAlbum(int type) const {
    return type >= 0 && type < kAlbumTypeCount ? FRoots[static_cast<size_t>(type)] : nullptr;
}

bool TAlbumList::IsRootAlbum(const TAlbum* album) const {
    return album && std::find(FRoots.begin(), FRoots.end(), album) != FRoots.end();
}

void TAlbumList::ListupRootAlbums(std::vector<TAlbum*>& list) const {
    Labeled("ListupRootAlbums", [&] {
        list.clear();
        for (int t : {atAlbum, atFileInfoSearch, atTray}) list.push_back(GetRootAlbum(t));
    });
}

void TAlbumList::SetAlbumUpdatedProc(const TFolderUpdateEvent& callback) {
    Labeled("SetAlbumUpdatedProc", [&] {
        TFolderUpdateEvent record = callback;
        bool started;
        {
            std::lock_guard<std::mutex> g(FRelayLock);
            started = FRelay != nullptr;
        }
        if (callback || started) Relay().SetSubscriber(record);
        {
            std::lock_guard<std::mutex> g(FCallbackLock);
            FExternal = record;
        }
        std::vector<TAlbum*> roots;
        ListupRootAlbums(roots);
        for (TAlbum* r : roots) r->SetUpdateEvent(callback ? Forwarder() : TFolderUpdateEvent{});
    });
}

TAlbum* TAlbumList::CreateAlbum(TAlbum* parent, int type, const std::string& description, const std::string& name) {
    return new TAlbum(parent, Forwarder(), description, name, type);
}

TAlbum* TAlbumList::CopyAlbum(TAlbum* parent, TAlbum* source, bool recursive) {
    if (!parent || !source) return nullptr;
    try {
        // the albums to copy are listed before anything is created, so that copying an
        // album into its own subtree copies what was there, once
        struct TTask {
            TAlbum* Source;
            size_t ParentTask;  // index of the task whose copy is the new parent; npos: parent
        };
        constexpr size_t npos = static_cast<size_t>(-1);
        std::vector<TTask> tasks{{source, npos}};
        for (size_t i = 0; recursive && i < tasks.size(); ++i)
            for (TAlbum* sub : tasks[i].Source->GetSubAlbums()) tasks.push_back({sub, i});
        std::vector<TAlbum*> copies(tasks.size(), nullptr);
        for (size_t i = 0; i < tasks.size(); ++i) {
            TAlbum* src = tasks[i].Source;
            TAlbum* into = tasks[i].ParentTask == npos ? parent : copies[tasks[i].ParentTask];
            TAlbum* copy = CreateAlbum(into, src->GetAlbumType(), src->GetDescription(), src->GetName());
            copies[i] = copy;
            std::vector<TAlbumItem*> entries;
            src->GetEntriesOfKinds(99, entries);
            for (TAlbumItem* e : entries) copy->AppendItem(e->Item, e->GroupNumber);
            copy->SortEntries(false);
        }
        return copies[0];
    } catch (const std::exception& e) {
        WriteLogFailed("TAlbumList.CopyAlbum", e);
        return nullptr;
    }
}

bool TAlbumList::CleanUpChilds(TAlbum* album) {
    return Labeled("CleanUpChilds", [&] {
        if (!album || IsRootAlbum(album) || album->HasSubFolders()) return false;
        album->DeleteAlbum();
        return true;
    });
}

int TAlbumList::DeleteAlbumExImpl(TAlbum* album, int type) {
    if (!album) return 0;
    int n = 0;
    for (TAlbum* sub : album->GetSubAlbums()) n += DeleteAlbumExImpl(sub, type);
    if ((type == atUnknown || type == album->GetAlbumType()) && CleanUpChilds(album)) ++n;
    return n;
}

int TAlbumList::DeleteAlbumEx(TAlbum* album, int type) {
    return Labeled("DeleteAlbumEx", [&] { return DeleteAlbumExImpl(album, type); });
}

void TAlbumList::SeparateAlbumPathLines(std::vector<std::string>& list, const std::string& path) const {
    // UTF-8 never uses the byte of a backslash inside a character
    Labeled("SeparateAlbumPathLines", [&] {
        list.clear();
        size_t i = 0;
        while (i <= path.size()) {
            size_t j = path.find('\\', i);
            if (j == std::string::npos) j = path.size();
            if (j > i) list.push_back(path.substr(i, j - i));
            i = j + 1;
        }
    });
}

TAlbum* TAlbumList::FindChildAlbumFromName(TAlbum* album, const std::string& name) const {
    return Labeled("FindChildAlbumFromName", [&]() -> TAlbum* { return album ? album->FindChild(name) : nullptr; });
}

TAlbum* TAlbumList::GetAlbumFromPath(const std::string& path) const {
    return Labeled("GetAlbumFromPath", [&]() -> TAlbum* {
        if (path.empty()) return nullptr;
        std::vector<std::string> parts;
        SeparateAlbumPathLines(parts, path);
        if (parts.empty()) return nullptr;
        TAlbum* album = nullptr;
        for (TAlbum* r : FRoots)
            if (r->IsSameName(parts[0])) {
                album = r;
                break;
            }
        for (size_t i = 1; album && i < parts.size(); ++i) album = FindChildAlbumFromName(album, parts[i]);
        return album;
    });
}

TAlbum* TAlbumList::GetAlbumFromPathEx(int type, const std::string& path) {
    return Labeled("GetAlbumFromPathEx", [&]() -> TAlbum* {
        if (path.empty()) return nullptr;
        std::vector<std::string> parts;
        SeparateAlbumPathLines(parts, path);
        // deeper than the data may hold: it could not be loaded again
        if (parts.size() >= static_cast<size_t>(TAlbum::kMaxAlbumDepth)) return nullptr;
        TAlbum* album = GetRootAlbum(type);
        for (size_t i = 0; album && i < parts.size(); ++i) album = album->FindOrCreateChild(parts[i]);
        return album;
    });
}

void TAlbumList::SaveToStream(TStream& file) {
    Labeled("SaveToStream", [&] {
        TMemoryStream buffer;
        buffer.Data().reserve(kSaveBufferSize);
        buffer.WriteU32(kBodyVersion);
        buffer.WriteU32(0);
        buffer.WriteDouble(Now());  // at kBodySaveTimeAt
        for (TAlbum* r : FRoots) r->SaveAlbum(file, buffer);
        FlushFolderSaveBuffer(file, buffer);
    });
}

void TAlbumList::LoadFromStream(TStream& stream) {
    Labeled("LoadFromStream", [&] {
        uint32_t version = stream.ReadU32();
        uint32_t count = stream.ReadU32();
        stream.ReadDouble();
        if (version >= kBodyVersion) {
            try {
                for (TAlbum* r : FRoots) r->LoadAlbum(stream);
            } catch (const TAlbumDataEnd&) {
                // an old record that stopped ends the data
            }
            return;
        }
        for (uint32_t i = 0; i < count && stream.Remaining() > 0; ++i) {
            auto album = std::make_unique<TAlbum>(nullptr, Forwarder(), std::string(), std::string(), atUnknown);
            TAlbum::TOldLoadResult r;
            try {
                r = album->LoadOldAlbum(stream);
            } catch (const Exception&) {
                return;  // that album goes; what was read before stays
            }
            if (r == TAlbum::olNoRecord) return;
            TAlbum* loaded = album.release();
            loaded->SetParentAlbum(GetRootAlbum(loaded->GetAlbumType()));
            if (r == TAlbum::olStopped) return;
        }
    });
}

void TAlbumList::SetupFromIDList(const TItemIndex& index) {
    Labeled("SetupFromIDList", [&] {
        std::lock_guard<std::mutex> g(FSetupLock);
        for (TAlbum* r : FRoots) r->SetupFromIndex(index);
    });
}

}  // namespace fv
