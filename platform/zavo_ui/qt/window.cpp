#include "zavo_ui/qt/window.hpp"

#include <QInputMethodEvent>
#include <QInputMethodQueryEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QWheelEvent>
#include <spdlog/spdlog.h>

#include "zavo_ui/qt/input.hpp"

namespace zavo_ui::qt {

AppWindow::AppWindow(Shell& shell) : shell_(shell) {}

void AppWindow::schedule() {
  if (!shell_.wants_frame()) return;
  const std::vector<Rect> damage = shell_.take_damage();
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

QAccessibleInterface* AppWindow::accessibleRoot() const {
  return access_ != nullptr ? access_->root() : QRasterWindow::accessibleRoot();
}

void AppWindow::paintEvent(QPaintEvent*) {
  shell_.resize(Size{double(width()), double(height())}, devicePixelRatio());
  {
    QPainter painter(this);
    shell_.paint(painter);
  }
  spdlog::debug("frame {} painted", shell_.frames_painted());
  if (access_ != nullptr) access_->refresh_soon();
  schedule();
}

void AppWindow::resizeEvent(QResizeEvent*) {
  if (shell_.resize(Size{double(width()), double(height())}, devicePixelRatio())) update();
}

void AppWindow::deliver(const event::Event& event, Qt::KeyboardModifiers modifiers) {
  shell_.deliver(event, modifiers_from_qt(modifiers));
  schedule();
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
  if (auto key = key_from_qt(*event)) deliver(std::move(*key), event->modifiers());
}

void AppWindow::keyReleaseEvent(QKeyEvent* event) {
  if (auto key = key_from_qt(*event)) deliver(std::move(*key), event->modifiers());
}

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
