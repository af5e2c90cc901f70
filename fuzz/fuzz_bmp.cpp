// libFuzzer target: the BMP reader (every header kind, bit depth, bit fields, RLE4 and RLE8)
// and the header-only facts.
#include <cstddef>
#include <cstdint>

#include "image/image_io.h"

namespace {

// Headers may claim 30000 x 30000 pixels; those are parsed but not decoded (slow, not wrong).
// Under the sanitizers a 4096 x 4096 picture takes seconds, so the cap is lower.
constexpr int64_t kMaxDecodedPixels = 1024LL * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace fv;
    int w = 0, h = 0;
    TPixelFormat pf = pf24bit;
    if (!ReadBmpSize(data, size, w, h, pf)) return 0;
    if (w <= 0 || h <= 0) __builtin_trap();  // a header that parses always gives a picture size
    if (static_cast<int64_t>(w) * h > kMaxDecodedPixels) return 0;
    try {
        TBitmap b;
        LoadBmpFromMemory(data, size, b);
        if (b.Width() != w || b.Height() != h || b.PixelFormat() != pf24bit) __builtin_trap();
    } catch (const EBitmapFormatError&) {
        // broken files raise the bitmap format error; anything else (or a crash) is a finding
    }
    return 0;
}
