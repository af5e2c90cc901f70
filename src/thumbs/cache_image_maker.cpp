#include "thumbs/cache_image_maker.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "core/log.h"
#include "thumbs/cache_work_lock.h"
#include "thumbs/catalog_image_cache.h"
#include "library/catalog_updater.h"
#include "image/effects.h"
#include "image/image_decode.h"
#include "library/catalog_item.h"
#include "platform/codepage.h"
#include "platform/os_thread.h"
#include "platform/ui_dispatch.h"

namespace fv {

namespace {

std::atomic<uint32_t> gNextMakerId{1};

// comment side files are short notes; anything longer is not a comment
constexpr int64_t kMaxCommentFileSize = 64 * 1024;

std::string Composed(const std::string& className, const std::string& label, const std::exception& e) {
    return Format("%s.%s : %s Raised. (%s)", className.c_str(), label.c_str(), ExceptionClassName(e).c_str(), e.what());
}

template <class List>
void SetEventFor(const List& list, const TEventHandle& ev) {
    if (list.empty())
        ev->ResetEvent();
    else
        ev->SetEvent();
}

}  // namespace

// ---- queues ----

TCacheImageQueues::TCacheImageQueues(const std::string& prefix)
    : FRequestEvent(CreateNamedEvent(prefix + "Reserved")),
      FThumbsEvent(CreateNamedEvent(prefix + "Thumbs")),
      FSourceEvent(CreateNamedEvent(prefix + "Source")) {}

void TCacheImageQueues::SetRequest(const std::vector<TCatalogItem*>& list, bool resetOrder) {
    std::lock_guard g(FRequestLock);
    FRequest.clear();
    for (auto* item : list)
        if (item) FRequest.push_back(item);
    FResetOrder = resetOrder;
    // an empty request still carries a reset to the maker
    if (FRequest.empty() && !resetOrder)
        FRequestEvent->ResetEvent();
    else
        FRequestEvent->SetEvent();
}

void TCacheImageQueues::AddRequest(TCatalogItem* item) {
    if (!item) return;
    std::lock_guard g(FRequestLock);
    if (std::find(FRequest.begin(), FRequest.end(), item) == FRequest.end()) FRequest.push_back(item);
    FRequestEvent->SetEvent();
}

bool TCacheImageQueues::TakeRequest(std::vector<TCatalogItem*>& list, bool& resetOrder) {
    std::lock_guard g(FRequestLock);
    list.swap(FRequest);
    FRequest.clear();
    resetOrder = FResetOrder;
    FResetOrder = false;
    FRequestEvent->ResetEvent();
    return !list.empty() || resetOrder;
}

void TCacheImageQueues::ReorderThumbs(const std::vector<TCatalogItem*>& list, bool reset) {
    std::lock_guard g(FThumbsLock);
    if (reset || FThumbs.empty()) {
        FThumbs.assign(list.begin(), list.end());
    } else {
        size_t front = 0;
        for (auto* item : list) {
            auto it = std::find(FThumbs.begin() + static_cast<ptrdiff_t>(front), FThumbs.end(), item);
            if (it == FThumbs.end()) continue;
            std::iter_swap(FThumbs.begin() + static_cast<ptrdiff_t>(front), it);
            ++front;
        }
    }
    SetEventFor(FThumbs, FThumbsEvent);
}

void TCacheImageQueues::ReorderSource(const std::vector<TCatalogItem*>& list, bool reset) {
    std::lock_guard g(FSourceLock);
    if (reset) {
        FUrgent.clear();
        FLater.clear();
    } else {
        FLater.insert(FLater.begin(), FUrgent.begin(), FUrgent.end());
        FUrgent.clear();
        for (auto* item : list) {
            auto it = std::find(FLater.begin(), FLater.end(), item);
            if (it == FLater.end()) continue;
            FLater.erase(it);
            FUrgent.push_back(item);
        }
    }
    if (FUrgent.empty() && FLater.empty())
        FSourceEvent->ResetEvent();
    else
        FSourceEvent->SetEvent();
}

void TCacheImageQueues::RequestSource(const std::vector<TCatalogItem*>& list, bool reset) {
    ReorderSource(list, reset);
    std::lock_guard g(FSourceLock);
    for (auto* item : list) {
        if (std::find(FUrgent.begin(), FUrgent.end(), item) != FUrgent.end()) continue;
        FUrgent.push_back(item);
    }
    SetEventFor(FUrgent, FSourceEvent);
}

TCatalogItem* TCacheImageQueues::TakeThumbs() {
    std::lock_guard g(FThumbsLock);
    TCatalogItem* item = nullptr;
    if (!FThumbs.empty()) {
        item = FThumbs.front();
        FThumbs.pop_front();
    }
    SetEventFor(FThumbs, FThumbsEvent);
    return item;
}

TCatalogItem* TCacheImageQueues::TakeSource() {
    std::lock_guard g(FSourceLock);
    TCatalogItem* item = nullptr;
    if (!FUrgent.empty()) {
        item = FUrgent.front();
        FUrgent.pop_front();
    } else if (!FLater.empty()) {
        item = FLater.front();
        FLater.pop_front();
    }
    if (FUrgent.empty() && FLater.empty()) FSourceEvent->ResetEvent();
    return item;
}

void TCacheImageQueues::HandOn(TCatalogItem* item) {
    std::lock_guard g(FSourceLock);
    auto it = std::find(FLater.begin(), FLater.end(), item);
    if (it != FLater.end()) FLater.erase(it);
    if (std::find(FUrgent.begin(), FUrgent.end(), item) == FUrgent.end()) FUrgent.push_back(item);
    FSourceEvent->SetEvent();
}

void TCacheImageQueues::ClearAll() {
    {
        std::lock_guard g(FRequestLock);
        FRequest.clear();
        FResetOrder = false;
        FRequestEvent->ResetEvent();
    }
    {
        std::lock_guard g(FThumbsLock);
        FThumbs.clear();
        FThumbsEvent->ResetEvent();
    }
    std::lock_guard g(FSourceLock);
    FUrgent.clear();
    FLater.clear();
    FSourceEvent->ResetEvent();
}

std::vector<TCatalogItem*> TCacheImageQueues::ThumbsQueue() {
    std::lock_guard g(FThumbsLock);
    return {FThumbs.begin(), FThumbs.end()};
}
std::vector<TCatalogItem*> TCacheImageQueues::SourceUrgent() {
    std::lock_guard g(FSourceLock);
    return {FUrgent.begin(), FUrgent.end()};
}
std::vector<TCatalogItem*> TCacheImageQueues::SourceLater() {
    std::lock_guard g(FSourceLock);
    return {FLater.begin(), FLater.end()};
}

// ---- workers ----

TCacheImageWorker::TCacheImageWorker(TCacheImageMaker& maker, TCatalogImageCacheMaster* cache)
    : FMaker(maker), FCache(cache) {}

TCacheImageWorker::~TCacheImageWorker() = default;

bool TCacheImageWorker::CanWork() {
    if (Terminated()) return false;
    std::lock_guard g(FCancelLock);
    if (FCancelled) FCancelSeen = true;
    return !FCancelled;
}

bool TCacheImageWorker::IsBusy() {
    std::lock_guard g(FBusyLock);
    return FBusy;
}

void TCacheImageWorker::SetCancelled(bool flag) {
    std::lock_guard g(FCancelLock);
    FCancelled = flag;
    FCancelSeen = false;
}

bool TCacheImageWorker::CancelSeen() {
    std::lock_guard g(FCancelLock);
    return FCancelSeen;
}

void TCacheImageWorker::Raise(const std::string& label, const std::exception& e) {
    throw ECacheImageWorkerError(Composed(ClassName(), label, e));
}

void TCacheImageWorker::Execute() {
    SetCurrentThreadName("CacheImageWorker");
    LowerCurrentThreadPriority(kBackgroundNice);
    const TEventHandle queue = OpenQueueEvent();
    while (!Terminated()) {
        if (!queue->WaitFor(50)) continue;
        if (!CanWork()) {
            // cancelled while the queue still shows work: wait for CancelAll to empty it
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        {
            std::lock_guard g(FBusyLock);
            FBusy = true;
        }
        TCatalogItem* item = TakeJob();
        FSize = FMaker.GetSize();
        if (item && FSize != 0) {
            FStored = csNone;
            FFailed = false;
            try {
                DoMakeCacheImageSync(item);
            } catch (const std::exception& e) {
                WriteLogText(ClassName(), e.what());
            }
            if (CanWork()) {
                if (auto observer = FMaker.Observer()) observer(item, WorkerType(), FStored, FFailed);
                JobDone(item);
            }
        }
        std::lock_guard g(FBusyLock);
        FBusy = false;
    }
}

void TCacheImageWorker::DoMakeCacheImageSync(TCatalogItem* item) {
    try {
        TCacheWorkLock lock(item->GetFullPath(), FMaker.CrossProcessLocks());
        if (!lock.Acquire([this] { return CanWork(); })) return;
        // the comment side file does not depend on the picture: it is read also when that failed
        std::exception_ptr failure;
        try {
            if (CanWork()) MakeCacheImage(item);
        } catch (const std::exception&) {
            failure = std::current_exception();
        }
        if (CanWork()) GetSubData(item);
        if (failure) std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        Raise("DoMakeCacheImageSync", e);
    }
}

bool TCacheImageWorker::NeedsWork(TCatalogItem* item) {
    if (!item || FSize == 0) return false;
    if (FCache->HasFailed(item, FSize)) return false;
    if (FCache->CachedSizeOf(item) != FSize) return true;
    // the file changed since its picture was made
    return item->HasFlag(ifThumbOutOfDate);
}

bool TCacheImageWorker::Store(TCatalogItem* item, TCacheImage& image) {
    if (image.Bitmap.Empty() || !CanWork()) return false;
    if (image.Resized) SharpenWeak(image.Bitmap);
    if (!CanWork()) return false;
    if (!FCache->AddCatalogImage(item, &image.Bitmap, image.Size)) return false;
    item->SetFlag(ifThumbOutOfDate, false);
    RaiseCatalogUpdateEvent(item, cuThumbnailStored);
    return true;
}

TEventHandle TCacheImageWorkerThumbs::OpenQueueEvent() { return FMaker.Queues().ThumbsEvent(); }
TCatalogItem* TCacheImageWorkerThumbs::TakeJob() { return FMaker.Queues().TakeThumbs(); }

void TCacheImageWorkerThumbs::MakeCacheImage(TCatalogItem* item) {
    try {
        if (!NeedsWork(item) || !CanWork()) return;
        if (item->IsRemoteItem()) {
            TMemoryStream ms;
            item->LoadRemoteImage(ms, FSize, item->GetKind());
            if (ms.Size() > 0 && CanWork() && FCache->AddCatalogStream(item, &ms, FSize)) {
                RaiseCatalogUpdateEvent(item, cuThumbnailStored);
                FStored = csRemote;
            }
        } else {
            TCacheImage image;
            MakeFirstPicture(*item, FSize, FCache->CachedSizeOf(item) != 0, image);
            if (CanWork() && Store(item, image)) FStored = image.Source;
        }
    } catch (const std::exception& e) {
        // the source worker gets its chance with the full picture
        Raise(Format("DoMakeCacheImageFromThumbs( %s )", item->GetFileName().c_str()), e);
    }
}

void TCacheImageWorkerThumbs::JobDone(TCatalogItem* item) {
    if (FMaker.SourceWorkerCount() > 0) FMaker.Queues().HandOn(item);
}

TEventHandle TCacheImageWorkerSource::OpenQueueEvent() { return FMaker.Queues().SourceEvent(); }
TCatalogItem* TCacheImageWorkerSource::TakeJob() { return FMaker.Queues().TakeSource(); }

void TCacheImageWorkerSource::MakeCacheImage(TCatalogItem* item) {
    try {
        // remote items supply their own picture; kinds without pictures have nothing to decode
        if (item->IsRemoteItem() || !NeedsWork(item) || !CanWork()) return;
        const uint8_t kind = item->GetKind();
        if (kind == 2 || kind >= ikNotImage) return;  // plug-in formats and files without pictures
        TCacheImage image;
        MakeFullPicture(*item, FSize, image);
        if (CanWork() && Store(item, image)) FStored = csFullPicture;
    } catch (const std::exception& e) {
        if (CanWork()) {
            // remembered, so that views asking again do not send the file through the decoder again
            FCache->MarkFailed(item, FSize);
            FFailed = true;
        }
        Raise(Format("DoMakeCacheImage( %s )", item->GetFileName().c_str()), e);
    }
}

void TCacheImageWorkerSource::GetSubData(TCatalogItem* item) {
    try {
        if (item->IsCommentImported()) return;
        if (item->GetComment().empty()) {
            std::string path = item->GetFullPath();
            const auto dot = path.rfind('.');
            const auto slash = path.rfind('/');
            if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.resize(dot);
            path += ".txt";
            std::error_code ec;
            if (std::filesystem::is_regular_file(path, ec) &&
                static_cast<int64_t>(std::filesystem::file_size(path, ec)) <= kMaxCommentFileSize && !ec) {
                TMemoryStream ms;
                ms.LoadFromFile(path);
                std::string text(ms.Data().begin(), ms.Data().end());
                if (!IsValidUtf8(text)) text = Cp932ToUtf8(text);
                if (text != item->GetComment()) {
                    item->SetComment(text);
                    RaiseCatalogUpdateEvent(item, cuComment);
                }
            }
        }
        item->SetCommentImported(true);
    } catch (const std::exception& e) {
        Raise(Format("DoGetSubData( %s )", item->GetFileName().c_str()), e);
    }
}

// ---- the maker ----

TCacheImageMaker::TCacheImageMaker(TCatalogImageCacheMaster* cache, bool useAllProcessors)
    : FCache(cache),
      FMakerId(gNextMakerId.fetch_add(1)),
      FQueues(Format("NextCacheItemIsExists-%u-", FMakerId)),
      FUseAllProcessors(useAllProcessors),
      FCancelEvent(CreateNamedEvent(Format("CacheImageWorker-CancelEvent-%u", FMakerId))) {}

TCacheImageMaker::~TCacheImageMaker() {
    TerminateAndWait();
    FinishWorkers();
}

void TCacheImageMaker::SetProcessorCount(int n) { FProcessorCount = std::max(0, n); }

void TCacheImageMaker::SetWorkersPerProcessor(int thumbs, int source) {
    FThumbsPerProcessor = std::clamp(thumbs, 0, 255);
    FSourcePerProcessor = std::clamp(source, 1, 255);
}

void TCacheImageMaker::SetFinishedCallbacks(std::function<void()> thumbsDone, std::function<void()> sourceDone) {
    std::lock_guard g(FCallbackLock);
    FThumbsDone = std::move(thumbsDone);
    FSourceDone = std::move(sourceDone);
}

void TCacheImageMaker::SetObserver(TCacheImageObserver observer) {
    std::lock_guard g(FCallbackLock);
    FObserver = std::move(observer);
}

TCacheImageObserver TCacheImageMaker::Observer() {
    std::lock_guard g(FCallbackLock);
    return FObserver;
}

bool TCacheImageMaker::CrossProcessLocks() const { return FCache && FCache->GetUseFiles(); }

int32_t TCacheImageMaker::GetSize() {
    std::lock_guard g(FSizeLock);
    return FSize;
}

void TCacheImageMaker::Request(const std::vector<TCatalogItem*>& list, int32_t size, bool resetOrder) {
    {
        std::lock_guard g(FSizeLock);
        FSize = size;
    }
    FQueues.SetRequest(list, resetOrder);
}

void TCacheImageMaker::RequestOne(TCatalogItem* item) { FQueues.AddRequest(item); }

void TCacheImageMaker::CancelAll() {
    FCancelEvent->SetEvent();
    std::vector<TCacheImageWorker*> workers;
    {
        std::lock_guard g(FWorkersLock);
        for (auto& w : FThumbsWorkers) workers.push_back(w.get());
        for (auto& w : FSourceWorkers) workers.push_back(w.get());
    }
    for (auto* w : workers) w->SetCancelled(true);
    FQueues.ClearAll();
    // a running job gives up at its next check; wait for that so that nothing of it is stored later
    WaitPumping([&] {
        for (auto* w : workers)
            if (w->IsBusy()) return false;
        return true;
    }, 5);
    for (auto* w : workers) w->SetCancelled(false);
    FCancelEvent->ResetEvent();
}

void TCacheImageMaker::StartWorkers() {
    try {
        int n = 1;
        if (FProcessorCount > 0)
            n = FProcessorCount;
        else if (FUseAllProcessors)
            n = std::max(1u, std::thread::hardware_concurrency());
        std::lock_guard g(FWorkersLock);
        for (int i = 0; i < n * FThumbsPerProcessor; ++i)
            FThumbsWorkers.push_back(std::make_unique<TCacheImageWorkerThumbs>(*this, FCache));
        for (int i = 0; i < n * FSourcePerProcessor; ++i)
            FSourceWorkers.push_back(std::make_unique<TCacheImageWorkerSource>(*this, FCache));
        // the ideal-processor hint has no counterpart here: the scheduler spreads the workers
        for (auto& w : FThumbsWorkers) w->Start();
        for (auto& w : FSourceWorkers) w->Start();
        FWorkersStarted = true;
    } catch (const std::exception& e) {
        throw ECacheImageMakerError(Composed(ClassName(), "StartWorkerThread", e));
    }
}

void TCacheImageMaker::FinishWorkers() {
    try {
        std::vector<std::unique_ptr<TCacheImageWorker>> all;
        {
            std::lock_guard g(FWorkersLock);
            for (auto& w : FThumbsWorkers) all.push_back(std::move(w));
            for (auto& w : FSourceWorkers) all.push_back(std::move(w));
            FThumbsWorkers.clear();
            FSourceWorkers.clear();
        }
        for (auto& w : all) w->Terminate();
        all.clear();  // each destructor waits for its thread
    } catch (const std::exception& e) {
        WriteLogText(ClassName(), Composed(ClassName(), "FinishWorkerThread", e));
    }
}

bool TCacheImageMaker::AnyBusy(const std::vector<std::unique_ptr<TCacheImageWorker>>& workers) {
    std::lock_guard g(FWorkersLock);
    for (auto& w : workers)
        if (w->IsBusy()) return true;
    return false;
}

void TCacheImageMaker::Notify(const std::function<void()>& callback) {
    if (!callback || Terminated()) return;
    try {
        UiDispatcher().RunOnUiThread(callback, true);
    } catch (const std::exception& e) {
        WriteLogFailed(ClassName() + ".Notify", e);
    }
}

void TCacheImageMaker::Execute() {
    SetCurrentThreadName("CacheImageMaker");
    try {
        StartWorkers();
    } catch (const std::exception& e) {
        WriteLogFailed(ClassName() + ".Execute", e);
        return;
    }
    const bool hasThumbsWorkers = !FThumbsWorkers.empty();
    bool thumbsPhase = false;
    std::vector<TCatalogItem*> list;
    while (!Terminated()) {
        if (FQueues.RequestEvent()->WaitFor(50)) {
            bool reset = false;
            if (!FQueues.TakeRequest(list, reset)) continue;
            FBusy = true;
            if (hasThumbsWorkers) {
                FQueues.ReorderSource(list, reset);
                FQueues.ReorderThumbs(list, reset);
                thumbsPhase = true;
            } else {
                FQueues.RequestSource(list, reset);
            }
            continue;
        }
        if (thumbsPhase) {
            if (!FQueues.ThumbsEvent()->IsSignalled() && !AnyBusy(FThumbsWorkers)) {
                std::function<void()> cb;
                {
                    std::lock_guard g(FCallbackLock);
                    cb = FThumbsDone;
                }
                Notify(cb);
                thumbsPhase = false;
            }
        } else if (FBusy) {
            if (!FQueues.SourceEvent()->IsSignalled() && !AnyBusy(FSourceWorkers)) {
                FBusy = false;
                std::function<void()> cb;
                {
                    std::lock_guard g(FCallbackLock);
                    cb = FSourceDone;
                }
                Notify(cb);
            }
        }
    }
    FinishWorkers();
}

}  // namespace fv
