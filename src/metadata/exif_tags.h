#pragma once
// The 95 tags TExifItem stores, by index: 0..63 from IFD0 and the Exif IFD, 64..94 from
// the GPS IFD. Index 9 is the editor half of Copyright and has no tag of its own.
#include <cstdint>

namespace fv {

using TExifTagIndex = int;

constexpr int kExifTagCount = 95;      // indices 0..94
constexpr int kExifUnknownIndex = 95;  // any tag not in the table
constexpr int kExifFirstGpsIndex = 64;
constexpr int kExifCopyrightIndex = 8;
constexpr int kExifCopyrightEditorIndex = 9;

// tag number of an index (GPS tags are the GPS IFD numbers 0..30); 0xFFFF for 95 and beyond
uint16_t ExifTagOfIndex(TExifTagIndex index);
// index of a tag in IFD0/Exif IFD (gps = false) or in the GPS IFD; 95 when unknown
TExifTagIndex ExifIndexOfTag(uint16_t tag, bool gps = false);
// standard EXIF/TIFF name of an index ("Make", "GPSLatitude", ...); "Unknown" beyond 94
const char* ExifTagName(TExifTagIndex index);
// Japanese label of an index; "不明" beyond 94
const char* ExifTagLabel(TExifTagIndex index);
// the order listings show the indices in (all 95)
const TExifTagIndex* ExifDisplayOrder();

}  // namespace fv
