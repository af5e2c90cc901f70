#pragma once
// The photo viewer: one photo enlarged in a scroll box, in fit, fit-width, fit-height or fixed
// scale modes, with four mouse modes (pan, zoom, next/previous, press-and-hold 1:1). Decoding,
// turning, resampling and corrections run on a loader thread; the frame only paints.
#include <QAbstractScrollArea>
#include <array>
#include <QImage>
#include <QLabel>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "image/bitmap.h"
#include "metadata/correction_record.h"
#include "platform/file_sys.h"
#include "ui/viewer/frame_view_cache.h"
#include "ui/viewer/view_math.h"

namespace fv {

class TCatalogItem;
class TViewLoadThread;
struct TViewJobResult;
struct TViewJob;
class TBitmap;

class TFrameView : public QAbstractScrollArea {
    Q_OBJECT
public:
    // (current photo, wrap)
    using TStepHandler = std::function<void(TCatalogItem* current, bool wrap)>;
    using TPageCountHandler = std::function<void(int current, int total)>;
    // the photo `step` places after (+1) or before (-1) `from` in the owner's order, wrapping;
    // the viewer prepares these while the user looks
    using TNeighbourHandler = std::function<TCatalogItem*(TCatalogItem* from, int step)>;
    // renders a print preview into the bitmap (mode, page) on the loader thread; false clears the view
    using TPreviewRenderer = std::function<bool(int mode, int page, TBitmap& out)>;

    explicit TFrameView(QWidget* parent = nullptr);
    ~TFrameView() override;

    // creates the loader thread; Stop clears the view and ends it (also done by the destructor)
    void Start();
    void Stop();

    void ShowItem(TCatalogItem* item);
    TCatalogItem* CurrentItem() const { return FShown; }
    TCatalogItem* PendingItem() const { return FPending; }

    int SizeMode() const { return FSizeMode; }
    int RememberedSizeMode() const { return FRememberedMode; }
    void SetSizeMode(int mode);
    int CursorMode() const { return FCursorMode; }
    void SetCursorMode(int mode);
    int PreviewMode() const { return FPreviewMode; }
    void SetPreviewMode(int mode);
    int PrintPage() const { return FPage; }
    void SetPrintPage(int page);

    // about the centre of the visible part of the picture
    void ZoomIn();
    void ZoomOut();
    // about a point of the paint box
    void ZoomStep(QPoint boxPoint, bool in, bool toLimit);
    void Reload();

    void SetNextHandler(TStepHandler h) { FNext = std::move(h); }
    void SetPrevHandler(TStepHandler h) { FPrev = std::move(h); }
    void SetPageCountHandler(TPageCountHandler h) { FPageCount = std::move(h); }
    void SetPreviewRenderer(TPreviewRenderer r) { FPreviewRenderer = std::move(r); }
    void SetNeighbourHandler(TNeighbourHandler h) { FNeighbour = std::move(h); }
    // Home and End: the owner shows its first (false) or last (true) photo
    void SetFirstLastHandler(std::function<void(bool last)> h) { FFirstLast = std::move(h); }
    // quiet time after a photo is shown before its neighbours are prepared
    void SetPreloadDelay(int ms) { FPreloadTimer.setInterval(ms); }

    // catalog change codes for the shown photo: 12 and 17 reload, 14 re-applies the corrections
    void CatalogItemChanged(TCatalogItem* item, int code);

