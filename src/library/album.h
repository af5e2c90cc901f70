#pragma once
// Albums: named, nestable collections of catalog items (the user's albums, search
// results, the photo-book tray, book albums, imported albums, tags), the fourteen root
// albums that own them, and the album data body.
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "library/catalog_item.h"
#include "metadata/correction_record.h"
#include "library/custom_folder.h"
#include "platform/exception.h"
#include "platform/stream.h"

namespace fv {

class TItemIndex;
class TFolder;
class TFolderMaster;

FV_DECLARE_EXCEPTION(EAlbumListError, Exception);
// Loading of the album data stopped on a record that no real library holds.
FV_DECLARE_EXCEPTION(EAlbumLoadError, Exception);

// album types
enum : int {
    atAlbum = 0,
    atSimilarSearch = 1,
    atFileInfoSearch = 2,
    atSamePositionSearch = 3,
    atIndexSearch = 4,
    atExifSearch = 5,
    atTray = 6,
    atMirabelo = 7,
    atTags = 8,
    atUnknown = 13,
    kAlbumTypeCount = 14,
};

// "アルバム", ... "不明"; "Error" outside 0..13
std::string AlbumTypeLabel(int type);

// One entry of an album.
struct TAlbumItem {
    // What the photo-book upload records for an entry. Most entries never carry any, so the
    // block is made when first written; an entry without one reads the empty values.
    struct TUploadData {
        std::string ResourceId;
        int32_t Orientation = 0;
        TCorrectionRecord Correction = ZeroCorrection();
        std::string Comment;
        bool Empty() const {
            return ResourceId.empty() && Orientation == 0 && Correction == ZeroCorrection() && Comment.empty();
        }
    };

    int16_t Position = -1;
    int32_t ItemNumber = 0;
    int32_t GroupNumber = 0;
    TCatalogItem* Item = nullptr;  // not owned; none until resolved

    const TUploadData& Upload() const { return FUpload ? *FUpload : EmptyUpload(); }
    TUploadData& MutableUpload() {
        if (!FUpload) FUpload = std::make_unique<TUploadData>();
        return *FUpload;
    }
    // takes what was read, keeping no block when it holds nothing
    void SetUpload(TUploadData&& data) {
        if (data.Empty()) FUpload.reset();
        else FUpload = std::make_unique<TUploadData>(std::move(data));
    }

    static TCorrectionRecord ZeroCorrection() {
        TCorrectionRecord c;
        c.Gamma = 0;
        return c;
    }

private:
    static const TUploadData& EmptyUpload() {
        static const TUploadData empty;
        return empty;
    }
    std::unique_ptr<TUploadData> FUpload;
};

class TAlbum : public TCustomFolder {
public:
    static constexpr uint32_t kRecordVersion = 0x1100;
    static constexpr int64_t kSaveBufferLimit = 204800;
    // Deepest nesting the album data may hold; deeper records are damage and stop the load.
    static constexpr int kMaxAlbumDepth = 1024;

    TAlbum(TAlbum* parent, const TFolderUpdateEvent& callback, const std::string& description, const std::string& name,
           int type);
    ~TAlbum() override;
    const char* ClassName() const override { return "TAlbum"; }

    // TCustomFolder
    int GetFolderKind() const override;
    std::string GetCaption() const override { return GetName(); }
    std::string GetFullName() const override;
    bool HasSubFolders() const override;
    TCustomFolder* GetParent() const override { return GetParentAlbum(); }
    int GetAlbumType() const override;
    std::string GetAlbumTypeName() const override { return AlbumTypeLabel(GetAlbumType()); }
    int GetItemCount() const override;
    int GetItemCountOfKinds(TKindSet kinds) const override;
    int GetMarkedItemCount() const override;
    bool IsChildOf(const TCustomFolder* folder) const override;
    void GetSubFolders(TFolderList& list) const override;
    void GetRemovedSubFolders(TFolderList& list) const override;
    void GetItems(TItemList& list) const override;
    void GetItemsOfKinds(TKindSet kinds, TItemList& list) const override;

    std::string GetName() const;
    void SetName(const std::string& name);
    std::string GetTitle() const;
    void SetTitle(const std::string& s);
    std::string GetDescription() const;
    void SetDescription(const std::string& s);
    std::string GetHostName() const;
    void SetHostName(const std::string& s);
    TAlbum* GetParentAlbum() const;
    void SetParentAlbum(TAlbum* album);
    TFolder* GetLinkedFolder() const;
    void SetLinkedFolder(TFolder* folder);
    std::vector<TAlbum*> GetSubAlbums() const;

