#pragma once
// TExifItem: the EXIF data of one photo. Parses a whole TIFF structure (IFD0, Exif IFD,
// GPS IFD, PrintIM, maker notes) into typed fields and a presence set. JPEG files give
// their APP1 segment, TIFF-structured raw files their TIFF header, ".RAF" files the APP1
// of their embedded JPEG. Presentation (labels, value texts) is in exif_present.h.
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "metadata/exif_tags.h"
#include "metadata/tiff_info.h"
#include "platform/datetime.h"
#include "platform/stream.h"

namespace fv {

// degrees, minutes, seconds of a GPS position; Ref is the letter of the Ref tag
struct TGpsDms {
    char Ref = 0;
    double Degrees = 0;
    double Minutes = 0;
    double Seconds = 0;
};

// the SubjectArea tag: kind 0 point, 1 circle, 2 rectangle, 3 unknown
struct TSubjectArea {
    uint8_t Kind = 3;
    int32_t ImageWidth = 0;
    int32_t ImageHeight = 0;
    uint16_t Values[4] = {0, 0, 0, 0};
};

// Flash flag bits (one of each group is set)
enum TExifFlashFlag : int {
    efNotFired = 0, efFired = 1,
    efReturnNoDetection = 2, efReturnReserved = 3, efReturnNotDetected = 4, efReturnDetected = 5,
    efModeUnknown = 6, efModeCompulsory = 7, efModeSuppressed = 8, efModeAuto = 9,
    efFunctionPresent = 10, efNoFunction = 11,
    efNoRedEye = 12, efRedEye = 13,
};

// character codes of the encoded texts (UserComment, GPS processing method / area)
enum : uint8_t { ecAscii = 0, ecUndefined = 1, ecJis = 2, ecUnicode = 3, ecUnicodeMarked = 4, ecNone = 6 };

// One stored tag as it was in the file, for machine-readable output (fvb exif --json):
// texts without trailing NUL or blanks, numbers as decimals (rationals divided out).
struct TExifRawValue {
    bool IsText = false;
    std::string Text;
    std::vector<double> Numbers;
};

// generic reading of one maker-note entry (at most 256 values)
struct TMakerNoteRec {
    int32_t LastIndex = -1;
    std::string Text;
    std::vector<int64_t> Integers;                          // up to 256
    std::vector<std::pair<uint32_t, uint32_t>> Rationals;  // up to 256
};

class TExifItem {
public:
    TExifItem() = default;
    ~TExifItem() = default;
    TExifItem(const TExifItem&) = delete;
    TExifItem& operator=(const TExifItem&) = delete;

    // JPEG files and ".RAF" through their APP1 segment, other files as TIFF structures
    bool LoadFromFile(const std::string& fileName, bool isJpeg, bool readMakerNote);
    // stream at a TIFF header
    bool LoadFromStream(TStream& stream, bool readMakerNote);

    bool IsPresent(TExifTagIndex i) const { return i >= 0 && i < 96 && Present.test(static_cast<size_t>(i)); }

