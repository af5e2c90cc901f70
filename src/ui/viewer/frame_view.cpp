#include "ui/viewer/frame_view.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>
#include <climits>
#include <cmath>

#include "ui/viewer/frame_view_loader.h"
#include "library/catalog_item.h"
#include "ui/common_images.h"
#include "ui/skin/ui_fonts.h"

namespace fv {

using namespace view_math;

TFrameView::TFrameView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFrameStyle(QFrame::NoFrame);
    setViewportMargins(2 * kBorder, 2 * kBorder, 2 * kBorder, 2 * kBorder);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::Base, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
    viewport()->setPalette(pal);
    viewport()->setAutoFillBackground(true);
    viewport()->setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);

    FCurHandFlat = CommonCursor("CURHANDFLAT");
    FCurHandGrab = CommonCursor("CURHANDGRAB");
    FCurZoom = CommonCursor("CURZOOM");
    FCurNext = CommonCursor("CURNEXT");

    FLabelNoItem = new QLabel(QStringLiteral("(表示できる写真はありません。)"), viewport());
    FLabelNoItem->setObjectName("LabelNoItem");
    FLabelNoItem->setFont(UiFontNamed("Tahoma", 21));
    QPalette lp = FLabelNoItem->palette();
    lp.setColor(QPalette::WindowText, QColor(0xc0, 0xc0, 0xc0));
    FLabelNoItem->setPalette(lp);
    FLabelNoItem->adjustSize();
    FLabelNoItem->move(16, 16);

    FViewTimer.setInterval(50);
    FViewTimer.setSingleShot(false);
    connect(&FViewTimer, &QTimer::timeout, this, [this] { OnViewTimer(); });
    // the neighbours are prepared once the user has looked for a moment
    FPreloadTimer.setInterval(120);
    FPreloadTimer.setSingleShot(true);
    connect(&FPreloadTimer, &QTimer::timeout, this, [this] { StartPreloads(); });
    UpdateCursor();
    UpdateLabel();
}

TFrameView::~TFrameView() { Stop(); }

void TFrameView::Start() {
    if (FLoader) return;
    QPointer<TFrameView> self(this);
    FLoader = std::make_unique<TViewLoadThread>(
        [self](std::shared_ptr<TViewJobResult> r) {
            // the frame joins this thread before it goes, so `self` is alive when the call is queued
            QMetaObject::invokeMethod(
                self.data(), [self, r] { if (self) self->TakeResult(r); }, Qt::QueuedConnection);
        },
        FPreviewRenderer);
    FLoader->Start();
}

void TFrameView::Stop() {
    ClearView();
    FCache.Clear();
    FPreloadTimer.stop();
    FViewTimer.stop();
    FReloadFlag = false;
    if (FLoader) {
        FLoader->TerminateAndWait();
        FLoader.reset();
    }
}

void TFrameView::ClearView() {
    FShown = nullptr;
    FDecoded.reset();
    FDisplay.reset();
    FEffect = QImage();
    FDecodedDims = QSize();
    FShownPath.clear();
    FLayout = TLayout();
    ++FGeneration;  // results on their way belong to the forgotten photo
    FJobsInFlight = 0;
    horizontalScrollBar()->setRange(0, 0);
    verticalScrollBar()->setRange(0, 0);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    UpdateLabel();
    viewport()->update();
}

void TFrameView::ShowItem(TCatalogItem* item) {
    if (item == FPending) return;
    // the direction the user moves in decides which neighbour is prepared first
    if (item && FPending && FNeighbour)
        FDirection = item == FNeighbour(FPending, -1) && item != FNeighbour(FPending, 1) ? -1 : 1;
    FPreloadTimer.stop();
    FPending = item;
    if (FPreviewMode != vpmPrintPages) FSizeMode = FRememberedMode;
    Reload();
    UpdateLabel();
}

void TFrameView::Reload() {
    FReloadFlag = true;
    // within 50 ms of the last load the newest request waits for the tick; otherwise it loads
    // at once and opens a new window, so a held key still loads at most one photo per tick
    if (FViewTimer.isActive()) return;
    FViewTimer.start();
    OnViewTimer();
}

void TFrameView::OnViewTimer() {
    if (!FReloadFlag) {
        FViewTimer.stop();
        return;
    }
    FPaintBoxVisible = FPending != nullptr || FPreviewMode == vpmPrintPages;
    FReloadFlag = false;
    LoadPending();
}

