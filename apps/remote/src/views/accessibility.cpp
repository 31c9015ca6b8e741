// The window as a tree of accessibility nodes, and element activations turned into the same
// commands a click on the painted control runs.
#include "app/remote_app.hpp"
#include "profiles/connection_list.hpp"
#include "views/terminal_view.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <charconv>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace remote::app {

namespace {

using zavo_ui::a11y::AccessNode;
using zavo_ui::a11y::AccessRole;
using zavo_ui::a11y::SemanticAction;
using zavo_ui::a11y::SemanticActionKind;
using zavo_ui::a11y::toggled;
using Cmd = UiCommand::Kind;

constexpr std::string_view kFieldPrefix = "remote.field:";
constexpr std::string_view kKindPrefix = "remote.kind:";
constexpr std::string_view kAuthPrefix = "remote.auth:";
constexpr std::string_view kDevicePrefix = "remote.device:";
constexpr std::string_view kConnectionPrefix = "remote.connection:";

AccessNode structural(AccessRole role, std::string label, std::string_view node_id) {
    return AccessNode(role).with_label(std::move(label)).with_node_id(node_id);
}

AccessNode live_text(std::string label, std::string_view node_id) {
    AccessNode node = structural(AccessRole::StaticText, std::move(label), node_id);
    node.live = zavo_ui::a11y::Live::Polite;
    return node;
}

AccessNode actionable(AccessRole role, std::string label, std::string element_id, std::optional<zavo_ui::Rect> rect) {
    AccessNode node = AccessNode(role).with_label(std::move(label)).with_element_id(std::move(element_id));
    node.bounds = rect;
    node.focusable = true;
    return node;
}

AccessNode button_access_node(std::string label, std::string element_id, std::optional<zavo_ui::Rect> rect) {
    return actionable(AccessRole::Button, std::move(label), std::move(element_id), rect);
}

std::string connection_element_id(const Uuid& id, std::string_view action) {
    return fmt::format("{}{}:{}", kConnectionPrefix, id.to_string(), action);
}

std::string_view field_suffix(InputSlot slot) {
    switch (slot) {
        case InputSlot::Search: return "search";
        case InputSlot::Name: return "name";
        case InputSlot::Host: return "host";
        case InputSlot::Port: return "port";
        case InputSlot::User: return "user";
        case InputSlot::Group: return "group";
    }
    return "search";
}

std::optional<InputSlot> slot_from_suffix(std::string_view suffix) {
    for (InputSlot slot :
         {InputSlot::Search, InputSlot::Name, InputSlot::Host, InputSlot::Port, InputSlot::User, InputSlot::Group})
        if (suffix == field_suffix(slot)) return slot;
    return std::nullopt;
}

std::string_view auth_suffix(AuthKind auth) {
    switch (auth) {
        case AuthKind::Password: return "password";
        case AuthKind::PublicKey: return "public-key";
        case AuthKind::DeviceIdentity: return "device-identity";
    }
    return "password";
}

AuthKind auth_from_suffix(std::string_view suffix) {
    if (suffix == "public-key") return AuthKind::PublicKey;
    if (suffix == "device-identity") return AuthKind::DeviceIdentity;
    return AuthKind::Password;
}

AccessNode text_field(const RemoteApp& app, InputSlot slot, std::string label) {
    const auto& input = app.inputs[static_cast<std::size_t>(slot)];
    AccessNode node = actionable(AccessRole::TextField, std::move(label),
                                 std::string(kFieldPrefix) + std::string(field_suffix(slot)),
                                 app.hit_region_rect(UiCommand::focus_input(slot)))
                          .with_value(app.model_text(slot))
                          .with_caret(input.cursor(), input.selection());
    node.focused = app.focused == slot;
    return node;
}

// On the list screen with no field focused and no dialog open, the keys move the list's
// selection: the selected row holds the focus, or the list itself when none is shown.
bool list_takes_keys(const RemoteApp& app) {
    return app.screen.kind == Screen::Kind::List && !app.focused && !app.confirmation;
}

std::vector<AccessNode> navigation_items(const RemoteApp& app) {
    const bool open = app.nav_open();
    std::vector<AccessNode> items;
    if (app.narrow) {
        AccessNode toggle = button_access_node(open ? "Close navigation" : "Open navigation", "remote.nav.toggle",
                                               app.hit_region_rect(UiCommand::plain(Cmd::ToggleNavigation)))
                                .with_description("Show Connections and Add connection");
        toggle.expanded = toggled(open);
        items.push_back(std::move(toggle));
    }
    if (!app.narrow || open) {
        items.push_back(button_access_node("Connections", "remote.nav.list",
                                           app.hit_region_rect(UiCommand::plain(Cmd::ShowConnections))));
        items.push_back(button_access_node("Add connection", "remote.connection.new",
                                           app.hit_region_rect(UiCommand::plain(Cmd::NewConnectionForm))));
    }
    return items;
}

std::string_view presence_text(Presence presence) {
    switch (presence) {
        case Presence::Online: return "online";
        case Presence::Offline: return "offline";
        case Presence::Unknown: return "status unknown";
    }
    return "status unknown";
}

std::string_view readiness_text(const SavedConnection& c, ConnectionReadiness readiness) {
    if (readiness == ConnectionReadiness::Ready) return "ready to connect";
    return c.readiness_reason(readiness);
}

AccessNode connection_row(const RemoteApp& app, const SavedConnection& c, std::size_t position, std::size_t count) {
    const ConnectionReadiness readiness = c.readiness();
    const std::string id_prefix = connection_element_id(c.id, "");
    std::vector<AccessNode> children;
    children.reserve(3);
    AccessNode favourite = actionable(
        AccessRole::ToggleButton, c.favorite ? "Remove from favourites" : "Add to favourites", id_prefix + "favorite",
        app.hit_region_rect(UiCommand::with_id(Cmd::ToggleFavorite, c.id)));
    favourite.checked = toggled(c.favorite);
    children.push_back(std::move(favourite));
    children.push_back(button_access_node("Edit connection", id_prefix + "edit",
                                          app.hit_region_rect(UiCommand::with_id(Cmd::EditConnection, c.id))));
    if (readiness == ConnectionReadiness::Ready)
        children.push_back(button_access_node("Connect", id_prefix + "connect",
                                              app.hit_region_rect(UiCommand::with_id(Cmd::RequestConnect, c.id))));

    AccessNode row = actionable(AccessRole::ListItem,
                                fmt::format("{}, {}, {}, {}, last used {}", c.name, label(c.kind),
                                            presence_text(c.presence), readiness_text(c, readiness), c.last_used),
                                id_prefix + "select", app.hit_region_rect(UiCommand::with_id(Cmd::Select, c.id)))
                         .with_value(target_label(c))
                         .with_children(std::move(children));
    if (!c.group.empty()) row.description = "group " + c.group;
    row.selected = app.selected == c.id;
    row.focused = row.selected && list_takes_keys(app);
    row.set_size = static_cast<std::uint32_t>(count);
    row.position_in_set = static_cast<std::uint32_t>(position);
    return row;
}

AccessNode list_screen(RemoteApp& app) {
    std::vector<AccessNode> children;
    children.push_back(structural(AccessRole::Heading, "Remote Machines", "remote.list.heading"));
    children.push_back(button_access_node("New connection", "remote.connection.new",
                                          app.hit_region_rect(UiCommand::plain(Cmd::NewConnectionForm))));
    children.push_back(text_field(app, InputSlot::Search, "Search saved connections")
                           .with_description("Shortcut: slash or Control F"));

    const std::vector<std::size_t>& rows = app.list_cache.visible(app.connections, app.search_query);
    std::vector<AccessNode> items;
    items.reserve(rows.size());
    bool row_focused = false;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        items.push_back(connection_row(app, app.connections[rows[i]], i + 1, rows.size()));
        row_focused = row_focused || items.back().focused;
    }
    AccessNode list = structural(AccessRole::List, "Saved connections", "remote.list").with_children(std::move(items));
    list.focusable = true;
    list.focused = !row_focused && list_takes_keys(app);
    children.push_back(std::move(list));
    if (rows.empty())
        children.push_back(live_text(app.connections.empty()
                                         ? "No machines yet. Add a connection to reach it over SSH, "
                                           "VNC, or the Zavo relay."
                                         : "No machines match your search.",
                                     "remote.list.empty"));
    return AccessNode(AccessRole::Group).with_label("Connections").with_children(std::move(children));
}

