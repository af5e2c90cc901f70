#include <gtest/gtest.h>

#include "image/image_decode.h"
#include "thumbs/image_facts_provider.h"

namespace fv {
namespace {

const std::string kPhotos = std::string(FV_TESTDATA_DIR) + "/photos";

TEST(ImageFactsProvider, AnswersFromTheImageFacts) {
    auto p = MakeImageFactsProvider();
    TImageFacts f;
    ASSERT_TRUE(p->ReadImageFacts(kPhotos + "/orientation/portrait_6.jpg", ikJpeg, f));
    EXPECT_EQ(f.Width, 600);
    EXPECT_EQ(f.Height, 450);
    EXPECT_EQ(f.PixelFormat, pf24bit);
    EXPECT_TRUE(f.HasCameraData);
    EXPECT_EQ(f.Orientation, 6);
    TImageFacts none;
    EXPECT_TRUE(p->ReadImageFacts(kPhotos + "/song.mp3", ikNotImage, none));
    EXPECT_EQ(none.PixelFormat, pfDevice);
    TImageFacts bad;
    EXPECT_FALSE(p->ReadImageFacts(kPhotos + "/missing.bmp", ikBmp, bad));
    std::vector<std::string> lines;
    EXPECT_TRUE(p->GetExifTextLines(kPhotos + "/Canon_40D.jpg", ikJpeg, {"%s=%s", "-"}, lines));
    EXPECT_FALSE(lines.empty());
}

}  // namespace
}  // namespace fv
