#pragma once
// The private host-key trust store: where "known-hosts.json" lives, the checks that keep it
// private, and the operations that read and replace it. Every operation reads the file afresh.
#include <sys/stat.h>

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <variant>

#include "known_hosts/known_hosts_json.hpp"

namespace remote {

struct HostKeyTrusted {
    friend bool operator==(const HostKeyTrusted&, const HostKeyTrusted&) = default;
};
struct HostKeyUnknown {
    HostKeyIdentity presented;
    friend bool operator==(const HostKeyUnknown&, const HostKeyUnknown&) = default;
};
struct HostKeyChanged {
    HostKeyIdentity stored;
    HostKeyIdentity presented;
    friend bool operator==(const HostKeyChanged&, const HostKeyChanged&) = default;
};
struct HostKeyStoreUnavailable {
    std::string text;
    friend bool operator==(const HostKeyStoreUnavailable&, const HostKeyStoreUnavailable&) = default;
};

// A presented key judged against the store.
using HostKeyVerdict = std::variant<HostKeyTrusted, HostKeyUnknown, HostKeyChanged>;
// What a refused connection leaves in its session's host-key cell.
using HostKeyProblem = std::variant<HostKeyUnknown, HostKeyChanged, HostKeyStoreUnavailable>;

// The text shown for a problem with the key of host:port.
std::string message(const HostKeyProblem& problem, std::string_view host, std::uint16_t port);
// The same without the keys it names, for a screen that sets them apart from the sentence.
std::string message_without_keys(const HostKeyProblem& problem, std::string_view host, std::uint16_t port);

// REMOTE_SSH_KNOWN_HOSTS as given, else zavo/remote/known-hosts.json under XDG_STATE_HOME or
// HOME/.local/state; the default store directory is created with mode 0700 when missing.
std::expected<std::filesystem::path, std::string> known_hosts_path();

// The directory must be a real directory (not a link) closed to group and others.
std::expected<void, std::string> check_private_dir(const std::filesystem::path& dir);
// The file's parent must pass check_private_dir; the file, when it exists, must be a regular
// file (not a link) closed to group and others.
std::expected<void, std::string> check_private_file(const std::filesystem::path& path);
// "{subject} must not be accessible to group or other users" when any of 0o077 is set.
std::expected<void, std::string> check_private_mode(const struct stat& status, std::string_view subject);

namespace known_hosts {

// A missing file is an empty store.
std::expected<KnownHosts, std::string> load(const std::filesystem::path& path);
// Replaces the whole file (mode 0600) and checks it again afterwards.
std::expected<void, std::string> save(const std::filesystem::path& path, const KnownHosts& store);
// Pins the identity for host:port; trusting the pinned identity again writes nothing.
std::expected<void, std::string> trust(const std::filesystem::path& path, std::string_view host, std::uint16_t port,
                                       const HostKeyIdentity& identity);
// Removes every pin of host:port; whether one was removed.
std::expected<bool, std::string> forget(const std::filesystem::path& path, std::string_view host, std::uint16_t port);
// The first pin of host:port decides; host and port compare exactly.
HostKeyVerdict verify(const KnownHosts& store, std::string_view host, std::uint16_t port, HostKeyIdentity presented);

}  // namespace known_hosts

}  // namespace remote