AccessNode device_list(const RemoteApp& app) {
    std::vector<AccessNode> items;
    for (std::size_t i = 0; i < app.devices.size(); ++i) {
        const DiscoveredDevice& d = app.devices[i];
        AccessNode item = actionable(AccessRole::ListItem, d.name, fmt::format("{}{}", kDevicePrefix, i),
                                     app.hit_region_rect(UiCommand::use_discovered_device(i)))
                              .with_value(d.endpoint_id)
                              .with_description(d.online ? "Online" : "Offline");
        item.selected = app.form.host == d.endpoint_id;
        items.push_back(std::move(item));
    }
    return structural(AccessRole::List, "Discovered Zavo devices", "remote.form.devices")
        .with_children(std::move(items));
}

AccessNode form_screen(const RemoteApp& app) {
    const std::string title = app.screen.kind == Screen::Kind::EditForm ? "Edit connection" : "New connection";
    const ConnectionKind kind = app.form.kind;
    std::vector<AccessNode> children;
    children.push_back(structural(AccessRole::Heading, title, "remote.form.heading"));

    std::vector<AccessNode> protocols;
    for (ConnectionKind k : {ConnectionKind::Ssh, ConnectionKind::Vnc, ConnectionKind::Zavo}) {
        AccessNode option = actionable(AccessRole::RadioButton, std::string(label(k)),
                                       std::string(kKindPrefix) + std::string(stored_name(k)),
                                       app.hit_region_rect(UiCommand::set_kind(k)));
        option.checked = toggled(kind == k);
        protocols.push_back(std::move(option));
    }
    children.push_back(
        structural(AccessRole::Group, "Protocol", "remote.form.protocol").with_children(std::move(protocols)));

    if (kind == ConnectionKind::Rdp) {
        children.push_back(
            live_text("Legacy RDP profile. RDP has no client backend in this build; select SSH, VNC, or "
                      "Zavo to migrate this profile.",
                      "remote.form.legacy-rdp"));
    } else if (kind == ConnectionKind::Zavo) {
        children.push_back(device_list(app));
        children.push_back(structural(AccessRole::StaticText,
                                      "Authentication: Zavo device identity. No password is stored or requested.",
                                      "remote.form.zavo-authentication"));
    }

    children.push_back(text_field(app, InputSlot::Name, "Connection name"));
    children.push_back(
        text_field(app, InputSlot::Host, kind == ConnectionKind::Zavo ? "Device node" : "Host name or IP address"));
    if (kind != ConnectionKind::Zavo) {
        children.push_back(text_field(app, InputSlot::Port, "Port"));
        if (kind != ConnectionKind::Vnc) children.push_back(text_field(app, InputSlot::User, "User name"));
        children.push_back(text_field(app, InputSlot::Group, "Group"));

        std::vector<AccessNode> auths;
        for (AuthKind auth : allowed_auth(kind)) {
            AccessNode option = actionable(AccessRole::RadioButton, std::string(label(auth)),
                                           std::string(kAuthPrefix) + std::string(auth_suffix(auth)),
                                           app.hit_region_rect(UiCommand::set_auth(auth)));
            option.checked = toggled(app.form.auth == auth);
            auths.push_back(std::move(option));
        }
        children.push_back(structural(AccessRole::Group, "Authentication", "remote.form.authentication")
                               .with_children(std::move(auths)));
    }

    const std::vector<std::string> problems = app.form_problems();
    if (!problems.empty())
        children.push_back(live_text(fmt::format("{}", fmt::join(problems, ". ")), "remote.form.problems"));

    std::vector<AccessNode> actions;
    actions.push_back(
        button_access_node("Cancel", "remote.form.cancel", app.hit_region_rect(UiCommand::plain(Cmd::CancelForm))));
    actions.push_back(button_access_node("Save connection", "remote.form.save",
                                         app.hit_region_rect(UiCommand::plain(Cmd::SaveForm))));
    if (app.screen.kind == Screen::Kind::EditForm)
        actions.push_back(
            button_access_node("Delete connection", connection_element_id(app.screen.id, "delete"),
                               app.hit_region_rect(UiCommand::with_id(Cmd::RequestDelete, app.screen.id))));
    children.push_back(
        structural(AccessRole::Toolbar, "Form actions", "remote.form.actions").with_children(std::move(actions)));

    return AccessNode(AccessRole::Group).with_label(title).with_children(std::move(children));
}

