#include "platform/page_memory.h"

#include <sys/mman.h>

namespace fv {

namespace {
constexpr size_t kHugePage = 2 << 20;
size_t RoundedLength(size_t size) { return (size + kHugePage - 1) / kHugePage * kHugePage; }
}  // namespace

void* AllocateZeroedPages(size_t size) {
    if (size == 0 || size > static_cast<size_t>(-1) - kHugePage) return nullptr;
    const size_t len = RoundedLength(size);
    void* p = ::mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
    ::madvise(p, len, MADV_HUGEPAGE);
#endif
    return p;
}

void FreeZeroedPages(void* block, size_t size) noexcept {
    if (block != nullptr) ::munmap(block, RoundedLength(size));
}

}  // namespace fv
