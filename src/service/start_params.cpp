#include "service/start_params.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "core/log.h"
#include "service/api.h"
#include "platform/collate.h"
#include "platform/instance.h"

namespace fv {

namespace {

const char* const kModeKeywords[kFVModeCount] = {
    "dontboot",           "disppage",           "remakepage",         "createfolvane",
    "appendfolvane",      "startcreatefolvane", "startappendfolvane", "startchangejacket",
    "startchangebodyicon", "startmybgm",        "startappendfolvanebgm", "close"};

// a decimal 32-bit integer, 0 when the text is not one (also when it is out of range)
int32_t DecimalOrZero(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    size_t start = i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    if (i >= text.size()) return 0;
    for (size_t k = i; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9') return 0;
    if (text.size() - i > 10) return 0;
    long long v = std::strtoll(text.c_str() + start, nullptr, 10);
    if (v < INT32_MIN || v > INT32_MAX) return 0;
    return static_cast<int32_t>(v);
}

// the lock held for a scope
class TReadScope {
public:
    explicit TReadScope(TReentrantRWLock& l) : FL(l) { FL.BeginRead(); }
    ~TReadScope() { FL.EndRead(); }

private:
    TReentrantRWLock& FL;
};
class TWriteScope {
public:
    explicit TWriteScope(TReentrantRWLock& l) : FL(l) { FL.BeginWrite(); }
    ~TWriteScope() { FL.EndWrite(); }

private:
    TReentrantRWLock& FL;
};

}  // namespace

const char* FVModeKeyword(int mode) { return mode >= 0 && mode < kFVModeCount ? kModeKeywords[mode] : ""; }

TFVMode ModeFromName(const std::string& keyword) {
    std::string k = LowerCaseText(keyword);
    for (int i = 0; i < kFVModeCount; ++i)
        if (k == kModeKeywords[i]) return static_cast<TFVMode>(i);
    return fvmNotBoot;
}

void TReentrantRWLock::BeginRead() {
    if (OwnedHere()) return;  // the writer reads its own fields
    FLock.lock_shared();
}

void TReentrantRWLock::EndRead() {
    if (OwnedHere()) return;
    FLock.unlock_shared();
}

void TReentrantRWLock::BeginWrite() {
    if (OwnedHere()) {
        ++FDepth;
        return;
    }
    FLock.lock();
    FOwner.store(std::this_thread::get_id());
    FDepth = 1;
}

void TReentrantRWLock::EndWrite() {
    if (--FDepth > 0) return;
    FOwner.store(std::thread::id());
    FLock.unlock();
}

// the same text a second start forwards to the running instance
std::string CommandLineToCSV(const std::vector<std::string>& params) { return BuildForwardText(params); }

std::vector<std::string> SplitCommaText(const std::string& text) {
    std::vector<std::string> items;
    std::string cur;
    size_t i = 0;
    const size_t n = text.size();
    while (i <= n) {
        cur.clear();
        if (i < n && text[i] == '"') {
            ++i;
            while (i < n) {
                if (text[i] == '"') {
                    if (i + 1 < n && text[i + 1] == '"') {
                        cur += '"';
                        i += 2;
                        continue;
                    }
                    ++i;  // closing mark
                    break;
                }
                cur += text[i++];
            }
            // anything between the closing mark and the next comma belongs to the item
            while (i < n && text[i] != ',') cur += text[i++];
        } else {
            while (i < n && text[i] != ',') cur += text[i++];
        }
        items.push_back(cur);
        if (i >= n) break;
        ++i;  // the comma
        if (i == n) {
            items.emplace_back();  // a trailing comma leaves an empty last item
            break;
        }
    }
    return items;
}

void TFVApiParams::ApplyDefaults() {
    F.Mode = fvmNotBoot;
    F.DispTab = true;
    F.DispFrame = true;
    F.BodyIconWidth = 240;
    F.BodyIconHeight = 240;
    F.TrayRequest = 0;
}

bool TFVApiParams::SetParams(const std::string& text, bool reset) {
    TWriteScope lock(FLock);
    if (reset)
        ApplyDefaults();
    else
        F.TrayRequest = 0;
    if (text.empty()) return false;
    return SetParamsFromCSV(text);
}

void TFVApiParams::ParseItems(const std::string& text) {
    for (const std::string& item : SplitCommaText(text)) {
        size_t eq = item.find('=');
        if (eq == std::string::npos) continue;  // no key matches an item without "="
        std::string key = LowerCaseText(item.substr(0, eq));
        std::string value = item.substr(eq + 1);
        if (key == "sessionid")
            F.SessionId = value;
        else if (key == "getappinfourl")
            F.AppInfoUrl = value;
        else if (key == "folvaneid")
            F.FolvaneId = value;
        else if (key == "folvanepreviewurl")
            F.PreviewUrl = value;
        else if (key == "folvanebgmresuuid")
            F.BgmResUuid = value;
        else if (key == "url")
            F.DisplayUrl = value;
        else if (key == "mode")
            F.Mode = ModeFromName(value);
        else if (key == "folvanephotonum")
            F.PhotoCount = DecimalOrZero(value);
        else if (key == "folvanerestphotonum")
            F.RestCount = DecimalOrZero(value);
        else if (key == "bodyiconwidth")
            F.BodyIconWidth = DecimalOrZero(value);
        else if (key == "bodyiconheight")
            F.BodyIconHeight = DecimalOrZero(value);
        else if (key == "dispfolvanetray") {
            std::string v = LowerCaseText(value);
            if (v == "enable")
                F.TrayRequest |= fvtrShow | fvtrExpand;
            else if (v == "fold")
                F.TrayRequest |= fvtrShow | fvtrFold;
            else if (v == "disable")
                F.TrayRequest |= fvtrHide | fvtrFold;
        } else if (key == "disptab" || key == "dispframe") {
            std::string v = LowerCaseText(value);
            bool on = !(v == "disable" || v == "hidden");
            (key == "disptab" ? F.DispTab : F.DispFrame) = on;
        }
    }
}

void TFVApiParams::ApplyModeCleanup() {
    switch (F.Mode) {
        case fvmCreateFolvane:
        case fvmStartCreateFolvane:
            F.FolvaneId.clear();
            F.DisplayUrl.clear();
            F.BgmResUuid.clear();
            break;
        case fvmAppendFolvane:
        case fvmStartMyBgm:
        case fvmStartAppendFolvaneBgm:
        case fvmStartAppendFolvane:
        case fvmStartChangeJacket:
        case fvmStartChangeBodyIcon: F.DisplayUrl.clear(); break;
        default: break;
    }
    switch (F.Mode) {
        case fvmStartCreateFolvane:
        case fvmStartAppendFolvane:
        case fvmStartChangeJacket:
        case fvmStartChangeBodyIcon:
            if (F.TrayRequest == 0) F.TrayRequest = fvtrShow | fvtrExpand;
            break;
        default: break;
    }
}

bool TFVApiParams::SetParamsFromCSV(const std::string& text) {
    TWriteScope lock(FLock);
    try {
        ParseItems(text);
        ApplyModeCleanup();
        return true;
    } catch (const std::exception& e) {
        WriteLogException("SetParamsFromCSV", e);
        return false;
    }
}

void TFVApiParams::InitParamsFromCommandLine(const std::vector<std::string>& params) {
    try {
        SetParams(CommandLineToCSV(params), true);
    } catch (const std::exception& e) {
        throw EFolvaneApiParamsInitialzeError(
            Format("起動パラメータの取得中にエラーが発生しました。\r\n\r\n%s\r\n%s\r\n", ExceptionClassName(e).c_str(),
                   e.what()));
    }
}

void TFVApiParams::LogParams(const std::string& label) {
    try {
        TFVApiParamsValues v = Values();
        // the session id is a credential: only its prefix goes to the log
        WriteLog(Format("%s Params( Mode=%s : SessionID=%s : AppInfoUrl=%s : BaseUrl=%s : FolvaneID=%s : PreviewUrl=%s )",
                        label.c_str(), FVModeKeyword(v.Mode), MaskSessionId(v.SessionId).c_str(),
                        v.AppInfoUrl.c_str(), v.BaseUrl.c_str(), v.FolvaneId.c_str(), v.PreviewUrl.c_str()));
    } catch (const std::exception& e) {
        throw EFolvaneApiParamsLogError(Format("%s Param のログへの書込に失敗しました。\r\n\r\n%s\r\n%s\r\n", label.c_str(),
                                               ExceptionClassName(e).c_str(), e.what()));
    }
}

bool TFVApiParams::SetParamsFromAppInfo(TFVMode mode, const std::string& baseUrl, const std::string& bootUrl,
                                        const std::string& appInfoUrl, const std::string& helpUrl,
                                        const std::string& remotePhotoUrl, int32_t uploadMaxWidth,
                                        int32_t uploadMaxHeight, int32_t cacheMaxKb, bool showTabs, bool trayEnabled,
                                        bool debugMode, bool debugInfoAllowed) {
    TWriteScope lock(FLock);
    F.Mode = mode;
    F.BaseUrl = baseUrl;
    F.BootUrl = bootUrl;
    F.AppInfoUrl = appInfoUrl;
    F.HelpUrl = helpUrl;
    F.RemotePhotoUrl = remotePhotoUrl;
    F.UploadMaxWidth = uploadMaxWidth;
    F.UploadMaxHeight = uploadMaxHeight;
    F.PictoriumCacheMax = cacheMaxKb;
    F.DispTab = showTabs;
    F.DebugMode = debugMode;
    F.DebugInfoAllowed = debugInfoAllowed;
    // the service only changes the tray when its setting differs from the previous document's
    if (trayEnabled == FLastTrayEnabled) {
        F.TrayRequest = 0;
    } else {
        FLastTrayEnabled = trayEnabled;
        F.TrayRequest = trayEnabled ? (fvtrShow | fvtrExpand) : (fvtrHide | fvtrFold);
    }
    return true;
}

bool TFVApiParams::SetBootPage(TFVMode mode, const std::string& bootUrl, const std::string& helpUrl) {
    TWriteScope lock(FLock);
    F.Mode = mode;
    F.BootUrl = bootUrl;
    F.HelpUrl = helpUrl;
    return true;
}

std::string TFVApiParams::ModeName() { return FVModeKeyword(Mode()); }

#define FV_PARAM_READER(Type, Name) \
    Type TFVApiParams::Name() {     \
        TReadScope lock(FLock);     \
        return F.Name;              \
    }
FV_PARAM_READER(TFVMode, Mode)
FV_PARAM_READER(std::string, SessionId)
FV_PARAM_READER(std::string, AppInfoUrl)
FV_PARAM_READER(std::string, BaseUrl)
FV_PARAM_READER(std::string, FolvaneId)
FV_PARAM_READER(std::string, PreviewUrl)
FV_PARAM_READER(int32_t, PhotoCount)
FV_PARAM_READER(int32_t, RestCount)
FV_PARAM_READER(std::string, BgmResUuid)
FV_PARAM_READER(std::string, DisplayUrl)
FV_PARAM_READER(std::string, BootUrl)
FV_PARAM_READER(std::string, HelpUrl)
FV_PARAM_READER(std::string, RemotePhotoUrl)
FV_PARAM_READER(int32_t, PictoriumCacheMax)
FV_PARAM_READER(int32_t, UploadMaxWidth)
FV_PARAM_READER(int32_t, UploadMaxHeight)
FV_PARAM_READER(int32_t, BodyIconWidth)
FV_PARAM_READER(int32_t, BodyIconHeight)
FV_PARAM_READER(bool, DispFrame)
FV_PARAM_READER(bool, DispTab)
FV_PARAM_READER(TFVTrayRequest, TrayRequest)
FV_PARAM_READER(bool, DebugMode)
FV_PARAM_READER(bool, DebugInfoAllowed)
#undef FV_PARAM_READER

TFVApiParamsValues TFVApiParams::Values() {
    TReadScope lock(FLock);
    return F;
}

void TFVApiParams::Clear() {
    TWriteScope lock(FLock);
    F = TFVApiParamsValues();
    FLastTrayEnabled = true;
}

TFVApiParams& FVApiParams() {
    static TFVApiParams store;
    return store;
}

void InstallStartParamsHooks(TStartupHooks& hooks) {
    hooks.LogStartParams = [](const std::string& label) { FVApiParams().LogParams(label); };
    hooks.InitStartParams = [](const std::vector<std::string>& params) {
        FVApiParams().InitParamsFromCommandLine(params);
    };
    // the session the start parameters brought ends with the program; a dead service must not
    // hold up the exit, so this one call gives up sooner than the others
    hooks.LogOut = [] {
        if (FVApiParams().SessionId().empty()) return;  // no session, nothing to end
        THttpClient client;
        client.SetConnectTimeoutMs(5000);
        client.SetLowSpeedLimit(1, 5);
        client.SetDeadline(5000);
        TFVApiResult r;
        FVApi_LogOut(r, &client);
    };
}

}  // namespace fv
