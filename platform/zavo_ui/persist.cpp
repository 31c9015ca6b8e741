#include "zavo_ui/persist.hpp"

#include "atomic_file/atomic_file.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>
#include <spdlog/spdlog.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <system_error>
#include <unordered_set>
#include <utility>

namespace zavo_ui::persist {

namespace fs = std::filesystem;

namespace {

std::string errno_text(int err) { return std::generic_category().message(err); }

std::string sys_error(std::string_view what, const fs::path& path, int err = errno) {
    return fmt::format("{} {}: {}", what, path.string(), errno_text(err));
}

std::uint32_t crc32_of(std::span<const std::uint8_t> bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto n = static_cast<uInt>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        crc = crc32(crc, bytes.data() + done, n);
        done += n;
    }
    return static_cast<std::uint32_t>(crc);
}

std::uint32_t read_u32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

void put_u32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// An absolute XDG base directory from the environment, else `home`/`fallback`.
std::expected<fs::path, std::string> xdg_base(const char* var, const char* fallback) {
    if (const char* v = std::getenv(var); v && *v && v[0] == '/') return fs::path(v);
    const char* home = std::getenv("HOME");
    if (!home || !*home) return std::unexpected(fmt::format("neither {} nor HOME is set", var));
    return fs::path(home) / fallback;
}

bool write_all(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::expected<void, std::string> sync_dir(const fs::path& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return std::unexpected(sys_error("cannot open folder", dir));
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0) return std::unexpected(sys_error("cannot sync folder", dir, err));
    return {};
}

// Reads the bytes of an open file from `offset` to its end.
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

std::expected<Locations, std::string> default_locations(std::string_view app) {
    auto data = xdg_base("XDG_DATA_HOME", ".local/share");
    if (!data) return std::unexpected(data.error());
    auto state = xdg_base("XDG_STATE_HOME", ".local/state");
    if (!state) return std::unexpected(state.error());
    return Locations{*data / "zavo" / std::string(app), *state / "zavo" / std::string(app) / "document"};
}

ParsedLog parse_log(std::span<const std::uint8_t> bytes, std::size_t from) {
    ParsedLog out;
    std::size_t pos = 0;
    if (from == 0) {
        const std::size_t n = std::min(bytes.size(), kLogMagic.size());
        if (std::memcmp(bytes.data(), kLogMagic.data(), n) != 0) {
            out.tail = LogTail::Corrupt;
            out.problem = "not a document log (bad magic)";
            return out;
        }
        if (n < kLogMagic.size()) {
            out.tail = LogTail::Torn;
            return out;
        }
        pos = kLogMagic.size();
    }
    out.end = from + pos;
    while (pos < bytes.size()) {
        if (bytes.size() - pos < 8) {
            out.tail = LogTail::Torn;
            return out;
        }
        const std::uint32_t len = read_u32(bytes.data() + pos);
        const std::uint32_t crc = read_u32(bytes.data() + pos + 4);
        if (len == 0 || len > kMaxRecord) {
            out.tail = LogTail::Corrupt;
            out.problem = fmt::format("record at offset {} has an impossible length {}", from + pos, len);
            return out;
        }
        if (bytes.size() - pos - 8 < len) {
            out.tail = LogTail::Torn;
            return out;
        }
        const auto payload = bytes.subspan(pos + 8, len);
        if (crc32_of(payload) != crc) {
            out.tail = LogTail::Corrupt;
            out.problem = fmt::format("record at offset {} fails its checksum", from + pos);
            return out;
        }
        out.records.push_back(payload);
        pos += 8 + len;
        out.end = from + pos;
    }
    return out;
}

void append_record(Bytes& out, std::span<const std::uint8_t> payload) {
    put_u32(out, static_cast<std::uint32_t>(payload.size()));
    put_u32(out, crc32_of(payload));
    out.insert(out.end(), payload.begin(), payload.end());
}

Bytes encode_log(std::span<const Bytes> payloads) {
    Bytes out(kLogMagic.begin(), kLogMagic.end());
    for (const auto& p : payloads) append_record(out, p);
    return out;
}

std::expected<void, std::string> ensure_private_dir(const fs::path& dir) {
    fs::path partial;
    for (const auto& part : dir) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return std::unexpected(sys_error("cannot create folder", partial));
    }
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) return std::unexpected(sys_error("cannot inspect folder", dir));
    if (!S_ISDIR(st.st_mode)) return std::unexpected(fmt::format("{} is not a folder", dir.string()));
    if ((st.st_mode & 0777) != 0700 && ::chmod(dir.c_str(), 0700) != 0)
        return std::unexpected(sys_error("cannot make folder private", dir));
    return {};
}

