#include "library/folder.h"

#include <algorithm>
#include <unordered_map>

#include "core/log.h"
#include "platform/file_sys.h"
#include "library/export_info.h"
#include "platform/collate.h"

namespace fv {

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

int CompareFolderNames(const TFolder* a, const TFolder* b) { return CompareNameOrder(a->GetName(), b->GetName()); }

}  // namespace

std::string JoinFolderPath(const std::string& parentFullName, const std::string& name) {
    std::string p = parentFullName;
    while (!p.empty() && p.back() == '/') p.pop_back();
    return p + "/" + name;
}

void FlushFolderSaveBuffer(TStream& file, TMemoryStream& buffer) {
    int64_t n = buffer.Position();
    if (n > 0) file.WriteBuffer(buffer.Data().data(), n);
    buffer.SetPosition(0);
}

TFolder::TFolder(const std::string& name) : FName(name), FFullName(name) {}

TFolder::~TFolder() {
    // a failure while freeing one object stops that list only
    auto freeAll = [](auto& list) {
        try {
            for (auto*& entry : list) {
                auto* p = entry;
                entry = nullptr;
                delete p;
            }
        } catch (...) {
        }
        list.clear();
    };
    // Every folder below is taken out of its parent's lists first, so that each one frees
    // only its own items: a deep tree is freed by this loop, not by one call per level.
    std::vector<TFolder*> below;
    auto takeSubFolders = [&below](TFolder* f) {
        below.insert(below.end(), f->FSubFolders.begin(), f->FSubFolders.end());
        below.insert(below.end(), f->FRemovedSubFolders.begin(), f->FRemovedSubFolders.end());
        f->FSubFolders.clear();
        f->FRemovedSubFolders.clear();
    };
    takeSubFolders(this);
    for (size_t i = 0; i < below.size(); ++i) takeSubFolders(below[i]);
    std::vector<TCatalogItem*> items;
    for (TItemEntry& e : FItems) items.push_back(e.Item);
    FItems.clear();
    freeAll(items);
    freeAll(FRemovedItems);
    freeAll(below);
}

std::string TFolder::GetName() const {
    Guard g(FLock);
    return FName;
}

std::string TFolder::GetFullName() const {
    Guard g(FLock);
    return FFullName;
}

bool TFolder::HasSubFolders() const {
    Guard g(FLock);
    return !FSubFolders.empty();
}

TCustomFolder* TFolder::GetParent() const { return GetParentFolder(); }

TFolder* TFolder::GetParentFolder() const {
    Guard g(FLock);
    return FParent;
}

int TFolder::GetItemCount() const {
    Guard g(FLock);
    return static_cast<int>(FItems.size());
}

int TFolder::GetItemCountOfKinds(TKindSet kinds) const {
    Guard g(FLock);
    int n = 0;
    for (const TItemEntry& e : FItems)
        if (KindInSet(e.Item->GetKind(), kinds)) ++n;
    return n;
}

int TFolder::GetMarkedItemCount() const {
    Guard g(FLock);
    int n = 0;
    for (const TItemEntry& e : FItems)
        if (e.Item->IsMarked()) ++n;
    return n;
}

bool TFolder::IsChildOf(const TCustomFolder* folder) const {
    if (!folder) return false;
    for (TFolder* p = GetParentFolder(); p; p = p->GetParentFolder())
        if (p == folder) return true;
    return false;
}

void TFolder::GetSubFolders(TFolderList& list) const {
    Guard g(FLock);
    list.insert(list.end(), FSubFolders.begin(), FSubFolders.end());
}

void TFolder::GetRemovedSubFolders(TFolderList& list) const {
    Guard g(FLock);
    list.insert(list.end(), FRemovedSubFolders.begin(), FRemovedSubFolders.end());
}

void TFolder::GetItems(TItemList& list) const {
    Guard g(FLock);
    for (const TItemEntry& e : FItems) list.push_back(e.Item);
}

