#include "app/session/keys.hpp"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

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

// The bytes below are what xterm 379 sends for the same keys (metaSendsEscape on, as Alt is
// here), recorded raw from a shell under Xvfb.
TEST(SshKeyBytes, EditingAndFunctionKeysInBothCursorModes) {
    const ev::Modifiers SHIFT{ev::Modifiers::SHIFT}, ALT{ev::Modifiers::ALT};
    const ev::Modifiers ALL{ev::Modifiers::SHIFT | ev::Modifiers::ALT | ev::Modifiers::CONTROL};
    struct Case {
        NamedKey key;
        ev::Modifiers modifiers;
        std::string normal;
        std::string application;  // DECCKM set
    } cases[] = {
        {NamedKey::ArrowUp, NONE, "\x1b[A", "\x1bOA"},
        {NamedKey::ArrowDown, NONE, "\x1b[B", "\x1bOB"},
        {NamedKey::ArrowRight, NONE, "\x1b[C", "\x1bOC"},
        {NamedKey::ArrowLeft, NONE, "\x1b[D", "\x1bOD"},
        {NamedKey::Home, NONE, "\x1b[H", "\x1bOH"},
        {NamedKey::End, NONE, "\x1b[F", "\x1bOF"},
        // Modified, the cursor keys take CSI 1;m in both modes.
        {NamedKey::ArrowUp, SHIFT, "\x1b[1;2A", "\x1b[1;2A"},
        {NamedKey::ArrowRight, ALT, "\x1b[1;3C", "\x1b[1;3C"},
        {NamedKey::ArrowLeft, CONTROL, "\x1b[1;5D", "\x1b[1;5D"},
        {NamedKey::ArrowDown, CONTROL_SHIFT, "\x1b[1;6B", "\x1b[1;6B"},
        {NamedKey::ArrowLeft, ALL, "\x1b[1;8D", "\x1b[1;8D"},
        {NamedKey::Home, SHIFT, "\x1b[1;2H", "\x1b[1;2H"},
        {NamedKey::End, CONTROL, "\x1b[1;5F", "\x1b[1;5F"},
        {NamedKey::Insert, NONE, "\x1b[2~", "\x1b[2~"},
        {NamedKey::Delete, NONE, "\x1b[3~", "\x1b[3~"},
        {NamedKey::PageUp, NONE, "\x1b[5~", "\x1b[5~"},
        {NamedKey::PageDown, NONE, "\x1b[6~", "\x1b[6~"},
        {NamedKey::Insert, ALT, "\x1b[2;3~", "\x1b[2;3~"},
        {NamedKey::Delete, SHIFT, "\x1b[3;2~", "\x1b[3;2~"},
        {NamedKey::PageDown, CONTROL, "\x1b[6;5~", "\x1b[6;5~"},
        {NamedKey::PageUp, SHIFT, "\x1b[5;2~", "\x1b[5;2~"},  // xterm keeps this one to scroll
        {NamedKey::F1, NONE, "\x1bOP", "\x1bOP"},
        {NamedKey::F4, NONE, "\x1bOS", "\x1bOS"},
        {NamedKey::F1, SHIFT, "\x1b[1;2P", "\x1b[1;2P"},
        {NamedKey::F2, CONTROL, "\x1b[1;5Q", "\x1b[1;5Q"},
        {NamedKey::F3, ALT, "\x1b[1;3R", "\x1b[1;3R"},
        {NamedKey::F5, NONE, "\x1b[15~", "\x1b[15~"},
        {NamedKey::F6, NONE, "\x1b[17~", "\x1b[17~"},
        {NamedKey::F7, NONE, "\x1b[18~", "\x1b[18~"},
        {NamedKey::F8, NONE, "\x1b[19~", "\x1b[19~"},
        {NamedKey::F9, NONE, "\x1b[20~", "\x1b[20~"},
        {NamedKey::F10, NONE, "\x1b[21~", "\x1b[21~"},
        {NamedKey::F11, NONE, "\x1b[23~", "\x1b[23~"},
        {NamedKey::F12, NONE, "\x1b[24~", "\x1b[24~"},
        {NamedKey::F5, SHIFT, "\x1b[15;2~", "\x1b[15;2~"},
        {NamedKey::F12, CONTROL, "\x1b[24;5~", "\x1b[24;5~"},
        {NamedKey::ContextMenu, NONE, "\x1b[29~", "\x1b[29~"},
        // Keys that are not cursor keys ignore the mode.
        {NamedKey::Tab, NONE, "\t", "\t"},
        {NamedKey::Tab, SHIFT, "\x1b[Z", "\x1b[Z"},
        {NamedKey::Tab, CONTROL, "\t", "\t"},
        {NamedKey::Tab, ALT, "\x1b\t", "\x1b\t"},
        {NamedKey::Enter, NONE, "\r", "\r"},
        {NamedKey::Enter, CONTROL, "\r", "\r"},
        {NamedKey::Enter, ALT, "\x1b\r", "\x1b\r"},
        {NamedKey::Backspace, NONE, "\x7f", "\x7f"},
        {NamedKey::Backspace, SHIFT, "\x7f", "\x7f"},
        {NamedKey::Backspace, CONTROL, "\b", "\b"},
        {NamedKey::Backspace, ALT, "\x1b\x7f", "\x1b\x7f"},
        {NamedKey::Escape, NONE, "\x1b", "\x1b"},
        {NamedKey::Escape, ALT, "\x1b\x1b", "\x1b\x1b"},
        {NamedKey::Space, NONE, " ", " "},
        {NamedKey::Space, SHIFT, " ", " "},
        {NamedKey::Space, CONTROL, std::string(1, '\0'), std::string(1, '\0')},
        {NamedKey::Space, ALT, "\x1b ", "\x1b "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "key " << int(c.key) << " modifiers " << int(c.modifiers.bits));
        EXPECT_EQ(ssh_bytes_for_key(ev::named_key(c.key), c.modifiers), c.normal);
        EXPECT_EQ(ssh_bytes_for_key(ev::named_key(c.key), c.modifiers, {.application_cursor = true}), c.application);
    }
    // F13-F24 arrive without a logical key: the physical key says which.
    EXPECT_EQ(ssh_bytes_for_key(key_event(KeyCode::F13, ev::OtherKey{}, std::nullopt), NONE), "\x1b[25~");
    EXPECT_EQ(ssh_bytes_for_key(key_event(KeyCode::F16, ev::OtherKey{}, std::nullopt), NONE), "\x1b[29~");
    EXPECT_EQ(ssh_bytes_for_key(key_event(KeyCode::F24, ev::OtherKey{}, std::nullopt), CONTROL), "\x1b[45;5~");
    // Keys that send nothing.
    for (NamedKey key : {NamedKey::Shift, NamedKey::Control, NamedKey::Alt, NamedKey::Super, NamedKey::CapsLock,
                         NamedKey::NumLock, NamedKey::PrintScreen, NamedKey::Pause})
        EXPECT_EQ(ssh_bytes_for_key(ev::named_key(key), NONE), std::nullopt) << int(key);
}

