#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/file_sys.h"
#include "platform/page_memory.h"

using namespace fv;
namespace fs = std::filesystem;

namespace {
struct FileSysFolder : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("fv-filesys-" + std::to_string(ThisProcessId()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    void Write(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }
};
}  // namespace

TEST_F(FileSysFolder, ListingHandsOverWantedEntriesWithTheirFactsAndSkipsDanglingLinks) {
    Write(dir / "a.jpg", "12345");
    Write(dir / "skip.txt", "x");
    fs::create_directory(dir / "sub");
    fs::create_symlink(dir / "gone", dir / "dangling.jpg");
    fs::create_symlink(dir / "sub", dir / "link-to-sub");

    std::map<std::string, bool> offered;
    std::map<std::string, TFileFacts> got;
    auto r = ListDirectory(
        dir.string(),
        [&](std::string_view name, bool maybeDir) {
            offered[std::string(name)] = maybeDir;
            return name != "skip.txt";
        },
        [&](std::string_view name, const TFileFacts& f) { got[std::string(name)] = f; });
    EXPECT_EQ(r, TDirListResult::Ok);
    EXPECT_EQ(offered.size(), 5u);  // never "." or ".."
    EXPECT_TRUE(offered["sub"]);
    EXPECT_TRUE(offered["link-to-sub"]);
    EXPECT_FALSE(offered["a.jpg"]);
    ASSERT_EQ(got.size(), 3u);  // not the filtered name, not the dangling link
    EXPECT_TRUE(got["a.jpg"].IsFile);
    EXPECT_EQ(got["a.jpg"].Size, 5);
    EXPECT_TRUE(got["sub"].IsDirectory);
    EXPECT_TRUE(got["link-to-sub"].IsDirectory);  // links are followed

    EXPECT_EQ(ListDirectory((dir / "missing").string(), {}, {}), TDirListResult::NotFound);
    EXPECT_EQ(ListDirectory((dir / "a.jpg").string(), {}, {}), TDirListResult::NotFound);
}

TEST_F(FileSysFolder, FactsFoldersAndRemoval) {
    Write(dir / "f", "abc");
    TFileFacts f;
    ASSERT_TRUE(ReadFileFacts((dir / "f").string(), f));
    EXPECT_TRUE(f.IsFile);
    EXPECT_FALSE(f.ReadOnly);
    TFileFacts d;
    ASSERT_TRUE(ReadFileFacts(dir.string(), d));
    EXPECT_EQ(f.Device, d.Device);
    EXPECT_FALSE(ReadFileFacts("", f));
    EXPECT_TRUE(IsRegularFilePath((dir / "f").string()));
    EXPECT_FALSE(IsDirectoryPath((dir / "f").string()));

    EXPECT_TRUE(MakeDirectory((dir / "new").string()));
    EXPECT_TRUE(MakeDirectory((dir / "new").string()));   // already there is fine
    EXPECT_FALSE(MakeDirectory((dir / "f").string()));    // a file in the way is not
    EXPECT_FALSE(MakeDirectory((dir / "x/y").string()));  // one level only

    EXPECT_TRUE(HasAccess((dir / "f").string(), kAccessRead | kAccessWrite));
    EXPECT_FALSE(HasAccess((dir / "nothing").string(), 0));
    EXPECT_EQ(ResolvedPath((dir / "new/../f").string()), fs::canonical(dir / "f").string());
    EXPECT_EQ(ResolvedPath((dir / "nothing").string()), "");

    EXPECT_TRUE(RemoveFile((dir / "f").string()));
    EXPECT_FALSE(RemoveFile((dir / "f").string()));
    EXPECT_FALSE(RemoveFile((dir / "new").string()));  // never a folder
    EXPECT_TRUE(IsDirectoryPath((dir / "new").string()));
}

TEST_F(FileSysFolder, ModificationTimesRoundTripAndReadWithoutWriteAccess) {
    Write(dir / "f", "abc");
    int64_t sec = 0, backSec = 0;
    int32_t nsec = 0, backNsec = 0;
    ASSERT_EQ(WriteModificationTime((dir / "f").string(), 1000000000, 123456700, sec, nsec), TFileTimeResult::Ok);
    EXPECT_EQ(sec, 1000000000);
    EXPECT_EQ(nsec, 123456700);
    fs::permissions(dir / "f", fs::perms::owner_read);
    ASSERT_EQ(ReadModificationTime((dir / "f").string(), backSec, backNsec), TFileTimeResult::Ok);
    EXPECT_EQ(backSec, 1000000000);
    EXPECT_EQ(backNsec, 123456700);
    ASSERT_EQ(ReadModificationTime(dir.string(), backSec, backNsec), TFileTimeResult::Ok);  // folders too
    EXPECT_EQ(ReadModificationTime((dir / "none").string(), backSec, backNsec), TFileTimeResult::OpenFailed);
    EXPECT_EQ(WriteModificationTime((dir / "none").string(), 1, 0, sec, nsec), TFileTimeResult::OpenFailed);
}

TEST_F(FileSysFolder, AppendFilesFromTwoHandlesNeverOverwriteEachOther) {
    std::string path = (dir / "log").string();
    Write(path, "old\n");
    TAppendFile a, b;
    ASSERT_TRUE(a.Open(path));
    ASSERT_TRUE(b.Open(path));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(a.Write("a\n"));
        ASSERT_TRUE(b.Write("bb\n"));
    }
    TAppendFile moved(std::move(a));
    EXPECT_FALSE(a.IsOpen());
    EXPECT_FALSE(a.Write("lost"));
    ASSERT_TRUE(moved.Write("end\n"));
    moved.Close();
    b.Close();
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), "old\na\nbb\na\nbb\na\nbb\nend\n");
    TAppendFile bad;
    EXPECT_FALSE(bad.Open((dir / "no/such/file").string()));
}

TEST(PageMemory, BlocksAreZeroedWritableAndRefuseImpossibleSizes) {
    const size_t size = (3 << 20) + 17;
    auto* p = static_cast<unsigned char*>(AllocateZeroedPages(size));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[size - 1], 0);
    std::memset(p, 0xAB, size);
    FreeZeroedPages(p, size);
    EXPECT_EQ(AllocateZeroedPages(0), nullptr);
    EXPECT_EQ(AllocateZeroedPages(static_cast<size_t>(-1)), nullptr);
    FreeZeroedPages(nullptr, 0);
}

TEST(ThisMachine, NamesTheUserHostAndProcess) {
    EXPECT_FALSE(ThisUserName().empty());
    EXPECT_FALSE(ThisHostName().empty());
    EXPECT_FALSE(ThisUserHomeFolder().empty());
    EXPECT_GT(ThisProcessId(), 0);
}
