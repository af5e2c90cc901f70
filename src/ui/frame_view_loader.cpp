#include "ui/frame_view_loader.h"

#include <sys/stat.h>

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
        FDeliver(Run(job, FRenderer));
    }
}

std::shared_ptr<TViewJobResult> TViewLoadThread::Run(TViewJob& job, const TViewPreviewRenderer& renderer) {
    using namespace view_math;
    auto r = std::make_shared<TViewJobResult>();
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
        if (!decoded) return r;
        std::shared_ptr<const TBitmap> display = job.CorrectionsOnly ? job.Display : nullptr;
        if (!display) {
            TLayout l = Layout(job.SizeMode, job.W, job.H, decoded->Width(), decoded->Height(), job.Sx, job.Sy);
            if (job.SizeMode >= vsmEighth || (l.Width == decoded->Width() && l.Height == decoded->Height()) ||
                l.Width <= 0 || l.Height <= 0) {
                display = decoded;
            } else {
                auto d = std::make_shared<TBitmap>(l.Width, l.Height);
                TBitmap src = *decoded;
                Resample(src, *d, rmSinc);
                display = std::move(d);
            }
        }
        r->Display = display;
        if (job.PreviewMode == vpmNormal && job.Correction.Enabled) {
            TBitmap effect = *display;
            ApplyCorrections(effect, job.Correction);
            r->Effect = BitmapToQImage(effect);
        } else {
            r->Effect = BitmapToQImage(*display);
        }
    } catch (...) {
        // a picture that cannot be read leaves an empty view; nothing is shown
        r->DecodedBitmap.reset();
        r->Display.reset();
        r->Effect = QImage();
    }
    return r;
}

}  // namespace fv
