#include <gtest/gtest.h>

#include "platform/stream.h"

using namespace fv;

TEST(StreamFields, LittleEndianRoundTripAndPersistedText) {
    TMemoryStream m;
    m.WriteU16(0x1234);
    m.WriteU32(0xA1B2C3D4u);
    m.WriteDouble(45000.5);
    m.WriteText("写真");
    ASSERT_EQ(m.Data()[0], 0x34);
    ASSERT_EQ(m.Data()[2], 0xD4);
    ASSERT_EQ(m.Data()[14], 6);  // byte count of the UTF-8 text
    m.SetPosition(0);
    EXPECT_EQ(m.ReadU16(), 0x1234);
    EXPECT_EQ(m.ReadU32(), 0xA1B2C3D4u);
    EXPECT_EQ(m.ReadDouble(), 45000.5);
    EXPECT_EQ(m.ReadText(), "写真");
    EXPECT_THROW(m.ReadU8(), EReadError);
}

TEST(StreamFields, AbsurdTextCountIsAReadErrorNotAnAllocation) {
    TMemoryStream m;
    m.WriteI32(0x7FFFFFF0);
    m.WriteU8('x');
    m.SetPosition(0);
    EXPECT_THROW(m.ReadText(), EReadError);
    m.SetPosition(0);
    m.WriteI32(-5);
    m.SetPosition(0);
    EXPECT_THROW(m.ReadText(), EReadError);
}

TEST(FileStream, MissingFileRaisesOpenError) {
    EXPECT_THROW(TFileStream("/nonexistent/dir/file", TFileStream::fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream("/nonexistent/dir/file", TFileStream::fmCreate), EFCreateError);
}
