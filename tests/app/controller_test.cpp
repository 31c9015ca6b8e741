// The controller through RemoteApp::execute: commands, dialogs and their change check, notices,
// the form and the text inputs.
#include "app/remote_app.hpp"

#include "doc/profile_document.hpp"
#include "known_hosts/known_hosts.hpp"
#include "profiles/connection_list.hpp"
#include "support/env.hpp"
#include "support/saved_connection.hpp"
#include "support/temp_dir.hpp"
#include "tests/actions/fixtures.hpp"
#include "tests/views/session_harness.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using namespace remote;
using K = UiCommand::Kind;

namespace {

constexpr const char* kCancelled = "Action cancelled. No connection or profile was changed.";
constexpr const char* kRemovedWhileEdited =
    "The saved connection was removed while it was being edited, so it was not saved again.";

class Controller : public ::testing::Test {
protected:
    void SetUp() override {
        env.set("REMOTE_LIVE_SESSIONS", nullptr);  // no session reaches the network here
        app = RemoteApp::with_sample_data();
        app->sync_document(doc);  // the document holds the sample connections
    }

    Uuid id_of(std::string_view name) const { return test_support::id_named(app->connections, name); }
    SavedConnection& connection(std::string_view name) { return *find_connection(app->connections, id_of(name)); }
    const SavedConnection* stored(const Uuid& id) const {
        static std::vector<SavedConnection> loaded;
        loaded = load_connections(doc);
        return find_connection(loaded, id);
    }

    void run(K kind) { app->execute(UiCommand::plain(kind), doc); }
    void run(K kind, const Uuid& id) { app->execute(UiCommand::with_id(kind, id), doc); }
    void run(UiCommand command) { app->execute(command, doc); }
    void type(std::string_view text) {
        zavo_ui::EventContext ctx;
        ctx.document = &doc;
        app->route_text_input(zavo_ui::event::TextCommit{std::string(text)}, {}, ctx, 1.0);
    }

