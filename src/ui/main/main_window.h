#pragma once
// The main window on the skinned frame: the library page (targets column on the left with its
// splitter and abort panel, toolbar and catalog view on the right, the menu bar on request), the
// command set with its enabling rules recomputed on idle, key routing, the layout kept in the
// configuration store, the idle state machine with the first-start steps, the queue of commands
// that other starts of the program forward, and a close that waits for the workers.
#include <QAction>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "library/catalog_list.h"
#include "ui/skin/skin_form.h"

class QMenu;
class QMenuBar;
class QPushButton;
class QSplitter;
class QToolBar;
class QToolButton;

namespace fv {

class TForwardServer;
class TFrameCatalogView;
class TLiveView;
class TCustomFolder;
class TCatalogItem;
class TFolvaneConfigItem;
class TAlbumList;
struct TWindowPlacement;
class TFrameTargetsEx;
class TCalendarRegistrar;
class TShootingDateReader;
class TFolder;

// tool modes
enum : int { tmNone = 0, tmExifInfo = 1, tmEffect = 2, tmPrint = 3 };

// The boxes the window shows; tests replace them.
struct TMainDialogs {
    std::function<void(const QString& text)> Information;
    std::function<void(const QString& text)> Warning;
    std::function<bool(const QString& text)> AskWarning;  // Yes/No, true for Yes
    std::function<void()> Beep;
    std::function<bool(const QString& url)> OpenUrl;
};

class TFolvaneMain2 : public TSkinForm {
    Q_OBJECT
public:
    explicit TFolvaneMain2(QWidget* parent = nullptr);
    ~TFolvaneMain2() override;

    // Listens for second starts on the instance socket (no window = nobody listening).
    void StartListening(const std::string& socketPath);
    // A forwarded message on the UI thread: restore and raise; a non-empty text joins the queue.
    void ReceiveForwarded(const std::string& text, bool hasData);
    std::deque<std::string> PendingCommands() const;
    // takes the oldest pending command; false when none is queued
    bool TakePendingCommand(std::string& out);
    // Replaces the built-in processing of queued commands (tests); called on the UI thread.
    void SetCommandProcessor(std::function<void(const std::string&)> proc);

    QProgressBar* ProgressBar() const { return FProgress; }
    TFrameCatalogView* CatalogView() const { return FCatalog; }
    TFrameTargetsEx* TargetsFrame() const { return FTargets; }
    QWidget* TargetPanel() const { return FTargetPanel; }
    int WantedTargetPanelWidth() const { return FTargetPanelWidth; }
    QWidget* PanelAbort() const { return FPanelAbort; }
    QToolBar* ToolBarMain() const { return FToolBar; }
    // null until the menu bar first shows
    QMenuBar* MainMenu() const { return FMenuBar; }
    QMenu* PopupMenu() const { return FPopup; }
    QSplitter* Splitter() const { return FSplitter; }
    // an action by its name ("AcShowViewer"); null for an unknown name
    QAction* Action(const QString& name) const;
    const std::map<QString, QAction*>& Actions() const { return FActions; }
    TMainDialogs& Dialogs() { return FDialogs; }

    // the state of the window
    bool Ready() const { return FReady; }
    int ToolMode() const { return FToolMode; }
    bool IsViewerShown() const;
    TCustomFolder* ShownFolder() const;
    TCatalogItem* CurrentItem() const;
    double PendingViewDate() const { return FPendingViewDate; }
    bool Busy() const { return FBusy; }
    void SetBusy(bool on) { FBusy = on; }

    // the commands
    void ShowFolder(TCustomFolder* folder);
    void ShowViewer(bool show);
    // photos and folders from the command line or a second start: a folder is shown in the grid,
    // a photo in the viewer with its folder behind it; the last one given wins
    void OpenPaths(const std::vector<std::string>& paths);
    // what the first start was given: the problems are shown once the window is ready, the paths
    // are opened at the first idle instead of the last folder shown
    void SetStartPaths(std::vector<std::string> paths, std::vector<std::string> problems);
    void SetToolMode(int mode);
    void JumpHistory(bool forward);
    void ShowUpdate();
    void SetupActions();
    // one pass of the idle state machine (runs from the idle timer)
    void IdleStep();
    // the first-start set-up of the shown window (runs once, from the first show)
    void FormShow();
    // the layout and view settings from and to the configuration item (the engine's when null)
    void LoadWindowSettings(TFolvaneConfigItem* config = nullptr);
    void SaveWindowSettings(TFolvaneConfigItem* config = nullptr);
    // the key routing: may this key be a shortcut with that widget focused?
    bool KeyMayBeShortcut(int key, Qt::KeyboardModifiers mods, QWidget* focus) const;
    // The stops of Tab and Shift+Tab in order: the target column's titles and trees, the abort
    // button while it shows, the grid (the viewer in its place while it is open) and the size slider.
    // Only what shows and takes the focus; Tab after the last comes back to the first.
    std::vector<QWidget*> TabStops() const;
    // the dialog of the thumbnail cache settings (AcToolUseFileCache)
    void ShowCacheSettings();
    void ShowHelp();
    void ShowAbout();
    // asks whether the window may close; on yes the shut-down runs (settings saved, workers ended)
    bool FormCloseQuery();

