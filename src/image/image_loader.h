#pragma once
// The viewer's decodes: the photo shown large at the reduce level that fits the window, turned
// the way the user turned it (the viewer's loader thread runs them).
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/threads.h"
#include "image/bitmap.h"
#include "platform/sync.h"

namespace fv {

// The viewer's decode: the picture of a file at the smallest size that still covers the box it
// will be shown in. `want` is told the picture's full size (as stored, not turned) and answers
// the smallest width and height it needs (0, 0: the reduce level decides). JPEG files (and RAF
// files through their JPEG) are decoded at the coarsest eighth scale of the DCT that gives at
// least that size, never coarser than the reduce level allows; other kinds decode at the reduce
// level. `cancelled` stops a JPEG decode between rows (EImageAbort). `eighths` receives the
// scale used (8 = full size). Raises what LoadImage raises.
using TViewDecodeWant = std::function<void(int width, int height, int& minWidth, int& minHeight)>;
void LoadViewImage(TBitmap& bitmap, int kind, const std::string& fileName, int reduce, const TViewDecodeWant& want,
                   const std::function<bool()>& cancelled, int* eighths = nullptr);
// The viewer's decode of a fitted photo straight into its 32-bit picture (alpha 255): JPEG rows
// are filtered into the fitted size as libjpeg gives them, a strip at a time, so the decoded
// frame never exists whole; the small fitted picture is turned afterwards. `want` as above;
// `fit` is told the decoded size turned the way `orientation` turns it and answers the fitted
// size (the same turn). `kernel` is a TFilterKernel. Returns false, having read nothing, for
// files that are not JPEG (the caller decodes those whole). Raises what LoadViewImage raises.
using TViewFitSize = std::function<void(int width, int height, int& fittedWidth, int& fittedHeight)>;
struct TViewFittedFacts {
    int Eighths = 8;                        // the DCT scale used
    int DecodedWidth = 0, DecodedHeight = 0;  // the decoded size, turned
};
bool LoadViewImageFitted(TBitmap& fitted, int kind, const std::string& fileName, int reduce, int orientation,
                         const TViewDecodeWant& want, const TViewFitSize& fit, int kernel,
                         const std::function<bool()>& cancelled, TViewFittedFacts* facts = nullptr);
// Turns a 32-bit picture the way an Exif orientation (1..8) says, as ApplyOrientation turns a
// 24-bit one.
void OrientPicture32(TBitmap& bitmap, int orientation);
// The coarsest eighth scale (1..8) at which a width x height picture is at least minWidth x
// minHeight (8 when even the full size is smaller).
int ViewDecodeEighths(int width, int height, int minWidth, int minHeight);

}  // namespace fv