    test_support::EnvGuard env;
    ProfileDocument doc;
    std::unique_ptr<RemoteApp> app;
};

TEST_F(Controller, EveryCommandAsksForARedraw) {
    for (int k = 0; k <= static_cast<int>(K::ToggleNavigation); ++k) {
        app->redraw_needed = false;
        run(UiCommand{static_cast<K>(k), Uuid::new_v4()});  // a missing id: nothing else happens
        EXPECT_TRUE(app->needs_redraw()) << k;
    }
}

TEST_F(Controller, MissingConnectionsAndStaleDialogsLeaveNotices) {
    const Uuid gone = Uuid::new_v4();
    struct Case {
        const char* what;
        std::function<void()> act;
        std::optional<Notice> notice;
    } cases[] = {
        {"connect a missing one", [&] { run(K::RequestConnect, gone); },
         Notice{"That saved connection no longer exists."}},
        {"delete a missing one", [&] { run(K::RequestDelete, gone); },
         Notice{"That saved connection no longer exists."}},
        {"cancel without a dialog", [&] { run(K::CancelConfirmation); }, Notice{kCancelled}},
        {"confirm without a dialog", [&] { run(K::Confirm); }, std::nullopt},
        {"edit a missing one", [&] { run(K::EditConnection, gone); }, std::nullopt},
        {"trust without a session", [&] { run(K::RequestTrustHostKey, id_of("Build Box")); },
         Notice{"No new SSH host key is waiting for trust. Changed keys must be forgotten before they can be "
                "reviewed again."}},
        {"forget without a session", [&] { run(K::RequestForgetHostKey, id_of("Build Box")); },
         Notice{"Only a currently changed SSH host key can be forgotten. Reconnect to revalidate this target first."}},
        {"trust a missing one", [&] { run(K::RequestTrustHostKey, gone); }, std::nullopt},
        {"confirm after the connection went",
         [&] {
             run(K::RequestDelete, id_of("Office NAS"));
             remove_connection(app->connections, id_of("Office NAS"));
             run(K::Confirm);
         },
         Notice{"The saved connection was removed before confirmation."}},
        {"confirm after the target changed",
         [&] {
             run(K::RequestConnect, id_of("Studio Node"));
             connection("Studio Node").user = "someone";
             run(K::Confirm);
         },
         Notice{"This connection changed while confirmation was open. Review the current profile, then try again."}},
    };
    for (auto& c : cases) {
        SetUp();
        SCOPED_TRACE(c.what);
        const auto before = app->connections;
        c.act();
        EXPECT_EQ(app->notice, c.notice);
        EXPECT_FALSE(app->confirmation);
        EXPECT_FALSE(app->session.active());
        EXPECT_EQ(app->screen, Screen::list());
        EXPECT_EQ(load_connections(doc).size(), 8u) << "nothing dispatched";
    }
}

TEST_F(Controller, RenamingOrStarringKeepsADialogValidChangingThePortDoesNot) {
    const Uuid studio = id_of("Studio Node");
    app->notice = Notice{"old"};
    run(K::RequestConnect, studio);
    ASSERT_TRUE(app->confirmation);
    EXPECT_EQ(app->confirmation->kind, ConfirmationRequest::Kind::Connect);
    EXPECT_EQ(app->notice, std::nullopt) << "opening the dialog clears the notice";
    connection("Studio Node").name = "Renamed";
    run(K::ToggleFavorite, studio);
    run(K::Confirm);
    EXPECT_EQ(app->screen, Screen::session(studio)) << "the confirmed connect launched";
    EXPECT_EQ(app->notice, std::nullopt);

    run(K::Disconnect);
    run(K::RequestDelete, studio);
    connection("Renamed").port = 7;
    run(K::Confirm);
    EXPECT_EQ(
        app->notice,
        Notice{"This connection changed while confirmation was open. Review the current profile, then try again."});
    EXPECT_TRUE(find_connection(app->connections, studio)) << "not deleted";
}

TEST_F(Controller, ConnectingANotReadyConnectionShowsWhyAtOnce) {
    const Uuid box = id_of("Build Box");  // SSH without the live-session switch
    run(K::RequestConnect, box);
    EXPECT_FALSE(app->confirmation);
    EXPECT_EQ(app->screen, Screen::session(box));
    ASSERT_TRUE(app->session.active());
    EXPECT_EQ(app->session.status()->kind, SessionStatus::Kind::Unavailable);
}

TEST_F(Controller, ConnectingTheConnectionOfARunningSessionReturnsToIt) {
    const Uuid studio = id_of("Studio Node");
    const struct {
        SessionStatus status;
        bool returns;  // else the dialog opens for a new session
    } cases[] = {
        {SessionStatus::connecting(), true},
        {SessionStatus::connected(), true},
        {SessionStatus::failed("refused"), false},  // Retry starts again
        {SessionStatus::ended(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.status.kind));
        app->confirmation.reset();
        app->session.hold(studio, LiveSession{LiveSession::Preview{c.status}});
        run(K::ShowConnections);
        app->focus_input(InputSlot::Search);
        const std::uint64_t counter = app->session.counter();
        run(K::RequestConnect, studio);
        EXPECT_EQ(app->confirmation.has_value(), !c.returns);
        EXPECT_EQ(app->screen, c.returns ? Screen::session(studio) : Screen::list());
        EXPECT_EQ(app->session.counter(), counter);
        EXPECT_EQ(app->session.status(), c.status) << "the session is untouched";
        EXPECT_EQ(app->focused, std::nullopt);
    }
    // Another connection's control still asks to connect that one.
    app->confirmation.reset();
    app->session.hold(studio, LiveSession{LiveSession::Preview{SessionStatus::connected()}});
    run(K::RequestConnect, id_of("Workshop Laptop"));
    ASSERT_TRUE(app->confirmation);
    EXPECT_EQ(app->confirmation->id, id_of("Workshop Laptop"));
}

// Connect returns to a running session only while the session is for the target its connection
// names now: once the target was edited it asks, and the confirmed connect ends the old session
// and starts one to the edited target.
TEST_F(Controller, ConnectAfterTheTargetWasEditedAsksAndStartsANewSession) {
    const Uuid studio = id_of("Studio Node");
    const std::string laptop = connection("Workshop Laptop").host;
    const SavedConnection saved = connection("Studio Node");
    const auto record = [&]() -> SavedConnection& { return *find_connection(app->connections, studio); };
    const struct {
        const char* what;
        std::function<void(SavedConnection&)> edit;
        bool returns;
    } cases[] = {
        {"renamed, regrouped, starred",
         [](SavedConnection& c) {
             c.name = "Studio";
             c.group = "elsewhere";
             c.favorite = !c.favorite;
         },
         true},
        {"a user, which a device's target does not hold", [](SavedConnection& c) { c.user = "someone"; }, true},
        {"another device", [&](SavedConnection& c) { c.host = laptop; }, false},
        {"another port", [](SavedConnection& c) { c.port = 1; }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        record() = saved;
        run(K::Connect, studio);
        ASSERT_EQ(app->session.status(), SessionStatus::connecting());
        c.edit(record());
        run(K::ShowConnections);
        app->take_device_requests();
        const std::uint64_t counter = app->session.counter();
        run(K::RequestConnect, studio);
        EXPECT_EQ(app->session.counter(), counter);
        if (c.returns) {
            EXPECT_FALSE(app->confirmation);
            EXPECT_EQ(app->screen, Screen::session(studio));
            continue;
        }
        ASSERT_TRUE(app->confirmation);
        EXPECT_EQ(app->screen, Screen::list());
        EXPECT_EQ(app->confirmation->id, studio);
        run(K::Confirm);
        EXPECT_EQ(app->session.counter(), counter + 1);
        EXPECT_EQ(app->session.launched(), record());
        // The old device session is told to disconnect; a device target gets a new session.
        const auto requests = app->take_device_requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_TRUE(std::holds_alternative<DeviceRequest::Disconnect>(requests.front().value));
    }
}

TEST_F(Controller, ConfirmedDeleteRemovesDispatchesAndRepairsTheSelection) {
    const Uuid box = id_of("Build Box");
    run(K::EditConnection, box);
    run(K::Select, box);
    run(K::RequestDelete, box);
    EXPECT_EQ(app->focused, std::nullopt) << "a dialog takes the focus away";
    run(K::Confirm);
    EXPECT_FALSE(find_connection(app->connections, box));
    EXPECT_FALSE(stored(box));
    EXPECT_EQ(app->selected, id_of("Studio Node")) << "the first remaining visible one";
    EXPECT_EQ(app->screen, Screen::list()) << "the deleted connection's form is left";

    // That form, saved again all the same, does not bring the connection back.
    app->screen = Screen::edit_form(box);
    run(K::SaveForm);
    EXPECT_FALSE(find_connection(app->connections, box));
    EXPECT_FALSE(stored(box));
    EXPECT_EQ(app->notice, Notice{kRemovedWhileEdited});
    EXPECT_EQ(app->screen, Screen::edit_form(box)) << "what was typed stays on screen";

    // Deleting another connection leaves the form shown; cancelling leaves everything as it was.
    const Uuid nas = id_of("Office NAS");
    run(K::EditConnection, id_of("Edge Gateway"));
    run(K::RequestDelete, nas);
    run(K::Confirm);
    EXPECT_FALSE(stored(nas));
    EXPECT_EQ(app->screen, Screen::edit_form(id_of("Edge Gateway")));
    run(K::RequestDelete, id_of("Edge Gateway"));
    run(K::CancelConfirmation);
    EXPECT_EQ(app->notice, Notice{kCancelled});
    EXPECT_TRUE(stored(id_of("Edge Gateway")));
}

TEST_F(Controller, ConfirmedDeleteOfTheLiveSessionsConnectionEndsItsSession) {
    views_test::install_device_session(*app);  // the first device connection's, connected
    const Uuid studio = *app->session.target();
    app->take_device_requests();
    run(K::RequestDelete, id_of("Office NAS"));
    run(K::Confirm);
    EXPECT_TRUE(app->session.active()) << "another connection's delete leaves it running";

    run(K::EditConnection, studio);
    run(K::RequestDelete, studio);
    const std::uint64_t counter = app->session.counter();
    run(K::Confirm);
    EXPECT_FALSE(stored(studio));
    EXPECT_FALSE(app->session.active());
    EXPECT_EQ(app->session.target(), std::nullopt);
    EXPECT_EQ(app->session.counter(), counter + 1) << "an operation it started learns it ended";
    EXPECT_EQ(app->take_device_requests(), std::vector{DeviceRequest::disconnect(1)});
    EXPECT_EQ(app->screen, Screen::list());
}

TEST_F(Controller, AFormWhoseConnectionAnotherDeviceDeletedIsNotSavedBack) {
    const Uuid box = id_of("Build Box");
    run(K::EditConnection, box);
    app->form.group = "moved";
    delete_connection(doc, box);  // as a change from elsewhere arrives
    app->sync_document(doc);
    run(K::SaveForm);
    EXPECT_FALSE(stored(box));
    EXPECT_FALSE(find_connection(app->connections, box));
    EXPECT_EQ(app->notice, Notice{kRemovedWhileEdited});
    EXPECT_EQ(app->form.group, "moved");
}

TEST_F(Controller, ConfirmedHostKeyDialogsPinOrForgetOrSayWhyNot) {
    const HostKeyIdentity presented{"ssh-ed25519", "SHA256:presented"};
    const HostKeyIdentity pinned{"ssh-ed25519", "SHA256:pinned"};
    const HostKeyProblem unknown{HostKeyUnknown{presented}};
    const HostKeyProblem changed{HostKeyChanged{pinned, presented}};
    enum class Store { Empty, Pinned, Unreadable, Refused };
    enum class Then { Kept, Relaunched, Ended };
    const struct Case {
        const char* what;
        bool trust;  // else the forget dialog
        Store store;
        bool stale;  // by Confirm the session shows another key problem
        std::string notice;
        bool error_follows;  // the store's error text ends the notice
        Then then;
    } cases[] = {
        {"trusted", true, Store::Empty, false, "", false, Then::Relaunched},
        {"trust, another key by now", true, Store::Empty, true,
         "The observed SSH host key changed before it was trusted. Review it again.", false, Then::Kept},
        {"trust, store refused", true, Store::Refused, false, "Could not use private SSH host-key storage: ", true,
         Then::Kept},
        {"trust, store unreadable", true, Store::Unreadable, false, "Could not save SSH host-key trust: ", true,
         Then::Kept},
        {"forgotten", false, Store::Pinned, false,
         "Forgot the local SSH host-key pin. Reconnect to review the next key before trusting it.", false, Then::Ended},
        {"forget, no pin", false, Store::Empty, false, "No local SSH host-key pin was found for this target.", false,
         Then::Kept},
        {"forget, the key no longer changed", false, Store::Pinned, true,
         "The SSH host key is no longer the changed key you approved for removal. Reconnect to review it again.", false,
         Then::Kept},
        {"forget, store refused", false, Store::Refused, false, "Could not use private SSH host-key storage: ", true,
         Then::Kept},
        {"forget, store unreadable", false, Store::Unreadable, false, "Could not forget SSH host-key trust: ", true,
         Then::Kept},
    };
    for (const auto& c : cases) {
        SetUp();
        SCOPED_TRACE(c.what);
        const test_support::TempDir dir("remote-controller-host-keys-");
        std::filesystem::path store = dir.path() / "known-hosts.json";
        const SavedConnection box = connection("Build Box");
        switch (c.store) {
            case Store::Empty: break;
            case Store::Pinned: ASSERT_TRUE(known_hosts::trust(store, box.host, box.port, pinned)); break;
            case Store::Unreadable:
                std::ofstream(store) << "not json";
                ::chmod(store.c_str(), 0600);
                break;
            case Store::Refused:  // a folder open to others
                store = dir.path() / "open" / "known-hosts.json";
                std::filesystem::create_directory(store.parent_path());
                ::chmod(store.parent_path().c_str(), 0755);
                break;
        }
        env.set("REMOTE_SSH_KNOWN_HOSTS", store.c_str());
        actions_test::FakeSsh ssh;
        ssh.attach(*app, box.id);
        ssh.host_key->set(c.trust ? unknown : changed);
        app->screen = Screen::session(box.id);
        run(c.trust ? K::RequestTrustHostKey : K::RequestForgetHostKey, box.id);
        ASSERT_TRUE(app->confirmation);
        if (c.stale) ssh.host_key->set(c.trust ? HostKeyProblem{HostKeyUnknown{pinned}} : unknown);
        const std::uint64_t counter = app->session.counter();
        run(K::Confirm);

        if (c.notice.empty()) {
            EXPECT_EQ(app->notice, std::nullopt);
        } else if (c.error_follows) {
            ASSERT_TRUE(app->notice);
            EXPECT_EQ(app->notice->text.rfind(c.notice, 0), 0u) << app->notice->text;
            EXPECT_GT(app->notice->text.size(), c.notice.size()) << "with the store's error";
        } else {
            EXPECT_EQ(app->notice, Notice{c.notice});
        }
        EXPECT_EQ(app->session.counter(), counter + (c.then == Then::Kept ? 0 : 1));
        EXPECT_EQ(app->session.active(), c.then != Then::Ended);
        EXPECT_EQ(app->screen, c.then == Then::Ended ? Screen::list() : Screen::session(box.id));
        if (c.store == Store::Empty || c.store == Store::Pinned) {
            const auto pins = known_hosts::load(store);
            ASSERT_TRUE(pins) << pins.error();
            std::vector<KnownHostEntry> expected;
            if (c.then == Then::Relaunched) expected.push_back({box.host, box.port, presented});
            if (c.store == Store::Pinned && c.then != Then::Ended) expected.push_back({box.host, box.port, pinned});
            EXPECT_EQ(pins->entries, expected);
        }
    }
}

TEST_F(Controller, FavouritesFlipInMemoryAndInTheDocument) {
    const Uuid nas = id_of("Office NAS");
    run(K::ToggleFavorite, nas);
    EXPECT_TRUE(connection("Office NAS").favorite);
    EXPECT_TRUE(stored(nas)->favorite);
    run(K::ToggleFavorite, nas);
    EXPECT_FALSE(stored(nas)->favorite);
}

TEST_F(Controller, SetKindFillsThePortAndAllowedAuthentication) {
    struct Case {
        ConnectionKind from;
        AuthKind auth;
        const char* port;
        ConnectionKind to;
        const char* port_after;
        AuthKind auth_after;
    } cases[] = {
        {ConnectionKind::Ssh, AuthKind::Password, "0", ConnectionKind::Ssh, "22", AuthKind::Password},
        {ConnectionKind::Ssh, AuthKind::Password, " 0 ", ConnectionKind::Vnc, "5900", AuthKind::Password},
        {ConnectionKind::Ssh, AuthKind::Password, "2222", ConnectionKind::Ssh, "2222", AuthKind::Password},
        {ConnectionKind::Ssh, AuthKind::PublicKey, "22", ConnectionKind::Vnc, "5900", AuthKind::Password},
        {ConnectionKind::Vnc, AuthKind::Password, "5900", ConnectionKind::Ssh, "22", AuthKind::Password},
        {ConnectionKind::Rdp, AuthKind::Password, " 3389", ConnectionKind::Vnc, "5900", AuthKind::Password},
        {ConnectionKind::Ssh, AuthKind::Password, "2222", ConnectionKind::Vnc, "2222", AuthKind::Password},
        {ConnectionKind::Vnc, AuthKind::Password, "22", ConnectionKind::Rdp, "22", AuthKind::Password},
        {ConnectionKind::Zavo, AuthKind::DeviceIdentity, "", ConnectionKind::Ssh, "22", AuthKind::Password},
        {ConnectionKind::Vnc, AuthKind::Password, "", ConnectionKind::Rdp, "3389", AuthKind::Password},
        {ConnectionKind::Ssh, AuthKind::PublicKey, "22", ConnectionKind::Zavo, "", AuthKind::DeviceIdentity},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(label(c.from)) + " -> " + std::string(label(c.to)) + " port '" + c.port + "'");
        run(K::NewConnectionForm);
        app->form.kind = c.from;
        app->form.auth = c.auth;
        app->form.port = c.port;
        run(UiCommand::focus_input(InputSlot::User));
        run(UiCommand::set_kind(c.to));
        EXPECT_EQ(app->form.port, c.port_after);
        EXPECT_EQ(app->form.auth, c.auth_after);
        EXPECT_EQ(app->input_mut(InputSlot::Port).text(), c.port_after);
        EXPECT_EQ(app->input_mut(InputSlot::Host).placeholder,
                  c.to == ConnectionKind::Zavo ? "certified Zavo endpoint id" : "hostname or IP");
        EXPECT_EQ(app->focused, InputSlot::User) << "the focus does not move";
    }
    run(UiCommand::set_auth(AuthKind::DeviceIdentity));  // SetAuth does not check the kind
    EXPECT_EQ(app->form.auth, AuthKind::DeviceIdentity);
}

TEST_F(Controller, SavingAnIncompleteFormShowsProblemsAndFocusesTheFirstGap) {
    struct Case {
        const char* name;
        const char* host;
        const char* port;
        ConnectionKind kind;
        std::optional<InputSlot> focus;
    } cases[] = {
        {"", "h", "22", ConnectionKind::Ssh, InputSlot::Name},
        {"n", " ", "22", ConnectionKind::Ssh, InputSlot::Host},
        {"n", "not-an-endpoint", "", ConnectionKind::Zavo, InputSlot::Host},
        {"n", "h", "", ConnectionKind::Ssh, InputSlot::Port},
        {"n", "h", "0", ConnectionKind::Ssh, InputSlot::Group},  // stays where it was
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("name '") + c.name + "' host '" + c.host + "' port '" + c.port + "'");
        run(K::NewConnectionForm);
        app->form.name = c.name;
        app->form.host = c.host;
        app->form.port = c.port;
        app->form.kind = c.kind;
        if (c.kind == ConnectionKind::Zavo) app->form.auth = AuthKind::DeviceIdentity;
        run(UiCommand::focus_input(InputSlot::Group));
        run(K::SaveForm);
        EXPECT_TRUE(app->touched.show_all);
        EXPECT_EQ(app->focused, c.focus);
        EXPECT_EQ(app->screen, Screen::new_form());
        EXPECT_EQ(app->connections.size(), 8u);
        EXPECT_FALSE(app->form_problems().empty());
    }
}

