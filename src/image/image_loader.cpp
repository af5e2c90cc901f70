#include "image/image_loader.h"

#include "core/log.h"
#include "image/image_decode.h"
#include "image/jpeg_codec.h"
#include "metadata/jpeg_info.h"
#include "metadata/raw_preview.h"
#include "image/transform.h"
#include "library/catalog_item.h"
#include "platform/ui_dispatch.h"

namespace fv {

namespace {
std::atomic<uint32_t> gNextLoaderId{1};
}  // namespace

TImageLoader::TImageLoader(TImageLoaderResult onResult) : TCorvaThreadBase(true), FOnResult(std::move(onResult)) {
    const uint32_t id = gNextLoaderId.fetch_add(1);
    FWork = fv::CreateNamedEvent(Format("%s-%u-ImageLoaderWork", ClassName().c_str(), id));
    FCancel = fv::CreateNamedEvent(Format("%s-%u-ImageLoaderCancel", ClassName().c_str(), id));
}

TImageLoader::~TImageLoader() {
    Terminate();
    FWork->SetEvent();
    WaitFor();
}

void TImageLoader::Post(TCatalogItem* item, int reduce, bool skip) {
    {
        std::lock_guard g(FLock);
        FItem = item;
        FReduce = reduce;
        FSkip = skip;
    }
    FWork->SetEvent();
}

void TImageLoader::Cancel() { FCancel->SetEvent(); }

void TImageLoader::SetResultCallback(TImageLoaderResult onResult) {
    std::lock_guard g(FLock);
    FOnResult = std::move(onResult);
}

bool TImageLoader::Cancelled() { return Terminated() || FCancel->IsSignalled(); }

void TImageLoader::Execute() {
    SetThreadName();
    while (!Terminated()) {
        if (!FWork->WaitFor(50) || Terminated()) continue;
        FWork->ResetEvent();
        FCancel->ResetEvent();
        TCatalogItem* item;
        int reduce;
        bool skip;
        TImageLoaderResult onResult;
        {
            std::lock_guard g(FLock);
            item = FItem;
            reduce = FReduce;
            skip = FSkip;
            onResult = FOnResult;
            FItem = nullptr;
        }
        if (!item) continue;
        FJobState = ilWorking;
        DoStart(1);
        try {
            auto bmp = std::make_shared<TBitmap>();
            if (!skip) {
                try {
                    LoadImage(*bmp, item->GetKind(), item->GetFullPath(), {}, reduce);
                } catch (const std::exception& e) {
                    throw EImageLoaderError(Format("%s.%s : %s Raised. (%s)", ClassName().c_str(), "LoadImage",
                                                   ExceptionClassName(e).c_str(), e.what()));
                }
                if (!Cancelled() && !bmp->Empty()) {
                    const int o = item->GetOrientation();
                    ApplyUserTransform(RotationStepsOf(o), NeedsFlipVertical(o), NeedsMirror(o), {}, *bmp);
                }
            }
            if (!Cancelled() && onResult) UiDispatcher().RunOnUiThread([onResult, item, bmp] { onResult(item, *bmp); }, true);
            FJobState = Cancelled() ? ilCancelled : ilDone;
        } catch (const std::exception& e) {
            WriteLogFailed(ClassName() + ".Execute", e);
            FJobState = ilFailed;
            // the viewer hears of the failure as an empty picture
            if (!Cancelled() && onResult) {
                auto empty = std::make_shared<TBitmap>();
                try {
                    UiDispatcher().RunOnUiThread([onResult, item, empty] { onResult(item, *empty); }, true);
                } catch (const std::exception& inner) {
                    WriteLogFailed(ClassName() + ".Execute", inner);
                }
            }
        }
        DoFinish(FJobState.load());
    }
}

}  // namespace fv

namespace fv {

int ViewDecodeEighths(int width, int height, int minWidth, int minHeight) {
    for (int e = 1; e < 8; ++e)
        if (JpegEighthsSide(width, e) >= minWidth && JpegEighthsSide(height, e) >= minHeight) return e;
    return 8;
}

void LoadViewImage(TBitmap& bitmap, int kind, const std::string& fileName, int reduce, const TViewDecodeWant& want,
                   const std::function<bool()>& cancelled, int* eighths) {
    const bool jpeg = kind == ikJpeg || kind == ikDcfThumb || (kind == ikRaw && RawKind(fileName) == rkRAF);
    if (!jpeg) {
        LoadImage(bitmap, kind, fileName, {}, reduce);
        if (eighths) *eighths = 8 / ReduceDenominator(reduce);
        return;
    }
    TMemoryStream ms;
    LoadFileToMemory(fileName, ms);
    if (cancelled && cancelled()) throw EImageAbort("cancelled");
    FindJpegStart(ms);
    const auto& data = ms.Data();
    const auto pos = static_cast<size_t>(std::max<int64_t>(ms.Position(), 0));
    if (pos >= data.size()) throw EJpegError("Not a JPEG file");
    const TJpegHeader h = ReadJpegHeader(data.data() + pos, data.size() - pos);
    int minW = 0, minH = 0;
    if (want) want(h.Width, h.Height, minW, minH);
    const int e = minW > 0 || minH > 0 ? ViewDecodeEighths(h.Width, h.Height, minW, minH)
                                       : 8 / ReduceDenominator(reduce);
    DecodeJpegEighths(data.data() + pos, data.size() - pos, bitmap, e, cancelled);
    if (eighths) *eighths = e;
}

}  // namespace fv
