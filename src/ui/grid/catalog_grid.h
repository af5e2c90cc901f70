#pragma once
// The thumbnail grid of one folder: one custom-painted scroll area that draws only the visible
// rows, however many photos the folder holds. Its lists, order, day groups, selection and the
// batching of catalog change events are a grid model's, its pictures a byte-budgeted memory's,
// and its listing and thumbnails come from the grid producers; the widget paints, takes mouse
// and keyboard, draws the title bands, hover buttons and the status bar with the size slider,
// and runs the catalog operations on the selection or the favourites.
#include <QAbstractScrollArea>
#include <QImage>
#include <QPixmap>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "library/catalog_list.h"
#include "library/custom_folder.h"
#include "ui/grid/catalog_grid_layout.h"
#include "ui/grid/grid_model.h"
#include "ui/grid/grid_picture_memory.h"
#include "ui/grid/grid_producers.h"

class QLabel;
class QSlider;
class QStatusBar;

namespace fv {

class TCatalogItem;
class TCatalogImageCacheMaster;
class TCacheImageMaker;
class TGridThumbReader;
class TFrameCatalogDG;

// operation codes
enum : int {
    gopCopy = 0, gopMove = 1, gopRemove = 2, gopDelete = 3, gopOrientationReset = 4, gopRotateLeft = 5,
    gopRotateRight = 6, gopFlipVertical = 7, gopMirror = 8, gopFavouriteOff = 9, gopFavouriteOn = 10,
    gopFavouriteToggle = 11, gopStarSet = 12, gopStarClear = 13, gopStarReset = 14, gopDeleteReserveOn = 15,
    gopDeleteReserveOff = 16, gopDeleteReserveToggle = 17, gopPrintPlus = 18, gopPrintMinus = 19, gopPrintReset = 20
};

// info line bits
enum : int { gilFileName = 1, gilSecondLine = 2, gilFileSize = 4, gilDate = 8, gilTrayState = 16 };

// A gone item (IsItemGone) is left out of every operation and drawn red.
std::string TrayStateText(int state);

// the default boxes
bool QMessageBoxQuestion(QWidget* parent, const QString& title, const QString& text);
void QMessageBoxError(QWidget* parent, const QString& text);
QString ChooseFolderDialog(QWidget* parent, const QString& prompt, const QString& start);

// The boxes and the disk work of the operations; tests replace them.
struct TGridDialogs {
    // question box; true for Yes
    std::function<bool(const QString& title, const QString& text)> Ask;
    std::function<void(const QString& text)> Error;
    // folder chooser; empty when cancelled
    std::function<QString(const QString& prompt, const QString& start)> ChooseFolder;
    // takes a photo out of an album or tag; false when it could not
    std::function<bool(TCustomFolder* album, TCatalogItem* item)> RemoveFromAlbum;
};

// the question text of the recycle-bin and delete operations (at most ten paths listed)
QString DeleteConfirmationText(const std::vector<TCatalogItem*>& items, bool trash);

class TFrameCatalogDG : public QAbstractScrollArea {
    Q_OBJECT
public:
    struct THoverButton {
        int ImageIndex;
        QString Hint;
        std::function<void(TCatalogItem* hovered)> Action;
    };
    // listing of a folder: the grid calls the starter with a ticket; the lister hands its
    // results to DeliverListing with that ticket (stage 0 started, 1 partial, 2 final)
    using TListingStarter = std::function<void(TCustomFolder* folder, uint64_t ticket)>;
    // items whose thumbnails are missing or of another size, visible ones first
    using TThumbnailRequest = std::function<void(const std::vector<TCatalogItem*>& items, int size)>;
    // copy (false) or move (true) of files to a folder; returns the paths that failed
    using TCopyMove = std::function<std::vector<std::string>(const std::vector<TCatalogItem*>& items,
                                                             const std::string& folder, bool move)>;

    explicit TFrameCatalogDG(QWidget* parent = nullptr);
    ~TFrameCatalogDG() override;

    // registers with the catalog updater (when it runs); Stop unregisters and ends the workers
    void Start();
    void Stop();

    // folder and listing
    void SetFolder(TCustomFolder* folder);
    TCustomFolder* Folder() const { return FModel.Folder(); }
    void Refresh();
    void SetListingStarter(TListingStarter s) { FListingStarter = std::move(s); }
    void DeliverListing(uint64_t ticket, const std::vector<TCatalogItem*>& items, int stage, bool replace);
    uint64_t ListingTicket() const { return FTicket; }
    bool IsListing() const { return FListing; }
    // a listing put in order on the lister's thread with `order`: taken as it is when the grid's
    // order is still the same, else sorted again
    // needsDates: whether a photo of items has its shooting date still to be read (-1: not known)
    void DeliverOrderedListing(uint64_t ticket, std::vector<TCatalogItem*> items, TOrderedList&& ordered,
                               const TViewOrder& order, int stage, int needsDates = -1);
    // fills the grid from a list directly (no folder listing)
    void SetItems(const std::vector<TCatalogItem*>& items);

