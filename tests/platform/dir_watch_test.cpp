#include <gtest/gtest.h>

#include <sys/inotify.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/dir_watch.h"
#include "platform/file_sys.h"

using namespace fv;
namespace fs = std::filesystem;

namespace {

void PutRecord(std::vector<uint8_t>& buf, int32_t wd, uint32_t mask, uint32_t cookie, const std::string& name, uint32_t len) {
    size_t at = buf.size();
    buf.resize(at + 16 + len, 0);
    std::memcpy(&buf[at], &wd, 4);
    std::memcpy(&buf[at + 4], &mask, 4);
    std::memcpy(&buf[at + 8], &cookie, 4);
    std::memcpy(&buf[at + 12], &len, 4);
    std::memcpy(&buf[at + 16], name.data(), std::min<size_t>(name.size(), len));
}

// collects what the reader thread hands over and lets a test wait for a condition on it
struct TCollector {
    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<TDirWatchEvent> Events;
    void Take(std::vector<TDirWatchEvent>& batch) {
        std::lock_guard g(Lock);
        Events.insert(Events.end(), batch.begin(), batch.end());
        Changed.notify_all();
    }
    bool WaitFor(const std::function<bool(const TDirWatchEvent&)>& pred) {
        std::unique_lock g(Lock);
        return Changed.wait_for(g, std::chrono::seconds(5), [&] {
            for (const auto& e : Events)
                if (pred(e)) return true;
            return false;
        });
    }
};

struct DirWatchFolder : ::testing::Test {
    fs::path dir;
    TDirWatcher watcher;
    TCollector got;
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("fv-dirwatch-" + std::to_string(ThisProcessId()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        ASSERT_TRUE(watcher.Open([this](std::vector<TDirWatchEvent>& b) { got.Take(b); }));
    }
    void TearDown() override {
        watcher.Close();
        fs::remove_all(dir);
    }
    static auto Is(int32_t wd, uint32_t bit, const std::string& name) {
        return [=](const TDirWatchEvent& e) { return e.Watch == wd && (e.What & bit) && e.Name == name; };
    }
};

}  // namespace

TEST(DirWatchRecords, ReadsEveryRecordAndStopsAtOneThatDoesNotFit) {
    std::vector<uint8_t> buf;
    PutRecord(buf, 3, IN_CREATE | IN_ISDIR, 0, "sub", 16);
    PutRecord(buf, 3, IN_MOVED_TO, 77, "a.jpg", 8);
    PutRecord(buf, 4, IN_DELETE_SELF, 0, "", 0);
    PutRecord(buf, -1, IN_Q_OVERFLOW, 0, "", 0);
    std::vector<TDirWatchEvent> out;
    ASSERT_TRUE(ParseDirWatchRecords(buf.data(), buf.size(), out));
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].Watch, 3);
    EXPECT_EQ(out[0].What, static_cast<uint32_t>(dwCreated | dwIsFolder));
    EXPECT_EQ(out[0].Name, "sub");  // the padding NULs are not part of the name
    EXPECT_EQ(out[1].Cookie, 77u);
    EXPECT_EQ(out[1].Name, "a.jpg");
    EXPECT_EQ(out[2].What, static_cast<uint32_t>(dwFolderDeleted));
    EXPECT_TRUE(out[2].Name.empty());
    EXPECT_EQ(out[3].Watch, -1);
    EXPECT_TRUE(out[3].What & dwOverflow);

    // a name length that runs past the buffer: the records before it are kept
    std::vector<uint8_t> cut = buf;
    PutRecord(cut, 5, IN_CREATE, 0, "x", 16);
    cut.resize(cut.size() - 4);
    out.clear();
    EXPECT_FALSE(ParseDirWatchRecords(cut.data(), cut.size(), out));
    EXPECT_EQ(out.size(), 4u);

    // a header cut short, and an absurd length that would wrap a 32-bit sum
    std::vector<uint8_t> shortHeader(10, 0);
    out.clear();
    EXPECT_FALSE(ParseDirWatchRecords(shortHeader.data(), shortHeader.size(), out));
    EXPECT_TRUE(out.empty());
    std::vector<uint8_t> huge;
    PutRecord(huge, 1, IN_CREATE, 0, "", 0);
    uint32_t len = 0xFFFFFFF8u;
    std::memcpy(&huge[12], &len, 4);
    huge.resize(64, 'a');
    EXPECT_FALSE(ParseDirWatchRecords(huge.data(), huge.size(), out));
    EXPECT_TRUE(out.empty());
}

