#include "zavo_ui/qt/shell.hpp"

#include <gtest/gtest.h>

#include "qt_test_app.hpp"
#include "support/full_size_leaf.hpp"
#include "zavo_ui/theme.hpp"

namespace zavo_ui::qt {
namespace {

// Paints its bounds red with a green square under the last pointer position, and records
// what the shell asks of it.
class ProbeWidget : public Widget, public device_relay::DeviceSessionSink {
 public:
  layout::NodeId build_layout(layout::LayoutTree& tree, layout::NodeWidgetMap& widgets) override {
    return test_support::full_size_leaf(tree, widgets, this);
  }
  void layout(const layout::LayoutTree& tree, layout::NodeId node, Point origin) override {
    rect = test_support::placed_rect(tree, node, origin);
    ++layouts;
  }
  void paint(Scene& scene, const Affine& transform, text_render::TextRenderer&, const theme::Theme&,
             DrawContext& draw) override {
    ++paints;
    scale_seen = draw.scale_factor;
    redraw_at_paint = redraw;
    scene.fill_color(transform, Color::from_hex(0xFF0000), rect);
    scene.fill_color(transform, Color::from_hex(0x00FF00), Rect{pointer.x, pointer.y, pointer.x + 10, pointer.y + 10});
    if (animate_once) {
      animate_once = false;
      redraw = true;  // asked for during the paint: must survive for the next frame
    }
  }
  void handle_event(const event::Event& e, event::Modifiers, EventContext& ctx, bool& handled,
                    double scale_factor) override {
    events.push_back(e);
    scale_at_event = scale_factor;
    pointer = ctx.pointer;
    if (std::holds_alternative<event::Key>(e) && ctx.document != nullptr) {
      auto list = ctx.document->put_object(crdt::ROOT, "typed", crdt::ObjType::Map);
      ASSERT_TRUE(list);
    }
    redraw = true;
    handled = true;
  }
  void sync_document(crdt::Document&) override { ++syncs; }
  device_relay::DeviceSessionSink* device_session_sink() override { return this; }
  std::vector<device_relay::DeviceRequest> take_device_requests() override {
    ++exchanges;
    return {};
  }
  void handle_device_event(const device_relay::DeviceEvent&) override {}
  bool needs_redraw() override { return redraw; }
  void clear_redraw() override { redraw = false; }
  bool wants_animation_frame() override { return animating; }
  void collect_damage(std::vector<Rect>& damage) override {
    if (redraw) damage.push_back(rect);
  }

  Rect rect;
  Point pointer{-100, -100};
  int layouts = 0, paints = 0, syncs = 0, exchanges = 0;
  double scale_seen = 0, scale_at_event = 0;
  bool redraw = true, redraw_at_paint = false, animate_once = false, animating = false;
  std::vector<event::Event> events;
};

class QtShell : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::offscreen_app();
    auto w = std::make_unique<ProbeWidget>();
    probe = w.get();
    shell = std::make_unique<Shell>(std::move(w), theme, Size{200, 100}, 1.0);
  }
  const theme::Theme theme = theme::Theme::dark();
  ProbeWidget* probe = nullptr;
  std::unique_ptr<Shell> shell;
};

TEST_F(QtShell, LaysOutOnceForEachNewSize) {
  EXPECT_EQ(probe->layouts, 0);
  QImage first = shell->render();
  EXPECT_EQ(probe->layouts, 1);
  EXPECT_EQ(probe->rect, (Rect{0, 0, 200, 100}));
  shell->render();
  EXPECT_EQ(probe->layouts, 1);
  shell->resize(Size{300, 120}, 2.0);
  const QImage resized = shell->render();
  EXPECT_EQ(probe->layouts, 2);
  EXPECT_EQ(probe->rect, (Rect{0, 0, 300, 120}));
  EXPECT_EQ(resized.size(), QSize(600, 240));
  EXPECT_EQ(probe->scale_seen, 2.0);
  EXPECT_EQ(qRed(resized.pixel(599, 239)), 255);
}

TEST_F(QtShell, FramesFollowTheRedrawFlagAndAnimation) {
  EXPECT_TRUE(shell->wants_frame());
  EXPECT_EQ(shell->take_damage(), (std::vector<Rect>{{0, 0, 200, 100}}));
  shell->render();
  EXPECT_FALSE(probe->redraw_at_paint) << "the flag is cleared before painting";
  EXPECT_FALSE(shell->wants_frame());
  EXPECT_TRUE(shell->take_damage().empty());

  probe->animate_once = true;
  probe->redraw = true;
  shell->render();
  EXPECT_TRUE(shell->wants_frame()) << "a redraw asked for while painting was lost";
  shell->render();
  EXPECT_FALSE(shell->wants_frame());

  probe->animating = true;
  EXPECT_TRUE(shell->wants_frame());
  EXPECT_EQ(shell->frames_painted(), 3u);
}

TEST_F(QtShell, PointerEventsArriveInPhysicalPixelsWithTheScale) {
  shell->resize(Size{200, 100}, 2.0);
  shell->deliver(event::PointerMoved{100, 60}, {});
  ASSERT_EQ(probe->events.size(), 1u);
  EXPECT_EQ(probe->events[0], event::Event(event::PointerMoved{100, 60}));
  EXPECT_EQ(probe->scale_at_event, 2.0);
  EXPECT_EQ(probe->pointer, (Point{50, 30}));
  shell->deliver(event::Button{event::PointerButton::Primary, event::ElementState::Pressed}, {});
  EXPECT_EQ(probe->pointer, (Point{50, 30})) << "buttons keep the last position";
  const QImage image = shell->render();
  EXPECT_EQ(qGreen(image.pixel(2 * 55, 2 * 35)), 255);
  EXPECT_EQ(qGreen(image.pixel(2 * 45, 2 * 35)), 0);
}

TEST_F(QtShell, DocumentChangesAreKeptThenSynced) {
  crdt::Document document;
  int saves = 0;
  shell->attach_document(document, [&] { ++saves; });
  shell->sync_document();
  EXPECT_EQ(probe->syncs, 1);
  EXPECT_EQ(saves, 0) << "an unchanged document is not saved";

  shell->deliver(event::PointerMoved{1, 1}, {});
  EXPECT_EQ(saves, 0);
  EXPECT_EQ(probe->syncs, 1);

  shell->deliver(event::character_key("x"), {});
  EXPECT_EQ(saves, 1);
  EXPECT_EQ(probe->syncs, 2);
  EXPECT_EQ(document.pending_ops(), 0u) << "the change was committed";
  ASSERT_TRUE(document.get(crdt::ROOT, "typed").value().has_value());
}

TEST_F(QtShell, TheRelayIsAskedAfterEveryFrame) {
  device_relay::DeviceRelay relay;
  shell->set_relay(&relay);
  shell->render();
  shell->render();
  EXPECT_EQ(probe->exchanges, 2);
}

}  // namespace
}  // namespace zavo_ui::qt
