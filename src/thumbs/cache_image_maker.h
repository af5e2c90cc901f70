#pragma once
// The thumbnail maker of a catalog view: a coordinator thread that takes the items the view
// wants (in display order) and feeds two pools of workers. Thumbs workers make a quick first
// picture from what a file carries (EXIF thumbnail, raw preview); source workers then make the
// definitive picture from the full image and read the comment side file. Every stored picture
// raises catalog event 15.
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/threads.h"
#include "thumbs/cache_image_route.h"
#include "platform/sync.h"

namespace fv {

class TCatalogItem;
class TCatalogImageCacheMaster;
class TCacheImageMaker;

FV_DECLARE_EXCEPTION(ECacheImageMakerError, Exception);
FV_DECLARE_EXCEPTION(ECacheImageWorkerError, Exception);

enum TCacheWorkerType : int { cwtThumbs = 0, cwtSource = 1, cwtReserved = 2 };

// Reported from the worker thread after each job that was not cancelled: which pool ran it,
// the picture stored (csNone when none was needed or made) and whether the file could not be read.
using TCacheImageObserver =
    std::function<void(TCatalogItem* item, TCacheWorkerType worker, TCacheImageSource stored, bool failed)>;

// The three queues and their reordering, apart from the threads so that the order can be tested.
class TCacheImageQueues {
public:
    explicit TCacheImageQueues(const std::string& eventPrefix);

    // the request queue: replaced by Request, appended to by RequestOne
    void SetRequest(const std::vector<TCatalogItem*>& list, bool resetOrder);
    void AddRequest(TCatalogItem* item);
    bool TakeRequest(std::vector<TCatalogItem*>& list, bool& resetOrder);

    // The items now wanted move to the front of the thumbs queue in request order; the rest
    // keep their place. A reset (or an empty queue) takes the request as it is.
    void ReorderThumbs(const std::vector<TCatalogItem*>& list, bool reset);
    // The urgent list goes back to the front of the later list, then the wanted items found in
    // the later list become the urgent list, in request order. A reset empties both.
    void ReorderSource(const std::vector<TCatalogItem*>& list, bool reset);
    // straight into the source queue (no thumbs workers): urgent in request order
    void RequestSource(const std::vector<TCatalogItem*>& list, bool reset);

    TCatalogItem* TakeThumbs();
    TCatalogItem* TakeSource();
    // a finished thumbs job: out of the later list, onto the urgent list
    void HandOn(TCatalogItem* item);
    void ClearAll();

    std::vector<TCatalogItem*> ThumbsQueue();
    std::vector<TCatalogItem*> SourceUrgent();
    std::vector<TCatalogItem*> SourceLater();

    TEventHandle RequestEvent() const { return FRequestEvent; }
    TEventHandle ThumbsEvent() const { return FThumbsEvent; }
    TEventHandle SourceEvent() const { return FSourceEvent; }

private:
    std::mutex FRequestLock, FThumbsLock, FSourceLock;
    std::vector<TCatalogItem*> FRequest;
    bool FResetOrder = false;
    std::deque<TCatalogItem*> FThumbs;
    std::deque<TCatalogItem*> FUrgent, FLater;
    TEventHandle FRequestEvent, FThumbsEvent, FSourceEvent;
};

class TCacheImageWorker : public TThreadObject {
public:
    TCacheImageWorker(TCacheImageMaker& maker, TCatalogImageCacheMaster* cache);
    ~TCacheImageWorker() override;
    std::string ClassName() const override { return "TCacheImageWorker"; }

    bool CanWork();
    bool IsBusy();
    void SetCancelled(bool flag);
    bool CancelSeen();

protected:
    void Execute() override;
    virtual TEventHandle OpenQueueEvent() = 0;
    virtual TCatalogItem* TakeJob() = 0;
    virtual void MakeCacheImage(TCatalogItem* item) = 0;
    virtual void GetSubData(TCatalogItem* item) { (void)item; }
    virtual void JobDone(TCatalogItem* item) { (void)item; }
    virtual TCacheWorkerType WorkerType() const = 0;

    // the item's picture is missing or was made for another size, and the file did not fail before
    bool NeedsWork(TCatalogItem* item);
    // sharpens a reduced picture, stores it and raises event 15; false when nothing was stored
    bool Store(TCatalogItem* item, TCacheImage& image);
    [[noreturn]] void Raise(const std::string& label, const std::exception& e);