TEST_F(Controller, SavingStoresTheRecordAndKeepsWhatTheFormDoesNotEdit) {
    // A new connection, also when the list is shown.
    run(K::NewConnectionForm);
    app->form.name = "New box";
    app->form.host = "new.example";
    run(K::ShowConnections);
    run(K::SaveForm);
    ASSERT_EQ(app->connections.size(), 9u);
    const Uuid fresh = app->connections.back().id;
    EXPECT_EQ(app->selected, fresh);
    ASSERT_TRUE(stored(fresh));
    EXPECT_EQ(stored(fresh)->host, "new.example");

    // An edit keeps favourite, presence and last use.
    const Uuid box = id_of("Build Box");
    run(K::EditConnection, box);
    EXPECT_EQ(app->focused, InputSlot::Name);
    EXPECT_EQ(app->input_mut(InputSlot::Name).text(), "Build Box");
    app->form.group = "moved";
    run(K::SaveForm);
    EXPECT_EQ(app->screen, Screen::list());
    EXPECT_EQ(app->focused, std::nullopt);
    const SavedConnection& edited = connection("Build Box");
    EXPECT_EQ(edited.group, "moved");
    EXPECT_TRUE(edited.favorite);
    EXPECT_EQ(edited.last_used, "12m ago");
    EXPECT_EQ(edited.presence, Presence::Online);
    EXPECT_EQ(stored(box)->group, "moved");
    EXPECT_TRUE(stored(box)->favorite);
}