std::string status_text(const std::optional<SessionStatus>& status) {
    if (!status) return "Not connected";
    switch (status->kind) {
        case SessionStatus::Kind::Connecting: return "Connecting";
        case SessionStatus::Kind::Connected: return "Connected";
        case SessionStatus::Kind::Ended: return "Session ended";
        case SessionStatus::Kind::Unavailable: return "Not available: " + status->text;
        case SessionStatus::Kind::Failed: return "Connection failed: " + status->text;
    }
    return "Not connected";
}

AccessNode session_screen(const RemoteApp& app) {
    const Uuid& id = app.screen.id;
    const SavedConnection* c = find_connection(app.connections, id);
    const std::optional<SessionStatus> status = app.session.status();
    const auto is = [&](SessionStatus::Kind kind) { return status && status->kind == kind; };
    const bool terminal = c != nullptr && c->kind == ConnectionKind::Ssh;

    std::vector<AccessNode> children;
    children.push_back(structural(AccessRole::Heading, c ? c->name : "Remote session", "remote.session.heading"));
    children.push_back(live_text(status_text(status), "remote.session.status"));
    if (is(SessionStatus::Kind::Connected)) {
        AccessNode surface = structural(terminal ? AccessRole::Terminal : AccessRole::Canvas,
                                        terminal ? "Interactive SSH terminal" : "Interactive remote desktop",
                                        "remote.session.surface")
                                 .with_description("Keyboard and pointer input are sent to the remote machine");
        // The terminal's text is what its screen shows, its caret the cursor.
        if (const Terminal* grid = terminal ? app.session.terminal() : nullptr) {
            views::TerminalText screen = views::terminal_text(*grid);
            surface = std::move(surface).with_value(std::move(screen.text)).with_caret(screen.cursor);
        }
        // It takes the keys, which go to the remote machine.
        surface.focusable = true;
        surface.focused = !app.confirmation;
        children.push_back(std::move(surface));
        if (c != nullptr && !terminal) {
            AccessNode scale = actionable(AccessRole::ToggleButton, "Scale remote desktop to fit",
                                          "remote.session.scale",
                                          app.hit_region_rect(UiCommand::plain(Cmd::ToggleScale)));
            scale.checked = toggled(app.session.scale_to_fit());
            children.push_back(std::move(scale));
            children.push_back(button_access_node(app.session.fullscreen() ? "Exit fullscreen" : "Enter fullscreen",
                                                  "remote.session.fullscreen",
                                                  app.hit_region_rect(UiCommand::plain(Cmd::ToggleFullscreen))));
        }
    }
    // The host-key decision the session card offers, so that it can be made without a pointer too.
    if (terminal) {
        if (const auto problem = app.session.host_key_problem(id)) {
            if (std::holds_alternative<HostKeyUnknown>(*problem))
                children.push_back(
                    button_access_node("Trust SSH host key", connection_element_id(id, "trust-host-key"),
                                       app.hit_region_rect(UiCommand::with_id(Cmd::RequestTrustHostKey, id))));
            else if (std::holds_alternative<HostKeyChanged>(*problem))
                children.push_back(
                    button_access_node("Forget SSH host key", connection_element_id(id, "forget-host-key"),
                                       app.hit_region_rect(UiCommand::with_id(Cmd::RequestForgetHostKey, id))));
        }
    }
    if (is(SessionStatus::Kind::Failed))
        children.push_back(button_access_node("Retry connection", connection_element_id(id, "connect"),
                                              app.hit_region_rect(UiCommand::with_id(Cmd::RequestConnect, id))));
    if (is(SessionStatus::Kind::Unavailable))
        children.push_back(button_access_node("Edit connection", connection_element_id(id, "edit"),
                                              app.hit_region_rect(UiCommand::with_id(Cmd::EditConnection, id))));
    children.push_back(button_access_node(is(SessionStatus::Kind::Connected) ? "Disconnect" : "Back to list",
                                          "remote.session.disconnect",
                                          app.hit_region_rect(UiCommand::plain(Cmd::Disconnect))));
    return AccessNode(AccessRole::Group).with_label("Remote session").with_children(std::move(children));
}

