#pragma once
// The folder tree list (the roots of the disk folder tree, look-ups by path, numbering,
// the folder data body and the item-number index) and the relay that carries model
// events from any thread to the views on the user-interface thread.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/file_functions.h"
#include "core/threads.h"
#include "library/custom_folder.h"
#include "library/folder.h"
#include "platform/exception.h"
#include "platform/stream.h"

namespace fv {

FV_DECLARE_EXCEPTION(EFolderMasterException, Exception);

// Item number -> item, built after loading so that albums, calendar and history can turn
// stored item numbers back into items. Numbers outside 0..Count()-1 give none.
class TItemIndex {
public:
    explicit TItemIndex(size_t count) : FItems(count, nullptr) {}
    int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
    TCatalogItem* Get(int64_t number) const {
        return number >= 0 && number < static_cast<int64_t>(FItems.size()) ? FItems[static_cast<size_t>(number)] : nullptr;
    }
    void Set(int64_t number, TCatalogItem* item) {
        if (number >= 0 && number < static_cast<int64_t>(FItems.size())) FItems[static_cast<size_t>(number)] = item;
    }

private:
    std::vector<TCatalogItem*> FItems;
};

class TFolderMaster;

// One queued model event.
struct TFolderEventRecord {
    TCustomFolder* Folder;
    uint8_t EventCode;
    intptr_t Data;
};

// The relay's thread: every 100 ms it takes the master's queue and hands each event to
// the subscriber on the user-interface thread.
class TFolderWatcher : public TThreadObject {
public:
    explicit TFolderWatcher(TFolderMaster& master) : FMaster(master) {}
    ~TFolderWatcher() override { TerminateAndWait(); }
    std::string ClassName() const override { return "TFolderWatcher"; }

    void SetSubscriber(const TFolderUpdateEvent& event);
    TFolderUpdateEvent GetSubscriber() const;
    // asks the thread to end and wakes it from its pause
    void Stop();

protected:
    void Execute() override;

private:
    void Deliver(const std::vector<TFolderEventRecord>& events);
    TFolderMaster& FMaster;
    // held while a subscriber runs, so that once SetSubscriber returns the old one is never
    // called again (recursive: a subscriber may unsubscribe from inside its own call)
    mutable std::recursive_mutex FSubscriberLock;
    TFolderUpdateEvent FSubscriber;
    std::mutex FWakeLock;
    std::condition_variable FWake;
    friend class TFolderMaster;
};

class TFolderMaster {
public:
    // name: "(Folder)" for the folder tree, "(Album)" for the album list
    explicit TFolderMaster(const std::string& name);
    ~TFolderMaster();
    TFolderMaster(const TFolderMaster&) = delete;
    TFolderMaster& operator=(const TFolderMaster&) = delete;

    const std::string& Name() const { return FName; }
    // Stores record as the subscriber. When record was set, it is replaced by this master's
    // Enqueue, which the caller installs as the model's external callback. An empty record
    // detaches the subscriber. Raises EFolderMasterException without a watcher.
    void SetSubscriber(TFolderUpdateEvent& record);
    // any thread
    void Enqueue(TCustomFolder* folder, int eventCode, intptr_t data);
    TFolderUpdateEvent EnqueueEvent();
    size_t PendingCount() const;

private:
    friend class TFolderWatcher;
    void TakeQueue(std::vector<TFolderEventRecord>& out);

    std::string FName;
    mutable std::mutex FQueueLock;
    std::vector<TFolderEventRecord> FQueue;
    std::unique_ptr<TFolderWatcher> FWatcher;
};

// Stops a relay thread: stop() asks it to end (repeated between slices); pending UI calls run
// while waiting, so that a thread inside a synchronised call can finish.
void StopWatcherThread(TThreadObject& thread, const std::function<void()>& stop);

class TFolderTreeList {
public:
    static constexpr uint16_t kTreeMarker = 0xF0F0;
    // the save buffer's preset size
    static constexpr size_t kSaveBufferSize = 256 * 1024;
    // a path longer than this names nothing on this system
    static constexpr size_t kMaxPathBytes = 4096;

    TFolderTreeList();
    virtual ~TFolderTreeList();
    TFolderTreeList(const TFolderTreeList&) = delete;
    TFolderTreeList& operator=(const TFolderTreeList&) = delete;

    int GetRootCount() const;
    TFolderRoot* GetRoot(int index) const;
    std::vector<TFolderRoot*> GetRoots() const;
    // takes ownership
    void AddRoot(TFolderRoot* root);
    TFolderRoot* CreateRoot(const TDriveInfoRec& info);
    TFolderRoot* FindRoot(const TDriveInfoRec& info) const;
    TFolderRoot* FindOrCreateRoot(const TDriveInfoRec& info);
    // none for a path outside the drive, too long or too deep, or on any error
    TFolder* FindOrCreateFolder(const TDriveInfoRec& info, const std::string& path);
    TFolder* FindOrCreateFolderByPath(const std::string& path);
    // the root is found or created; the folders below are only searched
    TFolder* FindFolder(const TDriveInfoRec& info, const std::string& path);
    TFolder* FindFolderByPath(const std::string& path);
    int GetTotalItemCount() const;
    void PurgeAll(bool recursive, bool purgeItems);
    void Renumber();
    // hands the callback to the relay and installs the relay's queue as the tree's
    // external callback; an empty callback detaches the subscriber
    void SetUpdateEvent(const TFolderUpdateEvent& callback);
    // writes the body; itemCount receives the number of items written
    void SaveTree(TStream& file, int32_t& itemCount);
    // reads the body; a wrong marker loads nothing. Errors propagate and leave the roots as
    // they were.
    void LoadTree(TStream& stream);
    // null on any error
    std::unique_ptr<TItemIndex> BuildItemIndex() const;

    // the relay, started by the first subscriber (a tree nobody watches runs no thread)
    TFolderMaster& Relay();
    bool HasRelay() const;
    int GetRemovedRootCount() const;

protected:
    // creates a root and loads it; the wireless-card form creates its own root class
    virtual TFolderRoot* CreateRootFromStream(TStream& stream);

private:
    void OnFolderEvent(TCustomFolder* folder, int eventCode, intptr_t data);
    TFolderUpdateEvent FolderEvent() { return MakeFolderUpdateEvent<TFolderTreeList, &TFolderTreeList::OnFolderEvent>(this); }
    void SortRootsLocked();
    // drive text with one trailing delimiter and the names of the path below it
    static bool SplitBelowDrive(const TDriveInfoRec& info, const std::string& path, std::vector<std::string>& names);

    mutable std::recursive_mutex FRootsLock;
    std::vector<TFolderRoot*> FRoots;
    std::vector<TFolderRoot*> FRemovedRoots;
    mutable std::mutex FCallbackLock;
    TFolderUpdateEvent FExternal;
    mutable std::mutex FRelayLock;
    std::unique_ptr<TFolderMaster> FRelay;
};

}  // namespace fv
