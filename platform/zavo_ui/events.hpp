#pragma once
// Input events as the framework delivers them to widgets. Pointer positions and pixel wheel
// deltas are physical pixels; divide by the scale factor handed with the event for logical
// pixels. A held key's auto-repeat arrives as further Pressed events.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zavo_ui::event {

// Physical keys, numbered in the order of the W3C UI Events `code` values.
// clang-format off
enum class KeyCode : std::uint16_t {
    Backquote, Backslash, BracketLeft, BracketRight, Comma,
    Digit0, Digit1, Digit2, Digit3, Digit4, Digit5, Digit6, Digit7, Digit8, Digit9,
    Equal, IntlBackslash, IntlRo, IntlYen,
    KeyA, KeyB, KeyC, KeyD, KeyE, KeyF, KeyG, KeyH, KeyI, KeyJ, KeyK, KeyL, KeyM,
    KeyN, KeyO, KeyP, KeyQ, KeyR, KeyS, KeyT, KeyU, KeyV, KeyW, KeyX, KeyY, KeyZ,
    Minus, Period, Quote, Semicolon, Slash,
    AltLeft, AltRight, Backspace, CapsLock, ContextMenu, ControlLeft, ControlRight, Enter,
    MetaLeft, MetaRight, ShiftLeft, ShiftRight, Space, Tab,
    Convert, KanaMode, Lang1, Lang2, Lang3, Lang4, Lang5, NonConvert,
    Delete, End, Help, Home, Insert, PageDown, PageUp,
    ArrowDown, ArrowLeft, ArrowRight, ArrowUp,
    NumLock, Numpad0, Numpad1, Numpad2, Numpad3, Numpad4, Numpad5, Numpad6, Numpad7, Numpad8, Numpad9,
    NumpadAdd, NumpadBackspace, NumpadClear, NumpadClearEntry, NumpadComma, NumpadDecimal,
    NumpadDivide, NumpadEnter, NumpadEqual, NumpadHash, NumpadMemoryAdd, NumpadMemoryClear,
    NumpadMemoryRecall, NumpadMemoryStore, NumpadMemorySubtract, NumpadMultiply, NumpadParenLeft,
    NumpadParenRight, NumpadStar, NumpadSubtract,
    Escape, Fn, FnLock, PrintScreen, ScrollLock, Pause,
    BrowserBack, BrowserFavorites, BrowserForward, BrowserHome, BrowserRefresh, BrowserSearch, BrowserStop,
    Eject, LaunchApp1, LaunchApp2, LaunchMail, MediaPlayPause, MediaSelect, MediaStop,
    MediaTrackNext, MediaTrackPrevious, Power, Sleep, AudioVolumeDown, AudioVolumeMute, AudioVolumeUp,
    WakeUp, Meta, Hyper, Turbo, Abort, Resume, Suspend,
    Again, Copy, Cut, Find, Open, Paste, Props, Select, Undo, Hiragana, Katakana,
    F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12,
    F13, F14, F15, F16, F17, F18, F19, F20, F21, F22, F23, F24,
};
// clang-format on

constexpr std::uint16_t key_number(KeyCode k) { return static_cast<std::uint16_t>(k); }

// Logical keys that are not characters. Space counts as named (its text is " ").
// clang-format off
enum class NamedKey : std::uint16_t {
    Enter, Tab, Space, Backspace, Delete, Escape, Insert,
    ArrowLeft, ArrowRight, ArrowUp, ArrowDown, Home, End, PageUp, PageDown,
    Shift, Control, Alt, Super, CapsLock, NumLock, ScrollLock, ContextMenu, PrintScreen, Pause,
    F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12,
    AltGraph,  // ISO_Level3_Shift: the key that picks a layout's third characters
};
// clang-format on

// The logical key: a named key, a character key with the text it stands for (the unshifted
// and uncontrolled character: "a" for Control+A), or a key of another kind.
struct CharacterKey {
    std::string text;
    friend bool operator==(const CharacterKey&, const CharacterKey&) = default;
};
struct OtherKey {
    friend bool operator==(const OtherKey&, const OtherKey&) = default;
};
using LogicalKey = std::variant<NamedKey, CharacterKey, OtherKey>;

