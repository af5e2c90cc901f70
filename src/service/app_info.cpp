// pugixml reads the application-information document; nothing here touches the network itself:
// the service call comes in through the environment's Fetch.
#include "service/app_info.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstring>

#include "core/config.h"
#include "core/file_functions.h"
#include "core/log.h"
#include "platform/file_replace.h"
#include "platform/http.h"
#include "platform/net.h"
#include "platform/percent_encoding.h"
#include "platform/registry.h"
#include "service/api.h"
#include "service/file_encryption.h"
#include "service/start_params.h"
#include "service/update.h"

namespace fv {
namespace {

std::mutex gEnvLock;
TAppInfoEnvironment* gEnv = nullptr;

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool SameText(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string Attr(const pugi::xml_node& n, const char* name) { return n.attribute(name).value(); }

// decimal 32-bit value; fallback for anything else (overflow included)
int32_t ToInt32(const std::string& text, int32_t fallback) {
    std::string t = Trim(text);
    int32_t v = 0;
    auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size() || t.empty()) return fallback;
    return v;
}

// first child whose name equals the given one ignoring letter case
pugi::xml_node ChildNoCase(const pugi::xml_node& parent, const char* name) {
    for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && SameText(c.name(), name)) return c;
    return {};
}

}  // namespace

// ---------------------------------------------------------------- environment

std::string AppInfoKeyText(const std::string& computerName, const std::string& userName) {
    std::string c = computerName.empty() ? "Unknown" : computerName;
    std::string u = userName.empty() ? "Unknown" : userName;
    return "{" + c + "}-[" + u + ">";
}

TAppInfoFetchResult FetchAppInfoFromService(const std::string& longSessionId, TStream& dest) {
    THttpClient client;
    client.SetConnectTimeoutMs(kAppInfoConnectTimeoutMs);
    client.SetLowSpeedLimit(1, kAppInfoStallSeconds);
    // a service that trickles its answer byte by byte still ends within the start-up's budget
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAppInfoDeadlineMs);
    client.SetProgress([deadline](int64_t, int64_t, int64_t, int64_t) { return std::chrono::steady_clock::now() < deadline; });
    TFVApiResult r;
    FVApi_GetAppInfo(longSessionId, dest, r, &client);
    TAppInfoFetchResult out;
    out.Success = r.Success;
    out.KindName = ResultKindName(r.Kind);
    out.ErrorCode = r.ErrorCode;
    return out;
}

TAppInfoEnvironment DefaultAppInfoEnvironment() {
    TAppInfoEnvironment env;
    std::string self = GetModuleFileName();
    size_t slash = self.find_last_of('/');
    env.ProgramFolder = slash == std::string::npos ? std::string(".") : self.substr(0, slash);
    // an installed program finds its pages under share/ beside bin/; the build tree keeps them beside it
    std::string installed = env.ProgramFolder + "/../share/folvane-browser";
    if (!DirectoryExists(env.ProgramFolder + "/docroot") && DirectoryExists(installed + "/docroot"))
        env.ProgramFolder = ExcludeTrailingPathDelimiters(ExpandRelativePath(env.ProgramFolder, "../share/folvane-browser"));
    env.DataFolder = TFolvaneConfigItem().GetDataFolder();
    env.KeyText = AppInfoKeyText(GetComputerNameStr(), GetUserNameStr());
    env.AppInfoUrl = [] { return FVApiParams().AppInfoUrl(); };
    env.TestMode = ServiceTestMode();
    env.Fetch = FetchAppInfoFromService;
    env.VersionChanged = [] { return TFolvaneConfigItem().IsVersionChanged(); };
    env.StoreSuccessedVersion = [] {
        // written only when it changes: every start with a session stores the same version
        TFolvaneConfigItem config;
        try {
            TRegistry reg(config.GetRegistryFileName());
            if (reg.OpenKeyReadOnly(config.GetProductRegistryKey()) && reg.ValueExists("SuccessedVersion") &&
                reg.GetDataType("SuccessedVersion") == TRegDataType::rdString &&
                reg.ReadString("SuccessedVersion") == RunningFileVersion())
                return;
        } catch (const std::exception&) {
        }
        config.StoreSuccessedVersion();
    };
    return env;
}

