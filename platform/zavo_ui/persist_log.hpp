#pragma once
// The replica log: the magic "ZVDLOG01" followed by records: payload length (u32 LE), CRC-32 of
// the payload (u32 LE), payload (one automerge change chunk, never empty). A record cut short at
// the end of a file, or an end that reads as zeros (what a crash leaves of an unfinished write),
// is a torn tail: it is ignored, and read again once the file grows; no crash leaves more than one
// record's length of it. Anything else that does not check out is damage: the reader skips to the
// next whole record within that length, keeps every intact one, and the file counts as corrupt.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "posix_fd/unique_fd.hpp"
#include "zavo_ui/persist_files.hpp"

namespace zavo_ui::persist {

inline constexpr std::string_view kLogMagic = "ZVDLOG01";
inline constexpr std::uint32_t kMaxRecord = 256u << 20;

enum class LogTail { Clean, Torn, Corrupt };

struct ParsedLog {
    std::vector<std::span<const std::uint8_t>> records;  // every intact record: views into the parsed bytes
    std::size_t end = 0;                                 // offset just past the last complete record (or the magic)
    LogTail tail = LogTail::Clean;                       // Corrupt: damaged somewhere, the records around it kept
    std::string problem;                                 // where and how it is damaged
};

// Parses `bytes`, which start at file offset `from` (0: the magic comes first).
ParsedLog parse_log(std::span<const std::uint8_t> bytes, std::size_t from = 0);

// A log read from a file, its intact records copied out.
struct LogRead {
    Bytes bytes;                                               // the records' payloads, one after another
    std::vector<std::pair<std::size_t, std::size_t>> records;  // (offset, length) in bytes
    std::size_t end = 0;
    LogTail tail = LogTail::Clean;
    std::string problem;
};
// Reads the log in the open file `fd` from offset `from` to `size` as parse_log would, in
// pieces: besides its records it holds at most a piece of the file, or one record, at a time.
// Holes are passed over unread.
std::expected<LogRead, std::string> read_log(int fd, std::size_t from, std::size_t size,
                                             const std::filesystem::path& path);
void append_record(Bytes& out, std::span<const std::uint8_t> payload);
// The magic followed by one record per payload.
Bytes encode_log(std::span<const Bytes> payloads);

// A log this process appends to. Each append is synced before it returns.
class AppendLog {
public:
    AppendLog() = default;

    // Replaces the file at `path` by a log of `payloads` and opens it for appending.
    static std::expected<AppendLog, std::string> create(const std::filesystem::path& path,
                                                        std::span<const Bytes> payloads);
    // Opens an existing log whose complete records end at `end` (the file must be that long).
    static std::expected<AppendLog, std::string> open(const std::filesystem::path& path, std::size_t end);

    std::expected<void, std::string> append(std::span<const Bytes> payloads);
    // False when the path no longer names the file this log wrote, or the file's length is
    // not what this log wrote: something else replaced, cut or removed it.
    bool intact() const;
    std::size_t size() const { return end_; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    posix_fd::UniqueFd fd_;
    std::size_t end_ = 0;
};

}  // namespace zavo_ui::persist