TEST_F(Controller, FocusTouchesFieldsOnlyOnTheForm) {
    run(UiCommand::focus_input(InputSlot::Name));
    run(UiCommand::focus_input(InputSlot::Search));
    EXPECT_EQ(app->touched, (RemoteApp::Touched{})) << "not on a form";

    run(K::NewConnectionForm);
    EXPECT_EQ(app->focused, InputSlot::Name);
    EXPECT_TRUE(app->input_mut(InputSlot::Name).focused);
    EXPECT_EQ(app->form_problems(), std::vector<std::string>{});
    run(UiCommand::focus_input(InputSlot::Host));
    EXPECT_FALSE(app->input_mut(InputSlot::Name).focused);
    run(UiCommand::focus_input(InputSlot::User));
    run(UiCommand::focus_input(InputSlot::Port));
    run(K::CancelForm);
    // The list is shown before the focus goes, so leaving the port touches nothing.
    EXPECT_EQ(app->touched, (RemoteApp::Touched{false, true, true, false}));
    EXPECT_EQ(app->focused, std::nullopt);
    for (int s = 0; s < 6; ++s) EXPECT_FALSE(app->input_mut(static_cast<InputSlot>(s)).focused) << s;
}

TEST_F(Controller, AFormOpenedFromAFormStartsUntouched) {
    const Uuid box = id_of("Build Box");
    const UiCommand new_form = UiCommand::plain(K::NewConnectionForm);
    const UiCommand edit = UiCommand::with_id(K::EditConnection, box);
    struct Case {
        UiCommand first;
        InputSlot focus;
        UiCommand second;
    } cases[] = {
        {new_form, InputSlot::Name, new_form},  // Control+N on a new form
        {new_form, InputSlot::Port, new_form},
        {edit, InputSlot::Host, new_form},
        {new_form, InputSlot::Name, edit},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.focus));
        run(c.first);
        app->form.port.clear();
        run(UiCommand::focus_input(c.focus));
        run(c.second);
        EXPECT_EQ(app->touched, (RemoteApp::Touched{}));
        EXPECT_EQ(app->focused, InputSlot::Name);
        // Leaving the fresh form's Name still shows its problem.
        app->form.name.clear();
        run(UiCommand::focus_input(InputSlot::Group));
        ASSERT_EQ(app->form_problems().size(), 1u);
        EXPECT_EQ(app->form_problems()[0].rfind("Name is required", 0), 0u);
    }
}

