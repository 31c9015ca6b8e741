#pragma once
// A small disk for tests: a tmpfs mounted over a folder in a mount namespace of this process's
// own, so that nothing stays mounted when the test ends, however it ends. The processes the test
// starts afterwards see it too. As root the process takes a mount namespace; otherwise a user
// namespace in which it is root as well, where the kernel lets users make them.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace test_support {

class SmallDisk {
public:
    // Mounts a tmpfs of `bytes` over `dir` (made when missing). unavailable() says why not.
    SmallDisk(const std::filesystem::path& dir, std::size_t bytes) : filler_(dir / ".filler") {
        std::filesystem::create_directories(dir);
        if (!(why_ = enter_own_mounts()).empty()) return;
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
        if (::mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
            why_ = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    // Why the disk could not be made; empty when it is there.
    const std::string& unavailable() const { return why_; }

    // Writes a file until the disk has no block left; the bytes it took.
    std::size_t fill() {
        const int fd = ::open(filler_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd < 0) return 0;
        std::size_t written = 0;
        const std::vector<char> block(4096, 'f');
        for (std::size_t size = block.size(); size > 0; size /= 2)
            for (ssize_t n; (n = ::write(fd, block.data(), size)) > 0;) written += std::size_t(n);
        ::close(fd);
        return written;
    }
    // Gives the space fill() took back.
    void free() { std::filesystem::remove(filler_); }

private:
    // A mount namespace for this process, its mounts private to it; empty when done.
    static std::string enter_own_mounts() {
        static const std::string why = [] {
            const uid_t uid = ::geteuid();
            const gid_t gid = ::getegid();
            if (uid == 0) {
                if (::unshare(CLONE_NEWNS) != 0)
                    return std::string("cannot take a mount namespace: ") + std::strerror(errno);
            } else {
                if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
                    return std::string("not root, and cannot take a user namespace: ") + std::strerror(errno);
                const auto write = [](const char* file, const std::string& text) {
                    std::ofstream out(file);
                    out << text;
                    return static_cast<bool>(out.flush());
                };
                if (!write("/proc/self/setgroups", "deny") ||
                    !write("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
                    !write("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n"))
                    return std::string("cannot map this user into its user namespace");
            }
            if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                return std::string("cannot make the mounts private: ") + std::strerror(errno);
            return std::string();
        }();
        return why;
    }

    std::filesystem::path filler_;
    std::string why_;
};

}  // namespace test_support
