#include "zavo_ui/qt/scene_painter.hpp"

#include <QPaintEngine>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <memory>
#include <type_traits>

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

QPen stroke_pen(const Stroke& stroke, const QBrush& brush) {
    QPen pen;
    pen.setBrush(brush);
    pen.setWidthF(stroke.width);
    pen.setJoinStyle(qt_join(stroke.join));
    pen.setMiterLimit(stroke.miter_limit);
    pen.setCapStyle(qt_cap(stroke.start_cap));
    return pen;
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

// Device pixels under a transform that only scales uniformly and translates:
// p -> scale * p + (dx, dy). None for other transforms.
struct Placement {
    double scale = 1.0;
    double dx = 0.0;
    double dy = 0.0;

    Point map(Point p) const { return {scale * p.x + dx, scale * p.y + dy}; }
};

std::optional<Placement> placement(const QTransform& t) {
    if (t.type() > QTransform::TxScale || t.m11() != t.m22() || !(t.m11() > 0.0)) return std::nullopt;
    return Placement{t.m11(), t.dx(), t.dy()};
}

// Sprite keys: the bytes of every value the pixels depend on.
class KeyWriter {
public:
    explicit KeyWriter(std::string& out) : out_(out) { out_.clear(); }

    template <class T>
    requires std::is_arithmetic_v<T> || std::is_enum_v<T> KeyWriter& operator<<(T value) {
        out_.append(reinterpret_cast<const char*>(&value), sizeof value);
        return *this;
    }
    KeyWriter& operator<<(Point p) { return *this << p.x << p.y; }
    KeyWriter& operator<<(const QColor& c) { return *this << quint64(c.rgba64()); }
    KeyWriter& operator<<(std::string_view text) {
        *this << text.size();
        out_.append(text);
        return *this;
    }
    // The shape's points in device pixels from `origin`: the same shape anywhere on the pixel
    // grid with the same offset from it has the same key.
    KeyWriter& shape(const Shape& shape, const Placement& at, Point origin) {
        const auto map = [&](Point p) {
            const Point d = at.map(p);
            return Point{d.x - origin.x, d.y - origin.y};
        };
        *this << shape.index();
        std::visit(Overloaded{
                       [&](const Rect& r) {
                           *this << map({r.x0, r.y0}) << map({r.x1, r.y1});
                       },
                       [&](const RoundedRect& rr) {
                           *this << map({rr.rect.x0, rr.rect.y0}) << map({rr.rect.x1, rr.rect.y1});
                           for (double radius : rr.radii) *this << radius * at.scale;
                       },
                       [&](const Circle& c) { *this << map(c.center) << c.radius * at.scale; },
                       [&](const Line& l) { *this << map(l.p0) << map(l.p1); },
                       [&](const BezPath& b) {
                           for (const PathEl& el : b.elements())
                               *this << el.kind << map(el.p[0]) << map(el.p[1]) << map(el.p[2]);
                       },
                   },
                   shape);
        return *this;
    }

private:
    std::string& out_;
};

// A colour that QPainter fills as exactly the premultiplied pixel `p` (not transparent).
QColor color_of_pixel(QRgb p) {
    const int a = qAlpha(p);
    const auto channel = [a](int v) { return quint16(std::min(65535L, std::lround(v * 65535.0 / a))); };
    return QColor::fromRgba64(channel(qRed(p)), channel(qGreen(p)), channel(qBlue(p)), quint16(a * 257));
}

QRgb pixel_at(const QImage& image, int x, int y) { return reinterpret_cast<const QRgb*>(image.constScanLine(y))[x]; }

// The one opaque colour every pixel of `box` has, if they share one.
std::optional<QRgb> solid_ground(const QImage& image, const QRect& box) {
    const auto row = [&](int y) { return reinterpret_cast<const QRgb*>(image.constScanLine(y)) + box.left(); };
    const QRgb* first = row(box.top());
    const QRgb ground = first[0];
    if (qAlpha(ground) != 255) return std::nullopt;
    QRgb differ = 0;
    for (int x = 1; x < box.width(); ++x) differ |= first[x] ^ ground;
    if (differ != 0) return std::nullopt;
    const std::size_t bytes = std::size_t(box.width()) * sizeof(QRgb);
    for (int y = box.top() + 1; y <= box.bottom(); ++y)
        if (std::memcmp(row(y), first, bytes) != 0) return std::nullopt;
    return ground;
}

// The image a painter draws into, when it is one whose pixels can be read as 32-bit colours.
const QImage* painted_image(QPainter& painter) {
    const QPaintEngine* engine = painter.paintEngine();
    const QPaintDevice* device = engine != nullptr ? engine->paintDevice() : nullptr;
    if (device == nullptr || device->devType() != QInternal::Image) return nullptr;
    const auto* image = static_cast<const QImage*>(device);
    const QImage::Format format = image->format();
    return format == QImage::Format_ARGB32_Premultiplied || format == QImage::Format_RGB32 ? image : nullptr;
}

// Paints a solid shape the way the replay does, in the painter's current transform.
void paint_shape(QPainter& painter, const Shape& shape, const QtSceneBackend::ShapePaint& how, const QColor& color) {
    if (how.fill) {
        QPainterPath path = to_path(shape);
        path.setFillRule(*how.fill == Fill::EvenOdd ? Qt::OddEvenFill : Qt::WindingFill);
        painter.fillPath(path, color);
        return;
    }
    if (how.stroke.join == Join::Round) {
        if (auto ring = stroke_ring(shape, how.stroke.width)) {
            painter.fillPath(*ring, color);
            return;
        }
    }
    painter.strokePath(to_path(shape), stroke_pen(how.stroke, color));
}

// Shapes larger than this many device pixels are drawn from a sprite with their straight
// middle parts cut out, and those parts filled as rectangles.
constexpr int kStretchFrom = 8192;
// Longest side of a sprite, in device pixels.
constexpr int kSpriteSide = 2048;

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

ImageCache::Entry& ImageCache::entry(const Image& image) {
    auto it = images_.find(image.blob_id);
    if (it == images_.end()) {
        QImage qimage;
        if (image.is_valid() && image.width > 0 && image.height > 0) {
            const auto format = image.alpha_type == ImageAlphaType::AlphaPremultiplied
                                    ? QImage::Format_RGBA8888_Premultiplied
                                    : QImage::Format_RGBA8888;
            // The QImage reads the shared bytes in place and holds a reference until it goes.
            auto* keep = new PixelBytes(image.data);
            qimage = QImage(image.data->data(), int(image.width), int(image.height), qsizetype(image.width) * 4, format,
                            release_pixels, keep);
        }
        it = images_.emplace(image.blob_id, Entry{std::move(qimage), QImage(), QSize(), false, false}).first;
    }
    it->second.used = true;
    return it->second;
}

const QImage& ImageCache::get(const Image& image) { return entry(image).image; }

namespace {

// Drawn as the painter draws the picture scaled into the frame: a copy of the same pixels.
QImage scaled_picture(const QImage& picture, QSize size, bool smooth) {
    QImage made(size, QImage::Format_ARGB32_Premultiplied);
    made.fill(Qt::transparent);
    QPainter painter(&made);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    painter.drawImage(QRect(QPoint(0, 0), size), picture);
    painter.end();
    const int width = made.width();
    QRgb all = 0xFF000000u;
    for (int y = 0; y < made.height() && qAlpha(all) == 255; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(made.constScanLine(y));
        for (int x = 0; x < width; ++x) all &= row[x];
    }
    if (qAlpha(all) == 255) made.reinterpretAsFormat(QImage::Format_RGB32);
    return made;
}

}  // namespace

const QImage* ImageCache::drawable(const Image& image, QSize size, bool smooth) {
    Entry& e = entry(image);
    if (e.image.isNull()) return nullptr;
    if (e.drawable.size() == size && e.smooth == smooth) return &e.drawable;
    if (e.asked != size || e.smooth != smooth) {
        e.asked = size;
        e.smooth = smooth;
        e.drawable = QImage();
        return nullptr;
    }
    e.drawable = scaled_picture(e.image, size, smooth);
    ++drawables_made_;
    return &e.drawable;
}

void ImageCache::end_frame() {
    std::erase_if(images_, [](auto& kv) { return !kv.second.used; });
    for (auto& [_, entry] : images_) entry.used = false;
    sprites_.end_frame();
}

QtSceneBackend::QtSceneBackend(QPainter& painter, TextEngine& text, ImageCache& images)
    : painter_(painter),
      text_(text),
      images_(images),
      base_(painter.worldTransform()),
      device_(painter.deviceTransform()),
      to_pixels_(device_.inverted() * base_),
      target_(painted_image(painter)) {
    if (target_ == nullptr) return;
    QRect open = target_->rect();
    if (painter.hasClipping()) open &= painter.deviceTransform().mapRect(painter.clipBoundingRect()).toAlignedRect();
    clips_.push_back(open);
}

bool QtSceneBackend::sprites_apply() const {
    return images_.sprites().budget() > 0 && painter_.opacity() == 1.0 &&
           painter_.compositionMode() == QPainter::CompositionMode_SourceOver;
}

void QtSceneBackend::fill(const scene_item::FillItem& item) {
    const Rect* rect = std::get_if<Rect>(&item.shape);
    if (rect != nullptr && std::holds_alternative<Color>(item.brush) && item.transform.is_axis_aligned()) {
        // Rectangles take the painter's fast path.
        painter_.setWorldTransform(to_qtransform(item.transform) * base_);
        painter_.fillRect(QRectF(QPointF(rect->x0, rect->y0), QPointF(rect->x1, rect->y1)).normalized(),
                          to_qcolor(std::get<Color>(item.brush)));
        return;
    }
    if (const auto* color = std::get_if<Color>(&item.brush)) {
        const ShapePaint how{item.fill, {}};
        if (shape_from_sprite(item.shape, item.transform, how, *color)) return;
        painter_.setWorldTransform(to_qtransform(item.transform) * base_);
        paint_shape(painter_, item.shape, how, to_qcolor(*color));
        return;
    }
    if (rect != nullptr && blit_picture(*rect, item)) return;
    QPainterPath path = to_path(item.shape);
    path.setFillRule(item.fill == Fill::EvenOdd ? Qt::OddEvenFill : Qt::WindingFill);
    fill_image(path, to_qtransform(item.transform) * base_, std::get<ImageBrush>(item.brush), item.brush_transform);
}

bool QtSceneBackend::blit_picture(const Rect& rect, const scene_item::FillItem& item) {
    const auto& brush = std::get<ImageBrush>(item.brush);
    const Image& image = brush.image;
    if (!image.is_valid() || image.width == 0 || image.height == 0 || brush.alpha != 1.0f) return false;
    const QTransform shape = to_qtransform(item.transform) * device_;
    const QTransform picture = (item.brush_transform ? to_qtransform(*item.brush_transform) : QTransform()) * shape;
    if (picture.type() > QTransform::TxScale || !(picture.m11() > 0.0) || !(picture.m22() > 0.0)) return false;
    const QRectF covered = picture.mapRect(QRectF(0, 0, image.width, image.height));
    const QRectF area = shape.mapRect(QRectF(QPointF(rect.x0, rect.y0), QPointF(rect.x1, rect.y1)).normalized());
    const auto near = [](double a, double b) { return std::abs(a - b) < 0.01; };
    if (!near(covered.left(), area.left()) || !near(covered.top(), area.top()) ||
        !near(covered.right(), area.right()) || !near(covered.bottom(), area.bottom()))
        return false;
    const QPoint from(int(std::lround(covered.left())), int(std::lround(covered.top())));
    const QPoint to(int(std::lround(covered.right())), int(std::lround(covered.bottom())));
    const QRect pixels(from, QSize(to.x() - from.x(), to.y() - from.y()));
    // Outside what this replay paints: kept for the next frame, not converted.
    if (pixels.isEmpty() || (!clips_.empty() && !pixels.intersects(clips_.back()))) {
        images_.get(image);
        return true;
    }
    const bool smooth = brush.quality != ImageQuality::Low;
    if (painter_.worldTransform() != to_pixels_) painter_.setWorldTransform(to_pixels_);
    if (const QImage* drawable = images_.drawable(image, pixels.size(), smooth)) {
        painter_.drawImage(pixels.topLeft(), *drawable);
    } else {
        painter_.save();
        painter_.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
        painter_.drawImage(pixels, images_.get(image));
        painter_.restore();
    }
    return true;
}

void QtSceneBackend::fill_image(const QPainterPath& path, const QTransform& shape_transform, const ImageBrush& brush,
                                const std::optional<Affine>& brush_transform) {
    const QImage& image = images_.get(brush.image);
    if (image.isNull()) return;
    painter_.save();
    painter_.setWorldTransform(shape_transform);
    painter_.setClipPath(path, Qt::IntersectClip);
    const QTransform image_transform = (brush_transform ? to_qtransform(*brush_transform) : QTransform()) *
                                       shape_transform;
    painter_.setWorldTransform(image_transform);
    painter_.setOpacity(painter_.opacity() * std::clamp(brush.alpha, 0.0f, 1.0f));
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, brush.quality != ImageQuality::Low);
    painter_.drawImage(QRectF(0, 0, image.width(), image.height()), image);
    painter_.restore();
}

