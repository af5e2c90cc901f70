#pragma once
// The Qt side of start-up: the application object, the splash, the main window and its
// message loop, the boot error path, and SIGTERM/SIGINT closing the main window.
#include <QApplication>
#include <memory>
#include <string>
#include <vector>

#include "core/startup.h"

namespace fv {

class TFolvaneMain2;

// The hooks of DefaultStartupHooks plus the window parts. app must outlive the run.
TStartupHooks MakeBrowserHooks(const std::vector<std::string>& params);

// the main window while the message loop runs (null otherwise)
TFolvaneMain2* RunningMainWindow();

// the program: the entry sequence with the Qt application created for the first instance
int RunBrowserMain(int argc, char** argv);

}  // namespace fv
