// Application-information stage and installer download against the stand-in service:
//   appinfo_stage_ms          the start-up step with the document from the stand-in (median)
//   appinfo_local_ms          the same step with the service stopped: the local copy (median)
//   appinfo_silent_fallback_s a service that accepts and never answers: time until the fallback
//   appinfo_silent_ui_stall_ms  ... and the longest the UI thread went without running its queue
//   installer_vs_curl         installer download throughput against `curl -o` of the same file
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "../tests/service/stand_in.h"
#include "core/startup.h"
#include "platform/shell.h"
#include "platform/ui_dispatch.h"
#include "service/app_info.h"
#include "service/app_info_check.h"
#include "service/start_params.h"
#include "service/update.h"

using namespace fv;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double TimeStage(const std::string& appInfoUrl, int runs) {
    std::vector<double> t;
    for (int i = 0; i < runs + 2; ++i) {
        FVApiParams().Clear();
        FVApiParams().SetParams("sessionid=B1,getappinfourl=" + appInfoUrl, true);
        auto a = Clock::now();
        FVApi_CheckAppInfoEx();
        auto b = Clock::now();
        if (i >= 2) t.push_back(Ms(a, b));  // the first runs warm the caches
    }
    return Median(t);
}

}  // namespace

int main() {
    char tmpl[] = "/tmp/fv-bench-appinfo-XXXXXX";
    std::string home = mkdtemp(tmpl);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", home.c_str(), 1);

    TStandInService service(std::string(FV_BINARY_DIR) + "/fvservice");
    service.Admin("/_admin/session", {{"id", "B1"}});
    TAppInfoEnvironment env = DefaultAppInfoEnvironment();
    env.ProgramFolder = home;
    env.TestMode = true;  // the stand-in answers over plain http on loopback
    SetAppInfoEnvironment(env);

    double stage = TimeStage(service.Base() + "/getAppInfo.php", 30);
    // a stopped service: nobody listens on the port any more
    double local = TimeStage("http://127.0.0.1:1/getAppInfo.php", 30);

    // silent service, seen from a UI thread that keeps its queue running
    service.Fault("/getAppInfo.php", {{"hang", "1"}, {"hang_ms", "60000"}});
    FVApiParams().Clear();
    FVApiParams().SetParams("sessionid=B1,getappinfourl=" + service.Base() + "/getAppInfo.php", true);
    TQueueDispatcher ui;
    SetUiDispatcher(&ui);
    std::atomic<bool> stop{false};
    std::atomic<long long> lastRun{0}, maxGapUs{0};
    auto now = [] { return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count(); };
    lastRun = now();
    std::thread poster([&] {
        while (!stop) {
            ui.RunOnUiThread(
                [&] {
                    long long t = now();
                    maxGapUs = std::max<long long>(maxGapUs, t - lastRun);
                    lastRun = t;
                },
                false);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    TStartupHooks hooks;
    InstallAppInfoHooks(hooks, {});
    auto a = Clock::now();
    hooks.CheckAppInfo();
    double silent = Ms(a, Clock::now()) / 1000.0;
    stop = true;
    poster.join();
    SetUiDispatcher(nullptr);
    std::string boot = FVApiParams().BootUrl();
    service.Reset();

    // installer download against curl, same file, same stand-in, best of three each
    const long long size = 128ll << 20;
    std::string url = service.Base() + "/installer/fvb-test-installer.sh?size=" + std::to_string(size);
    std::string file = home + "/installer.bin";
    auto download = DefaultUpdateEnvironment().Download;
    double ours = 1e9, curl = 1e9;
    bool haveCurl = ProgramInPath("curl");
    for (int i = 0; i < 3; ++i) {
        std::string error;
        auto t0 = Clock::now();
        bool ok = download(url, file, kMaxInstallerBytes, error);
        auto t1 = Clock::now();
        if (!ok) std::fprintf(stderr, "download failed: %s\n", error.c_str());
        ours = std::min(ours, Ms(t0, t1));
        if (haveCurl) {
            auto t2 = Clock::now();
            int rc = RunAndWait({"curl", "-s", "-o", file, url});
            auto t3 = Clock::now();
            if (rc == 0) curl = std::min(curl, Ms(t2, t3));
        }
    }
    long long got = static_cast<long long>(std::filesystem::file_size(file));

    std::printf("fallback boot page: %s\n", boot.c_str());
    std::printf("installer: %lld bytes, ours %.1f ms (%.0f MB/s), curl %.1f ms (%.0f MB/s)\n", got, ours,
                got / ours / 1000.0, curl, got / curl / 1000.0);
    std::printf("bench: appinfo_stage_ms = %.2f ms\n", stage);
    std::printf("bench: appinfo_local_ms = %.2f ms\n", local);
    std::printf("bench: appinfo_silent_fallback_s = %.2f s\n", silent);
    std::printf("bench: appinfo_silent_ui_stall_ms = %.1f ms\n", maxGapUs / 1000.0);
    if (haveCurl)
        std::printf("bench: installer_vs_curl = %.2f x\n", curl / ours);
    else
        std::printf("bench: installer_vs_curl = - x\n");
    std::filesystem::remove_all(home);
    return 0;
}
