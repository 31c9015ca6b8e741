#pragma once
// A scene backend for tests: replays a scene into flat records with window-space bounds, the
// clip in force and the colour or image of each item, so tests can ask what was drawn where.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zavo_ui/scene.hpp"
#include "zavo_ui/text_render.hpp"

namespace zavo_ui {

struct DrawRecord {
    enum class Kind : std::uint8_t { Fill, Stroke, Image, Text };
    Kind kind = Kind::Fill;
    Shape shape;                      // as given (for text: the box from the renderer's measure)
    Affine transform;                 // as given
    Rect bounds;                      // the shape's box under the transform, window space
    std::optional<Color> color;       // solid brush or text colour
    std::uint64_t image_blob_id = 0;  // image brush
    std::optional<Affine> brush_transform;
    double stroke_width = 0.0;
    std::string text;
    TextStyle style;
    std::optional<Rect> clip;  // intersection of the open clip layers, window space
    int layer_depth = 0;
};

class RecordingBackend : public SceneBackend {
public:
    // With a renderer, text records get the measured box as bounds; without, an empty box at
    // the text's origin.
    explicit RecordingBackend(const text_render::TextRenderer* measure = nullptr) : measure_(measure) {}
    void fill(const scene_item::FillItem& item) override;
    void stroke(const scene_item::StrokeItem& item) override;
    void push_layer(const scene_item::PushLayerItem& item) override;
    void pop_layer() override;
    void text(const scene_item::TextItem& item) override;

    const std::vector<DrawRecord>& records() const { return records_; }
    // Replays `scene` into a fresh backend.
    static RecordingBackend of(const Scene& scene, const text_render::TextRenderer* measure = nullptr);

    // Every text record, in drawing order.
    std::vector<const DrawRecord*> texts() const;
    // The first text record whose text equals `text`, or null.
    const DrawRecord* find_text(std::string_view text) const;
    // Records of one kind, in drawing order.
    std::vector<const DrawRecord*> of_kind(DrawRecord::Kind kind) const;
    // Pushes seen and the deepest nesting reached.
    int layers_pushed() const { return pushed_; }
    int max_depth() const { return max_depth_; }

private:
    void add(DrawRecord rec);
    const text_render::TextRenderer* measure_;
    std::vector<DrawRecord> records_;
    std::vector<std::optional<Rect>> clips_;
    int pushed_ = 0;
    int max_depth_ = 0;
};

}  // namespace zavo_ui