TEST(SshKeyBytes, ControlAndAltOnCharacters) {
    const ev::Modifiers ALT{ev::Modifiers::ALT};
    const ev::Modifiers CONTROL_ALT{ev::Modifiers::CONTROL | ev::Modifiers::ALT};
    // The character as the key delivers it with Control held: the text is gone, the key is the
    // (shifted) character.
    auto held = [](const char* c) { return key_with_text(ev::CharacterKey{c}, std::nullopt); };
    struct Case {
        ev::Key key;
        ev::Modifiers modifiers;
        std::optional<std::string> bytes;
    };
    const std::vector<Case> cases = {
        {held("a"), CONTROL, "\x01"},
        {held("A"), CONTROL_SHIFT, "\x01"},
        {held("z"), CONTROL, "\x1a"},
        {held("@"), CONTROL_SHIFT, std::string(1, '\0')},
        {held("2"), CONTROL, std::string(1, '\0')},
        {held("["), CONTROL, "\x1b"},
        {held("\\"), CONTROL, "\x1c"},
        {held("]"), CONTROL, "\x1d"},
        {held("^"), CONTROL_SHIFT, "\x1e"},
        {held("6"), CONTROL, "\x1e"},
        {held("_"), CONTROL_SHIFT, "\x1f"},
        {held("?"), CONTROL_SHIFT, "\x7f"},
        {held("/"), CONTROL, "\x1f"},
        {held("3"), CONTROL, "\x1b"},
        {held("8"), CONTROL, "\x7f"},
        {held("`"), CONTROL, std::string(1, '\0')},
        // Control leaves these alone.
        {held("1"), CONTROL, "1"},
        {held("-"), CONTROL, "-"},
        {held("."), CONTROL, "."},
        {held("é"), CONTROL, "é"},
        // Alt puts ESC before what the key sends otherwise.
        {ev::character_key("b"), ALT,
         "\x1b"
         "b"},
        {ev::character_key("B"), ALT,
         "\x1b"
         "B"},
        {held("c"), CONTROL_ALT, "\x1b\x03"},
        {ev::character_key("é"), ALT, "\x1b\xc3\xa9"},
        // Super does not change what a key types.
        {ev::character_key("c"), SUPER, "c"},
        {ev::character_key("é"), NONE, "é"},
        // A character key without text sends the key's own text.
        {key_with_text(ev::CharacterKey{"q"}, std::nullopt), NONE, "q"},
        // The text wins over the key (a dead key's composed text, a shifted symbol).
        {key_with_text(ev::CharacterKey{"2"}, std::string("@")), NONE, "@"},
        {key_with_text(ev::OtherKey{}, std::string("ß")), NONE, "ß"},
        {key_with_text(ev::OtherKey{}, std::nullopt), NONE, std::nullopt},
        {key_with_text(ev::CharacterKey{""}, std::string("")), NONE, std::nullopt},
    };
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(ssh_bytes_for_key(cases[i].key, cases[i].modifiers), cases[i].bytes) << "case " << i;
}