TAppInfoEnvironment CurrentAppInfoEnvironment() {
    std::lock_guard<std::mutex> g(gEnvLock);
    if (gEnv) return *gEnv;
    return DefaultAppInfoEnvironment();
}

void SetAppInfoEnvironment(const TAppInfoEnvironment& env) {
    std::lock_guard<std::mutex> g(gEnvLock);
    delete gEnv;
    gEnv = new TAppInfoEnvironment(env);
}

void ResetAppInfoEnvironment() {
    std::lock_guard<std::mutex> g(gEnvLock);
    delete gEnv;
    gEnv = nullptr;
}

std::string FileUrlOfPath(const std::string& path) {
    // a Linux path starts with its root delimiter, which becomes the URL's third slash
    return "file://" + IncludeLeadingPathDelimiter(path);
}

// ---------------------------------------------------------------- item

TKSGetAppInfoItem::TKSGetAppInfoItem(TAppInfoEnvironment env) : FEnv(std::move(env)) {
    FDoc.append_child(pugi::node_declaration).append_attribute("version") = "1.0";
}

std::string TKSGetAppInfoItem::DocrootFolder() const {
    return IncludeTrailingPathDelimiter(FEnv.ProgramFolder) + "docroot";
}

std::string TKSGetAppInfoItem::LocalCopyFileName() const {
    return IncludeTrailingPathDelimiter(FEnv.DataFolder) + kAppInfoLocalFileName;
}

std::string TKSGetAppInfoItem::DocrootPath(const std::string& url) {
    if (Lower(url.substr(0, 7)) != "file://") return {};
    std::string rest = url.substr(7);
    // no query or fragment belongs to a file name
    size_t cut = rest.find_first_of("?#");
    if (cut != std::string::npos) rest.resize(cut);
    if (rest.find('\0') != std::string::npos) return {};
    // resolved below docroot only: an absolute or climbing path must not name any other file
    std::string root = DocrootFolder();
    std::string path = ExpandRelativePath(root, ExcludeLeadingPathDelimiters(rest));
    if (!IsSubFolder(root, path)) return {};
    return ExcludeTrailingPathDelimiters(path);
}

void TKSGetAppInfoItem::ClearValues() {
    std::lock_guard<std::recursive_mutex> g(FLock);
    FVer.clear();
    FBootUrlDoc.clear();
    FBaseUrl.clear();
    FAppInfoUrl.clear();
    FInstallerUrl.clear();
    FInstallerSha256.clear();
    FUploadUrl.clear();
    FPreviewUrl.clear();
    FHelpUrl.clear();
    FLogUrl.clear();
    FLongSessionId.clear();
    FRemotePhotoUrl.clear();
    FConfigName.clear();
    FOfflineAnnounceUrl.clear();
    FErrorPages.clear();
    FWakeupNodes.clear();
    FWakeupMode.clear();
    FWakeupBootUrl.clear();
    FUpdate = TAppInfoUpdateMessage();
    FLastError.clear();
    FLastErrorCode.clear();
    FNetworkCheck = true;
    FSource = TAppInfoSource::None;
}

bool TKSGetAppInfoItem::LoadInfoData(bool localOnly, const std::string& longSessionId) {
    std::lock_guard<std::recursive_mutex> g(FLock);
    try {
        ClearValues();
        if (LoadInfoDataFromDefault()) {
            WriteLog("GetAppInfo succeeded from Local Default.");
            FSource = TAppInfoSource::LocalDefault;
        } else if (!localOnly && LoadInfoDataFromInternet(longSessionId)) {
            WriteLog("GetAppInfo succeeded from Internet.");
            FSource = TAppInfoSource::Internet;
        } else if (LoadInfoDataFromLocal()) {
            WriteLog("GetAppInfo succeeded From Local.");
            FSource = TAppInfoSource::Local;
        } else {
            WriteLog("GetAppInfo Failed.");
            return false;
        }
        ReadInfoData();
        return true;
    } catch (const std::exception& e) {
        WriteLogFailed("TKSGetAppInfoItem.LoadInfoData", e);
        return false;
    }
}

