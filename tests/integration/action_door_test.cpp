// The action executor from outside the process: the program (offscreen) on a private D-Bus
// session bus, the private sshd, and gdbus as the only client.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "doc/profile_document.hpp"
#include "known_hosts/known_hosts.hpp"
#include "support/files.hpp"
#include "support/process.hpp"
#include "support/saved_connection.hpp"
#include "support/temp_dir.hpp"
#include "support/wait.hpp"
#include "tests/integration/door_client.hpp"
#include "tests/integration/ssh_fixture.hpp"
#include "tests/integration/ssh_server.hpp"
#include "zavo_ui/persist.hpp"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace door_test;

class ActionDoor : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string why = door_test::unavailable(); !why.empty()) GTEST_SKIP() << why;
        if (const std::string why = ssh_test::SshServer::unavailable(); !why.empty()) GTEST_SKIP() << why;
        server_ = std::make_unique<ssh_test::SshServer>();
        // A throwaway account with a plain shell: root's login shell runs whatever its profile says.
        user_ = server_->make_user(ssh_test::random_word(12));
        ::chmod(dir_.c_str(), 0755);
        fs::create_directory(drop_);
        ::chmod(drop_.c_str(), 0777);
        bus_ = std::make_unique<PrivateBus>(dir_);
        client_ = std::make_unique<Gdbus>(bus_->address(), dir_);
    }

    void seed(const std::vector<remote::SavedConnection>& connections) {
        door_test::seed(data_, dir_ / "seed", connections);
    }

    remote::SavedConnection ssh_connection(std::string name) const {
        return test_support::saved(std::move(name), remote::ConnectionKind::Ssh, "127.0.0.1", server_->port(), user_,
                                   remote::AuthKind::PublicKey);
    }

    std::unique_ptr<Program> start(const std::string& name, const std::string& bus_address) {
        auto program = std::make_unique<Program>(dir_, name, bus_address,
                                                 std::map<std::string, std::string>{
                                                     {"XDG_DATA_HOME", data_.string()},
                                                     {"REMOTE_LIVE_SESSIONS", "1"},
                                                     {"REMOTE_SSH_KEY", server_->client_key().string()},
                                                     {"REMOTE_SSH_KNOWN_HOSTS", server_->store().string()},
                                                 });
        return program;
    }

    // The tree once the program answers on the bus.
    json wait_for_door(const Gdbus& client, const Program& program) {
        Reply r;
        const bool up = test_support::eventually([&] { return (r = client.call("ListResources")).ok; }, 15s, 50ms);
        EXPECT_TRUE(up) << r.error << ": " << r.message << "\n" << program.stderr_text();
        return up ? json::parse(r.values.at(0)) : json::array();
    }

    test_support::TempDir tmp_{"remote-action-door.", "/tmp"};
    fs::path dir_ = tmp_.path();
    fs::path data_ = dir_ / "data";
    fs::path drop_ = dir_ / "drop";  // where the remote shell may write
    std::unique_ptr<ssh_test::SshServer> server_;
    std::string user_;
    std::unique_ptr<PrivateBus> bus_;
    std::unique_ptr<Gdbus> client_;
};

