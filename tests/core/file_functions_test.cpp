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
    EXPECT_EQ(SlashToBackslash("a\\b/c"), "a\\b/c");
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
    EXPECT_FALSE(IsFloppyDrive("/"));
    EXPECT_FALSE(IsFloppyDrive("relative"));

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

struct FileTimes : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("fv-ff-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
};

TEST_F(FileTimes, SetAndGetRoundTripToTheMillisecond) {
    std::string f = (dir / "a.jpg").string();
    std::ofstream(f) << "x";
    TDateTime want = EncodeDateTime(2021, 7, 4, 13, 14, 15, 250);
    TDateTime stored = SetFileUpdateDateTime(f, want);
    EXPECT_NEAR(stored, want, 1.0 / kMSecsPerDay);
    EXPECT_NEAR(GetFileUpdateDateTime(f), want, 1.0 / kMSecsPerDay);
}

TEST_F(FileTimes, ZeroLeavesTheFileUntouched) {
    std::string f = (dir / "b.jpg").string();
    std::ofstream(f) << "x";
    TDateTime before = GetFileUpdateDateTime(f);
    EXPECT_EQ(SetFileUpdateDateTime(f, 0), 0);
    EXPECT_EQ(SetFileUpdateDateTime(f, -5), 0);
    EXPECT_EQ(GetFileUpdateDateTime(f), before);
    // even a missing file: nothing is attempted
    EXPECT_EQ(SetFileUpdateDateTime((dir / "missing").string(), 0), 0);
}

TEST_F(FileTimes, ReadingNeedsNoWriteAccess) {
    // a folder can never be opened for writing, not even by root; read-only media behave the same
    fs::create_directories(dir / "sub");
    std::string sub = (dir / "sub").string();
    TDateTime want = EncodeDateTime(2019, 3, 2, 1, 0, 0, 0);
    struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(LocalDateTimeToUnix(want)), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, sub.c_str(), times, 0), 0);
    EXPECT_NEAR(GetFileUpdateDateTime(sub), want, 1.0 / kMSecsPerDay);
    // a read-only file, and one that may not even be read (both refuse writing unless we are root)
    std::string f = (dir / "ro.jpg").string();
    std::ofstream(f) << "x";
    TDateTime stored = SetFileUpdateDateTime(f, want);
    fs::permissions(f, fs::perms::owner_read);
    EXPECT_EQ(GetFileUpdateDateTime(f), stored);
    fs::permissions(f, fs::perms::none);
    EXPECT_EQ(GetFileUpdateDateTime(f), stored);
}

TEST_F(FileTimes, OpenFailuresAreWrappedWithTheOperationName) {
    std::string f = (dir / "missing.jpg").string();
    try {
        GetFileUpdateDateTime(f);
        FAIL();
    } catch (const EFileFunctionsError& e) {
        EXPECT_EQ(e.Message(), "EFileFunctionsError Raised in GetFileUpdateDateTime. ( ファイルのオープンに失敗しました。( " +
                                   f + " ) )");
    }
    EXPECT_THROW(SetFileUpdateDateTime(f, 40000), EFileFunctionsError);
    EXPECT_THROW(DateTimeToFileTimeEx(NAN), EFileFunctionsError);
}

TEST(FileTimeValues, FileTimeAndDateTimeConvertBothWays) {
    // 1970-01-01 00:00:00 UTC
    TFileTime epoch = 116444736000000000ULL;
    EXPECT_DOUBLE_EQ(FileTimeToDateTimeEx(epoch), UnixToLocalDateTime(0));
    TDateTime v = EncodeDateTime(2010, 2, 3, 4, 5, 6, 0);
    EXPECT_NEAR(FileTimeToDateTimeEx(DateTimeToFileTimeEx(v)), v, 1e-9);
}

TEST(ShellFacts, FoldersAndTheirAbilities) {
    fs::path dir = fs::temp_directory_path() / ("fv-sh-" + std::to_string(::getpid()));
    fs::create_directories(dir / "sub");
    std::ofstream(dir / "f.txt") << "x";
    EXPECT_TRUE(IsFileSystemFolder(dir.string()));
    EXPECT_TRUE(IsFileSystemFolder(dir.string() + "/"));
    EXPECT_FALSE(IsFileSystemFolder((dir / "f.txt").string()));
    EXPECT_FALSE(IsFileSystemFolder((dir / "none").string()));
    EXPECT_TRUE(CanCopyFolderTo((dir / "sub").string(), dir.string()));
    EXPECT_FALSE(CanCopyFolderTo(dir.string(), (dir / "sub").string()));  // into itself
    EXPECT_FALSE(CanMoveFolder("/"));
    fs::remove_all(dir);
}

TEST(ShellFacts, ShortcutIsADesktopEntry) {
    fs::path dir = fs::temp_directory_path() / ("fv-lnk-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::string link = (dir / "Folvane Browser.desktop").string();
    ASSERT_TRUE(CreateShortcut("/usr/bin/folvane browser", link, "写真", 0, "", "/tmp"));
    std::ifstream in(link);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Name=Folvane Browser\n"), std::string::npos);
    EXPECT_NE(text.find("Exec=\"/usr/bin/folvane browser\"\n"), std::string::npos);
    EXPECT_NE(text.find("Comment=写真\n"), std::string::npos);
    EXPECT_NE(text.find("Path=/tmp\n"), std::string::npos);
    EXPECT_FALSE(CreateShortcut("/bin/true", (dir / "no-such/x.desktop").string(), "", -1, "", ""));
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
    std::string conf = std::getenv("XDG_CONFIG_HOME");
    fs::create_directories(conf);
    EXPECT_EQ(GetMyPicturesFolder(), home + "/Pictures");
    std::ofstream(conf + "/user-dirs.dirs") << "# comment\nXDG_PICTURES_DIR=\"$HOME/写真\"\n";
    EXPECT_EQ(GetMyPicturesFolder(), home + "/写真");
    EXPECT_EQ(GetMyDocumentsFolder(), home + "/Documents");
    EXPECT_EQ(GetAppDataFolder(), std::string(std::getenv("XDG_DATA_HOME")));
    fs::remove(conf + "/user-dirs.dirs");
    EXPECT_NE(GetUserNameStr(), "");
    EXPECT_NE(GetComputerNameStr(), "");
}
