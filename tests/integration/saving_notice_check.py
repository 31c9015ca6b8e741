# Remote with this device's state folder on a full disk, heard through AT-SPI: renames through
# the action door (gdbus, on the session bus the program shares with the checker) are applied,
# the window says once that this device cannot save its copy, and says so again only when
# saving works again.
# Arguments: the program, the file that fills the disk, and the ids of three saved SSH
# connections; a Zavo device connection "Studio" is saved too. Run inside dbus-run-session.
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from atspi_session import AtSpiSession  # noqa: E402

NAME_CHANGED = "object:property-change:accessible-name"
FAILING = "This device cannot save its copy of your connections (No space left on device)."
AGAIN = "Changes are being saved again."
CANCELLED = "Action cancelled. No connection or profile was changed."


def door(method, *args):
    return subprocess.run(
        ["gdbus", "call", "--session", "--dest", "dev.zavo.remote", "--object-path", "/dev/zavo/remote",
         "--method", "dev.zavo.remote.Actions." + method, *args],
        capture_output=True, text=True)


def rename(connection, name):
    done = door("Invoke", f"'remote.connection:{connection}'", "'rename'", "{'value': '%s'}" % name)
    assert done.returncode == 0 and "'applied'" in done.stdout, (done.stdout, done.stderr)


def fill(path):
    with open(path, "ab", buffering=0) as f:
        size = 4096
        while size > 0:
            try:
                f.write(b"f" * size)
            except OSError:
                size //= 2


def told(s, prefix):
    return sum(1 for kind, role, name in s.events
               if kind == NAME_CHANGED and role == "notification" and (name or "").startswith(prefix))


def main(s, filler, ids):
    s.listen(NAME_CHANGED)
    s.wait_for("the action door", lambda: door("ListResources").returncode == 0)
    fill(filler)
    # A file's last block may still take a change or two: rename until a write needs a new one.
    for n in range(200):
        rename(ids[0], f"Renamed 1 ({n})")
        s.pump()
        if s.find("notification", lambda name: name.startswith(FAILING)) is not None:
            break
    notice = s.wait_node("notification", lambda name: name.startswith(FAILING))
    assert "shared folder" in notice.name, notice.name
    s.wait_for("the notice to be announced", lambda: told(s, FAILING) == 1)
    print("failing ok", notice.name)

    # Another notice takes its place; saves that fail again do not bring it back.
    row = s.wait_node("list item", lambda name: name.startswith("Studio, Zavo device"))
    s.do(s.find("push button", "Connect", root=row), "Press")
    s.do(s.find("push button", "Cancel", root=s.wait_node("dialog", "Connect to Studio?")), "Press")
    s.wait_node("notification", CANCELLED)
    rename(ids[1], "Renamed 2")
    rename(ids[2], "Renamed 3")
    s.wait_node("list item", lambda name: name.startswith("Renamed 3, SSH"))
    assert s.find("notification", CANCELLED) is not None, [n.name for n in s.nodes() if n.getRoleName() == "notification"]
    assert told(s, FAILING) == 1, s.events
    print("once ok")

    os.remove(filler)
    rename(ids[0], "Renamed again")
    s.wait_node("notification", AGAIN)
    assert told(s, FAILING) == 1, s.events
    print("saved again ok")


if __name__ == "__main__":
    program, filler, *ids = sys.argv[1:]
    with AtSpiSession(program, "Remote") as session:
        main(session, filler, ids)
