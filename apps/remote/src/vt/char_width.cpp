#include "vt/char_width.hpp"

#include <unicode/uchar.h>

#include <array>
#include <memory>

namespace remote::vt {

namespace {

CharWidth classify(char32_t c) {
    const auto cp = static_cast<UChar32>(c);
    if (c == 0x200D) return CharWidth::Joins;  // zero width joiner
    // Conjoining Hangul vowels and final consonants attach to the syllable before them.
    if ((c >= 0x1160 && c <= 0x11FF) || (c >= 0xD7B0 && c <= 0xD7FF)) return CharWidth::Joins;
    switch (u_charType(cp)) {
        case U_NON_SPACING_MARK:
        case U_ENCLOSING_MARK: return CharWidth::Joins;
        case U_FORMAT_CHAR:
            // The soft hyphen is shown as a hyphen.
            return c == 0x00AD ? CharWidth::Narrow : CharWidth::None;
        default: break;
    }
    const auto eaw = u_getIntPropertyValue(cp, UCHAR_EAST_ASIAN_WIDTH);
    return eaw == U_EA_WIDE || eaw == U_EA_FULLWIDTH ? CharWidth::Wide : CharWidth::Narrow;
}

// The Basic and Supplementary Multilingual Planes, where nearly all text is, looked up once;
// the planes above go to ICU each time.
constexpr char32_t kTableEnd = 0x20000;

const std::array<CharWidth, kTableEnd>& table() {
    static const auto widths = [] {
        auto t = std::make_unique<std::array<CharWidth, kTableEnd>>();
        for (char32_t c = 0; c < kTableEnd; ++c) (*t)[c] = classify(c);
        return t;
    }();
    return *widths;
}

}  // namespace

CharWidth char_width(char32_t c) { return c < kTableEnd ? table()[c] : classify(c); }

}  // namespace remote::vt
