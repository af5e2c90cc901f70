#include "ui/viewer/bitmap_qimage.h"

#include <memory>

#include "platform/page_memory.h"

namespace fv {

namespace {

// The viewer's pictures are megabytes each (28 MB for a full-HD screen at ratio 2) and are made
// on the loader thread but freed on the user-interface thread: from the heap, the loader's arena
// would keep the room of the largest ones it ever made. Pictures from 1 MB up take pages straight
// from the system instead, which go back the moment the last copy of the picture is gone.
constexpr size_t kMappedPictureBytes = 1 << 20;

struct TMappedPixels {
    void* Block;
    size_t Size;
};

void FreeMappedPixels(void* info) {
    auto* m = static_cast<TMappedPixels*>(info);
    FreeZeroedPages(m->Block, m->Size);
    delete m;
}

QImage NewPicture(int width, int height) {
    const qsizetype line = static_cast<qsizetype>(width) * 4;
    const size_t size = static_cast<size_t>(line) * static_cast<size_t>(height);
    if (size >= kMappedPictureBytes) {
        auto info = std::make_unique<TMappedPixels>(TMappedPixels{nullptr, size});
        auto* pixels = static_cast<uchar*>(AllocateZeroedPages(size));
        info->Block = pixels;
        if (pixels) return QImage(pixels, width, height, line, QImage::Format_RGB32, FreeMappedPixels, info.release());
    }
    return QImage(width, height, QImage::Format_RGB32);
}

}  // namespace

QImage BitmapToQImage(const TBitmap& b) {
    if (b.Empty()) return {};
    TBitmap copy;
    const TBitmap* src = &b;
    if (b.PixelFormat() != pf24bit && b.PixelFormat() != pf32bit) {
        copy = b;
        copy.SetPixelFormat(pf24bit);
        src = &copy;
    }
    QImage img = NewPicture(src->Width(), src->Height());
    if (img.isNull()) return img;
    const bool wide = src->PixelFormat() == pf32bit;
    for (int y = 0; y < src->Height(); ++y) {
        const uint8_t* s = src->ScanLine(y);
        auto* d = reinterpret_cast<QRgb*>(img.scanLine(y));
        if (wide) {
            for (int x = 0; x < src->Width(); ++x, s += 4) d[x] = qRgb(s[2], s[1], s[0]);
        } else {
            for (int x = 0; x < src->Width(); ++x, s += 3) d[x] = qRgb(s[2], s[1], s[0]);
        }
    }
    return img;
}

QImage SharedPicture(const std::shared_ptr<const TBitmap>& b) {
    if (!b || b->Empty()) return {};
    if (b->PixelFormat() != pf32bit) return BitmapToQImage(*b);
    // blue, green, red, 255 in memory is Qt's 0xffRRGGBB on a little-endian machine; the picture
    // keeps the bitmap alive and never writes to it (a change would copy it first)
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "32-bit bitmaps are Qt pictures only on little-endian machines");
    auto* keep = new std::shared_ptr<const TBitmap>(b);
    return QImage(
        b->Bits(), b->Width(), b->Height(), b->Stride(), QImage::Format_RGB32,
        [](void* p) { delete static_cast<std::shared_ptr<const TBitmap>*>(p); }, keep);
}

TBitmap QImageToBitmap(const QImage& img) {
    if (img.isNull()) return {};
    const QImage rgb = img.format() == QImage::Format_RGB32 ? img : img.convertToFormat(QImage::Format_RGB32);
    TBitmap b(rgb.width(), rgb.height(), pf24bit);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* s = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        uint8_t* d = b.ScanLine(y);
        for (int x = 0; x < rgb.width(); ++x, d += 3) {
            d[0] = static_cast<uint8_t>(qBlue(s[x]));
            d[1] = static_cast<uint8_t>(qGreen(s[x]));
            d[2] = static_cast<uint8_t>(qRed(s[x]));
        }
    }
    return b;
}

}  // namespace fv
