#include "image/resample.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define FV_X86_SIMD 1
#endif

namespace fv {

namespace {

constexpr int kSupport[6] = {1, 1, 2, 2, 2, 3};
constexpr double kPi = 3.14159265358979323846;

// Kernel tables at 256 steps per source pixel, built once and read-only afterwards.
struct TKernelTables {
    std::vector<float> Table[6];
    TKernelTables() {
        for (int k = 0; k < 6; ++k) {
            const int n = kSupport[k] * 256;
            Table[k].resize(n);
            for (int i = 0; i < n; ++i) {
                const double x = i / 256.0;
                double v = 0;
                switch (k) {
                    case fkBox: v = 1; break;
                    case fkTriangle: v = 1 - x; break;
                    case fkSinc: v = i == 0 ? 1 : std::sin(kPi * x) / (kPi * x); break;
                    case fkPolynomial: {
                        float a = static_cast<float>((x + 1) / 3);
                        v = 3.0 * a * (1.0 - a) * (1.0 - a);
                        break;
                    }
                    case fkBSpline:
                        v = x < 1 ? x * x * x / 2 - x * x + 2.0 / 3 : (2 - x) * (2 - x) * (2 - x) / 6;
                        break;
                    case fkLanczos3:
                        v = i == 0 ? 1 : std::sin(kPi * x) / (kPi * x) * std::sin(kPi * x / 3) / (kPi * x / 3);
                        break;
                }
                Table[k][i] = static_cast<float>(v);
            }
        }
    }
};

const TKernelTables& Tables() {
    static const TKernelTables t;
    return t;
}

std::atomic<bool> gUseSimd{true};

inline uint8_t ClampShift(int32_t sum) {
    if (sum <= 0) return 0;
    if (sum >= 255 * 16384) return 255;
    return static_cast<uint8_t>(sum >> 14);
}

#if FV_X86_SIMD
void CombineRowsSse2(const uint8_t* first, ptrdiff_t stride, const int32_t* w, int count, uint8_t* out, int bytes) {
    const __m128i z = _mm_setzero_si128();
    int j = 0;
    for (; j + 16 <= bytes; j += 16) {
        __m128i acc0 = z, acc1 = z, acc2 = z, acc3 = z;
        const uint8_t* p = first + j;
        int k = 0;
        for (; k + 1 < count; k += 2, p += 2 * stride) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + stride));
            const __m128i wv = _mm_set1_epi32(static_cast<int>((static_cast<uint32_t>(w[k]) & 0xFFFFu) |
                                                                (static_cast<uint32_t>(w[k + 1]) << 16)));
            const __m128i lo = _mm_unpacklo_epi8(a, b), hi = _mm_unpackhi_epi8(a, b);
            acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, z), wv));
            acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, z), wv));
            acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, z), wv));
            acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, z), wv));
        }
        if (k < count) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i wv = _mm_set1_epi32(static_cast<int>(static_cast<uint32_t>(w[k]) & 0xFFFFu));
            const __m128i lo = _mm_unpacklo_epi8(a, z), hi = _mm_unpackhi_epi8(a, z);
            acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, z), wv));
            acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, z), wv));
            acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, z), wv));
            acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, z), wv));
        }
        // arithmetic shift, then the two saturating packs clamp to 0..255 exactly like ClampShift
        acc0 = _mm_srai_epi32(acc0, 14);
        acc1 = _mm_srai_epi32(acc1, 14);
        acc2 = _mm_srai_epi32(acc2, 14);
        acc3 = _mm_srai_epi32(acc3, 14);
        const __m128i r = _mm_packus_epi16(_mm_packs_epi32(acc0, acc1), _mm_packs_epi32(acc2, acc3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), r);
    }
    if (j < bytes) resample_detail::CombineRowsScalar(first + j, stride, w, count, out + j, bytes - j);
}

