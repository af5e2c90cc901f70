#include <gtest/gtest.h>

#include "platform/codepage.h"

using namespace fv;

TEST(Codepage, Cp932Decoding) {
    EXPECT_TRUE(IsValidUtf8("写真 abc"));
    EXPECT_FALSE(IsValidUtf8("\x95\x6c"));
    EXPECT_FALSE(IsValidUtf8("\xc3"));  // cut in the middle of a character
    EXPECT_EQ(Cp932ToUtf8("\x8e\xca\x90\x5e.jpg"), "写真.jpg");
    EXPECT_EQ(Cp932ToUtf8("\x87\x40"), "①");  // a Microsoft extension
    EXPECT_EQ(Cp932ToUtf8(""), "");
}
