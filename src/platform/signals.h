#pragma once
// SIGTERM and SIGINT as a readable file descriptor (self-pipe), so that the event loop can close
// the main window the way the user would and every owed teardown still runs.
namespace fv {

// Installs the handlers once; a signal also ends every HTTP transfer (THttpClient::CancelAll); returns the read end (a byte arrives per signal), -1 on failure.
int InstallTerminationPipe();
// Reads what is pending on the pipe; true when a termination signal arrived.
bool DrainTerminationPipe();
// the last termination signal that arrived (SIGTERM or SIGINT), 0 before any
int LastTerminationSignal();

}  // namespace fv