// The same combiner 32 bytes at a time. Unpacks and packs both work within 128-bit lanes,
// so the bytes come back in order without a permute.
__attribute__((target("avx2"))) void CombineRowsAvx2(const uint8_t* first, ptrdiff_t stride, const int32_t* w,
                                                     int count, uint8_t* out, int bytes) {
    const __m256i z = _mm256_setzero_si256();
    int j = 0;
    for (; j + 32 <= bytes; j += 32) {
        __m256i acc0 = z, acc1 = z, acc2 = z, acc3 = z;
        const uint8_t* p = first + j;
        int k = 0;
        for (; k + 1 < count; k += 2, p += 2 * stride) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + stride));
            const __m256i wv = _mm256_set1_epi32(static_cast<int>((static_cast<uint32_t>(w[k]) & 0xFFFFu) |
                                                                   (static_cast<uint32_t>(w[k + 1]) << 16)));
            const __m256i lo = _mm256_unpacklo_epi8(a, b), hi = _mm256_unpackhi_epi8(a, b);
            acc0 = _mm256_add_epi32(acc0, _mm256_madd_epi16(_mm256_unpacklo_epi8(lo, z), wv));
            acc1 = _mm256_add_epi32(acc1, _mm256_madd_epi16(_mm256_unpackhi_epi8(lo, z), wv));
            acc2 = _mm256_add_epi32(acc2, _mm256_madd_epi16(_mm256_unpacklo_epi8(hi, z), wv));
            acc3 = _mm256_add_epi32(acc3, _mm256_madd_epi16(_mm256_unpackhi_epi8(hi, z), wv));
        }
        if (k < count) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            const __m256i wv = _mm256_set1_epi32(static_cast<int>(static_cast<uint32_t>(w[k]) & 0xFFFFu));
            const __m256i lo = _mm256_unpacklo_epi8(a, z), hi = _mm256_unpackhi_epi8(a, z);
            acc0 = _mm256_add_epi32(acc0, _mm256_madd_epi16(_mm256_unpacklo_epi8(lo, z), wv));
            acc1 = _mm256_add_epi32(acc1, _mm256_madd_epi16(_mm256_unpackhi_epi8(lo, z), wv));
            acc2 = _mm256_add_epi32(acc2, _mm256_madd_epi16(_mm256_unpacklo_epi8(hi, z), wv));
            acc3 = _mm256_add_epi32(acc3, _mm256_madd_epi16(_mm256_unpackhi_epi8(hi, z), wv));
        }
        acc0 = _mm256_srai_epi32(acc0, 14);
        acc1 = _mm256_srai_epi32(acc1, 14);
        acc2 = _mm256_srai_epi32(acc2, 14);
        acc3 = _mm256_srai_epi32(acc3, 14);
        const __m256i r = _mm256_packus_epi16(_mm256_packs_epi32(acc0, acc1), _mm256_packs_epi32(acc2, acc3));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), r);
    }
    if (j < bytes) CombineRowsSse2(first + j, stride, w, count, out + j, bytes - j);
}

const bool kHaveAvx2 = __builtin_cpu_supports("avx2");

// Transposes between picture rows (3 bytes a pixel) and the band (4 bytes a pixel, the band's
// rows next to each other), four rows and four pixels at a time. The callers keep every
// 16-byte read and write inside the rows (the last pixels go the plain way).
__attribute__((target("ssse3"))) int TransposeIn4Rows(const uint8_t* const* rows, int pixels, uint8_t* d,
                                                      size_t bandStride) {
    const __m128i expand = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    int x = 0;
    for (; x + 4 <= pixels; x += 4, d += 4 * bandStride) {
        const __m128i r0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[0] + x * 3)), expand);
        const __m128i r1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[1] + x * 3)), expand);
        const __m128i r2 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[2] + x * 3)), expand);
        const __m128i r3 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[3] + x * 3)), expand);
        const __m128i t0 = _mm_unpacklo_epi32(r0, r1), t1 = _mm_unpacklo_epi32(r2, r3);
        const __m128i t2 = _mm_unpackhi_epi32(r0, r1), t3 = _mm_unpackhi_epi32(r2, r3);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_unpacklo_epi64(t0, t1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + bandStride), _mm_unpackhi_epi64(t0, t1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 2 * bandStride), _mm_unpacklo_epi64(t2, t3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 3 * bandStride), _mm_unpackhi_epi64(t2, t3));
    }
    return x;
}

