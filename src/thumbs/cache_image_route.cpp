#include "thumbs/cache_image_route.h"

#include <algorithm>

#include "image/effects.h"
#include "image/image_decode.h"
#include "image/jpeg_codec.h"
#include "image/resample.h"
#include "image/transform.h"
#include "library/catalog_item.h"
#include "metadata/jpeg_info.h"
#include "metadata/raw_preview.h"

namespace fv {

namespace {

// what is left after the decode: reduce into the target, keep a smaller picture as it is
void FitDecoded(TBitmap& decoded, TSize target, TCacheImage& out, int32_t& size) {
    const int dw = decoded.Width(), dh = decoded.Height();
    if (dw > target.Width || dh > target.Height) {
        TBitmap fitted(target.Width, target.Height);
        FilteredResample(decoded, fitted, fkTriangle);
        out.Bitmap.Swap(fitted);
        out.Resized = true;
    } else {
        if (dw < target.Width && dh < target.Height) size = std::max(dw, dh);  // stands for what it is
        out.Bitmap.Swap(decoded);
    }
}

void TakeFacts(TCatalogItem& item, TPixelFormat pixelFormat, int32_t width, int32_t height, bool hasExif, int orientation,
               TDateTime shootingDate) {
    item.SetPixelFormat(pixelFormat);
    item.SetSize(width, height);
    if (hasExif) {
        if (!item.IsOrientationKnown() && orientation >= 1 && orientation <= 8) item.SetOrientation(orientation);
        item.SetCameraState(cdRead);
        if (shootingDate > 0) item.SetShootingDate(shootingDate);
    } else {
        item.SetCameraState(cdNone);
    }
}

}  // namespace

const char* CacheImageSourceName(TCacheImageSource source) {
    switch (source) {
        case csExifThumbnail: return "EXIF thumbnail";
        case csRawPreview: return "raw preview";
        case csFullPicture: return "full picture";
        case csRemote: return "remote picture";
        default: return "none";
    }
}

bool IsUsableExifThumbnail(bool hasCachedPicture, int32_t size, int32_t tw, int32_t th, int thumbOrientation,
                           int32_t mainW, int32_t mainH) {
    if (tw <= 0 || th <= 0) return false;
    if (hasCachedPicture && tw < size && th < size) return false;
    const int r = RotationStepsOf(thumbOrientation);
    const bool mainLandscape = mainW >= mainH;
    if (r == 1 || r == 3) return mainLandscape == (th >= tw);
    return mainLandscape == (tw >= th);
}

void ThumbnailFromJpeg(TStream& stream, int orientation, int32_t h, int32_t w, TCacheImage& out, int32_t size) {
    out.Bitmap.Clear();
    out.Resized = false;
    FindJpegStart(stream);
    if (w <= 0 || h <= 0) {
        TJpegSizeRec rec;
        ReadJpegSize(stream, false, rec);
        w = rec.Width;
        h = rec.Height;
    }
    if (w <= 0 || h <= 0 || w > kMaxJpegSide || h > kMaxJpegSide) {
        const TJpegHeader hdr = ReadJpegHeaderStream(stream);
        w = hdr.Width;
        h = hdr.Height;
    }
    if ((w == size && h <= size) || (w <= size && h == size)) {
        DecodeJpegStream(stream, out.Bitmap, 1);
    } else {
        const TSize target = FitSize(size, size, w, h);
        const int denom = (w >= 2 * size || h >= 2 * size) ? ThumbnailScaleDenominator(w, target.Width) : 1;
        TBitmap decoded;
        DecodeJpegStream(stream, decoded, denom);
        FitDecoded(decoded, target, out, size);
    }
    out.Size = size;
    if (orientation > 1) ApplyOrientation(out.Bitmap, orientation);
}

void ThumbnailFromRgbStrips(TStream& stream, int orientation, int32_t h, int32_t w, TCacheImage& out, int32_t size) {
    out.Bitmap.Clear();
    out.Resized = false;
    if (w <= 0 || h <= 0 || w > kMaxBitmapSide || h > kMaxBitmapSide)
        throw EImageCacheRouteError(Format("Thumbnail size %d x %d is invalid", w, h));
    const int64_t rowBytes = 3LL * w;
    stream.SetPosition(0);
    if (stream.Size() < rowBytes * h) throw EImageCacheRouteError("Thumbnail strips are shorter than the picture");
    TBitmap pic(w, h);
    for (int y = 0; y < h; ++y) stream.ReadBuffer(pic.ScanLine(y), rowBytes);
    const TSize target = FitSize(size, size, w, h);
    if (target.Width >= w && target.Height >= h) {
        // kept as it is: it stands for its own size, so the full picture is still made later
        out.Bitmap.Swap(pic);
        size = std::max(w, h);
    } else {
        TBitmap fitted(target.Width, target.Height);
        FilteredResample(pic, fitted, fkTriangle);
        out.Bitmap.Swap(fitted);
        out.Resized = true;
    }
    out.Size = size;
    SwapRedBlue(out.Bitmap);  // the strips hold R, G, B; bitmaps B, G, R
    if (orientation > 1) ApplyOrientation(out.Bitmap, orientation);
}

void MakeFirstPicture(TCatalogItem& item, int32_t size, bool hasCachedPicture, TCacheImage& out) {
    out = TCacheImage();
    const std::string path = item.GetFullPath();
    const uint8_t kind = item.GetKind();
    enum { rNone, rJpeg, rRaw } route = rNone;
    if (kind == ikJpeg || kind == ikDcfThumb) {
        if (item.GetCameraState() != cdNone) route = rJpeg;
    } else if (kind == ikRaw) {
        const int rk = RawKind(path);
        route = rk == rkRAF ? rJpeg : (rk == rkCRW ? rNone : rRaw);
    } else if (IsExifFileExt(path)) {
        route = rRaw;
    }
    if (route == rJpeg) {
        uint8_t options = jiExif | jiThumbnail;
        TJpegInfoExRec rec;
        if (!ReadJpegInfoExFromFileLocked(path, options, rec))
            throw EImageCacheRouteError(Format("\"%s\" cannot be opened", path.c_str()));
        if (rec.Width <= 0 || rec.Height <= 0) throw EImageCacheRouteError(Format("\"%s\" is no JPEG picture", path.c_str()));
        TakeFacts(item, rec.PixelFormat, rec.Width, rec.Height, (options & jiExif) && rec.IsExif, rec.Orientation,
                  rec.ShootingDate);
        if ((options & jiThumbnail) && rec.ThumbStream &&
            IsUsableExifThumbnail(hasCachedPicture, size, rec.ThumbWidth, rec.ThumbHeight, rec.ThumbOrientation,
                                  rec.Width, rec.Height)) {
            ThumbnailFromJpeg(*rec.ThumbStream, rec.ThumbOrientation, rec.ThumbHeight, rec.ThumbWidth, out, size);
            out.Source = csExifThumbnail;
        }
    } else if (route == rRaw) {
        TTiffInfoRec rec;
        RawPreviewInfoLocked(path, false, true, rec);
        TakeFacts(item, rec.PixelFormat, rec.Width, rec.Height, rec.ExifIfdFound != 0, rec.Orientation,
                  rec.ShootingDate);
        if (rec.ThumbStream && rec.ThumbStream->Size() > 0) {
            if (rec.ThumbCompression == 1)
                ThumbnailFromRgbStrips(*rec.ThumbStream, rec.ThumbOrientation, rec.ThumbHeight, rec.ThumbWidth, out,
                                       size);
            else
                ThumbnailFromJpeg(*rec.ThumbStream, rec.ThumbOrientation, rec.ThumbHeight, rec.ThumbWidth, out, size);
            out.Source = csRawPreview;
        }
    }
    // without camera data the file's date stands in for the shooting date
    if (item.GetCameraState() != cdRead) item.SetShootingDate(item.GetFileTime());
    if (out.Bitmap.Empty()) out = TCacheImage();
}

void MakeFullPicture(TCatalogItem& item, int32_t size, TCacheImage& out) {
    out = TCacheImage();
    TImageInfoRec info;
    LoadThumbnail(out.Bitmap, item.GetFullPath(), item.GetKind(), info, true, size, size);
    if (out.Bitmap.Empty())
        throw EImageCacheRouteError(Format("\"%s\" gives no picture", item.GetFullPath().c_str()));
    out.Size = size;
    out.Resized = info.Resized;
    out.Source = csFullPicture;
}

}  // namespace fv
