#include "library/live_folders.h"

#include <algorithm>

#include "core/file_functions.h"
#include "core/log.h"
#include "core/threads.h"
#include "library/catalog_item.h"
#include "platform/file_sys.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "library/listup_thread.h"
#include "platform/exception.h"
#include "platform/file_ops.h"

namespace fv {

namespace {
constexpr uint8_t kItemGone = 2;          // the catalog's "the file no longer exists"
constexpr uint8_t kPictureRewritten = 17;  // the catalog's "the picture itself was rewritten"
constexpr auto kSettleTick = std::chrono::milliseconds(250);
}  // namespace

class TLiveFolders::TWorker : public TThreadObject {
public:
    explicit TWorker(TLiveFolders& owner) : FOwner(owner) {}
    ~TWorker() override { TerminateAndWait(); }
    std::string ClassName() const override { return "TLiveFolders"; }

protected:
    void Execute() override { FOwner.Run(); }

private:
    TLiveFolders& FOwner;
};

TLiveFolders::TLiveFolders(TFolderTreeList* tree, TOptions options) : FTree(tree), FOptions(options) {}

TLiveFolders::~TLiveFolders() { Stop(); }

bool TLiveFolders::Start() {
    if (FWorker) return FDoorOpen;
    {
        std::lock_guard g(FLock);
        FStopping = false;
        FResyncNow = true;
    }
    if (FOptions.TestFeed) FDoor.UseTestFeed();
    FDoorOpen = FDoor.Open([this](std::vector<TDirWatchEvent>& events) { OnEvents(events); });
    if (!FDoorOpen) {
        WriteLog("TLiveFolders: folders cannot be watched on this system; they are rescanned every " +
                 std::to_string(FOptions.FallbackMs / 1000) + " s instead");
    } else if (FOptions.WatchLimitForTests > 0) {
        FDoor.SetWatchLimitForTests(FOptions.WatchLimitForTests);
    }
    FWorker = std::make_unique<TWorker>(*this);
    FWorker->Start();
    return FDoorOpen;
}

void TLiveFolders::Stop() {
    if (!FWorker) return;
    {
        std::lock_guard g(FLock);
        FStopping = true;
    }
    FWake.notify_all();
    FWorker->TerminateAndWait();
    FWorker.reset();
    FDoor.Close();
    FDoorOpen = false;
    std::lock_guard g(FLock);
    FWanted.clear();
    FByWatch.clear();
    FPending.clear();
    FSettling.clear();
    FShown = nullptr;
}

bool TLiveFolders::Running() const { return FWorker != nullptr; }

bool TLiveFolders::Cancelled() const {
    std::lock_guard g(FLock);
    return FStopping;
}

void TLiveFolders::SetShownFolder(TCustomFolder* folder, int depthCode) {
    {
        std::lock_guard g(FLock);
        TFolder* f = dynamic_cast<TFolder*>(folder);
        depthCode = f ? std::clamp(depthCode, 0, 3) : 0;
        if (f == FShown && depthCode == FShownDepth) return;
        FShown = f;
        FShownDepth = depthCode;
        FShownChanged = true;
    }
    FWake.notify_all();
}

void TLiveFolders::Resync() {
    {
        std::lock_guard g(FLock);
        FResyncNow = true;
    }
    FWake.notify_all();
}

TLiveFolders::TState TLiveFolders::State() const {
    std::lock_guard g(FLock);
    TState s;
    for (auto& [f, w] : FWanted) {
        (w.Watch >= 0 ? s.Watched : s.Unwatched)++;
        if (w.Shown && w.Remote) ++s.RemoteShown;
    }
    s.LimitReached = FLimitReached;
    s.Overflows = FOverflows;
    s.OverflowLogs = FOverflowLogs;
    s.Rescans = FRescans;
    s.LimitLogs = FLimitLogs;
    return s;
}

bool TLiveFolders::IsWatched(TFolder* folder) const {
    std::lock_guard g(FLock);
    auto it = FWanted.find(folder);
    return it != FWanted.end() && it->second.Watch >= 0;
}

// ---- events (the door's reader thread)

void TLiveFolders::Schedule(TFolder* folder, bool subFolders, bool exists, TClock::time_point now) {
    auto [it, created] = FPending.try_emplace(folder);
    if (created || now < it->second.First) it->second.First = now;
    it->second.Last = std::max(it->second.Last, now);
    it->second.SubFolders |= subFolders;
    it->second.Exists |= exists;
}

void TLiveFolders::OnEvents(std::vector<TDirWatchEvent>& events) {
    {
        std::lock_guard g(FLock);
        const auto now = TClock::now();
        for (const TDirWatchEvent& e : events) {
            if (e.What & dwOverflow) {
                FOverflow = true;
                continue;
            }
            auto it = FByWatch.find(e.Watch);
            if (it == FByWatch.end()) continue;
            TFolder* f = it->second;
            if (e.What & (dwFolderDeleted | dwFolderMoved | dwUnmounted | dwWatchEnded)) {
                if (e.What & dwWatchEnded) {
                    FByWatch.erase(it);
                    auto w = FWanted.find(f);
                    if (w != FWanted.end() && w->second.Watch == e.Watch) w->second.Watch = -1;
                }
                Schedule(f, false, true, now);
                continue;
            }
            if (e.Name.empty()) continue;
            if (e.What & dwIsFolder) {
                Schedule(f, true, false, now);
                continue;
            }
            // a file created but not yet closed may still be written: it is looked at again once it
            // has been closed, or once its size and time stop changing
            if (e.What & dwCreated) FSettling[f][e.Name] = TSettle{now, -1, -1};
            if (e.What & (dwWritten | dwMovedTo | dwMovedFrom | dwDeleted)) {
                auto s = FSettling.find(f);
                if (s != FSettling.end()) {
                    s->second.erase(e.Name);
                    if (s->second.empty()) FSettling.erase(s);
                }
            }
            Schedule(f, false, false, now);
        }
    }
    FWake.notify_all();
}

// ---- the worker

void TLiveFolders::Run() {
    const auto quiet = std::chrono::milliseconds(FOptions.QuietMs);
    const auto cap = std::chrono::milliseconds(FOptions.CapMs);
    const auto resyncEvery = std::chrono::milliseconds(FOptions.ResyncMs);
    const auto fallbackEvery = std::chrono::milliseconds(FOptions.FallbackMs);
    const auto remoteEvery = std::chrono::milliseconds(std::max(FOptions.RemoteRescanMs, 1));
    auto lastResync = TClock::now();
    auto lastFallback = TClock::now();
    auto lastSettle = TClock::now();
    auto lastRemote = TClock::now();
    while (true) {
        bool collect = false, shownChanged = false, fallback = false, settle = false, remote = false;
        std::string overflowLog;
        std::vector<std::pair<TFolder*, TPending>> due;
        {
            std::unique_lock g(FLock);
            if (FStopping) break;
            auto now = TClock::now();
            if (FOverflow) {
                // the kernel dropped changes: every watched folder is read again, once however many
                // overflow records came meanwhile (each one already pending joins in)
                FOverflow = false;
                ++FOverflows;
                // (each rescan still notices a folder that is gone; no existence check of whole
                // subtrees for every watched folder)
                int folders = 0;
                for (auto& [f, w] : FWanted)
                    if (w.Watch >= 0) {
                        Schedule(f, true, false, now - cap);
                        ++folders;
                    }
                if (FOverflowLogs == 0) {
                    ++FOverflowLogs;
                    overflowLog = "TLiveFolders: the system dropped folder changes (its event queue overflowed; "
                                  "fs.inotify.max_queued_events); the " +
                                  std::to_string(folders) + " watched folders are read again";
                }
            }
            if (now - lastRemote >= remoteEvery) {
                // shown folders whose file system hides others' changes from the watch; the next
                // look is counted from the end of this one (a slow share is not read back to back)
                lastRemote = now;
                for (auto& [f, w] : FWanted)
                    if (w.Shown && w.Remote && !f->IsOffline()) {
                        Schedule(f, true, false, now - cap);
                        remote = true;
                    }
            }
            shownChanged = FShownChanged;
            collect = FResyncNow || FShownChanged || now - lastResync >= resyncEvery;
            FResyncNow = FShownChanged = false;
            fallback = now - lastFallback >= fallbackEvery;
            settle = !FSettling.empty() && now - lastSettle >= kSettleTick;
            for (auto it = FPending.begin(); it != FPending.end();) {
                if (now - it->second.Last >= quiet || now - it->second.First >= cap) {
                    due.emplace_back(it->first, it->second);
                    it = FPending.erase(it);
                } else {
                    ++it;
                }
            }
            if (!collect && !fallback && !settle && due.empty() && overflowLog.empty()) {
                auto wake = std::min({lastResync + resyncEvery, lastFallback + fallbackEvery, lastRemote + remoteEvery});
                if (!FSettling.empty()) wake = std::min(wake, lastSettle + kSettleTick);
                for (auto& [f, p] : FPending) wake = std::min({wake, p.Last + quiet, p.First + cap});
                FWake.wait_until(g, wake);
                continue;
            }
        }
        if (!overflowLog.empty()) WriteLog(overflowLog);
        try {
            if (collect) {
                lastResync = TClock::now();
                Collect(shownChanged);
            }
            for (auto& [f, why] : due) {
                if (Cancelled()) break;
                Rescan(f, why);
            }
            if (remote) lastRemote = TClock::now();
            if (settle) {
                lastSettle = TClock::now();
                CheckSettling(lastSettle);
            }
            if (fallback) {
                lastFallback = TClock::now();
                Fallback();
            }
        } catch (const std::exception& e) {
            WriteLogFailed("TLiveFolders.Execute", e);
        }
    }
}

std::vector<TFolder*> TLiveFolders::ShownTree(TFolder* shown, int depthCode, bool fromDisk) {
    // the shown folder and the subfolders the grid lists with it, as deep as it lists them; right
    // after the folder was shown the disk is asked (the listing may not have met them yet), later
    // the tree as its rescans keep it. A link back up the tree is walked once.
    std::vector<TFolder*> out;
    if (!shown) return out;
    const int max = std::max(FOptions.ShownFoldersMax, 1);
    std::vector<std::pair<TFolder*, int>> stack{{shown, TListupItemsThreadEx::LevelsOf(static_cast<uint8_t>(depthCode))}};
    std::set<TFileIdentity> visited;
    bool capped = false;
    while (!stack.empty() && !Cancelled()) {
        auto [f, levels] = stack.back();
        stack.pop_back();
        if (f != shown && f->IsOffline()) continue;
        TFileIdentity id;
        if (GetFileIdentity(f->GetFullName(), id) && !visited.insert(id).second) continue;
        if (static_cast<int>(out.size()) >= max) {
            capped = true;
            break;
        }
        out.push_back(f);
        if (levels < 1) continue;
        TFolderList subs;
        if (fromDisk) f->ScanSubFolders(&subs);
        else f->GetSubFolders(subs);
        for (auto it = subs.rbegin(); it != subs.rend(); ++it) stack.emplace_back(static_cast<TFolder*>(*it), levels - 1);
    }
    if (capped) {
        bool log = false;
        {
            std::lock_guard g(FLock);
            log = !FShownCapLogged;
            FShownCapLogged = true;
        }
        if (log)
            WriteLog("TLiveFolders: the shown folder " + shown->GetFullName() + " lists more than " + std::to_string(max) +
                     " folders; only the first " + std::to_string(max) + " are watched");
    }
    return out;
}

void TLiveFolders::Collect(bool shownChanged) {
    // the registered folders: check state 1, and undecided folders below one (they take their
    // parent's state, as the file updater decides it)
    std::vector<TFolder*> registered;
    if (FTree) {
        std::vector<std::pair<TFolder*, int>> stack;
        for (TFolderRoot* r : FTree->GetRoots()) stack.emplace_back(r, csUndecided);
        while (!stack.empty()) {
            auto [f, inherited] = stack.back();
            stack.pop_back();
            int state = f->GetCheckState();
            int effective = state == csUndecided ? inherited : state;
            if (effective == csRegistered) registered.push_back(f);
            TFolderList subs;
            f->GetSubFolders(subs);
            for (TCustomFolder* s : subs) stack.emplace_back(static_cast<TFolder*>(s), effective);
        }
    }
    std::sort(registered.begin(), registered.end());

    TFolder* shown;
    int depth;
    {
        std::lock_guard g(FLock);
        shown = FShown;
        depth = FShownDepth;
    }
    std::vector<TFolder*> tree = ShownTree(shown, depth, shownChanged && depth > 0);
    std::vector<TFolder*> shownSet = tree;
    std::sort(shownSet.begin(), shownSet.end());

    std::vector<int32_t> unwatch;
    std::vector<TFolder*> watch, watchAndRead;
    {
        std::lock_guard g(FLock);
        if (FShown != shown || FShownDepth != depth) {
            // shown again meanwhile: the next pass collects that one
            FResyncNow = true;
            shownSet.clear();
            tree.clear();
        }
        auto isRegistered = [&](TFolder* f) { return std::binary_search(registered.begin(), registered.end(), f); };
        auto isShown = [&](TFolder* f) { return std::binary_search(shownSet.begin(), shownSet.end(), f); };
        for (auto it = FWanted.begin(); it != FWanted.end();) {
            TFolder* f = it->first;
            if (isShown(f) || isRegistered(f)) {
                ++it;
                continue;
            }
            if (it->second.Watch >= 0) {
                FByWatch.erase(it->second.Watch);
                unwatch.push_back(it->second.Watch);
            }
            FPending.erase(f);
            FSettling.erase(f);
            it = FWanted.erase(it);
        }
        auto want = [&](TFolder* f, bool inShown, bool reg) {
            auto [it, fresh] = FWanted.try_emplace(f);
            TWanted& w = it->second;
            w.Shown = inShown;
            w.Registered = reg;
            if (w.Watch >= 0 || f->IsOffline()) return;
            // a folder that joined the shown tree after the grid listed it (made inside it since)
            // may have been filled before its watch came
            if (fresh && inShown && !shownChanged && f != shown) watchAndRead.push_back(f);
            else watch.push_back(f);
        };
        for (TFolder* f : registered) want(f, isShown(f), true);
        for (TFolder* f : tree)
            if (!isRegistered(f)) want(f, true, false);
        // a watch number two paths share (links) stays while either still wants it
        std::set<int32_t> kept;
        for (auto& [f, w] : FWanted)
            if (w.Watch >= 0) kept.insert(w.Watch);
        std::erase_if(unwatch, [&](int32_t wd) { return kept.count(wd) != 0; });
    }
    for (int32_t wd : unwatch) FDoor.Remove(wd);
    // folders known already are not read again here: the listing of the grid and the file
    // updater's passes keep them; only changes from now on are followed
    WatchFolders(watch, false);
    WatchFolders(watchAndRead, true);
}

void TLiveFolders::WatchFolders(const std::vector<TFolder*>& folders, bool rescan) {
    for (TFolder* f : folders) {
        if (Cancelled()) return;
        int32_t wd = -1;
        const std::string path = f->GetFullName();
        TDirWatchAddResult r = FDoorOpen ? FDoor.Add(path, wd) : TDirWatchAddResult::Failed;
        // a watch on a share or a FUSE mount sees only what this machine changes through it
        const bool remote = r != TDirWatchAddResult::NotFound && WatchedFileSystemOf(path) != TWatchedFileSystem::Local;
        bool logLimit = false;
        bool drop = false;
        {
            std::lock_guard g(FLock);
            const auto now = TClock::now();
            auto it = FWanted.find(f);
            if (it != FWanted.end()) it->second.Remote = remote;
            if (it == FWanted.end()) {
                drop = r == TDirWatchAddResult::Ok;  // no longer wanted meanwhile
            } else if (r == TDirWatchAddResult::Ok) {
                it->second.Watch = wd;
                FByWatch[wd] = f;
                if (rescan) Schedule(f, true, false, now - std::chrono::milliseconds(FOptions.CapMs));
            } else if (r == TDirWatchAddResult::NotFound) {
                Schedule(f, false, true, now - std::chrono::milliseconds(FOptions.CapMs));
            } else if (r == TDirWatchAddResult::LimitReached) {
                if (!FLimitReached) logLimit = true;
                FLimitReached = true;
            }
            if (logLimit) ++FLimitLogs;
        }
        if (drop) FDoor.Remove(wd);
        if (logLimit)
            WriteLog("TLiveFolders: the system's limit of watched folders is reached (" + std::to_string(FDoor.WatchCount()) +
                     " watched; fs.inotify.max_user_watches); the folders beyond it are rescanned every " +
                     std::to_string(FOptions.FallbackMs / 1000) + " s");
    }
    if (!folders.empty()) FWake.notify_all();
}

void TLiveFolders::Rescan(TFolder* folder, const TPending& why) {
    bool registered = false, shown = false;
    {
        std::lock_guard g(FLock);
        auto it = FWanted.find(folder);
        if (it == FWanted.end()) return;  // no longer shown nor registered
        registered = it->second.Registered;
        shown = it->second.Shown;
        ++FRescans;
    }
    const bool wasOffline = folder->IsOffline();
    if (why.Exists || wasOffline || !DirectoryExists(folder->GetFullName())) {
        // gone, moved away, unmounted, or another volume in its place: offline as the tree's
        // existence check decides, its photos missing; back online when it is there again
        // the folder alone: going offline takes its subfolders along, and the watched ones among
        // them are checked on their own
        folder->CheckExists(false, true);
        if (folder->IsOffline()) {
            int32_t wd = -1;
            bool firstSeen = !wasOffline;
            {
                std::lock_guard g(FLock);
                auto it = FWanted.find(folder);
                if (it != FWanted.end()) {
                    wd = it->second.Watch;
                    it->second.Watch = -1;
                    // the parent's rescan may have taken it offline first (its subfolder scan
                    // does so without telling the views): they still hear of it once
                    if (!it->second.OfflineSeen) firstSeen = true;
                    it->second.OfflineSeen = true;
                }
                if (wd >= 0) FByWatch.erase(wd);
                FSettling.erase(folder);
            }
            if (wd >= 0) FDoor.Remove(wd);
            if (firstSeen) folder->NotifyItemsChanged();
            TFolderRescan none;
            none.Offline = true;
            if (FObserver) FObserver(folder, none);
            return;
        }
        {
            std::lock_guard g(FLock);
            auto it = FWanted.find(folder);
            if (it != FWanted.end()) it->second.OfflineSeen = false;
        }
        if (!IsWatched(folder)) WatchFolders({folder}, false);
    }

    TFolderRescan scan;
    RescanFolderItems(folder, FOptions.Kinds, registered, scan, [this] { return Cancelled(); });

    bool subsChanged = false;
    if (why.SubFolders || wasOffline) {
        TFolderList before, now;
        folder->GetSubFolders(before);
        std::set<TFolder*> online;
        for (TCustomFolder* s : before)
            if (!static_cast<TFolder*>(s)->IsOffline()) online.insert(static_cast<TFolder*>(s));
        folder->ScanSubFolders(&now);
        std::vector<TFolder*> fresh;
        for (TCustomFolder* s : now)
            if (!online.erase(static_cast<TFolder*>(s))) fresh.push_back(static_cast<TFolder*>(s));
        subsChanged = !fresh.empty() || !online.empty();
        if (registered && !fresh.empty()) {
            // new folders below a registered one are registered too (unless excluded) and read now
            std::vector<TFolder*> watch;
            {
                std::lock_guard g(FLock);
                for (TFolder* s : fresh) {
                    if (s->GetCheckState() == csExcluded) continue;
                    TWanted& w = FWanted[s];
                    w.Registered = true;
                    if (w.Watch < 0) watch.push_back(s);
                }
            }
            WatchFolders(watch, true);
        }
        if (shown && subsChanged) {
            // a folder came or went inside the shown tree: the grid lists its subfolders too
            std::lock_guard g(FLock);
            if (FShownDepth > 0) FResyncNow = true;
        }
    }

    if (FItemEvent) {
        for (TCatalogItem* it : scan.Changed) FItemEvent(it, kPictureRewritten);
        for (TCatalogItem* it : scan.Gone) FItemEvent(it, kItemGone);
    }
    // the views list the folder again: new photos, photos back from a missing state, ones gone
    if (!scan.Fresh.empty() || !scan.Changed.empty() || !scan.Gone.empty() || subsChanged || wasOffline || scan.Offline)
        folder->NotifyItemsChanged();
    if (FObserver) FObserver(folder, scan);
}

void TLiveFolders::CheckSettling(TClock::time_point now) {
    const auto settle = std::chrono::milliseconds(FOptions.SettleMs);
    struct TLook {
        TFolder* Folder;
        std::string Name;
        TSettle Was;
    };
    std::vector<TLook> looks;
    {
        std::lock_guard g(FLock);
        for (auto& [f, names] : FSettling)
            for (auto& [name, s] : names)
                if (now - s.Last >= settle) looks.push_back({f, name, s});
    }
    for (TLook& l : looks) {
        TFileFacts facts;
        bool there = ReadFileFacts(JoinFolderPath(l.Folder->GetFullName(), l.Name), facts);
        int64_t mtime = facts.MTimeSec * 1000000000LL + facts.MTimeNsec;
        std::lock_guard g(FLock);
        auto f = FSettling.find(l.Folder);
        if (f == FSettling.end()) continue;
        auto s = f->second.find(l.Name);
        if (s == f->second.end()) continue;
        if (!there) {
            // appeared and vanished again: its deletion was seen, nothing more to do
            f->second.erase(s);
        } else if (facts.Size == l.Was.Size && mtime == l.Was.MTime) {
            // unchanged for a while without being closed: read it as it is now
            f->second.erase(s);
            Schedule(l.Folder, false, false, now - std::chrono::milliseconds(FOptions.CapMs));
        } else {
            s->second = TSettle{now, facts.Size, mtime};
        }
        if (f->second.empty()) FSettling.erase(f);
    }
}

void TLiveFolders::Fallback() {
    std::vector<TFolder*> unwatched;
    {
        std::lock_guard g(FLock);
        for (auto& [f, w] : FWanted)
            if (w.Watch < 0) unwatched.push_back(f);
    }
    std::sort(unwatched.begin(), unwatched.end(), [](TFolder* a, TFolder* b) { return a->GetFullName() < b->GetFullName(); });
    for (TFolder* f : unwatched) {
        if (Cancelled()) return;
        if (f->IsOffline()) {
            // a volume plugged in again: the folder comes back online and is read
            if (!DirectoryExists(f->GetFullName())) continue;
            f->CheckExists(false, false);
            if (f->IsOffline()) continue;
            WatchFolders({f}, true);
            if (!IsWatched(f)) Rescan(f, TPending{{}, {}, true, false});
            continue;
        }
        // beyond the watch limit (or the door is closed): a watch may have become free; else a rescan
        if (FDoorOpen) WatchFolders({f}, true);
        if (!IsWatched(f)) Rescan(f, TPending{{}, {}, true, false});
    }
}

}  // namespace fv
