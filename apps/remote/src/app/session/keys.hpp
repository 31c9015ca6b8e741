#pragma once
// Key translation for the live sessions: SSH bytes, VNC keysyms, device key codes.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "zavo_ui/events.hpp"

namespace remote {

// The terminal's modes that change what keys send.
struct TerminalKeyModes {
    bool application_cursor = false;  // DECCKM
    bool application_keypad = false;  // DECKPAM
};

// What a key press sends to a shell, as xterm sends it for TERM=xterm-256color: the cursor,
// editing and function keys as CSI or SS3 sequences (CSI 1;m X and CSI n;m ~ with Shift, Alt or
// Control, m = 1 + 1 Shift + 2 Alt + 4 Control), the keypad by NumLock and the keypad mode,
// Control on a character as X applies it, and Alt as ESC before what the key sends otherwise.
// None: nothing to send.
std::optional<std::string> ssh_bytes_for_key(const zavo_ui::event::Key& key, zavo_ui::event::Modifiers modifiers,
                                             TerminalKeyModes modes = {});

// The keysym of a character: Latin-1 code points are their own keysyms, the others take the
// Unicode keysym range (0x01000000 + code point).
std::uint32_t keysym_for_code_point(char32_t cp);
// The X11 keysym a VNC server is sent for a key, pressed or released, as RFB clients send it:
// Shift, Control, Alt, Super (left and right apart) and AltGr (ISO_Level3_Shift) as keys of
// their own, every named key by its keysym, the keypad as NumLock reads it, a character by the
// keysym of what it types (Control is not applied: it is pressed on its own). None: the key has
// no keysym.
std::optional<std::uint32_t> vnc_keysym_for_key(const zavo_ui::event::Key& key);

// The Linux input-event key code a device is sent for a physical key: every key of a keyboard
// has one (punctuation, the editing block, F-keys, modifiers, the keypad); none for the rest.
std::optional<std::uint32_t> device_key_code(zavo_ui::event::KeyCode key);

inline constexpr std::uint32_t BTN_LEFT = 272;
inline constexpr std::uint32_t BTN_RIGHT = 273;
inline constexpr std::uint32_t BTN_MIDDLE = 274;

}  // namespace remote
