#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/log.h"
#include "platform/datetime.h"
#include "platform/stream.h"
#include "temp_dir.h"

using namespace fv;
namespace fs = std::filesystem;

namespace {
using fv::test::ReadFileText;

struct LogFolder : fv::test::TTempDirTest {
    const char* DirPrefix() const override { return "fv-log-"; }
    void TearDown() override {
        CloseCorvaLog();
        TTempDirTest::TearDown();
    }
};
}  // namespace

TEST_F(LogFolder, BannersAndEntriesHaveTheExactLayout) {
    SetLogCommandLine("/usr/bin/folvane-browser a=1");
    WriteLog("dropped before the log is open");
    OpenCorvaLog(dir.string());
    ASSERT_TRUE(IsCorvaLogOpen());
    std::string path = CorvaLogFileName();
    EXPECT_EQ(fs::path(path).filename().string(), FormatDateCompact(Now()) + ".log");
    WriteLog("");  // nothing
    WriteLogText("Label", "text");
    WriteLogFailed("TThing.Do", EReadError("Stream read error"));
    CloseCorvaLog();
    WriteLog("dropped after close");

    std::string s = ReadFileText(path);
    std::string slashes(60, '/'), dashes(41, '-');
    ASSERT_EQ(s.rfind("\r\n\r\n" + slashes + "\r\n", 0), 0u) << s;
    EXPECT_NE(s.find("\r\nSTART\r\n/usr/bin/folvane-browser a=1\r\n" + dashes + "\r\n"), std::string::npos);
    EXPECT_NE(s.find("\r\nLabel : text\r\n"), std::string::npos);
    EXPECT_NE(s.find("\r\nTThing.Do is Failed. ( EReadError Raised ( Stream read error ) )\r\n"), std::string::npos);
    EXPECT_NE(s.find("\r\nEND\r\n" + slashes + "\r\n"), std::string::npos);
    EXPECT_EQ(s.find("dropped"), std::string::npos);
    EXPECT_EQ(s.size() - s.rfind("END\r\n" + slashes + "\r\n"), 5 + 62u);  // END banner closes the file

    // a second run on the same day appends its own START after two empty lines
    OpenCorvaLog(dir.string());
    CloseCorvaLog();
    std::string s2 = ReadFileText(path);
    EXPECT_EQ(s2.substr(0, s.size()), s);
    EXPECT_EQ(s2.substr(s.size(), 4 + 60), "\r\n\r\n" + slashes);
}

TEST_F(LogFolder, OpeningPrunesToSevenOlderFiles) {
    for (int d = 1; d <= 10; ++d) {
        char name[32];
        std::snprintf(name, sizeof name, "200001%02d.log", d);
        std::ofstream(dir / name) << "x";
    }
    std::ofstream(dir / "notes.txt") << "kept";
    OpenCorvaLog(dir.string());
    CloseCorvaLog();
    int logs = 0;
    for (auto& e : fs::directory_iterator(dir))
        if (e.path().extension() == ".log") ++logs;
    EXPECT_EQ(logs, 8);
    EXPECT_FALSE(fs::exists(dir / "20000103.log"));
    EXPECT_TRUE(fs::exists(dir / "20000104.log"));
    EXPECT_TRUE(fs::exists(dir / "notes.txt"));
}

TEST_F(LogFolder, MissingFolderOpensNothing) {
    OpenCorvaLog((dir / "absent").string());
    EXPECT_FALSE(IsCorvaLogOpen());
}
