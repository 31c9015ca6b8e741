// Pointer, wheel, button and key events: hit regions become commands, keys become shortcuts or
// are translated for the live session, and the rest goes to the focused text input.
#include <algorithm>
#include <limits>

#include "app/remote_app.hpp"
#include "profiles/connection_list.hpp"
#include "shared/overloaded.hpp"
#include "views/keys.hpp"
#include "views/session_screen.hpp"

namespace remote::app {

namespace {

namespace ev = zavo_ui::event;
using Kind = UiCommand::Kind;

constexpr double LOGICAL_PIXELS_PER_LINE = 48.0;

std::optional<std::string> hover_tooltip_text(const RemoteApp& app, const UiCommand& command) {
    switch (command.kind) {
        case Kind::ShowConnections: return "Connections";
        case Kind::NewConnectionForm:
            return app.session_has_keyboard() ? "Add connection (Ctrl+Shift+N)" : "Add connection (Ctrl+N)";
        case Kind::ToggleFavorite: {
            const SavedConnection* c = command.id() ? find_connection(app.connections, *command.id()) : nullptr;
            if (!c) return std::nullopt;
            return c->favorite ? "Remove from favourites" : "Add to favourites";
        }
        case Kind::ToggleNavigation: return app.nav_open() ? "Close navigation" : "Open navigation";
        default: return std::nullopt;
    }
}

class EventHandler {
public:
    EventHandler(RemoteApp& app, const ev::Event& event, ev::Modifiers modifiers, zavo_ui::EventContext& ctx,
                 bool& handled, double scale)
        : app_(app), event_(event), modifiers_(modifiers), ctx_(ctx), handled_(handled), scale_(scale) {}

    void run() {
        if (const auto* moved = std::get_if<ev::PointerMoved>(&event_)) return pointer_moved(*moved);
        if (app_.tooltip.dismiss()) app_.redraw_needed = true;
        std::visit(Overloaded{
                       [&](const ev::Wheel& wheel) { this->wheel(wheel); },
                       [&](const ev::Button& button) { this->button(button); },
                       [&](const ev::Key& key) { this->key(key); },
                       // Text composed by an input method goes to the focused input.
                       [&](const ev::TextCommit&) { route_to_input(); },
                       // Keys released elsewhere now: the remote must not hold them.
                       [&](const ev::FocusLost&) { app_.session.release_keys(); },
                       [](const auto&) {},
                   },
                   event_);
    }

private:
    // Actions go against the framework's document, when there is one.
    void execute(const UiCommand& command) { app_.execute(command, ctx_.document); }

    bool route_text_input() { return app_.route_text_input(event_, modifiers_, ctx_, scale_); }

    void route_to_input() {
        if (!handled_ && app_.focused) handled_ = route_text_input();
    }

    void pointer_moved(const ev::PointerMoved& moved) {
        const zavo_ui::Point position{moved.x / scale_, moved.y / scale_};
        const HitRegion* region = app_.topmost_region(position);
        if (position.x != app_.pointer.x || position.y != app_.pointer.y) {
            app_.pointer = position;
            app_.redraw_needed = true;
            if (on_picture(region)) app_.session.pointer_moved(position);
        }
        std::optional<zavo_ui::widget::tooltip::HoverTarget> target;
        if (region && region->role == HitRegion::Role::Control)
            if (auto text = hover_tooltip_text(app_, region->command)) target = {{region->rect, std::move(*text)}};
        if (app_.tooltip.on_pointer(std::move(target), ctx_.now)) app_.redraw_needed = true;
        if (app_.focused) route_text_input();  // drag selection
    }

    // The wheel scrolls the list or the form within the range their last paint left.
    void wheel(const ev::Wheel& wheel) {
        const bool list = app_.screen.kind == Screen::Kind::List;
        if (app_.confirmation || !(list || app_.screen.is_form())) return;
        double& scroll = list ? app_.list_scroll : app_.form_scroll;
        const double max = list ? app_.list_scroll_max : app_.form_scroll_max;
        const double delta = std::visit(
            Overloaded{
                [&](const ev::PixelDelta& d) { return -d.y / scale_; },
                [](const ev::LineDelta& d) { return static_cast<double>(d.y) * -LOGICAL_PIXELS_PER_LINE; },
            },
            wheel.delta);
        const double scrolled = std::max(0.0, std::min(scroll + delta, max));
        if (std::abs(scrolled - scroll) > std::numeric_limits<double>::epsilon()) {
            scroll = scrolled;
            app_.redraw_needed = true;
        }
        handled_ = true;
    }

