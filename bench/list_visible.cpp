// visible_connections over a large list with a two-letter query, against a reference that
// lower-cases both names at every comparison; and over the same list with one name 100,000
// characters long and a pasted query of 20,000 that nearly matches it everywhere.
#include "profiles/connection_list.hpp"
#include "profiles/text.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

using namespace remote;

namespace {

std::vector<SavedConnection> make_list(std::size_t count) {
    static const char* words[] = {"build", "Studio", "garage", "Office", "rack", "Lab", "edge", "Node", "Café", "Über"};
    std::mt19937 rng(42);
    std::vector<SavedConnection> list;
    list.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        SavedConnection c;
        c.name = std::string(words[rng() % 10]) + " " + words[rng() % 10] + " " + std::to_string(i);
        c.host = "host-" + std::to_string(rng() % 100000) + ".example.net";
        c.user = (i % 3 == 0) ? "admin" : "ops";
        c.group = words[rng() % 10];
        c.kind = static_cast<ConnectionKind>(rng() % 4);
        c.favorite = rng() % 8 == 0;
        c.id = Uuid::new_v4();
        list.push_back(std::move(c));
    }
    return list;
}

std::vector<const SavedConnection*> reference_visible(const std::vector<SavedConnection>& list,
                                                      std::string_view query) {
    std::string q = to_lower_full(trim_unicode(query));
    std::vector<const SavedConnection*> kept;
    for (const auto& c : list) {
        if (q.empty() || to_lower_full(c.name).find(q) != std::string::npos ||
            to_lower_full(c.host).find(q) != std::string::npos || to_lower_full(c.user).find(q) != std::string::npos ||
            to_lower_full(c.group).find(q) != std::string::npos ||
            to_lower_full(stored_name(c.kind)).find(q) != std::string::npos)
            kept.push_back(&c);
    }
    std::stable_sort(kept.begin(), kept.end(), [](const SavedConnection* a, const SavedConnection* b) {
        return compare_connections(*a, *b) < 0;
    });
    return kept;
}

const std::vector<SavedConnection>& list10k() {
    static const auto list = make_list(10'000);
    return list;
}

void BM_VisibleConnections(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(visible_connections(list10k(), "st"));
    state.counters["matches"] = static_cast<double>(visible_connections(list10k(), "st").size());
}

void BM_ReferencePerComparisonLowering(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(reference_visible(list10k(), "st"));
    state.counters["matches"] = static_cast<double>(reference_visible(list10k(), "st").size());
}

void BM_VisibleLongNameLongQuery(benchmark::State& state) {
    static const auto list = [] {
        auto l = list10k();
        l.front().name = std::string(100'000, 'a');
        return l;
    }();
    const std::string query = std::string(20'000, 'a') + "b";
    for (auto _ : state) benchmark::DoNotOptimize(visible_connections(list, query));
}

BENCHMARK(BM_VisibleLongNameLongQuery)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VisibleConnections)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferencePerComparisonLowering)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
