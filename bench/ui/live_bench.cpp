// Folders that update themselves, timed in the real browser view (offscreen): the running engine,
// the catalog view with its listing thread and thumbnail maker, the live folders with their
// default timings. One camera photo copied into the shown folder until its cell is painted with
// its picture, then 1,000 photos copied in at once until all are listed and the screen is
// complete, then 10,000 small ones with the UI thread's worst delay meanwhile. Prints "bench:" lines.
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "../../tests/image/exif_test_jpeg.h"
#include "core/engine.h"
#include "thumbs/engine_image_cache.h"
#include "image/resample.h"
#include "library/catalog_item.h"
#include "library/folder.h"
#include "library/library_engine.h"
#include "platform/stream.h"
#include "ui/grid/catalog_view.h"
#include "ui/grid/live_view.h"
#include "ui/qt_ui_dispatcher.h"
#include "ui_bench_common.h"

using namespace fv;
using namespace fv::bench;
namespace fs = std::filesystem;

namespace {

// a camera-like JPEG with its 160 x 120 EXIF thumbnail, as a camera writes it
std::vector<uint8_t> CameraJpeg(int w, int h, uint32_t seed) {
    TBitmap main = CameraPicture(w, h, seed);
    TBitmap thumb(160, 120);
    FilteredResample(main, thumb, fkTriangle);
    return testutil::MakeExifJpeg(main, 1, &thumb, 92);
}

// written the way a copy writes it: open, write in 1 MB pieces, close
void CopyIn(const std::vector<uint8_t>& bytes, const fs::path& to) {
    std::ofstream out(to, std::ios::binary);
    for (size_t at = 0; at < bytes.size(); at += 1 << 20)
        out.write(reinterpret_cast<const char*>(bytes.data() + at),
                  static_cast<std::streamsize>(std::min<size_t>(1 << 20, bytes.size() - at)));
}

bool Shows(const TFrameCatalogDG& grid, TCatalogItem* item) {
    for (TCatalogItem* i : grid.Cells())
        if (i == item) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    fs::path dir = fs::temp_directory_path() / ("fv-bench-live-" + std::to_string(::getpid()));
    fs::create_directories(dir / "photos");
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    InstallQtUiDispatcher();
    AssembleEngine();
    InitCorvaEngineLog();
    InitCorvaEngine();

    std::printf("making the camera photos...\n");
    const std::vector<uint8_t> big = CameraJpeg(6000, 4000, 11);  // 24 megapixels
    const std::vector<uint8_t> small = CameraJpeg(1600, 1200, 12);
    for (int i = 0; i < 20; ++i) CopyIn(small, dir / "photos" / ("OLD_" + std::to_string(i) + ".JPG"));

    double newPhotoMs = -1, thousandMs = -1, tenThousandMs = -1, worstGapMs = 0;
    int relists = 0;
    {
        TFolder* folder = GetFolderFromPath((dir / "photos").string());
        TFrameCatalogView view;
        view.resize(1920, 1080);
        view.show();
        view.Start();
        TLiveView live(&view);
        live.Start();
        view.SetFolder(folder);
        live.FolderShown(folder);
        bool ready = WaitUntil([&] { return view.Sorted().size() == 20 && !view.IsListing() && VisibleReady(view); }, 30000) &&
                     WaitUntil([&] { return live.Live()->IsWatched(folder); }, 5000);
        if (!ready) std::printf("the folder did not come up\n");
        QTest::qWait(300);

        // one 24-megapixel photo copied in (the copy is part of the time, as the user waits for it)
        QElapsedTimer t;
        t.start();
        std::thread copy([&] { CopyIn(big, dir / "photos" / "NEW_0001.JPG"); });
        bool shown = WaitUntil(
            [&] {
                TCatalogItem* it = folder->FindItem("NEW_0001.JPG");
                return it && Shows(view, it) && view.HasThumbnail(it);
            },
            10000);
        Paint(view);
        newPhotoMs = t.nsecsElapsed() / 1e6;
        copy.join();
        std::printf("one photo: %s\n", shown ? "shown" : "NOT SHOWN");

        // 1,000 photos copied in at once
        QTest::qWait(500);
        t.restart();
        std::thread many([&] {
            for (int i = 0; i < 1000; ++i) CopyIn(small, dir / "photos" / ("BURST_" + std::to_string(i) + ".JPG"));
        });
        bool all = WaitUntil([&] { return view.Sorted().size() == 1021 && !view.IsListing() && VisibleReady(view); }, 30000);
        Paint(view);
        thousandMs = t.nsecsElapsed() / 1e6;
        const size_t listed1000 = view.Sorted().size();
        many.join();
        relists = live.Relists();
        std::printf("1,000 photos: %s (%zu listed, %d listings of the grid)\n", all ? "all shown" : "NOT ALL SHOWN",
                    listed1000, relists);

        // 10,000 small photos at once into another shown folder: how late a 5 ms timer on the UI
        // thread fires meanwhile, and when all are listed
        fs::create_directories(dir / "many");
        TFolder* many10k = GetFolderFromPath((dir / "many").string());
        view.SetFolder(many10k);
        live.FolderShown(many10k);
        WaitUntil([&] { return !view.IsListing() && live.Live()->IsWatched(many10k); }, 5000);
        const std::vector<uint8_t> tiny = CameraJpeg(160, 120, 13);
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        QTimer probe;
        probe.setInterval(5);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            qint64 now = clock.elapsed();
            worstGapMs = std::max<double>(worstGapMs, static_cast<double>(now - last));
            last = now;
        });
        probe.start();
        std::thread flood([&] {
            for (int i = 0; i < 10000; ++i) CopyIn(tiny, dir / "many" / ("F_" + std::to_string(i) + ".JPG"));
        });
        bool all10k = WaitUntil([&] { return view.Sorted().size() == 10000 && !view.IsListing() && VisibleReady(view); }, 120000);
        tenThousandMs = clock.elapsed();
        probe.stop();
        flood.join();
        std::printf("10,000 files: %s (%zu listed)\n", all10k ? "all shown" : "NOT ALL SHOWN", view.Sorted().size());
        live.Stop();
        view.Stop();
    }
    FinalCorvaEngine();
    FinalCorvaEngineLog();
    std::error_code ec;
    fs::remove_all(dir, ec);
    std::printf("bench: live_new_photo_ms = %.0f ms\n", newPhotoMs);
    std::printf("bench: live_1000_photos_ms = %.0f ms\n", thousandMs);
    std::printf("bench: live_10000_files_ms = %.0f ms\n", tenThousandMs);
    std::printf("bench: live_10000_files_worst_ui_gap_ms = %.0f ms\n", worstGapMs);
    return 0;
}
