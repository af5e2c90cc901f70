#pragma once
// Disk folders and folder roots: the parts of the user's disks the library mirrors.
// A folder owns its catalog items and subfolders; those that disappear move to the
// removed lists and stay owned until the folder is freed, so references held by views,
// albums and queued events stay valid.
//
// Lock order: a folder's lock may be held while taking a subfolder's or an item's lock,
// never the other way round (items ask their owner only after releasing their own lock).
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/file_functions.h"
#include "library/catalog_item.h"
#include "library/custom_folder.h"
#include "library/ext_items.h"
#include "platform/fs.h"
#include "platform/stream.h"

namespace fv {

// Loading of the folder tree stopped (a subfolder or root record could not be read);
// the engine logs it as a load failure and shows nothing.
FV_DECLARE_EXCEPTION(EFolderLoadAbort, Exception);

class TFolder : public TCustomFolder {
public:
    // Flush threshold of the save buffer.
    static constexpr int64_t kSaveBufferLimit = 204800;
    static constexpr uint32_t kRootVersion = 10;
    // Deepest nesting of folder records a load accepts: a path of at most 4096 bytes
    // names at most 2048 levels. Deeper data is damaged or crafted; the load stops.
    static constexpr int kMaxFolderDepth = 2048;

    explicit TFolder(const std::string& name = std::string());
    ~TFolder() override;
    const char* ClassName() const override { return "TFolder"; }

    // TCustomFolder
    int GetFolderKind() const override { return fkFolder; }
    std::string GetCaption() const override { return GetName(); }
    std::string GetFullName() const override;
    bool HasSubFolders() const override;
    TCustomFolder* GetParent() const override;
    int GetItemCount() const override;
    int GetItemCountOfKinds(TKindSet kinds) const override;
    int GetMarkedItemCount() const override;
    bool IsChildOf(const TCustomFolder* folder) const override;
    void GetSubFolders(TFolderList& list) const override;
    void GetRemovedSubFolders(TFolderList& list) const override;
    void GetItems(TItemList& list) const override;
    void GetItemsOfKinds(TKindSet kinds, TItemList& list) const override;
    void SearchFiles(TItemList* list) override { SearchFilesEx(kDefaultKindSet, list); }
    void SearchFilesEx(TKindSet kinds, TItemList* list) override;
    void LoadFromStream(TStream& stream) override;
    using TCustomFolder::SaveToStream;

    // folder slots
    virtual TCatalogItem* CreateItem() { return new TCatalogItem(); }
    virtual TFolder* CreateSubFolder(const std::string& name) { return new TFolder(name); }
    virtual int32_t GetDriveType() const;
    virtual bool IsCdRom() const { return GetDriveType() == DRIVE_CDROM; }
    virtual uint32_t GetVolumeSerial() const;
    virtual std::string GetDriveName() const;
    virtual std::string GetVolumeName() const;
    virtual void GetDriveInfo(TDriveInfoRec& info) const;
    virtual void SaveToStream(TStream& file, TMemoryStream& buffer, int32_t& itemCounter);
    virtual bool IsRemoved() const;
    virtual void Remove();
    virtual void CheckExists(bool recursive, bool checkItems);
    virtual bool Purge(bool recursive, bool purgeItems);
    virtual void EnumFiles(const TExtItems& registry, TItemList* out);
    virtual void ScanSubFolders(TFolderList* out);
    void ScanSubFoldersQuiet() { ScanSubFolders(nullptr); }

    // Purge used by the engine's folder deletion: moves items in state 2 or 3 and
    // ignores the check state.
    bool PurgeForDeletion(bool recursive, bool purgeItems);

    std::string GetName() const;
    TFolder* GetParentFolder() const;
    bool IsOffline() const;
    void SetOffline(bool offline);
    int32_t GetTreeNumber() const { return FTreeNumber.load(); }
    void SetTreeNumber(int32_t n) { FTreeNumber.store(n); }

