#include "zavo_ui/persist.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <unordered_set>
#include <utility>

namespace zavo_ui::persist {

namespace fs = std::filesystem;

namespace {

// The changes in one record: a single change chunk, or several (a log written elsewhere);
// nullopt when it holds none. A record that does not start as every chunk does holds none,
// found without a document made to load it.
std::optional<std::vector<crdt::Change>> changes_of(std::span<const std::uint8_t> payload) {
    static constexpr std::uint8_t kChunkMagic[] = {0x85, 0x6f, 0x4a, 0x83};
    if (payload.size() < sizeof kChunkMagic || !std::ranges::equal(payload.first(sizeof kChunkMagic), kChunkMagic))
        return std::nullopt;
    if (auto one = crdt::Change::from_bytes(payload)) return std::vector<crdt::Change>{std::move(*one)};
    // Loaded as Document::load does, by a document that makes no change and so needs no actor
    // drawn at random.
    crdt::Document many(crdt::ActorId({1}));
    if (many.load_incremental(payload) && many.queued_changes() == 0) {
        auto changes = many.get_changes({});
        if (!changes.empty()) return changes;
    }
    return std::nullopt;
}

// Applies the changes, one at a time after the first refusal so that one bad change costs
// only itself.
void apply_changes(crdt::Document& doc, std::span<const crdt::Change> changes) {
    if (changes.empty() || doc.apply_changes(changes)) return;
    for (const crdt::Change& c : changes)
        if (auto ok = doc.apply_changes(std::span(&c, 1)); !ok)
            spdlog::warn("document: skipped change {}: {}", c.hash().to_hex(), ok.error().message);
}

// The private copy's records, in one load when they fit together; `damaged` is set when a
// record holds no change.
crdt::Document load_records(std::span<const std::span<const std::uint8_t>> records, bool& damaged) {
    Bytes all;
    for (auto rec : records) all.insert(all.end(), rec.begin(), rec.end());
    if (auto loaded = crdt::Document::load(all)) return std::move(*loaded);
    crdt::Document doc;
    std::vector<crdt::Change> changes;
    for (auto rec : records) {
        auto found = changes_of(rec);
        if (!found)
            damaged = true;
        else
            changes.insert(changes.end(), found->begin(), found->end());
    }
    apply_changes(doc, changes);
    return doc;
}

// The changes of the records that `seen` does not hold yet, each record once; a file holding
// a record that is no change is set aside by `reader`. Returns the names of files set aside.
std::vector<std::string> take_changes(const std::vector<FolderReader::FileRead>& reads, FolderReader& reader,
                                      std::unordered_set<std::string_view>& seen, std::vector<crdt::Change>& out) {
    std::vector<std::string> moved;
    for (const auto& r : reads) {
        std::size_t bad_here = 0;
        for (auto [off, len] : r.records) {
            const std::string_view key(reinterpret_cast<const char*>(r.bytes.data() + off), len);
            if (seen.contains(key)) continue;
            // A record that holds no change is not kept: it costs its reading, not memory.
            if (auto found = changes_of(std::span(r.bytes).subspan(off, len))) {
                seen.insert(key);
                out.insert(out.end(), found->begin(), found->end());
            } else {
                ++bad_here;
            }
        }
        if (bad_here != 0 && !r.set_aside &&
            reader.set_aside_damaged(r.name, fmt::format("{} of its records hold no change", bad_here),
                                     r.records.size() - bad_here))
            moved.push_back(r.name);
    }
    return moved;
}

// Moves whatever stands at `path` into `dir` unless it is a regular file (or nothing); true
// when a regular file stands there.
std::expected<bool, std::string> move_aside_unless_file(const fs::path& path, const fs::path& dir) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return false;
        return std::unexpected(sys_error("cannot inspect", path));
    }
    if (S_ISREG(st.st_mode)) return true;
    auto moved = set_aside(path, dir);
    if (!moved) return std::unexpected(fmt::format("{} is not a file and {}", path.string(), moved.error()));
    spdlog::error("document: {} is not a file; it was moved to {}", path.string(), moved->string());
    return false;
}

// Makes a folder of the shared tree where it is missing, moves a file standing in its place
// aside, and takes group and other access away from one this user owns. A folder of another
// user is left as it is.
std::expected<void, std::string> prepare_shared_dir(const fs::path& dir, const fs::path& aside) {
    if (auto ok = make_folders(dir); !ok) return ok;
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) return std::unexpected(sys_error("cannot inspect folder", dir));
    if (!S_ISDIR(st.st_mode)) {
        auto moved = set_aside(dir, aside);
        if (!moved) return std::unexpected(fmt::format("{} is not a folder and {}", dir.string(), moved.error()));
        spdlog::error("document: {} is not a folder; it was moved to {}", dir.string(), moved->string());
        if (::mkdir(dir.c_str(), 0700) != 0) return std::unexpected(sys_error("cannot create folder", dir));
        return {};
    }
    if (st.st_uid == ::geteuid() && (st.st_mode & 077) != 0 && ::chmod(dir.c_str(), st.st_mode & 0700) != 0)
        spdlog::warn("document: cannot make {} private: {}", dir.string(), errno_text(errno));
    return {};
}

