#include "zavo_ui/qt/window.hpp"

#include <QInputMethodEvent>
#include <QInputMethodQueryEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "zavo_ui/qt/input.hpp"

namespace zavo_ui::qt {

namespace {

// Frames follow the display's refresh, within these bounds.
constexpr double kFastestFrameMs = 1000.0 / 144.0;
constexpr double kSlowestFrameMs = 1000.0 / 30.0;

}  // namespace

AppWindow::AppWindow(host::Host& host, Painting& painting) : host_(host), painting_(painting), store_(this) {
    setSurfaceType(QSurface::RasterSurface);
    frame_timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&frame_timer_, &QTimer::timeout, this, [this] { make_frame(); });
}

void AppWindow::set_access_bridge(AccessBridge* bridge) {
    access_ = bridge;
    host_.set_accessibility(bridge);
}

QAccessibleInterface* AppWindow::accessibleRoot() const {
    return access_ != nullptr ? access_->root() : QWindow::accessibleRoot();
}

// The next frame comes one refresh (two when relaxed) after the last: at once when the window
// was idle (a key's echo is not held back), then from a timer that keeps running at the pace
// the last frame asked for. A sooner pace asked for between frames takes over at once.
void AppWindow::request_frame(host::FramePace pace) {
    const qreal rate = screen() != nullptr ? screen()->refreshRate() : 0.0;
    const double refresh = rate > 0.0 ? std::clamp(1000.0 / rate, kFastestFrameMs, kSlowestFrameMs) : 1000.0 / 60.0;
    const double period = pace == host::FramePace::Relaxed ? 2.0 * refresh : refresh;
    wanted_period_ = std::min(wanted_period_, int(std::lround(period)));
    // A hidden window makes no frames: the expose that shows it again asks anew.
    if (in_frame_ || !isExposed() || (frame_timer_.isActive() && frame_timer_.interval() <= wanted_period_)) return;
    const double since = since_frame_.isValid() ? double(since_frame_.nsecsElapsed()) / 1e6 : period;
    frame_timer_.start(int(std::lround(std::max(period - since, 0.0))));
}

void AppWindow::make_frame() {
    since_frame_.start();
    wanted_period_ = kNoFrame;
    in_frame_ = true;
    host_.frame();
    in_frame_ = false;
    if (wanted_period_ == kNoFrame || !isExposed())
        frame_timer_.stop();
    else if (frame_timer_.interval() != wanted_period_ || !frame_timer_.isActive())
        frame_timer_.start(wanted_period_);
}

void AppWindow::present(std::span<const Rect> area) {
    if (!isExposed()) return;  // the expose that shows it again repaints all
    QRegion region;
    if (area.empty()) {
        region = QRect(QPoint(0, 0), size());
    } else {
        for (const Rect& r : area) region += QRectF(r.x0, r.y0, r.width(), r.height()).toAlignedRect();
    }
    if (store_.size() != size()) store_.resize(size());
    store_.beginPaint(region);
    {
        QPainter painter(store_.paintDevice());
        PainterFrame frame(painter, painting_);
        host_.present(frame, area);
    }
    store_.endPaint();
    store_.flush(region);
}

void AppWindow::post(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void AppWindow::post_after(std::chrono::milliseconds delay, std::function<void()> task) {
    QTimer::singleShot(delay, this, std::move(task));
}

// The backing store keeps what was painted, so an expose only repaints it all from the last
// frame (a frame is made first when there is none for this size), and frames go on if wanted.
void AppWindow::exposeEvent(QExposeEvent*) {
    if (!isExposed()) return;
    host_.resize(Size{double(width()), double(height())}, devicePixelRatio());
    if (!host_.has_frame()) return make_frame();
    present({});
    host_.schedule();
}

void AppWindow::resizeEvent(QResizeEvent*) {
    store_.resize(size());
    if (host_.resize(Size{double(width()), double(height())}, devicePixelRatio())) host_.schedule();
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
    return QWindow::event(event);
}

}  // namespace zavo_ui::qt
