// fvb api CALL key=value... : one service call, then its result record.
//   --service ROOT  the service root (else $FV_SERVICE_URL); the calls go to ROOT/api/, the card
//                   reads to ROOT/remote/, the application information to ROOT/getAppInfo.php
//   --base URL, --remote URL, --appinfo URL  set one of them directly
//   --json          the record as one JSON object
// Keys name the call's inputs (sessionid, folvaneid, file, thumbid, ...); out=FILE keeps raw answers.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>

#include "commands.h"
#include "platform/collate.h"
#include "service/api.h"
#include "service/start_params.h"

namespace fv::fvb {

namespace {

using TFields = std::vector<std::pair<std::string, std::string>>;

struct TApiArgs {
    std::map<std::string, std::string> Keys;
    std::string Get(const std::string& k, const std::string& fallback = std::string()) const {
        auto it = Keys.find(k);
        return it == Keys.end() ? fallback : it->second;
    }
    int32_t Int(const std::string& k, int32_t fallback) const {
        int32_t v = 0;
        return ParseDecimal32(Get(k), v) ? v : fallback;
    }
    bool Bool(const std::string& k, bool fallback) const {
        std::string v = Get(k);
        return v.empty() ? fallback : (v == "true" || v == "1" || v == "yes");
    }
};

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> out;
    if (text.empty()) return out;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        out.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) return out;
        start = comma + 1;
    }
}

std::string ReadFileBytes(const std::string& path, bool& ok) {
    ok = false;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return std::string();
    std::string bytes;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    std::fclose(f);
    ok = true;
    return bytes;
}

// raw answers go to out=FILE when given; their size is reported either way
void KeepRaw(const TApiArgs& a, TMemoryStream& s, TFields& fields) {
    fields.emplace_back("bytes", std::to_string(s.Size()));
    std::string out = a.Get("out");
    if (!out.empty()) s.SaveToFile(out);
}

using TCallFn = std::function<void(const TApiArgs&, TFVApiResult&, TFields&)>;

