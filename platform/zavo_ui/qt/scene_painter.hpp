#pragma once
// Replays a scene onto a QPainter with antialiasing: into the window's backing store, or into
// an offscreen image.
#include <QImage>
#include <QPainterPath>
#include <QTransform>

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "zavo_ui/geometry.hpp"
#include "zavo_ui/qt/text_engine.hpp"
#include "zavo_ui/scene.hpp"

class QPainter;

namespace zavo_ui::qt {

QTransform to_qtransform(const Affine& a);
QPainterPath to_path(const Shape& shape);
QColor to_qcolor(const Color& c);

// QImages over the scene's shared pixel buffers (no copy), kept by blob id while frames use
// them.
class ImageCache {
 public:
  const QImage& get(const Image& image);
  // Drops the images the frames since the last call did not draw.
  void end_frame();
  std::size_t size() const { return images_.size(); }

 private:
  struct Entry {
    QImage image;
    bool used = false;
  };
  std::unordered_map<std::uint64_t, Entry> images_;
};

class QtSceneBackend : public SceneBackend {
 public:
  QtSceneBackend(QPainter& painter, TextEngine& text, ImageCache& images);

  void fill(const scene_item::FillItem& item) override;
  void stroke(const scene_item::StrokeItem& item) override;
  void push_layer(const scene_item::PushLayerItem& item) override;
  void pop_layer() override;
  void text(const scene_item::TextItem& item) override;

 private:
  void fill_image(const QPainterPath& path, const QTransform& shape_transform, const ImageBrush& brush,
                  const std::optional<Affine>& brush_transform);

  QPainter& painter_;
  TextEngine& text_;
  ImageCache& images_;
  QTransform base_;  // the painter's transform when replay began
};

// Sets the painter up (antialiasing) and replays the scene; the painter's current transform
// maps logical pixels to the device.
void paint_scene(QPainter& painter, const Scene& scene, TextEngine& text, ImageCache& images);

// Renders the scene into a new image of `logical` size times `scale` device pixels, with the
// image's device pixel ratio set to `scale`, over `background`.
QImage render_scene(const Scene& scene, Size logical, double scale, const QColor& background,
                    TextEngine& text, ImageCache& images);

}  // namespace zavo_ui::qt
