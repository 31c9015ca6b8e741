#include "zavo_ui/qt/scene_painter.hpp"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <optional>
#include <memory>

namespace zavo_ui::qt {
namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

QPointF qp(Point p) { return {p.x, p.y}; }

Qt::PenJoinStyle qt_join(Join j) {
  switch (j) {
    case Join::Bevel: return Qt::BevelJoin;
    case Join::Miter: return Qt::SvgMiterJoin;
    case Join::Round: return Qt::RoundJoin;
  }
  return Qt::RoundJoin;
}

Qt::PenCapStyle qt_cap(Cap c) {
  switch (c) {
    case Cap::Butt: return Qt::FlatCap;
    case Cap::Square: return Qt::SquareCap;
    case Cap::Round: return Qt::RoundCap;
  }
  return Qt::RoundCap;
}

QPainter::CompositionMode qt_composition(const BlendMode& blend) {
  if (blend.compose == Compose::Copy) return QPainter::CompositionMode_Source;
  switch (blend.mix) {
    case Mix::Multiply: return QPainter::CompositionMode_Multiply;
    case Mix::Screen: return QPainter::CompositionMode_Screen;
    case Mix::Normal: break;
  }
  return QPainter::CompositionMode_SourceOver;
}

void release_pixels(void* info) { delete static_cast<PixelBytes*>(info); }

// The area a round-joined stroke of `width` covers along a rectangle, a rounded rectangle
// with one radius or a circle: the ring between the shape grown and shrunk by half the
// width. Filling it is much cheaper than stroking the outline. None for other shapes.
std::optional<QPainterPath> stroke_ring(const Shape& shape, double width) {
  const double h = width / 2.0;
  QPainterPath ring;
  ring.setFillRule(Qt::OddEvenFill);
  if (const auto* c = std::get_if<Circle>(&shape)) {
    ring.addEllipse(qp(c->center), c->radius + h, c->radius + h);
    if (c->radius > h) ring.addEllipse(qp(c->center), c->radius - h, c->radius - h);
    return ring;
  }
  Rect r;
  double radius = 0.0;
  if (const auto* rect = std::get_if<Rect>(&shape)) {
    r = rect->abs();
  } else if (const auto* rr = std::get_if<RoundedRect>(&shape); rr && rr->uniform()) {
    r = rr->rect.abs();
    radius = rr->radii[0];
  } else {
    return std::nullopt;
  }
  const QRectF outer(r.x0 - h, r.y0 - h, r.width() + width, r.height() + width);
  ring.addRoundedRect(outer, radius + h, radius + h);
  if (r.width() > width && r.height() > width) {
    const QRectF inner(r.x0 + h, r.y0 + h, r.width() - width, r.height() - width);
    const double inner_radius = std::max(radius - h, 0.0);
    if (inner_radius > 0.0)
      ring.addRoundedRect(inner, inner_radius, inner_radius);
    else
      ring.addRect(inner);
  }
  return ring;
}

}  // namespace

QTransform to_qtransform(const Affine& a) {
  const auto& m = a.m;
  return QTransform(m[0], m[1], m[2], m[3], m[4], m[5]);
}

QColor to_qcolor(const Color& c) {
  QColor out;
  out.setRgbF(std::clamp(c.r, 0.0f, 1.0f), std::clamp(c.g, 0.0f, 1.0f), std::clamp(c.b, 0.0f, 1.0f),
              std::clamp(c.a, 0.0f, 1.0f));
  return out;
}