QSize TFrameView::OrientedPhotoSize() const {
    QSize s = FPhotoSize;
    if (FShownOrientation >= 5 && FShownOrientation <= 8) s.transpose();
    return s;
}

double TFrameView::Ratio() const { return std::max(1.0, devicePixelRatioF()); }

int TFrameView::WantedDecodeScale() const {
    bool jpeg = FShownKind == 1 || FShownKind == 4;
    QSize o = OrientedPhotoSize();
    // the box in device pixels: a photo fitted on a high-density screen needs them all
    const double r = Ratio();
    return DecodeScale(FSizeMode, ReducedDecodingAllowed(), jpeg, o.width(), o.height(),
                       static_cast<int>(width() * r), static_cast<int>(height() * r));
}

void TFrameView::LoadPending() {
    TCatalogItem* item = FPending;
    if (!item && FPreviewMode != vpmPrintPages) {
        ClearView();
        return;
    }
    FShown = item;
    FDecoded.reset();
    FDisplay.reset();
    FDecodedDims = QSize();
    // whatever was painted last stays on screen, as it is, until the new picture arrives: never
    // an empty frame between two photos
    if (item) {
        FShownPath = item->GetFullPath();
        FShownKind = item->GetKind();
        FShownOrientation = item->GetOrientation();
        FCorrection = item->GetCorrection();
        FPhotoSize = QSize(item->GetWidth(), item->GetHeight());
    } else {
        FShownPath.clear();
        FPhotoSize = QSize();
    }
    FDecodeScale = WantedDecodeScale();
    if (item && TryShowCached()) return;
    SubmitJob(true, false);
    UpdateLabel();
}

bool TFrameView::Cacheable(int sizeMode) const { return FPreviewMode == vpmNormal && sizeMode < vsmEighth; }

TViewKey TFrameView::KeyFor(TCatalogItem* item, int sizeMode) const {
    TViewKey k;
    k.Path = item->GetFullPath();
    k.FileSize = item->GetFileSize();
    k.FileTime = item->GetFileTime();
    k.Kind = item->GetKind();
    k.Orientation = item->GetOrientation();
    k.Correction = item->GetCorrection();
    k.SizeMode = sizeMode;
    k.W = width();
    k.H = height();
    k.Ratio = Ratio();
    return k;
}

TViewJob TFrameView::JobFor(TCatalogItem* item, int sizeMode) const {
    TViewJob job;
    job.Decode = true;
    job.Path = item->GetFullPath();
    job.Kind = item->GetKind();
    job.Orientation = item->GetOrientation();
    job.Correction = item->GetCorrection();
    const bool jpeg = job.Kind == 1 || job.Kind == 4;
    QSize o(item->GetWidth(), item->GetHeight());
    if (job.Orientation >= 5 && job.Orientation <= 8) o.transpose();
    const double r = Ratio();
    job.Reduce = DecodeScale(sizeMode, ReducedDecodingAllowed(), jpeg, o.width(), o.height(),
                             static_cast<int>(width() * r), static_cast<int>(height() * r));
    job.FitDecode = ReducedDecodingAllowed() && FPreviewMode == vpmNormal;
    job.SizeMode = sizeMode;
    job.W = width();
    job.H = height();
    job.Sx = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    job.Sy = job.Sx;
    job.Ratio = r;
    job.Key = KeyFor(item, sizeMode);
    job.Item = item;
    return job;
}

bool TFrameView::TryShowCached() {
    if (!FShown || !Cacheable(FSizeMode)) return false;
    if (!FLoader) Start();
    TViewKey key = KeyFor(FShown, FSizeMode);
    const TViewCacheEntry* e = FCache.Find(key);
    if (!e) return false;
    ++FGeneration;  // anything on its way for an earlier request is obsolete
    FJobsInFlight = 0;
    ++FCacheHits;
    FDecodedDims = QSize(e->DecodedWidth, e->DecodedHeight);
    FDecodedScale = FDecodeScale;
    FDecodedEighths = e->Eighths;
    FShownFacts = e->Facts;
    FEffect = e->Picture;
    FEffectPlain = !e->Key.Correction.Enabled;
    FPaintBoxVisible = true;
    Relayout(false);
    UpdateLabel();
    viewport()->update();
    // the file may have changed since the picture was made: the loader looks, and a changed
    // file is read again
    TViewJob verify;
    verify.Generation = FGeneration;
    verify.Path = FShownPath;
    verify.Key = key;
    verify.Item = FShown;
    verify.Facts = e->Facts;
    FLoader->PostPreloads({});  // the neighbours of the photo before wait no longer
    FLoader->PostVerify(std::move(verify));
    emit pictureReady();
    SchedulePreload();
    return true;
}

