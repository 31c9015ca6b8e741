#include "zavo_ui/persist_files.hpp"

#include "atomic_file/atomic_file.hpp"
#include "posix_fd/unique_fd.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <random>
#include <system_error>

namespace zavo_ui::persist {

namespace fs = std::filesystem;

std::string errno_text(int err) { return std::generic_category().message(err); }

std::string sys_error(std::string_view what, const fs::path& path, int err) {
    return fmt::format("{} {}: {}", what, path.string(), errno_text(err));
}

std::string_view error_cause(std::string_view error) {
    const auto colon = error.rfind(": ");
    return colon == std::string_view::npos ? error : error.substr(colon + 2);
}

namespace {

// An absolute XDG base directory from the environment, else `home`/`fallback`.
std::expected<fs::path, std::string> xdg_base(const char* var, const char* fallback) {
    if (const char* v = std::getenv(var); v && *v && v[0] == '/') return fs::path(v);
    const char* home = std::getenv("HOME");
    if (!home || !*home) return std::unexpected(fmt::format("neither {} nor HOME is set", var));
    return fs::path(home) / fallback;
}

std::string time_stamp() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &tm);
    return text;
}

bool is_actor_id(std::string_view s) {
    if (s.size() != 32) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace

std::expected<Bytes, std::string> read_from(int fd, std::size_t offset, const fs::path& path) {
    Bytes out;
    std::uint8_t buf[1 << 16];
    for (;;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, static_cast<off_t>(offset + out.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(sys_error("cannot read", path));
        }
        if (n == 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

std::expected<Locations, std::string> default_locations(std::string_view app) {
    auto data = xdg_base("XDG_DATA_HOME", ".local/share");
    if (!data) return std::unexpected(data.error());
    auto state = xdg_base("XDG_STATE_HOME", ".local/state");
    if (!state) return std::unexpected(state.error());
    return Locations{*data / "zavo" / std::string(app), *state / "zavo" / std::string(app) / "document"};
}

std::expected<void, std::string> make_folders(const fs::path& dir) {
    fs::path partial;
    for (const auto& part : dir) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return std::unexpected(sys_error("cannot create folder", partial));
    }
    return {};
}

std::expected<void, std::string> ensure_private_dir(const fs::path& dir) {
    if (auto ok = make_folders(dir); !ok) return ok;
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) return std::unexpected(sys_error("cannot inspect folder", dir));
    if (!S_ISDIR(st.st_mode)) return std::unexpected(fmt::format("{} is not a folder", dir.string()));
    if ((st.st_mode & 0777) != 0700 && ::chmod(dir.c_str(), 0700) != 0)
        return std::unexpected(sys_error("cannot make folder private", dir));
    return {};
}

std::expected<Bytes, std::string> read_file(const fs::path& path) {
    const posix_fd::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return std::unexpected(sys_error("cannot open", path));
    return read_from(fd.get(), 0, path);
}

std::expected<void, std::string> replace_file_durably(const fs::path& path, std::span<const std::uint8_t> bytes,
                                                      mode_t mode) {
    if (auto ok = atomic_file::write_with_mode(path, bytes, mode); !ok)
        return std::unexpected(fmt::format("cannot write {}: {}", path.string(), ok.error().message()));
    return {};
}

std::expected<fs::path, std::string> set_aside(const fs::path& path, const fs::path& dir) {
    if (auto ok = ensure_private_dir(dir); !ok) return std::unexpected(ok.error());
    const std::string base = fmt::format("{}.{}", path.filename().string(), time_stamp());
    for (int i = 0; i < 1000; ++i) {
        const fs::path target = dir / (i == 0 ? base : fmt::format("{}-{}", base, i));
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            (void)atomic_file::sync_directory(dir);
            (void)atomic_file::sync_directory(path.parent_path());
            return target;
        }
        if (errno != EEXIST) return std::unexpected(sys_error("cannot set aside", path));
    }
    return std::unexpected(fmt::format("cannot set aside {}: no free name in {}", path.string(), dir.string()));
}

std::expected<std::string, std::string> load_or_create_actor(const fs::path& dir) {
    if (auto ok = ensure_private_dir(dir); !ok) return std::unexpected(ok.error());
    const fs::path path = dir / "actor";
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        std::string text;  // a folder or the like holds no id
        if (S_ISREG(st.st_mode)) {
            auto bytes = read_file(path);
            if (!bytes) return std::unexpected(bytes.error());
            text.assign(bytes->begin(), bytes->end());
        }
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        if (is_actor_id(text)) return text;
        auto moved = set_aside(path, dir / "set-aside");
        spdlog::error("document: the actor id in {} is unreadable; {}, and this device starts a new one", path.string(),
                      moved ? "it was moved to " + moved->string() : "it could not be moved aside");
        if (!moved) return std::unexpected(moved.error());
    } else if (errno != ENOENT) {
        return std::unexpected(sys_error("cannot inspect", path));
    }
    std::random_device rd;
    std::string id;
    for (int i = 0; i < 4; ++i) id += fmt::format("{:08x}", rd());
    const std::string text = id + "\n";
    if (auto ok = replace_file_durably(path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
                                       0600);
        !ok)
        return std::unexpected(ok.error());
    return id;
}

}  // namespace zavo_ui::persist
