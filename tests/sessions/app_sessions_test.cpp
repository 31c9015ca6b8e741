// Sessions started the way the window starts them, through RemoteApp::execute, against real
// peers: a private sshd, Xtigervnc, and the relay's simulated devices.
#include "app/remote_app.hpp"

#include "codecs/codecs.hpp"
#include "doc/profile_document.hpp"
#include "profiles/connection_list.hpp"
#include "support/env.hpp"
#include "support/saved_connection.hpp"
#include "support/threads.hpp"
#include "support/wait.hpp"
#include "tests/integration/ssh_fixture.hpp"
#include "tests/integration/vnc_servers.hpp"
#include "zavo_ui/relay/relay.hpp"
#include "zavo_ui/simulated_devices.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace remote;
using namespace std::chrono_literals;
using K = UiCommand::Kind;

template <typename Pred>
bool eventually(Pred pred) {
    return test_support::eventually(std::move(pred), 20s, 5ms);
}

using test_support::saved;

// The application with the given connections, its document loaded, live sessions allowed.
class AppSessions : public ::testing::Test {
protected:
    void start(std::vector<SavedConnection> connections) {
        env.set("REMOTE_LIVE_SESSIONS", "");
        env.set("REMOTE_VNC_PASSWORD", nullptr);
        app = RemoteApp::with_data(std::move(connections), {});
        app->sync_document(doc);
    }
    void run(K kind) { app->execute(UiCommand::plain(kind), doc); }
    void run(K kind, const Uuid& id) { app->execute(UiCommand::with_id(kind, id), doc); }
    SshSession* ssh() {
        const LiveSession* live = app->session.held();
        const auto* s = live ? std::get_if<std::unique_ptr<SshSession>>(&live->value) : nullptr;
        return s ? s->get() : nullptr;
    }
    SessionStatus settled() {
        EXPECT_TRUE(eventually([&] { return !app->session.status()->is_connecting(); }));
        return *app->session.status();
    }

    test_support::EnvGuard env;
    ProfileDocument doc;
    std::unique_ptr<RemoteApp> app;
};

class SshAppSessions : public AppSessions {
protected:
    void SetUp() override {
        if (auto why = ssh_test::SshServer::unavailable(); !why.empty()) GTEST_SKIP() << why;
        server = std::make_unique<ssh_test::SshServer>();
        env.set("REMOTE_SSH_KNOWN_HOSTS", server->store().c_str());
        env.set("REMOTE_SSH_KEY", server->client_key().c_str());
        env.set("REMOTE_SSH_KEY_PASSPHRASE", nullptr);
        start({saved("Lab", ConnectionKind::Ssh, "127.0.0.1", server->port(), server->user(), AuthKind::PublicKey)});
        id = app->connections[0].id;
    }
    // The workers outlive their sessions briefly; the test waits for them before the server goes.
    void TearDown() override {
        app.reset();
        EXPECT_TRUE(eventually([] { return test_support::threads_named("remote-ssh") == 0; }));
    }
    std::unique_ptr<ssh_test::SshServer> server;
    Uuid id;
};

TEST_F(SshAppSessions, ConfirmedConnectReachesTheShell) {
    server->trust();
    run(K::RequestConnect, id);
    ASSERT_TRUE(app->confirmation);
    EXPECT_FALSE(app->session.active()) << "nothing starts before the confirmation";
    run(K::Confirm);
    EXPECT_EQ(app->screen, Screen::session(id));
    EXPECT_EQ(app->connections[0].last_used, "just now");
    ASSERT_EQ(settled(), SessionStatus::connected()) << app->session.status()->text;
    ASSERT_TRUE(ssh()->send_text("echo remote-$((6*7))\n"));
    EXPECT_TRUE(
        ssh_test::wait_until(*ssh(), [&] { return ssh_test::screen(*ssh()).find("remote-42") != std::string::npos; }));
    EXPECT_EQ(test_support::threads_named("remote-ssh"), 1);

    run(K::Disconnect);
    EXPECT_FALSE(app->session.active());
    EXPECT_TRUE(eventually([] { return test_support::threads_named("remote-ssh") == 0; })) << "the worker ends";
}

