#include "zavo_ui/qt/physical_keys.hpp"

#include <array>

namespace zavo_ui::qt {
namespace {

struct KeyEntry {
  std::string_view name;
  std::uint16_t evdev;  // 0: no evdev key produces it
};

// Indexed by physical key number.
constexpr KeyEntry kKeys[] = {
    {"Backquote", 41}, {"Backslash", 43}, {"BracketLeft", 26}, {"BracketRight", 27},
    {"Comma", 51},
    {"Digit0", 11}, {"Digit1", 2}, {"Digit2", 3}, {"Digit3", 4}, {"Digit4", 5},
    {"Digit5", 6}, {"Digit6", 7}, {"Digit7", 8}, {"Digit8", 9}, {"Digit9", 10},
    {"Equal", 13}, {"IntlBackslash", 86}, {"IntlRo", 89}, {"IntlYen", 124},
    {"KeyA", 30}, {"KeyB", 48}, {"KeyC", 46}, {"KeyD", 32}, {"KeyE", 18}, {"KeyF", 33},
    {"KeyG", 34}, {"KeyH", 35}, {"KeyI", 23}, {"KeyJ", 36}, {"KeyK", 37}, {"KeyL", 38},
    {"KeyM", 50}, {"KeyN", 49}, {"KeyO", 24}, {"KeyP", 25}, {"KeyQ", 16}, {"KeyR", 19},
    {"KeyS", 31}, {"KeyT", 20}, {"KeyU", 22}, {"KeyV", 47}, {"KeyW", 17}, {"KeyX", 45},
    {"KeyY", 21}, {"KeyZ", 44},
    {"Minus", 12}, {"Period", 52}, {"Quote", 40}, {"Semicolon", 39}, {"Slash", 53},
    {"AltLeft", 56}, {"AltRight", 100}, {"Backspace", 14}, {"CapsLock", 58},
    {"ContextMenu", 127}, {"ControlLeft", 29}, {"ControlRight", 97}, {"Enter", 28},
    {"MetaLeft", 125}, {"MetaRight", 126}, {"ShiftLeft", 42}, {"ShiftRight", 54},
    {"Space", 57}, {"Tab", 15},
    {"Convert", 92}, {"KanaMode", 93}, {"Lang1", 122}, {"Lang2", 123}, {"Lang3", 90},
    {"Lang4", 91}, {"Lang5", 85}, {"NonConvert", 94},
    {"Delete", 111}, {"End", 107}, {"Help", 138}, {"Home", 102}, {"Insert", 110},
    {"PageDown", 109}, {"PageUp", 104},
    {"ArrowDown", 108}, {"ArrowLeft", 105}, {"ArrowRight", 106}, {"ArrowUp", 103},
    {"NumLock", 69},
    {"Numpad0", 82}, {"Numpad1", 79}, {"Numpad2", 80}, {"Numpad3", 81}, {"Numpad4", 75},
    {"Numpad5", 76}, {"Numpad6", 77}, {"Numpad7", 71}, {"Numpad8", 72}, {"Numpad9", 73},
    {"NumpadAdd", 78}, {"NumpadBackspace", 0}, {"NumpadClear", 0}, {"NumpadClearEntry", 0},
    {"NumpadComma", 121}, {"NumpadDecimal", 83}, {"NumpadDivide", 98}, {"NumpadEnter", 96},
    {"NumpadEqual", 117}, {"NumpadHash", 0}, {"NumpadMemoryAdd", 0},
    {"NumpadMemoryClear", 0}, {"NumpadMemoryRecall", 0}, {"NumpadMemoryStore", 0},
    {"NumpadMemorySubtract", 0}, {"NumpadMultiply", 55}, {"NumpadParenLeft", 179},
    {"NumpadParenRight", 180}, {"NumpadStar", 0}, {"NumpadSubtract", 74},
    {"Escape", 1},
    {"Fn", 464}, {"FnLock", 0}, {"PrintScreen", 99}, {"ScrollLock", 70}, {"Pause", 119},
    {"BrowserBack", 158}, {"BrowserFavorites", 156}, {"BrowserForward", 159},
    {"BrowserHome", 172}, {"BrowserRefresh", 173}, {"BrowserSearch", 217},
    {"BrowserStop", 128}, {"Eject", 161}, {"LaunchApp1", 157}, {"LaunchApp2", 140},
    {"LaunchMail", 155}, {"MediaPlayPause", 164}, {"MediaSelect", 226}, {"MediaStop", 166},
    {"MediaTrackNext", 163}, {"MediaTrackPrevious", 165}, {"Power", 116}, {"Sleep", 142},
    {"AudioVolumeDown", 114}, {"AudioVolumeMute", 113}, {"AudioVolumeUp", 115},
    {"WakeUp", 143},
    {"Hyper", 0}, {"Super", 0}, {"Turbo", 0}, {"Abort", 0}, {"Resume", 0}, {"Suspend", 0},
    {"Again", 129}, {"Copy", 133}, {"Cut", 137}, {"Find", 136}, {"Open", 134},
    {"Paste", 135}, {"Props", 130}, {"Select", 353}, {"Undo", 131}, {"Hiragana", 0},
    {"Katakana", 0},
    {"F1", 59}, {"F2", 60}, {"F3", 61}, {"F4", 62}, {"F5", 63}, {"F6", 64}, {"F7", 65},
    {"F8", 66}, {"F9", 67}, {"F10", 68}, {"F11", 87}, {"F12", 88}, {"F13", 183},
    {"F14", 184}, {"F15", 185}, {"F16", 186}, {"F17", 187}, {"F18", 188}, {"F19", 189},
    {"F20", 190}, {"F21", 191}, {"F22", 192}, {"F23", 193}, {"F24", 194},
};

constexpr std::size_t kEvdevLimit = 512;

constexpr bool evdev_codes_unique() {
  for (std::size_t a = 0; a < std::size(kKeys); ++a) {
    if (kKeys[a].evdev >= kEvdevLimit) return false;
    for (std::size_t b = a + 1; b < std::size(kKeys); ++b) {
      if (kKeys[a].evdev != 0 && kKeys[a].evdev == kKeys[b].evdev) return false;
    }
  }
  return true;
}
static_assert(evdev_codes_unique(), "an evdev code belongs to one physical key");

// evdev code -> physical key number + 1 (0: none), built once at compile time.
constexpr auto kByEvdev = [] {
  std::array<std::uint16_t, kEvdevLimit> table{};
  for (std::size_t key = 0; key < std::size(kKeys); ++key) {
    if (kKeys[key].evdev != 0) table[kKeys[key].evdev] = static_cast<std::uint16_t>(key + 1);
  }
  return table;
}();

static_assert(kKeys[5].name == "Digit0" && kKeys[19].name == "KeyA" && kKeys[50].name == "AltLeft");
static_assert(kKeys[62].name == "Space" && kKeys[72].name == "Delete" && kKeys[84].name == "Numpad0");
static_assert(kKeys[113].name == "NumpadSubtract" && kKeys[114].name == "Escape");

}  // namespace

std::optional<std::uint16_t> physical_key_from_evdev(std::uint32_t evdev_code) {
  if (evdev_code == 0 || evdev_code >= kEvdevLimit) return std::nullopt;
  const std::uint16_t entry = kByEvdev[evdev_code];
  if (entry == 0) return std::nullopt;
  return static_cast<std::uint16_t>(entry - 1);
}

std::optional<std::uint16_t> physical_key_from_x11(std::uint32_t x11_keycode) {
  if (x11_keycode < 8) return std::nullopt;
  return physical_key_from_evdev(x11_keycode - 8);
}

std::string_view physical_key_name(std::uint16_t key) {
  return key < std::size(kKeys) ? kKeys[key].name : std::string_view{};
}

}  // namespace zavo_ui::qt
