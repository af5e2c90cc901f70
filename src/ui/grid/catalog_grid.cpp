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

#include "core/startup.h"
#include "library/album.h"
#include "library/ext_items.h"
#include "library/listup_thread.h"
#include "thumbs/cache_image_maker.h"
#include "thumbs/catalog_image_cache.h"
#include "library/catalog_updater.h"
#include "image/transform.h"
#include "library/catalog_item.h"
#include "platform/os_thread.h"
#include "library/catalog_list_dates.h"
#include "library/catalog_list_sorter.h"
#include "library/folder.h"
#include "library/item_ops.h"
#include "platform/stall_activity.h"
#include "ui/common_images.h"
#include "ui/grid/grid_thumb_reader.h"
#include "ui/skin/ui_fonts.h"

namespace fv {

namespace {

// colours are given as the platform's blue-green-red integers
QColor Bgr(uint32_t v) { return QColor(v & 0xff, (v >> 8) & 0xff, (v >> 16) & 0xff); }

const QColor kFavouriteHighlight = Bgr(16776960);
const QColor kSelectionInactive = Bgr(12632256);
const QColor kTrayAlbumCell = Bgr(9821695);
const QColor kEmptyTextColour = Bgr(8421504);

QColor TrayStateColour(int state, bool& has) {
    has = true;
    switch (state) {
        case 1: return Bgr(14215660);                          // waiting
        case 2: case 3: case 4: return Bgr(2012671);           // preparing, prepared, adding
        case 5: return Bgr(9821695);                           // added
        case 6: return Bgr(7771135);                           // error
        default: has = false; return {};
    }
}


// the shooting day as the band shows it
QString DayText(TDateTime date) {
    TDateTimeParts p = DecodeDateTime(date);
    static const char* const weekdays[] = {"日曜日", "月曜日", "火曜日", "水曜日", "木曜日", "金曜日", "土曜日"};
    int wd = std::clamp(p.DayOfWeek, 0, 6);
    return QStringLiteral("%1年%2月%3日 (%4)").arg(p.Year).arg(p.Month).arg(p.Day).arg(QString::fromUtf8(weekdays[wd]));
}

// the type icon of a file name, by its extension only (no disk access while painting)
QPixmap TypeIcon(const std::string& fileName, int size, qreal dpr) {
    static QHash<QString, QPixmap> icons;
    QString name = QString::fromStdString(fileName);
    QString ext = name.section(QLatin1Char('.'), -1).toLower();
    QString key = ext + QLatin1Char('/') + QString::number(size) + QLatin1Char('@') + QString::number(dpr);
    auto found = icons.constFind(key);
    if (found != icons.constEnd()) return *found;
    static QMimeDatabase mime;
    QMimeType type = mime.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
    QPixmap pm;
    // a theme that has the icon only smaller than the device size would have it enlarged and
    // blurred: the page drawn below is sharp at any ratio instead
    const QSize device(static_cast<int>(std::ceil(size * dpr)), static_cast<int>(std::ceil(size * dpr)));
    if (!icon.isNull() && icon.actualSize(device).width() >= device.width()) pm = icon.pixmap(QSize(size, size), dpr);
    if (pm.isNull()) {
        // no theme here: a page with the extension on it
        pm = QPixmap(QSize(size, size) * dpr);
        pm.setDevicePixelRatio(dpr);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        QRectF page(size * 0.18, size * 0.06, size * 0.64, size * 0.88);
        p.setPen(QPen(QColor(0x55, 0x5d, 0x68), 1));
        p.setBrush(QColor(0xfb, 0xfb, 0xf8));
        p.drawRect(page);
        p.fillRect(QRectF(page.left(), page.top() + page.height() * 0.55, page.width(), page.height() * 0.25),
                   QColor(0x3b, 0x82, 0xd6));
        QFont f = UiFont(7);
        f.setPixelSize(std::max(6, size / 5));
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(QRectF(page.left(), page.top() + page.height() * 0.55, page.width(), page.height() * 0.25),
                   Qt::AlignCenter, ext.toUpper().left(4));
    }
    icons.insert(key, pm);
    return pm;
}

// The sunken and raised edges of cells and pictures as solid one-pixel fills: the same pixels
// as the style's shade panel and shade rectangle, without a pen and line rasterisation per edge
// (those were a third of the grid's painting).
void ShadePanel(QPainter& p, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
    if (r.width() < 2 || r.height() < 2) return;
    p.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), topLeft);
    p.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), topLeft);
    p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
    p.fillRect(QRect(r.right(), r.top(), 1, r.height() - 1), bottomRight);
}

// an etched (sunken) frame around a picture: a dark rectangle with a light one inside and below
void ShadeRect(QPainter& p, const QRect& r, const QColor& dark, const QColor& light) {
    if (r.width() < 4 || r.height() < 4) return;
    const int x1 = r.left(), y1 = r.top(), x2 = r.right(), y2 = r.bottom();
    p.fillRect(QRect(x1, y1, r.width() - 1, 1), dark);
    p.fillRect(QRect(x1, y2 - 1, r.width() - 1, 1), dark);
    p.fillRect(QRect(x1, y1 + 1, 1, r.height() - 3), dark);
    p.fillRect(QRect(x2 - 1, y1 + 1, 1, r.height() - 3), dark);
    p.fillRect(QRect(x1 + 1, y1 + 1, r.width() - 3, 1), light);
    p.fillRect(QRect(x1 + 1, y1 + 2, 1, r.height() - 4), light);
    p.fillRect(QRect(x1, y2, r.width(), 1), light);
    p.fillRect(QRect(x2, y1, 1, r.height() - 1), light);
}

// The grid's icons by number, kept per pixel ratio without building a text key per drawing.
void DrawIcon(QPainter& p, int x, int y, int index, int size = 16) {
    static std::unordered_map<uint64_t, QPixmap> icons;
    const qreal dpr = p.device() ? p.device()->devicePixelRatioF() : 1.0;
    const uint64_t key = (static_cast<uint64_t>(index) << 32) | (static_cast<uint64_t>(size) << 16) |
                         static_cast<uint64_t>(std::lround(dpr * 100));
    auto found = icons.find(key);
    if (found == icons.end()) found = icons.emplace(key, CommonImage(index, size, dpr)).first;
    if (!found->second.isNull()) p.drawPixmap(x, y, found->second);
}

}  // namespace

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

