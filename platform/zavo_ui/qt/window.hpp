#pragma once
// The application's window: hands Qt's input to the host, makes the frames the host asks for at
// most once per refresh of the display, and repaints only what a frame changed (or what the
// window lost) from its own backing store.
#include <QBackingStore>
#include <QElapsedTimer>
#include <QTimer>
#include <QWindow>

#include <optional>

#include "zavo_ui/host/host.hpp"
#include "zavo_ui/qt/accessibility.hpp"
#include "zavo_ui/qt/frames.hpp"

namespace zavo_ui::qt {

class AppWindow : public QWindow, public host::Window {
public:
    // `host` and `painting` must outlive the window.
    AppWindow(host::Host& host, Painting& painting);

    // Exports the widget's accessibility tree through `bridge` (kept up to date after frames).
    void set_access_bridge(AccessBridge* bridge);
    QAccessibleInterface* accessibleRoot() const override;

    void request_frame(host::FramePace pace) override;
    // Repaints `area` of the window from the last frame (all of it when empty) and shows it.
    void present(std::span<const Rect> area) override;
    void post(std::function<void()> task) override;
    void post_after(std::chrono::milliseconds delay, std::function<void()> task) override;

protected:
    void exposeEvent(QExposeEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool event(QEvent* event) override;

private:
    void deliver(const event::Event& event, Qt::KeyboardModifiers modifiers);
    void pointer_at(const QPointF& logical, Qt::KeyboardModifiers modifiers);
    void button(QMouseEvent* event, event::ElementState state);
    // Makes a frame now.
    void make_frame();

    host::Host& host_;
    Painting& painting_;
    QBackingStore store_;
    static constexpr int kNoFrame = 1 << 30;
    QTimer frame_timer_;
    int wanted_period_ = kNoFrame;  // ms: the soonest pace asked for since the last frame began
    bool in_frame_ = false;
    QElapsedTimer since_frame_;
    AccessBridge* access_ = nullptr;
    std::optional<QPointF> last_pointer_;  // logical pixels
};

}  // namespace zavo_ui::qt
