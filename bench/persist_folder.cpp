// The persisted document's files: opening a folder that holds 10,000 changes from three
// replicas (goal: under 150 ms), by one of them (also with a 3 GiB file beside them that cannot
// be a log) and by a new one, against reading the same files' bytes; and one appended change made durable (median reported) against two bare
// writes and syncs of about as many bytes (the log and its private copy).
#include "zavo_ui/persist.hpp"
#include "support/temp_dir.hpp"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace zavo_ui::persist;

namespace {

Locations replica(const fs::path& root, const std::string& name) { return {root / "shared", root / name / "document"}; }

// Three replicas, each saving its share of 10,000 small changes one by one, then opening the
// folder once more so that each log holds what its replica has seen, as it does in use.
const test_support::TempDir& folder_of_10k() {
    static test_support::TempDir root("persist-bench-");
    static bool made = false;
    if (!made) {
        for (int r = 0; r < 3; ++r) {
            auto d = open_at(replica(root.path(), "r" + std::to_string(r)));
            if (!d) std::abort();
            auto& doc = (*d)->document();
            auto map = doc.put_object(crdt::ROOT, "r" + std::to_string(r), crdt::ObjType::Map).value();
            for (int i = r; i < 10'000; i += 3) {
                (void)doc.put(map, "k" + std::to_string(i % 50), crdt::ScalarValue(std::int64_t{i}));
                doc.commit();
            }
            (void)(*d)->save_changes();
        }
        for (int r = 0; r < 3; ++r)
            if (!open_at(replica(root.path(), "r" + std::to_string(r)))) std::abort();
        made = true;
    }
    return root;
}

// A replica of the three starting again.
void BM_OpenFolder10kChanges3Replicas(benchmark::State& state) {
    const auto& root = folder_of_10k();
    std::size_t changes = 0;
    for (auto _ : state) {
        auto d = open_at(replica(root.path(), "r0"));
        if (!d) return state.SkipWithError(d.error().c_str());
        changes = (*d)->document().get_changes({}).size();
        state.PauseTiming();
        d->reset();
        state.ResumeTiming();
    }
    state.counters["changes"] = static_cast<double>(changes);
}

long peak_rss_kb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The same, with a 3 GiB sparse file that starts like a log in the folder (set aside unread each
// time); rss_growth_kb how much the process's peak memory grew over the runs.
void BM_OpenFolder10kChangesAnd3GiBFile(benchmark::State& state) {
    const auto& root = folder_of_10k();
    const fs::path huge = root.path() / "shared" / "changes" / "huge.log";
    const fs::path aside = root.path() / "shared" / "set-aside";
    const long before = peak_rss_kb();
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(huge, std::ios::binary) << "ZVDLOG01";
        fs::resize_file(huge, 3ull << 30);
        state.ResumeTiming();
        auto d = open_at(replica(root.path(), "r0"));
        if (!d) return state.SkipWithError(d.error().c_str());
        state.PauseTiming();
        d->reset();
        fs::remove_all(aside);
        state.ResumeTiming();
    }
    state.counters["rss_growth_kb"] = double(peak_rss_kb() - before);
}

// A fourth device joining: it reads the three logs and writes its own.
void BM_JoinFolder10kChanges3Replicas(benchmark::State& state) {
    const auto& root = folder_of_10k();
    const test_support::TempDir joiner("persist-bench-");
    std::size_t changes = 0;
    for (auto _ : state) {
        auto d = open_at({root.path() / "shared", joiner.path() / "new" / "document"});
        if (!d) return state.SkipWithError(d.error().c_str());
        state.PauseTiming();
        changes = (*d)->document().get_changes({}).size();
        const fs::path log = root.path() / "shared" / "changes" / ((*d)->actor() + ".log");
        d->reset();
        fs::remove(log);
        fs::remove_all(joiner.path() / "new");
        state.ResumeTiming();
    }
    state.counters["changes"] = static_cast<double>(changes);
}

void BM_ReferenceReadFolderBytes(benchmark::State& state) {
    const auto& root = folder_of_10k();
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const auto& e : fs::directory_iterator(root.path() / "shared" / "changes"))
            bytes += read_file(e.path())->size();
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

void BM_AppendOneChangeDurably(benchmark::State& state) {
    const test_support::TempDir root("persist-bench-");
    auto d = open_at(replica(root.path(), "a"));
    if (!d) return state.SkipWithError(d.error().c_str());
    auto& doc = (*d)->document();
    std::vector<double> micros;
    std::int64_t i = 0;
    for (auto _ : state) {
        (void)doc.put(crdt::ROOT, "favorite", crdt::ScalarValue(++i));
        const auto t0 = std::chrono::steady_clock::now();
        if (!(*d)->save_changes()) state.SkipWithError("save failed");
        const auto t1 = std::chrono::steady_clock::now();
        micros.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    state.counters["median_us"] = median(micros);
}

void BM_ReferenceWriteAndSync(benchmark::State& state) {
    const test_support::TempDir root("persist-bench-");
    const fs::path path = root.path() / "ref";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    const std::vector<std::uint8_t> record(120, 7);  // about one record of a small change
    std::vector<double> micros;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        // The log writes the private copy and the shared log: two writes, two syncs.
        for (int k = 0; k < 2; ++k) {
            if (::write(fd, record.data(), record.size()) < 0 || ::fdatasync(fd) != 0) state.SkipWithError("io");
        }
        const auto t1 = std::chrono::steady_clock::now();
        micros.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    }
    ::close(fd);
    state.counters["median_us"] = median(micros);
}

}  // namespace

BENCHMARK(BM_OpenFolder10kChanges3Replicas)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenFolder10kChangesAnd3GiBFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JoinFolder10kChanges3Replicas)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceReadFolderBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendOneChangeDurably)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReferenceWriteAndSync)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
