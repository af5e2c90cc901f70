// The service calls end to end against the stand-in on a loopback port: the forms each call
// sends, the answers it reads, and the result record of every fault the stand-in can play.
#include "service/api.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "service/start_params.h"
#include "stand_in.h"

namespace fv {
namespace {

namespace fs = std::filesystem;

const std::string kPhoto = std::string(FV_TESTDATA_DIR) + "/photos/Canon_40D.jpg";
std::string gServiceBase;  // "http://127.0.0.1:PORT" of the running stand-in

class ApiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gService = new TStandInService(std::string(FV_BINARY_DIR) + "/fvservice");
        gServiceBase = gService->Base();
    }
    static void TearDownTestSuite() {
        delete gService;
        gService = nullptr;
    }
    void SetUp() override {
        S().Reset();
        UseSession("test-session");
    }
    static TStandInService& S() { return *gService; }
    static void UseSession(const std::string& session) {
        FVApiParams().Clear();
        FVApiParams().SetParams("sessionid=" + session + ",getappinfourl=" + S().Base() + "/getAppInfo.php", true);
        FVApiParams().SetParamsFromAppInfo(fvmDispPage, S().Base() + "/api/", "", S().Base() + "/getAppInfo.php", "",
                                           S().Base() + "/remote/", 0, 0, 0, true, true, false, false);
    }
    // a client that gives up on a silent service after a second
    static std::unique_ptr<THttpClient> QuickClient() {
        auto c = std::make_unique<THttpClient>();
        c->SetLowSpeedLimit(1, 1);
        return c;
    }
    static TStandInService* gService;
};
TStandInService* ApiTest::gService = nullptr;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST_F(ApiTest, CheckFolvaneReadsTheAlbumsAndSendsItsFieldsInOrder) {
    std::vector<TFolvaneAlbum> albums;
    TFVApiResult r;
    FVApi_CheckFolvane("1001,9999,1002", &albums, r);
    ASSERT_TRUE(r.Success) << r.Code << " " << r.Message;
    EXPECT_EQ(r.Code, "checkFolvane_response");
    EXPECT_EQ(r.Kind, fvrkSuccess);
    ASSERT_EQ(albums.size(), 2u);
    EXPECT_EQ(albums[0].FolvaneId, "1001");
    EXPECT_EQ(albums[0].Title, "夏の旅");
    EXPECT_EQ(albums[1].PreviewUrl, S().Base() + "/book/1002/preview.html");
    EXPECT_TRUE(Has(S().State(), "\"path\":\"/api/checkFolvane.php\",\"status\":200,\"fields\":[\"sessionid\",\"folvaneidary\"]"));

    // an empty list asks nothing
    FVApi_CheckFolvane("", &albums, r);
    EXPECT_FALSE(r.Success);
    EXPECT_EQ(r.Kind, fvrkNone);
    EXPECT_EQ(r.Code, "");
    FVApi_CheckFolvane("1001", nullptr, r);
    EXPECT_EQ(r.ErrorCode, "EE0100");
    EXPECT_EQ(r.Message, "Albums = nil");
}

TEST_F(ApiTest, ExpiredAndMissingSessions) {
    UseSession("expired-session");
    std::vector<TFolvaneAlbum> albums;
    TFVApiResult r;
    FVApi_CheckFolvane("1001", &albums, r);
    EXPECT_FALSE(r.Success);
    EXPECT_EQ(r.Code, "BadSessionid");
    EXPECT_EQ(r.Kind, fvrkRequestFailed);
    EXPECT_EQ(r.ErrorCode, "ER0001");
    EXPECT_TRUE(albums.empty());

    UseSession("");
    FVApi_LogOut(r);
    EXPECT_EQ(r.ErrorCode, "EE0100");  // worded "SessionID = nil"
    EXPECT_EQ(r.Message, "SessionID = nil");
    TFolvaneUploadInfoItem info;
    FVApi_StartUpload(&info, r);
    EXPECT_EQ(r.ErrorCode, "EE0001");
    EXPECT_EQ(r.Kind, fvrkException);
    EXPECT_EQ(r.Code, "EFolvaneApiError");

    UseSession("test-session");
    FVApiParams().SetParamsFromAppInfo(fvmDispPage, "", "", "", "", "", 0, 0, 0, true, true, false, false);
    FVApi_StartUpload(&info, r);
    EXPECT_EQ(r.ErrorCode, "EE0002");
    TMemoryStream out;
    EyeFi_GetDirectoryResources("", 0, out, r);
    EXPECT_EQ(r.ErrorCode, "EE0002");
    EXPECT_EQ(ResultKindName(r.Kind), std::string("exception"));

    // log-out ends the session on the service
    UseSession("test-session");
    FVApi_LogOut(r);
    EXPECT_TRUE(r.Success);
    EXPECT_EQ(r.Code, "logout_response");
    FVApi_LogOut(r);
    EXPECT_EQ(r.Code, "BadSessionid");
}