const std::map<std::string, TCallFn>& Calls() {
    static const std::map<std::string, TCallFn> calls = {
        {"getappinfo",
         [](const TApiArgs& a, TFVApiResult& r, TFields& f) {
             TMemoryStream s;
             FVApi_GetAppInfo(a.Get("loglongsessionid"), s, r);
             KeepRaw(a, s, f);
         }},
        {"checkfolvane",
         [](const TApiArgs& a, TFVApiResult& r, TFields& f) {
             std::vector<TFolvaneAlbum> albums;
             FVApi_CheckFolvane(a.Get("folvaneidary", a.Get("folvaneid")), &albums, r);
             for (const auto& al : albums) f.emplace_back("album", al.FolvaneId + "\t" + al.Title + "\t" + al.PreviewUrl);
         }},
        {"startupload",
         [](const TApiArgs& a, TFVApiResult& r, TFields& f) {
             TFolvaneUploadInfoItem info;
             info.SetFolvaneId(a.Get("folvaneid"));
             FVApi_StartUpload(&info, r);
             f.emplace_back("folvaneid", info.FolvaneId());
             f.emplace_back("hostname", info.HostName());
             f.emplace_back("longsessionid", info.LongSessionId());
             f.emplace_back("allowparallel", info.AllowParallel() ? "true" : "false");
             int32_t w, h, q;
             info.GetOriginalMax(w, h, q);
             f.emplace_back("originalmax", Format("%dx%d q%d", w, h, q));
             for (int slot = 1; slot <= kThumbSlotCount; ++slot) {
                 TFolvaneThumbSpec t = info.Thumb(slot);
                 if (t.ThumbId > 0)
                     f.emplace_back("thumbnail", Format("%d %dx%d q%d", t.ThumbId, t.Width, t.Height, t.JpegQuality));
             }
         }},
        {"finishedupload",
         [](const TApiArgs& a, TFVApiResult& r, TFields& f) {
             std::string next;
             FVApi_FinishedUpload(a.Get("folvaneid"), a.Get("direct_name"), a.Get("tabname"), a.Bool("iscomplete", true),
                                  a.Int("createmode", 0), a.Int("direct_type", 0), next, r);
             f.emplace_back("nextpage", next);
         }},
        {"upload",
         [](const TApiArgs& a, TFVApiResult& r, TFields& f) {
             std::string res = a.Get("resuuid");
             FVApi_UploadEx(a.Get("folvaneid"), a.Get("file"), a.Get("comment"), SplitList(a.Get("tags")),
                            a.Get("orgfilename"), a.Get("editmode") == "jacket", a.Int("orgheight", 0),
                            a.Int("orgwidth", 0), a.Int("thumbid", -1), a.Int("photoindex", 0), res, r);
             f.emplace_back("resuuid", res);
         }},
        {"uploadbodyicon",
         [](const TApiArgs& a, TFVApiResult& r, TFields& f) {
             bool ok;
             std::string bytes = ReadFileBytes(a.Get("file"), ok), next;
             FVApi_UploadBodyIcon(a.Get("file"), ok ? &bytes : nullptr, next, r);
             f.emplace_back("nextpage", next);
         }},
        {"uploadbgm",
         [](const TApiArgs& a, TFVApiResult& r, TFields& f) {
             bool ok;
             std::string bytes = ReadFileBytes(a.Get("file"), ok), out;
             bool page = a.Get("form") == "page";
             FVApi_UploadBgm(a.Get("folvaneid"), a.Get("file"), a.Get("title"), ok ? &bytes : nullptr,
                             page ? TBgmUploadForm::NextPage : TBgmUploadForm::ResourceId, out, r);
             f.emplace_back(page ? "nextpage" : "resuuid", out);
         }},
        {"uploadback",
         [](const TApiArgs& a, TFVApiResult& r, TFields&) {
             FVApi_UploadBack(a.Get("longsessionid"), a.Get("resuuid"), a.Get("file"), a.Int("thumbid", -1),
                              a.Get("orgfilename"), r);
         }},
        {"getrestuploadback",
         [](const TApiArgs& a, TFVApiResult& r, TFields& f) {
             std::vector<TFolvaneRestItem> items;
             FVApi_GetRestUploadBack(a.Get("longsessionid"), &items, r);
             for (const auto& i : items) f.emplace_back("rest", i.HostName + "\t" + i.ResUuid);
         }},
        {"uploadfailback",
         [](const TApiArgs& a, TFVApiResult& r, TFields&) { FVApi_UploadFailBack(a.Get("longsessionid"), a.Get("resuuid"), r); }},
        {"finisheduploadback",
         [](const TApiArgs& a, TFVApiResult& r, TFields&) {
             FVApi_FinishedUploadBack(a.Get("longsessionid"), a.Bool("iscomplete", true), r);
         }},
        {"savelog",
         [](const TApiArgs& a, TFVApiResult& r, TFields&) {
             std::string data = a.Get("logdata");
             if (!a.Get("file").empty()) {
                 bool ok;
                 data = ReadFileBytes(a.Get("file"), ok);
             }
             FVApi_SaveLog(a.Get("logurl"), a.Get("longsessionid"), data, r);
         }},
        {"logout", [](const TApiArgs&, TFVApiResult& r, TFields&) { FVApi_LogOut(r); }},
        {"getdirectoryresources",
         [](const TApiArgs& a, TFVApiResult& r, TFields& f) {
             TMemoryStream s;
             EyeFi_GetDirectoryResources(a.Get("dirid"), a.Int("revision", 0), s, r);
             KeepRaw(a, s, f);
         }},
        {"loadthumbnail",
         [](const TApiArgs& a, TFVApiResult& r, TFields& f) {
             TMemoryStream s;
             EyeFi_loadThumbnail(a.Get("resid"), a.Int("width", 160), a.Int("height", 160), s, r);
             KeepRaw(a, s, f);
         }},
        {"loadresource",
         [](const TApiArgs& a, TFVApiResult& r, TFields& f) {
             TMemoryStream s;
             EyeFi_loadResource(a.Get("resid"), a.Int("revision", 0), s, r);
             KeepRaw(a, s, f);
         }},
        {"eyefiupload",
         [](const TApiArgs& a, TFVApiResult& r, TFields&) {
             EyeFi_Upload(a.Get("folvaneid"), a.Int("photoindex", 0), a.Get("resid"), r);
         }},
    };
    return calls;
}

