#include "zavo_ui/recording_backend.hpp"

namespace zavo_ui {

namespace {
std::optional<Color> solid(const Brush& b) {
    if (auto* c = std::get_if<Color>(&b)) return *c;
    return std::nullopt;
}
std::uint64_t blob(const Brush& b) {
    if (auto* i = std::get_if<ImageBrush>(&b)) return i->image.blob_id;
    return 0;
}
// What fills and strokes record alike: the shape, where it lands, and its brush.
template <class Item>
DrawRecord painted(DrawRecord::Kind kind, const Item& item) {
    DrawRecord r;
    r.kind = kind;
    r.shape = item.shape;
    r.transform = item.transform;
    r.bounds = item.transform.transform_rect_bbox(bounding_box(item.shape));
    r.color = solid(item.brush);
    r.image_blob_id = blob(item.brush);
    r.brush_transform = item.brush_transform;
    return r;
}
}  // namespace

void RecordingBackend::add(DrawRecord rec) {
    rec.clip = clips_.empty() ? std::nullopt : clips_.back();
    rec.layer_depth = int(clips_.size());
    records_.push_back(std::move(rec));
}

void RecordingBackend::fill(const scene_item::FillItem& item) {
    add(painted(std::holds_alternative<ImageBrush>(item.brush) ? DrawRecord::Kind::Image : DrawRecord::Kind::Fill,
                item));
}

void RecordingBackend::stroke(const scene_item::StrokeItem& item) {
    DrawRecord r = painted(DrawRecord::Kind::Stroke, item);
    r.stroke_width = item.stroke.width;
    add(std::move(r));
}

void RecordingBackend::push_layer(const scene_item::PushLayerItem& item) {
    Rect clip = item.transform.transform_rect_bbox(bounding_box(item.clip));
    if (!clips_.empty() && clips_.back()) clip = clip.intersect(*clips_.back());
    clips_.push_back(clip);
    ++pushed_;
    max_depth_ = std::max(max_depth_, int(clips_.size()));
}

void RecordingBackend::pop_layer() {
    if (!clips_.empty()) clips_.pop_back();
}

void RecordingBackend::text(const scene_item::TextItem& item) {
    DrawRecord r;
    r.kind = DrawRecord::Kind::Text;
    r.transform = item.transform;
    Size box{};
    if (measure_) {
        auto m = measure_->measure_styled(item.text, item.style);
        box = {m.width, m.height};
    }
    Rect local = Rect::from_origin_size({0, 0}, box);
    r.shape = local;
    r.bounds = item.transform.transform_rect_bbox(local);
    r.color = item.color;
    r.text = item.text;
    r.style = item.style;
    add(std::move(r));
}

RecordingBackend RecordingBackend::of(const Scene& scene, const text_render::TextRenderer* measure) {
    RecordingBackend b(measure);
    replay(scene, b);
    return b;
}

std::vector<const DrawRecord*> RecordingBackend::texts() const { return of_kind(DrawRecord::Kind::Text); }

const DrawRecord* RecordingBackend::find_text(std::string_view text) const {
    for (const auto& r : records_)
        if (r.kind == DrawRecord::Kind::Text && r.text == text) return &r;
    return nullptr;
}

std::vector<const DrawRecord*> RecordingBackend::of_kind(DrawRecord::Kind kind) const {
    std::vector<const DrawRecord*> out;
    for (const auto& r : records_)
        if (r.kind == kind) out.push_back(&r);
    return out;
}

}  // namespace zavo_ui
