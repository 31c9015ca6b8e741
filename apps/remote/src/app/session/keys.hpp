#pragma once
// Key translation for the live sessions: SSH bytes, VNC keysyms, device key codes.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "zavo_ui/events.hpp"

namespace remote {

// The escape sequence or byte a named key sends to a shell; none for keys without one.
std::optional<std::string_view> ssh_key_bytes(zavo_ui::event::NamedKey key);
// What a key press sends to a shell: the named key's bytes, Control+letter as its control byte,
// else the text the key types (or the character key's own text). None: nothing to send.
std::optional<std::string> ssh_bytes_for_key(const zavo_ui::event::Key& key, zavo_ui::event::Modifiers modifiers);

// The X11 keysym of a named key; none for keys without one.
std::optional<std::uint32_t> vnc_keysym(zavo_ui::event::NamedKey key);
// The keysym of a character: Latin-1 code points are their own keysyms, the others take the
// Unicode keysym range (0x01000000 + code point).
std::uint32_t keysym_for_code_point(char32_t cp);
// The keysym a key press sends to a VNC server: the named key's, else that of the first
// character the key types. None: nothing to send.
std::optional<std::uint32_t> vnc_keysym_for_key(const zavo_ui::event::Key& key);

// The Linux input-event key code of a physical key; none for keys the device does not take.
std::optional<std::uint32_t> device_key_code(zavo_ui::event::KeyCode key);

inline constexpr std::uint32_t BTN_LEFT = 272;
inline constexpr std::uint32_t BTN_RIGHT = 273;
inline constexpr std::uint32_t BTN_MIDDLE = 274;

}  // namespace remote
