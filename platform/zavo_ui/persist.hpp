#pragma once
// The persisted document and the files under it: where they live, the append-only replica logs, the
// folder reader that follows every replica's log, and the folder watcher.
//
//   <data>/zavo/<app>/                 0700  the shared folder (a file-sync tool may replicate it)
//     changes/<actor>.log              0600  this replica's log; only this replica writes it
//     changes/<other>.log                    other replicas' logs, and conflict copies: input only
//     set-aside/<name>.<time>          0600  files found corrupt, moved here and never overwritten
//   <state>/zavo/<app>/document/       0700  this device only
//     actor                            0600  this replica's actor id (32 hex digits)
//     <actor>.log                      0600  a private copy of this replica's log
//
// A log is the magic "ZVDLOG01" followed by records: payload length (u32 LE), CRC-32 of the
// payload (u32 LE), payload. A record cut short at the end of a file is a torn tail: it is
// ignored, and read again once the file grows. Anything else that does not check out makes
// the file corrupt.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <thread>
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

inline constexpr std::string_view kLogMagic = "ZVDLOG01";
inline constexpr std::uint32_t kMaxRecord = 256u << 20;

enum class LogTail { Clean, Torn, Corrupt };

struct ParsedLog {
    std::vector<std::span<const std::uint8_t>> records;  // views into the parsed bytes
    std::size_t end = 0;  // offset just past the last complete record (or the magic)
    LogTail tail = LogTail::Clean;
    std::string problem;  // why the file is corrupt
};

// Parses `bytes`, which start at file offset `from` (0: the magic comes first).
ParsedLog parse_log(std::span<const std::uint8_t> bytes, std::size_t from = 0);
void append_record(Bytes& out, std::span<const std::uint8_t> payload);
// The magic followed by one record per payload.
Bytes encode_log(std::span<const Bytes> payloads);

// Creates every missing folder of `dir` with mode 0700 and sets `dir` itself to 0700.
std::expected<void, std::string> ensure_private_dir(const std::filesystem::path& dir);
std::expected<Bytes, std::string> read_file(const std::filesystem::path& path);
// Writes a temporary file beside `path` with `mode`, syncs it, renames it over `path` and
// syncs the folder: afterwards `path` holds either the old or the new bytes, durably.
std::expected<void, std::string> replace_file_durably(const std::filesystem::path& path,
                                                      std::span<const std::uint8_t> bytes, mode_t mode);
// Moves `path` into `dir` under a new name that overwrites nothing; returns that name.
std::expected<std::filesystem::path, std::string> set_aside(const std::filesystem::path& path,
                                                            const std::filesystem::path& dir);

// Reads the actor id from `dir`/actor, or makes a new random one and stores it. An unreadable
// id file is set aside and replaced.
std::expected<std::string, std::string> load_or_create_actor(const std::filesystem::path& dir);

// A log this process appends to. Each append is synced before it returns.
class AppendLog {
public:
    AppendLog() = default;
    AppendLog(AppendLog&&) noexcept;
    AppendLog& operator=(AppendLog&&) noexcept;
    AppendLog(const AppendLog&) = delete;
    AppendLog& operator=(const AppendLog&) = delete;
    ~AppendLog();

    // Replaces the file at `path` by a log of `payloads` and opens it for appending.
    static std::expected<AppendLog, std::string> create(const std::filesystem::path& path, std::span<const Bytes> payloads);
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
    int fd_ = -1;
    std::size_t end_ = 0;
};

// Follows every log in a folder of replica logs: each read returns the records that are new
// since the last read. Corrupt files give their readable records, then are set aside.
class FolderReader {
public:
    FolderReader(std::filesystem::path changes_dir, std::filesystem::path set_aside_dir, std::string skip_name);

    struct FileRead {
        std::string name;
        Bytes bytes;                       // the file's new bytes
        std::vector<std::pair<std::size_t, std::size_t>> records;  // (offset, length) in bytes
        bool from_start = false;
    };
    // New records of every file; `skip_name` is left out unless `include_skipped`.
    std::vector<FileRead> read_new(bool include_skipped = false);

private:
    struct Seen {
        dev_t dev = 0;
        ino_t ino = 0;
        std::size_t offset = 0;
        bool ignored = false;  // corrupt and could not be moved aside
    };
    std::filesystem::path dir_;
    std::filesystem::path set_aside_dir_;
    std::string skip_name_;
    std::map<std::string, Seen> seen_;
};

// Calls `wake` (on its own thread) after something in `dir` changed: through inotify, and by
// comparing the folder's listing every `poll_interval` where inotify misses events (network
// and FUSE file systems) or is not available.
class FolderWatcher {
public:
    enum class Mode { InotifyAndPolling, PollingOnly };
    FolderWatcher(std::filesystem::path dir, std::function<void()> wake,
                  std::chrono::milliseconds poll_interval = std::chrono::milliseconds(2000),
                  Mode mode = Mode::InotifyAndPolling);
    ~FolderWatcher();
    FolderWatcher(const FolderWatcher&) = delete;
    FolderWatcher& operator=(const FolderWatcher&) = delete;

    bool uses_inotify() const { return inotify_fd_ >= 0; }

private:
    void run();
    std::filesystem::path dir_;
    std::function<void()> wake_;
    std::chrono::milliseconds poll_interval_;
    int inotify_fd_ = -1;
    int stop_fd_ = -1;
    std::thread thread_;
};

}  // namespace zavo_ui::persist
