#pragma once
// The viewer's loader thread: decodes, turns, fits and corrects the shown photo off the
// user-interface thread, and, when nothing is asked for, the neighbours the viewer wants ready.
// It keeps only the newest show job, so a burst of requests decodes once; a newer show job
// abandons the decode in flight, unless that decode is a preload of the very photo now wanted.
#include <QImage>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/threads.h"
#include "image/bitmap.h"
#include "metadata/correction_record.h"
#include "platform/file_sys.h"

namespace fv {

// What a fitted picture depends on: the file as it was (size and time recorded for the item),
// how it is turned and corrected, and the box it is fitted to. Two equal keys give the same pixels.
struct TViewKey {
    std::string Path;
    int64_t FileSize = 0;
    double FileTime = 0;
    int Kind = 1;
    int Orientation = 1;
    TCorrectionRecord Correction;
    int SizeMode = 0, W = 0, H = 0;
    double Ratio = 1;  // device pixels per logical pixel
    bool operator==(const TViewKey&) const = default;
};

enum TViewJobKind : uint8_t {
    vjShow = 0,     // the photo on screen
    vjPreload = 1,  // a neighbour, fitted the way it will be shown
    vjVerify = 2,   // is the file still the one a cached picture was made from?
};

// Everything the thread needs is copied in; it never touches a catalog item.
struct TViewJob {
    TViewJobKind JobKind = vjShow;
    uint64_t Generation = 0;
    bool Decode = false;
    bool CorrectionsOnly = false;
    std::string Path;
    int Kind = 1;
    int Orientation = 1;
    int Reduce = 0;
    // fit modes with reduced decoding allowed: decode at the smallest DCT scale covering the box
    bool FitDecode = false;
    int PreviewMode = 0;
    int Page = 1;
    TCorrectionRecord Correction;
    int SizeMode = 0, W = 0, H = 0, Sx = 0, Sy = 0;
    double Ratio = 1;
    std::shared_ptr<const TBitmap> Decoded, Display;
    // corrections only, without a decoded frame: the painted picture (its pixels are used when
    // there is no fitted frame either, and it has no corrections)
    QImage Plain;
    TViewKey Key;                // show and preload jobs of photos
    const void* Item = nullptr;  // identity only, never followed
    TFileFacts Facts;            // verify: the facts the cached picture was made from
};

struct TViewJobResult {
    TViewJobKind JobKind = vjShow;
    uint64_t Generation = 0;
    bool Decoded = false;  // a new picture was decoded (or failed to)
    bool Cancelled = false;
    std::shared_ptr<const TBitmap> DecodedBitmap, Display;
    int DecodedWidth = 0, DecodedHeight = 0;  // oriented, as decoded
    QImage Effect;
    int Reduce = 0;
    int Eighths = 8;  // the DCT scale the decode used
    // fitted with the quick filter: the sharp one follows unless a newer job came
    bool Quick = false;
    bool Corrected = false;  // the painted picture has corrections applied
    TViewKey Key;
    const void* Item = nullptr;
    TFileFacts Facts;      // of the file when it was read (or found by a verify job)
    bool FileOk = false;   // the facts could be read
    bool Changed = false;  // verify: the file is not the one the picture was made from
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
    // a show job: replaces a waiting one, drops waiting preloads and abandons the job in flight
    // (a preload of the same photo is kept and delivered as this job's result)
    void Post(TViewJob job);
    // preloads replace the waiting ones; they run only while no show job waits
    void PostPreloads(std::vector<TViewJob> jobs);
    // a verify job runs before any preload
    void PostVerify(TViewJob job);
    // the show job of this generation is no longer wanted
    void CancelShow(uint64_t generation);
    // the work of one job, also callable directly (tests, benchmarks); quick: a picture that must
    // be fitted is fitted with the triangle filter (a few times faster than the sinc filter)
    static std::shared_ptr<TViewJobResult> Run(TViewJob& job, const TViewPreviewRenderer& renderer,
                                               bool quick = false, const std::function<bool()>& cancelled = {});
    // decodes started and decodes finished by this thread (show and preload jobs)
    int DecodesStarted() const { return FStarted.load(); }
    int DecodesFinished() const { return FFinishedDecodes.load(); }

protected:
    void DoTerminate() override { FCond.notify_all(); }
    void Execute() override;

private:
    TDeliver FDeliver;
    TViewPreviewRenderer FRenderer;
    std::mutex FLock;
    std::condition_variable FCond;
    std::optional<TViewJob> FJob;
    std::deque<TViewJob> FQueue;  // verify jobs first, then preloads
    // the job in flight (under FLock)
    bool FRunning = false;
    TViewJobKind FRunningKind = vjShow;
    uint64_t FRunningGeneration = 0;
    TViewKey FRunningKey;
    uint64_t FPromoteTo = 0;  // the running preload becomes the result of this show generation
    std::atomic<bool> FCancel{false};
    std::atomic<int> FStarted{0}, FFinishedDecodes{0};
};

}  // namespace fv
