# Uses Remote as a screen-reader user does, through AT-SPI only: saves a new SSH connection by
# filling the form's fields, finds it in the list, connects through the row's action and the
# dialog, trusts the server's host key, and hears the session's status change.
# Arguments: the program, the SSH server's port and the account to log in as. Run inside
# dbus-run-session.
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from atspi_session import AtSpiSession  # noqa: E402

NAME_CHANGED = "object:property-change:accessible-name"
FOCUSED = "object:state-changed:focused"


def main(s, port, user):
    import pyatspi

    s.listen(NAME_CHANGED, FOCUSED)
    assert s.frame.name == "Remote", s.frame.name
    s.wait_node("notification", "No machines yet. Add a connection to reach it over SSH, VNC, or the Zavo relay.")
    s.do(s.wait_node("push button", "New connection"), "Press")

    # The form: every field set through its editable text; the port keeps only digits.
    s.wait_node("heading", "New connection")
    fields = [  # label, text set, text the field then holds
        ("Connection name", "Lab box", "Lab box"),
        ("Host name or IP address", "127.0.0.1", "127.0.0.1"),
        ("Port", f"{port[:1]}x{port[1:]}", port),
        ("User name", user, user),
    ]
    for label, text, held in fields:
        field = s.wait_node("text", label)
        s.set_text(field, text)
        s.wait_for(f"{label} to hold {held!r}", lambda: s.text(field) == held)
        s.wait_for(f"{label} to have the focus", lambda: field.getState().contains(pyatspi.STATE_FOCUSED))
    public_key = s.find("radio button", "Public key")
    s.do(public_key, "Toggle")
    s.wait_for("public-key authentication", lambda: public_key.getState().contains(pyatspi.STATE_CHECKED))
    s.do(s.find("push button", "Save connection"), "Press")
    print("form ok")

    saved = s.wait_node("list", "Saved connections")
    row = s.wait_node("list item", lambda name: name.startswith("Lab box, SSH, "), root=saved)
    assert row.name == "Lab box, SSH, status unknown, ready to connect, last used Never", row.name
    print("list ok", row.name)

    # A dialog cancelled: the notice is announced.
    s.do(s.find("push button", "Connect", root=row), "Press")
    dialog = s.wait_node("dialog", "Connect to Lab box?")
    assert dialog.getState().contains(pyatspi.STATE_MODAL)
    s.wait_for("the dialog to take the focus", lambda: (FOCUSED, "dialog", dialog.name) in s.events)
    assert dialog.getState().contains(pyatspi.STATE_FOCUSED)
    s.do(s.find("push button", "Cancel", root=dialog), "Press")
    notice = "Action cancelled. No connection or profile was changed."
    s.wait_node("notification", notice)
    s.wait_for("the notice to be announced", lambda: (NAME_CHANGED, "notification", notice) in s.events)
    print("notice ok")

    # Connect for real: the server's key is new, so the session stops and offers to trust it.
    row = s.wait_node("list item", lambda name: name.startswith("Lab box, SSH, "))
    s.do(s.find("push button", "Connect", root=row), "Press")
    dialog = s.wait_node("dialog", "Connect to Lab box?")
    s.do(s.find("push button", "Connect", root=dialog), "Press")
    s.wait_node("heading", "Lab box")
    status = s.wait_node("notification", lambda name: name.startswith("Connection failed: "), seconds=30)
    print("status", status.name)
    s.do(s.wait_node("push button", "Trust SSH host key"), "Press")
    dialog = s.wait_node("dialog", "Trust SSH key for Lab box?")
    assert dialog.description.startswith("Verify ssh-ed25519 SHA256:"), dialog.description
    s.do(s.find("push button", "Trust key", root=dialog), "Press")

    s.wait_node("notification", "Connected", seconds=30)
    s.wait_for("the status change to be announced", lambda: (NAME_CHANGED, "notification", "Connected") in s.events)
    s.wait_node("terminal", "Interactive SSH terminal")
    print("session ok")

    s.do(s.wait_node("push button", "Disconnect"), "Press")
    s.wait_node("list item", lambda name: name.startswith("Lab box, SSH, "))
    print("disconnect ok")


with AtSpiSession(sys.argv[1], "Remote") as session:
    main(session, sys.argv[2], sys.argv[3])