// Why nothing can be written in `dir`, if so.
std::optional<std::string> unwritable(const fs::path& dir) {
    if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0) return std::nullopt;
    const int err = errno;
    struct stat st {};
    if (err == EACCES && ::stat(dir.c_str(), &st) == 0 && st.st_uid != ::geteuid())
        return fmt::format("{} belongs to another user and this user may not write in it", dir.string());
    return sys_error("cannot write in", dir, err);
}

}  // namespace

std::expected<std::unique_ptr<PersistedDocument>, std::string> open(std::string_view app_id) {
    const std::string_view app = app_id.substr(app_id.rfind('.') + 1);
    if (app.empty() || app.find('/') != std::string_view::npos)
        return std::unexpected(fmt::format("no application name in \"{}\"", app_id));
    auto locations = default_locations(app);
    if (!locations) return std::unexpected(locations.error());
    return open_at(*locations);
}

namespace {

// Takes the replica's lock: one process per replica, as two writing as the same actor would
// undo each other's log.
std::expected<posix_fd::UniqueFd, std::string> lock_replica(const fs::path& private_dir,
                                                            const fs::path& private_aside) {
    const fs::path lock_path = private_dir / "lock";
    if (auto ok = move_aside_unless_file(lock_path, private_aside); !ok) return std::unexpected(ok.error());
    posix_fd::UniqueFd lock(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!lock) return std::unexpected(sys_error("cannot open", lock_path));
    if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return std::unexpected(
                fmt::format("the document is already open in another process (it holds {})", lock_path.string()));
        return std::unexpected(sys_error("cannot lock", lock_path));
    }
    return lock;
}

// Makes the shared folder and its changes folder where they are missing.
std::expected<void, std::string> prepare_shared_folder(const Locations& locations) {
    const fs::path aside = locations.folder / "set-aside";
    for (const fs::path& dir : {locations.folder, locations.folder / "changes"})
        if (auto ok = prepare_shared_dir(dir, aside); !ok) return ok;
    return {};
}

// This replica's private copy of its log, which no file-sync tool touches: its bytes and its
// records (views into the bytes).
struct PrivateCopy {
    bool found = false;  // false: there is none yet
    Bytes bytes;
    ParsedLog log;
};

std::expected<PrivateCopy, std::string> read_private_copy(const fs::path& path, const fs::path& aside) {
    auto exists = move_aside_unless_file(path, aside);
    if (!exists) return std::unexpected(exists.error());
    PrivateCopy copy;
    if (!*exists) return copy;
    auto read = read_file(path);
    if (!read) return std::unexpected(read.error());
    copy.found = true;
    copy.bytes = std::move(*read);
    copy.log = parse_log(copy.bytes);
    return copy;
}

// The document the private copy's records make. A damaged copy is set aside where it can be
// and `damaged` is set: it is to be written whole again.
crdt::Document load_private_copy(const PrivateCopy& copy, const fs::path& path, const fs::path& aside, bool& damaged) {
    damaged = copy.log.tail == LogTail::Corrupt;
    crdt::Document doc = load_records(copy.log.records, damaged);
    if (damaged) {
        auto moved = set_aside(path, aside);
        spdlog::error("document: {} is damaged ({}); its intact records were read and {}", path.string(),
                      copy.log.problem.empty() ? std::string("a record holds no change") : copy.log.problem,
                      moved ? "the file was moved to " + moved->string()
                            : "the file is replaced, as it could not be moved aside (" + moved.error() + ")");
    }
    return doc;
}

}  // namespace