TEST_F(ApiTest, PhotoUploadFromStartToFinish) {
    TFolvaneUploadInfoItem info;
    TFVApiResult r;
    FVApi_StartUpload(&info, r);
    ASSERT_TRUE(r.Success) << r.Message;
    EXPECT_FALSE(info.FolvaneId().empty());
    EXPECT_EQ(info.HostName(), "photo1");
    EXPECT_FALSE(info.LongSessionId().empty());
    EXPECT_TRUE(info.AllowParallel());
    int32_t w, h, q;
    info.GetOriginalMax(w, h, q);
    EXPECT_EQ(w, 1600);
    EXPECT_EQ(q, 90);
    EXPECT_EQ(info.Thumb(1).Width, 160);
    EXPECT_EQ(info.Thumb(7).ThumbId, 7);
    EXPECT_TRUE(Has(S().State(), "\"fields\":[\"sessionid\",\"folvaneid\",\"backtest\"],\"text\":{\"backtest\":\"true\""));

    std::string res;
    FVApi_UploadEx(info.FolvaneId(), kPhoto, "コメント", {"海", "夏", "旅"}, "/home/u/写真/IMG_1.jpg", true, 480, 640, 1,
                   3, res, r);
    ASSERT_TRUE(r.Success) << r.Message;
    EXPECT_EQ(r.Code, "upload_response");
    EXPECT_FALSE(res.empty());
    std::string state = S().State();
    EXPECT_TRUE(Has(state, "\"fields\":[\"sessionid\",\"folvaneid\",\"editmode\",\"photoindex\",\"resuuid\",\"comment\","
                           "\"thumbid\",\"orgwidth\",\"orgheight\",\"phototag0\",\"phototag1\",\"phototag2\","
                           "\"orgfilename\",\"data\"]"))
        << state;
    EXPECT_TRUE(Has(state, "\"editmode\":\"jacket\",\"comment\":\"コメント\""));
    EXPECT_TRUE(Has(state, "\"tags\":[\"海\",\"夏\",\"旅\"]"));
    EXPECT_TRUE(Has(state, "\"filename\":\"Canon_40D.jpg\",\"type\":\"image/jpeg\",\"size\":" +
                               std::to_string(fs::file_size(kPhoto))));

    // the rest waits for the background uploader until the full size arrives
    std::vector<TFolvaneRestItem> rest;
    FVApi_GetRestUploadBack(info.LongSessionId(), &rest, r);
    ASSERT_TRUE(r.Success) << r.Message;
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(rest[0].ResUuid, res);
    EXPECT_EQ(rest[0].HostName, "photo1");
    FVApi_UploadBack(info.LongSessionId(), res, kPhoto, -1, "", r);
    ASSERT_TRUE(r.Success) << r.Message;
    EXPECT_TRUE(Has(S().State(), "\"fields\":[\"longsessionid\",\"resuuid\",\"data\"]"));
    FVApi_GetRestUploadBack(info.LongSessionId(), &rest, r);
    EXPECT_TRUE(r.Success);
    EXPECT_TRUE(rest.empty());
    FVApi_UploadFailBack(info.LongSessionId(), res, r);
    EXPECT_EQ(r.Code, "uploadFailBack_response");
    FVApi_FinishedUploadBack(info.LongSessionId(), true, r);
    EXPECT_EQ(r.Code, "finishedUploadBack_response");

    std::string next;
    FVApi_FinishedUpload(info.FolvaneId(), "2009-01-08", "photo", true, fvcmDirectAlbum, fvastCalendar, next, r);
    ASSERT_TRUE(r.Success) << r.Message;
    EXPECT_EQ(next, S().Base() + "/book/" + info.FolvaneId() + "/edit.html");
    EXPECT_TRUE(Has(S().State(), "\"fields\":[\"sessionid\",\"folvaneid\",\"iscomplete\",\"tabname\",\"createmode\","
                                 "\"direct_type\",\"direct_photoday\"]"));
    FVApi_FinishedUpload(info.FolvaneId(), "x", "photo", true, 7, fvastCalendar, next, r);
    EXPECT_EQ(r.ErrorCode, "EE0100");
    EXPECT_EQ(r.Message, "UnKnown FolvaneCreateMode. (fvcm = 7)");

    // a file deleted meanwhile
    FVApi_UploadEx(info.FolvaneId(), "/nonexistent/p.jpg", "", {}, "", false, 0, 0, -1, 0, res, r);
    EXPECT_EQ(r.ErrorCode, "EE0100");
    EXPECT_EQ(r.Message, "File not Exists : /nonexistent/p.jpg");
}

