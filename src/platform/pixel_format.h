#pragma once
// The one pixel-format type: what bitmaps hold, what the header readers report, what image
// facts and catalog records store. The ordinals are the numbering stored files use.
#include <cstdint>
#include <string>

namespace fv {

enum TPixelFormat : uint8_t {
    pfDevice = 0,  // no picture, or nothing known
    pf1bit = 1,
    pf4bit = 2,
    pf8bit = 3,
    pf15bit = 4,
    pf16bit = 5,
    pf24bit = 6,
    pf32bit = 7,
    pfCustom = 8
};

// "Device", "1bit", ... "32bit", "Custom"; "" for a number beyond pfCustom (read from a file)
std::string PixelFormatName(unsigned format);

}  // namespace fv
