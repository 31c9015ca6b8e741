#include "zavo_ui/qt/window.hpp"

#include <QInputMethodEvent>
#include <QInputMethodQueryEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QTimer>
#include <QWheelEvent>

#include "zavo_ui/qt/input.hpp"

namespace zavo_ui::qt {

AppWindow::AppWindow(host::Host& host, Painting& painting) : host_(host), painting_(painting) {}

void AppWindow::set_access_bridge(AccessBridge* bridge) {
    access_ = bridge;
    host_.set_accessibility(bridge);
}

QAccessibleInterface* AppWindow::accessibleRoot() const {
    return access_ != nullptr ? access_->root() : QRasterWindow::accessibleRoot();
}

void AppWindow::request_frame(std::span<const Rect> damage) {
    if (damage.empty()) {
        update();
        return;
    }
    QRegion region;
    for (const Rect& r : damage) {
        region += QRectF(r.x0, r.y0, r.width(), r.height()).toAlignedRect();
    }
    update(region);
}

void AppWindow::post(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void AppWindow::post_after(std::chrono::milliseconds delay, std::function<void()> task) {
    QTimer::singleShot(delay, this, std::move(task));
}

// The widget paints every pixel of its window: the frame is replayed over what the window
// showed before, with no ground of its own under it.
void AppWindow::paintEvent(QPaintEvent*) {
    host_.resize(Size{double(width()), double(height())}, devicePixelRatio());
    QPainter painter(this);
    PainterFrame frame(painter, painting_);
    host_.frame(frame);
}

void AppWindow::resizeEvent(QResizeEvent*) {
    if (host_.resize(Size{double(width()), double(height())}, devicePixelRatio())) update();
}

void AppWindow::deliver(const event::Event& event, Qt::KeyboardModifiers modifiers) {
    host_.deliver(event, modifiers_from_qt(modifiers));
}

void AppWindow::pointer_at(const QPointF& logical, Qt::KeyboardModifiers modifiers) {
    if (last_pointer_ == logical) return;
    last_pointer_ = logical;
    const double scale = devicePixelRatio();
    deliver(event::PointerMoved{logical.x() * scale, logical.y() * scale}, modifiers);
}

void AppWindow::mouseMoveEvent(QMouseEvent* event) {
    last_pointer_.reset();  // every move is delivered, so hover keeps its timing
    pointer_at(event->position(), event->modifiers());
}

void AppWindow::button(QMouseEvent* event, event::ElementState state) {
    // A button event carries no position: the pointer moves there first.
    pointer_at(event->position(), event->modifiers());
    deliver(event::Button{button_from_qt(event->button()), state}, event->modifiers());
}

void AppWindow::mousePressEvent(QMouseEvent* event) { button(event, event::ElementState::Pressed); }
void AppWindow::mouseReleaseEvent(QMouseEvent* event) { button(event, event::ElementState::Released); }
void AppWindow::mouseDoubleClickEvent(QMouseEvent* event) { button(event, event::ElementState::Pressed); }

void AppWindow::wheelEvent(QWheelEvent* event) {
    pointer_at(event->position(), event->modifiers());
    deliver(wheel_from_qt(*event, devicePixelRatio()), event->modifiers());
}

void AppWindow::keyPressEvent(QKeyEvent* event) {
    if (auto key = key_from_qt(*event)) host_.deliver(std::move(*key), key_modifiers_from_qt(*event));
}

void AppWindow::keyReleaseEvent(QKeyEvent* event) {
    if (auto key = key_from_qt(*event)) host_.deliver(std::move(*key), key_modifiers_from_qt(*event));
}

void AppWindow::focusOutEvent(QFocusEvent*) { deliver(event::FocusLost{}, Qt::NoModifier); }

bool AppWindow::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::Leave:
            last_pointer_.reset();
            deliver(event::PointerLeft{}, Qt::NoModifier);
            return true;
        case QEvent::InputMethodQuery: {
            auto* query = static_cast<QInputMethodQueryEvent*>(event);
            if (query->queries() & Qt::ImEnabled) query->setValue(Qt::ImEnabled, true);
            if (query->queries() & Qt::ImHints) query->setValue(Qt::ImHints, int(Qt::ImhNone));
            query->accept();
            return true;
        }
        case QEvent::InputMethod:
            if (auto commit = commit_from_qt(*static_cast<QInputMethodEvent*>(event))) {
                deliver(std::move(*commit), Qt::NoModifier);
            }
            return true;
        default: break;
    }
    return QRasterWindow::event(event);
}

}  // namespace zavo_ui::qt