TEST_F(ApiTest, BodyIconMusicAndUsageLog) {
    std::string icon = "\xFF\xD8 icon bytes";
    std::string next;
    TFVApiResult r;
    FVApi_UploadBodyIcon("/tmp/アイコン.png", &icon, next, r);
    ASSERT_TRUE(r.Success) << r.Message;
    EXPECT_EQ(next, S().Base() + "/mypage/bodyicon.html");
    EXPECT_TRUE(Has(S().State(), "\"filename\":\"アイコン.png\",\"type\":\"image/png\""));
    std::string empty;
    FVApi_UploadBodyIcon("a.jpg", &empty, next, r);
    EXPECT_EQ(r.Message, "IconStream is Empty");
    FVApi_UploadBodyIcon("a.jpg", nullptr, next, r);
    EXPECT_EQ(r.Message, "IconStream = nil");

    // both forms read the same answer: each takes the child it wants
    std::string song = "ID3 music bytes", res, page;
    FVApi_UploadBgm("1001", "/m/song \"1\".mp3", "", &song, TBgmUploadForm::NextPage, page, r);
    ASSERT_TRUE(r.Success) << r.Message;
    EXPECT_EQ(page, S().Base() + "/book/1001/bgm.html");
    EXPECT_TRUE(Has(S().State(), "\"fields\":[\"sessionid\",\"folvaneid\",\"data\"]"));  // no empty title
    FVApi_UploadBgm("1001", "/m/a.mp3", "", &song, TBgmUploadForm::ResourceId, res, r);
    ASSERT_TRUE(r.Success) << r.Message;
    EXPECT_EQ(res.rfind("bgm-", 0), 0u);
    EXPECT_TRUE(Has(S().State(), "\"fields\":[\"sessionid\",\"folvaneid\",\"title\",\"data\"]"));

    // the usage log goes to the log URL under the log's long session
    TMemoryStream doc;
    FVApi_GetAppInfo("", doc, r);
    ASSERT_TRUE(r.Success);
    std::string text(doc.Data().begin(), doc.Data().end());
    size_t at = text.find("longsessionid=\"") + 15;
    std::string logSession = text.substr(at, text.find('"', at) - at);
    FVApi_SaveLog(S().Base() + "/log/saveLog.php", logSession, "<FolvaneBrowserLog/>", r);
    EXPECT_TRUE(r.Success) << r.Message;
    EXPECT_TRUE(Has(S().State(), "\"logs\":[\"<FolvaneBrowserLog/>\"]"));
    FVApi_SaveLog(S().Base() + "/log/saveLog.php", logSession, "", r);
    EXPECT_EQ(r.Message, "Data = nil");
}