TEST_F(ActionDoor, ConnectSendTextRenameAndDisconnectFromOutside) {
    server_->trust();
    const auto box = ssh_connection("Build Box");
    remote::SavedConnection rdp = ssh_connection("Win");
    rdp.kind = remote::ConnectionKind::Rdp;
    seed({box, rdp});
    auto program = start("first", bus_->address());
    const std::string connection = "remote.connection:" + box.id.to_string();
    const std::string session = "remote.session:" + box.id.to_string();

    json tree = wait_for_door(*client_, *program);
    ASSERT_NE(find(tree, connection), nullptr) << tree.dump(2);
    EXPECT_EQ((*find(tree, connection))["title"], "Build Box");
    EXPECT_EQ((*find_action(tree, connection, "connect"))["available"], true);
    EXPECT_EQ(find(tree, session), nullptr);

    // Connect: started, then polled until it completes.
    Reply started = client_->invoke(connection, "connect");
    ASSERT_TRUE(started.ok) << started.error << ": " << started.message;
    ASSERT_EQ(started.values.size(), 2u);
    EXPECT_EQ(started.values[0], "pending");
    Reply done = client_->poll_until_done(started.values[1]);
    ASSERT_TRUE(done.ok) << done.error << ": " << done.message;
    EXPECT_EQ(done.values, (std::vector<std::string>{"completed", "", ""}));
    // A finished operation is forgotten.
    EXPECT_EQ(client_->call("Poll", {gvariant_string(started.values[1])}).error,
              "dev.zavo.remote.Error.UnknownOperation");

    tree = client_->resources();
    ASSERT_NE(find(tree, session), nullptr);
    EXPECT_EQ((*find_action(tree, session, "send-text"))["available"], true);

    // Send text: the command runs on the server.
    const fs::path file = drop_ / "from-the-door";
    Reply sent = client_->invoke(session, "send-text", {{"text", "echo ok > " + file.string() + "\n"}});
    ASSERT_TRUE(sent.ok) << sent.error << ": " << sent.message;
    EXPECT_EQ(sent.values.at(0), "pending");
    EXPECT_EQ(client_->poll_until_done(sent.values.at(1)).values.at(0), "completed");
    EXPECT_TRUE(test_support::eventually([&] { return read_text(file) == "ok\n"; }, 10s)) << read_text(file);

    // Bad requests are refused by name and change nothing.
    struct Bad {
        const char* what;
        Reply reply;
        std::string error;
        std::string message;
    } bad[] = {
        {"unknown resource", client_->invoke("remote.connection:nope", "connect"),
         "dev.zavo.remote.Error.UnknownResource", "no resource \"remote.connection:nope\""},
        {"unknown action", client_->invoke(connection, "reboot"), "dev.zavo.remote.Error.UnknownAction",
         "resource \"" + connection +
             "\" has no action \"reboot\" (its actions: open, connect, rename, favorite, delete)"},
        {"unavailable", client_->invoke("remote.connection:" + rdp.id.to_string(), "connect"),
         "dev.zavo.remote.Error.Unavailable",
         "transport_backend_unavailable: RDP profiles are preserved, but this Zavo build has no RDP client backend."},
        {"unknown argument", client_->invoke(session, "send-text", {{"txt", "ls\n"}}),
         "org.freedesktop.DBus.Error.InvalidArgs",
         "action \"send-text\" takes no argument \"txt\" (its arguments: text)"},
        // The application's own limits and checks are what the caller hears.
        {"input over 64 KiB", client_->invoke(session, "send-text", {{"text", std::string(65537, 'x')}}),
         "dev.zavo.remote.Error.Refused", "SSH input exceeds the 64 KiB per-operation limit"},
        {"no text", client_->invoke(session, "send-text"), "dev.zavo.remote.Error.Refused",
         "SSH input cannot be empty"},
        {"malformed arguments", client_->call("Invoke", {gvariant_string(connection), gvariant_string("connect")}),
         "org.freedesktop.DBus.Error.InvalidArgs", "Invoke takes (ssa{ss}), not (ss)"},
        {"unknown operation", client_->call("Poll", {"'00112233445566778899aabbccddeeff'"}),
         "dev.zavo.remote.Error.UnknownOperation",
         "no started operation \"00112233445566778899aabbccddeeff\" (it finished, or was never started here)"},
        {"refused by the application", client_->invoke(session, "send-text", {{"text", ""}}),
         "dev.zavo.remote.Error.Refused", "SSH input cannot be empty"},
    };
    for (const auto& b : bad) {
        EXPECT_FALSE(b.reply.ok) << b.what;
        EXPECT_EQ(b.reply.error, b.error) << b.what << ": " << b.reply.message;
        EXPECT_EQ(b.reply.message, b.message) << b.what;
    }
    EXPECT_EQ(client_->resources(), tree);

    // Rename: without a value the name is empty and the host stands in for it; then saved, and
    // seen by a second program opening the same folder.
    Reply emptied = client_->invoke(connection, "rename");
    ASSERT_TRUE(emptied.ok) << emptied.error << ": " << emptied.message;
    EXPECT_EQ((*find(client_->resources(), connection))["title"], "127.0.0.1");
    Reply renamed = client_->invoke(connection, "rename", {{"value", "Lab Box"}});
    ASSERT_TRUE(renamed.ok) << renamed.error << ": " << renamed.message;
    EXPECT_EQ(renamed.values, (std::vector<std::string>{"applied", ""}));
    EXPECT_EQ((*find(client_->resources(), connection))["title"], "Lab Box");
    {
        PrivateBus second_bus(dir_ / "second");
        auto second = start("second", second_bus.address());
        const Gdbus second_client(second_bus.address(), dir_ / "second");
        const json seen = wait_for_door(second_client, *second);
        ASSERT_NE(find(seen, connection), nullptr);
        EXPECT_EQ((*find(seen, connection))["title"], "Lab Box");
        EXPECT_EQ(second->stop(), 0);
    }

    // Disconnect: the session ends and its resource goes.
    Reply ended = client_->invoke(session, "disconnect");
    ASSERT_TRUE(ended.ok) << ended.error << ": " << ended.message;
    EXPECT_EQ(ended.values.at(0), "completed");
    EXPECT_EQ(find(client_->resources(), session), nullptr);
    EXPECT_EQ(program->stop(), 0) << program->stderr_text();
}