void TFolder::GetItemsOfKinds(TKindSet kinds, TItemList& list) const {
    Guard g(FLock);
    for (const TItemEntry& e : FItems)
        if (KindInSet(e.Item->GetKind(), kinds)) list.push_back(e.Item);
}

void TFolder::GetRemovedItems(TItemList& list) const {
    Guard g(FLock);
    list.insert(list.end(), FRemovedItems.begin(), FRemovedItems.end());
}

int TFolder::GetRemovedItemCount() const {
    Guard g(FLock);
    return static_cast<int>(FRemovedItems.size());
}

int TFolder::GetRemovedSubFolderCount() const {
    Guard g(FLock);
    return static_cast<int>(FRemovedSubFolders.size());
}

void TFolder::SearchFilesEx(TKindSet kinds, TItemList* list) {
    if (kinds == 0) return;
    TExtItems registry(kinds);
    EnumFiles(registry, list);
}

// --- drive facts: asked of the parent, answered by the root

int32_t TFolder::GetDriveType() const {
    TFolder* p = GetParentFolder();
    return p ? p->GetDriveType() : 0;
}

uint32_t TFolder::GetVolumeSerial() const {
    TFolder* p = GetParentFolder();
    return p ? p->GetVolumeSerial() : 0;
}

std::string TFolder::GetDriveName() const {
    TFolder* p = GetParentFolder();
    return p ? p->GetDriveName() : std::string();
}

std::string TFolder::GetVolumeName() const {
    TFolder* p = GetParentFolder();
    return p ? p->GetVolumeName() : std::string();
}

void TFolder::GetDriveInfo(TDriveInfoRec& info) const {
    TFolder* p = GetParentFolder();
    if (p) {
        p->GetDriveInfo(info);
        return;
    }
    info.DriveType = 0;
    info.SerialNumber = 0;
    info.VolumeName.clear();
    info.Drive.clear();
}

// --- sorted item list

size_t TFolder::LowerBound(const std::string& name) const {
    size_t lo = 0, hi = FItems.size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (CompareNameOrder(FItems[mid].Name, name) < 0) lo = mid + 1;
        else hi = mid;
    }
    return lo;
}

void TFolder::SortEntries(std::vector<TItemEntry>& entries) {
    auto less = [](const TItemEntry& a, const TItemEntry& b) { return CompareNameOrder(a.Name, b.Name) < 0; };
    if (std::is_sorted(entries.begin(), entries.end(), less)) return;
    // each name's key once, then byte comparisons
    struct TKeyed {
        std::string Key;
        size_t At;
    };
    std::vector<TKeyed> keyed;
    keyed.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) keyed.push_back({CollationKeyIgnoreCase(entries[i].Name), i});
    std::stable_sort(keyed.begin(), keyed.end(), [&](const TKeyed& a, const TKeyed& b) {
        int r = CompareTextExact(a.Key, b.Key);
        return (r != 0 ? r : CompareTextExact(entries[a.At].Name, entries[b.At].Name)) < 0;
    });
    std::vector<TItemEntry> sorted;
    sorted.reserve(entries.size());
    for (const TKeyed& k : keyed) sorted.push_back(std::move(entries[k.At]));
    entries = std::move(sorted);
}

int TFolder::IndexOfItem(const TCatalogItem* item) const {
    // by name first (binary search), by identity when the name does not lead to it
    std::string name = item->GetFileName();
    for (size_t i = LowerBound(name); i < FItems.size() && FItems[i].Name == name; ++i)
        if (FItems[i].Item == item) return static_cast<int>(i);
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].Item == item) return static_cast<int>(i);
    return -1;
}

TCatalogItem* TFolder::FindItem(const std::string& name) const {
    Guard g(FLock);
    size_t i = LowerBound(name);
    if (i < FItems.size() && FItems[i].Name == name) return FItems[i].Item;
    return nullptr;
}

