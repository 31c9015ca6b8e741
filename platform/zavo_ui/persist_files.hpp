#pragma once
// The files under a persisted document: where they live, private folders, reading a file
// whole, replacing one durably, setting a damaged one aside, and this replica's actor id.
#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zavo_ui::persist {

using Bytes = std::vector<std::uint8_t>;

struct Locations {
    std::filesystem::path folder;       // shared
    std::filesystem::path private_dir;  // this device only
};

// $XDG_DATA_HOME (else ~/.local/share) and $XDG_STATE_HOME (else ~/.local/state), each
// followed by zavo/<app>; relative XDG values are ignored as the XDG rules say.
std::expected<Locations, std::string> default_locations(std::string_view app);

// Makes every missing folder of `dir` with mode 0700.
std::expected<void, std::string> make_folders(const std::filesystem::path& dir);
// Creates every missing folder of `dir` with mode 0700 and sets `dir` itself to 0700.
std::expected<void, std::string> ensure_private_dir(const std::filesystem::path& dir);
std::expected<Bytes, std::string> read_file(const std::filesystem::path& path);
// Reads the bytes of an open file from `offset` to its end.
std::expected<Bytes, std::string> read_from(int fd, std::size_t offset, const std::filesystem::path& path);
// Replaces `path` in one durable step (atomic_file::write_with_mode) with an error text.
std::expected<void, std::string> replace_file_durably(const std::filesystem::path& path,
                                                      std::span<const std::uint8_t> bytes, mode_t mode);
// Moves `path` into `dir` under a new name that overwrites nothing; returns that name.
std::expected<std::filesystem::path, std::string> set_aside(const std::filesystem::path& path,
                                                            const std::filesystem::path& dir);

// Reads the actor id from `dir`/actor, or makes a new random one and stores it. An unreadable
// id file is set aside and replaced.
std::expected<std::string, std::string> load_or_create_actor(const std::filesystem::path& dir);

// The text of an errno value, and "{what} {path}: {text}" for a failed call.
std::string errno_text(int err);
std::string sys_error(std::string_view what, const std::filesystem::path& path, int err = errno);
// The system's own words that end an error such as sys_error makes ("No space left on
// device"): what follows its last ": ", or the whole error when there is none.
std::string_view error_cause(std::string_view error);

}  // namespace zavo_ui::persist
