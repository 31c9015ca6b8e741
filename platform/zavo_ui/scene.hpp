#pragma once
// The scene: a display list rebuilt every frame. Painting appends fills, strokes, image fills,
// clip layers and text runs; a backend replays them in order (the Qt backend onto QPainter,
// the recording backend into plain records for tests). Two scenes with equal items paint the
// same pixels (an image is known by its blob id), so a frame can be compared with the last.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "zavo_ui/color.hpp"
#include "zavo_ui/geometry.hpp"
#include "zavo_ui/paint.hpp"

namespace zavo_ui {

enum class FontFamily : std::uint8_t { Sans, Mono };

// How a text is set. `size` is in logical pixels before the renderer's text scale; weights are
// 0 regular, 1 medium, 2 semibold, 3 bold. A wrap width breaks lines at spaces (a word longer
// than the width gets a line of its own and may overflow it).
struct TextStyle {
    float size = 14.0f;
    std::uint8_t weight = 0;
    std::optional<double> wrap_width;
    FontFamily family = FontFamily::Sans;
    bool italic = false;
    // Each character drawn as its own glyph, with no ligature or contextual alternate: for texts
    // a person compares character by character (host names, ports, key fingerprints, ids).
    bool verbatim = false;

    static constexpr TextStyle of_size(float size, std::uint8_t weight = 0) {
        TextStyle s;
        s.size = size;
        s.weight = weight;
        return s;
    }
    friend bool operator==(const TextStyle&, const TextStyle&) = default;
};

namespace scene_item {

struct FillItem {
    Fill fill = Fill::NonZero;
    Affine transform;
    Brush brush;
    std::optional<Affine> brush_transform;  // maps brush space into shape space (images)
    Shape shape;

    friend bool operator==(const FillItem&, const FillItem&) = default;
};

struct StrokeItem {
    Stroke stroke;
    Affine transform;
    Brush brush;
    std::optional<Affine> brush_transform;
    Shape shape;

    friend bool operator==(const StrokeItem&, const StrokeItem&) = default;
};

// Everything drawn until the matching PopLayer is clipped to `clip` (under `transform`) and
// composited with `blend` at `alpha`.
struct PushLayerItem {
    BlendMode blend;
    float alpha = 1.0f;
    Affine transform;
    Shape clip;

    friend bool operator==(const PushLayerItem&, const PushLayerItem&) = default;
};

struct PopLayerItem {
    friend bool operator==(const PopLayerItem&, const PopLayerItem&) = default;
};

// One text with its top-left corner at the transform's origin. `pixel_size` is the size with
// the renderer's text scale applied, the size the glyphs are drawn at.
struct TextItem {
    Affine transform;
    std::string text;
    TextStyle style;
    float pixel_size = 14.0f;
    Color color;

    friend bool operator==(const TextItem&, const TextItem&) = default;
};

}  // namespace scene_item

using SceneItem = std::variant<scene_item::FillItem, scene_item::StrokeItem, scene_item::PushLayerItem,
                               scene_item::PopLayerItem, scene_item::TextItem>;

class Scene {
public:
    void fill(Fill style, const Affine& transform, Brush brush, std::optional<Affine> brush_transform, Shape shape);
    void stroke(const Stroke& style, const Affine& transform, Brush brush, std::optional<Affine> brush_transform,
                Shape shape);
    void push_layer(BlendMode blend, float alpha, const Affine& transform, Shape clip);
    // A pop without a matching push is ignored, so a backend never sees an unbalanced pop.
    void pop_layer();
    // Appended by TextRenderer::draw_*; painting code calls those, not this.
    void text(scene_item::TextItem item);

    // Short forms for the common case of a solid colour.
    void fill_color(const Affine& transform, Color color, Shape shape) {
        fill(Fill::NonZero, transform, color, std::nullopt, std::move(shape));
    }
    void stroke_color(const Affine& transform, const Stroke& style, Color color, Shape shape) {
        stroke(style, transform, color, std::nullopt, std::move(shape));
    }
    void push_clip(const Affine& transform, Shape clip) { push_layer(BlendMode{}, 1.0f, transform, std::move(clip)); }

    const std::vector<SceneItem>& items() const { return items_; }
    // Layers pushed and not yet popped.
    int open_layers() const { return open_layers_; }
    void reset() {
        items_.clear();
        open_layers_ = 0;
    }

    friend bool operator==(const Scene&, const Scene&) = default;

private:
    std::vector<SceneItem> items_;
    int open_layers_ = 0;
};

// A renderer of scenes. `replay` calls it once per item in order and closes layers left open
// at the end, so a backend always sees balanced push/pop pairs.
class SceneBackend {
public:
    virtual ~SceneBackend() = default;
    virtual void fill(const scene_item::FillItem& item) = 0;
    virtual void stroke(const scene_item::StrokeItem& item) = 0;
    virtual void push_layer(const scene_item::PushLayerItem& item) = 0;
    virtual void pop_layer() = 0;
    virtual void text(const scene_item::TextItem& item) = 0;
};

void replay(const Scene& scene, SceneBackend& backend);

}  // namespace zavo_ui
