#include "zavo_ui/persist.hpp"
#include "support/files.hpp"
#include "support/log.hpp"
#include "support/small_disk.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using namespace zavo_ui::persist;
using test_support::permission_bits;
using test_support::write_bytes;

namespace {

class Folder : public ::testing::Test {
protected:
    // Replicas share the folder; each has its own private state.
    Locations replica(const std::string& name) const { return {root_ / "shared", root_ / name / "document"}; }
    fs::path changes() const { return root_ / "shared" / "changes"; }
    fs::path own_log(const PersistedDocument& d) const { return changes() / (d.actor() + ".log"); }

    test_support::TempDir tmp_{"persist-doc-"};
    fs::path root_ = tmp_.path();
};

std::unique_ptr<PersistedDocument> opened(const Locations& at) {
    auto d = open_at(at);
    EXPECT_TRUE(d) << (d ? "" : d.error());
    return d ? std::move(*d) : nullptr;
}

void put(PersistedDocument& d, std::string_view key, std::string value) {
    ASSERT_TRUE(d.document().put(crdt::ROOT, key, crdt::ScalarValue(std::move(value))));
}

std::string get(PersistedDocument& d, std::string_view key) {
    auto e = d.document().get(crdt::ROOT, key);
    if (!e || !*e || !(*e)->value.scalar()) return "<absent>";
    const auto* s = std::get_if<std::string>((*e)->value.scalar());
    return s ? *s : "<not text>";
}

Bytes file_bytes(const fs::path& p) { return *read_file(p); }

}  // namespace

TEST_F(Folder, ChangesSurviveReopeningAndFilesArePrivate) {
    std::string actor;
    {
        auto d = opened(replica("a"));
        actor = d->actor();
        put(*d, "host", "one");
        EXPECT_EQ(d->save_changes(), true);
        EXPECT_EQ(d->save_changes(), false) << "nothing new to save";
        put(*d, "user", "two");  // left for the destructor to save
    }
    auto d = opened(replica("a"));
    EXPECT_EQ(d->actor(), actor);
    EXPECT_EQ(get(*d, "host"), "one");
    EXPECT_EQ(get(*d, "user"), "two");
    for (const fs::path& dir : {root_ / "shared", changes(), root_ / "a" / "document"})
        EXPECT_EQ(permission_bits(dir), 0700u);
    EXPECT_EQ(permission_bits(own_log(*d)), 0600u);
    EXPECT_EQ(permission_bits(root_ / "a" / "document" / (actor + ".log")), 0600u);
    EXPECT_FALSE(fs::exists(root_ / "shared" / "actor")) << "the actor id stays out of the shared folder";
}

