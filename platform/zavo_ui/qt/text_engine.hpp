#pragma once
// Fonts, measuring and drawing of text with Qt. The user interface uses Inter
// (fonts-inter), the terminal DejaVu Sans Mono (fonts-dejavu-core).
#include <QFont>
#include <QFontMetricsF>
#include <QSizeF>
#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>

class QPainter;
class QColor;

namespace zavo_ui::qt {

enum class FontFace : std::uint8_t { Ui, Mono };

inline constexpr const char* kUiFamily = "Inter";
inline constexpr const char* kMonoFamily = "DejaVu Sans Mono";

class TextEngine {
 public:
  // Weight numbers 0-3: regular, medium, semi-bold, bold.
  const QFont& font(FontFace face, float size_px, std::uint8_t weight);

  // The box of the text: its widest line and the height of its lines. A wrap width breaks
  // lines at word boundaries (or anywhere inside a word longer than the width); a newline
  // always breaks.
  QSizeF measure(std::string_view utf8, FontFace face, float size_px, std::uint8_t weight,
                 std::optional<float> wrap_width);

  // Draws the text with its box's top-left corner at (0, 0) of the painter's transform.
  void draw(QPainter& painter, std::string_view utf8, FontFace face, float size_px,
            std::uint8_t weight, std::optional<float> wrap_width, const QColor& color);

  // Whether the two font families resolve to themselves (the packages are installed).
  static bool ui_font_available();
  static bool mono_font_available();

 private:
  struct Key {
    FontFace face;
    std::uint8_t weight;
    float size;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& k) const noexcept;
  };
  // Qt renders whole pixel sizes only: a fractional size uses a font four times as large,
  // measured and drawn at a quarter.
  struct Entry {
    QFont font;
    QFontMetricsF metrics;
    qreal scale = 1.0;
  };
  Entry& entry(FontFace face, float size_px, std::uint8_t weight);

  std::unordered_map<Key, Entry, KeyHash> fonts_;
};

}  // namespace zavo_ui::qt