TEST(SshKeyBytes, TheKeypadByNumLockAndKeypadMode) {
    const ev::Modifiers LOCK{ev::Modifiers::NUM_LOCK};
    const ev::Modifiers CONTROL_LOCKED{ev::Modifiers::CONTROL | ev::Modifiers::NUM_LOCK};
    auto pad = [](KeyCode code, ev::LogicalKey logical, std::optional<std::string> text) {
        return key_event(code, std::move(logical), std::move(text));
    };
    const ev::Key plus = pad(KeyCode::NumpadAdd, ev::CharacterKey{"+"}, "+");
    const ev::Key enter = pad(KeyCode::NumpadEnter, NamedKey::Enter, "\r");
    const ev::Key one = pad(KeyCode::Numpad1, ev::CharacterKey{"1"}, "1");
    const ev::Key end = pad(KeyCode::Numpad1, NamedKey::End, std::nullopt);  // 1 without NumLock
    const ev::Key begin = pad(KeyCode::Numpad5, ev::OtherKey{}, std::nullopt);
    const ev::Key del = pad(KeyCode::NumpadDecimal, NamedKey::Delete, std::nullopt);
    struct Case {
        const char* what;
        ev::Key key;
        ev::Modifiers modifiers;
        TerminalKeyModes modes;
        std::string bytes;
    } cases[] = {
        {"+", plus, NONE, {}, "+"},
        {"+, application keypad", plus, NONE, {.application_keypad = true}, "\x1bOk"},
        {"+, application keypad, NumLock", plus, LOCK, {.application_keypad = true}, "+"},
        {"Control +, application keypad", plus, CONTROL, {.application_keypad = true}, "\x1bO5k"},
        {"Control + types +", plus, CONTROL_LOCKED, {}, "+"},
        {"-", pad(KeyCode::NumpadSubtract, ev::CharacterKey{"-"}, "-"), NONE, {.application_keypad = true}, "\x1bOm"},
        {"*", pad(KeyCode::NumpadMultiply, ev::CharacterKey{"*"}, "*"), NONE, {.application_keypad = true}, "\x1bOj"},
        {"/", pad(KeyCode::NumpadDivide, ev::CharacterKey{"/"}, "/"), NONE, {.application_keypad = true}, "\x1bOo"},
        {"=", pad(KeyCode::NumpadEqual, ev::CharacterKey{"="}, "="), NONE, {.application_keypad = true}, "\x1bOX"},
        {"Enter", enter, NONE, {}, "\r"},
        {"Enter, application keypad", enter, NONE, {.application_keypad = true}, "\x1bOM"},
        {"Shift Enter, application keypad",
         enter,
         ev::Modifiers{ev::Modifiers::SHIFT},
         {.application_keypad = true},
         "\x1bO2M"},
        {"Alt Enter", enter, ev::Modifiers{ev::Modifiers::ALT}, {}, "\r"},
        // With NumLock the digits are digits in both modes.
        {"1", one, LOCK, {}, "1"},
        {"1, application keypad", one, LOCK, {.application_cursor = true, .application_keypad = true}, "1"},
        {"., application keypad",
         pad(KeyCode::NumpadDecimal, ev::CharacterKey{"."}, "."),
         LOCK,
         {.application_keypad = true},
         "."},
        // Without it they are the editing keys, which follow the cursor-key mode.
        {"End", end, NONE, {}, "\x1b[F"},
        {"End, application keypad", end, NONE, {.application_keypad = true}, "\x1b[F"},
        {"End, application cursor keys", end, NONE, {.application_cursor = true}, "\x1bOF"},
        {"Shift End", end, ev::Modifiers{ev::Modifiers::SHIFT}, {}, "\x1b[1;2F"},
        {"Delete", del, NONE, {.application_keypad = true}, "\x1b[3~"},
        {"Up", pad(KeyCode::Numpad8, NamedKey::ArrowUp, std::nullopt), CONTROL, {}, "\x1b[1;5A"},
        {"Begin", begin, NONE, {}, "\x1b[E"},
        {"Begin, application cursor keys", begin, NONE, {.application_cursor = true}, "\x1bOE"},
    };
    for (const auto& c : cases) EXPECT_EQ(ssh_bytes_for_key(c.key, c.modifiers, c.modes), c.bytes) << c.what;
}

