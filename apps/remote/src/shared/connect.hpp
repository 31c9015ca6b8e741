#pragma once
// connect(2) on a blocking socket that survives a signal: an interrupted connect goes on in the
// background, so wait for it and read its outcome instead of calling connect again.
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace remote {

// 0 when connected; -1 with errno set otherwise.
inline int connect_blocking(int fd, const sockaddr* address, socklen_t length) {
    int r = ::connect(fd, address, length);
    if (r == 0 || errno != EINTR) return r;
    pollfd p{fd, POLLOUT, 0};
    while ((r = ::poll(&p, 1, -1)) < 0 && errno == EINTR) {
    }
    if (r < 0) return -1;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return -1;
    if (err == 0) return 0;
    errno = err;
    return -1;
}

}  // namespace remote
