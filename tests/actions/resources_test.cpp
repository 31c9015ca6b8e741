// The action resources: what the application offers for its list, each saved connection in the
// document and the live session, judged at every call.
#include "actions/resources.hpp"
#include "app/remote_app.hpp"
#include "codecs/codecs.hpp"
#include "doc/profile_document.hpp"
#include "fixtures.hpp"
#include "profiles/connection_list.hpp"
#include "support/env.hpp"
#include "zavo_actions/executor.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace remote;
using zavo_actions::resource::ActionSpec;
using zavo_actions::resource::Resource;
using Settings = std::array<std::uint8_t, 5>;

namespace {

using actions_test::connection;

std::vector<std::string> ids(const std::vector<ActionSpec>& actions) {
    std::vector<std::string> out;
    for (const auto& a : actions) out.push_back(a.id);
    return out;
}

class Resources : public ::testing::Test {
protected:
    void SetUp() override { env.set("REMOTE_LIVE_SESSIONS", "1"); }

    // Stores the connection in the document and, through a sync, in memory; the in-memory
    // record (valid until the list changes).
    SavedConnection& save(SavedConnection c) {
        store_connection(doc, c);
        app->sync_document(doc);
        return *find_connection(app->connections, c.id);
    }

    std::vector<Resource> resources() { return app->action_resources(doc); }
    // Copies from a tree built for this call.
    Resource resource(const std::string& id) {
        const auto tree = resources();
        const Resource* r = zavo_actions::executor::find_resource(tree, id);
        if (r == nullptr) throw std::runtime_error("no resource " + id);
        return *r;
    }
    ActionSpec action(const std::string& resource_id, const std::string& id) {
        const Resource r = resource(resource_id);
        const ActionSpec* a = zavo_actions::executor::find_action(r, id);
        if (a == nullptr) throw std::runtime_error("no action " + id);
        return *a;
    }

    test_support::EnvGuard env;
    ProfileDocument doc;
    std::unique_ptr<RemoteApp> app = RemoteApp::new_();
};

TEST_F(Resources, AnEmptyDocumentOffersTheListAlone) {
    const auto roots = resources();
    ASSERT_EQ(roots.size(), 1u);
    const Resource& list = roots[0];
    EXPECT_EQ(list.id, "remote.connections");
    EXPECT_EQ(list.kind, "remote.connection-list");
    EXPECT_EQ(list.title, "Remote connections");
    EXPECT_TRUE(list.children.empty());
    ASSERT_EQ(ids(list.actions), (std::vector<std::string>{"open", "new"}));
    EXPECT_EQ(list.actions[0].title, "Show connections");
    EXPECT_EQ(list.actions[1].title, "New connection");
    for (const auto& a : list.actions) {
        EXPECT_EQ(a.kind, static_cast<std::uint8_t>(OperationKind::View));
        EXPECT_EQ(a.contract.settings, (Settings{0, 0, 0, 0, 1}));
    }
    EXPECT_EQ(list.actions[0].invoke({}), encode_remote_operation(RemoteOperation{RemoteOperation::ShowConnections{}}));
    EXPECT_EQ(list.actions[1].invoke({}),
              encode_remote_operation(RemoteOperation{RemoteOperation::NewConnectionForm{}}));
}

TEST_F(Resources, ASavedConnectionOffersItsFiveActions) {
    const SavedConnection c = save(connection("Build Box", ConnectionKind::Ssh, "build.lab", 22));
    const std::string id = "remote.connection:" + c.id.to_string();
    const Resource r = resource(id);
    EXPECT_EQ(r.kind, "remote.connection");
    EXPECT_EQ(r.title, "Build Box");
    ASSERT_EQ(ids(r.actions), (std::vector<std::string>{"open", "connect", "rename", "favorite", "delete"}));

    const ActionSpec open = action(id, "open");
    EXPECT_EQ(open.title, "Open connection settings");
    EXPECT_EQ(open.invoke({}), encode_remote_operation(RemoteOperation{RemoteOperation::EditConnection{c.id}}));

    const ActionSpec connect = action(id, "connect");
    EXPECT_EQ(connect.description, "Open a live session to this saved connection. This transport is ready to connect.");
    EXPECT_EQ(connect.kind, static_cast<std::uint8_t>(OperationKind::Session));
    EXPECT_EQ(connect.contract.words, (std::vector<std::string>{"network", "session"}));
    EXPECT_EQ(connect.contract.settings, (Settings{0, 2, 0, 3, 1}));
    EXPECT_TRUE(connect.contract.availability.available);
    EXPECT_EQ(connect.invoke({}), encode_remote_operation(RemoteOperation{RemoteOperation::Connect{c.id}}));

    const ActionSpec rename = action(id, "rename");
    EXPECT_EQ(rename.title, "Rename connection");
    EXPECT_FALSE(rename.operation_type);
    ASSERT_EQ(rename.parameters.size(), 1u);
    EXPECT_EQ(rename.parameters[0].name, "value");
    EXPECT_EQ(rename.parameters[0].label, "New name");
    const auto* field = std::get_if<zavo_actions::resource::TextField>(&rename.input);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->hint, "connection name");
    EXPECT_EQ(rename.invoke({{{"value", " Lab "}}}), encode_remote_action(rename_action(c.id, " Lab ")));
    EXPECT_EQ(rename.invoke({}), encode_remote_action(rename_action(c.id, "")));

