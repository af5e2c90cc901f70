#include "image/effects.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "image/correction.h"

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#define FV_X86_SIMD 1
#endif

namespace fv {

namespace {

const char* const kEffectNames[kEffectCount + 1] = {
    "無し",           "グレイスケール",   "セピアカラー",     "反転イメージ",     "Ｒ→Ｇ→Ｂ",
    "Ｒ <-> Ｇ",      "Ｇ <-> Ｂ",        "Ｒ <-> Ｂ",        "シャープ(弱)",     "シャープ(中)",
    "シャープ(強)",   "ソフト",           "平均値",           "最大値",           "最小値",
    "メディアン",     "エンボス１",       "エンボス２",       "ﾗﾌﾟﾗｼｱﾝ (4)",      "ﾗﾌﾟﾗｼｱﾝ (8)",
    "ソーベル",       "スケッチ風",       "イラスト1",        "ボタン風（細枠）", "ボタン風（中枠）",
    "ボタン風（太枠）", "ボタン風（極太）", "ノイズ除去(弱)",   "ノイズ除去(中)",   "ノイズ除去(強)",
    "ﾋｽﾄｸﾞﾗﾑ均等1",    "ﾋｽﾄｸﾞﾗﾑ均等2",     "ﾋｽﾄｸﾞﾗﾑ均等3",     "ｺﾝﾄﾗｽﾄ改善1",      "ｺﾝﾄﾗｽﾄ改善2",
    "ｺﾝﾄﾗｽﾄ改善3",     "簡易LPF",          "ソフト2",          "なめらか",         "鉛筆風",
    "イラスト2"};

// Runs fn(row pointer) over every row with the effects' progress reports.
template <class Fn>
void ForEachRow(TBitmap& bmp, const TProgressEvent& progress, Fn fn) {
    TProgressReporter rep(progress, bmp.Height(), TProgressReporter::pmRealStep);
    for (int y = 0; y < bmp.Height(); ++y) {
        fn(bmp.ScanLine(y));
        rep.Row(y);
    }
}

bool Usable(TBitmap& bmp) {
    bmp.SetPixelFormat(pf24bit);
    return !bmp.Empty();
}

inline int Poster(int c) { return (c / 32) * 32; }

// Fills a border-padded row copy: the first and last pixels repeated once on each side.
void FillPadded(uint8_t* buf, const uint8_t* row, int W) {
    std::memcpy(buf + 3, row, static_cast<size_t>(W) * 3);
    std::memcpy(buf, row, 3);
    std::memcpy(buf + static_cast<size_t>(W + 1) * 3, row + static_cast<size_t>(W - 1) * 3, 3);
}

// Three padded row buffers; the kernel reads only unfiltered values.
template <class Kernel>
void Pass3x3(TBitmap& bmp, const TProgressEvent& progress, Kernel kernel) {
    const int W = bmp.Width(), H = bmp.Height();
    const size_t n = static_cast<size_t>(W + 2) * 3;
    std::vector<uint8_t> a(n), b(n), c(n);
    uint8_t* up = a.data();
    uint8_t* cur = b.data();
    uint8_t* dn = c.data();
    FillPadded(up, bmp.ScanLine(0), W);
    FillPadded(cur, bmp.ScanLine(0), W);
    TProgressReporter rep(progress, H, TProgressReporter::pmRealStep);
    for (int y = 0; y < H; ++y) {
        FillPadded(dn, bmp.ScanLine(std::min(y + 1, H - 1)), W);
        kernel(up + 3, cur + 3, dn + 3, bmp.ScanLine(y), W);
        uint8_t* t = up;
        up = cur;
        cur = dn;
        dn = t;
        rep.Row(y);
    }
}

#if FV_X86_SIMD
// The linear 3 x 3 kernels on 16 bytes at a time in 16-bit lanes; the results equal the
// plain formulas for every input (the sums stay within 16 bits, the divisions round toward
// zero, packus clamps like ClampByte, and (x * 7281) >> 16 equals (x * 3640) >> 15 for every
// sum of nine bytes).
template <int Code>
inline __m128i LinearLanes(__m128i ul, __m128i u0, __m128i ur, __m128i cl, __m128i c0, __m128i cr, __m128i dl,
                           __m128i d0, __m128i dr) {
    const __m128i corners = _mm_add_epi16(_mm_add_epi16(ul, ur), _mm_add_epi16(dl, dr));
    const __m128i edges = _mm_add_epi16(_mm_add_epi16(u0, cl), _mm_add_epi16(cr, d0));
    const __m128i s8 = _mm_add_epi16(corners, edges);
    auto divTowardZero = [](__m128i v, int shift, int d) {
        const __m128i bias = _mm_and_si128(_mm_srai_epi16(v, 15), _mm_set1_epi16(static_cast<short>(d - 1)));
        return _mm_sra_epi16(_mm_add_epi16(v, bias), _mm_cvtsi32_si128(shift));
    };
    const __m128i k128 = _mm_set1_epi16(128);
    switch (Code) {
        case 8: return divTowardZero(_mm_sub_epi16(_mm_mullo_epi16(c0, _mm_set1_epi16(24)), s8), 4, 16);
        case 9: return divTowardZero(_mm_sub_epi16(_mm_slli_epi16(c0, 4), s8), 3, 8);
        case 10: return divTowardZero(_mm_sub_epi16(_mm_mullo_epi16(c0, _mm_set1_epi16(12)), s8), 2, 4);
        case 11:
            return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(corners, _mm_slli_epi16(edges, 1)), _mm_slli_epi16(c0, 2)), 4);
        case 12: return _mm_mulhi_epu16(_mm_add_epi16(s8, c0), _mm_set1_epi16(7281));
        case 16: return _mm_add_epi16(_mm_sub_epi16(dr, ul), k128);
        case 17:
            return _mm_add_epi16(_mm_sub_epi16(_mm_add_epi16(_mm_add_epi16(cr, d0), dr), _mm_add_epi16(_mm_add_epi16(ul, u0), cl)),
                                 k128);
        case 18: return _mm_sub_epi16(edges, _mm_slli_epi16(c0, 2));
        default: return _mm_sub_epi16(s8, _mm_slli_epi16(c0, 3));  // 19
    }
}