std::string TrayStateText(int state) {
    static const char* const texts[] = {"追加予定", "追加待ち", "追加準備中", "追加準備済み", "追加中", "追加済み", "エラー"};
    return state >= 0 && state <= 6 ? texts[state] : "不明";
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
        FMakerPaused = false;
        RequestThumbnails(false);
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
    if (folder == FFolder && folder) return;
    FFolder = folder;
    bool calendar = folder && folder->GetCategory() == fcCalendar;
    int albumType = folder && folder->GetCategory() == fcAlbum ? folder->GetAlbumType() : -1;
    FGrouping = (calendar || FAlwaysGroup) && albumType != 6 && albumType != 7;
    StartListing();
    if (OnFolderShown) OnFolderShown(folder);
}

void TFrameCatalogDG::Refresh() { StartListing(); }

void TFrameCatalogDG::StartListing() {
    ++FTicket;  // deliveries of an earlier listing are ignored from now on
    FListing = false;
    FListShownPending = false;
    CancelSort();  // the list it sorts is the last folder's
    if (FReader) FReader->Cancel();
    if (FMaker) FMaker->CancelAll();  // the maker waits for the new list
    FLoadedNeedsDates = -1;
    if (!FFolder) {
        FLoaded.clear();
        Resort();
        return;
    }
    if (FListingStarter) {
        FListing = true;
        FListingStarter(FFolder, FTicket);
        return;
    }
    // without a lister: the items the folder holds in memory
    TItemList items;
    FFolder->GetItemsOfKinds(static_cast<TKindSet>(FListingOptions), items);
    DeliverListing(FTicket, items, 2, true);
}

