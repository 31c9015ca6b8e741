// load_connections on a document of 10,000 saved connections (goal: under 20 ms), against a
// reference that only copies the same records already in memory.
#include "doc/profile_document.hpp"

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
            SavedConnection c;
            c.name = "Machine " + std::to_string(i);
            c.host = "host-" + std::to_string(i) + ".example.net";
            c.port = static_cast<std::uint16_t>(22 + i % 3);
            c.user = i % 2 ? "admin" : "ops";
            c.kind = static_cast<ConnectionKind>(i % 4);
            c.last_used = "2h ago";
            c.group = "group " + std::to_string(i % 10);
            c.favorite = i % 7 == 0;
            c.id = Uuid::new_v4();
            store_connection(doc, c);
            list.push_back(std::move(c));
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
