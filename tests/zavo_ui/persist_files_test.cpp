#include "zavo_ui/persist_files.hpp"
#include "zavo_ui/persist_folder.hpp"
#include "zavo_ui/persist_log.hpp"
#include "support/env.hpp"
#include "support/files.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using namespace zavo_ui::persist;
using test_support::append_bytes;
using test_support::permission_bits;
using test_support::write_bytes;

namespace {

Bytes bytes_of(std::string_view s) { return Bytes(s.begin(), s.end()); }

std::string text_of(std::span<const std::uint8_t> b) { return std::string(b.begin(), b.end()); }

std::vector<std::string> records_of(const FolderReader::FileRead& r) {
    std::vector<std::string> out;
    for (auto [off, len] : r.records) out.emplace_back(r.bytes.begin() + off, r.bytes.begin() + off + len);
    return out;
}

const std::vector<Bytes> kThree = {bytes_of("first"), bytes_of("second record"), bytes_of("third")};

// How many of the next fdatasync calls fail with ENOSPC, as on a network file system that takes
// a write and finds the disk full only when it is synced.
std::atomic<int> failing_syncs{0};

}  // namespace

extern "C" int fdatasync(int fd) {
    if (failing_syncs > 0) {
        --failing_syncs;
        errno = ENOSPC;
        return -1;
    }
    static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fdatasync"));
    return real(fd);
}

TEST(PersistLog, EveryCutOfALogKeepsItsCompleteRecords) {
    const Bytes log = encode_log(kThree);
    // Record boundaries: magic, then 8 + payload for each.
    std::vector<std::size_t> ends = {kLogMagic.size()};
    for (const auto& p : kThree) ends.push_back(ends.back() + 8 + p.size());
    ASSERT_EQ(ends.back(), log.size());
    for (std::size_t cut = 0; cut <= log.size(); ++cut) {
        const ParsedLog parsed = parse_log(std::span(log).first(cut));
        std::size_t complete = 0;
        while (complete + 1 < ends.size() && ends[complete + 1] <= cut) ++complete;
        const bool at_boundary = cut == ends[complete] && cut >= kLogMagic.size();
        SCOPED_TRACE(cut);
        EXPECT_EQ(parsed.tail, at_boundary ? LogTail::Clean : LogTail::Torn);
        ASSERT_EQ(parsed.records.size(), complete);
        for (std::size_t i = 0; i < complete; ++i) EXPECT_EQ(text_of(parsed.records[i]), text_of(kThree[i]));
        EXPECT_EQ(parsed.end, cut >= kLogMagic.size() ? ends[complete] : 0u);
    }
}

