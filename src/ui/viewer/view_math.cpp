#include "ui/viewer/view_math.h"

#include <algorithm>
#include <cmath>

namespace fv {

namespace view_math {

double FixedScale(int sizeMode) {
    static const double scales[] = {0.125, 0.25, 0.5, 1, 1.5, 2, 3, 4, 8};
    if (sizeMode < vsmEighth || sizeMode > vsmEightfold) return 0;
    return scales[sizeMode - vsmEighth];
}

int DecodeScale(int sizeMode, bool allowReduced, bool jpegKind, int photoW, int photoH, int boxW, int boxH) {
    if (sizeMode == vsmEighth) return 3;
    if (sizeMode == vsmQuarter) return 2;
    if (sizeMode == vsmHalf) return 1;
    if (sizeMode >= vsmActual) return 0;
    if (!allowReduced || !jpegKind || photoW <= 0 || photoH <= 0 || boxW <= 0 || boxH <= 0) return 0;
    double rw = double(photoW) / boxW, rh = double(photoH) / boxH;
    double r = sizeMode == vsmFitWidth ? rw : (sizeMode == vsmFitHeight ? rh : std::max(rw, rh));
    if (r >= 8) return 3;
    if (r >= 4) return 2;
    if (r >= 2) return 1;
    return 0;
}

TLayout Layout(int sizeMode, int W, int H, int w, int h, int sx, int sy) {
    TLayout l;
    if (w <= 0 || h <= 0) return l;
    const double availW = W - 4 * kBorder, availH = H - 4 * kBorder;
    double s;
    switch (sizeMode) {
        case vsmFitShrink: s = std::min({1.0, availW / w, availH / h}); break;
        case vsmFit: s = std::min(availW / w, availH / h); break;
        case vsmFitWidth:
            s = availW / w;
            if (h * s > availH) {
                l.VBar = true;
                s = (availW - sx) / w;
            }
            break;
        case vsmFitHeight:
            s = availH / h;
            if (w * s > availW) {
                l.HBar = true;
                s = (availH - sy) / h;
            }
            break;
        default:
            s = sizeMode <= vsmActual ? 1.0 : FixedScale(sizeMode);
            l.HBar = w * s > availW;
            l.VBar = h * s > availH - (l.HBar ? sy : 0);
            // a vertical bar narrows the width: the picture must not hide under it
            if (l.VBar && !l.HBar && w * s > availW - sx) l.HBar = true;
            break;
    }
    if (s <= 0) s = 0;
    l.Scale = s;
    l.Width = std::max(0, static_cast<int>(std::floor(w * s)));
    l.Height = std::max(0, static_cast<int>(std::floor(h * s)));
    l.Left = l.HBar ? 0 : static_cast<int>((availW - l.Width - (l.VBar ? sx : 0)) / 2);
    l.Top = l.VBar ? 0 : static_cast<int>((availH - l.Height - (l.HBar ? sy : 0)) / 2);
    l.Left = std::max(0, l.Left);
    l.Top = std::max(0, l.Top);
    return l;
}

int ZoomInMode(double k, bool toLimit) {
    if (toLimit) return vsmActual;
    if (k >= 4) return vsmEightfold;
    if (k >= 3) return vsmFourfold;
    if (k >= 2) return vsmTriple;
    if (k >= 1.5) return vsmDouble;
    if (k >= 1) return vsmOneAndHalf;
    if (k >= 0.5) return vsmActual;
    if (k >= 0.25) return vsmHalf;
    if (k >= 0.125) return vsmQuarter;
    return vsmEighth;
}

int ZoomOutMode(double k, bool toLimit) {
    if (toLimit) return vsmFitShrink;
    if (k <= 0.25) return vsmEighth;
    if (k <= 0.5) return vsmQuarter;
    if (k <= 1) return vsmHalf;
    if (k <= 1.5) return vsmActual;
    if (k <= 2) return vsmOneAndHalf;
    if (k <= 3) return vsmDouble;
    if (k <= 4) return vsmTriple;
    if (k <= 8) return vsmFourfold;
    return vsmEightfold;
}

}  // namespace view_math

}  // namespace fv
