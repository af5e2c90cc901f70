// The application information and the update against the stand-in service, in its fault modes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "appinfo_test_util.h"
#include "core/config.h"
#include "core/log.h"
#include "service/app_info.h"
#include "service/app_info_check.h"
#include "service/sha256.h"
#include "service/start_params.h"
#include "service/update.h"
#include "stand_in.h"

namespace fv {
namespace {

using testutil::ReadFileBytes;

class AppInfoService : public ::testing::Test {
protected:
    static TStandInService* gService;
    static void SetUpTestSuite() { gService = new TStandInService(std::string(FV_BINARY_DIR) + "/fvservice"); }
    static void TearDownTestSuite() {
        delete gService;
        gService = nullptr;
    }
    TStandInService& S() { return *gService; }

    testutil::TServiceTempDir Dir;
    std::string Data = TFolvaneConfigItem().GetDataFolder();

    void Reset() {
        S().Reset();
        S().Admin("/_admin/session", {{"id", "S1"}});
    }
    void SetUp() override {
        Reset();
        std::filesystem::remove_all(Data);
        std::filesystem::create_directories(Data);
        std::filesystem::create_directories(Dir.File("log"));
        OpenCorvaLog(Dir.File("log"));
        FVApiParams().Clear();
        FVApiParams().SetParams("sessionid=S1,getappinfourl=" + S().Base() + "/getAppInfo.php", true);
        TAppInfoEnvironment env = DefaultAppInfoEnvironment();
        env.ProgramFolder = Dir.Path();
        env.TestMode = true;  // the stand-in answers over plain http on loopback
        SetAppInfoEnvironment(env);
        ClearUpdateInfo();
    }
    void TearDown() override {
        ResetAppInfoEnvironment();
        FVApiParams().Clear();
        ClearUpdateInfo();
        CloseCorvaLog();
    }
    std::string Log() { return ReadFileBytes(CorvaLogFileName()); }
    std::string ErrorPage(const std::string& value) {
        return "file://" + Dir.Path() + "/docroot/error/index.html?value=" + value + "&code=&justafterupdate=false";
    }
};
TStandInService* AppInfoService::gService = nullptr;

TEST_F(AppInfoService, FromTheServiceThenFromTheCopyThenTheErrorPage) {
    ASSERT_TRUE(FVApi_CheckAppInfoEx());
    EXPECT_NE(Log().find("GetAppInfo succeeded from Internet."), std::string::npos) << Log();
    EXPECT_EQ(FVApiParams().Mode(), fvmDispPage);
    EXPECT_EQ(FVApiParams().BootUrl(), S().Base() + "/home/index.html");
    EXPECT_EQ(FVApiParams().BaseUrl(), S().Base() + "/api/");
    EXPECT_TRUE(std::filesystem::exists(Data + "/Config"));

    // the service withholds the document: the copy serves, whatever the fault
    for (auto fault : std::vector<std::vector<std::pair<std::string, std::string>>>{
             {{"status", "503"}}, {{"stray", "1"}}, {{"malformed", "1"}}, {{"drop", "1"}}, {{"error", "EE0100"}}}) {
        S().Fault("/getAppInfo.php", fault);
        FVApiParams().SetParams("sessionid=S1,getappinfourl=" + S().Base() + "/getAppInfo.php", true);
        TKSGetAppInfoItem item;
        EXPECT_TRUE(item.LoadInfoData(false, "")) << fault[0].first;
        EXPECT_EQ(item.Source(), TAppInfoSource::Local) << fault[0].first;
        Reset();
    }

    // nothing anywhere: the error page with the service's error
    std::filesystem::remove(Data + "/Config");
    S().Fault("/getAppInfo.php", {{"status", "500"}});
    FVApiParams().SetParams("sessionid=S1,getappinfourl=" + S().Base() + "/getAppInfo.php", true);
    ASSERT_TRUE(FVApi_CheckAppInfoEx());
    EXPECT_EQ(FVApiParams().BootUrl(), ErrorPage("requestFalied"));
    EXPECT_NE(Log().find("FVApi_CheckAppInfoEx.SetBootError( LoadInfoData Failed )"), std::string::npos);
}

// a service that accepts and never answers, or trickles its answer: the copy within the start's budget
TEST_F(AppInfoService, SilentOrTricklingServiceGivesWayInBoundedTime) {
    ASSERT_TRUE(FVApi_CheckAppInfoEx());
    for (auto fault : std::vector<std::vector<std::pair<std::string, std::string>>>{{{"hang", "1"}, {"hang_ms", "30000"}},
                                                                                    {{"rate", "1"}}}) {
        S().Fault("/getAppInfo.php", fault);
        auto start = std::chrono::steady_clock::now();
        TKSGetAppInfoItem item;
        EXPECT_TRUE(item.LoadInfoData(false, ""));
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(item.Source(), TAppInfoSource::Local);
        EXPECT_LT(s, 12.0) << fault[0].first;
        Reset();
    }
}

TEST_F(AppInfoService, UpdateRunsTheStandInsInstallerOnlyWithTheRightDigest) {
    // the installer's digest as the service announces it
    THttpClient c;
    TMemoryStream script;
    ASSERT_EQ(c.Get(S().Base() + "/installer/fvb-test-installer.sh", script), 200);
    std::string digest = Sha256Hex(script.Data().data(), script.Data().size());
    auto announce = [&](const std::string& sha) {
        S().Admin("/_admin/appinfo",
                  {{"doc", "<getAppInfo_response ver=\"1\"><baseurl src=\"{base}/api/\"/><getappinfourl src=\"{base}/getAppInfo.php\"/>"
                           "<getinstallerurl src=\"{base}/installer/fvb-test-installer.sh?channel=test\" sha256=\"" +
                               sha + "\"/><localwakeup><procs><networkcheck><online><setmode value=\"disppage\"/>"
                                     "</online></networkcheck></procs></localwakeup>"
                                     "<updatemessages><dialog src=\"{base}/update/message.html\"/><button type=\"yes,no\"/>"
                                     "</updatemessages></getAppInfo_response>"}});
    };
    TUpdateEnvironment env;
    env.DataFolder = Data;
    env.Version = "1.0.0";
    env.HasCommandLineParams = [] { return false; };
    env.TrustedOrigins = {UrlOrigin(S().Base())};
    env.AllowPlainHttpLoopback = true;
    env.Download = DefaultUpdateEnvironment().Download;
    env.Spawn = DefaultUpdateEnvironment().Spawn;
    std::string asked;
    env.Confirm = [&](const std::string& url, int32_t, int32_t, bool, uint32_t buttons) {
        asked = FetchUpdateMessage(env, url);
        return buttons == (ubYes | ubNo);
    };

    announce(std::string(64, 'f'));  // tampered digest: refused
    ASSERT_TRUE(FVApi_CheckAppInfoEx());
    EXPECT_FALSE(CheckNeedUpdate(env));
    EXPECT_FALSE(std::filesystem::exists(Data + "/FVBUpdater.exe"));

    announce(digest);
    ASSERT_TRUE(FVApi_CheckAppInfoEx());
    ASSERT_TRUE(CheckNeedUpdate(env)) << Log();
    EXPECT_NE(asked.find("1.0.0"), std::string::npos);  // the versioned message page
    // the installer runs on its own: its shell creates the marker before it writes the line, so
    // wait for the whole line (a bound for a loaded machine, not a timing)
    std::string marker = Data + "/installer-ran.marker";
    const std::string expected = "/s /v\" /passive /l* update.log\"\n";
    std::string got;
    for (int i = 0; i < 3000; ++i) {
        if (std::filesystem::exists(marker) && (got = ReadFileBytes(marker)) == expected) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(got, expected);
    std::string log = Log();
    EXPECT_NE(log.find("SHA-256"), std::string::npos);
    EXPECT_NE(log.find("Start Updater Successed."), std::string::npos);

    // over the cap: refused, nothing left behind
    std::filesystem::remove(Data + "/FVBUpdater.exe");
    env.MaxInstallerBytes = 100;
    announce("");
    ASSERT_TRUE(FVApi_CheckAppInfoEx());
    EXPECT_FALSE(CheckNeedUpdate(env));
    EXPECT_FALSE(std::filesystem::exists(Data + "/FVBUpdater.exe"));
    EXPECT_FALSE(std::filesystem::exists(Data + "/FVBUpdater.exe.part"));
    // plain http outside the test mode: refused before any transfer
    env.MaxInstallerBytes = kMaxInstallerBytes;
    env.AllowPlainHttpLoopback = false;
    EXPECT_FALSE(CheckNeedUpdate(env));
    EXPECT_NE(Log().find("not an https URL"), std::string::npos);
}

}  // namespace
}  // namespace fv