TCatalogItem* TFolder::FindOrCreateItem(const std::string& name, bool* created) {
    Guard g(FLock);
    size_t i = LowerBound(name);
    if (i < FItems.size() && FItems[i].Name == name) {
        if (created) *created = false;
        return FItems[i].Item;
    }
    TCatalogItem* item = CreateItem();
    item->SetFileNameRaw(name);
    item->SetOwnerRaw(this);
    FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(i), TItemEntry{name, item});
    if (created) *created = true;
    return item;
}

bool TFolder::AddItem(TCatalogItem* item) {
    if (!item) return false;
    std::string name = item->GetFileName();
    Guard g(FLock);
    size_t i = LowerBound(name);
    if (i < FItems.size() && FItems[i].Name == name) return FItems[i].Item == item;
    item->SetOwnerRaw(this);
    FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(i), TItemEntry{name, item});
    return true;
}

void TFolder::RemoveItem(TCatalogItem* item) {
    Guard g(FLock);
    int i = IndexOfItem(item);
    if (i >= 0) FItems.erase(FItems.begin() + i);
    if (std::find(FRemovedItems.begin(), FRemovedItems.end(), item) == FRemovedItems.end() && (i >= 0))
        FRemovedItems.push_back(item);
}

int TFolder::RemoveAllItems() {
    std::vector<TCatalogItem*> items;
    {
        Guard g(FLock);
        for (TItemEntry& e : FItems) {
            items.push_back(e.Item);
            FRemovedItems.push_back(e.Item);
        }
        FItems.clear();
    }
    for (TCatalogItem* it : items) it->SetState(isDeleted);
    return static_cast<int>(items.size());
}

void TFolder::RenameItem(TCatalogItem* item, const std::string& name) {
    Guard g(FLock);
    int i = IndexOfItem(item);
    if (i < 0) {
        item->SetFileNameRaw(name);
        return;
    }
    FItems.erase(FItems.begin() + i);
    item->SetFileNameRaw(name);
    size_t at = LowerBound(name);
    FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(at), TItemEntry{name, item});
}

void TFolder::DetachItem(TCatalogItem* item) {
    Guard g(FLock);
    int i = IndexOfItem(item);
    if (i >= 0) FItems.erase(FItems.begin() + i);
    std::erase(FRemovedItems, item);
}

// --- subfolders

TFolder* TFolder::FindSubFolder(const std::string& name) const {
    Guard g(FLock);
    size_t lo = 0, hi = FSubFolders.size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        int r = CompareNameOrder(FSubFolders[mid]->GetName(), name);
        if (r == 0) return FSubFolders[mid];
        if (r < 0) lo = mid + 1;
        else hi = mid;
    }
    return nullptr;
}

TFolder* TFolder::AddSubFolder(const std::string& name) {
    TFolder* created = nullptr;
    TFolder* found = nullptr;
    {
        Guard g(FLock);
        size_t lo = 0, hi = FSubFolders.size();
        while (lo < hi) {
            size_t mid = (lo + hi) / 2;
            int r = CompareNameOrder(FSubFolders[mid]->GetName(), name);
            if (r == 0) {
                found = FSubFolders[mid];
                break;
            }
            if (r < 0) lo = mid + 1;
            else hi = mid;
        }
        if (!found) {
            created = CreateSubFolder(name);
            {
                Guard cg(created->FLock);
                created->FParent = this;
                created->FFullName = JoinFolderPath(FFullName, name);
                created->FUpdateEvent = FUpdateEvent;
            }
            FSubFolders.insert(FSubFolders.begin() + static_cast<std::ptrdiff_t>(lo), created);
        }
    }
    if (created) {
        created->DoUpdated(feCreated, 0);
        return created;
    }
    return found;
}

void TFolder::ResortSubFolders() {
    Guard g(FLock);
    std::stable_sort(FSubFolders.begin(), FSubFolders.end(),
                     [](const TFolder* a, const TFolder* b) { return CompareFolderNames(a, b) < 0; });
}

