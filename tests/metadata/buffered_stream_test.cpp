#include "metadata/buffered_stream.h"

#include <gtest/gtest.h>

#include <numeric>

namespace fv {
namespace {

// counts the reads and writes that reach the wrapped stream
class TCountingStream : public TMemoryStream {
public:
    int64_t Read(void* b, int64_t n) override {
        ++Reads;
        return TMemoryStream::Read(b, n);
    }
    int64_t Write(const void* b, int64_t n) override {
        ++Writes;
        return TMemoryStream::Write(b, n);
    }
    int Reads = 0, Writes = 0;
};

std::vector<uint8_t> Sequence(size_t n) {
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

TEST(BufferedStream, RejectsBadSizesAndCountsWithItsMessages) {
    TMemoryStream inner;
    try {
        TBufferedStream s(inner, 0);
        FAIL();
    } catch (const EBufferedSTreamError& e) {
        EXPECT_EQ(e.Message(), "TBufferedStream.Create\r\n不正なバッファサイズ。");
        EXPECT_STREQ(e.ClassName(), "EBufferedSTreamError");
    }
    TBufferedStream s(inner, 16);
    uint8_t b[4];
    EXPECT_THROW(s.Read(b, -1), EBufferedSTreamError);
    try {
        s.Write(b, -1);
        FAIL();
    } catch (const EBufferedSTreamError& e) {
        EXPECT_EQ(e.Message(), "TBufferedStream.Write\r\nCountの指定が負です。");
    }
}

TEST(BufferedStream, ReadsAcrossRefillsWithFewInnerReads) {
    TCountingStream inner;
    inner.Data() = Sequence(1000);
    TBufferedStream s(inner, 64);
    std::vector<uint8_t> got(1000);
    for (size_t i = 0; i < 1000; i += 10) ASSERT_EQ(s.Read(got.data() + i, 10), 10);
    EXPECT_EQ(got, Sequence(1000));
    EXPECT_LE(inner.Reads, 17);  // 1000 / 64 rounded up, plus the final empty refill
    uint8_t b;
    EXPECT_EQ(s.Read(&b, 1), 0);
    EXPECT_EQ(s.Position(), 1000);
}

TEST(BufferedStream, WriteSeekBackAndReadGivesTheWrittenBytes) {
    TMemoryStream inner;
    TBufferedStream s(inner, 64);
    auto data = Sequence(10);
    ASSERT_EQ(s.Write(data.data(), 10), 10);
    EXPECT_EQ(s.Position(), 10);
    EXPECT_EQ(s.Seek(-4, soCurrent), 6);
    uint8_t b[4];
    ASSERT_EQ(s.Read(b, 4), 4);
    EXPECT_EQ(std::vector<uint8_t>(b, b + 4), std::vector<uint8_t>({6, 7, 8, 9}));
    EXPECT_EQ(inner.Size(), 10);
}

TEST(BufferedStream, SeekFromTheEndReadsTheLastBytes) {
    TMemoryStream inner;
    inner.Data() = Sequence(100);
    TBufferedStream s(inner, 16);
    uint8_t b[8];
    s.Read(b, 8);
    EXPECT_EQ(s.Seek(-4, soEnd), 96);
    ASSERT_EQ(s.Read(b, 4), 4);
    EXPECT_EQ(b[0], 96);
    EXPECT_EQ(b[3], 99);
    EXPECT_EQ(s.Seek(0, 7), 0);  // unknown origin
}

TEST(BufferedStream, SeekInsideTheBufferKeepsItAndZeroReadOnlySetsTheMode) {
    TCountingStream inner;
    inner.Data() = Sequence(200);
    TBufferedStream s(inner, 64);
    uint8_t b[4];
    EXPECT_EQ(s.Read(b, 0), 0);
    EXPECT_EQ(s.Mode(), 1);
    EXPECT_EQ(inner.Reads, 0);
    s.Read(b, 4);
    int reads = inner.Reads;
    EXPECT_EQ(s.Seek(4, soBeginning), 4);  // the current position
    EXPECT_EQ(s.Seek(40, soBeginning), 40);
    EXPECT_EQ(s.Seek(-30, soCurrent), 10);
    s.Read(b, 4);
    EXPECT_EQ(b[0], 10);
    EXPECT_EQ(inner.Reads, reads);
    // leaving the buffer goes back to the inner stream at the right place
    EXPECT_EQ(s.Seek(150, soBeginning), 150);
    s.Read(b, 4);
    EXPECT_EQ(b[0], 150);
}

TEST(BufferedStream, PendingWritesReachTheInnerStreamOnDestructionAndSizeChange) {
    TMemoryStream inner;
    {
        TBufferedStream s(inner, 64);
        auto data = Sequence(100);
        s.Write(data.data(), 100);
        EXPECT_EQ(s.Size(), 100);
    }
    EXPECT_EQ(inner.Data(), Sequence(100));
    TBufferedStream s(inner, 64);
    s.Seek(0, soEnd);
    uint8_t more[3] = {1, 2, 3};
    s.Write(more, 3);
    s.SetSize(50);
    EXPECT_EQ(inner.Size(), 50);
}

}  // namespace
}  // namespace fv
