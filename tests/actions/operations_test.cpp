// The operation runner: every start, run and poll outcome, the declared-kind checks, the one
// pending operation, replaced sessions and cancel.
#include "app/remote_app.hpp"
#include "codecs/codecs.hpp"
#include "doc/profile_document.hpp"
#include "fixtures.hpp"
#include "known_hosts/known_hosts.hpp"
#include "profiles/connection_list.hpp"
#include "support/env.hpp"
#include "support/files.hpp"
#include "support/temp_dir.hpp"
#include "zavo_ui/simulated_devices.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

using namespace remote;
using namespace zavo_ui::operation;
using Op = RemoteOperation;

namespace {

using actions_test::connection;

constexpr std::uint8_t kPlain = 0;
constexpr std::uint8_t kSession = 1;
constexpr std::uint8_t kView = 2;
constexpr OperationId kFirst{1};
constexpr OperationId kSecond{2};

const HostKeyIdentity kPresented{"ssh-ed25519", "SHA256:presented"};
const HostKeyIdentity kStored{"ssh-ed25519", "SHA256:stored"};

zavo_actions::action::EncodedAction encoded(const Op& op) { return encode_remote_operation(op); }
zavo_actions::action::EncodedAction raw(std::string type, std::string_view payload) {
    return {std::move(type), std::vector<std::uint8_t>(payload.begin(), payload.end())};
}

class Operations : public ::testing::Test {
protected:
    void SetUp() override {
        env.set("REMOTE_LIVE_SESSIONS", nullptr);  // no session reaches the network here
        env.set("REMOTE_SSH_KNOWN_HOSTS", store.c_str());
        for (auto* c : {&box, &node, &bad_node, &win}) {
            store_connection(doc, *c);
        }
        app->sync_document(doc);
    }

    StartOutcome start(const Op& op, std::uint8_t kind = kSession, OperationId id = kFirst) {
        return app->start_operation(id, kind, encoded(op));
    }
    RunOutcome run(const Op& op, std::uint8_t kind = kSession) { return app->run_operation(kind, encoded(op)); }
    PollOutcome poll(OperationId id = kFirst, bool cancel = false) { return app->poll_operation(id, cancel); }
    static PollOutcome failed(std::string code, std::string message, OperationId id = kFirst) {
        return poll::Failed{std::move(code), std::move(message), id, std::nullopt, false};
    }
    // Delivers a device event to the live device session.
    void device_event(zavo_ui::device_relay::DeviceEvent::Value value) {
        const auto* device = std::get_if<DeviceSession>(&app->session.held()->value);
        ASSERT_NE(device, nullptr);
        app->handle_device_event({device->session_id, std::move(value)});
    }

