// Loading and merging the saved histories of three replicas (10,000 changes in all, in the
// shape the connection list writes), saving the result, and the file size; against hashing the
// same bytes once, which any reader of the format must do. Freeing the loaded documents is
// left out of the timings.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "crdt/document.hpp"
#include "zavo_ui/doc.hpp"

namespace {

using crdt::Document;
using crdt::ObjType;
using crdt::ROOT;

constexpr int TOTAL_CHANGES = 10000;

struct Replicas {
    std::vector<std::vector<std::uint8_t>> files;  // one saved file per replica
    std::size_t changes = 0;
};

// Three replicas take turns: half the changes add a connection (a map with a text name and nine
// scalars), the rest rename one or change its port; every 50 changes they exchange histories.
const Replicas& replicas() {
    static const Replicas r = [] {
        std::mt19937 rng(7);
        std::vector<Document> docs;
        docs.emplace_back(crdt::ActorId({1}));
        auto conns = docs[0].put_object(ROOT, "connections", ObjType::Map).value();
        docs[0].commit();
        docs.push_back(docs[0].fork());
        docs.push_back(docs[0].fork());
        std::vector<std::vector<std::pair<crdt::ObjId, crdt::ObjId>>> known(3);  // (map, name) per replica
        for (int i = 1; i < TOTAL_CHANGES; ++i) {
            int who = i % 3;
            Document& d = docs[who];
            auto& mine = known[who];
            if (i % 2 == 0 || mine.empty()) {
                auto key = "conn-" + std::to_string(i);
                auto c = d.put_object(conns, key, ObjType::Map).value();
                auto name = d.put_object(c, "name", ObjType::Text).value();
                (void)d.splice_text(name, 0, 0, "Machine " + std::to_string(i));
                (void)d.put(c, "host", "host" + std::to_string(i) + ".example");
                (void)d.put(c, "port", std::int64_t{22});
                (void)d.put(c, "user", std::string("root"));
                (void)d.put(c, "kind", std::string("SSH"));
                (void)d.put(c, "auth", std::string("Password"));
                (void)d.put(c, "last_used", std::string(""));
                (void)d.put(c, "presence", std::string("unknown"));
                (void)d.put(c, "group", std::string("Lab"));
                (void)d.put(c, "favorite", false);
                mine.emplace_back(c, name);
            } else {
                auto [c, name] = mine[rng() % mine.size()];
                if (rng() % 2)
                    (void)zavo_ui::doc::splice_text_diffed(d, name, "Renamed " + std::to_string(i));
                else
                    (void)d.put(c, "port", static_cast<std::int64_t>(1000 + rng() % 60000));
            }
            d.commit();
            if (i % 50 == 0) {
                (void)docs[who].merge(docs[(who + 1) % 3]);
                mine.insert(mine.end(), known[(who + 1) % 3].begin(), known[(who + 1) % 3].end());
                std::sort(mine.begin(), mine.end(), [](const auto& x, const auto& y) {
                    return x.first.counter < y.first.counter ||
                           (x.first.counter == y.first.counter && x.first.actor < y.first.actor);
                });
                mine.erase(std::unique(mine.begin(), mine.end()), mine.end());
            }
        }
        Replicas out;
        for (auto& d : docs) out.files.push_back(d.save());
        Document all = Document::load(out.files[0]).value();
        for (int k = 1; k < 3; ++k) {
            auto other = Document::load(out.files[static_cast<std::size_t>(k)]).value();
            (void)all.merge(other);
        }
        out.changes = all.get_changes({}).size();
        return out;
    }();
    return r;
}

Document load_and_merge() {
    const auto& r = replicas();
    Document all = Document::load(r.files[0]).value();
    for (std::size_t k = 1; k < r.files.size(); ++k) {
        auto other = Document::load(r.files[k]).value();
        (void)all.merge(other);
    }
    return all;
}

void BM_LoadAndMergeThreeReplicas(benchmark::State& state) {
    const auto& r = replicas();
    std::size_t bytes = 0;
    for (const auto& f : r.files) bytes += f.size();
    for (auto _ : state) {
        auto doc = load_and_merge();
        benchmark::DoNotOptimize(doc);
        state.PauseTiming();  // freeing the result is not part of loading it
        { auto gone = std::move(doc); }
        state.ResumeTiming();
    }
    state.counters["changes"] = static_cast<double>(r.changes);
    state.counters["input_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_LoadAndMergeThreeReplicas)->Unit(benchmark::kMillisecond);

// The same three files read into one document: changes already read are skipped by hash.
void BM_LoadThreeReplicasIncrementally(benchmark::State& state) {
    const auto& r = replicas();
    std::size_t bytes = 0;
    for (const auto& f : r.files) bytes += f.size();
    for (auto _ : state) {
        Document all = Document::load(r.files[0]).value();
        for (std::size_t k = 1; k < r.files.size(); ++k) (void)all.load_incremental(r.files[k]);
        benchmark::DoNotOptimize(all);
        state.PauseTiming();
        { auto gone = std::move(all); }
        state.ResumeTiming();
    }
    state.counters["changes"] = static_cast<double>(r.changes);
    state.counters["input_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_LoadThreeReplicasIncrementally)->Unit(benchmark::kMillisecond);

// The merged history as one file: 10,000 changes.
void BM_LoadMergedFile(benchmark::State& state) {
    auto file = load_and_merge().save();
    for (auto _ : state) {
        auto doc = Document::load(file);
        benchmark::DoNotOptimize(doc);
        state.PauseTiming();
        { auto gone = std::move(doc); }
        state.ResumeTiming();
    }
    state.counters["changes"] = static_cast<double>(replicas().changes);
    state.counters["input_bytes"] = static_cast<double>(file.size());
}
BENCHMARK(BM_LoadMergedFile)->Unit(benchmark::kMillisecond);

// One text of 50,000 characters typed in 5,000 changes at random places: element lookups by id
// keep this linear in the number of operations.
void BM_LoadLongText(benchmark::State& state) {
    static const std::vector<std::uint8_t> file = [] {
        std::mt19937 rng(3);
        Document d(crdt::ActorId({1}));
        auto t = d.put_object(ROOT, "t", ObjType::Text).value();
        std::size_t len = 0;
        for (int i = 0; i < 5000; ++i) {
            (void)d.splice_text(t, rng() % (len + 1), 0, "abcdefghij");
            len += 10;
            d.commit();
        }
        return d.save();
    }();
    for (auto _ : state) {
        auto doc = Document::load(file);
        benchmark::DoNotOptimize(doc);
    }
    state.counters["input_bytes"] = static_cast<double>(file.size());
}
BENCHMARK(BM_LoadLongText)->Unit(benchmark::kMillisecond);

void BM_SaveMerged(benchmark::State& state) {
    auto doc = load_and_merge();
    std::size_t size = 0;
    for (auto _ : state) {
        auto bytes = doc.save();
        size = bytes.size();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["file_bytes"] = static_cast<double>(size);
    state.counters["changes"] = static_cast<double>(replicas().changes);
}
BENCHMARK(BM_SaveMerged)->Unit(benchmark::kMillisecond);

// Reference: SHA-256 over the three input files.
void BM_ReferenceHashInputs(benchmark::State& state) {
    const auto& r = replicas();
    unsigned char out[32];
    for (auto _ : state) {
        for (const auto& f : r.files) EVP_Digest(f.data(), f.size(), out, nullptr, EVP_sha256(), nullptr);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_ReferenceHashInputs)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
