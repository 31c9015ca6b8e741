#pragma once
// The application's whole state and the framework's root widget. It lives on the UI thread;
// the controller, session launch, operations, painting and input change its fields.
#include "app/app_types.hpp"
#include "app/session/session.hpp"
#include "crdt/document.hpp"
#include "profiles/connection_form.hpp"
#include "profiles/connection_list.hpp"
#include "profiles/saved_connection.hpp"
#include "zavo_ui/action_host.hpp"
#include "zavo_ui/device_relay.hpp"
#include "zavo_ui/geometry.hpp"
#include "zavo_ui/image.hpp"
#include "zavo_ui/nav_split.hpp"
#include "zavo_ui/text_input.hpp"
#include "zavo_ui/tooltip.hpp"
#include "zavo_ui/widget.hpp"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace remote::app {

class RemoteApp final : public zavo_ui::Widget, public zavo_ui::device_relay::DeviceSessionSink {
public:
    // Every field at its initial value; the selection is the first connection in display order.
    static std::unique_ptr<RemoteApp> with_data(std::vector<SavedConnection> connections,
                                                std::vector<DiscoveredDevice> devices);
    // No connections and no devices.
    static std::unique_ptr<RemoteApp> new_();
    // The eight sample connections and the four sample devices. The connections' ids follow
    // from `replica` (this device's replica of the document) and their names, so that they stay
    // the same at each start of one device and differ from every other device's; without a
    // replica they are random.
    static std::unique_ptr<RemoteApp> with_sample_data(std::string_view replica = {});

    // "narrow" and "narrow-open" choose the navigation's state at the first layout.
    void apply_view_state(std::string_view name);
    // The review scenes, applied with sample data only.
    void apply_demo_scene(std::string_view name);
    // Shows the first connection of `kind` as a session with `status`; nothing else moves.
    void show_preview_session(ConnectionKind kind, SessionStatus status);
    std::optional<Uuid> first_connection_of_kind(ConnectionKind kind) const;

    // --- the controller (app/controller.cpp)
    // Carries out one command; actions it dispatches go against `document`.
    void execute(const UiCommand& command, crdt::Document& document);
    // The same without a document (none open, or a command that only changes what the window
    // shows): what it would dispatch is dropped.
    void execute(const UiCommand& command, crdt::Document* document);
    void request_connect(const Uuid& id);
    void request_delete(const Uuid& id);
    void focus_input(InputSlot slot);
    void blur_input();
    // Hands the event to the focused input; whether it consumed the event.
    bool route_text_input(const zavo_ui::event::Event& event, zavo_ui::event::Modifiers modifiers,
                          zavo_ui::EventContext& ctx, double scale_factor);
    // Copies the model's texts into every input but the focused one.
    void refresh_inputs();
    // Copies the model's texts into every input, cursors at the end.
    void load_form_into_inputs();
    // The form problems that may be shown now.
    std::vector<std::string> form_problems() const;
    // While `hit_clip` holds a rectangle, a region covers only its part inside it, and one wholly
    // outside is not pushed.
    void push_hit_region(const zavo_ui::Rect& rect, UiCommand command);
    // A region without a command (a cover or the remote picture), clipped the same way.
    void push_hit_region(const zavo_ui::Rect& rect, HitRegion::Role role);
    // The region drawn last under `point`, whatever its role; null where nothing was drawn.
    const HitRegion* topmost_region(zavo_ui::Point point) const;
    // The rectangle of the last control drawn for `command`.
    std::optional<zavo_ui::Rect> hit_region_rect(const UiCommand& command) const;
    void close_nav_when_narrow();

    // --- session launch and end: the session object does the work, these show its screen
    // Launches a session for the saved connection `id` and shows it; an unknown id changes nothing.
    void start_session(const Uuid& id);
    // Ends whatever session there is and shows the list.
    void end_session();
    // Whether the session screen shows a connected session: it takes the keyboard, and the
    // application's own shortcuts take Control+Shift there.
    bool session_has_keyboard() const { return screen.kind == Screen::Kind::Session && session.connected(); }
    // 1.0 (open) or 0.0 (closed): where the navigation flap is heading.
    double flap_target() const;
    // Whether the navigation flap is open: as the person chose, else open on a wide window.
    bool nav_open() const { return nav_choice.value_or(!narrow && nav_default_open); }
    // Puts the flap where it is heading, without animation.
    void snap_nav_flap();

    zavo_ui::widget::text_input::TextInput& input_mut(InputSlot slot) { return inputs[static_cast<std::size_t>(slot)]; }
    // The model text an input edits: the search query or one of the form's fields.
    std::string& model_text(InputSlot slot);
    const std::string& model_text(InputSlot slot) const { return const_cast<RemoteApp*>(this)->model_text(slot); }

