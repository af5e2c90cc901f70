#pragma once
// Small pictures and files the image tests build themselves.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image/bitmap.h"

namespace fv::testutil {

struct Bgr {
    uint8_t B, G, R;
    bool operator==(const Bgr&) const = default;
};

inline Bgr PixelAt(const TBitmap& b, int x, int y) {
    const uint8_t* p = b.ScanLine(y) + x * 3;
    return {p[0], p[1], p[2]};
}
inline void SetPixel(TBitmap& b, int x, int y, Bgr c) {
    uint8_t* p = b.ScanLine(y) + x * 3;
    p[0] = c.B;
    p[1] = c.G;
    p[2] = c.R;
}

// every pixel from fn(x, y)
template <class Fn>
TBitmap MakeBitmap(int w, int h, Fn fn) {
    TBitmap b(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) SetPixel(b, x, y, fn(x, y));
    return b;
}

inline TBitmap Flat(int w, int h, uint8_t v) {
    return MakeBitmap(w, h, [v](int, int) { return Bgr{v, v, v}; });
}

// deterministic pseudo-random content
inline TBitmap Noise(int w, int h, uint32_t seed = 1) {
    return MakeBitmap(w, h, [&seed](int, int) {
        auto next = [&seed] {
            seed = seed * 1664525u + 1013904223u;
            return static_cast<uint8_t>(seed >> 24);
        };
        return Bgr{next(), next(), next()};
    });
}

// a smooth picture with structure (gradients and a bright block) that survives JPEG
inline TBitmap Scene(int w, int h) {
    return MakeBitmap(w, h, [w, h](int x, int y) {
        const bool block = x > w / 4 && x < w / 2 && y > h / 5 && y < h / 2;
        return Bgr{static_cast<uint8_t>(block ? 250 : 40 + 150 * x / w), static_cast<uint8_t>(60 + 120 * y / h),
                    static_cast<uint8_t>(block ? 250 : 200 - 150 * x / w)};
    });
}

// mean absolute difference per channel byte; sizes must match
inline double MeanAbsDiff(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return 1e9;
    double sum = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int j = 0; j < a.Width() * 3; ++j) sum += std::abs(a.ScanLine(y)[j] - b.ScanLine(y)[j]);
    return sum / (static_cast<double>(a.Width()) * a.Height() * 3);
}

class TTempDir {
public:
    TTempDir() {
        char tmpl[] = "/tmp/fv-image-test-XXXXXX";
        FPath = mkdtemp(tmpl);
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    std::string File(const std::string& name) const { return FPath + "/" + name; }

private:
    std::string FPath;
};

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

}  // namespace fv::testutil
