#pragma once
// Fonts, measuring and drawing of text lines with Qt. The user interface uses Inter
// (fonts-inter), the terminal DejaVu Sans Mono (fonts-dejavu-core).
#include <QFont>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "zavo_ui/scene.hpp"

class QPainter;
class QColor;

namespace zavo_ui::qt {

inline constexpr const char* kUiFamily = "Inter";
inline constexpr const char* kMonoFamily = "DejaVu Sans Mono";

QString to_qstring(std::string_view utf8);

class TextEngine {
public:
    // Weight numbers 0-3: regular, medium, semi-bold, bold.
    const QFont& font(FontFamily family, float pixel_size, std::uint8_t weight);

    double line_width(std::string_view utf8, FontFamily family, float pixel_size, std::uint8_t weight);
    double line_height(FontFamily family, float pixel_size, std::uint8_t weight);
    // x of every caret position of one line: one entry per code point boundary, 0 first.
    std::vector<double> caret_offsets(std::string_view utf8, FontFamily family, float pixel_size, std::uint8_t weight);
    // Draws one line with its box's top-left corner at `top_left` of the painter's transform.
    void draw_line(QPainter& painter, QPointF top_left, std::string_view utf8, FontFamily family, float pixel_size,
                   std::uint8_t weight, const QColor& color);
    // The box the glyphs of one line cover, from its box's top-left corner; empty for a line of
    // spaces.
    QRectF line_ink(std::string_view utf8, FontFamily family, float pixel_size, std::uint8_t weight);

    // The lines a text is set in: split at newlines, and wrapped at spaces when a wrap width
    // is given (the same rule as every text renderer of the framework).
    std::vector<std::string_view> lines(std::string_view utf8, FontFamily family, float pixel_size, std::uint8_t weight,
                                        std::optional<double> wrap_width);

    // Whether the two font families resolve to themselves (the packages are installed).
    static bool ui_font_available();
    static bool mono_font_available();

private:
    // Qt renders whole pixel sizes only: a fractional size uses a font four times as large,
    // measured and drawn at a quarter.
    struct Entry {
        QFont font;
        QFontMetricsF metrics;
        qreal scale = 1.0;
    };
    struct Key {
        FontFamily family;
        std::uint8_t weight;
        float size;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const noexcept;
    };
    static Key key_of(FontFamily family, float pixel_size, std::uint8_t weight);
    Entry& entry(const Key& key);
    // The glyphs of one line, shaped once: texts drawn again in later frames (labels, terminal
    // rows) skip the shaping. The cache is emptied whenever it reaches kShapedLimit lines.
    struct Shaped {
        QList<QGlyphRun> runs;
        QRectF ink;  // what the glyphs cover, from the line box's top-left corner
    };
    const Shaped& shaped(std::string_view utf8, const Key& key);

    struct ShapedKey {
        std::string text;
        Key font;
        bool operator==(const ShapedKey&) const = default;
    };
    struct ShapedKeyHash {
        std::size_t operator()(const ShapedKey& k) const noexcept;
    };
    static constexpr std::size_t kShapedLimit = 4096;

    std::unordered_map<Key, Entry, KeyHash> fonts_;
    std::unordered_map<ShapedKey, Shaped, ShapedKeyHash> shaped_;
    // Widths of measured lines: painting measures the same labels every frame. Emptied like the
    // glyph cache.
    std::unordered_map<ShapedKey, double, ShapedKeyHash> widths_;
};

}  // namespace zavo_ui::qt
