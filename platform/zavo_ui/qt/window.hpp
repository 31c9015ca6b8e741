#pragma once
// The application's window: hands Qt's input to the shell and paints its frames, one after
// another while the widget animates, none while it is idle.
#include <QRasterWindow>

#include "zavo_ui/qt/accessibility.hpp"
#include "zavo_ui/qt/shell.hpp"

namespace zavo_ui::qt {

class AppWindow : public QRasterWindow {
 public:
  explicit AppWindow(Shell& shell);

  // Asks for a frame when the widget wants one.
  void schedule();
  // Exports the widget's accessibility tree through `bridge` (kept up to date after frames).
  void set_access_bridge(AccessBridge* bridge) { access_ = bridge; }
  QAccessibleInterface* accessibleRoot() const override;

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
  bool event(QEvent* event) override;

 private:
  void deliver(const event::Event& event, Qt::KeyboardModifiers modifiers);
  void pointer_at(const QPointF& logical, Qt::KeyboardModifiers modifiers);
  void button(QMouseEvent* event, event::ElementState state);

  Shell& shell_;
  AccessBridge* access_ = nullptr;
  std::optional<QPointF> last_pointer_;  // logical pixels
};

}  // namespace zavo_ui::qt
