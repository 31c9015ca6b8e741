#include "zavo_ui/host/damage.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

namespace zavo_ui::host {
namespace {

// How far antialiased edges reach beyond a shape's box.
constexpr double kEdge = 1.0;
// More rectangles than this after joining the overlapping ones become their bounding box.
constexpr std::size_t kJoinAtMost = 32;

Rect join(const Rect& a, const Rect& b) {
    return {std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
}
double area(const Rect& r) { return r.width() * r.height(); }
bool meet(const Rect& a, const Rect& b) { return a.x0 <= b.x1 && b.x0 <= a.x1 && a.y0 <= b.y1 && b.y0 <= a.y1; }

// For each item of a scene: the clip it is painted under (none outside every layer) and the
// push that opened its layer (-1 outside every layer; for a pop, the push it closes).
struct Layers {
    std::vector<std::optional<Rect>> clip;
    std::vector<std::ptrdiff_t> parent;
};

Layers layers_of(const Scene& scene, const text_render::TextRenderer& text) {
    const auto& items = scene.items();
    Layers out;
    out.clip.reserve(items.size());
    out.parent.reserve(items.size());
    struct Open {
        std::ptrdiff_t push;
        Rect clip;
    };
    std::vector<Open> open;
    for (std::size_t i = 0; i < items.size(); ++i) {
        out.parent.push_back(open.empty() ? -1 : open.back().push);
        out.clip.push_back(open.empty() ? std::nullopt : std::optional<Rect>(open.back().clip));
        if (std::holds_alternative<scene_item::PushLayerItem>(items[i])) {
            const Rect clip = painted_box(items[i], text);
            open.push_back({std::ptrdiff_t(i), open.empty() ? clip : clip.intersect(open.back().clip)});
        } else if (std::holds_alternative<scene_item::PopLayerItem>(items[i]) && !open.empty()) {
            open.pop_back();
        }
    }
    return out;
}

}  // namespace

Rect painted_box(const SceneItem& item, const text_render::TextRenderer& text) {
    struct Box {
        const text_render::TextRenderer& text;
        Rect operator()(const scene_item::FillItem& i) const {
            return i.transform.transform_rect_bbox(bounding_box(i.shape));
        }
        Rect operator()(const scene_item::StrokeItem& i) const {
            // Half the width out from the outline; miter joins and square caps reach further.
            const double corner = i.stroke.join == Join::Miter ? std::max(i.stroke.miter_limit, 1.0) : 1.0;
            const double reach = i.stroke.width / 2.0 * std::max(corner, std::sqrt(2.0));
            return i.transform.transform_rect_bbox(bounding_box(i.shape).inset(-reach));
        }
        Rect operator()(const scene_item::PushLayerItem& i) const {
            return i.transform.transform_rect_bbox(bounding_box(i.clip));
        }
        Rect operator()(const scene_item::PopLayerItem&) const { return {}; }
        Rect operator()(const scene_item::TextItem& i) const {
            // Glyphs may reach past the measured box: overhangs, accents, an emboldened face.
            const auto box = text.measure_styled(i.text, i.style);
            const double margin = 2.0 + 0.25 * i.pixel_size;
            return i.transform.transform_rect_bbox(Rect{0.0, 0.0, box.width, box.height}.inset(-margin));
        }
    };
    return std::visit(Box{text}, item);
}

std::vector<Rect> merge_rects(std::vector<Rect> rects, std::size_t most) {
    std::erase_if(rects, [](const Rect& r) { return r.is_empty(); });
    for (bool joined = true; joined && rects.size() <= kJoinAtMost * 4;) {
        joined = false;
        for (std::size_t i = 0; i < rects.size(); ++i) {
            for (std::size_t j = i + 1; j < rects.size();) {
                if (!meet(rects[i], rects[j])) {
                    ++j;
                    continue;
                }
                rects[i] = join(rects[i], rects[j]);
                rects.erase(rects.begin() + std::ptrdiff_t(j));
                joined = true;
            }
        }
    }
    if (rects.size() > std::max(kJoinAtMost, most)) {
        Rect all = rects.front();
        for (const Rect& r : rects) all = join(all, r);
        return {all};
    }
    while (rects.size() > std::max<std::size_t>(most, 1)) {
        std::size_t a = 0, b = 1;
        double least = 0.0;
        for (std::size_t i = 0; i < rects.size(); ++i) {
            for (std::size_t j = i + 1; j < rects.size(); ++j) {
                const double growth = area(join(rects[i], rects[j])) - area(rects[i]) - area(rects[j]);
                if ((i == 0 && j == 1) || growth < least) {
                    least = growth;
                    a = i;
                    b = j;
                }
            }
        }
        rects[a] = join(rects[a], rects[b]);
        rects.erase(rects.begin() + std::ptrdiff_t(b));
    }
    return rects;
}

std::vector<Rect> scene_damage(const Scene& shown, const Scene& next, const text_render::TextRenderer& text,
                               std::size_t most) {
    if (shown == next) return {};
    const auto& a = shown.items();
    const auto& b = next.items();
    // Pairs: by position, or the common start and the common end.
    std::vector<std::ptrdiff_t> partner(a.size(), -1);
    std::vector<bool> paired(b.size(), false);
    const auto pair = [&](std::size_t i, std::size_t j) {
        partner[i] = std::ptrdiff_t(j);
        paired[j] = true;
    };
    if (a.size() == b.size()) {
        for (std::size_t i = 0; i < a.size(); ++i) pair(i, i);
    } else {
        const std::size_t shorter = std::min(a.size(), b.size());
        std::size_t start = 0;
        while (start < shorter && a[start] == b[start]) pair(start, start), ++start;
        for (std::size_t end = 1; end <= shorter - start && a[a.size() - end] == b[b.size() - end]; ++end)
            pair(a.size() - end, b.size() - end);
    }

    const Layers la = layers_of(shown, text);
    const Layers lb = layers_of(next, text);
    std::vector<Rect> damage;
    const auto add = [&](const SceneItem& item, const std::optional<Rect>& clip) {
        Rect r = painted_box(item, text).inset(-kEdge);
        if (clip) r = r.intersect(clip->inset(-kEdge));
        if (!r.is_empty()) damage.push_back(r);
    };
    // An item paints alike when it equals its partner and so do the layers it lies in.
    std::vector<bool> alike(a.size(), false);
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (partner[i] < 0) {
            add(a[i], la.clip[i]);
            continue;
        }
        const auto j = std::size_t(partner[i]);
        const std::ptrdiff_t pa = la.parent[i], pb = lb.parent[j];
        const bool same_layers = pa < 0 ? pb < 0 : partner[std::size_t(pa)] == pb && alike[std::size_t(pa)];
        alike[i] = same_layers && a[i] == b[j];
        if (alike[i]) continue;
        add(a[i], la.clip[i]);
        add(b[j], lb.clip[j]);
    }
    for (std::size_t j = 0; j < b.size(); ++j)
        if (!paired[j]) add(b[j], lb.clip[j]);
    return merge_rects(std::move(damage), most);
}

}  // namespace zavo_ui::host