    // Ordering: a list longer than the limit is sorted on a worker while the grid keeps showing
    // the list it has (shorter ones at once); a result whose order is no longer the grid's is
    // dropped. The order of the grid's settings, and the one the shown list was sorted by.
    TViewOrder CurrentOrder() const { return FModel.CurrentOrder(); }
    const TViewOrder& ShownOrder() const { return FModel.ShownOrder(); }
    bool IsSorting() const { return FModel.IsSorting(); }
    void SetSyncSortLimit(size_t items) { FModel.SetSyncSortLimit(items); }
    int SortsOnWorker() const { return FModel.SortsOnWorker(); }

    // thumbnails
    void SetImageCache(TCatalogImageCacheMaster* cache);
    TCatalogImageCacheMaster* ImageCache() const { return FCache; }
    void SetThumbnailRequest(TThumbnailRequest r) { FThumbRequest = std::move(r); }

    // The library's own producers: a listing thread per folder shown, a thumbnail maker of the
    // grid's own feeding the image cache (the engine's, when none is given) and the engine's
    // copy and move. Without them the grid shows the items a folder holds in memory.
    void UseEngineProducers();
    TCacheImageMaker* ThumbnailMaker() const { return FMaker ? FMaker->Maker() : nullptr; }
    // depth code of the listing of a disk folder (0 the folder alone .. 3 every level below)
    void SetListingDepth(int code) { FListingDepth = code; }
    int ListingDepth() const { return FListingDepth; }

    // settings; each does nothing when the value is unchanged
    void SetSortType(int t);
    int SortType() const { return FModel.SortType(); }
    void SetAscending(bool on);
    void SetAlwaysGroup(bool on);
    bool IsGrouping() const { return FModel.IsGrouping(); }
    void SetThumbSize(int s);
    int ThumbSize() const { return FThumbSize; }
    // the edge of the pictures the cells draw, in device pixels: the thumbnail size times the
    // screen's pixel ratio (what the maker is asked for and the cache holds)
    int DeviceThumbSize() const;
    void SetInfoLines(int bits);
    int InfoLines() const { return FInfoLines; }
    void SetCreateMode(bool on);
    void SetHalfSize(bool on);
    void SetFiltering(bool on);
    void SetFilter(const TCatalogFilter& f);
    const TCatalogFilter& Filter() const { return FModel.Filter(); }
    void SetShowEmptyText(bool on, const QString& text = QString());
    void SetStatusBarVisible(bool on);
    void SetSliderVisible(bool on);
    void SetHoverButtons(std::vector<THoverButton> buttons);
    void SetListingOptions(int kinds) { FListingOptions = kinds; }
    int ListingOptions() const { return FListingOptions; }
    void SetDropEnabled(bool on);
    void SetDragEnabled(bool on) { FDragEnabled = on; }

    // lists (the UI thread does not look at 100,000 photos for whether dates are to be read)
    const TGridModel& Model() const { return FModel; }
    const std::vector<TCatalogItem*>& Loaded() const { return FModel.Loaded(); }
    bool LoadedNeedsShootingDates() const { return FModel.LoadedNeedsShootingDates(); }
    const std::vector<TCatalogItem*>& Sorted() const { return FModel.Sorted(); }
    const std::vector<TCatalogItem*>& Cells() const { return FModel.Cells(); }
    const std::vector<TCatalogItem*>& Selection() const { return FModel.Selection(); }
    bool IsSelected(TCatalogItem* item) const { return FModel.IsSelected(item); }
    int SelectedCount() const { return FModel.SelectedCount(); }
    std::vector<TCatalogItem*> ItemList(int kind, bool withoutErrors) const { return FModel.ItemList(kind, withoutErrors); }

    // focus and selection
    TCatalogItem* FocusedItem() const { return FModel.FocusedItem(); }
    int FocusedCell() const { return FModel.FocusCell(); }
    void SetFocusedItem(TCatalogItem* item, bool shift = false);
    TCatalogItem* NextItem(TCatalogItem* from, bool wrap) const { return FModel.NextItem(from, wrap); }
    TCatalogItem* PrevItem(TCatalogItem* from, bool wrap) const { return FModel.PrevItem(from, wrap); }
    void SelectByKind(int kind);
    void SelectAll();
    void ClearSelection();
    void ScrollToDay(TDateTime day);

