#pragma once
// Camera raw files are shown through the JPEG previews cameras embed in them; these
// readers know where each raw format keeps them. They swallow every error and leave
// their record at the defaults (no preview, size 0).
#include <cstdint>
#include <string>

#include "metadata/tiff_info.h"
#include "platform/datetime.h"
#include "platform/stream.h"

namespace fv {

enum TRawKind : int {
    rkNone = 0, rkCR2 = 1, rkCRW = 2, rkDNG = 3, rkERF = 4, rkMRW = 5, rkNEF = 6,
    rkNSK = 7, rkORF = 8, rkPEF = 9, rkRAF = 10, rkSRF = 11
};
// by the upper-cased extension; 0 when it is not a raw extension
int RawKind(const std::string& fileName);

// Preview strategies: where a raw format keeps a picture.
enum TRawStrategy : int {
    rsNone = 0, rsIfd0 = 1, rsIfd1 = 2, rsIfd2 = 3, rsSubIfd1 = 4, rsSubIfd2 = 5,
    rsMinolta = 7, rsSubIfdOrNikon = 8, rsOlympus = 9, rsIfd2OrPentax = 10
};
int RawLargeStrategy(int rawKind);
int RawThumbStrategy(int rawKind);

// One IFD of a raw file. Offsets are stream positions (base already added).
struct TRawIfdInfo {
    TPixelFormat PixelFormat = pf24bit;
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t Compression = 6;
    int32_t Orientation = 1;
    int64_t JpegOffset = 0;
    int64_t JpegLength = 0;
    int64_t SubIfd1 = 0;
    int64_t SubIfd2 = 0;
    int64_t ExifIfd = 0;
    int64_t GpsIfd = 0;
    int64_t NextIfd = 0;
    TDateTime ShootingDate = 0;
};

// Reads the IFD at ifdPos (a stream position). Never raises.
void ReadRawIfd(TStream& stream, int64_t ifdPos, bool bigEndian, bool readDate, TRawIfdInfo& info, int64_t base,
                bool passExif);
// The raw IFD walk from the TIFF header at the current position.
void ReadRawPreviews(TStream& stream, int mainStrategy, int copyStrategy, TTiffInfoRec& rec);
// Canon CRW (CIFF heap): the first heap entry that holds a JPEG.
void ReadCiffPreview(TStream& stream, bool copyWanted, TTiffInfoRec& rec);

// The same on an open stream of a file of the given raw kind. Never raises.
void RawPreviewFromStream(TStream& stream, int rawKind, bool largeWanted, bool thumbWanted, TTiffInfoRec& rec);
// Facts of the large preview and, when wanted, a copy of its bytes (largeWanted) or of the
// thumbnail (thumbWanted) in rec.ThumbStream. Never raises.
void RawPreviewInfo(const std::string& fileName, bool largeWanted, bool thumbWanted, TTiffInfoRec& rec);
// The same under ImageLoadLock.
void RawPreviewInfoLocked(const std::string& fileName, bool largeWanted, bool thumbWanted, TTiffInfoRec& rec);

}  // namespace fv
