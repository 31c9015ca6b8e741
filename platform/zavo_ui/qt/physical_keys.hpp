#pragma once
// Physical keys from X11 key codes. An X11 key code is the Linux evdev code plus 8; the
// framework numbers physical keys as event::KeyCode does.
#include <cstdint>
#include <optional>

#include "zavo_ui/events.hpp"

namespace zavo_ui::qt {

// The physical key of a Linux evdev key code (KEY_*), or none for a code without one.
std::optional<event::KeyCode> key_code_from_evdev(std::uint32_t evdev_code);

// The physical key of an X11 key code, or none.
std::optional<event::KeyCode> key_code_from_x11(std::uint32_t x11_keycode);

}  // namespace zavo_ui::qt