AccessNode dialog(const RemoteApp& app, const ConfirmationRequest& request) {
    const SavedConnection* c = find_connection(app.connections, request.id);
    const std::string name = c ? c->name : "this saved connection";
    std::string title, body, confirm;
    switch (request.kind) {
        case ConfirmationRequest::Kind::Connect:
            title = fmt::format("Connect to {}?", name);
            body = "The target and access are rechecked before a remote session opens.";
            confirm = "Connect";
            break;
        case ConfirmationRequest::Kind::Delete:
            title = fmt::format("Delete {}?", name);
            body = "This removes the shared saved profile, not the remote machine.";
            confirm = "Delete";
            break;
        case ConfirmationRequest::Kind::TrustHostKey:
            title = fmt::format("Trust SSH key for {}?", name);
            body = fmt::format(
                "Verify {} {} out of band. This device-private trust is checked again before connecting.",
                request.identity.algorithm, request.identity.fingerprint);
            confirm = "Trust key";
            break;
        case ConfirmationRequest::Kind::ForgetHostKey:
            title = fmt::format("Forget SSH key for {}?", name);
            body = "Remove this device-private pin, then reconnect to inspect a replacement key before trusting it.";
            confirm = "Forget key";
            break;
    }
    std::vector<AccessNode> buttons;
    buttons.push_back(button_access_node("Cancel", "remote.confirmation.cancel",
                                         app.hit_region_rect(UiCommand::plain(Cmd::CancelConfirmation))));
    buttons.push_back(button_access_node(std::move(confirm), "remote.confirmation.confirm",
                                         app.hit_region_rect(UiCommand::plain(Cmd::Confirm))));
    AccessNode node = AccessNode(AccessRole::Dialog)
                          .with_label(std::move(title))
                          .with_description(std::move(body))
                          .with_children(std::move(buttons));
    node.bounds = app.window_bounds;
    node.focusable = true;
    node.modal = true;
    return node;
}

