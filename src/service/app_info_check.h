#pragma once
// The start-up step of the application information (FVApi_CheckAppInfoEx) and the update check's
// stage, with what they need to stay off the user-interface thread.
#include <functional>
#include <string>
#include <vector>

#include "service/app_info.h"

namespace fv {

struct TStartupHooks;

// What the usage log (when present) gives and takes: its long session id for the document's
// request, and the log URL with the long session id the document names.
struct TUploadLogLink {
    std::function<std::string()> LongSessionId;
    std::function<void(const std::string& logUrl, const std::string& longSessionId)> SetTarget;
};
void SetUploadLogLink(const TUploadLogLink& link);

// Loads the document and copies its values into the start parameters and the update check; any
// failure turns the start into a local error page (SetBootError). True unless something escaped
// even that (logged under "FVApi_CheckAppInfoEx:2"); start-up then ends.
bool FVApi_CheckAppInfoEx();

// Start parameters to the local error page for type and code; logs
// "FVApi_CheckAppInfoEx.SetBootError( reason )".
void SetBootError(TKSGetAppInfoItem& item, const std::string& type, const std::string& code, const std::string& reason);

// Runs fn on a worker thread while the calling user-interface thread keeps processing its
// pending calls in short slices; on any other thread fn simply runs. Exceptions reach the caller.
void RunOffUiThread(const std::function<void()>& fn);

// The application-information and update stages of start-up, both run off the UI thread; the
// update is offered only when params (the program's own command line) is empty.
void InstallAppInfoHooks(TStartupHooks& hooks, const std::vector<std::string>& params);

}  // namespace fv