TEST(PersistLog, DamageKeepsEveryIntactRecordAndUnwrittenTailsAreTorn) {
    const Bytes big(5000, 'x');  // the third record crosses the page boundary at 4096
    const std::vector<Bytes> payloads = {bytes_of("first"), bytes_of("second record"), big};
    const Bytes log = encode_log(payloads);
    const std::size_t second = kLogMagic.size() + 8 + payloads[0].size();
    const std::size_t third = second + 8 + payloads[1].size();
    const std::string a = "first", b = "second record", c(big.begin(), big.end());
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        LogTail tail;
        std::vector<std::string> kept;
    };
    // clang-format off
    const Case cases[] = {
        {"intact", [](Bytes&) {}, LogTail::Clean, {a, b, c}},
        {"bad magic", [](Bytes& l) { l[0] = 'X'; }, LogTail::Corrupt, {a, b, c}},
        {"flipped payload byte", [&](Bytes& l) { l[second + 9] ^= 0x40; }, LogTail::Corrupt, {a, c}},
        {"flipped checksum", [&](Bytes& l) { l[second + 4] ^= 1; }, LogTail::Corrupt, {a, c}},
        {"zero length", [&](Bytes& l) { std::fill_n(l.begin() + second, 4, 0); }, LogTail::Corrupt, {a, c}},
        {"impossible length", [&](Bytes& l) { l[second + 3] = 0x7f; }, LogTail::Corrupt, {a, c}},
        {"length past the end, whole records after it", [&](Bytes& l) { l[second + 2] = 0x01; }, LogTail::Corrupt,
         {a, c}},
        {"bytes between records", [&](Bytes& l) { l.insert(l.begin() + third, {1, 2, 3, 4, 5}); }, LogTail::Corrupt,
         {a, b, c}},
        {"last record fails its checksum", [&](Bytes& l) { l[third + 100] ^= 1; }, LogTail::Corrupt, {a, b}},
        {"last record cut short", [&](Bytes& l) { l.resize(l.size() - 1); }, LogTail::Torn, {a, b}},
        {"zero-filled tail after the last record", [](Bytes& l) { l.resize(l.size() + 700, 0); }, LogTail::Torn,
         {a, b, c}},
        {"last record zero-filled from a page boundary", [](Bytes& l) { std::fill(l.begin() + 4096, l.end(), 0); },
         LogTail::Torn, {a, b}},
        {"zero-filled header of the last record", [&](Bytes& l) { std::fill(l.begin() + third, l.end(), 0); },
         LogTail::Torn, {a, b}},
        {"damage, then a torn end", [&](Bytes& l) { l[second + 9] ^= 0x40; l.resize(l.size() - 1); }, LogTail::Corrupt,
         {a}},
        {"damage, a whole record, then a zero-filled end",
         [&](Bytes& l) {
             l[second + 9] ^= 0x40;
             l.resize(l.size() + 4000, 0);
         },
         LogTail::Corrupt, {a, c}},
        {"a file of zeros", [](Bytes& l) { std::fill(l.begin(), l.end(), 0); }, LogTail::Torn, {}},
    };
    // clang-format on
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        Bytes damaged = log;
        test.damage(damaged);
        const ParsedLog parsed = parse_log(damaged);
        EXPECT_EQ(parsed.tail, test.tail);
        EXPECT_EQ(parsed.problem.empty(), test.tail != LogTail::Corrupt) << parsed.problem;
        std::vector<std::string> kept;
        for (auto rec : parsed.records) kept.push_back(text_of(rec));
        EXPECT_EQ(kept, test.kept);
    }
}

TEST(PersistLog, ZeroLengthRecordsAreNeitherWrittenNorRead) {
    const Bytes log = encode_log(std::vector<Bytes>{bytes_of("a"), {}, bytes_of("b")});
    const ParsedLog parsed = parse_log(log);
    EXPECT_EQ(parsed.tail, LogTail::Clean);
    EXPECT_EQ(parsed.records.size(), 2u);
    EXPECT_EQ(parsed.end, log.size());

    // One written by something else: damage, with the records on both sides kept.
    Bytes hand = encode_log(std::span(kThree).first(1));
    hand.insert(hand.end(), 8, 0);
    const Bytes rest = encode_log(std::span(kThree).last(1));
    hand.insert(hand.end(), rest.begin() + kLogMagic.size(), rest.end());
    const ParsedLog read = parse_log(hand);
    EXPECT_EQ(read.tail, LogTail::Corrupt);
    ASSERT_EQ(read.records.size(), 2u);
    EXPECT_EQ(text_of(read.records[1]), "third");
}

TEST(PersistFiles, DefaultLocationsFollowXdg) {
    test_support::EnvGuard env;
    env.set("XDG_DATA_HOME", "/d");
    env.set("XDG_STATE_HOME", "relative/is/ignored");
    auto loc = default_locations("remote");
    ASSERT_TRUE(loc);
    EXPECT_EQ(loc->folder, fs::path("/d/zavo/remote"));
    EXPECT_EQ(loc->private_dir, fs::path(std::getenv("HOME")) / ".local/state/zavo/remote/document");
}