int TFrameView::DistanceFromShown(const void* item) const {
    if (!FShown || !item) return INT_MAX;
    if (item == FShown) return 0;
    if (!FNeighbour) return INT_MAX;
    TCatalogItem* ahead = FShown;
    TCatalogItem* behind = FShown;
    for (int d = 1; d <= 3; ++d) {
        if (ahead) ahead = FNeighbour(ahead, 1);
        if (behind) behind = FNeighbour(behind, -1);
        if (ahead == item || behind == item) return d;
    }
    return INT_MAX;
}

void TFrameView::StoreShown() {
    if (!FShown || FEffect.isNull() || !Cacheable(FSizeMode) || FSizeMode != FRememberedMode) return;
    UpdateCacheBudget();
    TViewCacheEntry e;
    e.Key = KeyFor(FShown, FSizeMode);
    e.Item = FShown;
    e.Picture = FEffect;
    e.DecodedWidth = FDecodedDims.width();
    e.DecodedHeight = FDecodedDims.height();
    e.Eighths = FDecodedEighths;
    e.Facts = FShownFacts;
    FCache.Put(std::move(e), [this](const void* item) { return DistanceFromShown(item); }, Held());
}

void TFrameView::UpdateCacheBudget() {
    // three screens of 32-bit device pixels: the shown photo and a neighbour on each side, the
    // frames on screen counted in
    const double r = Ratio();
    FCache.SetBudget(static_cast<int64_t>(std::lround(width() * r) * std::lround(height() * r) * 4 * 3));
}

void TFrameView::MakeCacheRoom(int pictures, int steps) {
    // a fitted picture is at most a screen of 32-bit device pixels
    UpdateCacheBudget();
    const double r = Ratio();
    const int64_t screen = static_cast<int64_t>(std::lround(width() * r) * std::lround(height() * r) * 4);
    FCache.MakeRoom(screen * pictures, steps, [this](const void* item) { return DistanceFromShown(item); }, Held());
}

TViewHeld TFrameView::Held() const {
    TViewHeld h;
    h.OnScreen = &FEffect;
    auto bytes = [](const std::shared_ptr<const TBitmap>& b) {
        return b ? static_cast<int64_t>(b->Stride()) * b->Height() : 0;
    };
    // a 32-bit fitted frame is the painted picture's own pixels
    const bool displayPainted = FDisplay && !FEffect.isNull() && FDisplay->Bits() == FEffect.constBits();
    h.OtherBytes = bytes(FDecoded) + (FDisplay != FDecoded && !displayPainted ? bytes(FDisplay) : 0);
    return h;
}

void TFrameView::SchedulePreload() {
    if (FNeighbour && FLoader) FPreloadTimer.start();
}

void TFrameView::StartPreloads() {
    if (!FLoader || !FShown || !FNeighbour || !Cacheable(FRememberedMode) || !isVisible()) return;
    // a photo still on its way comes first: try again once it is shown
    if (FJobsInFlight > 0 || FReloadFlag) return;
    std::vector<TViewJob> jobs;
    std::vector<TCatalogItem*> seen{FShown};
    for (int step : {FDirection, -FDirection}) {
        TCatalogItem* it = FNeighbour(FShown, step);
        if (!it || std::find(seen.begin(), seen.end(), it) != seen.end()) continue;
        seen.push_back(it);
        if (it->GetKind() < 1 || it->GetKind() > 5) continue;  // no picture to prepare
        if (FCache.Find(KeyFor(it, FRememberedMode))) continue;
        TViewJob job = JobFor(it, FRememberedMode);
        job.Generation = FGeneration;
        jobs.push_back(std::move(job));
    }
    if (jobs.empty()) return;
    // the pictures the new ones will push out go before the new ones are made
    MakeCacheRoom(static_cast<int>(jobs.size()), 1);
    FPreloadsPosted += static_cast<int>(jobs.size());
    FLoader->PostPreloads(std::move(jobs));
}

