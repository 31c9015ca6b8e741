#include "zavo_ui/qt/input.hpp"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QWheelEvent>

#include "zavo_ui/qt/physical_keys.hpp"

namespace zavo_ui::qt {
namespace {

using event::NamedKey;

std::optional<NamedKey> named_key(int key) {
    switch (key) {
        case Qt::Key_Return:
        case Qt::Key_Enter: return NamedKey::Enter;
        case Qt::Key_Tab:
        case Qt::Key_Backtab: return NamedKey::Tab;
        case Qt::Key_Space: return NamedKey::Space;
        case Qt::Key_Backspace: return NamedKey::Backspace;
        case Qt::Key_Delete: return NamedKey::Delete;
        case Qt::Key_Escape: return NamedKey::Escape;
        case Qt::Key_Insert: return NamedKey::Insert;
        case Qt::Key_Left: return NamedKey::ArrowLeft;
        case Qt::Key_Right: return NamedKey::ArrowRight;
        case Qt::Key_Up: return NamedKey::ArrowUp;
        case Qt::Key_Down: return NamedKey::ArrowDown;
        case Qt::Key_Home: return NamedKey::Home;
        case Qt::Key_End: return NamedKey::End;
        case Qt::Key_PageUp: return NamedKey::PageUp;
        case Qt::Key_PageDown: return NamedKey::PageDown;
        case Qt::Key_Shift: return NamedKey::Shift;
        case Qt::Key_Control: return NamedKey::Control;
        case Qt::Key_Alt: return NamedKey::Alt;
        case Qt::Key_AltGr: return NamedKey::AltGraph;
        case Qt::Key_Meta:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R: return NamedKey::Super;
        case Qt::Key_CapsLock: return NamedKey::CapsLock;
        case Qt::Key_NumLock: return NamedKey::NumLock;
        case Qt::Key_ScrollLock: return NamedKey::ScrollLock;
        case Qt::Key_Menu: return NamedKey::ContextMenu;
        case Qt::Key_Print: return NamedKey::PrintScreen;
        case Qt::Key_Pause: return NamedKey::Pause;
        default: break;
    }
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12) {
        return static_cast<NamedKey>(static_cast<int>(NamedKey::F1) + (key - Qt::Key_F1));
    }
    return std::nullopt;
}

bool has_control_characters(const QString& text) {
    for (QChar c : text) {
        if (c.category() == QChar::Other_Control) return true;
    }
    return false;
}

// The character a character key stands for, without Control's effect: Control+A arrives with
// the text "\x01", so the key code says which letter it was.
std::optional<QString> character_of(const QKeyEvent& key) {
    const QString text = key.text();
    if (!text.isEmpty() && !has_control_characters(text)) return text;
    const int code = key.key();
    if (code <= 0 || code >= 0x01000000 || code == Qt::Key_unknown) return std::nullopt;
    const char32_t ucs4 = char32_t(code);
    QString from_code = QString::fromUcs4(&ucs4, 1);
    if (!(key.modifiers() & Qt::ShiftModifier)) from_code = from_code.toLower();
    return from_code;
}

}  // namespace

event::Modifiers modifiers_from_qt(Qt::KeyboardModifiers modifiers) {
    event::Modifiers out;
    if (modifiers & Qt::ShiftModifier) out.bits |= event::Modifiers::SHIFT;
    if (modifiers & Qt::ControlModifier) out.bits |= event::Modifiers::CONTROL;
    if (modifiers & Qt::AltModifier) out.bits |= event::Modifiers::ALT;
    if (modifiers & Qt::MetaModifier) out.bits |= event::Modifiers::SUPER;
    return out;
}

event::Modifiers key_modifiers_from_qt(const QKeyEvent& key) {
    constexpr quint32 kX11NumLock = 1u << 4;  // Mod2Mask
    event::Modifiers out = modifiers_from_qt(key.modifiers());
    if (key.nativeModifiers() & kX11NumLock) out.bits |= event::Modifiers::NUM_LOCK;
    return out;
}

std::optional<event::Key> key_from_qt(const QKeyEvent& key) {
    const bool press = key.type() == QEvent::KeyPress;
    if (!press && key.isAutoRepeat()) return std::nullopt;
    event::Key out;
    out.state = press ? event::ElementState::Pressed : event::ElementState::Released;
    out.physical = key_code_from_x11(key.nativeScanCode());
    if (const auto named = named_key(key.key())) {
        out.logical = *named;
        // Of the named keys only Space, Enter and Tab type something.
        if (*named == NamedKey::Space) out.text = std::string(" ");
        if (*named == NamedKey::Enter) out.text = std::string("\r");
        if (*named == NamedKey::Tab) out.text = std::string("\t");
        return out;
    }
    if (const auto character = character_of(key)) {
        out.logical = event::CharacterKey{character->toStdString()};
        const QString text = key.text();
        if (!text.isEmpty() && !has_control_characters(text)) out.text = text.toStdString();
        return out;
    }
    out.logical = event::OtherKey{};
    return out;
}

event::PointerButton button_from_qt(Qt::MouseButton button) {
    switch (button) {
        case Qt::LeftButton: return event::PointerButton::Primary;
        case Qt::RightButton: return event::PointerButton::Secondary;
        case Qt::MiddleButton: return event::PointerButton::Middle;
        default: return event::PointerButton::Other;
    }
}

event::Wheel wheel_from_qt(const QWheelEvent& wheel, double scale) {
    const QPoint pixels = wheel.pixelDelta();
    if (!pixels.isNull()) {
        return event::Wheel{event::PixelDelta{pixels.x() * scale, pixels.y() * scale}};
    }
    const QPoint angle = wheel.angleDelta();  // eighths of a degree, 120 per notch
    return event::Wheel{event::LineDelta{float(angle.x()) / 120.0f, float(angle.y()) / 120.0f}};
}

std::optional<event::TextCommit> commit_from_qt(const QInputMethodEvent& input) {
    if (input.commitString().isEmpty()) return std::nullopt;
    return event::TextCommit{input.commitString().toStdString()};
}

}  // namespace zavo_ui::qt