TEST_F(Folder, TwoReplicasFollowEachOther) {
    auto a = opened(replica("a"));
    auto b = opened(replica("b"));
    ASSERT_NE(a->actor(), b->actor());
    std::atomic<int> b_woken{0};
    b->set_change_listener([&] { ++b_woken; });

    put(*a, "host", "from a");
    ASSERT_TRUE(a->save_changes());
    for (int i = 0; i < 300 && b_woken.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(b_woken.load(), 1) << "the watcher announces the other replica's write";
    EXPECT_TRUE(b->merge_from_folder());
    EXPECT_EQ(get(*b, "host"), "from a");
    EXPECT_FALSE(b->merge_from_folder()) << "nothing new the second time";

    put(*b, "user", "from b");  // merge saves pending changes first
    EXPECT_FALSE(b->merge_from_folder());
    EXPECT_TRUE(a->merge_from_folder());
    EXPECT_EQ(get(*a, "user"), "from b");
}

TEST_F(Folder, TwoProcessesSeeEachOthersEdits) {
    // Forked while this process runs no other thread.
    const auto in_child = [&](const std::function<int()>& body) {
        const pid_t pid = ::fork();
        if (pid == 0) ::_exit(body());
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    ASSERT_EQ(in_child([&] {
                  auto a = open_at(replica("a"));
                  if (!a) return 2;
                  (*a)->document().put(crdt::ROOT, "host", crdt::ScalarValue(std::string("from a")));
                  return (*a)->save_changes().value_or(false) ? 0 : 3;
              }),
              0);
    {
        auto b = opened(replica("b"));
        EXPECT_EQ(get(*b, "host"), "from a");
        put(*b, "host", "from b");
    }
    EXPECT_EQ(in_child([&] {
                  auto a = open_at(replica("a"));
                  if (!a) return 2;
                  return get(**a, "host") == "from b" ? 0 : 4;
              }),
              0);
}

TEST_F(Folder, TornTailReopensWithEveryCompleteRecord) {
    fs::path log;
    {
        auto d = opened(replica("a"));
        for (int i = 0; i < 3; ++i) {
            put(*d, "k" + std::to_string(i), "v");
            ASSERT_TRUE(d->save_changes());
        }
        log = own_log(*d);
    }
    // Cut in the middle of the last record, as a crash during an append leaves it.
    Bytes bytes = file_bytes(log);
    fs::resize_file(log, bytes.size() - 5);
    auto d = opened(replica("a"));
    EXPECT_EQ(get(*d, "k0"), "v");
    EXPECT_EQ(get(*d, "k1"), "v");
    EXPECT_EQ(get(*d, "k2"), "v") << "the private copy still holds the last change";
    put(*d, "k3", "v");
    ASSERT_TRUE(d->save_changes());
    EXPECT_EQ(parse_log(file_bytes(log)).tail, LogTail::Clean) << "appends never follow a torn record";
}

TEST_F(Folder, CorruptReplicaFileIsSetAsideAndItsGoodChangesKept) {
    {
        auto c = opened(replica("c"));
        put(*c, "other", "fine");
    }
    fs::path b_log;
    {
        auto b = opened(replica("b"));
        put(*b, "early", "kept");
        ASSERT_TRUE(b->save_changes());
        put(*b, "late", "lost");
        ASSERT_TRUE(b->save_changes());
        b_log = own_log(*b);
    }
    // c's log, written before b existed, holds only c's change.
    Bytes bytes = file_bytes(b_log);
    bytes[bytes.size() - 3] ^= 0x55;  // inside the last record
    write_bytes(b_log, bytes);

    {
        auto a = opened(replica("a"));
        EXPECT_EQ(get(*a, "early"), "kept");
        EXPECT_EQ(get(*a, "other"), "fine");
        EXPECT_EQ(get(*a, "late"), "<absent>");
    }
    EXPECT_FALSE(fs::exists(b_log));
    const fs::path moved = fs::directory_iterator(root_ / "shared" / "set-aside")->path();
    EXPECT_EQ(file_bytes(moved), bytes) << "set aside untouched";
    // The readable part lives on in the log of the replica that set the file aside.
    auto d = opened(replica("d"));
    EXPECT_EQ(get(*d, "early"), "kept");
}

TEST_F(Folder, RolledBackLogIsRestoredFromThePrivateCopy) {
    Bytes old_copy;
    fs::path log;
    {
        auto d = opened(replica("a"));
        put(*d, "first", "1");
        ASSERT_TRUE(d->save_changes());
        log = own_log(*d);
        old_copy = file_bytes(log);
        put(*d, "second", "2");
        ASSERT_TRUE(d->save_changes());
        // A sync tool puts the older version back while the replica runs.
        write_bytes(log, old_copy);
        put(*d, "third", "3");
        ASSERT_TRUE(d->save_changes());
    }
    // Another replica reading only the shared folder sees all three.
    auto b = opened(replica("b"));
    EXPECT_EQ(get(*b, "second"), "2");
    EXPECT_EQ(get(*b, "third"), "3");

    write_bytes(log, old_copy);  // and once more while it is closed
    { auto d = opened(replica("a")); }
    auto c = opened(replica("c"));
    EXPECT_EQ(get(*c, "second"), "2");
    EXPECT_EQ(get(*c, "third"), "3");
}

TEST_F(Folder, ConflictCopiesAreReadAsInput) {
    fs::path log;
    {
        auto b = opened(replica("b"));
        put(*b, "k", "from the copy");
        ASSERT_TRUE(b->save_changes());
        log = own_log(*b);
    }
    const fs::path copy = changes() / (log.stem().string() + ".sync-conflict-20260101-000000-XYZ.log");
    fs::rename(log, copy);
    auto a = opened(replica("a"));
    EXPECT_EQ(get(*a, "k"), "from the copy");
}

TEST_F(Folder, OneProcessAtATimePerReplica) {
    auto first = opened(replica("a"));
    auto second = open_at(replica("a"));
    ASSERT_FALSE(second);
    EXPECT_NE(second.error().find("already open in another process"), std::string::npos) << second.error();
    EXPECT_TRUE(open_at(replica("b"))) << "another replica on the same folder is fine";
    first.reset();
    EXPECT_TRUE(open_at(replica("a")));
}

namespace {

// The log of replica `b`: its own change "early", a change of replica `c` that it merged
// ("other", independent of "early"; c's own log is gone), then its own "late", which depends
// on "early".
struct ThreeChangeLog {
    fs::path log;
    Bytes bytes;
    std::vector<std::size_t> records;  // where each record starts
};

}  // namespace

TEST_F(Folder, DamageCostsOnlyTheDamagedRecord) {
    const auto make = [&] {
        fs::remove_all(root_);
        fs::create_directories(root_);
        ThreeChangeLog made;
        auto b = opened(replica("b"));
        put(*b, "early", "b");
        EXPECT_TRUE(b->save_changes());
        fs::path c_log;
        {
            // c works on a folder of its own: its change does not depend on b's.
            auto c = opened({root_ / "elsewhere", root_ / "c" / "document"});
            put(*c, "other", "c");
            EXPECT_TRUE(c->save_changes());
            c_log = root_ / "elsewhere" / "changes" / (c->actor() + ".log");
        }
        fs::copy_file(c_log, changes() / c_log.filename());
        b->merge_from_folder();
        fs::remove(changes() / c_log.filename());
        put(*b, "late", "b");
        EXPECT_TRUE(b->save_changes());
        made.log = own_log(*b);
        b.reset();
        made.bytes = file_bytes(made.log);
        const ParsedLog parsed = parse_log(made.bytes);
        EXPECT_EQ(parsed.records.size(), 3u);
        for (auto rec : parsed.records)
            made.records.push_back(static_cast<std::size_t>(rec.data() - made.bytes.data()) - 8);
        return made;
    };
    struct Case {
        const char* what;
        std::function<void(Bytes&, std::size_t first)> damage;
    };
    const Case cases[] = {
        {"a flipped byte in the first record", [](Bytes& b, std::size_t first) { b[first + 20] ^= 0x10; }},
        {"the first record's length past the end", [](Bytes& b, std::size_t first) { b[first + 3] = 0x40; }},
        {"a record holding no change",
         [](Bytes& b, std::size_t first) {
             // Valid framing around a payload that is no change: the checksum is made to match.
             Bytes fake = encode_log(std::vector<Bytes>{Bytes(40, 'z')});
             b.insert(b.begin() + static_cast<std::ptrdiff_t>(first), fake.begin() + 8, fake.end());
         }},
        {"a record starting as a change does, holding none",
         [](Bytes& b, std::size_t first) {
             Bytes payload(40, 'z');
             std::ranges::copy(std::array<std::uint8_t, 4>{0x85, 0x6f, 0x4a, 0x83}, payload.begin());
             Bytes fake = encode_log(std::vector<Bytes>{payload});
             b.insert(b.begin() + static_cast<std::ptrdiff_t>(first), fake.begin() + 8, fake.end());
         }},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        ThreeChangeLog made = make();
        Bytes damaged = made.bytes;
        test.damage(damaged, made.records[0]);
        write_bytes(made.log, damaged);

        test_support::CapturedLog log;
        {
            auto a = opened(replica("a"));
            EXPECT_EQ(get(*a, "other"), "c") << "an independent change after the damage is read";
            const bool no_change_only = std::string_view(test.what).find("holding") != std::string_view::npos;
            EXPECT_EQ(get(*a, "early"), no_change_only ? "b" : "<absent>");
            EXPECT_EQ(get(*a, "late"), no_change_only ? "b" : "<absent>") << "it waits for the change it depends on";
            put(*a, "mine", "a");
            EXPECT_TRUE(a->save_changes());
            a->merge_from_folder();
        }
        { auto again = opened(replica("a")); }
        EXPECT_EQ(log.count("is damaged"), 1u) << log.text();
        EXPECT_FALSE(fs::exists(made.log));
        ASSERT_TRUE(fs::exists(root_ / "shared" / "set-aside"));
        const fs::path moved = fs::directory_iterator(root_ / "shared" / "set-aside")->path();
        EXPECT_EQ(file_bytes(moved), damaged) << "set aside untouched";
    }
}

TEST_F(Folder, UnwrittenTailsAreNeitherDataNorDamage) {
    fs::path b_log;
    std::string b_actor;
    {
        auto b = opened(replica("b"));
        put(*b, "k", "v");
        ASSERT_TRUE(b->save_changes());
        b_log = own_log(*b);
        b_actor = b->actor();
    }
    // A crash extends both of b's logs with zeros.
    const Bytes zeros(4096, 0);
    test_support::append_bytes(b_log, zeros);
    test_support::append_bytes(root_ / "b" / "document" / (b_actor + ".log"), zeros);
    test_support::CapturedLog log;
    {
        auto a = opened(replica("a"));
        EXPECT_EQ(get(*a, "k"), "v");
    }
    EXPECT_TRUE(fs::exists(b_log)) << "not set aside";
    auto b = opened(replica("b"));
    EXPECT_EQ(get(*b, "k"), "v");
    EXPECT_EQ(parse_log(file_bytes(b_log)).tail, LogTail::Clean) << "its owner writes it whole again";
    EXPECT_FALSE(fs::exists(root_ / "shared" / "set-aside"));
    EXPECT_FALSE(fs::exists(root_ / "b" / "document" / "set-aside"));
    EXPECT_EQ(log.count("error|"), 0u) << log.text();
}

TEST_F(Folder, FoldersInPlaceOfThisReplicasLogsAreSetAside) {
    std::string actor;
    {
        auto a = opened(replica("a"));
        put(*a, "k", "v");
        actor = a->actor();
    }
    const fs::path logs[] = {changes() / (actor + ".log"), root_ / "a" / "document" / (actor + ".log")};
    for (const fs::path& log : logs) {
        SCOPED_TRACE(log.string());
        const Bytes before = file_bytes(log);
        fs::remove(log);
        fs::create_directories(log / "inside");
        {
            auto a = opened(replica("a"));
            ASSERT_TRUE(a);
            EXPECT_EQ(get(*a, "k"), "v");
            EXPECT_TRUE(a->shared_problem().empty()) << a->shared_problem();
        }
        EXPECT_TRUE(fs::is_regular_file(log));
        EXPECT_EQ(file_bytes(log), before);
    }
    EXPECT_TRUE(fs::is_directory(*fs::directory_iterator(root_ / "shared" / "set-aside")));
    EXPECT_TRUE(fs::is_directory(*fs::directory_iterator(root_ / "a" / "document" / "set-aside")));
}

namespace {

// Runs `body` in a child process as the user nobody when this test runs as root, who may write
// anywhere and so would hide what is tested; as another user, in a child as that user. Inside
// `body`, `pause()` waits until `between` has run in this process. The body returns an empty
// text when everything held, else what went wrong.
std::string in_unprivileged_child(const std::function<std::string(const std::function<void()>& pause)>& body,
                                  const std::function<void()>& between) {
    int to_parent[2], to_child[2], report[2];
    if (::pipe(to_parent) != 0 || ::pipe(to_child) != 0 || ::pipe(report) != 0) return "no pipes";
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody || ::setgroups(0, nullptr) != 0 ||
                ::setresgid(nobody->pw_gid, nobody->pw_gid, nobody->pw_gid) != 0 ||
                ::setresuid(nobody->pw_uid, nobody->pw_uid, nobody->pw_uid) != 0)
                ::_exit(3);
        }
        const std::string problem = body([&] {
            char c = 'p';
            (void)!::write(to_parent[1], &c, 1);
            (void)!::read(to_child[0], &c, 1);
        });
        (void)!::write(report[1], problem.data(), problem.size());
        ::_exit(0);
    }
    ::close(to_parent[1]);
    ::close(to_child[0]);
    ::close(report[1]);
    char c;
    if (::read(to_parent[0], &c, 1) == 1) {
        between();
        (void)!::write(to_child[1], &c, 1);
    }
    std::string problem;
    for (ssize_t n; (n = ::read(report[0], &c, 1)) == 1;) problem += c;
    int status = 0;
    ::waitpid(pid, &status, 0);
    for (int fd : {to_parent[0], to_child[1], report[0]}) ::close(fd);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "the child did not finish (status " + std::to_string(status) + ")";
    return problem;
}

