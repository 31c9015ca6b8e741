#include "zavo_ui/qt/text_engine.hpp"

#include <QColor>
#include <QFontInfo>
#include <QGlyphRun>
#include <QPainter>
#include <QRawFont>
#include <QTextLayout>

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>

#include "zavo_ui/text_render.hpp"

namespace zavo_ui::qt {
namespace {

QFont::Weight qt_weight(std::uint8_t weight) {
    switch (weight) {
        case 0: return QFont::Normal;
        case 1: return QFont::Medium;
        case 2: return QFont::DemiBold;
        default: return QFont::Bold;
    }
}

bool resolves_to(const char* family) {
    QFont font(QString::fromLatin1(family));
    return QFontInfo(font).family().compare(QString::fromLatin1(family), Qt::CaseInsensitive) == 0;
}

}  // namespace

QString to_qstring(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::size_t TextEngine::KeyHash::operator()(const Key& k) const noexcept {
    return std::hash<std::uint32_t>{}(std::bit_cast<std::uint32_t>(k.size)) ^
           (static_cast<std::size_t>(k.weight) << 1) ^ (static_cast<std::size_t>(k.family) << 4) ^
           (static_cast<std::size_t>(k.italic) << 6) ^ (static_cast<std::size_t>(k.verbatim) << 7);
}

TextEngine::Key TextEngine::key_of(const TextStyle& style, float pixel_size) {
    const float size = std::isfinite(pixel_size) && pixel_size > 0.25f ? pixel_size : 0.25f;
    return Key{style.family, std::min<std::uint8_t>(style.weight, 3), style.italic, style.verbatim, size};
}

TextEngine::Entry& TextEngine::entry(const Key& key) {
    const float size = key.size;
    if (auto it = fonts_.find(key); it != fonts_.end()) return it->second;
    const bool mono = key.family == FontFamily::Mono;
    QFont font(QString::fromLatin1(mono ? kMonoFamily : kUiFamily));
    // Qt's own fallback passes over the colour emoji font; CJK it finds.
    font.setFamilies({QString::fromLatin1(mono ? kMonoFamily : kUiFamily), QString::fromLatin1(kEmojiFamily)});
    font.setStyleHint(mono ? QFont::Monospace : QFont::SansSerif);
    const bool whole = std::fabs(size - std::round(size)) < 1e-3f;
    const qreal scale = whole ? 1.0 : 0.25;
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(size / scale))));
    font.setWeight(qt_weight(key.weight));
    font.setItalic(key.italic);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setKerning(true);
    // Without shaping each character keeps the glyph the font maps it to: Inter's contextual
    // alternates would turn the x of "6x9" into a multiplication sign.
    if (key.verbatim) font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::PreferNoShaping));
    if (mono) {
        // Every character one grid cell wide: the font's own advance, made up to 0.6 em.
        const qreal advance = QFontMetricsF(font).horizontalAdvance(QLatin1Char('M'));
        font.setLetterSpacing(QFont::AbsoluteSpacing, 0.6 * font.pixelSize() - advance);
    }
    const QFontMetricsF metrics(font);
    auto [it, _] = fonts_.emplace(key, Entry{font, metrics, scale, metrics.height() * scale});
    return it->second;
}

const QFont& TextEngine::font(const TextStyle& style, float pixel_size) {
    return entry(key_of(style, pixel_size)).font;
}

double TextEngine::line_width(std::string_view utf8, const TextStyle& style, float pixel_size) {
    if (utf8.empty()) return 0.0;
    const ShapedView lookup{utf8, key_of(style, pixel_size)};
    if (auto it = widths_.find(lookup); it != widths_.end()) return it->second;
    if (widths_.size() >= kShapedLimit) widths_.clear();
    const Entry& e = entry(lookup.font);
    const double width = e.metrics.horizontalAdvance(to_qstring(utf8)) * e.scale;
    widths_.emplace(ShapedKey{std::string(utf8), lookup.font}, width);
    return width;
}

double TextEngine::line_height(const TextStyle& style, float pixel_size) {
    return entry(key_of(style, pixel_size)).line_height;
}