// u, c, d point at the first picture byte of the padded rows; returns the bytes done
template <int Code>
int LinearRowSse2(const uint8_t* u, const uint8_t* c, const uint8_t* d, uint8_t* out, int n) {
    const __m128i z = _mm_setzero_si128();
    int j = 0;
    for (; j + 16 <= n; j += 16) {
        __m128i v[9];
        const uint8_t* src[9] = {u + j - 3, u + j, u + j + 3, c + j - 3, c + j, c + j + 3, d + j - 3, d + j, d + j + 3};
        for (int i = 0; i < 9; ++i) v[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src[i]));
        __m128i lo[9], hi[9];
        for (int i = 0; i < 9; ++i) {
            lo[i] = _mm_unpacklo_epi8(v[i], z);
            hi[i] = _mm_unpackhi_epi8(v[i], z);
        }
        const __m128i rl = LinearLanes<Code>(lo[0], lo[1], lo[2], lo[3], lo[4], lo[5], lo[6], lo[7], lo[8]);
        const __m128i rh = LinearLanes<Code>(hi[0], hi[1], hi[2], hi[3], hi[4], hi[5], hi[6], hi[7], hi[8]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm_packus_epi16(rl, rh));
    }
    return j;
}
#endif

// plain twins and vector variants can be compared by tests
std::atomic<bool> gEffectsSimd{true};

// A kernel that is the same linear formula on every byte: op(u, c, d) gets pointers to the
// byte in the rows above, at and below; the neighbours are at -3 and +3. Written as a plain
// loop over bytes so that the compiler vectorises it.
template <int Code, class Op>
void LinearPass(TBitmap& bmp, const TProgressEvent& progress, Op op) {
    const bool simd = gEffectsSimd.load(std::memory_order_relaxed);
    Pass3x3(bmp, progress, [&](const uint8_t* u, const uint8_t* c, const uint8_t* d, uint8_t* out, int W) {
        const int n = W * 3;
        int j = 0;
#if FV_X86_SIMD
        if (simd) j = LinearRowSse2<Code>(u, c, d, out, n);
#else
        (void)simd;
#endif
        for (; j < n; ++j) out[j] = ClampByte(op(u + j, c + j, d + j));
    });
}

