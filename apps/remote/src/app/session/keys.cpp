#include "app/session/keys.hpp"

#include <fmt/format.h>
#include <unicode/utf8.h>

#include "zavo_ui/physical_keys.hpp"

namespace remote {

using zavo_ui::event::Key;
using zavo_ui::event::KeyCode;
using zavo_ui::event::Modifiers;
using zavo_ui::event::NamedKey;

namespace {

// The first code point of a UTF-8 text; none for an empty or malformed start.
std::optional<char32_t> first_code_point(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::int32_t i = 0;
    UChar32 cp = 0;
    U8_NEXT(text.data(), i, static_cast<std::int32_t>(text.size()), cp);
    if (cp < 0) return std::nullopt;
    return static_cast<char32_t>(cp);
}

// A key xterm sends as CSI (or SS3) and a final byte, or as CSI number "~".
struct FunctionKey {
    char final = 0;       // with `number` 0
    int number = 0;       // CSI number ~
    bool cursor = false;  // the cursor keys, Home, End and Begin follow the cursor-key mode
};

std::optional<FunctionKey> function_key(NamedKey key) {
    switch (key) {
        case NamedKey::ArrowUp: return FunctionKey{'A', 0, true};
        case NamedKey::ArrowDown: return FunctionKey{'B', 0, true};
        case NamedKey::ArrowRight: return FunctionKey{'C', 0, true};
        case NamedKey::ArrowLeft: return FunctionKey{'D', 0, true};
        case NamedKey::Home: return FunctionKey{'H', 0, true};
        case NamedKey::End: return FunctionKey{'F', 0, true};
        case NamedKey::Insert: return FunctionKey{0, 2};
        case NamedKey::Delete: return FunctionKey{0, 3};
        case NamedKey::PageUp: return FunctionKey{0, 5};
        case NamedKey::PageDown: return FunctionKey{0, 6};
        case NamedKey::ContextMenu: return FunctionKey{0, 29};
        case NamedKey::F1: return FunctionKey{'P'};
        case NamedKey::F2: return FunctionKey{'Q'};
        case NamedKey::F3: return FunctionKey{'R'};
        case NamedKey::F4: return FunctionKey{'S'};
        default: break;
    }
    // F5-F12: 15, 17-21, 23, 24 (the gaps are the VT220's).
    constexpr int kNumbers[] = {15, 17, 18, 19, 20, 21, 23, 24};
    const int f = static_cast<int>(key) - static_cast<int>(NamedKey::F5);
    if (f >= 0 && f < 8) return FunctionKey{0, kNumbers[f]};
    return std::nullopt;
}

// The physical keys whose logical key says nothing: keypad 5 without NumLock (Begin) and F13-F24.
std::optional<FunctionKey> function_key(KeyCode key) {
    if (key == KeyCode::Numpad5) return FunctionKey{'E', 0, true};
    constexpr int kNumbers[] = {25, 26, 28, 29, 31, 32, 33, 34, 42, 43, 44, 45};
    const int f = zavo_ui::event::key_number(key) - zavo_ui::event::key_number(KeyCode::F13);
    if (f >= 0 && f < 12) return FunctionKey{0, kNumbers[f]};
    return std::nullopt;
}

// xterm's modifier parameter: 1, plus 1 for Shift, 2 for Alt, 4 for Control.
int modifier_parameter(Modifiers m) { return 1 + (m.shift() ? 1 : 0) + (m.alt() ? 2 : 0) + (m.control() ? 4 : 0); }

std::string function_key_bytes(FunctionKey key, int modifiers, bool application_cursor) {
    if (key.number != 0)
        return modifiers > 1 ? fmt::format("\x1b[{};{}~", key.number, modifiers) : fmt::format("\x1b[{}~", key.number);
    if (modifiers > 1) return fmt::format("\x1b[1;{}{}", modifiers, key.final);
    // F1-F4 are SS3 in both modes.
    return fmt::format("\x1b{}{}", !key.cursor || application_cursor ? 'O' : '[', key.final);
}

bool is_keypad(KeyCode key) {
    const auto n = zavo_ui::event::key_number(key);
    return n >= zavo_ui::event::key_number(KeyCode::Numpad0) &&
           n <= zavo_ui::event::key_number(KeyCode::NumpadSubtract);
}

// The final byte of a keypad key in application keypad mode (the digits and the decimal point
// send their character, or, without NumLock, come as the editing keys they are).
std::optional<char> application_keypad_final(KeyCode key) {
    switch (key) {
        case KeyCode::NumpadAdd: return 'k';
        case KeyCode::NumpadComma: return 'l';
        case KeyCode::NumpadSubtract: return 'm';
        case KeyCode::NumpadMultiply:
        case KeyCode::NumpadStar: return 'j';
        case KeyCode::NumpadDivide: return 'o';
        case KeyCode::NumpadEnter: return 'M';
        case KeyCode::NumpadEqual: return 'X';
        default: return std::nullopt;
    }
}

// What Control makes of a character, as X does for xterm: @ to ~ keep their low five bits
// (letters of both cases, [ \ ] ^ _ `), Space and 2 give NUL, 3 to 7 ESC to US, 8 and ? DEL,
// / US. None for the characters Control leaves alone.
std::optional<char> control_byte(char32_t c) {
    if (c >= '@' && c <= '~') return static_cast<char>(c & 0x1F);
    if (c == ' ' || c == '2') return '\0';
    if (c >= '3' && c <= '7') return static_cast<char>(c - '3' + 0x1B);
    if (c == '8' || c == '?') return '\x7f';
    if (c == '/') return '\x1f';
    return std::nullopt;
}

std::string alt_prefixed(bool alt, std::string bytes) { return alt ? "\x1b" + bytes : bytes; }

}  // namespace

std::optional<std::string> ssh_bytes_for_key(const Key& key, Modifiers modifiers, TerminalKeyModes modes) {
    const int m = modifier_parameter(modifiers);
    const auto* named = std::get_if<NamedKey>(&key.logical);
    // The keypad: its editing keys (no NumLock) are the editing keys; Begin and the application
    // keypad have sequences of their own; otherwise it types its character, whatever is held.
    if (key.physical && is_keypad(*key.physical) && !(named && function_key(*named))) {
        if (modes.application_keypad && !modifiers.num_lock())
            if (const auto final = application_keypad_final(*key.physical))
                return m > 1 ? fmt::format("\x1bO{}{}", m, *final) : fmt::format("\x1bO{}", *final);
        if (named && *named == NamedKey::Enter) return "\r";
        if (key.text && !key.text->empty()) return *key.text;
        if (const std::string* c = key.character(); c && !c->empty()) return *c;
        if (const auto f = function_key(*key.physical)) return function_key_bytes(*f, m, modes.application_cursor);
        return std::nullopt;
    }
    if (named) {
        if (const auto f = function_key(*named)) return function_key_bytes(*f, m, modes.application_cursor);
        const bool alt = modifiers.alt();
        switch (*named) {
            case NamedKey::Tab: return modifiers.shift() ? "\x1b[Z" : alt_prefixed(alt, "\t");
            case NamedKey::Enter: return alt_prefixed(alt, "\r");
            case NamedKey::Backspace: return alt_prefixed(alt, modifiers.control() ? "\b" : "\x7f");
            case NamedKey::Escape: return alt_prefixed(alt, "\x1b");
            case NamedKey::Space: return alt_prefixed(alt, modifiers.control() ? std::string(1, '\0') : " ");
            default: return std::nullopt;  // modifiers, locks, Print, Pause
        }
    }
    if (key.physical)
        if (const auto f = function_key(*key.physical)) return function_key_bytes(*f, m, modes.application_cursor);
    const std::string* character = key.character();
    if (modifiers.control()) {
        const auto c = first_code_point(character && !character->empty() ? *character : key.text.value_or(""));
        if (const auto byte = c ? control_byte(*c) : std::nullopt)
            return alt_prefixed(modifiers.alt(), std::string(1, *byte));
    }
    if (key.text && !key.text->empty()) return alt_prefixed(modifiers.alt(), *key.text);
    if (character && !character->empty()) return alt_prefixed(modifiers.alt(), *character);
    return std::nullopt;
}

namespace {

// The keysym of a named key; the modifiers by the side of the keyboard they are on.
std::optional<std::uint32_t> named_keysym(NamedKey key, std::optional<KeyCode> physical) {
    const auto right = [&](KeyCode k) { return physical == k; };
    switch (key) {
        case NamedKey::Enter: return 0xFF0D;
        case NamedKey::Tab: return 0xFF09;
        case NamedKey::Space: return 0x0020;
        case NamedKey::Backspace: return 0xFF08;
        case NamedKey::Delete: return 0xFFFF;
        case NamedKey::Escape: return 0xFF1B;
        case NamedKey::Insert: return 0xFF63;
        case NamedKey::Home: return 0xFF50;
        case NamedKey::ArrowLeft: return 0xFF51;
        case NamedKey::ArrowUp: return 0xFF52;
        case NamedKey::ArrowRight: return 0xFF53;
        case NamedKey::ArrowDown: return 0xFF54;
        case NamedKey::PageUp: return 0xFF55;
        case NamedKey::PageDown: return 0xFF56;
        case NamedKey::End: return 0xFF57;
        case NamedKey::Shift: return right(KeyCode::ShiftRight) ? 0xFFE2 : 0xFFE1;
        case NamedKey::Control: return right(KeyCode::ControlRight) ? 0xFFE4 : 0xFFE3;
        case NamedKey::Alt: return right(KeyCode::AltRight) ? 0xFFEA : 0xFFE9;
        case NamedKey::Super: return right(KeyCode::MetaRight) ? 0xFFEC : 0xFFEB;
        case NamedKey::AltGraph: return 0xFE03;  // ISO_Level3_Shift
        case NamedKey::CapsLock: return 0xFFE5;
        case NamedKey::NumLock: return 0xFF7F;
        case NamedKey::ScrollLock: return 0xFF14;
        case NamedKey::ContextMenu: return 0xFF67;
        case NamedKey::PrintScreen: return 0xFF61;
        case NamedKey::Pause: return 0xFF13;
        default: break;
    }
    const int f = static_cast<int>(key) - static_cast<int>(NamedKey::F1);
    if (f >= 0 && f < 12) return 0xFFBE + f;
    return std::nullopt;
}

// The keypad's keysyms: the digits and the decimal point as KP_0-KP_9 and KP_Decimal with
// NumLock, as the editing keys KP_Home ... KP_Delete without it.
std::optional<std::uint32_t> keypad_keysym(KeyCode key, const Key& event) {
    const auto n = zavo_ui::event::key_number(key);
    const auto digit = n - zavo_ui::event::key_number(KeyCode::Numpad0);
    if (const auto* named = std::get_if<NamedKey>(&event.logical)) {
        switch (*named) {
            case NamedKey::Home: return 0xFF95;
            case NamedKey::ArrowLeft: return 0xFF96;
            case NamedKey::ArrowUp: return 0xFF97;
            case NamedKey::ArrowRight: return 0xFF98;
            case NamedKey::ArrowDown: return 0xFF99;
            case NamedKey::PageUp: return 0xFF9A;
            case NamedKey::PageDown: return 0xFF9B;
            case NamedKey::End: return 0xFF9C;
            case NamedKey::Insert: return 0xFF9E;
            case NamedKey::Delete: return 0xFF9F;
            case NamedKey::Enter: return 0xFF8D;
            default: break;
        }
    }
    if (digit >= 0 && digit <= 9) return event.character() ? 0xFFB0 + digit : 0xFF9D;  // KP_Begin without NumLock
    switch (key) {
        case KeyCode::NumpadAdd: return 0xFFAB;
        case KeyCode::NumpadComma: return 0xFFAC;
        case KeyCode::NumpadSubtract: return 0xFFAD;
        case KeyCode::NumpadDecimal: return 0xFFAE;
        case KeyCode::NumpadDivide: return 0xFFAF;
        case KeyCode::NumpadMultiply:
        case KeyCode::NumpadStar: return 0xFFAA;
        case KeyCode::NumpadEnter: return 0xFF8D;
        case KeyCode::NumpadEqual: return 0xFFBD;
        default: return std::nullopt;
    }
}

}  // namespace

std::uint32_t keysym_for_code_point(char32_t cp) {
    return cp <= 0xFF ? static_cast<std::uint32_t>(cp) : 0x01000000u + static_cast<std::uint32_t>(cp);
}

std::optional<std::uint32_t> vnc_keysym_for_key(const Key& key) {
    if (key.physical && is_keypad(*key.physical))
        if (const auto keysym = keypad_keysym(*key.physical, key)) return keysym;
    if (const auto* named = std::get_if<NamedKey>(&key.logical))
        if (const auto keysym = named_keysym(*named, key.physical)) return keysym;
    if (key.physical) {
        const int f = zavo_ui::event::key_number(*key.physical) - zavo_ui::event::key_number(KeyCode::F13);
        if (f >= 0 && f < 12) return 0xFFCA + static_cast<std::uint32_t>(f);  // F13-F24
    }
    // A character: the one it types, else the key's own (Control leaves no text).
    const std::string* character = key.character();
    const auto cp = first_code_point(key.text && !key.text->empty() ? *key.text : character ? *character : "");
    if (cp) return keysym_for_code_point(*cp);
    return std::nullopt;
}

std::optional<std::uint32_t> device_key_code(KeyCode key) { return zavo_ui::event::evdev_code(key); }

}  // namespace remote
