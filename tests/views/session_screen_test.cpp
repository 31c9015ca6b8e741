// The session screen on the recording backend: status cards, the connected header, the terminal
// grid, the remote picture, and what one frame takes from the live session.
#include <gtest/gtest.h>

#include <cmath>

#include "known_hosts/known_hosts.hpp"
#include "profiles/connection_list.hpp"
#include "support/env.hpp"
#include "tests/views/session_harness.hpp"
#include "tests/views/view_frame.hpp"
#include "views/session_screen.hpp"
#include "views/terminal_view.hpp"

using namespace remote;
using namespace views_test;
using remote::views::picture_rect;
using remote::views::trim_terminal_rows;
using view_test::region_kinds;
using view_test::ViewFrame;
using K = UiCommand::Kind;
using zavo_ui::DrawRecord;
using zavo_ui::Rect;

namespace {

constexpr double OX = 16.0, OY = 48.0 + 16.0;
constexpr std::uint8_t kDefault = 0xFF;  // a cell colour that is the default one  // the grid's origin under the header (pane at 0, 0)

class SessionScreen : public ::testing::Test {
protected:
    void SetUp() override {
        env.set("REMOTE_LIVE_SESSIONS", nullptr);
        frame.close_navigation();  // the pane at the window's origin
    }

    // The session screen of the first connection of `kind`.
    Uuid show(ConnectionKind kind) {
        const auto id = frame.app->first_connection_of_kind(kind);
        EXPECT_TRUE(id);
        frame.app->screen = Screen::session(*id);
        return *id;
    }
    SavedConnection& connection(const Uuid& id) { return *find_connection(frame.app->connections, id); }

    // The texts drawn, in order.
    static std::vector<std::string> texts(const zavo_ui::RecordingBackend& records) {
        std::vector<std::string> out;
        for (const DrawRecord* t : records.texts()) out.push_back(t->text);
        return out;
    }
    // Whether `text` was drawn; a paragraph the card wrapped is drawn one line at a time.
    static bool has_text(const zavo_ui::RecordingBackend& records, std::string_view text) {
        std::string all;
        for (const DrawRecord* t : records.texts()) all += t->text + "\n";
        std::replace(all.begin(), all.end(), '\n', ' ');
        return records.find_text(text) != nullptr || all.find(std::string(text) + " ") != std::string::npos;
    }