void QtSceneBackend::stroke(const scene_item::StrokeItem& item) {
    if (const auto* color = std::get_if<Color>(&item.brush)) {
        const ShapePaint how{std::nullopt, item.stroke};
        if (shape_from_sprite(item.shape, item.transform, how, *color)) return;
        painter_.setWorldTransform(to_qtransform(item.transform) * base_);
        paint_shape(painter_, item.shape, how, to_qcolor(*color));
        return;
    }
    painter_.setWorldTransform(to_qtransform(item.transform) * base_);
    const auto& image = std::get<ImageBrush>(item.brush);
    QBrush brush(images_.get(image.image));
    if (item.brush_transform) brush.setTransform(to_qtransform(*item.brush_transform));
    painter_.strokePath(to_path(item.shape), stroke_pen(item.stroke, brush));
}

// A shape's sprite is its coverage in the colour over transparent pixels, at its offset from
// the pixel grid; blended over the frame it gives the pixels drawing the shape there gives.
// Rectangles, rounded rectangles and the rings along them keep only one pixel column and row
// of their straight middle in the sprite when they are large: those are filled across.
bool QtSceneBackend::shape_from_sprite(const Shape& shape, const Affine& transform, const ShapePaint& how,
                                       const Color& color) {
    if (!sprites_apply()) return false;
    const auto at = placement(to_qtransform(transform) * device_);
    if (!at) return false;
    // How far the painted pixels reach beyond the outline, in device pixels.
    const double half = how.fill ? 0.0 : how.stroke.width * at->scale / 2.0;
    const double reach = how.stroke.join == Join::Miter ? half * std::max(how.stroke.miter_limit, 1.5) : half * 1.5;
    const Rect b = bounding_box(shape);
    const Point p0 = at->map({b.x0, b.y0});
    const Point p1 = at->map({b.x1, b.y1});
    if (!std::isfinite(p0.x) || !std::isfinite(p0.y) || !std::isfinite(p1.x) || !std::isfinite(p1.y)) return false;
    const double ox = std::floor(p0.x - reach) - 1.0;
    const double oy = std::floor(p0.y - reach) - 1.0;
    const double width = std::ceil(p1.x + reach) + 1.0 - ox;
    const double height = std::ceil(p1.y + reach) + 1.0 - oy;
    if (width > kSpriteSide || height > kSpriteSide) return false;
    // The shape as drawn into the sprite.
    Shape drawn = shape;
    std::optional<Rect> straight;  // the rectangle along which the outline runs straight
    double corner = half;          // how far from its corners it bends
    if (auto* r = std::get_if<Rect>(&drawn)) {
        *r = r->abs();
        straight = *r;
    } else if (auto* rr = std::get_if<RoundedRect>(&drawn); rr != nullptr && rr->uniform()) {
        rr->rect = rr->rect.abs();
        straight = rr->rect;
        corner = std::max(corner, rr->radii[0] * at->scale);
    }

    // The straight middle: pixel columns and rows that every part of the outline crosses alike.
    QPoint stretch;
    QSize extra(0, 0);
    if (straight && (how.fill || how.stroke.join == Join::Round)) {
        const Point s0 = at->map({straight->x0, straight->y0});
        const Point s1 = at->map({straight->x1, straight->y1});
        const int x0 = int(std::ceil(s0.x - ox + corner));
        const int y0 = int(std::ceil(s0.y - oy + corner));
        const int xs = std::max(int(std::floor(s1.x - ox - corner)) - x0 - 1, 0);
        const int ys = std::max(int(std::floor(s1.y - oy - corner)) - y0 - 1, 0);
        if (width * height - (width - xs) * (height - ys) >= kStretchFrom) {
            stretch = {x0, y0};
            extra = {xs, ys};
            Rect& r = std::holds_alternative<Rect>(drawn) ? std::get<Rect>(drawn) : std::get<RoundedRect>(drawn).rect;
            r.x1 -= xs / at->scale;
            r.y1 -= ys / at->scale;
        }
    }

    const QColor qcolor = to_qcolor(color);
    KeyWriter key(key_);
    key << 'S' << how.fill.has_value() << how.fill.value_or(Fill::NonZero) << how.stroke.width * at->scale
        << how.stroke.join << how.stroke.miter_limit << how.stroke.start_cap << qcolor;
    key.shape(drawn, *at, {ox, oy});
    const QImage* sprite = images_.sprites().find(key_);
    if (sprite == nullptr && !images_.sprites().asked_before(key_)) return false;
    if (sprite == nullptr) {
        // Drawn as the frame would draw it, moved by whole device pixels.
        QImage made(int(width) - extra.width(), int(height) - extra.height(), QImage::Format_ARGB32_Premultiplied);
        made.fill(0);
        QPainter painter(&made);
        painter.setRenderHints(painter_.renderHints());
        painter.setWorldTransform(to_qtransform(transform) * device_ * QTransform::fromTranslate(-ox, -oy));
        paint_shape(painter, drawn, how, qcolor);
        painter.end();
        sprite = &images_.sprites().insert(key_, std::move(made));
    }
    const QPoint origin{int(ox), int(oy)};
    if (extra.isNull())
        blit(*sprite, origin);
    else
        blit(*sprite, origin, stretch, extra);
    return true;
}