__attribute__((target("ssse3"))) int TransposeOut4Rows(const uint8_t* s, size_t bandStride, uint8_t* const* rows,
                                                       int pixels) {
    const __m128i compress = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int i = 0;
    for (; i + 4 <= pixels; i += 4, s += 4 * bandStride) {
        const __m128i q0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i q1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + bandStride));
        const __m128i q2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * bandStride));
        const __m128i q3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * bandStride));
        const __m128i t0 = _mm_unpacklo_epi32(q0, q1), t1 = _mm_unpacklo_epi32(q2, q3);
        const __m128i t2 = _mm_unpackhi_epi32(q0, q1), t3 = _mm_unpackhi_epi32(q2, q3);
        // 12 picture bytes and 4 bytes of the next pixels, which are written after these
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rows[0] + i * 3), _mm_shuffle_epi8(_mm_unpacklo_epi64(t0, t1), compress));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rows[1] + i * 3), _mm_shuffle_epi8(_mm_unpackhi_epi64(t0, t1), compress));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rows[2] + i * 3), _mm_shuffle_epi8(_mm_unpacklo_epi64(t2, t3), compress));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rows[3] + i * 3), _mm_shuffle_epi8(_mm_unpackhi_epi64(t2, t3), compress));
    }
    return i;
}

const bool kHaveSsse3 = __builtin_cpu_supports("ssse3");

// 24-bit pixels to 32-bit ones with alpha 255, four at a time; 16-byte reads stay inside the
// row while two more pixels follow the four read (the last pixels go the plain way)
__attribute__((target("ssse3"))) int ExpandRowSsse3(const uint8_t* s, uint8_t* d, int pixels) {
    const __m128i expand = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    int x = 0;
    for (; x + 6 <= pixels; x += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + static_cast<size_t>(x) * 3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + static_cast<size_t>(x) * 4),
                         _mm_or_si128(_mm_shuffle_epi8(v, expand), alpha));
    }
    return x;
}
#endif

// source rows per transposed band of the horizontal pass
constexpr int kBand = 16;  // small enough that a band of a wide picture stays in the level-2 cache

}  // namespace

namespace resample_detail {

void CombineRowsScalar(const uint8_t* first, ptrdiff_t stride, const int32_t* w, int count, uint8_t* out, int bytes) {
    for (int j = 0; j < bytes; ++j) {
        int32_t sum = 0;
        const uint8_t* p = first + j;
        for (int k = 0; k < count; ++k, p += stride) sum += w[k] * static_cast<int32_t>(*p);
        out[j] = ClampShift(sum);
    }
}

void CombineRows(const uint8_t* first, ptrdiff_t stride, const int32_t* w, int count, uint8_t* out, int bytes) {
#if FV_X86_SIMD
    if (gUseSimd.load(std::memory_order_relaxed)) {
        bool fits = true;
        for (int k = 0; k < count; ++k)
            if (w[k] < -32768 || w[k] > 32767) fits = false;
        if (fits) {
            if (kHaveAvx2)
                CombineRowsAvx2(first, stride, w, count, out, bytes);
            else
                CombineRowsSse2(first, stride, w, count, out, bytes);
            return;
        }
    }
#endif
    CombineRowsScalar(first, stride, w, count, out, bytes);
}

void ExpandRow(const uint8_t* bgr, uint8_t* bgra, int pixels) {
    int x = 0;
#if FV_X86_SIMD
    if (gUseSimd.load(std::memory_order_relaxed) && kHaveSsse3) x = ExpandRowSsse3(bgr, bgra, pixels);
#endif
    for (; x < pixels; ++x) {
        const uint8_t* s = bgr + static_cast<size_t>(x) * 3;
        uint8_t* d = bgra + static_cast<size_t>(x) * 4;
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = 255;
    }
}

void SetUseSimd(bool on) { gUseSimd.store(on); }
bool UseSimd() { return gUseSimd.load(); }

}  // namespace resample_detail

float KernelValue(int kernel, double x) {
    if (kernel < 0 || kernel > 5) return 0;
    const auto& t = Tables().Table[kernel];
    const double ax = std::fabs(x);
    const int64_t idx = static_cast<int64_t>(std::trunc(ax * 256 + 0.5));
    if (idx >= static_cast<int64_t>(t.size())) return 0;
    return t[static_cast<size_t>(idx)];
}

