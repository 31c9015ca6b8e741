// The controller: every command the window, the keyboard and assistive technology send, the
// confirmation dialog with its change check, the notices, and the text inputs' focus.
#include "app/remote_app.hpp"
#include "codecs/codecs.hpp"
#include "framework_support/action_specs.hpp"
#include "profiles/connection_list.hpp"
#include "profiles/text.hpp"

#include <fmt/format.h>

#include <string_view>
#include <utility>

namespace remote::app {

namespace {

// Who dispatched an action, as the document's history records it.
constexpr std::string_view kActionSourceId = "dev.zavo.remote.desktop";
constexpr std::string_view kActionSourceName = "Remote";

constexpr std::string_view kMissingConnection = "That saved connection no longer exists.";
constexpr std::string_view kStorageUnavailable = "Could not use private SSH host-key storage: {}";

bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

void dispatch(RemoteApp& app, crdt::Document& document, const RemoteAction& action) {
    app.action_host.dispatch_with_context(
        document, kRemoteActionType, action,
        framework_support::context_for_action(kActionSourceId, kActionSourceName, action));
}

constexpr InputSlot kSlots[] = {InputSlot::Search, InputSlot::Name, InputSlot::Host,
                                InputSlot::Port,   InputSlot::User, InputSlot::Group};

}  // namespace

std::string& RemoteApp::model_text(InputSlot slot) {
    switch (slot) {
        case InputSlot::Search: return search_query;
        case InputSlot::Name: return form.name;
        case InputSlot::Host: return form.host;
        case InputSlot::Port: return form.port;
        case InputSlot::User: return form.user;
        case InputSlot::Group: return form.group;
    }
    return search_query;
}

void RemoteApp::execute(const UiCommand& command, crdt::Document& document) {
    using K = UiCommand::Kind;
    redraw_needed = true;
    const Uuid* id = command.id();
    switch (command.kind) {
        case K::ShowConnections:
        case K::CancelForm:
            screen = Screen::list();
            blur_input();
            close_nav_when_narrow();
            break;
        case K::NewConnectionForm:
            blur_input();  // a field left on the form shown before touches that form, not this one
            form = ConnectionForm{};
            touched = {};
            screen = Screen::new_form();
            form_scroll = 0.0;
            load_form_into_inputs();
            focus_input(InputSlot::Name);
            close_nav_when_narrow();
            break;
        case K::EditConnection:
            if (const SavedConnection* c = id ? find_connection(connections, *id) : nullptr) {
                blur_input();
                form = ConnectionForm::from_connection(*c);
                touched = {};
                screen = Screen::edit_form(*id);
                form_scroll = 0.0;
                load_form_into_inputs();
                focus_input(InputSlot::Name);
            }
            break;
        case K::Connect:
            if (id) start_session(*id);
            break;
        case K::RequestConnect:
            if (id) request_connect(*id);
            break;
        case K::Select:
            if (id) selected = *id;
            break;
        case K::ToggleFavorite:
            if (const SavedConnection* c = id ? find_connection(connections, *id) : nullptr) {
                const bool favorite = !c->favorite;
                toggle_favorite(connections, *id);
                dispatch(*this, document, RemoteAction{RemoteAction::SetFavorite{*id, favorite}});
            }
            break;
        case K::RequestDelete:
            if (id) request_delete(*id);
            break;
        case K::RequestTrustHostKey:
            if (const SavedConnection* c = id ? find_connection(connections, *id) : nullptr) {
                const auto problem = session.host_key_problem(*id);
                if (const auto* unknown = problem ? std::get_if<HostKeyUnknown>(&*problem) : nullptr)
                    confirmation = ConfirmationRequest{ConfirmationRequest::Kind::TrustHostKey, confirmation_key(*c),
                                                       unknown->presented, *id};
                else
                    notice = Notice{
                        "No new SSH host key is waiting for trust. Changed keys must be forgotten before they can be "
                        "reviewed again."};
            }
            break;
        case K::RequestForgetHostKey:
            if (const SavedConnection* c = id ? find_connection(connections, *id) : nullptr) {
                const auto problem = session.host_key_problem(*id);
                if (problem && std::holds_alternative<HostKeyChanged>(*problem))
                    confirmation = ConfirmationRequest{
                        ConfirmationRequest::Kind::ForgetHostKey, confirmation_key(*c), {}, *id};
                else
                    notice = Notice{
                        "Only a currently changed SSH host key can be forgotten. Reconnect to revalidate this target "
                        "first."};
            }
            break;
        case K::Confirm:
            if (auto request = std::exchange(confirmation, std::nullopt)) confirm(*request, document);
            break;
        case K::CancelConfirmation:
            confirmation.reset();
            notice = Notice{"Action cancelled. No connection or profile was changed."};
            break;
        case K::FocusInput:
            if (const auto* slot = std::get_if<InputSlot>(&command.value)) focus_input(*slot);
            break;
        case K::SetKind:
            if (const auto* kind = std::get_if<ConnectionKind>(&command.value)) set_form_kind(*kind);
            break;
        case K::SetAuth:
            if (const auto* auth = std::get_if<AuthKind>(&command.value)) form.auth = *auth;
            break;
        case K::SaveForm: save_form(document); break;
        case K::ToggleScale: session.set_scale_to_fit(!session.scale_to_fit()); break;
        case K::ToggleFullscreen: session.set_fullscreen(!session.fullscreen()); break;
        case K::Disconnect: end_session(); break;
        case K::UseDiscoveredDevice:
            if (const auto* index = std::get_if<std::uint64_t>(&command.value); index && *index < devices.size()) {
                const DiscoveredDevice& device = devices[*index];
                form.name = device.name;
                form.host = device.endpoint_id;
                form.kind = ConnectionKind::Zavo;
                form.auth = AuthKind::DeviceIdentity;
                form.port.clear();
                load_form_into_inputs();
                focus_input(InputSlot::Name);
            }
            break;
        case K::ToggleNavigation: {
            nav_choice = !nav_open();
            break;
        }
    }
}

void RemoteApp::execute(const UiCommand& command, crdt::Document* document) {
    if (document != nullptr) return execute(command, *document);
    crdt::Document scratch;
    execute(command, scratch);
}

void RemoteApp::confirm(const ConfirmationRequest& request, crdt::Document& document) {
    using Kind = ConfirmationRequest::Kind;
    const SavedConnection* found = find_connection(connections, request.id);
    if (!found) {
        notice = Notice{"The saved connection was removed before confirmation."};
        return;
    }
    if (confirmation_key(*found) != request.key) {
        notice = Notice{
            "This connection changed while confirmation was open. Review the current profile, then try again."};
        return;
    }
    switch (request.kind) {
        case Kind::Connect: start_session(request.id); return;
        case Kind::Delete:
            remove_connection(connections, request.id);
            dispatch(*this, document, RemoteAction{RemoteAction::DeleteConnection{request.id}});
            if (selected == request.id) selected = first_visible_connection();
            // Its session ends here: the next sync finds the document as memory has it.
            if (session.target() == request.id) end_session();
            // The form of a connection that is gone would only save it back.
            if (screen == Screen::edit_form(request.id)) {
                screen = Screen::list();
                blur_input();
            }
            return;
        case Kind::TrustHostKey:
            // Host and port as stored now; the key check makes them the ones the dialog showed.
            if (auto trusted = session.trust_host_key(*found, request.identity); !trusted) {
                notice = Notice{
                    trusted.error().text("The observed SSH host key changed before it was trusted. Review it again.",
                                         kStorageUnavailable, "Could not save SSH host-key trust: {}")};
                return;
            }
            start_session(request.id);
            return;
        case Kind::ForgetHostKey: {
            const auto removed = session.forget_host_key(*found);
            if (!removed) {
                notice = Notice{removed.error().text(
                    "The SSH host key is no longer the changed key you approved for removal. Reconnect to review it "
                    "again.",
                    kStorageUnavailable, "Could not forget SSH host-key trust: {}")};
            } else if (*removed) {
                notice = Notice{
                    "Forgot the local SSH host-key pin. Reconnect to review the next key before trusting it."};
                end_session();
            } else {
                notice = Notice{"No local SSH host-key pin was found for this target."};
            }
            return;
        }
    }
}

void RemoteApp::set_form_kind(ConnectionKind kind) {
    const std::optional<std::uint16_t> previous_default = default_port(form.kind);
    form.kind = kind;
    if (kind == ConnectionKind::Zavo) {
        form.port.clear();
        form.auth = AuthKind::DeviceIdentity;
    } else {
        // No port, or the one the previous kind filled in: this kind's own. A port the user
        // chose stays.
        const std::string_view port = trim_unicode(form.port);
        if (port.empty() || port == "0" || (previous_default && parse_port(port) == previous_default))
            form.port = std::to_string(default_port(kind).value_or(0));
    }
    if (!supports_auth(form.auth, kind)) form.auth = allowed_auth(kind).front();
    load_form_into_inputs();
}

void RemoteApp::save_form(crdt::Document& document) {
    const bool editing = screen.kind == Screen::Kind::EditForm;
    const SavedConnection* existing = editing ? find_connection(connections, screen.id) : nullptr;
    if (editing && !existing) {  // deleted while the form was open: not brought back under its id
        notice = Notice{"The saved connection was removed while it was being edited, so it was not saved again."};
        return;
    }
    if (!form.problems().empty()) {
        touched.show_all = true;
        if (trim_unicode(form.name).empty())
            focus_input(InputSlot::Name);
        else if (trim_unicode(form.host).empty() || form.kind == ConnectionKind::Zavo)
            focus_input(InputSlot::Host);
        else if (trim_unicode(form.port).empty())
            focus_input(InputSlot::Port);
        return;
    }
    const Uuid id = editing ? screen.id : Uuid::new_v4();
    SavedConnection record = form.to_connection(id);
    if (existing) {
        record.favorite = existing->favorite;
        record.presence = existing->presence;
        record.last_used = existing->last_used;
    }
    const RemoteAction action = upsert_action(record);
    upsert_connection(connections, std::move(record));
    dispatch(*this, document, action);
    selected = id;
    screen = Screen::list();
    blur_input();
}

void RemoteApp::request_connect(const Uuid& id) {
    const SavedConnection* c = find_connection(connections, id);
    if (!c) {
        notice = Notice{std::string(kMissingConnection)};
        return;
    }
    if (session.running_for(*c)) {
        // Its session is still there, to the target it names: back to it, never a second one
        // in its place. A session to a target edited since asks like any connect.
        screen = Screen::session(id);
        blur_input();
        close_nav_when_narrow();
        return;
    }
    if (c->readiness() != ConnectionReadiness::Ready) {
        start_session(id);
        return;
    }
    notice.reset();
    confirmation = ConfirmationRequest{ConfirmationRequest::Kind::Connect, confirmation_key(*c), {}, id};
    blur_input();
}

void RemoteApp::request_delete(const Uuid& id) {
    const SavedConnection* c = find_connection(connections, id);
    if (!c) {
        notice = Notice{std::string(kMissingConnection)};
        return;
    }
    notice.reset();
    confirmation = ConfirmationRequest{ConfirmationRequest::Kind::Delete, confirmation_key(*c), {}, id};
    blur_input();
}

void RemoteApp::focus_input(InputSlot slot) {
    blur_input();
    focused = slot;
    form_reveal_focus = true;
    input_mut(slot).focus();
}

void RemoteApp::blur_input() {
    const auto slot = std::exchange(focused, std::nullopt);
    if (!slot) return;
    input_mut(*slot).blur();
    if (screen.is_form()) {
        if (*slot == InputSlot::Name) touched.name = true;
        if (*slot == InputSlot::Host) touched.host = true;
        if (*slot == InputSlot::Port) touched.port = true;
    }
    redraw_needed = true;
}

bool RemoteApp::route_text_input(const zavo_ui::event::Event& event, zavo_ui::event::Modifiers modifiers,
                                 zavo_ui::EventContext& ctx, double scale_factor) {
    if (!focused) return false;
    auto& input = input_mut(*focused);
    const std::string before = input.text();
    input.focus();
    bool consumed = false;
    input.handle_event(event, modifiers, ctx, consumed, scale_factor);
    if (input.text() != before) {
        std::string text = input.text();
        if (*focused == InputSlot::Port) {
            std::string digits = digits_only(text);
            if (digits != text) input.set_text_with_cursor_at_end(digits);
            text = std::move(digits);
        }
        model_text(*focused) = std::move(text);
    }
    redraw_needed = true;
    return consumed;
}

void RemoteApp::refresh_inputs() {
    for (InputSlot slot : kSlots) {
        if (slot == focused) continue;
        const std::string& model = model_text(slot);
        if (input_mut(slot).text() != model) input_mut(slot).set_text(model);
    }
}

void RemoteApp::load_form_into_inputs() {
    input_mut(InputSlot::Host).placeholder = form.kind == ConnectionKind::Zavo
                                                 ? "certified Zavo endpoint id"
                                                 : std::string(field_placeholder(InputSlot::Host));
    for (InputSlot slot : kSlots) input_mut(slot).set_text_with_cursor_at_end(model_text(slot));
}

std::vector<std::string> RemoteApp::form_problems() const {
    std::vector<std::string> shown;
    for (std::string& problem : form.problems()) {
        const bool visible = touched.show_all || (touched.name && starts_with(problem, "Name is required")) ||
                             (touched.host && (starts_with(problem, "Host is required") ||
                                               starts_with(problem,
                                                           "Zavo device node must be an exact certified "
                                                           "endpoint id"))) ||
                             (touched.port && starts_with(problem, "Port"));
        if (visible) shown.push_back(std::move(problem));
    }
    return shown;
}

namespace {

void push_region(std::vector<HitRegion>& regions, const std::optional<zavo_ui::Rect>& clip, HitRegion region) {
    if (clip) region.rect = region.rect.intersect(*clip);
    if (!clip || !region.rect.is_empty()) regions.push_back(std::move(region));
}

}  // namespace

void RemoteApp::push_hit_region(const zavo_ui::Rect& rect, UiCommand command) {
    push_region(hit_regions, hit_clip, {rect, std::move(command)});
}

void RemoteApp::push_hit_region(const zavo_ui::Rect& rect, HitRegion::Role role) {
    push_region(hit_regions, hit_clip, {rect, {}, role});
}

const HitRegion* RemoteApp::topmost_region(zavo_ui::Point point) const {
    for (auto it = hit_regions.rbegin(); it != hit_regions.rend(); ++it)
        if (it->rect.contains(point)) return &*it;
    return nullptr;
}

std::optional<zavo_ui::Rect> RemoteApp::hit_region_rect(const UiCommand& command) const {
    for (auto it = hit_regions.rbegin(); it != hit_regions.rend(); ++it)
        if (it->role == HitRegion::Role::Control && it->command == command) return it->rect;
    return std::nullopt;
}

void RemoteApp::close_nav_when_narrow() {
    if (narrow && nav_choice == true) nav_choice = false;
}

}  // namespace remote::app
