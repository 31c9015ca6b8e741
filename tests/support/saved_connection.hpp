#pragma once
// A saved connection built in one line, with a fresh id; a listed connection's id by name.
#include "profiles/saved_connection.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// The id of the first connection named `name`; a test failure (and the nil id) when none is.
inline remote::Uuid id_named(const std::vector<remote::SavedConnection>& list, std::string_view name) {
    for (const auto& c : list)
        if (c.name == name) return c.id;
    ADD_FAILURE() << "no connection " << name;
    return {};
}

}  // namespace test_support