    test_support::EnvGuard env;
    ViewFrame frame{RemoteApp::with_sample_data()};
};

TEST_F(SessionScreen, StatusCardsSayWhereTheSessionIs) {
    struct Case {
        ConnectionKind kind;
        std::optional<SessionStatus> status;
        std::vector<std::string> shown;
    } cases[] = {
        {ConnectionKind::Ssh,
         std::nullopt,
         {"Not connected", "This transport is unavailable in this build.", "Your saved connection is unchanged."}},
        {ConnectionKind::Zavo,
         SessionStatus::connecting(),
         {"Waiting for consent…",
          "Opening an authenticated route to the exact target, then waiting for it to share "
          "a workspace surface…"}},
        {ConnectionKind::Ssh,
         SessionStatus::connecting(),
         {"Connecting…", "Negotiating the transport and authenticating…"}},
        {ConnectionKind::Vnc, SessionStatus::connecting(), {"Connecting…"}},
        {ConnectionKind::Vnc,
         SessionStatus::failed("Connection refused"),
         {"Connection failed", "Connection refused", "This is the real error — nothing is simulated.", "Retry"}},
        {ConnectionKind::Ssh, SessionStatus::ended(), {"Session ended", "The remote closed the session."}},
        {ConnectionKind::Ssh,
         SessionStatus::unavailable("No live sessions here."),
         {"Connection not available", "No live sessions here.",
          "Use Zavo device control now, or install Remote with live network and host-key trust access.",
          "Edit profile"}},
        {ConnectionKind::Rdp,
         SessionStatus::unavailable("No RDP."),
         {"Connection not available", "Edit this saved profile to use SSH, VNC, or Zavo device control."}},
        {ConnectionKind::Zavo,
         SessionStatus::unavailable("Not a device."),
         {"Connection not available", "No connection was attempted."}},
    };
    for (const auto& c : cases) {
        if (c.status) {
            frame.app->show_preview_session(c.kind, *c.status);
        } else {
            frame.app->session.end();
            show(c.kind);
        }
        const auto records = frame.paint();
        for (const auto& text : c.shown) EXPECT_TRUE(has_text(records, text)) << text;
        // Every card offers the way back to the list; none draws a session header.
        EXPECT_TRUE(has_text(records, "Back to list"));
        EXPECT_FALSE(has_text(records, "Disconnect"));
        EXPECT_EQ(region_kinds(*frame.app).back(), K::Disconnect);
    }
}

// A refused host key: the card says what happened in a sentence, and each key follows it in a
// block of its own, drawn as exactly its characters in the monospaced face and broken into lines
// of whole characters where the card is narrow.
TEST_F(SessionScreen, ARefusedHostKeyIsSetApartFromItsSentence) {
    const HostKeyIdentity seen{"ssh-ed25519", "SHA256:vmbxoEV6x9mNq0Zr1dS4Gk7TyhW2pLcA8uFjB3eXo5s"};
    const HostKeyIdentity pinned{"ssh-rsa", "SHA256:Qw1x2Er3Ty4Ui5Op6As7Df8Gh9Jk0LzXcVbNm12345"};
    struct Case {
        HostKeyProblem problem;
        std::vector<std::string> captions;
        std::vector<HostKeyIdentity> keys;
    } cases[] = {
        {HostKeyUnknown{seen}, {}, {seen}},
        {HostKeyChanged{pinned, seen}, {"Expected", "Received"}, {pinned, seen}},
    };
    for (const auto& c : cases) {
        for (const double width : {1280.0, 420.0}) {
            SshHarness ssh(*frame.app);
            const Uuid id = show(ConnectionKind::Ssh);
            const SavedConnection& target = connection(id);
            ssh.host_key->set(c.problem);
            ssh.status->set(SessionStatus::failed(message(c.problem, target.host, target.port)));
            frame.resize(width, 800);
            const auto records = frame.paint();
            SCOPED_TRACE(width);

            const std::string sentence = message_without_keys(c.problem, target.host, target.port);
            EXPECT_TRUE(has_text(records, sentence));
            for (const auto& caption : c.captions) EXPECT_TRUE(records.find_text(caption)) << caption;
            // Each key's characters, in order, in verbatim monospaced lines that only it fills.
            std::string keys;
            double last_bottom = 0;
            for (const DrawRecord* t : records.texts()) {
                if (!t->style.verbatim || t->style.family != zavo_ui::FontFamily::Mono) continue;
                keys += t->text;
                EXPECT_LE(t->bounds.x1, width - 40) << t->text;
                last_bottom = std::max(last_bottom, t->bounds.y1);
            }
            std::string expected;
            for (const auto& k : c.keys) expected += k.algorithm + k.fingerprint;
            EXPECT_EQ(keys, expected);
            for (const DrawRecord* t : records.texts()) {
                if (!t->style.verbatim) {
                    EXPECT_EQ(t->text.find("SHA256:"), std::string::npos) << t->text;
                }
            }
            // The sentence after the keys, then the card's buttons.
            const auto drawn = records.texts();
            const auto after = std::ranges::find_if(
                drawn, [](const DrawRecord* t) { return t->text.starts_with("This is the real error"); });
            ASSERT_NE(after, drawn.end());
            EXPECT_GT((*after)->bounds.y0, last_bottom);
            const auto key_button = frame.app->hit_region_rect(UiCommand::with_id(
                std::holds_alternative<HostKeyUnknown>(c.problem) ? K::RequestTrustHostKey : K::RequestForgetHostKey,
                id));
            ASSERT_TRUE(key_button);
            EXPECT_GT(key_button->y0, last_bottom);
            frame.app->session.end();
        }
    }
}

// The header names where the session is connected: the target it was launched for, also once
// the connection was edited to another one (Connect then asks before it goes there).
TEST_F(SessionScreen, TheHeaderShowsTheTargetTheSessionIsConnectedTo) {
    const Uuid id = *frame.app->first_connection_of_kind(ConnectionKind::Zavo);
    frame.app->start_session(id);
    const auto requests = frame.app->take_device_requests();
    ASSERT_FALSE(requests.empty());
    frame.app->handle_device_event({requests.front().session_id(), DeviceEvent::Connected{640, 360}});
    const std::string connected = "· " + target_label(connection(id)) + " · workspace stream";
    connection(id).name = "Renamed";
    connection(id).host = zavo_ui::simulated_devices::SIMULATED_DEVICES[1].endpoint_id();
    const auto records = frame.paint();
    EXPECT_TRUE(records.find_text("Renamed"));
    const DrawRecord* detail = records.find_text(connected);
    ASSERT_NE(detail, nullptr);
    EXPECT_TRUE(detail->style.verbatim);
}

TEST_F(SessionScreen, AVanishedConnectionShowsOnlyItsNote) {
    frame.app->screen = Screen::session(Uuid::new_v4());
    const auto records = frame.paint();
    EXPECT_EQ(texts(records), std::vector<std::string>{"Connection no longer exists."});
    EXPECT_EQ(records.find_text("Connection no longer exists.")->bounds.x0, 24.0);
    EXPECT_TRUE(frame.app->hit_regions.empty());
}

TEST_F(SessionScreen, SshHeaderAndTheTerminalGrid) {
    SshHarness ssh(*frame.app);
    const Uuid id = show(ConnectionKind::Ssh);
    // Output that arrives before a frame is drawn in that frame: plain, bold, red, plain again.
    ssh.write("ab \x1b[1mB\x1b[0m c\x1b[31mred\x1b[0m\r\nsecond line   \r\n\r\n  x");
    const auto records = frame.paint();

    EXPECT_EQ(region_kinds(*frame.app), std::vector<K>{K::Disconnect});
    EXPECT_TRUE(has_text(records, connection(id).name));
    EXPECT_TRUE(has_text(records, "· " + target_label(connection(id)) + " · shell"));
    EXPECT_FALSE(has_text(records, "Fullscreen"));

    const auto& palette = zavo_ui::tokens::terminal_palette::TerminalPalette::dark();
    struct Run {
        std::string text;
        double x, y;
        std::uint8_t weight;
        zavo_ui::Color color;
    };
    // Runs of like cells, without the blanks at their ends.
    const std::vector<Run> expected = {
        {"ab", OX, OY, 0, palette.foreground},
        {"B", OX + 8.4 * 3, OY, 3, palette.foreground},
        {"c", OX + 8.4 * 5, OY, 0, palette.foreground},
        {"red", OX + 8.4 * 6, OY, 0, palette.colors[1]},
        {"second line", OX, OY + 21, 0, palette.foreground},
        {"x", OX + 8.4 * 2, OY + 63, 0, palette.foreground},
    };
    std::vector<const DrawRecord*> grid;
    for (const DrawRecord* t : records.texts())
        if (t->style.family == zavo_ui::FontFamily::Mono) grid.push_back(t);
    ASSERT_EQ(grid.size(), expected.size());
    const Rect surface{0, 48, 1280, 800};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(grid[i]->text, expected[i].text) << i;
        EXPECT_NEAR(grid[i]->bounds.x0, expected[i].x, 1e-9) << i;
        EXPECT_NEAR(grid[i]->bounds.y0, expected[i].y, 1e-9) << i;
        EXPECT_EQ(grid[i]->style.size, 14.0f) << i;
        EXPECT_EQ(grid[i]->style.weight, expected[i].weight) << i;
        EXPECT_EQ(grid[i]->color, expected[i].color) << i;
        EXPECT_EQ(grid[i]->clip, surface) << i;  // clipped to the surface
    }
    // The cursor after "  x" on row 3, in the foreground at alpha 0.6, on whole pixels.
    const auto fills = records.of_kind(DrawRecord::Kind::Fill);
    const auto cursor = std::ranges::find_if(fills, [&](const DrawRecord* f) {
        return f->bounds == Rect{std::round(OX + 8.4 * 3), OY + 63, std::round(OX + 8.4 * 4), OY + 63 + 16.8};
    });
    ASSERT_NE(cursor, fills.end());
    EXPECT_EQ((*cursor)->color->a, 153.0f / 255.0f);
    EXPECT_EQ((*cursor)->clip, surface);
    // The surface ground in the palette background.
    EXPECT_TRUE(std::ranges::any_of(
        fills, [&](const DrawRecord* f) { return f->bounds == surface && f->color == palette.background; }));
}

