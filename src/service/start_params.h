#pragma once
// The process-wide store of the start parameters (`TFVApiParams`): what the service's pages, the
// command line of the first start and forwarded texts say the user is doing (session, mode, book,
// display switches), plus the endpoints the application information supplies. Every thread reads
// it through the readers below; writers run on the user-interface thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"      // MaskSessionId
#include "core/startup.h"  // EFolvaneApiParamsError and its subclasses

namespace fv {

enum TFVMode : uint8_t {
    fvmNotBoot = 0,
    fvmDispPage = 1,
    fvmRemakePage = 2,
    fvmCreateFolvane = 3,
    fvmAppendFolvane = 4,
    fvmStartCreateFolvane = 5,
    fvmStartAppendFolvane = 6,
    fvmStartChangeJacket = 7,
    fvmStartChangeBodyIcon = 8,
    fvmStartMyBgm = 9,
    fvmStartAppendFolvaneBgm = 10,
    fvmClose = 11,
};
constexpr int kFVModeCount = 12;

// `TFVTrayRequest`: a set of requests to the main window, one byte
using TFVTrayRequest = uint8_t;
constexpr TFVTrayRequest fvtrShow = 1;
constexpr TFVTrayRequest fvtrHide = 2;
constexpr TFVTrayRequest fvtrExpand = 4;
constexpr TFVTrayRequest fvtrFold = 8;

// the keyword of a mode ("dontboot" ... "close"); "" for a value outside the table
const char* FVModeKeyword(int mode);
// the first mode whose keyword equals the text ignoring letter case; fvmNotBoot when none does
TFVMode ModeFromName(const std::string& keyword);

// A reader/writer lock the writing thread may take again (as reader or writer) while it holds it.
class TReentrantRWLock {
public:
    void BeginRead();
    void EndRead();
    void BeginWrite();
    void EndWrite();

private:
    bool OwnedHere() const { return FOwner.load() == std::this_thread::get_id(); }
    std::shared_mutex FLock;
    std::atomic<std::thread::id> FOwner{};
    int FDepth = 0;  // only touched by the owner
};

// A snapshot of every field, copied under the read lock (debug text, tests, fvb).
struct TFVApiParamsValues {
    TFVMode Mode = fvmNotBoot;
    std::string SessionId, AppInfoUrl, BaseUrl, FolvaneId, PreviewUrl;
    int32_t PhotoCount = 0, RestCount = 0;
    std::string BgmResUuid, DisplayUrl, BootUrl, HelpUrl, RemotePhotoUrl;
    int32_t PictoriumCacheMax = 0;
    int32_t UploadMaxWidth = 0, UploadMaxHeight = 0;
    int32_t BodyIconWidth = 0, BodyIconHeight = 0;
    bool DispFrame = false, DispTab = false;
    TFVTrayRequest TrayRequest = 0;
    bool DebugMode = false, DebugInfoAllowed = false;
};

class TFVApiParams {
public:
    TFVApiParams() = default;
    TFVApiParams(const TFVApiParams&) = delete;
    TFVApiParams& operator=(const TFVApiParams&) = delete;

    // Parses a command text. reset true applies the defaults first; reset false only empties
    // the tray request. An empty text stops after that and answers false.
    bool SetParams(const std::string& text, bool reset);
    // Parses the text and applies the per-mode clean-up; false when an exception stopped it
    // (logged, fields already assigned keep their values).
    bool SetParamsFromCSV(const std::string& text);
    // The command text of the program's own parameters, then SetParams(text, true).
    // Raises EFolvaneApiParamsInitialzeError.
    void InitParamsFromCommandLine(const std::vector<std::string>& params);
    // One log line "<label> Params( Mode=... )"; the session id is masked. Raises EFolvaneApiParamsLogError.
    void LogParams(const std::string& label);
    bool SetParamsFromAppInfo(TFVMode mode, const std::string& baseUrl, const std::string& bootUrl,
                              const std::string& appInfoUrl, const std::string& helpUrl,
                              const std::string& remotePhotoUrl, int32_t uploadMaxWidth, int32_t uploadMaxHeight,
                              int32_t cacheMaxKb, bool showTabs, bool trayEnabled, bool debugMode,
                              bool debugInfoAllowed);
    bool SetBootPage(TFVMode mode, const std::string& bootUrl, const std::string& helpUrl);
    std::string ModeName();

    // readers: each copies its value under the read lock
    TFVMode Mode();
    std::string SessionId();
    std::string AppInfoUrl();
    std::string BaseUrl();
    std::string FolvaneId();
    std::string PreviewUrl();
    int32_t PhotoCount();
    int32_t RestCount();
    std::string BgmResUuid();
    std::string DisplayUrl();
    std::string BootUrl();
    std::string HelpUrl();
    std::string RemotePhotoUrl();
    int32_t PictoriumCacheMax();
    int32_t UploadMaxWidth();
    int32_t UploadMaxHeight();
    int32_t BodyIconWidth();
    int32_t BodyIconHeight();
    bool DispFrame();
    bool DispTab();
    TFVTrayRequest TrayRequest();
    bool DebugMode();
    bool DebugInfoAllowed();
    TFVApiParamsValues Values();

    // back to the start values (tests and fvb use a store of their own or reset this one)
    void Clear();

private:
    void ApplyDefaults();
    void ParseItems(const std::string& text);
    void ApplyModeCleanup();

    TReentrantRWLock FLock;
    TFVApiParamsValues F;
    bool FLastTrayEnabled = true;  // taken as enabled before any document was read
};

// The process-wide store.
TFVApiParams& FVApiParams();

// The comma text of the program's parameters: each in double quotation marks with inner marks
// doubled, joined by ",". Empty without parameters.
std::string CommandLineToCSV(const std::vector<std::string>& params);

// Splits a comma text into its items (quoted items may hold commas, "" stands for one mark).
// An unterminated quotation runs to the end of the text.
std::vector<std::string> SplitCommaText(const std::string& text);


// Puts the store into the start-up stages: the "Initial", "CmdLine" and "AppInfo" log lines, the
// parse of the first start's parameters, and the service log-out owed once the application
// information was checked (FVApi_LogOut with 5-second limits).
void InstallStartParamsHooks(TStartupHooks& hooks);

}  // namespace fv
