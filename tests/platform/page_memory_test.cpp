#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "platform/page_memory.h"

using namespace fv;

// Blocks never overlap, keep their alignment, span several runs, and a freed block is handed out again.
TEST(BlockPool, BlocksAreDistinctAlignedAndReused) {
    TBlockPool pool(408);
    EXPECT_EQ(pool.BlockSize(), 416u);
    const size_t perRun = TBlockPool::kRunBytes / pool.BlockSize();
    std::vector<unsigned char*> blocks;
    for (size_t i = 0; i < perRun * 2 + 10; ++i) {
        auto* b = static_cast<unsigned char*>(pool.Allocate());
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u);
        std::memset(b, static_cast<int>(i & 0xff), pool.BlockSize());
        blocks.push_back(b);
    }
    EXPECT_EQ(pool.BytesInUse(), blocks.size() * pool.BlockSize());
    EXPECT_GE(pool.BytesReserved(), pool.BytesInUse());
    // every block still holds its own pattern: no two overlap
    for (size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(blocks[i][0], static_cast<unsigned char>(i & 0xff)) << i;
        EXPECT_EQ(blocks[i][pool.BlockSize() - 1], static_cast<unsigned char>(i & 0xff)) << i;
    }
    std::set<unsigned char*> distinct(blocks.begin(), blocks.end());
    EXPECT_EQ(distinct.size(), blocks.size());

    size_t reserved = pool.BytesReserved();
    for (size_t i = 0; i < blocks.size(); i += 2) pool.Free(blocks[i]);
    pool.Free(nullptr);
    EXPECT_EQ(pool.BytesInUse(), (blocks.size() / 2) * pool.BlockSize());
    // the freed half is used again before any new run is taken
    for (size_t i = 0; i < blocks.size(); i += 2) {
        void* b = pool.Allocate();
        ASSERT_NE(b, nullptr);
        blocks[i] = static_cast<unsigned char*>(b);
    }
    EXPECT_EQ(pool.BytesReserved(), reserved);
    for (unsigned char* b : blocks) pool.Free(b);
    EXPECT_EQ(pool.BytesInUse(), 0u);

    TBlockPool tiny(1);  // room for the free list's link at least
    EXPECT_GE(tiny.BlockSize(), sizeof(void*));
    TBlockPool huge(TBlockPool::kRunBytes + 1);  // larger than a run: refused, never a short block
    EXPECT_EQ(huge.Allocate(), nullptr);
}

// Threads allocating and freeing at once never get the same block twice.
TEST(BlockPool, ThreadsNeverShareABlock) {
    TBlockPool pool(64);
    constexpr int kThreads = 4, kRounds = 20000;
    std::vector<std::thread> threads;
    std::vector<int> faults(kThreads, 0);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            std::vector<uint64_t*> mine;
            for (int i = 0; i < kRounds; ++i) {
                auto* b = static_cast<uint64_t*>(pool.Allocate());
                if (!b) {
                    ++faults[t];
                    continue;
                }
                for (int w = 0; w < 8; ++w) b[w] = (static_cast<uint64_t>(t) << 32) | static_cast<uint64_t>(i);
                mine.push_back(b);
                if (i % 3 == 2) {  // give some back while the others work
                    uint64_t* old = mine[mine.size() / 2];
                    for (int w = 0; w < 8; ++w)
                        if (old[w] >> 32 != static_cast<uint64_t>(t)) ++faults[t];
                    mine.erase(mine.begin() + static_cast<long>(mine.size() / 2));
                    pool.Free(old);
                }
            }
            for (uint64_t* b : mine) {
                for (int w = 0; w < 8; ++w)
                    if (b[w] >> 32 != static_cast<uint64_t>(t)) ++faults[t];
                pool.Free(b);
            }
        });
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(faults[t], 0) << "thread " << t;
    EXPECT_EQ(pool.BytesInUse(), 0u);
}
