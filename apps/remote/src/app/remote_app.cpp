#include "app/remote_app.hpp"

#include "doc/profile_document.hpp"
#include "profiles/connection_list.hpp"
#include "zavo_ui/simulated_devices.hpp"

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

namespace remote::app {

namespace {

constexpr double kNarrowBelow = 720.0;

zavo_ui::widget::text_input::TextInput make_form_input(InputSlot slot) {
    auto input = zavo_ui::widget::text_input::TextInput::local().with_placeholder(std::string(field_placeholder(slot)));
    input.text_size = 14.0f;
    input.external_frame = true;  // painting draws the card and focus ring around it
    // A host, an endpoint id or a port shows exactly what was typed.
    input.verbatim = slot == InputSlot::Host || slot == InputSlot::Port;
    return input;
}

}  // namespace

std::unique_ptr<RemoteApp> RemoteApp::with_data(std::vector<SavedConnection> connections,
                                                std::vector<DiscoveredDevice> devices) {
    std::unique_ptr<RemoteApp> app(new RemoteApp());
    app->connections = std::move(connections);
    app->devices = std::move(devices);
    for (std::size_t i = 0; i < app->inputs.size(); ++i) app->inputs[i] = make_form_input(static_cast<InputSlot>(i));
    app->selected = app->first_visible_connection();
    return app;
}

std::unique_ptr<RemoteApp> RemoteApp::new_() { return with_data({}, {}); }

std::unique_ptr<RemoteApp> RemoteApp::with_sample_data(std::string_view replica) {
    using K = ConnectionKind;
    using A = AuthKind;
    using P = Presence;
    namespace sim = zavo_ui::simulated_devices;
    const std::string device1 = sim::SIMULATED_DEVICES[0].endpoint_id();
    const std::string device2 = sim::SIMULATED_DEVICES[1].endpoint_id();
    const auto sample = [replica](std::string_view name, ConnectionKind kind, std::string_view host, std::uint16_t port,
                                  std::string_view user, AuthKind auth, Presence presence, bool favorite,
                                  std::string_view last_used, std::string_view group) {
        return sample_connection(
            SampleConnectionSpec{name, host, user, last_used, group, port, kind, auth, presence, favorite}, replica);
    };
    std::vector<SavedConnection> connections;
    for (SavedConnection c : {
             sample("Build Box", K::Ssh, "build.lab.internal", 22, "admin", A::PublicKey, P::Online, true, "12m ago",
                    "lab"),
             sample("Studio Node", K::Zavo, device1, 0, "", A::DeviceIdentity, P::Online, true, "just now", "Zavo"),
             sample("Office NAS", K::Vnc, "192.168.1.20", 5900, "media", A::Password, P::Online, false, "2h ago",
                    "home"),
             sample("Win Workstation", K::Rdp, "10.0.0.45", 3389, "maria", A::Password, P::Offline, false, "yesterday",
                    "work"),
             sample("Edge Gateway", K::Ssh, "edge.example.net", 2222, "root", A::PublicKey, P::Online, false, "3d ago",
                    "prod"),
             sample("Pi Cluster Head", K::Ssh, "192.168.1.50", 22, "pi", A::Password, P::Offline, false, "1w ago",
                    "lab"),
             sample("Workshop Laptop", K::Zavo, device2, 0, "", A::DeviceIdentity, P::Online, false, "5h ago", "Zavo"),
             sample("Backup Vault", K::Vnc, "vault.example.com", 5901, "ops", A::Password, P::Unknown, false, "Never",
                    "prod"),
         })
        upsert_connection(connections, std::move(c));
    std::vector<DiscoveredDevice> devices;
    for (const auto& d : sim::SIMULATED_DEVICES) devices.push_back({std::string(d.name), d.endpoint_id(), d.online});
    return with_data(std::move(connections), std::move(devices));
}

void RemoteApp::apply_view_state(std::string_view name) {
    if (name == "narrow") forced_nav = false;
    if (name == "narrow-open") forced_nav = true;
}

void RemoteApp::apply_demo_scene(std::string_view name) {
    // The scenes dispatch nothing that must last.
    auto run = [&](UiCommand command) { execute(command, nullptr); };
    if (name == "form") {
        run(UiCommand::plain(UiCommand::Kind::NewConnectionForm));
    } else if (name == "form-zavo") {
        run(UiCommand::plain(UiCommand::Kind::NewConnectionForm));
        run(UiCommand::set_kind(ConnectionKind::Zavo));
    } else if (name == "session-ssh" || name == "session-vnc") {
        if (const auto id = first_connection_of_kind(name == "session-ssh" ? ConnectionKind::Ssh : ConnectionKind::Vnc))
            run(UiCommand::with_id(UiCommand::Kind::Connect, *id));
    } else if (name == "confirm-connect") {
        if (const auto id = first_connection_of_kind(ConnectionKind::Zavo)) request_connect(*id);
    } else if (name == "confirm-delete") {
        if (!connections.empty()) request_delete(connections.front().id);
    } else if (name == "session-rdp") {
        show_preview_session(
            ConnectionKind::Rdp,
            SessionStatus::unavailable("RDP profiles are preserved, but this Zavo build has no RDP client backend."));
    } else if (name == "session-zavo") {
        show_preview_session(ConnectionKind::Zavo, SessionStatus::connecting());
    } else if (name == "session-connecting") {
        show_preview_session(ConnectionKind::Ssh, SessionStatus::connecting());
    } else if (name == "session-failed") {
        show_preview_session(ConnectionKind::Vnc, SessionStatus::failed("Connection refused"));
    } else if (name == "confirm-ssh-trust") {
        const auto id = first_connection_of_kind(ConnectionKind::Ssh);
        if (!id) return;
        const SavedConnection* c = find_connection(connections, *id);
        confirmation = ConfirmationRequest{ConfirmationRequest::Kind::TrustHostKey, confirmation_key(*c),
                                           HostKeyIdentity{"ssh-ed25519", "SHA256:DemoFingerprintForVisualReviewOnly"},
                                           *id};
    }
}

std::optional<Uuid> RemoteApp::first_connection_of_kind(ConnectionKind kind) const {
    for (const auto& c : connections)
        if (c.kind == kind) return c.id;
    return std::nullopt;
}

void RemoteApp::show_preview_session(ConnectionKind kind, SessionStatus status) {
    const auto id = first_connection_of_kind(kind);
    if (!id) return;
    session.hold(*id, LiveSession{LiveSession::Preview{std::move(status)}});
    screen = Screen::session(*id);
}

void RemoteApp::start_session(const Uuid& id) {
    SavedConnection* connection = find_connection(connections, id);
    if (!connection) return;
    if (session.start(*connection)) connection->last_used = "just now";
    screen = Screen::session(id);
}

void RemoteApp::end_session() {
    session.end();
    screen = Screen::list();
}

std::optional<Uuid> RemoteApp::first_visible_connection() {
    const std::vector<std::size_t>& rows = list_cache.visible(connections, search_query);
    if (rows.empty()) return std::nullopt;
    return connections[rows.front()].id;
}

void RemoteApp::repair_selection() {
    if (selected && find_connection(connections, *selected)) return;
    selected = first_visible_connection();
}

void RemoteApp::sync_document(crdt::Document& document) {
    repair_connections_map(document);  // maps that replicas made before they met become one
    std::vector<SavedConnection> stored = load_connections(document);
    if (!loaded) {
        if (stored.empty()) {
            for (const SavedConnection& c : connections) store_connection(document, SavedConnection(c));
        } else {
            connections = std::move(stored);
            repair_selection();
        }
        redraw_needed = true;
        loaded = true;
        return;
    }
    if (connections_equal(stored, connections)) return;
    connections = std::move(stored);
    repair_selection();
    if (session.target() && !find_connection(connections, *session.target())) end_session();
    redraw_needed = true;
}

zavo_ui::layout::NodeId RemoteApp::build_layout(zavo_ui::layout::LayoutTree& tree,
                                                zavo_ui::layout::NodeWidgetMap& widgets) {
    using zavo_ui::layout::Dimension;
    auto node = tree.new_leaf({Dimension::percent(1.0f), Dimension::percent(1.0f)});
    if (!node) {
        spdlog::critical("layout node for the application: {}", node.error());
        std::abort();
    }
    widgets[*node] = this;
    return *node;
}

void RemoteApp::layout(const zavo_ui::layout::LayoutTree& tree, zavo_ui::layout::NodeId node, zavo_ui::Point origin) {
    const auto placed = tree.layout(node).value_or(zavo_ui::layout::Layout{});
    const double x0 = origin.x + placed.x;
    const double y0 = origin.y + placed.y;
    window_bounds = {x0, y0, x0 + placed.width, y0 + placed.height};
    narrow = window_bounds.width() < kNarrowBelow;
    if (const auto forced = std::exchange(forced_nav, std::nullopt)) {
        nav_choice = *forced;
        flap.set_progress(*forced ? 1.0 : 0.0);
    }
    if (!last_narrow) {
        last_narrow = narrow;
        snap_nav_flap();  // no animation on the first frame
    } else if (*last_narrow != narrow) {
        // Crossing the threshold forgets the user's choice; painting animates to the new target.
        last_narrow = narrow;
        nav_choice.reset();
    }
}

void RemoteApp::snap_nav_flap() { flap.set_progress(flap_target()); }

void RemoteApp::set_reduced_motion(bool reduced) {
    reduced_motion = reduced;
    if (reduced) snap_nav_flap();
}

bool RemoteApp::wants_animation_frame() {
    if (!reduced_motion && std::abs(flap.progress - flap_target()) >= 0.001) return true;
    if (tooltip.pending()) return true;
    return session.wants_frames();
}

double RemoteApp::flap_target() const { return nav_open() ? 1.0 : 0.0; }

void RemoteApp::collect_damage(std::vector<zavo_ui::Rect>& damage) {
    if (redraw_needed) damage.push_back(window_bounds);
}

void RemoteApp::document_saving(const zavo_ui::DocumentSaving& saving) {
    using State = zavo_ui::DocumentSaving::State;
    switch (saving.state) {
        case State::Saved: notice = Notice{"Changes are being saved again.", "Saving works again"}; break;
        case State::KeptElsewhere:
            notice = Notice{fmt::format("This device cannot save its copy of your connections ({}). Changes are kept "
                                        "in the shared folder until it can.",
                                        saving.cause),
                            "Not saved on this device"};
            break;
        case State::NotSaved:
            notice = Notice{fmt::format("Changes are not being saved ({}). They are kept in this window until saving "
                                        "works again.",
                                        saving.cause),
                            "Changes are not saved"};
            break;
    }
    redraw_needed = true;
}

void RemoteApp::handle_device_event(const DeviceEvent& event) {
    if (session.handle_device_event(event)) redraw_needed = true;
}

}  // namespace remote::app