void QtSceneBackend::blit(const QImage& sprite, QPoint at, std::optional<QPoint> stretch, QSize extra) {
    if (painter_.worldTransform() != to_pixels_) painter_.setWorldTransform(to_pixels_);
    if (!stretch) {
        painter_.drawImage(at, sprite);
        return;
    }
    // Per axis up to three bands of sprite pixels [from, from + count) drawn at [to, to + span):
    // the part before the repeated pixel, the repeated one, the part after.
    struct Band {
        int from, count, to, span;
    };
    const auto bands = [](int pixel, int more, int size) {
        std::array<Band, 3> out{};
        if (more == 0) {
            out[0] = {0, size, 0, size};
        } else {
            out[0] = {0, pixel, 0, pixel};
            out[1] = {pixel, 1, pixel, more + 1};
            out[2] = {pixel + 1, size - pixel - 1, pixel + 1 + more, size - pixel - 1};
        }
        return out;
    };
    const auto fill = [&](QRect r, QRgb pixel) {
        if (pixel != 0) painter_.fillRect(r.translated(at), color_of_pixel(pixel));
    };
    for (const Band& col : bands(stretch->x(), extra.width(), sprite.width())) {
        for (const Band& row : bands(stretch->y(), extra.height(), sprite.height())) {
            if (col.count == 0 || row.count == 0) continue;
            const bool across = col.span != col.count;
            const bool down = row.span != row.count;
            if (!across && !down) {
                painter_.drawImage(at + QPoint(col.to, row.to), sprite,
                                   QRect(col.from, row.from, col.count, row.count));
            } else if (across && down) {
                fill(QRect(col.to, row.to, col.span, row.span), pixel_at(sprite, col.from, row.from));
            } else if (across) {
                // Rows of one colour each: runs of equal rows are one rectangle.
                for (int y = 0; y < row.count;) {
                    const QRgb pixel = pixel_at(sprite, col.from, row.from + y);
                    int run = 1;
                    while (y + run < row.count && pixel_at(sprite, col.from, row.from + y + run) == pixel) ++run;
                    fill(QRect(col.to, row.to + y, col.span, run), pixel);
                    y += run;
                }
            } else {
                for (int x = 0; x < col.count;) {
                    const QRgb pixel = pixel_at(sprite, col.from + x, row.from);
                    int run = 1;
                    while (x + run < col.count && pixel_at(sprite, col.from + x + run, row.from) == pixel) ++run;
                    fill(QRect(col.to + x, row.to, run, row.span), pixel);
                    x += run;
                }
            }
        }
    }
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
    if (!clips_.empty()) {
        const Rect b = bounding_box(item.clip);
        const QRectF r(QPointF(b.x0, b.y0), QPointF(b.x1, b.y1));
        clips_.push_back(clips_.back() & (to_qtransform(item.transform) * device_).mapRect(r).toAlignedRect());
    }
}

