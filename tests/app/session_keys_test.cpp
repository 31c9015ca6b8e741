#include "app/session/keys.hpp"

#include <gtest/gtest.h>

#include "tests/views/key_events.hpp"

#include <string>
#include <vector>

using namespace remote;
using namespace views_test;
using ev::KeyCode;
using ev::NamedKey;

namespace {

ev::Key key_with_text(ev::LogicalKey logical, std::optional<std::string> text) {
    return key_event(std::nullopt, std::move(logical), std::move(text));
}

}  // namespace

TEST(SshKeyBytes, NamedKeysSendTheirSequences) {
    const std::vector<std::pair<NamedKey, std::string>> table = {
        {NamedKey::Enter, "\r"},         {NamedKey::Tab, "\t"},           {NamedKey::Space, " "},
        {NamedKey::ArrowUp, "\x1b[A"},   {NamedKey::ArrowDown, "\x1b[B"}, {NamedKey::ArrowRight, "\x1b[C"},
        {NamedKey::ArrowLeft, "\x1b[D"}, {NamedKey::End, "\x1b[F"},       {NamedKey::Home, "\x1b[H"},
        {NamedKey::Backspace, "\x7f"},   {NamedKey::Delete, "\x1b[3~"},   {NamedKey::Escape, "\x1b"},
    };
    for (const auto& [key, bytes] : table) {
        EXPECT_EQ(ssh_key_bytes(key), bytes) << int(key);
        // Control does not change a named key.
        EXPECT_EQ(ssh_bytes_for_key(ev::named_key(key), CONTROL), bytes) << int(key);
    }
    for (NamedKey key : {NamedKey::PageUp, NamedKey::PageDown, NamedKey::Insert, NamedKey::F1, NamedKey::Shift}) {
        EXPECT_EQ(ssh_key_bytes(key), std::nullopt) << int(key);
        EXPECT_EQ(ssh_bytes_for_key(ev::named_key(key), NONE), std::nullopt) << int(key);
    }
}

TEST(SshKeyBytes, ControlLettersTextAndFallbacks) {
    struct Case {
        ev::Key key;
        ev::Modifiers modifiers;
        std::optional<std::string> bytes;
    };
    const std::vector<Case> cases = {
        {ev::character_key("a"), CONTROL, "\x01"},
        {ev::character_key("c"), CONTROL, "\x03"},
        {ev::character_key("Z"), CONTROL_SHIFT, "\x1a"},
        {ev::character_key("n"), CONTROL, "\x0e"},
        // Super alone types the text; only Control makes control bytes.
        {ev::character_key("c"), SUPER, "c"},
        {ev::character_key("1"), CONTROL, "1"},
        {ev::character_key("é"), NONE, "é"},
        // Control+A as Qt delivers it: the text is dropped, the key says which letter.
        {key_with_text(ev::CharacterKey{"a"}, std::nullopt), CONTROL, "\x01"},
        // A character key without text sends the key's own text.
        {key_with_text(ev::CharacterKey{"q"}, std::nullopt), NONE, "q"},
        // The text wins over the key (a dead key's composed text, a shifted symbol).
        {key_with_text(ev::CharacterKey{"2"}, std::string("@")), NONE, "@"},
        {key_with_text(ev::OtherKey{}, std::string("ß")), NONE, "ß"},
        {key_with_text(ev::OtherKey{}, std::nullopt), NONE, std::nullopt},
        {key_with_text(ev::NamedKey::PageUp, std::string("x")), NONE, "x"},
        {key_with_text(ev::CharacterKey{""}, std::string("")), NONE, std::nullopt},
    };
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(ssh_bytes_for_key(cases[i].key, cases[i].modifiers), cases[i].bytes) << "case " << i;
}

