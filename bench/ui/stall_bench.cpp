// The UI-thread stall probe: the real main window (offscreen, engine on a temporary data folder)
// on a library of 100,000 photos, while a 5 ms timer on the UI thread records how late each tick
// fires. Scenarios: start-up (window created until the first folder is on screen), registering a
// folder of 10,000 new photos in the calendar, sorting a new 10,000-photo folder by shooting date
// before its dates are read, and scrolling a 10,000-photo folder while its thumbnails are made.
// Prints the lateness per scenario and overall, and the worst stalls with what was running
// (the stall watch of FOLVANE_STALL_LOG_MS). Prints "bench:" lines.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QTreeWidgetItem>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

#include "../../tests/image/exif_test_jpeg.h"
#include "core/engine.h"
#include "image/bitmap.h"
#include "thumbs/engine_image_cache.h"
#include "image/resample.h"
#include "library/calendar.h"
#include "library/catalog_item.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "library/history_list.h"
#include "library/image_facts.h"
#include "library/library_engine.h"
#include "platform/datetime.h"
#include "platform/stream.h"
#include "ui/grid/catalog_view.h"
#include "ui/targets/frame_target_directory.h"
#include "ui/targets/frame_targets.h"
#include "ui/main/main_window.h"
#include "ui/qt_ui_dispatcher.h"
#include "ui/main/stall_watch.h"
#include "ui/skin/ui_fonts.h"
#include "ui_bench_common.h"

using namespace fv;
using fv::bench::AddLibraryPhoto;
using fv::bench::CameraPicture;
namespace fs = std::filesystem;

namespace {

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

constexpr int kFolders = 2000, kPerFolder = 50, kNewPhotos = 10000;
constexpr int kTickMs = 5;

// Waits in the event loop (blocking while idle, so the probe's timer and the workers get the
// machine) until done() holds; polls every 20 ms.
bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    if (done()) return true;
    QEventLoop loop;
    QTimer poll, limit;
    bool ok = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done()) {
            ok = true;
            loop.quit();
        }
    });
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start(20);
    limit.setSingleShot(true);
    limit.start(timeoutMs);
    loop.exec();
    return ok;
}

void Idle(int ms) {
    WaitFor([] { return false; }, ms);
}

// how late the 5 ms timer fires, per scenario
class TProbe {
public:
    TProbe() {
        FTimer.setTimerType(Qt::PreciseTimer);
        FTimer.setInterval(kTickMs);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            qint64 now = FClock.nsecsElapsed();
            double late = (now - FLast) / 1e6 - kTickMs;
            FLast = now;
            if (FOn) FLate.push_back(std::max(0.0, late));
        });
        FClock.start();
        FTimer.start();
    }
    void Begin(const char* name) {
        FName = name;
        FLate.clear();
        FStalls.clear();
        FLast = FClock.nsecsElapsed();
        FOn = true;
    }
    void Stall(const TStallRecord& r) {
        if (FOn) FStalls.push_back(r);
    }
    void End(bool complete, const char* what) {
        FOn = false;
        std::vector<double> v = FLate;
        std::sort(v.begin(), v.end());
        double mx = v.empty() ? 0 : v.back();
        double p99 = v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<size_t>(v.size() * 0.99))];
        std::printf("%s: %s, %zu ticks, late max %.1f ms, p99 %.1f ms\n", FName, complete ? what : "INCOMPLETE",
                    v.size(), mx, p99);
        std::sort(FStalls.begin(), FStalls.end(), [](auto& a, auto& b) { return a.Ms > b.Ms; });
        for (size_t i = 0; i < FStalls.size() && i < 6; ++i) std::printf("  %s\n", StallLogText(FStalls[i]).c_str());
        std::printf("bench: ui_stall_max_ms_%s = %.1f ms\n", FName, mx);
        std::printf("bench: ui_stall_p99_ms_%s = %.1f ms\n", FName, p99);
        FAll.insert(FAll.end(), FLate.begin(), FLate.end());
    }
    void Overall() const {
        std::vector<double> v = FAll;
        std::sort(v.begin(), v.end());
        double mx = v.empty() ? 0 : v.back();
        double p99 = v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<size_t>(v.size() * 0.99))];
        std::printf("bench: ui_stall_max_ms = %.1f ms\n", mx);
        std::printf("bench: ui_stall_p99_ms = %.1f ms\n", p99);
    }

private:
    QTimer FTimer;
    QElapsedTimer FClock;
    qint64 FLast = 0;
    bool FOn = false;
    const char* FName = "";
    std::vector<double> FLate, FAll;
    std::vector<TStallRecord> FStalls;
};

