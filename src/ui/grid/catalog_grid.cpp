#include "ui/grid/catalog_grid.h"

#include <QApplication>
#include <QDrag>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QMessageBox>
#include <QPointer>
#include <QHelpEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPainter>
#include <QRegion>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QToolTip>
#include <QUrl>
#include <QWheelEvent>
#include <qdrawutil.h>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <unordered_set>

#include "core/startup.h"
#include "library/album.h"
#include "library/ext_items.h"
#include "thumbs/cache_image_maker.h"
#include "thumbs/catalog_image_cache.h"
#include "library/catalog_updater.h"
#include "image/transform.h"
#include "library/catalog_item.h"
#include "platform/os_thread.h"
#include "library/catalog_list_dates.h"
#include "library/folder.h"
#include "library/item_ops.h"
#include "platform/stall_activity.h"
#include "ui/common_images.h"
#include "ui/grid/grid_thumb_reader.h"
#include "ui/skin/ui_fonts.h"

namespace fv {

bool QMessageBoxQuestion(QWidget* parent, const QString& title, const QString& text) {
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

void QMessageBoxError(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, QString::fromUtf8(kApplicationTitle), text);
}

QString ChooseFolderDialog(QWidget* parent, const QString& prompt, const QString& start) {
    return QFileDialog::getExistingDirectory(parent, prompt, start);
}

TFrameCatalogDG::TFrameCatalogDG(QWidget* parent) : QAbstractScrollArea(parent) {
    // The type icons look the file types up in the MIME database, which is read once for the
    // whole program: on a thread of its own while the window comes up, not in the first paint.
    static std::atomic<bool> mimeRead{false};
    if (!mimeRead.exchange(true))
        FMimeReader = std::thread([] {
            SetCurrentThreadName("MimeDatabase");
            (void)QMimeDatabase().mimeTypeForFile(QStringLiteral("photo.jpg"), QMimeDatabase::MatchExtension);
        });
    setFrameStyle(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setFont(UiFont(9));

    FChangeTimer.setSingleShot(true);
    FChangeTimer.setInterval(100);
    connect(&FChangeTimer, &QTimer::timeout, this, [this] { OnChangeTimer(); });
    FSizeTimer.setSingleShot(true);
    FSizeTimer.setInterval(320);
    connect(&FSizeTimer, &QTimer::timeout, this, [this] {
        FRequests.SetPaused(false);
        RequestThumbnails(false);
    });
    // the sorter ends before the grid does (Stop), so the grid is there to take the result
    FModel.SetSortDone([this](uint64_t generation, TOrderedList&& list) {
        auto result = std::make_shared<TOrderedList>(std::move(list));
        QMetaObject::invokeMethod(
            this, [this, generation, result] { SortArrived(generation, std::move(*result)); }, Qt::QueuedConnection);
    });

    // status bar: count, path, small-size icon, size slider, large-size icon
    FStatus = new QStatusBar(this);
    FStatus->setSizeGripEnabled(false);
    FCountPanel = new QLabel(FStatus);
    FCountPanel->setFixedWidth(80);
    FPathPanel = new QLabel(FStatus);
    FPathPanel->setMinimumWidth(40);
    FSmallIcon = new QLabel(FStatus);
    FSmallIcon->setFixedWidth(85);
    FSmallIcon->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    FSmallIcon->setPixmap(CommonImage(ciDiskFolder, 12, devicePixelRatioF()));
    FSmallIcon->setCursor(Qt::PointingHandCursor);
    FSmallIcon->installEventFilter(this);
    FSlider = new QSlider(Qt::Horizontal, FStatus);
    FSlider->setFixedWidth(140);
    FSlider->setRange(80, 240);
    FSlider->setSingleStep(2);
    FSlider->setPageStep(4);
    FSlider->setValue(FThumbSize);
    FLargeIcon = new QLabel(FStatus);
    FLargeIcon->setFixedWidth(105);
    FLargeIcon->setPixmap(CommonImage(ciDiskFolder, 16, devicePixelRatioF()));
    FLargeIcon->setCursor(Qt::PointingHandCursor);
    FStatus->addWidget(FCountPanel);
    FStatus->addWidget(FPathPanel, 1);
    FStatus->addPermanentWidget(FSmallIcon);
    FStatus->addPermanentWidget(FSlider);
    FStatus->addPermanentWidget(FLargeIcon);
    connect(FSlider, &QSlider::valueChanged, this, [this](int v) { SetThumbSize(v); });
    FSmallIcon->setObjectName("SmallSizeIcon");
    FLargeIcon->setObjectName("LargeSizeIcon");
    FSmallIcon->installEventFilter(this);
    FLargeIcon->installEventFilter(this);

    FDialogs.Ask = [this](const QString& title, const QString& text) {
        QApplication::beep();
        QString t = text;
        t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        return QMessageBoxQuestion(this, title, t);
    };
    FDialogs.Error = [this](const QString& text) {
        QApplication::beep();
        QMessageBoxError(this, text);
    };
    FDialogs.ChooseFolder = [this](const QString& prompt, const QString& start) { return ChooseFolderDialog(this, prompt, start); };

    FGeom = ComputeGridGeometry(FThumbSize, FHalfSize, 0);
    Relayout(false);
    UpdateStatus();
}

TFrameCatalogDG::~TFrameCatalogDG() {
    try {
        Stop();
    } catch (...) {
        // the updater went first; nothing is registered any more
    }
    if (FMimeReader.joinable()) FMimeReader.join();
}

// ---------------------------------------------------------------------------------------------
// folder, listing, lists

void TFrameCatalogDG::SetFolder(TCustomFolder* folder) {
    if (folder == Folder() && folder) return;
    FModel.SetFolder(folder);
    StartListing();
    if (OnFolderShown) OnFolderShown(folder);
}

void TFrameCatalogDG::Refresh() { StartListing(); }

TGridPost TFrameCatalogDG::Post() {
    return [this](std::function<void()> call) { QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection); };
}

void TFrameCatalogDG::StartListing() {
    ++FTicket;  // deliveries of an earlier listing are ignored from now on
    FListing = false;
    FListShownPending = false;
    CancelSort();  // the list it sorts is the last folder's
    if (FReader) FReader->Cancel();
    if (FMaker) FMaker->CancelAll();  // the maker waits for the new list
    FModel.SetLoadedNeedsDates(-1);
    if (!Folder()) {
        FModel.SetLoaded({});
        Resort();
        return;
    }
    if (FListingStarter) {
        FListing = true;
        FListingStarter(Folder(), FTicket);
        return;
    }
    // without a lister: the items the folder holds in memory
    DeliverHeldItems(Folder(), FTicket);
}

void TFrameCatalogDG::DeliverHeldItems(TCustomFolder* folder, uint64_t ticket) {
    TItemList items;
    folder->GetItemsOfKinds(static_cast<TKindSet>(FListingOptions), items);
    DeliverListing(ticket, items, 2, true);
}

void TFrameCatalogDG::DeliverListing(uint64_t ticket, const std::vector<TCatalogItem*>& items, int stage, bool replace) {
    if (ticket != FTicket) return;  // a listing of a folder no longer shown
    if (stage == 0) {
        FListing = true;
        viewport()->setCursor(Qt::BusyCursor);
    } else {
        if (FModel.Loaded().empty() || replace) {
            setUpdatesEnabled(false);
            FModel.SetLoaded(items);
            Resort();
            setUpdatesEnabled(true);
        }
        if (stage >= 2) {
            // finished once its list is in order on screen
            FListShownPending = true;
            if (!FModel.IsSorting()) ListShown();
        }
    }
    if (OnListingState) OnListingState(stage);
}

void TFrameCatalogDG::DeliverOrderedListing(uint64_t ticket, std::vector<TCatalogItem*> items, TOrderedList&& ordered,
                                            const TViewOrder& order, int stage, int needsDates) {
    if (ticket != FTicket) return;
    if (!(order == CurrentOrder())) {
        // the order changed while the lister sorted: sorted again
        DeliverListing(ticket, items, stage, true);
        FModel.SetLoadedNeedsDates(needsDates);
        return;
    }
    CancelSort();
    setUpdatesEnabled(false);
    FModel.SetLoaded(std::move(items), needsDates);
    ApplyOrdered(std::move(ordered), order);
    setUpdatesEnabled(true);
    if (stage >= 2) {
        FListShownPending = true;
        ListShown();
    }
    if (OnListingState) OnListingState(stage);
}

void TFrameCatalogDG::ListShown() {
    if (!FListShownPending) return;
    FListShownPending = false;
    FListing = false;
    viewport()->unsetCursor();
    if (OnListLoaded) OnListLoaded(Folder(), static_cast<int>(Sorted().size()));
}

void TFrameCatalogDG::SetItems(const std::vector<TCatalogItem*>& items) {
    ++FTicket;
    FListing = false;
    FListShownPending = false;
    FModel.SetLoaded(items);
    Resort();
}

void TFrameCatalogDG::CancelSort() {
    FModel.CancelSort();
    if (!FListing) viewport()->unsetCursor();
}

void TFrameCatalogDG::Resort() {
    TStallActivity mark("GridResort");
    if (!FListing) viewport()->unsetCursor();  // a sort on its way is dropped
    if (FModel.Resort()) {
        TStallActivity layout("GridLayout");
        Relayout(true);
        return;
    }
    // the list on screen stays until the new order arrives
    viewport()->setCursor(Qt::BusyCursor);
}

void TFrameCatalogDG::SortArrived(uint64_t generation, TOrderedList&& list) {
    if (!FModel.TakeSorted(generation, std::move(list))) return;  // asked again since
    if (!FListing) viewport()->unsetCursor();
    {
        TStallActivity mark("GridLayout");
        Relayout(true);
    }
    ListShown();
}

void TFrameCatalogDG::ApplyOrdered(TOrderedList&& list, const TViewOrder& order) {
    TStallActivity mark("GridLayout");
    FModel.ApplyOrdered(std::move(list), order);
    Relayout(true);
}

int TFrameCatalogDG::InfoLineHeights() const {
    if (!FInfoLines) return 0;
    QFontMetrics fm(font());
    int lines = 0;
    for (int bit : {gilFileName, gilSecondLine, gilFileSize, gilTrayState})
        if (FInfoLines & bit) ++lines;
    if (FInfoLines & gilDate) {
        // the one-line form when it fits in the box, else date and time on two lines
        QString sample = QStringLiteral("2000/12/31 23:59:59");
        lines += fm.horizontalAdvance(sample) <= FGeom.Thumb - 4 ? 1 : 2;
    }
    return lines * fm.height();
}

void TFrameCatalogDG::Relayout(bool keepView) {
    if (FInRelayout) return;
    FInRelayout = true;
    // what to keep: the focused item and its row offset, the items of the top row
    TCatalogItem* focus = FocusedItem();
    int oldTop = TopRow();
    const int focusCell = FModel.FocusCell();
    int focusOffset = focusCell >= 0 ? focusCell / std::max(1, FCols.Count) - oldTop : 0;
    std::vector<TCatalogItem*> topItems;
    for (int c = 0; c < FCols.Count; ++c)
        if (TCatalogItem* it = FModel.CellItem(oldTop * FCols.Count + c)) topItems.push_back(it);

    FGeom = ComputeGridGeometry(FThumbSize, FHalfSize, 0);
    FGeom = ComputeGridGeometry(FThumbSize, FHalfSize, InfoLineHeights());
    int statusH = !FStatus->isHidden() ? FStatus->sizeHint().height() : 0;
    int clientH = std::max(0, height() - statusH);
    int fullW = width();
    int barW = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    // the grouping the shown list was sorted with (a new one may be on its way)
    bool band0 = FCreateMode && !FModel.ShownOrder().GroupByDay && Folder();
    auto build = [&](int w) {
        FCols = ComputeGridColumns(w, FGeom.ColumnWidth);
        FModel.LayCells(FCols.Count, band0, FGeom.RowHeight, kTitleBandHeight);
    };
    build(fullW);
    bool bar = FModel.RowTops().back() > clientH;
    if (bar) {
        // the scroll bar takes its width; the cells are laid out again only when that costs a
        // column (a list of 100,000 photos is laid out once)
        const TGridColumns narrow = ComputeGridColumns(fullW - barW, FGeom.ColumnWidth);
        if (narrow.Count == FCols.Count) FCols = narrow;
        else build(fullW - barW);
    }
    setVerticalScrollBarPolicy(bar ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    FTitleWidth.assign(static_cast<size_t>(RowCount()), 0);
    FInfoPictures.clear();
    ++FLayoutGeneration;
    UpdateScrollBar();
    int top = 0;
    int newFocus = focus ? CellOf(focus) : -1;
    if (keepView && newFocus >= 0) {
        top = newFocus / FCols.Count - focusOffset;
    } else if (keepView) {
        for (TCatalogItem* it : topItems) {
            int c = CellOf(it);
            if (c >= 0) {
                top = c / FCols.Count;
                break;
            }
        }
    }
    // the selection keeps the items still shown; the focus stays with its photo
    FModel.PlaceFocus(focus);
    SetTopRow(top);
    FInRelayout = false;
    viewport()->update();
    UpdateStatus();
    if (FocusedItem() != focus) NotifyFocus();
    RequestThumbnails(false);
}

void TFrameCatalogDG::UpdateScrollBar() {
    QScrollBar* sb = verticalScrollBar();
    sb->setRange(0, MaxTopRow());
    sb->setPageStep(std::max(1, VisibleRowCount()));
    sb->setSingleStep(1);
}

int TFrameCatalogDG::TopRow() const { return verticalScrollBar()->value(); }

void TFrameCatalogDG::SetTopRow(int row) {
    row = std::clamp(row, 0, MaxTopRow());
    if (verticalScrollBar()->maximum() < row) UpdateScrollBar();
    verticalScrollBar()->setValue(row);
    viewport()->update();
}

int TFrameCatalogDG::MaxTopRow() const {
    int clientH = viewport()->height();
    int rows = RowCount();
    const std::vector<int>& rowTop = FModel.RowTops();
    if (rows == 0 || rowTop.size() < 2) return 0;
    // the first row from which the rest fits, so that the last row stays at the bottom
    int end = rowTop.back();
    int r = rows - 1;
    while (r > 0 && end - rowTop[r - 1] <= clientH) --r;
    if (end - rowTop[r] > clientH) ++r;
    return std::clamp(r, 0, rows - 1);
}

int TFrameCatalogDG::VisibleRowCount() const {
    int top = TopRow(), n = 0, h = viewport()->height();
    const std::vector<int>& rowTop = FModel.RowTops();
    for (int r = top; r < RowCount() && rowTop[r + 1] - rowTop[top] <= h; ++r) ++n;
    return std::max(1, n);
}

QRect TFrameCatalogDG::CellRect(int cell) const {
    const std::vector<int>& rowTop = FModel.RowTops();
    if (cell < 0 || rowTop.size() < 2) return {};
    int row = cell / FCols.Count, col = cell % FCols.Count;
    if (row >= RowCount()) return {};
    int y = rowTop[row] - rowTop[std::min(TopRow(), RowCount() - 1)];
    return QRect(FCols.Left(col), y, FCols.WidthOf(col), rowTop[row + 1] - rowTop[row]);
}

int TFrameCatalogDG::CellAt(QPoint pos) const {
    if (RowCount() == 0 || pos.x() < 0 || pos.y() < 0) return -1;
    int top = TopRow();
    const std::vector<int>& rowTop = FModel.RowTops();
    int y = pos.y() + rowTop[top];
    auto it = std::upper_bound(rowTop.begin(), rowTop.end(), y);
    int row = static_cast<int>(it - rowTop.begin()) - 1;
    if (row < 0 || row >= RowCount()) return -1;
    int col = 0;
    while (col < FCols.Count - 1 && FCols.Left(col + 1) <= pos.x()) ++col;
    if (pos.x() >= FCols.Left(col) + FCols.WidthOf(col)) return -1;
    return row * FCols.Count + col;
}

QRect TFrameCatalogDG::ThumbRect(int cell) const {
    QRect r = CellRect(cell);
    if (r.isEmpty()) return {};
    int row = cell / FCols.Count;
    int top = r.top() + (RowHasBand(row) ? kTitleBandHeight : 0) + FGeom.ThumbBoxTop;
    return QRect(r.left() + (r.width() - FGeom.ThumbBox) / 2, top, FGeom.ThumbBox, FGeom.ThumbBox);
}

size_t TFrameCatalogDG::MemoryBytes() const {
    return FModel.MemoryBytes() + FTitleWidth.capacity() * sizeof(uint16_t);
}

// ---------------------------------------------------------------------------------------------
// settings

void TFrameCatalogDG::SetSortType(int t) {
    if (FModel.SetSortType(t)) Resort();
}

void TFrameCatalogDG::SetAscending(bool on) {
    if (FModel.SetAscending(on)) Resort();
}

void TFrameCatalogDG::SetAlwaysGroup(bool on) {
    if (FModel.SetAlwaysGroup(on)) Resort();
}

void TFrameCatalogDG::SetThumbSize(int s) {
    s = std::clamp(s, 80, 240);
    if (s == FThumbSize) return;
    FThumbSize = s;
    if (FReader) FReader->Cancel();
    if (FMaker) {
        FMaker->CancelAll();
        FRequests.SetPaused(true);
    }
    Relayout(true);
    if (FSlider->value() != s) {
        QSignalBlocker block(FSlider);
        FSlider->setValue(s);
    }
    FStatus->update();
    FSizeTimer.start();  // the maker restarts 320 ms after the last change
}

void TFrameCatalogDG::SetInfoLines(int bits) {
    if (bits == FInfoLines) return;
    FInfoLines = bits;
    Relayout(true);
}

void TFrameCatalogDG::SetCreateMode(bool on) {
    if (on == FCreateMode) return;
    FCreateMode = on;
    Relayout(true);
}

void TFrameCatalogDG::SetHalfSize(bool on) {
    if (on == FHalfSize) return;
    FHalfSize = on;
    Relayout(true);
}

void TFrameCatalogDG::SetFiltering(bool on) {
    if (FModel.SetFiltering(on)) Resort();
}

void TFrameCatalogDG::SetFilter(const TCatalogFilter& f) {
    FModel.SetFilter(f);
    if (FModel.Filtering()) Resort();
}

void TFrameCatalogDG::SetShowEmptyText(bool on, const QString& text) {
    FShowEmptyText = on;
    if (!text.isEmpty()) FEmptyText = text;
    viewport()->update();
}

void TFrameCatalogDG::SetStatusBarVisible(bool on) {
    FStatus->setVisible(on);
    QResizeEvent e(size(), size());
    resizeEvent(&e);
}

void TFrameCatalogDG::SetSliderVisible(bool on) {
    // without the slider its three panels shrink to a pixel
    FSlider->setVisible(on);
    FSmallIcon->setFixedWidth(on ? 85 : 1);
    FLargeIcon->setFixedWidth(on ? 105 : 1);
}

void TFrameCatalogDG::SetHoverButtons(std::vector<THoverButton> buttons) {
    FHoverButtons = std::move(buttons);
    viewport()->update();
}

void TFrameCatalogDG::SetDropEnabled(bool on) { FDropEnabled = on; }

void TFrameCatalogDG::SetImageCache(TCatalogImageCacheMaster* cache) {
    FReader.reset();
    FMaker.reset();
    FCache = cache;
    ClearThumbnails();
    FRequests.ForgetMakeRange();
    if (!cache) return;
    FReader = std::make_unique<TGridThumbReader>(
        cache, [this](std::vector<std::pair<TCatalogItem*, QImage>> pics, int size, std::vector<TCatalogItem*> missing) {
            // the reader ends before the grid does, so the grid is there to take the call
            QMetaObject::invokeMethod(
                this,
                [this, pics = std::move(pics), size, missing = std::move(missing)]() mutable {
                    ThumbnailsArrived(std::move(pics), size);
                    for (TCatalogItem* it : missing) FRequests.Answered(it);
                },
                Qt::QueuedConnection);
        });
    FReader->Start();
    if (FUseEngine) StartMaker();
    RequestThumbnails(false);
}

// ---------------------------------------------------------------------------------------------
// thumbnails

QImage TFrameCatalogDG::ThumbnailImage(TCatalogItem* item) const {
    const QImage* picture = FThumbs.Find(item);
    return picture ? *picture : QImage();
}

bool TFrameCatalogDG::PictureComing(TCatalogItem* item, bool error) const {
    // being read from the cache
    if (FRequests.IsAsked(item)) return true;
    if (error || !FCache || !FMaker) return false;
    // being made, unless the file has no picture or could not be read
    const uint8_t kind = item->GetKind();
    if (kind == ikSusie || kind >= ikNotImage) return false;
    return !FCache->HasFailed(item, DeviceThumbSize());
}

int TFrameCatalogDG::DeviceThumbSize() const {
    // a fraction of a device pixel more is a whole one: the picture must cover the cell
    return static_cast<int>(std::ceil(FThumbSize * devicePixelRatioF() - 0.01));
}

void TFrameCatalogDG::RequestThumbnails(bool scrolledUp) {
    const std::vector<TCatalogItem*>& cells = FModel.Cells();
    if ((!FReader && !FThumbRequest) || cells.empty()) return;
    int top = TopRow(), rows = VisibleRowCount() + 1;
    const int want = DeviceThumbSize();
    std::vector<TCatalogItem*> read, make;
    FRequests.Plan(
        cells, FCols.Count, RowCount(), top, rows, scrolledUp, want,
        [this](TCatalogItem* it) { return FCache ? FCache->CachedSizeOf(it) : -1; },
        [this](TCatalogItem* it) { return FThumbs.Has(it); }, read, make);
    if (FReader && !read.empty()) {
        FRequests.Asked(read);
        FReader->Request(read, want);
    }
    // the maker hears of a range once; the pictures it stores come back as change events
    if (FThumbRequest && !FRequests.Paused() && !make.empty() &&
        FRequests.NewMakeRange(FLayoutGeneration, top, want, scrolledUp))
        FThumbRequest(make, want);
}

void TFrameCatalogDG::ThumbnailsArrived(std::vector<std::pair<TCatalogItem*, QImage>> pics, int size) {
    if (size != DeviceThumbSize()) {
        for (const auto& [item, img] : pics) FRequests.Answered(item);
        return;
    }
    // the pictures are in device pixels: Qt draws them 1:1 on the screen
    const qreal ratio = devicePixelRatioF();
    // one repaint of the batch's cells: a rectangle around them is cheaper to paint than a
    // region of many small ones
    QRect dirty;
    const QRect view = viewport()->rect();
    // only the cells on screen are looked for (a folder may hold 100,000)
    const std::vector<TCatalogItem*>& cells = FModel.Cells();
    const auto [first, last] = FModel.RowCells(TopRow(), VisibleRowCount() + 1);
    for (auto& [item, img] : pics) {
        FRequests.Answered(item);
        // moved, not shared: the ratio set on a shared picture would copy its pixels
        QImage picture = std::move(img);
        picture.setDevicePixelRatio(ratio);
        const size_t bytes = static_cast<size_t>(picture.sizeInBytes());
        FThumbs.Put(item, std::move(picture), bytes);
        auto at = std::find(cells.begin() + first, cells.begin() + last, item);
        if (at == cells.begin() + last) continue;
        QRect r = CellRect(static_cast<int>(at - cells.begin())).intersected(view);
        if (!r.isEmpty()) dirty |= r;
    }
    TrimThumbnails();
    if (!dirty.isEmpty()) viewport()->update(dirty);
}

size_t TFrameCatalogDG::ThumbnailBudget() const {
    if (FThumbBudget) return FThumbBudget;
    // 64 MB at every pixel ratio: the pictures of the screen and of the two screens read ahead
    // at the largest cells of a full-HD window (28 cells of 480 x 320 device pixels a screen at
    // ratio 2, 52 MB), with room to spare at ratio 1; the cells on screen are kept whatever
    // the budget says
    return static_cast<size_t>(64 * 1048576);
}

void TFrameCatalogDG::SetThumbnailBudget(size_t bytes) {
    FThumbBudget = bytes;
    TrimThumbnails();
}

void TFrameCatalogDG::ClearThumbnails() {
    FThumbs.Clear();
    FRequests.ClearAsked();
}

void TFrameCatalogDG::KeepOnlyScreenPictures() {
    FInfoPictures.clear();  // drawn again for the cells on screen at the next paint
    TrimThumbnails();
}

void TFrameCatalogDG::TrimThumbnails() {
    // behind the viewer nothing is drawn: the screen the grid comes back to is all it keeps
    const size_t budget = viewport()->isHidden() ? 0 : ThumbnailBudget();
    if (FThumbs.Bytes() <= budget) return;
    // the least recently drawn go first; the pictures of the cells on screen stay, whatever
    // the budget says
    std::unordered_set<TCatalogItem*> onScreen;
    const std::vector<TCatalogItem*>& cells = FModel.Cells();
    const auto [first, last] = FModel.RowCells(TopRow(), VisibleRowCount() + 1);
    for (size_t i = first; i < last; ++i)
        if (cells[i]) onScreen.insert(cells[i]);
    FThumbs.Trim(budget, [&](TCatalogItem* it) { return onScreen.count(it) != 0; });
}

void TFrameCatalogDG::RepaintCell(int cell) {
    QRect r = CellRect(cell);
    if (!r.isEmpty() && r.intersects(viewport()->rect())) viewport()->update(r);
}

void TFrameCatalogDG::RepaintItem(TCatalogItem* item) {
    // only a cell on screen needs painting: it is looked for there (a folder may hold 100,000)
    const std::vector<TCatalogItem*>& cells = FModel.Cells();
    const auto [first, last] = FModel.RowCells(TopRow(), VisibleRowCount() + 1);
    auto at = std::find(cells.begin() + first, cells.begin() + last, item);
    if (at != cells.begin() + last) RepaintCell(static_cast<int>(at - cells.begin()));
}

void TFrameCatalogDG::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    int sh = !FStatus->isHidden() ? FStatus->sizeHint().height() : 0;
    setViewportMargins(0, 0, 0, sh);
    FStatus->setGeometry(0, height() - sh, width(), sh);
    Relayout(true);
}

void TFrameCatalogDG::scrollContentsBy(int, int dy) {
    viewport()->update();
    int top = TopRow();
    RequestThumbnails(dy > 0 || top < FLastTopRow);
    FLastTopRow = top;
}

// ---------------------------------------------------------------------------------------------
// status bar

QString TFrameCatalogDG::CountText() const {
    return QLocale(QLocale::Japanese).toString(static_cast<qlonglong>(Sorted().size())) + QStringLiteral(" 枚");
}

void TFrameCatalogDG::UpdateStatus() {
    FCountPanel->setText(CountText());
    TCatalogItem* f = FocusedItem();
    QString path = f ? QString::fromStdString(f->GetFullPath()) : QString();
    FPathPanel->setText(FPathPanel->fontMetrics().elidedText(path, Qt::ElideMiddle, std::max(20, FPathPanel->width())));
}

bool TFrameCatalogDG::eventFilter(QObject* o, QEvent* e) {
    if (e->type() == QEvent::MouseButtonPress) {
        if (o == FSmallIcon) {
            SetThumbSize(80);
            return true;
        }
        if (o == FLargeIcon) {
            SetThumbSize(240);
            return true;
        }
    }
    return QAbstractScrollArea::eventFilter(o, e);
}

void TFrameCatalogDG::NotifyFocus() {
    UpdateStatus();
    if (OnFocusChanged) OnFocusChanged(FocusedItem());
}

}  // namespace fv