TEST_F(Controller, ProblemsShowOnceTheirFieldWasLeft) {
    run(K::NewConnectionForm);
    app->form.port = "";
    const auto all = app->form.problems();
    ASSERT_GE(all.size(), 3u);
    EXPECT_TRUE(app->form_problems().empty());
    app->touched.host = true;
    const auto shown = app->form_problems();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].rfind("Host is required", 0), 0u) << shown[0];
    app->touched = {true, false, false, false};
    EXPECT_EQ(app->form_problems(), all);
}

TEST_F(Controller, TypedTextReachesTheModelAndThePortKeepsOnlyDigits) {
    run(K::NewConnectionForm);
    type("Box");
    EXPECT_EQ(app->form.name, "Box");
    run(UiCommand::focus_input(InputSlot::Port));
    app->input_mut(InputSlot::Port).set_text_with_cursor_at_end("");
    type("2a2b");
    EXPECT_EQ(app->form.port, "22");
    EXPECT_EQ(app->input_mut(InputSlot::Port).text(), "22");
    EXPECT_EQ(app->input_mut(InputSlot::Port).cursor(), 2u);

    // Model changes reach every input but the focused one.
    app->form.port = "7";
    app->form.user = "changed elsewhere";
    app->refresh_inputs();
    EXPECT_EQ(app->input_mut(InputSlot::User).text(), "changed elsewhere");
    EXPECT_EQ(app->input_mut(InputSlot::Port).text(), "22");

    app->blur_input();
    zavo_ui::EventContext ctx;
    EXPECT_FALSE(app->route_text_input(zavo_ui::event::TextCommit{"x"}, {}, ctx, 1.0)) << "nothing focused";
}