std::expected<Bytes, std::string> read_file(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::unexpected(sys_error("cannot open", path));
    auto bytes = read_from(fd, 0, path);
    ::close(fd);
    return bytes;
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
            (void)sync_dir(dir);
            (void)sync_dir(path.parent_path());
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
        auto bytes = read_file(path);
        if (!bytes) return std::unexpected(bytes.error());
        std::string text(bytes->begin(), bytes->end());
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

AppendLog::AppendLog(AppendLog&& o) noexcept : path_(std::move(o.path_)), fd_(std::exchange(o.fd_, -1)), end_(o.end_) {}

AppendLog& AppendLog::operator=(AppendLog&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) ::close(fd_);
        path_ = std::move(o.path_);
        fd_ = std::exchange(o.fd_, -1);
        end_ = o.end_;
    }
    return *this;
}

AppendLog::~AppendLog() {
    if (fd_ >= 0) ::close(fd_);
}

std::expected<AppendLog, std::string> AppendLog::create(const fs::path& path, std::span<const Bytes> payloads) {
    const Bytes bytes = encode_log(payloads);
    if (auto ok = replace_file_durably(path, bytes, 0600); !ok) return std::unexpected(ok.error());
    return open(path, bytes.size());
}

std::expected<AppendLog, std::string> AppendLog::open(const fs::path& path, std::size_t end) {
    AppendLog log;
    log.path_ = path;
    log.fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (log.fd_ < 0) return std::unexpected(sys_error("cannot open", path));
    struct stat st {};
    if (::fstat(log.fd_, &st) != 0) return std::unexpected(sys_error("cannot inspect", path));
    if (static_cast<std::size_t>(st.st_size) != end)
        return std::unexpected(fmt::format("{} is {} bytes long, expected {}", path.string(), st.st_size, end));
    log.end_ = end;
    return log;
}

std::expected<void, std::string> AppendLog::append(std::span<const Bytes> payloads) {
    if (fd_ < 0) return std::unexpected("log is not open");
    Bytes out;
    for (const auto& p : payloads) append_record(out, p);
    if (!write_all(fd_, out)) {
        const int err = errno;
        // Leave no partial record behind for the next append to follow.
        if (::ftruncate(fd_, static_cast<off_t>(end_)) != 0)
            spdlog::error("document: cannot cut {} back after a failed write", path_.string());
        return std::unexpected(sys_error("cannot append to", path_, err));
    }
    if (::fdatasync(fd_) != 0) return std::unexpected(sys_error("cannot sync", path_));
    end_ += out.size();
    return {};
}

bool AppendLog::intact() const {
    if (fd_ < 0) return false;
    struct stat mine {
    }, named{};
    if (::fstat(fd_, &mine) != 0 || ::stat(path_.c_str(), &named) != 0) return false;
    return mine.st_dev == named.st_dev && mine.st_ino == named.st_ino &&
           static_cast<std::size_t>(named.st_size) == end_;
}

FolderReader::FolderReader(fs::path changes_dir, fs::path set_aside_dir, std::string skip_name)
    : dir_(std::move(changes_dir)), set_aside_dir_(std::move(set_aside_dir)), skip_name_(std::move(skip_name)) {}

