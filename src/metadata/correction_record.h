#pragma once
// The 28-byte per-item correction record, stored as it is inside the catalog item
// record and carried by the exported info file.
#include <cstdint>

#include "platform/byte_order.h"

namespace fv {

struct TCorrectionRecord {
    static constexpr int kSize = 28;

    uint8_t Enabled = 0;     // 0: the record is ignored entirely
    int32_t Brightness = 0;  // "meido"
    int32_t Contrast = 0;    // "cont"
    int32_t Gamma = 100;     // "gamma", x100
    int32_t Red = 0;
    int32_t Green = 0;
    int32_t Blue = 0;
    uint8_t Filter1 = 0, Filter2 = 0, Filter3 = 0;

    static TCorrectionRecord Neutral() { return TCorrectionRecord{}; }
    bool operator==(const TCorrectionRecord&) const = default;

    // field by field, little-endian, kSize bytes
    void Encode(uint8_t* p) const;
    void Decode(const uint8_t* p);
};

}  // namespace fv
