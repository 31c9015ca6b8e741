#pragma once
// Replays a scene onto a QPainter with antialiasing: into the window's backing store, or into
// an offscreen image.
#include <QImage>
#include <QPainterPath>
#include <QTransform>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "zavo_ui/geometry.hpp"
#include "zavo_ui/qt/sprite_cache.hpp"
#include "zavo_ui/qt/text_engine.hpp"
#include "zavo_ui/scene.hpp"

class QPainter;

namespace zavo_ui::qt {

QTransform to_qtransform(const Affine& a);
QPainterPath to_path(const Shape& shape);
QColor to_qcolor(const Color& c);

// What the replay keeps between frames: QImages over the scene's shared pixel buffers (no
// copy), kept by blob id while frames use them, each with the picture converted for drawing at
// the size it was last drawn at, and the sprites of shapes and text lines.
class ImageCache {
public:
    explicit ImageCache(std::size_t sprite_budget = SpriteCache::kDefaultBudget) : sprites_(sprite_budget) {}

    // The image over the picture's pixels, as they are.
    const QImage& get(const Image& image);
    // The picture scaled to `size` device pixels in the painter's own format (opaque pixels as
    // RGB32, which draws as a plain copy), when it was asked for at that size before (drawing
    // it once needs no copy: the painter scales it as it draws); null the first time.
    const QImage* drawable(const Image& image, QSize size, bool smooth);
    // How many drawable copies were made.
    std::uint64_t drawables_made() const { return drawables_made_; }
    // Drops the images the frames since the last call did not draw, and sprites over budget.
    void end_frame();
    std::size_t size() const { return images_.size(); }
    SpriteCache& sprites() { return sprites_; }

private:
    struct Entry {
        QImage image;
        QImage drawable;  // empty until asked for twice at one size
        QSize asked;      // the size it was last asked for
        bool smooth = false;
        bool used = false;
    };
    Entry& entry(const Image& image);
    std::unordered_map<std::uint64_t, Entry> images_;
    std::uint64_t drawables_made_ = 0;
    SpriteCache sprites_;
};

class QtSceneBackend : public SceneBackend {
public:
    QtSceneBackend(QPainter& painter, TextEngine& text, ImageCache& images);

    void fill(const scene_item::FillItem& item) override;
    void stroke(const scene_item::StrokeItem& item) override;
    void push_layer(const scene_item::PushLayerItem& item) override;
    void pop_layer() override;
    void text(const scene_item::TextItem& item) override;

    // How a solid-colour shape is painted: filled, or stroked (as a ring where it can be).
    struct ShapePaint {
        std::optional<Fill> fill;
        Stroke stroke;
    };

private:
    void fill_image(const QPainterPath& path, const QTransform& shape_transform, const ImageBrush& brush,
                    const std::optional<Affine>& brush_transform);
    // A picture that exactly covers an upright rectangle, scaled and translated only, is drawn
    // unscaled from the cache's drawable copy at whole device pixels; false for other fills.
    bool blit_picture(const Rect& rect, const scene_item::FillItem& item);
    // Sprites stand in for solid shapes and text lines where the painter only scales uniformly,
    // translates and composites plainly; false where they do not.
    bool shape_from_sprite(const Shape& shape, const Affine& transform, const ShapePaint& how, const Color& color);
    bool line_from_sprite(std::string_view line, double y, const scene_item::TextItem& item, const QColor& color);
    // The cache has room and the painter composites plainly (opaque, source over).
    bool sprites_apply() const;
    // Draws `sprite` with its top-left pixel at device pixel `at`; with `stretch`, its pixel
    // column `stretch->x()` is repeated `extra.width()` more times, its row `stretch->y()`
    // `extra.height()` more times.
    void blit(const QImage& sprite, QPoint at, std::optional<QPoint> stretch = std::nullopt, QSize extra = {});

    QPainter& painter_;
    TextEngine& text_;
    ImageCache& images_;
    QTransform base_;           // the painter's transform when replay began
    QTransform device_;         // base_ and the device pixel ratio: logical pixels to device pixels
    QTransform to_pixels_;      // the world transform that draws in device pixels
    const QImage* target_;      // the image painted into, when it is one the replay can read
    std::vector<QRect> clips_;  // around what the clip of each open layer lets through, in device pixels
    std::string key_;           // sprite keys are built here
};

// Sets the painter up (antialiasing) and replays the scene; the painter's current transform
// maps logical pixels to the device.
void paint_scene(QPainter& painter, const Scene& scene, TextEngine& text, ImageCache& images);

// Renders the scene into a new image of `logical` size times `scale` device pixels, with the
// image's device pixel ratio set to `scale`, over `background`.
QImage render_scene(const Scene& scene, Size logical, double scale, const QColor& background, TextEngine& text,
                    ImageCache& images);

}  // namespace zavo_ui::qt
