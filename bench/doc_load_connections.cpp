// load_connections on a document of 10,000 saved connections (goal: under 20 ms), against a
// reference that only copies the same records already in memory.
#include "doc/profile_document.hpp"
#include "saved_connections.hpp"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

using namespace remote;

namespace {

struct Fixture {
    std::vector<SavedConnection> list;
    ProfileDocument doc;
    Fixture() {
        for (int i = 0; i < 10'000; ++i) {
            list.push_back(bench_connection(i));
            store_connection(doc, list.back());
        }
        doc.commit();
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_LoadConnections10k(benchmark::State& state) {
    auto& f = fixture();
    for (auto _ : state) benchmark::DoNotOptimize(load_connections(f.doc));
    state.counters["connections"] = static_cast<double>(load_connections(f.doc).size());
}

void BM_ReferenceCopyList10k(benchmark::State& state) {
    auto& f = fixture();
    for (auto _ : state) {
        std::vector<SavedConnection> copy = f.list;
        benchmark::DoNotOptimize(copy);
    }
}

}  // namespace

BENCHMARK(BM_LoadConnections10k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceCopyList10k)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