    // state for the owner and for tests
    int DecodeScaleInUse() const { return FDecodeScale; }
    QRect PaintBox() const;  // viewport coordinates
    QSize DecodedSize() const;
    double EffectiveScale() const;
    bool IsLoading() const { return FJobsInFlight > 0 || (FViewTimer.isActive() && FReloadFlag); }
    int DecodeCount() const { return FDecodeCount; }
    // decodes the loader thread started and finished (shown photos and prepared neighbours)
    int LoaderDecodesStarted() const;
    int LoaderDecodesFinished() const;
    int PreloadsPosted() const { return FPreloadsPosted; }
    int CacheHits() const { return FCacheHits; }
    TViewPictureCache& PictureCache() { return FCache; }
    // the frames the viewer holds on screen (the cache's budget counts them)
    TViewHeld Held() const;
    // the moving direction: +1 forwards, -1 backwards
    int Direction() const { return FDirection; }
    // steps from the shown photo in the owner's order (0 itself, INT_MAX beyond a few)
    int DistanceFromShown(const void* item) const;
    // the loader's timings of the picture shown last (ms): decode, fit, corrections and conversion
    std::array<double, 3> LastTimings() const { return FLastTimings; }
    const QImage& EffectImage() const { return FEffect; }
    QLabel* LabelNoItem() const { return FLabelNoItem; }
    bool ReducedDecodingAllowed() const { return FCursorMode != vcmQuickZoom; }

signals:
    // the painted picture changed (a load or re-layout finished)
    void pictureReady();
    // a neighbour's picture was prepared (the item, for identity only)
    void neighbourReady(const void* item);

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    bool event(QEvent* e) override;
    void enterEvent(QEnterEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void OnViewTimer();
    void LoadPending();
    void ClearView();
    void Relayout(bool allowReload);
    void ApplyLayout(const view_math::TLayout& l);
    // fit modes: the painted picture, kept without its decoded frame, is the one the box needs
    bool FittedPictureStillFits() const;
    void SubmitJob(bool decode, bool correctionsOnly);
    void TakeResult(const std::shared_ptr<TViewJobResult>& r);
    void TakePreload(const std::shared_ptr<TViewJobResult>& r);
    bool TryShowCached();
    void SchedulePreload();
    void StartPreloads();
    void StoreShown();
    void UpdateCacheBudget();
    // before `pictures` new pictures are made for photos `steps` from the shown one
    void MakeCacheRoom(int pictures, int steps);
    bool Cacheable(int sizeMode) const;
    double Ratio() const;
    TViewKey KeyFor(TCatalogItem* item, int sizeMode) const;
    // a decode job for an item at a size mode, fitted to the current box
    TViewJob JobFor(TCatalogItem* item, int sizeMode) const;
    int WantedDecodeScale() const;
    QSize OrientedPhotoSize() const;
    QPoint ViewportToBox(QPoint p) const;
    void UpdateCursor();
    void UpdateLabel();
    bool InPicture(QPoint viewportPos) const;

    std::unique_ptr<TViewLoadThread> FLoader;
    TCatalogItem* FShown = nullptr;
    TCatalogItem* FPending = nullptr;
    uint8_t FSizeMode = vsmFitShrink, FRememberedMode = vsmFitShrink, FCursorMode = vcmZoom;
    uint8_t FPreviewMode = vpmNormal;
    int FPage = 1;
    int FDecodeScale = 0;
    int FDecodedScale = 0;  // the scale FDecoded was made at
    bool FReloadFlag = false;
    bool FPaintBoxVisible = false;
    QTimer FViewTimer;

    // the three pictures: decoded (oriented, at the decode scale), display (fitted), effect (painted)
    std::shared_ptr<const TBitmap> FDecoded;
    std::shared_ptr<const TBitmap> FDisplay;
    QImage FEffect;
    bool FEffectPlain = true;  // FEffect has no corrections painted over it
    QSize FDecodedDims;  // of the decoded picture (known also when it came ready from the cache)
    int FDecodedEighths = 8;
    TFileFacts FShownFacts;
    TViewPictureCache FCache;
    TNeighbourHandler FNeighbour;
    int FDirection = 1;
    QTimer FPreloadTimer;
    int FPreloadsPosted = 0;
    int FCacheHits = 0;
    TCorrectionRecord FCorrection;
    std::string FShownPath;
    int FShownOrientation = 1;
    int FShownKind = 0;
    QSize FPhotoSize;  // recorded size of the shown photo (not oriented)

    view_math::TLayout FLayout;
    uint64_t FGeneration = 0;
    int FJobsInFlight = 0;
    int FDecodeCount = 0;
    std::array<double, 3> FLastTimings{};
    bool FInLayout = false;

    TStepHandler FNext, FPrev;
    std::function<void(bool last)> FFirstLast;
    TPageCountHandler FPageCount;
    TPreviewRenderer FPreviewRenderer;
    QLabel* FLabelNoItem = nullptr;

    // mouse
    bool FGrabbing = false;
    QPoint FGrabGlobal;
    QPoint FPressGlobal;
    QPoint FPressBoxPoint;
    QCursor FCurHandFlat, FCurHandGrab, FCurZoom, FCurNext;
};

}  // namespace fv
