#pragma once
// Drives a root widget: layout, frames, input, accessibility activations, the document and
// the device relay. The window (or an offscreen run) owns one and feeds it Qt's events.
#include <QImage>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "crdt/document.hpp"
#include "zavo_ui/clipboard.hpp"
#include "zavo_ui/relay/relay.hpp"
#include "zavo_ui/layout.hpp"
#include "zavo_ui/qt/qt_text_renderer.hpp"
#include "zavo_ui/qt/scene_painter.hpp"
#include "zavo_ui/qt/text_engine.hpp"
#include "zavo_ui/scene.hpp"
#include "zavo_ui/widget.hpp"

class QPainter;

namespace zavo_ui::qt {

class Shell {
 public:
  // `theme` must outlive the shell.
  Shell(std::unique_ptr<Widget> root, const theme::Theme& theme, Size logical_size, double scale);
  ~Shell();
  Shell(const Shell&) = delete;
  Shell& operator=(const Shell&) = delete;

  Widget& root() { return *root_; }

  // The document the widget follows; `changed` runs after each change the widget made to it
  // (to keep it), before the widget's document sync.
  void attach_document(crdt::Document& document, std::function<void()> changed);
  // Hands the document to the widget's sync (after loading, and after outside changes).
  void sync_document();
  void set_clipboard(Clipboard* clipboard) { clipboard_ = clipboard; }
  void set_relay(device_relay::DeviceRelay* relay) { relay_ = relay; }

  // The window's size in logical pixels and its device pixels per logical pixel; true when
  // either changed.
  bool resize(Size logical_size, double scale);
  Size logical_size() const { return size_; }
  double scale() const { return scale_; }
  void set_reduced_motion(bool reduced);
  void set_text_scale(float scale);

  // One frame into a painter whose transform maps logical pixels to the device.
  void paint(QPainter& painter);
  // One frame into an image of the window's size in device pixels.
  QImage render();

  // An input event in physical pixels.
  void deliver(const event::Event& event, event::Modifiers modifiers);
  // An accessibility action on an element; true when the widget accepted it.
  bool activate(std::string_view element_id, const a11y::SemanticAction& action);
  // Takes the relay's events and hands it the widget's requests.
  void exchange_relay();
  // Ends the widget's live sessions when the program quits, telling the relay.
  void end_sessions();

  // Whether the widget wants another frame: a redraw is pending or something animates.
  bool wants_frame();
  // The damaged area of the next frame in logical pixels, empty for all of it.
  std::vector<Rect> take_damage();

  std::uint64_t frames_painted() const { return frames_; }

  // Commits what the widget, or an action applied from outside, changed in the document; when
  // the document changed, keeps it and lets the widget sync.
  void after_change();

 private:
  void ensure_layout();
  void paint_scene_frame();
  EventContext event_context();

  std::unique_ptr<Widget> root_;
  const theme::Theme& theme_;
  Size size_;
  double scale_;
  bool layout_dirty_ = true;
  layout::LayoutTree tree_;
  layout::NodeWidgetMap widgets_;
  layout::NodeId window_node_ = 0;
  layout::NodeId root_node_ = 0;
  Scene scene_;
  TextEngine engine_;
  QtTextRenderer text_;
  ImageCache images_;
  crdt::Document* document_ = nullptr;
  std::function<void()> document_changed_;
  std::vector<crdt::ChangeHash> heads_;
  Clipboard* clipboard_ = nullptr;
  device_relay::DeviceRelay* relay_ = nullptr;
  Point pointer_;
  std::uint64_t frames_ = 0;
};

}  // namespace zavo_ui::qt