std::vector<FolderReader::FileRead> FolderReader::read_new(bool include_skipped) {
    std::vector<FileRead> out;
    std::error_code ec;
    fs::directory_iterator it(dir_, ec);
    if (ec) {
        spdlog::warn("document: cannot list {}: {}", dir_.string(), ec.message());
        return out;
    }
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name[0] == '.' || !name.ends_with(".log")) continue;
        if (name == skip_name_ && !include_skipped) continue;
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            continue;
        }
        Seen& seen = seen_[name];
        const bool same_file = seen.dev == st.st_dev && seen.ino == st.st_ino;
        if (same_file && (seen.ignored || static_cast<std::size_t>(st.st_size) == seen.offset)) {
            ::close(fd);
            continue;
        }
        // A replaced or shortened file is read again from its start; records are addressed by
        // their content, so reading one twice does no harm.
        const std::size_t from = same_file && static_cast<std::size_t>(st.st_size) > seen.offset ? seen.offset : 0;
        if (!same_file) seen = Seen{st.st_dev, st.st_ino, 0, false};
        auto bytes = read_from(fd, from, entry.path());
        ::close(fd);
        if (!bytes) {
            spdlog::warn("document: {}", bytes.error());
            continue;
        }
        FileRead read;
        read.name = name;
        read.from_start = from == 0;
        const ParsedLog parsed = parse_log(*bytes, from);
        for (auto rec : parsed.records)
            read.records.emplace_back(static_cast<std::size_t>(rec.data() - bytes->data()), rec.size());
        seen.offset = parsed.end;
        if (parsed.tail == LogTail::Corrupt) {
            read.set_aside = true;
            auto moved = set_aside(entry.path(), set_aside_dir_);
            if (moved) {
                spdlog::error(
                    "document: {} is corrupt ({}); its {} readable records were kept and the file was moved "
                    "to {}",
                    entry.path().string(), parsed.problem, parsed.records.size(), moved->string());
                seen_.erase(name);
            } else {
                spdlog::error("document: {} is corrupt ({}) and could not be moved aside ({}); it is no longer read",
                              entry.path().string(), parsed.problem, moved.error());
                seen.ignored = true;
            }
        }
        if (!read.records.empty() || read.set_aside) {
            read.bytes = std::move(*bytes);
            out.push_back(std::move(read));
        }
    }
    return out;
}

FolderWatcher::FolderWatcher(fs::path dir, std::function<void()> wake, std::chrono::milliseconds poll_interval,
                             Mode mode)
    : dir_(std::move(dir)), wake_(std::move(wake)), poll_interval_(poll_interval) {
    stop_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (mode == Mode::InotifyAndPolling) inotify_fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_fd_ >= 0 && ::inotify_add_watch(inotify_fd_, dir_.c_str(),
                                                IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE |
                                                    IN_DELETE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF) < 0) {
        spdlog::warn("document: cannot watch {} ({}); polling it instead", dir_.string(), errno_text(errno));
        ::close(inotify_fd_);
        inotify_fd_ = -1;
    }
    first_listing_ = listing();
    thread_ = std::thread([this] { run(); });
}

FolderWatcher::~FolderWatcher() {
    const std::uint64_t one = 1;
    if (stop_fd_ >= 0) (void)!::write(stop_fd_, &one, sizeof one);
    if (thread_.joinable()) thread_.join();
    if (inotify_fd_ >= 0) ::close(inotify_fd_);
    if (stop_fd_ >= 0) ::close(stop_fd_);
}

std::string FolderWatcher::listing() const {
    std::string text;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir_, ec)) {
        struct stat st{};
        if (::lstat(entry.path().c_str(), &st) != 0) continue;
        text += fmt::format("{}\n{} {} {} {}\n", entry.path().filename().string(), st.st_size, st.st_mtim.tv_sec,
                            st.st_mtim.tv_nsec, st.st_ino);
    }
    return text;
}

void FolderWatcher::run() {
    std::string last = std::move(first_listing_);
    for (;;) {
        pollfd fds[2] = {{stop_fd_, POLLIN, 0}, {inotify_fd_, POLLIN, 0}};
        const int n = ::poll(fds, inotify_fd_ >= 0 ? 2 : 1, static_cast<int>(poll_interval_.count()));
        if (n < 0 && errno != EINTR) return;
        if (fds[0].revents) return;
        bool changed = false;
        if (n > 0 && fds[1].revents) {
            // Let a burst of writes settle, then wake once for all of it.
            char buf[4096];
            do {
                while (::read(inotify_fd_, buf, sizeof buf) > 0) {
                }
                pollfd again[2] = {{stop_fd_, POLLIN, 0}, {inotify_fd_, POLLIN, 0}};
                if (::poll(again, 2, 15) <= 0 || again[0].revents) break;
            } while (true);
            changed = true;
        }
        std::string now = listing();
        if (now != last) changed = true;
        last = std::move(now);
        if (changed && wake_) wake_();
    }
}

