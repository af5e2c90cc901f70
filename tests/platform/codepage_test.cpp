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

TEST(Codepage, EveryConversionGivesValidUtf8) {
    // bytes CP932 cannot decode and unpaired surrogates become U+FFFD
    const std::string bad = Cp932ToUtf8("a\x85\x40" "b");
    EXPECT_TRUE(IsValidUtf8(bad));
    EXPECT_EQ(bad.front(), 'a');
    EXPECT_EQ(bad.back(), 'b');
    EXPECT_EQ(Utf16ToUtf8(u"\u3042x"), "あx");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'a'}), "\xEF\xBF\xBD" "a");
}