void TFrameView::TakePreload(const std::shared_ptr<TViewJobResult>& r) {
    if (r->Effect.isNull() || !r->FileOk) return;
    UpdateCacheBudget();
    TViewCacheEntry e;
    e.Key = r->Key;
    e.Item = r->Item;
    e.Picture = r->Effect;
    e.DecodedWidth = r->DecodedWidth;
    e.DecodedHeight = r->DecodedHeight;
    e.Eighths = r->Eighths;
    e.Facts = r->Facts;
    FCache.Put(std::move(e), [this](const void* item) { return DistanceFromShown(item); }, Held());
    emit neighbourReady(r->Item);
    // the photo now wanted was finished as a neighbour just before it was asked for
    if (FShown && FJobsInFlight > 0 && Cacheable(FSizeMode) && KeyFor(FShown, FSizeMode) == r->Key) {
        FLoader->CancelShow(FGeneration);
        TryShowCached();
    }
}

int TFrameView::LoaderDecodesStarted() const { return FLoader ? FLoader->DecodesStarted() : 0; }
int TFrameView::LoaderDecodesFinished() const { return FLoader ? FLoader->DecodesFinished() : 0; }

void TFrameView::SubmitJob(bool decode, bool correctionsOnly) {
    if (!FLoader) Start();
    TViewJob job;
    if (FShown) job = JobFor(FShown, FSizeMode);
    job.Generation = ++FGeneration;
    job.Decode = decode;
    job.CorrectionsOnly = correctionsOnly;
    job.Path = FShownPath;
    job.Kind = FShownKind;
    job.Orientation = FShownOrientation;
    job.Reduce = FDecodeScale;
    job.FitDecode = ReducedDecodingAllowed() && FPreviewMode == vpmNormal;
    job.PreviewMode = FPreviewMode;
    job.Page = FPage;
    job.Correction = FCorrection;
    job.SizeMode = FSizeMode;
    job.W = width();
    job.H = height();
    job.Sx = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    job.Sy = job.Sx;
    job.Ratio = Ratio();
    job.Decoded = FDecoded;
    job.Display = FDisplay;
    if (correctionsOnly && !FDecoded) job.Plain = FEffect;  // its size and ratio, and its pixels when plain
    if (decode) ++FDecodeCount;
    // room for the shown photo's picture before it is made (the one on screen stays)
    if (decode && FShown && Cacheable(FSizeMode)) MakeCacheRoom(1, 0);
    FJobsInFlight = 1;
    FLoader->Post(std::move(job));
}

void TFrameView::TakeResult(const std::shared_ptr<TViewJobResult>& r) {
    if (r->JobKind == vjPreload) {
        TakePreload(r);
        return;
    }
    if (r->JobKind == vjVerify) {
        if (!r->Changed) return;
        FCache.DropKey(r->Key);
        // the shown picture came from a file that has changed since: read it again
        if (FShown && FShown == r->Item && r->Generation == FGeneration) {
            FPending = FShown;
            FShown = nullptr;
            Reload();
        }
        return;
    }
    if (r->Generation != FGeneration) return;  // a newer request is on its way
    FJobsInFlight = 0;
    FLastTimings = {r->DecodeMs, r->FitMs, r->FinishMs};
    if (r->Decoded) {
        FDecoded = r->DecodedBitmap;
        FDecodedScale = r->Reduce;
        FDecodedEighths = r->Eighths;
        FShownFacts = r->Facts;
        // a prepared neighbour finished as this result brings its painted picture only
        FDecodedDims = FDecoded || !r->Effect.isNull() ? QSize(r->DecodedWidth, r->DecodedHeight) : QSize();
    }
    FDisplay = r->Display;
    FEffect = r->Effect;
    FEffectPlain = !r->Corrected;
    if (!FDecoded && FDecodedDims.isEmpty()) {
        FEffect = QImage();
        FLayout = TLayout();
    }
    Relayout(false);
    UpdateLabel();
    viewport()->update();
    emit pictureReady();
    if (!r->Quick && !FEffect.isNull()) {
        StoreShown();
        if (Cacheable(FSizeMode) && FCache.Find(KeyFor(FShown, FSizeMode))) {
            // the fitted picture is all a fit mode paints: the decoded frame goes now (a new box
            // reads the file again, as after a photo shown from the cache), and the 24-bit fitted
            // one too unless corrections are painted over it (new corrections start from the
            // painted picture when it has none)
            FDecoded.reset();
            if (FEffectPlain) FDisplay.reset();
        }
        SchedulePreload();
    }
    // the new frames on screen count against the cache's budget
    UpdateCacheBudget();
    FCache.Trim([this](const void* item) { return DistanceFromShown(item); }, Held());
}