void QtSceneBackend::pop_layer() {
    painter_.restore();
    if (clips_.size() > 1) clips_.pop_back();
}

void QtSceneBackend::text(const scene_item::TextItem& item) {
    const QTransform world = to_qtransform(item.transform) * base_;
    const QColor color = to_qcolor(item.color);
    const auto& style = item.style;
    const double line_height = text_.line_height(style, item.pixel_size);
    double y = 0.0;
    for (std::string_view line : text_.lines(item.text, style, item.pixel_size)) {
        if (!line_from_sprite(line, y, item, color)) {
            painter_.setWorldTransform(world);
            text_.draw_line(painter_, QPointF(0, y), line, style, item.pixel_size, color);
        }
        y += line_height;
    }
}

// Text is blended with gamma correction over opaque pixels, which a sprite over transparent
// pixels cannot give. A line's sprite is therefore the line drawn over the one colour its box
// has in the frame, taken only where the frame has one colour there.
bool QtSceneBackend::line_from_sprite(std::string_view line, double y, const scene_item::TextItem& item,
                                      const QColor& color) {
    if (target_ == nullptr || line.empty() || !sprites_apply()) return false;
    const auto at = placement(to_qtransform(item.transform) * device_);
    if (!at) return false;
    const auto& style = item.style;
    const QRectF ink = text_.line_ink(line, style, item.pixel_size);
    if (ink.isEmpty()) return false;
    // The line's top-left corner in device pixels, as a whole pixel and the part of one.
    const double x = at->dx;
    const double top = at->scale * y + at->dy;
    const double ox = std::floor(x);
    const double oy = std::floor(top);
    const double fx = x - ox;
    const double fy = top - oy;
    // The box the glyphs cover, wider on every side by their antialiased edges and what a font
    // made bold by the engine adds (a 24th of its size).
    const double margin = 1.0 + item.pixel_size * at->scale / 24.0;
    const double left = std::floor(fx + ink.left() * at->scale - margin);
    const double right = std::ceil(fx + ink.right() * at->scale + margin);
    const double upper = std::floor(fy + ink.top() * at->scale - margin);
    const double lower = std::ceil(fy + ink.bottom() * at->scale + margin);
    if (!std::isfinite(ox) || !std::isfinite(oy) || right - left > kSpriteSide || lower - upper > kSpriteSide)
        return false;
    const QRect box(int(ox + left), int(oy + upper), int(right - left), int(lower - upper));
    // Only the part the clip lets through needs one colour; none of it, nothing to draw.
    const QRect open = box & clips_.back();
    if (open.isEmpty()) return true;
    // A line drawn for the first time is drawn directly, before its ground is even looked at.
    KeyWriter key(key_);
    key << 'T' << style.family << style.weight << style.italic << style.verbatim << item.pixel_size << at->scale << fx
        << fy << color << line;
    if (!images_.sprites().asked_before(key_)) return false;
    const auto ground = solid_ground(*target_, open);
    if (!ground) return false;
    key << *ground;
    const QImage* sprite = images_.sprites().find(key_);
    if (sprite == nullptr) {
        QImage made(box.size(), QImage::Format_ARGB32_Premultiplied);
        made.fill(*ground);
        QPainter painter(&made);
        painter.setRenderHints(painter_.renderHints());
        painter.setWorldTransform(QTransform(at->scale, 0, 0, at->scale, x - box.left(), at->dy - box.top()));
        text_.draw_line(painter, QPointF(0, y), line, style, item.pixel_size, color);
        painter.end();
        sprite = &images_.sprites().insert(key_, std::move(made));
    }
    blit(*sprite, box.topLeft());
    return true;
}

void paint_scene(QPainter& painter, const Scene& scene, TextEngine& text, ImageCache& images) {
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing | QPainter::SmoothPixmapTransform);
    painter.save();
    QtSceneBackend backend(painter, text, images);
    replay(scene, backend);
    painter.restore();
}

QImage render_scene(const Scene& scene, Size logical, double scale, const QColor& background, TextEngine& text,
                    ImageCache& images) {
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
