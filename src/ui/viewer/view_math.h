#pragma once
// The viewer's modes and its layout arithmetic, free of widgets so that the loader thread, the
// viewer and the tests share them: the fixed scales, the decode scale for a box, where the
// picture goes in the scroll box and which mode a zoom step lands on.
#include <cstdint>

namespace fv {

// size modes
enum : uint8_t {
    vsmFitShrink = 0,
    vsmFit = 1,
    vsmFitWidth = 2,
    vsmFitHeight = 3,
    vsmEighth = 4,
    vsmQuarter = 5,
    vsmHalf = 6,
    vsmActual = 7,
    vsmOneAndHalf = 8,
    vsmDouble = 9,
    vsmTriple = 10,
    vsmFourfold = 11,
    vsmEightfold = 12,
};
// cursor modes
enum : uint8_t { vcmDrag = 0, vcmZoom = 1, vcmNextPrev = 2, vcmQuickZoom = 3 };
// preview modes
enum : uint8_t { vpmNormal = 0, vpmPrintLayout = 1, vpmPrintPages = 2 };

// The view's arithmetic, free of widgets so that it can be checked on its own.
namespace view_math {
constexpr int kBorder = 1;  // bx, by
// the fixed scale of modes 4..12, 0 for the fit modes
double FixedScale(int sizeMode);
// 0 full, 1 half, 2 quarter, 3 eighth; photo size as oriented (sides swapped for quarter turns)
int DecodeScale(int sizeMode, bool allowReduced, bool jpegKind, int photoW, int photoH, int boxW, int boxH);
struct TLayout {
    double Scale = 1;
    int Width = 0, Height = 0;  // paint box size
    bool HBar = false, VBar = false;
    int Left = 0, Top = 0;  // paint box offset inside the viewport when not scrolling on that axis
};
// W, H the scroll box, w, h the decoded picture, sx, sy the scroll-bar extents
TLayout Layout(int sizeMode, int W, int H, int w, int h, int sx, int sy);
int ZoomInMode(double k, bool toLimit);
int ZoomOutMode(double k, bool toLimit);
}  // namespace view_math

}  // namespace fv