TEST_F(DirWatchFolder, ReportsCreateWriteRenameAndDeleteInTheFolder) {
    int32_t wd = -1;
    ASSERT_EQ(watcher.Add(dir.string(), wd), TDirWatchAddResult::Ok);
    EXPECT_EQ(watcher.WatchCount(), 1);
    int32_t again = -1;
    ASSERT_EQ(watcher.Add(dir.string(), again), TDirWatchAddResult::Ok);
    EXPECT_EQ(again, wd);
    EXPECT_EQ(watcher.WatchCount(), 1);

    { std::ofstream(dir / "a.jpg") << "half"; }
    EXPECT_TRUE(got.WaitFor(Is(wd, dwCreated, "a.jpg")));
    EXPECT_TRUE(got.WaitFor(Is(wd, dwWritten, "a.jpg")));

    fs::rename(dir / "a.jpg", dir / "b.jpg");
    EXPECT_TRUE(got.WaitFor(Is(wd, dwMovedFrom, "a.jpg")));
    EXPECT_TRUE(got.WaitFor(Is(wd, dwMovedTo, "b.jpg")));
    {
        std::lock_guard g(got.Lock);
        uint32_t from = 0, to = 1;
        for (auto& e : got.Events) {
            if (e.What & dwMovedFrom) from = e.Cookie;
            if (e.What & dwMovedTo) to = e.Cookie;
        }
        EXPECT_EQ(from, to);  // the two halves of one rename
    }

    // a name renamed out of the folder leaves only its moved-from
    fs::create_directories(dir.parent_path() / (dir.filename().string() + "-out"));
    fs::path outside = dir.parent_path() / (dir.filename().string() + "-out") / "b.jpg";
    fs::rename(dir / "b.jpg", outside);
    EXPECT_TRUE(got.WaitFor(Is(wd, dwMovedFrom, "b.jpg")));
    fs::rename(outside, dir / "c.jpg");
    EXPECT_TRUE(got.WaitFor(Is(wd, dwMovedTo, "c.jpg")));
    fs::remove_all(outside.parent_path());

    fs::remove(dir / "c.jpg");
    EXPECT_TRUE(got.WaitFor(Is(wd, dwDeleted, "c.jpg")));
    fs::create_directory(dir / "sub");
    EXPECT_TRUE(got.WaitFor([&](const TDirWatchEvent& e) { return e.Watch == wd && (e.What & dwCreated) && (e.What & dwIsFolder); }));
}

TEST_F(DirWatchFolder, TheFolderItselfGoingAwayEndsItsWatch) {
    fs::create_directory(dir / "gone");
    fs::create_directory(dir / "moved");
    int32_t gone = -1, moved = -1;
    ASSERT_EQ(watcher.Add((dir / "gone").string(), gone), TDirWatchAddResult::Ok);
    ASSERT_EQ(watcher.Add((dir / "moved").string(), moved), TDirWatchAddResult::Ok);
    EXPECT_EQ(watcher.WatchCount(), 2);

    fs::remove(dir / "gone");
    EXPECT_TRUE(got.WaitFor(Is(gone, dwFolderDeleted, "")));
    EXPECT_TRUE(got.WaitFor(Is(gone, dwWatchEnded, "")));
    fs::rename(dir / "moved", dir / "elsewhere");
    EXPECT_TRUE(got.WaitFor(Is(moved, dwFolderMoved, "")));
    // the ended watch is no longer counted; removing it again is harmless
    for (int i = 0; i < 100 && watcher.WatchCount() != 1; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(watcher.WatchCount(), 1);
    watcher.Remove(gone);
    watcher.Remove(moved);
    EXPECT_EQ(watcher.WatchCount(), 0);
}

TEST_F(DirWatchFolder, AddAnswersMissingFoldersFilesAndTheWatchLimit) {
    int32_t wd = 0;
    EXPECT_EQ(watcher.Add((dir / "missing").string(), wd), TDirWatchAddResult::NotFound);
    EXPECT_EQ(wd, -1);
    { std::ofstream(dir / "file.jpg") << "x"; }
    EXPECT_EQ(watcher.Add((dir / "file.jpg").string(), wd), TDirWatchAddResult::NotFound);

    fs::create_directory(dir / "a");
    fs::create_directory(dir / "b");
    watcher.SetWatchLimitForTests(1);
    EXPECT_EQ(watcher.Add((dir / "a").string(), wd), TDirWatchAddResult::Ok);
    EXPECT_EQ(watcher.Add((dir / "b").string(), wd), TDirWatchAddResult::LimitReached);
    EXPECT_EQ(wd, -1);

    TDirWatcher closed;
    EXPECT_EQ(closed.Add(dir.string(), wd), TDirWatchAddResult::Failed);
}

TEST_F(DirWatchFolder, CloseStopsTheReaderAndCanBeRepeated) {
    int32_t wd = -1;
    ASSERT_EQ(watcher.Add(dir.string(), wd), TDirWatchAddResult::Ok);
    watcher.Close();
    EXPECT_FALSE(watcher.IsOpen());
    size_t before;
    {
        std::lock_guard g(got.Lock);
        before = got.Events.size();
    }
    { std::ofstream(dir / "late.jpg") << "x"; }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    {
        std::lock_guard g(got.Lock);
        EXPECT_EQ(got.Events.size(), before);
    }
    watcher.Close();
    // and opens again
    ASSERT_TRUE(watcher.Open([this](std::vector<TDirWatchEvent>& b) { got.Take(b); }));
    ASSERT_EQ(watcher.Add(dir.string(), wd), TDirWatchAddResult::Ok);
    fs::remove(dir / "late.jpg");
    EXPECT_TRUE(got.WaitFor(Is(wd, dwDeleted, "late.jpg")));
}

TEST(DirWatchRecords, MadeRecordsReadBackAsTheKernelsDo) {
    std::vector<uint8_t> buf = MakeDirWatchRecord(9, dwMovedTo | dwIsFolder, 41, "sixteen-letters!");
    EXPECT_EQ(buf.size(), 16u + 32u);  // padded, at least one NUL
    std::vector<uint8_t> more = MakeDirWatchRecord(-1, dwOverflow, 0, "");
    buf.insert(buf.end(), more.begin(), more.end());
    std::vector<TDirWatchEvent> got;
    ASSERT_TRUE(ParseDirWatchRecords(buf.data(), buf.size(), got));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].Watch, 9);
    EXPECT_EQ(got[0].What, dwMovedTo | dwIsFolder);
    EXPECT_EQ(got[0].Cookie, 41u);
    EXPECT_EQ(got[0].Name, "sixteen-letters!");
    EXPECT_EQ(got[1].Watch, -1);
    EXPECT_EQ(got[1].What, dwOverflow);
}

