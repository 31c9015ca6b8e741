#include "zavo_ui/qt/frames.hpp"

#include <QPainter>

namespace zavo_ui::qt {

void PainterFrame::paint(const Scene& scene, Size, double scale, std::span<const Rect> area) {
    if (area.empty()) {
        paint_scene(painter_, scene, painting_.engine, painting_.images);
    } else {
        for (const Rect& r : area) {
            const QRect device = QRectF(r.x0 * scale, r.y0 * scale, r.width() * scale, r.height() * scale)
                                     .toAlignedRect();
            painter_.save();
            painter_.setClipRect(QRectF(device.x() / scale, device.y() / scale, device.width() / scale,
                                        device.height() / scale));
            paint_scene(painter_, scene, painting_.engine, painting_.images);
            painter_.restore();
        }
    }
    painting_.images.end_frame();
}

void ImageFrame::paint(const Scene& scene, Size logical_size, double scale, std::span<const Rect>) {
    image_ = render_scene(scene, logical_size, scale, to_qcolor(background_), painting_.engine, painting_.images);
    painting_.images.end_frame();
}

}  // namespace zavo_ui::qt
