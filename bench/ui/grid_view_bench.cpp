// The catalog grid and the photo viewer at full-HD size: painting, scrolling, the first screen
// of a folder whose thumbnails are cached, the grid's own memory per item, and the viewer's
// next photo. Runs on the offscreen platform; prints "bench:" lines.
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <unistd.h>
#include <vector>

#include "../../tests/image/exif_test_jpeg.h"
#include "image/bitmap.h"
#include "image/resample.h"
#include "platform/stream.h"
#include "ui/grid/catalog_view.h"
#include "thumbs/catalog_image_cache.h"
#include "library/catalog_item.h"
#include "library/folder.h"
#include "platform/datetime.h"
#include "ui/grid/catalog_grid.h"
#include "ui/viewer/frame_view.h"
#include "ui_bench_common.h"

using namespace fv;
using namespace fv::bench;
namespace fs = std::filesystem;

namespace {

// a full repaint of the grid through the window's own paint path (backing store), as the
// screen sees it
double PaintMs(TFrameCatalogDG& grid, int rounds) {
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < rounds; ++i) grid.viewport()->repaint();
    return t.nsecsElapsed() / 1e6 / rounds;
}

// the same painted into a picture through QWidget::render (what a screenshot does)
double RenderMs(TFrameCatalogDG& grid, int rounds) {
    QImage target(grid.viewport()->size() * grid.devicePixelRatioF(), QImage::Format_RGB32);
    target.setDevicePixelRatio(grid.devicePixelRatioF());
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < rounds; ++i) {
        QPainter p(&target);
        grid.viewport()->render(&p);
    }
    return t.nsecsElapsed() / 1e6 / rounds;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    fs::path dir = fs::temp_directory_path() / ("fv-bench-grid-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const bool viewerOnly = qEnvironmentVariableIsSet("FV_BENCH_VIEWER_ONLY");
    if (qEnvironmentVariableIsSet("FV_BENCH_FIT_METHODS")) {
        TBitmap src = CameraPicture(2000, 1500, 5);
        for (int m : {rmBox, rmTriangle, rmSinc, rmAuto}) {
            TBitmap dst(1436, 1077);
            QElapsedTimer t;
            t.start();
            for (int i = 0; i < 5; ++i) Resample(src, dst, m);
            std::printf("resample method %d: %.1f ms\n", m, t.nsecsElapsed() / 5e6);
        }
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < 5; ++i) {
            TBitmap dst(1436, 1077);
            AreaAverage(src, dst);
        }
        std::printf("area average: %.1f ms\n", t.nsecsElapsed() / 5e6);
        return 0;
    }
    if (!viewerOnly) {
        // 10,000 photos over 100 days, their thumbnails in the catalog cache
        TFolder folder(dir.string());
        std::vector<TCatalogItem*> items;
        for (int i = 0; i < 10000; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%05d.JPG", i);
            bool created;
            TCatalogItem* it = folder.FindOrCreateItem(name, &created);
            it->SetKind(1);
            it->SetSize(4000, 3000);
            it->SetState(isPresent);
            it->SetShootingDate(EncodeDateTime(2024, 1, 1) + i / 100 + (i % 100) / 200.0);
            items.push_back(it);
        }
        auto cache = CreateCatalogImageCache((dir / "cache").string(), 2, 512);
        for (size_t i = 0; i < items.size(); ++i) {
            TBitmap b = Thumb(static_cast<int>(i));
            cache->AddCatalogImage(items[i], &b, 80);
        }

        TFrameCatalogDG grid;
        grid.resize(1920, 1080);
        grid.SetInfoLines(gilDate);
        grid.show();
        grid.SetAlwaysGroup(true);
        grid.SetImageCache(cache.get());
        {
            // a running program: another folder was shown before (fonts and icons loaded)
            TFolder other((dir / "other").string());
            bool created;
            TCatalogItem* it = other.FindOrCreateItem("warm.jpg", &created);
            it->SetKind(1);
            it->SetState(isPresent);
            (void)QTest::qWaitForWindowExposed(&grid);
            grid.SetFolder(&other);
            grid.viewport()->repaint();
            grid.SetFolder(nullptr);
        }
        QElapsedTimer first;
        first.start();
        grid.SetFolder(&folder);
        double listedMs = first.nsecsElapsed() / 1e6;
        auto visibleReady = [&] { return VisibleReady(grid); };
        bool ok = WaitUntil(visibleReady, 20000);
        PaintMs(grid, 1);
        double firstMs = first.nsecsElapsed() / 1e6;
        int cells = 0;
        for (int r = grid.TopRow(); r < grid.TopRow() + grid.VisibleRowCount() + 1 && r < grid.RowCount(); ++r) cells += grid.Columns().Count;
        std::printf("grid: %d columns, %d visible rows (%d cells), first screen %s; sorted and laid out in %.1f ms\n",
                    grid.Columns().Count, grid.VisibleRowCount(), cells, ok ? "complete" : "INCOMPLETE", listedMs);
        if (qEnvironmentVariableIsSet("FV_BENCH_FIRST_ONLY")) {
            std::printf("bench: grid_first_screen_ms = %.1f ms\n", firstMs);
            return 0;
        }
        // warm up the grid's memory for the screens the scroll test passes
        for (int s = 0; s < 10; ++s) {
            grid.SetTopRow(s * grid.VisibleRowCount());
            WaitUntil(visibleReady, 20000);
        }
        grid.SetTopRow(0);
        WaitUntil(visibleReady, 20000);
        if (qEnvironmentVariableIsSet("FV_BENCH_PAINT_LOOP")) {
            // for a profiler: painting only
            int n = qEnvironmentVariableIntValue("FV_BENCH_PAINT_LOOP");
            {
                QImage floor(grid.viewport()->size(), QImage::Format_RGB32);
                QElapsedTimer ft;
                ft.start();
                for (int i = 0; i < n; ++i) {
                    QPainter fp(&floor);
                    fp.fillRect(floor.rect(), i & 1 ? Qt::white : Qt::gray);
                }
                std::printf("one fill of the viewport: %.2f ms\n", ft.nsecsElapsed() / 1e6 / n);
            }
            std::printf("paint loop: %.2f ms, render %.2f ms\n", PaintMs(grid, n), RenderMs(grid, n / 4 + 1));
            return 0;
        }
        double paint = PaintMs(grid, 50);
        std::printf("grid: render into a picture %.2f ms\n", RenderMs(grid, 20));
        QElapsedTimer t;
        t.start();
        int screens = 0;
        for (int s = 1; s < 10; ++s, ++screens) {
            grid.SetTopRow(s * grid.VisibleRowCount());
            PaintMs(grid, 1);
        }
        double scroll = t.nsecsElapsed() / 1e6 / screens;
        std::printf("bench: grid_paint_ms = %.2f ms\n", paint);
        std::printf("bench: grid_scroll_ms = %.2f ms\n", scroll);
        std::printf("bench: grid_first_screen_ms = %.1f ms\n", firstMs);
        grid.Stop();
    }
    if (!viewerOnly) {
        // cold: 10,000 camera photos (a 160 x 120 EXIF thumbnail in each), nothing made yet; the
        // catalog view lists the folder on its thread and its thumbnail maker makes the pictures
        fs::path cold = dir / "cold";
        fs::create_directories(cold);
        std::vector<std::string> originals;
        for (int i = 0; i < 8; ++i) {
            TBitmap main = CameraPicture(4000, 3000, 77u + 31u * i);
            TBitmap thumb(160, 120);
            FilteredResample(main, thumb, fkTriangle);
            TMemoryStream out(testutil::MakeExifJpeg(main, 1, &thumb, 92));
            originals.push_back((dir / ("orig" + std::to_string(i) + ".jpg")).string());
            out.SaveToFile(originals.back());
        }
        for (int i = 0; i < 10000; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%05d.JPG", i);
            fs::create_hard_link(originals[i % originals.size()], cold / name);
        }
        TFolder folder(cold.string());
        auto cache = CreateCatalogImageCache((dir / "coldcache").string(), 2, 512);
        TFrameCatalogView view;
        view.resize(1920, 1080);
        view.show();
        view.SetImageCache(cache.get());
        QTest::qWait(200);  // the maker's workers are up, as in a running program
        QElapsedTimer t;
        t.start();
        double listedMs = 0;
        view.OnListingState = [&](int stage) {
            if (stage == 2) listedMs = t.nsecsElapsed() / 1e6;
        };
        view.SetFolder(&folder);
        bool ok = WaitUntil([&] { return !view.Sorted().empty() && !view.IsListing() && VisibleReady(view); }, 60000);
        PaintMs(view, 1);
        double coldMs = t.nsecsElapsed() / 1e6;
        std::printf("grid cold: %zu photos listed in %.0f ms, first screen %s\n", view.Sorted().size(), listedMs,
                    ok ? "complete" : "INCOMPLETE");
        std::printf("bench: grid_first_screen_cold_ms = %.1f ms\n", coldMs);
        view.Stop();
    }
    if (!viewerOnly) {
        // memory beyond the items for 100,000 photos
        TFolder folder((dir / "big").string());
        std::vector<TCatalogItem*> items;
        for (int i = 0; i < 100000; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%06d.JPG", i);
            bool created;
            TCatalogItem* it = folder.FindOrCreateItem(name, &created);
            it->SetShootingDate(EncodeDateTime(2020, 1, 1) + i / 300);
            items.push_back(it);
        }
        TFrameCatalogDG grid;
        grid.resize(1920, 1080);
        grid.show();
        grid.SetAlwaysGroup(true);
        grid.SetItems(items);
        std::printf("bench: grid_bytes_per_item = %.1f B\n", double(grid.MemoryBytes()) / items.size());
    }
    {
        // the viewer: the next 12-megapixel photo fitted to 1920 x 1080
        std::vector<std::string> files;
        for (int i = 0; i < 4; ++i) {
            QImage img(4000, 3000, QImage::Format_RGB32);
            for (int y = 0; y < 3000; ++y) {
                auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
                for (int x = 0; x < 4000; ++x) line[x] = qRgb((x * 7 + i * 40) & 255, (y * 3) & 255, ((x ^ y) + i) & 255);
            }
            std::string f = (dir / ("big" + std::to_string(i) + ".jpg")).string();
            img.save(QString::fromStdString(f), "JPEG", 90);
            files.push_back(f);
        }
        TFolder folder(dir.string());
        std::vector<TCatalogItem*> photos;
        for (int i = 0; i < 4; ++i) {
            bool created;
            TCatalogItem* it = folder.FindOrCreateItem("big" + std::to_string(i) + ".jpg", &created);
            it->SetKind(1);
            it->SetSize(4000, 3000);
            it->SetState(isPresent);
            photos.push_back(it);
        }
        TFrameView view;
        view.resize(1920, 1080);
        view.show();
        view.Start();
        double total = 0;
        int n = 0;
        double stages[3] = {0, 0, 0};
        for (int round = 0; round < 3; ++round)
            for (TCatalogItem* it : photos) {
                QElapsedTimer t;
                t.start();
                bool ready = false;
                auto c = QObject::connect(&view, &TFrameView::pictureReady, [&] { ready = true; });
                view.ShowItem(it);
                WaitUntil([&] { return ready && !view.IsLoading(); }, 10000);
                QImage frame(view.viewport()->size(), QImage::Format_RGB32);
                QPainter p(&frame);
                view.viewport()->render(&p);
                QObject::disconnect(c);
                if (round > 0) {
                    total += t.nsecsElapsed() / 1e6;
                    ++n;
                    auto tm = view.LastTimings();
                    for (int k = 0; k < 3; ++k) stages[k] += tm[k];
                }
                // the next command comes after the coalescing window, as a user's would
                QTest::qWait(60);
            }
        std::printf("viewer: decode %.1f ms, fit %.1f ms, corrections and conversion %.1f ms (averages)\n",
                    stages[0] / n, stages[1] / n, stages[2] / n);
        std::printf("bench: viewer_next_ms = %.1f ms\n", total / n);
        // an arrow key held over 50 photos, repeating every 30 ms
        int before = view.DecodeCount();
        QElapsedTimer held;
        held.start();
        for (int i = 0; i < 50; ++i) {
            view.ShowItem(photos[i % 4]);
            QTest::qWait(30);
        }
        WaitUntil([&] { return !view.IsLoading(); }, 10000);
        double ticks = held.elapsed() / 50.0;
        std::printf("viewer: 50 photos in %lld ms (%.0f ticks of 50 ms): %d decodes\n", static_cast<long long>(held.elapsed()),
                    ticks, view.DecodeCount() - before);
        std::printf("bench: viewer_held_key_decodes_per_tick = %.2f x\n", (view.DecodeCount() - before) / ticks);
        view.Stop();
    }
    fs::remove_all(dir);
    return 0;
}