inline int S8(const uint8_t* u, const uint8_t* c, const uint8_t* d) {
    return u[-3] + u[0] + u[3] + c[-3] + c[3] + d[-3] + d[0] + d[3];
}
inline int Corners(const uint8_t* u, const uint8_t* d) { return u[-3] + u[3] + d[-3] + d[3]; }
inline int Edges(const uint8_t* u, const uint8_t* c, const uint8_t* d) { return u[0] + c[-3] + c[3] + d[0]; }

inline uint8_t SobelAt(const uint8_t* u, const uint8_t* c, const uint8_t* d) {
    const int gv = u[-3] + 2 * u[0] + u[3] - d[-3] - 2 * d[0] - d[3];
    const int gh = u[-3] + 2 * c[-3] + d[-3] - u[3] - 2 * c[3] - d[3];
    return RoundClampByte(std::sqrt(static_cast<double>(gv * gv + gh * gh)));
}

// per-pixel kernel: fn(u, c, d, out) with pointers at the pixel's first byte
template <class Fn>
void PixelPass(TBitmap& bmp, const TProgressEvent& progress, Fn fn) {
    Pass3x3(bmp, progress, [&](const uint8_t* u, const uint8_t* c, const uint8_t* d, uint8_t* out, int W) {
        for (int x = 0; x < W; ++x) fn(u + x * 3, c + x * 3, d + x * 3, out + x * 3);
    });
}

uint8_t Median9(uint8_t* v) {
    std::nth_element(v, v + 4, v + 9);
    return v[4];
}

// Stretches each level with a 256-entry map; histogram operations share it.
void ApplyMaps(TBitmap& bmp, const uint8_t* mb, const uint8_t* mg, const uint8_t* mr, const TProgressEvent& progress) {
    const int W = bmp.Width();
    ForEachRow(bmp, progress, [&](uint8_t* p) {
        for (int x = 0; x < W; ++x, p += 3) {
            p[0] = mb[p[0]];
            p[1] = mg[p[1]];
            p[2] = mr[p[2]];
        }
    });
}

void GreyHistogram(const TBitmap& bmp, int64_t* h) {
    std::fill(h, h + 256, 0);
    for (int y = 0; y < bmp.Height(); ++y) {
        const uint8_t* p = bmp.ScanLine(y);
        for (int x = 0; x < bmp.Width(); ++x, p += 3) ++h[GrayLevel(p)];
    }
}

void ChannelHistograms(const TBitmap& bmp, int64_t h[3][256]) {
    for (int c = 0; c < 3; ++c) std::fill(h[c], h[c] + 256, 0);
    for (int y = 0; y < bmp.Height(); ++y) {
        const uint8_t* p = bmp.ScanLine(y);
        for (int x = 0; x < bmp.Width(); ++x, p += 3) {
            ++h[0][p[0]];
            ++h[1][p[1]];
            ++h[2][p[2]];
        }
    }
}

// low and high levels of the contrast stretch; false when there is nothing to stretch
bool StretchBounds(const int64_t* h, int64_t N, int& low, int& high) {
    const int64_t lowCount = static_cast<int64_t>(std::trunc(N * 0.005 + 0.5));
    const int64_t highCount = static_cast<int64_t>(std::trunc(N * 0.995 + 0.5));
    low = 0;
    high = 255;
    bool haveLow = false, haveHigh = false;
    int64_t s = 0;
    for (int i = 0; i < 256; ++i) {
        s += h[i];
        if (s <= lowCount) { low = i; haveLow = true; }
        if (s <= highCount) { high = i; haveHigh = true; }
    }
    if (!haveLow) low = 0;
    if (!haveHigh) high = 255;
    return low < high;
}

void StretchMap(int low, int high, uint8_t* map) {
    for (int i = 0; i < 256; ++i) map[i] = RoundClampByte(static_cast<double>(i - low) * 255.0 / (high - low));
}

}  // namespace

namespace effects_detail {
void SetUseSimd(bool on) { gEffectsSimd.store(on); }
}  // namespace effects_detail

std::string EffectName(int code) {
    const int c = code & 0x7F;
    if (c > kEffectCount) return "Unknown";
    return kEffectNames[c];
}

