#include "app/remote_app.hpp"

#include "doc/profile_document.hpp"
#include "profiles/connection_list.hpp"
#include "tests/views/session_harness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <set>
#include <string>
#include <vector>

using namespace remote;

namespace {

std::vector<std::string> names(const std::vector<SavedConnection>& list) {
    std::vector<std::string> out;
    for (const auto& c : list) out.push_back(c.name);
    return out;
}

std::string name_of(const RemoteApp& app, const std::optional<Uuid>& id) {
    if (!id) return "<none>";
    const SavedConnection* c = find_connection(app.connections, *id);
    return c ? c->name : "<missing>";
}

std::vector<SavedConnection> sorted_by_id(std::vector<SavedConnection> list) {
    std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
    return list;
}

// Lays the application out in a window of the given size, as the framework does.
struct Window {
    zavo_ui::layout::LayoutTree tree;
    zavo_ui::layout::NodeWidgetMap widgets;
    zavo_ui::layout::NodeId root = 0;
    zavo_ui::layout::NodeId node = 0;
    explicit Window(RemoteApp& app) {
        root = *tree.new_leaf({});
        node = app.build_layout(tree, widgets);
        EXPECT_TRUE(tree.add_child(root, node));
    }
    void resize(RemoteApp& app, float width, float height = 800) {
        ASSERT_TRUE(tree.compute_layout(root, width, height));
        app.layout(tree, node, {10, 20});
    }
};

using views_test::unstarted_device_session;

}  // namespace

TEST(RemoteAppState, NewStartsEmptyOnTheListWaitingForTheDocument) {
    auto app = RemoteApp::new_();
    EXPECT_TRUE(app->connections.empty());
    EXPECT_TRUE(app->devices.empty());
    EXPECT_EQ(app->selected, std::nullopt);
    EXPECT_EQ(app->screen, Screen::list());
    EXPECT_EQ(app->focused, std::nullopt);
    EXPECT_TRUE(app->needs_redraw());
    EXPECT_FALSE(app->loaded);
    EXPECT_TRUE(app->awaiting_document());
    EXPECT_FALSE(app->session.active());
    EXPECT_EQ(app->session.counter(), 0u);
    EXPECT_EQ(app->flap.progress, 1.0);
    EXPECT_EQ(app->tooltip.delay(), std::chrono::milliseconds(500));
    EXPECT_EQ(app->type_name(), "remote::app::RemoteApp");
    EXPECT_EQ(app->widget_name(), "RemoteApp");
    EXPECT_EQ(app->device_session_sink(), app.get());
    const std::pair<InputSlot, const char*> placeholders[] = {
        {InputSlot::Search, "Search machines…  ( / )"},
        {InputSlot::Name, "My machine"},
        {InputSlot::Host, "hostname or IP"},
        {InputSlot::Port, "Port"},
        {InputSlot::User, "username"},
        {InputSlot::Group, "group (optional)"},
    };
    for (auto [slot, text] : placeholders) {
        EXPECT_EQ(app->input_mut(slot).placeholder, text);
        EXPECT_EQ(app->input_mut(slot).text_size, 14.0f);
        EXPECT_FALSE(app->input_mut(slot).focused);
    }
}

TEST(RemoteAppState, SampleDataHoldsTheEightConnectionsAndFourDevices) {
    auto app = RemoteApp::with_sample_data();
    EXPECT_EQ(names(app->connections),
              (std::vector<std::string>{"Build Box", "Studio Node", "Office NAS", "Win Workstation", "Edge Gateway",
                                        "Pi Cluster Head", "Workshop Laptop", "Backup Vault"}));
    EXPECT_EQ(name_of(*app, app->selected), "Build Box");
    const auto& sim = zavo_ui::simulated_devices::SIMULATED_DEVICES;
    EXPECT_EQ(app->connections[1].host, sim[0].endpoint_id());
    EXPECT_EQ(app->connections[6].host, sim[1].endpoint_id());
    ASSERT_EQ(app->devices.size(), 4u);
    EXPECT_EQ(app->devices[3], (DiscoveredDevice{"Garage Pi", sim[3].endpoint_id(), false}));
    EXPECT_EQ(app->devices[0].name, "Studio Node");
    EXPECT_TRUE(app->devices[2].online);
    // The same ids at every start of one device, one for each connection.
    const std::string replica = "0123456789abcdef0123456789abcdef";
    auto mine = RemoteApp::with_sample_data(replica);
    auto again = RemoteApp::with_sample_data(replica);
    std::set<Uuid> ids;
    for (std::size_t i = 0; i < mine->connections.size(); ++i) {
        EXPECT_EQ(again->connections[i].id, mine->connections[i].id) << i;
        ids.insert(mine->connections[i].id);
    }
    EXPECT_EQ(ids.size(), mine->connections.size());
}

