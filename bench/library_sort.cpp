// Sorting 100,000 catalog items by each sort type, with and without day grouping.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "library/catalog_list.h"

using namespace fv;

namespace {

constexpr int kItems = 100000;
std::vector<std::unique_ptr<TCatalogItem>> gItems;

void MakeItems() {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> day(43000, 46000);
    std::uniform_int_distribution<int> pos(-1, 500), group(0, 40), prefix(0, 5);
    static const char* const kPrefix[] = {"IMG_", "DSC", "P", "写真_", "img_", "Holiday-"};
    char name[64];
    for (int i = 0; i < kItems; ++i) {
        auto it = std::make_unique<TCatalogItem>();
        std::snprintf(name, sizeof name, "%s%05d.JPG", kPrefix[prefix(rng)], static_cast<int>(rng() % 60000));
        it->SetFileNameRaw(name);
        it->SetFileTime(day(rng));
        // many photos share a day, some share the second
        it->SetShootingDate(std::floor(day(rng)) + (rng() % 2000) / 2000.0);
        it->SetManualPosition(static_cast<int16_t>(pos(rng)));
        it->SetGroupNumber(group(rng));
        gItems.push_back(std::move(it));
    }
}

void Fill(TCorvaSortList& l, std::mt19937& rng) {
    l.Clear();
    std::vector<TCatalogItem*> v;
    v.reserve(gItems.size());
    for (auto& it : gItems) v.push_back(it.get());
    std::shuffle(v.begin(), v.end(), rng);
    for (auto* it : v) l.Add(it);
}

void BM_Sort100k(benchmark::State& state) {
    std::mt19937 rng(7);
    TCorvaSortList l;
    for (auto _ : state) {
        state.PauseTiming();
        Fill(l, rng);
        state.ResumeTiming();
        l.SetOrder(static_cast<int>(state.range(0)), true, state.range(1) != 0, false);
    }
}
BENCHMARK(BM_Sort100k)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    MakeItems();
    std::mt19937 rng(99);
    TCorvaSortList l;
    Fill(l, rng);
    // the first name sort also computes every item's collation key once
    auto t0 = std::chrono::steady_clock::now();
    l.SetOrder(stFileName, true, false, false);
    double first = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();

    double worst = 0;
    for (int type = 0; type <= 3; ++type)
        for (int byDay = 0; byDay <= 1; ++byDay)
            for (int asc = 0; asc <= 1; ++asc) {
                std::vector<double> runs;
                for (int r = 0; r < 5; ++r) {
                    Fill(l, rng);
                    auto t = std::chrono::steady_clock::now();
                    l.SetOrder(type, asc != 0, byDay != 0, false);
                    runs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count());
                }
                std::sort(runs.begin(), runs.end());
                double med = runs[runs.size() / 2];
                std::printf("sort type %d (%s)%s %s: %.1f ms\n", type, SortTypeName(type).c_str(),
                            byDay ? " by day" : "", asc ? "ascending" : "descending", med);
                worst = std::max(worst, med);
            }
    std::printf("first name sort (collation keys computed): %.1f ms\n", first);
    std::printf("bench: sort_100k_worst_ms = %.1f ms\n", worst);
    std::printf("bench: sort_100k_first_name_ms = %.1f ms\n", first);
    return 0;
}