bool TKSGetAppInfoItem::LoadInfoDataFromDefault() {
    std::string url = FEnv.AppInfoUrl ? FEnv.AppInfoUrl() : std::string();
    std::string path = DocrootPath(url);
    long long size = path.empty() ? -1 : RegularFileSize(path);
    if (size <= 0) return false;
    if (size > kAppInfoMaxBytes) {
        WriteLog("LoadInfoDataFromDefault : " + path + " is too large.");
        return false;
    }
    TMemoryStream m;
    m.LoadFromFile(path);
    if (!LoadInfoDataFromStream(m)) return false;
    SaveLocalCopy(m);
    return true;
}

bool TKSGetAppInfoItem::LoadInfoDataFromInternet(const std::string& longSessionId) {
    try {
        if (!FEnv.Fetch) {
            FLastError = "exception";
            FLastErrorCode = "EE1000";
            return false;
        }
        // a document that came in clear could have been written by anyone on the way: it is
        // neither asked for nor kept as the local copy
        std::string url = FEnv.AppInfoUrl ? FEnv.AppInfoUrl() : std::string();
        if (PlainHttpRefused(url, FEnv.TestMode)) {
            WriteLog("LoadInfoDataFromInternet : a plain-http URL is refused.");
            FLastError = ResultKindName(fvrkSocketError);
            FLastErrorCode = "ES0002";
            return false;
        }
        TMemoryStream m;
        TAppInfoFetchResult r = FEnv.Fetch(longSessionId, m);
        if (!r.Success) {
            FLastError = r.KindName;
            FLastErrorCode = r.ErrorCode;
            return false;
        }
        bool valid = false;
        try {
            valid = LoadInfoDataFromStream(m);
        } catch (const EKSGetAppInfoItemError& e) {
            WriteLogFailed("LoadInfoDataFromInternet", e);
        }
        if (!valid) {
            FLastError = "exception";
            FLastErrorCode = "EE0100";
            return false;
        }
        SaveLocalCopy(m);
        if (FEnv.StoreSuccessedVersion) FEnv.StoreSuccessedVersion();
        return true;
    } catch (const Exception& e) {
        WriteLogFailed("LoadInfoDataFromInternet", e);
    } catch (const std::exception& e) {
        WriteLog("LoadInfoDataFromInternet Failed.\r\n" + Trim(e.what()));
    }
    return false;
}

bool TKSGetAppInfoItem::LoadInfoDataFromLocal() {
    std::string file = LocalCopyFileName();
    if (RegularFileSize(file) < 0) return false;
    try {
        TMemoryStream plain;
        std::string tag;
        if (!LoadEncryptedFile(file, FEnv.KeyText, &plain, tag)) return false;
        if (tag != kAppInfoContentTag || plain.Size() == 0) return false;
        plain.SetPosition(0);
        return LoadInfoDataFromStream(plain);
    } catch (const std::exception& e) {
        // a damaged, foreign or truncated copy counts as absent
        WriteLogFailed("LoadInfoDataFromLocal", e);
        return false;
    }
}

bool TKSGetAppInfoItem::LoadInfoDataFromStream(TStream& s) {
    std::lock_guard<std::recursive_mutex> g(FLock);
    return LoadFromStreamLocked(s);
}

bool TKSGetAppInfoItem::LoadFromStreamLocked(TStream& s) {
    try {
        s.SetPosition(0);
        int64_t size = s.Size();
        if (size > kAppInfoMaxBytes) throw EKSGetAppInfoItemError(Format("document of %lld bytes is too large", static_cast<long long>(size)));
        std::string bytes(static_cast<size_t>(size), '\0');
        s.ReadBuffer(bytes.data(), size);
        FDoc.reset();
        pugi::xml_parse_result r = FDoc.load_buffer(bytes.data(), bytes.size(), pugi::parse_default);
        if (!r) throw EKSGetAppInfoItemError(Format("%s at offset %lld", r.description(), static_cast<long long>(r.offset)));
        pugi::xml_node root = FDoc.document_element();
        return root && std::strcmp(root.name(), kAppInfoRootName) == 0 && root.attribute("ver");
    } catch (const std::exception& e) {
        FDoc.reset();
        EKSGetAppInfoItemError err(Format("%s Raised ( %s )", ExceptionClassName(e).c_str(), e.what()));
        WriteLogFailed("LoadInfoDataFromStream", err);
        throw err;
    }
}