void give_to(const fs::path& path, uid_t uid, gid_t gid) {
    for (const auto& entry : fs::recursive_directory_iterator(path)) (void)::lchown(entry.path().c_str(), uid, gid);
    (void)::lchown(path.c_str(), uid, gid);
}

}  // namespace

// The shared folder can be read but not written: this device starts from what it can read,
// keeps its changes in its private copy, says why once, and writes them out as soon as it may.
TEST_F(Folder, StartsFromAFolderItCannotWriteAndWritesOnceItMay) {
    const bool root = ::geteuid() == 0;
    const passwd* nobody = ::getpwnam("nobody");
    if (root && !nobody) GTEST_SKIP() << "no user nobody to run as";
    const uid_t uid = root ? nobody->pw_uid : ::geteuid();
    const gid_t gid = root ? nobody->pw_gid : ::getegid();
    struct Case {
        const char* what;
        std::function<void()> lock_out;  // run as the test's user
        std::function<void()> let_in;
    };
    const fs::path shared = root_ / "shared";
    const Case cases[] = {
        {"changes/ belongs to another user",
         [&] {
             {
                 auto b = opened(replica("b"));
                 put(*b, "host", "from b");
             }
             give_to(root_, uid, gid);
             give_to(changes(), 0, 0);
             fs::permissions(changes(), fs::perms(0755));
             for (const auto& log : fs::directory_iterator(changes())) fs::permissions(log, fs::perms(0644));
         },
         [&] { give_to(changes(), uid, gid); }},
        {"the shared folder is read-only",
         [&] {
             {
                 auto b = opened(replica("b"));
                 put(*b, "host", "from b");
             }
             give_to(root_, uid, gid);
             for (const fs::path& dir : {shared, changes()}) fs::permissions(dir, fs::perms(0500));
         },
         [&] {
             for (const fs::path& dir : {shared, changes()}) fs::permissions(dir, fs::perms(0700));
         }},
        {"the shared folder is read-only and empty",
         [&] {
             fs::create_directories(shared);
             give_to(root_, uid, gid);
             fs::permissions(shared, fs::perms(0500));
         },
         [&] { fs::permissions(shared, fs::perms(0700)); }},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.what);
        if (!root && test.what == std::string("changes/ belongs to another user")) {
            std::cout << "[  SKIPPED ] " << test.what << ": only root can give a folder to another user\n";
            continue;
        }
        fs::remove_all(root_);
        fs::create_directories(root_);
        test.lock_out();
        const std::string problem = in_unprivileged_child(
            [&](const std::function<void()>& pause) -> std::string {
                test_support::CapturedLog log;
                std::atomic<bool> woken{false};
                auto a = open_at(replica("a"));
                if (!a) return "open failed: " + a.error();
                auto& d = **a;
                d.set_change_listener([&] { woken = true; });
                const bool empty = !fs::exists(changes());
                if (get(d, "host") != (empty ? "<absent>" : "from b")) return "the other device's change is not read";
                put(d, "mine", "a");
                if (!d.save_changes()) return "saving failed";
                put(d, "more", "a");
                if (!d.save_changes()) return "saving again failed";
                if (d.shared_problem().empty()) return "no problem noted";
                if (fs::exists(changes() / (d.actor() + ".log"))) return "a log was written";
                // Kept in the private copy: what a restart would read.
                auto kept = crdt::Document();
                const Bytes private_copy = file_bytes(root_ / "a" / "document" / (d.actor() + ".log"));
                for (auto rec : parse_log(private_copy).records) (void)kept.load_incremental(rec);
                if (!kept.get(crdt::ROOT, "more").value_or(std::nullopt)) return "the private copy lacks the change";
                if (log.count("read-only") != 1)
                    return "said " + std::to_string(log.count("read-only")) + " times:\n" + log.text();
                pause();
                for (int i = 0; i < 500 && !woken; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
                if (!woken) return "the folder's change of permission woke nobody";
                d.merge_from_folder();
                if (!d.shared_problem().empty()) return "still a problem: " + d.shared_problem();
                auto b = open_at({shared, root_ / "c" / "document"});
                if (!b) return "a new device cannot open: " + b.error();
                if (get(**b, "more") != "a") return "the written log lacks the change";
                if (log.count("can be written again") != 1) return "not said that it is written:\n" + log.text();
                return "";
            },
            test.let_in);
        EXPECT_EQ(problem, "");
    }
}

