#include <gtest/gtest.h>

#include <fstream>

#include "image/image_decode.h"
#include "thumbs/image_facts_provider.h"
#include "temp_dir.h"

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

struct ImageFactsOfFiles : fv::test::TTempDirTest {};

TEST_F(ImageFactsOfFiles, AFileThatIsNotThereStatesNothingAndAnUnreadableOneHasNoCameraData) {
    auto p = MakeImageFactsProvider();
    // gone (moved away, its drive unplugged): nothing is known of it, whatever its kind; a photo
    // asked about keeps what it had
    const std::pair<const char*, uint8_t> gone[] = {
        {"gone.jpg", ikJpeg}, {"gone.NEF", ikRaw}, {"gone.CR2", ikRaw}, {"gone.bmp", ikBmp}};
    for (const auto& [name, kind] : gone) {
        TImageFacts f;
        EXPECT_FALSE(p->ReadImageFacts((dir / name).string(), kind, f)) << name;
        EXPECT_FALSE(f.HasCameraData) << name;
    }
    // there, but no JPEG anyone can read: a file without camera data (its file time stands in)
    {
        std::ofstream((dir / "noise.jpg").string(), std::ios::binary) << "not a picture at all";
    }
    TImageFacts noise;
    EXPECT_TRUE(p->ReadImageFacts((dir / "noise.jpg").string(), ikJpeg, noise));
    EXPECT_FALSE(noise.HasCameraData);
}

}  // namespace
}  // namespace fv
