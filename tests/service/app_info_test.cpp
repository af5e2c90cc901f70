#include "service/app_info.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "appinfo_test_util.h"
#include "core/log.h"
#include "service/file_encryption.h"

namespace fv {
namespace {

using testutil::ReadFileBytes;
using testutil::WriteFileBytes;

const char* kDoc = R"(<?xml version="1.0" encoding="UTF-8"?>
<getAppInfo_response ver="2.1">
  <baseurl src="https://svc.example/api/"/>
  <getappinfourl src="https://svc.example/getAppInfo.php"/>
  <getinstallerurl src="https://svc.example/installer?name=fvb" sha256="ABCDEF"/>
  <networkcheck value="Disable" offlineannounceurl="offline/index.html?from=app"/>
  <helpurl src="file://help/index.html"/>
  <logurl src="https://svc.example/log.php" longsessionid="L123"/>
  <remotephotourl src="https://photo.example/"/>
  <initialparams><pictoriumcashmax kbyes="2048"/></initialparams>
  <errormessages>
    <type value="networkError" src="file://error/network.html"/>
    <TYPE value="socketeEror" code="ES0001" src="file://error/socket.html"/>
    <type value="gone" code="1" src="file://error/gone.html"/>
    <type value="gone" code="1" src=""/>
    <type value="evil" src="file://../../../etc/passwd"/>
  </errormessages>
  <localwakeup><procs>
    <message/>
    <networkcheck><Online><SetMode value="disppage"><Parameter name="URL" value="https://svc.example/home"/></SetMode></Online>
      <offline><dialog kind="1"><message>x</message></dialog></offline></networkcheck>
    <exit/>
  </procs></localwakeup>
  <uis><menu name="debug" disp="enable"/><toolbar name="FolvaneTray" disp="Hidden"/><toolbar name="tab" disp="odd"/></uis>
  <updatemessages><dialog src="https://svc.example/update.html" width="400" height="99999"/><vistaonly>true</vistaonly>
    <button type="YesNo"/></updatemessages>
</getAppInfo_response>)";

class AppInfo : public ::testing::Test {
protected:
    testutil::TServiceTempDir Dir;
    std::string Url;
    int Fetches = 0;
    TAppInfoFetchResult Answer{true, "Successed", ""};
    std::string Body = kDoc;
    bool Changed = false;
    int Stored = 0;

