#pragma once
// The folder of replica logs, as other replicas write it: a reader that follows every log in
// it, and a watcher that says when something in it changed.
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "posix_fd/unique_fd.hpp"
#include "zavo_ui/persist_files.hpp"

namespace zavo_ui::persist {

// Follows every log in a folder of replica logs: each read returns the records that are new
// since the last read, reading each file a piece at a time. A damaged file gives its intact
// records, then is set aside; where it cannot be moved, the damage is reported once and the
// file is still followed.
class FolderReader {
public:
    FolderReader(std::filesystem::path changes_dir, std::filesystem::path set_aside_dir, std::string skip_name);

    struct FileRead {
        std::string name;
        Bytes bytes;                                               // the new records' payloads
        std::vector<std::pair<std::size_t, std::size_t>> records;  // (offset, length) in bytes
        bool from_start = false;
        bool clean = false;      // whole records up to the end
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

    bool uses_inotify() const { return static_cast<bool>(inotify_fd_); }

private:
    void run();
    // Name, size, modification time and inode of every entry, as polling compares them.
    std::string listing() const;
    std::filesystem::path dir_;
    std::function<void()> wake_;
    std::chrono::milliseconds poll_interval_;
    posix_fd::UniqueFd inotify_fd_;
    posix_fd::UniqueFd stop_fd_;
    std::string first_listing_;  // taken before the thread starts
    std::thread thread_;
};

}  // namespace zavo_ui::persist
