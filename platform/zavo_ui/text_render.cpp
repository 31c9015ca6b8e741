#include "zavo_ui/text_render.hpp"

#include <algorithm>

namespace zavo_ui::text_render {

std::size_t code_points(std::string_view s) {
    std::size_t n = 0;
    for (unsigned char c : s)
        if (!is_continuation(c)) ++n;
    return n;
}

std::string_view first_code_points(std::string_view text, std::size_t n) {
    std::size_t i = 0;
    for (std::size_t seen = 0; i < text.size(); ++i)
        if (!is_continuation(static_cast<unsigned char>(text[i])) && seen++ == n) break;
    return text.substr(0, i);
}

std::string_view last_code_points(std::string_view text, std::size_t n) {
    std::size_t i = text.size();
    while (i > 0 && n > 0)
        if (!is_continuation(static_cast<unsigned char>(text[--i]))) --n;
    return text.substr(i);
}

MeasuredPiece measured_piece(const TextRenderer& renderer, std::string_view text, const TextStyle& style, double width,
                             bool from_end) {
    for (std::size_t n = 64;; n = std::min(4 * n, kMeasuredAtMost)) {
        const std::string_view piece = from_end ? last_code_points(text, n) : first_code_points(text, n);
        const double w = renderer.measure_styled(piece, style).width;
        const bool whole = piece.size() == text.size();
        if (w > width || whole || n == kMeasuredAtMost) return {piece, w, whole};
    }
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (true) {
        const std::size_t nl = text.find('\n', start);
        lines.push_back(text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start));
        if (nl == std::string_view::npos) return lines;
        start = nl + 1;
    }
}

std::vector<double> TextRenderer::caret_offsets(std::string_view text, const TextStyle& style) const {
    TextStyle line = style;
    line.wrap_width.reset();
    std::vector<double> out{0.0};
    for (std::size_t i = 1; i <= text.size(); ++i) {
        if (i < text.size() && is_continuation(static_cast<unsigned char>(text[i]))) continue;
        out.push_back(measure_styled(text.substr(0, i), line).width);
    }
    return out;
}

void TextRenderer::draw_styled(Scene& scene, const Affine& transform, std::string_view text, const TextStyle& style,
                               Color color) const {
    scene.text(scene_item::TextItem{transform, std::string(text), style, style.size * text_scale(), color});
}

TextMetrics FakeTextRenderer::measure_styled(std::string_view text, const TextStyle& style) const {
    double px = double(style.size) * scale_;
    double advance = px * advance_em(style.family);
    double line_h = px * LINE_HEIGHT_EM;
    auto width_of = [&](std::string_view s) { return double(code_points(s)) * advance; };
    const std::vector<std::string_view> lines = text_lines(text, style.wrap_width, width_of);
    double w = 0.0;
    for (auto l : lines) w = std::max(w, width_of(l));
    return {w, line_h * double(lines.size())};
}

std::vector<double> FakeTextRenderer::caret_offsets(std::string_view text, const TextStyle& style) const {
    double advance = double(style.size) * scale_ * advance_em(style.family);
    std::vector<double> out;
    out.reserve(text.size() + 1);
    out.push_back(0.0);
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i + 1 == text.size() || !is_continuation(static_cast<unsigned char>(text[i + 1])))
            out.push_back(double(++n) * advance);
    }
    return out;
}

}  // namespace zavo_ui::text_render
