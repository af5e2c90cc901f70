#include "ui/main/browser_startup.h"

#include <QDir>
#include <QIcon>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "core/config.h"
#include "core/engine.h"
#include "core/log.h"
#include "library/image_facts.h"
#include "thumbs/engine_image_cache.h"
#include "platform/instance.h"
#include "platform/launch_args.h"
#include "platform/signals.h"
#include "service/app_info_check.h"
#include "service/start_params.h"
#include "service/update.h"
#include "ui/main/boot_error_form.h"
#include "ui/dialogs/confirm_update_form.h"
#include "ui/main/main_window.h"
#include "ui/qt_ui_dispatcher.h"
#include "ui/main/screenshot.h"
#include "ui/main/splash_form.h"
#include "ui/main/stall_watch.h"
#include "ui/skin/ui_fonts.h"

// the icons are compiled into the UI library; a static library's resources are linked only
// when something names them
static void InitIconResources() { Q_INIT_RESOURCE(icons); }

namespace fv {
namespace {

TFolvaneMain2* gMainWindow = nullptr;
// the photos and folders of the command line, and what could not be opened
TLaunchArgs gLaunch;
QPointer<TSplashForm> gSplash;
bool gTerminationRequested = false;

int EnvMs(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::atoi(v) : 0;
}

QString Lines(const std::string& s) { return QString::fromStdString(s).replace("\r\n", "\n"); }

void OnTerminationSignal() {
    if (!DrainTerminationPipe()) return;
    gTerminationRequested = true;
    WriteLog("Termination signal received.");
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    if (gMainWindow) gMainWindow->close();
}

}  // namespace

TFolvaneMain2* RunningMainWindow() { return gMainWindow; }

TStartupHooks MakeBrowserHooks(const std::vector<std::string>& params) {
    TStartupHooks h = DefaultStartupHooks(params);
    InstallStartParamsHooks(h);
    InstallAppInfoHooks(h, params);
    // asked from the update check's worker: the page is fetched there, the dialog runs on the UI thread
    SetUpdateConfirm([](const std::string& url, int32_t width, int32_t height, bool, uint32_t buttons) {
        std::string html = FetchUpdateMessage(CurrentUpdateEnvironment(), url);
        bool yes = false;
        UiDispatcher().RunOnUiThread(
            [&] { yes = RunConfirmUpdateForm(QString::fromStdString(html), width, height, buttons); }, true);
        return yes;
    });
    h.InitApplication = [] {
        QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
        QApplication::setApplicationVersion(QString::fromStdString(RunningFileVersion()));
        // the dock groups the window with its desktop entry and shows the entry's icon
        QGuiApplication::setDesktopFileName(QStringLiteral("org.kestrona.FolvaneBrowser"));
        InitIconResources();
        QIcon icon;
        for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addFile(QStringLiteral(":/icons/%1.png").arg(size));
        QApplication::setWindowIcon(icon);
        // the main window owns the program's life, not whichever window closed last
        QApplication::setQuitOnLastWindowClosed(false);
    };
    h.ShowSplash = [] {
        gSplash = TSplashForm::ShowSplash(kSplashDisplayTime);
        ScheduleScreenshot(900, "splash.png", gSplash);
    };
    h.RunMainWindow = [] {
        // the window's fonts are opened while the splash shows, before the stall watch starts and the
        // window is built (the stall probe takes the same path, in a turn of its own)
        for (int i = 0; i < kUiFontsToOpen; ++i) OpenUiFont(i);
        // FOLVANE_STALL_LOG_MS=n: UI-thread stalls over n ms go to the log with what was running
        // (from here on, so that building the window counts as the first one)
        StartStallWatchFromEnvironment();
        TFolvaneMain2 main;
        gMainWindow = &main;
        QObject::connect(&main, &TFolvaneMain2::closed, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        try {
            main.StartListening(InstanceSocketPath(kInstanceMutexName));
        } catch (const std::exception& e) {
            // the program runs; only a second start cannot reach it
            WriteLogFailed("TFolvaneMain2.StartListening", e);
        }
        if (QScreen* screen = QGuiApplication::primaryScreen())
            main.move(screen->availableGeometry().center() - main.rect().center());
        main.SetStartPaths(gLaunch.Paths, gLaunch.Problems);
        main.show();
        // the splash stays above the new main window also where no window manager keeps it there
        if (gSplash) gSplash->raise();
        ScheduleScreenshot(4500, "main.png", &main);
        // a library that was read only in part is said so, not shown as if nothing happened
        // (the box does not hold the window's loop: a quit or a signal still ends the program)
        std::string problem = CorvaLibraryLoadProblem();
        if (!problem.empty()) {
            auto* box = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(kApplicationTitle),
                                        Lines(problem), QMessageBox::Ok, &main);
            box->setAttribute(Qt::WA_DeleteOnClose);
            // wide enough for the longest sentence on one line (no word left alone on the next)
            box->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label { min-width: 38em; }"));
            box->open();
        }
        if (int ms = EnvMs("FOLVANE_TEST_QUIT_AFTER_MS")) QTimer::singleShot(ms, &main, &QWidget::close);
        if (gTerminationRequested) QTimer::singleShot(0, &main, &QWidget::close);
        QApplication::exec();
        StopStallWatch();
        gMainWindow = nullptr;
    };
    h.ShowBootError = [](const Exception* e) {
        // the splash stays on top of everything: it would hide the error from the user
        if (gSplash) gSplash->close();
        ShowBootErrorPath(e ? QString::fromUtf8(e->ClassName()) : QString(), e ? Lines(e->Message()) : QString(),
                          e != nullptr);
    };
    return h;
}

int RunBrowserMain(int argc, char** argv) {
    std::string cwd;
    if (char* here = ::getcwd(nullptr, 0)) {
        cwd = here;
        std::free(here);
    }
    gLaunch = SplitLaunchArgs(std::vector<std::string>(argv + 1, argv + argc), cwd.empty() ? "/" : cwd);
    for (const std::string& line : gLaunch.Problems) std::fprintf(stderr, "folvane-browser: %s\n", line.c_str());
    // the paths go on absolute: a running instance opens them from its own folder
    std::vector<std::string> params = gLaunch.Params;
    params.insert(params.end(), gLaunch.Paths.begin(), gLaunch.Paths.end());
    // the library (folders, albums, calendar, history), the thumbnail cache and the camera data
    AssembleEngine();
    int qargc = argc;
    std::unique_ptr<QApplication> app;
    std::unique_ptr<QSocketNotifier> notifier;
    int rc = 0;
    try {
        rc = RunFolvaneBrowser(params, [&] {
            app = std::make_unique<QApplication>(qargc, argv);
            InstallQtUiDispatcher();
            int fd = InstallTerminationPipe();
            if (fd >= 0) {
                notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
                QObject::connect(notifier.get(), &QSocketNotifier::activated, [] { OnTerminationSignal(); });
            }
            return MakeBrowserHooks(params);
        });
    } catch (const std::exception& e) {
        // what the runtime would report for an exception nobody handles
        std::fprintf(stderr, "Exception %s in module folvane-browser.\n%s\n", ExceptionClassName(e).c_str(), e.what());
        rc = 2;
    }
    notifier.reset();
    SetUiDispatcher(nullptr);
    app.reset();
    DisassembleEngine();
    return rc;
}

}  // namespace fv
