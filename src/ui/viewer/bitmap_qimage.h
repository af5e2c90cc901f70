#pragma once
// Bitmaps and Qt pictures, both ways: what the viewer's loader, the grid's thumbnail reader and
// the tests turn the library's pixels into before Qt draws them.
#include <QImage>
#include <memory>

#include "image/bitmap.h"

namespace fv {

// 24- or 32-bit bitmap to a Qt picture
QImage BitmapToQImage(const TBitmap& b);
// a 32-bit bitmap as a Qt picture over the same pixels (kept alive by it); other formats are
// copied as BitmapToQImage copies them
QImage SharedPicture(const std::shared_ptr<const TBitmap>& b);
// a Qt picture (any format) to a 24-bit bitmap
TBitmap QImageToBitmap(const QImage& img);

}  // namespace fv