void TFrameCatalogDG::DeliverListing(uint64_t ticket, const std::vector<TCatalogItem*>& items, int stage, bool replace) {
    if (ticket != FTicket) return;  // a listing of a folder no longer shown
    if (stage == 0) {
        FListing = true;
        viewport()->setCursor(Qt::BusyCursor);
    } else {
        if (FLoaded.empty() || replace) {
            setUpdatesEnabled(false);
            FLoaded = items;
            FLoadedNeedsDates = -1;
            Resort();
            setUpdatesEnabled(true);
        }
        if (stage >= 2) {
            // finished once its list is in order on screen
            FListShownPending = true;
            if (!FSortPending) ListShown();
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
        FLoadedNeedsDates = needsDates;
        return;
    }
    CancelSort();
    setUpdatesEnabled(false);
    FLoaded = std::move(items);
    FLoadedNeedsDates = needsDates;
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
    if (OnListLoaded) OnListLoaded(FFolder, static_cast<int>(FOrdered.Items.size()));
}

void TFrameCatalogDG::SetItems(const std::vector<TCatalogItem*>& items) {
    ++FTicket;
    FListing = false;
    FListShownPending = false;
    FLoaded = items;
    FLoadedNeedsDates = -1;
    Resort();
}

TViewOrder TFrameCatalogDG::CurrentOrder() const {
    TViewOrder o;
    o.SortType = FSortType;
    o.Ascending = FAscending;
    o.GroupByDay = FGrouping;
    o.GroupByNumber = FFolder && FFolder->GetCategory() == fcAlbum && FFolder->GetAlbumType() == atMirabelo;
    o.Filtering = FFiltering;
    if (FFiltering) o.Filter = FFilter;
    return o;
}

bool TFrameCatalogDG::LoadedNeedsShootingDates() const {
    // the lister's "no" holds; its "yes" is looked at again, as the dates may have been read
    // since (the look ends at the first date still unread)
    if (FLoadedNeedsDates == 0) return false;
    return NeedsShootingDates(FLoaded);
}

int TFrameCatalogDG::SortsOnWorker() const { return FSorter ? FSorter->SortsDone() : 0; }

void TFrameCatalogDG::CancelSort() {
    ++FSortGeneration;  // a result on its way is dropped
    FSortPending = false;
    if (FSorter) FSorter->Cancel();
    if (!FListing) viewport()->unsetCursor();
}

void TFrameCatalogDG::Resort() {
    TStallActivity mark("GridResort");
    const TViewOrder order = CurrentOrder();
    CancelSort();
    if (FLoaded.size() <= FSyncSortLimit) {
        TOrderedList list;
        OrderItems(FLoaded, order, list);
        ApplyOrdered(std::move(list), order);
        return;
    }
    if (!FSorter) {
        // the sorter ends before the grid does (Stop), so the grid is there to take the result
        FSorter = std::make_unique<TViewSorter>([this](uint64_t generation, TOrderedList&& list) {
            auto result = std::make_shared<TOrderedList>(std::move(list));
            QMetaObject::invokeMethod(
                this, [this, generation, result] { SortArrived(generation, std::move(*result)); }, Qt::QueuedConnection);
        });
        FSorter->Start();
    }
    // the list on screen stays until the new order arrives
    FSortPending = true;
    FPendingOrder = order;
    viewport()->setCursor(Qt::BusyCursor);
    FSorter->Request(FSortGeneration, FLoaded, order);
}

void TFrameCatalogDG::SortArrived(uint64_t generation, TOrderedList&& list) {
    if (generation != FSortGeneration || !FSortPending) return;  // asked again since
    FSortPending = false;
    if (!FListing) viewport()->unsetCursor();
    ApplyOrdered(std::move(list), FPendingOrder);
    ListShown();
}

void TFrameCatalogDG::ApplyOrdered(TOrderedList&& list, const TViewOrder& order) {
    TStallActivity mark("GridLayout");
    FOrdered = std::move(list);
    FShownOrder = order;
    Relayout(true);
}

bool TFrameCatalogDG::IsLoaded(TCatalogItem* item) const {
    // the shown list is the loaded one unless a sort is on its way or a filter left some out
    if (!FSortPending && !FShownOrder.Filtering && FOrdered.Items.size() == FLoaded.size())
        return FOrdered.IndexOf(item) >= 0;
    return std::find(FLoaded.begin(), FLoaded.end(), item) != FLoaded.end();
}

bool TFrameCatalogDG::DateMoved(TCatalogItem* item) const {
    const bool byDate = FShownOrder.SortType == stShootingDate, byDay = FShownOrder.GroupByDay;
    if (!byDate && !byDay) return false;
    const int i = FOrdered.IndexOf(item);
    if (i < 0 || static_cast<size_t>(i) >= FOrdered.ShootingDates.size()) return false;
    const TDateTime was = FOrdered.ShootingDates[static_cast<size_t>(i)], now = item->GetShootingDate();
    return byDate ? was != now : ItemDay(was) != ItemDay(now);
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
    int focusOffset = FFocusCell >= 0 ? FFocusCell / std::max(1, FCols.Count) - oldTop : 0;
    std::vector<TCatalogItem*> topItems;
    for (int c = 0; c < FCols.Count; ++c) {
        size_t i = static_cast<size_t>(oldTop) * FCols.Count + c;
        if (i < FCells.size() && FCells[i]) topItems.push_back(FCells[i]);
    }

    FGeom = ComputeGridGeometry(FThumbSize, FHalfSize, 0);
    FGeom = ComputeGridGeometry(FThumbSize, FHalfSize, InfoLineHeights());
    int statusH = !FStatus->isHidden() ? FStatus->sizeHint().height() : 0;
    int clientH = std::max(0, height() - statusH);
    int fullW = width();
    int barW = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    // the grouping the shown list was sorted with (a new one may be on its way)
    const bool grouping = FShownOrder.GroupByDay;
    bool band0 = FCreateMode && !grouping && FFolder;
    auto build = [&](int w) {
        FCols = ComputeGridColumns(w, FGeom.ColumnWidth);
        BuildGridCells(FOrdered.Items, FOrdered.ShootingDates, grouping, band0, FCols.Count, FCells, FRowBand,
                       FCellOfSorted);
        FRowTop.assign(FRowBand.size() + 1, 0);
        for (size_t r = 0; r < FRowBand.size(); ++r)
            FRowTop[r + 1] = FRowTop[r] + FGeom.RowHeight + (FRowBand[r] ? kTitleBandHeight : 0);
    };
    build(fullW);
    bool bar = FRowTop.back() > clientH;
    if (bar) {
        // the scroll bar takes its width; the cells are laid out again only when that costs a
        // column (a list of 100,000 photos is laid out once)
        const TGridColumns narrow = ComputeGridColumns(fullW - barW, FGeom.ColumnWidth);
        if (narrow.Count == FCols.Count) FCols = narrow;
        else build(fullW - barW);
    }
    setVerticalScrollBarPolicy(bar ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    FTitleWidth.assign(FRowBand.size(), 0);
    FInfoPictures.clear();
    ++FLayoutGeneration;

    // the selection keeps the items still shown
    if (!FSelection.empty()) {
        std::vector<TCatalogItem*> kept;
        for (TCatalogItem* it : FSelection)
            if (FOrdered.IndexOf(it) >= 0) kept.push_back(it);
        if (kept.size() != FSelection.size()) {
            FSelection = kept;
            FSelected = std::unordered_set<TCatalogItem*>(kept.begin(), kept.end());
        }
    }
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
    FFocusCell = newFocus;
    FAnchorCell = newFocus;
    if (FFocusCell < 0) {
        if (!FOrdered.Items.empty()) {
            FFocusCell = CellOf(FOrdered.Items.front());
            FAnchorCell = FFocusCell;
            if (FSelection.empty()) {
                FSelection = {FOrdered.Items.front()};
                FSelected = {FOrdered.Items.front()};
            }
        } else {
            FSelection.clear();
            FSelected.clear();
        }
    }
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
    if (rows == 0 || FRowTop.size() < 2) return 0;
    // the first row from which the rest fits, so that the last row stays at the bottom
    int end = FRowTop.back();
    int r = rows - 1;
    while (r > 0 && end - FRowTop[r - 1] <= clientH) --r;
    if (end - FRowTop[r] > clientH) ++r;
    return std::clamp(r, 0, rows - 1);
}

int TFrameCatalogDG::VisibleRowCount() const {
    int top = TopRow(), n = 0, h = viewport()->height();
    for (int r = top; r < RowCount() && FRowTop[r + 1] - FRowTop[top] <= h; ++r) ++n;
    return std::max(1, n);
}

QRect TFrameCatalogDG::CellRect(int cell) const {
    if (cell < 0 || FRowTop.size() < 2) return {};
    int row = cell / FCols.Count, col = cell % FCols.Count;
    if (row >= RowCount()) return {};
    int y = FRowTop[row] - FRowTop[std::min(TopRow(), RowCount() - 1)];
    return QRect(FCols.Left(col), y, FCols.WidthOf(col), FRowTop[row + 1] - FRowTop[row]);
}

int TFrameCatalogDG::CellAt(QPoint pos) const {
    if (RowCount() == 0 || pos.x() < 0 || pos.y() < 0) return -1;
    int top = TopRow();
    int y = pos.y() + FRowTop[top];
    auto it = std::upper_bound(FRowTop.begin(), FRowTop.end(), y);
    int row = static_cast<int>(it - FRowTop.begin()) - 1;
    if (row < 0 || row >= RowCount()) return -1;
    int col = 0;
    while (col < FCols.Count - 1 && FCols.Left(col + 1) <= pos.x()) ++col;
    if (pos.x() >= FCols.Left(col) + FCols.WidthOf(col)) return -1;
    return row * FCols.Count + col;
}

int TFrameCatalogDG::CellOf(TCatalogItem* item) const {
    if (!item) return -1;
    // through the index of the shown list; a search only while the cells lag behind it
    const int i = FOrdered.IndexOf(item);
    if (i >= 0 && static_cast<size_t>(i) < FCellOfSorted.size()) {
        const size_t c = FCellOfSorted[static_cast<size_t>(i)];
        if (c < FCells.size() && FCells[c] == item) return static_cast<int>(c);
    }
    auto it = std::find(FCells.begin(), FCells.end(), item);
    return it == FCells.end() ? -1 : static_cast<int>(it - FCells.begin());
}

QRect TFrameCatalogDG::ThumbRect(int cell) const {
    QRect r = CellRect(cell);
    if (r.isEmpty()) return {};
    int row = cell / FCols.Count;
    int top = r.top() + (RowHasBand(row) ? kTitleBandHeight : 0) + FGeom.ThumbBoxTop;
    return QRect(r.left() + (r.width() - FGeom.ThumbBox) / 2, top, FGeom.ThumbBox, FGeom.ThumbBox);
}

TCatalogItem* TFrameCatalogDG::FocusedItem() const {
    if (FFocusCell < 0 || FFocusCell >= static_cast<int>(FCells.size())) return nullptr;
    return FCells[FFocusCell];
}

std::vector<TCatalogItem*> TFrameCatalogDG::ItemList(int kind, bool withoutErrors) const {
    std::vector<TCatalogItem*> out;
    for (TCatalogItem* it : FOrdered.Items) {
        bool take;
        switch (kind) {
            case glkSelection: take = IsSelected(it); break;
            case glkFavourites: take = it->IsMarked(); break;
            case glkStarred: take = it->GetRating() > 0; break;
            case glkPrintReserved: take = it->GetPrintReservation() > 0; break;
            case glkDeleteReserved: take = it->HasFlag(ifDeleteReservation); break;
            default: take = true; break;
        }
        if (take && !(withoutErrors && IsItemGone(it))) out.push_back(it);
    }
    return out;
}

size_t TFrameCatalogDG::MemoryBytes() const {
    return (FLoaded.capacity() + FOrdered.Items.capacity() + FCells.capacity() + FSelection.capacity()) * sizeof(void*) +
           FRowBand.capacity() + FRowTop.capacity() * sizeof(int) + FTitleWidth.capacity() * sizeof(uint16_t);
}

// ---------------------------------------------------------------------------------------------
// settings

void TFrameCatalogDG::SetSortType(int t) {
    if (t == FSortType || t < 0 || t > 3) return;
    FSortType = t;
    Resort();
}

void TFrameCatalogDG::SetAscending(bool on) {
    if (on == FAscending) return;
    FAscending = on;
    Resort();
}

void TFrameCatalogDG::SetAlwaysGroup(bool on) {
    if (on == FAlwaysGroup) return;
    FAlwaysGroup = on;
    bool calendar = FFolder && FFolder->GetCategory() == fcCalendar;
    int albumType = FFolder && FFolder->GetCategory() == fcAlbum ? FFolder->GetAlbumType() : -1;
    FGrouping = (calendar || FAlwaysGroup) && albumType != 6 && albumType != 7;
    Resort();
}

void TFrameCatalogDG::SetThumbSize(int s) {
    s = std::clamp(s, 80, 240);
    if (s == FThumbSize) return;
    FThumbSize = s;
    if (FReader) FReader->Cancel();
    if (FMaker) {
        FMaker->CancelAll();
        FMakerPaused = true;
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
    if (on == FFiltering) return;
    FFiltering = on;
    Resort();
}

void TFrameCatalogDG::SetFilter(const TCatalogFilter& f) {
    FFilter = f;
    if (FFiltering) Resort();
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
    FLastMakeRange = {~0ull, -1, 0, false};
    if (!cache) return;
    FReader = std::make_unique<TGridThumbReader>(
        cache, [this](std::vector<std::pair<TCatalogItem*, QImage>> pics, int size, std::vector<TCatalogItem*> missing) {
            // the reader ends before the grid does, so the grid is there to take the call
            QMetaObject::invokeMethod(
                this,
                [this, pics = std::move(pics), size, missing = std::move(missing)]() mutable {
                    ThumbnailsArrived(std::move(pics), size);
                    for (TCatalogItem* it : missing) FThumbAsked.erase(it);
                },
                Qt::QueuedConnection);
        });
    FReader->Start();
    if (FUseEngine) StartMaker();
    RequestThumbnails(false);
}

// ---------------------------------------------------------------------------------------------
// thumbnails

bool TFrameCatalogDG::HasThumbnail(TCatalogItem* item) const { return FThumbs.count(item) != 0; }

QImage TFrameCatalogDG::ThumbnailImage(TCatalogItem* item) const {
    auto found = FThumbs.find(item);
    return found == FThumbs.end() ? QImage() : found->second.Image;
}

bool TFrameCatalogDG::PictureComing(TCatalogItem* item, bool error) const {
    // being read from the cache
    if (FThumbAsked.count(item)) return true;
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
    if ((!FReader && !FThumbRequest) || FCells.empty()) return;
    int top = TopRow(), rows = VisibleRowCount() + 1;
    int cols = FCols.Count;
    const int want = DeviceThumbSize();
    std::vector<TCatalogItem*> read, make;
    auto addRow = [&](int r) {
        for (int c = 0; c < cols; ++c) {
            size_t i = static_cast<size_t>(r) * cols + c;
            if (i >= FCells.size() || !FCells[i]) continue;
            TCatalogItem* it = FCells[i];
            int cached = FCache ? FCache->CachedSizeOf(it) : -1;
            // the cache's picture is read (stretched when made for another size); the reader's
            // queue is replaced, so what was asked before and not answered yet is asked again
            if (cached != 0 && !FThumbs.count(it)) read.push_back(it);
            // ... and one of this size is made when it has none or a smaller one (a larger one,
            // made for a screen of a higher pixel ratio, is reduced by the reader)
            if (cached < want) make.push_back(it);
        }
    };
    for (int r = top; r < std::min(RowCount(), top + rows); ++r) addRow(r);
    // then up to two more screens in the direction of the scroll
    if (scrolledUp) {
        for (int r = top - 1; r >= std::max(0, top - 2 * rows); --r) addRow(r);
    } else {
        for (int r = top + rows; r < std::min(RowCount(), top + 3 * rows); ++r) addRow(r);
    }
    if (FReader && !read.empty()) {
        for (TCatalogItem* it : read) FThumbAsked.insert(it);
        FReader->Request(read, want);
    }
    // the maker hears of a range once; the pictures it stores come back as change events
    auto range = std::make_tuple(FLayoutGeneration, top, want, scrolledUp);
    if (FThumbRequest && !FMakerPaused && !make.empty() && range != FLastMakeRange) {
        FLastMakeRange = range;
        FThumbRequest(make, want);
    }
}

void TFrameCatalogDG::ThumbnailsArrived(std::vector<std::pair<TCatalogItem*, QImage>> pics, int size) {
    if (size != DeviceThumbSize()) {
        for (const auto& [item, img] : pics) FThumbAsked.erase(item);
        return;
    }
    // the pictures are in device pixels: Qt draws them 1:1 on the screen
    const qreal ratio = devicePixelRatioF();
    // one repaint of the batch's cells: a rectangle around them is cheaper to paint than a
    // region of many small ones
    QRect dirty;
    const QRect view = viewport()->rect();
    // only the cells on screen are looked for (a folder may hold 100,000)
    const size_t cols = static_cast<size_t>(std::max(1, FCols.Count));
    const size_t first = std::min(FCells.size(), static_cast<size_t>(TopRow()) * cols);
    const size_t last = std::min(FCells.size(), first + static_cast<size_t>(VisibleRowCount() + 1) * cols);
    for (auto& [item, img] : pics) {
        FThumbAsked.erase(item);
        // moved, not shared: the ratio set on a shared picture would copy its pixels
        QImage picture = std::move(img);
        picture.setDevicePixelRatio(ratio);
        FThumbBytes += static_cast<size_t>(picture.sizeInBytes());
        auto found = FThumbs.find(item);
        if (found != FThumbs.end()) {
            FThumbBytes -= static_cast<size_t>(found->second.Image.sizeInBytes());
            found->second.Image = std::move(picture);
            FThumbLru.splice(FThumbLru.begin(), FThumbLru, found->second.Lru);
        } else {
            FThumbLru.push_front(item);
            FThumbs.emplace(item, TThumbEntry{std::move(picture), FThumbLru.begin()});
        }
        auto at = std::find(FCells.begin() + first, FCells.begin() + last, item);
        if (at == FCells.begin() + last) continue;
        QRect r = CellRect(static_cast<int>(at - FCells.begin())).intersected(view);
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
    FThumbs.clear();
    FThumbLru.clear();
    FThumbAsked.clear();
    FThumbBytes = 0;
}

void TFrameCatalogDG::KeepOnlyScreenPictures() {
    FInfoPictures.clear();  // drawn again for the cells on screen at the next paint
    TrimThumbnails();
}

void TFrameCatalogDG::TrimThumbnails() {
    // behind the viewer nothing is drawn: the screen the grid comes back to is all it keeps
    const size_t budget = viewport()->isHidden() ? 0 : ThumbnailBudget();
    if (FThumbBytes <= budget) return;
    // the least recently drawn go first; the pictures of the cells on screen stay, whatever
    // the budget says
    std::unordered_set<TCatalogItem*> onScreen;
    const size_t cols = static_cast<size_t>(std::max(1, FCols.Count));
    const size_t first = std::min(FCells.size(), static_cast<size_t>(TopRow()) * cols);
    const size_t last = std::min(FCells.size(), first + static_cast<size_t>(VisibleRowCount() + 1) * cols);
    for (size_t i = first; i < last; ++i)
        if (FCells[i]) onScreen.insert(FCells[i]);
    auto it = FThumbLru.end();
    while (FThumbBytes > budget && it != FThumbLru.begin()) {
        --it;
        if (onScreen.count(*it)) continue;
        auto found = FThumbs.find(*it);
        FThumbBytes -= static_cast<size_t>(found->second.Image.sizeInBytes());
        FThumbs.erase(found);
        it = FThumbLru.erase(it);
    }
}

// ---------------------------------------------------------------------------------------------
// painting

void TFrameCatalogDG::paintEvent(QPaintEvent* e) {
    TStallActivity mark("GridPaint");
    if (devicePixelRatioF() != FPictureRatio) {
        // moved to a screen of another pixel ratio: the pictures in memory are of the wrong size
        const bool had = FPictureRatio != 0;
        FPictureRatio = devicePixelRatioF();
        if (had) {
            ClearThumbnails();
            FInfoPictures.clear();
            QTimer::singleShot(0, this, [this] { RequestThumbnails(false); });
        }
    }
    QPainter p(viewport());
    const QColor gridColour = palette().color(QPalette::Window);
    if (FShowEmptyText && FOrdered.Items.empty()) {
        p.fillRect(e->rect(), gridColour);
        QFont f = UiFont(16);
        p.setFont(f);
        p.setPen(kEmptyTextColour);
        p.drawText(QRect(16, 16, viewport()->width() - 16, viewport()->height() - 16), Qt::AlignLeft | Qt::AlignTop,
                   FEmptyText);
        return;
    }
    if (RowCount() == 0) {
        p.fillRect(e->rect(), gridColour);
        return;
    }
    int top = TopRow();
    int h = viewport()->height();
    // the rows cover the width; only what lies below the last row is filled here
    int end = FRowTop.back() - FRowTop[top];
    if (end < h) p.fillRect(QRect(0, end, viewport()->width(), h - end).intersected(e->rect()), gridColour);
    int coveredRight = FCols.Count > 0 ? FCols.Left(FCols.Count - 1) + FCols.WidthOf(FCols.Count - 1) : 0;
    if (coveredRight < viewport()->width())
        p.fillRect(QRect(coveredRight, 0, viewport()->width() - coveredRight, h).intersected(e->rect()), gridColour);
    for (int r = top; r < RowCount(); ++r) {
        int y = FRowTop[r] - FRowTop[top];
        if (y >= h) break;
        int rh = FRowTop[r + 1] - FRowTop[r];
        QRect rowRect(0, y, viewport()->width(), rh);
        if (!rowRect.intersects(e->rect())) continue;
        if (FRowBand[r]) DrawBand(p, r, rowRect);
        for (int c = 0; c < FCols.Count; ++c) {
            QRect cr(FCols.Left(c), y, FCols.WidthOf(c), rh);
            if (!cr.intersects(e->rect())) continue;
            DrawCell(p, r * FCols.Count + c, cr, FRowBand[r]);
        }
    }
}

void TFrameCatalogDG::DrawBand(QPainter& p, int row, const QRect& rowRect) {
    QRect band(rowRect.left(), rowRect.top(), rowRect.width(), kTitleBandHeight);
    if (FBandStrip.width() != band.width() || FBandStrip.devicePixelRatio() != devicePixelRatioF()) {
        qreal dpr = devicePixelRatioF();
        FBandStrip = QImage(QSize(band.width(), kTitleBandHeight) * dpr, QImage::Format_RGB32);
        FBandStrip.setDevicePixelRatio(dpr);
        QPainter sp(&FBandStrip);
        QLinearGradient g(0, 0, 0, kTitleBandHeight);
        g.setColorAt(0, Bgr(10001566));
        g.setColorAt(1, Bgr(13752025));
        sp.fillRect(QRect(0, 0, band.width(), kTitleBandHeight), g);
        qDrawShadeRect(&sp, QRect(0, 0, band.width(), kTitleBandHeight), palette(), false, 1);
    }
    p.drawImage(band.topLeft(), FBandStrip);
    int icon = -1;
    if (FFolder) {
        int cat = FFolder->GetCategory();
        if (cat == fcDiskFolder) icon = ciDiskFolder;
        else if (cat == fcCalendar) icon = ciCalendar;
        else if (cat == fcAlbum && FFolder->GetAlbumType() == atTags) icon = ciTag;
        else if (cat == fcAlbum && FFolder->GetAlbumType() == atMirabelo) icon = ciSiblingAlbum;
    }
    if (icon >= 0) DrawIcon(p, band.left() + 4, band.top() + 4, icon, 16);
    QString text = BandText(row);
    QFont f = font();
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    int tw = QFontMetrics(f).horizontalAdvance(text);
    FTitleWidth[row] = static_cast<uint16_t>(std::min(tw, 65535));
    p.drawText(QRect(band.left() + 24, band.top(), band.width() - 24, kTitleBandHeight), Qt::AlignVCenter | Qt::AlignLeft, text);
    if (FCreateMode) {
        for (int which = 0; which < 2; ++which) {
            QRect b = DirectButtonRect(row, which);
            int id = row * 2 + which;
            const char* state = FPressedButton == id ? "Down" : (FHotButton == id ? "Hot" : "Normal");
            QString name = QString::fromLatin1(which == 0 ? "DirectAlbum" : "DirectSlide") + QLatin1String(state);
            p.drawPixmap(b.topLeft(), NamedBitmap(name, devicePixelRatioF()));
        }
    }
}

QString TFrameCatalogDG::BandText(int row) const {
    if (!RowHasBand(row)) return {};
    if (FShownOrder.GroupByDay) {
        for (int c = 0; c < FCols.Count; ++c) {
            size_t i = static_cast<size_t>(row) * FCols.Count + c;
            if (i < FCells.size() && FCells[i]) return DayText(FCells[i]->GetShootingDate());
        }
        return {};
    }
    return FFolder ? QString::fromStdString(FFolder->GetCaption()) : QString();
}

QRect TFrameCatalogDG::DirectButtonRect(int row, int which) const {
    if (!RowHasBand(row) || !FCreateMode) return {};
    if (row >= static_cast<int>(FTitleWidth.size())) return {};
    int tw = FTitleWidth[row];
    if (tw == 0) {
        QFont f = font();
        f.setBold(true);
        tw = QFontMetrics(f).horizontalAdvance(BandText(row));
        FTitleWidth[row] = static_cast<uint16_t>(std::min(tw, 65535));
    }
    int y = FRowTop[row] - FRowTop[TopRow()];
    int x = 24 + tw + (which == 0 ? 12 : 109);
    return which == 0 ? QRect(x, y + 4, 89, 17) : QRect(x, y + 4, 109, 17);
}

void TFrameCatalogDG::DrawCell(QPainter& p, int cell, const QRect& r, bool rowBand) {
    ++FPaintedCells;
    QRect body = rowBand ? r.adjusted(0, kTitleBandHeight, 0, 0) : r;
    TCatalogItem* item = cell < static_cast<int>(FCells.size()) ? FCells[cell] : nullptr;
    if (!item) {
        p.fillRect(body, palette().color(QPalette::Window));
        return;
    }
    bool error = IsItemGone(item);
    bool selected = IsSelected(item);
    int albumType = FFolder && FFolder->GetCategory() == fcAlbum ? FFolder->GetAlbumType() : -1;
    QColor bg;
    bool hasTray = false;
    QColor tray = TrayStateColour(item->GetTrayByte(), hasTray);
    if (FFavouriteHighlight && item->IsMarked()) bg = kFavouriteHighlight;
    else if (selected) bg = hasFocus() ? palette().color(QPalette::Highlight) : kSelectionInactive;
    else if (hasTray) bg = tray;
    else if (albumType == atTray) bg = kTrayAlbumCell;
    else bg = palette().color(QPalette::Button);
    const QPalette& pal = palette();

    // thumbnail, or the type icon
    QRect box(body.left() + (body.width() - FGeom.ThumbBox) / 2, body.top() + FGeom.ThumbBoxTop, FGeom.ThumbBox,
              FGeom.ThumbBox);
    auto found = FThumbs.find(item);
    const bool hasPicture = found != FThumbs.end() && !found->second.Image.isNull();
    QRect pic;
    if (hasPicture) {
        FThumbLru.splice(FThumbLru.begin(), FThumbLru, found->second.Lru);  // drawn: the last to go
        // the picture's size on screen (it carries its pixel ratio)
        const QImage& img = found->second.Image;
        QSize s = (QSizeF(img.size()) / img.devicePixelRatio()).toSize().expandedTo(QSize(1, 1));
        QRect inner = box.adjusted(2, 2, -2, -2);
        if (s.width() > inner.width() || s.height() > inner.height() ||
            (s.width() < inner.width() && s.height() < inner.height()))
            s = s.scaled(inner.size(), Qt::KeepAspectRatio);
        pic = QRect(box.left() + (box.width() - s.width() + 1) / 2, box.top() + (box.height() - s.height() + 1) / 2,
                    s.width(), s.height());
    }
    const QRect info = InfoRect(body);
    // the cell colour around the framed picture and the info box, which cover their own pixels
    // (filling is most of what painting a cell costs)
    if (pic.isEmpty() && info.isEmpty()) {
        p.fillRect(body, bg);
    } else {
        QRegion around(body);
        if (!pic.isEmpty()) around -= pic.adjusted(-1, -1, 1, 1);
        if (!info.isEmpty()) around -= info;
        for (const QRect& part : around) p.fillRect(part, bg);
    }
    ShadePanel(p, body, pal.color(QPalette::Dark), pal.color(QPalette::Light));
    if (hasPicture) {
        const QImage& img = found->second.Image;
        if (QSizeF(pic.size()) * img.devicePixelRatio() == QSizeF(img.size())) {
            p.drawImage(pic.topLeft(), img);  // 1:1 in device pixels
        } else {
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawImage(pic, img);
        }
        ShadeRect(p, pic.adjusted(-1, -1, 1, 1), pal.color(QPalette::Dark), pal.color(QPalette::Light));
    } else if (!PictureComing(item, error)) {
        int is = 32;
        QPixmap icon = TypeIcon(item->GetFileName(), is, devicePixelRatioF());
        p.drawPixmap(box.left() + (box.width() - is) / 2, box.top() + (box.height() - is) / 2, icon);
    }
    if (!info.isEmpty()) {
        // the info box is drawn once and kept: laying out text is the slowest step of a cell
        auto cached = FInfoPictures.find(item);
        if (cached == FInfoPictures.end() || cached->second.size() != info.size() * devicePixelRatioF()) {
            // the drawn boxes get a quarter of the picture budget
            const double boxBytes = 4.0 * info.width() * info.height() * devicePixelRatioF() * devicePixelRatioF();
            if ((FInfoPictures.size() + 1) * boxBytes > ThumbnailBudget() / 4.0) FInfoPictures.clear();
            QPixmap pm(info.size() * devicePixelRatioF());
            pm.setDevicePixelRatio(devicePixelRatioF());
            QPainter ip(&pm);
            DrawInfo(ip, item, QRect(QPoint(0, 0), info.size()), error);
            ip.end();
            cached = FInfoPictures.insert_or_assign(item, pm).first;
        }
        p.drawPixmap(info.topLeft(), cached->second);
        if (cell == FHoverCell && !FHoverButtons.empty()) {
            for (int s = 0; s < static_cast<int>(FHoverButtons.size()); ++s) {
                QRect sr = HoverSlotRect(cell, s);
                p.fillRect(sr, palette().color(QPalette::Button));
                if (s == FPressedSlot) qDrawShadePanel(&p, sr, palette(), true, 1);
                else if (s == FHoverSlot) qDrawShadePanel(&p, sr, palette(), false, 1);
                DrawIcon(p, sr.left() + (sr.width() - 16) / 2, sr.top() + (sr.height() - 16) / 2,
                                FHoverButtons[s].ImageIndex, 16);
            }
        }
    }
    if (cell == FFocusCell && hasFocus()) DrawFocusMark(p, body);
    // marks over everything else, so that no box hides them
    DrawMarks(p, item, body, info);
}

void TFrameCatalogDG::DrawFocusMark(QPainter& p, const QRect& body) {
    // A frame, where the selection is a fill: two points of the text colour with a point of
    // the base colour inside, so that it shows on the selection colour and on the cell colour
    // alike. Whole points are whole device pixels at any ratio, so it stays sharp.
    const QColor outer = palette().color(QPalette::WindowText), inner = palette().color(QPalette::Base);
    const QRect r = body.adjusted(2, 2, -2, -2);
    auto frame = [&](const QRect& f, int w, const QColor& c) {
        p.fillRect(QRect(f.left(), f.top(), f.width(), w), c);
        p.fillRect(QRect(f.left(), f.bottom() - w + 1, f.width(), w), c);
        p.fillRect(QRect(f.left(), f.top() + w, w, f.height() - 2 * w), c);
        p.fillRect(QRect(f.right() - w + 1, f.top() + w, w, f.height() - 2 * w), c);
    };
    frame(r, 2, outer);
    frame(r.adjusted(2, 2, -2, -2), 1, inner);
}

std::vector<TFrameCatalogDG::TCellMark> TFrameCatalogDG::MarkLayout(TCatalogItem* item, const QRect& body,
                                                                   const QRect& info) const {
    // Everything in points, so that the layout is the same at any pixel ratio. The marks stay
    // inside the cell and above its info box: the stars along the top, the other marks down the
    // left edge (a further column when one is full), read-only and comment down the right edge,
    // and the print reservations in a row just above the info box.
    constexpr int kIcon = 16;
    std::vector<TCellMark> marks;
    const QRect area = body.adjusted(2, 2, -2, -2);
    const int bottom = info.isEmpty() ? area.bottom() : std::min(area.bottom(), info.top() - 1);
    const int prints = item->GetPrintReservation();
    const int printTop = bottom - kIcon + 1;
    int y = area.top();
    const int stars = item->GetRating();
    if (stars > 0) {
        marks.push_back({ciFavourite, QRect(area.left(), y, kIcon + (stars - 1) * 8, kIcon), stars, 0});
        y += kIcon;
    }
    const int columnTop = y;
    const int columnBottom = prints > 0 ? printTop - 1 : bottom;
    int x = area.left();
    auto mark = [&](bool on, int index) {
        if (!on) return;
        if (y + kIcon - 1 > columnBottom && y > columnTop) {
            x += kIcon;
            y = columnTop;
        }
        marks.push_back({index, QRect(x, y, kIcon, kIcon), 0, 0});
        y += kIcon;
    };
    mark(item->CountAlbumsOfTypes(1u << 8) > 0, ciTag);
    mark(item->IsMarked(), ciFavourite);
    mark(item->HasFlag(ifDeleteReservation), ciDeleteReservation);
    mark(item->GetCorrection().Enabled != 0, ciCorrections);
    int o = item->GetOrientation();
    // the rotation state first, then the mirror states
    static const int rotationIcon[] = {-1, ciOrientationRight, ciOrientationHalf, ciOrientationLeft};
    int steps = RotationStepsOf(o);
    if (steps >= 1 && steps <= 3) mark(true, rotationIcon[steps]);
    mark(NeedsFlipVertical(o), ciOrientationFlip);
    mark(NeedsMirror(o), ciOrientationMirror);
    // right edge
    int rx = area.right() - kIcon + 1, ry = area.top();
    if (item->HasFlag(ifReadOnly)) {
        marks.push_back({ciReadOnly, QRect(rx, ry, kIcon, kIcon), 0, 0});
        ry += kIcon;
    }
    std::string comment = item->GetComment();
    if (comment.find_first_not_of(" \t\r\n") != std::string::npos) marks.push_back({ciComment, QRect(rx, ry, kIcon, kIcon), 0, 0});
    // print reservations: one mark a copy while they fit in the row, else one mark and the count
    if (prints > 0) {
        const int fit = std::max(1, area.width() / kIcon);
        if (prints <= fit) {
            for (int i = 0; i < prints; ++i)
                marks.push_back({ciPrintReservation, QRect(area.left() + i * kIcon, printTop, kIcon, kIcon), 0, 0});
        } else {
            marks.push_back({ciPrintReservation, QRect(area.left(), printTop, std::min(area.width(), 3 * kIcon), kIcon), 0,
                             prints});
        }
    }
    return marks;
}

std::vector<TFrameCatalogDG::TCellMark> TFrameCatalogDG::MarkLayoutOf(int cell) const {
    const QRect r = CellRect(cell);
    TCatalogItem* item = cell >= 0 && cell < static_cast<int>(FCells.size()) ? FCells[cell] : nullptr;
    if (r.isEmpty() || !item) return {};
    const QRect body = RowHasBand(cell / FCols.Count) ? r.adjusted(0, kTitleBandHeight, 0, 0) : r;
    return MarkLayout(item, body, InfoRect(body));
}

QRect TFrameCatalogDG::InfoRect(const QRect& body) const {
    if (FGeom.InfoHeight <= 0 || !FInfoLines) return {};
    return QRect(body.left() + (body.width() - FGeom.InfoWidth) / 2, body.top() + FGeom.InfoTop, FGeom.InfoWidth,
                 FGeom.InfoHeight);
}

void TFrameCatalogDG::DrawMarks(QPainter& p, TCatalogItem* item, const QRect& body, const QRect& info) {
    for (const TCellMark& m : MarkLayout(item, body, info)) {
        if (m.Stars > 0) {
            for (int i = 0; i < m.Stars; ++i) DrawIcon(p, m.Rect.left() + i * 8, m.Rect.top(), m.Icon, 16);
            continue;
        }
        DrawIcon(p, m.Rect.left(), m.Rect.top(), m.Icon, 16);
        if (m.Count > 0) {
            // many copies: the count beside one mark
            QFont f = font();
            f.setBold(true);
            p.setFont(f);
            p.setPen(palette().color(QPalette::WindowText));
            p.drawText(m.Rect.adjusted(17, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("×%1").arg(m.Count));
        }
    }
}

QString TFrameCatalogDG::DateLine(TCatalogItem* item, bool twoLines) const {
    TDateTimeParts d = DecodeDateTime(item->GetShootingDate());
    QString date = QStringLiteral("%1/%2/%3").arg(d.Year, 4, 10, QLatin1Char('0')).arg(d.Month, 2, 10, QLatin1Char('0')).arg(d.Day, 2, 10, QLatin1Char('0'));
    if (twoLines) return date + QLatin1Char('\n') + QStringLiteral("%1:%2").arg(d.Hour).arg(d.Minute, 2, 10, QLatin1Char('0'));
    return date + QLatin1Char(' ') +
           QStringLiteral("%1:%2:%3").arg(d.Hour).arg(d.Minute, 2, 10, QLatin1Char('0')).arg(d.Second, 2, 10, QLatin1Char('0'));
}

QString TFrameCatalogDG::InfoText(TCatalogItem* item) const {
    QStringList lines;
    if (FInfoLines & gilFileName) lines << QString::fromStdString(item->GetFileName());
    if (FInfoLines & gilSecondLine) lines << QString::fromStdString(item->GetTitle());
    if (FInfoLines & gilFileSize) lines << QString::fromStdString(FormatThousands(item->GetFileSize()));
    if (FInfoLines & gilDate) {
        QFontMetrics fm(font());
        QString one = DateLine(item, false);
        lines << (fm.horizontalAdvance(one) <= FGeom.Thumb - 4 ? one : DateLine(item, true));
    }
    if (FInfoLines & gilTrayState) lines << QString::fromStdString(TrayStateText(item->GetTrayByte()));
    return lines.join(QLatin1Char('\n'));
}

void TFrameCatalogDG::DrawInfo(QPainter& p, TCatalogItem* item, const QRect& box, bool error) {
    QColor bg, fg;
    if (error) {
        bg = Bgr(255);
        fg = Bgr(65535);
    } else if (item->IsRemoteItem()) {
        bg = Bgr(15780518);
        fg = Qt::blue;
    } else if (item->HasFlag(ifThumbOutOfDate)) {
        bg = QColor(0xee, 0xee, 0xe8);
        fg = QColor(0x50, 0x50, 0x50);
    } else {
        bg = Qt::white;
        fg = Qt::black;
    }
    p.fillRect(box, bg);
    qDrawShadePanel(&p, box, palette(), true, 1);
    p.setPen(fg);
    p.setFont(font());
    QFontMetrics fm(font());
    QStringList lines = InfoText(item).split(QLatin1Char('\n'));
    QRect inner = box.adjusted(2, 2, -2, -2);
    // each line is measured once (laying out text is most of a box's cost); only a line that
    // does not fit is laid out again to be cut short
    bool wide = false;
    for (QString& l : lines) {
        l = l.trimmed();
        if (fm.horizontalAdvance(l) > inner.width()) {
            wide = true;
            l = fm.elidedText(l, Qt::ElideRight, inner.width());
        }
    }
    int y = inner.top();
    for (const QString& l : lines) {
        p.drawText(QRect(inner.left(), y, inner.width(), fm.height()), (wide ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignVCenter, l);
        y += fm.height();
    }
}

QRect TFrameCatalogDG::HoverSlotRect(int cell, int slot) const {
    QRect r = CellRect(cell);
    int n = static_cast<int>(FHoverButtons.size());
    if (r.isEmpty() || n == 0 || FGeom.InfoHeight <= 0) return {};
    int row = cell / FCols.Count;
    int top = r.top() + (RowHasBand(row) ? kTitleBandHeight : 0) + FGeom.InfoTop;
    int left = r.left() + (r.width() - FGeom.InfoWidth) / 2;
    int w = FGeom.InfoWidth / n;
    return QRect(left + slot * w, top, slot == n - 1 ? FGeom.InfoWidth - slot * w : w, FGeom.InfoHeight);
}

int TFrameCatalogDG::HoverSlotAt(int cell, QPoint pos) const {
    for (int s = 0; s < static_cast<int>(FHoverButtons.size()); ++s)
        if (HoverSlotRect(cell, s).contains(pos)) return s;
    return -1;
}

void TFrameCatalogDG::RepaintCell(int cell) {
    QRect r = CellRect(cell);
    if (!r.isEmpty() && r.intersects(viewport()->rect())) viewport()->update(r);
}

void TFrameCatalogDG::RepaintItem(TCatalogItem* item) {
    // only a cell on screen needs painting: it is looked for there (a folder may hold 100,000)
    const size_t cols = static_cast<size_t>(std::max(1, FCols.Count));
    const size_t first = std::min(FCells.size(), static_cast<size_t>(TopRow()) * cols);
    const size_t last = std::min(FCells.size(), first + static_cast<size_t>(VisibleRowCount() + 1) * cols);
    auto at = std::find(FCells.begin() + first, FCells.begin() + last, item);
    if (at != FCells.begin() + last) RepaintCell(static_cast<int>(at - FCells.begin()));
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
    return QLocale(QLocale::Japanese).toString(static_cast<qlonglong>(FOrdered.Items.size())) + QStringLiteral(" 枚");
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