    TStream* Stream = nullptr;  // valid only during LoadFromStream
    int32_t BaseOffset = 0;
    bool BigEndian = false;
    bool DateFormatSet = false;
    std::string DateFormat;
    int32_t Orientation = 1;
    bool HasOrientation = false;  // IFD0 held 0x0112 (reset by every load)
    std::bitset<96> Present;
    float XResolution = 0, YResolution = 0;
    bool ResolutionUnitInch = false;
    TDateTime DateTime = 0;
    std::string ImageDescription, Make, Model, Software, Artist, CopyrightPhotographer, CopyrightEditor;
    uint8_t ExifVersion[4] = {0, 0, 0, 0};
    uint8_t FlashpixVersion[4] = {0, 0, 0, 0};
    uint8_t ColorSpace = 0;
    float Gamma = 0;
    int32_t PixelXDimension = 0, PixelYDimension = 0;
    float CompressedBitsPerPixel = 0;
    std::string MakerNoteInfo;
    uint8_t UserCommentCode = ecNone;
    std::string UserComment;
    char RelatedSoundFile[13] = {};
    TDateTime DateTimeOriginal = 0, DateTimeDigitized = 0;
    int32_t SubSecTime = 0, SubSecTimeOriginal = 0, SubSecTimeDigitized = 0;
    float ExposureTime = 0, ShutterSpeedValue = 0, ApertureValue = 0, BrightnessValue = 0, ExposureBiasValue = 0,
          MaxApertureValue = 0;
    bool SubjectDistanceInfinite = false;
    float SubjectDistance = 0;
    uint8_t SensingMethod = 0, MeteringMode = 0, LightSource = 0;
    uint16_t Flash = 0;  // bit set of TExifFlashFlag
    uint8_t ExposureProgram = 0;
    float FocalLength = 0, FNumber = 0;
    std::string SpectralSensitivity, ISOSpeedRatings;
    float FlashEnergy = 0, FocalPlaneXResolution = 0, FocalPlaneYResolution = 0;
    bool FocalPlaneUnitCm = false;
    int32_t SubjectLocationX = 0, SubjectLocationY = 0;
    float ExposureIndex = 0;
    uint8_t FileSource = 0;
    bool SceneTypeOther = false;
    TSubjectArea SubjectArea;
    uint8_t CustomRendered = 2, ExposureMode = 3, WhiteBalance = 2;
    float DigitalZoomRatio = 0;
    int16_t FocalLengthIn35mmFilm = 0;
    uint8_t SceneCaptureType = 4, GainControl = 5, Contrast = 3, Saturation = 3, Sharpness = 3;
    std::string DeviceSettingDescription;
    uint8_t SubjectDistanceRange = 0;
    std::string ImageUniqueID;
    uint8_t GPSVersionID[4] = {0, 0, 0, 0};
    TGpsDms GPSLatitude, GPSLongitude;
    uint8_t GPSAltitudeRef = 255;
    float GPSAltitude = 0;
    TDateTime GPSTimeStamp = 0;
    std::string GPSSatellites;
    uint8_t GPSStatus = 0, GPSMeasureMode = 0;
    float GPSDOP = 0;
    char GPSSpeedRef = 0;
    float GPSSpeed = 0;
    char GPSTrackRef = 0;
    float GPSTrack = 0;
    char GPSImgDirectionRef = 0;
    float GPSImgDirection = 0;
    std::string GPSMapDatum;
    TGpsDms GPSDestLatitude, GPSDestLongitude;
    char GPSDestBearingRef = 0;
    float GPSDestBearing = 0;
    char GPSDestDistanceRef = 0;
    float GPSDestDistance = 0;
    uint8_t GPSProcessingMethodCode = ecNone;
    std::string GPSProcessingMethod;
    uint8_t GPSAreaInformationCode = ecNone;
    std::string GPSAreaInformation;
    TDateTime GPSDateStamp = 0;
    uint8_t GPSDifferential = 2;
    std::vector<std::string> Lines;          // decoded maker-note lines "%-16s : %s"
    std::vector<std::string> MakerNoteLines;  // raw maker-note dump
    bool HasPrintIM = false;
    std::string PrintIMHeader;
    std::vector<std::string> PrintIMLines;

    // the stored tags as they were in the file, by index (see TExifRawValue)
    TExifRawValue Raw[kExifTagCount];

private:
    void StoreTag(TTiffReader& r, const TIfdEntry& e, bool gps);
    void StoreValue(TTiffReader& r, const TIfdEntry& e, TExifTagIndex index);
    void StoreRaw(TTiffReader& r, const TIfdEntry& e, TExifTagIndex index);
    void ReadPrintIM(TTiffReader& r, const TIfdEntry& e);
    std::string ReadEncodedText(TTiffReader& r, const TIfdEntry& e, uint8_t& code);
    TGpsDms ReadDms(TTiffReader& r, const TIfdEntry& e, char ref);
};

bool IsOldOrinSoftware(const std::string& software);
// the next 8 bytes are "ORIN_MNH" (position restored)
bool HasOrinMakerNote(TStream& stream);
bool IsPrintIMHeader(const uint8_t* eightBytes);

// "N", "S", "E", "W" or "?"
std::string GpsRefLetter(char ref);
// "北緯", "南緯", "東経", "西経" or "不明"
std::string GpsRefName(char ref);
// e.g. "N35度39分30.12秒"
std::string FormatGpsPosition(const TGpsDms& dms);

// JIS X 0208 text with ESC $ / ESC ( shifts -> Shift_JIS bytes, trailing blanks trimmed
std::string JisToSjis(const std::string& text);
// text from a Japanese device: kept when it is valid UTF-8, else decoded as CP932
std::string ForeignTextToUtf8(const std::string& text);
// Width of a UTF-8 text in the columns the CP932 bytes would take: 1 for ASCII and
// half-width katakana, 2 for everything else. Listings pad labels and values by it so
// that columns line up as they did with CP932 byte counts.
int TextColumns(const std::string& utf8);
// pads with blanks to width columns, on the right (left-aligned) or on the left
std::string PadColumns(const std::string& utf8, int width, bool leftAlign = true);

// the maker-note decoders (exif_makernote_*.cpp); each checks its header and adds
// MakerNoteLines and Lines to item. r's stream is at the maker note.
void DecodeMakerNote(TExifItem& item, TTiffReader& r, int64_t pos, int64_t length);

}  // namespace fv
