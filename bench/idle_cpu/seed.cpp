// Seeds what the idle measurement (bench/idle-cpu) starts Remote with: saved connections written
// into the document the program opens (under the XDG_DATA_HOME it is given), and host keys pinned
// in a trust store. One line of standard input each, fields separated by tabs:
//
//   connection  NAME  KIND  HOST  PORT  USER  AUTH    KIND and AUTH as the form labels them
//                                                     ("SSH", "VNC", "Zavo"; "Password",
//                                                     "Public key", "Device identity"); the
//                                                     HOST "simulated-device-N" is the endpoint
//                                                     id of the relay's simulated device N
//   trust  STORE  HOST  PORT  ALGORITHM  FINGERPRINT  a pin in the trust store file STORE
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/launch_record.hpp"
#include "doc/profile_document.hpp"
#include "known_hosts/known_hosts.hpp"
#include "zavo_ui/persist.hpp"
#include "zavo_ui/simulated_devices.hpp"

namespace {

std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    return fields;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "idle_cpu_seed: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main() {
    using namespace remote;
    using zavo_ui::simulated_devices::SIMULATED_DEVICES;
    constexpr std::string_view kSimulated = "simulated-device-";
    auto document = zavo_ui::persist::open(app::kApplicationId);
    if (!document) return fail(document.error());
    for (std::string line; std::getline(std::cin, line);) {
        const auto f = fields_of(line);
        if (f.size() == 7 && f[0] == "connection") {
            SavedConnection c;
            c.name = f[1];
            c.kind = connection_kind_from_label(f[2]);
            c.host = f[3];
            if (c.host.starts_with(kSimulated))
                c.host = SIMULATED_DEVICES.at(std::stoul(c.host.substr(kSimulated.size()))).endpoint_id();
            c.port = static_cast<std::uint16_t>(std::stoul(f[4]));
            c.user = f[5];
            c.auth = auth_kind_from_label(f[6]);
            c.id = Uuid::new_v4();
            store_connection((*document)->document(), c);
        } else if (f.size() == 6 && f[0] == "trust") {
            const auto port = static_cast<std::uint16_t>(std::stoul(f[3]));
            if (auto pinned = known_hosts::trust(f[1], f[2], port, HostKeyIdentity{f[4], f[5]}); !pinned)
                return fail(pinned.error());
        } else {
            return fail("cannot read the line: " + line);
        }
    }
    if (auto saved = (*document)->save_changes(); !saved) return fail(saved.error());
    return 0;
}
