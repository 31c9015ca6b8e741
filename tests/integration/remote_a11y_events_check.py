# What a screen reader is told while a person uses Remote, read through AT-SPI: the list's
# selection moved by keys and by a press, typing and editing in a field around characters outside
# the BMP, the caret and the selection, saving, deleting, connecting and the shell's cursor. Every
# offset and length is counted in characters, and after each step the focus is on an object that
# exists.
# Arguments: the program, the SSH server's port and account. The document holds "Alpha" and "Lab
# shell" (group "Lab"), both to that server, whose key is not trusted yet. Run inside
# dbus-run-session.
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from atspi_session import AtSpiSession  # noqa: E402

TEXT_CHANGED = "object:text-changed"
CARET_MOVED = "object:text-caret-moved"
FOCUSED = "object:state-changed:focused"
SELECTED = "object:state-changed:selected"
PROMPT = "bash$"
# The name the edits through AT-SPI leave, the one the test reads back from the document.
EDITED_NAME = "\U0001F600\u4E2DYab"


def main(s, port, user):
    import pyatspi

    s.record(TEXT_CHANGED, CARET_MOVED, FOCUSED, SELECTED)
    env = {**os.environ, "DISPLAY": s.env["DISPLAY"]}

    def xdo(*args):
        return subprocess.run(["timeout", "20", "xdotool", *args], env=env, check=True, capture_output=True,
                              text=True).stdout

    def typed(text):
        xdo("type", "--delay", "30", text)

    def key(*keys):
        xdo("key", "--delay", "40", *keys)

    def path(node):
        return node.path

    def heard_on(node, kind, since=0):
        return [h for h in s.heard[since:] if h.type.startswith(kind) and path(h.source) == path(node)]

    def focus():
        """The object the last focus event named."""
        told = [h for h in s.heard if h.type == FOCUSED and h.detail1 == 1]
        return told[-1].source if told else None

    def exists(node):
        try:
            return not node.getState().contains(pyatspi.STATE_DEFUNCT) and any(
                path(n) == path(node) for n in s.nodes())
        except Exception:
            return False

    def focus_on(what, probe):
        """Waits until the last focus event names an object for which probe answers true, and
        checks that it is there and focused."""
        node = s.wait_for(f"the focus to be told on {what} (heard {s.heard[-8:]})",
                          lambda: focus() if focus() is not None and probe(focus()) else None)
        assert exists(node), f"the focus is on {node.getRoleName()} {node.name!r}, which is not in the tree"
        assert node.getState().contains(pyatspi.STATE_FOCUSED), (node.getRoleName(), node.name)
        return node

    def replay(text, node, since):
        """The text a reader's copy holds after the changes told since `since`, each checked
        against the copy as it goes."""
        for h in heard_on(node, TEXT_CHANGED, since):
            assert h.detail2 == len(h.data), f"{h}: the length is not the text's length in characters"
            assert 0 <= h.detail1 <= len(text), f"{h}: outside {text!r}"
            if h.type.endswith(":insert"):
                text = text[:h.detail1] + h.data + text[h.detail1:]
            else:
                assert text[h.detail1:h.detail1 + h.detail2] == h.data, f"{h}: {text!r} does not hold it there"
                text = text[:h.detail1] + text[h.detail1 + h.detail2:]
        return text

    def caret_told(node, since=0):
        told = heard_on(node, CARET_MOVED, since)
        return told[-1].detail1 if told else None

    def row(prefix):
        return s.wait_node("list item", lambda name: name.startswith(prefix))

    window = xdo("search", "--sync", "--onlyvisible", "--name", "^Remote$").split()[0]
    xdo("windowfocus", "--sync", window)

    # The rows: what each shows besides its name is read as its description.
    lab = row("Lab shell, SSH, ")
    assert lab.description == f"{user}@127.0.0.1:{port}, group Lab", lab.description
    print("rows ok")

    # Down and Up move the selection from row to row; so does a press on a row.
    rows = s.wait_node("list", "Saved connections")
    first, second = rows.getChildAtIndex(0), rows.getChildAtIndex(1)
    for keys, to in ((("Down",), second), (("Up",), first)):
        key(*keys)
        focus_on(f"the row {to.name!r}", lambda n: path(n) == path(to))
        s.wait_for(f"{to.name!r} to be told selected",
                   lambda: any(h.detail1 == 1 for h in heard_on(to, SELECTED)))
    s.do(second, "Press")
    focus_on(f"the pressed row {second.name!r}", lambda n: path(n) == path(second))
    print("selection ok")

    # Typing into a field, edits through its editable text, the caret and the selection.
    s.do(s.find("push button", "New connection"), "Press")
    name = s.wait_node("text", "Connection name")
    focus_on("the name field", lambda n: path(n) == path(name))
    since = len(s.heard)
    typed("Box")
    s.wait_for("the typing to be told", lambda: replay("", name, since) == "Box" == s.text(name))
    s.wait_for("the caret after it to be told", lambda: caret_told(name, since) == 3)
    s.set_text(name, "\U0001F600\u4E2Dab")
    s.wait_for("the new text to be told", lambda: replay("", name, since) == "\U0001F600\u4E2Dab")
    text = name.queryText()
    assert text.characterCount == 4, text.characterCount
    assert [text.getText(i, i + 1) for i in range(4)] == ["\U0001F600", "\u4E2D", "a", "b"]
    # Stepping by words and characters up to the end and past it: every question is answered.
    for step, told in (
        (lambda: text.getTextAtOffset(2, pyatspi.TEXT_BOUNDARY_WORD_START), ("ab", 2, 4)),
        (lambda: text.getTextAtOffset(4, pyatspi.TEXT_BOUNDARY_WORD_START), ("", -1, -1)),
        (lambda: text.getTextBeforeOffset(4, pyatspi.TEXT_BOUNDARY_CHAR), ("b", 3, 4)),
        (lambda: text.getTextBeforeOffset(5, pyatspi.TEXT_BOUNDARY_CHAR), ("", -1, -1)),
    ):
        assert tuple(step()) == told, (tuple(step()), told)
    key("Home", "Right")
    s.wait_for("the caret after the emoji", lambda: caret_told(name) == 1 == text.caretOffset)
    key("shift+Right")
    s.wait_for(f"the selection of the CJK character (caret at {text.caretOffset})", lambda: text.getNSelections() == 1)
    assert tuple(text.getSelection(0)) == (1, 2), text.getSelection(0)
    editable = name.queryEditableText()
    for edit, expected in (
        (lambda: editable.insertText(1, "X", 1), "\U0001F600X\u4E2Dab"),
        (lambda: editable.insertText(3, "Y", 1), "\U0001F600X\u4E2DYab"),
        # The length in UTF-8 bytes, as AT-SPI counts it; a position before the start inserts nothing.
        (lambda: editable.insertText(1, "\U0001F601", 4), "\U0001F600\U0001F601X\u4E2DYab"),
        (lambda: editable.insertText(-1, "Z", 1), "\U0001F600\U0001F601X\u4E2DYab"),
        (lambda: editable.deleteText(1, 2), "\U0001F600X\u4E2DYab"),
        (lambda: editable.deleteText(1, 2), EDITED_NAME),
    ):
        edit()
        s.wait_for(f"the field to hold {expected!r}", lambda: s.text(name) == expected, seconds=5)
    s.wait_for("the edits to be told", lambda: replay("", name, since) == EDITED_NAME)
    print("field ok")

    s.set_text(s.find("text", "Host name or IP address"), "127.0.0.1")
    s.do(s.find("push button", "Save connection"), "Press")
    saved = row(EDITED_NAME + ", SSH, ")
    focus_on("the saved row", lambda n: path(n) == path(saved))
    print("save ok")

    # Delete, from the edit form: the dialog takes the focus, then the row selected after it.
    s.do(s.find("push button", "Edit connection", root=row("Alpha, ")), "Press")
    s.do(s.wait_node("push button", "Delete connection"), "Press")
    dialog = s.wait_node("dialog", "Delete Alpha?")
    focus_on("the dialog", lambda n: path(n) == path(dialog))
    s.do(s.find("push button", "Delete", root=dialog), "Press")
    focus_on("the selected row", lambda n: n.getRoleName() == "list item" and n.name.startswith(EDITED_NAME))
    assert s.find("list item", lambda n: n.startswith("Alpha, ")) is None
    print("delete ok")

    # Connect: the server's key is new, the session stops at it; trusted, the terminal takes the
    # focus and the keys.
    s.do(s.find("push button", "Connect", root=row("Lab shell, ")), "Press")
    dialog = s.wait_node("dialog", "Connect to Lab shell?")
    focus_on("the dialog", lambda n: path(n) == path(dialog))
    s.do(s.find("push button", "Connect", root=dialog), "Press")
    s.wait_node("notification", lambda name: name.startswith("Connection failed: "), seconds=30)
    focus_on("what holds the keys while the session waits", lambda n: n.getRoleName() != "dialog")
    s.do(s.wait_node("push button", "Trust SSH host key"), "Press")
    dialog = s.wait_node("dialog", "Trust SSH key for Lab shell?")
    focus_on("the dialog", lambda n: path(n) == path(dialog))
    s.do(s.find("push button", "Trust key", root=dialog), "Press")
    terminal = s.wait_node("terminal", "Interactive SSH terminal", seconds=30)
    focus_on("the terminal", lambda n: path(n) == path(terminal))
    assert terminal.getState().contains(pyatspi.STATE_FOCUSABLE)
    print("connect ok")

    screen = terminal.queryText()

    def lines():
        return screen.getText(0, -1).split("\n")

    def current():
        held = [line.rstrip() for line in lines() if line.strip()]
        return held[-1] if held else ""

    s.wait_for("the login shell's prompt", lambda: current() == "$", seconds=30)
    typed(f"exec env PS1='{PROMPT} ' HISTFILE=/dev/null bash --norc --noprofile")
    key("Return")
    s.wait_for("bash's prompt", lambda: current() == PROMPT, seconds=20)
    typed(r"printf '\360\237\230\200\360\237\230\201 ok\n'")
    key("Return")
    s.wait_for(f"the emoji line (the screen holds {lines()!r})",
               lambda: "\U0001F600\U0001F601 ok" in lines() and current() == PROMPT, seconds=20)
    whole = screen.getText(0, -1)
    assert screen.characterCount == len(whole), (screen.characterCount, len(whole))
    at = whole.index("\U0001F600\U0001F601 ok")
    assert [screen.getText(at + i, at + i + 1) for i in range(3)] == ["\U0001F600", "\U0001F601", " "]
    print("terminal text ok")

    # The screen settles, then what changes is told against the copy taken then.
    def quiet_for(seconds):
        end = time.time() + seconds
        count = len(heard_on(terminal, TEXT_CHANGED))
        while time.time() < end:
            s.pump()
            time.sleep(0.05)
        return len(heard_on(terminal, TEXT_CHANGED)) == count

    s.wait_for("the screen to settle", lambda: quiet_for(1.0), seconds=20)
    since, before = len(s.heard), screen.getText(0, -1)
    typed("echo ab")
    s.wait_for("the command line", lambda: current() == f"{PROMPT} echo ab", seconds=20)
    key("Left")
    row_at = max(i for i, line in enumerate(lines()) if line.startswith(f"{PROMPT} echo ab"))
    on_b = sum(len(line) + 1 for line in lines()[:row_at]) + len(f"{PROMPT} echo a")
    s.wait_for(f"the caret on the b at {on_b} (told {caret_told(terminal)}, at {screen.caretOffset})",
               lambda: caret_told(terminal, since) == on_b == screen.caretOffset, seconds=20)
    s.wait_for("the screen's changes to be told in characters",
               lambda: replay(before, terminal, since) == screen.getText(0, -1), seconds=20)
    print("terminal caret ok")

    s.do(s.wait_node("push button", "Disconnect"), "Press")
    focus_on("the selected row", lambda n: n.getRoleName() == "list item" and n.name.startswith(EDITED_NAME))
    print("disconnect ok")


with AtSpiSession(sys.argv[1], "Remote") as session:
    main(session, sys.argv[2], sys.argv[3])
