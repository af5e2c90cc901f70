// The photo viewer at 1920 x 1080 flipping through 24-megapixel camera-like JPEGs: a key press
// until the next photo is painted, when the viewer had prepared it and when it had not, and a
// held arrow key. Runs on the offscreen platform; prints "bench:" lines.
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <unistd.h>
#include <vector>

#include "image/jpeg_codec.h"
#include "library/catalog_item.h"
#include "library/folder.h"
#include "ui/viewer/frame_view.h"
#include "ui_bench_common.h"

using namespace fv;
using fv::bench::WaitUntil;
namespace fs = std::filesystem;

namespace {

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    fs::path dir = fs::temp_directory_path() / ("fv-bench-viewer-" + std::to_string(::getpid()));
    fs::create_directories(dir);

    // 24 megapixels, as a camera of today writes them
    const int W = 6000, H = 4000, N = 8;
    TFolder folder(dir.string());
    std::vector<TCatalogItem*> photos;
    for (int i = 0; i < N; ++i) {
        const std::string name = "cam" + std::to_string(i) + ".jpg";
        std::vector<uint8_t> jpg = EncodeJpeg(fv::bench::CameraPicture(W, H, 11u + 97u * i), 92);
        std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(jpg.data()), jpg.size());
        if (i == 0) std::printf("viewer: photos of %d x %d, %.1f MB each\n", W, H, jpg.size() / 1e6);
        bool created;
        TCatalogItem* it = folder.FindOrCreateItem(name, &created);
        it->SetKind(1);
        it->SetSize(W, H);
        it->SetState(isPresent);
        photos.push_back(it);
    }

    TFrameView view;
    view.resize(1920, 1080);
    view.show();
    view.Start();
    int index = 0;
    auto go = [&](int i) {
        index = ((i % N) + N) % N;
        view.ShowItem(photos[index]);
    };
    view.SetNextHandler([&](TCatalogItem*, bool) { go(index + 1); });
    view.SetPrevHandler([&](TCatalogItem*, bool) { go(index - 1); });
    auto neighbours = [&](TCatalogItem* from, int step) -> TCatalogItem* {
        auto it = std::find(photos.begin(), photos.end(), from);
        if (it == photos.end()) return nullptr;
        return photos[((it - photos.begin()) + step + N) % N];
    };
    auto pressRight = [&] {
        QKeyEvent e(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
        QApplication::sendEvent(&view, &e);
    };
    // waits by sleeping in the event loop, as a running program does (a spinning wait takes one of
    // the two processors the decode needs)
    auto shown = [&](int i) {
        QElapsedTimer t;
        t.start();
        while (!(view.CurrentItem() == photos[i] && !view.IsLoading())) {
            if (t.elapsed() > 20000) return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    };
    // key press -> the next photo's first frame painted into the window
    auto timeNext = [&](double& ms) {
        const int want = (index + 1) % N;
        QElapsedTimer t;
        t.start();
        pressRight();
        if (!shown(want)) return false;
        view.viewport()->repaint();
        ms = t.nsecsElapsed() / 1e6;
        return true;
    };

    // not prepared: nothing is prepared and every photo is new to the viewer
    std::vector<double> cold;
    double stages[3] = {0, 0, 0};
    view.SetNeighbourHandler({});
    go(0);
    shown(0);
    for (int round = 0; round < 2 * N; ++round) {
        QTest::qWait(300);  // the sharp fit has followed; the next command comes after the tick
        view.PictureCache().Clear();
        double ms;
        if (!timeNext(ms)) {
            std::printf("viewer: the photo did not come\n");
            return 1;
        }
        cold.push_back(ms);
        auto tm = view.LastTimings();
        for (int k = 0; k < 3; ++k) stages[k] += tm[k];
    }
    std::printf("viewer (not prepared): decode %.1f ms, fit %.1f ms, corrections and conversion %.1f ms (averages)\n",
                stages[0] / cold.size(), stages[1] / cold.size(), stages[2] / cold.size());

    // prepared: the viewer had a moment to make the neighbours ready
    std::vector<double> warm;
    view.SetNeighbourHandler(neighbours);
    for (int round = 0; round < 2 * N; ++round) {
        const int next = (index + 1) % N;
        WaitUntil([&] { return view.PictureCache().HasItem(photos[next]); }, 20000);
        QTest::qWait(60);
        double ms;
        if (!timeNext(ms)) return 1;
        warm.push_back(ms);
    }
    const int hits = view.CacheHits();

    // an arrow key held over 41 photos at a 30 ms repeat
    QTest::qWait(300);
    const int started = view.LoaderDecodesStarted(), finished = view.LoaderDecodesFinished();
    QElapsedTimer held;
    held.start();
    const int target = (index + 41) % N;
    for (int i = 0; i < 41; ++i) {
        pressRight();
        QTest::qWait(30);
    }
    const double pressedMs = held.nsecsElapsed() / 1e6;
    QElapsedTimer after;
    after.start();
    shown(target);
    const double afterMs = after.nsecsElapsed() / 1e6;
    std::printf("viewer: 41 presses in %.0f ms: %d decodes started, %d finished; the last photo %.0f ms after the last press\n",
                pressedMs, view.LoaderDecodesStarted() - started, view.LoaderDecodesFinished() - finished, afterMs);
    std::printf("viewer: cold %s ms; prepared %s ms (medians below, %d cache hits)\n",
                [&] { std::string s; for (double v : cold) s += std::to_string(int(v)) + " "; return s; }().c_str(),
                [&] { std::string s; for (double v : warm) s += std::to_string(int(v)) + " "; return s; }().c_str(), hits);
    std::printf("bench: viewer_next_preloaded_ms = %.1f ms\n", Median(warm));
    std::printf("bench: viewer_next_cold_ms = %.1f ms\n", Median(cold));
    std::printf("bench: viewer_held_key_last_photo_ms = %.1f ms\n", afterMs);
    view.Stop();
    fs::remove_all(dir);
    return 0;
}