    TCacheImageMaker& FMaker;
    TCatalogImageCacheMaster* FCache;
    int32_t FSize = 0;
    TCacheImageSource FStored = csNone;  // what the current job stored
    bool FFailed = false;                // the current job's file could not be read

private:
    void DoMakeCacheImageSync(TCatalogItem* item);
    std::mutex FBusyLock, FCancelLock;
    bool FBusy = false;
    bool FCancelled = false;
    bool FCancelSeen = false;
};

class TCacheImageWorkerThumbs : public TCacheImageWorker {
public:
    using TCacheImageWorker::TCacheImageWorker;
    ~TCacheImageWorkerThumbs() override { TerminateAndWait(); }
    std::string ClassName() const override { return "TCacheImageWorkerThumbs"; }

protected:
    TEventHandle OpenQueueEvent() override;
    TCatalogItem* TakeJob() override;
    void MakeCacheImage(TCatalogItem* item) override;
    void JobDone(TCatalogItem* item) override;
    TCacheWorkerType WorkerType() const override { return cwtThumbs; }
};

class TCacheImageWorkerSource : public TCacheImageWorker {
public:
    using TCacheImageWorker::TCacheImageWorker;
    ~TCacheImageWorkerSource() override { TerminateAndWait(); }
    std::string ClassName() const override { return "TCacheImageWorkerSource"; }

protected:
    TEventHandle OpenQueueEvent() override;
    TCatalogItem* TakeJob() override;
    void MakeCacheImage(TCatalogItem* item) override;
    void GetSubData(TCatalogItem* item) override;
    TCacheWorkerType WorkerType() const override { return cwtSource; }
};

class TCacheImageMaker : public TThreadObject {
public:
    // useAllProcessors: as many workers of each kind as the machine has cores (else one each)
    TCacheImageMaker(TCatalogImageCacheMaster* cache, bool useAllProcessors);
    ~TCacheImageMaker() override;
    std::string ClassName() const override { return "TCacheImageMaker"; }

    // before Start: the processor count used instead of the machine's, and the workers per
    // processor (0 thumbs workers: requests go straight to the source workers)
    void SetProcessorCount(int n);
    void SetWorkersPerProcessor(int thumbs, int source);
    // main-thread notifications when the thumbs phase and the whole work have finished
    void SetFinishedCallbacks(std::function<void()> thumbsDone, std::function<void()> sourceDone);
    void SetObserver(TCacheImageObserver observer);

    void Request(const std::vector<TCatalogItem*>& list, int32_t size, bool resetOrder);
    void RequestOne(TCatalogItem* item);
    // stops the running jobs at their next check and forgets everything queued
    void CancelAll();
    bool IsBusy() const { return FBusy.load(); }
    int32_t GetSize();
    uint32_t MakerId() const { return FMakerId; }
    TCacheImageQueues& Queues() { return FQueues; }
    int ThumbsWorkerCount() const { return static_cast<int>(FThumbsWorkers.size()); }
    int SourceWorkerCount() const { return static_cast<int>(FSourceWorkers.size()); }

protected:
    void Execute() override;

private:
    friend class TCacheImageWorker;
    friend class TCacheImageWorkerThumbs;
    friend class TCacheImageWorkerSource;
    void StartWorkers();
    void FinishWorkers();
    bool AnyBusy(const std::vector<std::unique_ptr<TCacheImageWorker>>& workers);
    void Notify(const std::function<void()>& callback);
    TCacheImageObserver Observer();
    bool CrossProcessLocks() const;

    TCatalogImageCacheMaster* FCache;
    uint32_t FMakerId;
    TCacheImageQueues FQueues;
    std::mutex FSizeLock;
    int32_t FSize = 0;
    bool FUseAllProcessors;
    int FProcessorCount = 0;
    int FThumbsPerProcessor = 1, FSourcePerProcessor = 1;
    std::vector<std::unique_ptr<TCacheImageWorker>> FThumbsWorkers, FSourceWorkers;
    std::mutex FCallbackLock;
    std::function<void()> FThumbsDone, FSourceDone;
    TCacheImageObserver FObserver;
    TEventHandle FCancelEvent;
    std::atomic<bool> FBusy{false};
    std::atomic<bool> FWorkersStarted{false};
    std::mutex FWorkersLock;
};

}  // namespace fv