TEST_F(ApiTest, CardDirectoryThumbnailsAndResources) {
    TMemoryStream dir;
    TFVApiResult r;
    EyeFi_GetDirectoryResources("", 0, dir, r);
    ASSERT_TRUE(r.Success) << r.Message;
    EXPECT_EQ(r.Code, "getDirectoryResources_response");
    std::string text(dir.Data().begin(), dir.Data().end());
    EXPECT_TRUE(Has(text, "filename=\"Canon_40D.jpg\""));
    EXPECT_EQ(dir.Position(), 0);  // the document stays for the folder to read
    TMemoryStream again;
    EyeFi_GetDirectoryResources("card-1", 1, again, r);
    EXPECT_FALSE(r.Success);
    EXPECT_EQ(r.Kind, fvrkNotModified);
    EXPECT_EQ(r.Code, "304");

    TMemoryStream thumb;
    EyeFi_loadThumbnail("r0001", 160, 120, thumb, r);
    ASSERT_TRUE(r.Success) << r.Message;
    ASSERT_GT(thumb.Size(), 100);
    EXPECT_EQ(thumb.Data()[0], 0xFF);
    EXPECT_EQ(thumb.Data()[1], 0xD8);
    TMemoryStream missing;
    EyeFi_loadThumbnail("nope", 160, 120, missing, r);
    EXPECT_EQ(r.ErrorCode, "ER1000");
    EXPECT_EQ(r.Code, "404");

    TMemoryStream full;
    EyeFi_loadResource("r0001", 0, full, r);
    ASSERT_TRUE(r.Success);
    EXPECT_EQ(full.Size(), static_cast<int64_t>(fs::file_size(std::string(FV_TESTDATA_DIR) + "/photos/Canon_40D.jpg")));
    TMemoryStream same;
    EyeFi_loadResource("r0001", 1, same, r);
    EXPECT_EQ(r.Kind, fvrkNotModified);

    EyeFi_Upload("1001", 4, "r0002", r);
    EXPECT_TRUE(r.Success) << r.Message;
    EXPECT_TRUE(Has(S().State(), "\"fields\":[\"sessionid\",\"folvaneid\",\"photoindex\",\"resid\"]"));

    // without a session nothing is sent and the result stays reset
    UseSession("");
    TMemoryStream none;
    EyeFi_loadResource("r0001", 0, none, r);
    EXPECT_FALSE(r.Success);
    EXPECT_EQ(r.Kind, fvrkNone);
}

// One call of each shape, for the fault table.
struct TCallCase {
    const char* Name;
    const char* Path;
    bool Classified;  // application information and card reads: kinds and error codes on transport faults
    bool RawAnswer;   // the answer's bytes go to the caller as they are
    std::function<void(TFVApiResult&, THttpClient*)> Run;
};

std::vector<TCallCase> AllCalls() {
    static std::string icon = "icon", song = "song";
    return {
        {"GetAppInfo", "/getAppInfo.php", true, true,
         [](TFVApiResult& r, THttpClient* c) { TMemoryStream s; FVApi_GetAppInfo("", s, r, c); }},
        {"CheckFolvane", "/api/checkFolvane.php", false, false,
         [](TFVApiResult& r, THttpClient* c) { std::vector<TFolvaneAlbum> a; FVApi_CheckFolvane("1001", &a, r, c); }},
        {"StartUpload", "/api/startUpload.php", false, false,
         [](TFVApiResult& r, THttpClient* c) { TFolvaneUploadInfoItem i; FVApi_StartUpload(&i, r, c); }},
        {"FinishedUpload", "/api/finishedUpload.php", false, false,
         [](TFVApiResult& r, THttpClient* c) { std::string n; FVApi_FinishedUpload("1001", "", "t", true, 0, 0, n, r, c); }},
        {"UploadEx", "/api/upload.php", false, false,
         [](TFVApiResult& r, THttpClient* c) {
             std::string res;
             FVApi_UploadEx("1001", kPhoto, "", {}, "", false, 0, 0, -1, 0, res, r, c);
         }},
        {"UploadBodyIcon", "/api/uploadBodyicon.php", false, false,
         [](TFVApiResult& r, THttpClient* c) { std::string n; FVApi_UploadBodyIcon("i.jpg", &icon, n, r, c); }},
        {"UploadBgm", "/api/uploadBgm.php", false, false,
         [](TFVApiResult& r, THttpClient* c) {
             std::string n;
             FVApi_UploadBgm("1001", "s.mp3", "t", &song, TBgmUploadForm::ResourceId, n, r, c);
         }},
        {"UploadBack", "/api/uploadBack.php", false, false,
         [](TFVApiResult& r, THttpClient* c) { FVApi_UploadBack("ls-x", "res-1", kPhoto, 2, "", r, c); }},
        {"GetRestUploadBack", "/api/getRestUploadBack.php", false, false,
         [](TFVApiResult& r, THttpClient* c) { std::vector<TFolvaneRestItem> i; FVApi_GetRestUploadBack("ls-x", &i, r, c); }},
        {"UploadFailBack", "/api/uploadFailBack.php", false, false,
         [](TFVApiResult& r, THttpClient* c) { FVApi_UploadFailBack("ls-x", "res-1", r, c); }},
        {"FinishedUploadBack", "/api/finishedUploadBack.php", false, false,
         [](TFVApiResult& r, THttpClient* c) { FVApi_FinishedUploadBack("ls-x", false, r, c); }},
        {"SaveLog", "/log/saveLog.php", false, false,
         [](TFVApiResult& r, THttpClient* c) {
             FVApi_SaveLog(gServiceBase + "/log/saveLog.php", "ls-x", "<log/>", r, c);
         }},
        {"LogOut", "/api/logout.php", false, false, [](TFVApiResult& r, THttpClient* c) { FVApi_LogOut(r, c); }},
        {"GetDirectoryResources", "/remote/getDirectoryResources.php", true, false,
         [](TFVApiResult& r, THttpClient* c) { TMemoryStream s; EyeFi_GetDirectoryResources("", 0, s, r, c); }},
        {"loadThumbnail", "/remote/loadThumbnail.php", true, true,
         [](TFVApiResult& r, THttpClient* c) { TMemoryStream s; EyeFi_loadThumbnail("r0001", 80, 80, s, r, c); }},
        {"loadResource", "/remote/loadResource.php", true, true,
         [](TFVApiResult& r, THttpClient* c) { TMemoryStream s; EyeFi_loadResource("r0001", 0, s, r, c); }},
        {"EyeFi_Upload", "/remote/upload.php", false, false,
         [](TFVApiResult& r, THttpClient* c) { EyeFi_Upload("1001", 1, "r0001", r, c); }},
    };
}

