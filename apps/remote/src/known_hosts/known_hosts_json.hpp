#pragma once
// The host-key trust store's values and their JSON form (the content of "known-hosts.json").
#include "doc/json_reader.hpp"
#include "doc/json_writer.hpp"

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace remote {

// An SSH host key: its algorithm name and its SHA-256 fingerprint text.
struct HostKeyIdentity {
    std::string algorithm;
    std::string fingerprint;

    friend bool operator==(const HostKeyIdentity&, const HostKeyIdentity&) = default;
};

// One pinned key for a host and port.
struct KnownHostEntry {
    std::string host;
    std::uint16_t port = 0;
    HostKeyIdentity identity;

    friend bool operator==(const KnownHostEntry&, const KnownHostEntry&) = default;
};

// The whole store, entries in insertion order.
struct KnownHosts {
    std::vector<KnownHostEntry> entries;

    // Indented JSON, two spaces a level, no final line break (the whole file).
    std::string serialize() const;
    // The file's bytes; the error's to_string() ends with " at line L column C".
    static std::expected<KnownHosts, json::Error> deserialize_json(std::string_view bytes);

    friend bool operator==(const KnownHosts&, const KnownHosts&) = default;
};

// One identity inside a larger value (an operation carries one).
json::Result<HostKeyIdentity> read_host_key_identity(json::Reader& reader);
void write_host_key_identity(json::Writer& writer, const HostKeyIdentity& identity);

}  // namespace remote
