#include "zavo_ui/qt/session_bus.hpp"

#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace zavo_ui::qt {
namespace {

namespace fs = std::filesystem;

// A listening Unix socket at `path`, closed on destruction.
struct Socket {
    explicit Socket(const fs::path& path) : fd(::socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
        bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0;
    }
    ~Socket() { ::close(fd); }
    int fd;
    bool bound = false;
};

TEST(SessionBus, FoundAsLibdbusFindsItWithoutStartingOne) {
    test_support::TempDir tmp("session-bus.");
    const fs::path with_bus = tmp.path() / "with bus%";  // escaped in the address
    const fs::path with_file = tmp.path() / "file";
    const fs::path empty = tmp.path() / "empty";
    for (const auto& dir : {with_bus, with_file, empty}) fs::create_directories(dir);
    const Socket bus(with_bus / "bus");
    ASSERT_TRUE(bus.bound);
    std::ofstream(with_file / "bus") << "not a socket";

    const std::string via_runtime = "unix:path=" + (tmp.path() / "with%20bus%25/bus").string();
    struct Case {
        SessionBusEnvironment env;
        std::string address;  // empty: none
    } cases[] = {
        {{"unix:path=/run/user/1000/bus", std::nullopt}, "unix:path=/run/user/1000/bus"},
        {{"tcp:host=127.0.0.1,port=1", with_bus.string()}, "tcp:host=127.0.0.1,port=1"},
        {{std::nullopt, with_bus.string()}, via_runtime},
        {{"", with_bus.string()}, via_runtime},  // empty is unset, as libdbus reads it
        {{std::nullopt, with_file.string()}, ""},
        {{std::nullopt, empty.string()}, ""},
        {{std::nullopt, ""}, ""},
        {{std::nullopt, std::nullopt}, ""},
    };
    for (const auto& c : cases) {
        const auto found = session_bus_address(c.env);
        SCOPED_TRACE(c.env.address.value_or("(unset)") + " " + c.env.runtime_dir.value_or("(unset)"));
        if (c.address.empty()) {
            ASSERT_FALSE(found);
            EXPECT_NE(found.error().find("DBUS_SESSION_BUS_ADDRESS"), std::string::npos) << found.error();
        } else {
            EXPECT_EQ(found, c.address);
        }
    }
}

}  // namespace
}  // namespace zavo_ui::qt
