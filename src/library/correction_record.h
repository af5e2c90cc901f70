#pragma once
// The 28-byte per-item correction record, stored as it is inside the catalog item
// record and carried by the exported info file.
#include <cstdint>

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

// little-endian helpers for fixed records held in memory
inline void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t GetU64(const uint8_t* p) {
    return static_cast<uint64_t>(GetU32(p)) | (static_cast<uint64_t>(GetU32(p + 4)) << 32);
}

}  // namespace fv
