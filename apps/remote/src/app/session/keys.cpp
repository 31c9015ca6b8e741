#include "app/session/keys.hpp"

#include <unicode/utf8.h>

#include <array>

namespace remote {

using zavo_ui::event::Key;
using zavo_ui::event::KeyCode;
using zavo_ui::event::Modifiers;
using zavo_ui::event::NamedKey;

std::optional<std::string_view> ssh_key_bytes(NamedKey key) {
    switch (key) {
        case NamedKey::Enter: return "\r";
        case NamedKey::Tab: return "\t";
        case NamedKey::Space: return " ";
        case NamedKey::ArrowUp: return "\x1b[A";
        case NamedKey::ArrowDown: return "\x1b[B";
        case NamedKey::ArrowRight: return "\x1b[C";
        case NamedKey::ArrowLeft: return "\x1b[D";
        case NamedKey::End: return "\x1b[F";
        case NamedKey::Home: return "\x1b[H";
        case NamedKey::Backspace: return "\x7f";
        case NamedKey::Delete: return "\x1b[3~";
        case NamedKey::Escape: return "\x1b";
        default: return std::nullopt;
    }
}

namespace {

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The first code point of a UTF-8 text; none for an empty or malformed start.
std::optional<char32_t> first_code_point(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::int32_t i = 0;
    UChar32 cp = 0;
    U8_NEXT(text.data(), i, static_cast<std::int32_t>(text.size()), cp);
    if (cp < 0) return std::nullopt;
    return static_cast<char32_t>(cp);
}

}  // namespace

std::optional<std::string> ssh_bytes_for_key(const Key& key, Modifiers modifiers) {
    if (const auto* named = std::get_if<NamedKey>(&key.logical))
        if (auto bytes = ssh_key_bytes(*named)) return std::string(*bytes);
    const std::string* character = key.character();
    if (character && modifiers.control() && !character->empty() && is_ascii_letter(character->front())) {
        const char upper = static_cast<char>(character->front() & ~0x20);
        return std::string(1, static_cast<char>(upper - 0x40));
    }
    if (key.text && !key.text->empty()) return *key.text;
    if (character && !character->empty()) return *character;
    return std::nullopt;
}

std::optional<std::uint32_t> vnc_keysym(NamedKey key) {
    switch (key) {
        case NamedKey::Enter: return 0xFF0D;
        case NamedKey::Tab: return 0xFF09;
        case NamedKey::Space: return 0x0020;
        case NamedKey::ArrowLeft: return 0xFF51;
        case NamedKey::ArrowUp: return 0xFF52;
        case NamedKey::ArrowRight: return 0xFF53;
        case NamedKey::ArrowDown: return 0xFF54;
        case NamedKey::Backspace: return 0xFF08;
        case NamedKey::Delete: return 0xFFFF;
        case NamedKey::Escape: return 0xFF1B;
        default: return std::nullopt;
    }
}

std::uint32_t keysym_for_code_point(char32_t cp) {
    return cp <= 0xFF ? static_cast<std::uint32_t>(cp) : 0x01000000u + static_cast<std::uint32_t>(cp);
}

std::optional<std::uint32_t> vnc_keysym_for_key(const Key& key) {
    if (const auto* named = std::get_if<NamedKey>(&key.logical))
        if (auto keysym = vnc_keysym(*named)) return keysym;
    if (!key.text) return std::nullopt;
    if (auto cp = first_code_point(*key.text)) return keysym_for_code_point(*cp);
    return std::nullopt;
}

namespace {

// Linux KEY_ codes indexed by physical key from Digit0 (5) to Escape (114); 0 = not taken.
constexpr std::uint16_t FIRST_DEVICE_KEY = zavo_ui::event::key_number(KeyCode::Digit0);
constexpr std::uint16_t LAST_DEVICE_KEY = zavo_ui::event::key_number(KeyCode::Escape);

constexpr auto DEVICE_KEYS = [] {
    std::array<std::uint16_t, LAST_DEVICE_KEY - FIRST_DEVICE_KEY + 1> table{};
    auto set = [&](KeyCode key, std::uint16_t code) {
        table[zavo_ui::event::key_number(key) - FIRST_DEVICE_KEY] = code;
    };
    // KEY_1 .. KEY_9 are 2 .. 10, KEY_0 is 11.
    set(KeyCode::Digit0, 11);
    for (std::uint16_t d = 1; d <= 9; ++d)
        set(static_cast<KeyCode>(zavo_ui::event::key_number(KeyCode::Digit0) + d), 1 + d);
    constexpr std::array<std::uint16_t, 26> letters = {30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                                       49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44};
    for (std::uint16_t i = 0; i < 26; ++i)
        set(static_cast<KeyCode>(zavo_ui::event::key_number(KeyCode::KeyA) + i), letters[i]);
    set(KeyCode::AltLeft, 56);
    set(KeyCode::AltRight, 100);
    set(KeyCode::Backspace, 14);
    set(KeyCode::ControlLeft, 29);
    set(KeyCode::ControlRight, 97);
    set(KeyCode::Enter, 28);
    set(KeyCode::ShiftLeft, 42);
    set(KeyCode::ShiftRight, 54);
    set(KeyCode::Space, 57);
    set(KeyCode::Tab, 15);
    set(KeyCode::ArrowDown, 108);
    set(KeyCode::ArrowLeft, 105);
    set(KeyCode::ArrowRight, 106);
    set(KeyCode::ArrowUp, 103);
    set(KeyCode::Escape, 1);
    return table;
}();

}  // namespace

std::optional<std::uint32_t> device_key_code(KeyCode key) {
    const auto n = zavo_ui::event::key_number(key);
    if (n < FIRST_DEVICE_KEY || n > LAST_DEVICE_KEY) return std::nullopt;
    const std::uint16_t code = DEVICE_KEYS[n - FIRST_DEVICE_KEY];
    if (code == 0) return std::nullopt;
    return code;
}

}  // namespace remote
