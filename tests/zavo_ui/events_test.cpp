#include "zavo_ui/events.hpp"

#include <linux/input-event-codes.h>

#include <gtest/gtest.h>

using namespace zavo_ui::event;

TEST(KeyCode, NumbersFollowTheUiEventsOrder) {
    struct {
        KeyCode key;
        int number;
    } cases[] = {
        {KeyCode::Backquote, 0},  {KeyCode::Digit0, 5},     {KeyCode::Digit9, 14},   {KeyCode::KeyA, 19},
        {KeyCode::KeyZ, 44},      {KeyCode::AltLeft, 50},   {KeyCode::Backspace, 52}, {KeyCode::ControlLeft, 55},
        {KeyCode::Enter, 57},     {KeyCode::ShiftLeft, 60}, {KeyCode::Space, 62},    {KeyCode::Tab, 63},
        {KeyCode::Delete, 72},    {KeyCode::PageUp, 78},    {KeyCode::ArrowDown, 79}, {KeyCode::ArrowUp, 82},
        {KeyCode::Numpad0, 84},   {KeyCode::Numpad9, 93},   {KeyCode::NumpadSubtract, 113},
        {KeyCode::Escape, 114},   {KeyCode::Fn, 115},       {KeyCode::Pause, 119},
    };
    for (auto c : cases) EXPECT_EQ(key_number(c.key), c.number);
}

TEST(KeyCode, FromEvdev) {
    struct {
        unsigned evdev;
        KeyCode key;
    } cases[] = {
        {KEY_ESC, KeyCode::Escape},        {KEY_0, KeyCode::Digit0},          {KEY_1, KeyCode::Digit1},
        {KEY_A, KeyCode::KeyA},            {KEY_Q, KeyCode::KeyQ},            {KEY_Z, KeyCode::KeyZ},
        {KEY_LEFTCTRL, KeyCode::ControlLeft}, {KEY_RIGHTCTRL, KeyCode::ControlRight},
        {KEY_LEFTALT, KeyCode::AltLeft},   {KEY_RIGHTALT, KeyCode::AltRight}, {KEY_LEFTMETA, KeyCode::MetaLeft},
        {KEY_ENTER, KeyCode::Enter},       {KEY_KPENTER, KeyCode::NumpadEnter}, {KEY_SPACE, KeyCode::Space},
        {KEY_LEFT, KeyCode::ArrowLeft},    {KEY_UP, KeyCode::ArrowUp},        {KEY_DELETE, KeyCode::Delete},
        {KEY_GRAVE, KeyCode::Backquote},   {KEY_102ND, KeyCode::IntlBackslash}, {KEY_KP7, KeyCode::Numpad7},
        {KEY_F1, KeyCode::F1},             {KEY_F12, KeyCode::F12},
    };
    for (auto c : cases) EXPECT_EQ(key_code_from_evdev(c.evdev), c.key) << c.evdev;
    EXPECT_EQ(key_code_from_evdev(0), std::nullopt);
    EXPECT_EQ(key_code_from_evdev(84), std::nullopt);  // unassigned
    EXPECT_EQ(key_code_from_evdev(0xFFFF), std::nullopt);
}

TEST(KeyCode, EveryLetterAndDigitMapsOnce) {
    // Each letter and digit key appears for exactly one evdev code.
    int seen[256] = {};
    for (unsigned code = 0; code < 256; ++code)
        if (auto k = key_code_from_evdev(code)) ++seen[key_number(*k)];
    for (int n = key_number(KeyCode::Digit0); n <= key_number(KeyCode::KeyZ); ++n) {
        if (n >= key_number(KeyCode::Equal) && n < key_number(KeyCode::KeyA)) continue;
        EXPECT_EQ(seen[n], 1) << n;
    }
}

TEST(Modifiers, Bits) {
    Modifiers m{Modifiers::CONTROL | Modifiers::SHIFT};
    EXPECT_TRUE(m.control());
    EXPECT_TRUE(m.shift());
    EXPECT_FALSE(m.alt());
    EXPECT_FALSE(m.super_key());
    EXPECT_TRUE(Modifiers{Modifiers::SUPER}.super_key());
}
