// A document from another replica, whatever its shape: loading the saved connections never
// fails, repairing maps made concurrently changes none of them, and storing what was loaded
// never trips an assertion.
#include "doc/profile_document.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto doc = crdt::Document::load(std::span(data, size));
    if (!doc) return 0;
    const auto loaded = remote::load_connections(*doc);
    // Repairing maps made concurrently keeps what was read, and a second repair does nothing.
    remote::repair_connections_map(*doc);
    if (remote::repair_connections_map(*doc) || remote::load_connections(*doc) != loaded) std::abort();
    for (const auto& c : loaded) remote::store_connection(*doc, c);
    // Every connection loaded before is still there (keys in other text forms of one id all
    // write to its canonical key, so only the ids are compared).
    const auto again = remote::load_connections(*doc);
    for (const auto& c : loaded)
        if (std::none_of(again.begin(), again.end(), [&](const auto& a) { return a.id == c.id; })) std::abort();
    return 0;
}
