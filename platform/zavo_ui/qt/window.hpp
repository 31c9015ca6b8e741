#pragma once
// The application's window: hands Qt's input to the host and paints the frames it asks for, one
// after another while the widget animates, none while it is idle.
#include <QRasterWindow>

#include <optional>

#include "zavo_ui/host/host.hpp"
#include "zavo_ui/qt/accessibility.hpp"
#include "zavo_ui/qt/frames.hpp"

namespace zavo_ui::qt {

class AppWindow : public QRasterWindow, public host::Window {
public:
    // `host` and `painting` must outlive the window.
    AppWindow(host::Host& host, Painting& painting);

    // Exports the widget's accessibility tree through `bridge` (kept up to date after frames).
    void set_access_bridge(AccessBridge* bridge);
    QAccessibleInterface* accessibleRoot() const override;

    void request_frame(std::span<const Rect> damage) override;
    void post(std::function<void()> task) override;
    void post_after(std::chrono::milliseconds delay, std::function<void()> task) override;

protected:
    void paintEvent(QPaintEvent* event) override;
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

    host::Host& host_;
    Painting& painting_;
    AccessBridge* access_ = nullptr;
    std::optional<QPointF> last_pointer_;  // logical pixels
};

}  // namespace zavo_ui::qt
