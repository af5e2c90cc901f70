#include "image/correction.h"

#include <cmath>
#include <cstring>

#include "image/effects.h"

namespace fv {

void InitCorrectionRecord(TCorrectionRecord& r) {
    r = TCorrectionRecord{};
    r.Enabled = 0;
    r.Gamma = 100;
}

bool CorrectionRecordHasSettings(const TCorrectionRecord& r) {
    return r.Brightness != 0 || r.Gamma != 100 || r.Contrast != 0 || r.Filter1 != 0 || r.Filter2 != 0 || r.Filter3 != 0;
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
    if (r.Enabled == 0) return;
    ApplyToneCorrection(bmp, r.Brightness, r.Contrast, r.Gamma, r.Red, r.Green, r.Blue);
    ApplyEffect(bmp, r.Filter1, progress);
    ApplyEffect(bmp, r.Filter2, progress);
    ApplyEffect(bmp, r.Filter3, progress);
}

}  // namespace fv