void TFolder::RecomputePath() {
    // parents before children, without one call per level
    std::vector<TFolder*> todo{this};
    while (!todo.empty()) {
        TFolder* f = todo.back();
        todo.pop_back();
        TFolder* parent = f->GetParentFolder();
        std::string parentName = parent ? parent->GetFullName() : std::string();
        Guard g(f->FLock);
        f->FFullName = parent ? JoinFolderPath(parentName, f->FName) : f->FName;
        todo.insert(todo.end(), f->FSubFolders.begin(), f->FSubFolders.end());
        todo.insert(todo.end(), f->FRemovedSubFolders.begin(), f->FRemovedSubFolders.end());
    }
}

void TFolder::Rename(const std::string& name) {
    {
        Guard g(FLock);
        if (FName == name) return;  // exact: a change of case is a rename here
        FName = name;
    }
    RecomputePath();
    if (TFolder* p = GetParentFolder()) p->ResortSubFolders();
    // the tree list renumbers its folders when it sees event 1
    DoUpdated(feNameChanged, 0);
}

bool TFolder::CanMoveTo(const TFolder* folder) const {
    if (!folder || folder == this || folder == GetParentFolder()) return false;
    if (folder->IsChildOf(this)) return false;
    return true;
}

void TFolder::SetParent(TFolder* folder) {
    TFolder* old = GetParentFolder();
    if (old == folder) return;
    DoUpdated(feParentChanging, reinterpret_cast<intptr_t>(old));
    try {
        if (old) {
            Guard g(old->FLock);
            std::erase(old->FSubFolders, this);
        }
        {
            Guard g(FLock);
            FParent = folder;
        }
        RecomputePath();
        if (folder) {
            std::string name = GetName();
            Guard g(folder->FLock);
            bool clash = false;
            for (TFolder* f : folder->FSubFolders)
                if (f->GetName() == name) clash = true;
            if (!clash) {
                auto at = std::lower_bound(folder->FSubFolders.begin(), folder->FSubFolders.end(), this,
                                           [](const TFolder* a, const TFolder* b) { return CompareFolderNames(a, b) < 0; });
                folder->FSubFolders.insert(at, this);
            }
        }
    } catch (...) {
        RecomputePath();
        DoUpdated(feParentChanged, reinterpret_cast<intptr_t>(old));
        throw;
    }
    DoUpdated(feParentChanged, reinterpret_cast<intptr_t>(old));
}

bool TFolder::IsOffline() const {
    Guard g(FLock);
    return FOffline;
}

void TFolder::SetOffline(bool offline) {
    TFolderList subs;
    {
        Guard g(FLock);
        FOffline = offline;
        if (offline) subs.insert(subs.end(), FSubFolders.begin(), FSubFolders.end());
    }
    for (TCustomFolder* f : subs) static_cast<TFolder*>(f)->SetOffline(true);
}

// --- removal and purge

bool TFolder::HasRemovedSubFolder(const TFolder* folder) const {
    Guard g(FLock);
    return std::find(FRemovedSubFolders.begin(), FRemovedSubFolders.end(), folder) != FRemovedSubFolders.end();
}

bool TFolder::IsRemoved() const {
    const TFolder* f = this;
    for (TFolder* p = f->GetParentFolder(); p; f = p, p = p->GetParentFolder())
        if (p->HasRemovedSubFolder(f)) return true;
    // the top of the chain: a removed root says so itself
    return f != this && f->IsRemoved();
}

void TFolder::RemoveSubFolderToRemoved(TFolder* folder) {
    Guard g(FLock);
    auto it = std::find(FSubFolders.begin(), FSubFolders.end(), folder);
    if (it == FSubFolders.end()) return;
    FSubFolders.erase(it);
    FRemovedSubFolders.push_back(folder);
}

void TFolder::Remove() {
    RemoveAllItems();
    TFolderList subs;
    GetSubFolders(subs);
    for (TCustomFolder* f : subs) static_cast<TFolder*>(f)->Remove();
    if (TFolder* p = GetParentFolder()) p->RemoveSubFolderToRemoved(this);
    DoUpdated(feRemoved, 0);
}

