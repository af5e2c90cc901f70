#pragma once
// The resamplers: nearest neighbour, bilinear, area average and the separable filtered
// resampler with six kernels and 14-bit fixed-point weights. All work on 24-bit bitmaps;
// src is converted to 24-bit first, dst keeps its size and becomes 24-bit (the filtered
// resampler also writes a 32-bit dst as it is, alpha 255).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "image/bitmap.h"

namespace fv {

enum TResizeMethod : uint8_t {
    rmNearest = 0,
    rmAuto = 1,
    rmBox = 2,
    rmTriangle = 3,
    rmSinc = 4,
    rmLanczos3 = 5,
    rmPolynomial = 6,
    rmBSpline = 7
};

// filter kernels of FilteredResample
enum TFilterKernel : int { fkBox = 0, fkTriangle = 1, fkSinc = 2, fkPolynomial = 3, fkBSpline = 4, fkLanczos3 = 5 };

// Resamples src into dst's current size; raises EImageAbort when either has no pixels.
void Resample(TBitmap& src, TBitmap& dst, int method, const TProgressEvent& progress = {});
// In place; raises EImageAbort for sizes that are not positive; does nothing when one side already matches.
void ResizeBitmap(TBitmap& bitmap, int width, int height, const TProgressEvent& progress = {}, int method = rmAuto);

void FilteredResample(TBitmap& src, TBitmap& dst, int kernel, const TProgressEvent& progress = {});
// The filtered resampler fed by rows as they come (a decoder's strips): the source is asked for
// `count` (at most 16) 24-bit rows from row `first` on and fills `rows` with pointers that stay
// valid until it is asked again. Rows are asked in rising order, each at most once; rows never
// needed are skipped. dst is 24- or 32-bit (alpha 255); what the source raises leaves here.
// verticalFirst: the columns are filtered before the rows (FilteredResample filters the rows
// first; a picture turned by a quarter after its fit gets the pixels it would have got when
// turned first).
using TResampleRowSource = std::function<void(int first, int count, const uint8_t** rows)>;
void FilteredResampleRows(int srcW, int srcH, const TResampleRowSource& source, TBitmap& dst, int kernel,
                          const TProgressEvent& progress = {}, bool verticalFirst = false);
void AreaAverage(TBitmap& src, TBitmap& dst, const TProgressEvent& progress = {});
void Bilinear(TBitmap& src, TBitmap& dst, const TProgressEvent& progress = {});
void Nearest(TBitmap& src, TBitmap& dst, const TProgressEvent& progress = {});

// One destination index of the filtered resampler: source indices First..First+Weights.size()-1
// and their 14-bit weights, which add up to exactly 16384.
struct TContribution {
    int First = 0;
    std::vector<int32_t> Weights;
};
std::vector<TContribution> BuildContributions(int srcSize, int dstSize, int kernel);
// the tabulated kernel value at distance x (source pixels), 0 at and beyond the support
float KernelValue(int kernel, double x);

namespace resample_detail {
// Row k is first + k * stride. out[j] = clamp((sum_k weights[k] * row_k[j]) >> 14, 0, 255) for j < bytes.
void CombineRowsScalar(const uint8_t* first, ptrdiff_t stride, const int32_t* weights, int count, uint8_t* out,
                       int bytes);
// the same bytes, vectorised where the processor allows
void CombineRows(const uint8_t* first, ptrdiff_t stride, const int32_t* weights, int count, uint8_t* out, int bytes);
// 24-bit pixels to 32-bit ones, alpha 255
void ExpandRow(const uint8_t* bgr, uint8_t* bgra, int pixels);
// selects the plain loops everywhere (tests compare both)
void SetUseSimd(bool on);
bool UseSimd();
}  // namespace resample_detail

}  // namespace fv