void Grayscale(TBitmap& bmp, const TProgressEvent& progress) {
    if (!Usable(bmp)) return;
    const int W = bmp.Width();
    ForEachRow(bmp, progress, [&](uint8_t* p) {
        for (int x = 0; x < W; ++x, p += 3) p[0] = p[1] = p[2] = static_cast<uint8_t>(GrayLevel(p));
    });
}

void Sepia(TBitmap& bmp, const TProgressEvent& progress) {
    if (!Usable(bmp)) return;
    uint8_t A[256], C[256];
    for (int i = 0; i < 256; ++i) {
        A[i] = static_cast<uint8_t>(std::trunc(255.0 * std::pow(i / 255.0, 0.75) + 0.5));
        C[i] = static_cast<uint8_t>(std::trunc(255.0 * std::pow(i / 255.0, 4.0 / 3.0) + 0.5));
    }
    const int W = bmp.Width();
    ForEachRow(bmp, progress, [&](uint8_t* p) {
        for (int x = 0; x < W; ++x, p += 3) {
            const int Y = GrayLevel(p);
            p[0] = C[Y];
            p[1] = static_cast<uint8_t>(Y);
            p[2] = A[Y];
        }
    });
}

void Invert(TBitmap& bmp, const TProgressEvent& progress) {
    if (!Usable(bmp)) return;
    const int n = bmp.Width() * 3;
    ForEachRow(bmp, progress, [&](uint8_t* p) {
        for (int j = 0; j < n; ++j) p[j] = static_cast<uint8_t>(255 - p[j]);
    });
}

void SwapChannels(TBitmap& bmp, int code, const TProgressEvent& progress) {
    if (code < 4 || code > 7) return;
    if (!Usable(bmp)) return;
    const int W = bmp.Width();
    ForEachRow(bmp, progress, [&](uint8_t* p) {
        for (int x = 0; x < W; ++x, p += 3) {
            const uint8_t b = p[0], g = p[1], r = p[2];
            switch (code) {
                case 4: p[1] = r; p[0] = g; p[2] = b; break;  // G <- R, B <- G, R <- B
                case 5: p[2] = g; p[1] = r; break;
                case 6: p[1] = b; p[0] = g; break;
                case 7: p[2] = b; p[0] = r; break;
            }
        }
    });
}

void ButtonBevel(TBitmap& bmp, int n, int a) {
    if (!Usable(bmp)) return;
    const int W = bmp.Width(), H = bmp.Height();
    for (int y = 0; y < H; ++y) {
        uint8_t* p = bmp.ScanLine(y);
        for (int x = 0; x < W; ++x, p += 3) {
            int delta = 0;
            if ((y < n && x + y < W) || (x < n && x + y < H))
                delta = a;
            else if (y > H - n - 1 || x > W - n - 1)
                delta = -a;
            if (delta != 0) {
                p[0] = ClampByte(p[0] + delta);
                p[1] = ClampByte(p[1] + delta);
                p[2] = ClampByte(p[2] + delta);
            }
        }
    }
}

void NoiseReduction(TBitmap& bmp, int T, const TProgressEvent& progress) {
    bmp.SetPixelFormat(pf24bit);
    if (bmp.Width() < 2 || bmp.Height() < 2) return;
    static const int w5[5][5] = {{2, 3, 4, 3, 2}, {3, 4, 6, 4, 3}, {4, 6, 8, 6, 4}, {3, 4, 6, 4, 3}, {2, 3, 4, 3, 2}};
    const int W = bmp.Width(), H = bmp.Height();
    // in place: pixels above and to the left are read with their new values
    auto P = [&](int x, int y, int ch) -> int {
        x = std::clamp(x, 0, W - 1);
        y = std::clamp(y, 0, H - 1);
        return bmp.ScanLine(y)[x * 3 + ch];
    };
    TProgressReporter rep(progress, H, TProgressReporter::pmRealStep);
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            for (int ch = 2; ch >= 0; --ch) {  // red, green, blue
                const int gv = P(x - 1, y - 1, ch) + P(x, y - 1, ch) + P(x + 1, y - 1, ch) - P(x - 1, y + 1, ch) -
                               P(x, y + 1, ch) - P(x + 1, y + 1, ch);
                if (std::abs(gv) >= T) continue;
                const int gh = P(x - 1, y - 1, ch) + P(x - 1, y, ch) + P(x - 1, y + 1, ch) - P(x + 1, y - 1, ch) -
                               P(x + 1, y, ch) - P(x + 1, y + 1, ch);
                if (std::abs(gh) >= T) continue;
                int sum = 0;
                for (int dy = -2; dy <= 2; ++dy)
                    for (int dx = -2; dx <= 2; ++dx) sum += w5[dy + 2][dx + 2] * P(x + dx, y + dy, ch);
                bmp.ScanLine(y)[x * 3 + ch] = static_cast<uint8_t>(sum / 96);
            }
        }
        rep.Row(y);
    }
}