TEST(VncKeysym, EveryNamedKeyModifiersOnEachSideAndTheKeypad) {
    struct Case {
        const char* what;
        ev::Key key;
        std::optional<std::uint32_t> keysym;
    } cases[] = {
        {"Enter", ev::named_key(NamedKey::Enter), 0xFF0D},
        {"Tab", ev::named_key(NamedKey::Tab), 0xFF09},
        {"Space", ev::named_key(NamedKey::Space), 0x0020},
        {"Backspace", ev::named_key(NamedKey::Backspace), 0xFF08},
        {"Delete", ev::named_key(NamedKey::Delete), 0xFFFF},
        {"Escape", ev::named_key(NamedKey::Escape), 0xFF1B},
        {"Insert", ev::named_key(NamedKey::Insert), 0xFF63},
        {"Home", ev::named_key(NamedKey::Home), 0xFF50},
        {"End", ev::named_key(NamedKey::End), 0xFF57},
        {"PageUp", ev::named_key(NamedKey::PageUp), 0xFF55},
        {"PageDown", ev::named_key(NamedKey::PageDown), 0xFF56},
        {"Left", ev::named_key(NamedKey::ArrowLeft), 0xFF51},
        {"Up", ev::named_key(NamedKey::ArrowUp), 0xFF52},
        {"Right", ev::named_key(NamedKey::ArrowRight), 0xFF53},
        {"Down", ev::named_key(NamedKey::ArrowDown), 0xFF54},
        {"F1", ev::named_key(NamedKey::F1), 0xFFBE},
        {"F5", ev::named_key(NamedKey::F5), 0xFFC2},
        {"F12", ev::named_key(NamedKey::F12), 0xFFC9},
        {"F13", key_event(KeyCode::F13, ev::OtherKey{}, std::nullopt), 0xFFCA},
        {"F24", key_event(KeyCode::F24, ev::OtherKey{}, std::nullopt), 0xFFD5},
        {"Print", key_event(KeyCode::PrintScreen, NamedKey::PrintScreen, std::nullopt), 0xFF61},
        {"Pause", ev::named_key(NamedKey::Pause), 0xFF13},
        {"Menu", key_event(KeyCode::ContextMenu, NamedKey::ContextMenu, std::nullopt), 0xFF67},
        {"CapsLock", ev::named_key(NamedKey::CapsLock), 0xFFE5},
        {"NumLock", ev::named_key(NamedKey::NumLock), 0xFF7F},
        {"ScrollLock", ev::named_key(NamedKey::ScrollLock), 0xFF14},
        {"Shift_L", key_event(KeyCode::ShiftLeft, NamedKey::Shift, std::nullopt), 0xFFE1},
        {"Shift_R", key_event(KeyCode::ShiftRight, NamedKey::Shift, std::nullopt), 0xFFE2},
        {"Control_L", key_event(KeyCode::ControlLeft, NamedKey::Control, std::nullopt), 0xFFE3},
        {"Control_R", key_event(KeyCode::ControlRight, NamedKey::Control, std::nullopt), 0xFFE4},
        {"Alt_L", key_event(KeyCode::AltLeft, NamedKey::Alt, std::nullopt), 0xFFE9},
        {"Alt_R", key_event(KeyCode::AltRight, NamedKey::Alt, std::nullopt), 0xFFEA},
        {"Super_L", key_event(KeyCode::MetaLeft, NamedKey::Super, std::nullopt), 0xFFEB},
        {"Super_R", key_event(KeyCode::MetaRight, NamedKey::Super, std::nullopt), 0xFFEC},
        {"AltGr", key_event(KeyCode::AltRight, NamedKey::AltGraph, std::nullopt), 0xFE03},
        // The keypad as NumLock reads it.
        {"KP_1", key_event(KeyCode::Numpad1, ev::CharacterKey{"1"}, "1"), 0xFFB1},
        {"KP_End", key_event(KeyCode::Numpad1, NamedKey::End, std::nullopt), 0xFF9C},
        {"KP_5", key_event(KeyCode::Numpad5, ev::CharacterKey{"5"}, "5"), 0xFFB5},
        {"KP_Begin", key_event(KeyCode::Numpad5, ev::OtherKey{}, std::nullopt), 0xFF9D},
        {"KP_Up", key_event(KeyCode::Numpad8, NamedKey::ArrowUp, std::nullopt), 0xFF97},
        {"KP_Insert", key_event(KeyCode::Numpad0, NamedKey::Insert, std::nullopt), 0xFF9E},
        {"KP_Decimal", key_event(KeyCode::NumpadDecimal, ev::CharacterKey{"."}, "."), 0xFFAE},
        {"KP_Delete", key_event(KeyCode::NumpadDecimal, NamedKey::Delete, std::nullopt), 0xFF9F},
        {"KP_Add", key_event(KeyCode::NumpadAdd, ev::CharacterKey{"+"}, "+"), 0xFFAB},
        {"KP_Subtract", key_event(KeyCode::NumpadSubtract, ev::CharacterKey{"-"}, "-"), 0xFFAD},
        {"KP_Multiply", key_event(KeyCode::NumpadMultiply, ev::CharacterKey{"*"}, "*"), 0xFFAA},
        {"KP_Divide", key_event(KeyCode::NumpadDivide, ev::CharacterKey{"/"}, "/"), 0xFFAF},
        {"KP_Enter", key_event(KeyCode::NumpadEnter, NamedKey::Enter, "\r"), 0xFF8D},
        // Characters by the keysym of what they type.
        {"a", ev::character_key("a"), 0x61},
        {"Q", ev::character_key("Q"), 0x51},
        {"first of two", ev::character_key("ab"), 0x61},
        {"é", ev::character_key("é"), 0xE9},
        {"beyond Latin-1", ev::character_key("ж"), 0x01000436},
        {"€", ev::character_key("€"), 0x010020AC},
        {"with Control (no text)", key_with_text(ev::CharacterKey{"c"}, std::nullopt), 0x63},
        {"a shifted symbol", key_with_text(ev::CharacterKey{"2"}, std::string("@")), 0x40},
        {"malformed text", key_with_text(ev::OtherKey{}, std::string("\xff")), std::nullopt},
        {"nothing to say", key_with_text(ev::OtherKey{}, std::nullopt), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(vnc_keysym_for_key(c.key), c.keysym) << c.what;
}

TEST(DeviceKeyCode, EveryKeyOfAKeyboardByItsInputEventCode) {
    // clang-format off
    const std::vector<std::pair<KeyCode, std::uint32_t>> table = {
        {KeyCode::Escape, KEY_ESC}, {KeyCode::Digit1, KEY_1}, {KeyCode::Digit9, KEY_9}, {KeyCode::Digit0, KEY_0},
        {KeyCode::Minus, KEY_MINUS}, {KeyCode::Equal, KEY_EQUAL}, {KeyCode::Backspace, KEY_BACKSPACE},
        {KeyCode::Tab, KEY_TAB}, {KeyCode::KeyQ, KEY_Q}, {KeyCode::KeyA, KEY_A}, {KeyCode::KeyM, KEY_M},
        {KeyCode::KeyZ, KEY_Z}, {KeyCode::BracketLeft, KEY_LEFTBRACE}, {KeyCode::BracketRight, KEY_RIGHTBRACE},
        {KeyCode::Enter, KEY_ENTER}, {KeyCode::Semicolon, KEY_SEMICOLON}, {KeyCode::Quote, KEY_APOSTROPHE},
        {KeyCode::Backquote, KEY_GRAVE}, {KeyCode::Backslash, KEY_BACKSLASH}, {KeyCode::Comma, KEY_COMMA},
        {KeyCode::Period, KEY_DOT}, {KeyCode::Slash, KEY_SLASH}, {KeyCode::IntlBackslash, KEY_102ND},
        {KeyCode::Space, KEY_SPACE}, {KeyCode::CapsLock, KEY_CAPSLOCK},
        {KeyCode::ShiftLeft, KEY_LEFTSHIFT}, {KeyCode::ShiftRight, KEY_RIGHTSHIFT},
        {KeyCode::ControlLeft, KEY_LEFTCTRL}, {KeyCode::ControlRight, KEY_RIGHTCTRL},
        {KeyCode::AltLeft, KEY_LEFTALT}, {KeyCode::AltRight, KEY_RIGHTALT},
        {KeyCode::MetaLeft, KEY_LEFTMETA}, {KeyCode::MetaRight, KEY_RIGHTMETA}, {KeyCode::ContextMenu, KEY_COMPOSE},
        {KeyCode::Insert, KEY_INSERT}, {KeyCode::Delete, KEY_DELETE}, {KeyCode::Home, KEY_HOME},
        {KeyCode::End, KEY_END}, {KeyCode::PageUp, KEY_PAGEUP}, {KeyCode::PageDown, KEY_PAGEDOWN},
        {KeyCode::ArrowUp, KEY_UP}, {KeyCode::ArrowDown, KEY_DOWN}, {KeyCode::ArrowLeft, KEY_LEFT},
        {KeyCode::ArrowRight, KEY_RIGHT}, {KeyCode::F1, KEY_F1}, {KeyCode::F10, KEY_F10}, {KeyCode::F11, KEY_F11},
        {KeyCode::F12, KEY_F12}, {KeyCode::F13, KEY_F13}, {KeyCode::F24, KEY_F24},
        {KeyCode::PrintScreen, KEY_SYSRQ}, {KeyCode::ScrollLock, KEY_SCROLLLOCK}, {KeyCode::Pause, KEY_PAUSE},
        {KeyCode::NumLock, KEY_NUMLOCK}, {KeyCode::Numpad0, KEY_KP0}, {KeyCode::Numpad1, KEY_KP1},
        {KeyCode::Numpad5, KEY_KP5}, {KeyCode::Numpad9, KEY_KP9}, {KeyCode::NumpadDecimal, KEY_KPDOT},
        {KeyCode::NumpadAdd, KEY_KPPLUS}, {KeyCode::NumpadSubtract, KEY_KPMINUS},
        {KeyCode::NumpadMultiply, KEY_KPASTERISK}, {KeyCode::NumpadDivide, KEY_KPSLASH},
        {KeyCode::NumpadEnter, KEY_KPENTER}, {KeyCode::NumpadEqual, KEY_KPEQUAL}, {KeyCode::NumpadComma, KEY_KPCOMMA},
        {KeyCode::IntlRo, KEY_RO}, {KeyCode::IntlYen, KEY_YEN},
    };
    // clang-format on
    for (const auto& [key, code] : table) EXPECT_EQ(device_key_code(key), code) << ev::key_number(key);

    // Every letter is listed, each with its own code.
    std::vector<std::uint32_t> letters;
    for (auto k = ev::key_number(KeyCode::KeyA); k <= ev::key_number(KeyCode::KeyZ); ++k)
        letters.push_back(device_key_code(static_cast<KeyCode>(k)).value_or(0));
    EXPECT_EQ(letters, (std::vector<std::uint32_t>{KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I,
                                                   KEY_J, KEY_K, KEY_L, KEY_M, KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R,
                                                   KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z}));
    // Keys no keyboard reports to us have none.
    for (KeyCode key :
         {KeyCode::NumpadBackspace, KeyCode::NumpadHash, KeyCode::NumpadMemoryAdd, KeyCode::Hyper, KeyCode::Turbo})
        EXPECT_EQ(device_key_code(key), std::nullopt) << ev::key_number(key);
}