TEST(RemoteAppState, ViewStateChoosesTheNavigationOnlyForItsTwoNames) {
    const std::pair<const char*, std::optional<bool>> cases[] = {
        {"narrow", false}, {"narrow-open", true}, {"form", std::nullopt}, {"", std::nullopt}, {"Narrow", std::nullopt},
    };
    for (auto [name, forced] : cases) {
        auto app = RemoteApp::new_();
        app->apply_view_state(name);
        EXPECT_EQ(app->forced_nav, forced) << name;
    }
}

TEST(RemoteAppState, PreviewScenesShowTheFirstConnectionOfTheirKind) {
    const struct {
        const char* scene;
        const char* connection;
        SessionStatus status;
    } cases[] = {
        {"session-rdp", "Win Workstation",
         SessionStatus::unavailable("RDP profiles are preserved, but this Zavo build has no RDP client backend.")},
        {"session-zavo", "Studio Node", SessionStatus::connecting()},
        {"session-connecting", "Build Box", SessionStatus::connecting()},
        {"session-failed", "Office NAS", SessionStatus::failed("Connection refused")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.scene);
        auto app = RemoteApp::with_sample_data();
        app->apply_demo_scene(c.scene);
        EXPECT_EQ(name_of(*app, app->session.target()), c.connection);
        ASSERT_TRUE(app->session.active());
        EXPECT_EQ(app->session.status(), c.status);
        EXPECT_EQ(app->screen, Screen::session(*app->session.target()));
        EXPECT_EQ(app->session.counter(), 0u) << "a preview moves no counter";
        EXPECT_TRUE(app->session.device_requests().empty());

        auto empty = RemoteApp::new_();
        empty->apply_demo_scene(c.scene);
        EXPECT_FALSE(empty->session.active());
        EXPECT_EQ(empty->screen, Screen::list());
    }
}

TEST(RemoteAppState, TrustSceneOpensTheDialogForTheFirstSshConnection) {
    auto app = RemoteApp::with_sample_data();
    app->apply_demo_scene("confirm-ssh-trust");
    ASSERT_TRUE(app->confirmation);
    EXPECT_EQ(app->confirmation->kind, ConfirmationRequest::Kind::TrustHostKey);
    EXPECT_EQ(name_of(*app, app->confirmation->id), "Build Box");
    EXPECT_EQ(app->confirmation->key, confirmation_key(app->connections.front()));
    EXPECT_EQ(app->confirmation->identity,
              (HostKeyIdentity{"ssh-ed25519", "SHA256:DemoFingerprintForVisualReviewOnly"}));
    EXPECT_EQ(app->notice, std::nullopt);
    EXPECT_EQ(app->focused, std::nullopt);
    EXPECT_EQ(app->screen, Screen::list());
}

TEST(RemoteAppState, EndSessionQueuesADeviceDisconnectAndReturnsToTheList) {
    auto app = RemoteApp::with_sample_data();
    const Uuid studio = app->connections[1].id;
    app->session.hold(studio, LiveSession{unstarted_device_session(1)});
    app->session.hold(studio, LiveSession{unstarted_device_session(2)});  // replaced
    app->screen = Screen::session(studio);
    app->session.set_fullscreen(true);
    app->take_device_requests();
    app->notice = Notice{"kept"};
    app->end_session();
    EXPECT_EQ(app->take_device_requests(), std::vector<DeviceRequest>{DeviceRequest::disconnect(2)});
    EXPECT_TRUE(app->take_device_requests().empty()) << "taken whole";
    EXPECT_FALSE(app->session.active());
    EXPECT_EQ(app->session.target(), std::nullopt);
    EXPECT_EQ(app->session.counter(), 1u);
    EXPECT_FALSE(app->session.fullscreen());
    EXPECT_EQ(app->screen, Screen::list());
    EXPECT_EQ(app->notice, Notice{"kept"});

    app->session = Session(std::numeric_limits<std::uint64_t>::max());
    app->end_session();
    EXPECT_EQ(app->session.counter(), std::numeric_limits<std::uint64_t>::max()) << "never wraps";
}

