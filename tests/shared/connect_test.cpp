#include "shared/connect.hpp"
#include "support/loopback.hpp"
#include "support/name_lookups.hpp"
#include "support/stalled_peers.hpp"
#include "support/wait.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

using namespace remote;

namespace {

int no_delay_of(int fd) {
    int on = -1;
    socklen_t len = sizeof on;
    ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &len);
    return on;
}

// A socket listening on the loopback address `host`, and its port; {-1, 0} where the machine
// has no such address.
std::pair<int, std::uint16_t> listening(const char* host) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* ai = nullptr;
    if (::getaddrinfo(host, "0", &hints, &ai) != 0) return {-1, 0};
    int fd = ::socket(ai->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    auto* address = reinterpret_cast<sockaddr*>(&bound);
    char port[16];
    const bool ok = fd >= 0 && ::bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd, 4) == 0 &&
                    ::getsockname(fd, address, &len) == 0 &&
                    ::getnameinfo(address, len, nullptr, 0, port, sizeof port, NI_NUMERICSERV) == 0;
    ::freeaddrinfo(ai);
    if (ok) return {fd, static_cast<std::uint16_t>(std::stoi(port))};
    if (fd >= 0) ::close(fd);
    return {-1, 0};
}

TEST(ConnectTcp, LiteralAddressesConnectWithNoDelayOnlyWhenAsked) {
    for (const char* host : {"127.0.0.1", "::1"}) {
        auto [listener, port] = listening(host);
        if (listener < 0) continue;  // no IPv6 loopback here
        for (bool no_delay : {false, true}) {
            auto connection = connect_tcp(host, port, TcpOptions{.no_delay = no_delay});
            ASSERT_TRUE(connection) << host << ": " << connection.error().text("-");
            EXPECT_EQ(connection->address, host);
            EXPECT_EQ(no_delay_of(connection->fd.get()) != 0, no_delay) << host;
        }
        ::close(listener);
    }
}

TEST(ConnectTcp, AWaitingConnectLeavesWhenTheWaitGivesUp) {
    auto [listener, port] = listening("127.0.0.1");
    ASSERT_GE(listener, 0);
    int waits = 0;
    auto connection = connect_tcp("127.0.0.1", port, {.wait = [&](int, short) {
        ++waits;
        return true;
    }});
    ASSERT_TRUE(connection) << connection.error().text("-");
    EXPECT_NE(::fcntl(connection->fd.get(), F_GETFL) & O_NONBLOCK, 0);
    ::close(listener);

    test_support::FullBacklog unanswered;  // never completes, so the wait is asked
    ASSERT_TRUE(unanswered.ok());
    std::vector<short> waited;
    const TcpOptions giving_up{.wait = [&](int, short events) {
        waited.push_back(events);
        return false;
    }};
    auto given_up = connect_tcp("127.0.0.1", unanswered.port(), giving_up);
    ASSERT_FALSE(given_up);
    EXPECT_EQ(given_up.error().os, ECANCELED);
    EXPECT_EQ(waited, std::vector<short>{POLLOUT});

    // A name whose lookup hangs: the attempt leaves while the lookup still does.
    test_support::StalledLookups stalled;
    waited.clear();
    auto not_looked_up = connect_tcp("box.stalls.test", 22, giving_up);
    ASSERT_FALSE(not_looked_up);
    EXPECT_EQ(not_looked_up.error().os, ECANCELED);
    EXPECT_EQ(waited, std::vector<short>{POLLIN});
    EXPECT_TRUE(test_support::eventually([&] { return stalled.hanging() == 1; }));
}

TEST(ConnectTcp, FailuresSayWhy) {
    auto [bound, port] = test_support::bound_loopback_socket();  // bound, not listening: refuses
    ASSERT_GE(bound, 0);
    auto refused = connect_tcp("127.0.0.1", port);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().os, ECONNREFUSED);
    EXPECT_EQ(refused.error().text("none"), "Connection refused");
    ::close(bound);

    auto unknown = connect_tcp("no-such-host.invalid", 22);
    ASSERT_FALSE(unknown);
    EXPECT_NE(unknown.error().resolver, 0);
    EXPECT_FALSE(unknown.error().text("none").empty());
    EXPECT_EQ(ConnectError{}.text("could not resolve to any address"), "could not resolve to any address");
}

}  // namespace
