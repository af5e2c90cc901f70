#include "ui/frame_view_loader.h"

#include <sys/stat.h>

#include <chrono>

#include "image/correction.h"
#include "image/image_decode.h"
#include "image/resample.h"
#include "image/transform.h"
#include "ui/frame_view.h"

namespace fv {

namespace {
bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
}  // namespace

QImage BitmapToQImage(const TBitmap& b) {
    if (b.Empty()) return {};
    TBitmap copy;
    const TBitmap* src = &b;
    if (b.PixelFormat() != pf24bit) {
        copy = b;
        copy.SetPixelFormat(pf24bit);
        src = &copy;
    }
    QImage img(src->Width(), src->Height(), QImage::Format_RGB32);
    for (int y = 0; y < src->Height(); ++y) {
        const uint8_t* s = src->ScanLine(y);
        auto* d = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < src->Width(); ++x, s += 3) d[x] = qRgb(s[2], s[1], s[0]);
    }
    return img;
}

void TViewLoadThread::Post(TViewJob job) {
    {
        std::lock_guard<std::mutex> lock(FLock);
        FJob = std::move(job);  // an older job not started yet is dropped
    }
    FCond.notify_one();
}

void TViewLoadThread::Execute() {
    while (!Terminated()) {
        TViewJob job;
        {
            std::unique_lock<std::mutex> lock(FLock);
            FCond.wait_for(lock, std::chrono::milliseconds(100), [&] { return FJob.has_value() || Terminated(); });
            if (Terminated()) break;
            if (!FJob) continue;
            job = std::move(*FJob);
            FJob.reset();
        }
        // the first frame comes quickly; the sharp fit of the same picture follows when nothing
        // newer is waiting
        std::shared_ptr<TViewJobResult> r = Run(job, FRenderer, true);
        FDeliver(r);
        if (!r->Quick || !r->DecodedBitmap) continue;
        {
            std::lock_guard<std::mutex> lock(FLock);
            if (FJob || Terminated()) continue;
        }
        job.Decode = false;
        job.CorrectionsOnly = false;
        job.Decoded = r->DecodedBitmap;
        job.Display.reset();
        std::shared_ptr<TViewJobResult> sharp = Run(job, FRenderer, false);
        {
            std::lock_guard<std::mutex> lock(FLock);
            if (FJob) continue;  // the view has moved on: the newer job gets the thread
        }
        FDeliver(sharp);
    }
}

std::shared_ptr<TViewJobResult> TViewLoadThread::Run(TViewJob& job, const TViewPreviewRenderer& renderer, bool quick) {
    using namespace view_math;
    auto r = std::make_shared<TViewJobResult>();
    using TClock = std::chrono::steady_clock;
    auto since = [](TClock::time_point t) { return std::chrono::duration<double, std::milli>(TClock::now() - t).count(); };
    TClock::time_point t0 = TClock::now();
    r->Generation = job.Generation;
    r->Reduce = job.Reduce;
    try {
        std::shared_ptr<const TBitmap> decoded = job.Decoded;
        if (job.Decode) {
            auto b = std::make_shared<TBitmap>();
            if (job.PreviewMode != vpmNormal) {
                if (!renderer || !renderer(job.PreviewMode, job.Page, *b)) b->Clear();
            } else if (FileExists(job.Path)) {
                LoadImage(*b, job.Kind, job.Path, {}, job.Reduce);
                ApplyOrientation(*b, job.Orientation);
            }
            decoded = b->Empty() ? nullptr : std::shared_ptr<const TBitmap>(std::move(b));
            r->Decoded = true;
        }
        r->DecodedBitmap = decoded;
        r->DecodeMs = since(t0);
        t0 = TClock::now();
        if (!decoded) return r;
        std::shared_ptr<const TBitmap> display = job.CorrectionsOnly ? job.Display : nullptr;
        if (!display) {
            TLayout l = Layout(job.SizeMode, job.W, job.H, decoded->Width(), decoded->Height(), job.Sx, job.Sy);
            if (job.SizeMode >= vsmEighth || (l.Width == decoded->Width() && l.Height == decoded->Height()) ||
                l.Width <= 0 || l.Height <= 0) {
                display = decoded;
            } else {
                auto d = std::make_shared<TBitmap>(l.Width, l.Height);
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
        r->Display = display;
        r->FitMs = since(t0);
        t0 = TClock::now();
        if (job.PreviewMode == vpmNormal && job.Correction.Enabled) {
            TBitmap effect = *display;
            ApplyCorrections(effect, job.Correction);
            r->Effect = BitmapToQImage(effect);
        } else {
            r->Effect = BitmapToQImage(*display);
        }
        r->FinishMs = since(t0);
    } catch (...) {
        // a picture that cannot be read leaves an empty view; nothing is shown
        r->DecodedBitmap.reset();
        r->Display.reset();
        r->Effect = QImage();
    }
    return r;
}

}  // namespace fv
