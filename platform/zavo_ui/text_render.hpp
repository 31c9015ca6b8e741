#pragma once
// Text measurement and drawing. A renderer measures a text in a style and appends text runs to
// a scene; the backend that replays the scene draws them with the same font metrics. Sizes are
// logical pixels multiplied by the renderer's text scale; measured sizes include that scale.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zavo_ui/color.hpp"
#include "zavo_ui/geometry.hpp"
#include "zavo_ui/scene.hpp"

namespace zavo_ui::text_render {

struct TextMetrics {
    double width = 0.0;
    double height = 0.0;
    friend bool operator==(const TextMetrics&, const TextMetrics&) = default;
};

class TextRenderer {
public:
    virtual ~TextRenderer() = default;

    // The box of `text` set in `style` (wrapped when the style has a wrap width): the widest
    // line and the height of all lines. An empty text is one line high and 0 wide.
    virtual TextMetrics measure_styled(std::string_view text, const TextStyle& style) const = 0;
    // x offset of every caret position of an unwrapped single line: one entry per UTF-8 code
    // point boundary, from 0 (before the first character) to the text's width (after the last).
    // The default measures each prefix; a real renderer answers from one layout.
    virtual std::vector<double> caret_offsets(std::string_view text, const TextStyle& style) const;
    // Factor applied to every size; 1.0 unless the user chose larger text.
    virtual float text_scale() const = 0;

    TextMetrics measure(std::string_view text, float size, std::optional<double> wrap_width = std::nullopt) const {
        return measure_styled(text, TextStyle{size, 0, wrap_width, FontFamily::Sans});
    }
    TextMetrics measure_weighted(std::string_view text, float size, std::uint8_t weight,
                                 std::optional<double> wrap_width = std::nullopt) const {
        return measure_styled(text, TextStyle{size, weight, wrap_width, FontFamily::Sans});
    }
    // Appends the text with its top-left corner at the transform's origin.
    void draw_text(Scene& scene, const Affine& transform, std::string_view text, float size, Color color,
                   std::optional<double> wrap_width = std::nullopt) const {
        draw_styled(scene, transform, text, TextStyle{size, 0, wrap_width, FontFamily::Sans}, color);
    }
    void draw_text_weighted(Scene& scene, const Affine& transform, std::string_view text, float size,
                            std::uint8_t weight, Color color, std::optional<double> wrap_width = std::nullopt) const {
        draw_styled(scene, transform, text, TextStyle{size, weight, wrap_width, FontFamily::Sans}, color);
    }
    void draw_styled(Scene& scene, const Affine& transform, std::string_view text, const TextStyle& style,
                     Color color) const;
};

// Deterministic metrics for tests and for runs without fonts: every code point advances
// 0.5 em (0.6 em in the monospace family), whatever its weight; a line is 1.25 em high.
// Wrapping breaks greedily at spaces. An empty text measures 0 wide and one line high.
class FakeTextRenderer : public TextRenderer {
public:
    explicit FakeTextRenderer(float scale = 1.0f) : scale_(scale) {}
    TextMetrics measure_styled(std::string_view text, const TextStyle& style) const override;
    std::vector<double> caret_offsets(std::string_view text, const TextStyle& style) const override;
    float text_scale() const override { return scale_; }
    void set_text_scale(float scale) { scale_ = scale; }

    static double advance_em(FontFamily family) { return family == FontFamily::Mono ? 0.6 : 0.5; }
    static constexpr double LINE_HEIGHT_EM = 1.25;

private:
    float scale_;
};

// Whether a UTF-8 byte continues a character rather than starting one.
inline bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The code points in UTF-8 `s`.
std::size_t code_points(std::string_view s);
// The first `n` code points of `text`, and its last `n`.
std::string_view first_code_points(std::string_view text, std::size_t n);
std::string_view last_code_points(std::string_view text, std::size_t n);

// As much of `text`, from its start (or from its end), as measuring it against `width` needs:
// 64 code points, then four times as many each time, until the piece is wider than `width`, is
// all of `text`, or is kMeasuredAtMost code points long, more than any window shows. A long text
// costs what can be shown of it, not its length.
struct MeasuredPiece {
    std::string_view text;
    double width = 0.0;
    bool whole = false;  // all of the text
    // Whether all of the text fits in `room`.
    bool fits(double room) const { return whole && width <= room; }
};
inline constexpr std::size_t kMeasuredAtMost = 4096;
MeasuredPiece measured_piece(const TextRenderer& renderer, std::string_view text, const TextStyle& style, double width,
                             bool from_end = false);

// `text` cut at its line breaks, without wrapping.
std::vector<std::string_view> split_lines(std::string_view text);

// Splits `text` into the lines a greedy wrap at spaces gives when each line may be at most
// `max_width` wide by `width_of`. Shared by the fake and real renderers so both wrap alike.
template <typename WidthOf>
std::vector<std::string_view> wrap_lines(std::string_view text, double max_width, WidthOf&& width_of);

// The lines `text` is drawn in: wrapped at `wrap_width` when there is one, else cut at its line
// breaks.
template <typename WidthOf>
std::vector<std::string_view> text_lines(std::string_view text, std::optional<double> wrap_width, WidthOf&& width_of) {
    return wrap_width ? wrap_lines(text, *wrap_width, width_of) : split_lines(text);
}

}  // namespace zavo_ui::text_render

// ---- implementation of the template ----
namespace zavo_ui::text_render {
template <typename WidthOf>
std::vector<std::string_view> wrap_lines(std::string_view text, double max_width, WidthOf&& width_of) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (true) {
        std::size_t nl = text.find('\n', start);
        std::string_view para = text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start);
        // Greedy fill of one paragraph.
        std::size_t line_start = 0;
        std::size_t pos = 0;
        std::size_t last_fit_end = std::string_view::npos;  // end of the last word that fit
        while (pos <= para.size()) {
            std::size_t sp = para.find(' ', pos);
            std::size_t word_end = sp == std::string_view::npos ? para.size() : sp;
            std::string_view candidate = para.substr(line_start, word_end - line_start);
            if (last_fit_end != std::string_view::npos && width_of(candidate) > max_width) {
                lines.push_back(para.substr(line_start, last_fit_end - line_start));
                line_start = last_fit_end;
                while (line_start < para.size() && para[line_start] == ' ') ++line_start;
                last_fit_end = std::string_view::npos;
                pos = line_start;
                continue;
            }
            last_fit_end = word_end;
            if (sp == std::string_view::npos) break;
            pos = sp + 1;
        }
        lines.push_back(para.substr(line_start));
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
    return lines;
}
}  // namespace zavo_ui::text_render
