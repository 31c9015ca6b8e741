#pragma once
// The persisted document: one application's replicated document kept in a folder of replica
// logs (persist_log.hpp) that other devices' replicas write too (persist_folder.hpp).
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
#include "crdt/document.hpp"
#include "posix_fd/unique_fd.hpp"
#include "zavo_ui/persist_files.hpp"
#include "zavo_ui/persist_folder.hpp"
#include "zavo_ui/persist_log.hpp"

#include <cstddef>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zavo_ui::persist {

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
// in the private copy and writes the log out as soon as the folder can be written. Where the
// private copy cannot be written (its disk full), this replica's log in the shared folder keeps
// the changes, as a restart reads it too, and the private copy takes them up once it can.
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

    // Appends this replica's changes made since the last save to its private copy and to its
    // log in the shared folder, and syncs them; true when either took new ones. Succeeds when
    // either holds every change; otherwise the changes stay pending, the next call tries again,
    // and the error says why the private copy cannot take them.
    std::expected<bool, std::string> save_changes();
    // Why this replica's log cannot be written to the shared folder; empty when it can.
    const std::string& shared_problem() const { return shared_problem_; }
    // Why the private copy cannot be written; empty when it can.
    const std::string& private_problem() const { return private_problem_; }
    // Merges what other replicas appended since the last look, then saves; true when the
    // document changed.
    bool merge_from_folder();
    // Called on the watcher's thread when the folder changed; the owner then calls
    // merge_from_folder() on its own thread. Setting another listener (or none) waits for a
    // call of the old one that is running: once it returns, the old one is never called again.
    void set_change_listener(std::function<void()> listener);

    // The log size from which it is rewritten (then twice the size it was rewritten at).
    static constexpr std::size_t kCompactAt = 4u << 20;

private:
    friend std::expected<std::unique_ptr<PersistedDocument>, std::string> open_at(const Locations&);
    PersistedDocument() = default;
    // Opening, once the lock is held: starts reading and watching the folder of logs; once the
    // document is read from the private copy, merges every log in the folder, this replica's
    // own and conflict copies included, and says whether this replica's log in it holds just
    // what the private copy does; opens both logs for appending, writing either whole where it
    // must (`private_size` is the length of a private copy found intact), and saves.
    void follow_folder();
    bool merge_folder_at_open(std::span<const std::span<const std::uint8_t>> private_records);
    std::expected<void, std::string> open_logs(bool private_intact, std::size_t private_size,
                                               std::vector<crdt::ChangeHash> logged_heads, bool shared_same,
                                               std::string shared_problem);
    std::filesystem::path private_path() const;
    std::filesystem::path shared_path() const;
    // The changes not in the history of `heads`, as log payloads.
    std::vector<Bytes> changes_since(std::span<const crdt::ChangeHash> heads);
    // Writes the private copy whole; the shared log is then written whole too.
    std::expected<void, std::string> rewrite_private();
    std::expected<void, std::string> write_shared();
    // Bring the private copy and the shared log up to `heads`: append what they lack (`fresh`,
    // and `lacking` when known), or write them whole. True when they took anything; a failure
    // is kept as their problem.
    std::expected<bool, std::string> save_private(const std::vector<crdt::ChangeHash>& heads,
                                                  std::span<const Bytes> fresh);
    bool sync_shared(const std::vector<crdt::ChangeHash>& heads, std::optional<std::span<const Bytes>> lacking);
    void shared_unwritable(const std::string& why);

    posix_fd::UniqueFd lock_;  // a lock held while open (one process per replica), let go with it
    Locations locations_;
    std::string actor_;
    crdt::Document doc_;
    std::unique_ptr<FolderReader> reader_;
    AppendLog shared_log_;  // not open while it cannot be written
    AppendLog private_log_;
    std::vector<crdt::ChangeHash> saved_heads_;   // what the private copy holds
    std::vector<crdt::ChangeHash> shared_heads_;  // what the shared log holds, while it is open
    std::size_t compact_at_ = kCompactAt;
    std::string private_problem_;
    std::string shared_problem_;
    std::mutex listener_mutex_;  // held while the listener runs
    std::function<void()> listener_;
    std::unique_ptr<FolderWatcher> watcher_;
};

// Opens the document of an application at default_locations of its short name (the last
// dot-separated part of a reverse-domain id: "remote" for "dev.zavo.remote"), creating the
// folders and files that are missing.
std::expected<std::unique_ptr<PersistedDocument>, std::string> open(std::string_view app_id);
std::expected<std::unique_ptr<PersistedDocument>, std::string> open_at(const Locations& locations);

}  // namespace zavo_ui::persist
