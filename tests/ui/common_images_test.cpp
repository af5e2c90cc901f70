// The common image list, the named bitmaps and the cursors.
#include <gtest/gtest.h>

#include <QPainter>

#include "ui/common_images.h"
#include "ui_test_app.h"

using namespace fv;
using fv::test::App;

namespace {
// share of pixels that are not fully transparent
double Coverage(const QImage& img) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) n += qAlpha(img.pixel(x, y)) > 0;
    return double(n) / (img.width() * img.height());
}
}  // namespace

TEST(CommonImages, EveryNumberTheViewsUseHasAPictureAtBothRatios) {
    App();
    for (int index : {23, 40, 43, 60, 75, 76, 77, 78, 79, 102, 126, 134, 139, 166, 183, 184, 192, 193}) {
        SCOPED_TRACE(index);
        ASSERT_TRUE(HasCommonImage(index));
        QPixmap one = CommonImage(index, 16, 1.0), two = CommonImage(index, 16, 2.0);
        EXPECT_EQ(one.size(), QSize(16, 16));
        EXPECT_EQ(two.size(), QSize(32, 32));  // device pixels: drawn anew, not scaled up
        EXPECT_EQ(two.deviceIndependentSize().toSize(), QSize(16, 16));
        double c = Coverage(one.toImage());
        EXPECT_GT(c, 0.15);
        EXPECT_LT(c, 0.98);  // a shape, not a filled square
    }
    EXPECT_FALSE(HasCommonImage(0));
    EXPECT_TRUE(CommonImage(9999).isNull());
    EXPECT_TRUE(CommonImage(43, 0).isNull());
}

TEST(CommonImages, PicturesDifferFromEachOther) {
    App();
    const auto& all = CommonImageIndices();
    for (size_t i = 0; i < all.size(); ++i)
        for (size_t j = i + 1; j < all.size(); ++j)
            EXPECT_NE(CommonImage(all[i]).toImage(), CommonImage(all[j]).toImage()) << all[i] << " vs " << all[j];
}

TEST(CommonImages, NamedBitmapsHaveTheirSizesAndStatesDiffer) {
    App();
    EXPECT_EQ(NamedBitmap("DirectAlbumNormal").size(), QSize(89, 17));
    EXPECT_EQ(NamedBitmap("DirectSlideDown").size(), QSize(109, 17));
    EXPECT_EQ(NamedBitmap("DirectSlideHot", 2.0).size(), QSize(218, 34));
    EXPECT_NE(NamedBitmap("DirectAlbumNormal").toImage(), NamedBitmap("DirectAlbumHot").toImage());
    EXPECT_NE(NamedBitmap("DirectAlbumHot").toImage(), NamedBitmap("DirectAlbumDown").toImage());
    EXPECT_TRUE(NamedBitmap("DirectAlbumSideways").isNull());
    EXPECT_TRUE(NamedBitmap("Nothing").isNull());
}

TEST(CommonImages, CursorsAreDrawnWithTheirHotSpots) {
    App();
    for (const char* name : {"CURHANDFLAT", "CURHANDGRAB", "CURZOOM", "CURNEXT"}) {
        QCursor c = CommonCursor(name);
        EXPECT_EQ(c.shape(), Qt::BitmapCursor) << name;
        EXPECT_GT(Coverage(c.pixmap().toImage()), 0.05) << name;
    }
    EXPECT_EQ(CommonCursor("CURZOOM").hotSpot(), QPoint(12, 12));
    EXPECT_EQ(CommonCursor("NOSUCH").shape(), Qt::ArrowCursor);
}

TEST(CommonImages, ContactSheetAtOneAndTwo) {
    App();
    QImage one = CommonImageSheet(1.0), two = CommonImageSheet(2.0);
    EXPECT_EQ(two.size(), one.size() * 2);
    fv::test::SaveScreenshot(one, "common_images_1x");
    fv::test::SaveScreenshot(two, "common_images_2x");
}
