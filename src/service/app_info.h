#pragma once
// The application-information document: where the service's endpoints are, how the program
// starts, which parts of the interface show, the local error pages and the update message.
// TKSGetAppInfoItem loads it from the docroot default, the service or the encrypted local copy
// "Config" (in that order) and reads it; each use makes a fresh item.
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <pugixml.hpp>

#include "platform/exception.h"
#include "platform/stream.h"

namespace fv {

FV_DECLARE_EXCEPTION(EKSGetAppInfoItemError, Exception);

// user-interface switches: the "disp" values
enum TAppInfoUIS : uint8_t { uisEnable = 0, uisDisable = 1, uisHidden = 2 };
enum TAppInfoSwitch : int { swDebugMenu = 0, swDebugInfo = 1, swTab = 2, swFolvaneTray = 3 };
// update-message buttons
enum : uint32_t { ubYes = 1, ubNo = 2, ubOk = 4, ubCancel = 8 };

// where the last successful load came from
enum class TAppInfoSource { None, LocalDefault, Internet, Local };

// the largest document taken from any source; the service sends a few kilobytes
constexpr int64_t kAppInfoMaxBytes = 1 << 20;
constexpr const char* kAppInfoRootName = "getAppInfo_response";
constexpr const char* kAppInfoLocalFileName = "Config";
constexpr const char* kAppInfoContentTag = "XML";
constexpr const char* kDefaultErrorPage = "file://error/index.html";

// What the service call answered: success, or the name of the result kind and the error code.
struct TAppInfoFetchResult {
    bool Success = false;
    std::string KindName;   // e.g. "socketeEror"
    std::string ErrorCode;  // e.g. "ES0001"
};
// Fetches the document into dest (the service call with "sessionid" and "loglongsessionid").
using TAppInfoFetch = std::function<TAppInfoFetchResult(const std::string& longSessionId, TStream& dest)>;

// The service call itself, bounded so that a dead, silent or trickling service gives way to the
// local copy well within the start-up's time: connect time-out, no-progress limit, overall deadline.
constexpr int kAppInfoConnectTimeoutMs = 4000;
constexpr int kAppInfoStallSeconds = 6;
constexpr int kAppInfoDeadlineMs = 9000;
TAppInfoFetchResult FetchAppInfoFromService(const std::string& longSessionId, TStream& dest);

// What the item needs of the program around it. DefaultAppInfoEnvironment() describes the
// running program; tests and benchmarks give their own folders and service.
struct TAppInfoEnvironment {
    std::string ProgramFolder;  // "docroot" lies in it
    std::string DataFolder;     // the local copy lies in it
    std::string KeyText;        // the local copy's key
    std::function<std::string()> AppInfoUrl;  // the start parameters' application-information URL
    // the stand-in's test mode: a plain-http URL to a loopback host is fetched; otherwise only https
    bool TestMode = false;
    TAppInfoFetch Fetch;                      // empty: the service cannot be asked
    std::function<bool()> VersionChanged;     // "SuccessedVersion" present and not the running version
    std::function<void()> StoreSuccessedVersion;
};
TAppInfoEnvironment DefaultAppInfoEnvironment();
// The process-wide environment used by the start-up step (the default until replaced).
TAppInfoEnvironment CurrentAppInfoEnvironment();
void SetAppInfoEnvironment(const TAppInfoEnvironment& env);
void ResetAppInfoEnvironment();

// The local copy's key: the computer and user names in a fixed template of five added characters;
// a name that cannot be read counts as "Unknown".
std::string AppInfoKeyText(const std::string& computerName, const std::string& userName);

// "file://" URL of an absolute local path.
std::string FileUrlOfPath(const std::string& path);

struct TAppInfoUpdateMessage {
    std::string Src;
    int32_t Width = 0, Height = 0;
    bool VistaOnly = false;
    uint32_t Buttons = 0;
};

class TKSGetAppInfoItem {
public:
    explicit TKSGetAppInfoItem(TAppInfoEnvironment env = CurrentAppInfoEnvironment());
    TKSGetAppInfoItem(const TKSGetAppInfoItem&) = delete;
    TKSGetAppInfoItem& operator=(const TKSGetAppInfoItem&) = delete;

