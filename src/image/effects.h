#pragma once
// The numbered effects: colour conversions, 3 x 3 neighbourhood filters, histogram operations
// and stylisations. Each works in place on a bitmap the caller owns (converted to 24-bit first).
#include <cstdint>
#include <string>

#include "image/bitmap.h"

namespace fv {

constexpr int kEffectCount = 40;  // codes 1..40; 0 is "none"

// name of the effect; only the low 7 bits of the code count, above 40 "Unknown"
std::string EffectName(int code);
// codes 0 and 41..255 change nothing
void ApplyEffect(TBitmap& bitmap, int code, const TProgressEvent& progress = {});

void Grayscale(TBitmap& bitmap, const TProgressEvent& progress = {});
void Sepia(TBitmap& bitmap, const TProgressEvent& progress = {});
void Invert(TBitmap& bitmap, const TProgressEvent& progress = {});
// codes 4..7; any other code changes nothing
void SwapChannels(TBitmap& bitmap, int code, const TProgressEvent& progress = {});
// the weak sharpening that follows every thumbnail reduction (code 8)
inline void SharpenWeak(TBitmap& bitmap, const TProgressEvent& progress = {}) { ApplyEffect(bitmap, 8, progress); }
// raw thumbnails come in red, green, blue byte order
inline void SwapRedBlue(TBitmap& bitmap, const TProgressEvent& progress = {}) { SwapChannels(bitmap, 7, progress); }

void ButtonBevel(TBitmap& bitmap, int border, int amount);
void NoiseReduction(TBitmap& bitmap, int threshold, const TProgressEvent& progress = {});
void HistogramEqualize1(TBitmap& bitmap, const TProgressEvent& progress = {});
void HistogramEqualize2(TBitmap& bitmap, const TProgressEvent& progress = {});
void HistogramEqualize3(TBitmap& bitmap, const TProgressEvent& progress = {});
void ContrastStretch1(TBitmap& bitmap, const TProgressEvent& progress = {});
void ContrastStretch2(TBitmap& bitmap, const TProgressEvent& progress = {});
void Smooth(TBitmap& bitmap, const TProgressEvent& progress = {});
void Soft2(TBitmap& bitmap, const TProgressEvent& progress = {});
// one 3 x 3 pass with the kernel of codes 8..22, 36, 39 or 40 (edges repeat the nearest pixel)
void Convolve3x3(TBitmap& bitmap, int code, const TProgressEvent& progress = {});

namespace effects_detail {
// selects the plain loops of the 3 x 3 kernels (tests compare both)
void SetUseSimd(bool on);
}  // namespace effects_detail

}  // namespace fv
