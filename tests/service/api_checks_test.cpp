// What every call checks before it sends anything: each missing input in the order the call
// checks it, with its message, its error code and the two log lines under the call's name; and
// the calls that quietly ask nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "core/log.h"
#include "service/api.h"
#include "service/start_params.h"

namespace fv {
namespace {

namespace fs = std::filesystem;

// nothing listens there: a call that got as far as sending would end with a transport failure
const std::string kNowhere = "http://127.0.0.1:1/";

void UseParams(const std::string& session, const std::string& url) {
    FVApiParams().Clear();
    FVApiParams().SetParams("sessionid=" + session, true);
    FVApiParams().SetParamsFromAppInfo(fvmDispPage, url, "", url, "", url, 0, 0, 0, true, true, false, false);
}

struct TCheckCase {
    const char* Label;    // the call's name in the log
    const char* Session;  // the start parameters' session
    const char* Url;      // every URL of the start parameters
    std::function<void(TFVApiResult&)> Run;
    const char* Message;  // nullptr: nothing is asked and the result stays reset
    const char* ErrorCode;
};

std::vector<TCheckCase> Cases() {
    static std::string icon = "icon", song = "song", empty;
    const char* u = kNowhere.c_str();
    auto ex = [](const std::string& id, const std::string& file) {
        return [=](TFVApiResult& r) {
            std::string res;
            FVApi_UploadEx(id, file, "", {}, "", false, 0, 0, -1, 0, res, r);
        };
    };
    auto bgm = [](const std::string& id, const std::string* bytes) {
        return [=](TFVApiResult& r) {
            std::string out;
            FVApi_UploadBgm(id, "s.mp3", "", bytes, TBgmUploadForm::NextPage, out, r);
        };
    };
    auto back = [](const std::string& ls, const std::string& res, const std::string& file) {
        return [=](TFVApiResult& r) { FVApi_UploadBack(ls, res, file, -1, "", r); };
    };
    auto raw = [](std::function<void(TStream&, TFVApiResult&)> f) {
        return [=](TFVApiResult& r) {
            TMemoryStream s;
            f(s, r);
        };
    };
    auto appInfo = raw([](TStream& s, TFVApiResult& r) { FVApi_GetAppInfo("", s, r); });
    auto dir = raw([](TStream& s, TFVApiResult& r) { EyeFi_GetDirectoryResources("", 0, s, r); });
    auto thumb = raw([](TStream& s, TFVApiResult& r) { EyeFi_loadThumbnail("r1", 8, 8, s, r); });
    auto res = raw([](TStream& s, TFVApiResult& r) { EyeFi_loadResource("r1", 0, s, r); });
    return {
        {"FVApi_GetAppInfo", "", "", appInfo, "SessionId = nil", "EE0001"},
        {"FVApi_GetAppInfo", "s", "", appInfo, "Url = nil", "EE0002"},

        {"FVApi_CheckFolvane", "", "", [](TFVApiResult& r) { FVApi_CheckFolvane("1", nullptr, r); }, "SessionID = nil",
         "EE0100"},
        {"FVApi_CheckFolvane", "s", "", [](TFVApiResult& r) { FVApi_CheckFolvane("1", nullptr, r); }, "Url = nil",
         "EE0002"},
        {"FVApi_CheckFolvane", "s", u, [](TFVApiResult& r) { FVApi_CheckFolvane("1", nullptr, r); }, "Albums = nil",
         "EE0100"},
        {"FVApi_CheckFolvane", "s", u,
         [](TFVApiResult& r) {
             std::vector<TFolvaneAlbum> a;
             FVApi_CheckFolvane("", &a, r);
         },
         nullptr, ""},

        {"FVApi_StartUpload", "", "", [](TFVApiResult& r) { FVApi_StartUpload(nullptr, r); }, "SessionId = nil",
         "EE0001"},
        {"FVApi_StartUpload", "s", "", [](TFVApiResult& r) { FVApi_StartUpload(nullptr, r); }, "Url = nil", "EE0002"},
        {"FVApi_StartUpload", "s", u, [](TFVApiResult& r) { FVApi_StartUpload(nullptr, r); }, "UploadInfo = nil",
         "EE0100"},

        {"FVApi_FinishedUpload", "", "",
         [](TFVApiResult& r) {
             std::string n;
             FVApi_FinishedUpload("", "", "", true, 0, 0, n, r);
         },
         "SessionID = nil", "EE0100"},
        {"FVApi_FinishedUpload", "s", u,
         [](TFVApiResult& r) {
             std::string n;
             FVApi_FinishedUpload("", "", "", true, 0, 0, n, r);
         },
         "FolvaneID = nil", "EE0100"},

        {"FVApi_UploadEx", "", "", ex("", ""), "SessionID = nil", "EE0100"},
        {"FVApi_UploadEx", "s", "", ex("", ""), "Url = nil", "EE0002"},
        {"FVApi_UploadEx", "s", u, ex("", ""), "FolvaneID = nil", "EE0100"},
        {"FVApi_UploadEx", "s", u, ex("1", "/no/such.jpg"), "File not Exists : /no/such.jpg", "EE0100"},

        // the body icon never checks its URL
        {"FVApi_UploadBodyIcon", "", "",
         [](TFVApiResult& r) {
             std::string n;
             FVApi_UploadBodyIcon("i.jpg", nullptr, n, r);
         },
         "SessionId = nil", "EE0001"},
        {"FVApi_UploadBodyIcon", "s", "",
         [](TFVApiResult& r) {
             std::string n;
             FVApi_UploadBodyIcon("i.jpg", nullptr, n, r);
         },
         "IconStream = nil", "EE0100"},
        {"FVApi_UploadBodyIcon", "s", "",
         [](TFVApiResult& r) {
             std::string n;
             FVApi_UploadBodyIcon("i.jpg", &empty, n, r);
         },
         "IconStream is Empty", "EE0100"},

        {"FVApi_UploadBgm", "", "", bgm("", nullptr), "SessionID = nil", "EE0100"},
        {"FVApi_UploadBgm", "s", "", bgm("", nullptr), "Url = nil", "EE0002"},
        {"FVApi_UploadBgm", "s", u, bgm("", nullptr), "FolvaneID = nil", "EE0100"},
        {"FVApi_UploadBgm", "s", u, bgm("1", nullptr), "BgmStream = nil", "EE0100"},
        {"FVApi_UploadBgm", "s", u, bgm("1", &empty), "BgmStream is Empty", "EE0100"},

        // the background calls take the long session they are given, not the start parameters'
        {"FVApi_UploadBack", "s", "", back("", "", ""), "LongSessionId = nil", "EE0100"},
        {"FVApi_UploadBack", "", "", back("ls", "", ""), "Url = nil", "EE0002"},
        {"FVApi_UploadBack", "", u, back("ls", "", ""), "ResUuid = nil", "EE0100"},
        {"FVApi_UploadBack", "", u, back("ls", "r", "/no/such.jpg"), "File not Exists : /no/such.jpg", "EE0100"},

        {"FVApi_GetRestUploadBack", "s", "", [](TFVApiResult& r) { FVApi_GetRestUploadBack("", nullptr, r); },
         "LongSessionId = nil", "EE0100"},
        {"FVApi_GetRestUploadBack", "", "", [](TFVApiResult& r) { FVApi_GetRestUploadBack("ls", nullptr, r); },
         "RestItems = nil", "EE0100"},

        {"FVApi_UploadFailBack", "s", u, [](TFVApiResult& r) { FVApi_UploadFailBack("", "r", r); },
         "LongSessionId = nil", "EE0100"},
        {"FVApi_UploadFailBack", "", "", [](TFVApiResult& r) { FVApi_UploadFailBack("ls", "", r); }, "ResUuid = nil",
         "EE0100"},

        {"FVApi_FinishedUploadBack", "s", u, [](TFVApiResult& r) { FVApi_FinishedUploadBack("", true, r); },
         "LongSessionId = nil", "EE0100"},

        // the log's URL is checked before its session
        {"FVApi_SaveLog", "s", u, [](TFVApiResult& r) { FVApi_SaveLog("", "", "", r); }, "Url = nil", "EE0002"},
        {"FVApi_SaveLog", "s", u, [u](TFVApiResult& r) { FVApi_SaveLog(u, "", "", r); }, "LongSessionID = nil",
         "EE0100"},
        {"FVApi_SaveLog", "", "", [u](TFVApiResult& r) { FVApi_SaveLog(u, "ls", "", r); }, "Data = nil", "EE0100"},

        {"FVApi_LogOut", "", "", [](TFVApiResult& r) { FVApi_LogOut(r); }, "SessionID = nil", "EE0100"},
        {"FVApi_LogOut", "s", "", [](TFVApiResult& r) { FVApi_LogOut(r); }, "Url = nil", "EE0002"},

        // the card reads check their URL first and ask nothing without a session
        {"EyeFi_GetDirectoryResources", "", "", dir, "Url = nil", "EE0002"},
        {"EyeFi_GetDirectoryResources", "", u, dir, nullptr, ""},
        {"EyeFi_loadThumbnail", "", "", thumb, "Url = nil", "EE0002"},
        {"EyeFi_loadThumbnail", "", u, thumb, nullptr, ""},
        {"EyeFi_loadResource", "", "", res, "Url = nil", "EE0002"},
        {"EyeFi_loadResource", "", u, res, nullptr, ""},

        {"EyeFi_Upload", "", "", [](TFVApiResult& r) { EyeFi_Upload("", 0, "r", r); }, "SessionId = nil", "EE0001"},
        {"EyeFi_Upload", "s", "", [](TFVApiResult& r) { EyeFi_Upload("", 0, "r", r); }, "Url = nil", "EE0002"},
        {"EyeFi_Upload", "s", u, [](TFVApiResult& r) { EyeFi_Upload("", 0, "r", r); }, "FolvaneID = nil", "EE0100"},
    };
}

std::string ReadFrom(const std::string& file, std::streamoff from) {
    std::ifstream in(file, std::ios::binary);
    in.seekg(from);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ApiChecks, EveryCallChecksItsInputsInItsOrderAndLogsUnderItsName) {
    fs::path dir = fs::temp_directory_path() / ("fv-api-checks-" + std::to_string(getpid()));
    fs::create_directories(dir);
    OpenCorvaLog(dir.string());
    ASSERT_TRUE(IsCorvaLogOpen());
    const std::string log = CorvaLogFileName();
    for (const TCheckCase& c : Cases()) {
        SCOPED_TRACE(std::string(c.Label) + " / " + (c.Message ? c.Message : "nothing asked"));
        UseParams(c.Session, c.Url);
        auto before = static_cast<std::streamoff>(fs::file_size(log));
        TFVApiResult r;
        r.Code = "stale";
        c.Run(r);
        EXPECT_FALSE(r.Success);
        EXPECT_EQ(r.ErrorCode, c.ErrorCode);
        std::string written = ReadFrom(log, before);
        if (!c.Message) {
            EXPECT_EQ(r.Kind, fvrkNone);
            EXPECT_EQ(r.Code, "");
            EXPECT_EQ(written, "");
            continue;
        }
        EXPECT_EQ(r.Kind, fvrkException);
        EXPECT_EQ(r.Code, "EFolvaneApiError");
        EXPECT_EQ(r.Message, c.Message);
        // the raise and the failure, each once, in that order
        std::string raised = std::string(c.Label) + " : EFolvaneApiError Raised ( " + c.Message + " )";
        std::string failed = std::string(c.Label) + " is Failed. ( EFolvaneApiError Raised ( " + c.Message + " ) )";
        size_t at = written.find(raised);
        EXPECT_NE(at, std::string::npos) << written;
        EXPECT_EQ(written.find(raised, at + 1), std::string::npos) << written;
        EXPECT_NE(written.find(failed, at == std::string::npos ? 0 : at), std::string::npos) << written;
    }
    CloseCorvaLog();
    FVApiParams().Clear();
    fs::remove_all(dir);
}

}  // namespace
}  // namespace fv
