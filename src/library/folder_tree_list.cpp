#include "library/folder_tree_list.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/log.h"
#include "platform/os_thread.h"
#include "platform/ui_dispatch.h"

namespace fv {

namespace {

using RGuard = std::lock_guard<std::recursive_mutex>;

// smallest root record: version, serial, type, empty volume name, then the smallest folder
constexpr int64_t kMinRootBytes = 4 + 4 + 4 + 4 + (4 + 1 + 4 + 4);

// each folder before its subfolders, roots in the given order
template <class Fn>
void WalkTree(const std::vector<TFolderRoot*>& roots, Fn&& fn) {
    std::vector<TFolder*> todo(roots.rbegin(), roots.rend());
    TFolderList subs;
    while (!todo.empty()) {
        TFolder* f = todo.back();
        todo.pop_back();
        fn(f);
        subs.clear();
        f->GetSubFolders(subs);
        for (auto it = subs.rbegin(); it != subs.rend(); ++it) todo.push_back(static_cast<TFolder*>(*it));
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// TFolderWatcher / TFolderMaster

void TFolderWatcher::SetSubscriber(const TFolderUpdateEvent& event) {
    RGuard g(FSubscriberLock);
    FSubscriber = event;
}

TFolderUpdateEvent TFolderWatcher::GetSubscriber() const {
    RGuard g(FSubscriberLock);
    return FSubscriber;
}

void TFolderWatcher::Execute() {
    SetCurrentThreadName("TFolderWatcher" + FMaster.Name());
    std::vector<TFolderEventRecord> taken;
    while (!Terminated()) {
        {
            std::unique_lock<std::mutex> g(FWakeLock);
            FWake.wait_for(g, std::chrono::milliseconds(100), [this] { return Terminated(); });
        }
        if (Terminated()) break;
        taken.clear();
        FMaster.TakeQueue(taken);
        if (taken.empty() || !GetSubscriber()) continue;  // taken records are dropped, delivered or not
        Synchronize([&] { Deliver(taken); });
    }
}

void TFolderWatcher::Deliver(const std::vector<TFolderEventRecord>& events) {
    // on the user-interface thread, in the order the events were raised
    for (const TFolderEventRecord& e : events) {
        if (Terminated()) return;
        RGuard g(FSubscriberLock);
        if (!FSubscriber) return;
        try {
            FSubscriber.Proc(FSubscriber.Context, e.Folder, e.EventCode, e.Data);
        } catch (const std::exception& ex) {
            // one failing view must not cut every view off from the model for the rest of
            // the run: the failure is logged and the next event is delivered
            WriteLogFailed("TFolderWatcher" + FMaster.Name() + ".Deliver", ex);
        }
    }
}

void TFolderWatcher::Stop() {
    {
        std::lock_guard<std::mutex> g(FWakeLock);
        Terminate();
    }
    FWake.notify_all();
}

void StopWatcherThread(TThreadObject& thread, const std::function<void()>& stop) {
    // Pending UI calls run while we wait (the watcher may be inside a synchronised call),
    // in short slices so that a quiet watcher ends at once.
    stop();
    while (!thread.Finished()) {
        UiDispatcher().ProcessPending();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        stop();
    }
    thread.WaitFor();
}

TFolderMaster::TFolderMaster(const std::string& name) : FName(name) {
    FWatcher = std::make_unique<TFolderWatcher>(*this);
    FWatcher->Start();
}

TFolderMaster::~TFolderMaster() {
    try {
        if (FWatcher) {
            StopWatcherThread(*FWatcher, [this] { FWatcher->Stop(); });
            FWatcher.reset();
        }
    } catch (const std::exception& e) {
        WriteLogFailed("TFolderMaster.Destroy", e);
    }
    std::lock_guard<std::mutex> g(FQueueLock);
    FQueue.clear();
}

void TFolderMaster::SetSubscriber(TFolderUpdateEvent& record) {
    if (!FWatcher) throw EFolderMasterException("フォルダの監視スレッドが初期化されていません。");
    FWatcher->SetSubscriber(record);
    if (record) record = EnqueueEvent();
}

void TFolderMaster::Enqueue(TCustomFolder* folder, int eventCode, intptr_t data) {
    std::lock_guard<std::mutex> g(FQueueLock);
    FQueue.push_back(TFolderEventRecord{folder, static_cast<uint8_t>(eventCode), data});
}

TFolderUpdateEvent TFolderMaster::EnqueueEvent() {
    return TFolderUpdateEvent{[](void* ctx, TCustomFolder* f, int code, intptr_t data) {
                                  static_cast<TFolderMaster*>(ctx)->Enqueue(f, code, data);
                              },
                              this};
}

size_t TFolderMaster::PendingCount() const {
    std::lock_guard<std::mutex> g(FQueueLock);
    return FQueue.size();
}

void TFolderMaster::TakeQueue(std::vector<TFolderEventRecord>& out) {
    std::lock_guard<std::mutex> g(FQueueLock);
    out.swap(FQueue);
    FQueue.clear();
}

// ---------------------------------------------------------------------------
// TFolderTreeList

TFolderTreeList::TFolderTreeList() = default;

TFolderMaster& TFolderTreeList::Relay() {
    std::lock_guard<std::mutex> g(FRelayLock);
    if (!FRelay) FRelay = std::make_unique<TFolderMaster>("(Folder)");
    return *FRelay;
}

bool TFolderTreeList::HasRelay() const {
    std::lock_guard<std::mutex> g(FRelayLock);
    return FRelay != nullptr;
}

TFolderTreeList::~TFolderTreeList() {
    try {
        SetUpdateEvent(TFolderUpdateEvent{});
    } catch (const std::exception& e) {
        WriteLogFailed("TFolderTreeList.Destroy", e);
    }
    std::vector<TFolderRoot*> roots, removed;
    {
        RGuard g(FRootsLock);
        roots.swap(FRoots);
        removed.swap(FRemovedRoots);
    }
    for (TFolderRoot* r : roots) delete r;
    for (TFolderRoot* r : removed) delete r;
    std::lock_guard<std::mutex> g(FRelayLock);
    FRelay.reset();
}

int TFolderTreeList::GetRootCount() const {
    RGuard g(FRootsLock);
    return static_cast<int>(FRoots.size());
}

TFolderRoot* TFolderTreeList::GetRoot(int index) const {
    RGuard g(FRootsLock);
    return index >= 0 && index < static_cast<int>(FRoots.size()) ? FRoots[static_cast<size_t>(index)] : nullptr;
}

std::vector<TFolderRoot*> TFolderTreeList::GetRoots() const {
    RGuard g(FRootsLock);
    return FRoots;
}

int TFolderTreeList::GetRemovedRootCount() const {
    RGuard g(FRootsLock);
    return static_cast<int>(FRemovedRoots.size());
}

void TFolderTreeList::SortRootsLocked() {
    std::stable_sort(FRoots.begin(), FRoots.end(),
                     [](const TFolderRoot* a, const TFolderRoot* b) { return CompareRootIdentity(*a, *b) < 0; });
}

void TFolderTreeList::AddRoot(TFolderRoot* root) {
    if (!root) return;
    try {
        RGuard g(FRootsLock);
        if (std::find(FRoots.begin(), FRoots.end(), root) == FRoots.end()) FRoots.push_back(root);
        SortRootsLocked();
    } catch (...) {
        root->SetUpdateEvent(FolderEvent());
        throw;
    }
    Renumber();
    root->SetUpdateEvent(FolderEvent());
}

TFolderRoot* TFolderTreeList::CreateRoot(const TDriveInfoRec& info) {
    auto* root = new TFolderRoot(info);
    AddRoot(root);
    return root;
}

TFolderRoot* TFolderTreeList::FindRoot(const TDriveInfoRec& info) const {
    TFolderRoot probe(info);
    RGuard g(FRootsLock);
    auto it = std::lower_bound(FRoots.begin(), FRoots.end(), &probe,
                               [](const TFolderRoot* a, const TFolderRoot* b) { return CompareRootIdentity(*a, *b) < 0; });
    if (it != FRoots.end() && CompareRootIdentity(**it, probe) == 0) return *it;
    return nullptr;
}

TFolderRoot* TFolderTreeList::FindOrCreateRoot(const TDriveInfoRec& info) {
    RGuard g(FRootsLock);  // one root per drive, also when two threads ask at once
    if (TFolderRoot* r = FindRoot(info)) return r;
    return CreateRoot(info);
}

bool TFolderTreeList::SplitBelowDrive(const TDriveInfoRec& info, const std::string& path, std::vector<std::string>& names) {
    names.clear();
    if (path.size() > kMaxPathBytes) return false;
    std::string drive = info.Drive;
    while (!drive.empty() && drive.back() == '/') drive.pop_back();
    drive += '/';
    std::string p = path;
    while (!p.empty() && p.back() == '/') p.pop_back();
    p += '/';
    if (p.compare(0, drive.size(), drive) != 0) return false;
    size_t i = drive.size();
    while (i < p.size()) {
        size_t j = p.find('/', i);
        if (j > i) names.push_back(p.substr(i, j - i));
        i = j + 1;
    }
    return names.size() <= static_cast<size_t>(TFolder::kMaxFolderDepth);
}

TFolder* TFolderTreeList::FindOrCreateFolder(const TDriveInfoRec& info, const std::string& path) {
    try {
        std::vector<std::string> names;
        TFolder* f = FindOrCreateRoot(info);
        if (!SplitBelowDrive(info, path, names)) return nullptr;
        for (const std::string& name : names) {
            f = f->AddSubFolder(name);
            if (!f) return nullptr;
        }
        return f;
    } catch (const std::exception& e) {
        WriteLogFailed("TFolderTreeList.FindOrCreateFolder", e);
        return nullptr;
    }
}

TFolder* TFolderTreeList::FindOrCreateFolderByPath(const std::string& path) {
    TDriveInfoRec info;
    if (!GetDriveInfo(path, info)) return nullptr;
    return FindOrCreateFolder(info, path);
}

TFolder* TFolderTreeList::FindFolder(const TDriveInfoRec& info, const std::string& path) {
    try {
        std::vector<std::string> names;
        TFolder* f = FindOrCreateRoot(info);
        if (!SplitBelowDrive(info, path, names)) return nullptr;
        for (const std::string& name : names) {
            f = f->FindSubFolder(name);
            if (!f) return nullptr;
        }
        return f;
    } catch (const std::exception& e) {
        WriteLogFailed("TFolderTreeList.FindFolder", e);
        return nullptr;
    }
}

TFolder* TFolderTreeList::FindFolderByPath(const std::string& path) {
    TDriveInfoRec info;
    if (!GetDriveInfo(path, info)) return nullptr;
    return FindFolder(info, path);
}

int TFolderTreeList::GetTotalItemCount() const {
    int total = 0;
    WalkTree(GetRoots(), [&](TFolder* f) { total += f->GetItemCount(); });
    return total;
}

void TFolderTreeList::PurgeAll(bool recursive, bool purgeItems) {
    for (TFolderRoot* r : GetRoots()) r->Purge(recursive, purgeItems);
}

void TFolderTreeList::Renumber() {
    int32_t n = 0;
    WalkTree(GetRoots(), [&](TFolder* f) { f->SetTreeNumber(n++); });
}

void TFolderTreeList::OnFolderEvent(TCustomFolder* folder, int eventCode, intptr_t data) {
    if (auto* root = dynamic_cast<TFolderRoot*>(folder)) {
        RGuard g(FRootsLock);
        auto it = std::find(FRoots.begin(), FRoots.end(), root);
        if (eventCode == feCreated) {
            if (it == FRoots.end() &&
                std::find(FRemovedRoots.begin(), FRemovedRoots.end(), root) == FRemovedRoots.end())
                FRoots.push_back(root);
            SortRootsLocked();
        } else if (eventCode == feNameChanged) {
            SortRootsLocked();
        } else if (eventCode == feRemoved && it != FRoots.end()) {
            FRoots.erase(it);
            FRemovedRoots.push_back(root);
        }
    }
    // a rename re-sorts the siblings, so it changes the numbers as creation and moves do
    if (eventCode == feCreated || eventCode == feNameChanged || eventCode == feParentChanged) Renumber();
    std::lock_guard<std::mutex> g(FCallbackLock);
    if (FExternal) FExternal.Proc(FExternal.Context, folder, eventCode, data);
}

void TFolderTreeList::SetUpdateEvent(const TFolderUpdateEvent& callback) {
    TFolderUpdateEvent record = callback;
    if (callback || HasRelay()) Relay().SetSubscriber(record);
    {
        std::lock_guard<std::mutex> g(FCallbackLock);
        FExternal = record;
    }
    for (TFolderRoot* r : GetRoots()) r->SetUpdateEvent(FolderEvent());
}

void TFolderTreeList::SaveTree(TStream& file, int32_t& itemCount) {
    int32_t counter = 0;
    TMemoryStream buffer;
    buffer.Data().reserve(kSaveBufferSize);
    std::vector<TFolderRoot*> roots = GetRoots();
    buffer.WriteU16(kTreeMarker);
    buffer.WriteU32(static_cast<uint32_t>(roots.size()));
    for (TFolderRoot* r : roots) r->SaveToStream(file, buffer, counter);
    FlushFolderSaveBuffer(file, buffer);
    itemCount = counter;
}

TFolderRoot* TFolderTreeList::CreateRootFromStream(TStream& stream) {
    auto root = std::make_unique<TFolderRoot>();
    root->LoadFromStream(stream);
    return root.release();
}

void TFolderTreeList::LoadTree(TStream& stream) {
    if (stream.ReadU16() != kTreeMarker) return;
    uint32_t count = stream.ReadU32();
    if (static_cast<int64_t>(count) > stream.Remaining() / kMinRootBytes) throw EReadError("Stream read error");
    std::vector<std::unique_ptr<TFolderRoot>> loaded;
    for (uint32_t i = 0; i < count; ++i) loaded.emplace_back(CreateRootFromStream(stream));
    {
        RGuard g(FRootsLock);
        // roots already shown stay owned until the list goes, like every removed object
        FRemovedRoots.insert(FRemovedRoots.end(), FRoots.begin(), FRoots.end());
        FRoots.clear();
        for (auto& r : loaded) FRoots.push_back(r.release());
        SortRootsLocked();
    }
    Renumber();
    for (TFolderRoot* r : GetRoots()) r->SetUpdateEvent(FolderEvent());
}

std::unique_ptr<TItemIndex> TFolderTreeList::BuildItemIndex() const {
    try {
        auto index = std::make_unique<TItemIndex>(static_cast<size_t>(std::max(0, GetTotalItemCount())));
        TItemList items;
        WalkTree(GetRoots(), [&](TFolder* f) {
            items.clear();
            f->GetItems(items);
            for (TCatalogItem* it : items) index->Set(it->GetItemNumber(), it);
        });
        return index;
    } catch (const std::exception& e) {
        WriteLogFailed("TFolderTreeList.BuildItemIndex", e);
        return nullptr;
    }
}

}  // namespace fv
