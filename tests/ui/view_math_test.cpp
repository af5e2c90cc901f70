// The viewer's arithmetic on its own: decode scales, the layout of the size modes, zoom steps.
#include <gtest/gtest.h>

#include "ui/viewer/view_math.h"

using namespace fv;
using namespace fv::view_math;

TEST(ViewMath, ReducedDecodingFollowsTheRatioOfPhotoToBox) {
    // 4000 x 3000 in 800 x 600: ratio 5 -> quarter in the fit modes, full at 1:1
    EXPECT_EQ(DecodeScale(vsmFitShrink, true, true, 4000, 3000, 800, 600), 2);
    EXPECT_EQ(DecodeScale(vsmFit, true, true, 4000, 3000, 800, 600), 2);
    EXPECT_EQ(DecodeScale(vsmActual, true, true, 4000, 3000, 800, 600), 0);
    EXPECT_EQ(DecodeScale(vsmDouble, true, true, 4000, 3000, 800, 600), 0);
    // fixed reductions decode at their own scale whatever the box
    EXPECT_EQ(DecodeScale(vsmEighth, false, false, 100, 100, 800, 600), 3);
    EXPECT_EQ(DecodeScale(vsmQuarter, false, false, 100, 100, 800, 600), 2);
    EXPECT_EQ(DecodeScale(vsmHalf, false, false, 100, 100, 800, 600), 1);
    // fit width looks at the width only, fit height at the height only
    EXPECT_EQ(DecodeScale(vsmFitWidth, true, true, 1600, 9000, 800, 600), 1);
    EXPECT_EQ(DecodeScale(vsmFitHeight, true, true, 1600, 9000, 800, 600), 3);
    // thresholds are inclusive: exactly 2, 4 and 8 times
    EXPECT_EQ(DecodeScale(vsmFit, true, true, 1600, 100, 800, 600), 1);
    EXPECT_EQ(DecodeScale(vsmFit, true, true, 1599, 100, 800, 600), 0);
    EXPECT_EQ(DecodeScale(vsmFit, true, true, 6400, 100, 800, 600), 3);
    // not allowed (QuickZoom), not a JPEG, or an unknown size: full scale
    EXPECT_EQ(DecodeScale(vsmFit, false, true, 4000, 3000, 800, 600), 0);
    EXPECT_EQ(DecodeScale(vsmFit, true, false, 4000, 3000, 800, 600), 0);
    EXPECT_EQ(DecodeScale(vsmFit, true, true, 0, 0, 800, 600), 0);
}

TEST(ViewMath, LayoutOfTheSizeModes) {
    const int sb = 16;
    // shrink-only fit keeps a small photo at 1:1 and centres it
    TLayout l = Layout(vsmFitShrink, 804, 604, 640, 480, sb, sb);
    EXPECT_EQ(l.Width, 640);
    EXPECT_EQ(l.Height, 480);
    EXPECT_EQ(l.Left, 80);
    EXPECT_EQ(l.Top, 60);
    EXPECT_FALSE(l.HBar || l.VBar);
    // fit also enlarges
    l = Layout(vsmFit, 804, 604, 640, 480, sb, sb);
    EXPECT_EQ(l.Width, 800);
    EXPECT_EQ(l.Height, 600);
    // fit width of a tall photo: the vertical bar appears and the width leaves room for it
    l = Layout(vsmFitWidth, 804, 604, 400, 1000, sb, sb);
    EXPECT_TRUE(l.VBar);
    EXPECT_FALSE(l.HBar);
    EXPECT_EQ(l.Width, 800 - sb);
    EXPECT_EQ(l.Left, 0);
    // fit height of a wide photo: the horizontal bar, height less the bar
    l = Layout(vsmFitHeight, 804, 604, 3000, 500, sb, sb);
    EXPECT_TRUE(l.HBar);
    EXPECT_EQ(l.Height, 600 - sb);
    // 1:1 of a large photo scrolls both ways; 8x keeps the picture and scales the box
    l = Layout(vsmActual, 804, 604, 1000, 700, sb, sb);
    EXPECT_TRUE(l.HBar && l.VBar);
    EXPECT_EQ(l.Width, 1000);
    l = Layout(vsmEightfold, 804, 604, 100, 50, sb, sb);
    EXPECT_EQ(l.Width, 800);
    EXPECT_EQ(l.Height, 400);
    EXPECT_FALSE(l.VBar);
    // a picture only slightly wider than the area left by the vertical bar still gets its bar
    l = Layout(vsmActual, 804, 604, 795, 900, sb, sb);
    EXPECT_TRUE(l.VBar);
    EXPECT_TRUE(l.HBar);
}

TEST(ViewMath, ZoomStepsUpAndDownTheFixedScales) {
    EXPECT_EQ(ZoomInMode(0.3, false), vsmHalf);
    EXPECT_EQ(ZoomInMode(0.5, false), vsmActual);
    EXPECT_EQ(ZoomInMode(1, false), vsmOneAndHalf);
    EXPECT_EQ(ZoomInMode(4, false), vsmEightfold);
    EXPECT_EQ(ZoomInMode(8, false), vsmEightfold);
    EXPECT_EQ(ZoomInMode(0.1, false), vsmEighth);
    EXPECT_EQ(ZoomInMode(0.1, true), vsmActual);
    EXPECT_EQ(ZoomOutMode(1, false), vsmHalf);
    EXPECT_EQ(ZoomOutMode(0.125, false), vsmEighth);
    EXPECT_EQ(ZoomOutMode(8, false), vsmFourfold);
    EXPECT_EQ(ZoomOutMode(16, false), vsmEightfold);
    EXPECT_EQ(ZoomOutMode(3, true), vsmFitShrink);
    // a step in and back out returns to the same fixed mode
    for (int m = vsmEighth; m <= vsmFourfold; ++m) EXPECT_EQ(ZoomOutMode(FixedScale(ZoomInMode(FixedScale(m), false)), false), m);
}