TEST_F(Controller, DiscoveredDevicesFillTheForm) {
    run(K::NewConnectionForm);
    app->form.user = "kept";
    run(UiCommand::use_discovered_device(2));
    EXPECT_EQ(app->form.name, "Living Room TV");
    EXPECT_EQ(app->form.host, app->devices[2].endpoint_id);
    EXPECT_EQ(app->form.kind, ConnectionKind::Zavo);
    EXPECT_EQ(app->form.auth, AuthKind::DeviceIdentity);
    EXPECT_EQ(app->form.port, "");
    EXPECT_EQ(app->form.user, "kept");
    EXPECT_EQ(app->input_mut(InputSlot::Host).text(), app->devices[2].endpoint_id);
    EXPECT_EQ(app->focused, InputSlot::Name);

    const ConnectionForm before = app->form;
    run(UiCommand::use_discovered_device(app->devices.size()));
    EXPECT_EQ(app->form, before);
}

TEST_F(Controller, NavigationTogglesAgainstWhatIsShown) {
    struct Case {
        bool narrow;
        std::optional<bool> choice;
        bool after;
    } cases[] = {
        {true, std::nullopt, true},
        {false, std::nullopt, false},
        {true, true, false},
        {false, false, true},
    };
    for (const auto& c : cases) {
        app->narrow = c.narrow;
        app->nav_choice = c.choice;
        run(K::ToggleNavigation);
        EXPECT_EQ(app->nav_choice, c.after) << c.narrow;
    }
    // Showing the list or a new form closes an open navigation in a narrow window only.
    app->narrow = true;
    app->nav_choice = true;
    run(K::NewConnectionForm);
    EXPECT_EQ(app->nav_choice, false);
    app->nav_choice = std::nullopt;
    run(K::ShowConnections);
    EXPECT_EQ(app->nav_choice, std::nullopt);
    app->narrow = false;
    app->nav_choice = true;
    run(K::ShowConnections);
    EXPECT_EQ(app->nav_choice, true);
}

