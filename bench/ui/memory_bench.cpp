// The browser's memory over a long session: the catalog view (grid and viewer, as the main
// window holds them) scrolls a folder of 100,000 photos from its first row to its last at
// 240-pixel thumbnails, then flips through 200 camera photos in the viewer. The thumbnails
// come from a file cache of the default kind and size (1000 MB in files), filled as the grid
// asks, the way the thumbnail maker fills it. Prints the peak resident set (VmHWM) and the
// grid's own picture memory. Runs on the offscreen platform at the ratio of QT_SCALE_FACTOR.
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <malloc.h>
#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "../../tests/image/exif_test_jpeg.h"
#include "image/bitmap.h"
#include "thumbs/catalog_image_cache.h"
#include "library/catalog_updater.h"
#include "image/resample.h"
#include "library/catalog_item.h"
#include "library/folder.h"
#include "platform/datetime.h"
#include "platform/stream.h"
#include "ui/grid/catalog_view.h"
#include "ui/viewer/frame_view.h"
#include "ui_bench_common.h"

using namespace fv;
using namespace fv::bench;
namespace fs = std::filesystem;

namespace {

// a /proc/self/status figure in MB (VmRSS: resident now)
double StatusMb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(key);
    while (std::getline(in, line))
        if (line.compare(0, n, key) == 0 && line.size() > n && line[n] == ':')
            return std::stod(line.substr(n + 1)) / 1024.0;
    return -1;
}