QPainterPath to_path(const Shape& shape) {
  QPainterPath path;
  std::visit(Overloaded{
                 [&](const Rect& r) { path.addRect(QRectF(QPointF(r.x0, r.y0), QPointF(r.x1, r.y1)).normalized()); },
                 [&](const RoundedRect& rr) {
                   const Rect r = rr.rect.abs();
                   if (rr.uniform()) {
                     path.addRoundedRect(QRectF(r.x0, r.y0, r.width(), r.height()), rr.radii[0], rr.radii[0]);
                     return;
                   }
                   // Corners top-left, top-right, bottom-right, bottom-left.
                   const auto [tl, tr, br, bl] = rr.radii;
                   path.moveTo(r.x0 + tl, r.y0);
                   path.lineTo(r.x1 - tr, r.y0);
                   path.arcTo(QRectF(r.x1 - 2 * tr, r.y0, 2 * tr, 2 * tr), 90, -90);
                   path.lineTo(r.x1, r.y1 - br);
                   path.arcTo(QRectF(r.x1 - 2 * br, r.y1 - 2 * br, 2 * br, 2 * br), 0, -90);
                   path.lineTo(r.x0 + bl, r.y1);
                   path.arcTo(QRectF(r.x0, r.y1 - 2 * bl, 2 * bl, 2 * bl), 270, -90);
                   path.lineTo(r.x0, r.y0 + tl);
                   path.arcTo(QRectF(r.x0, r.y0, 2 * tl, 2 * tl), 180, -90);
                   path.closeSubpath();
                 },
                 [&](const Circle& c) { path.addEllipse(qp(c.center), c.radius, c.radius); },
                 [&](const Line& l) {
                   path.moveTo(qp(l.p0));
                   path.lineTo(qp(l.p1));
                 },
                 [&](const BezPath& b) {
                   for (const PathEl& el : b.elements()) {
                     switch (el.kind) {
                       case PathEl::Kind::MoveTo: path.moveTo(qp(el.p[0])); break;
                       case PathEl::Kind::LineTo: path.lineTo(qp(el.p[0])); break;
                       case PathEl::Kind::QuadTo: path.quadTo(qp(el.p[0]), qp(el.p[1])); break;
                       case PathEl::Kind::CurveTo: path.cubicTo(qp(el.p[0]), qp(el.p[1]), qp(el.p[2])); break;
                       case PathEl::Kind::ClosePath: path.closeSubpath(); break;
                     }
                   }
                 },
             },
             shape);
  return path;
}

const QImage& ImageCache::get(const Image& image) {
  auto it = images_.find(image.blob_id);
  if (it == images_.end()) {
    QImage qimage;
    if (image.is_valid() && image.width > 0 && image.height > 0) {
      const auto format = image.alpha_type == ImageAlphaType::AlphaPremultiplied
                              ? QImage::Format_RGBA8888_Premultiplied
                              : QImage::Format_RGBA8888;
      // The QImage reads the shared bytes in place and holds a reference until it goes.
      auto* keep = new PixelBytes(image.data);
      qimage = QImage(image.data->data(), int(image.width), int(image.height),
                      qsizetype(image.width) * 4, format, release_pixels, keep);
    }
    it = images_.emplace(image.blob_id, Entry{std::move(qimage), false}).first;
  }
  it->second.used = true;
  return it->second.image;
}

void ImageCache::end_frame() {
  std::erase_if(images_, [](auto& kv) { return !kv.second.used; });
  for (auto& [_, entry] : images_) entry.used = false;
}

QtSceneBackend::QtSceneBackend(QPainter& painter, TextEngine& text, ImageCache& images)
    : painter_(painter), text_(text), images_(images), base_(painter.worldTransform()) {}

void QtSceneBackend::fill(const scene_item::FillItem& item) {
  const Rect* rect = std::get_if<Rect>(&item.shape);
  if (rect != nullptr && std::holds_alternative<Color>(item.brush) && item.transform.is_axis_aligned()) {
    // Rectangles take the painter's fast path.
    painter_.setWorldTransform(to_qtransform(item.transform) * base_);
    painter_.fillRect(QRectF(QPointF(rect->x0, rect->y0), QPointF(rect->x1, rect->y1)).normalized(),
                      to_qcolor(std::get<Color>(item.brush)));
    return;
  }
  QPainterPath path = to_path(item.shape);
  path.setFillRule(item.fill == Fill::EvenOdd ? Qt::OddEvenFill : Qt::WindingFill);
  const QTransform shape_transform = to_qtransform(item.transform) * base_;
  if (const auto* image = std::get_if<ImageBrush>(&item.brush)) {
    fill_image(path, shape_transform, *image, item.brush_transform);
    return;
  }
  painter_.setWorldTransform(shape_transform);
  painter_.fillPath(path, to_qcolor(std::get<Color>(item.brush)));
}

