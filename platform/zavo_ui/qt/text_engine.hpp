#pragma once
// Fonts, measuring and drawing of text lines with Qt. The user interface uses Inter
// (fonts-inter), the terminal DejaVu Sans Mono (fonts-dejavu-core, its oblique faces in
// fonts-dejavu-extra) set at exactly 0.6 em per character, the advance of the terminal's grid.
// CJK comes from Noto Sans CJK (fonts-noto-cjk), emoji from Noto Color Emoji
// (fonts-noto-color-emoji), through Qt's fallback.
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
inline constexpr const char* kEmojiFamily = "Noto Color Emoji";

QString to_qstring(std::string_view utf8);

class TextEngine {
public:
    // The font of a style at `pixel_size` (the style's own size and wrap width are not looked
    // at): its family, weight (0-3: regular, medium, semi-bold, bold), slant, and for a verbatim
    // style no shaping where the script does not need it (no glyph substitution). Characters the
    // family lacks (CJK, emoji) are set in the fallback fonts fontconfig names for them.
    const QFont& font(const TextStyle& style, float pixel_size);

    double line_width(std::string_view utf8, const TextStyle& style, float pixel_size);
    double line_height(const TextStyle& style, float pixel_size);
    // x of every caret position of one line: one entry per code point boundary, 0 first.
    std::vector<double> caret_offsets(std::string_view utf8, const TextStyle& style, float pixel_size);
    // Draws one line with its box's top-left corner at `top_left` of the painter's transform.
    void draw_line(QPainter& painter, QPointF top_left, std::string_view utf8, const TextStyle& style,
                   float pixel_size, const QColor& color);
    // The box the glyphs of one line cover, from its box's top-left corner; empty for a line of
    // spaces.
    QRectF line_ink(std::string_view utf8, const TextStyle& style, float pixel_size);

    // The lines a text is set in: split at newlines, and wrapped at the style's wrap width when
    // it has one (the same rule as every text renderer of the framework).
    std::vector<std::string_view> lines(std::string_view utf8, const TextStyle& style, float pixel_size);

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
        double line_height = 0.0;  // asked for with every measurement: kept, not asked of Qt
    };
    struct Key {
        FontFamily family;
        std::uint8_t weight;
        bool italic;
        bool verbatim;
        float size;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash {
        std::size_t operator()(const Key& k) const noexcept;
    };
    static Key key_of(const TextStyle& style, float pixel_size);
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
    };
    // Looked up by a view of the text, so that a measurement found in a cache copies nothing.
    struct ShapedView {
        std::string_view text;
        Key font;
    };
    struct ShapedKeyHash {
        using is_transparent = void;
        std::size_t operator()(const ShapedView& k) const noexcept;
        std::size_t operator()(const ShapedKey& k) const noexcept { return (*this)(ShapedView{k.text, k.font}); }
    };
    struct ShapedKeyEqual {
        using is_transparent = void;
        static ShapedView view(const ShapedKey& k) { return {k.text, k.font}; }
        static ShapedView view(const ShapedView& k) { return k; }
        template <class A, class B>
        bool operator()(const A& a, const B& b) const noexcept {
            return view(a).text == view(b).text && view(a).font == view(b).font;
        }
    };
    static constexpr std::size_t kShapedLimit = 4096;

    std::unordered_map<Key, Entry, KeyHash> fonts_;
    std::unordered_map<ShapedKey, Shaped, ShapedKeyHash, ShapedKeyEqual> shaped_;
    // Widths of measured lines: painting measures the same labels every frame. Emptied like the
    // glyph cache.
    std::unordered_map<ShapedKey, double, ShapedKeyHash, ShapedKeyEqual> widths_;
};

}  // namespace zavo_ui::qt
