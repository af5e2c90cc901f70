#include "service/app_info_check.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "appinfo_test_util.h"
#include "core/log.h"
#include "platform/ui_dispatch.h"
#include "service/start_params.h"
#include "service/update.h"

namespace fv {
namespace {

const char* kDoc = R"(<getAppInfo_response ver="1">
  <baseurl src="https://svc.example/api/"/><getappinfourl src="https://svc.example/getAppInfo.php"/>
  <getinstallerurl src="https://svc.example/inst?n=1" sha256="00"/>
  <helpurl src="file://help/index.html"/><remotephotourl src="https://photo.example/"/>
  <logurl src="https://svc.example/log.php" longsessionid="LS9"/>
  <initialparams><pictoriumcashmax kbyes="infinity"/></initialparams>
  <localwakeup><procs><networkcheck><online><setmode value="%MODE%"><parameter name="url" value="https://svc.example/home"/></setmode></online></networkcheck></procs></localwakeup>
  <uis><toolbar name="folvanetray" disp="disable"/><menu name="debug" disp="enable"/></uis>
  <updatemessages><dialog src="https://svc.example/msg.html" width="320" height="240"/><button type="ok,cancel"/></updatemessages>
</getAppInfo_response>)";

class CheckAppInfo : public ::testing::Test {
protected:
    testutil::TServiceTempDir Dir;
    std::string Body;
    TAppInfoFetchResult Answer{true, "Successed", ""};
    std::string LogUrl, LogSession, AskedWith;

    void Use(const std::string& mode) {
        Body = kDoc;
        Body.replace(Body.find("%MODE%"), 6, mode);
        TAppInfoEnvironment env;
        env.ProgramFolder = Dir.File("prog");
        env.DataFolder = Dir.File("data");
        env.KeyText = "k";
        env.AppInfoUrl = [] { return FVApiParams().AppInfoUrl(); };
        env.TestMode = true;
        env.Fetch = [this](const std::string& lsid, TStream& dest) {
            AskedWith = lsid;
            dest.WriteBuffer(Body.data(), static_cast<int64_t>(Body.size()));
            return Answer;
        };
        env.VersionChanged = [] { return false; };
        SetAppInfoEnvironment(env);
        SetUploadLogLink({[] { return std::string("mine"); },
                          [this](const std::string& url, const std::string& lsid) {
                              LogUrl = url;
                              LogSession = lsid;
                          }});
    }
    void SetUp() override {
        FVApiParams().Clear();
        ClearUpdateInfo();
    }
    void TearDown() override {
        ResetAppInfoEnvironment();
        SetUploadLogLink({});
        FVApiParams().Clear();
        ClearUpdateInfo();
    }
};

TEST_F(CheckAppInfo, DocumentValuesReachTheStartParametersAndTheUpdate) {
    Use("disppage");
    ASSERT_TRUE(FVApi_CheckAppInfoEx());
    EXPECT_EQ(AskedWith, "mine");
    TFVApiParamsValues v = FVApiParams().Values();
    EXPECT_EQ(v.Mode, fvmDispPage);
    EXPECT_EQ(v.BaseUrl, "https://svc.example/api/");
    EXPECT_EQ(v.BootUrl, "https://svc.example/home");
    EXPECT_EQ(v.HelpUrl, Dir.File("prog/docroot/help/index.html"));
    EXPECT_EQ(v.RemotePhotoUrl, "https://photo.example/");
    EXPECT_EQ(v.PictoriumCacheMax, -1);
    EXPECT_TRUE(v.DebugMode);
    EXPECT_FALSE(v.DebugInfoAllowed);
    EXPECT_EQ(LogUrl, "https://svc.example/log.php");
    EXPECT_EQ(LogSession, "LS9");
    TUpdateInfo u = GetUpdateInfo();
    EXPECT_EQ(u.InstallerUrl, "https://svc.example/inst?n=1");
    EXPECT_EQ(u.MessageUrl, "https://svc.example/msg.html");
    EXPECT_EQ(u.Width, 320);
    EXPECT_EQ(u.Buttons, uint32_t(ubOk | ubCancel));
    EXPECT_EQ(u.InstallerSha256, "00");
}

TEST_F(CheckAppInfo, FailuresBecomeTheLocalErrorPage) {
    Use("nosuchmode");  // no start mode anywhere: error page of type "exception"
    ASSERT_TRUE(FVApi_CheckAppInfoEx());
    EXPECT_EQ(FVApiParams().Mode(), fvmDispPage);
    EXPECT_EQ(FVApiParams().BootUrl(),
              "file://" + Dir.File("prog/docroot/error/index.html") + "?value=exception&code=&justafterupdate=false");

    std::filesystem::remove_all(Dir.File("data"));
    FVApiParams().Clear();
    Use("disppage");
    Answer = {false, "socketeEror", "ES0001"};
    ASSERT_TRUE(FVApi_CheckAppInfoEx());
    EXPECT_EQ(FVApiParams().BootUrl(),
              "file://" + Dir.File("prog/docroot/error/index.html") + "?value=socketeEror&code=&justafterupdate=false");
}

// the stage keeps the calling (UI) thread free while the service is slow
TEST_F(CheckAppInfo, StageRunsOffTheUiThread) {
    Use("disppage");
    TAppInfoEnvironment env = CurrentAppInfoEnvironment();
    auto inner = env.Fetch;
    env.Fetch = [inner](const std::string& l, TStream& d) {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        return inner(l, d);
    };
    SetAppInfoEnvironment(env);
    TQueueDispatcher ui;
    SetUiDispatcher(&ui);
    std::atomic<bool> stop{false};
    std::atomic<int> ran{0};
    std::thread poster([&] {
        while (!stop) {
            ui.RunOnUiThread([&] { ++ran; }, false);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    TStartupHooks hooks;
    InstallAppInfoHooks(hooks, {});
    EXPECT_TRUE(hooks.CheckAppInfo());
    stop = true;
    poster.join();
    SetUiDispatcher(nullptr);
    EXPECT_GE(ran.load(), 5);  // calls queued for the UI thread ran while the document was on its way
    EXPECT_EQ(FVApiParams().Mode(), fvmDispPage);
}

}  // namespace
}  // namespace fv
