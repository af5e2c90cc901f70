#pragma once
// The back/forward navigation history over folders, albums and calendar nodes, and its
// persisted form (the body of the history data file).
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "library/custom_folder.h"
#include "platform/stream.h"

namespace fv {

class TFolderTreeList;
class TCalendarRoot;
class TAlbumList;

// entry kinds
enum : uint8_t { hkUnknown = 0, hkDiskFolder = 1, hkAlbum = 2, hkCalendar = 3 };

struct THistoryItem {
    TCustomFolder* Folder = nullptr;
    uint8_t Kind = hkUnknown;
    int32_t DriveType = -1;
    uint32_t VolumeSerial = 0xFFFFFFFFu;
    std::string VolumeName = "Unknown";
    std::string Path = "Unknown";
};

// How stored entries find their folders again; a missing function resolves to none.
struct THistoryResolver {
    std::function<TCustomFolder*(const THistoryItem&)> DiskFolder;
    std::function<TCustomFolder*(const std::string& path)> Album;
    std::function<TCustomFolder*(const std::string& path)> Calendar;
};

class THistoryList {
public:
    static constexpr uint32_t kMagic = 0x00001001;

    explicit THistoryList(int capacity = 0);
    THistoryList(const THistoryList&) = delete;
    THistoryList& operator=(const THistoryList&) = delete;

    void Add(TCustomFolder* folder);
    TCustomFolder* Back();
    TCustomFolder* Forward();
    bool CanBack() const;
    bool CanForward() const;
    TCustomFolder* GetCurrent() const;
    TCustomFolder* GetLast() const;
    TCustomFolder* GetFolder(int index) const;
    int Count() const;
    int CurrentIndex() const;
    int Capacity() const;
    std::vector<THistoryItem> Entries() const;

    void RemoveFolder(TCustomFolder* folder);
    void ReplaceFolder(TCustomFolder* oldFolder, TCustomFolder* newFolder);
    // n <= 0: unlimited
    void SetCapacity(int n);
    void Clear();

    void SaveToStream(TStream& stream);
    // A damaged body empties the history (logged) and answers false; no magic loads nothing.
    bool LoadFromStream(TStream& stream);
    // load, then find each entry's folder; entries without one go; any error clears
    void LoadAndResolve(TStream& stream, const THistoryResolver& resolver);
    // disk folders through the tree (recreated when their drive is gone)
    static THistoryResolver TreeResolver(TFolderTreeList* tree);
    // the above, albums by full name and calendar nodes by path (null objects resolve to none)
    static THistoryResolver LibraryResolver(TFolderTreeList* tree, TCalendarRoot* calendar, TAlbumList* albums);

private:
    void DeleteAtLocked(size_t i);
    void TrimLocked();
    void CollapseDuplicatesLocked();

    mutable std::recursive_mutex FLock;
    std::vector<THistoryItem> FItems;
    int FCapacity = 0;
    int FCurrent = -1;
};

}  // namespace fv