bool TKSGetAppInfoItem::LocalCopyHolds(TStream& s) {
    try {
        std::string file = LocalCopyFileName();
        if (RegularFileSize(file) <= 0) return false;
        TMemoryStream plain;
        std::string tag;
        if (!LoadEncryptedFile(file, FEnv.KeyText, &plain, tag) || tag != kAppInfoContentTag) return false;
        if (plain.Size() != s.Size()) return false;
        std::vector<uint8_t> bytes(static_cast<size_t>(s.Size()));
        s.SetPosition(0);
        s.ReadBuffer(bytes.data(), s.Size());
        return bytes == plain.Data();
    } catch (const std::exception&) {
        return false;  // unreadable: written anew
    }
}

void TKSGetAppInfoItem::SaveLocalCopy(TStream& s) {
    try {
        if (!ForceDirectories(FEnv.DataFolder)) return;
        if (LocalCopyHolds(s)) return;  // the same document again: the copy on disk is current
        SaveEncryptedFile(&s, LocalCopyFileName(), kAppInfoContentTag, FEnv.KeyText);
    } catch (const std::exception&) {
        // a copy that cannot be written is skipped: the next start asks the service again
    }
}

void TKSGetAppInfoItem::ReadInfoData() {
    std::lock_guard<std::recursive_mutex> g(FLock);
    pugi::xml_node root = FDoc.document_element();
    if (!root) return;
    FVer = Attr(root, "ver");
    FBootUrlDoc = Attr(root.child("booturl"), "src");
    FBaseUrl = Attr(root.child("baseurl"), "src");
    FAppInfoUrl = Attr(root.child("getappinfourl"), "src");
    pugi::xml_node installer = root.child("getinstallerurl");
    FInstallerUrl = Attr(installer, "src");
    // kept as given (lower-cased): a malformed digest must not pass as "none given"
    FInstallerSha256 = Lower(Trim(Attr(installer, "sha256")));
    FUploadUrl = Attr(root.child("uploadurl"), "src");
    FPreviewUrl = Attr(root.child("newfolvanepreviewurl"), "src");
    pugi::xml_node nc = root.child("networkcheck");
    FNetworkCheck = !SameText(Attr(nc, "value").c_str(), "disable");
    FOfflineAnnounceUrl = Attr(nc, "offlineannounceurl");
    FHelpUrl = Attr(root.child("helpurl"), "src");
    pugi::xml_node log = root.child("logurl");
    FLogUrl = Attr(log, "src");
    FLongSessionId = Attr(log, "longsessionid");
    FRemotePhotoUrl = Attr(root.child("remotephotourl"), "src");
    if (pugi::xml_node cache = root.child("initialparams").child("pictoriumcashmax")) {
        if (pugi::xml_attribute kb = cache.attribute("kbyes")) {
            std::string v = Trim(kb.value());
            if (SameText(v.c_str(), "infinity"))
                FCacheMax = -1;
            else
                FCacheMax = std::max<int32_t>(0, ToInt32(v, 0));  // a negative limit means nothing
        }
    }

    // error pages: "value[code]" = "src"; later entries replace, an empty src removes
    for (pugi::xml_node t = root.child("errormessages").first_child(); t; t = t.next_sibling()) {
        if (t.type() != pugi::node_element || !SameText(t.name(), "type")) continue;
        std::string key = Attr(t, "value") + "[" + Attr(t, "code") + "]";
        std::string src = Attr(t, "src");
        auto it = std::find_if(FErrorPages.begin(), FErrorPages.end(), [&](const auto& p) { return p.first == key; });
        if (src.empty()) {
            if (it != FErrorPages.end()) FErrorPages.erase(it);
        } else if (it != FErrorPages.end()) {
            it->second = src;
        } else {
            FErrorPages.emplace_back(key, src);
        }
    }

    FWakeupNodes.clear();
    for (const char* name : {"firstwakeup", "wakeup", "localwakeup"})
        if (pugi::xml_node n = root.child(name)) FWakeupNodes.push_back(n);

    for (pugi::xml_node u = root.child("uis").first_child(); u; u = u.next_sibling()) {
        if (u.type() != pugi::node_element) continue;
        std::string kind = Lower(u.name()), name = Lower(Attr(u, "name")), disp = Lower(Attr(u, "disp"));
        int which = -1;
        if (kind == "menu" && name == "debug") which = swDebugMenu;
        if (kind == "dialog" && name == "debuginfo") which = swDebugInfo;
        if (kind == "toolbar" && name == "tab") which = swTab;
        if (kind == "toolbar" && name == "folvanetray") which = swFolvaneTray;
        if (which < 0) continue;
        if (disp == "enable") FSwitches[which] = uisEnable;
        if (disp == "disable") FSwitches[which] = uisDisable;
        if (disp == "hidden") FSwitches[which] = uisHidden;
    }

    FConfigName = Attr(root.child("configname"), "name");

    pugi::xml_node um = root.child("updatemessages");
    pugi::xml_node dialog = um.child("dialog");
    FUpdate.Src = Attr(dialog, "src");
    // a message window larger than any screen is a broken value, not a wish
    FUpdate.Width = std::clamp<int32_t>(ToInt32(Attr(dialog, "width"), 0), 0, 8192);
    FUpdate.Height = std::clamp<int32_t>(ToInt32(Attr(dialog, "height"), 0), 0, 8192);
    FUpdate.VistaOnly = SameText(Trim(um.child("vistaonly").text().get()).c_str(), "true");
    std::string buttons = Lower(Attr(um.child("button"), "type"));
    FUpdate.Buttons = 0;
    if (buttons.find("yes") != std::string::npos) FUpdate.Buttons |= ubYes;
    if (buttons.find("no") != std::string::npos) FUpdate.Buttons |= ubNo;
    if (buttons.find("ok") != std::string::npos) FUpdate.Buttons |= ubOk;
    if (buttons.find("cancel") != std::string::npos) FUpdate.Buttons |= ubCancel;
}

