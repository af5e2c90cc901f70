#include <gtest/gtest.h>

#include "platform/file_name.h"

using namespace fv;

TEST(FileName, ExtensionOfTheLastPathPartOnly) {
    EXPECT_EQ(FileExtView("/photos/IMG_0001.jpg"), ".jpg");
    EXPECT_EQ(UpperFileExt("/photos/IMG_0001.jpg"), ".JPG");
    EXPECT_EQ(UpperFileExt("a.tar.Gz"), ".GZ");
    EXPECT_EQ(FileExtView("/photos.2024/IMG_0001"), "");  // the dot belongs to the folder
    EXPECT_EQ(FileExtView("noext"), "");
    EXPECT_EQ(FileExtView("name."), ".");
    EXPECT_EQ(UpperFileExt(".hidden"), ".HIDDEN");
    EXPECT_EQ(UpperFileExt("x.Ä"), ".Ä");  // only ASCII letters change
}