enum class ElementState : std::uint8_t { Pressed, Released };

struct Modifiers {
    static constexpr std::uint8_t SHIFT = 1 << 0;
    static constexpr std::uint8_t CONTROL = 1 << 1;
    static constexpr std::uint8_t ALT = 1 << 2;
    static constexpr std::uint8_t SUPER = 1 << 3;  // the logo key
    static constexpr std::uint8_t NUM_LOCK = 1 << 4;  // a state, with key events only

    std::uint8_t bits = 0;

    constexpr bool shift() const { return bits & SHIFT; }
    constexpr bool control() const { return bits & CONTROL; }
    constexpr bool alt() const { return bits & ALT; }
    constexpr bool super_key() const { return bits & SUPER; }
    constexpr bool num_lock() const { return bits & NUM_LOCK; }
    friend bool operator==(const Modifiers&, const Modifiers&) = default;
};

struct PointerMoved {
    double x = 0.0;  // physical pixels
    double y = 0.0;
    friend bool operator==(const PointerMoved&, const PointerMoved&) = default;
};

// The pointer left the window.
struct PointerLeft {
    friend bool operator==(const PointerLeft&, const PointerLeft&) = default;
};

// Wheel in lines (a notch is one line) or in physical pixels (touchpads). Positive y scrolls
// the content down, towards its top.
struct LineDelta {
    float x = 0.0f;
    float y = 0.0f;
    friend bool operator==(const LineDelta&, const LineDelta&) = default;
};
struct PixelDelta {
    double x = 0.0;
    double y = 0.0;
    friend bool operator==(const PixelDelta&, const PixelDelta&) = default;
};
struct Wheel {
    std::variant<LineDelta, PixelDelta> delta;
    friend bool operator==(const Wheel&, const Wheel&) = default;
};

enum class PointerButton : std::uint8_t { Primary, Secondary, Middle, Other };

// A button press or release; the position is the last PointerMoved.
struct Button {
    PointerButton button = PointerButton::Primary;
    ElementState state = ElementState::Pressed;
    friend bool operator==(const Button&, const Button&) = default;
};

struct Key {
    LogicalKey logical;
    std::optional<KeyCode> physical;
    std::optional<std::string> text;  // what the key types, if anything
    ElementState state = ElementState::Pressed;

    bool pressed() const { return state == ElementState::Pressed; }
    bool is_named(NamedKey k) const {
        auto* n = std::get_if<NamedKey>(&logical);
        return n && *n == k;
    }
    // The character key's text, or null for other keys.
    const std::string* character() const {
        auto* c = std::get_if<CharacterKey>(&logical);
        return c ? &c->text : nullptr;
    }
    friend bool operator==(const Key&, const Key&) = default;
};

// Text committed by an input method (composed characters, dead keys, CJK input).
struct TextCommit {
    std::string text;
    friend bool operator==(const TextCommit&, const TextCommit&) = default;
};

// The window lost the keyboard focus: keys held now are released elsewhere, unseen.
struct FocusLost {
    friend bool operator==(const FocusLost&, const FocusLost&) = default;
};

using Event = std::variant<PointerMoved, PointerLeft, Wheel, Button, Key, TextCommit, FocusLost>;

// Short builders, mostly for tests and backends.
inline Key named_key(NamedKey k, ElementState state = ElementState::Pressed) {
    std::optional<std::string> text;
    if (k == NamedKey::Space) text = " ";
    if (k == NamedKey::Enter) text = "\r";
    if (k == NamedKey::Tab) text = "\t";
    return Key{k, std::nullopt, text, state};
}
inline Key character_key(std::string_view text, ElementState state = ElementState::Pressed) {
    return Key{CharacterKey{std::string(text)}, std::nullopt, std::string(text), state};
}

}  // namespace zavo_ui::event