void TFolder::RemoveItemsWhere(const std::function<bool(TCatalogItem*)>& drop) {
    std::vector<TCatalogItem*> gone;
    {
        Guard g(FLock);
        std::vector<TItemEntry> keep;
        keep.reserve(FItems.size());
        for (TItemEntry& e : FItems) {
            if (drop(e.Item)) {
                FRemovedItems.push_back(e.Item);
                gone.push_back(e.Item);
            } else {
                keep.push_back(std::move(e));
            }
        }
        FItems = std::move(keep);
    }
    // marked outside the folder's lock
    for (TCatalogItem* it : gone) it->SetState(isDeleted);
}

bool TFolder::PurgeImpl(bool recursive, bool purgeItems, bool forDeletion) {
    if (recursive) {
        TFolderList subs;
        GetSubFolders(subs);
        for (TCustomFolder* f : subs) static_cast<TFolder*>(f)->PurgeImpl(true, purgeItems, forDeletion);
    }
    if (purgeItems) {
        RemoveItemsWhere([forDeletion](TCatalogItem* item) {
            const uint8_t s = item->GetState();
            return s == isDeleted || (forDeletion && s == isMissing);
        });
    }
    bool needed;
    {
        Guard g(FLock);
        needed = !FSubFolders.empty() || !FItems.empty() || GetKeep() || (!forDeletion && GetCheckState() != csUndecided);
    }
    if (!needed) Remove();
    return needed;
}

bool TFolder::Purge(bool recursive, bool purgeItems) { return PurgeImpl(recursive, purgeItems, false); }

bool TFolder::PurgeForDeletion(bool recursive, bool purgeItems) { return PurgeImpl(recursive, purgeItems, true); }

// --- disk checks and scans

namespace {
// drive folders stored while an unlabelled volume was still named "" are the same volume as "Unknown"
bool SameVolumeName(const std::string& a, const std::string& b) {
    auto norm = [](const std::string& s) { return s.empty() ? std::string("Unknown") : s; };
    return norm(a) == norm(b);
}
}  // namespace

void TFolder::CheckExists(bool recursive, bool checkItems) {
    std::string path = GetFullName();
    bool match = false;
    try {
        TFileFacts facts;
        bool exists = ReadFileFacts(path, facts) && facts.IsDirectory;
        if (exists) {
            TDriveInfoRec info;
            if (fv::GetDriveInfo(path, info) && info.DriveType != DRIVE_NO_ROOT_DIR) {
                TDriveInfoRec mine;
                GetDriveInfo(mine);
                match = info.DriveType == mine.DriveType && info.SerialNumber == mine.SerialNumber &&
                        SameVolumeName(info.VolumeName, mine.VolumeName);
            }
        }
    } catch (const std::exception& e) {
        WriteLogFailed("TFolder.CheckExists", e);
        match = false;
    }
    SetOffline(!match);
    if (checkItems) {
        TItemList items;
        GetItems(items);
        std::string folder = path;
        for (TCatalogItem* it : items) {
            bool missing = true;
            if (match) {
                TFileFacts f;
                missing = !ReadFileFacts(JoinFolderPath(folder, it->GetFileName()), f) || f.IsDirectory;
            }
            it->SetMissing(missing);
        }
    }
    if (recursive) {
        TFolderList subs;
        GetSubFolders(subs);
        for (TCustomFolder* f : subs) static_cast<TFolder*>(f)->CheckExists(recursive, checkItems);
    }
}

