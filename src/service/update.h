#pragma once
// The application update: the application-information document names an installer and an update
// message; at start-up (only when the program was started without parameters) the installer is
// downloaded, the user is asked, and on yes the installer is started and the program ends.
//
// The installer is an executable that this program runs, so it is taken only from the service's
// own origins over verified HTTPS (plain http only to a loopback stand-in in test mode), up to a
// size cap, checked against the document's SHA-256 when one is given, written under a temporary
// name and renamed, made executable by its owner only and started without a shell.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fv {

struct TUpdateInfo {
    std::string InstallerUrl;
    std::string MessageUrl;
    int32_t Width = 0, Height = 0;
    bool VistaOnly = false;
    uint32_t Buttons = 0;
    std::string InstallerSha256;  // lower-case hex as the document gave it; empty = none given
};

// stored under one lock; called by the application-information step
void SetUpdateInfo(const std::string& installerUrl, const std::string& messageUrl, int32_t width, int32_t height,
                   bool vistaOnly, uint32_t buttons);
void SetUpdateInstallerDigest(const std::string& sha256);
TUpdateInfo GetUpdateInfo();
void ClearUpdateInfo();

constexpr const char* kUpdaterFileName = "FVBUpdater.exe";
constexpr const char* kUpdateLogFileName = "update.log";
constexpr int64_t kMaxInstallerBytes = 512ll << 20;
// the installer download ends by this long plus the time its bytes take at the minimum rate
constexpr int kInstallerDeadlineMs = 30000;
constexpr int64_t kInstallerMinBytesPerSecond = 64 << 10;

// "scheme://host:port" in lower case with the scheme's port filled in; empty for a URL that is not
// http or https or has no host (user information in the authority is refused too).
std::string UrlOrigin(const std::string& url);
// the stand-in's test mode (FV_SERVICE_TEST_MODE=1): loopback origins over plain http are allowed
bool ServiceTestMode();
bool IsLoopbackOrigin(const std::string& origin);
// true for a plain-http URL that the program must not send a session to nor take a document
// from: every one but a loopback host's in test mode
bool PlainHttpRefused(const std::string& url, bool testMode);

// What the update needs of the program around it; DefaultUpdateEnvironment() is the running program.
struct TUpdateEnvironment {
    std::string DataFolder;  // the updater file lies in it
    std::string Version;     // the running program's version
    std::function<bool()> HasCommandLineParams;
    // origins an installer may come from
    std::vector<std::string> TrustedOrigins;
    // test mode of the stand-in: plain http allowed, to a loopback host only
    bool AllowPlainHttpLoopback = false;
    int64_t MaxInstallerBytes = kMaxInstallerBytes;
    // downloads url to path (created or replaced), at most maxBytes; false with a reason otherwise
    std::function<bool(const std::string& url, const std::string& path, int64_t maxBytes, std::string& error)> Download;
    // the dialog step; empty answers false (no one to ask)
    std::function<bool(const std::string& messageUrl, int32_t width, int32_t height, bool vistaOnly, uint32_t buttons)>
        Confirm;
    // starts the program without a shell; false with errno-like text otherwise
    std::function<bool(const std::vector<std::string>& argv, std::string& error)> Spawn;
};
// The default environment asks through the confirm function the user interface installs and
// knows whether the program was started with parameters from the start-up hooks.
TUpdateEnvironment DefaultUpdateEnvironment();
using TUpdateConfirm = std::function<bool(const std::string& messageUrl, int32_t width, int32_t height, bool vistaOnly, uint32_t buttons)>;
void SetUpdateConfirm(TUpdateConfirm confirm);
void SetUpdateStartedWithParams(bool withParams);

// The update message page as text for the dialog: fetched (https from the service's origins, or
// the stand-in in test mode), at most kMaxUpdateMessageBytes; empty when it cannot be had.
constexpr int64_t kMaxUpdateMessageBytes = 256 << 10;
std::string FetchUpdateMessage(const TUpdateEnvironment& env, const std::string& messageUrl);
void SetUpdateEnvironment(const TUpdateEnvironment& env);
void ResetUpdateEnvironment();
TUpdateEnvironment CurrentUpdateEnvironment();

// The built-in origins; in test mode also the origin recorded from the first valid document the
// stand-in served (registry value "ServiceOrigin" of the product key); and the recording of it.
// Outside test mode nothing is recorded and no recorded origin is trusted.
std::vector<std::string> TrustedServiceOrigins();
// Only in test mode, and only a loopback origin.
void RecordServiceOrigin(const std::string& appInfoUrl);

// Why an installer URL is refused; empty when it may be fetched.
std::string InstallerUrlRefusal(const std::string& url, const TUpdateEnvironment& env);

std::string VersionedInstallerUrl(const std::string& url, const std::string& version);
std::string VersionedMessageUrl(const std::string& url, const std::string& version);
// "/s /v\" /passive /l* update.log\""
std::string UpdaterParameters();

// The start-up step: true when the installer has been started and the program must end.
// Never raises; failures are logged under "CheckNeedUpdate".
bool CheckNeedUpdate();
bool CheckNeedUpdate(const TUpdateEnvironment& env);

// The dialog step: true without asking for a Vista-only message on an older system (never here),
// false for an empty message URL, otherwise the environment's answer.
bool ConfirmUpdate(const TUpdateEnvironment& env, const std::string& messageUrl, int32_t width, int32_t height,
                   bool vistaOnly, uint32_t buttons);

}  // namespace fv