TEST_F(SessionScreen, OutputWaitsWhileAnotherScreenShows) {
    SshHarness ssh(*frame.app);
    const Uuid id = show(ConnectionKind::Ssh);
    connection(id).presence = Presence::Offline;
    frame.app->screen = Screen::list();
    ssh.write("hello");
    frame.paint();
    EXPECT_EQ(connection(id).presence, Presence::Offline);
    frame.app->screen = Screen::session(id);
    frame.app->redraw_needed = false;
    const auto records = frame.paint();
    EXPECT_TRUE(has_text(records, "hello"));
    EXPECT_TRUE(frame.app->needs_redraw());
    // Painting the connected session marks its connection online, in memory only.
    EXPECT_EQ(connection(id).presence, Presence::Online);
}

TEST_F(SessionScreen, TrimmedRowsKeepBlanksThatShow) {
    auto cell = [](char32_t c, std::uint8_t colour = kDefault, std::uint16_t flags = 0,
                   std::uint8_t background = kDefault) {
        const auto of = [](std::uint8_t i) { return i == kDefault ? TerminalColour() : TerminalColour::palette(i); };
        return TerminalCell{c, of(colour), of(background), flags};
    };
    using Row = std::vector<TerminalCell>;
    struct Case {
        Row row;
        std::size_t kept;
    } cases[] = {
        {{cell('a'), cell('b'), cell(' '), cell(' ')}, 2},
        {{cell(' '), cell(' ')}, 0},
        {{}, 0},
        // A coloured space and a bold blank: only the colour keeps a blank.
        {{cell('a'), cell(' ', 2), cell(' ')}, 2},
        {{cell('a'), cell(' ', kDefault, cell_flag::kBold)}, 1},
        {{cell(' '), cell('x')}, 2},
        // Blanks that show: a ground, inverse, an underline, a strike-through.
        {{cell('a'), cell(' ', kDefault, 0, 4), cell(' ')}, 2},
        {{cell(' ', kDefault, cell_flag::kInverse), cell(' ')}, 1},
        {{cell(' ', kDefault, cell_flag::kUnderline)}, 1},
        {{cell(' ', kDefault, cell_flag::kStrike), cell(' ', kDefault, cell_flag::kItalic)}, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(trim_terminal_rows(c.row).size(), c.kept);
}

TEST_F(SessionScreen, PictureScaledToFitOrAtItsSize) {
    struct Case {
        Rect surface;
        std::uint32_t w, h;
        bool fit;
        Rect drawn;
    } cases[] = {
        {{0, 0, 1000, 500}, 800, 600, true, {500 - 1000.0 / 3, 0, 500 + 1000.0 / 3, 500}},
        {{0, 0, 1000, 800}, 640, 480, false, {180, 160, 820, 640}},
        {{0, 0, 1000, 800}, 1920, 1080, false, {0, 0, 1000, 800}},
        {{100, 48, 1100, 848}, 1920, 1080, true, {100, 166.75, 1100, 729.25}},
        {{0, 0, 100, 100}, 0, 0, false, {49.5, 49.5, 50.5, 50.5}},
        {{0, 0, 100, 100}, 0, 50, true, {49, 0, 51, 100}},  // width 0 counts as 1: 1 x 50 fits as 2 x 100
    };
    for (const auto& c : cases) {
        const Rect d = picture_rect(c.surface, c.w, c.h, c.fit);
        EXPECT_NEAR(d.x0, c.drawn.x0, 1e-9) << c.w << "x" << c.h;
        EXPECT_NEAR(d.y0, c.drawn.y0, 1e-9) << c.w << "x" << c.h;
        EXPECT_NEAR(d.x1, c.drawn.x1, 1e-9) << c.w << "x" << c.h;
        EXPECT_NEAR(d.y1, c.drawn.y1, 1e-9) << c.w << "x" << c.h;
    }
}

TEST_F(SessionScreen, VncHeaderWaitingTextAndTheSharedPicture) {
    VncHarness vnc(*frame.app);
    const Uuid id = show(ConnectionKind::Vnc);
    const Rect earlier{1, 2, 3, 4};
    frame.app->session.set_surface_rect(earlier);

    auto records = frame.paint();
    EXPECT_EQ(region_kinds(*frame.app), (std::vector<K>{K::Disconnect, K::ToggleFullscreen, K::ToggleScale}));
    const auto& regions = frame.app->hit_regions;
    EXPECT_LT(regions[2].rect.x1, regions[1].rect.x0);  // Scale, Fullscreen, Disconnect from left to right
    EXPECT_LT(regions[1].rect.x1, regions[0].rect.x0);
    EXPECT_EQ(regions[0].rect, (Rect{1280 - 122, 8, 1280 - 12, 40}));
    EXPECT_TRUE(has_text(records, "Scale: Fit"));
    EXPECT_TRUE(has_text(records, "· " + target_label(connection(id)) + " · framebuffer"));
    // The name stops short of the buttons.
    EXPECT_EQ(records.find_text(connection(id).name)->clip, (Rect{0, 0, regions[2].rect.x0 - 8, 48}));
    EXPECT_TRUE(has_text(records, "Connected — waiting for the first framebuffer update…"));
    EXPECT_EQ(frame.app->session.surface_rect(), earlier);
    EXPECT_TRUE(records.of_kind(DrawRecord::Kind::Image).empty());

    vnc.publish(1920, 1080);
    const auto pixels = vnc.frame->get()->pixels;
    records = frame.paint();
    ASSERT_TRUE(frame.app->session.picture());
    EXPECT_EQ(frame.app->session.picture()->data.get(), pixels.get());  // the worker's bytes, not a copy
    const auto images = records.of_kind(DrawRecord::Kind::Image);
    ASSERT_EQ(images.size(), 1u);
    const Rect expected = picture_rect({0, 48, 1280, 800}, 1920, 1080, true);
    EXPECT_EQ(images[0]->bounds, expected);
    EXPECT_EQ(frame.app->session.surface_rect(), expected);
    EXPECT_EQ(images[0]->image_blob_id, frame.app->session.picture()->blob_id);
    const zavo_ui::Affine brush = *images[0]->brush_transform;
    EXPECT_NEAR(brush.m[0], 1280.0 / 1920.0, 1e-12);
    EXPECT_NEAR(brush.m[4], expected.x0, 1e-12);
    EXPECT_NEAR(brush.m[5], expected.y0, 1e-12);

    // The same generation again is not taken again; a newer one is, with a new blob id.
    const auto first_blob = frame.app->session.picture()->blob_id;
    frame.paint();
    EXPECT_EQ(frame.app->session.picture()->blob_id, first_blob);
    vnc.publish(640, 480, 2);
    frame.app->session.set_scale_to_fit(false);
    records = frame.paint();
    EXPECT_NE(frame.app->session.picture()->blob_id, first_blob);
    EXPECT_TRUE(has_text(records, "Scale: 1:1"));
    EXPECT_EQ(frame.app->session.surface_rect(), picture_rect({0, 48, 1280, 800}, 640, 480, false));
}

TEST_F(SessionScreen, FullscreenDropsTheHeaderAndShowsTheHint) {
    VncHarness vnc(*frame.app);
    show(ConnectionKind::Vnc);
    frame.app->session.set_fullscreen(true);
    auto records = frame.paint();
    EXPECT_FALSE(has_text(records, "Esc to exit fullscreen"));  // not while waiting
    vnc.publish(800, 600);
    records = frame.paint();
    EXPECT_FALSE(has_text(records, "Disconnect"));
    const DrawRecord* hint = records.find_text("Esc to exit fullscreen");
    ASSERT_NE(hint, nullptr);
    EXPECT_EQ(hint->bounds.x0, 1280 - 170);
    EXPECT_EQ(hint->bounds.y0, 12);
    EXPECT_EQ(frame.app->session.surface_rect(), picture_rect({0, 0, 1280, 800}, 800, 600, true));
}

TEST_F(SessionScreen, DevicePictureMovesIntoTheFrameImage) {
    const DeviceSession& device = install_device_session(*frame.app, 640, 360);
    const Uuid id = show(ConnectionKind::Zavo);
    DecodedFrame picture{std::vector<std::uint8_t>(320 * 180 * 4, 7), 320, 180};
    const std::uint8_t* bytes = picture.rgba.data();
    device.decoded_frame->set(std::move(picture));
    const auto records = frame.paint();
    ASSERT_TRUE(frame.app->session.picture());
    EXPECT_EQ(frame.app->session.picture()->data->data(), bytes);  // moved, not copied
    EXPECT_EQ(frame.app->session.picture()->width, 320u);
    EXPECT_EQ(device.frame_size, (std::pair<std::uint32_t, std::uint32_t>{320, 180}));
    EXPECT_FALSE(device.decoded_frame->get());
    EXPECT_TRUE(has_text(records, "· " + target_label(connection(id)) + " · workspace stream"));
    EXPECT_EQ(records.of_kind(DrawRecord::Kind::Image).size(), 1u);
}

}  // namespace

TEST_F(SessionScreen, HeaderButtonsANarrowPaneCannotHoldAreCutAtItsEdge) {
    VncHarness vnc(*frame.app);
    show(ConnectionKind::Vnc);
    frame.resize(300, 800);  // the pane starts at 64, beside the rail's strip
    const auto records = frame.paint();
    EXPECT_EQ(frame.app->hit_region_rect(UiCommand::plain(K::ToggleScale))->x0, 64);
    EXPECT_EQ(records.find_text("Scale: Fit")->clip, (Rect{64, 0, 300, 48}));
}
