#include "ui/main/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>

#include "core/config.h"
#include "core/engine.h"
#include "core/file_functions.h"
#include "core/log.h"
#include "core/startup.h"
#include "core/threads.h"
#include "library/catalog_updater.h"
#include "thumbs/engine_image_cache.h"
#include "library/album.h"
#include "library/calendar.h"
#include "library/calendar_register.h"
#include "library/catalog_list_dates.h"
#include "library/catalog_item.h"
#include "library/custom_folder.h"
#include "library/folder_tree_list.h"
#include "library/history_list.h"
#include "library/item_ops.h"
#include "library/library_engine.h"
#include "platform/instance.h"
#include "platform/launch_args.h"
#include "platform/stall_activity.h"
#include "service/start_params.h"
#include "ui/dialogs/cache_size_form.h"
#include "ui/grid/catalog_view.h"
#include "ui/viewer/frame_view.h"
#include "ui/grid/live_view.h"
#include "ui/main/splash_form.h"
#include "ui/targets/frame_targets.h"

namespace fv {

namespace {
bool gFirstIdle = true;
constexpr int kIdleIntervalMs = 100;
}  // namespace

void ResetFirstIdleFlag() { gFirstIdle = true; }

TFolvaneMain2::TFolvaneMain2(QWidget* parent) : TSkinForm(parent) {
    TStallActivity mark("MainWindowCreate");
    setObjectName(kMainWindowClassName);
    setWindowTitle(QString::fromUtf8(kApplicationTitle));
    resize(1024, 768);

    FDialogs.Information = [this](const QString& t) { QMessageBox::information(this, windowTitle(), t); };
    FDialogs.Warning = [this](const QString& t) { QMessageBox::warning(this, windowTitle(), t); };
    FDialogs.AskWarning = [this](const QString& t) {
        return QMessageBox::warning(this, windowTitle(), t, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    FDialogs.Beep = [] { QApplication::beep(); };
    FDialogs.OpenUrl = [](const QString& url) { return QDesktopServices::openUrl(QUrl(url)); };

    // PanelLibrary: the menu bar (made when first asked for) over PanelLocal
    auto* root = new QVBoxLayout(ClientArea());
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    FPanelLibrary = new QWidget(ClientArea());
    FPanelLibrary->setObjectName("PanelLibrary");
    root->addWidget(FPanelLibrary);
    auto* lib = new QVBoxLayout(FPanelLibrary);
    lib->setContentsMargins(0, 0, 0, 0);
    lib->setSpacing(0);

    // PanelLocal: the targets column and the catalog, split by Spl1
    FSplitter = new QSplitter(Qt::Horizontal, FPanelLibrary);
    FSplitter->setObjectName("Spl1");
    FSplitter->setChildrenCollapsible(false);
    lib->addWidget(FSplitter, 1);

    FTargetPanel = new QWidget(FSplitter);
    FTargetPanel->setObjectName("FrameTargetsEx1");
    auto* left = new QVBoxLayout(FTargetPanel);
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(0);
    FTargets = new TFrameTargetsEx(FTargetPanel);
    left->addWidget(FTargets, 1);
    FPanelAbort = new QWidget(FTargetPanel);
    FPanelAbort->setObjectName("PanelAbort");
    auto* abort = new QHBoxLayout(FPanelAbort);
    abort->setContentsMargins(4, 2, 4, 2);
    FAbortText = new QLabel(QStringLiteral("　写真を検索して登録しています。"), FPanelAbort);
    FAbortText->setWordWrap(true);
    FBtnAbort = new QPushButton(QStringLiteral("中止"), FPanelAbort);
    FBtnAbort->setObjectName("BtnAbort");
    abort->addWidget(FAbortText, 1);
    abort->addWidget(FBtnAbort);
    FPanelAbort->hide();
    left->addWidget(FPanelAbort);
    FTargetPanel->setMinimumWidth(120);

    FPanelCatalog = new QWidget(FSplitter);
    FPanelCatalog->setObjectName("PanelCatalog");
    auto* right = new QVBoxLayout(FPanelCatalog);
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(0);
    FToolBar = new QToolBar(FPanelCatalog);
    FToolBar->setObjectName("ToolBarMain");
    FToolBar->setFixedHeight(28);
    FToolBar->setIconSize(QSize(16, 16));
    // a lighter and a darker shade of the targets' colour
    QColor base = FTargetPanel->palette().color(QPalette::Window);
    FToolBar->setStyleSheet(QStringLiteral("QToolBar#ToolBarMain { border: 0; background: qlineargradient(x1:0, y1:0, x2:0, "
                                           "y2:1, stop:0 %1, stop:1 %2); }")
                                .arg(base.lighter(112).name(), base.darker(112).name()));
    right->addWidget(FToolBar);
    FCatalog = new TFrameCatalogView(FPanelCatalog);
    FCatalog->setObjectName("FrameCatalogView1");
    right->addWidget(FCatalog, 1);
    FSplitter->setStretchFactor(0, 0);
    FSplitter->setStretchFactor(1, 1);
    FSplitter->setSizes({kTargetPanelWidth, 1024 - kTargetPanelWidth});

    FProgress = new QProgressBar(FCatalog->StatusBar());
    FProgress->setObjectName("PBar1");
    FProgress->setRange(0, 100);
    FProgress->setMaximumWidth(200);
    FProgress->hide();
    FCatalog->StatusBar()->addPermanentWidget(FProgress);

    CreateActions();
    BuildMenus(true);
    BuildToolBar();
    BuildPopup();

    // the skin: the library tab first; the home page's tab waits for its frame, the music tab for its command
    SetNetTabEnabled(false);
    SetBgmTabEnabled(false);
    ApplyMinimumSize();

    // the engine master's progress: shown exactly while work is active and the status bar shows
    if (TThreadMaster* m = CorvaThreadMaster()) {
        m->StartWatcher(std::string(kMainWindowClassName) + kApplicationTitle,
                        [this](bool active, int percent) { ShowProgress(active, percent); });
    }
    qApp->installEventFilter(this);
    FIdleTimer.setObjectName("MainIdleTimer");  // the stall log names member timers by their names
    FIdleTimer.setInterval(kIdleIntervalMs);
    connect(&FIdleTimer, &QTimer::timeout, this, &TFolvaneMain2::IdleStep);
}

TFolvaneMain2::~TFolvaneMain2() {
    qApp->removeEventFilter(this);
    FIdleTimer.stop();
    FRegistrationTimer.stop();
    FRegistrar.reset();
    FDateTimer.stop();
    FDateReader.reset();
    if (FServer) FServer->Stop();
    if (TThreadMaster* m = CorvaThreadMaster()) m->StopWatcher();
    FCatalog->OnFocusChanged = nullptr;
    FCatalog->OnFolderShown = nullptr;
    FCatalog->OnListLoaded = nullptr;
}

void TFolvaneMain2::ApplyMinimumSize() {
    // 1024 x 768 at least, each clipped to the work area; a window larger than the area fills it
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    setMinimumSize(std::min(1024, area.width()), std::min(768, area.height()));
    QRect g = geometry();
    if (area.width() < g.width()) g.setRect(area.x(), g.y(), area.width(), g.height());
    if (area.height() < g.height()) g.setRect(g.x(), area.y(), g.width(), area.height());
    if (g != geometry()) setGeometry(g);
}

void TFolvaneMain2::ShowProgress(bool active, int percent) {
    if (!FCatalog->StatusBar()->isVisible()) return;
    FProgress->setValue(percent);
    FProgress->setVisible(active);
}

// ---------------------------------------------------------------------------------------------
// second starts and the command queue

void TFolvaneMain2::StartListening(const std::string& socketPath) {
    FServer = std::make_unique<TForwardServer>();
    QPointer<TFolvaneMain2> self(this);
    // the answer is always 1; the message itself is handled on the UI thread
    FServer->Start(socketPath, [self](const TForwardMessage& m) -> uint32_t {
        std::string text = m.Text;
        bool hasData = m.HasData;
        QMetaObject::invokeMethod(qApp, [self, text, hasData] {
            if (self) self->ReceiveForwarded(text, hasData);
        }, Qt::QueuedConnection);
        return 1;
    });
}

void TFolvaneMain2::ReceiveForwarded(const std::string& text, bool hasData) {
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    if (!isVisible()) show();
    if (QGuiApplication::platformName() != "offscreen") {
        raise();
        activateWindow();
    }
    if (!hasData || text.empty()) return;
    WriteLogText("TFolvaneMain2.WMCopyData", text);
    {
        std::lock_guard g(FQueueLock);
        FPending.push_back(text);
    }
    emit commandQueued();
    if (FProcessor) QMetaObject::invokeMethod(this, &TFolvaneMain2::ProcessCommandQueue, Qt::QueuedConnection);
}

std::deque<std::string> TFolvaneMain2::PendingCommands() const {
    std::lock_guard g(FQueueLock);
    return FPending;
}

bool TFolvaneMain2::TakePendingCommand(std::string& out) {
    std::lock_guard g(FQueueLock);
    if (FPending.empty()) return false;
    out = FPending.front();
    FPending.pop_front();
    return true;
}

void TFolvaneMain2::SetCommandProcessor(std::function<void(const std::string&)> proc) {
    FProcessor = std::move(proc);
    QMetaObject::invokeMethod(this, &TFolvaneMain2::ProcessCommandQueue, Qt::QueuedConnection);
}

void TFolvaneMain2::ProcessCommandQueue() {
    if (FClosing || FBusy) return;
    if (FProcessor) {
        std::string cmd;
        while (TakePendingCommand(cmd)) {
            try {
                FProcessor(cmd);
            } catch (const std::exception& e) {
                WriteLogFailed("TFolvaneMain2.ProcessPendingCommands", e);
            }
        }
        return;
    }
    if (!FReady) return;
    std::string cmd;
    if (!TakePendingCommand(cmd)) return;
    try {
        ProcessLibraryCommand(cmd);
    } catch (const std::exception& e) {
        WriteLogFailed("TFolvaneMain2.ProcessCommandQueue", e);
    }
}

void TFolvaneMain2::ProcessLibraryCommand(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find("mode=callax") != std::string::npos) {
        // a page script call: it belongs to the home page, which this window does not show yet
        WriteLogText("TFolvaneMain2.ProcessCommandQueue", "Ignored ( " + text + " )");
        return;
    }
    // photos and folders a second start was given (its paths arrive absolute)
    {
        std::vector<std::string> items;
        for (const std::string& item : SplitCommaText(text))
            if (item.starts_with('/')) items.push_back(item);
        TLaunchArgs launch = SplitLaunchArgs(items, "/");
        if (!launch.Paths.empty()) OpenPaths(launch.Paths);
    }
    // the mode item of the comma-separated key=value list
    int mode = -1;
    for (std::string item : SplitCommaText(text)) {
        if (item.size() >= 2 && item.front() == '"' && item.back() == '"') item = item.substr(1, item.size() - 2);
        auto eq = item.find('=');
        if (eq == std::string::npos) continue;
        std::string key = item.substr(0, eq);
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (key == "mode") mode = ModeFromName(item.substr(eq + 1));
    }
    switch (mode) {
        case fvmCreateFolvane:
        case fvmAppendFolvane:
        case fvmStartCreateFolvane:
        case fvmStartAppendFolvane:
        case fvmStartChangeJacket:
        case fvmStartChangeBodyIcon:
            SetToolMode(tmNone);
            SetActiveTab(1);
            break;
        case fvmStartAppendFolvaneBgm:
            SetActiveTab(2);
            break;
        case fvmClose:
            FCloseRequested = true;
            break;
        default:
            // page and session commands are the service's; nothing for the library to do
            WriteLogText("TFolvaneMain2.ProcessCommandQueue", "Not a library command ( " + text + " )");
            break;
    }
}

// ---------------------------------------------------------------------------------------------
// set-up

void TFolvaneMain2::showEvent(QShowEvent* e) {
    TSkinForm::showEvent(e);
    if (!FShownOnce) {
        FShownOnce = true;
        FormShow();
    }
}

void TFolvaneMain2::FormShow() {
    TStallActivity mark("FormShow");
    try {
        FDebugMode = FVApiParams().DebugMode();
        FDebugInfoAllowed = FVApiParams().DebugInfoAllowed();
    } catch (const std::exception&) {
        FDebugMode = FDebugInfoAllowed = false;
    }
    // the catalog: listing threads, the thumbnail cache and maker, the updater's change events
    // (the catalog view lists and makes thumbnails with the engine's producers itself)
    if (CorvaEngineExists() && CatalogUpdaterRunning()) FCatalog->Start();
    // folders that change on disk update the grid and the calendar by themselves
    if (CorvaEngineExists()) {
        FLive = std::make_unique<TLiveView>(FCatalog);
        FLive->Start();
    }
    auto viewFocus = FCatalog->OnFocusChanged;
    FCatalog->OnFocusChanged = [this, viewFocus](TCatalogItem* item) {
        if (viewFocus) viewFocus(item);
        CatalogFocusChanged(item);
    };
    FCatalog->OnFolderShown = [this](TCustomFolder* f) { CatalogFolderShown(f); };
    FCatalog->OnListLoaded = [this](TCustomFolder* f, int count) { CatalogListLoaded(f, count); };
    connect(FTargets, &TFrameTargetsEx::folderChosen, this, &TFolvaneMain2::FolderChosen);
    connect(FTargets, &TFrameTargetsEx::dateChosen, this, &TFolvaneMain2::DateChosen);
    connect(FTargets, &TFrameTargetsEx::filterResetRequested, this, [this] {
        if (FReady && Action("AcShowMarkOnly")->isChecked()) Action("AcShowMarkOnly")->trigger();
    });
    if (CorvaEngineExists()) FTargets->Setup();
    connect(FBtnAbort, &QPushButton::clicked, this, &TFolvaneMain2::AbortRegistration);
    connect(FTargets, &TFrameTargetsEx::calendarRegistration, this, &TFolvaneMain2::RegisterInCalendar);

    try {
        LoadWindowSettings();
    } catch (const std::exception& e) {
        WriteLogFailed(std::string(kMainWindowClassName) + ".LoadWindowSettings", e);
    }
    ShowViewer(false);
    if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
    // corrections changed on the shown photo: its automatic-correction check follows
    if (CatalogUpdaterRunning()) {
        QPointer<TFolvaneMain2> self(this);
        RegisterCatalogUpdateEvent(this, kMainWindowClassName, true, [self](TCatalogItem* item, uint8_t type) {
            if (!self || type != cuCorrections || item != self->CurrentItem()) return;
            self->Action("AcImageAutoCont")->setChecked(item->GetCorrection().Filter3 == '#');
        }, 1);
    }
    RunFirstStartTasks();
    FReady = true;
    try {
        SetTitleBandShown(FVApiParams().DispFrame());
    } catch (const std::exception&) {
        // without the parameter store the band stays as it is
    }
    SetActiveTab(1);
    SetupActions();
    if (!FStartProblems.empty()) {
        QString text = QStringLiteral("次の項目を開けませんでした。\n\n");
        for (const std::string& line : FStartProblems) text += QString::fromStdString(line) + '\n';
        FStartProblems.clear();
        // once the window is up; the program starts as usual
        QTimer::singleShot(0, this, [this, text] {
            if (FDialogs.Warning) FDialogs.Warning(text);
        });
    }
    // the column gets its width once the window has its first layout
    QTimer::singleShot(0, this, [this] { ApplyTargetPanelWidth(); });
    FIdleTimer.start();
}

void TFolvaneMain2::ApplyTargetPanelWidth() {
    QList<int> sizes = FSplitter->sizes();
    int total = sizes.value(0) + sizes.value(1);
    if (total <= 0) return;
    // the catalog keeps at least half of the column pair
    int w = std::min(FTargetPanelWidth, std::max(kMinTargetPanelWidth + 1, total / 2));
    FSplitter->setSizes({w, std::max(1, total - w)});
}

void TFolvaneMain2::RunFirstStartTasks() {
    TFolvaneConfigItem* config = CorvaConfig();
    TAlbumList* albums = CorvaAlbums();
    if (!config || !albums) return;
    if (!config->GetShortCutCreated()) {
        // the desktop entries of this platform come with the program's installation
        config->SetShortCutCreated(true);
    }
    if (!config->GetSampleTagAdded()) {
        try {
            AddSampleTags(albums);
        } catch (const std::exception& e) {
            WriteLogFailed("AddSampleTag", e);
        }
        config->SetSampleTagAdded(true);
    }
}

// ---------------------------------------------------------------------------------------------
// catalog link

TCatalogItem* TFolvaneMain2::CurrentItem() const { return FCatalog->FocusedItem(); }
TCustomFolder* TFolvaneMain2::ShownFolder() const { return FCatalog->Folder(); }
bool TFolvaneMain2::IsViewerShown() const { return FCatalog->IsViewerOpen(); }

void TFolvaneMain2::CatalogFocusChanged(TCatalogItem* item) {
    if (!FReady || !item) return;
    double date = item->GetShootingDate();
    if (date > 0) {
        if (TFolvaneConfigItem* c = CorvaConfig()) c->SetLastViewDate(date);
    }
    Action("AcImageAutoCont")->setChecked(item->GetCorrection().Filter3 == '#');
    Action("AcImageMarkChange")->setChecked(item->IsMarked());
}

void TFolvaneMain2::CatalogFolderShown(TCustomFolder* folder) {
    if (FLive) FLive->FolderShown(folder);
    if (!FReady && !FHistoryOn) return;
    if (FHistoryOn && folder) {
        if (THistoryList* h = CorvaHistorys()) h->Add(folder);
    }
    emit folderShown(folder);
}

void TFolvaneMain2::CatalogListLoaded(TCustomFolder*, int) {
    if (FPendingViewDate > 0) {
        FCatalog->ScrollToDay(FPendingViewDate);
        FPendingViewDate = 0;
    }
    // the list that follows the dates read is not read again (a file whose date cannot be read
    // would otherwise be tried for ever)
    if (FDatesRelisted)
        FDatesRelisted = false;
    else
        ReadShootingDatesIfNeeded();
}

void TFolvaneMain2::FolderChosen(TCustomFolder* folder) {
    if (!FReady || !folder) return;
    TStallActivity mark("ShowFolder");
    if (folder->GetCategory() == fcAlbum && folder->GetAlbumType() == atTags && folder == FCatalog->Folder()) {
        // a tag folder is shown afresh so that the catalog reloads
        FCatalog->SetFolder(nullptr);
    }
    FCatalog->SetFolder(folder);
    SetupActions();
}

void TFolvaneMain2::DateChosen(double day) {
    if (!FReady) return;
    FCatalog->ScrollToDay(std::floor(day));
}

void TFolvaneMain2::NotifyItemChanged(TCatalogItem* item, int code) {
    // the item operations raised the event; without the updater the grid takes the change itself
    if (!CatalogUpdaterRunning()) FCatalog->CatalogItemChanged(item, code);
}

void TFolvaneMain2::SetMarkOnly(bool on) {
    FQuery = FCatalog->Filter();
    FQuery.MarkedOnly = on;
    FCatalog->SetFilter(FQuery);
    FCatalog->SetFiltering(on);
}

void TFolvaneMain2::AutoContChanged(bool on) {
    TCatalogItem* item = CurrentItem();
    if (!item) return;
    TCorrectionRecord r = item->GetCorrection();
    r.Filter3 = on ? '#' : 0;
    bool any = r.Brightness || r.Contrast || r.Red || r.Green || r.Blue || r.Filter1 || r.Filter2;
    r.Enabled = (any || r.Gamma != 100 || r.Filter3 == '#') ? 1 : 0;
    SetItemCorrection(item, r);
    NotifyItemChanged(item, cuCorrections);
}

// ---------------------------------------------------------------------------------------------
// commands

void TFolvaneMain2::ShowFolder(TCustomFolder* folder) {
    if (!folder) return;
    TStallActivity mark("ShowFolder");
    if (FTargets) FTargets->SelectFolder(folder);
    if (FCatalog->Folder() != folder) FCatalog->SetFolder(folder);
    switch (folder->GetCategory()) {
        case 1: Action("AcShowFolder")->setChecked(true); break;
        case 2: Action("AcShowAlbum")->setChecked(true); break;
        case 3: Action("AcShowCalendar")->setChecked(true); break;
        default: break;
    }
}

void TFolvaneMain2::SetStartPaths(std::vector<std::string> paths, std::vector<std::string> problems) {
    FStartPaths = std::move(paths);
    FStartProblems = std::move(problems);
}

void TFolvaneMain2::OpenPaths(const std::vector<std::string>& paths) {
    if (paths.empty()) return;
    TFolderTreeList* folders = CorvaFolders();
    if (!folders) return;
    const std::string& path = paths.back();
    bool isDir = QFileInfo(QString::fromStdString(path)).isDir();
    std::string dir = path;
    if (!isDir) {
        size_t slash = path.find_last_of('/');
        dir = slash == 0 ? std::string("/") : path.substr(0, slash);
    }
    TCustomFolder* folder = folders->FindOrCreateFolderByPath(dir);
    if (!folder) return;
    if (FCatalog->IsViewerOpen()) ShowViewer(false);
    ShowFolder(folder);
    int token = ++FOpenPathToken;
    if (isDir) return;
    // the folder is listed off the UI thread: the photo is looked for until it is there (ten seconds)
    auto tries = std::make_shared<int>(0);
    auto timer = new QTimer(this);
    timer->setInterval(50);
    connect(timer, &QTimer::timeout, this, [this, timer, tries, token, path] {
        if (token != FOpenPathToken || ++*tries > 200) {
            timer->stop();
            timer->deleteLater();
            return;
        }
        for (TCatalogItem* item : FCatalog->Loaded()) {
            if (item->GetFullPath() != path) continue;
            timer->stop();
            timer->deleteLater();
            FCatalog->SetFocusedItem(item);
            ShowViewer(true);
            return;
        }
    });
    timer->start();
}

void TFolvaneMain2::ShowViewer(bool show) {
    if (FCatalog->IsViewerOpen() != show) {
        setUpdatesEnabled(false);
        if (show)
            FCatalog->OpenViewer();
        else
            FCatalog->CloseViewer();
        setUpdatesEnabled(true);
    }
    SetupActions();  // the buttons and shortcuts follow the viewer
}

void TFolvaneMain2::SetToolMode(int mode) {
    if (mode == FToolMode || mode < tmNone || mode > tmPrint) return;
    setUpdatesEnabled(false);
    int old = FToolMode;
    FToolMode = mode;
    Action("AcToolExifInfo")->setChecked(mode == tmExifInfo);
    Action("AcToolEffect")->setChecked(mode == tmEffect);
    Action("AcToolPrint")->setChecked(mode == tmPrint);
    if (old == tmPrint || mode == tmPrint) {
        ShowViewer(false);
        if (mode == tmPrint && FCatalog->Viewer()->SizeMode() == vsmActual) Action("AcImageFitWindow")->trigger();
        FTargetPanel->setVisible(mode != tmPrint);
        FToolBar->setVisible(mode != tmPrint);
        ShowMenuBar(Action("AcDebugShowMainMenu")->isChecked() && mode != tmPrint);
    }
    FCatalog->SetViewerMode(mode == tmPrint ? 2 : 0);
    if (mode == tmPrint) FCatalog->OpenViewer();
    setUpdatesEnabled(true);
    SetupActions();
}

void TFolvaneMain2::JumpHistory(bool forward) {
    if (!FReady) return;
    if (ActiveTab() != 1) return;  // the home page keeps its own history; the music tab has none
    THistoryList* h = CorvaHistorys();
    if (!h || FToolMode == tmPrint) return;
    TCustomFolder* f = nullptr;
    if (forward && h->CanForward())
        f = h->Forward();
    else if (!forward && h->CanBack())
        f = h->Back();
    if (!f) return;
    // stepping does not record a new entry
    bool was = FHistoryOn;
    FHistoryOn = false;
    ShowFolder(f);
    FHistoryOn = was;
    SetupActions();
}

void TFolvaneMain2::ShowUpdate() {
    if (!FReady || ActiveTab() == 0) return;
    if (FToolMode == tmPrint) {
        FCatalog->Viewer()->Reload();
        return;
    }
    // the active tree re-reads through the folder events; the catalog lists again
    FCatalog->Refresh();
}

void TFolvaneMain2::BackClick() { Action("AcJumpHistoryPrev")->trigger(); }
void TFolvaneMain2::ForwardClick() { Action("AcJumpHistoryNext")->trigger(); }
void TFolvaneMain2::RefreshClick() { Action("AcShowUpdate")->trigger(); }
void TFolvaneMain2::HelpClick() { Action("AcHelpShow")->trigger(); }

void TFolvaneMain2::CanChangeTab(int, bool& allow) {
    if (FBusy) allow = false;
}

void TFolvaneMain2::TabChanged(int newTab) {
    if (newTab == 1) {
        FPanelLibrary->raise();
        FLibTabEntered = true;
    }
    SetupActions();
}

void TFolvaneMain2::ShowHelp() {
    std::string url;
    try {
        url = FVApiParams().HelpUrl();
    } catch (const std::exception&) {
        url.clear();
    }
    if (url.empty()) {
        FDialogs.Beep();
        return;
    }
    FDialogs.OpenUrl(QString::fromStdString(url));
}

void TFolvaneMain2::ShowAbout() {
    auto* about = new TSplashForm(0, this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setWindowModality(Qt::ApplicationModal);
    about->show();
}

void TFolvaneMain2::ShowCacheSettings() {
    TFolvaneConfigItem* config = CorvaConfig();
    if (!config) return;
    TCacheSizeForm form(this);
    form.SetValues(config->GetCacheKind(), config->GetCacheMaxSizeMB());
    if (form.exec() != QDialog::Accepted) return;
    TCacheSizeForm::TResult r = form.Apply(*config);
    if (r == TCacheSizeForm::crChanged)
        FDialogs.Information(QString::fromUtf8(kCacheChangedText).replace("\r\n", "\n"));
    else
        FDialogs.Warning(QString::fromUtf8(kCacheUnchangedText));
}

// ---------------------------------------------------------------------------------------------
// idle

void TFolvaneMain2::IdleStep() {
    if (!FReady || FClosing) return;
    TStallActivity mark("IdleStep");
    if (gFirstIdle) {
        gFirstIdle = false;
        try {
            FirstIdle();
        } catch (const std::exception& e) {
            WriteLogFailed(std::string(kMainWindowClassName) + ".FirstIdle", e);
        }
        return;
    }
    if (FCloseRequested) {
        FCloseRequested = false;
        close();
        return;
    }
    if (FUpdaterChanged) {
        FUpdaterChanged = false;
        FCatalog->Refresh();
        return;
    }
    if (FLibTabEntered) {
        FLibTabEntered = false;
        return;
    }
    ProcessCommandQueue();
    SetupActions();
}

void TFolvaneMain2::FirstIdle() {
    TStallActivity mark("FirstIdle");
    TCustomFolder* start = nullptr;
    TCalendarRoot* calendar = CorvaCalendars();
    if (THistoryList* h = CorvaHistorys()) start = h->GetCurrent();
    if (!start) start = calendar;
    // a disk folder that has gone since the last run falls back to the calendar
    if (start && start->GetCategory() == fcDiskFolder && !DirectoryExists(start->GetFullName())) {
        WriteLogText(std::string(kMainWindowClassName) + ".FirstIdle", "Start folder not found ( " + start->GetFullName() + " )");
        start = calendar;
    }
    if (start && start->GetCategory() == fcCalendar) {
        double last = 0;
        if (TFolvaneConfigItem* c = CorvaConfig()) last = c->GetLastViewDate();
        if (last > 0) FPendingViewDate = std::floor(last);
    }
    if (!FStartPaths.empty()) {
        // the command line's folder or photo takes the place of the last one shown
        std::vector<std::string> paths = std::move(FStartPaths);
        FStartPaths.clear();
        FHistoryOn = true;
        OpenPaths(paths);
        SetActiveTab(1);
        SetupActions();
        return;
    }
    if (start) ShowFolder(start);
    FHistoryOn = true;
    if (start) {
        if (THistoryList* h = CorvaHistorys()) h->Add(start);
    }
    SetActiveTab(1);
    SetupActions();
}

// ---------------------------------------------------------------------------------------------
// closing

bool TFolvaneMain2::FormCloseQuery() {
    if (FClosed) return true;
    FReady = false;
    FIdleTimer.stop();
    if (CatalogUpdaterRunning()) UnRegisterCatalogUpdateEvent(this, 1);
    try {
        SaveWindowSettings();
    } catch (const std::exception& e) {
        WriteLogFailed(std::string(kMainWindowClassName) + ".SaveWindowSettings", e);
    }
    if (TFolvaneConfigItem* c = CorvaConfig()) {
        try {
            c->SaveToRegistry();
        } catch (const std::exception& e) {
            WriteLogFailed(std::string(kMainWindowClassName) + ".FormCloseQuery", e);
        }
    }
    hide();
    FCatalog->OnFocusChanged = nullptr;
    FCatalog->OnFolderShown = nullptr;
    FCatalog->OnListLoaded = nullptr;
    FCatalog->CloseViewer();
    disconnect(FTargets, nullptr, this, nullptr);
    FTargets->Finish();
    if (FLive) FLive->Stop();  // before the engine and the grid stop
    FCatalog->Stop();
    FRegistrations.clear();
    FRegistrationTimer.stop();
    FDateTimer.stop();
    StopAllThreads();
    FRegistrar.reset();  // asked to end with the other workers; gone before the engine is
    FDateReader.reset();
    FClosed = true;
    return true;
}

void TFolvaneMain2::StopAllThreads() {
    TStallActivity mark("StopAllThreads");
    if (FServer) FServer->Stop();  // no second start reaches a closing window
    if (TThreadMaster* m = CorvaThreadMaster()) {
        m->TerminateAll();
        m->RestartWatcher(std::string(kMainWindowClassName) + kApplicationTitle, nullptr);
        // the workers may still report to the UI: keep the loop running until they are gone
        while (m->GetThreadCount() > 0) QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
}

void TFolvaneMain2::closeEvent(QCloseEvent* e) {
    if (!FClosing) {
        if (!FormCloseQuery()) {
            e->ignore();
            return;
        }
        FClosing = true;
    }
    e->accept();
    emit closed();
}

}  // namespace fv
