#include "zavo_ui/qt/frames.hpp"

namespace zavo_ui::qt {

void PainterFrame::paint(const Scene& scene, Size, double) {
    paint_scene(painter_, scene, painting_.engine, painting_.images);
    painting_.images.end_frame();
}

void ImageFrame::paint(const Scene& scene, Size logical_size, double scale) {
    image_ = render_scene(scene, logical_size, scale, to_qcolor(background_), painting_.engine, painting_.images);
    painting_.images.end_frame();
}

}  // namespace zavo_ui::qt
