#pragma once
// 2-D geometry in logical pixels: points, rectangles, rounded rectangles, circles, lines,
// Bézier paths and affine transforms. Rectangles are (x0, y0, x1, y1).
#include <algorithm>
#include <array>
#include <cmath>
#include <variant>
#include <vector>

namespace zavo_ui {

struct Point {
    double x = 0.0;
    double y = 0.0;

    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0.0;
    double height = 0.0;

    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    double x0 = 0.0;
    double y0 = 0.0;
    double x1 = 0.0;
    double y1 = 0.0;

    static constexpr Rect from_origin_size(Point origin, Size size) {
        return {origin.x, origin.y, origin.x + size.width, origin.y + size.height};
    }
    constexpr double width() const { return x1 - x0; }
    constexpr double height() const { return y1 - y0; }
    constexpr Point center() const { return {(x0 + x1) / 2.0, (y0 + y1) / 2.0}; }
    // The same rectangle with x0 <= x1 and y0 <= y1.
    constexpr Rect abs() const { return {std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)}; }
    // Half-open test: x0 <= x < x1 and y0 <= y < y1.
    constexpr bool contains(Point p) const { return p.x >= x0 && p.x < x1 && p.y >= y0 && p.y < y1; }
    // Positive amounts shrink the rectangle on every side.
    constexpr Rect inset(double amount) const { return {x0 + amount, y0 + amount, x1 - amount, y1 - amount}; }
    constexpr Rect intersect(const Rect& o) const {
        return {std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
    }
    constexpr bool is_empty() const { return !(x1 > x0 && y1 > y0); }

    friend bool operator==(const Rect&, const Rect&) = default;
};

// Corner radii in the order top-left, top-right, bottom-right, bottom-left.
struct RoundedRect {
    Rect rect;
    std::array<double, 4> radii{};

    // The rectangle with its corners ordered and every radius min(r, half the shorter side).
    static RoundedRect from_rect(const Rect& rect, double radius) {
        Rect r = rect.abs();
        double clamped = std::max(0.0, std::min(radius, std::min(r.width(), r.height()) / 2.0));
        return {r, {clamped, clamped, clamped, clamped}};
    }
    // Every corner the same radius; true when radii are all equal.
    bool uniform() const { return radii[0] == radii[1] && radii[1] == radii[2] && radii[2] == radii[3]; }

    friend bool operator==(const RoundedRect&, const RoundedRect&) = default;
};

struct Circle {
    Point center;
    double radius = 0.0;

    friend bool operator==(const Circle&, const Circle&) = default;
};

struct Line {
    Point p0;
    Point p1;

    friend bool operator==(const Line&, const Line&) = default;
};

struct PathEl {
    enum class Kind { MoveTo, LineTo, QuadTo, CurveTo, ClosePath };
    Kind kind = Kind::MoveTo;
    // MoveTo and LineTo use p[0]; QuadTo p[0] (control), p[1]; CurveTo p[0], p[1], p[2].
    std::array<Point, 3> p{};

    friend bool operator==(const PathEl&, const PathEl&) = default;
};

class BezPath {
public:
    void move_to(Point p) { els_.push_back({PathEl::Kind::MoveTo, {p, {}, {}}}); }
    void line_to(Point p) { els_.push_back({PathEl::Kind::LineTo, {p, {}, {}}}); }
    void quad_to(Point c, Point p) { els_.push_back({PathEl::Kind::QuadTo, {c, p, {}}}); }
    void curve_to(Point c1, Point c2, Point p) { els_.push_back({PathEl::Kind::CurveTo, {c1, c2, p}}); }
    void close_path() { els_.push_back({PathEl::Kind::ClosePath, {}}); }

    const std::vector<PathEl>& elements() const { return els_; }
    bool empty() const { return els_.empty(); }
    // Bounding box of every point of the path (control points included).
    Rect control_box() const;

    friend bool operator==(const BezPath&, const BezPath&) = default;

private:
    std::vector<PathEl> els_;
};

// Maps (x, y) to (a x + c y + e, b x + d y + f); coefficients in the order [a, b, c, d, e, f].
struct Affine {
    std::array<double, 6> m{1.0, 0.0, 0.0, 1.0, 0.0, 0.0};

    static constexpr Affine identity() { return {}; }
    static constexpr Affine translate(double x, double y) { return {{1.0, 0.0, 0.0, 1.0, x, y}}; }
    static constexpr Affine scale(double s) { return {{s, 0.0, 0.0, s, 0.0, 0.0}}; }
    static constexpr Affine scale_non_uniform(double sx, double sy) { return {{sx, 0.0, 0.0, sy, 0.0, 0.0}}; }

    constexpr Point apply(Point p) const { return {m[0] * p.x + m[2] * p.y + m[4], m[1] * p.x + m[3] * p.y + m[5]}; }
    // Bounding box of the transformed corners.
    Rect transform_rect_bbox(const Rect& r) const;
    // True when the transform only scales and translates (no rotation or skew).
    constexpr bool is_axis_aligned() const { return m[1] == 0.0 && m[2] == 0.0; }

    // (a * b) applies b first, then a.
    friend constexpr Affine operator*(const Affine& a, const Affine& b) {
        const auto& x = a.m;
        const auto& y = b.m;
        return {{x[0] * y[0] + x[2] * y[1], x[1] * y[0] + x[3] * y[1], x[0] * y[2] + x[2] * y[3],
                 x[1] * y[2] + x[3] * y[3], x[0] * y[4] + x[2] * y[5] + x[4], x[1] * y[4] + x[3] * y[5] + x[5]}};
    }
    constexpr Affine then_translate(double x, double y) const { return translate(x, y) * *this; }
    // This transform followed by a translation applied first: self x translate(x, y).
    constexpr Affine pre_translate(double x, double y) const { return *this * translate(x, y); }

    friend bool operator==(const Affine&, const Affine&) = default;
};

using Shape = std::variant<Rect, RoundedRect, Circle, Line, BezPath>;

// Bounding box of a shape in its own coordinates.
Rect bounding_box(const Shape& shape);

}  // namespace zavo_ui