TEST(VncKeysym, NamedKeysThenTheFirstCharacter) {
    const std::vector<std::pair<NamedKey, std::uint32_t>> table = {
        {NamedKey::Enter, 0xFF0D},     {NamedKey::Tab, 0xFF09},       {NamedKey::Space, 0x0020},
        {NamedKey::ArrowLeft, 0xFF51}, {NamedKey::ArrowUp, 0xFF52},   {NamedKey::ArrowRight, 0xFF53},
        {NamedKey::ArrowDown, 0xFF54}, {NamedKey::Backspace, 0xFF08}, {NamedKey::Delete, 0xFFFF},
        {NamedKey::Escape, 0xFF1B},
    };
    for (const auto& [key, keysym] : table) EXPECT_EQ(vnc_keysym_for_key(ev::named_key(key)), keysym) << int(key);
    // No keysym for Home, End or the page keys: their text, when they have one, else nothing.
    for (NamedKey key : {NamedKey::Home, NamedKey::End, NamedKey::PageUp, NamedKey::PageDown})
        EXPECT_EQ(vnc_keysym_for_key(ev::named_key(key)), std::nullopt) << int(key);

    EXPECT_EQ(vnc_keysym_for_key(ev::character_key("a")), 0x61u);
    EXPECT_EQ(vnc_keysym_for_key(ev::character_key("Q")), 0x51u);
    EXPECT_EQ(vnc_keysym_for_key(ev::character_key("ab")), 0x61u);
    EXPECT_EQ(vnc_keysym_for_key(ev::character_key("é")), 0xE9u);
    // Beyond Latin-1 a character takes the Unicode keysym range.
    EXPECT_EQ(vnc_keysym_for_key(ev::character_key("ж")), 0x01000436u);
    EXPECT_EQ(vnc_keysym_for_key(ev::character_key("€")), 0x010020ACu);
    EXPECT_EQ(vnc_keysym_for_key(key_with_text(ev::CharacterKey{"a"}, std::nullopt)), std::nullopt);
    EXPECT_EQ(vnc_keysym_for_key(key_with_text(ev::CharacterKey{"a"}, std::string())), std::nullopt);
    EXPECT_EQ(vnc_keysym_for_key(key_with_text(ev::CharacterKey{"a"}, std::string("\xff"))), std::nullopt);
}

TEST(DeviceKeyCode, ListedKeysAndTheRestUnlisted) {
    const std::vector<std::pair<KeyCode, std::uint32_t>> table = {
        {KeyCode::Digit0, 11},    {KeyCode::Digit1, 2},      {KeyCode::Digit5, 6},       {KeyCode::Digit9, 10},
        {KeyCode::KeyA, 30},      {KeyCode::KeyB, 48},       {KeyCode::KeyC, 46},        {KeyCode::KeyM, 50},
        {KeyCode::KeyN, 49},      {KeyCode::KeyQ, 16},       {KeyCode::KeyZ, 44},        {KeyCode::AltLeft, 56},
        {KeyCode::AltRight, 100}, {KeyCode::Backspace, 14},  {KeyCode::ControlLeft, 29}, {KeyCode::ControlRight, 97},
        {KeyCode::Enter, 28},     {KeyCode::ShiftLeft, 42},  {KeyCode::ShiftRight, 54},  {KeyCode::Space, 57},
        {KeyCode::Tab, 15},       {KeyCode::ArrowDown, 108}, {KeyCode::ArrowLeft, 105},  {KeyCode::ArrowRight, 106},
        {KeyCode::ArrowUp, 103},  {KeyCode::Escape, 1},
    };
    for (const auto& [key, code] : table) EXPECT_EQ(device_key_code(key), code) << ev::key_number(key);

    // Every letter is listed, each with its own code.
    std::vector<std::uint32_t> letters;
    for (auto k = ev::key_number(KeyCode::KeyA); k <= ev::key_number(KeyCode::KeyZ); ++k)
        letters.push_back(device_key_code(static_cast<KeyCode>(k)).value_or(0));
    EXPECT_EQ(letters, (std::vector<std::uint32_t>{30, 48, 46, 32, 18, 33, 34, 35, 23, 36, 37, 38, 50,
                                                   49, 24, 25, 16, 19, 31, 20, 22, 47, 17, 45, 21, 44}));

    for (KeyCode key :
         {KeyCode::Backquote, KeyCode::Backslash, KeyCode::BracketLeft, KeyCode::Comma,          KeyCode::Equal,
          KeyCode::IntlYen,   KeyCode::Minus,     KeyCode::Period,      KeyCode::Quote,          KeyCode::Semicolon,
          KeyCode::Slash,     KeyCode::CapsLock,  KeyCode::ContextMenu, KeyCode::MetaLeft,       KeyCode::MetaRight,
          KeyCode::Delete,    KeyCode::End,       KeyCode::Home,        KeyCode::Insert,         KeyCode::PageDown,
          KeyCode::PageUp,    KeyCode::Numpad0,   KeyCode::NumpadEnter, KeyCode::NumpadSubtract, KeyCode::Fn,
          KeyCode::F1,        KeyCode::F24})
        EXPECT_EQ(device_key_code(key), std::nullopt) << ev::key_number(key);
}
