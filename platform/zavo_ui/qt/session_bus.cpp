#include "zavo_ui/qt/session_bus.hpp"

#include "zavo_ui/qt/display.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fmt/format.h>

namespace zavo_ui::qt {
namespace {

// A D-Bus address value: bytes outside [-0-9A-Za-z_/.\*] as %xx.
std::string escaped(std::string_view value) {
    std::string out;
    for (const char c : value) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' ||
                           c == '_' || c == '/' || c == '.' || c == '\\' || c == '*';
        out += plain ? std::string(1, c) : fmt::format("%{:02x}", static_cast<unsigned char>(c));
    }
    return out;
}

}  // namespace

SessionBusEnvironment SessionBusEnvironment::from_process() {
    return {environment_variable("DBUS_SESSION_BUS_ADDRESS"), environment_variable("XDG_RUNTIME_DIR")};
}

std::expected<std::string, std::string> session_bus_address(const SessionBusEnvironment& e) {
    if (e.address && !e.address->empty()) return *e.address;
    if (!e.runtime_dir || e.runtime_dir->empty())
        return std::unexpected(std::string("DBUS_SESSION_BUS_ADDRESS and XDG_RUNTIME_DIR are not set"));
    const std::string socket = *e.runtime_dir + "/bus";
    struct stat st {};
    if (::lstat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != ::getuid())
        return std::unexpected(
            fmt::format("DBUS_SESSION_BUS_ADDRESS is not set and {} is no bus socket of this user", socket));
    return "unix:path=" + escaped(socket);
}

std::expected<std::string, std::string> settle_session_bus() {
    auto found = session_bus_address(SessionBusEnvironment::from_process());
    if (!found) ::setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    return found;
}

}  // namespace zavo_ui::qt
