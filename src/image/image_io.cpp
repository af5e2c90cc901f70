#include "image/image_io.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "image/jpeg_codec.h"
#include "platform/stream.h"
#include "platform/byte_order.h"
#include "platform/file_name.h"

namespace fv {

namespace {

[[noreturn]] void Bad(const char* what) { throw EBitmapFormatError(Format("Invalid bitmap file: %s", what)); }

struct TBmpHeader {
    int32_t Width = 0;
    int32_t Height = 0;  // positive; TopDown says the row order
    bool TopDown = false;
    uint16_t BitCount = 0;
    uint32_t Compression = 0;
    uint32_t OffBits = 0;
    uint32_t HeaderSize = 0;
    uint32_t ColorsUsed = 0;
    uint32_t Masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
    bool Core = false;
};

constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6;

TBmpHeader ParseHeader(const uint8_t* d, size_t size) {
    if (size < 26 || d[0] != 'B' || d[1] != 'M') Bad("no BM signature");
    TBmpHeader h;
    h.OffBits = GetU32(d + 10);
    h.HeaderSize = GetU32(d + 14);
    if (h.HeaderSize == 12) {
        h.Core = true;
        h.Width = GetU16(d + 18);
        h.Height = GetU16(d + 20);
        h.BitCount = GetU16(d + 24);
    } else if (h.HeaderSize >= 40 && h.HeaderSize <= 1024) {
        if (size < 14 + static_cast<size_t>(h.HeaderSize)) Bad("truncated header");
        h.Width = static_cast<int32_t>(GetU32(d + 18));
        const int32_t hh = static_cast<int32_t>(GetU32(d + 22));
        if (hh == INT32_MIN) Bad("height");
        h.TopDown = hh < 0;
        h.Height = hh < 0 ? -hh : hh;
        h.BitCount = GetU16(d + 28);
        h.Compression = GetU32(d + 30);
        h.ColorsUsed = GetU32(d + 46);
        if (h.Compression == kBiBitfields || h.Compression == kBiAlphaBitfields) {
            // masks follow a 40-byte header, or are part of the V2..V5 headers
            const size_t at = 14 + 40;
            const size_t n = h.Compression == kBiAlphaBitfields ? 4 : 3;
            if (size < at + 4 * n) Bad("truncated bit fields");
            for (size_t i = 0; i < n; ++i) h.Masks[i] = GetU32(d + at + 4 * i);
            if (h.HeaderSize >= 56) h.Masks[3] = GetU32(d + 14 + 52);
        }
    } else {
        Bad("unknown header size");
    }
    if (h.Width <= 0 || h.Height <= 0 || h.Width > kMaxBitmapSide || h.Height > kMaxBitmapSide ||
        static_cast<int64_t>(h.Width) * h.Height > kMaxBitmapPixels)
        Bad("picture size");
    switch (h.BitCount) {
        case 1: case 4: case 8: case 16: case 24: case 32: break;
        default: Bad("bit count");
    }
    if (h.Compression == kBiRle8 && h.BitCount != 8) Bad("RLE8 needs 8 bits");
    if (h.Compression == kBiRle4 && h.BitCount != 4) Bad("RLE4 needs 4 bits");
    if ((h.Compression == kBiBitfields || h.Compression == kBiAlphaBitfields) && h.BitCount != 16 && h.BitCount != 32)
        Bad("bit fields need 16 or 32 bits");
    if (h.Compression > kBiBitfields && h.Compression != kBiAlphaBitfields) Bad("compression not supported");
    if ((h.Compression == kBiRle8 || h.Compression == kBiRle4) && h.TopDown) Bad("top-down RLE");
    return h;
}

// one channel from a bit-field mask, scaled to 8 bits
struct TMaskChannel {
    uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;
    explicit TMaskChannel(uint32_t m) : Mask(m) {
        if (m == 0) return;
        while (((m >> Shift) & 1u) == 0) ++Shift;
        while (Shift + Bits < 32 && ((m >> (Shift + Bits)) & 1u)) ++Bits;
    }
    uint8_t Get(uint32_t v) const {
        if (Bits == 0) return 0;
        const uint32_t x = (v & Mask) >> Shift;
        const uint32_t maxv = Bits >= 32 ? 0xFFFFFFFFu : ((1u << Bits) - 1);
        return static_cast<uint8_t>((static_cast<uint64_t>(x) * 255 + maxv / 2) / maxv);
    }
};

// RLE pictures are bottom-up; pixels never written stay palette entry 0. The column and row
// counters never leave 0..W and 0..H: runs and delta escapes are clipped to the picture, so a
// long or hostile stream can neither overflow them nor write outside the bitmap.
void DecodeRle(const uint8_t* d, size_t size, const TBmpHeader& h, const uint8_t (*pal)[3], int palCount, TBitmap& bmp) {
    const int W = h.Width, H = h.Height;
    for (int y = 0; y < H; ++y) {
        uint8_t* row = bmp.ScanLine(y);
        for (int x = 0; x < W; ++x) std::memcpy(row + x * 3, pal[0], 3);
    }
    int x = 0, y = 0;  // 0 <= x <= W, 0 <= y < H inside the loop
    // n pixels at the current place; pixel(i) gives the palette index of the i-th one
    auto put = [&](int n, auto pixel) {
        const int fit = std::min(n, W - x);
        uint8_t* row = bmp.ScanLine(H - 1 - y);
        for (int i = 0; i < fit; ++i) {
            int index = pixel(i);
            if (index >= palCount) index = 0;
            std::memcpy(row + (x + i) * 3, pal[index], 3);
        }
        x += fit;
    };
    size_t p = h.OffBits;
    const bool four = h.Compression == kBiRle4;
    while (p + 1 < size && y < H) {
        const uint8_t n = d[p], v = d[p + 1];
        p += 2;
        if (n > 0) {
            put(n, [&](int i) { return four ? ((i & 1) ? (v & 15) : (v >> 4)) : v; });
        } else if (v == 0) {  // end of line
            x = 0;
            ++y;
        } else if (v == 1) {  // end of bitmap
            break;
        } else if (v == 2) {  // delta: right and up, clipped to the picture
            if (p + 1 >= size) break;
            x = std::min(W, x + d[p]);
            y += d[p + 1];  // at most 255 past H; the loop ends there
            p += 2;
        } else {  // absolute run of v pixels, padded to a 16-bit boundary
            const size_t bytes = four ? (v + 1) / 2 : v;
            if (p + bytes > size) Bad("RLE run past the end");
            const uint8_t* s = d + p;
            put(v, [&](int i) { return four ? ((i & 1) ? (s[i / 2] & 15) : (s[i / 2] >> 4)) : s[i]; });
            p += (bytes + 1) & ~static_cast<size_t>(1);
        }
    }
}

uint32_t Crc32(const uint8_t* p, size_t n, uint32_t crc = 0) {
    static uint32_t table[256];
    static bool init = [] {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        return true;
    }();
    (void)init;
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void PutBE32(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x >> 24));
    v.push_back(static_cast<uint8_t>(x >> 16));
    v.push_back(static_cast<uint8_t>(x >> 8));
    v.push_back(static_cast<uint8_t>(x));
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    PutBE32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBE32(out, Crc32(out.data() + start, out.size() - start));
}

}  // namespace