TEST(PersistFiles, ActorIdIsPrivateStableAndReplacedWhenUnreadable) {
    test_support::TempDir tmp("persist-test-");
    const fs::path dir = tmp.path() / "state" / "document";
    auto a = load_or_create_actor(dir);
    ASSERT_TRUE(a) << a.error();
    EXPECT_EQ(a->size(), 32u);
    EXPECT_EQ(permission_bits(dir), 0700u);
    EXPECT_EQ(permission_bits(dir / "actor"), 0600u);
    EXPECT_EQ(*load_or_create_actor(dir), *a);

    write_bytes(dir / "actor", bytes_of("garbage"));
    auto b = load_or_create_actor(dir);
    ASSERT_TRUE(b);
    EXPECT_NE(*b, *a);
    ASSERT_EQ(std::distance(fs::directory_iterator(dir / "set-aside"), fs::directory_iterator()), 1);
    EXPECT_EQ(text_of(*read_file(fs::directory_iterator(dir / "set-aside")->path())), "garbage");
}

TEST(PersistFiles, AppendLogAppendsDurablyAndNoticesReplacement) {
    test_support::TempDir tmp("persist-test-");
    const fs::path path = tmp.path() / "a.log";
    auto log = AppendLog::create(path, std::span(kThree).first(1));
    ASSERT_TRUE(log) << log.error();
    EXPECT_EQ(permission_bits(path), 0600u);
    ASSERT_TRUE(log->append(std::span(kThree).subspan(1)));
    EXPECT_TRUE(log->intact());
    const ParsedLog parsed = parse_log(*read_file(path));
    EXPECT_EQ(parsed.tail, LogTail::Clean);
    EXPECT_EQ(parsed.records.size(), 3u);

    // Reopening at the known end continues the same file.
    log = AppendLog::open(path, log->size());
    ASSERT_TRUE(log);
    EXPECT_FALSE(AppendLog::open(path, log->size() - 1));

    // A sync tool putting an older copy in its place.
    write_bytes(path, encode_log(std::span(kThree).first(1)));
    EXPECT_FALSE(log->intact());
}

// An append that is written but cannot be synced is cut off again: the log holds only what was
// reported saved, and the next append follows it.
TEST(PersistFiles, AnAppendThatCannotBeSyncedLeavesNothingBehind) {
    test_support::TempDir tmp("persist-test-");
    const fs::path path = tmp.path() / "a.log";
    auto log = AppendLog::create(path, std::span(kThree).first(1));
    ASSERT_TRUE(log) << log.error();
    const std::size_t size = log->size();
    failing_syncs = 1;
    const auto failed = log->append(std::span(kThree).subspan(1, 1));
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error(), "cannot sync " + path.string() + ": No space left on device");
    EXPECT_EQ(fs::file_size(path), size);
    EXPECT_TRUE(log->intact());
    ASSERT_TRUE(log->append(std::span(kThree).subspan(2)));
    const ParsedLog parsed = parse_log(*read_file(path));
    EXPECT_EQ(parsed.tail, LogTail::Clean);
    ASSERT_EQ(parsed.records.size(), 2u);
    EXPECT_EQ(text_of(parsed.records[1]), "third");
}

TEST(PersistFiles, FolderReaderFollowsGrowingTornAndReplacedFiles) {
    test_support::TempDir tmp("persist-test-");
    const fs::path changes = tmp.path() / "changes";
    fs::create_directories(changes);
    FolderReader reader(changes, tmp.path() / "set-aside", "mine.log");
    write_bytes(changes / "mine.log", encode_log(kThree));
    write_bytes(changes / ".tmp.log", encode_log(kThree));
    write_bytes(changes / "notes.txt", bytes_of("x"));

    // A torn tail is left for later.
    const Bytes full = encode_log(kThree);
    write_bytes(changes / "other.log", std::span(full).first(full.size() - 2));
    auto reads = reader.read_new();
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].name, "other.log");
    EXPECT_EQ(records_of(reads[0]), (std::vector<std::string>{"first", "second record"}));

    EXPECT_TRUE(reader.read_new().empty());
    append_bytes(changes / "other.log", std::span(full).last(2));
    reads = reader.read_new();
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_FALSE(reads[0].from_start);
    EXPECT_EQ(records_of(reads[0]), (std::vector<std::string>{"third"}));

    // A conflict copy is read as input; a replaced file is read again from its start.
    write_bytes(changes / "other.sync-conflict-20260101-000000-ABC.log", encode_log(std::span(kThree).first(1)));
    const fs::path fresh = changes / "fresh";
    write_bytes(fresh, encode_log(std::span(kThree).last(1)));
    fs::rename(fresh, changes / "other.log");
    reads = reader.read_new();
    ASSERT_EQ(reads.size(), 2u);
    for (const auto& r : reads) {
        EXPECT_TRUE(r.from_start);
        EXPECT_EQ(records_of(r).size(), 1u);
    }
    EXPECT_EQ(reader.read_new(true).size(), 1u);  // the skipped file, on request
}