    // lookups by exact name (binary search in name order)
    TCatalogItem* FindItem(const std::string& name) const;
    TFolder* FindSubFolder(const std::string& name) const;
    TCatalogItem* FindOrCreateItem(const std::string& name, bool* created);
    // inserts an item (taking ownership) unless one with the same name exists
    bool AddItem(TCatalogItem* item);
    void RemoveItem(TCatalogItem* item);
    int RemoveAllItems();
    TFolder* AddSubFolder(const std::string& name);
    void Rename(const std::string& name);
    void SetParent(TFolder* folder);
    bool CanMoveTo(const TFolder* folder) const;
    void RecomputePath();

    void GetRemovedItems(TItemList& list) const;
    int GetRemovedItemCount() const;
    int GetRemovedSubFolderCount() const;

    // for TCatalogItem: rename inside the sorted list; give the item up without freeing it
    void RenameItem(TCatalogItem* item, const std::string& name);
    void DetachItem(TCatalogItem* item);

protected:
    // the options block after the flag byte (flag bit 3); nothing here
    virtual void SaveOptions(TStream&) {}
    virtual void LoadOptions(TStream&) {}
    // writes name, flag byte, items and subfolders
    void SaveFolderRecord(TStream& file, TMemoryStream& buffer, int32_t& itemCounter);
    // one folder's record up to its subfolder count (the subfolders are appended to subs)
    uint32_t SaveOwnRecord(TStream& file, TMemoryStream& buffer, int32_t& itemCounter, TFolderList& subs);
    // reads one folder's record up to its subfolder count, which it returns
    uint32_t LoadOwnRecord(TStream& stream);
    bool PurgeImpl(bool recursive, bool purgeItems, bool forDeletion);
    // the items `drop` picks leave the folder's list for the removed ones and are marked deleted
    void RemoveItemsWhere(const std::function<bool(TCatalogItem*)>& drop);
    bool HasRemovedSubFolder(const TFolder* folder) const;
    void RemoveSubFolderToRemoved(TFolder* folder);  // parent side of Remove
    void ResortSubFolders();

    // The items in name order (locale ignoring case, then exact bytes). A lookup compares a
    // few names; collation keys are made only while sorting many names at once and not kept.
    struct TItemEntry {
        std::string Name;  // exact name
        TCatalogItem* Item;
    };
    // position of the first entry not below name
    size_t LowerBound(const std::string& name) const;
    // puts entries into name order (cheap when they are in it already, as stored lists are)
    static void SortEntries(std::vector<TItemEntry>& entries);
    int IndexOfItem(const TCatalogItem* item) const;  // by identity

    std::string FName;
    std::string FFullName;
    bool FOffline = false;
    TFolder* FParent = nullptr;
    std::vector<TItemEntry> FItems;
    std::vector<TCatalogItem*> FRemovedItems;
    std::vector<TFolder*> FSubFolders;
    std::vector<TFolder*> FRemovedSubFolders;
    std::atomic<int32_t> FTreeNumber{0};
    std::mutex FScanLock;  // one file enumeration at a time per folder
};

class TFolderRoot : public TFolder {
public:
    TFolderRoot();
    explicit TFolderRoot(const TDriveInfoRec& info);
    const char* ClassName() const override { return "TFolderRoot"; }

    int GetFolderKind() const override { return fkRoot; }
    std::string GetCaption() const override;
    int32_t GetDriveType() const override;
    uint32_t GetVolumeSerial() const override;
    std::string GetDriveName() const override { return GetName(); }
    std::string GetVolumeName() const override;
    void GetDriveInfo(TDriveInfoRec& info) const override;
    void SaveToStream(TStream& file, TMemoryStream& buffer, int32_t& itemCounter) override;
    void LoadFromStream(TStream& stream) override;
    bool IsRemoved() const override;
    void Remove() override;

private:
    uint32_t FVolumeSerial = 0xFFFFFFFFu;
    int32_t FDriveType = 0;
    std::string FVolumeName;
    bool FRemoved = false;
};

// Identity order of roots: drive text, drive type, volume serial (signed difference),
// volume name.
int CompareRootIdentity(const TFolderRoot& a, const TFolderRoot& b);

// Writes what the save buffer still holds to the file and rewinds the buffer.
void FlushFolderSaveBuffer(TStream& file, TMemoryStream& buffer);

// Full name of a child: the parent's full name with one trailing delimiter, then the name.
std::string JoinFolderPath(const std::string& parentFullName, const std::string& name);

}  // namespace fv
