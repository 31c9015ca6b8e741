#include "atomic_file/atomic_file.hpp"

#include "posix_fd/unique_fd.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>

namespace atomic_file {

namespace {

std::error_code last_error() { return {errno, std::system_category()}; }

// Closes the descriptor and removes the temporary file unless kept.
struct TempFile {
    posix_fd::UniqueFd fd;
    std::filesystem::path path;
    bool keep = false;
    ~TempFile() {
        fd.reset();
        if (!keep && !path.empty()) ::unlink(path.c_str());
    }
};

std::string random_suffix() {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    static constexpr char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string s(12, '0');
    for (auto& c : s) c = kDigits[rng() % (sizeof(kDigits) - 1)];
    return s;
}

}  // namespace

std::expected<void, std::error_code> write_all(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(last_error());
        }
        written += static_cast<std::size_t>(n);
    }
    return {};
}

std::expected<void, std::error_code> sync_directory(const std::filesystem::path& dir) {
    posix_fd::UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return std::unexpected(last_error());
    if (::fsync(fd.get()) != 0) return std::unexpected(last_error());
    return {};
}

std::expected<void, std::error_code> write_with_mode(const std::filesystem::path& path,
                                                     std::span<const std::uint8_t> bytes, mode_t mode) {
    if (!path.has_filename()) return std::unexpected(std::make_error_code(std::errc::is_a_directory));
    std::filesystem::path dir = path.parent_path();
    if (dir.empty()) dir = ".";

    TempFile tmp;
    for (int attempt = 0; attempt < 100 && !tmp.fd; ++attempt) {
        std::filesystem::path candidate = dir / ("." + path.filename().string() + ".tmp-" + random_suffix());
        tmp.fd.reset(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode & 07777));
        if (tmp.fd) {
            tmp.path = candidate;
        } else if (errno != EEXIST) {
            return std::unexpected(last_error());
        }
    }
    if (!tmp.fd) return std::unexpected(std::make_error_code(std::errc::file_exists));
    // The creation mode went through the umask; set it exactly.
    if (::fchmod(tmp.fd.get(), mode & 07777) != 0) return std::unexpected(last_error());

    if (auto ok = write_all(tmp.fd.get(), bytes); !ok) return ok;
    if (::fsync(tmp.fd.get()) != 0) return std::unexpected(last_error());
    if (tmp.fd.close() != 0) return std::unexpected(last_error());
    if (::rename(tmp.path.c_str(), path.c_str()) != 0) return std::unexpected(last_error());
    tmp.keep = true;
    return sync_directory(dir);
}

}  // namespace atomic_file
