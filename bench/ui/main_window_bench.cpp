// The main window on a library of 100,000 items in 2,000 folders with 200 albums: start until
// the calendar tree and the first screen of the start month are painted (the window's construction
// timed on its own, first in the process and again warm), choosing another month
// of 2,000 photos until its first screen is painted, one pass of the enabling rules, and the
// close until the library is saved. The first screens' thumbnails are in the cache. Runs on the
// offscreen platform; prints "bench:" lines.
#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <unistd.h>
#include <vector>

#include "core/engine.h"
#include "image/bitmap.h"
#include "thumbs/catalog_image_cache.h"
#include "thumbs/engine_image_cache.h"
#include "library/album.h"
#include "library/calendar.h"
#include "library/catalog_item.h"
#include "library/folder.h"
#include "library/folder_tree_list.h"
#include "library/history_list.h"
#include "library/library_engine.h"
#include "platform/datetime.h"
#include "ui/targets/calendar_grid.h"
#include "ui/grid/catalog_view.h"
#include "ui/targets/frame_target_calendar.h"
#include "ui/targets/frame_targets.h"
#include "ui/main/main_window.h"
#include "ui/qt_ui_dispatcher.h"
#include "ui_bench_common.h"

using namespace fv;
using namespace fv::bench;
namespace fs = std::filesystem;

namespace {

constexpr int kFolders = 2000, kPerFolder = 50, kMonths = 50;

// item k is shot in month k % 50 from January 2020: 2,000 photos a month
TDateTime DateOf(int k) {
    int m = k % kMonths;
    return EncodeDateTime(2020 + m / 12, m % 12 + 1, 1 + (k / kMonths) % 28, (k / 7) % 24, k % 60, 0);
}

TCalendar* MonthNode(int year, int month) {
    TCalendar* day = CorvaCalendars()->FindOrCreateNode(false, EncodeDateTime(year, month, 1, 12, 0, 0));
    TCustomFolder* f = day;
    while (f && f->GetFolderKind() != fkCalendarMonth) f = f->GetParent();
    return static_cast<TCalendar*>(f);
}

// every cell of the visible rows has its picture, and the grid has been painted
bool FirstScreenReady(TFrameCatalogView& grid) {
    if (grid.IsListing() || grid.Cells().empty()) return false;
    return VisibleReady(grid);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    fs::path work = fs::temp_directory_path() / ("fv-bench-main-" + std::to_string(::getpid()));
    fs::create_directories(work);
    setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (work / "config").c_str(), 1);
    InstallQtUiDispatcher();
    AssembleEngine();

    // the library, saved once
    InitCorvaEngine();
    std::vector<TCatalogItem*> all;
    all.reserve(kFolders * kPerFolder);
    for (int f = 0; f < kFolders; ++f) {
        fs::path dir = work / "lib" / ("y" + std::to_string(f / 100)) / ("folder" + std::to_string(f));
        fs::create_directories(dir);
        TFolder* folder = CorvaFolders()->FindOrCreateFolderByPath(dir.string());
        for (int i = 0; i < kPerFolder; ++i) {
            int k = f * kPerFolder + i;
            TCatalogItem* it = AddLibraryPhoto(folder, i, DateOf(k));
            all.push_back(it);
        }
    }
    TAlbumList* albums = CorvaAlbums();
    for (int a = 0; a < 200; ++a) {
        TAlbum* album = albums->CreateAlbum(albums->GetRootAlbum(atAlbum), atAlbum, "", "Album " + std::to_string(a));
        for (int e = 0; e < 250; ++e) album->AddItem(all[(static_cast<size_t>(a) * 499 + static_cast<size_t>(e) * 7) % all.size()], e % 5);
    }
    all.clear();
    FinalCorvaEngine();

    // the start month is the history's current entry; the first screens of it and of the month
    // chosen later are cached (the whole months, so that any sort order finds them)
    InitCorvaEngine();
    TCalendar* startMonth = MonthNode(2021, 3);
    TCalendar* otherMonth = MonthNode(2022, 7);
    CorvaHistorys()->Add(startMonth);
    int n = 0;
    for (TCalendar* m : {startMonth, otherMonth}) {
        TItemList items;
        m->GetItems(items);
        TFolderList days;
        m->GetSubFolders(days);
        for (TCustomFolder* d : days) d->GetItems(items);
        for (TCatalogItem* it : items) {
            TBitmap b = Thumb(n++);
            CorvaImageCache()->AddCatalogImage(it, &b, 80);
        }
    }
    std::printf("cached %d thumbnails of two months\n", n);
    FinalCorvaEngine();