void TFolder::EnumFiles(const TExtItems& registry, TItemList* out) {
    std::lock_guard<std::mutex> scan(FScanLock);
    TKindSet kinds = registry.GetKindSet();
    std::string path = GetFullName();

    // exact-name index of the current items; every scanned kind starts out missing
    std::unordered_map<std::string_view, TCatalogItem*> byName;
    std::vector<TItemEntry> snapshot;
    {
        Guard g(FLock);
        snapshot = FItems;
    }
    byName.reserve(snapshot.size() * 2 + 16);
    for (const TItemEntry& e : snapshot) {
        byName.emplace(e.Name, e.Item);
        if (KindInSet(e.Item->GetKind(), kinds)) e.Item->SetState(isMissing);
    }

    std::vector<TItemEntry> created;
    TItemList newItems;
    TDirListResult result = TDirListResult::Failed;
    try {
        TExtItem ext;
        result = ListDirectory(
            path,
            [&](std::string_view name, bool) { return registry.FindItem(ExtractFileExtView(name), ext); },
            [&](std::string_view name, const TFileFacts& facts) {
                if (!facts.IsFile) return;
                TSearchRec rec;
                rec.Name.assign(name);
                rec.Size = facts.Size;
                rec.MTimeSec = facts.MTimeSec;
                rec.MTimeNsec = facts.MTimeNsec;
                rec.ReadOnly = facts.ReadOnly;
                TCatalogItem* item;
                auto it = byName.find(name);
                if (it != byName.end()) {
                    item = it->second;
                } else {
                    item = CreateItem();
                    item->SetOwnerRaw(this);
                    created.push_back(TItemEntry{rec.Name, item});
                    newItems.push_back(item);
                }
                item->UpdateFromSearchRecEx(rec, ext.Kind, ext.Viewable);
                if (out) out->push_back(item);
            });
    } catch (const std::exception& e) {
        WriteLogFailed("TFolder.EnumFiles", e);
        result = TDirListResult::Failed;
    }

    // new items join the sorted list in one merge
    if (!created.empty()) {
        for (TItemEntry& e : created) e.Item->SetFileNameRaw(e.Name);
        SortEntries(created);
        auto less = [](const TItemEntry& a, const TItemEntry& b) { return CompareNameOrder(a.Name, b.Name) < 0; };
        Guard g(FLock);
        std::vector<TItemEntry> merged;
        merged.reserve(FItems.size() + created.size());
        std::merge(std::make_move_iterator(FItems.begin()), std::make_move_iterator(FItems.end()),
                   std::make_move_iterator(created.begin()), std::make_move_iterator(created.end()),
                   std::back_inserter(merged), less);
        FItems = std::move(merged);
    }

    if (!newItems.empty()) {
        try {
            LoadInfoDataXml(newItems, path);
        } catch (const std::exception& e) {
            WriteLogFailed("TFolder.EnumFiles", e);
        }
    }

    if (result == TDirListResult::Failed) {
        // The folder exists but could not be read to the end (no permission, I/O error,
        // a medium pulled out): what was not seen stays missing and the folder goes
        // offline, so that the user's marks, comments and ratings are not thrown away.
        SetOffline(true);
        return;
    }
    RemoveItemsWhere([kinds](TCatalogItem* item) { return KindInSet(item->GetKind(), kinds) && item->GetState() == isMissing; });
}

void TFolder::ScanSubFolders(TFolderList* out) {
    TFolderList rest;
    GetSubFolders(rest);
    std::vector<std::string> names;
    try {
        ListDirectory(
            GetFullName(), [](std::string_view, bool maybeDir) { return maybeDir; },
            [&](std::string_view name, const TFileFacts& facts) {
                if (facts.IsDirectory) names.emplace_back(name);
            });
    } catch (const std::exception& e) {
        WriteLogFailed("TFolder.ScanSubFolders", e);
    }
    for (const std::string& name : names) {
        TFolder* sub = AddSubFolder(name);
        sub->SetOffline(false);
        if (out) out->push_back(sub);
        std::erase(rest, static_cast<TCustomFolder*>(sub));
    }
    for (TCustomFolder* f : rest) static_cast<TFolder*>(f)->SetOffline(true);
}

// --- persistence

