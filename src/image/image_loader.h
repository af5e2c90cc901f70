#pragma once
// The viewer's loader thread: decodes the photo shown large at the reduce level that fits the
// window, turned the way the user turned it, without blocking the window. A newer request
// replaces an older one; Cancel drops the job in flight.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "core/threads.h"
#include "image/bitmap.h"
#include "platform/sync.h"

namespace fv {

class TCatalogItem;

FV_DECLARE_EXCEPTION(EImageLoaderError, Exception);

// job states the loader reports (through the thread base's report procedure)
enum : uint8_t { ilWorking = 1, ilDone = 2, ilCancelled = 3, ilFailed = 4 };

// On the user-interface thread: the item and its picture (empty when loading failed).
using TImageLoaderResult = std::function<void(TCatalogItem* item, TBitmap& bitmap)>;

class TImageLoader : public TCorvaThreadBase {
public:
    explicit TImageLoader(TImageLoaderResult onResult);
    ~TImageLoader() override;
    std::string ClassName() const override { return "TImageLoader"; }
    int GetThreadKind() const override { return tkImageLoader; }

    // skip: only report, load nothing (the viewer shows something it already has)
    void Post(TCatalogItem* item, int reduce, bool skip = false);
    void Cancel();
    void SetResultCallback(TImageLoaderResult onResult);
    // the state of the last job (ilWorking .. ilFailed, 0 before the first)
    uint8_t JobState() const { return FJobState.load(); }

protected:
    void Execute() override;

private:
    bool Cancelled();
    std::mutex FLock;
    TEventHandle FWork, FCancel;
    bool FSkip = false;
    TCatalogItem* FItem = nullptr;
    int FReduce = 0;
    TImageLoaderResult FOnResult;
    std::atomic<uint8_t> FJobState{0};
};

}  // namespace fv
