#include "platform/page_memory.h"

#include <sys/mman.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstdint>
#include <new>

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

void ReturnFreedHeapPages() noexcept {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

}  // namespace fv

namespace fv {

namespace {
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kHeapBlocks = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kHeapBlocks = true;
#else
constexpr bool kHeapBlocks = false;
#endif
#else
constexpr bool kHeapBlocks = false;
#endif

// a run of kRunBytes aligned to kRunBytes, so that the kernel can back it with one huge page
void* MapRun() {
    const size_t run = TBlockPool::kRunBytes;
    void* p = ::mmap(nullptr, 2 * run, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    auto start = reinterpret_cast<uintptr_t>(p);
    uintptr_t aligned = (start + run - 1) & ~static_cast<uintptr_t>(run - 1);
    if (aligned > start) ::munmap(p, aligned - start);
    if (aligned + run < start + 2 * run) ::munmap(reinterpret_cast<void*>(aligned + run), start + 2 * run - aligned - run);
#ifdef MADV_HUGEPAGE
    ::madvise(reinterpret_cast<void*>(aligned), run, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(aligned);
}
}  // namespace

TBlockPool::TBlockPool(size_t blockSize)
    : FBlockSize(blockSize < sizeof(TFreeBlock) ? sizeof(TFreeBlock) : (blockSize + 15) / 16 * 16) {}

TBlockPool::~TBlockPool() {
    for (void* run : FRuns) ::munmap(run, kRunBytes);
}

void* TBlockPool::Allocate() noexcept {
    if (FBlockSize > kRunBytes) return nullptr;
    if constexpr (kHeapBlocks) {
        void* p = ::operator new(FBlockSize, std::nothrow);
        if (p) {
            std::lock_guard<std::mutex> g(FLock);
            FInUse += FBlockSize;
        }
        return p;
    }
    std::lock_guard<std::mutex> g(FLock);
    void* block;
    if (FFree) {
        block = FFree;
        FFree = FFree->Next;
    } else {
        if (static_cast<size_t>(FEnd - FNext) < FBlockSize) {
            char* run = static_cast<char*>(MapRun());
            if (!run) return nullptr;
            try {
                FRuns.push_back(run);
            } catch (...) {
                ::munmap(run, kRunBytes);
                return nullptr;
            }
            FNext = run;
            FEnd = run + kRunBytes;
        }
        block = FNext;
        FNext += FBlockSize;
    }
    FInUse += FBlockSize;
    return block;
}

void TBlockPool::Free(void* block) noexcept {
    if (!block) return;
    if constexpr (kHeapBlocks) {
        ::operator delete(block);
        std::lock_guard<std::mutex> g(FLock);
        FInUse -= FBlockSize;
        return;
    }
    std::lock_guard<std::mutex> g(FLock);
    auto* f = static_cast<TFreeBlock*>(block);
    f->Next = FFree;
    FFree = f;
    FInUse -= FBlockSize;
}

size_t TBlockPool::BytesInUse() const {
    std::lock_guard<std::mutex> g(FLock);
    return FInUse;
}

size_t TBlockPool::BytesReserved() const {
    std::lock_guard<std::mutex> g(FLock);
    if constexpr (kHeapBlocks) return FInUse;  // every block is its own heap allocation
    return FRuns.size() * kRunBytes;
}

}  // namespace fv
