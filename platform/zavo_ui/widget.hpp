#pragma once
// The widget trait. The framework drives the root widget through these operations, in this
// order; a widget overrides what it needs and the rest keep their default bodies. Most
// defaults ask the children (visit_children) and fold their answers; without children each
// gives its neutral answer (nothing, false, none, an empty list).
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "crdt/document.hpp"
#include "zavo_actions/action.hpp"
#include "zavo_actions/resource.hpp"
#include "zavo_ui/a11y.hpp"
#include "zavo_ui/clipboard.hpp"
#include "zavo_ui/device_relay.hpp"
#include "zavo_ui/events.hpp"
#include "zavo_ui/geometry.hpp"
#include "zavo_ui/layout.hpp"
#include "zavo_ui/operation.hpp"
#include "zavo_ui/scene.hpp"

namespace zavo_ui::text_render {
class TextRenderer;
}
namespace zavo_ui::theme {
struct Theme;
}

namespace zavo_ui {

using Instant = std::chrono::steady_clock::time_point;

// Handed with every paint; widgets pass it on to the widgets they draw.
struct DrawContext {
    Instant now = std::chrono::steady_clock::now();
    double scale_factor = 1.0;  // physical pixels per logical pixel
};

// Handed with every event and activation; widgets pass it on unchanged.
struct EventContext {
    // The replicated document; commands that change it dispatch actions against it.
    crdt::Document* document = nullptr;
    // The system clipboard; null when there is none (copy and paste then do nothing).
    Clipboard* clipboard = nullptr;
    // The last pointer position, logical pixels (button events carry no position).
    Point pointer;
    // The renderer of the last frame, for widgets that measure text while handling input
    // (placing a caret under the pointer); null when there is none yet.
    const text_render::TextRenderer* text_renderer = nullptr;
    Instant now = std::chrono::steady_clock::now();
};

// How the framework keeps the document's changes, as the root widget is told each time it
// changes.
struct DocumentSaving {
    enum class State : std::uint8_t {
        Saved,          // every change is kept where it belongs
        KeptElsewhere,  // every change is kept, but not in this device's own copy
        NotSaved,       // the latest changes are kept in memory only, until a save works again
    };
    State state = State::Saved;
    std::string cause;   // KeptElsewhere, NotSaved: in the system's words ("No space left on device")
    std::string detail;  // the whole error

    friend bool operator==(const DocumentSaving&, const DocumentSaving&) = default;
};

namespace widget {

// One element that assistive technology may act on, with the actions it accepts.
struct SemanticActionBinding {
    std::string element_id;
    std::uint64_t node_id = 0;
    a11y::AccessRole role = a11y::AccessRole::Group;
    std::optional<std::string> label;
    std::vector<a11y::SemanticActionKind> actions;  // empty: the element takes no action

    friend bool operator==(const SemanticActionBinding&, const SemanticActionBinding&) = default;
};

// Bindings of every node with an element id, depth first in child order. The actions follow
// the role: buttons activate; toggle buttons and radio options also toggle; text fields focus
// and take a value; list items activate and scroll into view; any focusable node also focuses.
std::vector<SemanticActionBinding> semantic_action_bindings(const a11y::AccessNode& root);
// The actions of one node with an element id, by the rule above.
std::vector<a11y::SemanticActionKind> semantic_actions(const a11y::AccessNode& node);

class Widget {
public:
    using Visitor = std::function<void(Widget&)>;

    virtual ~Widget() = default;

    // The widget's type name, such as "remote::app::RemoteApp" (from its dynamic type).
    virtual std::string type_name() const;

    // The sink through which device requests and events pass, or null (the default).
    virtual device_relay::DeviceSessionSink* device_session_sink();
    // Called when the document has been loaded and whenever it changed.
    virtual void sync_document(crdt::Document& document);

