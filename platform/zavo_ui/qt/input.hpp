#pragma once
// Qt input events as framework events: positions in physical pixels, keys with their logical
// key, physical key and text.
#include <QtCore/qnamespace.h>

#include <optional>

#include "zavo_ui/events.hpp"

class QKeyEvent;
class QWheelEvent;
class QInputMethodEvent;

namespace zavo_ui::qt {

event::Modifiers modifiers_from_qt(Qt::KeyboardModifiers modifiers);
// A key event's modifiers with the NumLock state, which X11 reports as Mod2.
event::Modifiers key_modifiers_from_qt(const QKeyEvent& key);

// None for the release half of an auto-repeat (a held key arrives as repeated presses).
std::optional<event::Key> key_from_qt(const QKeyEvent& key);

event::PointerButton button_from_qt(Qt::MouseButton button);

// `scale`: device pixels per logical pixel.
event::Wheel wheel_from_qt(const QWheelEvent& wheel, double scale);

// The committed text of an input method, or none when nothing was committed.
std::optional<event::TextCommit> commit_from_qt(const QInputMethodEvent& input);

}  // namespace zavo_ui::qt
