#pragma once
// FNV-1a, the one small non-cryptographic hash of the program (lock stripes, index checks, file
// digests). Continue a hash by passing the previous value as the start.
#include <cstddef>
#include <cstdint>

namespace fv {

constexpr uint32_t kFnv32Start = 2166136261u;
constexpr uint64_t kFnv64Start = 1469598103934665603ULL;

inline uint32_t Fnv1a32(const void* data, size_t size, uint32_t h = kFnv32Start) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 16777619u;
    return h;
}

inline uint64_t Fnv1a64(const void* data, size_t size, uint64_t h = kFnv64Start) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 1099511628211ULL;
    return h;
}

}  // namespace fv
