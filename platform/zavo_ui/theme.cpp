#include "zavo_ui/theme.hpp"

#include <algorithm>
#include <cmath>

namespace zavo_ui::tokens::colors {

Colors Colors::dark() {
    Colors c;
    c.background = Color::from_hex(0x0F1115);
    c.surface = Color::from_hex(0x191C22);
    c.text_primary = Color::from_hex(0xE9ECF1);
    c.text_secondary = Color::from_hex(0xA2A9B4);
    c.success = Color::from_hex(0x3FB950);
    c.warning = Color::from_hex(0xE3A53A);
    c.danger = Color::from_hex(0xF4645A);
    c.info = Color::from_hex(0x5AA9FF);
    c.accent = Color::from_hex(0x8C96FF);
    c.device_accent = Color::from_hex(0xC88BE6);
    c.scrim = Color::from_hex(0x000000);
    c.focus = Color::from_hex(0x6EA8FF);
    return c;
}

Color Colors::lift(float amount) const {
    float t = std::clamp(amount, 0.0f, 4.0f) * 0.09f;
    return surface.mix(text_primary, t).with_alpha(1.0f);
}

}  // namespace zavo_ui::tokens::colors

namespace zavo_ui::tokens::terminal_palette {

TerminalPalette TerminalPalette::dark() {
    TerminalPalette p;
    const std::uint32_t hex[16] = {
        0x1D2026, 0xE06C75, 0x98C379, 0xE5C07B, 0x61AFEF, 0xC678DD, 0x56B6C2, 0xC8CCD4,
        0x5C6370, 0xF0808A, 0xB5E08F, 0xF2D394, 0x82C4FF, 0xD899EE, 0x7FD3DD, 0xF3F5F8,
    };
    for (int i = 0; i < 16; ++i) p.colors[i] = Color::from_hex(hex[i]);
    p.foreground = Color::from_hex(0xD7DCE3);
    p.background = Color::from_hex(0x0B0D11);
    return p;
}

}  // namespace zavo_ui::tokens::terminal_palette

namespace zavo_ui::theme {

double relative_luminance(const Color& c) {
    auto lin = [](double v) {
        v = std::clamp(v, 0.0, 1.0);
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(c.r) + 0.7152 * lin(c.g) + 0.0722 * lin(c.b);
}

double contrast_ratio(const Color& a, const Color& b) {
    double la = relative_luminance(a);
    double lb = relative_luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace zavo_ui::theme
