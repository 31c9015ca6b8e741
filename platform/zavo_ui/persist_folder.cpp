#include "zavo_ui/persist_folder.hpp"

#include "zavo_ui/persist_files.hpp"
#include "zavo_ui/persist_log.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include <cerrno>
#include <system_error>

namespace zavo_ui::persist {

namespace fs = std::filesystem;

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
        const posix_fd::UniqueFd fd(::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        if (!fd) {
            if (errno != ENOENT && !seen_[name].reported)
                spdlog::warn("document: cannot read {}: {}", entry.path().string(), errno_text(errno));
            seen_[name].reported = true;
            continue;
        }
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        Seen& seen = seen_[name];
        const auto size = static_cast<std::size_t>(st.st_size);
        const bool same_file = seen.dev == st.st_dev && seen.ino == st.st_ino;
        if (same_file && size == seen.size && st.st_mtim.tv_sec == seen.mtime.tv_sec &&
            st.st_mtim.tv_nsec == seen.mtime.tv_nsec)
            continue;
        // A replaced or shortened file is read again from its start; records are addressed by
        // their content, so reading one twice does no harm.
        const std::size_t from = same_file && size > seen.offset ? seen.offset : 0;
        if (!same_file) seen = Seen{st.st_dev, st.st_ino, 0, 0, {}, false};
        seen.size = size;
        seen.mtime = st.st_mtim;
        auto log = read_log(fd.get(), from, size, entry.path());
        if (!log) {
            spdlog::warn("document: {}", log.error());
            continue;
        }
        FileRead read;
        read.name = name;
        read.from_start = from == 0;
        read.clean = log->tail == LogTail::Clean;
        seen.offset = log->end;
        if (log->tail == LogTail::Corrupt) read.set_aside = set_aside_damaged(name, log->problem, log->records.size());
        if (!log->records.empty() || read.set_aside) {
            read.bytes = std::move(log->bytes);
            read.records = std::move(log->records);
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
        spdlog::error(
            "document: {} is damaged ({}); its {} intact records were read, but the file could not be "
            "moved aside ({})",
            path.string(), problem, intact, moved.error());
    it->second.reported = true;
    return false;
}

FolderWatcher::FolderWatcher(fs::path dir, std::function<void()> wake, std::chrono::milliseconds poll_interval,
                             Mode mode)
    : dir_(std::move(dir)), wake_(std::move(wake)), poll_interval_(poll_interval) {
    stop_fd_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (mode == Mode::InotifyAndPolling) inotify_fd_.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (inotify_fd_ && ::inotify_add_watch(inotify_fd_.get(), dir_.c_str(),
                                           IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE |
                                               IN_DELETE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF) < 0) {
        if (errno != ENOENT)
            spdlog::warn("document: cannot watch {} ({}); polling it instead", dir_.string(), errno_text(errno));
        inotify_fd_.reset();
    }
    first_listing_ = listing();
    thread_ = std::thread([this] { run(); });
}

FolderWatcher::~FolderWatcher() {
    const std::uint64_t one = 1;
    if (stop_fd_) (void)!::write(stop_fd_.get(), &one, sizeof one);
    if (thread_.joinable()) thread_.join();
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
        struct stat st {};
        if (::lstat(entry.path().c_str(), &st) != 0) continue;
        text += fmt::format("{}\n{} {} {} {}\n", entry.path().filename().string(), st.st_size, st.st_mtim.tv_sec,
                            st.st_mtim.tv_nsec, st.st_ino);
    }
    return text;
}

void FolderWatcher::run() {
    std::string last = std::move(first_listing_);
    for (;;) {
        pollfd fds[2] = {{stop_fd_.get(), POLLIN, 0}, {inotify_fd_.get(), POLLIN, 0}};
        const int n = ::poll(fds, inotify_fd_ ? 2 : 1, static_cast<int>(poll_interval_.count()));
        if (n < 0 && errno != EINTR) return;
        if (fds[0].revents) return;
        bool changed = false;
        if (n > 0 && fds[1].revents) {
            // Let a burst of writes settle, then wake once for all of it.
            char buf[4096];
            do {
                while (::read(inotify_fd_.get(), buf, sizeof buf) > 0) {
                }
                pollfd again[2] = {{stop_fd_.get(), POLLIN, 0}, {inotify_fd_.get(), POLLIN, 0}};
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
}  // namespace zavo_ui::persist
