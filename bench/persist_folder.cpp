// The persisted document's files: opening a folder that holds 10,000 changes from three
// replicas (goal: under 150 ms), by one of them (also with a 3 GiB file beside them that cannot
// be a log, or a log of two million tiny records that hold no change) and by a new one, against
// reading the same files' bytes; reading a folder of 10,000 small logs again after one grew,
// against reading that one; and one appended change made durable (median reported) against two
// bare writes and syncs of about as many bytes (the log and its private copy).
#include "zavo_ui/persist.hpp"
#include "zavo_ui/persist_folder.hpp"
#include "zavo_ui/persist_log.hpp"
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

// A replica of the three starting again with a file that `make` writes beside their logs, set
// aside each time; rss_growth_kb how much the process's peak memory grew over the runs.
template <typename Make>
void open_beside(benchmark::State& state, const std::string& name, Make&& make) {
    const auto& root = folder_of_10k();
    const fs::path file = root.path() / "shared" / "changes" / name;
    const fs::path aside = root.path() / "shared" / "set-aside";
    const long before = peak_rss_kb();
    for (auto _ : state) {
        state.PauseTiming();
        make(file);
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

// With a 3 GiB sparse file that starts like a log (set aside unread).
void BM_OpenFolder10kChangesAnd3GiBFile(benchmark::State& state) {
    open_beside(state, "huge.log", [](const fs::path& huge) {
        std::ofstream(huge, std::ios::binary) << "ZVDLOG01";
        fs::resize_file(huge, 3ull << 30);
    });
}

// With a log of two million records of eight bytes, each whole but no change; with 1, each
// starts as a change does.
void BM_OpenFolder10kChangesAndTinyRecords(benchmark::State& state) {
    Bytes log(kLogMagic.begin(), kLogMagic.end());
    const std::uint8_t start = state.range(0) ? 0x85 : 0;
    for (std::uint32_t i = 0; i < 2'000'000; ++i) {
        const std::uint8_t payload[8] = {start, 0x6f, 0x4a, 0x83, std::uint8_t(i), std::uint8_t(i >> 8),
                                         std::uint8_t(i >> 16), 1};
        append_record(log, payload);
    }
    open_beside(state, "tiny.log", [&](const fs::path& tiny) {
        std::ofstream(tiny, std::ios::binary).write(reinterpret_cast<const char*>(log.data()), std::streamsize(log.size()));
    });
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

// A folder of 10,000 small logs, read once; each read after that follows one log that grew by a
// record: what a device appending to its log costs every other device's window. The
// reference reads that one log alone.
struct ManyLogs {
    test_support::TempDir root{"persist-bench-"};
    fs::path dir = root.path() / "changes";
    FolderReader reader{dir, root.path() / "set-aside", ""};
    ManyLogs() {
        fs::create_directories(dir);
        for (int i = 0; i < 10'000; ++i) {
            const Bytes payload(40, std::uint8_t(i));
            const auto log = encode_log(std::span(&payload, 1));
            std::ofstream(dir / ("r" + std::to_string(i) + ".log"), std::ios::binary)
                .write(reinterpret_cast<const char*>(log.data()), std::streamsize(log.size()));
        }
        reader.read_new();
    }
    void grow() {
        Bytes record;
        append_record(record, Bytes(40, std::uint8_t(++appended)));
        std::ofstream(dir / "r0.log", std::ios::binary | std::ios::app)
            .write(reinterpret_cast<const char*>(record.data()), std::streamsize(record.size()));
    }
    int appended = 0;
};

void BM_ReadFolderOf10kLogsOneGrown(benchmark::State& state) {
    static ManyLogs logs;
    std::size_t read = 0;
    for (auto _ : state) {
        state.PauseTiming();
        logs.grow();
        state.ResumeTiming();
        read = logs.reader.read_new().size();
    }
    state.counters["files_read"] = double(read);
}

void BM_ReferenceReadOneLog(benchmark::State& state) {
    static ManyLogs logs;
    const fs::path path = logs.dir / "r0.log";
    for (auto _ : state) {
        state.PauseTiming();
        logs.grow();
        state.ResumeTiming();
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        benchmark::DoNotOptimize(read_log(fd, 0, std::size_t(fs::file_size(path)), path));
        ::close(fd);
    }
}

BENCHMARK(BM_ReadFolderOf10kLogsOneGrown)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceReadOneLog)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenFolder10kChanges3Replicas)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenFolder10kChangesAnd3GiBFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenFolder10kChangesAndTinyRecords)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JoinFolder10kChanges3Replicas)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReferenceReadFolderBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendOneChangeDurably)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReferenceWriteAndSync)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
