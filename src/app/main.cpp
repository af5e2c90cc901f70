// Folvane Browser: the desktop photo-library browser.
#include <cstdio>
#include <string>
#include <vector>

#include "ui/main/browser_startup.h"
#include "version_info.h"

namespace {

const char kUsage[] =
    "usage: folvane-browser [OPTION] [key=value...] [PATH|file:URI...]\n"
    "\n"
    "Starts the Folvane photo-library browser. A folder given on the command line is shown in\n"
    "the catalog, a photo in the viewer with its folder behind it. An argument is a path only\n"
    "when it is a file: URI or names an existing file or folder (absolute, or relative to the\n"
    "current folder); key=value arguments are start parameters. When the browser already runs,\n"
    "the paths go to its window, which comes to the front.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "See folvane-browser(1).\n";

}  // namespace

int main(int argc, char** argv) {
    // the two options end at once: no interface, no single-instance lock and no log
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("folvane-browser %s\n", FV_VERSION_STRING);
            return 0;
        }
    }
    return fv::RunBrowserMain(argc, argv);
}
