#pragma once
// Large zeroed blocks straight from the system (picture buffers): they go back to the system
// when freed instead of staying in the heap, and may use huge pages.
#include <cstddef>

namespace fv {

// A zeroed block of at least `size` bytes (rounded up to whole 2 MiB pages); nullptr when the
// system has no memory for it.
void* AllocateZeroedPages(size_t size);
// Frees a block from AllocateZeroedPages; `size` is the size asked for there.
void FreeZeroedPages(void* block, size_t size) noexcept;

}  // namespace fv
