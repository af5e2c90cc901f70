// Helpers shared by the user-interface benchmarks: waiting on the event loop, made-up pictures
// (small thumbnails and camera-like scenes), "is the first screen ready", painting a widget as
// the screen would, and the process's peak memory.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>

#include "image/bitmap.h"
#include "library/catalog_item.h"
#include "library/folder.h"
#include "platform/datetime.h"
#include "ui/grid/catalog_grid.h"

namespace fv::bench {

// runs the event loop until done() holds; false after timeoutMs
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

// an 80 x 60 thumbnail whose colours differ with i
inline TBitmap Thumb(int i) {
    TBitmap b(80, 60);
    for (int y = 0; y < 60; ++y) {
        uint8_t* p = b.ScanLine(y);
        for (int x = 0; x < 80; ++x, p += 3) {
            p[0] = static_cast<uint8_t>(x * 3 + i);
            p[1] = static_cast<uint8_t>(y * 4 + i * 7);
            p[2] = static_cast<uint8_t>(i * 13);
        }
    }
    return b;
}

// a camera-like scene: gradients, a bright block and some noise (so JPEG sizes and decode times
// are those of a photo, not of a flat picture)
inline TBitmap CameraPicture(int w, int h, uint32_t seed) {
    TBitmap b(w, h);
    for (int y = 0; y < h; ++y) {
        uint8_t* p = b.ScanLine(y);
        for (int x = 0; x < w; ++x, p += 3) {
            seed = seed * 1664525u + 1013904223u;
            int n = static_cast<int>(seed >> 28) - 8;
            bool block = x > w / 3 && x < w / 2 && y > h / 4 && y < h / 2;
            p[0] = static_cast<uint8_t>(std::clamp((block ? 230 : 60 + 120 * x / w) + n, 0, 255));
            p[1] = static_cast<uint8_t>(std::clamp(90 + 100 * y / h + n, 0, 255));
            p[2] = static_cast<uint8_t>(std::clamp((block ? 40 : 200 - 130 * x / w) + n, 0, 255));
        }
    }
    return b;
}

// every cell of the visible rows (and the partly visible one) has its picture in the grid
inline bool VisibleReady(const TFrameCatalogDG& grid) {
    // a list still being read or put in order (on the listing thread or the sorter) is not ready,
    // nor is an empty screen: every benchmark shows a folder of photos
    if (grid.IsListing() || grid.IsSorting() || grid.RowCount() == 0) return false;
    int top = grid.TopRow(), rows = grid.VisibleRowCount() + 1, cols = grid.Columns().Count;
    for (int r = top; r < std::min(grid.RowCount(), top + rows); ++r)
        for (int c = 0; c < cols; ++c) {
            size_t i = static_cast<size_t>(r) * cols + c;
            if (i < grid.Cells().size() && grid.Cells()[i] && !grid.HasThumbnail(grid.Cells()[i])) return false;
        }
    return true;
}

// a present 4000 x 3000 JPEG "IMG_<10000 + i>.JPG" of a made-up library, shot at date and filed in
// the calendar (no file behind it)
inline TCatalogItem* AddLibraryPhoto(TFolder* folder, int i, TDateTime date) {
    TCatalogItem* it = folder->FindOrCreateItem("IMG_" + std::to_string(10000 + i) + ".JPG", nullptr);
    it->SetKind(1);
    it->SetSize(4000, 3000);
    it->SetState(isPresent);
    it->SetShootingDate(date);
    it->SetInCalendar(true);
    return it;
}

// the widget painted into a picture through QWidget::render (what a screenshot does)
inline void Paint(QWidget& w) {
    QImage target(w.size() * w.devicePixelRatioF(), QImage::Format_RGB32);
    target.setDevicePixelRatio(w.devicePixelRatioF());
    QPainter p(&target);
    w.render(&p);
}

// the high-water mark of this process's resident set, in MB, from the kernel's own account
inline double PeakMb() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

}  // namespace fv::bench
