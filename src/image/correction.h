#pragma once
// The per-photo correction record (tone settings and three effect codes) and the tone
// correction. Photos on disk are never changed: the record is applied to decoded bitmaps.
#include <array>
#include <cstdint>

#include "image/bitmap.h"

namespace fv {

class TStream;

constexpr int kCorrectionRecordSize = 28;

// 28 bytes packed, little-endian, as stored inside the catalog item record.
struct TCorrectionRecord {
    uint8_t Effect = 0;    // has-corrections flag; 0 means the record is ignored
    int32_t Meido = 0;     // brightness, percent of full scale
    int32_t Cont = 0;      // contrast, percent
    int32_t Gamma = 100;   // gamma x 100
    int32_t Red = 0;       // channel gains, percent
    int32_t Green = 0;
    int32_t Blue = 0;
    uint8_t Filter1 = 0;   // effect codes applied in this order
    uint8_t Filter2 = 0;
    uint8_t Filter3 = 0;

    bool operator==(const TCorrectionRecord&) const = default;

    std::array<uint8_t, kCorrectionRecordSize> ToBytes() const;
    static TCorrectionRecord FromBytes(const uint8_t* bytes);  // exactly kCorrectionRecordSize bytes
    void WriteTo(TStream& s) const;
    void ReadFrom(TStream& s);  // raises EReadError on a short stream
};

// the automatic correction is stored as this code in Filter3
constexpr uint8_t kAutoCorrectionCode = 35;

void InitCorrectionRecord(TCorrectionRecord& record);
// whether a writer of the record sets the flag for these settings
bool CorrectionRecordHasSettings(const TCorrectionRecord& record);

inline int GrayLevel(uint8_t r, uint8_t g, uint8_t b) { return (r * 9798 + g * 19234 + b * 3736 + 16384) >> 15; }
// pixel bytes in B, G, R order
inline int GrayLevel(const uint8_t* bgr) { return GrayLevel(bgr[2], bgr[1], bgr[0]); }
inline uint8_t ClampByte(int v) { return v < 0 ? 0 : (v > 255 ? 255 : static_cast<uint8_t>(v)); }
uint8_t RoundClampByte(double x);

void ApplyToneCorrection(TBitmap& bitmap, int brightness, int contrast, int gamma, int red, int green, int blue);
// tone correction, then Filter1, Filter2, Filter3; nothing when the flag byte is 0
void ApplyCorrections(TBitmap& bitmap, const TCorrectionRecord& record, const TProgressEvent& progress = {});

}  // namespace fv
