#pragma once
// Physical keys from X11 key codes: an X11 key code is the Linux evdev code plus 8.
#include <cstdint>
#include <optional>

#include "zavo_ui/physical_keys.hpp"

namespace zavo_ui::qt {

// The physical key of an X11 key code, or none.
inline std::optional<event::KeyCode> key_code_from_x11(std::uint32_t x11_keycode) {
    if (x11_keycode < 8) return std::nullopt;
    return event::key_code_from_evdev(x11_keycode - 8);
}

}  // namespace zavo_ui::qt