QSize TFrameView::DecodedSize() const { return FDecodedDims; }

void TFrameView::Relayout(bool allowReload) {
    if (FInLayout) return;
    FInLayout = true;
    bool redecode = false;
    if (allowReload && FShown) {
        int wanted = WantedDecodeScale();
        // a fixed scale shows the decoded picture itself: it must be at the scale's own size
        redecode = wanted != FDecodeScale || (!FDecoded && FPreviewMode == vpmNormal) ||
                   (FSizeMode >= vsmEighth && FDecodedEighths != (8 >> std::clamp(wanted, 0, 3)));
        // a fitted picture kept without its decoded frame (from the cache, or after the fit) that
        // is still the right size for the new box stays: nothing to read again
        if (redecode && FittedPictureStillFits()) redecode = false;
        else FDecodeScale = wanted;
    }
    const double ratio = Ratio();
    QSize dims;
    if (!FDecodedDims.isEmpty() && FDecodedScale == FDecodeScale &&
        (FSizeMode < vsmEighth || FDecodedEighths == (8 >> std::clamp(FDecodeScale, 0, 3)))) {
        dims = FDecodedDims;
    } else if (!FPhotoSize.isEmpty()) {
        // not decoded at this scale yet: the size the decoder will give
        QSize o = OrientedPhotoSize();
        int den = 1 << std::clamp(FDecodeScale, 0, 3);
        dims = QSize((o.width() + den - 1) / den, (o.height() + den - 1) / den);
    } else {
        dims = DecodedSize();
    }
    int sx = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    TLayout l = dims.isEmpty() ? TLayout() : Layout(FSizeMode, width(), height(), dims.width(), dims.height(), sx, sx);
    ApplyLayout(l);
    FInLayout = false;
    if (!allowReload || !FShown) return;
    // decoded for a smaller box than the one now shown (in device pixels): decode again
    if (FDecoded && FDecodedEighths < 8 && FSizeMode < vsmEighth &&
        (l.Width * ratio > FDecodedDims.width() + 1 || l.Height * ratio > FDecodedDims.height() + 1))
        redecode = true;
    if (redecode) {
        SubmitJob(true, false);
        return;
    }
    if (!FDecoded) return;
    bool fixed = FSizeMode >= vsmEighth;
    const int dw = static_cast<int>(std::lround(l.Width * ratio)), dh = static_cast<int>(std::lround(l.Height * ratio));
    bool displayFits = FDisplay && (fixed ? FDisplay == FDecoded
                                          : (FDisplay->Width() == dw && FDisplay->Height() == dh) ||
                                                (FDisplay == FDecoded && dw == FDecoded->Width()));
    if (!displayFits) SubmitJob(false, false);
}

bool TFrameView::FittedPictureStillFits() const {
    if (FDecoded || FSizeMode >= vsmEighth || FPreviewMode != vpmNormal || FEffect.isNull() || FDecodedDims.isEmpty() ||
        FDecodedScale != FDecodeScale)
        return false;
    const double ratio = Ratio();
    const int sx = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    TLayout l = Layout(FSizeMode, width(), height(), FDecodedDims.width(), FDecodedDims.height(), sx, sx);
    const int dw = static_cast<int>(std::lround(l.Width * ratio)), dh = static_cast<int>(std::lround(l.Height * ratio));
    if (FEffect.size() != QSize(dw, dh) || std::abs(FEffect.devicePixelRatio() - ratio) >= 1e-6) return false;
    // a reduced decode shown at its own size may deserve a finer one in a larger box: the fit of
    // the whole photo must agree (within rounding)
    if (FDecodedEighths >= 8 || (dw < FDecodedDims.width() && dh < FDecodedDims.height())) return true;
    const QSize full = OrientedPhotoSize();
    if (full.isEmpty()) return false;
    TLayout f = Layout(FSizeMode, width(), height(), full.width(), full.height(), sx, sx);
    return std::abs(std::lround(f.Width * ratio) - dw) <= 1 && std::abs(std::lround(f.Height * ratio) - dh) <= 1;
}

