#include "metadata/correction_record.h"

namespace fv {

void TCorrectionRecord::Encode(uint8_t* p) const {
    p[0] = Enabled;
    PutU32(p + 1, static_cast<uint32_t>(Brightness));
    PutU32(p + 5, static_cast<uint32_t>(Contrast));
    PutU32(p + 9, static_cast<uint32_t>(Gamma));
    PutU32(p + 13, static_cast<uint32_t>(Red));
    PutU32(p + 17, static_cast<uint32_t>(Green));
    PutU32(p + 21, static_cast<uint32_t>(Blue));
    p[25] = Filter1;
    p[26] = Filter2;
    p[27] = Filter3;
}

void TCorrectionRecord::Decode(const uint8_t* p) {
    Enabled = p[0];
    Brightness = static_cast<int32_t>(GetU32(p + 1));
    Contrast = static_cast<int32_t>(GetU32(p + 5));
    Gamma = static_cast<int32_t>(GetU32(p + 9));
    Red = static_cast<int32_t>(GetU32(p + 13));
    Green = static_cast<int32_t>(GetU32(p + 17));
    Blue = static_cast<int32_t>(GetU32(p + 21));
    Filter1 = p[25];
    Filter2 = p[26];
    Filter3 = p[27];
}

}  // namespace fv