TEST(DirWatchFileSystems, NetworkAndFuseFileSystemsAreToldFromLocalOnes) {
    EXPECT_EQ(WatchedFileSystemOfType(0x65735546u), TWatchedFileSystem::Fuse);
    EXPECT_EQ(WatchedFileSystemOfType(0x6969u), TWatchedFileSystem::Remote);  // NFS
    // the CIFS magic as a 32-bit f_type gives it, sign-extended
    EXPECT_EQ(WatchedFileSystemOfType(static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(0xFF534D42u)))),
              TWatchedFileSystem::Remote);
    EXPECT_EQ(WatchedFileSystemOfType(0xEF53u), TWatchedFileSystem::Local);     // ext4
    EXPECT_EQ(WatchedFileSystemOfType(0x01021994u), TWatchedFileSystem::Local); // tmpfs
    EXPECT_EQ(WatchedFileSystemOf(fs::temp_directory_path().string()), TWatchedFileSystem::Local);
    EXPECT_EQ(WatchedFileSystemOf("/no/such/folder/here"), TWatchedFileSystem::Local);
}

TEST_F(DirWatchFolder, AFedOverflowOrBrokenRecordReachesTheOwnerBesideTheKernelsRecords) {
    TDirWatcher fed;
    TCollector mine;
    EXPECT_FALSE(fed.FeedForTests(MakeDirWatchRecord(-1, dwOverflow, 0, "")));  // no feed asked for
    fed.UseTestFeed();
    ASSERT_TRUE(fed.Open([&](std::vector<TDirWatchEvent>& b) { mine.Take(b); }));
    int32_t wd = -1;
    ASSERT_EQ(fed.Add(dir.string(), wd), TDirWatchAddResult::Ok);
    ASSERT_TRUE(fed.FeedForTests(MakeDirWatchRecord(-1, dwOverflow, 0, "")));
    EXPECT_TRUE(mine.WaitFor([](const TDirWatchEvent& e) { return e.What == dwOverflow && e.Watch == -1; }));
    // a record cut short is not trusted: the owner hears of an overflow instead
    std::vector<uint8_t> cut = MakeDirWatchRecord(wd, dwCreated, 0, "cut.jpg");
    cut.resize(cut.size() - 3);
    {
        std::lock_guard g(mine.Lock);
        mine.Events.clear();
    }
    ASSERT_TRUE(fed.FeedForTests(cut));
    EXPECT_TRUE(mine.WaitFor([](const TDirWatchEvent& e) { return e.What == dwOverflow; }));
    // the kernel's records still come through
    { std::ofstream(dir / "real.jpg") << "x"; }
    EXPECT_TRUE(mine.WaitFor(Is(wd, dwWritten, "real.jpg")));
    EXPECT_FALSE(fed.FeedForTests(std::vector<uint8_t>(5000, 0)));  // more than one piece
    fed.Close();
    EXPECT_FALSE(fed.FeedForTests(MakeDirWatchRecord(-1, dwOverflow, 0, "")));
}
