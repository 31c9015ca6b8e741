#include "zavo_ui/widget.hpp"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

namespace zavo_ui::widget {

using a11y::AccessRole;
using a11y::SemanticActionKind;

namespace {

void collect_bindings(const a11y::AccessNode& node, std::vector<SemanticActionBinding>& out) {
    if (node.element_id)
        out.push_back({*node.element_id, node.node_id.value_or(0), node.role, node.label, semantic_actions(node)});
    for (const auto& child : node.children) collect_bindings(child, out);
}

}  // namespace

std::vector<SemanticActionKind> semantic_actions(const a11y::AccessNode& node) {
    std::vector<SemanticActionKind> actions;
    auto add = [&](SemanticActionKind k) {
        for (auto a : actions)
            if (a == k) return;
        actions.push_back(k);
    };
    switch (node.role) {
        case AccessRole::Button: add(SemanticActionKind::Activate); break;
        case AccessRole::ToggleButton:
        case AccessRole::RadioButton:
            add(SemanticActionKind::Activate);
            add(SemanticActionKind::Toggle);
            break;
        case AccessRole::TextField:
            add(SemanticActionKind::Activate);
            add(SemanticActionKind::Focus);
            add(SemanticActionKind::SetValue);
            break;
        case AccessRole::ListItem:
            add(SemanticActionKind::Activate);
            add(SemanticActionKind::ScrollIntoView);
            break;
        default: break;
    }
    if (node.focusable) add(SemanticActionKind::Focus);
    return actions;
}

std::vector<SemanticActionBinding> semantic_action_bindings(const a11y::AccessNode& root) {
    std::vector<SemanticActionBinding> out;
    collect_bindings(root, out);
    return out;
}

std::string Widget::type_name() const {
    const char* mangled = typeid(*this).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                                     std::free);
    return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

device_relay::DeviceSessionSink* Widget::device_session_sink() { return nullptr; }

void Widget::sync_document(crdt::Document& document) {
    visit_children([&](Widget& c) { c.sync_document(document); });
}

layout::NodeId Widget::build_layout(layout::LayoutTree& tree, layout::NodeWidgetMap& widgets) {
    // Creating a leaf cannot fail in our tree.
    layout::NodeId id = *tree.new_leaf(layout::Style{});
    widgets[id] = this;
    return id;
}

void Widget::layout(const layout::LayoutTree& tree, layout::NodeId node, Point origin) {
    visit_children([&](Widget& c) { c.layout(tree, node, origin); });
}

void Widget::paint(Scene& scene, const Affine& transform, text_render::TextRenderer& text, const theme::Theme& theme,
                   DrawContext& draw) {
    visit_children([&](Widget& c) { c.paint(scene, transform, text, theme, draw); });
}

void Widget::handle_event(const event::Event& event, event::Modifiers modifiers, EventContext& ctx, bool& handled,
                          double scale_factor) {
    visit_children([&](Widget& c) { c.handle_event(event, modifiers, ctx, handled, scale_factor); });
}

std::vector<std::string> Widget::operation_types() { return {}; }

std::set<std::string> Widget::all_operation_types() {
    auto own = operation_types();
    std::set<std::string> all(own.begin(), own.end());
    visit_children([&](Widget& c) {
        auto theirs = c.all_operation_types();
        all.insert(theirs.begin(), theirs.end());
    });
    return all;
}

std::optional<std::string> Widget::widget_name() { return std::nullopt; }

std::optional<Rect> Widget::bounds() { return std::nullopt; }

std::optional<a11y::AccessNode> Widget::accessibility_tree() { return std::nullopt; }

bool Widget::activate_element(std::string_view element_id, const a11y::SemanticAction& action, EventContext& ctx) {
    bool done = false;
    visit_children([&](Widget& c) {
        if (!done) done = c.activate_element(element_id, action, ctx);
    });
    return done;
}

std::vector<SemanticActionBinding> Widget::semantic_action_bindings() {
    std::vector<SemanticActionBinding> out;
    if (auto tree = accessibility_tree()) out = widget::semantic_action_bindings(*tree);
    visit_children([&](Widget& c) {
        auto theirs = c.semantic_action_bindings();
        out.insert(out.end(), std::make_move_iterator(theirs.begin()), std::make_move_iterator(theirs.end()));
    });
    return out;
}

bool Widget::has_semantic_actions() {
    for (const auto& b : semantic_action_bindings())
        if (!b.actions.empty()) return true;
    return false;
}

void Widget::set_reduced_motion(bool reduced) {
    visit_children([&](Widget& c) { c.set_reduced_motion(reduced); });
}

void Widget::end_sessions() {
    visit_children([](Widget& c) { c.end_sessions(); });
}

void Widget::document_saving(const DocumentSaving& saving) {
    visit_children([&](Widget& c) { c.document_saving(saving); });
}

bool Widget::awaiting_document() {
    bool any = false;
    visit_children([&](Widget& c) {
        if (!any) any = c.awaiting_document();
    });
    return any;
}

std::vector<zavo_actions::resource::Resource> Widget::action_resources(const crdt::Document& document) {
    std::vector<zavo_actions::resource::Resource> out;
    visit_children([&](Widget& c) {
        auto theirs = c.action_resources(document);
        out.insert(out.end(), std::make_move_iterator(theirs.begin()), std::make_move_iterator(theirs.end()));
    });
    return out;
}

std::optional<std::vector<crdt::ChangeHash>> Widget::take_host_pending() {
    std::optional<std::vector<crdt::ChangeHash>> first;
    visit_children([&](Widget& c) {
        if (!first) first = c.take_host_pending();
    });
    return first;
}

operation::RunOutcome Widget::run_operation(std::uint8_t kind, const zavo_actions::action::EncodedAction& op) {
    operation::RunOutcome answer = operation::RunResult{false};
    bool answered = false;
    visit_children([&](Widget& c) {
        if (answered) return;
        answer = c.run_operation(kind, op);
        auto* r = std::get_if<operation::RunResult>(&answer);
        answered = !r || r->handled;
    });
    return answer;
}

operation::StartOutcome Widget::invoke_run(std::uint8_t kind, const zavo_actions::action::EncodedAction& op) {
    return operation::adapt_run(run_operation(kind, op));
}

operation::StartOutcome Widget::start_operation(const operation::OperationId& id, std::uint8_t kind,
                                                const zavo_actions::action::EncodedAction& op) {
    operation::StartOutcome answer = operation::start::NotHandled{};
    visit_children([&](Widget& c) {
        if (std::holds_alternative<operation::start::NotHandled>(answer)) answer = c.start_operation(id, kind, op);
    });
    return answer;
}

operation::StartOutcome Widget::invoke_start(const operation::OperationId& id, std::uint8_t kind,
                                             const zavo_actions::action::EncodedAction& op) {
    return start_operation(id, kind, op);
}

operation::PollOutcome Widget::poll_operation(const operation::OperationId& id, bool cancel) {
    operation::PollOutcome answer = operation::poll::Pending{};
    visit_children([&](Widget& c) {
        if (std::holds_alternative<operation::poll::Pending>(answer)) answer = c.poll_operation(id, cancel);
    });
    return answer;
}

bool Widget::wants_animation_frame() {
    bool any = false;
    visit_children([&](Widget& c) {
        if (!any) any = c.wants_animation_frame();
    });
    return any;
}

bool Widget::needs_redraw() {
    bool any = false;
    visit_children([&](Widget& c) {
        if (!any) any = c.needs_redraw();
    });
    return any;
}

void Widget::collect_damage(std::vector<Rect>& damage) {
    visit_children([&](Widget& c) { c.collect_damage(damage); });
}

void Widget::clear_redraw() {
    visit_children([](Widget& c) { c.clear_redraw(); });
}

void Widget::paint_frame(Scene& scene, const Affine& transform, text_render::TextRenderer& text,
                         const theme::Theme& theme, DrawContext& draw) {
    paint(scene, transform, text, theme, draw);
}

void Widget::visit_children(const Visitor&) {}

}  // namespace zavo_ui::widget