TEST_F(SshAppSessions, DeletingTheConnectionEndsItsSession) {
    server->trust();
    const SavedConnection lab = app->connections[0];
    const struct {
        const char* how;
        std::function<void()> remove;
    } cases[] = {
        {"confirmed from its form",
         [&] {
             run(K::EditConnection, id);
             run(K::RequestDelete, id);
             run(K::Confirm);
         }},
        {"through the action door",
         [&] {
             ASSERT_TRUE(RemoteAction{RemoteAction::DeleteConnection{id}}.apply(doc));
             app->sync_document(doc);
         }},
        {"on another device",
         [&] {
             ProfileDocument elsewhere = doc.fork();
             delete_connection(elsewhere, id);
             ASSERT_TRUE(doc.merge(elsewhere));
             app->sync_document(doc);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        store_connection(doc, lab);
        app->sync_document(doc);
        run(K::Connect, id);
        ASSERT_EQ(settled(), SessionStatus::connected()) << app->session.status()->text;
        c.remove();
        EXPECT_TRUE(load_connections(doc).empty());
        EXPECT_FALSE(app->session.active());
        EXPECT_EQ(app->screen, Screen::list());
        EXPECT_TRUE(eventually([] { return test_support::threads_named("remote-ssh") == 0; })) << "the worker ends";
    }
}

TEST_F(SshAppSessions, AnUnknownKeyIsTrustedThroughItsDialog) {
    run(K::Connect, id);
    ASSERT_EQ(settled().kind, SessionStatus::Kind::Failed);
    run(K::RequestTrustHostKey, id);
    ASSERT_TRUE(app->confirmation);
    EXPECT_EQ(app->confirmation->kind, ConfirmationRequest::Kind::TrustHostKey);
    EXPECT_EQ(app->confirmation->identity, server->identity());
    const std::uint64_t counter = app->session.counter();
    run(K::Confirm);
    EXPECT_EQ(app->session.counter(), counter + 1) << "a new session";
    EXPECT_EQ(settled(), SessionStatus::connected()) << app->session.status()->text;
    const auto store = known_hosts::load(server->store());
    ASSERT_TRUE(store);
    EXPECT_EQ(known_hosts::verify(*store, "127.0.0.1", server->port(), server->identity()),
              HostKeyVerdict(HostKeyTrusted{}));
}

TEST_F(SshAppSessions, AChangedKeyIsForgottenThroughItsDialog) {
    server->trust();
    server->regenerate_host_key();
    run(K::Connect, id);
    ASSERT_EQ(settled().kind, SessionStatus::Kind::Failed);
    ASSERT_TRUE(app->session.host_key_problem(id));
    EXPECT_TRUE(std::holds_alternative<HostKeyChanged>(*app->session.host_key_problem(id)));

    run(K::RequestTrustHostKey, id);  // a changed key cannot be trusted over the pin
    EXPECT_FALSE(app->confirmation);
    run(K::RequestForgetHostKey, id);
    ASSERT_TRUE(app->confirmation);
    run(K::Confirm);
    EXPECT_EQ(app->notice,
              Notice{"Forgot the local SSH host-key pin. Reconnect to review the next key before trusting it."});
    EXPECT_FALSE(app->session.active());
    EXPECT_EQ(app->screen, Screen::list());

    // The next connection sees the new key as unknown.
    run(K::Connect, id);
    ASSERT_EQ(settled().kind, SessionStatus::Kind::Failed);
    ASSERT_TRUE(app->session.host_key_problem(id));
    EXPECT_TRUE(std::holds_alternative<HostKeyUnknown>(*app->session.host_key_problem(id)));
}

TEST_F(AppSessions, VncConnectShowsAFirstPictureAndASecondLaunchReplacesIt) {
    vnc_it::ServerOptions options;
    if (!vnc_it::on_path("Xtigervnc")) GTEST_SKIP() << "Xtigervnc is not installed (scripts/install-deps installs it)";
    vnc_it::VncServer server(options);
    ASSERT_TRUE(server.ok()) << server.log();
    const auto endpoint = zavo_ui::simulated_devices::SIMULATED_DEVICES[0].endpoint_id();
    start({saved("Desk", ConnectionKind::Vnc, "127.0.0.1", server.port(), "", AuthKind::Password),
           saved("Studio", ConnectionKind::Zavo, endpoint, 0, "", AuthKind::DeviceIdentity)});
    const Uuid desk = app->connections[0].id;
    run(K::Connect, desk);
    ASSERT_EQ(settled(), SessionStatus::connected()) << app->session.status()->text;
    ASSERT_TRUE(eventually([&] { return app->session.poll() && app->session.picture(); }));
    EXPECT_EQ(app->session.picture()->width, options.width);
    EXPECT_EQ(app->session.picture()->height, options.height);
    EXPECT_EQ(test_support::threads_named("remote-vnc"), 1);

    run(K::Connect, app->connections[1].id);
    EXPECT_TRUE(eventually([] { return test_support::threads_named("remote-vnc") == 0; }))
        << "the replaced worker ends";
}

TEST_F(AppSessions, DeviceConnectReachesConnectedWithAPicture) {
    zavo_ui::device_relay::DeviceRelay relay({30ms, 60ms, 33'333us});
    const auto endpoint = zavo_ui::simulated_devices::SIMULATED_DEVICES[0].endpoint_id();
    start({saved("Studio", ConnectionKind::Zavo, endpoint, 0, "", AuthKind::DeviceIdentity)});
    run(K::RequestConnect, app->connections[0].id);
    run(K::Confirm);
    ASSERT_TRUE(eventually([&] {
        relay.exchange(*app);
        return app->session.poll() && app->session.picture();
    }));
    EXPECT_EQ(app->session.status(), SessionStatus::connected());
    EXPECT_EQ(app->session.picture()->width, 1280u);

    auto alive = std::get<DeviceSession>(app->session.held()->value).decoder_alive;
    run(K::Disconnect);
    EXPECT_EQ(app->session.device_requests(), std::vector{DeviceRequest::disconnect(1)});
    EXPECT_TRUE(eventually([&] {
        relay.exchange(*app);
        return app->session.device_requests().empty() && !alive->load(std::memory_order_acquire);
    })) << "the relay took the disconnect and the decoder ended";
}

}  // namespace
