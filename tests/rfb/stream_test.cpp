#include "rfb/stream.hpp"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace remote::rfb;
using namespace std::chrono_literals;

struct SocketPair {
    SocketPair() { ::socketpair(AF_UNIX, SOCK_STREAM, 0, fds); }
    ~SocketPair() {
        if (fds[1] >= 0) ::close(fds[1]);
    }
    void close_peer() {
        ::close(fds[1]);
        fds[1] = -1;
    }
    int fds[2] = {-1, -1};
};

TEST(SocketStream, ReadsAcrossChunksAndReportsTheEnd) {
    SocketPair p;
    SocketStream s(posix_fd::UniqueFd(p.fds[0]));
    ASSERT_EQ(::write(p.fds[1], "\x01\x02\x03", 3), 3);
    EXPECT_EQ(read_u16(s).value(), 0x0102);
    ASSERT_EQ(::write(p.fds[1], "\x04\x05\x06", 3), 3);
    EXPECT_EQ(read_u32(s).value(), 0x03040506u);
    ASSERT_EQ(::write(p.fds[1], "\x07", 1), 1);
    p.close_peer();
    EXPECT_EQ(read_u16(s).error(), (StreamError{ErrorKind::UnexpectedEof, "failed to fill whole buffer"}));
}

TEST(SocketStream, ReadTimeoutIsTimedOut) {
    SocketPair p;
    SocketStream s(posix_fd::UniqueFd(p.fds[0]));
    s.set_read_timeout(30ms);
    auto r = s.fill_buf();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind, ErrorKind::TimedOut);
}

TEST(SocketStream, WriteToAClosedPeerIsAnErrorNotASignal) {
    SocketPair p;
    SocketStream s(posix_fd::UniqueFd(p.fds[0]));
    p.close_peer();
    const std::uint8_t b[4] = {1, 2, 3, 4};
    auto r = write_all(s, b);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind, ErrorKind::Other);
}

TEST(MemoryStream, SkipsAndFailsAtTheEnd) {
    const std::uint8_t data[5] = {1, 2, 3, 4, 5};
    MemoryStream s(data);
    EXPECT_TRUE(skip_exact(s, 3));
    EXPECT_EQ(read_u8(s).value(), 4);
    EXPECT_EQ(skip_exact(s, 2).error().message, "failed to fill whole buffer");
}

}  // namespace
