#include "ui/viewer/frame_view_loader.h"

#include <chrono>
#include <cmath>
#include <memory>

#include "image/correction.h"
#include "image/image_decode.h"
#include "image/image_loader.h"
#include "image/resample.h"
#include "image/transform.h"
#include "platform/page_memory.h"
#include "ui/viewer/bitmap_qimage.h"
#include "ui/viewer/view_math.h"

namespace fv {

void TViewLoadThread::Post(TViewJob job) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        std::erase_if(FQueue, [](const TViewJob& j) { return j.JobKind == vjPreload; });
        if (FRunning && FRunningKind == vjPreload && job.Decode && !job.CorrectionsOnly && FRunningKey == job.Key) {
            // the neighbour being prepared is the photo now wanted: it finishes and is shown
            FPromoteTo = job.Generation;
            FJob.reset();
        } else {
            FPromoteTo = 0;
            FJob = std::move(job);  // an older job not started yet is dropped
            if (FRunning) FCancel = true;  // and the one in flight is obsolete
        }
    }
    FCond.notify_one();
}

void TViewLoadThread::PostPreloads(std::vector<TViewJob> jobs) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        std::erase_if(FQueue, [](const TViewJob& j) { return j.JobKind == vjPreload; });
        for (TViewJob& j : jobs) {
            j.JobKind = vjPreload;
            FQueue.push_back(std::move(j));
        }
    }
    FCond.notify_one();
}

void TViewLoadThread::PostVerify(TViewJob job) {
    job.JobKind = vjVerify;
    {
        std::lock_guard<std::mutex> lock(FLock);
        FQueue.push_front(std::move(job));
    }
    FCond.notify_one();
}

void TViewLoadThread::CancelShow(uint64_t generation) {
    std::lock_guard<std::mutex> lock(FLock);
    if (FJob && FJob->Generation == generation) FJob.reset();
    if (FRunning && FRunningKind == vjShow && FRunningGeneration == generation) FCancel = true;
    if (FPromoteTo == generation) FPromoteTo = 0;
}

namespace {
std::shared_ptr<TViewJobResult> Verify(const TViewJob& job) {
    auto r = std::make_shared<TViewJobResult>();
    r->JobKind = vjVerify;
    r->Generation = job.Generation;
    r->Key = job.Key;
    r->Item = job.Item;
    r->FileOk = ReadFileFacts(job.Path, r->Facts) && r->Facts.IsFile;
    r->Changed = !r->FileOk || r->Facts.Size != job.Facts.Size || r->Facts.MTimeSec != job.Facts.MTimeSec ||
                 r->Facts.MTimeNsec != job.Facts.MTimeNsec;
    return r;
}
}  // namespace

void TViewLoadThread::Execute() {
    auto cancelled = [this] { return Terminated() || FCancel.load(); };
    auto begin = [this](const TViewJob& job) {
        FRunning = true;
        FRunningKind = job.JobKind;
        FRunningGeneration = job.Generation;
        FRunningKey = job.Key;
        FPromoteTo = 0;
        FCancel = false;
    };
    while (!Terminated()) {
        TViewJob job;
        {
            std::unique_lock<std::mutex> lock(FLock);
            FCond.wait_for(lock, std::chrono::milliseconds(100),
                           [&] { return FJob.has_value() || !FQueue.empty() || Terminated(); });
            if (Terminated()) break;
            if (FJob) {
                job = std::move(*FJob);
                FJob.reset();
            } else if (!FQueue.empty()) {
                job = std::move(FQueue.front());
                FQueue.pop_front();
            } else {
                continue;
            }
            begin(job);
        }
        std::shared_ptr<TViewJobResult> r;
        if (job.JobKind == vjVerify) {
            r = Verify(job);
        } else {
            // a photo's frames are tens of megabytes: what the heap freed since the last one
            // (its frames, the grid's pictures of a folder left) goes back to the system first
            if (job.Decode) ReturnFreedHeapPages();
            if (job.Decode) ++FStarted;
            // the first frame of a shown photo comes quickly; the sharp fit follows below
            r = Run(job, FRenderer, job.JobKind == vjShow, cancelled);
            if (job.Decode && !r->Cancelled) ++FFinishedDecodes;
        }
        {
            std::lock_guard<std::mutex> lock(FLock);
            FRunning = false;
            if (FPromoteTo != 0 && !r->Cancelled) {
                r->JobKind = vjShow;
                r->Generation = FPromoteTo;
            }
            FPromoteTo = 0;
        }
        if (r->Cancelled) continue;
        FDeliver(r);
        if (r->JobKind != vjShow || !r->Quick || !r->DecodedBitmap) continue;
        {
            std::lock_guard<std::mutex> lock(FLock);
            if (FJob || Terminated()) continue;
            begin(job);
        }
        job.Decode = false;
        job.CorrectionsOnly = false;
        job.Decoded = r->DecodedBitmap;
        job.Display.reset();
        std::shared_ptr<TViewJobResult> sharp = Run(job, FRenderer, false, cancelled);
        bool newer;
        {
            std::lock_guard<std::mutex> lock(FLock);
            FRunning = false;
            newer = FJob.has_value();
        }
        if (!sharp->Cancelled && !newer) FDeliver(sharp);  // else the newer job gets the thread
    }
}