TEST_F(ActionDoor, AnUnknownHostKeyIsTrustedThroughTheDoor) {
    const auto box = ssh_connection("Build Box");
    seed({box});
    auto program = start("first", bus_->address());
    const std::string session = "remote.session:" + box.id.to_string();
    wait_for_door(*client_, *program);

    Reply started = client_->invoke("remote.connection:" + box.id.to_string(), "connect");
    ASSERT_TRUE(started.ok) << started.error << ": " << started.message;
    Reply refused = client_->poll_until_done(started.values.at(1));
    ASSERT_TRUE(refused.ok);
    EXPECT_EQ(refused.values.at(0), "failed");
    EXPECT_EQ(refused.values.at(1), "remote.connect_failed");

    const remote::HostKeyIdentity key = server_->identity();
    const json tree = client_->resources();
    const json* trust = find_action(tree, session, "trust-host-key");
    ASSERT_NE(trust, nullptr) << tree.dump(2);
    EXPECT_EQ((*trust)["description"], "Explicitly trust " + key.algorithm + " " + key.fingerprint +
                                           " for this device only after out-of-band verification.");
    EXPECT_EQ((*find_action(tree, session, "send-text"))["available"], false);

    Reply trusted = client_->invoke(session, "trust-host-key");
    ASSERT_TRUE(trusted.ok) << trusted.error << ": " << trusted.message;
    EXPECT_EQ(trusted.values.at(0), "completed");
    auto pins = remote::known_hosts::load(server_->store());
    ASSERT_TRUE(pins);
    ASSERT_EQ(pins->entries.size(), 1u);
    EXPECT_EQ(pins->entries[0].identity, key);
    // The new session connects: its terminal takes text.
    EXPECT_TRUE(test_support::eventually(
        [&] {
            const json now = client_->resources();
            const json* send = find_action(now, session, "send-text");
            return send != nullptr && (*send)["available"] == true;
        },
        20s, 100ms))
        << client_->resources().dump(2);
    EXPECT_EQ(find_action(client_->resources(), session, "trust-host-key"), nullptr);
}

TEST_F(ActionDoor, AClosedDoorIsSaidOnceAndTheProgramRunsOn) {
    seed({ssh_connection("Build Box")});
    const std::string closed = "the action door is closed";
    struct Case {
        const char* what;
        std::string bus;
        std::string why;
    } cases[] = {
        {"no-bus", "unix:path=" + (dir_ / "no-bus").string(), "no D-Bus session bus"},
        // The first copy keeps the name; the second runs without a door.
        {"second-copy", bus_->address(), "the name dev.zavo.remote is taken on the session bus"},
    };
    auto first = start("first", bus_->address());
    wait_for_door(*client_, *first);
    for (const auto& c : cases) {
        auto program = start(c.what, c.bus);
        ASSERT_TRUE(
            test_support::eventually([&] { return program->stderr_text().find(closed) != std::string::npos; }, 10s))
            << c.what << ": " << program->stderr_text();
        std::this_thread::sleep_for(300ms);
        EXPECT_TRUE(program->running()) << c.what;
        const std::string err = program->stderr_text();
        EXPECT_NE(err.find(c.why), std::string::npos) << c.what << ": " << err;
        EXPECT_EQ(err.find(closed), err.rfind(closed)) << c.what << ": said more than once:\n" << err;
        EXPECT_EQ(program->stop(), 0) << c.what << ": " << err;
    }
    EXPECT_TRUE(client_->call("ListResources").ok);
}

// How long a call took, in milliseconds, kept as the test's property `name`.
template <typename Call>
auto timed(const char* name, Call&& call) {
    const auto t0 = std::chrono::steady_clock::now();
    auto result = call();
    ::testing::Test::RecordProperty(
        name, int(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count()));
    return result;
}