    // Whether the pointer over `region` is over the remote picture as this frame shows it, with
    // no dialog above it: only there does the live session get pointer input.
    bool on_picture(const HitRegion* region) const {
        return !app_.confirmation && region && region->role == HitRegion::Role::Picture;
    }

    void button(const ev::Button& button) {
        const bool pressed = button.state == ev::ElementState::Pressed;
        const zavo_ui::Point at = app_.pointer;
        const HitRegion* region = app_.topmost_region(at);
        // A connected remote picture under the pointer takes every button; a button it was sent
        // pressed comes up there wherever the pointer is now.
        if (app_.session.pointer_button(button.button, pressed, at, on_picture(region))) {
            handled_ = true;
            return;
        }
        if (!pressed) {
            if (app_.focused) route_text_input();  // ends a drag selection
            return;
        }
        if (button.button != ev::PointerButton::Primary) return;
        if (app_.confirmation) {
            if (region && region->role == HitRegion::Role::Control) {
                const UiCommand command = region->command;
                if (command.kind == Kind::Confirm || command.kind == Kind::CancelConfirmation) execute(command);
            }
            handled_ = true;
            return;
        }
        if (app_.narrow && app_.nav_choice == true) {
            const zavo_ui::Rect& b = app_.window_bounds;
            if (!zavo_ui::Rect{b.x0, b.y0, b.x0 + views::kRailWidth, b.y1}.contains(at)) {
                app_.nav_choice = false;
                app_.redraw_needed = true;
                handled_ = true;
                return;
            }
        }
        if (!region) {
            app_.blur_input();
            return;
        }
        handled_ = true;
        // A cover, or a picture whose session no longer takes the pointer: what lies below it
        // is not what the person clicked.
        if (region->role != HitRegion::Role::Control) return;
        const UiCommand command = region->command;
        if (command.kind == Kind::FocusInput) {
            app_.focus_input(std::get<InputSlot>(command.value));
            route_text_input();  // places the caret under the pointer
        } else {
            execute(command);
        }
    }

    void key(const ev::Key& key) {
        // A connected session on its screen takes every key but the application's shortcuts.
        const bool remote = app_.session_has_keyboard() && !app_.confirmation;
        if (remote && key.pressed() && shortcut(key)) return;
        if (!key.pressed()) {
            if (app_.session.send_key(key, modifiers_)) handled_ = true;  // what a remote desktop holds
            return;
        }
        if (app_.confirmation) {
            if (key.is_named(ev::NamedKey::Escape)) return done_with(UiCommand::plain(Kind::CancelConfirmation));
            if (key.is_named(ev::NamedKey::Enter)) return done_with(UiCommand::plain(Kind::Confirm));
            return route_to_input();
        }
        if (!remote && shortcut(key)) return;
        if (key.is_named(ev::NamedKey::Escape) && app_.session.fullscreen()) return escape();
        if (forward_to_session(key)) return;
        if (key.character()) {
            if (key.text == "/" && app_.screen.kind == Screen::Kind::List && !app_.focused) {
                app_.focus_input(InputSlot::Search);
                handled_ = true;
                return;
            }
            return route_to_input();
        }
        if (const auto* named = std::get_if<ev::NamedKey>(&key.logical)) return named_key(*named);
        route_to_input();
    }

    void done_with(const UiCommand& command) {
        execute(command);
        handled_ = true;
    }

