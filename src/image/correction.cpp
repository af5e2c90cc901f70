#include "image/correction.h"

#include <cmath>
#include <cstring>

#include "image/effects.h"
#include "platform/stream.h"

namespace fv {

namespace {
void PutI32(uint8_t* p, int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    p[0] = static_cast<uint8_t>(u);
    p[1] = static_cast<uint8_t>(u >> 8);
    p[2] = static_cast<uint8_t>(u >> 16);
    p[3] = static_cast<uint8_t>(u >> 24);
}
int32_t GetI32(const uint8_t* p) {
    return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24));
}
}  // namespace

std::array<uint8_t, kCorrectionRecordSize> TCorrectionRecord::ToBytes() const {
    std::array<uint8_t, kCorrectionRecordSize> b{};
    b[0] = Effect;
    PutI32(&b[1], Meido);
    PutI32(&b[5], Cont);
    PutI32(&b[9], Gamma);
    PutI32(&b[13], Red);
    PutI32(&b[17], Green);
    PutI32(&b[21], Blue);
    b[25] = Filter1;
    b[26] = Filter2;
    b[27] = Filter3;
    return b;
}

TCorrectionRecord TCorrectionRecord::FromBytes(const uint8_t* b) {
    TCorrectionRecord r;
    r.Effect = b[0];
    r.Meido = GetI32(b + 1);
    r.Cont = GetI32(b + 5);
    r.Gamma = GetI32(b + 9);
    r.Red = GetI32(b + 13);
    r.Green = GetI32(b + 17);
    r.Blue = GetI32(b + 21);
    r.Filter1 = b[25];
    r.Filter2 = b[26];
    r.Filter3 = b[27];
    return r;
}

void TCorrectionRecord::WriteTo(TStream& s) const {
    const auto b = ToBytes();
    s.WriteBuffer(b.data(), static_cast<int64_t>(b.size()));
}

void TCorrectionRecord::ReadFrom(TStream& s) {
    uint8_t b[kCorrectionRecordSize];
    s.ReadBuffer(b, kCorrectionRecordSize);
    *this = FromBytes(b);
}

void InitCorrectionRecord(TCorrectionRecord& r) {
    r = TCorrectionRecord{};
    r.Effect = 0;
    r.Gamma = 100;
}

bool CorrectionRecordHasSettings(const TCorrectionRecord& r) {
    return r.Meido != 0 || r.Gamma != 100 || r.Cont != 0 || r.Filter1 != 0 || r.Filter2 != 0 || r.Filter3 != 0;
}

uint8_t RoundClampByte(double x) {
    if (!(x > 0)) return 0;  // also not-a-number
    if (x >= 255) return 255;
    return static_cast<uint8_t>(std::trunc(x + 0.5));
}

void ApplyToneCorrection(TBitmap& bmp, int brightness, int contrast, int gamma, int red, int green, int blue) {
    if (gamma == 100 && brightness == 0 && contrast == 0 && red == 0 && green == 0 && blue == 0) return;
    bmp.SetPixelFormat(pf24bit);
    if (bmp.Empty()) return;
    int gt[256];
    for (int i = 0; i < 256; ++i) {
        if (gamma == 100) {
            gt[i] = i;
        } else if (i == 0 || gamma == 0) {
            gt[i] = 0;
        } else {
            // a negative gamma (only from imported data) gives levels above 255; they are held at 255
            const double v = std::exp(std::log(i / 255.0) * (100.0 / gamma)) * 255.0;
            gt[i] = v < 255.0 ? static_cast<int>(std::trunc(v)) : 255;
        }
    }
    const int off = static_cast<int>(static_cast<int64_t>(brightness) * 255 / 100);  // truncated toward zero
    const double cf = 1.0 + contrast / 100.0;
    uint8_t tb[3][256];
    const int gains[3] = {blue, green, red};
    for (int c = 0; c < 3; ++c) {
        const double gf = 1.0 + gains[c] / 100.0;
        for (int i = 0; i < 256; ++i) tb[c][i] = RoundClampByte(((gt[i] - 127) * cf + 127) * gf + off);
    }
    const int W = bmp.Width();
    for (int y = 0; y < bmp.Height(); ++y) {
        uint8_t* p = bmp.ScanLine(y);
        for (int x = 0; x < W; ++x, p += 3) {
            p[0] = tb[0][p[0]];
            p[1] = tb[1][p[1]];
            p[2] = tb[2][p[2]];
        }
    }
}

void ApplyCorrections(TBitmap& bmp, const TCorrectionRecord& r, const TProgressEvent& progress) {
    if (r.Effect == 0) return;
    ApplyToneCorrection(bmp, r.Meido, r.Cont, r.Gamma, r.Red, r.Green, r.Blue);
    ApplyEffect(bmp, r.Filter1, progress);
    ApplyEffect(bmp, r.Filter2, progress);
    ApplyEffect(bmp, r.Filter3, progress);
}

}  // namespace fv