std::vector<TContribution> BuildContributions(int n, int m, int kernel) {
    if (kernel < 0 || kernel > 5) kernel = fkTriangle;
    std::vector<TContribution> list(static_cast<size_t>(std::max(m, 0)));
    if (n <= 0 || m <= 0) return list;
    const auto& table = Tables().Table[kernel];
    const int64_t tableEnd = static_cast<int64_t>(table.size());
    const float c = static_cast<float>(n) / static_cast<float>(m);
    const int R = kSupport[kernel];
    float e = 1.0f, g = static_cast<float>(R);
    if (c >= 1.0f) {
        e = 1.0f / c;
        g = c * static_cast<float>(R);
    }
    std::vector<double> raw;
    for (int i = 0; i < m; ++i) {
        const float t = (c * static_cast<float>(2 * i + 1) - 1.0f) / 2.0f;
        const double lo = std::ceil(static_cast<double>(t - g));
        const double hi = std::floor(static_cast<double>(t + g));
        const bool firstClamped = lo < 0;
        const bool lastClamped = hi > n - 1;
        int first = firstClamped ? 0 : static_cast<int>(std::min<double>(lo, n - 1));
        int last = lastClamped ? n - 1 : static_cast<int>(std::max<double>(hi, 0));
        if (last < first) last = first;
        const int count = last - first + 1;
        raw.assign(static_cast<size_t>(count), 0.0);
        if (kernel == fkBox) {
            for (int k = 0; k < count; ++k) raw[k] = 1.0;
            if (!firstClamped) {
                const float v = t - g + 100.0f;
                raw[0] = 1.0 - (v - std::floor(v));
            }
            if (!lastClamped) {
                const float v = t + g;
                raw[count - 1] = v - std::floor(v);
            } else {
                raw[count - 1] = 1.0;
            }
        } else {
            for (int k = 0; k < count; ++k) {
                const float d = std::fabs(e * (t - static_cast<float>(first + k)));
                const int64_t idx = static_cast<int64_t>(std::trunc(static_cast<double>(d) * 256 + 0.5));
                raw[k] = idx < tableEnd ? table[static_cast<size_t>(idx)] : 0.0;
            }
        }
        double B = 0;
        for (double v : raw) B += v;
        TContribution& ct = list[static_cast<size_t>(i)];
        ct.First = first;
        ct.Weights.assign(static_cast<size_t>(count), 0);
        int32_t sum = 0;
        if (B != 0) {
            for (int k = 0; k < count; ++k) {
                ct.Weights[k] = static_cast<int32_t>(std::trunc(raw[k] / B * 16384.0));
                sum += ct.Weights[k];
            }
        }
        // the rounding remainder goes to the source pixel under the centre
        int centre = static_cast<int>(std::trunc(t)) - first;
        centre = std::clamp(centre, 0, count - 1);
        ct.Weights[centre] += 16384 - sum;
    }
    return list;
}

void FilteredResample(TBitmap& src, TBitmap& dst, int kernel, const TProgressEvent& progress) {
    src.SetPixelFormat(pf24bit);
    if (dst.PixelFormat() != pf32bit) dst.SetPixelFormat(pf24bit);
    if (src.Empty() || dst.Empty()) return;
    FilteredResampleRows(
        src.Width(), src.Height(),
        [&src](int first, int count, const uint8_t** rows) {
            for (int k = 0; k < count; ++k) rows[k] = src.ScanLine(first + k);
        },
        dst, kernel, progress);
}