    // operations on the selection (scope 0) or the favourites (scope 1)
    void Operation(int scope, int code);
    void SetDialogs(TGridDialogs d) { FDialogs = std::move(d); }
    void SetCopyMove(TCopyMove c) { FCopyMove = std::move(c); }
    void ShowPropertySheet();

    // catalog change events (from the catalog updater, on the UI thread)
    void CatalogItemChanged(TCatalogItem* item, int code);

    // geometry, for the owner and tests
    const TGridGeometry& Geometry() const { return FGeom; }
    const TGridColumns& Columns() const { return FCols; }
    int RowCount() const { return FModel.RowCount(); }
    bool RowHasBand(int row) const { return FModel.RowHasBand(row); }
    int TopRow() const;
    void SetTopRow(int row);
    int MaxTopRow() const;
    int VisibleRowCount() const;  // rows that fit completely
    QRect CellRect(int cell) const;  // viewport coordinates (may lie outside)
    int CellAt(QPoint viewportPos) const;  // -1 outside any cell
    int CellOf(TCatalogItem* item) const { return FModel.CellOf(item); }
    QRect ThumbRect(int cell) const;
    QRect DirectButtonRect(int row, int which) const;  // 0 album, 1 slide
    QString BandText(int row) const;
    // The marks of a cell (stars, favourite, reservations, ...) in points: the icon, where it
    // goes, how many stars it stands for (0: one icon), and a count written beside it (0: none).
    struct TCellMark {
        int Icon;
        QRect Rect;
        int Stars;
        int Count;
    };
    std::vector<TCellMark> MarkLayout(TCatalogItem* item, const QRect& body, const QRect& info) const;
    std::vector<TCellMark> MarkLayoutOf(int cell) const;  // viewport coordinates
    // the info box of a cell body (empty without info lines)
    QRect InfoRect(const QRect& body) const;
    QStatusBar* StatusBar() const { return FStatus; }
    QSlider* SizeSlider() const { return FSlider; }
    QString CountText() const;
    int PaintedCells() const { return FPaintedCells; }
    int FullRepaints() const { return FFullRepaints; }
    int PendingChangeCount() const { return FModel.PendingChangeCount(); }
    bool HasThumbnail(TCatalogItem* item) const { return FThumbs.Has(item); }  // in the grid's memory
    QImage ThumbnailImage(TCatalogItem* item) const;  // the picture in memory (null when none)
    // The pictures in memory are held to a byte budget (0: automatic, 64 MB); the least recently
    // drawn leave first, never those on screen. While the cells are hidden (the viewer covers
    // the grid) only the pictures of the grid's own screen stay.
    size_t ThumbnailBytes() const { return FThumbs.Bytes(); }
    size_t ThumbnailBudget() const;
    void SetThumbnailBudget(size_t bytes);
    void KeepOnlyScreenPictures();
    // a picture is on its way (read or being made): the cell leaves its box empty meanwhile
    // instead of showing the type icon
    bool PictureComing(TCatalogItem* item, bool error) const;
    size_t MemoryBytes() const;  // lists and per-row data