TEST(PersistFiles, CorruptFileIsSetAsideUntouchedAndOthersStillLoad) {
    test_support::TempDir tmp("persist-test-");
    const fs::path changes = tmp.path() / "changes";
    fs::create_directories(changes);
    Bytes bad = encode_log(kThree);
    bad[kLogMagic.size() + 8 + kThree[0].size() + 10] ^= 0x20;
    write_bytes(changes / "bad.log", bad);
    write_bytes(changes / "good.log", encode_log(kThree));
    FolderReader reader(changes, tmp.path() / "set-aside", "mine.log");
    auto reads = reader.read_new();
    ASSERT_EQ(reads.size(), 2u);
    std::map<std::string, std::size_t> counts;
    for (const auto& r : reads) counts[r.name] = r.records.size();
    EXPECT_EQ(counts["bad.log"], 2u) << "the records on both sides of the damage";
    EXPECT_EQ(counts["good.log"], 3u);
    EXPECT_FALSE(fs::exists(changes / "bad.log"));
    const fs::path moved = fs::directory_iterator(tmp.path() / "set-aside")->path();
    EXPECT_EQ(*read_file(moved), bad);

    // A second corrupt file of the same name does not overwrite the first one set aside.
    write_bytes(changes / "bad.log", bad);
    reader.read_new();
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path() / "set-aside"), fs::directory_iterator()), 2);
}