TEST(DocumentSync, FirstSyncSeedsAnEmptyDocumentFromMemory) {
    auto app = RemoteApp::with_sample_data();
    const auto before = app->connections;
    const auto selected = app->selected;
    ProfileDocument doc;
    app->redraw_needed = false;
    app->sync_document(doc);
    EXPECT_EQ(sorted_by_id(load_connections(doc)), sorted_by_id(before));
    EXPECT_EQ(app->connections, before);
    EXPECT_EQ(app->selected, selected);
    EXPECT_TRUE(app->loaded);
    EXPECT_TRUE(app->needs_redraw());
    EXPECT_FALSE(app->awaiting_document());

    auto empty = RemoteApp::new_();
    ProfileDocument nothing;
    empty->sync_document(nothing);
    EXPECT_TRUE(nothing.get_changes({}).empty()) << "nothing to seed, nothing written";
    EXPECT_TRUE(empty->loaded);
}

TEST(DocumentSync, FirstSyncTakesTheDocumentsConnections) {
    auto stored = RemoteApp::with_sample_data();
    ProfileDocument doc;
    for (const char* name : {"zeta", "Alpha"}) {
        SavedConnection c = stored->connections[0];
        c.id = Uuid::new_v4();
        c.name = name;
        c.favorite = false;
        store_connection(doc, c);
    }
    auto app = RemoteApp::with_sample_data();
    app->session.hold(app->connections[0].id, LiveSession{LiveSession::Preview{SessionStatus::connecting()}});
    app->sync_document(doc);
    EXPECT_EQ(sorted_by_id(app->connections), sorted_by_id(load_connections(doc)));
    EXPECT_EQ(name_of(*app, app->selected), "Alpha");
    EXPECT_TRUE(app->session.active()) << "the first sync looks at no session";
}

TEST(DocumentSync, LaterSyncsFollowTheDocumentWithoutWritingToIt) {
    auto app = RemoteApp::with_sample_data();
    ProfileDocument doc;
    app->sync_document(doc);
    const std::size_t history = doc.get_changes({}).size();

    // The seeded list keeps its order in memory; the next sync takes the document's order.
    app->sync_document(doc);
    EXPECT_EQ(app->connections, load_connections(doc));

    // Identical: nothing moves, not even a selection that is gone.
    const Uuid elsewhere = Uuid::new_v4();
    app->selected = elsewhere;
    app->redraw_needed = false;
    app->sync_document(doc);
    EXPECT_FALSE(app->needs_redraw());
    EXPECT_EQ(app->selected, elsewhere);

    // The in-memory "just now" differs from the document: the stored text comes back.
    const SavedConnection first = *std::find_if(app->connections.begin(), app->connections.end(),
                                                [](const auto& c) { return c.last_used != "just now"; });
    app->selected = first.id;
    find_connection(app->connections, first.id)->last_used = "just now";
    app->sync_document(doc);
    EXPECT_EQ(find_connection(app->connections, first.id)->last_used, first.last_used);
    EXPECT_EQ(app->selected, first.id);
    EXPECT_TRUE(app->needs_redraw());

    // The session's connection vanishes: the session ends (a device one says so to the relay).
    const Uuid studio = *app->first_connection_of_kind(ConnectionKind::Zavo);
    app->session.hold(studio, LiveSession{unstarted_device_session()});
    app->screen = Screen::session(studio);
    app->take_device_requests();
    delete_connection(doc, studio);
    app->sync_document(doc);
    EXPECT_FALSE(app->session.active());
    EXPECT_EQ(app->session.target(), std::nullopt);
    EXPECT_EQ(app->screen, Screen::list());
    EXPECT_EQ(app->take_device_requests().size(), 1u);
    EXPECT_EQ(app->connections.size(), 7u);

    // Emptied: no list, no selection, no session; nothing written back.
    app->show_preview_session(ConnectionKind::Ssh, SessionStatus::connected());
    for (const auto& c : load_connections(doc)) delete_connection(doc, c.id);
    const std::size_t emptied = doc.get_changes({}).size();
    app->sync_document(doc);
    EXPECT_TRUE(app->connections.empty());
    EXPECT_EQ(app->selected, std::nullopt);
    EXPECT_FALSE(app->session.active());
    EXPECT_EQ(doc.get_changes({}).size(), emptied);
    EXPECT_GT(emptied, history);
}