void HistogramEqualize1(TBitmap& bmp, const TProgressEvent& progress) {
    if (!Usable(bmp)) return;
    const int64_t N = static_cast<int64_t>(bmp.Width()) * bmp.Height();
    int64_t h[256];
    GreyHistogram(bmp, h);
    uint8_t map[256];
    int64_t s = 0;
    for (int i = 0; i < 256; ++i) {
        s += h[i];
        map[i] = static_cast<uint8_t>(s * 255 / N);
    }
    ApplyMaps(bmp, map, map, map, progress);
}

void HistogramEqualize2(TBitmap& bmp, const TProgressEvent& progress) {
    if (!Usable(bmp)) return;
    const int64_t N = static_cast<int64_t>(bmp.Width()) * bmp.Height();
    int64_t h[256];
    GreyHistogram(bmp, h);
    double L[256];
    L[0] = 0;
    int64_t s = 0;
    for (int i = 1; i < 256; ++i) {
        s += h[i];  // level 0 is left out of the sums
        L[i] = static_cast<double>(s) * 255.0 / static_cast<double>(N);
    }
    const int W = bmp.Width();
    ForEachRow(bmp, progress, [&](uint8_t* p) {
        for (int x = 0; x < W; ++x, p += 3) {
            const double R = p[2], G = p[1], B = p[0];
            const double Y = 0.299 * R + 0.587 * G + 0.114 * B;
            const double Cr = 0.5 * R - 0.41869 * G - 0.08131 * B;
            const double Cb = -0.16874 * R - 0.33126 * G + 0.5 * B;
            const double Yp = L[std::clamp(static_cast<int>(Y), 0, 255)];
            p[2] = RoundClampByte(Yp + 1.402 * Cr);
            p[1] = RoundClampByte(Yp - 0.34414 * Cb - 0.71414 * Cr);
            p[0] = RoundClampByte(Yp + 1.772 * Cb);
        }
    });
}

void HistogramEqualize3(TBitmap& bmp, const TProgressEvent& progress) {
    if (!Usable(bmp)) return;
    const int64_t N = static_cast<int64_t>(bmp.Width()) * bmp.Height();
    int64_t h[3][256];
    ChannelHistograms(bmp, h);
    uint8_t maps[3][256];
    for (int c = 0; c < 3; ++c) {
        int m[256];
        int64_t s = 0;
        for (int i = 0; i < 256; ++i) {
            s += h[c][i];
            m[i] = static_cast<int>(s * 255 / N);
        }
        if (m[0] == 255) {
            // every pixel of this channel sits at the top of the map: nothing to stretch, keep the channel
            for (int i = 0; i < 256; ++i) maps[c][i] = static_cast<uint8_t>(i);
            continue;
        }
        for (int i = 255; i >= 0; --i) m[i] = RoundClampByte(static_cast<double>(m[i] - m[0]) * 255.0 / (255 - m[0]));
        for (int i = 0; i < 256; ++i) maps[c][i] = static_cast<uint8_t>(m[i]);
    }
    ApplyMaps(bmp, maps[0], maps[1], maps[2], progress);
}

void ContrastStretch1(TBitmap& bmp, const TProgressEvent& progress) {
    if (!Usable(bmp)) return;
    const int64_t N = static_cast<int64_t>(bmp.Width()) * bmp.Height();
    int64_t h[256];
    GreyHistogram(bmp, h);
    int low, high;
    if (!StretchBounds(h, N, low, high)) return;
    uint8_t map[256];
    StretchMap(low, high, map);
    ApplyMaps(bmp, map, map, map, progress);
}