// Read from a file a piece at a time, a log gives what it gives parsed whole: logs of a few
// pieces, records of every size up to more than a piece, damaged across the pieces' edges.
TEST(PersistLog, ReadingAFileInPiecesFindsWhatParsingItWholeFinds) {
    test_support::TempDir tmp("persist-test-");
    std::vector<Bytes> payloads;
    for (std::size_t i = 0; i < 500; ++i) payloads.emplace_back(1 + (i * 7919) % 4000, std::uint8_t(i));
    payloads.emplace_back(1280u << 10, 7);  // more than a piece
    for (std::size_t i = 0; i < 200; ++i) payloads.emplace_back(1 + (i * 104729) % 6000, std::uint8_t(i));
    const Bytes log = encode_log(payloads);
    const std::size_t mib = 1u << 20;
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
    } cases[] = {
        {"intact", [](Bytes&) {}},
        {"a flipped byte at each piece's edge", [&](Bytes& l) { l[mib - 1] ^= 1, l[2 * mib] ^= 4, l[2 * mib + 5] ^= 8; }},
        {"zeros across an edge", [&](Bytes& l) { std::fill_n(l.begin() + mib - 5000, 12000, 0); }},
        {"cut in the large record", [&](Bytes& l) { l.resize(l.size() / 2); }},
        {"a zero end", [&](Bytes& l) { std::fill(l.begin() + std::ptrdiff_t(l.size() - mib - 100), l.end(), 0); }},
        {"garbage from the middle", [&](Bytes& l) {
             for (std::size_t i = l.size() * 2 / 3; i < l.size(); ++i) l[i] = std::uint8_t(i * 2654435761u >> 13);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes damaged = log;
        c.damage(damaged);
        const fs::path path = tmp.path() / "log";
        write_bytes(path, damaged);
        const ParsedLog whole = parse_log(damaged);
        for (std::size_t from : {std::size_t(0), whole.end > 4000 ? std::size_t(4000) : std::size_t(0)}) {
            if (from != 0 && whole.records.empty()) continue;
            const ParsedLog expected = from == 0 ? whole : parse_log(std::span(damaged).subspan(from), from);
            const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            auto read = read_log(fd, from, damaged.size(), path);
            ::close(fd);
            ASSERT_TRUE(read) << read.error();
            EXPECT_EQ(read->end, expected.end);
            EXPECT_EQ(read->tail, expected.tail);
            EXPECT_EQ(read->problem, expected.problem);
            ASSERT_EQ(read->records.size(), expected.records.size());
            for (std::size_t i = 0; i < expected.records.size(); ++i)
                ASSERT_TRUE(std::ranges::equal(std::span(read->bytes).subspan(read->records[i].first, read->records[i].second),
                                               expected.records[i])) << i;
        }
    }
}

long peak_memory_kb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Files far larger than what they hold, sparse: the reader passes their holes unread and holds
// no more of them than a piece. One whose end reads as zeros for longer than any record cannot
// be a log of its size; a short zero end is an unfinished write, as ever.
TEST(PersistFiles, FilesLargerThanALogCanBeAreSetAsideUnread) {
    test_support::TempDir tmp("persist-test-");
    const fs::path changes = tmp.path() / "changes";
    fs::create_directories(changes);
    const Bytes log = encode_log(kThree);
    const std::uint64_t huge = 1ull << 30;
    struct Case {
        const char* name;
        Bytes start;
        std::uint64_t size;
        std::size_t records;
        bool set_aside;
    } cases[] = {
        {"magic.log", bytes_of("ZVDLOG01"), huge, 0, true},
        {"zeros.log", {}, huge, 0, true},
        {"records-then-zeros.log", log, huge, 3, true},
        {"short-zero-end.log", log, log.size() + (64u << 20), 3, false},
    };
    for (const auto& c : cases) {
        write_bytes(changes / c.name, c.start);
        fs::resize_file(changes / c.name, c.size);
    }
    // A whole record past a stretch of zeros longer than any record is not looked for.
    write_bytes(changes / "far.log", log);
    fs::resize_file(changes / "far.log", log.size() + (257u << 20));
    Bytes record;
    append_record(record, bytes_of("far"));
    append_bytes(changes / "far.log", record);

    FolderReader reader(changes, tmp.path() / "set-aside", "mine.log");
    const long before = peak_memory_kb();
    auto reads = reader.read_new();
    EXPECT_LT(peak_memory_kb() - before, 64 * 1024) << "KiB";
    std::map<std::string, const FolderReader::FileRead*> by_name;
    for (const auto& r : reads) by_name[r.name] = &r;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fs::exists(changes / c.name), !c.set_aside);
        const auto* r = by_name[c.name];
        ASSERT_EQ(r ? r->records.size() : 0u, c.records);
        if (c.records != 0) {
            EXPECT_EQ(records_of(*r), (std::vector<std::string>{"first", "second record", "third"}));
        }
    }
    EXPECT_FALSE(fs::exists(changes / "far.log"));
    ASSERT_NE(by_name["far.log"], nullptr);
    EXPECT_EQ(by_name["far.log"]->records.size(), 3u);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path() / "set-aside"), fs::directory_iterator()), 4);
}

TEST(PersistFiles, WatcherWakesOnChangesWithAndWithoutInotify) {
    for (auto mode : {FolderWatcher::Mode::InotifyAndPolling, FolderWatcher::Mode::PollingOnly}) {
        test_support::TempDir tmp("persist-test-");
        std::atomic<int> wakes{0};
        {
            FolderWatcher watcher(
                tmp.path(), [&] { ++wakes; }, std::chrono::milliseconds(50), mode);
            EXPECT_EQ(watcher.uses_inotify(), mode == FolderWatcher::Mode::InotifyAndPolling);
            std::this_thread::sleep_for(std::chrono::milliseconds(120));
            EXPECT_EQ(wakes.load(), 0) << "an idle folder wakes nobody";
            write_bytes(tmp.path() / "x.log", bytes_of("hello"));
            for (int i = 0; i < 200 && wakes.load() == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            EXPECT_GE(wakes.load(), 1);
        }
    }
}