void TFrameView::ApplyLayout(const TLayout& l) {
    FLayout = l;
    setHorizontalScrollBarPolicy(l.HBar ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(l.VBar ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    QSize vp = viewport()->size();
    horizontalScrollBar()->setRange(0, l.HBar ? std::max(0, l.Width - vp.width()) : 0);
    horizontalScrollBar()->setPageStep(vp.width());
    horizontalScrollBar()->setSingleStep(16);
    verticalScrollBar()->setRange(0, l.VBar ? std::max(0, l.Height - vp.height()) : 0);
    verticalScrollBar()->setPageStep(vp.height());
    verticalScrollBar()->setSingleStep(16);
    viewport()->update();
}

QRect TFrameView::PaintBox() const {
    int x = FLayout.HBar ? -horizontalScrollBar()->value() : FLayout.Left;
    int y = FLayout.VBar ? -verticalScrollBar()->value() : FLayout.Top;
    return QRect(x, y, FLayout.Width, FLayout.Height);
}

double TFrameView::EffectiveScale() const {
    double fixed = FixedScale(FSizeMode);
    if (fixed > 0) return fixed;
    QSize o = OrientedPhotoSize();
    if (o.width() <= 0) {
        // unknown recorded size: the decoded width at its decode factor
        if (FDecodedDims.isEmpty()) return 1;
        return double(FLayout.Width) / (FDecodedDims.width() * 8.0 / std::clamp(FDecodedEighths, 1, 8));
    }
    return double(FLayout.Width) / o.width();
}

void TFrameView::SetSizeMode(int mode) {
    if (mode < vsmFitShrink || mode > vsmEightfold) return;
    FSizeMode = static_cast<uint8_t>(mode);
    if (FCursorMode != vcmQuickZoom) FRememberedMode = FSizeMode;
    Relayout(true);
}

void TFrameView::SetCursorMode(int mode) {
    if (mode < vcmDrag || mode > vcmQuickZoom || mode == FCursorMode) return;
    bool wasReduced = ReducedDecodingAllowed();
    FCursorMode = static_cast<uint8_t>(mode);
    if (mode == vcmQuickZoom) {
        FSizeMode = FRememberedMode = vsmFitShrink;
        Relayout(true);
    } else if (wasReduced != ReducedDecodingAllowed()) {
        Relayout(true);
    }
    UpdateCursor();
    // the new cursor shows at once when the pointer is over the picture
    QPoint local = viewport()->mapFromGlobal(QCursor::pos());
    if (viewport()->rect().contains(local)) QCursor::setPos(QCursor::pos());
}

void TFrameView::SetPreviewMode(int mode) {
    if (mode < vpmNormal || mode > vpmPrintPages || mode == FPreviewMode) return;
    FPreviewMode = static_cast<uint8_t>(mode);
    if (mode == vpmPrintPages) FPage = 1;
    if (isVisible()) Reload();
}

void TFrameView::SetPrintPage(int page) {
    page = std::max(1, page);
    if (page == FPage) return;
    FPage = page;
    if (FPreviewMode != vpmNormal) Reload();
}

void TFrameView::ZoomStep(QPoint boxPoint, bool in, bool toLimit) {
    if (!FShown || FLayout.Width <= 0) return;
    double k = EffectiveScale();
    if (k <= 0) return;
    QRect box = PaintBox();
    QPoint onScreen = boxPoint + box.topLeft();
    double imgX = std::round(boxPoint.x() / k), imgY = std::round(boxPoint.y() / k);
    int mode = in ? ZoomInMode(k, toLimit) : ZoomOutMode(k, toLimit);
    SetSizeMode(mode);
    double k2 = EffectiveScale();
    if (FLayout.HBar) horizontalScrollBar()->setValue(static_cast<int>(std::lround(imgX * k2 - onScreen.x())));
    if (FLayout.VBar) verticalScrollBar()->setValue(static_cast<int>(std::lround(imgY * k2 - onScreen.y())));
    viewport()->update();
}

void TFrameView::ZoomIn() {
    QRect box = PaintBox().intersected(viewport()->rect());
    ZoomStep(box.center() - PaintBox().topLeft(), true, false);
}

void TFrameView::ZoomOut() {
    QRect box = PaintBox().intersected(viewport()->rect());
    ZoomStep(box.center() - PaintBox().topLeft(), false, false);
}

void TFrameView::CatalogItemChanged(TCatalogItem* item, int code) {
    if (!item) return;
    // a prepared picture of a turned, corrected or changed photo is of no use any more
    if (code == 12 || code == 14 || code == 17) FCache.DropItem(item);
    if (item != FShown) return;
    if (code == 12 || code == 17) {
        FPending = item;
        FShown = nullptr;  // forces the reload to read the item afresh
        Reload();
    } else if (code == 14) {
        FCorrection = item->GetCorrection();
        if (FDisplay || (FEffectPlain && !FEffect.isNull() && !FDecodedDims.isEmpty())) {
            SubmitJob(false, true);
        } else {
            FPending = item;  // shown from a prepared picture: made again with the new corrections
            FShown = nullptr;
            Reload();
        }
    }
}

void TFrameView::paintEvent(QPaintEvent* e) {
    QPainter p(viewport());
    p.fillRect(e->rect(), Qt::black);
    if (!FPaintBoxVisible || FLayout.Width <= 0 || FLayout.Height <= 0) return;
    QRect box = PaintBox();
    p.setPen(QColor(0x40, 0x40, 0x40));
    p.drawRect(box.adjusted(-1, -1, 0, 0));
    if (FEffect.isNull()) return;
    QRect clip = e->rect().intersected(box);
    if (clip.isEmpty()) return;
    // source pixels per box pixel: 1 for fitted and 1:1 pictures, 2/3 .. 1/8 for enlargements;
    // a fitted picture made in device pixels is copied 1:1 to the device
    double fx = double(FEffect.width()) / box.width(), fy = double(FEffect.height()) / box.height();
    QRect local = clip.translated(-box.topLeft());
    if (FEffect.deviceIndependentSize().toSize() == box.size()) {
        const double r = FEffect.devicePixelRatio();
        p.drawImage(QRectF(clip), FEffect, QRectF(local.x() * r, local.y() * r, local.width() * r, local.height() * r));
        return;
    }
    // only the clip rectangle is stretched (grown by a pixel so that edges meet)
    QRect grown = local.adjusted(-1, -1, 1, 1).intersected(QRect(QPoint(0, 0), box.size()));
    QRectF src(grown.x() * fx, grown.y() * fy, grown.width() * fx, grown.height() * fy);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setClipRect(clip);
    p.drawImage(QRectF(grown.translated(box.topLeft())), FEffect, src);
}

void TFrameView::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    if (!FInLayout) Relayout(true);
}

void TFrameView::scrollContentsBy(int, int) { viewport()->update(); }

bool TFrameView::InPicture(QPoint p) const { return PaintBox().contains(p); }

QPoint TFrameView::ViewportToBox(QPoint p) const { return p - PaintBox().topLeft(); }

void TFrameView::UpdateCursor() {
    switch (FCursorMode) {
        case vcmDrag: viewport()->setCursor(FGrabbing ? FCurHandGrab : FCurHandFlat); break;
        case vcmNextPrev: viewport()->setCursor(FCurNext); break;
        default: viewport()->setCursor(FCurZoom); break;
    }
}

void TFrameView::UpdateLabel() {
    bool none = FPending == nullptr && FShown == nullptr && FPreviewMode != vpmPrintPages;
    FLabelNoItem->setVisible(none);
    if (none) FPaintBoxVisible = false;
}

void TFrameView::mousePressEvent(QMouseEvent* e) {
    setFocus(Qt::MouseFocusReason);
    if (e->button() != Qt::LeftButton) return;
    QPoint pos = e->position().toPoint();
    if (FCursorMode == vcmDrag) {
        FGrabbing = true;
        FGrabGlobal = e->globalPosition().toPoint();
        UpdateCursor();
    } else if (FCursorMode == vcmQuickZoom && InPicture(pos)) {
        FPressGlobal = e->globalPosition().toPoint();
        FPressBoxPoint = ViewportToBox(pos);
        ZoomStep(FPressBoxPoint, true, true);
        FGrabbing = true;
        FGrabGlobal = FPressGlobal;
    }
}

void TFrameView::mouseMoveEvent(QMouseEvent* e) {
    if (!FGrabbing) return;
    QPoint g = e->globalPosition().toPoint();
    QPoint d = g - FGrabGlobal;
    FGrabGlobal = g;
    if (FLayout.HBar) horizontalScrollBar()->setValue(horizontalScrollBar()->value() - d.x());
    if (FLayout.VBar) verticalScrollBar()->setValue(verticalScrollBar()->value() - d.y());
}

void TFrameView::mouseReleaseEvent(QMouseEvent* e) {
    QPoint pos = e->position().toPoint();
    switch (FCursorMode) {
        case vcmDrag:
            FGrabbing = false;
            UpdateCursor();
            break;
        case vcmZoom:
            if (InPicture(pos)) {
                if (e->button() == Qt::LeftButton) ZoomStep(ViewportToBox(pos), true, false);
                else if (e->button() == Qt::RightButton) ZoomStep(ViewportToBox(pos), false, false);
            }
            break;
        case vcmNextPrev:
            if (e->button() == Qt::LeftButton && FNext) FNext(FShown, true);
            else if (e->button() == Qt::RightButton && FPrev) FPrev(FShown, true);
            break;
        case vcmQuickZoom:
            if (FGrabbing && e->button() == Qt::LeftButton) {
                FGrabbing = false;
                QCursor::setPos(FPressGlobal);
                QPoint back = viewport()->mapFromGlobal(FPressGlobal);
                ZoomStep(ViewportToBox(back), false, true);
            }
            break;
    }
}

void TFrameView::wheelEvent(QWheelEvent* e) {
    int dy = e->angleDelta().y();
    if (dy < 0 && FNext) FNext(FShown, true);
    else if (dy > 0 && FPrev) FPrev(FShown, true);
    e->accept();
}

bool TFrameView::event(QEvent* e) {
    // Home and End belong to the viewer while it has the focus (the window has other uses for them)
    if (e->type() == QEvent::ShortcutOverride) {
        auto* k = static_cast<QKeyEvent*>(e);
        if ((k->key() == Qt::Key_Home || k->key() == Qt::Key_End) && k->modifiers() == Qt::NoModifier && FFirstLast) {
            e->accept();
            return true;
        }
    }
    const bool done = QAbstractScrollArea::event(e);
    // the keyboard's place: the margin round the picture area turns the highlight colour while
    // the viewer has the focus (never drawn over the photo)
    if (e->type() == QEvent::Paint && hasFocus()) {
        QPainter p(this);
        const QColor mark = palette().color(QPalette::Active, QPalette::Highlight);
        const int m = 2 * kBorder;
        const QRect r = rect();
        p.fillRect(QRect(0, 0, r.width(), m), mark);
        p.fillRect(QRect(0, r.height() - m, r.width(), m), mark);
        p.fillRect(QRect(0, 0, m, r.height()), mark);
        p.fillRect(QRect(r.width() - m, 0, m, r.height()), mark);
    }
    return done;
}

void TFrameView::focusInEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusInEvent(e);
    update();
}