namespace {
int DeviceSide(int logical, double ratio) { return static_cast<int>(std::lround(logical * ratio)); }
}  // namespace

std::shared_ptr<TViewJobResult> TViewLoadThread::Run(TViewJob& job, const TViewPreviewRenderer& renderer, bool quick,
                                                     const std::function<bool()>& cancelled) {
    using namespace view_math;
    auto r = std::make_shared<TViewJobResult>();
    using TClock = std::chrono::steady_clock;
    auto since = [](TClock::time_point t) { return std::chrono::duration<double, std::milli>(TClock::now() - t).count(); };
    TClock::time_point t0 = TClock::now();
    r->JobKind = job.JobKind;
    r->Generation = job.Generation;
    r->Reduce = job.Reduce;
    r->Key = job.Key;
    r->Item = job.Item;
    const double ratio = job.Ratio > 0 ? job.Ratio : 1.0;
    const bool fitMode = job.SizeMode < vsmEighth;
    r->Corrected = job.PreviewMode == vpmNormal && job.Correction.Enabled;
    try {
        if (job.CorrectionsOnly && !job.Decoded && !job.Plain.isNull()) {
            // the viewer let the decoded frame go: the fitted one, or else the painted picture
            // made without corrections (the same pixels), is where new corrections start
            std::shared_ptr<const TBitmap> plain =
                job.Display ? job.Display : std::make_shared<const TBitmap>(QImageToBitmap(job.Plain));
            if (r->Corrected) {
                TBitmap effect = *plain;
                ApplyCorrections(effect, job.Correction);
                r->Effect = BitmapToQImage(effect);
                r->Display = std::move(plain);  // the next change of corrections starts from it
            } else {
                r->Effect = SharedPicture(plain);
            }
            r->Effect.setDevicePixelRatio(job.Plain.devicePixelRatio());
            r->FinishMs = since(t0);
            return r;
        }
        std::shared_ptr<const TBitmap> decoded = job.Decoded;
        std::shared_ptr<const TBitmap> straight;  // fitted while decoded
        if (job.Decode) {
            auto b = std::make_shared<TBitmap>();
            if (job.PreviewMode != vpmNormal) {
                if (!renderer || !renderer(job.PreviewMode, job.Page, *b)) b->Clear();
            } else if (ReadFileFacts(job.Path, r->Facts) && r->Facts.IsFile) {
                r->FileOk = true;
                TViewDecodeWant want;
                if (job.FitDecode && fitMode) {
                    // the box the picture will fill, in device pixels and in the file's own turn
                    want = [&job, ratio](int w, int h, int& minW, int& minH) {
                        const bool turn = job.Orientation >= 5 && job.Orientation <= 8;
                        TLayout l = Layout(job.SizeMode, job.W, job.H, turn ? h : w, turn ? w : h, job.Sx, job.Sy);
                        const int dw = DeviceSide(l.Width, ratio), dh = DeviceSide(l.Height, ratio);
                        minW = turn ? dh : dw;
                        minH = turn ? dw : dh;
                    };
                }
                // a fitted JPEG photo is filtered into its picture as its rows are decoded: the
                // sharp fit at once, and no decoded frame at all
                TViewFittedFacts facts;
                auto fitSize = [&job, ratio](int w, int h, int& fw, int& fh) {
                    TLayout l = Layout(job.SizeMode, job.W, job.H, w, h, job.Sx, job.Sy);
                    fw = DeviceSide(l.Width, ratio);
                    fh = DeviceSide(l.Height, ratio);
                };
                if (fitMode && LoadViewImageFitted(*b, job.Kind, job.Path, job.Reduce, job.Orientation, want, fitSize,
                                                   fkSinc, cancelled, &facts)) {
                    if (cancelled && cancelled()) throw EImageAbort("cancelled");
                    straight = std::move(b);
                    r->Eighths = facts.Eighths;
                    r->DecodedWidth = facts.DecodedWidth;
                    r->DecodedHeight = facts.DecodedHeight;
                    b = std::make_shared<TBitmap>();
                } else {
                    LoadViewImage(*b, job.Kind, job.Path, job.Reduce, want, cancelled, &r->Eighths);
                    if (cancelled && cancelled()) throw EImageAbort("cancelled");
                    ApplyOrientation(*b, job.Orientation);
                }
            }
            decoded = b->Empty() ? nullptr : std::shared_ptr<const TBitmap>(std::move(b));
            r->Decoded = true;
        }
        r->DecodedBitmap = decoded;
        r->DecodeMs = since(t0);
        t0 = TClock::now();
        if (!decoded && !straight) return r;
        if (decoded) {
            r->DecodedWidth = decoded->Width();
            r->DecodedHeight = decoded->Height();
        }
        std::shared_ptr<const TBitmap> display = straight ? straight : job.CorrectionsOnly ? job.Display : nullptr;
        // a fitted picture is made in device pixels, so that it is sharp on a high-density screen
        TLayout l = Layout(job.SizeMode, job.W, job.H, r->DecodedWidth, r->DecodedHeight, job.Sx, job.Sy);
        const int tw = DeviceSide(l.Width, ratio), th = DeviceSide(l.Height, ratio);
        if (!display) {
            if (!fitMode || (tw == decoded->Width() && th == decoded->Height()) || tw <= 0 || th <= 0) {
                display = decoded;
            } else {
                // straight into the painted picture's 32-bit pixels: no 24-bit fitted frame
                auto d = std::make_shared<TBitmap>(tw, th, pf32bit);
                // a 24-bit picture is only read by the resampler (it converts other formats in
                // place), so the shared decoded picture is not copied: 9 MB for a 12-megapixel
                // photo at half size, new memory the system has to fault in each time
                const int method = quick ? rmTriangle : rmSinc;
                if (decoded->PixelFormat() == pf24bit) {
                    Resample(const_cast<TBitmap&>(*decoded), *d, method);
                } else {
                    TBitmap src = *decoded;
                    Resample(src, *d, method);
                }
                r->Quick = quick;
                display = std::move(d);
            }
        }
        // a fitted picture is made in device pixels, so that it is sharp on a high-density screen
        const double pictureRatio = fitMode && display->Width() == tw && display->Height() == th ? ratio : 1.0;
        if (cancelled && cancelled()) throw EImageAbort("cancelled");
        if (job.JobKind == vjPreload && display != decoded) {
            // a prepared neighbour is kept as its painted picture only: the decoded frame goes
            // before the painted one is made, not after
            r->DecodedBitmap.reset();
            decoded.reset();
            job.Decoded.reset();
        }
        r->Display = display;
        r->FitMs = since(t0);
        t0 = TClock::now();
        if (job.PreviewMode == vpmNormal && job.Correction.Enabled) {
            TBitmap effect = *display;
            ApplyCorrections(effect, job.Correction);
            r->Effect = BitmapToQImage(effect);
        } else {
            r->Effect = SharedPicture(display);
        }
        r->Effect.setDevicePixelRatio(pictureRatio);
        // the 24-bit fitted frame of a quick first picture (the sharp fit is made from the decoded
        // one) and of a prepared neighbour is of no further use
        if (r->Quick || job.JobKind == vjPreload) r->Display.reset();
        r->FinishMs = since(t0);
    } catch (const EImageAbort&) {
        if (cancelled && cancelled()) r->Cancelled = true;
        r->DecodedBitmap.reset();
        r->Display.reset();
        r->Effect = QImage();
    } catch (...) {
        // a picture that cannot be read leaves an empty view; nothing is shown
        r->DecodedBitmap.reset();
        r->Display.reset();
        r->Effect = QImage();
    }
    return r;
}

}  // namespace fv
