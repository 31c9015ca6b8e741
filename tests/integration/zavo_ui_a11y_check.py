# Drives the widget gallery through AT-SPI: run inside dbus-run-session with the gallery's path.
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from atspi_session import AtSpiSession  # noqa: E402


def main(s):
    import pyatspi

    assert s.frame.name == "Widget gallery", s.frame.name
    s.wait_node("push button", "Cancel")
    for label in ("Cancel", "Save connection", "Delete", "Disconnect"):
        button = s.find("push button", label)
        assert button.getState().contains(pyatspi.STATE_FOCUSABLE), label
        extents = button.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        assert extents.width == 150 and extents.height == 34, (label, extents)
    field = s.find("text", "Type here")
    assert field.getState().contains(pyatspi.STATE_EDITABLE)
    status = s.find("notification", "Nothing pressed yet")
    print("tree ok")

    s.do(s.find("push button", "Save connection"), "Press")
    s.wait_for("the press to reach the gallery", lambda: status.name == "Pressed Save connection")
    print("press ok")

    s.set_text(field, "hello Zürich")
    s.wait_for("the text to reach the gallery", lambda: status.name == "Typed hello Zürich")
    text = s.wait_for("the field to show it", lambda: s.text(field) == "hello Zürich")
    print("edit ok", text)

    # Real input through the X server: a click focuses the field, Control+A selects its text and
    # typing replaces it (key codes, text and modifiers all come from X).
    if shutil.which("xdotool"):
        box = field.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        xdo = ["xdotool"]
        subprocess.run(xdo + ["mousemove", str(box.x + box.width // 2), str(box.y + box.height // 2), "click", "1"],
                       env=s.env, check=True)
        s.wait_for("the click to focus the field", lambda: field.getState().contains(pyatspi.STATE_FOCUSED))
        subprocess.run(xdo + ["key", "ctrl+a"], env=s.env, check=True)
        subprocess.run(xdo + ["type", "--delay", "20", "typed on X"], env=s.env, check=True)
        s.wait_for("the typed text", lambda: s.text(field) == "typed on X")
        print("keyboard ok")


with AtSpiSession(sys.argv[1], "Gallery") as session:
    main(session)