    // Loads by the order of sources and reads the document; logs which source won or
    // "GetAppInfo Failed.". Never raises.
    bool LoadInfoData(bool localOnly, const std::string& longSessionId);
    // the start procedure of the document: the start mode keyword and the boot URL
    void EvaluateLocalWakeup();

    // the single steps, public for the fuzz target and the tests
    bool LoadInfoDataFromDefault();
    bool LoadInfoDataFromInternet(const std::string& longSessionId);
    bool LoadInfoDataFromLocal();
    // Parses the bytes; true for a document whose root is "getAppInfo_response" with "ver".
    // Unparsable text or more than kAppInfoMaxBytes raise EKSGetAppInfoItemError (logged).
    bool LoadInfoDataFromStream(TStream& s);
    void ReadInfoData();
    void ClearValues();

    // readers
    std::string Ver();
    std::string BaseUrl();
    std::string AppInfoUrl();
    std::string InstallerUrl();
    // "sha256" of "getinstallerurl", lower-cased as given (empty when absent)
    std::string InstallerSha256();
    std::string HelpUrl();  // a "file://" value as a docroot path
    std::string RawHelpUrl();
    std::string LogUrl();
    std::string LongSessionId();
    std::string RemotePhotoUrl();
    int32_t PictoriumCacheMax();
    bool NetworkCheck();
    TAppInfoUIS Switch(TAppInfoSwitch which);
    std::string WakeupMode();
    std::string WakeupBootUrl();
    TAppInfoUpdateMessage UpdateMessage();
    std::string LastError();
    std::string LastErrorCode();
    TAppInfoSource Source();
    std::vector<std::pair<std::string, std::string>> ErrorPages();

    // URL of the local error page for a type and code (lookup with fallbacks, docroot only,
    // type and code percent-encoded in the query)
    std::string GetErrorPageUrl(const std::string& type, const std::string& code);
    // URL of the local offline announcement page; empty when the document gave none or it
    // does not lie inside docroot
    std::string GetOfflineAnnounceUrl();
    // Path inside docroot for a "file://" URL; empty for any other URL and for one that leaves docroot.
    std::string DocrootPath(const std::string& url);
    std::string DocrootFolder() const;
    std::string LocalCopyFileName() const;

private:
    bool LoadFromStreamLocked(TStream& s);
    void SaveLocalCopy(TStream& s);
    bool LocalCopyHolds(TStream& s);
    std::string ErrorPageRef(const std::string& type, const std::string& code);

    std::recursive_mutex FLock;
    TAppInfoEnvironment FEnv;
    pugi::xml_document FDoc;
    TAppInfoSource FSource = TAppInfoSource::None;
    std::string FVer, FBootUrlDoc, FBaseUrl, FAppInfoUrl, FInstallerUrl, FInstallerSha256, FUploadUrl,
        FPreviewUrl, FHelpUrl, FLogUrl, FLongSessionId, FRemotePhotoUrl, FConfigName;
    bool FNetworkCheck = true;
    std::string FOfflineAnnounceUrl;
    int32_t FCacheMax = 0;
    std::vector<std::pair<std::string, std::string>> FErrorPages;
    std::vector<pugi::xml_node> FWakeupNodes;
    std::string FWakeupMode, FWakeupBootUrl;
    TAppInfoUIS FSwitches[4] = {uisHidden, uisHidden, uisEnable, uisEnable};
    TAppInfoUpdateMessage FUpdate;
    std::string FLastError, FLastErrorCode;
};

// The page the home tab shows when the service's home page cannot be reached: the local copy is
// read (docroot default, then "Config"); with the network check off or a working connection the
// "networkError" error page, otherwise the offline announcement (the error page when there is none).
std::string GetHomeUnreachablePageUrl();

}  // namespace fv
