#include <gtest/gtest.h>

#include "platform/byte_order.h"

using namespace fv;

TEST(ByteOrder, FieldsLieInTheirStatedOrderAndReadBackWhole) {
    uint8_t b[8];
    PutU32(b, 0x11223344u);
    EXPECT_EQ(b[0], 0x44);
    EXPECT_EQ(b[3], 0x11);
    EXPECT_EQ(GetU32(b), 0x11223344u);
    EXPECT_EQ(GetBE32(b), 0x44332211u);
    EXPECT_EQ(GetOrdered32(b, false), 0x11223344u);
    EXPECT_EQ(GetOrdered16(b, true), 0x4433u);

    PutBE32(b, 0xA1B2C3D4u);
    EXPECT_EQ(b[0], 0xA1);
    EXPECT_EQ(GetBE32(b), 0xA1B2C3D4u);

    // the top bit of every byte survives (no sign extension on the way)
    PutU64(b, 0xF1E2D3C4B5A69788ull);
    EXPECT_EQ(GetU64(b), 0xF1E2D3C4B5A69788ull);
    PutBE64(b, 0xF1E2D3C4B5A69788ull);
    EXPECT_EQ(b[0], 0xF1);
    EXPECT_EQ(b[7], 0x88);
    EXPECT_EQ(GetBE32(b + 4), 0xB5A69788u);
}
