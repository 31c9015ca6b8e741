#include "zavo_ui/physical_keys.hpp"

#include <array>

namespace zavo_ui::event {
namespace {

using K = KeyCode;

struct KeyEntry {
    K key;
    std::uint16_t evdev;
};

// Every physical key that an evdev key code produces.
// clang-format off
constexpr KeyEntry kKeys[] = {
    {K::Backquote, 41}, {K::Backslash, 43}, {K::BracketLeft, 26}, {K::BracketRight, 27},
    {K::Comma, 51}, {K::Digit0, 11}, {K::Digit1, 2}, {K::Digit2, 3}, {K::Digit3, 4},
    {K::Digit4, 5}, {K::Digit5, 6}, {K::Digit6, 7}, {K::Digit7, 8}, {K::Digit8, 9},
    {K::Digit9, 10}, {K::Equal, 13}, {K::IntlBackslash, 86}, {K::IntlRo, 89}, {K::IntlYen, 124},
    {K::KeyA, 30}, {K::KeyB, 48}, {K::KeyC, 46}, {K::KeyD, 32}, {K::KeyE, 18}, {K::KeyF, 33},
    {K::KeyG, 34}, {K::KeyH, 35}, {K::KeyI, 23}, {K::KeyJ, 36}, {K::KeyK, 37}, {K::KeyL, 38},
    {K::KeyM, 50}, {K::KeyN, 49}, {K::KeyO, 24}, {K::KeyP, 25}, {K::KeyQ, 16}, {K::KeyR, 19},
    {K::KeyS, 31}, {K::KeyT, 20}, {K::KeyU, 22}, {K::KeyV, 47}, {K::KeyW, 17}, {K::KeyX, 45},
    {K::KeyY, 21}, {K::KeyZ, 44}, {K::Minus, 12}, {K::Period, 52}, {K::Quote, 40},
    {K::Semicolon, 39}, {K::Slash, 53}, {K::AltLeft, 56}, {K::AltRight, 100}, {K::Backspace, 14},
    {K::CapsLock, 58}, {K::ContextMenu, 127}, {K::ControlLeft, 29}, {K::ControlRight, 97},
    {K::Enter, 28}, {K::MetaLeft, 125}, {K::MetaRight, 126}, {K::ShiftLeft, 42},
    {K::ShiftRight, 54}, {K::Space, 57}, {K::Tab, 15}, {K::Convert, 92}, {K::KanaMode, 93},
    {K::Lang1, 122}, {K::Lang2, 123}, {K::Lang3, 90}, {K::Lang4, 91}, {K::Lang5, 85},
    {K::NonConvert, 94}, {K::Delete, 111}, {K::End, 107}, {K::Help, 138}, {K::Home, 102},
    {K::Insert, 110}, {K::PageDown, 109}, {K::PageUp, 104}, {K::ArrowDown, 108},
    {K::ArrowLeft, 105}, {K::ArrowRight, 106}, {K::ArrowUp, 103}, {K::NumLock, 69},
    {K::Numpad0, 82}, {K::Numpad1, 79}, {K::Numpad2, 80}, {K::Numpad3, 81}, {K::Numpad4, 75},
    {K::Numpad5, 76}, {K::Numpad6, 77}, {K::Numpad7, 71}, {K::Numpad8, 72}, {K::Numpad9, 73},
    {K::NumpadAdd, 78}, {K::NumpadComma, 121}, {K::NumpadDecimal, 83}, {K::NumpadDivide, 98},
    {K::NumpadEnter, 96}, {K::NumpadEqual, 117}, {K::NumpadMultiply, 55},
    {K::NumpadParenLeft, 179}, {K::NumpadParenRight, 180}, {K::NumpadSubtract, 74}, {K::Escape, 1},
    {K::Fn, 464}, {K::PrintScreen, 99}, {K::ScrollLock, 70}, {K::Pause, 119},
    {K::BrowserBack, 158}, {K::BrowserFavorites, 156}, {K::BrowserForward, 159},
    {K::BrowserHome, 172}, {K::BrowserRefresh, 173}, {K::BrowserSearch, 217},
    {K::BrowserStop, 128}, {K::Eject, 161}, {K::LaunchApp1, 157}, {K::LaunchApp2, 140},
    {K::LaunchMail, 155}, {K::MediaPlayPause, 164}, {K::MediaSelect, 226}, {K::MediaStop, 166},
    {K::MediaTrackNext, 163}, {K::MediaTrackPrevious, 165}, {K::Power, 116}, {K::Sleep, 142},
    {K::AudioVolumeDown, 114}, {K::AudioVolumeMute, 113}, {K::AudioVolumeUp, 115},
    {K::WakeUp, 143}, {K::Again, 129}, {K::Copy, 133}, {K::Cut, 137}, {K::Find, 136},
    {K::Open, 134}, {K::Paste, 135}, {K::Props, 130}, {K::Select, 353}, {K::Undo, 131},
    {K::F1, 59}, {K::F2, 60}, {K::F3, 61}, {K::F4, 62}, {K::F5, 63}, {K::F6, 64}, {K::F7, 65},
    {K::F8, 66}, {K::F9, 67}, {K::F10, 68}, {K::F11, 87}, {K::F12, 88}, {K::F13, 183},
    {K::F14, 184}, {K::F15, 185}, {K::F16, 186}, {K::F17, 187}, {K::F18, 188}, {K::F19, 189},
    {K::F20, 190}, {K::F21, 191}, {K::F22, 192}, {K::F23, 193}, {K::F24, 194},
};
// clang-format on

constexpr std::size_t kEvdevLimit = 512;

constexpr bool evdev_codes_unique() {
    for (std::size_t a = 0; a < std::size(kKeys); ++a) {
        if (kKeys[a].evdev == 0 || kKeys[a].evdev >= kEvdevLimit) return false;
        for (std::size_t b = a + 1; b < std::size(kKeys); ++b) {
            if (kKeys[a].evdev == kKeys[b].evdev || kKeys[a].key == kKeys[b].key) return false;
        }
    }
    return true;
}
static_assert(evdev_codes_unique(), "an evdev code belongs to one physical key and back");

// evdev code -> key number + 1 (0: none).
constexpr auto kByEvdev = [] {
    std::array<std::uint16_t, kEvdevLimit> table{};
    for (const KeyEntry& e : kKeys) table[e.evdev] = static_cast<std::uint16_t>(key_number(e.key) + 1);
    return table;
}();

// key number -> evdev code (0: none).
constexpr auto kByKey = [] {
    std::array<std::uint16_t, key_number(K::F24) + 1> table{};
    for (const KeyEntry& e : kKeys) table[key_number(e.key)] = e.evdev;
    return table;
}();

}  // namespace

std::optional<KeyCode> key_code_from_evdev(std::uint32_t evdev_code) {
    if (evdev_code >= kEvdevLimit || kByEvdev[evdev_code] == 0) return std::nullopt;
    return static_cast<KeyCode>(kByEvdev[evdev_code] - 1);
}

std::optional<std::uint16_t> evdev_code(KeyCode key) {
    const auto n = key_number(key);
    if (n >= kByKey.size() || kByKey[n] == 0) return std::nullopt;
    return kByKey[n];
}

}  // namespace zavo_ui::event
