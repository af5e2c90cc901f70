#pragma once
// The pictures of the thumbnail workers: a first picture from what a file already carries (the
// EXIF thumbnail of a JPEG, the preview of a raw file) and the definitive one from the full
// picture. Each answers the bitmap to store and the edge size it stands for; none touches the cache.
#include <cstdint>
#include <string>

#include "image/bitmap.h"
#include "platform/stream.h"

namespace fv {

class TCatalogItem;

// where a stored picture came from
enum TCacheImageSource : uint8_t {
    csNone = 0,           // nothing made
    csExifThumbnail = 1,  // a JPEG's EXIF thumbnail
    csRawPreview = 2,     // the thumbnail a raw file carries
    csFullPicture = 3,    // the picture itself, fitted
    csRemote = 4,         // a picture the item supplied
};
const char* CacheImageSourceName(TCacheImageSource source);

struct TCacheImage {
    TBitmap Bitmap;
    int32_t Size = 0;      // the edge size to store it under (may be less than asked)
    bool Resized = false;  // reduced by resampling: sharpen before storing
    TCacheImageSource Source = csNone;
};

// Whether an EXIF thumbnail of tw x th (with its own orientation) may stand for a main
// picture of mainW x mainH: the shape must agree, and an item that has a picture already
// only takes one that is not smaller than asked in both directions.
bool IsUsableExifThumbnail(bool hasCachedPicture, int32_t size, int32_t tw, int32_t th, int thumbOrientation,
                           int32_t mainW, int32_t mainH);

// A JPEG thumbnail (stream at or near its FF D8) fitted into size x size; w or h 0 are read
// from the JPEG. A thumbnail smaller than asked in both directions is kept as it is and
// stands for its longer side. Raises what the decoder raises.
void ThumbnailFromJpeg(TStream& stream, int orientation, int32_t h, int32_t w, TCacheImage& out, int32_t size);
// Uncompressed strips of w x h R, G, B bytes from the stream's start, fitted likewise. A stream
// shorter than the picture raises EImageCacheRouteError.
void ThumbnailFromRgbStrips(TStream& stream, int orientation, int32_t h, int32_t w, TCacheImage& out, int32_t size);

// The first picture of an item's file, updating the item's facts (size, pixel format,
// EXIF state, orientation unless the user set one, shooting date). Empty when the file carries
// none that fits; raises when the file cannot be read.
void MakeFirstPicture(TCatalogItem& item, int32_t size, bool hasCachedPicture, TCacheImage& out);
// The definitive picture from the file itself (LoadThumbnail). Raises when it cannot be read.
void MakeFullPicture(TCatalogItem& item, int32_t size, TCacheImage& out);

FV_DECLARE_EXCEPTION(EImageCacheRouteError, Exception);

}  // namespace fv
