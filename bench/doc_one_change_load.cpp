// Loading one change that holds a whole list of saved connections (2,500 to 20,000, in the shape
// the connection list writes): the time per connection stays flat, and 10,000 load in under
// 100 ms. Reference: the automerge library (node, tests/interop) loading the same bytes, median
// of three loads, reported as manual time.
#include "doc/profile_document.hpp"
#include "saved_connections.hpp"
#include "support/files.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

using namespace remote;
namespace fs = std::filesystem;

namespace {

const fs::path interop_dir = fs::path(REMOTE_SOURCE_DIR) / "tests" / "interop";

const std::vector<std::uint8_t>& one_change_of(std::int64_t n) {
    static std::map<std::int64_t, std::vector<std::uint8_t>> made;
    auto& bytes = made[n];
    if (bytes.empty()) {
        ProfileDocument doc(crdt::ActorId({7}));
        for (std::int64_t i = 0; i < n; ++i) store_connection(doc, bench_connection(i));
        doc.commit();
        bytes = doc.save();
    }
    return bytes;
}

void per_connection(benchmark::State& state) {
    state.counters["per_connection"] = benchmark::Counter(
        static_cast<double>(state.range(0)),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_LoadOneChange(benchmark::State& state) {
    const auto& bytes = one_change_of(state.range(0));
    for (auto _ : state) {
        auto doc = crdt::Document::load(bytes);
        if (!doc) return state.SkipWithError(doc.error().message.c_str());
        benchmark::DoNotOptimize(doc);
        state.PauseTiming();  // freeing the document is not part of loading it
        { auto gone = std::move(doc); }
        state.ResumeTiming();
    }
    per_connection(state);
    state.counters["bytes"] = static_cast<double>(bytes.size());
}

void BM_ReferenceAutomergeLoadOneChange(benchmark::State& state) {
    if (!fs::exists(interop_dir / "node_modules" / "@automerge" / "automerge"))
        return state.SkipWithError("the automerge library is not installed: run scripts/install-deps");
    if (!test_support::on_path("node")) return state.SkipWithError("node is not installed");
    test_support::TempDir tmp("one-change-bench-");
    const fs::path file = tmp.path() / "change.bin";
    test_support::write_bytes(file, one_change_of(state.range(0)));
    const std::string out = test_support::output_of("node '" + (interop_dir / "check.mjs").string() + "' time '" +
                                                    file.string() + "' 3");
    const auto parsed = nlohmann::json::parse(out, nullptr, false);
    if (!parsed.is_object() || !parsed.contains("median_ms")) return state.SkipWithError(("node said: " + out).c_str());
    const double seconds = parsed["median_ms"].get<double>() / 1000.0;
    for (auto _ : state) state.SetIterationTime(seconds);
    per_connection(state);
}

}  // namespace

BENCHMARK(BM_LoadOneChange)->Arg(2'500)->Arg(5'000)->Arg(10'000)->Arg(20'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceAutomergeLoadOneChange)
    ->Arg(2'500)
    ->Arg(5'000)
    ->Arg(10'000)
    ->Arg(20'000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
