#pragma once
// Replaces a file's whole content in one step: a reader sees the old file or the new one,
// never a mix, and a failed write leaves the old file as it was.
#include <sys/types.h>

#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <string_view>
#include <system_error>

namespace atomic_file {

// Writes `bytes` to a temporary file created exclusively next to `path` with exactly `mode`
// (whatever the umask), flushes it to disk, renames it over `path` and flushes the directory.
// On failure the temporary file is removed and the operating system's error is returned.
std::expected<void, std::error_code> write_with_mode(const std::filesystem::path& path,
                                                     std::span<const std::uint8_t> bytes, mode_t mode);

inline std::expected<void, std::error_code> write_with_mode(const std::filesystem::path& path, std::string_view bytes,
                                                            mode_t mode) {
    return write_with_mode(path, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), mode);
}

// Writes all of `bytes` to `fd`, going on after short writes and interruptions.
std::expected<void, std::error_code> write_all(int fd, std::span<const std::uint8_t> bytes);
// Flushes the directory's entries (a rename or a new name in it) to disk.
std::expected<void, std::error_code> sync_directory(const std::filesystem::path& dir);

}  // namespace atomic_file