TEST_F(Controller, SimpleTogglesAndHitRegions) {
    run(K::ToggleScale);
    EXPECT_FALSE(app->session.scale_to_fit());
    run(K::ToggleFullscreen);
    EXPECT_TRUE(app->session.fullscreen());
    run(K::Select, id_of("Backup Vault"));
    EXPECT_EQ(app->selected, id_of("Backup Vault"));

    const UiCommand save = UiCommand::plain(K::SaveForm);
    EXPECT_EQ(app->hit_region_rect(save), std::nullopt);
    app->push_hit_region({0, 0, 10, 10}, save);
    app->push_hit_region({5, 5, 6, 6}, UiCommand::plain(K::CancelForm));
    app->push_hit_region({20, 20, 30, 30}, save);
    EXPECT_EQ(app->hit_region_rect(save), (zavo_ui::Rect{20, 20, 30, 30})) << "the last one drawn wins";
}

TEST(ReviewScenes, ScenesThatRunCommands) {
    test_support::EnvGuard env;
    env.set("REMOTE_LIVE_SESSIONS", nullptr);
    auto scene = [](const char* name) {
        auto app = RemoteApp::with_sample_data();
        app->apply_demo_scene(name);
        return app;
    };
    auto form = scene("form");
    EXPECT_EQ(form->screen, Screen::new_form());
    EXPECT_EQ(form->focused, InputSlot::Name);

    auto zavo = scene("form-zavo");
    EXPECT_EQ(zavo->form.kind, ConnectionKind::Zavo);
    EXPECT_EQ(zavo->form.auth, AuthKind::DeviceIdentity);

    auto connect = scene("confirm-connect");
    ASSERT_TRUE(connect->confirmation);
    EXPECT_EQ(find_connection(connect->connections, connect->confirmation->id)->name, "Studio Node");

    auto del = scene("confirm-delete");
    ASSERT_TRUE(del->confirmation);
    EXPECT_EQ(del->confirmation->kind, ConfirmationRequest::Kind::Delete);
    EXPECT_EQ(find_connection(del->connections, del->confirmation->id)->name, "Build Box");

    auto ssh = scene("session-ssh");  // a real launch, refused without the live-session switch
    ASSERT_TRUE(ssh->session.active());
    EXPECT_EQ(find_connection(ssh->connections, *ssh->session.target())->name, "Build Box");
    EXPECT_EQ(ssh->session.status()->kind, SessionStatus::Kind::Unavailable);
    EXPECT_EQ(ssh->session.counter(), 1u);

    auto vnc = scene("session-vnc");
    EXPECT_EQ(find_connection(vnc->connections, *vnc->session.target())->name, "Office NAS");

    auto none = RemoteApp::new_();
    none->apply_demo_scene("confirm-delete");
    EXPECT_FALSE(none->confirmation);
}

}  // namespace
