#include "rfb/vnc_session.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <optional>
#include <set>
#include <thread>

#include "support/loopback.hpp"
#include "support/stalled_peers.hpp"
#include "support/thread_allocations.hpp"
#include "support/threads.hpp"
#include "tests/rfb/scripted_server.hpp"

namespace {

using namespace remote::rfb;
using namespace std::chrono_literals;
using remote::SessionStatus;
using rfb_test::eventually;
using rfb_test::Peer;
using rfb_test::ScriptedServer;
using rfb_test::Wire;

std::vector<std::uint8_t> bytes(const Wire& w) { return w.bytes; }

// Server side of a 3.8 handshake with security None; checks what the client sends after it.
void handshake(Peer& peer, std::uint16_t w, std::uint16_t h) {
    peer.send(Wire().text("RFB 003.008\n").u8(1).u8(1));
    EXPECT_EQ(peer.read(12), bytes(Wire().text("RFB 003.008\n")));
    EXPECT_EQ(peer.read(1), std::vector<std::uint8_t>{1});
    peer.send(Wire().u32(0));
    EXPECT_EQ(peer.read(1), std::vector<std::uint8_t>{1});  // ClientInit: shared
    peer.send(Wire().server_init(w, h));
    auto spf = set_pixel_format_message(CLIENT_PIXEL_FORMAT);
    EXPECT_EQ(peer.read(20), std::vector<std::uint8_t>(spf.begin(), spf.end()));
    EXPECT_EQ(peer.read(16), set_encodings_message(CLIENT_ENCODINGS));
    auto full = framebuffer_update_request_message(false, 0, 0, w, h);
    EXPECT_EQ(peer.read(10), std::vector<std::uint8_t>(full.begin(), full.end()));
}

std::vector<std::uint8_t> incremental(std::uint16_t w, std::uint16_t h) {
    auto m = framebuffer_update_request_message(true, 0, 0, w, h);
    return {m.begin(), m.end()};
}

bool has_thread_named(const std::string& name) { return test_support::threads_named(name) > 0; }

TEST(VncSession, PublishesFramesAndEndsWhenTheServerCloses) {
    std::promise<void> first_frame_seen, update_seen;
    ScriptedServer server([&](Peer& peer) {
        handshake(peer, 4, 2);
        first_frame_seen.get_future().wait();
        Wire w;
        w.u8(2);                                           // Bell
        w.u8(1).u8(0).u16(0).u16(2).fill(12, 9);           // SetColourMapEntries, two colours
        w.u8(3).fill(3, 0).u32(100000).fill(100000, 'c');  // ServerCutText
        w.u8(0).u8(0).u16(1).rect(1, 1, 2, 1, 0).bgrx(10, 20, 30).bgrx(40, 50, 60);
        peer.send(w);
        EXPECT_EQ(peer.read(10), incremental(4, 2));
        update_seen.get_future().wait();
    });
    auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
    ASSERT_TRUE(session);
    EXPECT_TRUE(has_thread_named("remote-vnc"));
    ASSERT_TRUE(eventually([&] { return session->status().is_connected(); })) << session->status().text;

    ASSERT_TRUE(eventually([&] { return session->framebuffer_size().has_value(); }));
    EXPECT_EQ(session->framebuffer_size(), (std::pair<std::uint16_t, std::uint16_t>{4, 2}));
    auto first = session->take_new_frame();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->generation, 0u);
    EXPECT_EQ(*first->pixels, PixelBuffer(32, 0));
    EXPECT_FALSE(session->take_new_frame()) << "a generation is handed out once";
    first_frame_seen.set_value();

    std::optional<Framebuffer> next;
    ASSERT_TRUE(eventually([&] { return (next = session->take_new_frame()).has_value(); }));
    EXPECT_EQ(next->generation, 1u) << "bell, colour map and cut text change no frame";
    EXPECT_EQ(next->pixel(1, 1), rfb_test::rgba(10, 20, 30));
    EXPECT_EQ(next->pixel(2, 1), rfb_test::rgba(40, 50, 60));
    EXPECT_EQ(first->pixel(1, 1), 0u) << "the first snapshot never changes";
    EXPECT_TRUE(session->status().is_connected());
    update_seen.set_value();

    ASSERT_TRUE(eventually([&] { return session->status() == SessionStatus::ended(); })) << session->status().text;
}