void FilteredResampleRows(int srcW, int srcH, const TResampleRowSource& source, TBitmap& dst, int kernel,
                          const TProgressEvent& progress, bool verticalFirst) {
    if (dst.PixelFormat() != pf32bit) dst.SetPixelFormat(pf24bit);
    if (srcW <= 0 || srcH <= 0 || dst.Empty()) return;
    const int dstW = dst.Width(), dstH = dst.Height();
    const bool wide = dst.PixelFormat() == pf32bit;
    TProgressReporter rep(progress, dstH);
    const auto cols = BuildContributions(srcW, dstW, kernel);
    const auto rows = BuildContributions(srcH, dstH, kernel);

    size_t maxTaps = 1;
    for (const auto& r : rows) maxTaps = std::max(maxTaps, r.Weights.size());
    const size_t hStride = static_cast<size_t>(dstW) * 3;
    const size_t bandStride = static_cast<size_t>(kBand) * 4;

    // Horizontally filtered rows live in a sliding window [w0, w1) of source rows, kept
    // contiguous so that the vertical pass reads them at a fixed stride. A band of source rows
    // is transposed so that its columns become rows, which the same row combiner filters.
    const size_t capacity = maxTaps + 2 * kBand;
    std::vector<uint8_t> window(hStride * capacity + 16);
    std::vector<uint8_t> tin(static_cast<size_t>(srcW) * bandStride + 16);
    std::vector<uint8_t> tout(static_cast<size_t>(dstW) * bandStride + 16);
    std::vector<uint8_t> line(wide ? hStride + 16 : 0);  // a 32-bit picture's row before its alpha goes in
    int w0 = 0, w1 = 0;

    // the band holds 4 bytes a pixel so that the transposes move whole 32-bit words; the
    // fourth byte is filtered along and never written back
    const bool simd = resample_detail::UseSimd();
    const uint8_t* band[kBand];
    // filters the nb rows band[0..nb) to dstW pixels into outRows (hStride apart)
    auto filterBand = [&](int nb, uint8_t* outRows) {
        // blocks of 16 columns keep both the rows read and the band lines written in cache
        constexpr int kBlock = 16;
        for (int x0 = 0; x0 < srcW; x0 += kBlock) {
            const int x1 = std::min(x0 + kBlock, srcW);
            int b = 0;
#if FV_X86_SIMD
            // 16-byte reads stay inside the row while two more pixels follow the four read
            const int vecPixels = std::max(0, std::min(x1, srcW - 2) - x0);
            if (simd && kHaveSsse3 && vecPixels >= 4) {
                for (; b + 4 <= nb; b += 4) {
                    const uint8_t* r[4];
                    for (int k = 0; k < 4; ++k) r[k] = band[b + k] + static_cast<size_t>(x0) * 3;
                    uint8_t* d = tin.data() + static_cast<size_t>(x0) * bandStride + static_cast<size_t>(b) * 4;
                    const int done = TransposeIn4Rows(r, vecPixels, d, bandStride);
                    for (int k = 0; k < 4; ++k) {
                        const uint8_t* sp = r[k] + static_cast<size_t>(done) * 3;
                        uint8_t* dp = d + static_cast<size_t>(done) * bandStride + static_cast<size_t>(k) * 4;
                        int x = x0 + done;
                        for (; x < x1 && x + 1 < srcW; ++x, sp += 3, dp += bandStride) std::memcpy(dp, sp, 4);
                        if (x < x1) std::memcpy(dp, sp, 3);
                    }
                }
            }
#endif
            for (; b < nb; ++b) {
                const uint8_t* s = band[b] + static_cast<size_t>(x0) * 3;
                uint8_t* d = tin.data() + static_cast<size_t>(x0) * bandStride + static_cast<size_t>(b) * 4;
                int x = x0;
                for (; x < x1 && x + 1 < srcW; ++x, s += 3, d += bandStride) std::memcpy(d, s, 4);
                if (x < x1) std::memcpy(d, s, 3);  // the last pixel: no byte past the row is read
            }
        }
        for (int i = 0; i < dstW; ++i) {
            const TContribution& c = cols[static_cast<size_t>(i)];
            resample_detail::CombineRows(tin.data() + static_cast<size_t>(c.First) * bandStride,
                                         static_cast<ptrdiff_t>(bandStride), c.Weights.data(),
                                         static_cast<int>(c.Weights.size()),
                                         tout.data() + static_cast<size_t>(i) * bandStride, nb * 4);
        }
        int b = 0;
#if FV_X86_SIMD
        // 16-byte writes stay inside the row while two more pixels follow the four written
        const int vecOut = std::max(0, dstW - 2);
        if (simd && kHaveSsse3 && vecOut >= 4) {
            for (; b + 4 <= nb; b += 4) {
                uint8_t* o[4];
                for (int k = 0; k < 4; ++k) o[k] = outRows + static_cast<size_t>(b + k) * hStride;
                const uint8_t* s = tout.data() + static_cast<size_t>(b) * 4;
                const int done = TransposeOut4Rows(s, bandStride, o, vecOut);
                for (int k = 0; k < 4; ++k) {
                    const uint8_t* sp = s + static_cast<size_t>(done) * bandStride + static_cast<size_t>(k) * 4;
                    uint8_t* dp = o[k] + static_cast<size_t>(done) * 3;
                    int x = done;
                    for (; x + 1 < dstW; ++x, sp += bandStride, dp += 3) std::memcpy(dp, sp, 4);
                    std::memcpy(dp, sp, 3);
                }
            }
        }
#endif
        for (; b < nb; ++b) {
            uint8_t* d = outRows + static_cast<size_t>(b) * hStride;
            const uint8_t* s = tout.data() + static_cast<size_t>(b) * 4;
            int x = 0;
            // each word's fourth byte lands on the next pixel, which is written right after
            for (; x + 1 < dstW; ++x, s += bandStride, d += 3) std::memcpy(d, s, 4);
            std::memcpy(d, s, 3);
        }
    };

    // The rows destination row y combines, in the window (rowBytes apart), filled band by band:
    // fill(w1, nb, at) puts source rows w1..w1+nb-1 (horizontally filtered or as they are) there.
    auto windowFor = [&](const TContribution& r, size_t rowBytes, const auto& fill) {
        const int first = r.First;
        const int last = r.First + static_cast<int>(r.Weights.size());  // exclusive
        if (first < w0 || first > w1) w0 = w1 = first;  // the window does not reach this row: start afresh
        while (w1 < last) {
            if (static_cast<size_t>(w1 - w0) + kBand > capacity && first > w0) {
                // make room: keep only the rows from this destination row's first one on
                std::memmove(window.data(), window.data() + static_cast<size_t>(first - w0) * rowBytes,
                             static_cast<size_t>(w1 - first) * rowBytes);
                w0 = first;
            }
            const int nb = std::min({kBand, srcH - w1, static_cast<int>(capacity) - (w1 - w0)});
            source(w1, nb, band);
            fill(nb, window.data() + static_cast<size_t>(w1 - w0) * rowBytes);
            w1 += nb;
        }
        return window.data() + static_cast<size_t>(first - w0) * rowBytes;
    };
    auto combine = [](const TContribution& r, const uint8_t* base, size_t rowBytes, uint8_t* out) {
        if (r.Weights.size() == 1) {
            std::memcpy(out, base, rowBytes);
        } else {
            resample_detail::CombineRows(base, static_cast<ptrdiff_t>(rowBytes), r.Weights.data(),
                                         static_cast<int>(r.Weights.size()), out, static_cast<int>(rowBytes));
        }
    };

    if (!verticalFirst) {
        auto filtered = [&](int nb, uint8_t* at) { filterBand(nb, at); };
        for (int y = 0; y < dstH; ++y) {
            const TContribution& r = rows[static_cast<size_t>(y)];
            const uint8_t* base = windowFor(r, hStride, filtered);
            uint8_t* out = wide ? line.data() : dst.ScanLine(y);
            combine(r, base, hStride, out);
            if (wide) resample_detail::ExpandRow(line.data(), dst.ScanLine(y), dstW);
            rep.Row(y + 1);
        }
        return;
    }
    // Columns first: the window keeps source rows as they come, each band of destination rows
    // is combined from them at the source's width and then filtered across like a band of source
    // rows.
    const size_t srcBytes = static_cast<size_t>(srcW) * 3;
    window.assign(srcBytes * capacity + 16, 0);
    std::vector<uint8_t> mid(srcBytes * kBand + 16), outBand(hStride * kBand + 16);
    auto raw = [&](int nb, uint8_t* at) {
        for (int k = 0; k < nb; ++k) std::memcpy(at + static_cast<size_t>(k) * srcBytes, band[k], srcBytes);
    };
    for (int y0 = 0; y0 < dstH; y0 += kBand) {
        const int nb = std::min(kBand, dstH - y0);
        for (int k = 0; k < nb; ++k) {
            const TContribution& r = rows[static_cast<size_t>(y0 + k)];
            combine(r, windowFor(r, srcBytes, raw), srcBytes, mid.data() + static_cast<size_t>(k) * srcBytes);
        }
        for (int k = 0; k < nb; ++k) band[k] = mid.data() + static_cast<size_t>(k) * srcBytes;
        filterBand(nb, outBand.data());
        for (int k = 0; k < nb; ++k) {
            const uint8_t* o = outBand.data() + static_cast<size_t>(k) * hStride;
            if (wide)
                resample_detail::ExpandRow(o, dst.ScanLine(y0 + k), dstW);
            else
                std::memcpy(dst.ScanLine(y0 + k), o, hStride);
        }
        rep.Row(y0 + nb);
    }
}