    test_support::EnvGuard env;
    test_support::TempDir dir{"remote-operations."};
    std::filesystem::path store = dir.path() / "known-hosts.json";
    ProfileDocument doc;
    std::unique_ptr<RemoteApp> app = RemoteApp::new_();
    SavedConnection box = connection("Box", ConnectionKind::Ssh, "127.0.0.1", 2222);
    SavedConnection node = connection("Node", ConnectionKind::Zavo,
                                      zavo_ui::simulated_devices::SIMULATED_DEVICES[0].endpoint_id(), 0);
    SavedConnection bad_node = connection("Bad node", ConnectionKind::Zavo, "not-an-endpoint", 0);
    SavedConnection win = connection("Win", ConnectionKind::Rdp, "10.0.0.4", 3389);
    actions_test::FakeSsh ssh;
};

TEST_F(Operations, DeclaresOneOperationType) {
    EXPECT_EQ(app->operation_types(), std::vector<std::string>{"remote.operation"});
    EXPECT_EQ(app->all_operation_types(), std::set<std::string>{"remote.operation"});
}

TEST_F(Operations, StartRefusesWithoutLaunchingOrPending) {
    const std::string unknown_variant = decode_remote_operation(raw("remote.operation", "\"Reboot\""))->error();
    struct Case {
        const char* what;
        std::function<StartOutcome()> act;
        StartOutcome expected;
        // clang-format off
    } cases[] = {
        {"declared as a view", [&] { return start(Op{Op::Connect{node.id}}, kView); }, start::NotHandled{}},
        {"declared as a plain action", [&] { return start(Op{Op::Connect{node.id}}, kPlain); }, start::NotHandled{}},
        {"another type", [&] { return app->start_operation(kFirst, kSession, raw("remote.action", "\"Reboot\"")); },
         start::NotHandled{}},
        {"malformed", [&] { return app->start_operation(kFirst, kSession, raw("remote.operation", "\"Reboot\"")); },
         start::Refused{unknown_variant}},
        {"a view operation", [&] { return start(Op{Op::ShowConnections{}}); },
         start::Refused{"view operations do not start background work"}},
        {"connect a missing one", [&] { return start(Op{Op::Connect{Uuid::new_v4()}}); },
         start::Refused{"saved connection no longer exists"}},
        {"connect without live sessions", [&] { return start(Op{Op::Connect{box.id}}); },
         start::Refused{"SSH is installed, but this build has not been granted live network access."}},
        {"connect RDP", [&] { return start(Op{Op::Connect{win.id}}); },
         start::Refused{"RDP profiles are preserved, but this Zavo build has no RDP client backend."}},
        {"connect an invalid device", [&] { return start(Op{Op::Connect{bad_node.id}}); },
         start::Refused{"Zavo device node must be an exact certified endpoint id."}},
        {"send without a session", [&] { return start(Op{Op::SendText{box.id, "ls\n"}}); },
         start::Refused{"that remote session is no longer active"}},
        {"disconnect without a session", [&] { return start(Op{Op::Disconnect{box.id}}); },
         start::Refused{"that remote session is no longer active"}},
        {"trust without a session", [&] { return start(Op{Op::TrustSshHostKey{box.id, kPresented}}); },
         start::Refused{"the observed SSH host key is stale; reconnect to inspect the current key"}},
        {"forget without a session", [&] { return start(Op{Op::ForgetSshHostKey{box.id}}); },
         start::Refused{"only the currently observed changed SSH host key can be forgotten"}},
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(c.act(), c.expected) << c.what;
        EXPECT_TRUE(app->pending_operation.is_idle()) << c.what;
        EXPECT_FALSE(app->session.active()) << c.what;
        EXPECT_EQ(app->session.counter(), 0u) << c.what;
    }
    // A failed launch is refused with its text.
    env.set("REMOTE_LIVE_SESSIONS", "1");
    env.set("REMOTE_SSH_PASSWORD", nullptr);
    EXPECT_EQ(start(Op{Op::Connect{box.id}}), StartOutcome(start::Refused{"no SSH password: set REMOTE_SSH_PASSWORD"}));
    EXPECT_TRUE(app->pending_operation.is_idle());
}

TEST_F(Operations, SendTextNeedsTheConnectedTerminalOfItsConnection) {
    ssh.attach(*app, box.id);
    const StartOutcome needs_terminal = start::Refused{"text input requires a connected SSH terminal"};
    EXPECT_EQ(start(Op{Op::SendText{box.id, "ls\n"}}), needs_terminal);  // still connecting
    EXPECT_EQ(run(Op{Op::SendText{box.id, "ls\n"}}),
              RunOutcome(RunFailure{"text input requires a connected SSH terminal"}));
    ssh.status->set(SessionStatus::connected());
    EXPECT_EQ(start(Op{Op::SendText{node.id, "ls\n"}}),
              StartOutcome(start::Refused{"that remote session is no longer active"}));
    EXPECT_EQ(start(Op{Op::SendText{box.id, ""}}), StartOutcome(start::Refused{"SSH input cannot be empty"}));
    app->session.hold(box.id, LiveSession{LiveSession::Preview{SessionStatus::connected()}});
    EXPECT_EQ(start(Op{Op::SendText{box.id, "ls\n"}}), needs_terminal);
    EXPECT_TRUE(app->pending_operation.is_idle());
}

TEST_F(Operations, APendingConnectFollowsItsSession) {
    // Each case starts a Connect of the device (it stays Connecting until the relay answers),
    // does something, and polls.
    struct Case {
        const char* what;
        std::function<void()> then;
        bool cancel;
        PollOutcome expected;
        bool session_left;  // whether a live session remains afterwards
        // clang-format off
    } cases[] = {
        {"still connecting", [] {}, false, poll::Pending{}, true},
        {"connected", [&] { device_event(zavo_ui::device_relay::DeviceEvent::Connected{640, 480}); }, false,
         poll::Completed{Completion{}, kFirst}, true},
        {"failed", [&] { device_event(zavo_ui::device_relay::DeviceEvent::Disconnected{
                             zavo_ui::device_relay::DisconnectReason::target_disconnected()}); },
         false, failed("remote.connect_failed", "Target disconnected"), true},
        {"unavailable", [&] {
             app->session.hold(node.id, LiveSession{LiveSession::Unavailable{ConnectionReadiness::BackendUnavailable, win.kind}});
         }, false, failed("remote.transport_unavailable", "RDP profiles are preserved, but this Zavo build has no RDP client backend."), true},
        {"ended", [&] { app->end_session(); }, false,
         failed("remote.session_replaced", "the connection attempt was superseded by a newer session"), false},
        {"replaced by a run", [&] { run(Op{Op::Connect{win.id}}); }, false,
         failed("remote.session_replaced", "the connection attempt was superseded by a newer session"), true},
        {"replaced by a launch of the same one", [&] { app->start_session(node.id); }, false,
         failed("remote.session_replaced", "the connection attempt was superseded by a newer session"), true},
        {"cancelled", [] {}, true, poll::Cancelled{"remote connection attempt cancelled", kFirst}, false},
        {"cancelled after a replacement", [&] { run(Op{Op::Connect{win.id}}); }, true,
         poll::Cancelled{"remote connection attempt cancelled", kFirst}, true},
    };
    // clang-format on
    for (const auto& c : cases) {
        app->end_session();
        ASSERT_EQ(start(Op{Op::Connect{node.id}}), StartOutcome(start::Pending{})) << c.what;
        const std::uint64_t counter = app->session.counter();
        EXPECT_EQ(std::get<PendingOperation::Connect>(app->pending_operation.state),
                  (PendingOperation::Connect{kFirst, node.id, counter}))
            << c.what;
        // Another operation waits its turn; another id is not this one.
        EXPECT_EQ(start(Op{Op::ShowConnections{}}, kSession, kSecond),
                  StartOutcome(start::Refused{"another remote operation is still running"}));
        EXPECT_EQ(poll(kSecond, true), PollOutcome(poll::Pending{}));
        c.then();
        const std::uint64_t before_poll = app->session.counter();
        EXPECT_EQ(poll(kFirst, c.cancel), c.expected) << c.what;
        EXPECT_EQ(app->pending_operation.is_idle(), !std::holds_alternative<poll::Pending>(c.expected)) << c.what;
        EXPECT_EQ(app->session.active(), c.session_left) << c.what;
        if (c.cancel) {
            // A cancel ends the session only while it is still the one the operation launched.
            EXPECT_EQ(app->screen == Screen::list(), !c.session_left) << c.what;
            EXPECT_EQ(app->session.counter(), before_poll + (c.session_left ? 0 : 1)) << c.what;
        }
        app->pending_operation.state = PendingOperation::Idle{};
    }
}

TEST_F(Operations, APendingSendTextWaitsForTheWorker) {
    ssh.attach(*app, box.id);
    ssh.status->set(SessionStatus::connected());
    struct Case {
        const char* what;
        std::function<void(SshInput&)> worker;
        PollOutcome expected;
    } cases[] = {
        {"written", [](SshInput& in) { ASSERT_TRUE(in.ack->try_send(SshAck{})); },
         poll::Completed{Completion{}, kFirst}},
        {"write failed", [](SshInput& in) { ASSERT_TRUE(in.ack->try_send(std::unexpected("broken pipe"))); },
         failed("remote.input_failed", "broken pipe")},
        {"worker gone", [](SshInput& in) { in.ack.reset(); },
         failed("remote.input_worker_lost", "remote input worker stopped before acknowledgement")},
        {"session ended", [&](SshInput&) { app->end_session(); },
         failed("remote.session_replaced", "the SSH session ended before input delivery was acknowledged")},
    };
    for (const auto& c : cases) {
        if (!app->session.active()) {
            ssh.attach(*app, box.id);
            ssh.status->set(SessionStatus::connected());
        }
        ASSERT_EQ(start(Op{Op::SendText{box.id, "echo ok\n"}}), StartOutcome(start::Pending{})) << c.what;
        auto queued = ssh.input.try_recv();
        ASSERT_TRUE(queued) << c.what;
        EXPECT_EQ(queued->text, "echo ok\n");
        ASSERT_TRUE(queued->ack);
        // A cancel is ignored: the text is on its way.
        EXPECT_EQ(poll(kFirst, true), PollOutcome(poll::Pending{})) << c.what;

        // A run meanwhile queues its text at once and leaves the pending one alone.
        app->redraw_needed = false;
        EXPECT_EQ(run(Op{Op::SendText{box.id, "pwd\n"}}), RunOutcome(RunResult{true}));
        EXPECT_TRUE(app->redraw_needed);
        auto unacknowledged = ssh.input.try_recv();
        ASSERT_TRUE(unacknowledged);
        EXPECT_FALSE(unacknowledged->ack);
        EXPECT_TRUE(std::holds_alternative<PendingOperation::SendText>(app->pending_operation.state));

        c.worker(*queued);
        EXPECT_EQ(poll(), c.expected) << c.what;
        EXPECT_TRUE(app->pending_operation.is_idle()) << c.what;
    }
}

TEST_F(Operations, RunPerformsAtOnce) {
    const std::string unknown_variant = decode_remote_operation(raw("remote.operation", "\"Reboot\""))->error();
    const RunOutcome ok = RunResult{true};
    const RunOutcome mismatch = RunFailure{"remote operation kind does not match its declared contract"};
    const RunOutcome missing = RunFailure{"saved connection no longer exists"};
    struct Case {
        const char* what;
        std::function<RunOutcome()> act;
        RunOutcome expected;
        Screen screen;
    } cases[] = {
        {"a plain action", [&] { return run(Op{Op::ShowConnections{}}, kPlain); }, RunResult{false}, Screen::list()},
        {"another type", [&] { return app->run_operation(kView, raw("remote.action", "{}")); }, RunResult{false},
         Screen::list()},
        {"malformed", [&] { return app->run_operation(kView, raw("remote.operation", "\"Reboot\"")); },
         RunFailure{unknown_variant}, Screen::list()},
        {"new form", [&] { return run(Op{Op::NewConnectionForm{}}, kView); }, ok, Screen::new_form()},
        {"list", [&] { return run(Op{Op::ShowConnections{}}, kView); }, ok, Screen::list()},
        {"list declared as a session", [&] { return run(Op{Op::ShowConnections{}}, kSession); }, mismatch,
         Screen::list()},
        {"connect declared as a view", [&] { return run(Op{Op::Connect{box.id}}, kView); }, mismatch, Screen::list()},
        {"edit a missing one", [&] { return run(Op{Op::EditConnection{Uuid::new_v4()}}, kView); }, missing,
         Screen::list()},
        {"edit", [&] { return run(Op{Op::EditConnection{box.id}}, kView); }, ok, Screen::edit_form(box.id)},
        {"connect a missing one", [&] { return run(Op{Op::Connect{Uuid::new_v4()}}); }, missing,
         Screen::edit_form(box.id)},
        {"disconnect without a session", [&] { return run(Op{Op::Disconnect{box.id}}); },
         RunFailure{"that remote session is no longer active"}, Screen::edit_form(box.id)},
        // No readiness check: the launch shows why it may not run.
        {"connect without live sessions", [&] { return run(Op{Op::Connect{box.id}}); }, ok, Screen::session(box.id)},
        {"disconnect another one", [&] { return run(Op{Op::Disconnect{node.id}}); },
         RunFailure{"that remote session is no longer active"}, Screen::session(box.id)},
        {"disconnect", [&] { return run(Op{Op::Disconnect{box.id}}); }, ok, Screen::list()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.act(), c.expected) << c.what;
        EXPECT_EQ(app->screen, c.screen) << c.what;
        if (c.screen == Screen::session(box.id)) {
            EXPECT_EQ(app->session.status(),
                      SessionStatus::unavailable(
                          "SSH is installed, but this build has not been granted live network access."));
        }
    }
    EXPECT_FALSE(app->session.active());
    EXPECT_TRUE(app->pending_operation.is_idle());
    // Starting a disconnect runs it.
    app->start_session(node.id);
    EXPECT_EQ(start(Op{Op::Disconnect{node.id}}), StartOutcome(start::Completed{}));
    EXPECT_FALSE(app->session.active());
}

TEST_F(Operations, TrustPinsThePresentedKeyAndConnectsAgain) {
    ssh.attach(*app, box.id);
    ssh.host_key->set(HostKeyProblem{HostKeyUnknown{kPresented}});
    const std::uint64_t counter = app->session.counter();

    // Another key than the one the session holds: nothing is written.
    EXPECT_EQ(run(Op{Op::TrustSshHostKey{box.id, kStored}}),
              RunOutcome(RunFailure{"the observed SSH host key is stale; reconnect to inspect the current key"}));
    EXPECT_FALSE(std::filesystem::exists(store));
    EXPECT_EQ(run(Op{Op::ForgetSshHostKey{box.id}}),
              RunOutcome(RunFailure{"only the currently observed changed SSH host key can be forgotten"}));

    // Through start: done at once.
    EXPECT_EQ(start(Op{Op::TrustSshHostKey{box.id, kPresented}}), StartOutcome(start::Completed{}));
    auto pinned = known_hosts::load(store);
    ASSERT_TRUE(pinned);
    EXPECT_EQ(pinned->entries, (std::vector<KnownHostEntry>{{"127.0.0.1", 2222, kPresented}}));
    EXPECT_EQ(app->session.counter(), counter + 1);  // a new session to the same connection
    EXPECT_EQ(app->session.target(), box.id);
    EXPECT_TRUE(app->pending_operation.is_idle());
}

TEST_F(Operations, HostKeyStoreFailuresAreReported) {
    // A store that cannot be read: trust fails and the session stays.
    { std::ofstream(store) << "not json"; }
    ::chmod(store.c_str(), 0600);
    ssh.attach(*app, box.id);
    ssh.host_key->set(HostKeyProblem{HostKeyUnknown{kPresented}});
    auto trust = run(Op{Op::TrustSshHostKey{box.id, kPresented}});
    ASSERT_TRUE(std::holds_alternative<RunFailure>(trust));
    EXPECT_EQ(std::get<RunFailure>(trust).message.rfind("could not save SSH host-key trust: ", 0), 0u)
        << std::get<RunFailure>(trust).message;
    ssh.host_key->set(HostKeyProblem{HostKeyChanged{kStored, kPresented}});
    auto forget = start(Op{Op::ForgetSshHostKey{box.id}});
    ASSERT_TRUE(std::holds_alternative<start::Refused>(forget));
    EXPECT_EQ(std::get<start::Refused>(forget).message.rfind("could not forget SSH host-key trust: ", 0), 0u);
    EXPECT_TRUE(app->session.active());

    // A store folder open to others: its location is refused.
    const auto open_dir = dir.path() / "open";
    std::filesystem::create_directory(open_dir);
    ::chmod(open_dir.c_str(), 0755);
    env.set("REMOTE_SSH_KNOWN_HOSTS", (open_dir / "known-hosts.json").c_str());
    auto located = known_hosts_path();
    ASSERT_FALSE(located);
    EXPECT_EQ(run(Op{Op::ForgetSshHostKey{box.id}}),
              RunOutcome(RunFailure{"private SSH host-key storage is unavailable: " + located.error()}));
    ssh.host_key->set(HostKeyProblem{HostKeyUnknown{kPresented}});
    EXPECT_EQ(run(Op{Op::TrustSshHostKey{box.id, kPresented}}),
              RunOutcome(RunFailure{"private SSH host-key storage is unavailable: " + located.error()}));
}

TEST_F(Operations, ForgetWithoutAPinStillEndsTheSession) {
    ssh.attach(*app, box.id);
    ssh.host_key->set(HostKeyProblem{HostKeyChanged{kStored, kPresented}});
    EXPECT_EQ(run(Op{Op::ForgetSshHostKey{box.id}}), RunOutcome(RunResult{true}));
    EXPECT_FALSE(app->session.active());
    EXPECT_EQ(app->screen, Screen::list());
}

}  // namespace
