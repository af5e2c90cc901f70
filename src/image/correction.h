#pragma once
// The per-photo correction record (tone settings and three effect codes) and the tone
// correction. Photos on disk are never changed: the record is applied to decoded bitmaps.
#include <array>
#include <cstdint>

#include "image/bitmap.h"
#include "metadata/correction_record.h"

namespace fv {

// TCorrectionRecord (28 bytes, kept inside the catalog item record) is the catalog's type:
// Enabled is the has-corrections flag ("effect"), Brightness "meido", Contrast "cont", Gamma
// "gamma" (x100), Red/Green/Blue the channel gains in percent, Filter1..3 the effect codes.
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