    // Creates this widget's layout node and registers it in `widgets`. Default: a leaf with
    // the default style (auto size).
    virtual layout::NodeId build_layout(layout::LayoutTree& tree, layout::NodeWidgetMap& widgets);
    // Reads the node's computed layout; `origin` is the parent's absolute position.
    virtual void layout(const layout::LayoutTree& tree, layout::NodeId node, Point origin);
    virtual void paint(Scene& scene, const Affine& transform, text_render::TextRenderer& text,
                       const theme::Theme& theme, DrawContext& draw);
    // Sets `handled` when the widget consumed the event. `scale_factor` converts the event's
    // physical pixels to logical ones.
    virtual void handle_event(const event::Event& event, event::Modifiers modifiers, EventContext& ctx, bool& handled,
                              double scale_factor);

    // Operation types the widget itself declares.
    virtual std::vector<std::string> operation_types();
    // The declared types together with every child's.
    virtual std::set<std::string> all_operation_types();

    virtual std::optional<std::string> widget_name();
    virtual std::optional<Rect> bounds();
    virtual std::optional<a11y::AccessNode> accessibility_tree();
    // True when the element id and action were accepted and acted on.
    virtual bool activate_element(std::string_view element_id, const a11y::SemanticAction& action, EventContext& ctx);
    // The bindings of the widget's own tree (built anew), then every child's.
    virtual std::vector<SemanticActionBinding> semantic_action_bindings();
    // True when some binding carries an action.
    virtual bool has_semantic_actions();

    virtual void set_reduced_motion(bool reduced);
    // Called once when the program quits: ends the live sessions the widget holds, so that their
    // workers can finish before the process leaves. Default: every child's.
    virtual void end_sessions();
    // True while the widget waits for its first document.
    virtual bool awaiting_document();
    // How saving the document goes, told whenever its state changes (Saved until told
    // otherwise). Default: every child's.
    virtual void document_saving(const DocumentSaving& saving);

    // What the widget offers the action framework, judged on `document` (the replicated
    // document, read only): its own resources, then every child's.
    virtual std::vector<zavo_actions::resource::Resource> action_resources(const crdt::Document& document);
    // Takes the document heads from before the first action dispatched since the last call
    // (the action host's pending item), leaving none; the first child's answer by default.
    virtual std::optional<std::vector<crdt::ChangeHash>> take_host_pending();

    // Performs an operation at once. `kind` is the operation kind the action declared.
    virtual operation::RunOutcome run_operation(std::uint8_t kind, const zavo_actions::action::EncodedAction& op);
    // The framework runs operations through this: run_operation's outcome as a start outcome
    // (a failure is refused with its message, a handled run completes, an unhandled one stays
    // unhandled).
    virtual operation::StartOutcome invoke_run(std::uint8_t kind, const zavo_actions::action::EncodedAction& op);
    // Starts an operation that may take time; Pending means the framework polls it by `id`.
    virtual operation::StartOutcome start_operation(const operation::OperationId& id, std::uint8_t kind,
                                                    const zavo_actions::action::EncodedAction& op);
    // The framework starts operations through this; it calls start_operation with the same
    // arguments.
    virtual operation::StartOutcome invoke_start(const operation::OperationId& id, std::uint8_t kind,
                                                 const zavo_actions::action::EncodedAction& op);
    // Reports on (or, with `cancel`, cancels) a started operation; Pending when there is
    // nothing to report.
    virtual operation::PollOutcome poll_operation(const operation::OperationId& id, bool cancel);

    // The framework keeps producing frames while this answers true.
    virtual bool wants_animation_frame();
    virtual bool needs_redraw();
    // Appends the rectangles that need repainting.
    virtual void collect_damage(std::vector<Rect>& damage);
    virtual void clear_redraw();
    // The entry the framework paints a frame through; forwards to paint with the same arguments.
    // The root widget paints every pixel of its window: the window lays no ground under it.
    virtual void paint_frame(Scene& scene, const Affine& transform, text_render::TextRenderer& text,
                             const theme::Theme& theme, DrawContext& draw);

    // Calls `visit` once per child, in child order. Default: no children.
    virtual void visit_children(const Visitor& visit);
};

}  // namespace widget

using widget::Widget;

}  // namespace zavo_ui
