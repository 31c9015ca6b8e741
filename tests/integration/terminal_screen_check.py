# A connected SSH session's terminal as a screen-reader user reads it, through AT-SPI, while keys
# are typed through X: bash's history recall shows the line the shell holds (no tail of a
# longer line left behind), and once vi quits the screen before it is back.
# Argument: the program, whose document holds one SSH connection "Lab shell" to a server whose
# key it trusts. Run inside dbus-run-session.
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from atspi_session import AtSpiSession  # noqa: E402

TEXT_CHANGED = "object:text-changed"
PROMPT = "bash$"


def main(s):
    env = {**os.environ, "DISPLAY": s.env["DISPLAY"]}

    def xdo(*args):
        return subprocess.run(["timeout", "20", "xdotool", *args], env=env, check=True, capture_output=True,
                              text=True).stdout

    row = s.wait_node("list item", lambda name: name.startswith("Lab shell, SSH, "))
    s.do(s.find("push button", "Connect", root=row), "Press")
    dialog = s.wait_node("dialog", "Connect to Lab shell?")
    s.do(s.find("push button", "Connect", root=dialog), "Press")
    terminal = s.wait_node("terminal", "Interactive SSH terminal", seconds=30)
    s.listen(TEXT_CHANGED)

    def screen():
        """The rows, without the blanks the cursor's row keeps before the cursor."""
        return [line.rstrip(" ") for line in s.text(terminal).split("\n")]

    def current():
        """The last line that holds anything: the one the cursor is on while the screen is not full."""
        lines = [line for line in screen() if line]
        return lines[-1] if lines else ""

    def wait_current(line, what):
        s.wait_for(f"{what}: {line!r} (the screen holds {screen()!r})", lambda: current() == line, seconds=20)

    window = xdo("search", "--sync", "--onlyvisible", "--name", "^Remote$").split()[0]
    xdo("windowfocus", "--sync", window)

    def typed(text):
        xdo("type", "--delay", "20", text)

    def key(*keys):
        xdo("key", "--delay", "40", *keys)

    s.wait_for("the login shell's prompt", lambda: current() == "$", seconds=30)
    typed(f"exec env PS1='{PROMPT} ' HISTFILE=/dev/null bash --norc --noprofile")
    key("Return")
    wait_current(PROMPT, "bash's prompt")
    assert len(screen()) == 24, screen()
    print("connected ok")

    longer = "echo the longer of the two command lines typed"
    shorter = "echo short"
    for command in (longer, shorter):
        typed(command)
        key("Return")
        s.wait_for(f"the output of {command!r}", lambda: command[5:] in screen(), seconds=20)
        wait_current(PROMPT, "the prompt again")
    key("Up")
    wait_current(f"{PROMPT} {shorter}", "the last command recalled")
    key("Up")
    wait_current(f"{PROMPT} {longer}", "the one before it")
    key("Down")
    wait_current(f"{PROMPT} {shorter}", "the shorter one again, without the longer one's tail")
    key("ctrl+u")
    wait_current(PROMPT, "the line cleared")
    s.wait_for("the screen's changes to be told", lambda: any(
        kind.startswith(TEXT_CHANGED) and role == "terminal" for kind, role, _ in s.events))
    print("history ok")

    before = screen()
    at = max(i for i, line in enumerate(before) if line)
    vi = "vi -u NONE -i NONE"
    typed(vi)
    key("Return")
    s.wait_for(f"vi's screen (the screen holds {screen()!r})",
               lambda: all(line.startswith("~") for line in screen()[1:23]), seconds=20)
    typed(":q")
    key("Return")
    expected = before[:at] + [f"{PROMPT} {vi}", PROMPT] + [""] * (len(before) - at - 2)
    s.wait_for(f"the screen before vi with the prompt after it (the screen holds {screen()!r})",
               lambda: screen() == expected, seconds=20)
    print("vi ok")


with AtSpiSession(sys.argv[1], "Remote") as session:
    main(session)
