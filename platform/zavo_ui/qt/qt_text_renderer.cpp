#include "zavo_ui/qt/qt_text_renderer.hpp"

#include <algorithm>

namespace zavo_ui::qt {

text_render::TextMetrics QtTextRenderer::measure_styled(std::string_view text, const TextStyle& style) const {
    const float px = style.size * scale_;
    double width = 0.0;
    const auto lines = engine_.lines(text, style, px);
    for (std::string_view line : lines) width = std::max(width, engine_.line_width(line, style, px));
    const double height = engine_.line_height(style, px) * double(lines.size());
    return {width, height};
}

std::vector<double> QtTextRenderer::caret_offsets(std::string_view text, const TextStyle& style) const {
    return engine_.caret_offsets(text, style, style.size * scale_);
}

}  // namespace zavo_ui::qt