void TFrameView::focusOutEvent(QFocusEvent* e) {
    QAbstractScrollArea::focusOutEvent(e);
    update();
}

void TFrameView::keyPressEvent(QKeyEvent* e) {
    // with Shift the arrows pan a picture larger than the window
    if (e->modifiers() & Qt::ShiftModifier) {
        const int step = 64;
        switch (e->key()) {
            case Qt::Key_Left: horizontalScrollBar()->setValue(horizontalScrollBar()->value() - step); return;
            case Qt::Key_Right: horizontalScrollBar()->setValue(horizontalScrollBar()->value() + step); return;
            case Qt::Key_Up: verticalScrollBar()->setValue(verticalScrollBar()->value() - step); return;
            case Qt::Key_Down: verticalScrollBar()->setValue(verticalScrollBar()->value() + step); return;
            default: break;
        }
    }
    switch (e->key()) {
        case Qt::Key_Home:
        case Qt::Key_End:
            if (FFirstLast) FFirstLast(e->key() == Qt::Key_End);
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            ZoomIn();
            break;
        case Qt::Key_Minus:
            ZoomOut();
            break;
        case Qt::Key_0:
        case Qt::Key_Asterisk:
            SetSizeMode(vsmFitShrink);
            break;
        case Qt::Key_1:
            SetSizeMode(vsmActual);
            break;
        case Qt::Key_Right:
        case Qt::Key_Down:
        case Qt::Key_PageDown:
        case Qt::Key_Space:
            if (FNext) FNext(FShown, true);
            break;
        case Qt::Key_Left:
        case Qt::Key_Up:
        case Qt::Key_PageUp:
        case Qt::Key_Backspace:
            if (FPrev) FPrev(FShown, true);
            break;
        default: QAbstractScrollArea::keyPressEvent(e); return;
    }
    e->accept();
}

void TFrameView::enterEvent(QEnterEvent* e) {
    QAbstractScrollArea::enterEvent(e);
    setFocus(Qt::MouseFocusReason);
}

}  // namespace fv
