#include "zavo_ui/events.hpp"

#include <gtest/gtest.h>

using namespace zavo_ui::event;

TEST(KeyCode, NumbersFollowTheUiEventsOrder) {
    struct {
        KeyCode key;
        int number;
    } cases[] = {
        {KeyCode::Backquote, 0}, {KeyCode::Digit0, 5},     {KeyCode::Digit9, 14},          {KeyCode::KeyA, 19},
        {KeyCode::KeyZ, 44},     {KeyCode::AltLeft, 50},   {KeyCode::Backspace, 52},       {KeyCode::ControlLeft, 55},
        {KeyCode::Enter, 57},    {KeyCode::ShiftLeft, 60}, {KeyCode::Space, 62},           {KeyCode::Tab, 63},
        {KeyCode::Delete, 72},   {KeyCode::PageUp, 78},    {KeyCode::ArrowDown, 79},       {KeyCode::ArrowUp, 82},
        {KeyCode::Numpad0, 84},  {KeyCode::Numpad9, 93},   {KeyCode::NumpadSubtract, 113}, {KeyCode::Escape, 114},
        {KeyCode::Fn, 115},      {KeyCode::Pause, 119},
    };
    for (auto c : cases) EXPECT_EQ(key_number(c.key), c.number);
}

TEST(Modifiers, Bits) {
    Modifiers m{Modifiers::CONTROL | Modifiers::SHIFT};
    EXPECT_TRUE(m.control());
    EXPECT_TRUE(m.shift());
    EXPECT_FALSE(m.alt());
    EXPECT_FALSE(m.super_key());
    EXPECT_TRUE(Modifiers{Modifiers::SUPER}.super_key());
}
