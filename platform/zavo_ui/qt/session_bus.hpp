#pragma once
// The user's D-Bus session bus, looked for the way libdbus looks for it, but never started.
// Without DBUS_SESSION_BUS_ADDRESS and without a bus socket in XDG_RUNTIME_DIR, libdbus (under
// Qt and its accessibility bridge) and GLib (in programs started from here) run dbus-launch on
// X11, which starts a bus that outlives the program.
#include <expected>
#include <optional>
#include <string>

namespace zavo_ui::qt {

struct SessionBusEnvironment {
    std::optional<std::string> address;      // DBUS_SESSION_BUS_ADDRESS
    std::optional<std::string> runtime_dir;  // XDG_RUNTIME_DIR

    static SessionBusEnvironment from_process();
};

// The bus address: DBUS_SESSION_BUS_ADDRESS when it is set and not empty, else the socket
// "bus" in XDG_RUNTIME_DIR when this user owns it; otherwise why there is no session bus.
std::expected<std::string, std::string> session_bus_address(const SessionBusEnvironment& env);

// Looks for this process's session bus once, before anything reaches for it. When there is
// none, DBUS_SESSION_BUS_ADDRESS is set to an address no library connects to or launches
// ("disabled:"), so that everything here runs without a bus. Returns what it found.
std::expected<std::string, std::string> settle_session_bus();

}  // namespace zavo_ui::qt
