#pragma once
// Turns picture files into bitmaps: facts only (GetImageInfo), the whole picture at full
// size or 1/2, 1/4, 1/8 (LoadImage), and a picture fitted to a box, decoded at the
// coarsest DCT scale that still gives the fitted size (LoadThumbnail).
#include <cstdint>
#include <string>

#include "image/bitmap.h"
#include "metadata/item_kind.h"
#include "platform/datetime.h"
#include "platform/stream.h"

namespace fv {

FV_DECLARE_EXCEPTION(EImageLoadError, Exception);

// Files are told apart by the item kinds of the file-type registry (TItemKind): ikBmp,
// ikJpeg, ikMetafile, ikDcfThumb, ikRaw; ikNotImage and above have no picture.

// what callers keep per file
struct TImageInfoRec {
    TPixelFormat PixelFormat = pf24bit;  // pfDevice (0): no picture
    int32_t Width = 0;
    int32_t Height = 0;
    bool IsExif = false;
    bool HasOrientation = false;
    int32_t Orientation = 1;
    bool Resized = false;
    TDateTime ShootingDate = 0;
};

// 0 full, 1 half, 2 quarter, 3 (or more) eighth
float ReduceFactor(int reduce);
int ReduceDenominator(int reduce);

void GetImageInfo(const std::string& fileName, int kind, TImageInfoRec& info);
// Raises EImageLoadError for kinds above 5 and for metafiles it cannot read; other failures
// raise what the decoder raised.
void LoadImage(TBitmap& bitmap, int kind, const std::string& fileName, const TProgressEvent& progress = {},
               int reduce = 0);
// Kinds 0 and 3 never raise (the info stays at its defaults and the bitmap empty); JPEG and
// raw files raise when they cannot be read; kind 6 raises EImageAbort.
void LoadThumbnail(TBitmap& bitmap, const std::string& fileName, int kind, TImageInfoRec& info, bool smooth,
                   int maxHeight, int maxWidth);
// The in-memory halves of LoadThumbnail: a JPEG file's bytes, and a raw file's preview record
// (RawPreviewInfo with the large preview copied; the preview stream is freed).
void LoadJpegThumbnail(TMemoryStream& stream, TBitmap& bitmap, TImageInfoRec& info, bool smooth, int maxHeight,
                       int maxWidth);
struct TTiffInfoRec;
void LoadRawThumbnail(TTiffInfoRec& rec, TBitmap& bitmap, TImageInfoRec& info, bool smooth, int maxHeight,
                      int maxWidth);
// The stream is at the JPEG's FF D8. Returns whether a resample happened.
bool FitJpegStream(TStream& stream, TBitmap& bitmap, int maxWidth, bool smooth, int srcHeight, int srcWidth,
                   int maxHeight);
// The DCT scale denominator FitJpegStream decodes at for a picture srcWidth wide fitted to fittedWidth.
int ThumbnailScaleDenominator(int srcWidth, int fittedWidth);
// Halves, quarters or eighths a decoded picture with the triangle filter.
void ReduceBitmap(TBitmap& bitmap, int reduce);
// Reads the whole file under ImageLoadLock; returns whether the stream is non-empty. Files
// above kMaxPictureFileSize raise EImageLoadError instead of being read into memory.
constexpr uint64_t kMaxPictureFileSize = 1ULL << 31;
bool LoadFileToMemory(const std::string& fileName, TMemoryStream& stream);

// The 22-byte placeable header of a WMF file.
struct TPlaceableWmfHeader {
    uint32_t Key = 0;
    uint16_t Handle = 0;
    int16_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    uint16_t UnitsPerInch = 0;
    uint32_t Reserved = 0;
    uint16_t Checksum = 0;
};
// false when the bytes are too short, the key is wrong or the checksum does not match
bool ReadPlaceableWmfHeader(const uint8_t* data, size_t size, TPlaceableWmfHeader& header);
// screen pixels per inch that metafile sizes are computed for
constexpr int kScreenPixelsPerInch = 96;

}  // namespace fv
