#include "known_hosts/known_hosts_json.hpp"

#include "doc/json_schema.hpp"

#include <array>

namespace remote {
namespace {

constexpr std::array<std::string_view, 2> kIdentityFields{"algorithm", "fingerprint"};
constexpr std::array<std::string_view, 3> kEntryFields{"host", "port", "identity"};
constexpr std::array<std::string_view, 1> kStoreFields{"entries"};
constexpr json::RecordShape kIdentity{"struct HostKeyIdentity", kIdentityFields};
constexpr json::RecordShape kEntry{"struct KnownHostEntry", kEntryFields};
constexpr json::RecordShape kStore{"struct KnownHosts", kStoreFields};

json::Result<KnownHostEntry> read_entry(json::Reader& reader) {
    KnownHostEntry entry;
    auto done = json::read_record(reader, kEntry, [&](json::Reader& r, std::size_t field) -> json::Result<void> {
        switch (field) {
            case 0: return json::assign(entry.host, json::read_text(r));
            case 1: return json::assign(entry.port, json::read_u16(r));
            default: return json::assign(entry.identity, read_host_key_identity(r));
        }
    });
    if (!done) return std::unexpected(std::move(done.error()));
    return entry;
}

json::Result<KnownHosts> read_store(json::Reader& reader) {
    KnownHosts store;
    auto done = json::read_record(reader, kStore, [&](json::Reader& r, std::size_t) -> json::Result<void> {
        store.entries.clear();
        return json::read_sequence(r, [&](json::Reader& e) -> json::Result<void> {
            auto entry = read_entry(e);
            if (!entry) return std::unexpected(std::move(entry.error()));
            store.entries.push_back(std::move(*entry));
            return {};
        });
    });
    if (!done) return std::unexpected(std::move(done.error()));
    return store;
}

}  // namespace

json::Result<HostKeyIdentity> read_host_key_identity(json::Reader& reader) {
    HostKeyIdentity identity;
    auto done = json::read_record(reader, kIdentity, [&](json::Reader& r, std::size_t field) -> json::Result<void> {
        return json::assign(field == 0 ? identity.algorithm : identity.fingerprint, json::read_text(r));
    });
    if (!done) return std::unexpected(std::move(done.error()));
    return identity;
}

std::string KnownHosts::serialize() const {
    json::Writer writer(json::Writer::Style::Indented);
    writer.begin_object();
    writer.key("entries");
    writer.begin_array();
    for (const auto& entry : entries) {
        writer.begin_object();
        writer.string_member("host", entry.host);
        writer.number_member("port", entry.port);
        writer.key("identity");
        write_host_key_identity(writer, entry.identity);
        writer.end_object();
    }
    writer.end_array();
    writer.end_object();
    return writer.take();
}

std::expected<KnownHosts, json::Error> KnownHosts::deserialize_json(std::string_view bytes) {
    return json::decode<KnownHosts>(bytes, read_store);
}

void write_host_key_identity(json::Writer& writer, const HostKeyIdentity& identity) {
    writer.begin_object();
    writer.string_member("algorithm", identity.algorithm);
    writer.string_member("fingerprint", identity.fingerprint);
    writer.end_object();
}

}  // namespace remote