// With the private copy's disk full, this replica's changes go to its log in the shared folder,
// which a restart reads; with both on the full disk, saving fails and says why.
TEST_F(Folder, APrivateCopyOnAFullDiskKeepsItsChangesInTheSharedFolder) {
    test_support::SmallDisk disk(root_ / "disk", 1u << 20);
    if (!disk.unavailable().empty()) GTEST_SKIP() << "no small disk to fill: " << disk.unavailable();
    struct Case {
        const char* what;
        Locations at;
        bool durable;
    } cases[] = {
        {"shared folder with space", {root_ / "shared", root_ / "disk" / "a" / "document"}, true},
        {"shared folder on the full disk", {root_ / "disk" / "shared", root_ / "disk" / "b" / "document"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test_support::CapturedLog log;
        std::string failure;
        {
            auto d = opened(c.at);
            ASSERT_TRUE(d);
            disk.fill();
            // A file's last block may take a few changes more: save until one needs a new block.
            const auto stop = [&] { return c.durable ? !d->private_problem().empty() : !failure.empty(); };
            for (int i = 0; i < 200 && !stop(); ++i) {
                put(*d, "key " + std::to_string(i), std::string(64, 'x'));
                if (auto saved = d->save_changes(); !saved) failure = saved.error();
            }
            ASSERT_TRUE(stop()) << "the disk never filled";
            const std::size_t said = log.count("cannot save changes");
            EXPECT_GE(said, 1u) << log.text();
            for (int i = 0; i < 3; ++i) {
                put(*d, "last", "kept " + std::to_string(i));
                EXPECT_EQ(d->save_changes().has_value(), c.durable);
            }
            EXPECT_EQ(log.count("cannot save changes"), said) << "said again for every change";
            if (c.durable) {
                EXPECT_EQ(failure, "");
                EXPECT_NE(d->private_problem().find("No space left on device"), std::string::npos)
                    << d->private_problem();
            } else {
                EXPECT_NE(failure.find("No space left on device"), std::string::npos) << failure;
            }
        }
        disk.free();
        if (c.durable) {
            auto again = opened(c.at);
            EXPECT_EQ(get(*again, "last"), "kept 2");
            EXPECT_EQ(again->private_problem(), "");
            // The private copy took up what the shared log kept meanwhile.
            again.reset();
            fs::remove_all(c.at.folder);
            EXPECT_EQ(get(*opened(c.at), "last"), "kept 2");
        }
    }
}

// The watcher calls the listener under the lock that setting a listener takes: once a new
// listener is set, the old one has returned and is never called again.
TEST_F(Folder, AListenerReplacedWhileItRunsHasReturned) {
    auto a = opened(replica("a"));
    auto b = opened(replica("b"));
    std::atomic<bool> entered{false}, release{false}, finished{false};
    std::atomic<int> calls{0};
    b->set_change_listener([&] {
        ++calls;
        entered = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        finished = true;
    });
    put(*a, "host", "from a");
    ASSERT_TRUE(a->save_changes());
    for (int i = 0; i < 500 && !entered; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(entered) << "the watcher never called";

    std::atomic<bool> replaced{false};
    std::thread detach([&] {
        b->set_change_listener({});
        EXPECT_TRUE(finished) << "set_change_listener returned while the old listener was still running";
        replaced = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // time to return early, were it to
    release = true;
    detach.join();
    EXPECT_TRUE(replaced);
    const int seen = calls;
    put(*a, "host", "again");
    ASSERT_TRUE(a->save_changes());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(calls, seen) << "the old listener was called after it was replaced";
}
