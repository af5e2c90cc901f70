#pragma once
// Quick JPEG header readers: image size, EXIF orientation and shooting date, the EXIF
// (IFD1) thumbnail, an APP0/APP13 preview and the comment, read with as little I/O as
// possible. None of them raises to its caller.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "metadata/tiff_info.h"
#include "platform/datetime.h"
#include "platform/stream.h"

namespace fv {

// the "silent abort" of FindJpegStart when a stream holds no FF D8 near its start
FV_DECLARE_EXCEPTION(EJpegStartNotFound, Exception);

struct TJpegSizeRec {
    TPixelFormat PixelFormat = pf24bit;
    int32_t Width = 0;
    int32_t Height = 0;
    bool IsExif = false;
};

// option bits of ReadJpegInfoEx (the same bits come back for what was found)
enum : uint8_t {
    jiExif = 1,       // orientation and shooting date
    jiThumbnail = 2,  // EXIF (IFD1) thumbnail
    jiPreview = 4,    // JPEG embedded in APP0 / APP13
    jiComment = 8,    // COM segment
};

// The record the thumbnail and catalog code keep per file. Whoever fills one owns its
// streams (unique_ptr); FreeJpegInfoEx drops them.
struct TJpegInfoExRec {
    TPixelFormat PixelFormat = pfDevice;  // pfDevice until a frame header is read
    int32_t Width = 0;
    int32_t Height = 0;
    bool IsExif = false;
    int32_t Orientation = 1;
    TDateTime ShootingDate = 0;
    int32_t ThumbWidth = 0;
    int32_t ThumbHeight = 0;
    int32_t ThumbOrientation = 1;
    std::unique_ptr<TMemoryStream> ThumbStream;  // the EXIF thumbnail JPEG, at 0
    int32_t PreviewWidth = 0;
    int32_t PreviewHeight = 0;
    std::unique_ptr<TMemoryStream> PreviewStream;  // APP0/APP13 payload, at the embedded FF D8
    std::string Comment;
};

void FreeJpegInfoEx(TJpegInfoExRec& rec);

// true when the upper-cased extension (with its dot) occurs in the list of EXIF file types
bool IsExifFileExt(const std::string& fileName);
// "Exif" NUL NUL
bool IsExifHeader(const uint8_t* sixBytes);

// Position of the FF D8 at 0, at 128 or anywhere in the first 1024 bytes (index >= 1);
// the stream is left there. Raises EJpegStartNotFound when there is none.
int64_t FindJpegStart(TStream& stream);
// Position of the FF of the APPn marker (n 0..15; the stream is left there), or -1.
int64_t FindAppSegment(TStream& stream, int n);
// Copies the payload of the first APPn segment into dest (at 0). False when absent.
bool ExtractAppSegment(TStream& stream, int n, TMemoryStream& dest);
bool ExtractAppSegmentFromFile(const std::string& fileName, int n, TMemoryStream& dest);
// Copies the payload of the first APP1 segment that starts with "Exif" NUL NUL (an XMP
// APP1 may come first). False when there is none.
bool ExtractExifSegment(TStream& stream, TMemoryStream& dest);
bool ExtractExifSegmentFromFile(const std::string& fileName, TMemoryStream& dest);

// Size of the main image; -1 x -1 when the stream cannot be read. The position is restored.
void ReadJpegSize(TStream& stream, bool searchStart, TJpegSizeRec& rec);
// options: in the wanted jiXxx bits, out the bits of what was found.
void ReadJpegInfoEx(TStream& stream, uint8_t& options, TJpegInfoExRec& rec);
// Opens the file for reading through a 16 KiB buffered stream; false when it cannot be opened.
bool ReadJpegInfoExFromFile(const std::string& fileName, uint8_t& options, TJpegInfoExRec& rec);
// The same while holding ImageLoadLock.
bool ReadJpegInfoExFromFileLocked(const std::string& fileName, uint8_t& options, TJpegInfoExRec& rec);

// Process-wide lock shared by the foreground image loader and the background header reads.
std::recursive_mutex& ImageLoadLock();

}  // namespace fv
