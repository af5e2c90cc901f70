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

TEST_F(LogFolder, SessionIdsNeverReachTheLogInClearAndOnlyWeReadIt) {
    const std::string secret = "S3cr3tSessionValue42";
    SetLogCommandLine("/usr/bin/folvane-browser \"Mode=boot,SessionId=" + secret + ",FolvaneId=7\"");
    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    std::string path = (dir / (FormatDateCompact(Now()) + ".log")).string();
    std::ofstream(path) << "";  // an older run's file, world-readable
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::others_read);
    OpenCorvaLog(dir.string());
    // forwarded parameters, in any case, quoted, in a URL query, and a line already masked
    WriteLogText("TFolvaneMain2.WMCopyData", "\"mode=close\",\"SESSIONID=" + secret + "\"");
    WriteLogText("Url", "https://example.test/p?a=1&sessionid=" + secret + "&b=2");
    WriteLog("Params( Mode=boot : SessionID=" + MaskSessionId(secret) + " : AppInfoUrl= )");
    CloseCorvaLog();
    std::string s = ReadFileText(path);
    EXPECT_EQ(s.find(secret), std::string::npos) << s;
    EXPECT_NE(s.find("\"Mode=boot,SessionId=S3cr***,FolvaneId=7\"\r\n"), std::string::npos) << s;
    EXPECT_NE(s.find("\"SESSIONID=S3cr***\"\r\n"), std::string::npos) << s;
    EXPECT_NE(s.find("&sessionid=S3cr***&b=2\r\n"), std::string::npos) << s;
    EXPECT_NE(s.find("SessionID=S3cr*** : AppInfoUrl="), std::string::npos) << s;
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(dir).permissions() & fs::perms::all, fs::perms::owner_all);

    EXPECT_EQ(MaskLoggedParams("no secrets here"), "no secrets here");
    EXPECT_EQ(MaskLoggedParams("SessionId="), "SessionId=");
    EXPECT_EQ(MaskLoggedParams("a,sessionid=abcd"), "a,sessionid=ab***");
}
