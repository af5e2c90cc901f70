#pragma once
// The update's test installer: a small shell script the update check downloads and starts.
#include <string>

namespace httplib {
class Server;
}

namespace fvs {

// GET /installer/fvb-test-installer.sh[?size=N]: the script, padded with comment lines to N bytes
// (at most 1 GiB) so that downloads can be timed; it writes "installer-ran.marker" beside itself
// with its arguments.
void InstallerRoutes(httplib::Server& svr);
std::string TestInstallerScript(long long size);

}  // namespace fvs
