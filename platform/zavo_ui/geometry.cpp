#include "zavo_ui/geometry.hpp"

#include <limits>

namespace zavo_ui {

Rect BezPath::control_box() const {
    if (els_.empty()) return {};
    double inf = std::numeric_limits<double>::infinity();
    Rect r{inf, inf, -inf, -inf};
    auto add = [&](Point p) {
        r.x0 = std::min(r.x0, p.x);
        r.y0 = std::min(r.y0, p.y);
        r.x1 = std::max(r.x1, p.x);
        r.y1 = std::max(r.y1, p.y);
    };
    for (const auto& el : els_) {
        // clang-format off
        switch (el.kind) {
        case PathEl::Kind::MoveTo:
        case PathEl::Kind::LineTo: add(el.p[0]); break;
        case PathEl::Kind::QuadTo: add(el.p[0]); add(el.p[1]); break;
        case PathEl::Kind::CurveTo: add(el.p[0]); add(el.p[1]); add(el.p[2]); break;
        case PathEl::Kind::ClosePath: break;
        }
        // clang-format on
    }
    if (r.x0 > r.x1) return {};
    return r;
}

Rect Affine::transform_rect_bbox(const Rect& r) const {
    Point a = apply({r.x0, r.y0});
    Point b = apply({r.x1, r.y0});
    Point c = apply({r.x0, r.y1});
    Point d = apply({r.x1, r.y1});
    return {std::min({a.x, b.x, c.x, d.x}), std::min({a.y, b.y, c.y, d.y}), std::max({a.x, b.x, c.x, d.x}),
            std::max({a.y, b.y, c.y, d.y})};
}

Rect bounding_box(const Shape& shape) {
    struct V {
        Rect operator()(const Rect& r) const { return r.abs(); }
        Rect operator()(const RoundedRect& r) const { return r.rect.abs(); }
        Rect operator()(const Circle& c) const {
            return {c.center.x - c.radius, c.center.y - c.radius, c.center.x + c.radius, c.center.y + c.radius};
        }
        Rect operator()(const Line& l) const { return Rect{l.p0.x, l.p0.y, l.p1.x, l.p1.y}.abs(); }
        Rect operator()(const BezPath& p) const { return p.control_box(); }
    };
    return std::visit(V{}, shape);
}

}  // namespace zavo_ui