std::expected<std::unique_ptr<PersistedDocument>, std::string> open_at(const Locations& locations) {
    // This device's own state: without it there is no replica to open.
    if (auto ok = ensure_private_dir(locations.private_dir); !ok) return std::unexpected(ok.error());
    const fs::path private_aside = locations.private_dir / "set-aside";
    auto lock = lock_replica(locations.private_dir, private_aside);
    if (!lock) return std::unexpected(lock.error());
    auto actor = load_or_create_actor(locations.private_dir);
    if (!actor) return std::unexpected(actor.error());
    auto actor_id = crdt::ActorId::from_hex(*actor);
    if (!actor_id) return std::unexpected(actor_id.error().message);

    std::unique_ptr<PersistedDocument> self(new PersistedDocument());
    self->lock_ = std::move(*lock);
    self->locations_ = locations;
    self->actor_ = *actor;

    // The shared folder: whatever is wrong with it, the document opens from what can be read.
    std::string shared_problem;
    if (auto ok = prepare_shared_folder(locations); !ok) shared_problem = ok.error();
    self->follow_folder();

    auto copy = read_private_copy(self->private_path(), private_aside);
    if (!copy) return std::unexpected(copy.error());
    bool damaged = false;
    self->doc_ = load_private_copy(*copy, self->private_path(), private_aside, damaged);
    // What the private copy already holds; everything else is appended below.
    std::vector<crdt::ChangeHash> logged_heads = self->doc_.get_heads();
    const bool shared_same = self->merge_folder_at_open(copy->log.records);
    self->doc_.set_actor(std::move(*actor_id));

    const bool private_intact = copy->found && copy->log.tail == LogTail::Clean && !damaged;
    if (auto ok = self->open_logs(private_intact, copy->bytes.size(), std::move(logged_heads), shared_same,
                                  shared_problem);
        !ok)
        return std::unexpected(ok.error());
    return self;
}

void PersistedDocument::follow_folder() {
    const fs::path changes = locations_.folder / "changes";
    reader_ = std::make_unique<FolderReader>(changes, locations_.folder / "set-aside", actor_ + ".log");
    // Watching starts before the folder is read: its first look at the listing is older than
    // what is read then, so a change made meanwhile is announced.
    watcher_ = std::make_unique<FolderWatcher>(changes, [this] {
        std::lock_guard lock(listener_mutex_);
        if (listener_) listener_();
    });
}

bool PersistedDocument::merge_folder_at_open(std::span<const std::span<const std::uint8_t>> private_records) {
    const std::string own = actor_ + ".log";
    std::vector<FolderReader::FileRead> reads = reader_->read_new(/*include_skipped=*/true);
    bool shared_same = false;
    std::unordered_set<std::string_view> seen;
    for (auto rec : private_records) seen.emplace(reinterpret_cast<const char*>(rec.data()), rec.size());
    // Whole records to its end, the private copy's: the same bytes.
    const auto same_records = [&](const FolderReader::FileRead& r) {
        return std::ranges::equal(r.records, private_records, [&](auto rec, auto mine) {
            return std::ranges::equal(std::span(r.bytes).subspan(rec.first, rec.second), mine);
        });
    };
    for (const auto& r : reads)
        if (r.name == own) shared_same = !r.set_aside && r.from_start && r.clean && same_records(r);
    std::vector<crdt::Change> others;
    for (const std::string& name : take_changes(reads, *reader_, seen, others))
        if (name == own) shared_same = false;
    apply_changes(doc_, others);
    return shared_same;
}

std::expected<void, std::string> PersistedDocument::open_logs(bool private_intact, std::size_t private_size,
                                                              std::vector<crdt::ChangeHash> logged_heads,
                                                              bool shared_same, std::string shared_problem) {
    // The private copy must take this replica's changes; the shared log follows where it may.
    if (private_intact) {
        if (auto mine = AppendLog::open(private_path(), private_size)) {
            private_log_ = std::move(*mine);
            compact_at_ = std::max(kCompactAt, 2 * private_size);
            saved_heads_ = std::move(logged_heads);
        } else {
            private_intact = false;
        }
    }
    if (!private_intact)
        if (auto ok = rewrite_private(); !ok) return ok;
    // Whatever stands in place of the shared log is moved aside when it is written whole.
    if (shared_problem.empty() && private_intact && shared_same)
        if (auto shared = AppendLog::open(shared_path(), private_size)) {
            shared_log_ = std::move(*shared);
            shared_heads_ = saved_heads_;
        }
    if (!shared_problem.empty()) shared_unwritable(shared_problem);
    if (auto ok = save_changes(); !ok) return std::unexpected(ok.error());
    return {};
}

PersistedDocument::~PersistedDocument() {
    watcher_.reset();
    if (auto saved = save_changes(); !saved)
        spdlog::error("document: changes made before closing could not be saved: {}", saved.error());
}

void PersistedDocument::set_change_listener(std::function<void()> listener) {
    std::lock_guard lock(listener_mutex_);
    listener_ = std::move(listener);
}

fs::path PersistedDocument::private_path() const { return locations_.private_dir / (actor_ + ".log"); }

fs::path PersistedDocument::shared_path() const { return locations_.folder / "changes" / (actor_ + ".log"); }

std::vector<Bytes> PersistedDocument::changes_since(std::span<const crdt::ChangeHash> heads) {
    std::vector<Bytes> payloads;
    for (const crdt::Change& c : doc_.get_changes(heads))
        payloads.emplace_back(c.raw_bytes().begin(), c.raw_bytes().end());
    return payloads;
}

