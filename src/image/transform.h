#pragma once
// Orientation values, the five primitive pixel transforms, the orientation algebra that the
// catalog uses when the user turns or flips a photo, and the fitted/covering size helpers.
#include <cstdint>
#include <utility>

#include "image/bitmap.h"

namespace fv {

// 1 normal, 2 mirrored, 3 half turn, 4 flipped, 5 transposed, 6 needs a clockwise quarter turn,
// 7 transversed, 8 needs a counter-clockwise quarter turn; anything else counts as 1.
void ApplyOrientation(TBitmap& bitmap, int orientation, const TProgressEvent& progress = {});
// rotationSteps: 0 none, 1 clockwise, 2 half, 3 counter-clockwise; then the flip, then the mirror
void ApplyUserTransform(int rotationSteps, bool flipVertical, bool mirror, const TProgressEvent& progress,
                        TBitmap& bitmap);

void RotateClockwise(TBitmap& bitmap, const TProgressEvent& progress = {});
void RotateHalf(TBitmap& bitmap, const TProgressEvent& progress = {});
void RotateCounterClockwise(TBitmap& bitmap, const TProgressEvent& progress = {});
void FlipVertical(TBitmap& bitmap, const TProgressEvent& progress = {});
void Mirror(TBitmap& bitmap, const TProgressEvent& progress = {});

// The catalog's turn and flip maps (OrientationRotateRight, OrientationRotateLeft,
// OrientationFlipVertical) live with the catalog items in library/orientation.h.
int OrientationMirror(int o);
int OrientationFromTransform(int rotationSteps, bool flipVertical, bool mirror);
int RotationStepsOf(int o);
bool NeedsFlipVertical(int o);
bool NeedsMirror(int o);

struct TSize {
    int Width = 0;
    int Height = 0;
    bool operator==(const TSize&) const = default;
};

// Largest aspect-preserving size inside the box; a zero maxWidth fits by height only.
TSize FitSize(int maxWidth, int maxHeight, int srcWidth, int srcHeight);
void FitSizeToBitmap(TBitmap& bitmap, int maxWidth, int maxHeight, int srcHeight, int srcWidth);
// Smallest aspect-preserving size that covers the box.
TSize CoverSize(int boxWidth, int boxHeight, int srcWidth, int srcHeight);

// Cuts the given margins off; raises EImageAbort when nothing would remain.
void CropBitmap(TBitmap& bitmap, int left, int right, const TProgressEvent& progress, int bottom, int top);
// Covers width x height with the method of the resamplers, then cuts the overhang evenly.
void CropFit(TBitmap& bitmap, int width, int height, const TProgressEvent& progress, int method);

}  // namespace fv
