# Pointer input with a live session, as a person clicks: through X with xdotool, read back
# through AT-SPI and window captures. Back on the list and the form, the controls the person
# sees take their clicks and the remote sees no button and no motion; only the remote picture,
# as the session screen shows it, hands clicks to the remote.
# Arguments: the program, then "vnc" with the first server's display, the file its root window's
# pointer events are recorded in (xev) and the second server's port; or "device".
# Run inside dbus-run-session.
import os
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from atspi_session import AtSpiSession  # noqa: E402


class Window:
    def __init__(self, s):
        self.s = s
        self.env = {**os.environ, "DISPLAY": s.env["DISPLAY"]}
        self.id = self.xdo("search", "--sync", "--onlyvisible", "--name", "^Remote$").split()[0]
        self.shots = tempfile.mkdtemp()

    def xdo(self, *args, display=None):
        env = self.env if display is None else {**os.environ, "DISPLAY": display}
        return subprocess.run(["timeout", "10", "xdotool", *map(str, args)], env=env, check=True,
                              capture_output=True, text=True).stdout

    def extents(self, node):
        import pyatspi
        b = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        return b.x, b.y, b.width, b.height

    def click_at(self, x, y):
        self.xdo("mousemove", int(x), int(y))
        time.sleep(0.1)
        self.xdo("click", "1")
        time.sleep(0.2)

    def box(self, find):
        """The box (x0, y0, x1, y1) of the node `find` returns, found again while the tree
        changes under it."""
        def probe():
            node = find()
            try:
                x, y, w, h = self.extents(node)
            except NotImplementedError:
                raise RuntimeError(f"{node.getRoleName()} {node.name!r} has no box: {node.get_interfaces()}")
            return x, y, x + w, y + h

        return self.s.wait_for("a node's box", probe)

    def settled_box(self, find):
        """The box of `find` once scrolling has stopped moving it."""
        shown = None
        for _ in range(20):
            time.sleep(0.2)
            now = self.box(find)
            if now == shown:
                break
            shown = now
        return shown

    def click(self, find):
        x0, y0, x1, y1 = self.box(find)
        self.click_at((x0 + x1) // 2, (y0 + y1) // 2)

    def capture(self):
        """The window as (width, height, pixel(x, y) -> (r, g, b))."""
        path = os.path.join(self.shots, "shot.xwd")
        subprocess.run(["xwd", "-silent", "-id", self.id, "-out", path], env=self.env, check=True)
        data = open(path, "rb").read()
        u32 = lambda at: struct.unpack(">I", data[at:at + 4])[0]  # noqa: E731
        header, width, height, order, stride, ncolors = u32(0), u32(16), u32(20), u32(28), u32(48), u32(76)
        masks = [u32(56), u32(60), u32(64)]
        start = header + ncolors * 12
        fmt = "<I" if order == 0 else ">I"

        def pixel(x, y):
            v = struct.unpack(fmt, data[start + y * stride + x * 4:start + y * stride + x * 4 + 4])[0]
            return tuple((v & m) // (m & -m) for m in masks)

        return width, height, pixel


def near(p, colour, tolerance):
    return all(abs(a - b) <= tolerance for a, b in zip(p, colour))


def box_of(shot, colour, tolerance=24, step=4, top=0):
    """The box (x0, y0, x1, y1) of the pixels near `colour` from `top` down, sampled every
    `step` pixels."""
    width, height, pixel = shot
    xs, ys = [], []
    for y in range(top, height, step):
        for x in range(0, width, step):
            if near(pixel(x, y), colour, tolerance):
                xs.append(x)
                ys.append(y)
    return (min(xs), min(ys), max(xs) + 1, max(ys) + 1) if xs else None


class Remote:
    """The window's connection list and screens, as AT-SPI shows them."""

    def __init__(self, s, w):
        self.s, self.w = s, w

    def row(self, name):
        saved = self.s.wait_node("list", "Saved connections")
        return self.s.wait_node("list item", lambda n: n.startswith(name + ", "), root=saved)

    def control(self, row_name, name):
        """A way to find a row's button by its name, again whenever the tree changed."""
        return lambda: self.s.wait_node("push button", name, root=self.row(row_name))

    def button(self, name, root=None):
        return lambda: self.s.wait_node("push button", name, root=root() if root else None)

    def named(self, name):
        return self.s.wait_for(repr(name), lambda: next((n for n in self.s.nodes() if n.name == name), None))

    def gone(self, name):
        return next((n for n in self.s.nodes() if n.name == name), None) is None

    def on_list(self):
        self.s.wait_node("heading", "Remote Machines")

    def dialog(self, title):
        return lambda: self.s.wait_node("dialog", title)

    def show_list(self):
        # The rail may still be sliding in after the window grew: click where it came to rest.
        x0, y0, x1, y1 = self.w.settled_box(self.button("Connections"))
        self.w.click_at((x0 + x1) // 2, (y0 + y1) // 2)
        self.on_list()

    def connect(self, row_name):
        self.w.click(self.control(row_name, "Connect"))
        self.w.click(self.button("Connect", self.dialog(f"Connect to {row_name}?")))
        self.named("Connected")

    def list_and_form_take_their_clicks(self):
        """Clicks on the search input, a star, Edit, the form's Cancel and a Connect do what
        they do without a session."""
        import pyatspi
        s, w = self.s, self.w
        self.show_list()
        search = lambda: s.wait_node("text", "Search saved connections")  # noqa: E731
        w.click(search)
        s.wait_for("the search input to take the focus", lambda: search().getState().contains(pyatspi.STATE_FOCUSED))
        w.click(self.control("Shell 03", "Add to favourites"))
        s.wait_for("the star to be set", lambda: s.find("push button", "Remove from favourites",
                                                           root=self.row("Shell 03")))
        w.click(self.control("Shell 02", "Edit connection"))
        s.wait_node("heading", "Edit connection")
        w.click(self.button("Cancel"))
        self.on_list()
        w.click(self.control("Shell 04", "Connect"))
        w.click(self.button("Cancel", self.dialog("Connect to Shell 04?")))
        self.named("Action cancelled. No connection or profile was changed.")


def banner(w, s):
    """The notice banner's box: 54 high, at most 520 wide, 16 from the window's bottom right."""
    x, y, width, height = w.extents(s.frame)
    wn = min(width - 32, 520)
    return x + width - 16 - wn, y + height - 70, x + width - 16, y + height - 16


def overlaps(a, b):
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


def no_dialog(s):
    return s.find("dialog", lambda n: True) is None


def notice_takes_its_clicks(r):
    """A click on the banner, over a row's button, changes nothing; the list scrolls until its
    last row's Connect shows above the banner, and a click there asks to connect."""
    s, w = r.s, r.w
    b = banner(w, s)

    def rows():
        saved = s.wait_node("list", "Saved connections")
        return [saved.getChildAtIndex(i) for i in range(saved.childCount)]

    def button_under_banner():
        for row in rows():
            for i in range(row.childCount):
                button = row.getChildAtIndex(i)
                x, y, width, height = w.extents(button)
                if button.getRoleName() == "push button" and overlaps((x, y, x + width, y + height), b):
                    return x, y, x + width, y + height
        return None

    under = s.wait_for("a row's button under the banner", button_under_banner)
    w.click_at((max(under[0], b[0]) + min(under[2], b[2])) // 2, (max(under[1], b[1]) + min(under[3], b[3])) // 2)
    time.sleep(0.5)
    s.pump()
    assert no_dialog(s), "a click on the banner opened a dialog"
    assert s.find("heading", "Remote Machines"), "a click on the banner left the list"
    print("banner ok")

    last = s.wait_for("the last row", lambda: rows()[-1].name.split(",")[0])
    x, y, width, height = w.extents(s.frame)
    w.xdo("mousemove", x + 200, y + height // 2)
    w.xdo("click", "--repeat", "30", "--delay", "20", "5")
    connect = r.control(last, "Connect")
    shown = w.settled_box(connect)
    assert shown[3] <= y + height and not overlaps(shown, b), f"the last row's Connect {shown} lies under {b}"
    w.click(connect)
    w.click(r.button("Cancel", r.dialog(f"Connect to {last}?")))
    w.xdo("click", "--repeat", "30", "--delay", "20", "4")
    print("last row ok")


def server_pointer(w, display):
    fields = dict(kv.split(":") for kv in w.xdo("getmouselocation", display=display).split() if ":" in kv)
    return int(fields["x"]), int(fields["y"])


def vnc(s, display, events, second_port):
    w = Window(s)
    r = Remote(s, w)
    recorded = lambda: open(events).read()  # noqa: E731
    x, y, width, height = w.extents(s.frame)

    r.connect("Lab desktop")
    picture = s.wait_for("the green desktop", lambda: box_of(w.capture(), (0, 255, 0)), seconds=20)
    before = recorded()

    def desktop_saw_nothing():
        seen = recorded()[len(before):]
        assert "ButtonPress" not in seen and "MotionNotify" not in seen, "the desktop saw:\n" + seen

    r.list_and_form_take_their_clicks()
    time.sleep(0.5)
    desktop_saw_nothing()
    print("list ok")
    notice_takes_its_clicks(r)
    time.sleep(0.3)
    desktop_saw_nothing()

    # Connect on its row returns to the session; a click a quarter across and three quarters
    # down the picture lands there on the server, one on the header nowhere.
    w.click(r.control("Lab desktop", "Connect"))
    r.named("Connected")
    assert no_dialog(s)
    px, py = picture[0] + x, picture[1] + y
    pw, ph = picture[2] - picture[0], picture[3] - picture[1]
    w.click_at(px + pw // 4, py + 3 * ph // 4)

    def at_the_click():
        at = server_pointer(w, display)
        return at if abs(at[0] - 160) <= 3 and abs(at[1] - 360) <= 3 else None

    where = s.wait_for("the server's pointer at 160, 360", at_the_click)
    s.wait_for("the press on the server", lambda: recorded().count("ButtonPress") == 1)
    print("picture ok", where)
    w.click_at(x + 180, y + 24)
    time.sleep(0.5)
    assert recorded().count("ButtonPress") == 1, "a click on the header reached the desktop"
    print("header ok")

    # In a narrow window the open navigation's scrim lies over the picture: a click there only
    # closes the navigation.
    w.xdo("windowsize", w.id, 600, height)
    s.wait_for("the window 600 wide", lambda: w.extents(s.frame)[2] == 600)
    w.click(r.button("Open navigation"))
    r.button("Close navigation")()
    w.click_at(x + 64 + (600 - 64) // 2, y + 48 + (height - 48) // 2)
    r.button("Open navigation")()
    time.sleep(0.5)
    assert recorded().count("ButtonPress") == 1, "a click on the scrim reached the desktop"
    w.xdo("windowsize", w.id, width, height)
    s.wait_for("the window as wide as before", lambda: w.extents(s.frame)[2] == width)
    print("scrim ok")

    # The connection's port edited to the second server's: Connect asks, then connects there.
    r.show_list()
    w.click(r.control("Lab desktop", "Edit connection"))
    port = lambda: s.wait_node("text", "Port")  # noqa: E731
    w.click(port)
    w.xdo("key", "ctrl+a")
    w.xdo("type", "--delay", "30", str(second_port))
    s.wait_for("the port to be edited", lambda: s.text(port()) == str(second_port))
    w.click(r.button("Save connection"))
    r.on_list()
    w.click(r.control("Lab desktop", "Connect"))
    w.click(r.button("Connect", r.dialog("Connect to Lab desktop?")))
    r.named("Connected")
    s.wait_for("the blue desktop", lambda: box_of(w.capture(), (0, 0, 255)), seconds=20)
    print("reconnect ok")


def device(s):
    import pyatspi
    w = Window(s)
    r = Remote(s, w)
    x, y, width, height = w.extents(s.frame)
    w.xdo("mousemove", x + 32, y + height - 40)  # on the rail, below its buttons

    r.connect("Studio Node")
    # The colour bars across the top of the device's picture; yellow is the second of eight.
    s.wait_for("the device's picture", lambda: box_of(w.capture(), (235, 235, 16)), seconds=20)
    r.list_and_form_take_their_clicks()
    print("list ok")

    # Typed text goes to the field the person sees focused, not to the device.
    search = lambda: s.wait_node("text", "Search saved connections")  # noqa: E731
    w.click(search)
    w.xdo("type", "--delay", "30", "Studio")
    s.wait_for("typing to reach the search", lambda: s.text(search()) == "Studio")
    w.xdo("key", "Escape")
    s.wait_for("Escape to clear the search", lambda: s.text(search()) == "")
    w.click(r.control("Studio Node", "Edit connection"))
    name = lambda: s.wait_node("text", "Connection name")  # noqa: E731
    w.click(name)
    w.xdo("key", "End")
    w.xdo("type", "--delay", "30", " 2")
    s.wait_for("typing to reach the name", lambda: s.text(name()) == "Studio Node 2")
    w.click(r.button("Cancel"))
    r.on_list()
    print("typing ok")

    # In a 420 x 560 window the notice banner lies over the form's buttons: the form scrolls
    # them out from under it, and Save takes its click.
    w.xdo("windowsize", w.id, 420, 560)
    s.wait_for("the window at 420 x 560", lambda: w.extents(s.frame)[2:] == (420, 560))
    w.xdo("key", "ctrl+n")
    s.wait_node("heading", "New connection")
    w.xdo("mousemove", x + 250, y + 300)
    w.xdo("click", "--repeat", "10", "--delay", "30", "5")
    save = r.button("Save connection")
    shown = w.settled_box(save)
    assert not overlaps(shown, banner(w, s)), f"Save {shown} lies under the banner"
    w.click(save)
    s.wait_for("Save to check the form",
               lambda: next((n for n in s.nodes() if n.name.startswith("Name is required")), None))
    w.click(r.button("Cancel"))
    r.on_list()
    w.xdo("windowsize", w.id, width, height)
    s.wait_for("the window as large as before", lambda: w.extents(s.frame)[2:] == (width, height))
    print("form ok")

    # Connect on its row returns to the session, and the device saw no pointer: no crosshair.
    w.click(r.control("Studio Node", "Connect"))
    r.named("Connected")
    assert no_dialog(s)
    time.sleep(1.0)  # a few frames through the encoder and decoder
    # Below the session's header, whose Disconnect button is red too.
    assert box_of(w.capture(), (255, 80, 80), tolerance=30, step=2, top=48) is None, "the device shows a pointer"
    print("session ok")

    w.click(r.button("Disconnect"))
    r.on_list()
    search = lambda: s.wait_node("text", "Search saved connections")  # noqa: E731
    w.click(search)
    w.xdo("type", "--delay", "30", "Studio")
    s.wait_for("typing to reach the search", lambda: s.text(search()) == "Studio")
    assert search().getState().contains(pyatspi.STATE_FOCUSED)
    print("disconnect ok")


if __name__ == "__main__":
    with AtSpiSession(sys.argv[1], "Remote") as session:
        if sys.argv[2] == "vnc":
            vnc(session, sys.argv[3], sys.argv[4], int(sys.argv[5]))
        else:
            device(session)