// Painting holds the newest snapshot and the one before while updates keep coming: the worker
// writes buffers again once they are let go, and never one still held.
TEST(VncSession, SnapshotsHeldByPaintingNeverChangeWhileBuffersAreReused) {
    constexpr std::uint16_t W = 48, H = 32;
    constexpr int UPDATES = 60;
    std::vector<Wire> updates;
    for (int u = 0; u < UPDATES; ++u) {
        Wire w;
        w.u8(0).u8(0).u16(1).rect(static_cast<std::uint16_t>(u * 7 % (W - 8)),
                                  static_cast<std::uint16_t>(u * 5 % (H - 8)), 8, 8, 0);
        for (int p = 0; p < 64; ++p) w.bgrx(static_cast<std::uint8_t>(u * 4), static_cast<std::uint8_t>(p), 9);
        updates.push_back(std::move(w));
    }
    ScriptedServer server([&](Peer& peer) {
        handshake(peer, W, H);
        for (const Wire& w : updates) {
            peer.send(w);
            EXPECT_EQ(peer.read(10), incremental(W, H));
            std::this_thread::sleep_for(1ms);
        }
        EXPECT_TRUE(peer.closed_within(10s));
    });
    auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
    ASSERT_TRUE(session);

    std::vector<std::pair<zavo_ui::Image, PixelBuffer>> held;
    std::optional<Framebuffer> newest;
    std::set<const void*> buffers;
    int taken = 0;
    ASSERT_TRUE(eventually(
        [&] {
            if (auto snapshot = session->take_new_frame()) {
                ++taken;
                buffers.insert(snapshot->pixels.get());
                zavo_ui::Image image = snapshot_image(*snapshot);
                held.emplace_back(image, *image.data);
                if (held.size() > 2) held.erase(held.begin());
                newest = std::move(snapshot);
            }
            for (const auto& [image, pixels] : held) EXPECT_EQ(*image.data, pixels);
            return newest && newest->generation == UPDATES;
        },
        20s, 1ms));
    EXPECT_LE(buffers.size(), 6u) << taken << " snapshots: buffers let go are written again";

    Framebuffer expected(W, H);
    for (const Wire& w : updates) {
        MemoryStream s(std::span(w.bytes).subspan(1));
        ASSERT_TRUE(read_framebuffer_update(s, expected, CLIENT_PIXEL_FORMAT));
    }
    EXPECT_EQ(*newest->pixels, *expected.pixels);
}

// 4096 RRE rectangles of a 4096 x 4096 desktop, each filling all of it: 80 KB that would have
// the worker write 4096 screens. It is refused from its headers: no pixel is written and nothing
// of the framebuffer's size is allocated, only what reading its first bytes takes.
TEST(VncSession, HostileUpdateIsRefusedFromItsHeaders) {
    constexpr std::uint16_t W = 4096, H = 4096;
    Wire hostile;
    hostile.u8(0).u8(0).u16(4096);
    for (int i = 0; i < 4096; ++i) hostile.rect(0, 0, W, H, 2).u32(0).bgrx(1, 2, 3);
    std::promise<void> shown;
    std::chrono::steady_clock::time_point sent;
    ScriptedServer server([&](Peer& peer) {
        handshake(peer, W, H);
        shown.get_future().wait();
        test_support::watch_allocations_of("remote-vnc");
        sent = std::chrono::steady_clock::now();
        peer.send(hostile);
        EXPECT_TRUE(peer.closed_within(10s));
    });
    auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
    ASSERT_TRUE(session);
    std::optional<Framebuffer> picture;  // held, as painting holds the picture it shows
    ASSERT_TRUE(eventually([&] { return (picture = session->take_new_frame()).has_value(); }, 10s));
    shown.set_value();
    ASSERT_TRUE(eventually([&] { return !session->status().is_connected(); }, 20s, 1ms));
    const auto took = std::chrono::steady_clock::now() - sent;
    server.join();
    test_support::stop_watching_allocations();
    EXPECT_EQ(session->status(), SessionStatus::failed("RFB update exceeds the pixel work limit"))
        << session->status().text;
    EXPECT_LE(test_support::largest_allocation(), 64u * 1024);
    EXPECT_EQ(std::count(picture->pixels->begin(), picture->pixels->end(), 0), std::ptrdiff_t{W} * H * 4);
    RecordProperty("refused_after_us", int(std::chrono::duration_cast<std::chrono::microseconds>(took).count()));
    RecordProperty("largest_allocation_bytes", int(test_support::largest_allocation()));
    RecordProperty("allocated_bytes", int(test_support::allocated_bytes()));
}