void Nearest(TBitmap& src, TBitmap& dst, const TProgressEvent& progress) {
    src.SetPixelFormat(pf24bit);
    dst.SetPixelFormat(pf24bit);
    if (src.Empty() || dst.Empty()) return;
    const int srcW = src.Width(), srcH = src.Height(), dstW = dst.Width(), dstH = dst.Height();
    const long double sx = static_cast<long double>(srcW) / dstW;
    const long double sy = static_cast<long double>(srcH) / dstH;
    std::vector<int> xs(static_cast<size_t>(dstW));
    for (int x = 0; x < dstW; ++x) xs[x] = std::min(srcW - 1, static_cast<int>(x * sx)) * 3;
    TProgressReporter rep(progress, dstH);
    for (int y = 0; y < dstH; ++y) {
        const uint8_t* s = src.ScanLine(std::min(srcH - 1, static_cast<int>(y * sy)));
        uint8_t* d = dst.ScanLine(y);
        for (int x = 0; x < dstW; ++x, d += 3) {
            const uint8_t* p = s + xs[x];
            d[0] = p[0];
            d[1] = p[1];
            d[2] = p[2];
        }
        rep.Row(y + 1);
    }
}

void Bilinear(TBitmap& src, TBitmap& dst, const TProgressEvent& progress) {
    src.SetPixelFormat(pf24bit);
    dst.SetPixelFormat(pf24bit);
    if (src.Empty() || dst.Empty()) return;
    const int srcW = src.Width(), srcH = src.Height(), dstW = dst.Width(), dstH = dst.Height();
    const float sx = static_cast<float>(srcW - 1) / static_cast<float>(dstW);
    const float sy = static_cast<float>(srcH - 1) / static_cast<float>(dstH);
    std::vector<int> xi(static_cast<size_t>(dstW)), xi1(static_cast<size_t>(dstW)), fx(static_cast<size_t>(dstW));
    for (int x = 0; x < dstW; ++x) {
        const float u = static_cast<float>(x) * sx;
        const int i = static_cast<int>(u);
        xi[x] = std::min(i, srcW - 1) * 3;
        xi1[x] = std::min(i + 1, srcW - 1) * 3;  // a one-pixel-wide source has no right neighbour
        fx[x] = static_cast<int>((u - static_cast<float>(i)) * 256.0f);
    }
    // the two horizontally interpolated source rows, re-read only when the row index advances
    std::vector<uint16_t> h0(static_cast<size_t>(dstW) * 3), h1(static_cast<size_t>(dstW) * 3);
    int have0 = -1, have1 = -1;
    auto interp = [&](int row, std::vector<uint16_t>& h) {
        const uint8_t* s = src.ScanLine(row);
        for (int x = 0; x < dstW; ++x) {
            const int f = fx[x];
            const uint8_t* a = s + xi[x];
            const uint8_t* b = s + xi1[x];
            for (int c = 0; c < 3; ++c) h[x * 3 + c] = static_cast<uint16_t>((a[c] * (256 - f) + b[c] * f) >> 8);
        }
    };
    TProgressReporter rep(progress, dstH);
    for (int y = 0; y < dstH; ++y) {
        const float v = static_cast<float>(y) * sy;
        const int j = std::min(static_cast<int>(v), srcH - 1);
        const int j1 = std::min(j + 1, srcH - 1);
        const int fy = static_cast<int>((v - static_cast<float>(static_cast<int>(v))) * 256.0f);
        if (have0 != j) {
            if (have1 == j) {
                h0.swap(h1);
                std::swap(have0, have1);
            } else {
                interp(j, h0);
                have0 = j;
            }
        }
        if (have1 != j1) {
            interp(j1, h1);
            have1 = j1;
        }
        uint8_t* d = dst.ScanLine(y);
        const int n = dstW * 3;
        for (int k = 0; k < n; ++k) d[k] = static_cast<uint8_t>((h0[k] * (256 - fy) + h1[k] * fy) >> 8);
        rep.Row(y + 1);
    }
}