    const ActionSpec favorite = action(id, "favorite");
    EXPECT_EQ(favorite.title, "Add to favourites");
    EXPECT_EQ(favorite.invoke({}), encode_remote_action(RemoteAction{RemoteAction::SetFavorite{c.id, true}}));

    const ActionSpec del = action(id, "delete");
    EXPECT_TRUE(del.contract.destructive);
    EXPECT_EQ(del.invoke({}), encode_remote_action(RemoteAction{RemoteAction::DeleteConnection{c.id}}));
    for (const ActionSpec* document_action : {&rename, &favorite, &del}) {
        EXPECT_EQ(document_action->contract.settings, (Settings{1, 2, 0, 1, 3})) << document_action->id;
        EXPECT_TRUE(document_action->contract.words.empty());
    }
    EXPECT_FALSE(favorite.contract.destructive);
}

TEST_F(Resources, ConnectIsOfferedWithTheReasonItCannotRun) {
    env.set("REMOTE_LIVE_SESSIONS", nullptr);
    struct Case {
        SavedConnection record;
        const char* code;
        const char* message;
    } cases[] = {
        {connection("Win", ConnectionKind::Rdp, "10.0.0.4", 3389), "transport_backend_unavailable",
         "RDP profiles are preserved, but this Zavo build has no RDP client backend."},
        {connection("Box", ConnectionKind::Ssh, "box", 22), "live_session_capability_required",
         "SSH is installed, but this build has not been granted live network access."},
        {connection("NAS", ConnectionKind::Vnc, "nas", 5900), "live_session_capability_required",
         "VNC is installed, but this build has not been granted live network access."},
        {connection("Node", ConnectionKind::Zavo, "not-an-endpoint", 0), "invalid_connection_profile",
         "Zavo device node must be an exact certified endpoint id."},
    };
    for (const auto& c : cases) {
        save(c.record);
        const ActionSpec connect = action("remote.connection:" + c.record.id.to_string(), "connect");
        EXPECT_EQ(connect.contract.availability, (zavo_actions::resource::Availability{false, c.code, c.message}))
            << c.record.name;
        // The description carries the readiness notice, not the compatibility message.
        EXPECT_EQ(connect.description->rfind("Open a live session to this saved connection. ", 0), 0u);
    }
}

TEST_F(Resources, TheDocumentDecidesNotTheMemory) {
    const Uuid stored = save(connection("  \t", ConnectionKind::Ssh, "blank.example", 22)).id;
    // Starred in memory only: the label follows the stored flag.
    find_connection(app->connections, stored)->favorite = true;
    EXPECT_EQ(resource("remote.connection:" + stored.to_string()).title, "blank.example");
    EXPECT_EQ(action("remote.connection:" + stored.to_string(), "favorite").title, "Add to favourites");

    // In memory but not yet in the document: no connection resource, but its live session has one.
    SavedConnection unsynced = connection("Fresh", ConnectionKind::Ssh, "fresh", 22);
    app->connections.push_back(unsynced);
    app->session.hold(unsynced.id, LiveSession{LiveSession::Failed{"Connection refused"}});
    const auto roots = resources();
    EXPECT_EQ(zavo_actions::executor::find_resource(roots, "remote.connection:" + unsynced.id.to_string()), nullptr);
    ASSERT_EQ(roots[0].children.size(), 2u);
    EXPECT_EQ(roots[0].children.back().id, "remote.session:" + unsynced.id.to_string());

    // A session titles itself with the untrimmed name.
    app->session.hold(stored, LiveSession{LiveSession::Failed{"Connection refused"}});
    EXPECT_EQ(resource("remote.session:" + stored.to_string()).title, "  \t session");

    // A session whose connection left the in-memory list has no resource.
    app->connections.clear();
    EXPECT_EQ(resources()[0].children.size(), 1u);
}

