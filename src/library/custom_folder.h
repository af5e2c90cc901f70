#pragma once
// The common base of every browsable folder (disk folders, roots, albums, calendar
// nodes) and the update master that forwards folder events to subscribed views.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "library/ext_items.h"
#include "platform/exception.h"
#include "platform/stream.h"

namespace fv {

class TCatalogItem;
class TCustomFolder;

FV_DECLARE_EXCEPTION(ECustomFolderError, Exception);
FV_DECLARE_EXCEPTION(EFolderUpdatedEventError, Exception);

// Folder kinds (GetFolderKind); 2 and 5 are reserved.
enum : int {
    fkFolder = 0,
    fkRoot = 1,
    fkAlbum = 3,
    fkSearchAlbum = 4,
    fkCalendarDay = 6,
    fkCalendarMonth = 7,
    fkCalendarYear = 8,
    fkCalendarRoot = 9,
};

// Categories: 1 folders, 2 albums, 3 calendar, 0 anything else.
enum : int { fcOther = 0, fcDiskFolder = 1, fcAlbum = 2, fcCalendar = 3 };
int FolderCategory(int folderKind);

// Event codes handed to DoUpdated.
enum : int {
    feCreated = 0,
    feNameChanged = 1,
    feRemoved = 2,
    feParentChanging = 3,  // data: the old parent
    feParentChanged = 4,   // data: the old parent
    fePresenceSet = 7,
    fePresenceCleared = 8,
    feAlbumText1Changed = 10,
    feAlbumText2Changed = 11,
    feItemsChanged = 12,
    feCountsChanged = 13,
};

// Check states (bits 1 and 2 of the flag byte).
enum : int { csUndecided = 0, csRegistered = 1, csExcluded = 2 };

// An update callback: a function plus its context (a "method reference").
using TFolderUpdateProc = void (*)(void* context, TCustomFolder* folder, int eventCode, intptr_t data);
struct TFolderUpdateEvent {
    TFolderUpdateProc Proc = nullptr;
    void* Context = nullptr;
    explicit operator bool() const { return Proc != nullptr; }
    bool operator==(const TFolderUpdateEvent&) const = default;
};

// Binds a member function "void T::M(TCustomFolder*, int, intptr_t)" as an update callback.
template <class T, void (T::*M)(TCustomFolder*, int, intptr_t)>
TFolderUpdateEvent MakeFolderUpdateEvent(T* object) {
    return TFolderUpdateEvent{[](void* ctx, TCustomFolder* f, int code, intptr_t data) { (static_cast<T*>(ctx)->*M)(f, code, data); },
                              object};
}

// A stable, never-zero 32-bit identity for runtime objects (pointers do not fit 32 bits).
uint32_t NextRuntimeId();

using TFolderList = std::vector<TCustomFolder*>;
using TItemList = std::vector<TCatalogItem*>;

class TCustomFolder {
public:
    TCustomFolder();
    virtual ~TCustomFolder();
    TCustomFolder(const TCustomFolder&) = delete;
    TCustomFolder& operator=(const TCustomFolder&) = delete;

    virtual const char* ClassName() const { return "TCustomFolder"; }
    uint32_t RuntimeId() const { return FRuntimeId; }

    virtual int GetFolderKind() const = 0;
    virtual std::string GetCaption() const = 0;
    virtual std::string GetFullName() const = 0;
    virtual bool HasSubFolders() const = 0;
    virtual TCustomFolder* GetParent() const = 0;
    virtual int GetAlbumType() const { return 13; }
    virtual std::string GetAlbumTypeName() const { return "未対応"; }
    virtual int GetItemCount() const = 0;
    virtual int GetItemCountOfKinds(TKindSet kinds) const = 0;
    virtual int GetMarkedItemCount() const = 0;
    virtual int GetTotalItemCount() const;
    virtual int GetTotalItemCountOfKinds(TKindSet kinds) const;
    virtual int GetTotalMarkedItemCount() const;
    virtual int GetCheckState() const;
    virtual void SetCheckState(int state);
    virtual void SetUpdateEvent(const TFolderUpdateEvent& event);
    virtual void DoUpdated(int eventCode, intptr_t data);
    virtual void LoadFromStream(TStream& stream);
    virtual void SaveToStream(TStream& stream);
    virtual bool IsChildOf(const TCustomFolder* folder) const = 0;
    virtual void GetSubFolders(TFolderList& list) const = 0;
    virtual void GetRemovedSubFolders(TFolderList& list) const = 0;
    virtual void GetItems(TItemList& list) const = 0;
    virtual void GetItemsOfKinds(TKindSet kinds, TItemList& list) const = 0;
    // raise ECustomFolderError unless the folder can enumerate a medium
    virtual void SearchFiles(TItemList* list);
    virtual void SearchFilesEx(TKindSet kinds, TItemList* list);

    bool GetKeep() const;
    void SetKeep(bool keep);
    bool GetOptionsFollow() const;
    void SetOptionsFollow(bool on);
    uint8_t GetFlagByte() const;
    int GetCategory() const { return FolderCategory(GetFolderKind()); }
    int32_t GetStoredValue() const;
    void SetStoredValue(int32_t value);
    TFolderUpdateEvent GetUpdateEvent() const;

    bool UpdateCounts(bool notify);
    bool UpdateTotals(bool notify);
    void NotifyItemsChanged() { DoUpdated(feItemsChanged, 0); }
    int32_t OwnItemCount() const;
    int32_t OwnMarkedCount() const;
    int32_t SubtreeItemCount() const;
    int32_t SubtreeMarkedCount() const;

    std::recursive_mutex& Lock() const { return FLock; }

protected:
    mutable std::recursive_mutex FLock;
    uint8_t FFlags = 0;
    TFolderUpdateEvent FUpdateEvent;
    int32_t FStoredValue = 0;
    int32_t FOwnItemCount = 0, FOwnMarkedCount = 0;
    int32_t FSubtreeItemCount = 0, FSubtreeMarkedCount = 0;

private:
    uint32_t FRuntimeId;
};

// Forwards folder events to the subscribed views, newest subscriber first.
class TFolderUpdateMaster {
public:
    TFolderUpdateMaster() = default;
    TFolderUpdateMaster(const TFolderUpdateMaster&) = delete;
    TFolderUpdateMaster& operator=(const TFolderUpdateMaster&) = delete;

    void Add(const void* subscriber, const std::string& subscriberClass, const TFolderUpdateEvent& event);
    void Remove(const void* subscriber, const TFolderUpdateEvent& event);
    void DoEvent(TCustomFolder* folder, int eventCode, intptr_t data);
    size_t Count() const;
    // the callback a tree installs with SetUpdateEvent
    TFolderUpdateEvent AsUpdateEvent() {
        return TFolderUpdateEvent{[](void* ctx, TCustomFolder* f, int code, intptr_t data) {
                                      static_cast<TFolderUpdateMaster*>(ctx)->DoEvent(f, code, data);
                                  },
                                  this};
    }

private:
    struct TFolderUpdatedEventItem {
        const void* Subscriber;
        std::string SubscriberClass;
        TFolderUpdateEvent Event;
    };
    mutable std::recursive_mutex FLock;
    std::vector<std::unique_ptr<TFolderUpdatedEventItem>> FItems;
};

}  // namespace fv