TEST_F(ApiTest, EveryCallSucceedsWithoutFaults) {
    S().Admin("/_admin/longsession", {{"id", "ls-x"}});
    for (const auto& call : AllCalls()) {
        if (std::string(call.Name) == "LogOut") continue;  // ends the session for the others
        TFVApiResult r;
        call.Run(r, nullptr);
        EXPECT_TRUE(r.Success) << call.Name << ": " << r.Code << " " << r.Message;
        EXPECT_EQ(r.Kind, fvrkSuccess) << call.Name;
    }
}

// one case per call, so that the cases run side by side
class ApiFaults : public ApiTest, public ::testing::WithParamInterface<int> {};

TEST_P(ApiFaults, EveryFaultGivesItsResult) {
    S().Admin("/_admin/longsession", {{"id", "ls-x"}});
    std::string res;
    TFVApiResult first;
    FVApi_UploadEx("1001", kPhoto, "", {}, "", false, 0, 0, -1, 0, res, first);  // "res-1" for the background calls
    ASSERT_EQ(res, "res-1");
    {
        const TCallCase call = AllCalls()[static_cast<size_t>(GetParam())];
        auto play = [&](std::vector<std::pair<std::string, std::string>> fault) {
            S().Admin("/_admin/session", {{"id", "test-session"}});  // a delayed log-out ends it
            S().Fault(call.Path, fault);
            TFVApiResult r;
            auto client = QuickClient();
            call.Run(r, client.get());
            S().Admin("/_admin/fault", {{"clear", "1"}});
            return r;
        };
        // an HTTP status other than 200
        TFVApiResult r = play({{"status", "503"}});
        EXPECT_FALSE(r.Success);
        EXPECT_EQ(r.Code, "503");
        EXPECT_EQ(r.Message, "Service Unavailable");
        EXPECT_EQ(r.Kind, call.Classified ? fvrkRequestFailed : fvrkNone);
        EXPECT_EQ(r.ErrorCode, call.Classified ? "ER1000" : "");

        // an error document
        r = play({{"error", "X1"}});
        if (call.RawAnswer) {
            EXPECT_TRUE(r.Success);  // raw bytes are the caller's to read
        } else {
            EXPECT_FALSE(r.Success);
            EXPECT_EQ(r.Code, "X1");
            EXPECT_EQ(r.Message, "fault injected");
            EXPECT_EQ(r.ErrorCode, "ER0001");
        }

        // malformed XML and a stray page are unusable answers
        for (auto fault : {std::pair<std::string, std::string>{"malformed", "1"}, {"stray", "1"}}) {
            r = play({fault});
            if (call.RawAnswer) {
                EXPECT_TRUE(r.Success);
            } else {
                EXPECT_FALSE(r.Success) << fault.first;
                EXPECT_EQ(r.Kind, fvrkException) << fault.first;
                EXPECT_EQ(r.ErrorCode, "EE0100") << fault.first;
            }
        }

        // a dropped connection and a silent service are transport failures
        for (auto fault : {std::pair<std::string, std::string>{"drop", "1"}, {"hang", "1"}}) {
            auto t0 = std::chrono::steady_clock::now();
            r = play({fault, {"hang_ms", "2500"}});
            EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
            EXPECT_FALSE(r.Success) << fault.first;
            if (call.Classified) {
                EXPECT_EQ(r.Kind, fvrkSocketError) << fault.first;
                EXPECT_EQ(r.ErrorCode, "ES0001") << fault.first;
                EXPECT_EQ(r.Code, "EHttpSocketError") << fault.first;
            } else {
                EXPECT_EQ(r.Kind, fvrkNone) << fault.first;  // the upload calls leave the kind unset
                if (fault.first == "hang") {
                    EXPECT_EQ(r.Code, "-1");  // no status arrived
                }
            }
        }

        // a redirect to another protocol is refused
        r = play({{"redirect", "ftp://127.0.0.1/x"}});
        EXPECT_FALSE(r.Success);
        if (call.Classified) {
            EXPECT_EQ(r.ErrorCode, "ES0002");
        }

        // slow and late answers still arrive
        r = play({{"delay_ms", "200"}});
        EXPECT_TRUE(r.Success) << r.Message;
        if (!call.RawAnswer) {
            r = play({{"rate", "4000"}});
            EXPECT_TRUE(r.Success) << r.Message;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Calls, ApiFaults, ::testing::Range(0, static_cast<int>(AllCalls().size())),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(AllCalls()[static_cast<size_t>(info.param)].Name);
                         });

TEST_F(ApiTest, HostileIdentifiersFailBeforeAnythingIsKept) {
    for (const std::string& hostile : std::vector<std::string>{"../../etc", "a/b", "..", std::string(300, 'x')}) {
        SCOPED_TRACE(hostile);
        S().Fault("*", {{"hostile", hostile}});
        TFolvaneUploadInfoItem info;
        info.SetHostName("kept");
        TFVApiResult r;
        FVApi_StartUpload(&info, r);
        EXPECT_EQ(r.ErrorCode, "EE0100");
        EXPECT_EQ(info.HostName(), "kept");  // nothing taken from a hostile answer
        std::vector<TFolvaneAlbum> albums;
        FVApi_CheckFolvane("1001", &albums, r);
        EXPECT_EQ(r.ErrorCode, "EE0100");
        EXPECT_TRUE(albums.empty());
        std::string res = "before";
        FVApi_UploadEx("1001", kPhoto, "", {}, "", false, 0, 0, -1, 0, res, r);
        EXPECT_EQ(r.ErrorCode, "EE0100");
        EXPECT_EQ(res, "before");
        S().Admin("/_admin/fault", {{"clear", "1"}});
    }
}

std::string WriteSelfSignedCert(const fs::path& dir) {
    fs::create_directories(dir);
    std::string cmd = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 "
                      "-addext subjectAltName=IP:127.0.0.1 -keyout '" + (dir / "key.pem").string() + "' -out '" +
                      (dir / "cert.pem").string() + "' >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0 ? (dir / "cert.pem").string() : std::string();
}

TEST(ApiTls, SelfSignedServiceIsRefusedUntilItsCaIsGiven) {
    fs::path dir = fs::temp_directory_path() / ("fv-tls-" + std::to_string(getpid()));
    std::string cert = WriteSelfSignedCert(dir);
    ASSERT_FALSE(cert.empty()) << "openssl could not make a certificate";
    TStandInService tls(std::string(FV_BINARY_DIR) + "/fvservice", {"--tls", cert, (dir / "key.pem").string()});
    ASSERT_EQ(tls.Base().rfind("https://", 0), 0u);
    FVApiParams().Clear();
    FVApiParams().SetParams("sessionid=test-session,getappinfourl=" + tls.Base() + "/getAppInfo.php", true);
    TMemoryStream doc;
    TFVApiResult r;
    FVApi_GetAppInfo("", doc, r);
    EXPECT_FALSE(r.Success);
    EXPECT_EQ(r.Kind, fvrkSocketError);
    EXPECT_EQ(r.ErrorCode, "ES1000");  // a refused peer is neither a socket nor a protocol failure
    THttpClient trusting;
    trusting.SetCaFile(cert);
    FVApi_GetAppInfo("", doc, r, &trusting);
    EXPECT_TRUE(r.Success) << r.Message;
    // the environment names the CA for every client
    setenv("FV_HTTP_CA_FILE", cert.c_str(), 1);
    TMemoryStream doc2;
    FVApi_GetAppInfo("", doc2, r);
    unsetenv("FV_HTTP_CA_FILE");
    EXPECT_TRUE(r.Success) << r.Message;
    EXPECT_NE(std::string(doc2.Data().begin(), doc2.Data().end()).find("getAppInfo_response"), std::string::npos);
    tls.Stop();
    fs::remove_all(dir);
}

}  // namespace
}  // namespace fv