namespace {

// Qt finds each caret's x by walking its line from the start, so a long line is laid out in
// pieces of at most this many code points, cut after a space where one is near the end.
constexpr std::size_t kLaidAtOnce = 64;

std::size_t piece_end(std::string_view utf8, std::size_t start) {
    std::size_t end = start;
    for (std::size_t n = 0; end < utf8.size(); ++end) {
        if (text_render::is_continuation(static_cast<unsigned char>(utf8[end]))) continue;
        if (n++ == kLaidAtOnce) break;
    }
    if (end == utf8.size()) return end;
    const std::size_t half = start + (end - start) / 2;
    const std::size_t space = utf8.substr(half, end - half).rfind(' ');
    return space == std::string_view::npos ? end : half + space + 1;
}

}  // namespace

std::vector<double> TextEngine::caret_offsets(std::string_view utf8, const TextStyle& style, float pixel_size) {
    std::vector<double> out{0.0};
    const Entry& e = entry(key_of(style, pixel_size));
    QTextLayout layout(QString(), e.font);
    for (std::size_t start = 0; start < utf8.size();) {
        const std::size_t end = piece_end(utf8, start);
        const std::string_view piece = utf8.substr(start, end - start);
        layout.setText(to_qstring(piece));
        layout.beginLayout();
        QTextLine line = layout.createLine();
        layout.endLayout();
        const double base = out.back();
        int utf16 = 0;
        for (std::size_t i = 0; i < piece.size(); ++i) {
            const auto c = static_cast<unsigned char>(piece[i]);
            if (text_render::is_continuation(c)) continue;
            utf16 += c >= 0xF0 ? 2 : 1;  // four-byte sequences are surrogate pairs in UTF-16
            out.push_back(base + (line.isValid() ? line.cursorToX(utf16) * e.scale : 0.0));
        }
        start = end;
    }
    return out;
}

std::size_t TextEngine::ShapedKeyHash::operator()(const ShapedView& k) const noexcept {
    return std::hash<std::string_view>{}(k.text) ^ (KeyHash{}(k.font) << 1);
}

const TextEngine::Shaped& TextEngine::shaped(std::string_view utf8, const Key& key) {
    if (auto it = shaped_.find(ShapedView{utf8, key}); it != shaped_.end()) return it->second;
    if (shaped_.size() >= kShapedLimit) shaped_.clear();
    const Entry& e = entry(key);
    QTextLayout layout(to_qstring(utf8), e.font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    QList<QGlyphRun> runs = layout.glyphRuns();
    if (e.scale != 1.0) {
        // A fractional size: shaped with the large font, drawn with its glyphs at the real size
        // (a scaled painter would draw outlines, visibly lighter than glyphs of the same size).
        for (QGlyphRun& run : runs) {
            QRawFont raw = run.rawFont();
            raw.setPixelSize(raw.pixelSize() * e.scale);
            QList<QPointF> positions = run.positions();
            for (QPointF& p : positions) p *= e.scale;
            run.setRawFont(raw);
            run.setPositions(positions);
        }
    }
    // The glyphs' own outlines: a run's bounding rectangle is the line's box.
    QRectF ink;
    for (const QGlyphRun& run : runs) {
        const QRawFont font = run.rawFont();
        const QList<quint32> glyphs = run.glyphIndexes();
        const QList<QPointF> positions = run.positions();
        for (qsizetype i = 0; i < glyphs.size(); ++i) ink |= font.boundingRect(glyphs[i]).translated(positions[i]);
    }
    return shaped_.emplace(ShapedKey{std::string(utf8), key}, Shaped{std::move(runs), ink}).first->second;
}

void TextEngine::draw_line(QPainter& painter, QPointF top_left, std::string_view utf8, const TextStyle& style,
                           float pixel_size, const QColor& color) {
    if (utf8.empty()) return;
    painter.setPen(color);
    for (const QGlyphRun& run : shaped(utf8, key_of(style, pixel_size)).runs) painter.drawGlyphRun(top_left, run);
}

QRectF TextEngine::line_ink(std::string_view utf8, const TextStyle& style, float pixel_size) {
    if (utf8.empty()) return {};
    return shaped(utf8, key_of(style, pixel_size)).ink;
}

std::vector<std::string_view> TextEngine::lines(std::string_view utf8, const TextStyle& style, float pixel_size) {
    return text_render::text_lines(utf8, style.wrap_width,
                                   [&](std::string_view s) { return line_width(s, style, pixel_size); });
}

bool TextEngine::ui_font_available() { return resolves_to(kUiFamily); }
bool TextEngine::mono_font_available() { return resolves_to(kMonoFamily); }

}  // namespace zavo_ui::qt
