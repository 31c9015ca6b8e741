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
#include <optional>
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

namespace {

constexpr std::size_t kHeader = 8;  // length and checksum
constexpr std::size_t kPage = 4096;

// The payload length of the whole record at `pos`: a possible length that fits in `bytes` and a
// payload that matches its checksum. `work` counts the checksummed bytes down; once it would
// run out it is 0 and nothing more is checked.
std::optional<std::size_t> record_at(std::span<const std::uint8_t> bytes, std::size_t pos, std::size_t& work) {
    if (bytes.size() - pos < kHeader) return std::nullopt;
    const std::uint32_t len = read_u32(bytes.data() + pos);
    if (len == 0 || len > kMaxRecord || len > bytes.size() - pos - kHeader) return std::nullopt;
    if (len > work) {
        work = 0;
        return std::nullopt;
    }
    work -= len;
    if (crc32_of(bytes.subspan(pos + kHeader, len)) != read_u32(bytes.data() + pos + 4)) return std::nullopt;
    return len;
}

// Where a crash leaves the end of a file unwritten it reads as zeros, from the place the
// unfinished write began or from a page boundary after it up to the end.
bool unwritten_tail(std::span<const std::uint8_t> bytes, std::size_t pos, std::size_t from) {
    std::size_t zeros = bytes.size();
    while (zeros > pos && bytes[zeros - 1] == 0) --zeros;
    if (zeros == bytes.size()) return false;
    if (zeros == pos) return true;
    const std::size_t page = (from + zeros + kPage - 1) / kPage * kPage;  // first page boundary in the zeros
    return page < from + bytes.size();
}

}  // namespace

ParsedLog parse_log(std::span<const std::uint8_t> bytes, std::size_t from) {
    ParsedLog out;
    std::size_t damaged = 0;  // places found damaged
    auto damage = [&](std::string what) {
        if (damaged++ == 0) out.problem = std::move(what);
        out.tail = LogTail::Corrupt;
    };
    std::size_t pos = 0;
    if (from == 0) {
        pos = std::min(bytes.size(), kLogMagic.size());
        if (std::memcmp(bytes.data(), kLogMagic.data(), pos) != 0) {
            if (std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; })) {
                out.tail = LogTail::Torn;  // nothing written yet
                return out;
            }
            damage("not a document log (bad magic)");
        } else if (pos < kLogMagic.size()) {
            out.tail = LogTail::Torn;
            return out;
        }
    }
    out.end = from + pos;
    // Checksumming while looking past damage is bounded, so that no input makes it quadratic.
    std::size_t work = 16 * bytes.size() + (1u << 20);
    while (pos < bytes.size()) {
        if (auto len = record_at(bytes, pos, work)) {
            out.records.push_back(bytes.subspan(pos + kHeader, *len));
            pos += kHeader + *len;
            out.end = from + pos;
            continue;
        }
        const std::size_t rest = bytes.size() - pos;
        const std::uint32_t len = rest >= kHeader ? read_u32(bytes.data() + pos) : 0;
        // Damage, when a whole record follows somewhere: right after this one's length first.
        std::optional<std::size_t> next;
        if (rest >= kHeader && len > 0 && len <= rest - kHeader && record_at(bytes, pos + kHeader + len, work))
            next = pos + kHeader + len;
        for (std::size_t q = pos + 1; !next && q + kHeader < bytes.size() && work > 0; ++q)
            if (record_at(bytes, q, work)) next = q;
        if (next) {
            damage(fmt::format("bytes {} to {} hold no whole record", from + pos, from + *next));
            pos = *next;
            continue;
        }
        // Nothing whole follows: an unfinished write (a record cut short, or an end that reads as
        // zeros) is a torn tail; anything else is damage at the end.
        const bool cut_short = rest < kHeader || (len > rest - kHeader && len <= kMaxRecord);
        if (work == 0) {
            damage(fmt::format("bytes {} to the end are too damaged to search for records", from + pos));
        } else if (cut_short || unwritten_tail(bytes, pos, from)) {
            out.tail = damaged ? LogTail::Corrupt : LogTail::Torn;
        } else if (len == 0 || len > kMaxRecord) {
            damage(fmt::format("record at offset {} has an impossible length {}", from + pos, len));
        } else {
            damage(fmt::format("record at offset {} fails its checksum", from + pos));
        }
        break;
    }
    if (damaged > 1) out.problem += fmt::format(", and {} more places are damaged", damaged - 1);
    return out;
}

void append_record(Bytes& out, std::span<const std::uint8_t> payload) {
    if (payload.empty()) return;  // a record holds a change: never empty
    put_u32(out, static_cast<std::uint32_t>(payload.size()));
    put_u32(out, crc32_of(payload));
    out.insert(out.end(), payload.begin(), payload.end());
}

