#include "service/update.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "appinfo_test_util.h"
#include "core/log.h"
#include "service/app_info.h"
#include "service/sha256.h"

namespace fv {
namespace {

using testutil::ReadFileBytes;
using testutil::WriteFileBytes;

TEST(Sha256, PublishedVectors) {
    EXPECT_EQ(Sha256Hex("", 0), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc", 3), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Sha256Hex(two.data(), two.size()), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // the same bytes fed in uneven pieces
    std::string million(1000000, 'a');
    TSha256 h;
    for (size_t at = 0; at < million.size();) {
        size_t n = std::min<size_t>(million.size() - at, 1 + at % 97);
        h.Update(million.data() + at, n);
        at += n;
    }
    EXPECT_EQ(h.FinalHex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(UpdateUrls, OriginsAndRefusals) {
    EXPECT_EQ(UrlOrigin("HTTPS://Svc.Example/x?y"), "https://svc.example:443");
    EXPECT_EQ(UrlOrigin("http://127.0.0.1:8080"), "http://127.0.0.1:8080");
    EXPECT_EQ(UrlOrigin("http://[::1]:99/a"), "http://[::1]:99");
    for (const char* bad : {"ftp://x/y", "https://user@svc.example/", "https://", "https://h:0/", "https://h:99999/",
                            "https://h:1a/", "file:///etc/passwd", "svc.example/x"})
        EXPECT_EQ(UrlOrigin(bad), "") << bad;

    TUpdateEnvironment env;
    env.TrustedOrigins = {"https://svc.example:443", "http://127.0.0.1:8080"};
    EXPECT_EQ(InstallerUrlRefusal("https://svc.example/inst?n=1", env), "");
    EXPECT_NE(InstallerUrlRefusal("https://evil.example/inst", env), "");
    EXPECT_NE(InstallerUrlRefusal("https://svc.example:8443/inst", env), "");
    EXPECT_NE(InstallerUrlRefusal("http://127.0.0.1:8080/inst", env), "");  // plain http outside test mode
    env.AllowPlainHttpLoopback = true;
    EXPECT_EQ(InstallerUrlRefusal("http://127.0.0.1:8080/inst", env), "");
    EXPECT_NE(InstallerUrlRefusal("http://svc.example/inst", env), "");

    EXPECT_EQ(VersionedInstallerUrl("https://s/i?n=1", "1.2.3"), "https://s/i?n=1&version=1.2.3");
    EXPECT_EQ(VersionedMessageUrl("https://s/m.html", "1.2.3"), "https://s/m.html?version=1.2.3");
    EXPECT_EQ(VersionedInstallerUrl("", "1"), "");
    EXPECT_EQ(UpdaterParameters(), "/s /v\" /passive /l* update.log\"");
}

class Update : public ::testing::Test {
protected:
    testutil::TServiceTempDir Dir;
    std::string Installer = "#!/bin/sh\necho ran \"$@\" > \"$(dirname \"$0\")/marker\"\n";
    bool Params = false;
    bool Answer = true;
    int Downloads = 0, Confirms = 0;
    std::string DownloadedUrl;
    std::vector<std::string> Started;

    TUpdateEnvironment Env() {
        TUpdateEnvironment env;
        env.DataFolder = Dir.Path();
        env.Version = "1.0.0";
        env.HasCommandLineParams = [this] { return Params; };
        env.TrustedOrigins = {"https://svc.example:443"};
        env.MaxInstallerBytes = 4096;
        env.Download = [this](const std::string& url, const std::string& path, int64_t max, std::string& error) {
            ++Downloads;
            DownloadedUrl = url;
            if (static_cast<int64_t>(Installer.size()) > max) {
                error = "too large";
                return false;
            }
            WriteFileBytes(path, Installer);
            return true;
        };
        env.Confirm = [this](const std::string& url, int32_t, int32_t, bool, uint32_t) {
            ++Confirms;
            EXPECT_EQ(url, "https://svc.example/msg.html?version=1.0.0");
            return Answer;
        };
        env.Spawn = [this](const std::vector<std::string>& argv, std::string&) {
            Started = argv;
            return true;
        };
        return env;
    }
    std::string Updater() { return Dir.File(kUpdaterFileName); }
    void SetUp() override {
        ClearUpdateInfo();
        SetUpdateInfo("https://svc.example/inst?n=1", "https://svc.example/msg.html", 300, 200, false, ubYes | ubNo);
    }
    void TearDown() override {
        ClearUpdateInfo();
        CloseCorvaLog();
    }
};

TEST_F(Update, DownloadedCheckedConfirmedAndStarted) {
    std::filesystem::create_directories(Dir.File("log"));
    OpenCorvaLog(Dir.File("log"));
    SetUpdateInstallerDigest(Sha256Hex(Installer.data(), Installer.size()));
    ASSERT_TRUE(CheckNeedUpdate(Env()));
    EXPECT_EQ(DownloadedUrl, "https://svc.example/inst?n=1&version=1.0.0");
    ASSERT_EQ(Started.size(), 3u);
    EXPECT_EQ(Started[0], Updater());
    struct stat st {};
    ASSERT_EQ(::stat(Updater().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(ReadFileBytes(Updater()), Installer);
    std::string log = ReadFileBytes(CorvaLogFileName());
    EXPECT_NE(log.find("Start Updater Successed."), std::string::npos);
    EXPECT_NE(log.find("      Updater Path : " + Updater()), std::string::npos);
    EXPECT_NE(log.find("      Updater Param: /s /v\" /passive /l* update.log\""), std::string::npos);

    // the left-over updater blocks one run and is removed
    Downloads = 0;
    EXPECT_FALSE(CheckNeedUpdate(Env()));
    EXPECT_EQ(Downloads, 0);
    EXPECT_FALSE(std::filesystem::exists(Updater()));
}

TEST_F(Update, RefusedInstallersAreNeverStarted) {
    std::filesystem::create_directories(Dir.File("log"));
    OpenCorvaLog(Dir.File("log"));
    Params = true;  // started by the service: no download
    EXPECT_FALSE(CheckNeedUpdate(Env()));
    EXPECT_EQ(Downloads, 0);
    Params = false;

    SetUpdateInstallerDigest(std::string(64, '0'));  // differs
    EXPECT_FALSE(CheckNeedUpdate(Env()));
    SetUpdateInstallerDigest("xyz");  // malformed: not "none given"
    EXPECT_FALSE(CheckNeedUpdate(Env()));
    SetUpdateInstallerDigest("");
    Installer = std::string(5000, 'x');  // over the cap
    EXPECT_FALSE(CheckNeedUpdate(Env()));
    Installer = "#!/bin/sh\n";
    SetUpdateInfo("https://evil.example/inst?n=1", "https://svc.example/msg.html", 0, 0, false, ubOk);
    int before = Downloads;
    EXPECT_FALSE(CheckNeedUpdate(Env()));
    EXPECT_EQ(Downloads, before);  // refused before any transfer
    SetUpdateInfo("", "https://svc.example/msg.html", 0, 0, false, ubOk);
    EXPECT_FALSE(CheckNeedUpdate(Env()));
    EXPECT_TRUE(Started.empty());
    EXPECT_FALSE(std::filesystem::exists(Updater()));
    EXPECT_FALSE(std::filesystem::exists(Updater() + ".part"));

    SetUpdateInfo("https://svc.example/inst?n=1", "https://svc.example/msg.html", 0, 0, false, ubYes);
    Answer = false;
    EXPECT_FALSE(CheckNeedUpdate(Env()));
    EXPECT_EQ(Confirms, 1);
    EXPECT_TRUE(Started.empty());
    std::string log = ReadFileBytes(CorvaLogFileName());
    EXPECT_NE(log.find("Updater is not Exists."), std::string::npos);
    EXPECT_NE(log.find("Update is Aborted."), std::string::npos);
    EXPECT_NE(log.find("SHA-256"), std::string::npos);
}

TEST_F(Update, TheRealStarterRunsTheScriptWithoutAShell) {
    TUpdateEnvironment env = Env();
    env.Spawn = DefaultUpdateEnvironment().Spawn;
    ASSERT_TRUE(CheckNeedUpdate(env));
    std::string marker = Dir.File("marker");
    // the script's shell creates the file before it writes the line: wait for the whole line,
    // with a bound meant for a loaded machine
    const std::string expected = "ran /s /v\" /passive /l* update.log\"\n";
    std::string got;
    for (int i = 0; i < 1000; ++i) {
        if (std::filesystem::exists(marker)) {
            got = ReadFileBytes(marker);
            if (got == expected) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(got, expected);
}

// Outside the stand-in's test mode a start parameter's origin is never recorded nor trusted as an
// installer source, and a plain-http application-information URL is neither fetched nor kept.
TEST(UpdateOrigins, OnlyBuiltInOriginsOutsideTestMode) {
    unsetenv("FV_SERVICE_TEST_MODE");
    const std::vector<std::string> builtIn = TrustedServiceOrigins();
    RecordServiceOrigin("https://elsewhere.example/getAppInfo.php");
    RecordServiceOrigin("http://127.0.0.1:8080/getAppInfo.php");
    EXPECT_EQ(TrustedServiceOrigins(), builtIn);
    TUpdateEnvironment env = DefaultUpdateEnvironment();
    EXPECT_FALSE(env.AllowPlainHttpLoopback);
    EXPECT_FALSE(InstallerUrlRefusal("https://elsewhere.example/setup.sh", env).empty());
    EXPECT_FALSE(InstallerUrlRefusal("http://127.0.0.1:8080/setup.sh", env).empty());
    EXPECT_TRUE(InstallerUrlRefusal(builtIn.front() + "/setup.sh", env).empty());
    EXPECT_TRUE(PlainHttpRefused("http://svc.example/getAppInfo.php", false));
    EXPECT_TRUE(PlainHttpRefused("HTTP://127.0.0.1:8080/getAppInfo.php", false));
    EXPECT_FALSE(PlainHttpRefused("https://svc.example/getAppInfo.php", false));

    // in test mode the loopback stand-in is recorded and trusted, nothing else
    setenv("FV_SERVICE_TEST_MODE", "1", 1);
    RecordServiceOrigin("https://elsewhere.example/getAppInfo.php");
    EXPECT_EQ(TrustedServiceOrigins(), builtIn);
    EXPECT_FALSE(PlainHttpRefused("http://127.0.0.1:8080/getAppInfo.php", true));
    EXPECT_TRUE(PlainHttpRefused("http://svc.example/getAppInfo.php", true));
    RecordServiceOrigin("http://127.0.0.1:8080/getAppInfo.php");
    EXPECT_EQ(TrustedServiceOrigins().size(), builtIn.size() + 1);
    unsetenv("FV_SERVICE_TEST_MODE");
    EXPECT_EQ(TrustedServiceOrigins(), builtIn);
}

}  // namespace
}  // namespace fv
