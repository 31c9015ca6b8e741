#pragma once
// Physical keys and the Linux input-event (evdev) key codes of the keys they are.
#include <cstdint>
#include <optional>

#include "zavo_ui/events.hpp"

namespace zavo_ui::event {

// The physical key of a Linux evdev key code (KEY_*), or none for a code without one.
std::optional<KeyCode> key_code_from_evdev(std::uint32_t evdev_code);

// The evdev key code of a physical key, or none for a key without one.
std::optional<std::uint16_t> evdev_code(KeyCode key);

}  // namespace zavo_ui::event