    // owner notifications
    std::function<void(TCatalogItem*)> OnFocusChanged;
    std::function<void(TCustomFolder*)> OnFolderShown;
    std::function<void(int stage)> OnListingState;
    std::function<void(TCustomFolder*, int count)> OnListLoaded;
    std::function<void(TCatalogItem*)> OnOpenItem;
    std::function<void(TCatalogItem*)> OnRenameFocused;  // F2
    std::function<void(const std::vector<TCatalogItem*>&, const QString& title, int titleKind, int directKind)> OnSendGroup;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    bool viewportEvent(QEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dragMoveEvent(QDragMoveEvent* e) override;
    void dropEvent(QDropEvent* e) override;

    // drawing steps, one cell
    void DrawCell(QPainter& p, int cell, const QRect& r, bool rowBand);
    void DrawBand(QPainter& p, int row, const QRect& rowRect);
    void DrawMarks(QPainter& p, TCatalogItem* item, const QRect& cellBody, const QRect& info);
    void DrawInfo(QPainter& p, TCatalogItem* item, const QRect& box, bool error);
    void DrawFocusMark(QPainter& p, const QRect& body);

    // listing and layout
    void StartListing();
    // puts the loaded list in the current order: at once (and lays it out), or on the worker
    void Resort();
    void SortArrived(uint64_t generation, TOrderedList&& list);
    void ApplyOrdered(TOrderedList&& list, const TViewOrder& order);
    // a finished listing whose list is on screen now
    void ListShown();
    void CancelSort();
    // runs a call on the UI thread later, unless the grid is gone by then
    TGridPost Post();
    void Relayout(bool keepView);
    void UpdateScrollBar();
    void RepaintItem(TCatalogItem* item);
    void RepaintCell(int cell);
    void RequestThumbnails(bool scrolledUp);
    void OnChangeTimer();
    void RemoveItems(const std::vector<TCatalogItem*>& items);
    void ForgetThumbnail(TCatalogItem* item);
    void StartListingThread(TCustomFolder* folder, uint64_t ticket);
    // the items a folder holds in memory, as the final listing
    void DeliverHeldItems(TCustomFolder* folder, uint64_t ticket);
    void StartMaker();
    void SetFocusCell(int cell, bool shift, bool ctrl, bool keepSelection);
    // the least scroll that shows the whole cell (a row taller than the screen: its top)
    void ScrollCellIntoView(int cell);
    // the popup over the focused photo (context-menu key, Shift+F10)
    void ShowContextMenuForFocus();
    void TrimThumbnails();
    void ClearThumbnails();
    void SelectRange(int fromCell, int toCell, bool add);
    void NotifyFocus();
    void UpdateStatus();
    int InfoLineHeights() const;
    QString InfoText(TCatalogItem* item) const;
    QString DateLine(TCatalogItem* item, bool twoLines) const;
    void ThumbnailsArrived(std::vector<std::pair<TCatalogItem*, QImage>> pics, int size);
    bool RunFileWork(const std::function<void()>& work);
    void DeleteOrTrash(const std::vector<TCatalogItem*>& items, bool trash);
    void RemoveFromAlbum(const std::vector<TCatalogItem*>& items);
    void CopyOrMove(const std::vector<TCatalogItem*>& items, bool move);
    void StartDrag();
    int HoverSlotAt(int cell, QPoint pos) const;
    QRect HoverSlotRect(int cell, int slot) const;

    // lists, order, selection and the change bursts
    TGridModel FModel;
    mutable std::vector<uint16_t> FTitleWidth;
    QTimer FChangeTimer;
    QTimer FSizeTimer;

    // settings
    int FThumbSize = 80;
    int FListingOptions = 99;
    int FInfoLines = 0;
    bool FShowEmptyText = false;
    QString FEmptyText;
    bool FCreateMode = true;
    bool FHalfSize = false;
    bool FDragEnabled = true;
    bool FDropEnabled = true;
    std::vector<THoverButton> FHoverButtons;

    TGridGeometry FGeom;
    TGridColumns FCols;

    // listing
    TListingStarter FListingStarter;
    uint64_t FTicket = 0;
    bool FListing = false;
    bool FListShownPending = false;  // a finished listing waits for its sort
    int FListingDepth = 0;
    bool FUseEngine = false;
    std::unique_ptr<TGridLister> FLister;

    // thumbnails: a bounded memory of drawn pictures, filled by the reader thread
    TCatalogImageCacheMaster* FCache = nullptr;
    std::unique_ptr<TGridThumbReader> FReader;
    TThumbnailRequest FThumbRequest;
    std::unique_ptr<TGridMakerFeed> FMaker;
    TGridThumbRequests FRequests;  // a size change holds the maker back 320 ms
    uint64_t FLayoutGeneration = 0;
    TPictureMemory<QImage> FThumbs;
    size_t FThumbBudget = 0;  // 0: automatic
    std::unordered_map<TCatalogItem*, QPixmap> FInfoPictures;  // drawn info boxes of recent cells
    int FLastTopRow = 0;
    qreal FPictureRatio = 0;  // the pixel ratio the pictures in memory were read for

    // mouse
    int FHoverCell = -1;
    int FHoverSlot = -1;
    int FPressedSlot = -1;
    int FHotButton = -1;      // row * 2 + which
    int FPressedButton = -1;
    QPoint FPressPos;
    bool FPressed = false;
    bool FPressMoved = false;
    bool FFavouriteHighlight = false;
    bool FHadFocus = false;

    TGridDialogs FDialogs;
    TCopyMove FCopyMove;
    QString FLastFolder;

    QStatusBar* FStatus = nullptr;
    QLabel* FCountPanel = nullptr;
    QLabel* FPathPanel = nullptr;
    QLabel* FSmallIcon = nullptr;
    QLabel* FLargeIcon = nullptr;
    QSlider* FSlider = nullptr;
    QWidget* FEmptyHost = nullptr;

    QImage FBandStrip;
    int FPaintedCells = 0;
    int FFullRepaints = 0;
    bool FInRelayout = false;
    bool FRegistered = false;
    std::thread FMimeReader;  // the first grid of the program reads the MIME database meanwhile
};

}  // namespace fv
