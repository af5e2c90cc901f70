#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/file_ops.h"

using namespace fv;
namespace fs = std::filesystem;

namespace {

struct FileOps : ::testing::Test {
    fs::path dir;
    std::string savedXdg;
    bool hadXdg = false;
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("fv-fileops-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "src");
        fs::create_directories(dir / "dst");
        if (const char* x = std::getenv("XDG_DATA_HOME")) {
            hadXdg = true;
            savedXdg = x;
        }
        ::setenv("XDG_DATA_HOME", (dir / "share").c_str(), 1);
    }
    void TearDown() override {
        if (hadXdg) ::setenv("XDG_DATA_HOME", savedXdg.c_str(), 1);
        else ::unsetenv("XDG_DATA_HOME");
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    static void Write(const fs::path& p, const std::string& s) {
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << s;
    }
    static std::string Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // an album-sized tree: nested folders, a big file, a link
    void MakeTree(const fs::path& root) {
        Write(root / "a.jpg", std::string(3 << 20, 'a'));  // spans several copy chunks
        Write(root / "b.jpg", "bbbb");
        Write(root / "sub/c.jpg", "cc");
        Write(root / "sub/deeper/d.jpg", "d");
        fs::create_symlink("../a.jpg", root / "sub/link.jpg");
        fs::last_write_time(root / "b.jpg", fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
    }
    // every entry below a folder, temporary leftovers included
    static std::vector<std::string> Entries(const fs::path& root) {
        std::vector<std::string> out;
        if (!fs::exists(root)) return out;
        for (auto& e : fs::recursive_directory_iterator(root)) out.push_back(fs::relative(e.path(), root).string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

// a small file system of our own for cross-device moves and a really full disk (needs root)
struct TinyFs {
    fs::path where;
    bool mounted = false;
    TinyFs(const fs::path& p, const char* size) : where(p) {
        fs::create_directories(p);
        std::string opts = std::string("size=") + size;
        mounted = ::mount("tmpfs", p.c_str(), "tmpfs", 0, opts.c_str()) == 0;
    }
    ~TinyFs() {
        if (mounted) ::umount2(where.c_str(), MNT_DETACH);
    }
};

}  // namespace

TEST_F(FileOps, CopyKeepsBytesTimesAndLinksAndReportsProgress) {
    MakeTree(dir / "src/Trip");
    auto before = Entries(dir / "src");
    TFileOpProgress last;
    int calls = 0;
    TFileOpOptions o;
    o.Progress = [&](const TFileOpProgress& p) {
        last = p;
        ++calls;
        return true;
    };
    CopyIntoFolder((dir / "src/Trip").string(), (dir / "dst").string(), o);

    EXPECT_EQ(Entries(dir / "src"), before);  // the source is untouched
    EXPECT_EQ(Entries(dir / "dst/Trip"), Entries(dir / "src/Trip"));
    EXPECT_EQ(Read(dir / "dst/Trip/a.jpg"), std::string(3 << 20, 'a'));
    EXPECT_EQ(fs::last_write_time(dir / "dst/Trip/b.jpg"), fs::last_write_time(dir / "src/Trip/b.jpg"));
    EXPECT_TRUE(fs::is_symlink(dir / "dst/Trip/sub/link.jpg"));
    EXPECT_EQ(fs::read_symlink(dir / "dst/Trip/sub/link.jpg"), "../a.jpg");
    EXPECT_EQ(last.FilesTotal, 5u);
    EXPECT_EQ(last.FilesDone, 5u);
    EXPECT_EQ(last.BytesDone, last.BytesTotal);
    EXPECT_EQ(last.BytesTotal, (3u << 20) + 4 + 2 + 1);
    EXPECT_GT(calls, 5);
}

TEST_F(FileOps, CopyFailingMidwayLeavesNothingAtTheDestination) {
    MakeTree(dir / "src/Trip");
    Write(dir / "dst/Trip/keep.txt", "mine");  // an existing folder is merged into, and survives the failure
    auto before = Entries(dir / "src");
    for (TFileOpStep step : {TFileOpStep::Write, TFileOpStep::Sync, TFileOpStep::Rename, TFileOpStep::MakeDir}) {
        TFileOpOptions o;
        int seen = 0;
        o.Fault = [&](TFileOpStep s, const std::string& path) {
            // fail late, after some files and folders are in place ("sub/deeper" is the second folder made)
            if (s == step && ++seen == (step == TFileOpStep::MakeDir ? 2 : 3)) return ENOSPC;
            (void)path;
            return 0;
        };
        EXPECT_THROW(CopyIntoFolder((dir / "src/Trip").string(), (dir / "dst").string(), o), EFileOpError)
            << static_cast<int>(step);
        EXPECT_EQ(Entries(dir / "dst"), (std::vector<std::string>{"Trip", "Trip/keep.txt"})) << static_cast<int>(step);
        EXPECT_EQ(Entries(dir / "src"), before);
    }
}

TEST_F(FileOps, ReplacedFilesComeBackWhenTheCopyFails) {
    Write(dir / "src/Trip/1.jpg", "new-1");
    Write(dir / "src/Trip/2.jpg", "new-2");
    Write(dir / "dst/Trip/1.jpg", "old-1");
    Write(dir / "dst/Trip/2.jpg", "old-2");
    TFileOpOptions o;
    EXPECT_THROW(CopyIntoFolder((dir / "src/Trip").string(), (dir / "dst").string(), o), EFileOpError);  // no replace
    o.Replace = true;
    int renames = 0;
    o.Fault = [&](TFileOpStep s, const std::string&) { return s == TFileOpStep::Rename && ++renames == 4 ? EIO : 0; };
    EXPECT_THROW(CopyIntoFolder((dir / "src/Trip").string(), (dir / "dst").string(), o), EFileOpError);
    EXPECT_EQ(Entries(dir / "dst/Trip"), (std::vector<std::string>{"1.jpg", "2.jpg"}));
    EXPECT_EQ(Read(dir / "dst/Trip/1.jpg"), "old-1");
    EXPECT_EQ(Read(dir / "dst/Trip/2.jpg"), "old-2");
    o.Fault = nullptr;
    CopyIntoFolder((dir / "src/Trip").string(), (dir / "dst").string(), o);
    EXPECT_EQ(Read(dir / "dst/Trip/1.jpg"), "new-1");
    EXPECT_EQ(Entries(dir / "dst/Trip"), (std::vector<std::string>{"1.jpg", "2.jpg"}));  // nothing set aside is left
}

TEST_F(FileOps, CancelUndoesAndRefusesIntoItself) {
    MakeTree(dir / "src/Trip");
    TFileOpOptions o;
    int calls = 0;
    o.Progress = [&](const TFileOpProgress&) { return ++calls < 4; };
    EXPECT_THROW(CopyIntoFolder((dir / "src/Trip").string(), (dir / "dst").string(), o), EFileOpAborted);
    EXPECT_TRUE(Entries(dir / "dst").empty());
    EXPECT_THROW(CopyIntoFolder((dir / "src/Trip").string(), (dir / "src/Trip/sub").string()), EFileOpError);
    EXPECT_THROW(MoveIntoFolder((dir / "src/Trip").string(), (dir / "src/Trip").string()), EFileOpError);
    EXPECT_THROW(CopyIntoFolder((dir / "src/none").string(), (dir / "dst").string()), EFileOpError);
    EXPECT_FALSE(fs::exists(dir / "src/Trip/sub/Trip"));
}

TEST_F(FileOps, MoveWithinOneFileSystemMergesAndRollsBack) {
    MakeTree(dir / "src/Trip");
    MoveIntoFolder((dir / "src/Trip").string(), (dir / "dst").string());
    EXPECT_FALSE(fs::exists(dir / "src/Trip"));
    EXPECT_EQ(Read(dir / "dst/Trip/sub/c.jpg"), "cc");

    // merging into an existing folder; a clash without replace puts everything back
    Write(dir / "src/Trip/new.jpg", "n");
    Write(dir / "src/Trip/sub/c.jpg", "other");
    auto srcBefore = Entries(dir / "src");
    auto dstBefore = Entries(dir / "dst");
    EXPECT_THROW(MoveIntoFolder((dir / "src/Trip").string(), (dir / "dst").string()), EFileOpError);
    EXPECT_EQ(Entries(dir / "src"), srcBefore);
    EXPECT_EQ(Entries(dir / "dst"), dstBefore);
    EXPECT_EQ(Read(dir / "dst/Trip/sub/c.jpg"), "cc");

    TFileOpOptions o;
    o.Replace = true;
    MoveIntoFolder((dir / "src/Trip").string(), (dir / "dst").string(), o);
    EXPECT_FALSE(fs::exists(dir / "src/Trip"));
    EXPECT_EQ(Read(dir / "dst/Trip/sub/c.jpg"), "other");
    EXPECT_EQ(Read(dir / "dst/Trip/new.jpg"), "n");
    EXPECT_EQ(Read(dir / "dst/Trip/sub/deeper/d.jpg"), "d");
}

TEST_F(FileOps, MoveAcrossFileSystemsCopiesVerifiesThenDeletes) {
    TinyFs other(dir / "other", "16m");
    if (!other.mounted) GTEST_SKIP() << "cannot mount a tmpfs here";
    MakeTree(dir / "src/Trip");
    auto before = Entries(dir / "src/Trip");

    TFileOpOptions o;
    int reads = 0;
    o.Fault = [&](TFileOpStep s, const std::string&) { return s == TFileOpStep::Read && ++reads == 6 ? EIO : 0; };
    EXPECT_THROW(MoveIntoFolder((dir / "src/Trip").string(), (dir / "other").string(), o), EFileOpError);
    EXPECT_EQ(Entries(dir / "src/Trip"), before);  // the source vanished nowhere
    EXPECT_TRUE(Entries(dir / "other").empty());

    MoveIntoFolder((dir / "src/Trip").string(), (dir / "other").string());
    EXPECT_FALSE(fs::exists(dir / "src/Trip"));
    EXPECT_EQ(Entries(dir / "other/Trip"), before);
    EXPECT_EQ(Read(dir / "other/Trip/a.jpg"), std::string(3 << 20, 'a'));
}

TEST_F(FileOps, DiskFullKeepsTheSourceAndLeavesNoPartialFile) {
    TinyFs small(dir / "small", "1m");
    if (!small.mounted) GTEST_SKIP() << "cannot mount a tmpfs here";
    Write(dir / "src/Trip/small.jpg", "s");
    Write(dir / "src/Trip/big.jpg", std::string(2 << 20, 'b'));
    auto before = Entries(dir / "src");
    EXPECT_THROW(CopyIntoFolder((dir / "src/Trip").string(), (dir / "small").string()), EFileOpError);
    EXPECT_TRUE(Entries(dir / "small").empty());
    EXPECT_THROW(MoveIntoFolder((dir / "src/Trip").string(), (dir / "small").string()), EFileOpError);
    EXPECT_TRUE(Entries(dir / "small").empty());
    EXPECT_EQ(Entries(dir / "src"), before);
    EXPECT_EQ(Read(dir / "src/Trip/big.jpg").size(), 2u << 20);
}

TEST_F(FileOps, TrashWritesTheInfoFileAndKeepsNamesApart) {
    Write(dir / "src/My Photo%.jpg", "1");
    Write(dir / "src/Trip/x.jpg", "x");
    std::string t1 = MoveToTrash((dir / "src/My Photo%.jpg").string());
    Write(dir / "src/My Photo%.jpg", "2");
    std::string t2 = MoveToTrash((dir / "src/My Photo%.jpg").string());
    std::string t3 = MoveToTrash((dir / "src/Trip").string());

    fs::path trash = dir / "share/Trash";
    EXPECT_EQ(HomeTrashFolder(), trash.string());
    EXPECT_EQ(t1, (trash / "files/My Photo%.jpg").string());
    EXPECT_EQ(t2, (trash / "files/My Photo%.jpg.2").string());
    EXPECT_EQ(Read(t1), "1");
    EXPECT_EQ(Read(t2), "2");
    EXPECT_EQ(Read(fs::path(t3) / "x.jpg"), "x");
    EXPECT_FALSE(fs::exists(dir / "src/Trip"));

    std::string info = Read(trash / "info/My Photo%.jpg.2.trashinfo");
    std::string want = "[Trash Info]\nPath=" + (dir / "src").string() + "/My%20Photo%25.jpg\nDeletionDate=";
    ASSERT_EQ(info.compare(0, want.size(), want), 0) << info;
    std::string date = info.substr(want.size());
    ASSERT_EQ(date.size(), 20u);  // "YYYY-MM-DDThh:mm:ss\n"
    EXPECT_EQ(date[10], 'T');
    EXPECT_EQ(date.back(), '\n');
    EXPECT_TRUE(fs::exists(trash / "info/Trip.trashinfo"));
    EXPECT_THROW(MoveToTrash((dir / "src/none").string()), EFileOpError);
}

TEST_F(FileOps, TrashTakesNamesOfTheLongestLength) {
    // 255 bytes: "あ" (3 bytes) 82 times, then "xxxxx.jpg"; the info file name would be 265 bytes
    std::string name;
    for (int i = 0; i < 82; ++i) name += "\xE3\x81\x82";
    name += "xxxxx.jpg";
    ASSERT_EQ(name.size(), 255u);
    Write(dir / "src" / name, "1");
    std::string t1 = MoveToTrash((dir / "src" / name).string());
    Write(dir / "src" / name, "2");
    std::string t2 = MoveToTrash((dir / "src" / name).string());
    ASSERT_NE(t1, t2);
    EXPECT_EQ(Read(t1), "1");
    EXPECT_EQ(Read(t2), "2");
    fs::path trash = dir / "share/Trash";
    for (const std::string& t : {t1, t2}) {
        std::string base = fs::path(t).filename().string();
        EXPECT_LE(base.size() + 10, 255u) << base;
        EXPECT_EQ(base.substr(base.size() - 4), ".jpg");
        // cut between characters, never inside one
        size_t stem = base.find('.');
        EXPECT_EQ(stem % 3, 0u) << base;
        EXPECT_EQ(base.compare(0, stem, name, 0, stem), 0);
        std::string info = Read(trash / "info" / (base + ".trashinfo"));
        // the info file keeps the full original path
        EXPECT_NE(info.find("Path=" + TrashEscapePath((dir / "src" / name).string()) + "\n"), std::string::npos);
    }
    EXPECT_EQ(TrashEntryName("a.jpg", 3), "a.jpg.3");
    EXPECT_LE(TrashEntryName(std::string(255, 'x'), 12345).size(), 245u);
}

TEST_F(FileOps, TrashOnAnotherVolumeUsesItsOwnTrashFolder) {
    TinyFs card(dir / "card", "1m");
    if (!card.mounted) GTEST_SKIP() << "cannot mount a tmpfs here";
    Write(dir / "card/DCIM/p.jpg", "p");
    std::string t = MoveToTrash((dir / "card/DCIM/p.jpg").string());
    fs::path own = dir / "card" / (".Trash-" + std::to_string(::getuid()));
    EXPECT_EQ(t, (own / "files/p.jpg").string());
    // paths in a volume's trash are relative to its top folder, so they survive another mount point
    EXPECT_EQ(Read(own / "info/p.jpg.trashinfo").substr(0, 34), "[Trash Info]\nPath=DCIM/p.jpg\nDelet");
    EXPECT_EQ(TrashEscapePath("/a b/ü"), "/a%20b/%C3%BC");
}
