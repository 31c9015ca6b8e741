#include "posix_fd/unique_fd.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace {

using posix_fd::UniqueFd;

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

TEST(UniqueFd, ClosesWhatItHoldsExactlyOnce) {
    int raw = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(raw, 0);
    {
        UniqueFd a(raw);
        UniqueFd b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(b.get(), raw);
        UniqueFd c;
        c = std::move(b);
        EXPECT_TRUE(is_open(raw));
    }
    EXPECT_FALSE(is_open(raw));

    // Released, it stays open; reset to a new one closes the old.
    int first = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int second = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    UniqueFd held(first);
    held.reset(second);
    EXPECT_FALSE(is_open(first));
    EXPECT_EQ(held.release(), second);
    EXPECT_TRUE(is_open(second));
    ::close(second);
}

TEST(UniqueFd, KeepsErrnoWhenClosingAndReportsAnExplicitClose) {
    {
        UniqueFd fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
        errno = ENOENT;  // as left by a failed call the caller still reads
    }
    EXPECT_EQ(errno, ENOENT);

    UniqueFd fd(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    EXPECT_EQ(fd.close(), 0);
    EXPECT_FALSE(fd);
    EXPECT_EQ(fd.close(), -1);
    EXPECT_EQ(errno, EBADF);
}

}  // namespace
