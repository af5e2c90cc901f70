#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <sys/stat.h>

#include "core/file_functions.h"
#include "platform/datetime.h"
#include "platform/fs.h"

using namespace fv;
namespace fs = std::filesystem;

TEST(PathDelimiters, LeadingAndTrailingDelimitersAreAllRemovedThenOneAdded) {
    EXPECT_EQ(ExcludeTrailingPathDelimiters("/a/b///"), "/a/b");
    EXPECT_EQ(ExcludeLeadingPathDelimiters("///a/b/"), "a/b/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/a/b///"), "/a/b/");
    EXPECT_EQ(IncludeTrailingPathDelimiter(""), "/");
    EXPECT_EQ(IncludeLeadingPathDelimiter("//a"), "/a");
    EXPECT_EQ(ExcludeTrailingPathDelimiters("///"), "");
    // a backslash is an ordinary file-name character here
    EXPECT_EQ(ExcludeTrailingPathDelimiters("a\\"), "a\\");
}

TEST(PathNames, InvalidCharactersBecomeHyphens) {
    EXPECT_EQ(ReplaceInvalidFileNameChars("a:b/c"), "a-b-c");
    EXPECT_EQ(ReplaceInvalidFileNameChars("\"*?\\/:<>|ok"), "---------ok");
    EXPECT_EQ(ReplaceInvalidFileNameChars("写真 2026.jpg"), "写真 2026.jpg");
}

TEST(PathNames, ExpandRelativePathResolvesAgainstTheBase) {
    EXPECT_EQ(ExpandRelativePath("/x/y", "../z"), "/x/z");
    EXPECT_EQ(ExpandRelativePath("/x", "/p/./q"), "/p/q/");  // absolute: trailing delimiter added
    EXPECT_EQ(ExpandRelativePath("/x/", "a//b/"), "/x/a/b/");
    EXPECT_EQ(ExpandRelativePath("/x", "./a/./b"), "/x/a/b");
    EXPECT_EQ(ExpandRelativePath("/x", "../../../a"), "/a");  // never above the root
    EXPECT_EQ(ExpandRelativePath("/x/y", ".."), "/x");
    // many segments are no problem
    std::string deep;
    for (int i = 0; i < 300; ++i) deep += "d/";
    EXPECT_EQ(ExpandRelativePath("/r", deep), "/r/" + deep);
}

TEST(PathNames, IsSubFolderComparesWholeSegmentsExactly) {
    EXPECT_FALSE(IsSubFolder("/A", "/A/"));
    EXPECT_TRUE(IsSubFolder("/A", "/A/b"));
    EXPECT_FALSE(IsSubFolder("/A", "/AB"));
    EXPECT_FALSE(IsSubFolder("/A", "/a/b"));  // case-sensitive file systems
    EXPECT_FALSE(IsSubFolder("/A/b", "/A"));
}

TEST(DriveInfo, RootAndTemporaryFolderHaveAVolume) {
    TDriveInfoRec r;
    ASSERT_TRUE(GetDriveInfo("/", r));
    EXPECT_EQ(r.Drive, "/");
    EXPECT_GE(r.DriveType, 2);
    EXPECT_LE(r.DriveType, 6);
    EXPECT_NE(r.SerialNumber, 0xFFFFFFFFu);
    // the volume's label, or "Unknown" for one without
    TMountEntry m;
    TVolumeFacts facts;
    ASSERT_TRUE(FindMountFor(ReadMountTable(), "/", m));
    ASSERT_TRUE(ReadVolumeFacts(m, facts));
    EXPECT_EQ(r.VolumeName, facts.Label.empty() ? std::string("Unknown") : facts.Label);

    TDriveInfoRec none;
    EXPECT_FALSE(GetDriveInfo("relative/path", none));
    EXPECT_EQ(none.SerialNumber, 0xFFFFFFFFu);
    EXPECT_EQ(none.VolumeName, "Unknown");
    EXPECT_FALSE(GetDriveInfo("", none));

    // a path that does not exist yet belongs to the volume of its existing part
    TDriveInfoRec a, b;
    fs::path tmp = fs::temp_directory_path();
    ASSERT_TRUE(GetDriveInfo(tmp.string(), a));
    ASSERT_TRUE(GetDriveInfo((tmp / "no-such-folder/x").string(), b));
    EXPECT_EQ(a.Drive, b.Drive);
    EXPECT_EQ(a.SerialNumber, b.SerialNumber);
}

TEST(ShellFacts, FoldersAndTheirAbilities) {
    fs::path dir = fs::temp_directory_path() / ("fv-sh-" + std::to_string(::getpid()));
    fs::create_directories(dir / "sub");
    std::ofstream(dir / "f.txt") << "x";
    const std::string sub = (dir / "sub").string();
    // the target must be a folder of the file system
    EXPECT_TRUE(CanCopyFolderTo(sub, dir.string()));
    EXPECT_TRUE(CanCopyFolderTo(sub, dir.string() + "/"));
    EXPECT_FALSE(CanCopyFolderTo(sub, (dir / "f.txt").string()));
    EXPECT_FALSE(CanCopyFolderTo(sub, (dir / "none").string()));
    EXPECT_FALSE(CanCopyFolderTo(dir.string(), sub));  // into itself
    EXPECT_FALSE(CanCopyFolderTo((dir / "f.txt").string(), dir.string()));  // a file is no folder
    EXPECT_TRUE(CanMoveFolderTo(sub, dir.string()));
    EXPECT_TRUE(CanRenameFolder(sub));
    EXPECT_TRUE(CanDeleteFolder(sub));
    // the root has no parent to change
    EXPECT_FALSE(CanMoveFolderTo("/", dir.string()));
    EXPECT_FALSE(CanRenameFolder("/"));
    EXPECT_FALSE(CanDeleteFolder("/"));
    fs::remove_all(dir);
}

TEST(VersionBlock, OnlyTheProgramsOwnFileHasOne) {
    std::string self = GetModuleFileName();
    EXPECT_FALSE(GetFileVersionString(self, fvFileVersion).empty());
    EXPECT_EQ(GetFileVersionString(self, fvCompanyName), "Kestrona");
    EXPECT_EQ(GetFileVersionString(self, 10), "");
    EXPECT_EQ(GetFileVersionString("/bin/sh", fvFileVersion), "");
}

TEST(SpecialFolders, FollowTheXdgUserDirectories) {
    std::string home = std::getenv("HOME");
    std::string data = std::getenv("XDG_DATA_HOME");
    EXPECT_EQ(GetAppDataFolder(), data);
    setenv("XDG_DATA_HOME", (data + "//").c_str(), 1);
    EXPECT_EQ(GetAppDataFolder(), data);
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(GetAppDataFolder(), home + "/.local/share");
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    EXPECT_NE(GetUserNameStr(), "");
    EXPECT_NE(GetComputerNameStr(), "");
}
