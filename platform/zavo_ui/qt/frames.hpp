#pragma once
// The host's frames painted with Qt: into the window through its QPainter, or into an image.
#include <QImage>

#include "zavo_ui/color.hpp"
#include "zavo_ui/host/platform.hpp"
#include "zavo_ui/qt/qt_text_renderer.hpp"
#include "zavo_ui/qt/scene_painter.hpp"
#include "zavo_ui/qt/text_engine.hpp"

class QPainter;

namespace zavo_ui::qt {

// What frames are painted with: the fonts, the text renderer the host measures with over them,
// and the images the frames show.
struct Painting {
    TextEngine engine;
    QtTextRenderer text{engine};
    ImageCache images;
};

// Replays frames with a painter whose transform maps logical pixels to the device, over each
// rectangle of the area (grown to whole device pixels) in turn.
class PainterFrame : public host::FramePainter {
public:
    PainterFrame(QPainter& painter, Painting& painting) : painter_(painter), painting_(painting) {}
    void paint(const Scene& scene, Size logical_size, double scale, std::span<const Rect> area) override;

private:
    QPainter& painter_;
    Painting& painting_;
};

// Renders each frame whole into a new image of the window's size in device pixels, over
// `background`, whatever the area.
class ImageFrame : public host::FramePainter {
public:
    ImageFrame(Painting& painting, const Color& background) : painting_(painting), background_(background) {}
    void paint(const Scene& scene, Size logical_size, double scale, std::span<const Rect> area) override;
    // The last frame.
    const QImage& image() const { return image_; }

private:
    Painting& painting_;
    Color background_;
    QImage image_;
};

}  // namespace zavo_ui::qt
