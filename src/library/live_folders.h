#pragma once
// Folders that update themselves. The folder shown in the grid (with its subfolders as deep as the
// grid lists them) and every disk folder registered in the calendar (check state 1, and the
// undecided folders below one) are watched; a change in one
// of them is coalesced (a quiet time per folder, and a cap so that a steady stream still updates
// it about every second) and then the folder is rescanned on this object's worker thread, the same
// way `fvb scan` rescans it. The rescan raises the folder's item event (12), which reaches the
// views through the tree's relay; changed photos raise the catalog's "picture rewritten" event so
// their thumbnails are made again, and vanished ones its "deleted" event. A folder that vanishes or
// whose volume is unmounted goes offline as the tree's existence check decides. When the system's
// watch limit is reached, the folders beyond it are rescanned periodically instead (logged once).
// When the kernel drops events (its queue overflowed), every watched folder is read again once.
// A shown folder on a network share or a FUSE mount, where a watch sees only this machine's own
// changes, is also read again every little while.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "library/disk_rescan.h"
#include "library/ext_items.h"
#include "platform/dir_watch.h"

namespace fv {

class TCustomFolder;
class TFolder;
class TFolderTreeList;
class TCatalogItem;
class TThreadObject;

class TLiveFolders {
public:
    struct TOptions {
        int QuietMs = 200;          // a folder is rescanned once this long passed without a change in it
        int CapMs = 1000;           // ... or at the latest this long after its first unhandled change
        int SettleMs = 1000;        // a file created but not closed is looked at again after this long unchanged
        int FallbackMs = 30000;     // unwatched (limit reached) and offline folders are looked at this often
        int ResyncMs = 10000;       // the registered folders are collected again this often
        TKindSet Kinds = 35;        // BMP, JPEG and raw photos, as the grid of the main window lists them
        int RemoteRescanMs = 15000;  // shown folders on network or FUSE file systems are read this often
        int ShownFoldersMax = 5000;  // at most this many folders of the shown tree are watched
        int WatchLimitForTests = 0;  // > 0: the door answers "limit reached" beyond this many watches
        bool TestFeed = false;       // FeedForTests can hand the door's reader made-up records
    };
    // (item, catalog event type): 2 the file is gone, 17 the picture itself changed; on the worker
    using TItemEventProc = std::function<void(TCatalogItem* item, uint8_t type)>;
    // after each rescan, on the worker (tests and figures)
    using TRescanObserver = std::function<void(TFolder* folder, const TFolderRescan& scan)>;

    TLiveFolders(TFolderTreeList* tree, TOptions options);
    ~TLiveFolders();
    TLiveFolders(const TLiveFolders&) = delete;
    TLiveFolders& operator=(const TLiveFolders&) = delete;

    // before Start
    void SetItemEventProc(TItemEventProc proc) { FItemEvent = std::move(proc); }
    void SetRescanObserver(TRescanObserver proc) { FObserver = std::move(proc); }

    // Opens the watch door and starts the worker; false when inotify cannot be used at all (then
    // every wanted folder is looked at by the periodic rescan).
    bool Start();
    // Stops the worker and closes the door; must run before the folder tree is freed.
    void Stop();
    bool Running() const;

    // The grid's folder (any thread), and the depth code its listing goes down to (0 the folder
    // alone .. 3 every level below): the subfolders it lists are watched too. Only disk folders
    // are watched for it; others clear it.
    void SetShownFolder(TCustomFolder* folder, int depthCode = 0);
    // Collect the registered folders again now (after the user changed a check state).
    void Resync();

    // state, for tests and the status display
    struct TState {
        int Watched = 0;      // folders with a watch
        int Unwatched = 0;    // wanted folders without one (limit reached, offline, not found)
        bool LimitReached = false;
        int Rescans = 0;
        int LimitLogs = 0;
        int Overflows = 0;     // queue overflows handled (coalesced ones count once)
        int OverflowLogs = 0;
        int RemoteShown = 0;   // shown folders read periodically because their file system hides changes
    };
    TState State() const;
    bool IsWatched(TFolder* folder) const;
    // Tests: records read by the door's reader as if the kernel wrote them (needs TOptions::TestFeed)
    bool FeedForTests(const std::vector<uint8_t>& records) { return FDoor.FeedForTests(records); }

private:
    class TWorker;
    struct TWanted {
        int32_t Watch = -1;
        bool Shown = false;
        bool Registered = false;
        bool OfflineSeen = false;  // its going offline was handled (the views told once)
        bool Remote = false;       // on a network or FUSE file system: watches miss others' changes
    };
    struct TPending {
        std::chrono::steady_clock::time_point First, Last;
        bool SubFolders = false;  // a folder inside it came or went
        bool Exists = false;      // the folder itself may be gone
    };
    struct TSettle {
        std::chrono::steady_clock::time_point Last;
        int64_t Size = -1;
        int64_t MTime = -1;
    };
    using TClock = std::chrono::steady_clock;

    void Run();
    void OnEvents(std::vector<TDirWatchEvent>& events);
    void Schedule(TFolder* folder, bool subFolders, bool exists, TClock::time_point now);  // under FLock
    void Collect(bool shownChanged);  // the registered folders and the shown tree; watches follow
    std::vector<TFolder*> ShownTree(TFolder* shown, int depthCode, bool fromDisk);
    void WatchFolders(const std::vector<TFolder*>& folders, bool rescan);
    void Rescan(TFolder* folder, const TPending& why);
    void CheckSettling(TClock::time_point now);
    void Fallback();
    bool Cancelled() const;

    TFolderTreeList* FTree;
    TOptions FOptions;
    TItemEventProc FItemEvent;
    TRescanObserver FObserver;
    TDirWatcher FDoor;
    bool FDoorOpen = false;
    std::unique_ptr<TWorker> FWorker;

    mutable std::mutex FLock;  // everything below
    std::condition_variable FWake;
    bool FStopping = false;
    TFolder* FShown = nullptr;
    int FShownDepth = 0;
    bool FShownChanged = false;
    bool FResyncNow = true;
    bool FOverflow = false;
    std::unordered_map<TFolder*, TWanted> FWanted;
    std::unordered_map<int32_t, TFolder*> FByWatch;
    std::map<TFolder*, TPending> FPending;
    std::map<TFolder*, std::map<std::string, TSettle>> FSettling;
    bool FLimitReached = false;
    int FLimitLogs = 0;
    int FRescans = 0;
    int FOverflows = 0;
    int FOverflowLogs = 0;
    bool FShownCapLogged = false;
};

}  // namespace fv
