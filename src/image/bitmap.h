#pragma once
// The picture every part of the image pipeline works on: rows top first, pixels stored
// blue, green, red (and alpha for 32-bit), each row padded to a multiple of 4 bytes the
// way device-independent bitmaps are. The padding bytes are never read as picture data.
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/exception.h"

namespace fv {

// Ordinals of the pixel formats that image facts and records store (0 = no picture).
enum TPixelFormat : uint8_t {
    pfDevice = 0,
    pf1bit = 1,
    pf4bit = 2,
    pf8bit = 3,
    pf15bit = 4,
    pf16bit = 5,
    pf24bit = 6,
    pf32bit = 7,
    pfCustom = 8
};

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

    // Resizes; the content of the new picture is unspecified except that the rows that
    // survive keep their bytes when only the height changes. Raises EBitmapError for
    // negative or absurd sizes.
    void SetSize(int width, int height);
    // Converts the content: 32 -> 24 drops alpha, 8 (grey) -> 24 repeats the level, 24 -> 32 adds alpha 255.
    // Only pf8bit, pf24bit and pf32bit are held; other formats are taken as pf24bit.
    void SetPixelFormat(TPixelFormat pf);
    void Assign(const TBitmap& other) { *this = other; }
    void Clear() { FWidth = FHeight = FStride = 0; FData.clear(); FData.shrink_to_fit(); }
    void Swap(TBitmap& other) noexcept;
    void Fill(uint8_t b, uint8_t g, uint8_t r);

    uint8_t* ScanLine(int y) { return FData.data() + static_cast<size_t>(y) * FStride; }
    const uint8_t* ScanLine(int y) const { return FData.data() + static_cast<size_t>(y) * FStride; }
    uint8_t* Bits() { return FData.data(); }
    const uint8_t* Bits() const { return FData.data(); }

    // exact comparison of the picture bytes (padding ignored)
    bool SamePixels(const TBitmap& other) const;

private:
    static int StrideFor(int width, TPixelFormat pf);
    int FWidth = 0;
    int FHeight = 0;
    int FStride = 0;
    TPixelFormat FPixelFormat = pf24bit;
    std::vector<uint8_t> FData;
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