struct FailureCase {
    std::string name;
    std::function<void(Peer&)> script;
    std::optional<std::string> password;
    std::string status;
};

TEST(VncSession, FailuresBecomeFailedWithTheirText) {
    const std::vector<std::uint8_t> challenge(16, 7);
    std::vector<FailureCase> cases = {
        {"closed during security",
         [](Peer& p) {
             p.send(Wire().text("RFB 003.008\n"));
             p.read(12);
         },
         {},
         "failed to fill whole buffer"},
        {"bad version", [](Peer& p) { p.send(Wire().text("RFB 003-008\n")); }, {}, "bad ProtocolVersion"},
        {"wrong password, 3.7 server closes",
         [&](Peer& p) {
             p.send(Wire().text("RFB 003.007\n").u8(1).u8(2));
             p.read(13);
             p.send(challenge);
             p.read(16);
             p.send(Wire().u32(1));
         },
         "wrong", "authentication failed"},
        {"refused with a reason",
         [](Peer& p) {
             p.send(Wire().text("RFB 003.008\n").u8(0).reason("Too many security failures"));
             p.read(12);
         },
         {},
         "Too many security failures"},
        {"unknown server message",
         [](Peer& p) {
             handshake(p, 2, 2);
             p.send(Wire().u8(4));
             p.closed_within(5s);
         },
         {},
         "unknown server message 4"},
        {"update error while connected",
         [](Peer& p) {
             handshake(p, 2, 2);
             p.send(Wire().u8(0).u8(0).u16(1).rect(0, 0, 1, 1, 5));
             p.closed_within(5s);
         },
         {},
         "unsupported RFB encoding 5"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server(c.script);
        auto session = start_vnc_session("127.0.0.1", server.port(), c.password);
        ASSERT_TRUE(session);
        EXPECT_TRUE(eventually([&] { return session->status().kind == SessionStatus::Kind::Failed; }));
        EXPECT_EQ(session->status(), SessionStatus::failed(c.status));
    }
}

TEST(VncSession, RefusedConnection) {
    // A bound socket that does not listen refuses connections, and keeps its port from others.
    auto [fd, port] = test_support::bound_loopback_socket();
    ASSERT_GE(fd, 0);
    auto session = start_vnc_session("127.0.0.1", port, std::nullopt);
    ASSERT_TRUE(session);
    EXPECT_TRUE(eventually([&] { return !session->status().is_connecting(); }));
    EXPECT_EQ(session->status(), SessionStatus::failed("Connection refused"));
    ::close(fd);
}

TEST(VncSession, InputQueueIsBoundedAndReportsAGoneWorker) {
    std::promise<void> release;
    ScriptedServer server([&](Peer&) { release.get_future().wait(); });  // never greets
    auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
    ASSERT_TRUE(session);
    for (std::size_t i = 0; i < VNC_INPUT_CAPACITY; ++i) ASSERT_TRUE(session->send_input(VncInput::key(true, 0x61)));
    EXPECT_EQ(session->send_input(VncInput::pointer(0, 1, 1)).error(),
              "VNC input is busy; wait for the remote desktop to catch up");
    release.set_value();
    ASSERT_TRUE(eventually([&] { return session->status().kind == SessionStatus::Kind::Failed; }));
    EXPECT_EQ(session->send_input(VncInput::pointer(0, 1, 1)).error(), "VNC session input channel is closed");
}

TEST(VncSession, SendsQueuedInputInOrderAndRequestsUpdatesWhileTheServerIsSilent) {
    std::promise<void> connected;
    std::vector<std::chrono::steady_clock::time_point> requests;
    std::vector<std::uint8_t> input_bytes;
    ScriptedServer server([&](Peer& peer) {
        handshake(peer, 8, 8);
        connected.get_future().wait();
        input_bytes = peer.read(6 + 8 + 8);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(peer.read(10, 3s), incremental(8, 8));
            requests.push_back(std::chrono::steady_clock::now());
        }
    });
    auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
    ASSERT_TRUE(session);
    ASSERT_TRUE(eventually([&] { return session->status().is_connected(); }));
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(session->send_input(VncInput::pointer(5, 300, 2)));
    ASSERT_TRUE(session->send_input(VncInput::key(true, 0xFF0D)));
    ASSERT_TRUE(session->send_input(VncInput::key(false, 0xFF0D)));
    connected.set_value();
    server.join();

    Wire want;
    want.raw({5, 5, 1, 44, 0, 2}).raw({4, 1, 0, 0, 0, 0, 0xFF, 0x0D}).raw({4, 0, 0, 0, 0, 0, 0xFF, 0x0D});
    EXPECT_EQ(input_bytes, want.bytes);
    ASSERT_EQ(requests.size(), 3u);
    // One incremental request per 500 ms of silence.
    auto prev = start;
    for (auto t : requests) {
        EXPECT_GE(t - prev, 400ms);
        EXPECT_LE(t - prev, 1500ms);
        prev = t;
    }
}