// item k of the library is shot in month k % 50 from January 2020
TDateTime DateOf(int k) {
    int m = k % 50;
    return EncodeDateTime(2020 + m / 12, m % 12 + 1, 1 + (k / 50) % 28, (k / 7) % 24, k % 60, 0);
}

// 10,000 camera files (640 x 480 with a 160 x 120 EXIF thumbnail) in a new folder; their shooting
// dates (in the given year) are not in the order of their names
void WriteNewPhotos(const fs::path& dir, int year) {
    fs::create_directories(dir);
    TBitmap main = CameraPicture(640, 480, 7u + year);
    TBitmap thumb(160, 120);
    FilteredResample(main, thumb, fkTriangle);
    std::vector<uint8_t> mainJpeg = EncodeJpeg(main, 85), thumbJpeg = EncodeJpeg(thumb, 80);
    for (int i = 0; i < kNewPhotos; ++i) {
        int k = (i * 7919) % kNewPhotos;
        char date[32], name[32];
        std::snprintf(date, sizeof date, "%04d:%02d:%02d %02d:%02d:%02d", year, 1 + k % 12, 1 + (k / 12) % 28,
                      (k / 336) % 24, k % 60, i % 60);
        std::snprintf(name, sizeof name, "DSC_%05d.JPG", i);
        TMemoryStream out(testutil::WrapWithExif(mainJpeg, 1, thumbJpeg, date));
        out.SaveToFile((dir / name).string());
    }
}

int CalendarCountOfYear(int year) {
    TCalendarRoot* root = CorvaCalendars();
    TCalendar* node = root ? root->FindOrCreateNode(false, EncodeDateTime(year, 6, 15, 12, 0, 0)) : nullptr;
    while (node && node->GetFolderKind() != fkCalendarYear) node = static_cast<TCalendar*>(node->GetParent());
    if (!node) return 0;
    int n = 0;
    std::vector<TCalendar*> stack{node};
    while (!stack.empty()) {
        TCalendar* c = stack.back();
        stack.pop_back();
        n += static_cast<int>(c->GetCalendarItems().size());
        TFolderList subs;
        c->GetSubFolders(subs);
        for (TCustomFolder* f : subs) stack.push_back(static_cast<TCalendar*>(f));
    }
    return n;
}

