#pragma once
// Starting other programs (the desktop opener, the file manager) without waiting for them.
#include <string>
#include <vector>

namespace fv {

// Starts argv[0] (searched in PATH) detached from this process; true when it was executed.
bool SpawnDetached(const std::vector<std::string>& argv);
// Runs a program, waits for it and returns its exit code (-1 when it could not be run).
int RunAndWait(const std::vector<std::string>& argv);
// True when a program of that name is found in PATH.
bool ProgramInPath(const std::string& name);

}  // namespace fv