    // start: engine, window, calendar tree, the first screen of the start month
    QElapsedTimer t;
    t.start();
    InitCorvaEngine();
    QElapsedTimer tc;
    tc.start();
    auto* w = new TFolvaneMain2;
    double createMs = tc.nsecsElapsed() / 1e6;
    w->resize(1920, 1080);
    w->show();
    w->IdleStep();
    bool ok = WaitUntil([&] { return FirstScreenReady(*w->CatalogView()); }, 60000);
    Paint(*w);
    double startMs = t.nsecsElapsed() / 1e6;
    if (!w->ShownFolder()) {
        std::printf("start: no folder shown after 60 s\n");
        return 1;
    }
    std::printf("start folder %s, %zu photos, first screen %s\n", w->ShownFolder()->GetCaption().c_str(),
                w->CatalogView()->Sorted().size(), ok ? "complete" : "INCOMPLETE");

    // another month of 2,000 photos chosen in the calendar frame's month grid
    QTest::qWait(300);
    otherMonth = MonthNode(2022, 7);  // the nodes of this run
    t.restart();
    w->TargetsFrame()->CalendarFrame()->Grid()->SetDate(2022, 7, 2);
    WaitUntil([&] { return w->ShownFolder() == otherMonth && !w->CatalogView()->IsListing(); }, 60000);
    double listedMs = t.nsecsElapsed() / 1e6;
    ok = WaitUntil([&] { return w->ShownFolder() == otherMonth && FirstScreenReady(*w->CatalogView()); }, 60000);
    Paint(*w);
    double switchMs = t.nsecsElapsed() / 1e6;
    std::printf("switched to %s, %zu photos (listed after %.1f ms), first screen %s\n", w->ShownFolder()->GetCaption().c_str(),
                w->CatalogView()->Sorted().size(), listedMs, ok ? "complete" : "INCOMPLETE");

    // the month once the dates its photos lack were looked for (this library's files are not on
    // disk): the calendar's moves and the grid's relisting, had there been any, are waited for
    WaitUntil([&] { return !w->ReadingShootingDates(); }, 10000);
    QTest::qWait(600);
    WaitUntil([&] { return !w->CatalogView()->IsListing(); }, 10000);
    std::printf("after the dates were looked for: %zu photos\n", w->CatalogView()->Sorted().size());

    // one pass of the enabling rules with a photo focused
    if (!w->CatalogView()->Sorted().empty()) w->CatalogView()->SetFocusedItem(w->CatalogView()->Sorted().front());
    const int passes = 2000;
    t.restart();
    for (int i = 0; i < passes; ++i) w->SetupActions();
    double setupUs = t.nsecsElapsed() / 1e3 / passes;

    // close: the window's shut-down and the engine's save
    t.restart();
    w->close();
    delete w;
    FinalCorvaEngine();
    double closeMs = t.nsecsElapsed() / 1e6;

    // the window's construction again, with the process warm (style, fonts and pictures loaded once)
    InitCorvaEngine();
    std::vector<double> again;
    for (int i = 0; i < 7; ++i) {
        tc.restart();
            auto* w2 = new TFolvaneMain2;
        again.push_back(tc.nsecsElapsed() / 1e6);
        w2->show();
        QApplication::processEvents();
        delete w2;
    }
    FinalCorvaEngine();
    std::sort(again.begin(), again.end());

    std::printf("bench: main_window_create_ms = %.1f ms\n", createMs);
    std::printf("bench: main_window_create_again_ms = %.1f ms\n", again[again.size() / 2]);
    std::printf("bench: browser_start_ms = %.1f ms\n", startMs);
    std::printf("bench: browser_switch_month_ms = %.1f ms\n", switchMs);
    std::printf("bench: setup_actions_us = %.1f us\n", setupUs);
    std::printf("bench: browser_close_ms = %.1f ms\n", closeMs);
    DisassembleEngine();
    fs::remove_all(work);
    return 0;
}