void TKSGetAppInfoItem::EvaluateLocalWakeup() {
    std::lock_guard<std::recursive_mutex> g(FLock);
    for (const pugi::xml_node& wake : FWakeupNodes) {
        if (std::strcmp(wake.name(), "localwakeup") != 0) continue;  // the others are kept, not evaluated
        for (pugi::xml_node procs = wake.child("procs"); procs; procs = procs.next_sibling("procs")) {
            for (pugi::xml_node step = procs.first_child(); step; step = step.next_sibling()) {
                if (step.type() != pugi::node_element || std::strcmp(step.name(), "networkcheck") != 0) continue;
                // "message", "exit" and unknown steps do nothing; "offline" dialogs are read, not used
                pugi::xml_node online = ChildNoCase(step, "online");
                for (pugi::xml_node sm = online.first_child(); sm; sm = sm.next_sibling()) {
                    if (sm.type() != pugi::node_element || !SameText(sm.name(), "setmode")) continue;
                    FWakeupMode = Attr(sm, "value");
                    for (pugi::xml_node p = sm.first_child(); p; p = p.next_sibling())
                        if (p.type() == pugi::node_element && SameText(p.name(), "parameter") &&
                            SameText(Attr(p, "name").c_str(), "url"))
                            FWakeupBootUrl = Attr(p, "value");
                }
            }
        }
    }
}

std::string TKSGetAppInfoItem::ErrorPageRef(const std::string& type, const std::string& code) {
    for (const std::string& key : {type + "[" + code + "]", type + "[]", std::string("[]")}) {
        for (const auto& p : FErrorPages)
            if (p.first == key) return p.second;
    }
    return kDefaultErrorPage;
}

std::string TKSGetAppInfoItem::GetErrorPageUrl(const std::string& type, const std::string& code) {
    std::lock_guard<std::recursive_mutex> g(FLock);
    std::string path = DocrootPath(ErrorPageRef(type, code));
    // a page outside docroot (or no local page at all) is never shown: the built-in page serves
    if (path.empty()) path = DocrootPath(kDefaultErrorPage);
    bool changed = FEnv.VersionChanged && FEnv.VersionChanged();
    return Format("%s?value=%s&code=%s&justafterupdate=%s", FileUrlOfPath(path).c_str(),
                  PercentEncode(type).c_str(), PercentEncode(code).c_str(), changed ? "true" : "false");
}

