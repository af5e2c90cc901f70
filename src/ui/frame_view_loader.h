#pragma once
// The viewer's loader thread: decodes, turns, fits and corrects the shown photo off the
// user-interface thread. It keeps only the newest job, so a burst of requests decodes once.
#include <QImage>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/threads.h"
#include "image/bitmap.h"
#include "library/correction_record.h"

namespace fv {

// Everything the thread needs is copied in; it never touches a catalog item.
struct TViewJob {
    uint64_t Generation = 0;
    bool Decode = false;
    bool CorrectionsOnly = false;
    std::string Path;
    int Kind = 1;
    int Orientation = 1;
    int Reduce = 0;
    int PreviewMode = 0;
    int Page = 1;
    TCorrectionRecord Correction;
    int SizeMode = 0, W = 0, H = 0, Sx = 0, Sy = 0;
    std::shared_ptr<const TBitmap> Decoded, Display;
};

struct TViewJobResult {
    uint64_t Generation = 0;
    bool Decoded = false;  // a new picture was decoded (or failed to)
    std::shared_ptr<const TBitmap> DecodedBitmap, Display;
    QImage Effect;
    int Reduce = 0;
    // fitted with the quick filter: the sharp one follows unless a newer job came
    bool Quick = false;
    // where the time went (ms): decoding and turning, fitting to the box, corrections and the
    // conversion to a Qt picture
    double DecodeMs = 0, FitMs = 0, FinishMs = 0;
};

// renders a print preview into the bitmap (mode, page) on the loader thread; false clears the view
using TViewPreviewRenderer = std::function<bool(int mode, int page, TBitmap& out)>;

class TViewLoadThread : public TThreadObject {
public:
    using TDeliver = std::function<void(std::shared_ptr<TViewJobResult>)>;
    TViewLoadThread(TDeliver deliver, TViewPreviewRenderer renderer)
        : FDeliver(std::move(deliver)), FRenderer(std::move(renderer)) {}
    ~TViewLoadThread() override { TerminateAndWait(); }
    std::string ClassName() const override { return "TViewLoadThread"; }
    void Post(TViewJob job);
    // the work of one job, also callable directly (tests, benchmarks); quick: a picture that must
    // be fitted is fitted with the triangle filter (a few times faster than the sinc filter)
    static std::shared_ptr<TViewJobResult> Run(TViewJob& job, const TViewPreviewRenderer& renderer,
                                               bool quick = false);

protected:
    void DoTerminate() override { FCond.notify_all(); }
    void Execute() override;

private:
    TDeliver FDeliver;
    TViewPreviewRenderer FRenderer;
    std::mutex FLock;
    std::condition_variable FCond;
    std::optional<TViewJob> FJob;
};

// 24- or 32-bit bitmap to a Qt picture
QImage BitmapToQImage(const TBitmap& b);

}  // namespace fv
