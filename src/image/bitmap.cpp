#include "image/bitmap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/page_memory.h"

namespace fv {

namespace {
constexpr size_t kMapThreshold = 1 << 20;
}  // namespace

TPixelBuffer::TPixelBuffer(size_t size) : FSize(size) {
    if (size == 0) return;
    if (size >= kMapThreshold) {
        void* p = AllocateZeroedPages(size);
        if (p == nullptr) throw std::bad_alloc();
        FData = static_cast<uint8_t*>(p);
        FMapped = true;
        return;
    }
    FData = static_cast<uint8_t*>(std::calloc(size, 1));
    if (FData == nullptr) throw std::bad_alloc();
}

void TPixelBuffer::Release() noexcept {
    if (FData == nullptr) return;
    if (FMapped)
        FreeZeroedPages(FData, FSize);
    else
        std::free(FData);
    FData = nullptr;
    FSize = 0;
    FMapped = false;
}

TPixelBuffer::TPixelBuffer(const TPixelBuffer& o) : TPixelBuffer(o.FSize) {
    if (FSize) std::memcpy(FData, o.FData, FSize);
}

TPixelBuffer& TPixelBuffer::operator=(const TPixelBuffer& o) {
    if (this != &o) {
        TPixelBuffer t(o);
        Swap(t);
    }
    return *this;
}

int TBitmap::StrideFor(int width, TPixelFormat pf) {
    int bpp = pf == pf32bit ? 4 : (pf == pf8bit ? 1 : 3);
    return ((width * bpp) + 3) & ~3;
}

void TBitmap::SetSize(int width, int height) {
    if (width < 0 || height < 0 || width > kMaxBitmapSide || height > kMaxBitmapSide ||
        static_cast<int64_t>(width) * height > kMaxBitmapPixels)
        throw EBitmapError(Format("Invalid bitmap size %d x %d", width, height));
    if (width == 0 || height == 0) {
        FWidth = width;
        FHeight = height;
        FStride = StrideFor(width, FPixelFormat);
        FData = TPixelBuffer();
        return;
    }
    const int stride = StrideFor(width, FPixelFormat);
    if (width == FWidth && height == FHeight && stride == FStride) return;
    FData = TPixelBuffer(static_cast<size_t>(stride) * height);
    FWidth = width;
    FHeight = height;
    FStride = stride;
}

void TBitmap::SetPixelFormat(TPixelFormat pf) {
    if (pf != pf8bit && pf != pf32bit) pf = pf24bit;
    if (pf == FPixelFormat) return;
    if (Empty()) {
        FPixelFormat = pf;
        FStride = StrideFor(FWidth, pf);
        return;
    }
    TBitmap out;
    out.FPixelFormat = pf;
    out.SetSize(FWidth, FHeight);
    for (int y = 0; y < FHeight; ++y) {
        const uint8_t* s = ScanLine(y);
        uint8_t* d = out.ScanLine(y);
        for (int x = 0; x < FWidth; ++x) {
            uint8_t b, g, r, a = 255;
            if (FPixelFormat == pf8bit) {
                b = g = r = s[x];
            } else if (FPixelFormat == pf32bit) {
                b = s[x * 4]; g = s[x * 4 + 1]; r = s[x * 4 + 2]; a = s[x * 4 + 3];
            } else {
                b = s[x * 3]; g = s[x * 3 + 1]; r = s[x * 3 + 2];
            }
            if (pf == pf8bit) {
                d[x] = static_cast<uint8_t>((r * 9798 + g * 19234 + b * 3736 + 16384) >> 15);
            } else if (pf == pf32bit) {
                d[x * 4] = b; d[x * 4 + 1] = g; d[x * 4 + 2] = r; d[x * 4 + 3] = a;
            } else {
                d[x * 3] = b; d[x * 3 + 1] = g; d[x * 3 + 2] = r;
            }
        }
    }
    Swap(out);
}

void TBitmap::Swap(TBitmap& o) noexcept {
    std::swap(FWidth, o.FWidth);
    std::swap(FHeight, o.FHeight);
    std::swap(FStride, o.FStride);
    std::swap(FPixelFormat, o.FPixelFormat);
    FData.Swap(o.FData);
}

void TBitmap::Fill(uint8_t b, uint8_t g, uint8_t r) {
    int bpp = BytesPerPixel();
    for (int y = 0; y < FHeight; ++y) {
        uint8_t* p = ScanLine(y);
        for (int x = 0; x < FWidth; ++x, p += bpp) {
            if (bpp == 1) { p[0] = static_cast<uint8_t>((r * 9798 + g * 19234 + b * 3736 + 16384) >> 15); continue; }
            p[0] = b; p[1] = g; p[2] = r;
            if (bpp == 4) p[3] = 255;
        }
    }
}

bool TBitmap::SamePixels(const TBitmap& o) const {
    if (FWidth != o.FWidth || FHeight != o.FHeight || FPixelFormat != o.FPixelFormat) return false;
    size_t n = static_cast<size_t>(FWidth) * BytesPerPixel();
    for (int y = 0; y < FHeight; ++y)
        if (std::memcmp(ScanLine(y), o.ScanLine(y), n) != 0) return false;
    return true;
}

TProgressReporter::TProgressReporter(const TProgressEvent& ev, int rows, Mode mode)
    : FEvent(ev ? &ev : nullptr), FRows(rows), FMode(mode) {
    if (FEvent) (*FEvent)(psStarting, 0);
}

TProgressReporter::~TProgressReporter() {
    if (FEvent) {
        try {
            (*FEvent)(psEnding, 100);
        } catch (...) {
        }
    }
}

void TProgressReporter::Report(int row) {
    if (FRows <= 0) return;
    int pct;
    if (FMode == pmRowRatio)
        pct = static_cast<int>(static_cast<int64_t>(row) * 100 / FRows);
    else
        pct = static_cast<int>(row * (100.0 / FRows));
    if (pct != FLast) {
        FLast = pct;
        (*FEvent)(psRunning, pct);
    }
}

}  // namespace fv