namespace fv {
namespace {

std::string RunCaptured(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

TEST_F(ApiTest, FvbApiPrintsTheRecord) {
    const std::string fvb = std::string(FV_BINARY_DIR) + "/fvb";
    std::string out = RunCaptured(fvb + " api --service " + S().Base() + " checkFolvane sessionid=test-session folvaneidary=1002");
    EXPECT_TRUE(Has(out, "success\ttrue\nkind\t1 Successed\ncode\tcheckFolvane_response\n")) << out;
    EXPECT_TRUE(Has(out, "album\t1002\tBirthday\t")) << out;
    out = RunCaptured("FV_SERVICE_URL=" + S().Base() + " " + fvb + " api --json logout sessionid=expired-session");
    EXPECT_EQ(out, "{\"success\":false,\"kind\":3,\"kindname\":\"requestFalied\",\"code\":\"BadSessionid\","
                   "\"errorcode\":\"ER0001\",\"message\":\"session expired\",\"fields\":[]}\n");
    S().Fault("/api/startUpload.php", {{"malformed", "1"}});
    out = RunCaptured(fvb + " api --service " + S().Base() + " FVApi_StartUpload sessionid=test-session");
    EXPECT_TRUE(Has(out, "success\tfalse\nkind\t4 exception\ncode\tEFolvaneApiError\nerrorcode\tEE0100\n")) << out;
}

}  // namespace
}  // namespace fv

namespace fv {
namespace {

TEST_F(ApiTest, DownloadKeepsOnlyAWholeAnswer) {
    fs::path file = fs::temp_directory_path() / ("fv-dl-" + std::to_string(getpid()) + ".exe");
    THttpClient c;
    EXPECT_EQ(c.Download(S().Base() + "/installer/FVBSetup.exe?product=fvb&version=1.0.0", file.string()), 200);
    std::ifstream in(file, std::ios::binary);
    std::string head(32, '\0');
    in.read(head.data(), 32);
    EXPECT_EQ(head.substr(0, 25), "MZ-FVBSetup version=1.0.0");
    EXPECT_EQ(fs::file_size(file), 65536u);
    EXPECT_EQ(c.Download(S().Base() + "/installer/missing.exe", file.string()), 404);
    EXPECT_FALSE(fs::exists(file));  // a refused download leaves no file behind
    c.SetMaxAnswerBytes(1000);
    EXPECT_THROW(c.Download(S().Base() + "/installer/FVBSetup.exe?product=fvb", file.string()), EHttpAnswerTooLarge);
    EXPECT_FALSE(fs::exists(file));
}

}  // namespace
}  // namespace fv

namespace fv {
namespace {

TEST_F(ApiTest, StartUpHooksLogTheSessionOutAtTheEnd) {
    TStartupHooks hooks;
    InstallStartParamsHooks(hooks);
    ASSERT_TRUE(hooks.LogOut);
    hooks.LogOut();
    EXPECT_TRUE(Has(S().State(), "\"test-session\":\"loggedout\""));
    // a silent service holds the exit for seconds, not for the default limits
    S().Admin("/_admin/session", {{"id", "test-session"}});
    S().Fault("/api/logout.php", {{"hang", "1"}, {"hang_ms", "20000"}});
    auto t0 = std::chrono::steady_clock::now();
    hooks.LogOut();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(12));
}

}  // namespace
}  // namespace fv
