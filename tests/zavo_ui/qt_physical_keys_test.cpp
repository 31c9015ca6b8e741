#include "zavo_ui/qt/physical_keys.hpp"

#include <gtest/gtest.h>

namespace zavo_ui::qt {
namespace {

using K = event::KeyCode;

struct KeyCase {
    K key;
    std::uint32_t x11;     // evdev + 8
    std::uint16_t number;  // the framework's physical key number
};

// Key codes as an X server with the evdev driver reports them.
// clang-format off
constexpr KeyCase kCases[] = {
    {K::Backquote, 49, 0},     {K::Comma, 59, 4},         {K::Digit0, 19, 5},
    {K::Digit1, 10, 6},        {K::Digit9, 18, 14},       {K::Equal, 21, 15},
    {K::IntlBackslash, 94, 16}, {K::KeyA, 38, 19},        {K::KeyB, 56, 20},
    {K::KeyM, 58, 31},         {K::KeyQ, 24, 35},         {K::KeyZ, 52, 44},
    {K::Minus, 20, 45},        {K::Slash, 61, 49},        {K::AltLeft, 64, 50},
    {K::AltRight, 108, 51},    {K::Backspace, 22, 52},    {K::CapsLock, 66, 53},
    {K::ContextMenu, 135, 54}, {K::ControlLeft, 37, 55},  {K::ControlRight, 105, 56},
    {K::Enter, 36, 57},        {K::MetaLeft, 133, 58},    {K::MetaRight, 134, 59},
    {K::ShiftLeft, 50, 60},    {K::ShiftRight, 62, 61},   {K::Space, 65, 62},
    {K::Tab, 23, 63},          {K::Delete, 119, 72},      {K::End, 115, 73},
    {K::Home, 110, 75},        {K::Insert, 118, 76},      {K::PageDown, 117, 77},
    {K::PageUp, 112, 78},      {K::ArrowDown, 116, 79},   {K::ArrowLeft, 113, 80},
    {K::ArrowRight, 114, 81},  {K::ArrowUp, 111, 82},     {K::NumLock, 77, 83},
    {K::Numpad0, 90, 84},      {K::Numpad1, 87, 85},      {K::Numpad9, 81, 93},
    {K::NumpadAdd, 86, 94},    {K::NumpadDecimal, 91, 99}, {K::NumpadDivide, 106, 100},
    {K::NumpadEnter, 104, 101}, {K::NumpadMultiply, 63, 109}, {K::NumpadSubtract, 82, 113},
    {K::Escape, 9, 114},       {K::PrintScreen, 107, 117}, {K::ScrollLock, 78, 118},
    {K::Pause, 127, 119},
};
// clang-format on

TEST(QtPhysicalKeys, X11KeyCodesMapToTheirNumbers) {
    for (const KeyCase& c : kCases) {
        SCOPED_TRACE(c.x11);
        EXPECT_EQ(key_code_from_x11(c.x11), c.key);
        EXPECT_EQ(event::key_number(c.key), c.number);
    }
}

TEST(QtPhysicalKeys, FunctionKeysComeAfterTheOtherKeys) {
    EXPECT_EQ(key_code_from_x11(67), K::F1);
    EXPECT_EQ(key_code_from_x11(96), K::F12);
    EXPECT_EQ(key_code_from_x11(191), K::F13);
    EXPECT_GT(event::key_number(K::F1), event::key_number(K::Escape));
}

TEST(QtPhysicalKeys, CodesWithoutAKeyHaveNoKey) {
    for (std::uint32_t code : {0u, 1u, 7u, 8u, 255u + 8u, 100000u}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(key_code_from_x11(code), std::nullopt);
    }
}

}  // namespace
}  // namespace zavo_ui::qt