namespace {

void AreaAverageDirect(TBitmap& src, TBitmap& dst, const TProgressEvent& progress) {
    const int srcW = src.Width(), srcH = src.Height(), dstW = dst.Width(), dstH = dst.Height();
    const long double s = static_cast<long double>(srcW - 1) / dstW;
    const long double t = static_cast<long double>(srcH - 1) / dstH;
    // column spans; an empty span (a destination wider than its source) takes one pixel
    std::vector<int> cs(static_cast<size_t>(dstW)), cn(static_cast<size_t>(dstW));
    for (int i = 0; i < dstW; ++i) {
        int a = static_cast<int>(i * s);
        int b = static_cast<int>((i + 1) * s);
        a = std::min(a, srcW - 1);
        cs[i] = a;
        cn[i] = std::max(1, std::min(b, srcW) - a);
    }
    std::vector<uint32_t> sum(static_cast<size_t>(dstW) * 3);
    TProgressReporter rep(progress, dstH);
    int prevEnd = -1;
    for (int r = 0; r < dstH; ++r) {
        int r0 = std::min(prevEnd + 1, srcH - 1);
        int r1 = std::min(static_cast<int>((r + 1) * t), srcH - 1);
        if (r1 < r0) r1 = r0;  // an empty span (destination taller than source) takes one row
        prevEnd = r1;
        std::fill(sum.begin(), sum.end(), 0u);
        for (int y = r0; y <= r1; ++y) {
            const uint8_t* row = src.ScanLine(y);
            for (int i = 0; i < dstW; ++i) {
                const uint8_t* p = row + static_cast<size_t>(cs[i]) * 3;
                uint32_t b = 0, g = 0, rr = 0;
                for (int k = 0; k < cn[i]; ++k, p += 3) {
                    b += p[0];
                    g += p[1];
                    rr += p[2];
                }
                sum[i * 3] += b;
                sum[i * 3 + 1] += g;
                sum[i * 3 + 2] += rr;
            }
        }
        const uint32_t rows = static_cast<uint32_t>(r1 - r0 + 1);
        uint8_t* d = dst.ScanLine(r);
        for (int i = 0; i < dstW; ++i) {
            const uint32_t div = rows * static_cast<uint32_t>(cn[i]);
            d[i * 3] = static_cast<uint8_t>(sum[i * 3] / div);
            d[i * 3 + 1] = static_cast<uint8_t>(sum[i * 3 + 1] / div);
            d[i * 3 + 2] = static_cast<uint8_t>(sum[i * 3 + 2] / div);
        }
        rep.Row(r + 1);
    }
}

}  // namespace