void ReadBmpFacts(const uint8_t* data, size_t size, int& width, int& height, TPixelFormat& pf) {
    const TBmpHeader h = ParseHeader(data, size);
    width = h.Width;
    height = h.Height;
    switch (h.BitCount) {
        case 1: pf = pf1bit; break;
        case 4: pf = pf4bit; break;
        case 8: pf = pf8bit; break;
        case 16: pf = pf16bit; break;
        case 24: pf = pf24bit; break;
        default: pf = pf32bit; break;
    }
}

bool ReadBmpSize(const uint8_t* data, size_t size, int& width, int& height, TPixelFormat& pf) {
    try {
        ReadBmpFacts(data, size, width, height, pf);
        return true;
    } catch (const EBitmapFormatError&) {
        return false;
    }
}

void LoadBmpFromMemory(const uint8_t* d, size_t size, TBitmap& bmp) {
    const TBmpHeader h = ParseHeader(d, size);
    const int W = h.Width, H = h.Height;
    uint8_t pal[256][3] = {};
    int palCount = 0;
    if (h.BitCount <= 8) {
        const size_t entry = h.Core ? 3 : 4;
        const size_t at = 14 + h.HeaderSize + (h.Compression == kBiBitfields ? 12 : 0);
        const int maxColors = 1 << h.BitCount;
        palCount = h.ColorsUsed > 0 && !h.Core ? static_cast<int>(std::min<uint32_t>(h.ColorsUsed, maxColors)) : maxColors;
        // a palette that runs past the pixel data or the file is cut to what is there
        const size_t limit = std::min<size_t>(size, h.OffBits > at ? h.OffBits : size);
        if (at >= limit) Bad("no palette");
        palCount = static_cast<int>(std::min<size_t>(palCount, (limit - at) / entry));
        if (palCount == 0) Bad("no palette");
        for (int i = 0; i < palCount; ++i) {
            pal[i][0] = d[at + i * entry];
            pal[i][1] = d[at + i * entry + 1];
            pal[i][2] = d[at + i * entry + 2];
        }
    }
    if (h.OffBits >= size) Bad("pixel data offset");
    bmp.Clear();
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(W, H);
    if (h.Compression == kBiRle8 || h.Compression == kBiRle4) {
        DecodeRle(d, size, h, pal, palCount, bmp);
        return;
    }
    const uint64_t stride = ((static_cast<uint64_t>(W) * h.BitCount + 31) / 32) * 4;
    if (static_cast<uint64_t>(h.OffBits) + stride * H > size) Bad("pixel data runs past the end of the file");
    uint32_t masks[3] = {h.Masks[0], h.Masks[1], h.Masks[2]};
    if (h.Compression == kBiRgb && h.BitCount == 16) {
        masks[0] = 0x7C00; masks[1] = 0x03E0; masks[2] = 0x001F;
    } else if (h.Compression == kBiRgb && h.BitCount == 32) {
        masks[0] = 0xFF0000; masks[1] = 0xFF00; masks[2] = 0xFF;
    }
    const TMaskChannel mr(masks[0]), mg(masks[1]), mb(masks[2]);
    for (int y = 0; y < H; ++y) {
        const uint8_t* s = d + h.OffBits + stride * static_cast<uint64_t>(h.TopDown ? y : H - 1 - y);
        uint8_t* o = bmp.ScanLine(y);
        for (int x = 0; x < W; ++x, o += 3) {
            switch (h.BitCount) {
                case 1: case 4: case 8: {
                    const int bitPos = x * h.BitCount;
                    const int shift = 8 - h.BitCount - (bitPos & 7);
                    int idx = (s[bitPos >> 3] >> shift) & ((1 << h.BitCount) - 1);
                    if (idx >= palCount) idx = 0;
                    o[0] = pal[idx][0]; o[1] = pal[idx][1]; o[2] = pal[idx][2];
                    break;
                }
                case 16: {
                    const uint32_t v = GetU16(s + x * 2);
                    o[0] = mb.Get(v); o[1] = mg.Get(v); o[2] = mr.Get(v);
                    break;
                }
                case 24:
                    o[0] = s[x * 3]; o[1] = s[x * 3 + 1]; o[2] = s[x * 3 + 2];
                    break;
                case 32: {
                    const uint32_t v = GetU32(s + x * 4);
                    o[0] = mb.Get(v); o[1] = mg.Get(v); o[2] = mr.Get(v);
                    break;
                }
            }
        }
    }
}

