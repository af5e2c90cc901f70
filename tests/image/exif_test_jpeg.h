#pragma once
// Camera-like JPEG files for the thumbnail tests and benchmarks: the main picture with an Exif
// APP1 that carries the orientation, a shooting date and (optionally) an IFD1 thumbnail.
#include <cstdint>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "image/jpeg_codec.h"

namespace fv::testutil {

inline void PutU16LE(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
inline void PutU32LE(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
inline void PutEntry(std::vector<uint8_t>& v, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    PutU16LE(v, tag);
    PutU16LE(v, type);
    PutU32LE(v, count);
    if (type == 3 && count == 1) {
        PutU16LE(v, static_cast<uint16_t>(value));
        PutU16LE(v, 0);
    } else {
        PutU32LE(v, value);
    }
}

// The encoded main picture becomes a file with an Exif segment. thumbJpeg may be empty.
inline std::vector<uint8_t> WrapWithExif(const std::vector<uint8_t>& mainJpeg, int orientation,
                                         const std::vector<uint8_t>& thumbJpeg,
                                         const std::string& date = "2024:05:06 07:08:09") {
    // TIFF structure, offsets from its start
    std::vector<uint8_t> t = {'I', 'I', 42, 0};
    PutU32LE(t, 8);
    const uint32_t ifd0 = 8, ifd0Size = 2 + 2 * 12 + 4;
    const uint32_t exifIfd = ifd0 + ifd0Size, exifSize = 2 + 12 + 4;
    const uint32_t dateAt = exifIfd + exifSize;
    const uint32_t ifd1 = dateAt + 20, ifd1Size = 2 + 3 * 12 + 4;
    const uint32_t thumbAt = ifd1 + ifd1Size;
    PutU16LE(t, 2);
    PutEntry(t, 0x0112, 3, 1, static_cast<uint32_t>(orientation));
    PutEntry(t, 0x8769, 4, 1, exifIfd);
    PutU32LE(t, thumbJpeg.empty() ? 0 : ifd1);
    PutU16LE(t, 1);
    PutEntry(t, 0x9003, 2, 20, dateAt);
    PutU32LE(t, 0);
    for (size_t i = 0; i < 19; ++i) t.push_back(i < date.size() ? static_cast<uint8_t>(date[i]) : ' ');
    t.push_back(0);
    if (!thumbJpeg.empty()) {
        PutU16LE(t, 3);
        PutEntry(t, 0x0103, 3, 1, 6);
        PutEntry(t, 0x0201, 4, 1, thumbAt);
        PutEntry(t, 0x0202, 4, 1, static_cast<uint32_t>(thumbJpeg.size()));
        PutU32LE(t, 0);
        t.insert(t.end(), thumbJpeg.begin(), thumbJpeg.end());
    }
    std::vector<uint8_t> out = {0xFF, 0xD8, 0xFF, 0xE1};
    const size_t segLen = 2 + 6 + t.size();
    out.push_back(static_cast<uint8_t>(segLen >> 8));
    out.push_back(static_cast<uint8_t>(segLen));
    for (uint8_t c : {'E', 'x', 'i', 'f', '\0', '\0'}) out.push_back(c);
    out.insert(out.end(), t.begin(), t.end());
    out.insert(out.end(), mainJpeg.begin() + 2, mainJpeg.end());  // the main picture without its SOI
    return out;
}

inline std::vector<uint8_t> MakeExifJpeg(const TBitmap& main, int orientation, const TBitmap* thumb,
                                         int quality = 90) {
    std::vector<uint8_t> thumbJpeg;
    if (thumb) thumbJpeg = EncodeJpeg(*thumb, 80);
    return WrapWithExif(EncodeJpeg(main, quality), orientation, thumbJpeg);
}

}  // namespace fv::testutil
