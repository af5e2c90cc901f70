// Bitmaps and Qt pictures, both ways.
#include <gtest/gtest.h>

#include <cstring>

#include "ui/viewer/bitmap_qimage.h"
#include "ui_test_app.h"

using namespace fv;

// Pictures of a megabyte and more live in pages of their own: the same pixels as a small one,
// writable, and a changed copy leaves the original alone; and back to a bitmap unchanged.
TEST(ViewPictures, LargeAndSmallPicturesConvertTheSamePixelsBothWays) {
    fv::test::App();
    for (int w : {16, 1024}) {
        TBitmap b(w, 512, pf24bit);
        for (int y = 0; y < b.Height(); ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t* p = b.ScanLine(y) + 3 * x;
                p[0] = static_cast<uint8_t>(x);  // blue
                p[1] = static_cast<uint8_t>(y);  // green
                p[2] = static_cast<uint8_t>(x + y);
            }
        QImage img = BitmapToQImage(b);
        ASSERT_EQ(img.size(), QSize(w, 512));
        EXPECT_EQ(img.pixel(w - 1, 300), qRgb((w - 1 + 300) & 255, 300 & 255, (w - 1) & 255));
        QImage copy = img;
        copy.setPixel(0, 0, qRgb(1, 2, 3));
        EXPECT_EQ(img.pixel(0, 0), qRgb(0, 0, 0));
        img.setPixel(5, 5, qRgb(9, 9, 9));
        EXPECT_EQ(img.pixel(5, 5), qRgb(9, 9, 9));
        img.setPixel(5, 5, qRgb(10, 5, 5));
        TBitmap back = QImageToBitmap(img);
        ASSERT_EQ(back.Width(), w);
        EXPECT_EQ(std::memcmp(back.ScanLine(511), b.ScanLine(511), static_cast<size_t>(w) * 3), 0);
    }
}
