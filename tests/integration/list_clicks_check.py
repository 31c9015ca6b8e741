# Clicks on the sample list as a person makes them, through X with xdotool, read back through
# AT-SPI: in a window small enough that the list scrolls, the wheel brings a row behind the
# search input; a click on the input there focuses it, typing fills the search, and the row
# behind it is not selected.
# Argument: the program. Run inside dbus-run-session.
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from atspi_session import AtSpiSession  # noqa: E402


def main(s):
    import pyatspi

    env = {**os.environ, "DISPLAY": s.env["DISPLAY"]}

    def xdo(*args):
        return subprocess.run(["timeout", "10", "xdotool", *args], env=env, check=True, capture_output=True,
                              text=True).stdout

    def extents(node):
        b = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return b.x, b.y, b.width, b.height

    window = xdo("search", "--sync", "--onlyvisible", "--name", "^Remote$").split()[0]
    xdo("windowsize", window, "900", "480")
    s.wait_for("the window at 900 x 480", lambda: extents(s.frame)[2:] == (900, 480))
    win_x, win_y = extents(s.frame)[:2]
    saved = s.wait_node("list", "Saved connections")
    search = s.wait_node("text", "Search saved connections")

    def rows():
        return [saved.getChildAtIndex(i) for i in range(saved.childCount)]

    def selected():
        return [r.name for r in rows() if r.getState().contains(pyatspi.STATE_SELECTED)]

    # Select the last row from the keyboard (the list scrolls down to it), then wheel back to the top.
    xdo("windowfocus", window)
    last = rows()[-1].name
    for _ in range(len(rows())):
        xdo("key", "Down")
    s.wait_for("the last row selected", lambda: selected() == [last])
    xdo("mousemove", str(win_x + 450), str(win_y + 400))
    xdo("click", "--repeat", "12", "--delay", "30", "4")

    # Wheel down a notch at a time until a row other than the selected one lies at least 8 pixels
    # behind the search input. A row cut at the viewport's top reports only what shows: its
    # true top is its bottom less a whole row's height.
    sx, sy, sw, sh = extents(search)

    def row_behind_search():
        painted = [r for r in rows() if extents(r)[2:] != (900, 480)]  # the others have no bounds
        height = max(extents(r)[3] for r in painted)
        for r in painted:
            x, y, w, h = extents(r)
            top = y + h - height
            if r.name != last and top < sy + sh - 8 and top + height > sy + 8:
                return r.name, (max(top, sy) + min(top + height, sy + sh)) // 2
        return None

    target = None
    for _ in range(12):
        target = row_behind_search()
        if target:
            break
        before = [extents(r) for r in rows()]
        xdo("click", "5")
        s.wait_for("the list to scroll", lambda: [extents(r) for r in rows()] != before, seconds=5)
    assert target, "no row came behind the search input"
    print("behind", target[0])

    xdo("mousemove", str(sx + 8), str(target[1]))
    xdo("click", "1")
    s.wait_for("the search input to take the focus", lambda: search.getState().contains(pyatspi.STATE_FOCUSED))
    assert selected() == [last], selected()
    print("click ok")

    xdo("type", "--delay", "40", "Laptop")
    s.wait_for("the search to hold the typed text", lambda: s.text(search) == "Laptop")
    s.wait_for("the list to be searched", lambda: len(rows()) == 1)
    assert selected() == [last], selected()
    print("type ok")


if __name__ == "__main__":
    with AtSpiSession(sys.argv[1], "Remote", env={"ZAVO_REMOTE_SAMPLE": "1"}) as session:
        main(session)
