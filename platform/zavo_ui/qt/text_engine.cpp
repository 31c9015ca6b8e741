#include "zavo_ui/qt/text_engine.hpp"

#include <QColor>
#include <QFontInfo>
#include <QPainter>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>

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

QString to_qstring(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

bool needs_layout(const QString& text, std::optional<float> wrap_width) {
  return wrap_width.has_value() || text.contains(QChar('\n'));
}

// Newlines break lines in a text layout only as line separators.
QString prepared(QString text) {
  text.replace(QChar('\n'), QChar::LineSeparator);
  return text;
}

std::optional<qreal> scaled_wrap(std::optional<float> wrap_width, qreal scale) {
  if (!wrap_width) return std::nullopt;
  return std::max<qreal>(*wrap_width, 1.0) / scale;
}

// Lays the text out in lines one font height apart, so that n lines measure n times a single
// line; returns the size of the laid-out box.
QSizeF lay_out(QTextLayout& layout, const QFontMetricsF& metrics, std::optional<qreal> wrap_width) {
  QTextOption option;
  option.setWrapMode(wrap_width ? QTextOption::WrapAtWordBoundaryOrAnywhere : QTextOption::NoWrap);
  layout.setTextOption(option);
  qreal y = 0;
  qreal widest = 0;
  layout.beginLayout();
  for (;;) {
    QTextLine line = layout.createLine();
    if (!line.isValid()) break;
    if (wrap_width) line.setLineWidth(*wrap_width);
    line.setPosition(QPointF(0, y));
    y += metrics.height();
    widest = std::max(widest, line.naturalTextWidth());
  }
  layout.endLayout();
  return {widest, y};
}

bool resolves_to(const char* family) {
  QFont font(QString::fromLatin1(family));
  return QFontInfo(font).family().compare(QString::fromLatin1(family), Qt::CaseInsensitive) == 0;
}

}  // namespace

std::size_t TextEngine::KeyHash::operator()(const Key& k) const noexcept {
  return std::hash<std::uint32_t>{}(std::bit_cast<std::uint32_t>(k.size)) ^
         (static_cast<std::size_t>(k.weight) << 1) ^ (static_cast<std::size_t>(k.face) << 4);
}

TextEngine::Entry& TextEngine::entry(FontFace face, float size_px, std::uint8_t weight) {
  const float size = std::isfinite(size_px) && size_px > 0.01f ? size_px : 0.01f;
  weight = std::min<std::uint8_t>(weight, 3);
  const Key key{face, weight, size};
  if (auto it = fonts_.find(key); it != fonts_.end()) return it->second;
  QFont font(QString::fromLatin1(face == FontFace::Mono ? kMonoFamily : kUiFamily));
  font.setStyleHint(face == FontFace::Mono ? QFont::Monospace : QFont::SansSerif);
  const bool whole = std::fabs(size - std::round(size)) < 1e-3f;
  const qreal scale = whole ? 1.0 : 0.25;
  font.setPixelSize(std::max(1, static_cast<int>(std::lround(size / scale))));
  font.setWeight(qt_weight(weight));
  font.setHintingPreference(QFont::PreferNoHinting);
  font.setKerning(true);
  auto [it, _] = fonts_.emplace(key, Entry{font, QFontMetricsF(font), scale});
  return it->second;
}

const QFont& TextEngine::font(FontFace face, float size_px, std::uint8_t weight) {
  return entry(face, size_px, weight).font;
}

QSizeF TextEngine::measure(std::string_view utf8, FontFace face, float size_px,
                           std::uint8_t weight, std::optional<float> wrap_width) {
  Entry& e = entry(face, size_px, weight);
  const QString text = to_qstring(utf8);
  if (!needs_layout(text, wrap_width)) {
    return QSizeF(e.metrics.horizontalAdvance(text), e.metrics.height()) * e.scale;
  }
  QTextLayout layout(prepared(text), e.font);
  return lay_out(layout, e.metrics, scaled_wrap(wrap_width, e.scale)) * e.scale;
}

void TextEngine::draw(QPainter& painter, std::string_view utf8, FontFace face, float size_px,
                      std::uint8_t weight, std::optional<float> wrap_width, const QColor& color) {
  Entry& e = entry(face, size_px, weight);
  const QString text = to_qstring(utf8);
  painter.save();
  if (e.scale != 1.0) painter.scale(e.scale, e.scale);
  painter.setPen(color);
  painter.setFont(e.font);
  if (!needs_layout(text, wrap_width)) {
    painter.drawText(QPointF(0, e.metrics.ascent()), text);
  } else {
    QTextLayout layout(prepared(text), e.font);
    lay_out(layout, e.metrics, scaled_wrap(wrap_width, e.scale));
    layout.draw(&painter, QPointF(0, 0));
  }
  painter.restore();
}

bool TextEngine::ui_font_available() { return resolves_to(kUiFamily); }
bool TextEngine::mono_font_available() { return resolves_to(kMonoFamily); }

}  // namespace zavo_ui::qt
