#pragma once
// Memory straight from the system: large zeroed blocks (picture buffers) that go back to the
// system when freed instead of staying in the heap, and pools of small blocks; both may use huge
// pages.
#include <cstddef>
#include <mutex>
#include <vector>

namespace fv {

// A zeroed block of at least `size` bytes (rounded up to whole 2 MiB pages); nullptr when the
// system has no memory for it.
void* AllocateZeroedPages(size_t size);
// Frees a block from AllocateZeroedPages; `size` is the size asked for there.
void FreeZeroedPages(void* block, size_t size) noexcept;

// Gives the whole free pages the C heap keeps in its arenas back to the system (after large
// frees: the allocator keeps them otherwise). Takes each arena's lock in turn: call it off the
// user-interface thread.
void ReturnFreedHeapPages() noexcept;

// Many small blocks of one size (the items of a library: 100,000 of them in a large one) carved
// from 2 MiB runs of huge pages: one page fault per run instead of one per 4 KiB page, and no
// per-block heap header. Freed blocks are kept for the next allocation; runs stay mapped for the
// life of the pool. Thread-safe. Under AddressSanitizer every block comes from the heap, so that
// the sanitizer still sees each block's own life.
class TBlockPool {
public:
    explicit TBlockPool(size_t blockSize);
    TBlockPool(const TBlockPool&) = delete;
    TBlockPool& operator=(const TBlockPool&) = delete;
    ~TBlockPool();

    size_t BlockSize() const { return FBlockSize; }
    // a block of BlockSize() bytes (not zeroed); nullptr when the system has no memory for it
    void* Allocate() noexcept;
    // gives back a block from Allocate() of this pool (nullptr is ignored)
    void Free(void* block) noexcept;
    // bytes of the blocks handed out and not freed
    size_t BytesInUse() const;
    // bytes taken from the system for runs
    size_t BytesReserved() const;

    static constexpr size_t kRunBytes = 2 << 20;

private:
    struct TFreeBlock {
        TFreeBlock* Next;
    };
    mutable std::mutex FLock;
    const size_t FBlockSize;
    TFreeBlock* FFree = nullptr;
    char* FNext = nullptr;  // the untouched rest of the newest run
    char* FEnd = nullptr;
    size_t FInUse = 0;
    std::vector<void*> FRuns;
};

}  // namespace fv
