#include "service/sha256.h"

#include <cstring>
#include <vector>

#include "platform/byte_order.h"
#include "platform/stream.h"

namespace fv {
namespace {

constexpr uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

}  // namespace

TSha256::TSha256()
    : FState{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void TSha256::Block(const uint8_t* p) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = GetBE32(p + 4 * i);
    for (int i = 16; i < 64; ++i) {
        uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = FState[0], b = FState[1], c = FState[2], d = FState[3], e = FState[4], f = FState[5], g = FState[6],
             h = FState[7];
    for (int i = 0; i < 64; ++i) {
        uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[i] + w[i];
        uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    FState[0] += a;
    FState[1] += b;
    FState[2] += c;
    FState[3] += d;
    FState[4] += e;
    FState[5] += f;
    FState[6] += g;
    FState[7] += h;
}

void TSha256::Update(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    FTotal += size;
    if (FBuffered) {
        size_t n = std::min(size, 64 - FBuffered);
        std::memcpy(FBuffer + FBuffered, p, n);
        FBuffered += n;
        p += n;
        size -= n;
        if (FBuffered < 64) return;
        Block(FBuffer);
        FBuffered = 0;
    }
    while (size >= 64) {
        Block(p);
        p += 64;
        size -= 64;
    }
    std::memcpy(FBuffer, p, size);
    FBuffered = size;
}

std::string TSha256::FinalHex() {
    uint64_t bits = FTotal * 8;
    uint8_t pad[72] = {0x80};
    size_t padLen = (FBuffered < 56 ? 56 : 120) - FBuffered;
    Update(pad, padLen);
    uint8_t len[8];
    PutBE64(len, bits);
    Update(len, 8);
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (uint32_t v : FState)
        for (int s = 28; s >= 0; s -= 4) out += digits[(v >> s) & 15];
    return out;
}

std::string Sha256Hex(const void* data, size_t size) {
    TSha256 h;
    h.Update(data, size);
    return h.FinalHex();
}

std::string Sha256FileHex(const std::string& path) {
    try {
        TFileStream f(path, TFileStream::fmOpenRead);
        TSha256 h;
        std::vector<uint8_t> buf(1 << 16);
        for (;;) {
            int64_t n = f.Read(buf.data(), static_cast<int64_t>(buf.size()));
            if (n <= 0) break;
            h.Update(buf.data(), static_cast<size_t>(n));
        }
        return h.FinalHex();
    } catch (const EStreamError&) {
        return {};
    }
}

}  // namespace fv