void AreaAverage(TBitmap& src, TBitmap& dst, const TProgressEvent& progress) {
    src.SetPixelFormat(pf24bit);
    dst.SetPixelFormat(pf24bit);
    if (src.Empty() || dst.Empty()) return;
    const int srcW = src.Width(), srcH = src.Height(), dstW = dst.Width(), dstH = dst.Height();
    const float ratio = (static_cast<float>(srcW) / static_cast<float>(dstW)) *
                        (static_cast<float>(srcH) / static_cast<float>(dstH));
    if (ratio > 255.0f) {
        // blocks of more than 255 pixels go through an intermediate of 4x the target size; the
        // intermediate never exceeds the source in either direction
        TBitmap inter(std::min(4 * dstW, srcW), std::min(4 * dstH, srcH));
        AreaAverage(src, inter, {});
        AreaAverage(inter, dst, progress);
        return;
    }
    if (dstW >= srcW && dstH >= srcH) {
        Nearest(src, dst, progress);
        return;
    }
    AreaAverageDirect(src, dst, progress);
}

void Resample(TBitmap& src, TBitmap& dst, int method, const TProgressEvent& progress) {
    if (src.Width() <= 0 || src.Height() <= 0 || dst.Width() <= 0 || dst.Height() <= 0) throw EImageAbort("");
    switch (method) {
        case rmNearest: Nearest(src, dst, progress); return;
        case rmBox: FilteredResample(src, dst, fkBox, progress); return;
        case rmTriangle: FilteredResample(src, dst, fkTriangle, progress); return;
        case rmSinc: FilteredResample(src, dst, fkSinc, progress); return;
        case rmLanczos3: FilteredResample(src, dst, fkLanczos3, progress); return;
        case rmPolynomial: FilteredResample(src, dst, fkPolynomial, progress); return;
        case rmBSpline: FilteredResample(src, dst, fkBSpline, progress); return;
        default: {
            const float f = static_cast<float>(src.Width()) / static_cast<float>(dst.Width());
            if (f >= 2.0f && dst.Width() <= src.Width() && dst.Height() <= src.Height())
                AreaAverage(src, dst, progress);
            else
                Bilinear(src, dst, progress);
            return;
        }
    }
}

void ResizeBitmap(TBitmap& bmp, int w, int h, const TProgressEvent& progress, int method) {
    if (bmp.Width() <= 0 || bmp.Height() <= 0 || w <= 0 || h <= 0) throw EImageAbort("");
    if (w == bmp.Width() || h == bmp.Height()) return;
    TBitmap out(w, h);
    Resample(bmp, out, method, progress);
    bmp.Swap(out);
}

}  // namespace fv
