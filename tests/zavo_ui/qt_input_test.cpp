#include "zavo_ui/qt/input.hpp"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include "qt_test_app.hpp"

namespace zavo_ui::qt {
namespace {

using event::CharacterKey;
using event::KeyCode;
using event::NamedKey;

QKeyEvent press(int key, Qt::KeyboardModifiers mods, quint32 scan, const QString& text, bool repeat = false,
                QEvent::Type type = QEvent::KeyPress) {
    return QKeyEvent(type, key, mods, scan, 0, 0, text, repeat);
}

TEST(QtInput, KeysCarryLogicalKeyPhysicalKeyAndText) {
    testing::offscreen_app();
    struct Case {
        const char* what;
        QKeyEvent qt;
        event::LogicalKey logical;
        std::optional<KeyCode> physical;
        std::optional<std::string> text;
    } cases[] = {
        {"a", press(Qt::Key_A, {}, 38, "a"), CharacterKey{"a"}, KeyCode::KeyA, "a"},
        {"Shift+a", press(Qt::Key_A, Qt::ShiftModifier, 38, "A"), CharacterKey{"A"}, KeyCode::KeyA, "A"},
        {"Control+a types nothing", press(Qt::Key_A, Qt::ControlModifier, 38, "\x01"), CharacterKey{"a"}, KeyCode::KeyA,
         std::nullopt},
        {"Control+Shift+n", press(Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier, 57, "\x0e"), CharacterKey{"N"},
         KeyCode::KeyN, std::nullopt},
        {"slash", press(Qt::Key_Slash, {}, 61, "/"), CharacterKey{"/"}, KeyCode::Slash, "/"},
        {"non-ASCII", press(Qt::Key_Eacute, {}, 0, QString::fromUtf8("é")), CharacterKey{"é"}, std::nullopt, "é"},
        {"Enter", press(Qt::Key_Return, {}, 36, "\r"), NamedKey::Enter, KeyCode::Enter, "\r"},
        {"keypad Enter", press(Qt::Key_Enter, Qt::KeypadModifier, 104, "\r"), NamedKey::Enter, KeyCode::NumpadEnter,
         "\r"},
        {"Escape types nothing", press(Qt::Key_Escape, {}, 9, "\x1b"), NamedKey::Escape, KeyCode::Escape, std::nullopt},
        {"Backspace", press(Qt::Key_Backspace, {}, 22, "\b"), NamedKey::Backspace, KeyCode::Backspace, std::nullopt},
        {"Space", press(Qt::Key_Space, {}, 65, " "), NamedKey::Space, KeyCode::Space, " "},
        {"Shift+Tab", press(Qt::Key_Backtab, Qt::ShiftModifier, 23, ""), NamedKey::Tab, KeyCode::Tab, "\t"},
        {"ArrowLeft", press(Qt::Key_Left, {}, 113, ""), NamedKey::ArrowLeft, KeyCode::ArrowLeft, std::nullopt},
        {"F5", press(Qt::Key_F5, {}, 71, ""), NamedKey::F5, KeyCode::F5, std::nullopt},
        {"Super", press(Qt::Key_Meta, Qt::MetaModifier, 133, ""), NamedKey::Super, KeyCode::MetaLeft, std::nullopt},
        {"AltGr", press(Qt::Key_AltGr, {}, 108, ""), NamedKey::AltGraph, KeyCode::AltRight, std::nullopt},
        {"right Alt", press(Qt::Key_Alt, Qt::AltModifier, 108, ""), NamedKey::Alt, KeyCode::AltRight, std::nullopt},
        {"a key Qt does not know", press(0, {}, 0, ""), event::OtherKey{}, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto key = key_from_qt(c.qt);
        ASSERT_TRUE(key);
        EXPECT_EQ(key->logical, c.logical);
        EXPECT_EQ(key->physical, c.physical);
        EXPECT_EQ(key->text, c.text);
        EXPECT_TRUE(key->pressed());
    }
}

TEST(QtInput, AutoRepeatArrivesAsPressesOnly) {
    testing::offscreen_app();
    auto repeat_press = press(Qt::Key_A, {}, 38, "a", true);
    auto repeat_release = press(Qt::Key_A, {}, 38, "a", true, QEvent::KeyRelease);
    auto release = press(Qt::Key_A, {}, 38, "a", false, QEvent::KeyRelease);
    ASSERT_TRUE(key_from_qt(repeat_press));
    EXPECT_TRUE(key_from_qt(repeat_press)->pressed());
    EXPECT_FALSE(key_from_qt(repeat_release));
    ASSERT_TRUE(key_from_qt(release));
    EXPECT_FALSE(key_from_qt(release)->pressed());
}

TEST(QtInput, ModifiersAndButtons) {
    EXPECT_EQ(modifiers_from_qt(Qt::ControlModifier | Qt::MetaModifier).bits,
              event::Modifiers::CONTROL | event::Modifiers::SUPER);
    EXPECT_EQ(modifiers_from_qt(Qt::ShiftModifier | Qt::AltModifier).bits,
              event::Modifiers::SHIFT | event::Modifiers::ALT);
    // X11 reports NumLock as Mod2 in a key's state.
    testing::offscreen_app();
    const QKeyEvent locked(QEvent::KeyPress, Qt::Key_1, Qt::KeypadModifier | Qt::ShiftModifier, 87, 0, 0x10 | 0x1, "1");
    EXPECT_EQ(key_modifiers_from_qt(locked).bits, event::Modifiers::SHIFT | event::Modifiers::NUM_LOCK);
    const QKeyEvent unlocked(QEvent::KeyPress, Qt::Key_End, Qt::KeypadModifier, 87, 0, 0, "");
    EXPECT_EQ(key_modifiers_from_qt(unlocked).bits, 0);
    EXPECT_EQ(button_from_qt(Qt::LeftButton), event::PointerButton::Primary);
    EXPECT_EQ(button_from_qt(Qt::RightButton), event::PointerButton::Secondary);
    EXPECT_EQ(button_from_qt(Qt::MiddleButton), event::PointerButton::Middle);
    EXPECT_EQ(button_from_qt(Qt::BackButton), event::PointerButton::Other);
}

TEST(QtInput, WheelInLinesOrPhysicalPixels) {
    testing::offscreen_app();
    QWheelEvent notch({10, 10}, {10, 10}, QPoint(), QPoint(0, 240), Qt::NoButton, {}, Qt::NoScrollPhase, false);
    EXPECT_EQ(wheel_from_qt(notch, 2.0), (event::Wheel{event::LineDelta{0.0f, 2.0f}}));
    QWheelEvent touchpad({10, 10}, {10, 10}, QPoint(3, -7), QPoint(0, -60), Qt::NoButton, {}, Qt::ScrollUpdate, false);
    EXPECT_EQ(wheel_from_qt(touchpad, 2.0), (event::Wheel{event::PixelDelta{6.0, -14.0}}));
}

TEST(QtInput, InputMethodCommits) {
    testing::offscreen_app();
    QInputMethodEvent composing(QStringLiteral("ka"), {});
    EXPECT_FALSE(commit_from_qt(composing));
    QInputMethodEvent committed;
    committed.setCommitString(QString::fromUtf8("か"));
    EXPECT_EQ(commit_from_qt(committed), (event::TextCommit{"か"}));
}

}  // namespace
}  // namespace zavo_ui::qt
