#include "metadata/orientation.h"

namespace fv {

namespace {
int Index(int o) { return (o >= 1 && o <= 7) ? o - 1 : 7; }
const int kRight[8] = {6, 7, 8, 5, 2, 3, 4, 1};
const int kLeft[8] = {8, 5, 6, 7, 4, 1, 2, 3};
const int kFlipV[8] = {4, 3, 2, 1, 8, 7, 6, 5};
const int kFlipH[8] = {2, 1, 4, 3, 6, 5, 8, 7};
// [turns][none, horizontal only, vertical only, both]
const int kCompose[4][4] = {{1, 2, 4, 3}, {6, 5, 7, 8}, {3, 4, 2, 1}, {8, 7, 5, 6}};
}  // namespace

int OrientationRotateRight(int o) { return kRight[Index(o)]; }
int OrientationRotateLeft(int o) { return kLeft[Index(o)]; }
int OrientationFlipVertical(int o) { return kFlipV[Index(o)]; }
int OrientationFlipHorizontal(int o) { return kFlipH[Index(o)]; }

TOrientationParts DecomposeOrientation(int o) {
    TOrientationParts p;
    switch (o) {
        case 3: p.QuarterTurns = 2; break;
        case 5:
        case 8: p.QuarterTurns = 3; break;
        case 6:
        case 7: p.QuarterTurns = 1; break;
        default: p.QuarterTurns = 0; break;
    }
    p.MirrorVertical = (o == 4 || o == 5 || o == 7);
    p.MirrorHorizontal = (o == 2);
    return p;
}

int ComposeOrientation(int quarterTurns, bool mirrorVertical, bool mirrorHorizontal) {
    int t = ((quarterTurns % 4) + 4) % 4;
    int m = mirrorHorizontal && mirrorVertical ? 3 : (mirrorVertical ? 2 : (mirrorHorizontal ? 1 : 0));
    return kCompose[t][m];
}

}  // namespace fv
