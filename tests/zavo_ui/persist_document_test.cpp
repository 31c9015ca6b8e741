#include "zavo_ui/persist.hpp"
#include "support/files.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
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
    for (const fs::path& dir : {root_ / "shared", changes(), root_ / "a" / "document"}) EXPECT_EQ(permission_bits(dir), 0700u);
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
