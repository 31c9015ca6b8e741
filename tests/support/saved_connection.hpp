#pragma once
// A saved connection built in one line, with a fresh id.
#include "profiles/saved_connection.hpp"

#include <cstdint>
#include <string>
#include <utility>

namespace test_support {

inline remote::SavedConnection saved(std::string name, remote::ConnectionKind kind, std::string host,
                                     std::uint16_t port, std::string user, remote::AuthKind auth) {
    remote::SavedConnection c;
    c.name = std::move(name);
    c.kind = kind;
    c.host = std::move(host);
    c.port = port;
    c.user = std::move(user);
    c.auth = auth;
    c.id = remote::Uuid::new_v4();
    return c;
}

}  // namespace test_support
