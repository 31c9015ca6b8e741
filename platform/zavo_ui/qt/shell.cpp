#include "zavo_ui/qt/shell.hpp"

#include <QPainter>
#include <spdlog/spdlog.h>

#include <cstdlib>

#include "zavo_ui/theme.hpp"

namespace zavo_ui::qt {

Shell::Shell(std::unique_ptr<Widget> root, const theme::Theme& theme, Size logical_size, double scale)
    : root_(std::move(root)), theme_(theme), size_(logical_size), scale_(scale), text_(engine_) {
  window_node_ = *tree_.new_leaf(layout::Style{});
  root_node_ = root_->build_layout(tree_, widgets_);
  if (auto added = tree_.add_child(window_node_, root_node_); !added) {
    spdlog::critical("layout: {}", added.error());
    std::abort();
  }
}

Shell::~Shell() = default;

void Shell::attach_document(crdt::Document& document, std::function<void()> changed) {
  document_ = &document;
  document_changed_ = std::move(changed);
  heads_ = document.get_heads();
}

void Shell::sync_document() {
  if (document_ == nullptr) return;
  root_->sync_document(*document_);
  // A sync may seed an empty document: that is a change to keep too.
  after_change();
}

bool Shell::resize(Size logical_size, double scale) {
  if (logical_size == size_ && scale == scale_) return false;
  size_ = logical_size;
  scale_ = scale;
  layout_dirty_ = true;
  return true;
}

void Shell::set_reduced_motion(bool reduced) { root_->set_reduced_motion(reduced); }

void Shell::set_text_scale(float scale) {
  if (scale == text_.text_scale()) return;
  text_.set_text_scale(scale);
  layout_dirty_ = true;
}

void Shell::ensure_layout() {
  if (!layout_dirty_) return;
  layout_dirty_ = false;
  if (auto done = tree_.compute_layout(window_node_, float(size_.width), float(size_.height)); !done) {
    spdlog::critical("layout: {}", done.error());
    std::abort();
  }
  root_->layout(tree_, root_node_, Point{0.0, 0.0});
}

void Shell::paint_scene_frame() {
  ensure_layout();
  scene_.reset();
  DrawContext draw;
  draw.scale_factor = scale_;
  root_->paint_frame(scene_, Affine::identity(), text_, theme_, draw);
}

// A redraw the widget asks for while it paints (an animation step) stays for the next frame,
// so the flag is cleared before painting (and after the layout, which this frame shows).
void Shell::paint(QPainter& painter) {
  ensure_layout();
  root_->clear_redraw();
  paint_scene_frame();
  painter.fillRect(QRectF(0, 0, size_.width, size_.height), to_qcolor(theme_.colors.background));
  paint_scene(painter, scene_, engine_, images_);
  images_.end_frame();
  ++frames_;
  exchange_relay();
  after_change();
}

QImage Shell::render() {
  ensure_layout();
  root_->clear_redraw();
  paint_scene_frame();
  QImage image = render_scene(scene_, size_, scale_, to_qcolor(theme_.colors.background), engine_, images_);
  images_.end_frame();
  ++frames_;
  exchange_relay();
  after_change();
  return image;
}

EventContext Shell::event_context() {
  EventContext ctx;
  ctx.document = document_;
  ctx.clipboard = clipboard_;
  ctx.pointer = pointer_;
  return ctx;
}

void Shell::deliver(const event::Event& event, event::Modifiers modifiers) {
  ensure_layout();
  if (const auto* moved = std::get_if<event::PointerMoved>(&event)) {
    pointer_ = Point{moved->x / scale_, moved->y / scale_};
  }
  EventContext ctx = event_context();
  bool handled = false;
  root_->handle_event(event, modifiers, ctx, handled, scale_);
  after_change();
}

bool Shell::activate(std::string_view element_id, const a11y::SemanticAction& action) {
  EventContext ctx = event_context();
  const bool accepted = root_->activate_element(element_id, action, ctx);
  after_change();
  return accepted;
}

void Shell::exchange_relay() {
  if (relay_ == nullptr) return;
  if (auto* sink = root_->device_session_sink()) relay_->exchange(*sink);
}

void Shell::end_sessions() {
  root_->end_sessions();
  exchange_relay();
}

void Shell::after_change() {
  if (document_ == nullptr) return;
  // The host's pending heads only say that actions were dispatched; the heads tell what
  // changed, whoever changed it.
  root_->take_host_pending();
  document_->commit();
  auto heads = document_->get_heads();
  if (heads == heads_) return;
  heads_ = std::move(heads);
  if (document_changed_) document_changed_();
  root_->sync_document(*document_);
  heads_ = document_->get_heads();
}

bool Shell::wants_frame() { return root_->needs_redraw() || root_->wants_animation_frame(); }

std::vector<Rect> Shell::take_damage() {
  ensure_layout();
  std::vector<Rect> damage;
  root_->collect_damage(damage);
  return damage;
}

}  // namespace zavo_ui::qt