    // --- the framework's widget trait
    zavo_ui::device_relay::DeviceSessionSink* device_session_sink() override { return this; }
    void sync_document(crdt::Document& document) override;
    zavo_ui::layout::NodeId build_layout(zavo_ui::layout::LayoutTree& tree,
                                         zavo_ui::layout::NodeWidgetMap& widgets) override;
    void layout(const zavo_ui::layout::LayoutTree& tree, zavo_ui::layout::NodeId node, zavo_ui::Point origin) override;
    std::optional<std::string> widget_name() override { return "RemoteApp"; }
    std::optional<zavo_ui::Rect> bounds() override { return window_bounds; }
    void set_reduced_motion(bool reduced) override;
    bool awaiting_document() override { return !loaded; }
    // Quitting ends the live session like any other end.
    void end_sessions() override { end_session(); }
    // The notice says once that changes are not being saved, or not on this device, and once
    // that they are saved again.
    void document_saving(const zavo_ui::DocumentSaving& saving) override;
    bool wants_animation_frame() override;
    bool needs_redraw() override { return redraw_needed; }
    void collect_damage(std::vector<zavo_ui::Rect>& damage) override;
    void clear_redraw() override { redraw_needed = false; }
    std::optional<std::vector<crdt::ChangeHash>> take_host_pending() override {
        return action_host.take_pending_heads();
    }

    // --- painting, input and accessibility (views/)
    void paint(zavo_ui::Scene& scene, const zavo_ui::Affine& transform, zavo_ui::text_render::TextRenderer& text,
               const zavo_ui::theme::Theme& theme, zavo_ui::DrawContext& draw) override;
    void handle_event(const zavo_ui::event::Event& event, zavo_ui::event::Modifiers modifiers,
                      zavo_ui::EventContext& ctx, bool& handled, double scale_factor) override;
    std::optional<zavo_ui::a11y::AccessNode> accessibility_tree() override;
    bool activate_element(std::string_view element_id, const zavo_ui::a11y::SemanticAction& action,
                          zavo_ui::EventContext& ctx) override;
    // Scrolls the list so that row `index` of `count` visible rows is in view.
    void scroll_row_into_view(std::size_t index, std::size_t count);

    // --- action resources and operations (actions/)
    std::vector<zavo_actions::resource::Resource> action_resources(const crdt::Document& document) override;
    std::vector<std::string> operation_types() override;
    zavo_ui::operation::RunOutcome run_operation(std::uint8_t kind,
                                                 const zavo_actions::action::EncodedAction& op) override;
    zavo_ui::operation::StartOutcome start_operation(const zavo_ui::operation::OperationId& id, std::uint8_t kind,
                                                     const zavo_actions::action::EncodedAction& op) override;
    zavo_ui::operation::PollOutcome poll_operation(const zavo_ui::operation::OperationId& id, bool cancel) override;

    // --- the device relay's sink
    std::vector<DeviceRequest> take_device_requests() override { return session.take_device_requests(); }
    void handle_device_event(const DeviceEvent& event) override;

    // Fields, in the order they are declared and released.
    ConnectionList connections;
    std::string search_query;
    ConnectionForm form;
    std::array<zavo_ui::widget::text_input::TextInput, 6> inputs;  // indexed by InputSlot
    Session session;  // the live session, with its picture and how it is shown
    std::vector<DiscoveredDevice> devices;
    std::vector<HitRegion> hit_regions;
    std::optional<zavo_ui::Rect> hit_clip;  // the clip painting has set, the regions' too
    zavo_ui::action_host::ActionHost action_host;
    PendingOperation pending_operation;
    std::optional<ConfirmationRequest> confirmation;
    std::optional<Notice> notice;
    zavo_ui::widget::tooltip::TooltipHost tooltip;

    Screen screen = Screen::list();
    std::optional<Uuid> selected;
    std::optional<InputSlot> focused;
    struct Touched {
        bool show_all = false;
        bool name = false;
        bool host = false;
        bool port = false;
        friend bool operator==(const Touched&, const Touched&) = default;
    } touched;
    bool redraw_needed = true;    // answered by needs_redraw()
    bool loaded = false;          // the first document sync has run
    zavo_ui::Rect window_bounds;  // from the last layout, answered by bounds()
    bool narrow = false;          // the last layout was narrower than 720 logical pixels
    zavo_ui::widget::nav_split::FlapState flap{1.0};
    std::optional<bool> nav_choice;
    std::optional<bool> last_narrow;
    bool nav_default_open = true;
    std::optional<bool> forced_nav;
    bool reduced_motion = false;
    std::chrono::steady_clock::time_point last_frame = std::chrono::steady_clock::now();
    zavo_ui::Point pointer;
    bool pointer_covered = false;  // while painting what lies under a cover the pointer is on
    std::optional<double> metrics_scale;
    RowMetrics row_metrics;
    double list_scroll = 0.0;
    double list_scroll_max = 0.0;
    double list_top = 124.0;
    double list_covered = 0.0;  // the viewport's bottom the notice banner covers, with a gap above it
    double form_scroll = 0.0;   // how far the form is scrolled up; a form opens at its top
    double form_scroll_max = 0.0;
    bool form_reveal_focus = false;  // the next form paint scrolls the focused field into view
    bool compact_rows = false;
    ListCache list_cache;  // the list's display order and counts, kept between frames
    std::unordered_map<Uuid, RowTexts, UuidHash> row_texts;  // the rows the last list paint drew
    std::uint64_t list_paints = 0;
    // The first connection the list shows for the search query.
    std::optional<Uuid> first_visible_connection();

private:
    RemoteApp() = default;
    void repair_selection();
    // Parts of execute.
    void confirm(const ConfirmationRequest& request, crdt::Document& document);
    void set_form_kind(ConnectionKind kind);
    void save_form(crdt::Document& document);
};

}  // namespace remote::app

namespace remote {
using app::RemoteApp;
}  // namespace remote