void QtSceneBackend::fill_image(const QPainterPath& path, const QTransform& shape_transform,
                                const ImageBrush& brush, const std::optional<Affine>& brush_transform) {
  const QImage& image = images_.get(brush.image);
  if (image.isNull()) return;
  painter_.save();
  painter_.setWorldTransform(shape_transform);
  painter_.setClipPath(path, Qt::IntersectClip);
  const QTransform image_transform =
      (brush_transform ? to_qtransform(*brush_transform) : QTransform()) * shape_transform;
  painter_.setWorldTransform(image_transform);
  painter_.setOpacity(painter_.opacity() * std::clamp(brush.alpha, 0.0f, 1.0f));
  painter_.setRenderHint(QPainter::SmoothPixmapTransform, brush.quality != ImageQuality::Low);
  painter_.drawImage(QRectF(0, 0, image.width(), image.height()), image);
  painter_.restore();
}

void QtSceneBackend::stroke(const scene_item::StrokeItem& item) {
  painter_.setWorldTransform(to_qtransform(item.transform) * base_);
  if (const auto* color = std::get_if<Color>(&item.brush); color && item.stroke.join == Join::Round) {
    if (auto ring = stroke_ring(item.shape, item.stroke.width)) {
      painter_.fillPath(*ring, to_qcolor(*color));
      return;
    }
  }
  const QPainterPath path = to_path(item.shape);
  QPen pen;
  pen.setWidthF(item.stroke.width);
  pen.setJoinStyle(qt_join(item.stroke.join));
  pen.setMiterLimit(item.stroke.miter_limit);
  pen.setCapStyle(qt_cap(item.stroke.start_cap));
  if (const auto* color = std::get_if<Color>(&item.brush)) {
    pen.setColor(to_qcolor(*color));
  } else {
    const auto& image = std::get<ImageBrush>(item.brush);
    QBrush brush(images_.get(image.image));
    if (item.brush_transform) brush.setTransform(to_qtransform(*item.brush_transform));
    pen.setBrush(brush);
  }
  painter_.strokePath(path, pen);
}

void QtSceneBackend::push_layer(const scene_item::PushLayerItem& item) {
  painter_.save();
  painter_.setWorldTransform(to_qtransform(item.transform) * base_);
  const Qt::ClipOperation op = painter_.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip;
  if (const auto* rect = std::get_if<Rect>(&item.clip); rect && item.transform.is_axis_aligned())
    painter_.setClipRect(QRectF(QPointF(rect->x0, rect->y0), QPointF(rect->x1, rect->y1)).normalized(), op);
  else
    painter_.setClipPath(to_path(item.clip), op);
  painter_.setOpacity(painter_.opacity() * std::clamp(item.alpha, 0.0f, 1.0f));
  painter_.setCompositionMode(qt_composition(item.blend));
}

void QtSceneBackend::pop_layer() { painter_.restore(); }

void QtSceneBackend::text(const scene_item::TextItem& item) {
  painter_.setWorldTransform(to_qtransform(item.transform) * base_);
  const QColor color = to_qcolor(item.color);
  const auto& style = item.style;
  const double line_height = text_.line_height(style.family, item.pixel_size, style.weight);
  double y = 0.0;
  for (std::string_view line : text_.lines(item.text, style.family, item.pixel_size, style.weight, style.wrap_width)) {
    text_.draw_line(painter_, QPointF(0, y), line, style.family, item.pixel_size, style.weight, color);
    y += line_height;
  }
}

void paint_scene(QPainter& painter, const Scene& scene, TextEngine& text, ImageCache& images) {
  painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                         QPainter::SmoothPixmapTransform);
  painter.save();
  QtSceneBackend backend(painter, text, images);
  replay(scene, backend);
  painter.restore();
}

QImage render_scene(const Scene& scene, Size logical, double scale, const QColor& background,
                    TextEngine& text, ImageCache& images) {
  const int width = std::max(1, int(std::lround(logical.width * scale)));
  const int height = std::max(1, int(std::lround(logical.height * scale)));
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(scale);
  image.fill(background);
  QPainter painter(&image);
  paint_scene(painter, scene, text, images);
  painter.end();
  return image;
}

}  // namespace zavo_ui::qt
