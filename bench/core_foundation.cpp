// The foundation's hot paths: log entries from several threads, a settings save and load
// through the registry file, and a forwarded command's round trip to the running instance.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/config.h"
#include "core/log.h"
#include "platform/instance.h"
#include "platform/registry.h"

using namespace fv;
namespace fs = std::filesystem;

namespace {
fs::path gDir;

void PrivateFolders() {
    char tmpl[] = "/tmp/fv-bench-XXXXXX";
    gDir = ::mkdtemp(tmpl);
    setenv("XDG_DATA_HOME", (gDir / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (gDir / "config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", gDir.c_str(), 1);
    fs::create_directories(gDir / "log");
}

void BM_LogEntry(benchmark::State& state) {
    for (auto _ : state) WriteLogText("Bench", "one entry of an ordinary length for the log file");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogEntry)->Threads(1)->Threads(4);

void BM_ConfigSaveLoad(benchmark::State& state) {
    TFolvaneConfigItem c;
    std::vector<std::string> paths(20, "/home/user/Pictures/viewer");
    c.SetInportViewerPaths(paths);
    for (auto _ : state) {
        c.SaveToRegistry();
        TFolvaneConfigItem d;
        d.LoadFromRegistry();
        benchmark::DoNotOptimize(d.GetThumbnailSize());
    }
}
BENCHMARK(BM_ConfigSaveLoad)->Unit(benchmark::kMicrosecond);

void BM_ForwardRoundTrip(benchmark::State& state) {
    std::string sock = (gDir / "bench.sock").string();
    TForwardServer server;
    server.Start(sock, [](const TForwardMessage&) { return 1u; });
    std::vector<char> buf = MakeCopyDataBuffer("\"a=1\",\"b=\"\"x\"\"\"");
    uint32_t answer = 0;
    for (auto _ : state) {
        SendToRunningInstance(sock, true, buf, answer);
        benchmark::DoNotOptimize(answer);
    }
}
BENCHMARK(BM_ForwardRoundTrip)->Unit(benchmark::kMicrosecond);

template <class F>
double SecondsFor(F&& f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}
}  // namespace

int main(int argc, char** argv) {
    PrivateFolders();
    OpenCorvaLog((gDir / "log").string());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    // figures of our own for the summary
    const int entries = 200000;
    double logS = SecondsFor([&] {
        std::vector<std::thread> ts;
        for (int t = 0; t < 4; ++t)
            ts.emplace_back([&] {
                for (int i = 0; i < entries / 4; ++i) WriteLogText("Bench", "entry from one of four threads");
            });
        for (auto& t : ts) t.join();
    });
    CloseCorvaLog();
    const int rounds = 200;
    double cfgS = SecondsFor([&] {
        TFolvaneConfigItem c;
        for (int i = 0; i < rounds; ++i) {
            c.SaveToRegistry();
            TFolvaneConfigItem d;
            d.LoadFromRegistry();
        }
    });
    std::string sock = (gDir / "fig.sock").string();
    TForwardServer server;
    server.Start(sock, [](const TForwardMessage&) { return 1u; });
    std::vector<char> buf = MakeCopyDataBuffer("\"a=1\"");
    uint32_t answer = 0;
    const int sends = 2000;
    double fwdS = SecondsFor([&] {
        for (int i = 0; i < sends; ++i) SendToRunningInstance(sock, true, buf, answer);
    });
    server.Stop();
    std::printf("bench: log_entries_4_threads_per_s = %.0f entries/s\n", entries / logS);
    std::printf("bench: config_save_and_load = %.3f ms\n", cfgS * 1000 / rounds);
    std::printf("bench: forward_round_trip = %.1f us\n", fwdS * 1e6 / sends);
    fs::remove_all(gDir);
    return 0;
}