std::expected<void, std::string> PersistedDocument::rewrite_private() {
    auto mine = AppendLog::create(private_path(), changes_since({}));
    if (!mine) return std::unexpected(mine.error());
    private_log_ = std::move(*mine);
    compact_at_ = std::max(kCompactAt, 2 * private_log_.size());
    saved_heads_ = doc_.get_heads();
    shared_log_ = AppendLog();  // written whole again too
    return {};
}

std::expected<void, std::string> PersistedDocument::write_shared() {
    if (auto ok = prepare_shared_folder(locations_); !ok) return ok;
    if (auto why = unwritable(locations_.folder / "changes")) return std::unexpected(*why);
    if (auto ok = move_aside_unless_file(shared_path(), locations_.folder / "set-aside"); !ok)
        return std::unexpected(ok.error());
    auto shared = AppendLog::create(shared_path(), changes_since({}));
    if (!shared) return std::unexpected(shared.error());
    shared_log_ = std::move(*shared);
    shared_heads_ = doc_.get_heads();
    return {};
}

void PersistedDocument::shared_unwritable(const std::string& why) {
    if (shared_problem_.empty())
        spdlog::error(
            "document: the shared folder {} is read-only for this device ({}); other devices' changes are read from "
            "it, and this device's changes are kept in {} until they can be written there",
            locations_.folder.string(), why, private_path().string());
    shared_problem_ = why;
}

bool PersistedDocument::sync_shared(const std::vector<crdt::ChangeHash>& heads,
                                    std::optional<std::span<const Bytes>> lacking) {
    std::expected<void, std::string> ok;
    if (shared_log_.intact() && shared_log_.size() <= compact_at_) {
        if (heads == shared_heads_) return false;
        ok = lacking ? shared_log_.append(*lacking) : shared_log_.append(changes_since(shared_heads_));
        if (ok)
            shared_heads_ = heads;
        else
            shared_log_ = AppendLog();  // written whole next time
    } else {
        if (shared_problem_.empty() && shared_log_.size() != 0 && shared_log_.size() <= compact_at_)
            spdlog::warn(
                "document: this replica's log in the shared folder was changed by something else; writing it "
                "again");
        shared_heads_.clear();  // what it holds is not known until it is written whole
        ok = write_shared();
    }
    if (!ok) {
        shared_unwritable(ok.error());
        return false;
    }
    if (!shared_problem_.empty())
        spdlog::info("document: the shared folder {} can be written again; this device's changes were written to it",
                     locations_.folder.string());
    shared_problem_.clear();
    return true;
}

std::expected<bool, std::string> PersistedDocument::save_private(const std::vector<crdt::ChangeHash>& heads,
                                                                 std::span<const Bytes> fresh) {
    if (heads == saved_heads_) return false;
    std::expected<void, std::string> ok;
    const bool intact = private_log_.intact();
    if (!intact || private_log_.size() > compact_at_) {
        if (!intact)
            spdlog::warn("document: this replica's private log was changed by something else; writing it again");
        ok = rewrite_private();
    } else {
        ok = private_log_.append(fresh);
    }
    if (!ok) {
        if (private_problem_.empty())
            spdlog::error(
                "document: cannot save changes in this device's copy: {}; its log in the shared folder {} "
                "keeps them where it can",
                ok.error(), locations_.folder.string());
        private_problem_ = ok.error();
        return std::unexpected(ok.error());
    }
    if (!private_problem_.empty())
        spdlog::info("document: this device's copy {} can be written again", private_path().string());
    private_problem_.clear();
    saved_heads_ = heads;
    return true;
}

std::expected<bool, std::string> PersistedDocument::save_changes() {
    const std::vector<crdt::ChangeHash> heads = doc_.get_heads();
    std::vector<Bytes> fresh;  // what the private copy lacks, and the shared log too when it holds the same
    if (heads != saved_heads_) fresh = changes_since(saved_heads_);
    const bool same = shared_heads_ == saved_heads_;
    // The private copy first; once it, or the shared log, holds the changes, they are saved.
    const auto kept = save_private(heads, fresh);
    const bool shared = sync_shared(heads, same ? std::optional<std::span<const Bytes>>(fresh) : std::nullopt);
    if (!kept && shared_heads_ != heads) return std::unexpected(kept.error());
    return kept.value_or(false) || shared;
}

bool PersistedDocument::merge_from_folder() {
    std::vector<FolderReader::FileRead> reads = reader_->read_new();
    std::unordered_set<std::string_view> seen;
    std::vector<crdt::Change> changes;
    take_changes(reads, *reader_, seen, changes);
    const auto before = doc_.get_heads();
    apply_changes(doc_, changes);
    // This replica's log keeps every change it has seen: a file set aside, or removed,
    // loses nothing that was read from it.
    if (auto saved = save_changes(); !saved) spdlog::warn("document: merged changes are not saved yet");
    return doc_.get_heads() != before;
}

}  // namespace zavo_ui::persist
