#pragma once
// SHA-256 of a byte stream, for checking a downloaded installer against the digest the service gives.
#include <cstddef>
#include <cstdint>
#include <string>

namespace fv {

class TSha256 {
public:
    TSha256();
    void Update(const void* data, size_t size);
    // the digest as 64 lower-case hexadecimal digits; the object is spent afterwards
    std::string FinalHex();

private:
    void Block(const uint8_t* p);
    uint32_t FState[8];
    uint8_t FBuffer[64];
    size_t FBuffered = 0;
    uint64_t FTotal = 0;
};

std::string Sha256Hex(const void* data, size_t size);
// the digest of a file's contents; empty when the file cannot be read
std::string Sha256FileHex(const std::string& path);

}  // namespace fv