    TAppInfoEnvironment Env() {
        TAppInfoEnvironment env;
        env.ProgramFolder = Dir.File("prog");
        env.DataFolder = Dir.File("data/Data");
        env.KeyText = AppInfoKeyText("host", "user");
        env.AppInfoUrl = [this] { return Url; };
        env.TestMode = true;  // the documents stand in for a loopback service
        env.Fetch = [this](const std::string&, TStream& dest) {
            ++Fetches;
            dest.WriteBuffer(Body.data(), static_cast<int64_t>(Body.size()));
            return Answer;
        };
        env.VersionChanged = [this] { return Changed; };
        env.StoreSuccessedVersion = [this] { ++Stored; };
        return env;
    }
    std::string Docroot() { return Dir.File("prog/docroot"); }
    std::string Copy() { return Dir.File("data/Data/Config"); }
    void SetUp() override { std::filesystem::create_directories(Docroot() + "/error"); }
    void TearDown() override { CloseCorvaLog(); }
};

TEST_F(AppInfo, SourcesInOrderWithTheirLogLines) {
    std::filesystem::create_directories(Dir.File("log"));
    OpenCorvaLog(Dir.File("log"));
    {  // the service answers: its document is taken and kept as the local copy
        TKSGetAppInfoItem item(Env());
        ASSERT_TRUE(item.LoadInfoData(false, "L"));
        EXPECT_EQ(item.Source(), TAppInfoSource::Internet);
        EXPECT_EQ(Stored, 1);
        struct stat st {};
        ASSERT_EQ(::stat(Copy().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
    }
    {  // silent service: the local copy
        Answer = {false, "socketeEror", "ES0001"};
        TKSGetAppInfoItem item(Env());
        ASSERT_TRUE(item.LoadInfoData(false, ""));
        EXPECT_EQ(item.Source(), TAppInfoSource::Local);
        EXPECT_EQ(item.BaseUrl(), "https://svc.example/api/");
    }
    {  // local only never asks the service
        int before = Fetches;
        TKSGetAppInfoItem item(Env());
        EXPECT_TRUE(item.LoadInfoData(true, ""));
        EXPECT_EQ(Fetches, before);
    }
    {  // a copy written for another user does not read back; the error of the service stays
        TKSGetAppInfoItem other([this] {
            auto e = Env();
            e.KeyText = AppInfoKeyText("host", "other");
            return e;
        }());
        EXPECT_FALSE(other.LoadInfoData(false, ""));
        EXPECT_EQ(other.LastError(), "socketeEror");
        EXPECT_EQ(other.LastErrorCode(), "ES0001");
    }
    {  // a docroot default wins over everything, and the service is not asked
        WriteFileBytes(Docroot() + "/default.xml", kDoc);
        Url = "file://default.xml";
        int before = Fetches;
        TKSGetAppInfoItem item(Env());
        ASSERT_TRUE(item.LoadInfoData(false, ""));
        EXPECT_EQ(item.Source(), TAppInfoSource::LocalDefault);
        EXPECT_EQ(Fetches, before);
        Url.clear();
    }
    std::filesystem::remove(Copy());
    TKSGetAppInfoItem none(Env());
    EXPECT_FALSE(none.LoadInfoData(false, ""));
    std::string log = ReadFileBytes(CorvaLogFileName());
    size_t a = log.find("GetAppInfo succeeded from Internet.");
    size_t b = log.find("GetAppInfo succeeded From Local.");
    size_t c = log.find("GetAppInfo succeeded from Local Default.");
    size_t d = log.rfind("GetAppInfo Failed.");
    EXPECT_TRUE(a < b && b < c && c < d) << log;
}

// a document over plain http (not the loopback stand-in in test mode) is not asked for and not kept
TEST_F(AppInfo, PlainHttpDocumentIsNeverTakenNorStored) {
    std::filesystem::remove(Copy());
    for (const char* url : {"http://svc.example/getAppInfo.php", "http://127.0.0.1:8080/getAppInfo.php"}) {
        Url = url;
        auto env = Env();
        env.TestMode = false;
        TKSGetAppInfoItem item(env);
        EXPECT_FALSE(item.LoadInfoData(false, ""));
        EXPECT_EQ(Fetches, 0);
        EXPECT_EQ(item.LastErrorCode(), "ES0002");
        EXPECT_FALSE(std::filesystem::exists(Copy())) << url;
    }
    Url = "http://127.0.0.1:8080/getAppInfo.php";
    TKSGetAppInfoItem stand(Env());  // test mode: the loopback stand-in is taken
    EXPECT_TRUE(stand.LoadInfoData(false, ""));
    EXPECT_EQ(Fetches, 1);
    EXPECT_TRUE(std::filesystem::exists(Copy()));
    Url.clear();
}

TEST_F(AppInfo, DocumentsThatAreNotOursFallBackToTheCopy) {
    {
        TKSGetAppInfoItem item(Env());
        ASSERT_TRUE(item.LoadInfoData(false, ""));
    }
    const std::string bad[] = {
        R"(<getAppInfo_response><baseurl src="x"/></getAppInfo_response>)",  // no "ver"
        R"(<error ver="1"><code>1</code></error>)",
        R"(<getAppInfo_response ver="1"><unclosed></getAppInfo_response>)",
        "",
        std::string("<getAppInfo_response ver=\"1\">") + std::string(kAppInfoMaxBytes, ' ') + "</getAppInfo_response>",
    };
    for (const std::string& b : bad) {
        Body = b;
        TKSGetAppInfoItem item(Env());
        ASSERT_TRUE(item.LoadInfoData(false, ""));
        EXPECT_EQ(item.Source(), TAppInfoSource::Local);
        EXPECT_EQ(item.BaseUrl(), "https://svc.example/api/");
    }
    // a damaged copy is absent, and the last error says why the service gave nothing
    std::string copy = ReadFileBytes(Copy());
    for (size_t cut : {size_t(100), size_t(170), copy.size() - 1}) {
        WriteFileBytes(Copy(), copy.substr(0, cut));
        TKSGetAppInfoItem item(Env());
        EXPECT_FALSE(item.LoadInfoData(false, ""));
        EXPECT_EQ(item.LastError(), "exception");
        EXPECT_EQ(item.LastErrorCode(), "EE0100");
    }
    std::string flipped = copy;
    flipped[200] ^= 0x55;  // a changed block garbles the text or its pad
    WriteFileBytes(Copy(), flipped);
    Answer = {false, "requestFalied", "ER1000"};
    TKSGetAppInfoItem item(Env());
    EXPECT_FALSE(item.LoadInfoData(false, ""));
}

TEST_F(AppInfo, ValuesOfTheDocument) {
    TKSGetAppInfoItem item(Env());
    ASSERT_TRUE(item.LoadInfoData(false, ""));
    EXPECT_EQ(item.Ver(), "2.1");
    EXPECT_EQ(item.InstallerUrl(), "https://svc.example/installer?name=fvb");
    EXPECT_EQ(item.InstallerSha256(), "abcdef");
    EXPECT_FALSE(item.NetworkCheck());
    EXPECT_EQ(item.HelpUrl(), Docroot() + "/help/index.html");
    EXPECT_EQ(item.LogUrl(), "https://svc.example/log.php");
    EXPECT_EQ(item.LongSessionId(), "L123");
    EXPECT_EQ(item.RemotePhotoUrl(), "https://photo.example/");
    EXPECT_EQ(item.PictoriumCacheMax(), 2048);
    EXPECT_EQ(item.Switch(swDebugMenu), uisEnable);
    EXPECT_EQ(item.Switch(swDebugInfo), uisHidden);
    EXPECT_EQ(item.Switch(swFolvaneTray), uisHidden);
    EXPECT_EQ(item.Switch(swTab), uisEnable);  // "odd" leaves it
    TAppInfoUpdateMessage um = item.UpdateMessage();
    EXPECT_EQ(um.Src, "https://svc.example/update.html");
    EXPECT_EQ(um.Width, 400);
    EXPECT_EQ(um.Height, 8192);
    EXPECT_TRUE(um.VistaOnly);
    EXPECT_EQ(um.Buttons, uint32_t(ubYes | ubNo));
    EXPECT_EQ(item.WakeupMode(), "");
    item.EvaluateLocalWakeup();
    EXPECT_EQ(item.WakeupMode(), "disppage");
    EXPECT_EQ(item.WakeupBootUrl(), "https://svc.example/home");
    EXPECT_EQ(item.GetOfflineAnnounceUrl(), "file://" + Docroot() + "/offline/index.html?from=app");

    for (auto [kb, expected] : {std::pair<const char*, int>{"INFINITY", -1}, {"abc", 0}, {"99999999999", 0}, {"-7", 0}}) {
        Body = std::string("<getAppInfo_response ver=\"1\"><initialparams><pictoriumcashmax kbyes=\"") + kb +
               "\"/></initialparams><networkcheck offlineannounceurl=\"../../secret\"/></getAppInfo_response>";
        TKSGetAppInfoItem k(Env());
        ASSERT_TRUE(k.LoadInfoData(false, ""));
        EXPECT_EQ(k.PictoriumCacheMax(), expected) << kb;
        EXPECT_TRUE(k.NetworkCheck());
        EXPECT_EQ(k.GetOfflineAnnounceUrl(), "");
    }
}

TEST_F(AppInfo, ErrorPagesStayInDocrootWithEncodedQueries) {
    TKSGetAppInfoItem item(Env());
    ASSERT_TRUE(item.LoadInfoData(false, ""));
    const std::string root = "file://" + Docroot();
    EXPECT_EQ(item.GetErrorPageUrl("socketeEror", "ES0001"),
              root + "/error/socket.html?value=socketeEror&code=ES0001&justafterupdate=false");
    // no entry for this code: the type's entry without code serves
    EXPECT_EQ(item.GetErrorPageUrl("networkError", "X9"),
              root + "/error/network.html?value=networkError&code=X9&justafterupdate=false");
    // removed entry and unknown type: the built-in page; the texts are encoded
    Changed = true;
    EXPECT_EQ(item.GetErrorPageUrl("gone", "1"), root + "/error/index.html?value=gone&code=1&justafterupdate=true");
    EXPECT_EQ(item.GetErrorPageUrl("a&b=c #?", "é"),
              root + "/error/index.html?value=a%26b%3Dc%20%23%3F&code=%C3%A9&justafterupdate=true");
    // a page outside docroot is never named
    EXPECT_EQ(item.GetErrorPageUrl("evil", ""), root + "/error/index.html?value=evil&code=&justafterupdate=true");
    EXPECT_EQ(item.DocrootPath("file:///etc/passwd"), Docroot() + "/etc/passwd");
    EXPECT_EQ(item.DocrootPath("file://a/../../x"), "");
    EXPECT_EQ(item.DocrootPath("https://x/y"), "");
    // no document at all: the built-in page with the service's error
    TKSGetAppInfoItem empty(Env());
    EXPECT_EQ(empty.GetErrorPageUrl("socketeEror", ""),
              root + "/error/index.html?value=socketeEror&code=&justafterupdate=true");
}

TEST(AppInfoKey, TemplateAndUnknownNames) {
    EXPECT_EQ(AppInfoKeyText("pc", "me").size(), 2u + 2u + 5u);
    EXPECT_EQ(AppInfoKeyText("", ""), AppInfoKeyText("Unknown", "Unknown"));
    EXPECT_NE(AppInfoKeyText("ab", "c"), AppInfoKeyText("a", "bc"));
}

}  // namespace
}  // namespace fv

namespace fv {
namespace {

// the same document again leaves the copy alone; another one replaces it
TEST_F(AppInfo, CopyRewrittenOnlyWhenTheDocumentChanges) {
    auto inode = [this] {
        struct stat st {};
        ::stat(Copy().c_str(), &st);
        return st.st_ino;
    };
    TKSGetAppInfoItem(Env()).LoadInfoData(false, "");
    auto first = inode();
    ASSERT_NE(first, 0u);
    TKSGetAppInfoItem(Env()).LoadInfoData(false, "");
    EXPECT_EQ(inode(), first);
    Body = R"(<getAppInfo_response ver="3"/>)";
    TKSGetAppInfoItem(Env()).LoadInfoData(false, "");
    EXPECT_NE(inode(), first);
    Answer = {false, "socketeEror", "ES0001"};
    TKSGetAppInfoItem item(Env());
    ASSERT_TRUE(item.LoadInfoData(false, ""));
    EXPECT_EQ(item.Ver(), "3");
}

}  // namespace
}  // namespace fv