TEST(FrameworkHooks, LayoutSetsBoundsNarrowAndTheFlap) {
    struct Case {
        const char* what;
        std::optional<bool> forced;
        float width;
        bool narrow;
        double progress;
    };
    const Case cases[] = {
        {"wide", std::nullopt, 1280, false, 1.0},
        {"narrow at once closed", std::nullopt, 700, true, 0.0},
        {"threshold is wide", std::nullopt, 720, false, 1.0},
        {"narrow-open at any width", true, 700, true, 1.0},
        {"narrow forced closed while wide", false, 1280, false, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto app = RemoteApp::new_();
        app->forced_nav = c.forced;
        Window window(*app);
        window.resize(*app, c.width);
        EXPECT_EQ(app->bounds(), (zavo_ui::Rect{10, 20, 10 + c.width, 820}));
        EXPECT_EQ(app->narrow, c.narrow);
        EXPECT_EQ(app->flap.progress, c.progress);
        EXPECT_EQ(app->forced_nav, std::nullopt);
        EXPECT_EQ(app->nav_choice, c.forced);
        EXPECT_EQ(app->last_narrow, c.narrow);
    }
}

TEST(FrameworkHooks, CrossingTheThresholdForgetsTheChoiceAndAnimates) {
    auto app = RemoteApp::new_();
    Window window(*app);
    window.resize(*app, 800);
    app->nav_choice = true;
    window.resize(*app, 760);
    EXPECT_EQ(app->nav_choice, true) << "no crossing, the choice stays";
    window.resize(*app, 700);
    EXPECT_EQ(app->nav_choice, std::nullopt);
    EXPECT_EQ(app->flap.progress, 1.0) << "painting animates it";
    EXPECT_EQ(app->flap_target(), 0.0);
    EXPECT_TRUE(app->wants_animation_frame());
    app->set_reduced_motion(true);
    EXPECT_EQ(app->flap.progress, 0.0);
    EXPECT_FALSE(app->wants_animation_frame());
}

TEST(FrameworkHooks, AnimationFollowsTooltipsAndLiveSessions) {
    auto app = RemoteApp::with_sample_data();
    app->set_reduced_motion(true);
    EXPECT_FALSE(app->wants_animation_frame()) << "an idle list";
    const auto now = std::chrono::steady_clock::now();
    app->tooltip.on_pointer(zavo_ui::widget::tooltip::HoverTarget{{0, 0, 10, 10}, "Connect"}, now);
    EXPECT_TRUE(app->wants_animation_frame()) << "a tooltip waits for its delay";
    app->tooltip.tick(now + std::chrono::seconds(1));
    EXPECT_FALSE(app->wants_animation_frame()) << "a shown tooltip is settled";

    const std::pair<SessionStatus, bool> statuses[] = {
        {SessionStatus::connecting(), true}, {SessionStatus::connected(), true},       {SessionStatus::ended(), false},
        {SessionStatus::failed("x"), false}, {SessionStatus::unavailable("y"), false},
    };
    for (const auto& [status, animates] : statuses) {
        app->show_preview_session(ConnectionKind::Ssh, status);
        app->screen = Screen::list();  // on any screen
        EXPECT_EQ(app->wants_animation_frame(), animates) << static_cast<int>(status.kind);
    }

    // A worker that gives up after a frame was painted, before the question: one frame more
    // shows how it ended, and then painting rests. Painting polls the session before it shows it.
    views_test::SshHarness ssh(*app);
    ssh.status->set(SessionStatus::connecting());
    app->session.poll();
    ssh.status->set(SessionStatus::failed("SSH host key for lab:22 needs explicit trust"));
    EXPECT_TRUE(app->wants_animation_frame());
    EXPECT_FALSE(app->wants_animation_frame());
    app->session.poll();
    EXPECT_FALSE(app->wants_animation_frame());
}

// Output that one frame had no share left for keeps painting going while painting takes it, also
// after the session ended; a frame that does not take it (another screen) lets painting rest.
TEST(FrameworkHooks, OutputLeftWaitingAnimatesWhilePaintingTakesIt) {
    auto app = RemoteApp::with_sample_data();
    app->set_reduced_motion(true);
    views_test::SshHarness ssh(*app);
    std::string erases;
    while (erases.size() < 32 * 1024) erases += "\x1b[2J";
    for (int i = 0; i < 8; ++i) ssh.write(erases);
    ssh.write("the end");
    ssh.status->set(SessionStatus::ended());

    ASSERT_TRUE(app->session.poll());
    ASSERT_TRUE(app->session.terminal());
    EXPECT_TRUE(app->wants_animation_frame()) << "output waits for the next frame";
    EXPECT_FALSE(app->wants_animation_frame()) << "no frame took it";
    int frames = 0;
    while (frames < 1000 && (app->session.poll(), app->wants_animation_frame())) ++frames;
    EXPECT_GT(frames, 0);
    std::string shown;
    for (const auto& cell : app->session.terminal()->row(0)) shown += char(cell.character);
    EXPECT_TRUE(shown.starts_with("the end ")) << "drained in " << frames << " frames";
    EXPECT_FALSE(app->wants_animation_frame());
}

TEST(FrameworkHooks, DamageIsTheWindowWhileARedrawIsPending) {
    auto app = RemoteApp::new_();
    Window window(*app);
    window.resize(*app, 1000, 600);
    std::vector<zavo_ui::Rect> damage;
    app->collect_damage(damage);
    EXPECT_EQ(damage, std::vector<zavo_ui::Rect>{*app->bounds()});
    app->clear_redraw();
    EXPECT_FALSE(app->needs_redraw());
    damage.clear();
    app->collect_damage(damage);
    EXPECT_TRUE(damage.empty());
}

TEST(FrameworkHooks, TheNoticeSaysHowChangesAreSaved) {
    using State = zavo_ui::DocumentSaving::State;
    const std::pair<zavo_ui::DocumentSaving, std::string> cases[] = {
        {{State::KeptElsewhere, "No space left on device", "cannot append to /s/a.log: No space left on device"},
         "This device cannot save its copy of your connections (No space left on device). Changes are kept in the "
         "shared folder until it can."},
        {{State::NotSaved, "Read-only file system", "cannot append to /s/a.log: Read-only file system"},
         "Changes are not being saved (Read-only file system). They are kept in this window until saving works "
         "again."},
        {{State::Saved, "", ""}, "Changes are being saved again."},
    };
    auto app = RemoteApp::new_();
    for (const auto& [saving, notice] : cases) {
        app->clear_redraw();
        app->document_saving(saving);
        ASSERT_TRUE(app->notice);
        EXPECT_EQ(app->notice->text, notice);
        EXPECT_TRUE(app->needs_redraw());
    }
}

TEST(DeviceSink, EventsReachOnlyTheLiveDeviceSession) {
    auto app = RemoteApp::with_sample_data();
    app->handle_device_event({1, DeviceEvent::Connected{640, 480}});  // no session: ignored
    const std::uint64_t id = 1;
    app->session.hold(app->connections[1].id, LiveSession{unstarted_device_session(id)});
    app->redraw_needed = false;
    app->handle_device_event({id + 1, DeviceEvent::Connected{640, 480}});
    EXPECT_FALSE(app->needs_redraw()) << "an earlier session's event";
    EXPECT_EQ(app->session.status(), SessionStatus::connecting());
    app->handle_device_event({id, DeviceEvent::Connected{640, 480}});
    EXPECT_TRUE(app->needs_redraw());
    EXPECT_EQ(app->session.status(), SessionStatus::connected());
    app->handle_device_event({id, DeviceEvent::Disconnected{DisconnectReason::control_closed()}});
    EXPECT_EQ(app->session.status()->kind, SessionStatus::Kind::Failed);
}