// what the C heap holds (MB): in use (heap and mapped blocks) and freed but kept in its arenas
struct THeap {
    double InUse = 0, FreeKept = 0, Resident = 0;
};
THeap HeapNow() {
    const struct mallinfo2 m = mallinfo2();
    return {static_cast<double>(m.uordblks + m.hblkhd) / 1048576.0, static_cast<double>(m.fordblks) / 1048576.0,
            StatusMb("VmRSS")};
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path dir = fs::temp_directory_path() / ("fv-bench-memory-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    // the viewer's 8 camera photos of 24 megapixels are made by a child process, so that their
    // 72 MB pictures and the encoder's buffers never count in this process's peak: the figure
    // is the browser's own
    std::vector<std::string> originals;
    for (int i = 0; i < 8; ++i) originals.push_back((dir / ("orig" + std::to_string(i) + ".jpg")).string());
    const pid_t maker = ::fork();
    if (maker == 0) {
        for (int i = 0; i < 8; ++i) {
            TBitmap main = CameraPicture(6000, 4000, 77u + 31u * static_cast<uint32_t>(i));
            TBitmap thumb(160, 107);
            FilteredResample(main, thumb, fkTriangle);
            TMemoryStream out(testutil::MakeExifJpeg(main, 1, &thumb, 90));
            out.SaveToFile(originals[i]);
        }
        ::_exit(0);
    }
    int status = 0;
    if (maker < 0 || ::waitpid(maker, &status, 0) != maker || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the camera photos could not be made\n");
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int stops = qEnvironmentVariableIsSet("FV_BENCH_STOPS") ? qEnvironmentVariableIntValue("FV_BENCH_STOPS") : 300;
    std::printf("start: %.1f MB resident\n", StatusMb("VmRSS"));

    // 100,000 photos (the items only: the grid never opens their files)
    TFolder big((dir / "big").string());
    std::vector<TCatalogItem*> items;
    items.reserve(100000);
    for (int i = 0; i < 100000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%06d.JPG", i);
        bool created;
        TCatalogItem* it = big.FindOrCreateItem(name, &created);
        it->SetKind(1);
        it->SetSize(6000, 4000);
        it->SetState(isPresent);
        it->SetShootingDate(EncodeDateTime(2020, 1, 1) + i / 300 + (i % 300) / 400.0);
        items.push_back(it);
    }
    std::printf("100,000 items: %.1f MB resident\n", StatusMb("VmRSS"));

    auto cache = CreateCatalogImageCache((dir / "cache").string(), 1, 1000);
    TFrameCatalogView view;
    view.resize(1920, 1080);
    view.SetInfoLines(gilDate);
    view.show();
    (void)QTest::qWaitForWindowExposed(&view);
    view.SetImageCache(cache.get());
    // the pictures the maker would store: camera-like thumbnails of the size asked for
    std::map<int, std::vector<std::vector<uint8_t>>> made;
    int stored = 0;
    view.SetThumbnailRequest([&](const std::vector<TCatalogItem*>& asked, int size) {
        auto& variants = made[size];
        if (variants.empty())
            for (uint32_t k = 0; k < 6; ++k)
                variants.push_back(testutil::MakeExifJpeg(CameraPicture(size, size * 2 / 3, 11u + k), 1, nullptr, 85));
        for (TCatalogItem* it : asked) {
            if (cache->CachedSizeOf(it) >= size) continue;
            TMemoryStream ms(variants[it->RuntimeId() % variants.size()]);
            if (cache->AddCatalogStream(it, &ms, size)) ++stored;
            QMetaObject::invokeMethod(&view, [&view, it] { view.CatalogItemChanged(it, cuThumbnailStored); },
                                      Qt::QueuedConnection);
        }
    });
    view.SetThumbSize(240);
    view.SetItems(items);
    WaitUntil([&] { return !view.IsSorting(); }, 20000);  // 100,000 photos are put in order on a worker
    const qreal ratio = view.devicePixelRatioF();
    std::printf("grid: %d columns, %d rows of %d visible, ratio %.1f, pictures of %d px\n", view.Columns().Count,
                view.RowCount(), view.VisibleRowCount(), ratio, view.DeviceThumbSize());

    // end to end: `stops` screens spread evenly from the first row to the last, each waited
    // for until every cell shows its picture (what a user dragging the scroll bar sees)
    QElapsedTimer t;
    t.start();
    int incomplete = 0;
    size_t gridPeak = 0;
    const int last = view.MaxTopRow();
    for (int s = 0; s <= stops; ++s) {
        view.SetTopRow(static_cast<int>(static_cast<int64_t>(last) * s / stops));
        if (!WaitUntil([&] { return VisibleReady(view); }, 20000)) ++incomplete;
        view.viewport()->repaint();
        gridPeak = std::max(gridPeak, view.ThumbnailBytes());
    }
    std::printf("scrolled %d stops in %.1f s (%d incomplete), %d pictures stored; grid pictures now %.1f MB, at most "
                "%.1f MB (budget %.1f MB); %.1f MB resident, peak %.1f MB\n",
                stops, t.elapsed() / 1000.0, incomplete, stored, view.ThumbnailBytes() / 1048576.0,
                gridPeak / 1048576.0, view.ThumbnailBudget() / 1048576.0, StatusMb("VmRSS"), PeakMb());
    std::printf("bench: grid_scroll_100k_peak_mb = %.1f MB\n", PeakMb());

    // 200 photos of 24 megapixels in the viewer (the 8 camera photos under 200 names)
    const fs::path photos = dir / "photos";
    fs::create_directories(photos);
    TFolder folder(photos.string());
    std::vector<TCatalogItem*> shots;
    for (int i = 0; i < 200; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "DSC_%04d.JPG", i);
        fs::create_hard_link(originals[i % originals.size()], photos / name);
        bool created;
        TCatalogItem* it = folder.FindOrCreateItem(name, &created);
        it->SetKind(1);
        it->SetSize(6000, 4000);
        it->SetState(isPresent);
        it->SetShootingDate(EncodeDateTime(2024, 3, 1) + i / 1440.0);
        shots.push_back(it);
    }
    std::printf("before the viewer: %.1f MB resident, peak %.1f MB\n", StatusMb("VmRSS"), PeakMb());
    view.SetItems(shots);
    view.SetFocusedItem(shots.front());
    view.OpenViewer();
    TFrameView* viewer = view.Viewer();
    WaitUntil([&] { return !viewer->IsLoading(); }, 20000);
    std::printf("first photo shown: %.1f MB resident, peak %.1f MB; grid pictures %.1f MB\n", StatusMb("VmRSS"),
                PeakMb(), view.ThumbnailBytes() / 1048576.0);
    t.restart();
    // the heap at the highest resident figure seen between photos, and the most freed memory
    // the allocator kept in its arenas
    THeap atTop = HeapNow();
    double mostKept = atTop.FreeKept;
    double peakSeen = PeakMb();
    for (int i = 1; i < 200; ++i) {
        view.ShowNext();
        WaitUntil([&] { return !viewer->IsLoading(); }, 20000);
        QTest::qWait(5);
        const THeap h = HeapNow();
        if (h.Resident > atTop.Resident) atTop = h;
        if (PeakMb() > peakSeen + 0.5) {
            // where the peak moved: the photo, what was resident after it, the viewer cache
            peakSeen = PeakMb();
            if (std::getenv("FV_BENCH_TRACE"))
                std::printf("  peak %.1f MB at photo %d (resident %.1f MB, cache %.1f MB)\n", peakSeen, i,
                            h.Resident, viewer->PictureCache().Bytes() / 1048576.0);
        }
        mostKept = std::max(mostKept, h.FreeKept);
    }
    std::printf("viewer: 200 photos in %.1f s; %.1f MB resident, peak %.1f MB\n", t.elapsed() / 1000.0,
                StatusMb("VmRSS"), PeakMb());
    std::printf("heap at the highest resident figure between photos (%.1f MB): %.1f MB in use, %.1f MB freed but "
                "kept by malloc (at most %.1f MB); viewer cache %.1f MB in %zu pictures (budget %.1f MB)\n",
                atTop.Resident, atTop.InUse, atTop.FreeKept, mostKept, viewer->PictureCache().Bytes() / 1048576.0,
                viewer->PictureCache().Count(), viewer->PictureCache().Budget() / 1048576.0);
    std::printf("bench: browser_peak_mb = %.1f MB\n", PeakMb());
    view.CloseViewer();
    view.Stop();
    view.SetImageCache(nullptr);
    fs::remove_all(dir);
    return 0;
}
