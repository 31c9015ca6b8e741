#pragma once
// The persisted document and the files under it: where they live, the append-only replica
// logs, the folder reader that follows every replica's log, and the folder watcher.
//
//   <data>/zavo/<app>/                 0700  the shared folder (a file-sync tool may replicate it)
//     changes/<actor>.log              0600  this replica's log; only this replica writes it
//     changes/<other>.log                    other replicas' logs, and conflict copies: input only
//     set-aside/<name>.<time>                files found corrupt, moved here and never overwritten
//   <state>/zavo/<app>/document/       0700  this device only
//     actor                            0600  this replica's actor id (32 hex digits)
//     <actor>.log                      0600  a private copy of this replica's log
//     lock                             0600  held by the process that has the replica open
//     set-aside/                             its own unreadable files
//
// A log is the magic "ZVDLOG01" followed by records: payload length (u32 LE), CRC-32 of the
// payload (u32 LE), payload (one automerge change chunk, never empty). A record cut short at the
// end of a file, or an end that reads as zeros (what a crash leaves of an unfinished write), is
// a torn tail: it is ignored, and read again once the file grows. Anything else that does not
// check out is damage: the reader skips to the next whole record, keeps every intact one, and
// the file counts as corrupt.
#include "crdt/document.hpp"

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
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
    std::vector<std::span<const std::uint8_t>> records;  // every intact record: views into the parsed bytes
    std::size_t end = 0;  // offset just past the last complete record (or the magic)
    LogTail tail = LogTail::Clean;  // Corrupt: damaged somewhere, the records around it kept
    std::string problem;            // where and how it is damaged
};

// Parses `bytes`, which start at file offset `from` (0: the magic comes first).
ParsedLog parse_log(std::span<const std::uint8_t> bytes, std::size_t from = 0);
void append_record(Bytes& out, std::span<const std::uint8_t> payload);
// The magic followed by one record per payload.
Bytes encode_log(std::span<const Bytes> payloads);

// Creates every missing folder of `dir` with mode 0700 and sets `dir` itself to 0700.
std::expected<void, std::string> ensure_private_dir(const std::filesystem::path& dir);
std::expected<Bytes, std::string> read_file(const std::filesystem::path& path);
// Replaces `path` in one durable step (atomic_file::write_with_mode) with an error text.
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
    int fd_ = -1;
    std::size_t end_ = 0;
};

// Follows every log in a folder of replica logs: each read returns the records that are new
// since the last read. A damaged file gives its intact records, then is set aside; where it
// cannot be moved, the damage is reported once and the file is still followed.
class FolderReader {
public:
    FolderReader(std::filesystem::path changes_dir, std::filesystem::path set_aside_dir, std::string skip_name);

    struct FileRead {
        std::string name;
        Bytes bytes;                                               // the file's new bytes
        std::vector<std::pair<std::size_t, std::size_t>> records;  // (offset, length) in bytes
        bool from_start = false;
        bool set_aside = false;  // found damaged and moved
    };
    // New records of every file; `skip_name` is left out unless `include_skipped`.
    std::vector<FileRead> read_new(bool include_skipped = false);
    // Moves the file last read as `name` aside for `problem` (a damage its framing does not
    // show, such as a record that holds no change), reporting it once; true when it was moved.
    bool set_aside_damaged(const std::string& name, std::string_view problem, std::size_t intact);

private:
    struct Seen {
        dev_t dev = 0;
        ino_t ino = 0;
        std::size_t offset = 0;  // where the next read starts
        std::size_t size = 0;    // the size and time of the last read: unchanged files are not read
        timespec mtime{};
        bool reported = false;  // unreadable or damaged, and said so
    };
    std::filesystem::path dir_;
    std::filesystem::path set_aside_dir_;
    std::string skip_name_;
    std::map<std::string, Seen> seen_;
    std::string list_error_;  // the last reason the folder could not be listed
};

// Calls `wake` (on its own thread) after something in `dir` changed: through inotify, and by
// comparing the folder's listing every `poll_interval` where inotify misses events (network
// and FUSE file systems) or is not available. The listing holds the owner and permissions of
// `dir` and of the folder holding it, so that `dir` being made, or made writable, wakes too.
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
    // Name, size, modification time and inode of every entry, as polling compares them.
    std::string listing() const;
    std::filesystem::path dir_;
    std::function<void()> wake_;
    std::chrono::milliseconds poll_interval_;
    int inotify_fd_ = -1;
    int stop_fd_ = -1;
    std::string first_listing_;  // taken before the thread starts
    std::thread thread_;
};