Bytes encode_log(std::span<const Bytes> payloads) {
    Bytes out(kLogMagic.begin(), kLogMagic.end());
    for (const auto& p : payloads) append_record(out, p);
    return out;
}

namespace {

// Makes every missing folder of `dir` with mode 0700.
std::expected<void, std::string> make_folders(const fs::path& dir) {
    fs::path partial;
    for (const auto& part : dir) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return std::unexpected(sys_error("cannot create folder", partial));
    }
    return {};
}

}  // namespace

std::expected<void, std::string> ensure_private_dir(const fs::path& dir) {
    if (auto ok = make_folders(dir); !ok) return ok;
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
        std::string text;  // a folder or the like holds no id
        if (S_ISREG(st.st_mode)) {
            auto bytes = read_file(path);
            if (!bytes) return std::unexpected(bytes.error());
            text.assign(bytes->begin(), bytes->end());
        }
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
        // A folder not made yet holds nothing to read.
        if (ec.message() != list_error_ && ec != std::errc::no_such_file_or_directory)
            spdlog::warn("document: cannot read the folder {}: {}", dir_.string(), ec.message());
        list_error_ = ec.message();
        return out;
    }
    list_error_.clear();
    for (const auto& entry : it) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name[0] == '.' || !name.ends_with(".log")) continue;
        if (name == skip_name_ && !include_skipped) continue;
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) {
            if (errno != ENOENT && !seen_[name].reported)
                spdlog::warn("document: cannot read {}: {}", entry.path().string(), errno_text(errno));
            seen_[name].reported = true;
            continue;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            continue;
        }
        Seen& seen = seen_[name];
        const auto size = static_cast<std::size_t>(st.st_size);
        const bool same_file = seen.dev == st.st_dev && seen.ino == st.st_ino;
        if (same_file && size == seen.size && st.st_mtim.tv_sec == seen.mtime.tv_sec &&
            st.st_mtim.tv_nsec == seen.mtime.tv_nsec) {
            ::close(fd);
            continue;
        }
        // A replaced or shortened file is read again from its start; records are addressed by
        // their content, so reading one twice does no harm.
        const std::size_t from = same_file && size > seen.offset ? seen.offset : 0;
        if (!same_file) seen = Seen{st.st_dev, st.st_ino, 0, 0, {}, false};
        seen.size = size;
        seen.mtime = st.st_mtim;
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
        if (parsed.tail == LogTail::Corrupt)
            read.set_aside = set_aside_damaged(name, parsed.problem, parsed.records.size());
        if (!read.records.empty() || read.set_aside) {
            read.bytes = std::move(*bytes);
            out.push_back(std::move(read));
        }
    }
    return out;
}

bool FolderReader::set_aside_damaged(const std::string& name, std::string_view problem, std::size_t intact) {
    auto it = seen_.find(name);
    if (it == seen_.end()) return false;
    const fs::path path = dir_ / name;
    struct stat st {};
    // Only the file that was read: one put in its place meanwhile is read in its turn.
    if (::lstat(path.c_str(), &st) != 0 || st.st_dev != it->second.dev || st.st_ino != it->second.ino) return false;
    auto moved = set_aside(path, set_aside_dir_);
    if (moved) {
        spdlog::error("document: {} is damaged ({}); its {} intact records were read and the file was moved to {}",
                      path.string(), problem, intact, moved->string());
        seen_.erase(it);
        return true;
    }
    if (!it->second.reported)
        spdlog::error("document: {} is damaged ({}); its {} intact records were read, but the file could not be "
                      "moved aside ({})",
                      path.string(), problem, intact, moved.error());
    it->second.reported = true;
    return false;
}