bool SortedByDateWithDatesRead(const std::vector<TCatalogItem*>& items, size_t expected) {
    if (items.size() != expected) return false;
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i]->GetCameraState() == cdNotRead) return false;
        if (i && items[i - 1]->GetShootingDate() > items[i]->GetShootingDate()) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    fs::path work = fs::temp_directory_path() / ("fv-bench-stall-" + std::to_string(::getpid()));
    fs::create_directories(work);
    setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (work / "config").c_str(), 1);
    InstallQtUiDispatcher();
    AssembleEngine();

    // the library of 100,000 photos (in memory, saved once), and three new folders on disk
    QElapsedTimer prep;
    prep.start();
    InitCorvaEngine();
    for (int f = 0; f < kFolders; ++f) {
        char sub[48];
        std::snprintf(sub, sizeof sub, "y%d/folder%d", f / 100, f);
        fs::path dir = work / "lib" / sub;
        fs::create_directories(dir);
        TFolder* folder = CorvaFolders()->FindOrCreateFolderByPath(dir.string());
        folder->SetCheckState(csRegistered);
        for (int i = 0; i < kPerFolder; ++i) {
            int k = f * kPerFolder + i;
            AddLibraryPhoto(folder, i, DateOf(k));
        }
    }
    FinalCorvaEngine();
    const fs::path regDir = work / "new" / "register", sortDir = work / "new" / "sort", scrollDir = work / "new" / "scroll";
    WriteNewPhotos(regDir, 2031);
    WriteNewPhotos(sortDir, 2032);
    WriteNewPhotos(scrollDir, 2033);
    std::printf("library of %d photos and 3 x %d new files made in %.1f s\n", kFolders * kPerFolder, kNewPhotos,
                prep.nsecsElapsed() / 1e9);

    TProbe probe;
    StartStallWatch(20, [&](const TStallRecord& r) { probe.Stall(r); });

    // start-up: the engine loads the library (before the window, as the program's start does), then
    // the window is built, shown and shows its first folder
    InitCorvaEngine();
    TFolvaneMain2* w = nullptr;
    probe.Begin("startup");
    // as the program starts: the window's fonts opened one a turn, then the window built (each
    // turn's CPU time on the UI thread is printed: on a shared machine the wall clock mostly measures
    // the other programs)
    double fontsCpuMs[kUiFontsToOpen] = {}, windowCpuMs = 0;
    std::function<void(int)> openFont = [&](int i) {
        if (i < kUiFontsToOpen) {
            double c0 = ThreadCpuMs();
            OpenUiFont(i);
            fontsCpuMs[i] = ThreadCpuMs() - c0;
            QTimer::singleShot(0, [&, i] { openFont(i + 1); });
            return;
        }
        double c1 = ThreadCpuMs();
        w = new TFolvaneMain2;
        w->resize(1920, 1080);
        w->show();
        windowCpuMs = ThreadCpuMs() - c1;
    };
    QTimer::singleShot(0, [&] { openFont(0); });
    bool ok = WaitFor([&] {
        return w && w->ShownFolder() && !w->CatalogView()->IsListing() && !w->CatalogView()->Sorted().empty();
    }, 60000);
    Idle(500);
    probe.End(ok, "first folder shown");
    for (int i = 0; i < kUiFontsToOpen; ++i) std::printf("bench: startup_font%d_cpu_ms = %.1f ms\n", i, fontsCpuMs[i]);
    std::printf("bench: startup_window_cpu_ms = %.1f ms\n", windowCpuMs);

    // registering a folder of 10,000 new photos in the calendar (the directory tree's command)
    TFrameTargetDirectory* dirs = w->TargetsFrame()->DirectoryFrame();
    TFolder* regFolder = CorvaFolders()->FindOrCreateFolderByPath(regDir.string());
    w->TargetsFrame()->ShowFrame(TFrameTargetsEx::tkDirectory);
    dirs->SelectFolder(regFolder);
    QTreeWidgetItem* regNode = dirs->NodeOfPath(regDir.string());
    Idle(300);
    probe.Begin("calendar_register");
    QTimer::singleShot(0, [&] { dirs->RegisterInCalendar(regNode, true); });
    QElapsedTimer t;
    t.start();
    int filed = 0;
    ok = WaitFor([&] { return (filed = CalendarCountOfYear(2031)) >= kNewPhotos; }, 120000);
    double regMs = t.nsecsElapsed() / 1e6;
    Idle(500);
    probe.End(ok, "all photos in the calendar");
    std::printf("  %d of %d photos filed in %.0f ms\n", filed, kNewPhotos, regMs);

    // a new folder shown by name, then sorted by shooting date before its dates are read
    w->Action("AcSortName")->trigger();
    TFolder* sortFolder = CorvaFolders()->FindOrCreateFolderByPath(sortDir.string());
    probe.Begin("sort_by_date");
    t.restart();
    w->ShowFolder(sortFolder);
    ok = WaitFor([&] {
        return w->ShownFolder() == sortFolder && !w->CatalogView()->IsListing() &&
               w->CatalogView()->Sorted().size() == size_t(kNewPhotos);
    }, 60000);
    std::printf("  listed %zu photos in %.0f ms\n", w->CatalogView()->Sorted().size(), t.nsecsElapsed() / 1e6);
    t.restart();
    w->Action("AcSortExifDate")->trigger();
    ok = ok && WaitFor([&] { return SortedByDateWithDatesRead(w->CatalogView()->Sorted(), kNewPhotos); }, 120000);
    double sortMs = t.nsecsElapsed() / 1e6;
    Idle(500);
    probe.End(ok, "sorted by the dates read");
    std::printf("  sorted by the files' dates after %.0f ms\n", sortMs);

    // scrolling a new 10,000-photo folder top to bottom, a third of a screen every 30 ms, while
    // its thumbnails are made
    w->Action("AcSortName")->trigger();
    TFolder* scrollFolder = CorvaFolders()->FindOrCreateFolderByPath(scrollDir.string());
    w->ShowFolder(scrollFolder);
    WaitFor([&] { return !w->CatalogView()->IsListing() && w->CatalogView()->Sorted().size() == size_t(kNewPhotos); },
            60000);
    Idle(300);
    probe.Begin("scroll");
    TFrameCatalogView* grid = w->CatalogView();
    QTimer step;
    int steps = 0;
    QObject::connect(&step, &QTimer::timeout, [&] {
        grid->SetTopRow(grid->TopRow() + std::max(1, grid->VisibleRowCount() / 3));
        ++steps;
    });
    step.start(30);
    ok = WaitFor([&] { return grid->TopRow() >= grid->MaxTopRow(); }, 120000);
    step.stop();
    Idle(300);
    probe.End(ok, "scrolled to the end");
    std::printf("  %d steps over %d rows\n", steps, grid->RowCount());

    probe.Overall();
    StopStallWatch();
    w->close();
    delete w;
    FinalCorvaEngine();
    DisassembleEngine();
    fs::remove_all(work);
    return 0;
}