bool any_of(SemanticActionKind kind, std::initializer_list<SemanticActionKind> kinds) {
    for (SemanticActionKind k : kinds)
        if (k == kind) return true;
    return false;
}

std::optional<std::string_view> after_prefix(std::string_view id, std::string_view prefix) {
    if (!id.starts_with(prefix)) return std::nullopt;
    return id.substr(prefix.size());
}

// An unsigned decimal: digits, optionally after one "+", no larger than the largest 64-bit value.
std::optional<std::uint64_t> parse_index(std::string_view text) {
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Set value on a field: the model text and the input take the new text, and the field is focused.
void set_field_text(RemoteApp& app, InputSlot slot, std::string text) {
    if (slot == InputSlot::Port) text = digits_only(text);
    app.model_text(slot) = text;
    app.input_mut(slot).set_text(std::move(text));
    app.focus_input(slot);
    if (slot == InputSlot::Search) {
        app.selected = app.first_visible_connection();
        app.list_scroll = 0.0;
    }
}

std::optional<UiCommand> fixed_command(std::string_view id, SemanticActionKind kind) {
    using K = SemanticActionKind;
    if (id == "remote.session.scale")
        return any_of(kind, {K::Activate, K::Toggle}) ? std::optional(UiCommand::plain(Cmd::ToggleScale))
                                                      : std::nullopt;
    if (kind != K::Activate) return std::nullopt;
    static constexpr std::pair<std::string_view, Cmd> fixed[] = {
        {"remote.nav.toggle", Cmd::ToggleNavigation},
        {"remote.nav.list", Cmd::ShowConnections},
        {"remote.connection.new", Cmd::NewConnectionForm},
        {"remote.form.cancel", Cmd::CancelForm},
        {"remote.form.save", Cmd::SaveForm},
        {"remote.session.disconnect", Cmd::Disconnect},
        {"remote.session.fullscreen", Cmd::ToggleFullscreen},
    };
    for (const auto& [text, command] : fixed)
        if (id == text) return UiCommand::plain(command);
    return std::nullopt;
}

std::optional<UiCommand> connection_command(const Uuid& id, std::string_view action, SemanticActionKind kind) {
    using K = SemanticActionKind;
    const auto with = [&](Cmd command) { return std::optional(UiCommand::with_id(command, id)); };
    if (action == "select" && any_of(kind, {K::Activate, K::Focus})) return with(Cmd::Select);
    if (action == "favorite" && any_of(kind, {K::Activate, K::Toggle})) return with(Cmd::ToggleFavorite);
    if (kind != K::Activate) return std::nullopt;
    if (action == "edit") return with(Cmd::EditConnection);
    if (action == "connect") return with(Cmd::RequestConnect);
    if (action == "delete") return with(Cmd::RequestDelete);
    if (action == "trust-host-key") return with(Cmd::RequestTrustHostKey);
    if (action == "forget-host-key") return with(Cmd::RequestForgetHostKey);
    return std::nullopt;
}

}  // namespace