FolderWatcher::FolderWatcher(fs::path dir, std::function<void()> wake, std::chrono::milliseconds poll_interval,
                             Mode mode)
    : dir_(std::move(dir)), wake_(std::move(wake)), poll_interval_(poll_interval) {
    stop_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (mode == Mode::InotifyAndPolling) inotify_fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_fd_ >= 0 && ::inotify_add_watch(inotify_fd_, dir_.c_str(),
                                                IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE |
                                                    IN_DELETE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF) < 0) {
        if (errno != ENOENT)
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
    // The folder and the one holding it, so that one made, or made writable, wakes too.
    for (const fs::path& dir : {dir_, dir_.parent_path()}) {
        struct stat st {};
        if (::stat(dir.c_str(), &st) == 0)
            text += fmt::format("{} {} {}\n", st.st_ino, st.st_mode, st.st_uid);
        else
            text += "-\n";
    }
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

// The changes in one record: a single change chunk, or several (a log written elsewhere);
// nullopt when it holds none.
std::optional<std::vector<crdt::Change>> changes_of(std::span<const std::uint8_t> payload) {
    if (auto one = crdt::Change::from_bytes(payload)) return std::vector<crdt::Change>{std::move(*one)};
    if (auto many = crdt::Document::load(payload)) {
        auto changes = many->get_changes({});
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
        if (!found) damaged = true;
        else changes.insert(changes.end(), found->begin(), found->end());
    }
    apply_changes(doc, changes);
    return doc;
}

// The changes of the records that `seen` does not hold yet, each record once; a file holding
// a record that is no change is set aside by `reader`. Returns the names of files set aside.
std::vector<std::string> take_changes(const std::vector<FolderReader::FileRead>& reads, FolderReader& reader,
                                      std::unordered_set<std::string_view>& seen, std::vector<crdt::Change>& out) {
    std::unordered_set<std::string_view> bad;
    std::vector<std::string> moved;
    for (const auto& r : reads) {
        std::size_t bad_here = 0;
        for (auto [off, len] : r.records) {
            const std::string_view key(reinterpret_cast<const char*>(r.bytes.data() + off), len);
            if (bad.contains(key)) ++bad_here;
            if (!seen.emplace(key).second) continue;
            if (auto found = changes_of(std::span(r.bytes).subspan(off, len))) {
                out.insert(out.end(), found->begin(), found->end());
            } else {
                bad.insert(key);
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

// Moves whatever stands at `path` into `dir` unless it is a regular file (or nothing).
std::expected<void, std::string> move_aside_unless_file(const fs::path& path, const fs::path& dir) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return {};
        return std::unexpected(sys_error("cannot inspect", path));
    }
    if (S_ISREG(st.st_mode)) return {};
    auto moved = set_aside(path, dir);
    if (!moved) return std::unexpected(fmt::format("{} is not a file and {}", path.string(), moved.error()));
    spdlog::error("document: {} is not a file; it was moved to {}", path.string(), moved->string());
    return {};
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

std::expected<bool, std::string> path_exists(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) return true;
    if (errno == ENOENT) return false;
    return std::unexpected(sys_error("cannot inspect", path));
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

std::expected<std::unique_ptr<PersistedDocument>, std::string> open_at(const Locations& locations) {
    // This device's own state: without it there is no replica to open.
    if (auto ok = ensure_private_dir(locations.private_dir); !ok) return std::unexpected(ok.error());
    const fs::path private_aside = locations.private_dir / "set-aside";
    // One process per replica: two writing as the same actor would undo each other's log.
    const fs::path lock_path = locations.private_dir / "lock";
    if (auto ok = move_aside_unless_file(lock_path, private_aside); !ok) return std::unexpected(ok.error());
    FileLock lock(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
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
    const fs::path changes = locations.folder / "changes";
    const fs::path shared_aside = locations.folder / "set-aside";
    const fs::path private_path = self->private_path();

    // The shared folder: whatever is wrong with it, the document opens from what can be read.
    std::string shared_problem;
    for (const fs::path& dir : {locations.folder, changes})
        if (auto ok = prepare_shared_dir(dir, shared_aside); !ok) {
            shared_problem = ok.error();
            break;
        }
    self->reader_ = std::make_unique<FolderReader>(changes, shared_aside, own);
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
    if (auto ok = move_aside_unless_file(private_path, private_aside); !ok) return std::unexpected(ok.error());
    Bytes private_bytes;
    ParsedLog private_log;
    bool private_intact = false;
    auto private_exists = path_exists(private_path);
    if (!private_exists) return std::unexpected(private_exists.error());
    if (*private_exists) {
        auto read = read_file(private_path);
        if (!read) return std::unexpected(read.error());
        private_bytes = std::move(*read);
        private_log = parse_log(private_bytes);
        private_intact = private_log.tail == LogTail::Clean;
    }
    bool private_damaged = private_log.tail == LogTail::Corrupt;
    self->doc_ = load_records(private_log.records, private_damaged);
    if (private_damaged) {
        private_intact = false;  // written whole again below
        auto moved = set_aside(private_path, private_aside);
        spdlog::error("document: {} is damaged ({}); its intact records were read and {}", private_path.string(),
                      private_log.problem.empty() ? std::string("a record holds no change") : private_log.problem,
                      moved ? "the file was moved to " + moved->string()
                            : "the file is replaced, as it could not be moved aside (" + moved.error() + ")");
    }
    // What the private copy already holds; everything else is appended below.
    std::vector<crdt::ChangeHash> logged_heads = self->doc_.get_heads();

    // Every log in the shared folder, this replica's own and conflict copies included. The
    // same record often sits in several logs: each is applied once.
    std::vector<FolderReader::FileRead> reads = self->reader_->read_new(/*include_skipped=*/true);
    bool shared_same = false;  // this replica's shared log holds what its private copy holds
    std::unordered_set<std::string_view> seen;
    for (auto rec : private_log.records) seen.emplace(reinterpret_cast<const char*>(rec.data()), rec.size());
    for (const auto& r : reads)
        if (r.name == own) shared_same = !r.set_aside && r.from_start && r.bytes == private_bytes;
    std::vector<crdt::Change> others;
    for (const std::string& name : take_changes(reads, *self->reader_, seen, others))
        if (name == own) shared_same = false;
    apply_changes(self->doc_, others);
    self->doc_.set_actor(std::move(*actor_id));

    // The private copy must take this replica's changes; the shared log follows where it may.
    if (private_intact) {
        if (auto mine = AppendLog::open(private_path, private_bytes.size())) {
            self->private_log_ = std::move(*mine);
            self->compact_at_ = std::max(PersistedDocument::kCompactAt, 2 * private_bytes.size());
            self->saved_heads_ = std::move(logged_heads);
        } else {
            private_intact = false;
        }
    }
    if (!private_intact)
        if (auto ok = self->rewrite_private(); !ok) return std::unexpected(ok.error());
    const fs::path shared_path = changes / own;
    if (shared_problem.empty())
        if (auto ok = move_aside_unless_file(shared_path, shared_aside); !ok) shared_problem = ok.error();
    if (shared_problem.empty() && private_intact && shared_same)
        if (auto shared = AppendLog::open(shared_path, private_bytes.size())) self->shared_log_ = std::move(*shared);
    if (!shared_problem.empty()) self->shared_unwritable(shared_problem);
    if (auto ok = self->save_changes(); !ok) return std::unexpected(ok.error());
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

fs::path PersistedDocument::private_path() const { return locations_.private_dir / (actor_ + ".log"); }

fs::path PersistedDocument::shared_path() const { return locations_.folder / "changes" / (actor_ + ".log"); }

std::vector<Bytes> PersistedDocument::all_changes() {
    std::vector<Bytes> payloads;
    for (const crdt::Change& c : doc_.get_changes({}))
        payloads.emplace_back(c.raw_bytes().begin(), c.raw_bytes().end());
    return payloads;
}

std::expected<void, std::string> PersistedDocument::rewrite_private() {
    auto mine = AppendLog::create(private_path(), all_changes());
    if (!mine) return std::unexpected(mine.error());
    private_log_ = std::move(*mine);
    compact_at_ = std::max(kCompactAt, 2 * private_log_.size());
    saved_heads_ = doc_.get_heads();
    shared_log_ = AppendLog();  // written whole again too
    return {};
}

std::expected<void, std::string> PersistedDocument::write_shared() {
    const fs::path changes = locations_.folder / "changes";
    const fs::path aside = locations_.folder / "set-aside";
    for (const fs::path& dir : {locations_.folder, changes})
        if (auto ok = prepare_shared_dir(dir, aside); !ok) return ok;
    if (auto why = unwritable(changes)) return std::unexpected(*why);
    if (auto ok = move_aside_unless_file(shared_path(), aside); !ok) return ok;
    auto shared = AppendLog::create(shared_path(), all_changes());
    if (!shared) return std::unexpected(shared.error());
    shared_log_ = std::move(*shared);
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

void PersistedDocument::sync_shared(std::span<const Bytes> fresh) {
    std::expected<void, std::string> ok;
    if (shared_log_.intact() && shared_log_.size() <= compact_at_) {
        if (fresh.empty()) return;
        ok = shared_log_.append(fresh);
        if (!ok) shared_log_ = AppendLog();  // written whole next time
    } else {
        if (shared_problem_.empty() && shared_log_.size() != 0 && shared_log_.size() <= compact_at_)
            spdlog::warn("document: this replica's log in the shared folder was changed by something else; writing it "
                         "again");
        ok = write_shared();
    }
    if (!ok) return shared_unwritable(ok.error());
    if (!shared_problem_.empty())
        spdlog::info("document: the shared folder {} can be written again; this device's changes were written to it",
                     locations_.folder.string());
    shared_problem_.clear();
}

std::expected<bool, std::string> PersistedDocument::save_changes() {
    std::vector<crdt::ChangeHash> heads = doc_.get_heads();
    std::vector<Bytes> fresh;
    if (heads != saved_heads_) {
        for (const crdt::Change& c : doc_.get_changes(saved_heads_))
            fresh.emplace_back(c.raw_bytes().begin(), c.raw_bytes().end());
        // The private copy first: once it holds the changes, they are saved.
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
            if (!reported_failure_) spdlog::error("document: cannot save changes: {}", ok.error());
            reported_failure_ = true;
            return std::unexpected(ok.error());
        }
        reported_failure_ = false;
        saved_heads_ = std::move(heads);
    }
    sync_shared(fresh);
    return !fresh.empty();
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
