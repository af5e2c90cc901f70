#include <gtest/gtest.h>

#include "platform/collate.h"

using namespace fv;

TEST(Collate, LocaleOrderIgnoresCaseButNotAccentsOrPunctuation) {
    EXPECT_EQ(CompareTextIgnoreCase("img_0001.JPG", "IMG_0001.jpg"), 0);
    EXPECT_LT(CompareTextIgnoreCase("apple", "Banana"), 0);  // not byte order
    EXPECT_GT(CompareTextExact("apple", "Banana"), 0);
    EXPECT_NE(CompareTextIgnoreCase("resume", "résumé"), 0);
    EXPECT_NE(CompareTextIgnoreCase("a-b", "ab"), 0);  // hyphen is not ignored
    EXPECT_NE(CompareTextWithCase("a.jpg", "A.jpg"), 0);
    EXPECT_LT(CompareTextIgnoreCase("写真1", "写真2"), 0);
}

TEST(Collate, SortKeysAgreeWithComparison) {
    const char* names[] = {"a.jpg", "A.JPG", "b.jpg", "ä.jpg", "a-1.jpg", "a1.jpg", "写真.jpg", "", "Z", "\xff\xfe.jpg"};
    for (const char* x : names)
        for (const char* y : names) {
            int direct = CompareTextIgnoreCase(x, y);
            int keyed = CompareTextExact(CollationKeyIgnoreCase(x), CollationKeyIgnoreCase(y));
            EXPECT_EQ((direct > 0) - (direct < 0), keyed) << x << " / " << y;
        }
}

TEST(Collate, NameOrderIsTotalForNamesThatCollateEqual) {
    // invalid UTF-8 collates as U+FFFD, so two different byte strings look equal to ICU
    std::string bad1 = "\xff.jpg", bad2 = "\xfe.jpg";
    EXPECT_EQ(CompareTextIgnoreCase(bad1, bad2), 0);
    EXPECT_NE(CompareNameOrder(bad1, bad2), 0);
    EXPECT_EQ(CompareNameOrder(bad1, bad2), -CompareNameOrder(bad2, bad1));
    EXPECT_NE(CompareNameOrder("a.jpg", "A.jpg"), 0);
    EXPECT_EQ(CompareNameOrder("a.jpg", "a.jpg"), 0);
}

TEST(Collate, LowerCaseKeepsInvalidBytes) {
    EXPECT_EQ(LowerCaseText("ABC Ä"), "abc ä");
    EXPECT_EQ(LowerCaseText("X\xffY"), "x\xffy");
    EXPECT_EQ(UpperCaseAscii(".jpg\xc3\xa4"), ".JPG\xc3\xa4");
}