    bool IsSameName(const std::string& name) const;
    TAlbum* FindChild(const std::string& name) const;
    TAlbum* FindOrCreateChild(const std::string& name);
    TAlbum* FirstChild() const;
    TAlbum* NextChild(const TAlbum* album) const;

    // entries (the pointers stay valid while the album lives: removed entries stay owned)
    TAlbumItem* FindEntry(const TCatalogItem* item) const;
    TAlbumItem* AddItem(TCatalogItem* item, int32_t groupNumber);
    TAlbumItem* AppendItem(TCatalogItem* item, int32_t groupNumber);
    int RemoveItem(TCatalogItem* item);
    void ClearItems();
    void GetEntriesOfKinds(TKindSet kinds, std::vector<TAlbumItem*>& list);
    std::vector<TAlbumItem*> GetEntries() const;
    int GetRemovedEntryCount() const;
    void SortEntries(bool recursive);
    void PurgeEntries();
    void DeleteAlbum();
    void SetupFromIndex(const TItemIndex& index);

    void SaveAlbum(TStream& file, TMemoryStream& buffer);
    // raises on damage; a record below version 12 is read by LoadOldAlbum
    void LoadAlbum(TStream& stream);
    // Old records (versions 10 to 12): olNoRecord when the version is not one of them
    // (nothing read), olStopped when an entry could not be read (the entries before it
    // stay); both end the data for the caller.
    enum TOldLoadResult { olLoaded, olNoRecord, olStopped };
    TOldLoadResult LoadOldAlbum(TStream& stream);

private:
    friend class TAlbumList;
    // this album's own record up to (and without) its subalbums; answers the subalbum count
    uint32_t LoadOwnRecord(TStream& stream, bool keepType);
    uint32_t SaveOwnRecord(TStream& file, TMemoryStream& buffer, std::vector<TAlbum*>& subs);
    void ReadEntries(TStream& stream, uint32_t version, bool oldLayout);
    void PurgeEntriesLocked();
    size_t LowerBoundLocked(const TCatalogItem* item) const;
    void SetNameImpl(const std::string& name, bool notify);

    uint8_t FType;
    std::string FName, FTitle, FDescription, FHostName;
    TAlbum* FParent = nullptr;
    std::vector<std::unique_ptr<TAlbumItem>> FEntries;
    std::vector<std::unique_ptr<TAlbumItem>> FRemovedEntries;
    std::vector<TAlbum*> FSubAlbums;
    std::vector<TAlbum*> FRemovedSubAlbums;
    TFolder* FLinkedFolder = nullptr;
};

class TAlbumList {
public:
    static constexpr uint32_t kBodyVersion = 50;
    // where the body keeps its save time (version, count, then the time)
    static constexpr int64_t kBodySaveTimeAt = 8;
    static constexpr size_t kSaveBufferSize = 256 * 1024;

    TAlbumList();
    ~TAlbumList();
    TAlbumList(const TAlbumList&) = delete;
    TAlbumList& operator=(const TAlbumList&) = delete;

    // none outside 0..13
    TAlbum* GetRootAlbum(int type) const;
    bool IsRootAlbum(const TAlbum* album) const;
    void ListupRootAlbums(std::vector<TAlbum*>& list) const;
    void SetAlbumUpdatedProc(const TFolderUpdateEvent& callback);
    TAlbum* CreateAlbum(TAlbum* parent, int type, const std::string& description, const std::string& name);
    TAlbum* CopyAlbum(TAlbum* parent, TAlbum* source, bool recursive);
    bool CleanUpChilds(TAlbum* album);
    int DeleteAlbumEx(TAlbum* album, int type);
    void SeparateAlbumPathLines(std::vector<std::string>& list, const std::string& path) const;
    TAlbum* FindChildAlbumFromName(TAlbum* album, const std::string& name) const;
    TAlbum* GetAlbumFromPath(const std::string& path) const;
    TAlbum* GetAlbumFromPathEx(int type, const std::string& path);
    void SaveToStream(TStream& file);
    void LoadFromStream(TStream& stream);
    void SetupFromIDList(const TItemIndex& index);

    // the relay, started by the first subscriber
    TFolderMaster& Relay();
    TFolderUpdateEvent Forwarder();

private:
    void Forward(TCustomFolder* folder, int eventCode, intptr_t data);
    int DeleteAlbumExImpl(TAlbum* album, int type);

    std::mutex FRelayLock;
    std::unique_ptr<TFolderMaster> FRelay;
    std::array<TAlbum*, kAlbumTypeCount> FRoots{};
    std::mutex FSetupLock;
    std::mutex FCallbackLock;
    TFolderUpdateEvent FExternal;
};

}  // namespace fv
