#include "platform/pixel_format.h"

namespace fv {

std::string PixelFormatName(unsigned format) {
    static const char* const kNames[] = {"Device", "1bit", "4bit", "8bit", "15bit", "16bit", "24bit", "32bit", "Custom"};
    return format <= pfCustom ? kNames[format] : std::string();
}

}  // namespace fv