TEST(VncSession, DroppingTheHandleEndsTheWorkerWhateverTheServerDoes) {
    // A worker that outlives its drop waits for a server that never answers: a bound well above
    // the few milliseconds a drop takes tells the two apart on a loaded machine.
    constexpr auto kEnds = 10s;
    test_support::FullBacklog unanswered;  // the TCP connect never completes
    test_support::SilentServer silent;     // accepts, then never greets
    ASSERT_TRUE(unanswered.ok() && silent.ok());
    ASSERT_TRUE(eventually([] { return !has_thread_named("remote-vnc"); }));
    const int sockets = test_support::open_sockets();
    {
        auto session = start_vnc_session("127.0.0.1", unanswered.port(), std::nullopt);
        ASSERT_TRUE(session);
    }
    EXPECT_TRUE(
        eventually([&] { return !has_thread_named("remote-vnc") && test_support::open_sockets() == sockets; }, kEnds))
        << "connecting";
    int peer = -1;
    {
        auto session = start_vnc_session("127.0.0.1", silent.port(), std::nullopt);
        ASSERT_TRUE(session);
        peer = silent.accept_client();
        ASSERT_GE(peer, 0);
    }
    EXPECT_TRUE(test_support::closed_by_client(peer, kEnds)) << "in the handshake";
    EXPECT_TRUE(eventually([] { return !has_thread_named("remote-vnc"); }, kEnds)) << "in the handshake";

    // Connected: what was queued just before the drop still goes out, then the worker leaves.
    std::vector<std::uint8_t> received;
    bool closed = false;
    ScriptedServer server([&](Peer& peer) {
        handshake(peer, 2, 2);
        received = peer.read(16);
        closed = peer.closed_within(kEnds);
    });
    {
        auto session = start_vnc_session("127.0.0.1", server.port(), std::nullopt);
        ASSERT_TRUE(session);
        ASSERT_TRUE(eventually([&] { return session->status().is_connected(); }));
        ASSERT_TRUE(session->send_input(VncInput::key(true, 0x61)));
        ASSERT_TRUE(session->send_input(VncInput::key(false, 0x61)));
    }
    server.join();
    std::vector<std::uint8_t> keys;
    for (const auto& event : {key_event_message(true, 0x61), key_event_message(false, 0x61)})
        keys.insert(keys.end(), event.begin(), event.end());
    EXPECT_EQ(received, keys);
    EXPECT_TRUE(closed);
}

TEST(VncSession, ClosedQueueEndsTheWorkerWithoutTouchingTheStatus) {
    std::promise<bool> client_closed;
    ScriptedServer server([&](Peer& peer) {
        handshake(peer, 2, 2);
        client_closed.set_value(peer.closed_within(5s));
    });
    auto status = remote::make_shared_cell<SessionStatus>(SessionStatus::connecting());
    auto frame = remote::make_shared_cell<std::optional<Framebuffer>>(std::nullopt);
    auto [tx, rx] = remote::make_bounded_channel<VncInput>(VNC_INPUT_CAPACITY);
    auto done = std::async(std::launch::async, [&, rx = std::move(rx)]() mutable {
        run_vnc_session("127.0.0.1", server.port(), std::nullopt, std::move(rx), status, frame);
    });
    ASSERT_TRUE(eventually([&] { return status->get().is_connected(); }));
    tx.reset();
    ASSERT_EQ(done.wait_for(2s), std::future_status::ready);
    EXPECT_TRUE(client_closed.get_future().get());
    EXPECT_EQ(status->get(), SessionStatus::connected());
}

}  // namespace
