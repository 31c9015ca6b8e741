#pragma once
// The saved connections the document benchmarks store: varied names, hosts, kinds and groups.
#include "profiles/saved_connection.hpp"

#include <cstdint>
#include <string>

inline remote::SavedConnection bench_connection(std::int64_t i) {
    remote::SavedConnection c;
    c.name = "Machine " + std::to_string(i);
    c.host = "host-" + std::to_string(i) + ".example.net";
    c.port = static_cast<std::uint16_t>(22 + i % 3);
    c.user = i % 2 ? "admin" : "ops";
    c.kind = static_cast<remote::ConnectionKind>(i % 4);
    c.last_used = "2h ago";
    c.group = "group " + std::to_string(i % 10);
    c.favorite = i % 7 == 0;
    c.id = remote::Uuid::new_v4();
    return c;
}