void ContrastStretch2(TBitmap& bmp, const TProgressEvent& progress) {
    if (!Usable(bmp)) return;
    const int64_t N = static_cast<int64_t>(bmp.Width()) * bmp.Height();
    int64_t h[3][256];
    ChannelHistograms(bmp, h);
    uint8_t maps[3][256];
    for (int c = 0; c < 3; ++c) {
        int low, high;
        if (!StretchBounds(h[c], N, low, high)) return;
        StretchMap(low, high, maps[c]);
    }
    ApplyMaps(bmp, maps[0], maps[1], maps[2], progress);
}

void Smooth(TBitmap& bmp, const TProgressEvent& progress) {
    bmp.SetPixelFormat(pf24bit);
    const int W = bmp.Width(), H = bmp.Height();
    if (W < 3 || H < 3) return;
    TProgressReporter rep(progress, H, TProgressReporter::pmRealStep);
    for (int y = 1; y <= H - 2; ++y) {
        const uint8_t* u = bmp.ScanLine(y - 1);
        uint8_t* c = bmp.ScanLine(y);
        const uint8_t* d = bmp.ScanLine(y + 1);
        for (int j = 3; j < (W - 1) * 3; ++j) {
            const int corners = u[j - 3] + u[j + 3] + d[j - 3] + d[j + 3];
            const int edges = u[j] + c[j - 3] + c[j + 3] + d[j];
            c[j] = static_cast<uint8_t>((corners + 4 * edges + 16 * c[j]) / 36);
        }
        rep.Row(y);
    }
}

void Soft2(TBitmap& bmp, const TProgressEvent& progress) {
    bmp.SetPixelFormat(pf24bit);
    const int W = bmp.Width(), H = bmp.Height();
    if (W < 4 || H < 4) return;
    static const int k[4] = {75, 113, 56, 9};  // dx, dy = -1, 0, 1, 2
    TProgressReporter rep(progress, H, TProgressReporter::pmRealStep);
    for (int y = 1; y <= H - 3; ++y) {
        uint8_t* rows[4];
        for (int r = 0; r < 4; ++r) rows[r] = bmp.ScanLine(y - 1 + r);
        for (int j = 3; j < (W - 2) * 3; ++j) {
            int sum = 0;
            for (int r = 0; r < 4; ++r)
                for (int c = 0; c < 4; ++c) sum += k[r] * k[c] * rows[r][j + (c - 1) * 3];
            rows[1][j] = static_cast<uint8_t>(sum / 64009);
        }
        rep.Row(y);
    }
}

