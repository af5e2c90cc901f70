#pragma once
// EXIF orientation values 1 to 8 and the transforms the program applies to them.
// Rotating or mirroring a photo only changes this value.
namespace fv {

// An input outside 1..7 is treated like 8.
int OrientationRotateRight(int o);
int OrientationRotateLeft(int o);
int OrientationFlipVertical(int o);
int OrientationFlipHorizontal(int o);

struct TOrientationParts {
    int QuarterTurns = 0;  // 0..3
    bool MirrorVertical = false;
    bool MirrorHorizontal = false;
};
TOrientationParts DecomposeOrientation(int o);
// quarter turns are taken modulo 4
int ComposeOrientation(int quarterTurns, bool mirrorVertical, bool mirrorHorizontal);

}  // namespace fv
