// Throughput of the little-endian field helpers over a memory stream: the floor under every
// record loader (catalog items, folder bodies).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

#include "platform/stream.h"

using namespace fv;

static void BM_FieldRoundTrip(benchmark::State& state) {
    TMemoryStream m;
    for (auto _ : state) {
        m.Clear();
        for (int i = 0; i < 1000; ++i) {
            m.WriteU32(static_cast<uint32_t>(i));
            m.WriteDouble(i * 0.5);
            m.WriteText("IMG_0001.JPG");
        }
        m.SetPosition(0);
        for (int i = 0; i < 1000; ++i) {
            benchmark::DoNotOptimize(m.ReadU32());
            benchmark::DoNotOptimize(m.ReadDouble());
            benchmark::DoNotOptimize(m.ReadText());
        }
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_FieldRoundTrip);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    // one figure of our own for the summary
    TMemoryStream m;
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 1000000; ++i) m.WriteU32(static_cast<uint32_t>(i));
    m.SetPosition(0);
    uint64_t sum = 0;
    for (int i = 0; i < 1000000; ++i) sum += m.ReadU32();
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("bench: stream_u32_fields_per_s = %.0f fields/s\n", 2e6 / s + static_cast<double>(sum & 0));
    return 0;
}
