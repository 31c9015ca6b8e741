# Drives the widget gallery through AT-SPI: run inside dbus-run-session with the gallery's path.
# Starts the accessibility bus, an X server and the gallery, then reads the tree and acts on it.
import os
import shutil
import subprocess
import sys
import tempfile
import time

gallery = sys.argv[1]
children = []


def start(args, **kw):
    p = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)
    children.append(p)
    return p


def wait_for(what, probe, seconds=10.0):
    end = time.time() + seconds
    while time.time() < end:
        try:
            value = probe()
            if value:
                return value
        except Exception:
            pass
        time.sleep(0.05)
    raise SystemExit(f"timed out waiting for {what}")


def main():
    tmp = tempfile.mkdtemp()
    runtime = os.path.join(tmp, "runtime")
    os.mkdir(runtime, 0o700)
    start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
    r, w = os.pipe()
    start(["Xvfb", "-displayfd", str(w), "-nolisten", "tcp", "-screen", "0", "1280x800x24"], pass_fds=[w])
    os.close(w)
    display = os.read(r, 32).decode().strip()
    env = {k: v for k, v in os.environ.items() if k not in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY")}
    env.update(DISPLAY=":" + display, XDG_RUNTIME_DIR=runtime, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
    start([gallery], env=env)

    import pyatspi

    def find_app():
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            a = desktop.getChildAtIndex(i)
            if a is not None and a.name == "Gallery":
                return a
        return None

    app = wait_for("the gallery on the accessibility bus", find_app)
    frame = wait_for("its window", lambda: app.getChildAtIndex(0))
    assert frame.name == "Widget gallery", frame.name
    nodes = {}

    def collect(n):
        nodes[(n.getRoleName(), n.name)] = n
        for i in range(n.childCount):
            collect(n.getChildAtIndex(i))

    wait_for("the buttons", lambda: (collect(frame), ("push button", "Cancel") in nodes)[1])
    for label in ("Cancel", "Save connection", "Delete", "Disconnect"):
        button = nodes[("push button", label)]
        assert button.getState().contains(pyatspi.STATE_FOCUSABLE), label
        extents = button.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        assert extents.width == 150 and extents.height == 34, (label, extents)
    field = nodes[("text", "Type here")]
    assert field.getState().contains(pyatspi.STATE_EDITABLE)
    status = nodes[("notification", "Nothing pressed yet")]
    print("tree ok")

    action = nodes[("push button", "Save connection")].queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    assert "Press" in names, names
    action.doAction(names.index("Press"))
    wait_for("the press to reach the gallery", lambda: status.name == "Pressed Save connection")
    print("press ok")

    field.queryEditableText().setTextContents("hello Zürich")
    wait_for("the text to reach the gallery", lambda: status.name == "Typed hello Zürich")
    text = wait_for("the field to show it", lambda: field.queryText().getText(0, -1) == "hello Zürich")
    print("edit ok", text)

    # Real input through the X server: a click focuses the field, Control+A selects its text and
    # typing replaces it (key codes, text and modifiers all come from X).
    if shutil.which("xdotool"):
        box = field.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        xdo = ["xdotool"]
        x_env = dict(env)
        subprocess.run(xdo + ["mousemove", str(box.x + box.width // 2), str(box.y + box.height // 2), "click", "1"],
                       env=x_env, check=True)
        wait_for("the click to focus the field", lambda: field.getState().contains(pyatspi.STATE_FOCUSED))
        subprocess.run(xdo + ["key", "ctrl+a"], env=x_env, check=True)
        subprocess.run(xdo + ["type", "--delay", "20", "typed on X"], env=x_env, check=True)
        wait_for("the typed text", lambda: field.queryText().getText(0, -1) == "typed on X")
        print("keyboard ok")


try:
    main()
finally:
    for p in reversed(children):
        p.terminate()
    for p in children:
        try:
            p.wait(timeout=5)
        except subprocess.TimeoutExpired:
            p.kill()
