#include "known_hosts/known_hosts.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include <fmt/format.h>

#include "atomic_file/atomic_file.hpp"
#include "posix_fd/unique_fd.hpp"

namespace remote {

namespace fs = std::filesystem;

namespace {

std::string os_error(int err) { return std::error_code(err, std::system_category()).message(); }

const char* env(const char* name) { return std::getenv(name); }

std::expected<std::string, std::string> read_file(const fs::path& path, bool& missing) {
    missing = false;
    const posix_fd::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        if (errno == ENOENT) {
            missing = true;
            return std::string();
        }
        return std::unexpected(os_error(errno));
    }
    std::string bytes;
    char buf[8192];
    for (;;) {
        ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(os_error(errno));
        }
        if (n == 0) break;
        bytes.append(buf, static_cast<std::size_t>(n));
    }
    return bytes;
}

}  // namespace

std::string message_without_keys(const HostKeyProblem& problem, std::string_view host, std::uint16_t port) {
    if (std::holds_alternative<HostKeyUnknown>(problem))
        return fmt::format("SSH host key for {}:{} needs explicit trust:", host, port);
    if (std::holds_alternative<HostKeyChanged>(problem))
        return fmt::format("SSH host key changed for {}:{}. Connection blocked.", host, port);
    return message(problem, host, port);
}

std::string message(const HostKeyProblem& problem, std::string_view host, std::uint16_t port) {
    if (auto* u = std::get_if<HostKeyUnknown>(&problem))
        return fmt::format("{} {} {}", message_without_keys(problem, host, port), u->presented.algorithm,
                           u->presented.fingerprint);
    if (auto* c = std::get_if<HostKeyChanged>(&problem))
        return fmt::format("SSH host key changed for {}:{}. Expected {} {}; received {} {}. Connection blocked.", host,
                           port, c->stored.algorithm, c->stored.fingerprint, c->presented.algorithm,
                           c->presented.fingerprint);
    return fmt::format("SSH host-key store is unavailable: {}", std::get<HostKeyStoreUnavailable>(problem).text);
}

std::expected<void, std::string> check_private_mode(const struct stat& status, std::string_view subject) {
    if (status.st_mode & 077)
        return std::unexpected(fmt::format("{} must not be accessible to group or other users", subject));
    return {};
}

std::expected<void, std::string> check_private_dir(const fs::path& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) return std::unexpected(os_error(errno));
    if (!S_ISDIR(st.st_mode)) return std::unexpected("SSH host-key store parent must be a real directory");
    return check_private_mode(st, "SSH host-key store parent");
}

std::expected<void, std::string> check_private_file(const fs::path& path) {
    // The parent as a path's components give it: "a" has an empty parent, "/" none at all,
    // and trailing separators do not count.
    fs::path p = path;
    while (p.has_relative_path() && !p.has_filename()) p = p.parent_path();
    fs::path parent = p.has_relative_path() ? p.parent_path() : fs::path();
    if (parent.empty()) return std::unexpected("SSH host-key store has no private parent directory");
    if (auto dir = check_private_dir(parent); !dir) return dir;

    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return {};
        return std::unexpected(os_error(errno));
    }
    if (!S_ISREG(st.st_mode)) return std::unexpected("SSH host-key store must be a regular file");
    return check_private_mode(st, "SSH host-key store");
}

std::expected<fs::path, std::string> known_hosts_path() {
    if (const char* explicit_path = env("REMOTE_SSH_KNOWN_HOSTS")) {
        fs::path path(explicit_path);
        if (auto ok = check_private_file(path); !ok) return std::unexpected(ok.error());
        return path;
    }
    fs::path base;
    if (const char* state = env("XDG_STATE_HOME")) {
        base = state;
    } else if (const char* home = env("HOME")) {
        base = fs::path(home) / ".local/state";
    } else {
        return std::unexpected("no private state directory is available for SSH host trust");
    }
    const fs::path dir = base / "zavo" / "remote";

    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        if (errno != ENOENT) return std::unexpected(os_error(errno));
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (ec) return std::unexpected(ec.message());
        if (::chmod(dir.c_str(), 0700) != 0) return std::unexpected(os_error(errno));
    }
    if (auto ok = check_private_dir(dir); !ok) return std::unexpected(ok.error());

    fs::path path = dir / "known-hosts.json";
    if (auto ok = check_private_file(path); !ok) return std::unexpected(ok.error());
    return path;
}

namespace known_hosts {

std::expected<KnownHosts, std::string> load(const fs::path& path) {
    if (auto ok = check_private_file(path); !ok) return std::unexpected(ok.error());
    bool missing = false;
    auto bytes = read_file(path, missing);
    if (!bytes) return std::unexpected(bytes.error());
    if (missing) return KnownHosts{};
    auto store = KnownHosts::deserialize_json(*bytes);
    if (!store) return std::unexpected(store.error().to_string());
    return std::move(*store);
}

std::expected<void, std::string> save(const fs::path& path, const KnownHosts& store) {
    if (auto ok = check_private_file(path); !ok) return ok;
    std::string bytes = store.serialize();
    if (auto written = atomic_file::write_with_mode(path, bytes, 0600); !written)
        return std::unexpected(written.error().message());
    return check_private_file(path);
}

std::expected<void, std::string> trust(const fs::path& path, std::string_view host, std::uint16_t port,
                                       const HostKeyIdentity& identity) {
    auto store = load(path);
    if (!store) return std::unexpected(store.error());
    for (const auto& entry : store->entries) {
        if (entry.host == host && entry.port == port) {
            if (entry.identity == identity) return {};
            return std::unexpected("a different trusted host key already exists; forget it before retrusting");
        }
    }
    store->entries.push_back(KnownHostEntry{std::string(host), port, identity});
    return save(path, *store);
}

std::expected<bool, std::string> forget(const fs::path& path, std::string_view host, std::uint16_t port) {
    auto store = load(path);
    if (!store) return std::unexpected(store.error());
    auto removed = std::erase_if(store->entries,
                                 [&](const KnownHostEntry& e) { return e.host == host && e.port == port; });
    if (removed == 0) return false;
    if (auto saved = save(path, *store); !saved) return std::unexpected(saved.error());
    return true;
}

HostKeyVerdict verify(const KnownHosts& store, std::string_view host, std::uint16_t port, HostKeyIdentity presented) {
    for (const auto& entry : store.entries) {
        if (entry.host == host && entry.port == port) {
            if (entry.identity == presented) return HostKeyTrusted{};
            return HostKeyChanged{entry.identity, std::move(presented)};
        }
    }
    return HostKeyUnknown{std::move(presented)};
}

}  // namespace known_hosts

}  // namespace remote
