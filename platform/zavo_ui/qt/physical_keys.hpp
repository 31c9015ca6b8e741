#pragma once
// Physical key numbers from X11 key codes.
//
// The framework numbers physical keys in the order of the W3C UI Events `code` values
// (Backquote 0, Digit0 5, KeyA 19, AltLeft 50, Space 62, Delete 72, ArrowDown 79,
// Numpad0 84, Escape 114, then Fn, FnLock, PrintScreen, ScrollLock, Pause, the media and
// legacy keys, and F1-F24 last). On X11 a key code is the Linux evdev code plus 8.
#include <cstdint>
#include <optional>
#include <string_view>

namespace zavo_ui::qt {

// The physical key number of an X11 key code, or none for a key without one.
std::optional<std::uint16_t> physical_key_from_x11(std::uint32_t x11_keycode);

// The physical key number of a Linux evdev key code, or none.
std::optional<std::uint16_t> physical_key_from_evdev(std::uint32_t evdev_code);

// The W3C code name of a physical key number ("KeyA"), or empty for an unknown number.
std::string_view physical_key_name(std::uint16_t key);

}  // namespace zavo_ui::qt