// A host repeating a flood of sequences that cost much for their bytes: the door answers as
// it does with a quiet session.
TEST_F(ActionDoor, AnswersWhileAHostFloodsTheTerminal) {
    server_->trust();
    const auto box = ssh_connection("Flood Box");
    seed({box});
    const fs::path flood = drop_ / "flood";
    {
        std::ofstream out(flood, std::ios::binary);
        for (int i = 0; i < 18205; ++i) out << "x\x1b[65535b";
    }
    ::chmod(flood.c_str(), 0644);
    auto program = start("first", bus_->address());
    wait_for_door(*client_, *program);
    const std::string session = "remote.session:" + box.id.to_string();
    Reply started = client_->invoke("remote.connection:" + box.id.to_string(), "connect");
    ASSERT_TRUE(started.ok) << started.error << ": " << started.message;
    ASSERT_EQ(client_->poll_until_done(started.values.at(1)).values.at(0), "completed");
    Reply sent = client_->invoke(session, "send-text", {{"text", "while :; do cat " + flood.string() + "; done\n"}});
    ASSERT_TRUE(sent.ok) << sent.error << ": " << sent.message;
    ASSERT_TRUE(test_support::eventually([&] { return ssh_test::process_running(flood.string()); }, 10s));

    for (const char* name : {"first_answer_ms", "second_answer_ms", "third_answer_ms"}) {
        const Reply r = timed(name, [&] { return client_->call("ListResources"); });
        ASSERT_TRUE(r.ok) << name << ": " << r.error << ": " << r.message;
        EXPECT_NE(find(json::parse(r.values.at(0)), session), nullptr) << name;
    }
    Reply ended = client_->invoke(session, "disconnect");
    ASSERT_TRUE(ended.ok) << ended.error << ": " << ended.message;
    EXPECT_EQ(ended.values.at(0), "completed");
    EXPECT_EQ(program->stop(), 0) << program->stderr_text();
}

// A name of 100,000 characters is kept whole, and the window that shows it answers as usual,
// also when it starts with it (the answers' times are kept as properties, beside those of the
// same program with a short name).
TEST_F(ActionDoor, AVeryLongNameIsKeptAndTheDoorAnswers) {
    const auto box = ssh_connection("Build Box");
    seed({box});
    const std::string connection = "remote.connection:" + box.id.to_string();
    const std::string name(100'000, 'n');
    {
        auto program = start("first", bus_->address());
        timed("first_answer_ms", [&] { return wait_for_door(*client_, *program); });
        const Reply before = timed("answer_before_rename_ms", [&] { return client_->call("ListResources"); });
        ASSERT_TRUE(before.ok) << before.error << ": " << before.message;
        Reply renamed = client_->invoke(connection, "rename", {{"value", name}});
        ASSERT_TRUE(renamed.ok) << renamed.error << ": " << renamed.message;
        const Reply r = timed("answer_after_rename_ms", [&] { return client_->call("ListResources"); });
        ASSERT_TRUE(r.ok) << r.error << ": " << r.message;
        ASSERT_NE(find(json::parse(r.values.at(0)), connection), nullptr);
        EXPECT_EQ((*find(json::parse(r.values.at(0)), connection))["title"], name);
        EXPECT_EQ(program->stop(), 0) << program->stderr_text();
    }
    auto again = start("first", bus_->address());  // the same device again
    const json tree = timed("first_answer_after_restart_ms", [&] { return wait_for_door(*client_, *again); });
    ASSERT_NE(find(tree, connection), nullptr);
    EXPECT_EQ((*find(tree, connection))["title"], name);
    EXPECT_EQ(again->stop(), 0) << again->stderr_text();
}

// A 3 GiB file that starts like a log, in the shared folder: it cannot be a log of its size (no
// crash leaves that many unwritten bytes), so it is set aside, and never read into memory whole.
// The first answer and the peak memory are kept as properties, beside those of a start without it.
TEST_F(ActionDoor, AHugeFileInTheSharedFolderIsSetAsideUnread) {
    const auto box = ssh_connection("Build Box");
    seed({box});
    long usual = 0;
    {
        auto program = start("usual", bus_->address());
        timed("usual_first_answer_ms", [&] { return wait_for_door(*client_, *program); });
        usual = program->peak_memory_kb();
        RecordProperty("usual_peak_memory_kb", int(usual));
        EXPECT_EQ(program->stop(), 0) << program->stderr_text();
    }
    const fs::path huge = data_ / "zavo" / "remote" / "changes" / "huge.log";
    {
        std::ofstream(huge, std::ios::binary) << "ZVDLOG01";
    }
    fs::resize_file(huge, 3ull << 30);
    auto program = start("first", bus_->address());
    const json tree = timed("first_answer_ms", [&] { return wait_for_door(*client_, *program); });
    EXPECT_NE(find(tree, "remote.connection:" + box.id.to_string()), nullptr) << tree.dump(2);
    EXPECT_FALSE(fs::exists(huge));
    const fs::path aside = data_ / "zavo" / "remote" / "set-aside";
    ASSERT_TRUE(fs::is_directory(aside));
    ASSERT_EQ(std::distance(fs::directory_iterator(aside), fs::directory_iterator()), 1);
    EXPECT_EQ(fs::file_size(fs::directory_iterator(aside)->path()), 3ull << 30);
    const long peak = program->peak_memory_kb();
    RecordProperty("peak_memory_kb", int(peak));
    EXPECT_LT(peak, usual + 256 * 1024) << "KiB";
    EXPECT_EQ(program->stop(), 0) << program->stderr_text();
}

}  // namespace
