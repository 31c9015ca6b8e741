// The RFB client against real servers: TigerVNC's Xtigervnc (3.8 and 3.3) and x11vnc on Xvfb (3.7).
#include <gtest/gtest.h>

#include "rfb/vnc_session.hpp"
#include "support/wait.hpp"
#include "tests/integration/vnc_servers.hpp"

namespace remote {
void PrintTo(const SessionStatus& s, std::ostream* os) { *os << "status " << int(s.kind) << " \"" << s.text << "\""; }
}  // namespace remote

namespace {

using namespace remote::rfb;
using namespace std::chrono_literals;
using remote::SessionStatus;
using vnc_it::ServerOptions;
using vnc_it::VncServer;

// Real servers get more time than the scripted ones.
template <typename Pred>
bool eventually(Pred pred, std::chrono::milliseconds timeout = 10s, std::chrono::milliseconds poll = 5ms) {
    return test_support::eventually(std::move(pred), timeout, poll);
}

bool have(const ServerOptions& o) {
    if (o.kind == ServerOptions::Kind::TigerVnc)
        return vnc_it::on_path("Xtigervnc") && vnc_it::on_path("tigervncpasswd");
    return vnc_it::on_path("Xvfb") && vnc_it::on_path("x11vnc");
}

// Pixels away from the screen centre, where a server may draw its cursor.
bool shows_colour(const Framebuffer& fb, std::uint32_t want) {
    for (std::uint16_t y = 0; y < fb.height; ++y)
        for (std::uint16_t x = 0; x < fb.width; ++x) {
            bool near_centre = std::abs(x - fb.width / 2) < 24 && std::abs(y - fb.height / 2) < 24;
            if (!near_centre && fb.pixel(x, y) != want) return false;
        }
    return true;
}

// The version and security type the client settles on with this server.
Result<HandshakeResult> handshake_with(const VncServer& server, const std::optional<std::string>& password) {
    auto fd = connect_tcp("127.0.0.1", server.port());
    if (!fd) return std::unexpected(fd.error());
    SocketStream stream(std::move(*fd));
    stream.set_read_timeout(10s);
    return run_handshake(stream, password);
}

struct Case {
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
    std::string name;
    ServerOptions server;
    std::optional<std::string> password;  // the client's
    ProtocolVersion version;
    SecurityType security;
    std::optional<std::string> failure;  // the session's Failed text; connected when none
    std::string host = "127.0.0.1";      // the session's; a name tries each address in turn
};

class VncServers : public testing::TestWithParam<Case> {};

TEST_P(VncServers, ConnectsOrFailsAsTheServerDecides) {
    const Case& c = GetParam();
    if (!have(c.server))
        GTEST_SKIP() << "VNC server binaries (Xtigervnc, tigervncpasswd, Xvfb, x11vnc) are not installed";
    VncServer server(c.server);
    ASSERT_TRUE(server.ok()) << server.log();
    ASSERT_EQ(server.on_display("xsetroot -solid '#2080c0'"), 0);

    auto hs = handshake_with(server, c.password);
    if (c.failure) {
        ASSERT_FALSE(hs);
    } else {
        ASSERT_TRUE(hs) << hs.error().message;
        EXPECT_EQ(hs->server_init.width, c.server.width);
        EXPECT_EQ(hs->server_init.height, c.server.height);
    }

    auto session = start_vnc_session(c.host, server.port(), c.password);
    ASSERT_TRUE(session);
    ASSERT_TRUE(eventually([&] { return !session->status().is_connecting(); }));
    if (c.failure) {
        EXPECT_EQ(session->status(), SessionStatus::failed(*c.failure));
        return;
    }
    ASSERT_EQ(session->status(), SessionStatus::connected()) << session->status().text;
    EXPECT_EQ(hs->version, c.version);
    EXPECT_EQ(hs->security, c.security);
    std::optional<Framebuffer> frame;
    const std::uint32_t blue = 0x20 | 0x80 << 8 | 0xC0 << 16 | 0xFFu << 24;
    EXPECT_TRUE(eventually([&] {
        if (auto f = session->take_new_frame()) frame = std::move(f);
        return frame && shows_colour(*frame, blue);
    })) << "the first frames show the root colour";
    EXPECT_EQ(session->framebuffer_size(), (std::pair<std::uint16_t, std::uint16_t>(c.server.width, c.server.height)));
}

const ServerOptions tiger{ServerOptions::Kind::TigerVnc, false, std::nullopt, 320, 240};
const ServerOptions tiger_auth{ServerOptions::Kind::TigerVnc, false, "s3cret-pw", 320, 240};
const ServerOptions tiger33{ServerOptions::Kind::TigerVnc, true, std::nullopt, 200, 100};
const ServerOptions tiger33_auth{ServerOptions::Kind::TigerVnc, true, "s3cret-pw", 200, 100};
const ServerOptions x11vnc37{ServerOptions::Kind::X11vncOnXvfb, false, std::nullopt, 160, 120};
const ServerOptions x11vnc37_auth{ServerOptions::Kind::X11vncOnXvfb, false, "s3cret-pw", 160, 120};

INSTANTIATE_TEST_SUITE_P(
    Real, VncServers,
    testing::Values(Case{"tiger38_none", tiger, "unused", {3, 8}, SecurityType::None, {}},
                    Case{"tiger38_auth", tiger_auth, "s3cret-pw", {3, 8}, SecurityType::VncAuthentication, {}},
                    Case{"tiger38_auth_wrong", tiger_auth, "wrong", {}, {}, "Authentication failure"},
                    Case{"tiger38_auth_none_given", tiger_auth, std::nullopt, {}, {}, "Authentication failure"},
                    Case{"tiger33_none_by_name", tiger33, std::nullopt, {3, 3}, SecurityType::None, {}, "localhost"},
                    Case{"tiger33_auth", tiger33_auth, "s3cret-pw", {3, 3}, SecurityType::VncAuthentication, {}},
                    Case{"tiger33_auth_wrong", tiger33_auth, "wrong", {}, {}, "authentication failed"},
                    Case{"x11vnc37_none", x11vnc37, std::nullopt, {3, 7}, SecurityType::None, {}},
                    Case{"x11vnc37_auth", x11vnc37_auth, "s3cret-pw", {3, 7}, SecurityType::VncAuthentication, {}},
                    Case{"x11vnc37_auth_wrong", x11vnc37_auth, "wrong", {}, {}, "authentication failed"}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(VncServerInput, PointerAndKeyEventsReachTheServer) {
    ServerOptions o = tiger;
    if (!have(o) || !vnc_it::on_path("xev") || !vnc_it::on_path("xdotool"))
        GTEST_SKIP() << "Xtigervnc, xev or xdotool is not installed";
    VncServer server(o);
    ASSERT_TRUE(server.ok()) << server.log();
    const std::string events = server.dir() + "/xev.out";
    vnc_it::Process xev({"xev", "-root", "-event", "keyboard", "-event", "button"}, events,
                        {"DISPLAY=:" + std::to_string(server.display())});

    auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
    ASSERT_TRUE(session);
    ASSERT_TRUE(eventually([&] { return session->status().is_connected(); })) << session->status().text;

    const std::string where = server.dir() + "/where";
    auto pointer_at = [&](int x, int y) {
        server.on_display("xdotool getmouselocation --shell > " + where);
        const std::string text = test_support::read_text(where);
        return text.find("X=" + std::to_string(x) + "\n") != std::string::npos &&
               text.find("Y=" + std::to_string(y) + "\n") != std::string::npos;
    };
    // A tight query loop keeps the server from applying the queued motion: poll slowly.
    ASSERT_TRUE(session->send_input(VncInput::pointer(0, 123, 45)));
    EXPECT_TRUE(eventually([&] { return pointer_at(123, 45); }, 5s, 200ms)) << "the pointer did not move";

    auto seen = [&](const std::string& needle) {
        return test_support::read_text(events).find(needle) != std::string::npos;
    };
    // xev may still be starting: repeat the events until it reports them.
    EXPECT_TRUE(eventually(
        [&] {
            (void)session->send_input(VncInput::key(true, 'q'));
            (void)session->send_input(VncInput::key(false, 'q'));
            (void)session->send_input(VncInput::pointer(4, 123, 45));
            (void)session->send_input(VncInput::pointer(0, 123, 45));
            std::this_thread::sleep_for(100ms);
            return seen("keysym 0x71, q") && seen("KeyRelease event") && seen("root:(123,45)") && seen("button 3");
        },
        10s))
        << "xev saw no key or button events";
    EXPECT_TRUE(session->status().is_connected());
}

}  // namespace