std::string TKSGetAppInfoItem::GetOfflineAnnounceUrl() {
    std::lock_guard<std::recursive_mutex> g(FLock);
    if (FOfflineAnnounceUrl.empty()) return {};
    // the page path may carry a query; only the path part must stay inside docroot
    std::string text = FOfflineAnnounceUrl;
    size_t cut = text.find_first_of("?#");
    std::string path = DocrootPath("file://" + text.substr(0, cut));
    if (path.empty()) return {};
    return FileUrlOfPath(path) + (cut == std::string::npos ? std::string() : text.substr(cut));
}

std::string TKSGetAppInfoItem::Ver() { std::lock_guard<std::recursive_mutex> g(FLock); return FVer; }
std::string TKSGetAppInfoItem::BaseUrl() { std::lock_guard<std::recursive_mutex> g(FLock); return FBaseUrl; }
std::string TKSGetAppInfoItem::AppInfoUrl() { std::lock_guard<std::recursive_mutex> g(FLock); return FAppInfoUrl; }
std::string TKSGetAppInfoItem::InstallerUrl() { std::lock_guard<std::recursive_mutex> g(FLock); return FInstallerUrl; }
std::string TKSGetAppInfoItem::InstallerSha256() { std::lock_guard<std::recursive_mutex> g(FLock); return FInstallerSha256; }
std::string TKSGetAppInfoItem::RawHelpUrl() { std::lock_guard<std::recursive_mutex> g(FLock); return FHelpUrl; }
std::string TKSGetAppInfoItem::HelpUrl() {
    std::lock_guard<std::recursive_mutex> g(FLock);
    if (Lower(FHelpUrl.substr(0, 7)) == "file://") return DocrootPath(FHelpUrl);
    return FHelpUrl;
}
std::string TKSGetAppInfoItem::LogUrl() { std::lock_guard<std::recursive_mutex> g(FLock); return FLogUrl; }
std::string TKSGetAppInfoItem::LongSessionId() { std::lock_guard<std::recursive_mutex> g(FLock); return FLongSessionId; }
std::string TKSGetAppInfoItem::RemotePhotoUrl() { std::lock_guard<std::recursive_mutex> g(FLock); return FRemotePhotoUrl; }
int32_t TKSGetAppInfoItem::PictoriumCacheMax() { std::lock_guard<std::recursive_mutex> g(FLock); return FCacheMax; }
bool TKSGetAppInfoItem::NetworkCheck() { std::lock_guard<std::recursive_mutex> g(FLock); return FNetworkCheck; }
TAppInfoUIS TKSGetAppInfoItem::Switch(TAppInfoSwitch which) {
    std::lock_guard<std::recursive_mutex> g(FLock);
    return FSwitches[std::clamp<int>(which, 0, 3)];
}
std::string TKSGetAppInfoItem::WakeupMode() { std::lock_guard<std::recursive_mutex> g(FLock); return FWakeupMode; }
std::string TKSGetAppInfoItem::WakeupBootUrl() { std::lock_guard<std::recursive_mutex> g(FLock); return FWakeupBootUrl; }
TAppInfoUpdateMessage TKSGetAppInfoItem::UpdateMessage() { std::lock_guard<std::recursive_mutex> g(FLock); return FUpdate; }
std::string TKSGetAppInfoItem::LastError() { std::lock_guard<std::recursive_mutex> g(FLock); return FLastError; }
std::string TKSGetAppInfoItem::LastErrorCode() { std::lock_guard<std::recursive_mutex> g(FLock); return FLastErrorCode; }
TAppInfoSource TKSGetAppInfoItem::Source() { std::lock_guard<std::recursive_mutex> g(FLock); return FSource; }
std::vector<std::pair<std::string, std::string>> TKSGetAppInfoItem::ErrorPages() {
    std::lock_guard<std::recursive_mutex> g(FLock);
    return FErrorPages;
}

std::string GetHomeUnreachablePageUrl() {
    TKSGetAppInfoItem item;
    item.LoadInfoData(true, "");
    if (!item.NetworkCheck() || InternetConnected()) return item.GetErrorPageUrl("networkError", "");
    std::string offline = item.GetOfflineAnnounceUrl();
    return offline.empty() ? item.GetErrorPageUrl("networkError", "") : offline;
}

}  // namespace fv
