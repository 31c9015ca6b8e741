// The window on the offscreen platform: Qt's events reach the widget as framework events, and
// frames are made when the widget asks for them and not otherwise, and repainted only when they
// differ; frames rendered to an image have the window's size in device pixels.
#include "zavo_ui/qt/window.hpp"

#include <QCoreApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <chrono>

#include "qt_test_app.hpp"
#include "support/full_size_leaf.hpp"
#include "zavo_ui/qt/clipboard.hpp"
#include "zavo_ui/theme.hpp"

namespace zavo_ui::qt {
namespace {

// Fills its window red with a green square under the pointer.
class EventWidget : public Widget {
public:
    layout::NodeId build_layout(layout::LayoutTree& tree, layout::NodeWidgetMap& widgets) override {
        return test_support::full_size_leaf(tree, widgets, this);
    }
    void layout(const layout::LayoutTree& tree, layout::NodeId node, Point origin) override {
        rect = test_support::placed_rect(tree, node, origin);
    }
    void paint(Scene& scene, const Affine& transform, text_render::TextRenderer&, const theme::Theme&,
               DrawContext&) override {
        ++paints;
        if (frames_to_animate > 0) --frames_to_animate;
        scene.fill_color(transform, Color::from_hex(0xFF0000), rect);
        scene.fill_color(transform, Color::from_hex(0x00FF00),
                         Rect{pointer.x, pointer.y, pointer.x + 10, pointer.y + 10});
    }
    void handle_event(const event::Event& e, event::Modifiers m, EventContext& ctx, bool& handled,
                      double scale) override {
        events.push_back(e);
        pointer = ctx.pointer;
        modifiers.push_back(m);
        this->scale = scale;
        handled = true;
    }
    bool wants_animation_frame() override { return frames_to_animate > 0; }

    Rect rect;
    Point pointer;
    int paints = 0;
    int frames_to_animate = 0;
    double scale = 0;
    std::vector<event::Event> events;
    std::vector<event::Modifiers> modifiers;
};

class QtWindow : public ::testing::Test {
protected:
    void SetUp() override {
        testing::offscreen_app();
        auto w = std::make_unique<EventWidget>();
        widget = w.get();
        host = std::make_unique<host::Host>(std::move(w), theme, painting.text, Size{320, 200}, 1.0);
        window = std::make_unique<AppWindow>(*host, painting);
        host->attach_window(*window);
        window->resize(320, 200);
        window->show();
        settle();
    }

    // Runs the event loop until `done` holds (at most a few seconds, for a loaded machine).
    template <class Done>
    bool wait_until(Done done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done() && std::chrono::steady_clock::now() < end) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return done();
    }
    void settle() {
        wait_until([&] { return widget->paints > 0; });
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }

    void TearDown() override { host->detach_window(); }

    const theme::Theme theme = theme::Theme::dark();
    Painting painting;
    EventWidget* widget = nullptr;
    std::unique_ptr<host::Host> host;
    std::unique_ptr<AppWindow> window;
};

TEST_F(QtWindow, PaintsOnShowThenOnlyWhenAsked) {
    const int shown = widget->paints;
    EXPECT_GE(shown, 1);
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(widget->paints, shown) << "an idle widget was painted";

    const auto presented = host->frames_presented();
    widget->frames_to_animate = 3;
    host->schedule();
    EXPECT_TRUE(wait_until([&] { return widget->frames_to_animate == 0; }));
    EXPECT_EQ(widget->paints, shown + 3);
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    EXPECT_EQ(widget->paints, shown + 3) << "frames went on after the animation ended";
    EXPECT_EQ(host->frames_presented(), presented) << "frames that paint the same were repainted";
}

TEST_F(QtWindow, QtInputArrivesAsFrameworkEvents) {
    const QPointF at(40.5, 20);
    QMouseEvent press(QEvent::MouseButtonPress, at, window->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::ShiftModifier);
    QCoreApplication::sendEvent(window.get(), &press);
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier, 38, 0, 0, QStringLiteral("\x01"));
    QCoreApplication::sendEvent(window.get(), &key);
    QWheelEvent wheel(at, window->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, {}, Qt::NoScrollPhase,
                      false);
    QCoreApplication::sendEvent(window.get(), &wheel);

    ASSERT_EQ(widget->events.size(), 4u);
    const double s = window->devicePixelRatio();
    EXPECT_EQ(widget->events[0], event::Event(event::PointerMoved{40.5 * s, 20 * s}))
        << "the press moves the pointer first";
    EXPECT_EQ(widget->events[1],
              event::Event(event::Button{event::PointerButton::Primary, event::ElementState::Pressed}));
    EXPECT_TRUE(widget->modifiers[1].shift());
    const auto& k = std::get<event::Key>(widget->events[2]);
    EXPECT_EQ(k.logical, event::LogicalKey(event::CharacterKey{"a"}));
    EXPECT_EQ(k.physical, event::KeyCode::KeyA);
    EXPECT_TRUE(widget->modifiers[2].control());
    EXPECT_EQ(widget->events[3], event::Event(event::Wheel{event::LineDelta{0.0f, -1.0f}}))
        << "the wheel at the same place sends no second move";
    EXPECT_EQ(widget->scale, s);
}

TEST_F(QtWindow, LosingTheFocusIsAnEvent) {
    QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(window.get(), &out);
    ASSERT_FALSE(widget->events.empty());
    EXPECT_EQ(widget->events.back(), event::Event(event::FocusLost{}));
}

TEST_F(QtWindow, ImageFramesHaveTheWindowsSizeInDevicePixels) {
    host->resize(Size{300, 120}, 2.0);
    host->deliver(event::PointerMoved{100, 60}, {});
    host->frame();
    ImageFrame frame(painting, theme.colors.background);
    host->present(frame);
    const QImage& image = frame.image();
    EXPECT_EQ(image.size(), QSize(600, 240));
    EXPECT_EQ(qRed(image.pixel(599, 239)), 255);
    EXPECT_EQ(qGreen(image.pixel(2 * 55, 2 * 35)), 255);
    EXPECT_EQ(qGreen(image.pixel(2 * 45, 2 * 35)), 0);
}

TEST_F(QtWindow, TheClipboardIsTheSystemOne) {
    QtClipboard clipboard;
    clipboard.set_text("ssh://build-box ü");
    EXPECT_EQ(clipboard.get_text(), "ssh://build-box ü");
}

}  // namespace
}  // namespace zavo_ui::qt