uint32_t TFolder::SaveOwnRecord(TStream& file, TMemoryStream& buffer, int32_t& itemCounter, TFolderList& subs) {
    std::string name;
    TItemList items;
    {
        Guard g(FLock);
        name = FName;
        for (const TItemEntry& e : FItems) items.push_back(e.Item);
        subs.insert(subs.end(), FSubFolders.begin(), FSubFolders.end());
    }
    buffer.WriteText(name);
    TCustomFolder::SaveToStream(buffer);
    if (GetOptionsFollow()) SaveOptions(buffer);
    buffer.WriteU32(static_cast<uint32_t>(items.size()));
    for (TCatalogItem* it : items) {
        it->SetItemNumber(itemCounter++);
        it->SaveToStream(buffer);
    }
    if (buffer.Position() > kSaveBufferLimit) FlushFolderSaveBuffer(file, buffer);
    buffer.WriteU32(static_cast<uint32_t>(subs.size()));
    return static_cast<uint32_t>(subs.size());
}

void TFolder::SaveFolderRecord(TStream& file, TMemoryStream& buffer, int32_t& itemCounter) {
    // records follow in tree order (each folder before its subfolders); the walk keeps its
    // own stack instead of one call per level
    std::vector<TFolder*> todo{this};
    TFolderList subs;
    while (!todo.empty()) {
        TFolder* f = todo.back();
        todo.pop_back();
        subs.clear();
        f->SaveOwnRecord(file, buffer, itemCounter, subs);
        for (auto it = subs.rbegin(); it != subs.rend(); ++it) todo.push_back(static_cast<TFolder*>(*it));
    }
}

void TFolder::SaveToStream(TStream& file, TMemoryStream& buffer, int32_t& itemCounter) {
    SaveFolderRecord(file, buffer, itemCounter);
}

uint32_t TFolder::LoadOwnRecord(TStream& stream) {
    // the smallest item record: version, length 0 and seven empty texts
    constexpr int64_t kMinItemBytes = 4 + 2 + 7 * 4;
    constexpr int64_t kMinFolderBytes = 4 + 1 + 4 + 4;
    std::string name = stream.ReadText();
    {
        Guard g(FLock);
        FName = name;
        FFullName = name;
    }
    TCustomFolder::LoadFromStream(stream);
    if (GetOptionsFollow()) LoadOptions(stream);
    uint32_t count = stream.ReadU32();
    if (static_cast<int64_t>(count) > stream.Remaining() / kMinItemBytes) throw EReadError("Stream read error");
    {
        Guard g(FLock);
        FItems.reserve(FItems.size() + count);
    }
    for (uint32_t i = 0; i < count; ++i) {
        std::unique_ptr<TCatalogItem> item(CreateItem());
        item->LoadFromStream(stream);
        item->SetOwnerRaw(this);
        TItemEntry entry{item->GetFileName(), item.get()};
        Guard g(FLock);
        FItems.push_back(std::move(entry));
        item.release();
    }
    // the stored order is the sorted order of the program that wrote it; a newer
    // collation may order some names differently, and binary searches need ours
    {
        Guard g(FLock);
        SortEntries(FItems);
    }
    uint32_t subCount = stream.ReadU32();
    if (static_cast<int64_t>(subCount) > stream.Remaining() / kMinFolderBytes) throw EReadError("Stream read error");
    return subCount;
}