void Convolve3x3(TBitmap& bmp, int code, const TProgressEvent& progress) {
    if (!Usable(bmp)) return;
    switch (code) {
        case 8:
            LinearPass<8>(bmp, progress, [](const uint8_t* u, const uint8_t* c, const uint8_t* d) {
                return (24 * c[0] - S8(u, c, d)) / 16;  // rounds toward zero
            });
            break;
        case 9:
            LinearPass<9>(bmp, progress, [](const uint8_t* u, const uint8_t* c, const uint8_t* d) {
                return (16 * c[0] - S8(u, c, d)) / 8;
            });
            break;
        case 10:
            LinearPass<10>(bmp, progress, [](const uint8_t* u, const uint8_t* c, const uint8_t* d) {
                return (12 * c[0] - S8(u, c, d)) / 4;
            });
            break;
        case 11:
        case 36:
            LinearPass<11>(bmp, progress, [](const uint8_t* u, const uint8_t* c, const uint8_t* d) {
                return (Corners(u, d) + 2 * Edges(u, c, d) + 4 * c[0]) >> 4;
            });
            break;
        case 12:
            LinearPass<12>(bmp, progress, [](const uint8_t* u, const uint8_t* c, const uint8_t* d) {
                return ((S8(u, c, d) + c[0]) * 3640) >> 15;
            });
            break;
        case 13:
        case 14:
        case 15: {
            const int mode = code;
            Pass3x3(bmp, progress, [mode](const uint8_t* u, const uint8_t* c, const uint8_t* d, uint8_t* out, int W) {
                for (int j = 0; j < W * 3; ++j) {
                    uint8_t v[9] = {u[j - 3], u[j], u[j + 3], c[j - 3], c[j], c[j + 3], d[j - 3], d[j], d[j + 3]};
                    if (mode == 13)
                        out[j] = *std::max_element(v, v + 9);
                    else if (mode == 14)
                        out[j] = *std::min_element(v, v + 9);
                    else
                        out[j] = Median9(v);
                }
            });
            break;
        }
        case 16:
            LinearPass<16>(bmp, progress, [](const uint8_t* u, const uint8_t*, const uint8_t* d) {
                return d[3] - u[-3] + 128;
            });
            break;
        case 17:
            LinearPass<17>(bmp, progress, [](const uint8_t* u, const uint8_t* c, const uint8_t* d) {
                return c[3] + d[0] + d[3] - u[-3] - u[0] - c[-3] + 128;
            });
            break;
        case 18:
            LinearPass<18>(bmp, progress, [](const uint8_t* u, const uint8_t* c, const uint8_t* d) {
                return Edges(u, c, d) - 4 * c[0];
            });
            break;
        case 19:
            LinearPass<19>(bmp, progress, [](const uint8_t* u, const uint8_t* c, const uint8_t* d) {
                return S8(u, c, d) - 8 * c[0];
            });
            break;
        case 20:
            Pass3x3(bmp, progress, [](const uint8_t* u, const uint8_t* c, const uint8_t* d, uint8_t* out, int W) {
                for (int j = 0; j < W * 3; ++j) out[j] = SobelAt(u + j, c + j, d + j);
            });
            break;
        case 21:
        case 22:
        case 39:
        case 40: {
            const int mode = code;
            PixelPass(bmp, progress, [mode](const uint8_t* u, const uint8_t* c, const uint8_t* d, uint8_t* out) {
                uint8_t t[3];
                for (int ch = 0; ch < 3; ++ch) {
                    if (mode == 21 || mode == 22)
                        t[ch] = SobelAt(u + ch, c + ch, d + ch);
                    else
                        t[ch] = ClampByte(S8(u + ch, c + ch, d + ch) - 8 * c[ch]);
                }
                const int g = GrayLevel(t);
                if (mode == 21 || mode == 39) {
                    out[0] = out[1] = out[2] = static_cast<uint8_t>(255 - g);
                } else {
                    const int a = mode == 22 ? g / 2 : g;
                    for (int ch = 0; ch < 3; ++ch) out[ch] = ClampByte(Poster(c[ch]) - a + 32);
                }
            });
            break;
        }
        default:
            break;
    }
}

void ApplyEffect(TBitmap& bmp, int code, const TProgressEvent& progress) {
    if (code <= 0 || code > kEffectCount) return;
    bmp.SetPixelFormat(pf24bit);
    switch (code) {
        case 1:
        case 21: Grayscale(bmp, progress); break;
        case 2: Sepia(bmp, progress); break;
        case 3: Invert(bmp, progress); break;
        case 4: case 5: case 6: case 7: SwapChannels(bmp, code, progress); break;
        case 23: ButtonBevel(bmp, 2, 64); break;
        case 24: ButtonBevel(bmp, 4, 64); break;
        case 25: ButtonBevel(bmp, 6, 64); break;
        case 26: ButtonBevel(bmp, 10, 64); break;
        case 27: NoiseReduction(bmp, 24, progress); break;
        case 28: NoiseReduction(bmp, 40, progress); break;
        case 29: NoiseReduction(bmp, 56, progress); break;
        case 30: HistogramEqualize1(bmp, progress); break;
        case 31: HistogramEqualize2(bmp, progress); break;
        case 32: HistogramEqualize3(bmp, progress); break;
        case 33: ContrastStretch1(bmp, progress); break;
        case 34: ContrastStretch2(bmp, progress); break;
        case 35: ContrastStretch1(bmp, progress); ContrastStretch2(bmp, progress); break;
        case 37: Soft2(bmp, progress); break;
        case 38: case 39: case 40: Smooth(bmp, progress); break;
        default: break;
    }
    if ((code >= 8 && code <= 22) || code == 36 || code == 39 || code == 40) Convolve3x3(bmp, code, progress);
}

}  // namespace fv
