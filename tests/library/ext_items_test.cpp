#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "library/ext_items.h"

using namespace fv;

namespace {
struct ExtraExtensions : ::testing::Test {
    void SetUp() override { SetExtraExtensions(".MP3"); }
    void TearDown() override {
        SetExtraExtensions("");
        SetExtIconLookup(nullptr);
    }
};
}  // namespace

TEST(ExtensionKey, FillsFourBase27Positions) {
    EXPECT_EQ(ExtensionKey(".A"), 1 * 27 * 27 * 27);
    EXPECT_EQ(ExtensionKey(".JPG"), ((10 * 27 + 16) * 27 + 7) * 27);
    EXPECT_EQ(ExtensionKey(".JPEG"), ((10 * 27 + 16) * 27 + 5) * 27 + 7);
    EXPECT_EQ(ExtensionKey(".jpg"), ExtensionKey(".JPG"));
    // digits contribute negatively: "2" is 50 - 64
    EXPECT_EQ(ExtensionKey(".CR2"), ((3 * 27 + 18) * 27 - 14) * 27);
    // long names wrap in 32 bits instead of overflowing
    EXPECT_NO_FATAL_FAILURE(ExtensionKey(".ABCDEFGHIJKLMNOP"));
}

TEST_F(ExtraExtensions, DefaultSetRegistersImagesRawAndMusic) {
    TExtItems items(kDefaultKindSet);
    auto names = items.Names();
    std::set<std::string> got(names.begin(), names.end());
    std::set<std::string> want = {".BMP", ".JPG", ".JPE", ".JPEG", ".CR2", ".CRW", ".DNG", ".MRW",
                                  ".NEF", ".NSK", ".ORF", ".PEF", ".RAF", ".MP3"};
    EXPECT_EQ(got, want);
    EXPECT_FALSE(items.Contains(".THM"));
    EXPECT_FALSE(items.Contains(".WMF"));
    EXPECT_FALSE(items.Contains(".EMF"));
    EXPECT_EQ(items.GetKindSet(), kDefaultKindSet);

    TExtItem a, b;
    ASSERT_TRUE(items.FindItem(".jpg", a));
    ASSERT_TRUE(items.FindItem(".JPG", b));
    EXPECT_EQ(a.Name, b.Name);
    EXPECT_EQ(a.Kind, ikJpeg);
    EXPECT_TRUE(a.Viewable);
    ASSERT_TRUE(items.FindItem(".mp3", a));
    EXPECT_EQ(a.Kind, ikNotImage);
    EXPECT_FALSE(a.Viewable);
}

TEST_F(ExtraExtensions, SusieOnlyRegistersNothing) {
    TExtItems items(1u << ikSusie);
    EXPECT_EQ(items.Count(), 0u);
    EXPECT_TRUE(items.IsBuilt());
    EXPECT_EQ(items.GetKindSet(), 0);
}

TEST_F(ExtraExtensions, ExtraTextIsNormalisedAndDeduplicated) {
    SetExtraExtensions("*.mp3; .wav ;;  wma;.JPG;*.Mp3");
    TExtItems items(1u << ikNotImage);
    auto names = items.Names();
    std::set<std::string> got(names.begin(), names.end());
    // .JPG was seen as a built-in first (skipped by the set), so it is not taken again as kind 6
    EXPECT_EQ(got, (std::set<std::string>{".MP3", ".WAV", ".WMA"}));
    TExtItem it;
    ASSERT_TRUE(items.FindItem(".WAV", it));
    EXPECT_EQ(it.Kind, ikNotImage);
    EXPECT_FALSE(it.Viewable);
}

TEST_F(ExtraExtensions, LookupsConfirmTheNameBehindASharedKey) {
    // ".CQM" computes the same key as ".CR2" but is not a raw extension
    ASSERT_EQ(ExtensionKey(".CQM"), ExtensionKey(".CR2"));
    TExtItems items(kDefaultKindSet);
    EXPECT_TRUE(items.Contains(".cr2"));
    EXPECT_FALSE(items.Contains(".CQM"));
    EXPECT_FALSE(items.Contains(""));
    EXPECT_FALSE(items.Contains(".TXT"));
    EXPECT_EQ(items.GetIconIndex(".TXT"), 0);
}

TEST_F(ExtraExtensions, IconLookupFailuresGiveMinusOne) {
    SetExtIconLookup([](const std::string& name) {
        if (name == "Damy.JPG") return 7;
        if (name == "Damy.BMP") throw std::runtime_error("no icon");
        return -5;
    });
    TExtItems items(kDefaultKindSet);
    EXPECT_EQ(items.GetIconIndex(".jpg"), 7);
    EXPECT_EQ(items.GetIconIndex(".bmp"), -1);
    EXPECT_EQ(items.GetIconIndex(".nef"), -1);
    items.Clear();
    EXPECT_FALSE(items.IsBuilt());
    EXPECT_FALSE(items.Contains(".JPG"));
}

TEST(ExtensionText, ViewableAndExtensionOfName) {
    EXPECT_FALSE(IsViewableExtension(".AVI", ikJpeg));
    EXPECT_FALSE(IsViewableExtension(".MPEG", ikBmp));
    EXPECT_TRUE(IsViewableExtension(".JPG", ikJpeg));
    EXPECT_FALSE(IsViewableExtension(".JPG", ikNotImage));
    EXPECT_EQ(ExtractFileExtView("a.b.JPG"), ".JPG");
    EXPECT_EQ(ExtractFileExtView("noext"), "");
    EXPECT_EQ(ItemKindLabel(6), "画像以外");
    EXPECT_EQ(ItemKindLabel(8), "");
}