void TFolder::LoadFromStream(TStream& stream) {
    // Subfolder records nest in the data; they are read with a stack of our own, and a
    // nesting deeper than any path can name stops the load (a crafted file cannot make
    // us recurse once per level).
    struct TFrame {
        TFolder* Folder;
        uint32_t Left;
    };
    std::vector<TFrame> stack;
    stack.push_back({this, LoadOwnRecord(stream)});
    while (!stack.empty()) {
        if (stack.back().Left == 0) {
            stack.back().Folder->ResortSubFolders();
            stack.pop_back();
            continue;
        }
        --stack.back().Left;
        TFolder* parent = stack.back().Folder;
        if (stack.size() > static_cast<size_t>(kMaxFolderDepth))
            throw EFolderLoadAbort(Format("Folder records nest deeper than %d levels", kMaxFolderDepth));
        std::unique_ptr<TFolder> sub(parent->CreateSubFolder(std::string()));
        uint32_t subCount;
        try {
            subCount = sub->LoadOwnRecord(stream);
        } catch (const EFolderLoadAbort&) {
            throw;
        } catch (const std::exception& e) {
            // the subfolder is freed; the whole tree stops loading
            throw EFolderLoadAbort(Format("%s : %s", ExceptionClassName(e).c_str(), e.what()));
        }
        {
            Guard sg(sub->FLock);
            sub->FParent = parent;
        }
        TFolder* raw = sub.get();
        {
            Guard g(parent->FLock);
            parent->FSubFolders.push_back(sub.release());
        }
        stack.push_back({raw, subCount});
    }
}

// ---------------------------------------------------------------------------
// TFolderRoot

TFolderRoot::TFolderRoot() : TFolder(std::string()) {}

TFolderRoot::TFolderRoot(const TDriveInfoRec& info)
    : TFolder(info.Drive), FVolumeSerial(info.SerialNumber), FDriveType(info.DriveType), FVolumeName(info.VolumeName) {}

std::string TFolderRoot::GetCaption() const {
    return Format("%s (%s)", GetVolumeName().c_str(), GetName().c_str());
}

int32_t TFolderRoot::GetDriveType() const {
    Guard g(FLock);
    return FDriveType;
}

uint32_t TFolderRoot::GetVolumeSerial() const {
    Guard g(FLock);
    return FVolumeSerial;
}

std::string TFolderRoot::GetVolumeName() const {
    Guard g(FLock);
    return FVolumeName;
}

void TFolderRoot::GetDriveInfo(TDriveInfoRec& info) const {
    Guard g(FLock);
    info.DriveType = FDriveType;
    info.SerialNumber = FVolumeSerial;
    info.VolumeName = FVolumeName;
    info.Drive = FName;
}

void TFolderRoot::SaveToStream(TStream& file, TMemoryStream& buffer, int32_t& itemCounter) {
    uint32_t serial;
    int32_t type;
    std::string volume;
    {
        Guard g(FLock);
        serial = FVolumeSerial;
        type = FDriveType;
        volume = FVolumeName;
    }
    buffer.WriteU32(kRootVersion);
    buffer.WriteU32(serial);
    buffer.WriteI32(type);
    buffer.WriteText(volume);
    SaveFolderRecord(file, buffer, itemCounter);
}

void TFolderRoot::LoadFromStream(TStream& stream) {
    uint32_t version = stream.ReadU32();
    if (version != kRootVersion) throw EFolderLoadAbort(Format("Folder root version %u is not supported", version));
    uint32_t serial = stream.ReadU32();
    int32_t type = stream.ReadI32();
    std::string volume = stream.ReadText();
    {
        Guard g(FLock);
        FVolumeSerial = serial;
        FDriveType = type;
        FVolumeName = volume;
    }
    TFolder::LoadFromStream(stream);
    RecomputePath();
}

bool TFolderRoot::IsRemoved() const {
    Guard g(FLock);
    return FRemoved;
}

void TFolderRoot::Remove() {
    {
        Guard g(FLock);
        FRemoved = true;
    }
    TFolder::Remove();
}

int CompareRootIdentity(const TFolderRoot& a, const TFolderRoot& b) {
    int r = CompareNameOrder(a.GetDriveName(), b.GetDriveName());
    if (r != 0) return r;
    int32_t ta = a.GetDriveType(), tb = b.GetDriveType();
    if (ta != tb) return ta < tb ? -1 : 1;
    int32_t d = static_cast<int32_t>(a.GetVolumeSerial() - b.GetVolumeSerial());
    if (d != 0) return d < 0 ? -1 : 1;
    return CompareNameOrder(a.GetVolumeName(), b.GetVolumeName());
}

}  // namespace fv