// Closes its descriptor, which releases a lock held on it.
struct FileLock {
    int fd = -1;
    FileLock() = default;
    explicit FileLock(int f) : fd(f) {}
    FileLock(FileLock&& o) noexcept : fd(std::exchange(o.fd, -1)) {}
    FileLock& operator=(FileLock&& o) noexcept {
        std::swap(fd, o.fd);
        return *this;
    }
    ~FileLock();
};

// The document of one application, kept in its folder. Opening reads this replica's log, its
// private copy and every other log in the folder (conflict copies included) and merges them.
// This replica's new changes are appended to its private copy and its log and synced by
// save_changes(); what other replicas write is merged by merge_from_folder(), which the
// listener's call announces.
// A replica's log holds every change the replica has seen, its own and the ones it merged,
// so that a log set aside or lost elsewhere takes nothing away that this replica had read.
// It is rewritten in one step when it grows large, and whenever it no longer holds what this
// replica wrote: cut, corrupt, removed, replaced or rolled back by a file-sync tool.
// Where the shared folder cannot be written (read-only, another user's, not a folder), the
// document opens from what can be read, says so once in the log, keeps this device's changes
// in the private copy and writes the log out as soon as the folder can be written.
// Only one process at a time opens a replica. All calls are made on one thread, apart from
// the listener's.
class PersistedDocument {
public:
    ~PersistedDocument();  // saves what is not saved yet
    PersistedDocument(const PersistedDocument&) = delete;
    PersistedDocument& operator=(const PersistedDocument&) = delete;

    crdt::Document& document() { return doc_; }
    const Locations& locations() const { return locations_; }
    const std::string& actor() const { return actor_; }

    // Appends this replica's changes made since the last save to its private copy and syncs
    // them; true when there were any. On failure they stay pending and the next call tries
    // again. The shared log follows, or is written out once the folder can be written.
    std::expected<bool, std::string> save_changes();
    // Why this replica's log cannot be written to the shared folder; empty when it can.
    const std::string& shared_problem() const { return shared_problem_; }
    // Merges what other replicas appended since the last look, then saves; true when the
    // document changed.
    bool merge_from_folder();
    // Called on the watcher's thread when the folder changed; the owner then calls
    // merge_from_folder() on its own thread.
    void set_change_listener(std::function<void()> listener);

    // The log size from which it is rewritten (then twice the size it was rewritten at).
    static constexpr std::size_t kCompactAt = 4u << 20;

private:
    friend std::expected<std::unique_ptr<PersistedDocument>, std::string> open_at(const Locations&);
    PersistedDocument() = default;
    std::filesystem::path private_path() const;
    std::filesystem::path shared_path() const;
    std::vector<Bytes> all_changes();
    // Writes the private copy whole; the shared log is then written whole too.
    std::expected<void, std::string> rewrite_private();
    std::expected<void, std::string> write_shared();
    // Brings the shared log up to the private copy: appends `fresh`, or writes it whole.
    void sync_shared(std::span<const Bytes> fresh);
    void shared_unwritable(const std::string& why);

    FileLock lock_;  // held while open: one process per replica
    Locations locations_;
    std::string actor_;
    crdt::Document doc_;
    std::unique_ptr<FolderReader> reader_;
    AppendLog shared_log_;   // not open while it cannot be written
    AppendLog private_log_;
    std::vector<crdt::ChangeHash> saved_heads_;  // what the private copy holds
    std::size_t compact_at_ = kCompactAt;
    bool reported_failure_ = false;
    std::string shared_problem_;
    std::mutex listener_mutex_;
    std::function<void()> listener_;
    std::unique_ptr<FolderWatcher> watcher_;
};

// Opens the document of an application at default_locations of its short name (the last
// dot-separated part of a reverse-domain id: "remote" for "dev.zavo.remote"), creating the
// folders and files that are missing.
std::expected<std::unique_ptr<PersistedDocument>, std::string> open(std::string_view app_id);
std::expected<std::unique_ptr<PersistedDocument>, std::string> open_at(const Locations& locations);

}  // namespace zavo_ui::persist
