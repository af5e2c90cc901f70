#include "library/history_list.h"

#include "core/log.h"
#include "library/album.h"
#include "library/calendar.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"

namespace fv {

namespace {
using Guard = std::lock_guard<std::recursive_mutex>;
// the smallest stored entry: kind and an empty path
constexpr int64_t kMinEntryBytes = 1 + 4;

bool PathIsAtOrBelow(const std::string& dir, const std::string& path) {
    std::string d = IncludeTrailingPathDelimiter(dir);
    std::string p = IncludeTrailingPathDelimiter(path);
    return !dir.empty() && p.compare(0, d.size(), d) == 0;
}
}  // namespace

THistoryList::THistoryList(int capacity) : FCapacity(capacity > 0 ? capacity : 0) {}

void THistoryList::DeleteAtLocked(size_t i) {
    FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(i));
    // The current index follows its entry. When the current entry itself goes, the one
    // before it becomes current; at the front the new first entry does (never -1 while
    // entries remain, which would make the next Add drop the whole history).
    if (FCurrent >= static_cast<int>(i) && FCurrent > 0) --FCurrent;
    if (FItems.empty()) FCurrent = -1;
    else if (FCurrent >= static_cast<int>(FItems.size())) FCurrent = static_cast<int>(FItems.size()) - 1;
}

void THistoryList::TrimLocked() {
    if (FCapacity <= 0) return;
    while (FItems.size() > static_cast<size_t>(FCapacity)) DeleteAtLocked(0);
}

void THistoryList::CollapseDuplicatesLocked() {
    for (size_t i = FItems.size(); i-- > 1;)
        if (FItems[i - 1].Folder == FItems[i].Folder) DeleteAtLocked(i - 1);
}

void THistoryList::Add(TCustomFolder* folder) {
    if (!folder) return;
    Guard g(FLock);
    if (FCurrent >= 0 && FCurrent < static_cast<int>(FItems.size()) && FItems[static_cast<size_t>(FCurrent)].Folder == folder)
        return;
    while (static_cast<int>(FItems.size()) > FCurrent + 1) FItems.pop_back();
    THistoryItem item;
    item.Folder = folder;
    FItems.push_back(std::move(item));
    TrimLocked();
    FCurrent = static_cast<int>(FItems.size()) - 1;
}

TCustomFolder* THistoryList::Back() {
    Guard g(FLock);
    if (FCurrent <= 0 || FCurrent >= static_cast<int>(FItems.size())) return nullptr;
    return FItems[static_cast<size_t>(--FCurrent)].Folder;
}

TCustomFolder* THistoryList::Forward() {
    Guard g(FLock);
    if (FCurrent < 0 || FCurrent + 1 >= static_cast<int>(FItems.size())) return nullptr;
    return FItems[static_cast<size_t>(++FCurrent)].Folder;
}

bool THistoryList::CanBack() const {
    Guard g(FLock);
    return FCurrent > 0;
}

bool THistoryList::CanForward() const {
    Guard g(FLock);
    return FCurrent >= 0 && FCurrent <= static_cast<int>(FItems.size()) - 2;
}

TCustomFolder* THistoryList::GetFolder(int index) const {
    Guard g(FLock);
    return index >= 0 && index < static_cast<int>(FItems.size()) ? FItems[static_cast<size_t>(index)].Folder : nullptr;
}

TCustomFolder* THistoryList::GetCurrent() const {
    Guard g(FLock);
    return GetFolder(FCurrent);
}

TCustomFolder* THistoryList::GetLast() const {
    Guard g(FLock);
    return GetFolder(static_cast<int>(FItems.size()) - 1);
}

int THistoryList::Count() const {
    Guard g(FLock);
    return static_cast<int>(FItems.size());
}

int THistoryList::CurrentIndex() const {
    Guard g(FLock);
    return FCurrent;
}

int THistoryList::Capacity() const {
    Guard g(FLock);
    return FCapacity;
}

std::vector<THistoryItem> THistoryList::Entries() const {
    Guard g(FLock);
    return FItems;
}

void THistoryList::RemoveFolder(TCustomFolder* folder) {
    Guard g(FLock);
    for (size_t i = FItems.size(); i-- > 0;)
        if (FItems[i].Folder == folder) DeleteAtLocked(i);
    CollapseDuplicatesLocked();
}

void THistoryList::ReplaceFolder(TCustomFolder* oldFolder, TCustomFolder* newFolder) {
    Guard g(FLock);
    for (THistoryItem& it : FItems)
        if (it.Folder == oldFolder) it.Folder = newFolder;
    CollapseDuplicatesLocked();
}

void THistoryList::SetCapacity(int n) {
    Guard g(FLock);
    FCapacity = n > 0 ? n : 0;
    TrimLocked();
}

void THistoryList::Clear() {
    Guard g(FLock);
    FItems.clear();
    FCurrent = -1;
}

