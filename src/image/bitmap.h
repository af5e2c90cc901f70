#pragma once
// The picture every part of the image pipeline works on: rows top first, pixels stored
// blue, green, red (and alpha for 32-bit), each row padded to a multiple of 4 bytes the
// way device-independent bitmaps are. The padding bytes are never read as picture data.
#include <cstdint>
#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

#include "platform/exception.h"
#include "platform/pixel_format.h"

namespace fv {

// The silent abort: callers catch it and keep what they had; it is never shown or logged.
FV_DECLARE_EXCEPTION(EImageAbort, Exception);
FV_DECLARE_EXCEPTION(EBitmapError, Exception);

// Largest side and largest pixel count a bitmap may have; anything above is refused
// with EBitmapError before memory is taken.
constexpr int kMaxBitmapSide = 65535;
constexpr int64_t kMaxBitmapPixels = 30000LL * 30000LL;

enum TProgressStage : uint8_t { psStarting = 0, psRunning = 1, psEnding = 2 };
// Long operations report through this: stage and percent done. An empty function means no reports.
using TProgressEvent = std::function<void(TProgressStage stage, int percent)>;

// Pixel memory. Large buffers are mapped straight from the kernel (already zero, in huge
// pages where the system allows), so that a fresh camera-size picture costs neither a clearing
// pass nor thousands of page faults; small ones come zeroed from the heap.
class TPixelBuffer {
public:
    TPixelBuffer() = default;
    explicit TPixelBuffer(size_t size);
    ~TPixelBuffer() { Release(); }
    TPixelBuffer(const TPixelBuffer& o);
    TPixelBuffer& operator=(const TPixelBuffer& o);
    TPixelBuffer(TPixelBuffer&& o) noexcept { Swap(o); }
    TPixelBuffer& operator=(TPixelBuffer&& o) noexcept {
        TPixelBuffer t(std::move(o));
        Swap(t);
        return *this;
    }
    void Swap(TPixelBuffer& o) noexcept {
        std::swap(FData, o.FData);
        std::swap(FSize, o.FSize);
        std::swap(FMapped, o.FMapped);
    }
    uint8_t* Data() { return FData; }
    const uint8_t* Data() const { return FData; }
    size_t Size() const { return FSize; }

private:
    void Release() noexcept;
    uint8_t* FData = nullptr;
    size_t FSize = 0;
    bool FMapped = false;
};

class TBitmap {
public:
    TBitmap() = default;
    TBitmap(int width, int height, TPixelFormat pf = pf24bit) { SetPixelFormat(pf); SetSize(width, height); }

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    bool Empty() const { return FWidth <= 0 || FHeight <= 0; }
    TPixelFormat PixelFormat() const { return FPixelFormat; }
    int BytesPerPixel() const { return FPixelFormat == pf32bit ? 4 : (FPixelFormat == pf8bit ? 1 : 3); }
    // bytes between the starts of two rows (a multiple of 4)
    int Stride() const { return FStride; }

    // Resizes; a new size starts all zero, the same size keeps the picture. Raises
    // EBitmapError for negative or absurd sizes.
    void SetSize(int width, int height);
    // Converts the content: 32 -> 24 drops alpha, 8 (grey) -> 24 repeats the level, 24 -> 32 adds alpha 255.
    // Only pf8bit, pf24bit and pf32bit are held; other formats are taken as pf24bit.
    void SetPixelFormat(TPixelFormat pf);
    void Assign(const TBitmap& other) { *this = other; }
    void Clear() { FWidth = FHeight = FStride = 0; FData = TPixelBuffer(); }
    void Swap(TBitmap& other) noexcept;
    void Fill(uint8_t b, uint8_t g, uint8_t r);

    uint8_t* ScanLine(int y) { return FData.Data() + static_cast<size_t>(y) * FStride; }
    const uint8_t* ScanLine(int y) const { return FData.Data() + static_cast<size_t>(y) * FStride; }
    uint8_t* Bits() { return FData.Data(); }
    const uint8_t* Bits() const { return FData.Data(); }

    // exact comparison of the picture bytes (padding ignored)
    bool SamePixels(const TBitmap& other) const;

private:
    static int StrideFor(int width, TPixelFormat pf);
    int FWidth = 0;
    int FHeight = 0;
    int FStride = 0;
    TPixelFormat FPixelFormat = pf24bit;
    TPixelBuffer FData;
};

// Reports starting 0 % on construction, running percentages as rows complete, and ending
// 100 % on destruction (so also when an exception leaves the operation).
class TProgressReporter {
public:
    enum Mode {
        pmRowRatio,   // trunc(row * 100 / rows), whenever it changes
        pmRealStep    // trunc(row * (100 / rows)) with a real step, whenever it changes
    };
    TProgressReporter(const TProgressEvent& ev, int rows, Mode mode = pmRowRatio);
    ~TProgressReporter();
    TProgressReporter(const TProgressReporter&) = delete;
    TProgressReporter& operator=(const TProgressReporter&) = delete;
    void Row(int row) {
        if (FEvent && *FEvent) Report(row);
    }

private:
    void Report(int row);
    const TProgressEvent* FEvent;
    int FRows;
    Mode FMode;
    int FLast = 0;
};

}  // namespace fv