void LoadBmpFromStream(TStream& stream, TBitmap& bmp) {
    const int64_t pos = stream.Position();
    const int64_t n = stream.Size() - pos;
    if (n <= 0) Bad("empty");
    std::vector<uint8_t> buf(static_cast<size_t>(n));
    stream.ReadBuffer(buf.data(), n);
    LoadBmpFromMemory(buf.data(), buf.size(), bmp);
}

std::vector<uint8_t> EncodePng(const TBitmap& src) {
    TBitmap tmp;
    const TBitmap* bmp = &src;
    if (src.PixelFormat() != pf24bit) {
        tmp = src;
        tmp.SetPixelFormat(pf24bit);
        bmp = &tmp;
    }
    const int W = bmp->Width(), H = bmp->Height();
    if (W <= 0 || H <= 0) throw EBitmapError("Cannot write an empty picture");
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> ihdr;
    PutBE32(ihdr, static_cast<uint32_t>(W));
    PutBE32(ihdr, static_cast<uint32_t>(H));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    PutChunk(out, "IHDR", ihdr);
    // raw scan lines (filter byte 0, RGB), then a zlib stream of stored blocks
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(W * 3 + 1) * H);
    for (int y = 0; y < H; ++y) {
        raw.push_back(0);
        const uint8_t* s = bmp->ScanLine(y);
        for (int x = 0; x < W; ++x) {
            raw.push_back(s[x * 3 + 2]);
            raw.push_back(s[x * 3 + 1]);
            raw.push_back(s[x * 3]);
        }
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    size_t pos = 0;
    do {
        const size_t n = std::min<size_t>(65535, raw.size() - pos);
        const bool last = pos + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<uint8_t>(n));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n));
        z.push_back(static_cast<uint8_t>((~n) >> 8));
        z.insert(z.end(), raw.begin() + static_cast<ptrdiff_t>(pos), raw.begin() + static_cast<ptrdiff_t>(pos + n));
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PutBE32(z, (b << 16) | a);
    PutChunk(out, "IDAT", z);
    PutChunk(out, "IEND", {});
    return out;
}

namespace {
void WriteAll(const std::string& fileName, const std::vector<uint8_t>& bytes) {
    TFileStream f(fileName, TFileStream::fmCreate);
    f.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}
}  // namespace

void SavePngToFile(const TBitmap& bmp, const std::string& fileName) { WriteAll(fileName, EncodePng(bmp)); }

void SaveJpegToFile(const TBitmap& bmp, const std::string& fileName, int quality) {
    WriteAll(fileName, EncodeJpeg(bmp, quality));
}

void SavePictureToFile(const TBitmap& bmp, const std::string& fileName, int quality) {
    if (UpperFileExt(fileName) == ".PNG")
        SavePngToFile(bmp, fileName);
    else
        SaveJpegToFile(bmp, fileName, quality);
}

}  // namespace fv
