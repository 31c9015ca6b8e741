#include "zavo_ui/qt/physical_keys.hpp"

#include <gtest/gtest.h>

namespace zavo_ui::qt {
namespace {

struct KeyCase {
  const char* name;
  std::uint32_t x11;  // evdev + 8
  std::uint16_t number;
};

// Key codes as an X server with the evdev driver reports them.
constexpr KeyCase kCases[] = {
    {"Backquote", 49, 0},     {"Comma", 59, 4},         {"Digit0", 19, 5},
    {"Digit1", 10, 6},        {"Digit9", 18, 14},       {"Equal", 21, 15},
    {"IntlBackslash", 94, 16}, {"KeyA", 38, 19},        {"KeyB", 56, 20},
    {"KeyM", 58, 31},         {"KeyQ", 24, 35},         {"KeyZ", 52, 44},
    {"Minus", 20, 45},        {"Slash", 61, 49},        {"AltLeft", 64, 50},
    {"AltRight", 108, 51},    {"Backspace", 22, 52},    {"CapsLock", 66, 53},
    {"ContextMenu", 135, 54}, {"ControlLeft", 37, 55},  {"ControlRight", 105, 56},
    {"Enter", 36, 57},        {"MetaLeft", 133, 58},    {"MetaRight", 134, 59},
    {"ShiftLeft", 50, 60},    {"ShiftRight", 62, 61},   {"Space", 65, 62},
    {"Tab", 23, 63},          {"Delete", 119, 72},      {"End", 115, 73},
    {"Home", 110, 75},        {"Insert", 118, 76},      {"PageDown", 117, 77},
    {"PageUp", 112, 78},      {"ArrowDown", 116, 79},   {"ArrowLeft", 113, 80},
    {"ArrowRight", 114, 81},  {"ArrowUp", 111, 82},     {"NumLock", 77, 83},
    {"Numpad0", 90, 84},      {"Numpad1", 87, 85},      {"Numpad9", 81, 93},
    {"NumpadAdd", 86, 94},    {"NumpadDecimal", 91, 99}, {"NumpadDivide", 106, 100},
    {"NumpadEnter", 104, 101}, {"NumpadMultiply", 63, 109}, {"NumpadSubtract", 82, 113},
    {"Escape", 9, 114},       {"PrintScreen", 107, 117}, {"ScrollLock", 78, 118},
    {"Pause", 127, 119},
};

TEST(QtPhysicalKeys, X11KeyCodesMapToTheirNumbers) {
  for (const KeyCase& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(physical_key_from_x11(c.x11), std::optional<std::uint16_t>(c.number));
    EXPECT_EQ(physical_key_name(c.number), c.name);
  }
}

TEST(QtPhysicalKeys, FunctionKeysComeAfterTheOtherKeys) {
  const auto f1 = physical_key_from_x11(67);
  const auto f12 = physical_key_from_x11(96);
  ASSERT_TRUE(f1 && f12);
  EXPECT_EQ(physical_key_name(*f1), "F1");
  EXPECT_EQ(physical_key_name(*f12), "F12");
  EXPECT_GT(*f1, 114);
  EXPECT_EQ(*f12 - *f1, 11);
}

TEST(QtPhysicalKeys, CodesWithoutAKeyHaveNoNumber) {
  for (std::uint32_t code : {0u, 1u, 7u, 8u, 255u + 8u, 100000u}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(physical_key_from_x11(code), std::nullopt);
  }
  EXPECT_EQ(physical_key_name(60000), "");
}

}  // namespace
}  // namespace zavo_ui::qt
