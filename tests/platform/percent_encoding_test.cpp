#include <gtest/gtest.h>

#include "platform/file_ops.h"
#include "platform/percent_encoding.h"

using namespace fv;

TEST(PercentEncoding, OnlyUnreservedAndTheKeptCharactersStayAsTheyAre) {
    EXPECT_EQ(PercentEncode("AZaz09-_.~"), "AZaz09-_.~");
    EXPECT_EQ(PercentEncode("a b&c=d/e?f#g%h+i"), "a%20b%26c%3Dd%2Fe%3Ff%23g%25h%2Bi");
    EXPECT_EQ(PercentEncode(""), "");
    // every byte of UTF-8 text, with upper-case hex digits; NUL and the top byte too
    EXPECT_EQ(PercentEncode("写"), "%E5%86%99");
    EXPECT_EQ(PercentEncode(std::string("\0\x7F\xFF", 3)), "%00%7F%FF");
    // kept characters are the caller's choice; a byte above ASCII or NUL in the set keeps nothing
    EXPECT_EQ(PercentEncode("/a b/(c)!", "/()"), "/a%20b/(c)%21");
    EXPECT_EQ(PercentEncode(std::string("\xE5\0", 2), std::string("\xE5\0", 2)), "%E5%00");
    // the two sets the program writes: a query value keeps no "/", a trash path keeps it and !*'()
    EXPECT_EQ(PercentEncode("EE0100/x y"), "EE0100%2Fx%20y");
    EXPECT_EQ(TrashEscapePath("/a b/it's (1)*!.jpg"), "/a%20b/it's%20(1)*!.jpg");
}
