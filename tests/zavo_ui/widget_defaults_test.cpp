#include "zavo_ui/widget.hpp"

#include "zavo_ui/text_render.hpp"
#include "zavo_ui/theme.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace remote::app {
// Stands for the application's root widget: no children, one declared operation type, an
// accessibility tree and a run operation of its own.
class RemoteApp : public zavo_ui::Widget {
public:
    std::vector<std::string> operation_types() override { return {"remote.operation"}; }
    std::optional<zavo_ui::a11y::AccessNode> accessibility_tree() override { return tree; }

    std::optional<zavo_ui::a11y::AccessNode> tree;
};
}  // namespace remote::app

namespace {

using namespace zavo_ui;
using a11y::AccessNode;
using a11y::AccessRole;
using a11y::SemanticActionKind;

// A container whose children answer as they are told and count how often they were asked.
struct Leaf : Widget {
    bool animate = false;
    bool redraw = false;
    bool activates = false;
    bool awaiting = false;
    int asked = 0;
    std::vector<std::string> types;
    std::optional<AccessNode> tree;

    bool wants_animation_frame() override { return ++asked, animate; }
    bool needs_redraw() override { return ++asked, redraw; }
    bool awaiting_document() override { return ++asked, awaiting; }
    bool activate_element(std::string_view, const a11y::SemanticAction&, EventContext&) override {
        return ++asked, activates;
    }
    std::vector<std::string> operation_types() override { return types; }
    std::optional<AccessNode> accessibility_tree() override { return tree; }
    void collect_damage(std::vector<Rect>& d) override { d.push_back({0, 0, double(asked), 1}); }
    void set_reduced_motion(bool r) override { reduced = r; }
    bool reduced = false;
};

struct Parent : Widget {
    std::vector<std::unique_ptr<Leaf>> kids;
    void visit_children(const Visitor& visit) override {
        for (auto& k : kids) visit(*k);
    }
    Leaf& add() { return *kids.emplace_back(std::make_unique<Leaf>()); }
};

AccessNode button(const char* id) {
    auto n = AccessNode(AccessRole::Button).with_label("b").with_element_id(id);
    n.focusable = true;
    return n;
}

TEST(WidgetDefaults, RootWithoutChildrenGivesNeutralAnswers) {
    remote::app::RemoteApp app;
    EXPECT_EQ(app.type_name(), "remote::app::RemoteApp");
    EXPECT_EQ(app.all_operation_types(), (std::set<std::string>{"remote.operation"}));
    EXPECT_FALSE(app.wants_animation_frame());
    EXPECT_FALSE(app.needs_redraw());
    EXPECT_FALSE(app.awaiting_document());
    EXPECT_EQ(app.widget_name(), std::nullopt);
    EXPECT_EQ(app.bounds(), std::nullopt);
    EXPECT_EQ(app.device_session_sink(), nullptr);
    EventContext ctx;
    EXPECT_FALSE(app.activate_element("remote.nav.list", {}, ctx));
    std::vector<Rect> damage;
    app.collect_damage(damage);
    EXPECT_TRUE(damage.empty());
    bool handled = false;
    app.handle_event(event::PointerMoved{1, 2}, {}, ctx, handled, 1.0);
    EXPECT_FALSE(handled);
    int visits = 0;
    app.visit_children([&](Widget&) { ++visits; });
    EXPECT_EQ(visits, 0);
}

TEST(WidgetDefaults, SemanticBindingsComeFromTheTree) {
    remote::app::RemoteApp app;
    EXPECT_TRUE(app.semantic_action_bindings().empty());  // no tree
    EXPECT_FALSE(app.has_semantic_actions());

    // Structural nodes and static text with an id give no action.
    auto text = AccessNode(AccessRole::StaticText).with_element_id("remote.status");
    app.tree = AccessNode(AccessRole::Window).with_node_id("remote.window").with_children({text});
    auto only_text = app.semantic_action_bindings();
    ASSERT_EQ(only_text.size(), 1u);
    EXPECT_TRUE(only_text[0].actions.empty());
    EXPECT_FALSE(app.has_semantic_actions());

    auto field = AccessNode(AccessRole::TextField).with_element_id("remote.field:search");
    auto group = AccessNode(AccessRole::Group).with_children({button("remote.nav.list"), field});
    app.tree = AccessNode(AccessRole::Window).with_children({group, text});
    auto bindings = app.semantic_action_bindings();
    ASSERT_EQ(bindings.size(), 3u);  // depth first, in child order
    EXPECT_EQ(bindings[0].element_id, "remote.nav.list");
    EXPECT_EQ(bindings[0].node_id, a11y::node_id_for("remote.nav.list"));
    EXPECT_EQ(bindings[0].actions, (std::vector{SemanticActionKind::Activate, SemanticActionKind::Focus}));
    EXPECT_EQ(bindings[1].element_id, "remote.field:search");
    EXPECT_EQ(bindings[1].actions,
              (std::vector{SemanticActionKind::Activate, SemanticActionKind::Focus, SemanticActionKind::SetValue}));
    EXPECT_EQ(bindings[2].element_id, "remote.status");
    EXPECT_TRUE(app.has_semantic_actions());
}

TEST(WidgetDefaults, ChildrenAreAskedAndFolded) {
    Parent p;
    Leaf& a = p.add();
    Leaf& b = p.add();
    Leaf& c = p.add();
    a.types = {"x", "y"};
    c.types = {"y", "z"};

    // Any-true stops at the first true.
    b.animate = true;
    EXPECT_TRUE(p.wants_animation_frame());
    EXPECT_EQ(a.asked, 1);
    EXPECT_EQ(b.asked, 1);
    EXPECT_EQ(c.asked, 0);
    EXPECT_FALSE(p.needs_redraw());
    EXPECT_EQ(c.asked, 1);

    EXPECT_EQ(p.all_operation_types(), (std::set<std::string>{"x", "y", "z"}));

    c.activates = true;
    EventContext ctx;
    EXPECT_TRUE(p.activate_element("id", {}, ctx));

    // Broadcasts reach every child, in order.
    p.set_reduced_motion(true);
    EXPECT_TRUE(a.reduced && b.reduced && c.reduced);
    std::vector<Rect> damage;
    p.collect_damage(damage);
    ASSERT_EQ(damage.size(), 3u);

    // Bindings: the parent's own tree first (it has none), then each child's.
    b.tree = button("remote.b");
    a.tree = button("remote.a");
    auto bindings = p.semantic_action_bindings();
    ASSERT_EQ(bindings.size(), 2u);
    EXPECT_EQ(bindings[0].element_id, "remote.a");
    EXPECT_EQ(bindings[1].element_id, "remote.b");
}

TEST(WidgetDefaults, PaintFrameForwardsAndEventsReachChildren) {
    struct Painter : Widget {
        int paints = 0;
        const Affine* seen = nullptr;
        void paint(Scene&, const Affine& t, text_render::TextRenderer&, const theme::Theme&, DrawContext&) override {
            ++paints;
            seen = &t;
        }
        void handle_event(const event::Event&, event::Modifiers, EventContext&, bool& handled, double) override {
            handled = true;
        }
    };
    struct Holder : Widget {
        Painter child;
        void visit_children(const Visitor& v) override { v(child); }
    };
    Painter p;
    Scene scene;
    Affine t = Affine::translate(3, 4);
    text_render::FakeTextRenderer text;
    auto theme = theme::Theme::dark();
    DrawContext draw;
    p.paint_frame(scene, t, text, theme, draw);
    EXPECT_EQ(p.paints, 1);
    EXPECT_EQ(p.seen, &t);  // the same arguments, not copies

    Holder h;
    h.paint_frame(scene, t, text, theme, draw);  // default paint broadcasts to the children
    EXPECT_EQ(h.child.paints, 1);
    EventContext ctx;
    bool handled = false;
    h.handle_event(event::Key{}, {}, ctx, handled, 1.0);
    EXPECT_TRUE(handled);
}

TEST(WidgetDefaults, OperationSlots) {
    using namespace operation;
    // An application that handles runs of kind 1, refuses kind 3 and answers nothing else.
    struct Runner : Widget {
        std::vector<std::uint8_t> started;
        RunOutcome run_operation(std::uint8_t kind, const zavo_actions::action::EncodedAction&) override {
            if (kind == 3) return RunFailure{"refused"};
            return RunResult{kind == 1};
        }
        StartOutcome start_operation(const OperationId& id, std::uint8_t kind,
                                     const zavo_actions::action::EncodedAction&) override {
            started.push_back(id[0]);
            return kind == 1 ? StartOutcome(start::Pending{}) : StartOutcome(start::NotHandled{});
        }
    } r;
    zavo_actions::action::EncodedAction op{"remote.operation", {}};
    EXPECT_EQ(r.invoke_run(1, op), StartOutcome(start::Completed{}));
    EXPECT_EQ(r.invoke_run(2, op), StartOutcome(start::NotHandled{}));  // unhandled is not a refusal
    EXPECT_EQ(r.invoke_run(3, op), StartOutcome(start::Refused{"refused"}));
    OperationId id{};
    id[0] = 7;
    EXPECT_EQ(r.invoke_start(id, 1, op), StartOutcome(start::Pending{}));
    EXPECT_EQ(r.started, std::vector<std::uint8_t>{7});  // forwarded with the same arguments

    remote::app::RemoteApp app;
    EXPECT_EQ(app.invoke_run(1, op), StartOutcome(start::NotHandled{}));
    EXPECT_EQ(app.invoke_start(id, 1, op), StartOutcome(start::NotHandled{}));
    EXPECT_EQ(app.poll_operation(id, true), PollOutcome(poll::Pending{}));
    const crdt::Document document;
    EXPECT_TRUE(app.action_resources(document).empty());
    EXPECT_EQ(app.take_host_pending(), std::nullopt);
}

TEST(WidgetDefaults, RunAdapter) {
    using namespace operation;
    EXPECT_EQ(adapt_run(RunFailure{"no"}), StartOutcome(start::Refused{"no"}));
    EXPECT_EQ(adapt_run(RunResult{true}), StartOutcome(start::Completed{}));
    // Unhandled stays unhandled, never a refusal.
    EXPECT_EQ(adapt_run(RunResult{false}), StartOutcome(start::NotHandled{}));
}

TEST(WidgetDefaults, BuildLayoutRegistersAFullWindowLeafWhenAsked) {
    remote::app::RemoteApp app;
    layout::LayoutTree tree;
    layout::NodeWidgetMap widgets;
    auto root = *tree.new_leaf({});
    auto node = app.build_layout(tree, widgets);
    EXPECT_EQ(widgets.at(node), &app);
    ASSERT_TRUE(tree.set_style(node, {layout::Dimension::percent(1.0f), layout::Dimension::percent(1.0f)}));
    ASSERT_TRUE(tree.add_child(root, node));
    ASSERT_TRUE(tree.compute_layout(root, 1280, 800));
    EXPECT_EQ(*tree.layout(node), (layout::Layout{0, 0, 1280, 800}));
    EXPECT_FALSE(tree.layout(9999).has_value());
}

}  // namespace