std::optional<zavo_ui::a11y::AccessNode> RemoteApp::accessibility_tree() {
    std::vector<AccessNode> children;
    children.push_back(
        AccessNode(AccessRole::Toolbar).with_label("Remote navigation").with_children(navigation_items(*this)));
    switch (screen.kind) {
        case Screen::Kind::List: children.push_back(list_screen(*this)); break;
        case Screen::Kind::NewForm:
        case Screen::Kind::EditForm: children.push_back(form_screen(*this)); break;
        case Screen::Kind::Session: children.push_back(session_screen(*this)); break;
    }
    if (confirmation) children.push_back(dialog(*this, *confirmation));
    if (notice) {
        // The banner's title says what the notice is about.
        children.push_back(live_text(notice->text, "remote.action.notice"));
        children.back().description = std::string(notice->title);
    }
    AccessNode root = AccessNode(AccessRole::Window).with_label("Remote").with_children(std::move(children));
    root.bounds = window_bounds;
    return root;
}

bool RemoteApp::activate_element(std::string_view id, const SemanticAction& action, zavo_ui::EventContext& ctx) {
    using K = SemanticActionKind;
    const K kind = action.kind;
    std::optional<UiCommand> command;
    if (confirmation) {
        if (kind != K::Activate) return false;
        if (id == "remote.confirmation.cancel") command = UiCommand::plain(Cmd::CancelConfirmation);
        if (id == "remote.confirmation.confirm") command = UiCommand::plain(Cmd::Confirm);
    } else if (auto suffix = after_prefix(id, kFieldPrefix)) {
        const auto slot = slot_from_suffix(*suffix);
        if (!slot) return false;
        if (any_of(kind, {K::Activate, K::Focus})) {
            focus_input(*slot);
        } else if (kind == K::SetValue) {
            set_field_text(*this, *slot, action.text.value_or(""));
        } else {
            return false;
        }
        redraw_needed = true;
        return true;
    } else if (auto suffix = after_prefix(id, kKindPrefix)) {
        if (any_of(kind, {K::Activate, K::Toggle})) command = UiCommand::set_kind(connection_kind_from_label(*suffix));
    } else if (auto suffix = after_prefix(id, kAuthPrefix)) {
        const AuthKind auth = auth_from_suffix(*suffix);
        if (any_of(kind, {K::Activate, K::Toggle}) && supports_auth(auth, form.kind))
            command = UiCommand::set_auth(auth);
    } else if (auto suffix = after_prefix(id, kDevicePrefix)) {
        const auto index = parse_index(*suffix);
        if (index && any_of(kind, {K::Activate, K::Focus})) command = UiCommand::use_discovered_device(*index);
    } else if (auto rest = after_prefix(id, kConnectionPrefix)) {
        const std::size_t colon = rest->rfind(':');
        if (colon == std::string_view::npos) return false;
        const auto uuid = Uuid::parse(rest->substr(0, colon));
        if (!uuid) return false;
        const std::string_view what = rest->substr(colon + 1);
        if (what == "select" && kind == K::ScrollIntoView) {
            const std::vector<std::size_t>& rows = list_cache.visible(connections, search_query);
            for (std::size_t i = 0; i < rows.size(); ++i) {
                if (connections[rows[i]].id != *uuid) continue;
                selected = *uuid;
                scroll_row_into_view(i, rows.size());
                redraw_needed = true;
                return true;
            }
            return false;
        }
        command = connection_command(*uuid, what, kind);
    } else {
        command = fixed_command(id, kind);
    }
    if (!command) return false;
    execute(*command, ctx.document);
    return true;
}

}  // namespace remote::app
