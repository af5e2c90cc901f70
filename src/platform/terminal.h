#pragma once
// Whether the program writes to a terminal (progress bars) or to a file or pipe (plain lines).
namespace fv {

bool IsTerminalOutput();       // standard output
bool IsTerminalErrorOutput();  // standard error (progress lines)
int TerminalColumns();         // 80 when unknown

}  // namespace fv
