// fvb scan / ls / find on a library of its own: the browser's data files, their backups, the lock.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <csignal>
#include <string>

#include "library_test_util.h"

namespace fs = std::filesystem;

namespace {

struct FvbLibrary : fvtest::TempDirTest {
    std::string fvb = std::string(FV_BINARY_DIR) + "/fvb";
    void SetUp() override {
        TempDirTest::SetUp();
        ASSERT_TRUE(fs::exists(fvb)) << "fvb is missing beside the tests (it is built with them)";
        fs::create_directories(dir / "photos/2004");
        for (const char* name : {"Canon_40D.jpg", "Nikon_D70.jpg", "Fujifilm_FinePix6900ZOOM.jpg"})
            fs::copy_file(fs::path(FV_TESTDATA_DIR) / "photos" / name, dir / "photos" / name);
        fs::copy_file(fs::path(FV_TESTDATA_DIR) / "photos/Canon_DIGITAL_IXUS_400.jpg", dir / "photos/2004/ixus.jpg");
    }
    // runs fvb on this test's own library; the exit status, standard output in out
    // (a library in another data folder with `data`)
    int Run(const std::string& args, std::string& out, const std::string& data = "data") {
        std::string cmd = "XDG_DATA_HOME='" + Path(data) + "' XDG_CONFIG_HOME='" + Path("config") + "' " + fvb + " " +
                          args + " 2>/dev/null";
        FILE* p = popen(cmd.c_str(), "r");
        out.clear();
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        int status = pclose(p);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    fs::path Data() const { return dir / "data/Kestrona/FolvaneBrowser/Data"; }
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST_F(FvbLibrary, ScanReportsNewChangedAndMissingAndLsShowsShootingDays) {
    std::string out;
    ASSERT_EQ(Run("scan --json " + Path("photos"), out), 0) << out;
    EXPECT_TRUE(Has(out, "\"folders\":2,\"files\":4,\"kinds\":{\"jpeg\":4},\"new\":4,\"changed\":0,\"missing\":0")) << out;

    ASSERT_EQ(Run("scan --json " + Path("photos"), out), 0);
    EXPECT_TRUE(Has(out, "\"new\":0,\"changed\":0,\"missing\":0")) << out;

    fs::last_write_time(dir / "photos/Nikon_D70.jpg", fs::file_time_type::clock::now() - std::chrono::hours(5));
    fs::remove(dir / "photos/2004/ixus.jpg");
    ASSERT_EQ(Run("scan --json " + Path("photos"), out), 0);
    EXPECT_TRUE(Has(out, "\"new\":0,\"changed\":1,\"missing\":1")) << out;

    // the photos on their shooting days, in date order
    ASSERT_EQ(Run("ls --sort date " + Path("photos"), out), 0);
    size_t fuji = out.find("2001/02/19 06:40:05"), nikon = out.find("Nikon_D70.jpg"), canon = out.find("Canon_40D.jpg");
    ASSERT_NE(fuji, std::string::npos) << out;
    EXPECT_LT(fuji, canon);
    EXPECT_NE(nikon, std::string::npos);
    // the scanned folder stays in the library (registered in the calendar), without the deleted photo
    ASSERT_EQ(Run("ls --json " + Path("photos/2004"), out), 0);
    EXPECT_EQ(out, "[]\n");
    EXPECT_EQ(Run("ls " + Path("elsewhere"), out), 1);

    ASSERT_EQ(Run("find --json --name Canon", out), 0);
    EXPECT_TRUE(Has(out, "Canon_40D.jpg"));
    EXPECT_FALSE(Has(out, "Nikon"));
    ASSERT_EQ(Run("find --shot 2001-02-19..2001-02-19", out), 0);
    EXPECT_TRUE(Has(out, "Fujifilm_FinePix6900ZOOM.jpg")) << out;
    EXPECT_FALSE(Has(out, "Canon"));
    EXPECT_EQ(Run("find --shot yesterday", out), 2);
}

TEST_F(FvbLibrary, DataFilesKeepBackupsAndADamagedMainFileFallsBackToIt) {
    std::string out;
    ASSERT_EQ(Run("scan " + Path("photos"), out), 0);
    EXPECT_FALSE(fs::exists(Data() / "CorvaData.bak"));
    ASSERT_EQ(Run("scan " + Path("photos"), out), 0);
    ASSERT_TRUE(fs::exists(Data() / "CorvaData.bak"));
    ASSERT_TRUE(fs::exists(Data() / "CorvaHistory.bak"));
    std::ifstream in(Data() / "CorvaData.tdb", std::ios::binary);
    char head[16] = {};
    in.read(head, sizeof head);
    EXPECT_EQ(std::string(head, 8), std::string("CORVADF\0", 8));
    EXPECT_EQ(head[8], 10);  // version
    EXPECT_EQ(head[12], 4);  // items written
    in.close();

    // looking does not save: the backup stays the older file
    auto bakTime = fs::last_write_time(Data() / "CorvaData.bak");
    ASSERT_EQ(Run("ls " + Path("photos"), out), 0);
    EXPECT_EQ(fs::last_write_time(Data() / "CorvaData.bak"), bakTime);

    // a main file cut short: the library comes from the backup
    fs::resize_file(Data() / "CorvaData.tdb", 40);
    ASSERT_EQ(Run("ls " + Path("photos"), out), 0);
    EXPECT_TRUE(Has(out, "Canon_40D.jpg")) << out;
    std::ofstream(Data() / "CorvaData.tdb", std::ios::binary | std::ios::trunc) << "garbage";
    ASSERT_EQ(Run("ls " + Path("photos/2004"), out), 0);
    EXPECT_TRUE(Has(out, "ixus.jpg")) << out;
}

// After a damaged main file the ".bak" stands in and survives the saves that follow; with both
// unreadable fvb says so, exits with 4 and leaves both files as they are.
TEST_F(FvbLibrary, ADamagedLibraryNeverCostsItsBackupAndAnUnreadableOneIsNotSavedOver) {
    std::string out;
    ASSERT_EQ(Run("scan " + Path("photos"), out), 0);
    ASSERT_EQ(Run("scan " + Path("photos/2004"), out), 0);
    ASSERT_TRUE(fs::exists(Data() / "CorvaData.bak"));
    auto bytes = [](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string good = bytes(Data() / "CorvaData.bak");

    std::ofstream(Data() / "CorvaData.tdb", std::ios::binary | std::ios::trunc) << "damaged once";
    ASSERT_EQ(Run("scan " + Path("photos"), out), 0);
    ASSERT_EQ(Run("ls " + Path("photos"), out), 0);
    EXPECT_TRUE(Has(out, "Canon_40D.jpg")) << out;
    std::ofstream(Data() / "CorvaData.tdb", std::ios::binary | std::ios::trunc) << "damaged twice";
    ASSERT_EQ(Run("scan " + Path("photos"), out), 0);
    ASSERT_EQ(Run("ls " + Path("photos"), out), 0);
    EXPECT_TRUE(Has(out, "Canon_40D.jpg")) << out;
    int aside = 0;
    for (auto& e : fs::directory_iterator(Data()))
        if (e.path().filename().string().starts_with("CorvaData.tdb.damaged-")) {
            ++aside;
            EXPECT_TRUE(bytes(e.path()).starts_with("damaged")) << e.path();
        }
    EXPECT_EQ(aside, 2);
    EXPECT_EQ(bytes(Data() / "CorvaData.bak"), good);  // never replaced by a damaged file

    std::ofstream(Data() / "CorvaData.tdb", std::ios::binary | std::ios::trunc) << "unreadable";
    std::ofstream(Data() / "CorvaData.bak", std::ios::binary | std::ios::trunc) << "unreadable too";
    const std::string history = bytes(Data() / "CorvaHistory.tdb");
    std::string cmd = "XDG_DATA_HOME='" + Path("data") + "' XDG_CONFIG_HOME='" + Path("config") + "' " + fvb +
                      " scan " + Path("photos") + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    std::string err;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) err.append(buf, n);
    int status = pclose(p);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 4) << err;
    EXPECT_TRUE(Has(err, "could not be read completely")) << err;
    EXPECT_TRUE(Has(err, Data().string())) << err;
    EXPECT_EQ(bytes(Data() / "CorvaData.tdb"), "unreadable");
    EXPECT_EQ(bytes(Data() / "CorvaData.bak"), "unreadable too");
    EXPECT_EQ(bytes(Data() / "CorvaHistory.tdb"), history);
    EXPECT_EQ(Run("ls " + Path("photos"), out), 4);
    EXPECT_EQ(bytes(Data() / "CorvaData.tdb"), "unreadable");
}

TEST_F(FvbLibrary, ASecondProcessOnTheLibraryRefusesAndChangesNothing) {
    std::string out;
    ASSERT_EQ(Run("scan " + Path("photos"), out), 0);
    auto before = fs::last_write_time(Data() / "CorvaData.tdb");
    int fd = ::open((Data() / "CorvaData.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);  // what a running browser holds
    EXPECT_EQ(Run("scan " + Path("photos"), out), 3);
    EXPECT_EQ(Run("ls " + Path("photos"), out), 3);
    EXPECT_EQ(fs::last_write_time(Data() / "CorvaData.tdb"), before);
    ::close(fd);
    EXPECT_EQ(Run("scan " + Path("photos"), out), 0);
}

TEST_F(FvbLibrary, CalendarAndAlbumsShowTheScannedPhotos) {
    std::string out;
    ASSERT_EQ(Run("scan " + Path("photos"), out), 0);
    ASSERT_EQ(Run("calendar", out), 0);
    // the photos on their shooting days: Fujifilm 2001-02-19, IXUS 2004-08-27
    EXPECT_TRUE(Has(out, "2001  ")) << out;
    EXPECT_TRUE(Has(out, "    2001/02/19  1")) << out;
    EXPECT_TRUE(Has(out, "    2004/08/27  1")) << out;
    ASSERT_EQ(Run("calendar 2004/08", out), 0);
    EXPECT_TRUE(Has(out, "ixus.jpg")) << out;
    EXPECT_FALSE(Has(out, "2001")) << out;
    ASSERT_EQ(Run("calendar --json 2001", out), 0);
    EXPECT_TRUE(Has(out, "[{\"year\":2001,\"count\":1,\"months\":[{\"month\":2,\"count\":1,\"days\":[{\"day\":19,\"count\":1"))
        << out;
    EXPECT_EQ(Run("calendar 1066", out), 2);

    ASSERT_EQ(Run("albums --json", out), 0);
    EXPECT_TRUE(Has(out, "{\"path\":\"アルバム\",\"name\":\"アルバム\",\"type\":\"アルバム\",\"depth\":0,\"entries\":0"))
        << out;  // the roots the album tree shows, empty in a new library
}

TEST_F(FvbLibrary, ThumbsOfALibraryFolderGoIntoTheBrowsersCache) {
    std::string out;
    ASSERT_EQ(Run("scan " + Path("photos"), out), 0);
    ASSERT_EQ(Run("thumbs " + Path("photos") + " --size 96 --threads 1", out), 0) << out;
    EXPECT_TRUE(Has(out, "thumbs: 4 photos")) << out;
    EXPECT_TRUE(Has(out, "cache of the library")) << out;
    // into a pipe the results come without any progress line
    EXPECT_FALSE(Has(out, "thumbs: 4/4")) << out;
    EXPECT_FALSE(Has(out, "\r")) << out;
    EXPECT_FALSE(Has(out, "already cached; ")) << out;
    EXPECT_FALSE(fs::exists(Data() / "FvbThumbs"));
    EXPECT_TRUE(fs::exists(Data() / "Cache.tdb"));

    // the engine's end saved the cache's index with the library: the next run finds them all
    ASSERT_EQ(Run("thumbs " + Path("photos") + " --size 96 --threads 1 --export " + Path("out"), out), 0) << out;
    EXPECT_TRUE(Has(out, "made 0 pictures")) << out;
    EXPECT_TRUE(Has(out, "4 already cached")) << out;
    EXPECT_TRUE(fs::exists(dir / "out/2004_ixus.jpg.jpg"));
    ASSERT_EQ(Run("thumbs " + Path("photos/2004") + " --size 96 --threads 1", out), 0) << out;
    EXPECT_TRUE(Has(out, "thumbs: 1 photos")) << out;
    EXPECT_TRUE(Has(out, "1 already cached")) << out;
    // commands that only read the library leave the index as it is
    ASSERT_EQ(Run("find --name Canon", out), 0) << out;
    ASSERT_EQ(Run("ls " + Path("photos"), out), 0) << out;
    EXPECT_TRUE(fs::exists(Data() / "Cache.tdb"));
    ASSERT_EQ(Run("thumbs " + Path("photos") + " --size 96 --threads 1", out), 0) << out;
    EXPECT_TRUE(Has(out, "made 0 pictures")) << out;
    EXPECT_TRUE(Has(out, "4 already cached")) << out;

    // while the browser holds the library, nothing is touched
    int fd = ::open((Data() / "CorvaData.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_EQ(Run("thumbs " + Path("photos") + " --size 96", out), 3);
    ::close(fd);

    // a folder the library does not hold keeps a cache of fvb's own
    fs::create_directories(dir / "other");
    fs::copy_file(fs::path(FV_TESTDATA_DIR) / "photos/Canon_40D.jpg", dir / "other/a.jpg");
    ASSERT_EQ(Run("thumbs " + Path("other") + " --size 96 --threads 1", out), 0) << out;
    EXPECT_TRUE(Has(out, "FvbThumbs")) << out;
    EXPECT_TRUE(fs::exists(Data() / "FvbThumbs"));
}

// fvb thumbs killed with SIGKILL half-way: the index it saved while working (every 100 ms here)
// stays valid, so the next run makes again only what came after that save, not everything.
// SIGTERM stops the work and keeps all that was made.
TEST_F(FvbLibrary, ThumbsKilledHalfWayKeepWhatTheLastIndexSaveNamed) {
    // a few milliseconds each without an EXIF thumbnail: the run takes a couple of seconds
    constexpr int kPhotos = 400;
    fs::create_directories(dir / "many");
    fs::copy_file(fs::path(FV_TESTDATA_DIR) / "photos/Reconyx_HC500_Hyperfire.jpg", dir / "photo.jpg");
    for (int i = 0; i < kPhotos; ++i) fs::create_hard_link(dir / "photo.jpg", dir / "many" / (std::to_string(1000 + i) + ".jpg"));
    fs::path cache = dir / "cache";
    const auto start = [&]() {
        const pid_t child = fork();
        if (child == 0) {
            setenv("XDG_DATA_HOME", Path("data").c_str(), 1);
            setenv("XDG_CONFIG_HOME", Path("config").c_str(), 1);
            setenv("FOLVANE_CACHE_SAVE_MS", "100", 1);
            freopen("/dev/null", "w", stdout);
            freopen("/dev/null", "w", stderr);
            if (cache.parent_path() == dir)
                execl(fvb.c_str(), fvb.c_str(), "thumbs", Path("many").c_str(), "--size", "96", "--threads", "1",
                      "--cache", cache.c_str(), static_cast<char*>(nullptr));
            else  // a folder of the library: the browser's own cache, through the engine
                execl(fvb.c_str(), fvb.c_str(), "thumbs", Path("many").c_str(), "--size", "96", "--threads", "1",
                      static_cast<char*>(nullptr));
            _exit(127);
        }
        return child;
    };
    // how many pictures the index on the disk names
    const auto indexCount = [&]() -> int {
        std::ifstream in(cache / "Cache.tdb", std::ios::binary);
        char head[20];
        if (!in.read(head, sizeof head)) return 0;
        const auto byte = [&](int i) { return static_cast<int>(static_cast<unsigned char>(head[16 + i])); };
        return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
    };
    const auto waitForIndex = [&](int atLeast) {
        for (int i = 0; i < 600 && indexCount() < atLeast; ++i) usleep(50 * 1000);
        return indexCount();
    };
    pid_t child = start();
    ASSERT_GT(child, 0);
    const int named = waitForIndex(20);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_GE(named, 20);
    ASSERT_LT(named, kPhotos) << "the run ended before it was killed; the test needs more photos";

    std::string out;
    ASSERT_EQ(Run("thumbs " + Path("many") + " --size 96 --threads 1 --cache " + cache.string(), out), 0) << out;
    int made = -1, cached = -1;
    const auto at = out.find("made ");
    ASSERT_NE(at, std::string::npos) << out;
    std::sscanf(out.c_str() + at, "made %d pictures", &made);
    const auto c = out.find(" already cached");
    ASSERT_NE(c, std::string::npos) << out;
    const auto from = out.rfind("; ", c);
    std::sscanf(out.c_str() + from + 2, "%d", &cached);
    EXPECT_GE(cached, named) << out;
    EXPECT_EQ(made + cached, kPhotos) << out;

    // SIGTERM: stopped, status 128 + 15, and every picture made so far is found by the next run
    fs::remove_all(cache);
    child = start();
    ASSERT_GT(child, 0);
    waitForIndex(20);
    kill(child, SIGTERM);
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
    const int atEnd = indexCount();
    ASSERT_EQ(Run("thumbs " + Path("many") + " --size 96 --threads 1 --cache " + cache.string(), out), 0) << out;
    EXPECT_TRUE(Has(out, std::to_string(atEnd) + " already cached")) << out;

    // the same in the library's own cache, whose index is saved under the library's item numbers
    ASSERT_EQ(Run("scan " + Path("many"), out), 0) << out;
    cache = Data();
    child = start();
    ASSERT_GT(child, 0);
    const int inLibrary = waitForIndex(20);
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_GE(inLibrary, 20);
    ASSERT_EQ(Run("thumbs " + Path("many") + " --size 96 --threads 1", out), 0) << out;
    EXPECT_TRUE(Has(out, "cache of the library")) << out;
    const auto libAt = out.find(" already cached");
    ASSERT_NE(libAt, std::string::npos) << out;
    int libCached = -1;
    std::sscanf(out.c_str() + out.rfind("; ", libAt) + 2, "%d", &libCached);
    EXPECT_GE(libCached, inLibrary) << out;
}

// HTTP is only for "fvb api": a scan must not pay for loading libcurl and its TLS, Kerberos and
// LDAP libraries (they cost more than the rescan of 10,000 photos)
TEST_F(FvbLibrary, AScanLoadsNoHttpLibrary) {
    std::string cmd = "XDG_DATA_HOME='" + Path("data") + "' XDG_CONFIG_HOME='" + Path("config") + "' LD_DEBUG=libs " +
                      fvb + " scan " + Path("photos") + " 2>&1 >/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string loaded;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) loaded.append(buf, n);
    int status = pclose(p);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << loaded;
    EXPECT_TRUE(Has(loaded, "libicuuc")) << "the loader's trace is missing:\n" << loaded;
    EXPECT_FALSE(Has(loaded, "libcurl"));
    EXPECT_FALSE(Has(loaded, "libssl"));
    EXPECT_FALSE(Has(loaded, "libgssapi"));
}

// Several workers walk the tree at once: whatever their number, a scan finds the same photos,
// the same loops, bad names and unreadable photos, and builds the same calendar.
TEST_F(FvbLibrary, AScanWithSeveralWorkersFindsWhatOneFinds) {
    for (int d = 0; d < 12; ++d) {
        fs::path sub = dir / "photos/deep" / ("d" + std::to_string(d)) / "inner";
        fs::create_directories(sub);
        fs::copy_file(fs::path(FV_TESTDATA_DIR) / "photos/Canon_40D.jpg", sub.parent_path() / "a.jpg");
        fs::copy_file(fs::path(FV_TESTDATA_DIR) / "photos/Nikon_D70.jpg", sub / ("b" + std::to_string(d) + ".jpg"));
    }
    fs::create_directory_symlink(dir / "photos", dir / "photos/deep/d3/up");  // a loop back to the top
    fs::create_directory_symlink(dir / "photos/deep/d5", dir / "photos/d5again");
    fs::copy_file(fs::path(FV_TESTDATA_DIR) / "photos/Canon_40D.jpg", dir / "photos/deep/bad\xff name.jpg");
    std::ofstream(dir / "photos/deep/d7/empty.jpg").flush();
    {
        std::ifstream in(fs::path(FV_TESTDATA_DIR) / "photos/Canon_40D.jpg", std::ios::binary);
        std::string head(300, '\0');
        in.read(head.data(), 300);
        std::ofstream(dir / "photos/deep/d8/cut.jpg", std::ios::binary) << head;
    }

    auto withoutTime = [](std::string json) {
        size_t at = json.find("\"seconds\":");
        if (at != std::string::npos) json.erase(at, json.find(',', at) - at);
        return json;
    };
    std::string one, many, out;
    EXPECT_EQ(Run("scan --json --threads 1 " + Path("photos"), one, "data1"), 1);  // the unreadable photos
    EXPECT_EQ(Run("scan --json --threads 4 " + Path("photos"), many, "data4"), 1);
    EXPECT_EQ(withoutTime(many), withoutTime(one));
    EXPECT_TRUE(Has(one, "\"files\":31,")) << one;  // 4 + 24 + bad name + empty + cut, d5 once
    EXPECT_TRUE(Has(one, "\"new\":31,")) << one;
    // the folder itself is read, the link to it skipped, however the workers ran
    EXPECT_TRUE(Has(one, "\"links_skipped\":[\"" + Path("photos/d5again") + "\",\"" + Path("photos/deep/d3/up") + "\"]")) << one;
    EXPECT_TRUE(Has(one, "empty.jpg")) << one;
    EXPECT_TRUE(Has(one, "cut.jpg")) << one;
    EXPECT_TRUE(Has(one, "bad")) << one;

    // the library of the parallel scan is complete: nothing new, changed or missing the next time
    EXPECT_EQ(Run("scan --json --threads 4 " + Path("photos"), out, "data4"), 1);
    EXPECT_TRUE(Has(out, "\"new\":0,\"changed\":0,\"missing\":0")) << out;
    std::string cal1, cal4;
    ASSERT_EQ(Run("calendar --json", cal1, "data1"), 0);
    ASSERT_EQ(Run("calendar --json", cal4, "data4"), 0);
    EXPECT_EQ(cal4, cal1);
    EXPECT_TRUE(Has(cal4, "\"year\":2008")) << cal4;  // the Canon 40D's day, twelve times over

    EXPECT_EQ(Run("scan --threads 0 " + Path("photos"), out, "data4"), 2);
    EXPECT_EQ(Run("scan --threads " + Path("photos"), out, "data4"), 2);
}
