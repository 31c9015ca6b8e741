#pragma once
// Key events and modifier sets for input tests.
#include <optional>
#include <string>

#include "zavo_ui/events.hpp"

namespace views_test {

namespace ev = zavo_ui::event;

inline constexpr ev::Modifiers NONE{};
inline constexpr ev::Modifiers CONTROL{ev::Modifiers::CONTROL};
inline constexpr ev::Modifiers SUPER{ev::Modifiers::SUPER};
inline constexpr ev::Modifiers CONTROL_SHIFT{ev::Modifiers::CONTROL | ev::Modifiers::SHIFT};

// A key press with this physical key (none: the key has none), logical key and text.
inline ev::Key key_event(std::optional<ev::KeyCode> code, ev::LogicalKey logical, std::optional<std::string> text,
                         ev::ElementState state = ev::ElementState::Pressed) {
    return ev::Key{std::move(logical), code, std::move(text), state};
}
// A lower-case letter as a keyboard sends it: physical key, character and text.
inline ev::Key letter(char c, ev::ElementState state = ev::ElementState::Pressed) {
    const auto code = static_cast<ev::KeyCode>(ev::key_number(ev::KeyCode::KeyA) + (c - 'a'));
    return key_event(code, ev::CharacterKey{std::string(1, c)}, std::string(1, c), state);
}
inline ev::Key escape() { return key_event(ev::KeyCode::Escape, ev::NamedKey::Escape, std::nullopt); }

}  // namespace views_test
