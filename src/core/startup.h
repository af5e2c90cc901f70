#pragma once
// The program's entry sequence: single-instance check (a second start hands its parameters
// to the running instance and ends), then the start-up stages in their fixed order. Each
// completed stage owes its teardown; the owed teardowns run innermost first at the end and
// also when a later stage raises. Everything here runs on the user-interface thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/exception.h"

namespace fv {

// raised by the start-parameter store (parsing and logging of the command line)
FV_DECLARE_EXCEPTION(EFolvaneApiParamsError, Exception);
FV_DECLARE_EXCEPTION(EFolvaneApiParamsInitialzeError, EFolvaneApiParamsError);
FV_DECLARE_EXCEPTION(EFolvaneApiParamsLogError, EFolvaneApiParamsInitialzeError);
// forwarding to the running instance failed
FV_DECLARE_EXCEPTION(ECopyDataError, Exception);

constexpr const char* kInstanceMutexName = "{21357E10-BDCB-4CDD-B2A3-905DD7ED653D}";
constexpr const char* kApplicationTitle = "Folvane Browser";
constexpr const char* kMainWindowClassName = "TFolvaneMain2";
constexpr int kSplashDisplayTime = 3000;

// What a second start does: restore and raise the running main window and hand it the
// parameters as the 1024-byte command buffer. Nothing happens when no instance listens yet.
// Returns true when a running instance was reached.
bool ForwardToRunningInstance(const std::vector<std::string>& params);

// How a stage left.
enum class TStageResult {
    Continue,        // completed: its teardown is owed, the next stage follows
    StopAfter,       // completed, but start-up ends here (owed teardowns run)
    StopNotCompleted // did not complete: its teardown is not owed, start-up ends here
};

struct TStartupStage {
    std::string Name;
    std::function<TStageResult()> Run;
    std::function<void()> Teardown;  // may be empty
};

// The parts of the other subsystems that the stages call. An empty hook means that part of the
// program is not present: its stage stays in the list and does nothing.
struct TStartupHooks {
    // start parameters: log under a label ("Initial", "CmdLine", "AppInfo"); reset and parse the
    // command line. Until the parameter store is installed the label line holds the raw text.
    std::function<void(const std::string& label)> LogStartParams;
    std::function<void(const std::vector<std::string>& params)> InitStartParams;
    // application-information check: false refuses the start; log-out ends the service session
    std::function<bool()> CheckAppInfo;
    std::function<void()> LogOut;
    // true when an updater has been started and this instance must end
    std::function<bool()> CheckNeedUpdate;
    // the application object (title, task-bar ownership) and the splash window
    std::function<void()> InitApplication;
    std::function<void()> ShowSplash;
    // the library engine
    std::function<void()> InitEngine;
    std::function<void()> FinalEngine;
    // wireless-card root from the remote photo URL of the start parameters
    std::function<void()> SetWirelessRoot;
    std::function<void(const std::string& logFolder)> StartLogSaver;
    std::function<void()> FinishLogSaver;
    std::function<void()> StartBackUploader;
    std::function<void()> AbortBackUploader;
    // creates the data module and the main window and runs the message loop until it closes
    std::function<void()> RunMainWindow;
    // the boot error path: message box (when an exception is given: caption = class name,
    // text = message), then the start-up error dialog
    std::function<void(const Exception* e)> ShowBootError;
    // the log opening and closing (InitCorvaEngineLog / FinalCorvaEngineLog unless replaced)
    std::function<void()> InitLog;
    std::function<void()> FinalLog;
};

// The hooks this core provides itself: the engine log, the engine and the raw start-parameter lines.
TStartupHooks DefaultStartupHooks(const std::vector<std::string>& params);

// The stage list in its fixed order, built over the hooks.
std::vector<TStartupStage> BuildStartupStages(const TStartupHooks& hooks, const std::vector<std::string>& params);

// Runs the stages, then the owed teardowns innermost first. Start-up errors of the engine or
// the start parameters (ECorvaEngineInitializeError, EFolvaneApiParamsInitialzeError and their
// subclasses) go to hooks.ShowBootError after the teardowns and give exit code 1. Any other
// exception is raised again after the teardowns. Returns the process exit code.
int RunStartupStages(const std::vector<TStartupStage>& stages, const TStartupHooks& hooks);

// The whole entry sequence: mutex, forwarding or the stages, mutex released. firstInstance runs
// once the mutex is ours, before the stages (the UI creates its application object there, so
// that a second start never needs a display). Returns the process exit code.
int RunFolvaneBrowser(const std::vector<std::string>& params, const std::function<TStartupHooks()>& firstInstance);

// True for the exception classes that end in the boot error path.
bool IsBootError(const std::exception& e);

}  // namespace fv