namespace {

// The changes in one record: a single change chunk, or several (a log written elsewhere).
std::vector<crdt::Change> changes_of(std::span<const std::uint8_t> payload) {
    if (auto one = crdt::Change::from_bytes(payload)) return {std::move(*one)};
    if (auto many = crdt::Document::load(payload)) return many->get_changes({});
    spdlog::warn("document: skipped a record of {} bytes that holds no readable change", payload.size());
    return {};
}

// Applies the records' changes, one at a time after the first refusal so that one bad change
// costs only itself.
void apply_records(crdt::Document& doc, std::span<const std::span<const std::uint8_t>> records) {
    std::vector<crdt::Change> changes;
    changes.reserve(records.size());
    for (auto rec : records)
        for (auto& c : changes_of(rec)) changes.push_back(std::move(c));
    if (changes.empty() || doc.apply_changes(changes)) return;
    for (const crdt::Change& c : changes)
        if (auto ok = doc.apply_changes(std::span(&c, 1)); !ok)
            spdlog::warn("document: skipped change {}: {}", c.hash().to_hex(), ok.error().message);
}

crdt::Document load_records(std::span<const std::span<const std::uint8_t>> records) {
    Bytes all;
    for (auto rec : records) all.insert(all.end(), rec.begin(), rec.end());
    if (auto loaded = crdt::Document::load(all)) return std::move(*loaded);
    crdt::Document doc;
    apply_records(doc, records);
    return doc;
}

std::expected<bool, std::string> path_exists(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) return true;
    if (errno == ENOENT) return false;
    return std::unexpected(sys_error("cannot inspect", path));
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

std::expected<std::unique_ptr<PersistedDocument>, std::string> open_at(const Locations& locations) {
    const fs::path changes = locations.folder / "changes";
    for (const fs::path& dir : {locations.folder, changes, locations.private_dir})
        if (auto ok = ensure_private_dir(dir); !ok) return std::unexpected(ok.error());
    // One process per replica: two writing as the same actor would undo each other's log.
    const fs::path lock_path = locations.private_dir / "lock";
    FileLock lock(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (lock.fd < 0) return std::unexpected(sys_error("cannot open", lock_path));
    if (::flock(lock.fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return std::unexpected(
                fmt::format("the document is already open in another process (it holds {})", lock_path.string()));
        return std::unexpected(sys_error("cannot lock", lock_path));
    }
    auto actor = load_or_create_actor(locations.private_dir);
    if (!actor) return std::unexpected(actor.error());
    auto actor_id = crdt::ActorId::from_hex(*actor);
    if (!actor_id) return std::unexpected(actor_id.error().message);

    std::unique_ptr<PersistedDocument> self(new PersistedDocument());
    self->lock_ = std::move(lock);
    self->locations_ = locations;
    self->actor_ = *actor;
    const std::string own = *actor + ".log";
    const fs::path shared_path = changes / own;
    const fs::path private_path = locations.private_dir / own;
    self->reader_ = std::make_unique<FolderReader>(changes, locations.folder / "set-aside", own);
    // Watching starts before the folder is read: its first look at the listing is older than
    // what is read below, so a change made meanwhile is announced.
    self->watcher_ = std::make_unique<FolderWatcher>(changes, [raw = self.get()] {
        std::function<void()> listener;
        {
            std::lock_guard lock(raw->listener_mutex_);
            listener = raw->listener_;
        }
        if (listener) listener();
    });

    // This replica's log: the private copy, which no file-sync tool touches.
    bool rewrite = false;
    Bytes private_bytes;
    ParsedLog private_log;
    auto private_exists = path_exists(private_path);
    if (!private_exists) return std::unexpected(private_exists.error());
    if (*private_exists) {
        auto read = read_file(private_path);
        if (!read) return std::unexpected(read.error());
        private_bytes = std::move(*read);
        private_log = parse_log(private_bytes);
        if (private_log.tail == LogTail::Corrupt) {
            auto moved = set_aside(private_path, locations.private_dir / "set-aside");
            if (!moved) return std::unexpected(moved.error());
            spdlog::error(
                "document: {} is corrupt ({}); its {} readable records were kept and the file was moved to {}",
                private_path.string(), private_log.problem, private_log.records.size(), moved->string());
        }
        rewrite = private_log.tail != LogTail::Clean;
    } else {
        rewrite = true;
    }
    self->doc_ = load_records(private_log.records);
    // What the log already holds; everything else is appended below.
    std::vector<crdt::ChangeHash> logged_heads = self->doc_.get_heads();

    // Every log in the shared folder, this replica's own and conflict copies included. The
    // same record often sits in several logs: each is applied once.
    std::vector<FolderReader::FileRead> reads = self->reader_->read_new(/*include_skipped=*/true);
    bool own_seen = false;
    std::unordered_set<std::string_view> seen;
    for (auto rec : private_log.records) seen.emplace(reinterpret_cast<const char*>(rec.data()), rec.size());
    std::vector<std::span<const std::uint8_t>> others;
    for (const auto& r : reads) {
        if (r.name == own) {
            own_seen = true;
            rewrite = rewrite || r.set_aside || !r.from_start || r.bytes != private_bytes;
        }
        for (auto [off, len] : r.records) {
            auto rec = std::span(r.bytes).subspan(off, len);
            if (seen.emplace(reinterpret_cast<const char*>(rec.data()), rec.size()).second) others.push_back(rec);
        }
    }
    if (!own_seen) rewrite = rewrite || !private_log.records.empty() || !path_exists(shared_path).value_or(false);
    apply_records(self->doc_, others);
    self->doc_.set_actor(std::move(*actor_id));

    if (!rewrite) {
        auto shared = AppendLog::open(shared_path, private_bytes.size());
        auto mine = AppendLog::open(private_path, private_bytes.size());
        if (shared && mine) {
            self->shared_log_ = std::move(*shared);
            self->private_log_ = std::move(*mine);
            self->compact_at_ = std::max(PersistedDocument::kCompactAt, 2 * private_bytes.size());
            self->saved_heads_ = std::move(logged_heads);
            if (auto ok = self->save_changes(); !ok) return std::unexpected(ok.error());
        } else {
            rewrite = true;
        }
    }
    if (rewrite)
        if (auto ok = self->compact(); !ok) return std::unexpected(ok.error());
    self->saved_heads_ = self->doc_.get_heads();

    return self;
}

FileLock::~FileLock() {
    if (fd >= 0) ::close(fd);
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

std::expected<void, std::string> PersistedDocument::compact() {
    const fs::path shared_path = locations_.folder / "changes" / (actor_ + ".log");
    const fs::path private_path = locations_.private_dir / (actor_ + ".log");
    std::vector<Bytes> payloads;
    for (const crdt::Change& c : doc_.get_changes({}))
        payloads.emplace_back(c.raw_bytes().begin(), c.raw_bytes().end());
    // The private copy first: the shared log never holds what the private one lacks.
    auto mine = AppendLog::create(private_path, payloads);
    if (!mine) return std::unexpected(mine.error());
    private_log_ = std::move(*mine);
    auto shared = AppendLog::create(shared_path, payloads);
    if (!shared) return std::unexpected(shared.error());
    shared_log_ = std::move(*shared);
    compact_at_ = std::max(kCompactAt, 2 * shared_log_.size());
    return {};
}

std::expected<bool, std::string> PersistedDocument::save_changes() {
    std::vector<crdt::ChangeHash> heads = doc_.get_heads();
    if (heads == saved_heads_) return false;
    std::vector<Bytes> fresh;
    for (const crdt::Change& c : doc_.get_changes(saved_heads_))
        fresh.emplace_back(c.raw_bytes().begin(), c.raw_bytes().end());
    std::expected<void, std::string> ok;
    const bool intact = private_log_.intact() && shared_log_.intact();
    if (!intact || shared_log_.size() > compact_at_) {
        if (!intact) spdlog::warn("document: this replica's log was changed by something else; writing it again");
        ok = compact();
    } else {
        ok = private_log_.append(fresh);
        if (ok) ok = shared_log_.append(fresh);
    }
    if (!ok) {
        if (!reported_failure_) spdlog::error("document: cannot save changes: {}", ok.error());
        reported_failure_ = true;
        return std::unexpected(ok.error());
    }
    reported_failure_ = false;
    saved_heads_ = std::move(heads);
    return !fresh.empty();
}

bool PersistedDocument::merge_from_folder() {
    std::vector<FolderReader::FileRead> reads = reader_->read_new();
    std::vector<std::span<const std::uint8_t>> records;
    for (const auto& r : reads)
        for (auto [off, len] : r.records) records.push_back(std::span(r.bytes).subspan(off, len));
    const auto before = doc_.get_heads();
    apply_records(doc_, records);
    // This replica's log keeps every change it has seen: a file set aside, or removed,
    // loses nothing that was read from it.
    if (auto saved = save_changes(); !saved) spdlog::warn("document: merged changes are not saved yet");
    return doc_.get_heads() != before;
}

}  // namespace zavo_ui::persist