    // Control or Super with N, F or W; Control+Shift where a session has the keyboard, as
    // terminal emulators take theirs.
    bool shortcut(const ev::Key& key) {
        const std::string* character = key.character();
        const bool held = app_.session_has_keyboard() ? modifiers_.control() && modifiers_.shift()
                                                      : modifiers_.control() || modifiers_.super_key();
        if (!character || !held) return false;
        std::string lower = *character;
        std::ranges::transform(lower, lower.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; });
        if (lower == "n") {
            done_with(UiCommand::plain(Kind::NewConnectionForm));
        } else if (lower == "f") {
            execute(UiCommand::focus_input(InputSlot::Search));
            if (app_.screen.kind != Screen::Kind::List) {
                execute(UiCommand::plain(Kind::ShowConnections));
                execute(UiCommand::focus_input(InputSlot::Search));
            }
            handled_ = true;
        } else if (lower == "w" && app_.screen.kind == Screen::Kind::Session) {
            done_with(UiCommand::plain(Kind::Disconnect));
        } else {
            return false;
        }
        return true;
    }

    bool forward_to_session(const ev::Key& key) {
        if (app_.screen.kind != Screen::Kind::Session || !app_.session.send_key(key, modifiers_)) return false;
        app_.redraw_needed = true;
        handled_ = true;
        return true;
    }

    void escape() {
        handled_ = true;
        if (app_.narrow && app_.nav_choice == true) {
            app_.nav_choice = false;
            app_.redraw_needed = true;
            return;
        }
        switch (app_.screen.kind) {
            case Screen::Kind::List:
                if (app_.focused == InputSlot::Search) {
                    app_.search_query.clear();
                    app_.blur_input();
                    app_.refresh_inputs();
                }
                return;
            case Screen::Kind::NewForm:
            case Screen::Kind::EditForm: return execute(UiCommand::plain(Kind::CancelForm));
            case Screen::Kind::Session:
                if (app_.session.fullscreen()) {
                    app_.session.set_fullscreen(false);
                    app_.redraw_needed = true;
                    return;
                }
                return execute(UiCommand::plain(Kind::CancelForm));
        }
    }

    void named_key(ev::NamedKey key) {
        switch (key) {
            case ev::NamedKey::Enter:
                if (app_.screen.kind == Screen::Kind::List && app_.selected) {
                    execute(UiCommand::with_id(Kind::RequestConnect, *app_.selected));
                } else if (app_.screen.is_form()) {
                    execute(UiCommand::plain(Kind::SaveForm));
                }
                handled_ = true;
                return;
            case ev::NamedKey::Tab:
                if (app_.screen.is_form()) return tab();
                break;
            case ev::NamedKey::ArrowDown:
            case ev::NamedKey::ArrowUp:
                if (app_.screen.kind == Screen::Kind::List && !app_.focused)
                    return walk_rows(key == ev::NamedKey::ArrowDown);
                break;
            case ev::NamedKey::Escape: return escape();
            default: break;
        }
        route_to_input();
    }

    void tab() {
        const auto order = views::form_tab_order(app_.form.kind);
        InputSlot next = order.front();
        if (app_.focused) {
            const auto it = std::ranges::find(order, *app_.focused);
            next = it == order.end() ? order[1] : (it + 1 == order.end() ? order.front() : *(it + 1));
        }
        app_.focus_input(next);
        handled_ = true;
    }

    void walk_rows(bool down) {
        handled_ = true;
        const auto& rows = app_.list_cache.visible(app_.connections, app_.search_query);
        const std::size_t n = rows.size();
        if (n == 0) return;
        auto id_at = [&](std::size_t row) { return app_.connections[rows[row]].id; };
        std::size_t i = 0;
        while (app_.selected && i < n && id_at(i) != *app_.selected) ++i;
        if (i == n) i = 0;  // the selection is not in view: start from the top
        const std::size_t j = down ? std::min(i + 1, n - 1) : (i == 0 ? 0 : i - 1);
        app_.selected = id_at(j);
        app_.scroll_row_into_view(j, n);
        app_.redraw_needed = true;
    }

    RemoteApp& app_;
    const ev::Event& event_;
    ev::Modifiers modifiers_;
    zavo_ui::EventContext& ctx_;
    bool& handled_;
    double scale_;
};

}  // namespace

void RemoteApp::handle_event(const zavo_ui::event::Event& event, zavo_ui::event::Modifiers modifiers,
                             zavo_ui::EventContext& ctx, bool& handled, double scale_factor) {
    EventHandler(*this, event, modifiers, ctx, handled, scale_factor).run();
}

}  // namespace remote::app