    // Files the photos of a folder and the folders below it in the calendar (or takes them out)
    // on a worker; requests made meanwhile wait their turn. PanelAbort shows while one runs and
    // its button ends it and drops the waiting ones.
    void RegisterInCalendar(TCustomFolder* folder, bool registered);
    bool RegistrationRunning() const { return FRegistrar != nullptr; }
    TLiveView* LiveView() const { return FLive.get(); }  // null before the catalog came up
    void AbortRegistration();
    // A folder sorted or grouped by shooting date whose photos' dates are not all known: they are
    // read on a worker and the catalog is put in order once they are in.
    void ReadShootingDatesIfNeeded();
    bool ReadingShootingDates() const { return FDateReader != nullptr; }

    static constexpr int kTargetPanelWidth = 240;
    static constexpr int kMinTargetPanelWidth = 200;

signals:
    void closed();
    void commandQueued();
    void folderShown(fv::TCustomFolder* folder);

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;
    bool focusNextPrevChild(bool next) override;
    void BackClick() override;
    void ForwardClick() override;
    void RefreshClick() override;
    void HelpClick() override;
    void CanChangeTab(int newTab, bool& allow) override;
    void TabChanged(int newTab) override;

private:
    // building (main_actions.cpp)
    QAction* AddAction(const char* name, const QString& caption, std::initializer_list<QKeySequence> keys,
                       std::function<void()> handler, bool checkable = false);
    void CreateActions();
    void BuildMenus(bool captions);
    void ShowMenuBar(bool on);
    void BuildToolBar();
    void BuildPopup();
    void UpdateTrashCaptions(bool tagFolder);
    void UpdateJumpTagMenu();
    // the catalog's popup at a point of the catalog view (the grid, or the viewer over it)
    void OpenCatalogPopup(const QPoint& pos);
    // catalog link (main_window.cpp)
    void CatalogFocusChanged(TCatalogItem* item);
    void CatalogFolderShown(TCustomFolder* folder);
    void CatalogListLoaded(TCustomFolder* folder, int count);
    void FolderChosen(TCustomFolder* folder);
    void DateChosen(double day);
    void SetMarkOnly(bool on);
    void AutoContChanged(bool on);
    void CatalogOperation(int scope, int code);
    void NotifyItemChanged(TCatalogItem* item, int code);
    void ShowProgress(bool active, int percent);
    void ApplyMinimumSize();
    void ApplyTargetPanelWidth();
    // idle branches
    void FirstIdle();
    void RunFirstStartTasks();
    void ProcessCommandQueue();
    void ProcessLibraryCommand(const std::string& text);
    void StopAllThreads();
    // calendar registration (main_register.cpp)
    void StartNextRegistration();
    void CheckRegistration();
    void CheckShootingDates();

    std::unique_ptr<TForwardServer> FServer;
    std::unique_ptr<TLiveView> FLive;  // folders that change on disk, while the engine runs
    mutable std::mutex FQueueLock;
    std::deque<std::string> FPending;
    std::function<void(const std::string&)> FProcessor;
    QProgressBar* FProgress = nullptr;
    bool FClosing = false;
    bool FClosed = false;

    // layout
    QWidget* FPanelLibrary = nullptr;
    QMenuBar* FMenuBar = nullptr;
    QSplitter* FSplitter = nullptr;
    QWidget* FTargetPanel = nullptr;
    QWidget* FPanelAbort = nullptr;
    QPushButton* FBtnAbort = nullptr;
    QLabel* FAbortText = nullptr;
    QWidget* FPanelCatalog = nullptr;
    QToolBar* FToolBar = nullptr;
    QAction* FBtnShowViewer = nullptr;
    QAction* FBtnMarkChange = nullptr;
    QAction* FSplViewer = nullptr;
    QAction* FSplRotate = nullptr;
    QAction* FSplTray = nullptr;
    QMenu* FPopup = nullptr;
    QMenu* FPopupDebug = nullptr;
    QAction* FPopupDebugSep = nullptr;
    QMenu* FJumpTagMenu = nullptr;
    TFrameCatalogView* FCatalog = nullptr;
    TFrameTargetsEx* FTargets = nullptr;
    std::map<QString, QAction*> FActions;
    TMainDialogs FDialogs;
    std::vector<std::string> FStartPaths, FStartProblems;
    int FOpenPathToken = 0;

    // state
    bool FReady = false;
    bool FShownOnce = false;
    int FToolMode = tmNone;
    bool FBusy = false;
    bool FCloseRequested = false;
    bool FUpdaterChanged = false;
    bool FLibTabEntered = false;
    bool FHistoryOn = false;
    double FPendingViewDate = 0;
    int FTargetPanelWidth = kTargetPanelWidth;
    bool FDebugMode = false;
    bool FDebugInfoAllowed = false;
    TCatalogFilter FQuery;
    QTimer FIdleTimer;
    TCatalogItem* FJumpTagItem = nullptr;

    // calendar registration
    std::unique_ptr<TCalendarRegistrar> FRegistrar;
    std::deque<std::pair<TFolder*, bool>> FRegistrations;
    QTimer FRegistrationTimer;
    // shooting dates read for the shown folder
    std::unique_ptr<TShootingDateReader> FDateReader;
    TCustomFolder* FDateFolder = nullptr;
    bool FDatesRelisted = false;
    QTimer FDateTimer;
};

// Whether a stored window-placement record can be applied on screens with these work areas.
bool PlacementUsable(const TWindowPlacement& p, const std::vector<QRect>& screens);
// The eight sample tags of a first start, under the tag root (those present are kept).
void AddSampleTags(TAlbumList* albums);

// the process-wide first-idle flag (set again for tests that start a second window)
void ResetFirstIdleFlag();

}  // namespace fv
