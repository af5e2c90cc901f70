#include "image/transform.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "image/resample.h"
#include "metadata/orientation.h"

namespace fv {

namespace {

// sizes from the fitting formulas; absurd inputs (sizes read from damaged files) must not
// overflow the conversion
int SizeOf(double v) {
    const double t = std::trunc(v + 0.5);
    if (!(t >= 1.0)) return 1;  // 0 becomes 1; negative and not-a-number too
    if (t > 2147483647.0) return 2147483647;
    return static_cast<int>(t);
}

// Quarter turns copy the picture once into a flat buffer and write the turned rows from it.
template <bool Clockwise>
void RotateQuarter(TBitmap& bmp, const TProgressEvent& progress) {
    bmp.SetPixelFormat(pf24bit);
    if (bmp.Empty()) return;
    const int W = bmp.Width(), H = bmp.Height();
    std::vector<uint8_t> flat(static_cast<size_t>(W) * H * 3);
    for (int y = 0; y < H; ++y) std::memcpy(&flat[static_cast<size_t>(y) * W * 3], bmp.ScanLine(y), static_cast<size_t>(W) * 3);
    bmp.SetSize(H, W);
    TProgressReporter rep(progress, W);
    const size_t rowBytes = static_cast<size_t>(W) * 3;
    for (int y = 0; y < W; ++y) {  // new picture is H wide, W high
        uint8_t* d = bmp.ScanLine(y);
        if (Clockwise) {
            // new(x, y) = old(y, H - 1 - x)
            const uint8_t* s = &flat[static_cast<size_t>(H - 1) * rowBytes + static_cast<size_t>(y) * 3];
            for (int x = 0; x < H; ++x, s -= rowBytes, d += 3) { d[0] = s[0]; d[1] = s[1]; d[2] = s[2]; }
        } else {
            // new(x, y) = old(W - 1 - y, x)
            const uint8_t* s = &flat[static_cast<size_t>(W - 1 - y) * 3];
            for (int x = 0; x < H; ++x, s += rowBytes, d += 3) { d[0] = s[0]; d[1] = s[1]; d[2] = s[2]; }
        }
        rep.Row(y + 1);
    }
}

inline void SwapPixel(uint8_t* a, uint8_t* b) {
    std::swap(a[0], b[0]);
    std::swap(a[1], b[1]);
    std::swap(a[2], b[2]);
}

}  // namespace

void RotateClockwise(TBitmap& bmp, const TProgressEvent& progress) { RotateQuarter<true>(bmp, progress); }
void RotateCounterClockwise(TBitmap& bmp, const TProgressEvent& progress) { RotateQuarter<false>(bmp, progress); }

void RotateHalf(TBitmap& bmp, const TProgressEvent& progress) {
    bmp.SetPixelFormat(pf24bit);
    if (bmp.Empty()) return;
    const int W = bmp.Width(), H = bmp.Height();
    const int pairs = (H - 1) / 2;
    TProgressReporter rep(progress, pairs + 1);
    for (int k = 0; k <= pairs; ++k) {
        uint8_t* a = bmp.ScanLine(k);
        uint8_t* b = bmp.ScanLine(H - 1 - k);
        if (a == b) {
            for (int i = 0; i <= (W - 1) / 2; ++i) SwapPixel(a + i * 3, a + (W - 1 - i) * 3);
        } else {
            for (int i = 0; i < W; ++i) SwapPixel(a + i * 3, b + (W - 1 - i) * 3);
        }
        rep.Row(k + 1);
    }
}

void FlipVertical(TBitmap& bmp, const TProgressEvent& progress) {
    bmp.SetPixelFormat(pf24bit);
    if (bmp.Empty()) return;
    const int W = bmp.Width(), H = bmp.Height();
    const int pairs = (H - 1) / 2;
    std::vector<uint8_t> tmp(static_cast<size_t>(W) * 3);
    TProgressReporter rep(progress, pairs + 1);
    for (int k = 0; k <= pairs; ++k) {
        uint8_t* a = bmp.ScanLine(k);
        uint8_t* b = bmp.ScanLine(H - 1 - k);
        if (a != b) {
            std::memcpy(tmp.data(), a, tmp.size());
            std::memcpy(a, b, tmp.size());
            std::memcpy(b, tmp.data(), tmp.size());
        }
        rep.Row(k + 1);
    }
}

void Mirror(TBitmap& bmp, const TProgressEvent& progress) {
    bmp.SetPixelFormat(pf24bit);
    if (bmp.Empty()) return;
    const int W = bmp.Width(), H = bmp.Height();
    TProgressReporter rep(progress, H);
    for (int y = 0; y < H; ++y) {
        uint8_t* a = bmp.ScanLine(y);
        for (int i = 0; i <= (W - 1) / 2; ++i) SwapPixel(a + i * 3, a + (W - 1 - i) * 3);
        rep.Row(y + 1);
    }
}

void ApplyOrientation(TBitmap& bmp, int o, const TProgressEvent& progress) {
    switch (o) {
        case 2: Mirror(bmp, progress); break;
        case 3: RotateHalf(bmp, progress); break;
        case 4: FlipVertical(bmp, progress); break;
        case 5: RotateCounterClockwise(bmp, progress); FlipVertical(bmp, progress); break;
        case 6: RotateClockwise(bmp, progress); break;
        case 7: RotateClockwise(bmp, progress); FlipVertical(bmp, progress); break;
        case 8: RotateCounterClockwise(bmp, progress); break;
        default: break;
    }
}

void ApplyUserTransform(int steps, bool flipVertical, bool mirror, const TProgressEvent& progress, TBitmap& bmp) {
    switch (steps) {
        case 1: RotateClockwise(bmp, progress); break;
        case 2: RotateHalf(bmp, progress); break;
        case 3: RotateCounterClockwise(bmp, progress); break;
        default: break;
    }
    if (flipVertical) FlipVertical(bmp, progress);
    if (mirror) Mirror(bmp, progress);
}

// Same maps as the catalog's turn and flip operations, under the names the pixel side uses.
int OrientationMirror(int o) { return OrientationFlipHorizontal(o); }
int RotationStepsOf(int o) { return (o >= 1 && o <= 8) ? DecomposeOrientation(o).QuarterTurns : 0; }
bool NeedsFlipVertical(int o) { return o >= 1 && o <= 8 && DecomposeOrientation(o).MirrorVertical; }
bool NeedsMirror(int o) { return o >= 1 && o <= 8 && DecomposeOrientation(o).MirrorHorizontal; }
int OrientationFromTransform(int steps, bool flipVertical, bool mirror) {
    return ComposeOrientation(steps & 3, flipVertical, mirror);
}

TSize FitSize(int maxW, int maxH, int srcW, int srcH) {
    // the ratios are single-precision values; a zero source side gives an infinite ratio,
    // which the comparison below handles without dividing by zero in integers
    float e = srcH != 0 ? static_cast<float>(maxH) / static_cast<float>(srcH) : 0.0f;
    TSize r;
    float f = srcW != 0 ? static_cast<float>(maxW) / static_cast<float>(srcW) : 0.0f;
    if (maxW == 0 || (maxH != 0 && f > e)) {
        r.Width = SizeOf(static_cast<double>(srcW) * e);
        r.Height = maxH;
    } else {
        r.Width = maxW;
        r.Height = SizeOf(static_cast<double>(srcH) * f);
    }
    if (r.Width == 0) r.Width = 1;
    if (r.Height == 0) r.Height = 1;
    return r;
}

void FitSizeToBitmap(TBitmap& bmp, int maxW, int maxH, int srcH, int srcW) {
    TSize s = FitSize(maxW, maxH, srcW, srcH);
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(s.Width, s.Height);
}

TSize CoverSize(int boxW, int boxH, int srcW, int srcH) {
    float b = srcW != 0 ? static_cast<float>(boxW) / static_cast<float>(srcW) : 0.0f;
    float d = srcH != 0 ? static_cast<float>(boxH) / static_cast<float>(srcH) : 0.0f;
    TSize r;
    if (b >= d) {
        r.Width = boxW;
        r.Height = SizeOf(static_cast<double>(b) * srcH);
    } else {
        r.Width = SizeOf(static_cast<double>(srcW) * d);
        r.Height = boxH;
    }
    if (r.Width == 0) r.Width = 1;
    if (r.Height == 0) r.Height = 1;
    return r;
}

void CropBitmap(TBitmap& bmp, int left, int right, const TProgressEvent& progress, int bottom, int top) {
    bmp.SetPixelFormat(pf24bit);
    const int W = bmp.Width(), H = bmp.Height();
    const int nw = W - left - right, nh = H - top - bottom;
    // margins that are negative or leave nothing would read outside the picture
    if (left < 0 || right < 0 || top < 0 || bottom < 0 || nw <= 0 || nh <= 0) throw EImageAbort("");
    TBitmap out(nw, nh);
    TProgressReporter rep(progress, nh);
    for (int y = 0; y < nh; ++y) {
        std::memcpy(out.ScanLine(y), bmp.ScanLine(y + top) + static_cast<size_t>(left) * 3, static_cast<size_t>(nw) * 3);
        rep.Row(y + 1);
    }
    bmp.Swap(out);
}

void CropFit(TBitmap& bmp, int w, int h, const TProgressEvent& progress, int method) {
    bmp.SetPixelFormat(pf24bit);
    TSize c = CoverSize(w, h, bmp.Width(), bmp.Height());
    ResizeBitmap(bmp, c.Width, c.Height, progress, method);
    // ResizeBitmap leaves the picture alone when one side already matches; cut what is there
    const int Wc = bmp.Width(), Hc = bmp.Height();
    int cw = std::min(w, Wc), ch = std::min(h, Hc);
    int left = static_cast<int>(std::trunc((Wc - cw) / 2.0 + 0.5));
    int top = static_cast<int>(std::trunc((Hc - ch) / 2.0 + 0.5));
    CropBitmap(bmp, left, Wc - cw - left, progress, Hc - ch - top, top);
}

}  // namespace fv