void THistoryList::SaveToStream(TStream& stream) {
    Guard g(FLock);
    for (THistoryItem& it : FItems) {
        if (!it.Folder) continue;
        switch (it.Folder->GetCategory()) {
            case 1: it.Kind = hkDiskFolder; break;
            case 2: it.Kind = hkAlbum; break;
            case 3: it.Kind = hkCalendar; break;
            default: break;
        }
        it.Path = it.Folder->GetFullName();
        if (auto* f = dynamic_cast<TFolder*>(it.Folder)) {
            TDriveInfoRec info;
            f->GetDriveInfo(info);
            it.DriveType = info.DriveType;
            it.VolumeSerial = info.SerialNumber;
            it.VolumeName = info.VolumeName;
        }
    }
    stream.WriteU32(kMagic);
    stream.WriteU32(static_cast<uint32_t>(FItems.size()));
    for (const THistoryItem& it : FItems) {
        stream.WriteU8(it.Kind);
        stream.WriteText(it.Path);
        if (it.Kind == hkDiskFolder) {
            stream.WriteI32(it.DriveType);
            stream.WriteU32(it.VolumeSerial);
            stream.WriteText(it.VolumeName);
        }
    }
}

bool THistoryList::LoadFromStream(TStream& stream) {
    Guard g(FLock);
    Clear();
    try {
        if (stream.Remaining() <= 4) return true;
        int64_t at = stream.Position();
        if (stream.ReadU32() != kMagic) {
            stream.SetPosition(at);
            return true;
        }
        uint32_t count = stream.ReadU32();
        if (static_cast<int64_t>(count) > stream.Remaining() / kMinEntryBytes) throw EReadError("Stream read error");
        FItems.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            THistoryItem it;
            it.Kind = stream.ReadU8();
            it.Path = stream.ReadText();
            if (it.Kind == hkDiskFolder) {
                it.DriveType = stream.ReadI32();
                it.VolumeSerial = stream.ReadU32();
                it.VolumeName = stream.ReadText();
            }
            FItems.push_back(std::move(it));
        }
        TrimLocked();
        FCurrent = static_cast<int>(FItems.size()) - 1;
        return true;
    } catch (const std::exception& e) {
        WriteLogFailed("THistoryList.LoadFromStream", e);
        Clear();
        return false;
    }
}

void THistoryList::LoadAndResolve(TStream& stream, const THistoryResolver& resolver) {
    Guard g(FLock);
    try {
        if (!LoadFromStream(stream)) return;
        for (THistoryItem& it : FItems) {
            it.Folder = nullptr;
            switch (it.Kind) {
                case hkDiskFolder:
                    if (resolver.DiskFolder) it.Folder = resolver.DiskFolder(it);
                    break;
                case hkAlbum:
                    if (resolver.Album) it.Folder = resolver.Album(it.Path);
                    break;
                case hkCalendar:
                    if (resolver.Calendar) it.Folder = resolver.Calendar(it.Path);
                    break;
                default: break;
            }
        }
        for (size_t i = FItems.size(); i-- > 0;)
            if (!FItems[i].Folder) DeleteAtLocked(i);
        CollapseDuplicatesLocked();
    } catch (const std::exception& e) {
        WriteLogFailed("THistoryList.LoadAndResolve", e);
        Clear();
    }
}

THistoryResolver THistoryList::TreeResolver(TFolderTreeList* tree) {
    THistoryResolver r;
    if (tree)
        r.DiskFolder = [tree](const THistoryItem& it) -> TCustomFolder* {
            TDriveInfoRec info;
            info.DriveType = it.DriveType;
            info.SerialNumber = it.VolumeSerial;
            info.VolumeName = it.VolumeName;
            // The entry keeps the volume but not its mount point: that is the longest root of
            // the tree with the same volume that holds the path, else where the path is
            // mounted now, else "/".
            info.Drive.clear();
            for (TFolderRoot* root : tree->GetRoots()) {
                std::string d = root->GetDriveName();
                if (root->GetDriveType() == it.DriveType && root->GetVolumeSerial() == it.VolumeSerial &&
                    root->GetVolumeName() == it.VolumeName && PathIsAtOrBelow(d, it.Path) && d.size() > info.Drive.size())
                    info.Drive = d;
            }
            if (info.Drive.empty()) {
                TDriveInfoRec live;
                info.Drive = GetDriveInfo(it.Path, live) && PathIsAtOrBelow(live.Drive, it.Path) ? live.Drive : "/";
            }
            return tree->FindOrCreateFolder(info, it.Path);
        };
    return r;
}

THistoryResolver THistoryList::LibraryResolver(TFolderTreeList* tree, TCalendarRoot* calendar, TAlbumList* albums) {
    THistoryResolver r = TreeResolver(tree);
    if (albums) r.Album = [albums](const std::string& path) -> TCustomFolder* { return albums->GetAlbumFromPath(path); };
    if (calendar)
        r.Calendar = [calendar](const std::string& path) -> TCustomFolder* { return calendar->FindByPath(path); };
    return r;
}

}  // namespace fv
