#include "platform/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace fv {

bool IsTerminalOutput() { return ::isatty(STDOUT_FILENO) == 1; }

bool IsTerminalErrorOutput() { return ::isatty(STDERR_FILENO) == 1; }

int TerminalColumns() {
    struct winsize ws {};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

}  // namespace fv
