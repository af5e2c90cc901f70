#include "service/update.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>

#include "core/config.h"
#include "core/file_functions.h"
#include "core/log.h"
#include "platform/file_replace.h"
#include "platform/http.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "service/sha256.h"

namespace fv {
namespace {

std::mutex gUpdateLock;
TUpdateInfo gUpdate;
std::mutex gEnvLock;
std::unique_ptr<TUpdateEnvironment> gEnv;
TUpdateConfirm gConfirm;
bool gStartedWithParams = false;

// the service's own origins, known to every build
const char* const kBuiltInOrigins[] = {"https://www.folvane.jp:443", "https://app.folvane.jp:443"};

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}


bool IsSha256Hex(const std::string& s) {
    return s.size() == 64 && std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

bool RemoveFile(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    return !FileExists(path);
}

bool HttpDownload(const std::string& url, const std::string& path, int64_t maxBytes, std::string& error) {
    try {
        THttpClient client;
        client.SetUserAgent("Folvane Browser");
        client.SetMaxAnswerBytes(maxBytes);
        // an installer never follows a redirect: the origin checked is the origin fetched
        client.SetFollowRedirects(false);
        client.SetReceiveBufferBytes(512 << 10);
        // the installer may be large, but it must keep coming at a fair average rate
        client.SetDeadline(kInstallerDeadlineMs, kInstallerMinBytesPerSecond);
        int status = client.Download(url, path);
        if (status == 200) return true;
        error = Format("HTTP %d %s", status, client.ResponseText().c_str());
    } catch (const std::exception& e) {
        error = Format("%s ( %s )", ExceptionClassName(e).c_str(), e.what());
    }
    return false;
}

bool SpawnInstaller(const std::vector<std::string>& argv, std::string& error) {
    if (SpawnDetached(argv)) return true;
    error = std::strerror(errno);
    return false;
}

}  // namespace

void SetUpdateInfo(const std::string& installerUrl, const std::string& messageUrl, int32_t width, int32_t height,
                   bool vistaOnly, uint32_t buttons) {
    std::lock_guard<std::mutex> g(gUpdateLock);
    gUpdate.InstallerUrl = installerUrl;
    gUpdate.MessageUrl = messageUrl;
    gUpdate.Width = width;
    gUpdate.Height = height;
    gUpdate.VistaOnly = vistaOnly;
    gUpdate.Buttons = buttons;
}

void SetUpdateInstallerDigest(const std::string& sha256) {
    std::lock_guard<std::mutex> g(gUpdateLock);
    gUpdate.InstallerSha256 = sha256;
}

TUpdateInfo GetUpdateInfo() {
    std::lock_guard<std::mutex> g(gUpdateLock);
    return gUpdate;
}

void ClearUpdateInfo() {
    std::lock_guard<std::mutex> g(gUpdateLock);
    gUpdate = TUpdateInfo();
}

std::string UrlOrigin(const std::string& url) {
    size_t sep = url.find("://");
    if (sep == std::string::npos) return {};
    std::string scheme = Lower(url.substr(0, sep));
    if (scheme != "http" && scheme != "https") return {};
    size_t end = url.find_first_of("/?#", sep + 3);
    std::string authority = url.substr(sep + 3, end == std::string::npos ? std::string::npos : end - sep - 3);
    if (authority.empty() || authority.find('@') != std::string::npos || authority.find('\\') != std::string::npos)
        return {};
    std::string host = authority, port;
    if (authority[0] == '[') {
        size_t close = authority.find(']');
        if (close == std::string::npos) return {};
        host = authority.substr(0, close + 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':') return {};
            port = authority.substr(close + 2);
        }
    } else if (size_t colon = authority.find(':'); colon != std::string::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty()) return {};
    if (port.empty()) port = scheme == "https" ? "443" : "80";
    if (port.size() > 5 || !std::all_of(port.begin(), port.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return {};
    int p = std::atoi(port.c_str());
    if (p <= 0 || p > 65535) return {};
    return scheme + "://" + Lower(host) + ":" + std::to_string(p);
}

bool IsLoopbackOrigin(const std::string& origin) {
    size_t host = origin.find("://");
    if (host == std::string::npos) return false;
    std::string h = origin.substr(host + 3);
    return h.rfind("127.0.0.1:", 0) == 0 || h.rfind("localhost:", 0) == 0 || h.rfind("[::1]:", 0) == 0;
}

bool ServiceTestMode() {
    const char* test = std::getenv("FV_SERVICE_TEST_MODE");
    return test && std::strcmp(test, "1") == 0;
}

bool PlainHttpRefused(const std::string& url, bool testMode) {
    if (Lower(url.substr(0, 7)) != "http://") return false;
    return !(testMode && IsLoopbackOrigin(UrlOrigin(url)));
}

std::vector<std::string> TrustedServiceOrigins() {
    std::vector<std::string> out(std::begin(kBuiltInOrigins), std::end(kBuiltInOrigins));
    // a start parameter names the application-information URL: outside the stand-in's test mode
    // nothing it led to is trusted as an installer source
    if (!ServiceTestMode()) return out;
    try {
        TFolvaneConfigItem config;
        TRegistry reg(config.GetRegistryFileName());
        if (reg.OpenKeyReadOnly(config.GetProductRegistryKey()) && reg.ValueExists("ServiceOrigin")) {
            std::string o = UrlOrigin(reg.ReadString("ServiceOrigin"));
            if (!o.empty()) out.push_back(o);
        }
    } catch (...) {
        // an unreadable store leaves only the built-in origins
    }
    return out;
}

void RecordServiceOrigin(const std::string& appInfoUrl) {
    std::string origin = UrlOrigin(appInfoUrl);
    if (origin.empty()) return;
    // only the stand-in (test mode, loopback) is recorded; the service's own origins are built in
    if (!ServiceTestMode() || !IsLoopbackOrigin(origin)) return;
    try {
        TFolvaneConfigItem config;
        TRegistry reg(config.GetRegistryFileName());
        if (!reg.OpenKey(config.GetProductRegistryKey(), true)) return;
        // the first service that answered is kept: a later document cannot move it
        if (!reg.ValueExists("ServiceOrigin")) reg.WriteString("ServiceOrigin", origin);
        reg.CloseKey();
    } catch (...) {
    }
}

TUpdateEnvironment DefaultUpdateEnvironment() {
    TUpdateEnvironment env;
    env.DataFolder = TFolvaneConfigItem().GetDataFolder();
    env.Version = RunningFileVersion();
    env.TrustedOrigins = TrustedServiceOrigins();
    env.AllowPlainHttpLoopback = ServiceTestMode();
    env.Download = HttpDownload;
    env.Spawn = SpawnInstaller;
    std::lock_guard<std::mutex> g(gEnvLock);
    env.Confirm = gConfirm;
    bool withParams = gStartedWithParams;
    env.HasCommandLineParams = [withParams] { return withParams; };
    return env;
}

void SetUpdateConfirm(TUpdateConfirm confirm) {
    std::lock_guard<std::mutex> g(gEnvLock);
    gConfirm = std::move(confirm);
}

void SetUpdateStartedWithParams(bool withParams) {
    std::lock_guard<std::mutex> g(gEnvLock);
    gStartedWithParams = withParams;
}

std::string FetchUpdateMessage(const TUpdateEnvironment& env, const std::string& messageUrl) {
    if (!InstallerUrlRefusal(messageUrl, env).empty()) return {};
    try {
        THttpClient client;
        client.SetUserAgent("Folvane Browser");
        client.SetMaxAnswerBytes(kMaxUpdateMessageBytes);
        client.SetFollowRedirects(false);
        client.SetConnectTimeoutMs(5000);
        client.SetLowSpeedLimit(1, 8);
        client.SetDeadline(10000);
        TMemoryStream page;
        if (client.Get(messageUrl, page) != 200) return {};
        return std::string(page.Data().begin(), page.Data().end());
    } catch (const std::exception& e) {
        WriteLogFailed("FetchUpdateMessage", e);
        return {};
    }
}

void SetUpdateEnvironment(const TUpdateEnvironment& env) {
    std::lock_guard<std::mutex> g(gEnvLock);
    gEnv = std::make_unique<TUpdateEnvironment>(env);
}

void ResetUpdateEnvironment() {
    std::lock_guard<std::mutex> g(gEnvLock);
    gEnv.reset();
}

TUpdateEnvironment CurrentUpdateEnvironment() {
    {
        std::lock_guard<std::mutex> g(gEnvLock);
        if (gEnv) return *gEnv;
    }
    return DefaultUpdateEnvironment();
}

std::string InstallerUrlRefusal(const std::string& url, const TUpdateEnvironment& env) {
    std::string origin = UrlOrigin(url);
    if (origin.empty()) return "not an http or https URL";
    bool https = origin.rfind("https://", 0) == 0;
    if (!https && !(env.AllowPlainHttpLoopback && IsLoopbackOrigin(origin))) return "not an https URL";
    if (std::find(env.TrustedOrigins.begin(), env.TrustedOrigins.end(), origin) == env.TrustedOrigins.end())
        return "not an origin of the service (" + origin + ")";
    return {};
}

std::string VersionedInstallerUrl(const std::string& url, const std::string& version) {
    return url.empty() ? std::string() : Format("%s&version=%s", url.c_str(), version.c_str());
}

std::string VersionedMessageUrl(const std::string& url, const std::string& version) {
    return url.empty() ? std::string() : Format("%s?version=%s", url.c_str(), version.c_str());
}

std::string UpdaterParameters() { return Format("/s /v\" /passive /l* %s\"", kUpdateLogFileName); }

bool ConfirmUpdate(const TUpdateEnvironment& env, const std::string& messageUrl, int32_t width, int32_t height,
                   bool vistaOnly, uint32_t buttons) {
    // a Vista-only message is for systems older than Vista, which this program never runs on
    if (messageUrl.empty()) return false;
    if (!env.Confirm) return false;
    return env.Confirm(messageUrl, width, height, vistaOnly, buttons);
}

namespace {

// Fetches the installer to the updater path; false (logged) when it cannot be trusted or fetched.
bool FetchInstaller(const TUpdateEnvironment& env, const TUpdateInfo& info, const std::string& path) {
    if (info.InstallerUrl.empty()) return false;
    std::string url = VersionedInstallerUrl(info.InstallerUrl, env.Version);
    std::string refusal = InstallerUrlRefusal(url, env);
    if (!refusal.empty()) {
        WriteLog("CheckNeedUpdate : installer refused, " + refusal);
        return false;
    }
    if (!info.InstallerSha256.empty() && !IsSha256Hex(info.InstallerSha256)) {
        WriteLog("CheckNeedUpdate : installer refused, malformed SHA-256 in the document");
        return false;
    }
    std::string part = path + ".part";
    RemoveFile(part);
    std::string error;
    if (!env.Download || !env.Download(url, part, env.MaxInstallerBytes, error)) {
        WriteLog("CheckNeedUpdate : download failed, " + (error.empty() ? std::string("no downloader") : error));
        RemoveFile(part);
        return false;
    }
    long long size = RegularFileSize(part);
    if (size <= 0 || size > env.MaxInstallerBytes) {
        WriteLog(Format("CheckNeedUpdate : installer refused, size %lld", size));
        RemoveFile(part);
        return false;
    }
    if (!info.InstallerSha256.empty()) {
        std::string digest = Sha256FileHex(part);
        if (digest != info.InstallerSha256) {
            WriteLog("CheckNeedUpdate : installer refused, SHA-256 " + digest + " differs from " + info.InstallerSha256);
            RemoveFile(part);
            return false;
        }
    }
    if (!SetFileMode(part, 0700) || !RenameReplacing(part, path)) {
        WriteLog(Format("CheckNeedUpdate : installer not placed, %s", std::strerror(errno)));
        RemoveFile(part);
        return false;
    }
    return true;
}

}  // namespace

bool CheckNeedUpdate() { return CheckNeedUpdate(CurrentUpdateEnvironment()); }

bool CheckNeedUpdate(const TUpdateEnvironment& env) {
    try {
        if (env.DataFolder.empty() || !DirectoryExists(env.DataFolder)) return false;
        std::string path = IncludeTrailingPathDelimiter(env.DataFolder) + kUpdaterFileName;
        if (FileExists(path) || RegularFileSize(path + ".part") >= 0) {
            // left from an earlier update: removed, and no update in this run
            if (!RemoveFile(path)) WriteLog("旧アップデータが削除できません。");
            RemoveFile(path + ".part");
            return false;
        }
        if (env.HasCommandLineParams && env.HasCommandLineParams()) return false;
        TUpdateInfo info = GetUpdateInfo();
        if (!FetchInstaller(env, info, path) || !FileExists(path)) {
            WriteLog("Updater is not Exists.");
            return false;
        }
        if (!ConfirmUpdate(env, VersionedMessageUrl(info.MessageUrl, env.Version), info.Width, info.Height,
                           info.VistaOnly, info.Buttons)) {
            WriteLog("Update is Aborted.");
            return false;
        }
        std::string params = UpdaterParameters();
        // the parameter text split at its first blank, as the installer's own command line would be
        std::vector<std::string> argv = {path, "/s", "/v\" /passive /l* " + std::string(kUpdateLogFileName) + "\""};
        std::string error;
        if (env.Spawn && env.Spawn(argv, error)) {
            WriteLog("Start Updater Successed.");
            WriteLog("      Updater Path : " + path);
            WriteLog("      Updater Param: " + params);
            return true;
        }
        WriteLog("Start Updater Failed : " + (error.empty() ? std::string("no way to start programs") : error));
        return false;
    } catch (const std::exception& e) {
        WriteLogFailed("CheckNeedUpdate", e);
        return false;
    }
}

}  // namespace fv
