# A program on a private X server, read and driven through AT-SPI as a screen reader does.
# Run inside dbus-run-session: it starts the accessibility bus, Xvfb and the program, and
# stops them again when the `with` block ends.
import os
import subprocess
import tempfile
import time


class Heard:
    def __init__(self, type, source, role, name, detail1, detail2, data):
        self.type, self.source, self.role, self.name = type, source, role, name
        self.detail1, self.detail2, self.data = detail1, detail2, data

    def __repr__(self):
        return f"{self.type}({self.role} {self.name!r}, {self.detail1}, {self.detail2}, {self.data!r})"


class AtSpiSession:
    def __init__(self, program, app_name, args=(), env=None):
        self.program = [program, *args]
        self.app_name = app_name
        self.extra_env = env or {}
        self.children = []
        self.events = []
        self.heard = []
        self.log = None
        self.xlog = None

    def __enter__(self):
        try:
            return self._open()
        except BaseException as e:
            self.__exit__(type(e), e, None)
            raise

    def _open(self):
        tmp = tempfile.mkdtemp()
        runtime = os.path.join(tmp, "runtime")
        os.mkdir(runtime, 0o700)
        env = {k: v for k, v in os.environ.items() if k not in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "DISPLAY")}
        env.update(XDG_RUNTIME_DIR=runtime, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        # The accessibility bus keeps its socket in the private runtime folder, so that checkers
        # running side by side each keep their own.
        self._start(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"], env=env)
        r, w = os.pipe()
        self.xlog = os.path.join(tmp, "xvfb.log")
        with open(self.xlog, "w") as xlog:
            self._start(["Xvfb", "-displayfd", str(w), "-nolisten", "tcp", "-screen", "0", "1280x800x24"],
                        pass_fds=[w], stderr=xlog)
        os.close(w)
        display = b""
        while not display.endswith(b"\n"):  # the server writes the number, then a newline
            chunk = os.read(r, 32)
            if not chunk:
                break
            display += chunk
        os.close(r)
        display = display.decode().strip()
        env.update(DISPLAY=":" + display, **self.extra_env)
        self.env = env
        self.log = os.path.join(tmp, "program.log")
        with open(self.log, "w") as log:
            self._start(self.program, env=env, stderr=log)

        import pyatspi
        from gi.repository import GLib

        self.pyatspi = pyatspi
        self.main_context = GLib.MainContext.default()
        self.app = self.wait_for(f"{self.app_name} on the accessibility bus", self._find_app)
        self.frame = self.wait_for("its window", lambda: self.app.getChildAtIndex(0))
        return self

    def __exit__(self, kind, value, tb):
        if kind is not None:
            for what, path in (("program", self.log), ("X server", self.xlog)):
                if path and os.path.exists(path):
                    with open(path) as log:
                        print(f"--- {what} log (last lines)\n" + "".join(log.readlines()[-40:]))
        for p in reversed(self.children):
            p.terminate()
        for p in self.children:
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
        return False

    def _start(self, args, **kw):
        kw.setdefault("stderr", subprocess.DEVNULL)
        p = subprocess.Popen(args, stdout=subprocess.DEVNULL, **kw)
        self.children.append(p)
        return p

    def _find_app(self):
        desktop = self.pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            a = desktop.getChildAtIndex(i)
            if a is not None and a.name == self.app_name:
                return a
        return None

    def pump(self):
        """Dispatches the AT-SPI events that have arrived."""
        while self.main_context.iteration(False):
            pass

    def listen(self, *names):
        """Records events of these types (such as "object:property-change:accessible-name") as
        (type, role name, name) in self.events."""

        def record(event):
            try:
                self.events.append((event.type, event.source.getRoleName(), event.source.name))
            except Exception:
                self.events.append((event.type, None, None))

        self.pyatspi.Registry.registerEventListener(record, *names)

    def record(self, *names):
        """Records events of these types whole, as Heard values in self.heard: the source object
        and the event's details as the bridge sent them."""

        def keep(event):
            try:
                role, name = event.source.getRoleName(), event.source.name
            except Exception:
                role = name = None
            self.heard.append(Heard(event.type, event.source, role, name, event.detail1, event.detail2,
                                    event.any_data))

        self.pyatspi.Registry.registerEventListener(keep, *names)

    def wait_for(self, what, probe, seconds=15.0):
        end = time.time() + seconds
        last_error = None
        while time.time() < end:
            self.pump()
            try:
                value = probe()
                if value:
                    return value
            except Exception as e:  # the tree changes under the probe
                last_error = e
            time.sleep(0.05)
        raise SystemExit(f"timed out waiting for {what}" + (f" ({last_error})" if last_error else ""))

    def nodes(self, root=None):
        """Every node below root (the window by default), depth first."""
        out = []

        def walk(n):
            out.append(n)
            for i in range(n.childCount):
                c = n.getChildAtIndex(i)
                if c is not None:
                    walk(c)

        walk(root if root is not None else self.frame)
        return out

    def find(self, role, name, root=None):
        """The first node with this role name and a name equal to `name` (or for which `name`,
        when callable, answers true), or None."""
        for n in self.nodes(root):
            if n.getRoleName() == role and (name(n.name) if callable(name) else n.name == name):
                return n
        return None

    def wait_node(self, role, name, root=None, seconds=15.0):
        return self.wait_for(f"{role} {name!r}", lambda: self.find(role, name, root), seconds)

    def do(self, node, action):
        """Runs the named action ("Press", "Toggle", "SetFocus", ...) of a node."""
        iface = node.queryAction()
        names = [iface.getName(i) for i in range(iface.nActions)]
        assert action in names, (node.name, names)
        iface.doAction(names.index(action))

    def set_text(self, node, text):
        node.queryEditableText().setTextContents(text)

    def text(self, node):
        return node.queryText().getText(0, -1)