TEST_F(Resources, TheSessionOffersWhatItsStateAllows) {
    const SavedConnection c = save(connection("Build Box", ConnectionKind::Ssh, "build.lab", 22));
    const std::string id = "remote.session:" + c.id.to_string();
    const HostKeyIdentity presented{"ssh-ed25519", "SHA256:presented"};
    const HostKeyIdentity stored{"ssh-ed25519", "SHA256:stored"};
    const auto not_connected = zavo_actions::resource::Availability{false, "terminal_not_connected",
                                                                    "Text input requires a connected SSH terminal"};
    const auto available = zavo_actions::resource::Availability{};
    actions_test::FakeSsh ssh;

    struct Case {
        const char* what;
        std::function<void()> arrange;
        zavo_actions::resource::Availability send_text;
        std::vector<std::string> actions;
        // clang-format off
    } cases[] = {
        {"ssh connecting", [&] { ssh.attach(*app, c.id); }, not_connected, {"disconnect", "send-text"}},
        {"ssh connected", [&] { ssh.status->set(SessionStatus::connected()); }, available, {"disconnect", "send-text"}},
        {"unknown key", [&] {
             ssh.status->set(SessionStatus::failed("refused"));
             ssh.host_key->set(HostKeyProblem{HostKeyUnknown{presented}});
         }, not_connected, {"disconnect", "send-text", "trust-host-key"}},
        {"changed key", [&] { ssh.host_key->set(HostKeyProblem{HostKeyChanged{stored, presented}}); }, not_connected,
         {"disconnect", "send-text", "forget-host-key"}},
        {"unreadable store", [&] { ssh.host_key->set(HostKeyProblem{HostKeyStoreUnavailable{"mode 0755"}}); },
         not_connected, {"disconnect", "send-text"}},
        {"connected remote desktop", [&] { app->session.hold(c.id, LiveSession{LiveSession::Preview{SessionStatus::connected()}}); },
         not_connected, {"disconnect", "send-text"}},
        {"launch refused", [&] {
             app->session.hold(c.id, LiveSession{LiveSession::Unavailable{ConnectionReadiness::CapabilityRequired, c.kind}});
         }, not_connected, {"disconnect", "send-text"}},
    };
    // clang-format on
    for (const auto& k : cases) {
        k.arrange();
        const Resource session = resource(id);
        EXPECT_EQ(session.kind, "remote.session") << k.what;
        EXPECT_EQ(session.title, "Build Box session") << k.what;
        EXPECT_EQ(ids(session.actions), k.actions) << k.what;
        EXPECT_EQ(action(id, "send-text").contract.availability, k.send_text) << k.what;
    }

    const ActionSpec disconnect = action(id, "disconnect");
    EXPECT_EQ(disconnect.title, "Disconnect session");
    EXPECT_EQ(disconnect.contract.words, (std::vector<std::string>{"network", "session"}));
    EXPECT_EQ(disconnect.contract.settings, (Settings{0, 0, 0, 1, 3}));
    EXPECT_EQ(disconnect.invoke({}), encode_remote_operation(RemoteOperation{RemoteOperation::Disconnect{c.id}}));

    const ActionSpec send = action(id, "send-text");
    EXPECT_EQ(send.title, "Send text to session");
    EXPECT_EQ(send.contract.words, (std::vector<std::string>{"remote-input", "session"}));
    EXPECT_EQ(send.contract.settings, (Settings{0, 2, 0, 3, 3}));
    ASSERT_EQ(send.parameters.size(), 1u);
    EXPECT_EQ(send.parameters[0].name, "text");
    EXPECT_EQ(send.parameters[0].label, "Text to deliver to the connected SSH terminal");
    EXPECT_TRUE(send.parameters[0].required);
    EXPECT_FALSE(send.parameters[0].multiline || send.parameters[0].secret);
    const auto* form = std::get_if<zavo_actions::resource::FormInput>(&send.input);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->hint, "command or text");
    EXPECT_EQ(send.invoke({{{"text", "ls\n"}}}),
              encode_remote_operation(RemoteOperation{RemoteOperation::SendText{c.id, "ls\n"}}));
    EXPECT_EQ(send.invoke({}), encode_remote_operation(RemoteOperation{RemoteOperation::SendText{c.id, ""}}));

    ssh.attach(*app, c.id);
    ssh.host_key->set(HostKeyProblem{HostKeyUnknown{presented}});
    const ActionSpec trust = action(id, "trust-host-key");
    EXPECT_EQ(trust.title, "Trust SSH host key");
    EXPECT_EQ(trust.description,
              "Explicitly trust ssh-ed25519 SHA256:presented for this device only after out-of-band verification.");
    EXPECT_EQ(trust.contract.words, (std::vector<std::string>{"ssh", "host-key", "device-private"}));
    EXPECT_EQ(trust.contract.settings, (Settings{0, 2, 0, 3, 3}));
    EXPECT_EQ(trust.invoke({}),
              encode_remote_operation(RemoteOperation{RemoteOperation::TrustSshHostKey{c.id, presented}}));

    ssh.host_key->set(HostKeyProblem{HostKeyChanged{stored, presented}});
    const ActionSpec forget = action(id, "forget-host-key");
    EXPECT_EQ(forget.title, "Forget SSH host key");
    EXPECT_EQ(forget.description,
              "Remove this device's stale SSH host-key pin; reconnect to inspect a replacement key.");
    EXPECT_EQ(forget.contract.settings, (Settings{0, 2, 0, 2, 3}));
    EXPECT_EQ(forget.invoke({}), encode_remote_operation(RemoteOperation{RemoteOperation::ForgetSshHostKey{c.id}}));

    // Ended: the session resource goes with it.
    app->end_session();
    EXPECT_EQ(resources()[0].children.size(), 1u);
}

}  // namespace