// "FVApi_CheckFolvane", "checkFolvane" and "checkFolvane.php" name the same call
std::string CallKey(std::string name) {
    name = LowerCaseText(name);
    for (const char* prefix : {"fvapi_", "eyefi_"})
        if (name.rfind(prefix, 0) == 0) name = name.substr(std::string(prefix).size());
    if (name.size() > 4 && name.substr(name.size() - 4) == ".php") name.resize(name.size() - 4);
    if (name == "uploadex") name = "upload";
    return name;
}

void PrintRecord(const TFVApiResult& r, const TFields& fields, bool json) {
    if (json) {
        std::string out = "{\"success\":" + std::string(r.Success ? "true" : "false") +
                          ",\"kind\":" + std::to_string(r.Kind) + ",\"kindname\":" + JsonString(ResultKindName(r.Kind)) +
                          ",\"code\":" + JsonString(r.Code) + ",\"errorcode\":" + JsonString(r.ErrorCode) +
                          ",\"message\":" + JsonString(r.Message) + ",\"fields\":[";
        for (size_t i = 0; i < fields.size(); ++i)
            out += (i ? ",[" : "[") + JsonString(fields[i].first) + "," + JsonString(fields[i].second) + "]";
        std::printf("%s]}\n", out.c_str());
        return;
    }
    std::printf("success\t%s\nkind\t%d %s\ncode\t%s\nerrorcode\t%s\nmessage\t%s\n", r.Success ? "true" : "false",
                r.Kind, ResultKindName(r.Kind), r.Code.c_str(), r.ErrorCode.c_str(), r.Message.c_str());
    for (const auto& [k, v] : fields) std::printf("%s\t%s\n", k.c_str(), v.c_str());
}

int ApiUsage() {
    std::fprintf(stderr, "usage: fvb api [--service ROOT] [--base URL] [--remote URL] [--appinfo URL] [--json] CALL "
                         "key=value...\ncalls:");
    for (const auto& [name, fn] : Calls()) std::fprintf(stderr, " %s", name.c_str());
    std::fprintf(stderr, "\n");
    return 2;
}

}  // namespace

int CmdApi(const TArgs& args) {
    std::string root, base, remote, appInfo, call;
    bool json = false;
    TApiArgs a;
    if (const char* env = std::getenv("FV_SERVICE_URL")) root = env;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& s = args[i];
        if (s == "--json")
            json = true;
        else if ((s == "--service" || s == "--base" || s == "--remote" || s == "--appinfo") && i + 1 < args.size())
            (s == "--service" ? root : s == "--base" ? base : s == "--remote" ? remote : appInfo) = args[++i];
        else if (call.empty() && s.find('=') == std::string::npos)
            call = s;
        else if (size_t eq = s.find('='); eq != std::string::npos)
            a.Keys[LowerCaseText(s.substr(0, eq))] = s.substr(eq + 1);
        else
            return ApiUsage();
    }
    auto it = Calls().find(CallKey(call));
    if (call.empty() || it == Calls().end()) return ApiUsage();
    while (!root.empty() && root.back() == '/') root.pop_back();
    if (base.empty() && !root.empty()) base = root + "/api/";
    if (remote.empty() && !root.empty()) remote = root + "/remote/";
    if (appInfo.empty() && !root.empty()) appInfo = root + "/getAppInfo.php";
    if (a.Get("logurl").empty() && !root.empty()) a.Keys["logurl"] = root + "/log/saveLog.php";

    TFVApiParams& p = FVApiParams();
    p.SetParams(CommandLineToCSV({"sessionid=" + a.Get("sessionid"), "getappinfourl=" + appInfo}), true);
    p.SetParamsFromAppInfo(fvmDispPage, base, "", appInfo, "", remote, 0, 0, 0, true, true, false, false);
    TFVApiResult r;
    TFields fields;
    it->second(a, r, fields);
    PrintRecord(r, fields, json);
    return r.Success ? 0 : 1;
}

}  // namespace fv::fvb
