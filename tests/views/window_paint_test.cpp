// The frame on the recording backend: the hit regions in drawing order, the flap animation, the
// notice banner, the confirmation dialog and the navigation.
#include <gtest/gtest.h>

#include "profiles/connection_list.hpp"
#include "support/env.hpp"
#include "support/saved_connection.hpp"
#include "tests/views/view_frame.hpp"
#include "zavo_ui/surface.hpp"

#include <chrono>
#include <functional>
#include <cmath>

using namespace remote;
using namespace view_test;

namespace {

bool contains(const std::vector<K>& kinds, K kind) { return std::ranges::find(kinds, kind) != kinds.end(); }

// The first fill in `color` whose bounds are `rect`.
bool filled(const zavo_ui::RecordingBackend& records, const zavo_ui::Color& color, const Rect& rect) {
    for (const DrawRecord* r : records.of_kind(DrawRecord::Kind::Fill))
        if (r->color == color && r->bounds == rect) return true;
    return false;
}

class WindowPaint : public ::testing::Test {
protected:
    void SetUp() override { env.set("REMOTE_LIVE_SESSIONS", nullptr); }
    test_support::EnvGuard env;
};

}  // namespace

TEST_F(WindowPaint, ListFrameRegionsInDrawingOrder) {
    ViewFrame f(RemoteApp::with_sample_data());
    f.paint();
    const auto& regions = f.app->hit_regions;
    const auto visible = visible_connections(f.app->connections, "");
    // Heading, search, four per ready row and three per row that is not, then the rail.
    std::vector<UiCommand> expected{UiCommand::plain(K::NewConnectionForm), UiCommand::focus_input(InputSlot::Search)};
    for (const SavedConnection* c : visible) {
        expected.push_back(UiCommand::with_id(K::Select, c->id));
        expected.push_back(UiCommand::with_id(K::ToggleFavorite, c->id));
        if (c->readiness() == ConnectionReadiness::Ready)
            expected.push_back(UiCommand::with_id(K::RequestConnect, c->id));
        expected.push_back(UiCommand::with_id(K::EditConnection, c->id));
    }
    expected.push_back(UiCommand::plain(K::ShowConnections));
    expected.push_back(UiCommand::plain(K::NewConnectionForm));
    ASSERT_EQ(regions.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(regions[i].command, expected[i]) << i;

    // The fake renderer: 22 px bold is 27.5 high, 13 px is 16.25; the pane starts at 64.
    const double th = 27.5, search_top = 16 + th + 4 + 16.25 + 12 + 8, viewport = search_top + 36 + 16;
    // "Build Box" (favourite, 9 letters at 16 px: 72 wide) is first; SSH without live access
    // shows a pill, so its third region is Edit.
    const double star_x = 88 + 44 + 72 + 16;
    const std::vector<Rect> rects{
        {1280 - 24 - 150, 16 + th / 2 - 16, 1256, 16 + th / 2 + 16},                      // + New connection
        {88, search_top, 1256, search_top + 36},                                          // search
        {88, viewport, 1256, viewport + 72},                                              // row 0
        {star_x - 11, viewport + 21 - 11, star_x + 11, viewport + 21 + 11},               // its star
        {1256 - 16 - 100 - 12 - 76, viewport + 20, 1256 - 16 - 100 - 12, viewport + 52},  // its Edit
    };
    for (std::size_t i = 0; i < rects.size(); ++i) EXPECT_EQ(regions[i].rect, rects[i]) << i;
    EXPECT_EQ(regions[regions.size() - 2].rect, (Rect{12, 72, 52, 112}));
    EXPECT_EQ(regions.back().rect, (Rect{12, 128, 52, 168}));
    EXPECT_DOUBLE_EQ(f.app->list_top, viewport);
}

TEST_F(WindowPaint, ConfirmationDialogEndsTheFrame) {
    struct Case {
        double width;
        double dialog_width;
    } cases[] = {{1000, 460}, {400, 368}, {200, 280}};
    for (const auto& c : cases) {
        ViewFrame f(RemoteApp::with_sample_data(), c.width, 600);
        const SavedConnection& first = f.app->connections.front();
        f.app->request_delete(first.id);
        // A tooltip that would be due: the host is not ticked while the dialog is open.
        f.app->tooltip.on_pointer(zavo_ui::widget::tooltip::HoverTarget{{0, 0, 10, 10}, "tip"},
                                  std::chrono::steady_clock::now() - std::chrono::seconds(5));
        const auto records = f.paint();
        const double cx = c.width / 2, x1 = cx + c.dialog_width / 2;
        const auto kinds = region_kinds(*f.app);
        ASSERT_GE(kinds.size(), 2u);
        EXPECT_EQ(kinds[kinds.size() - 2], K::CancelConfirmation);
        EXPECT_EQ(kinds.back(), K::Confirm);
        EXPECT_FALSE(contains(kinds, K::ShowConnections));
        EXPECT_FALSE(contains(kinds, K::ToggleNavigation));
        EXPECT_FALSE(f.app->tooltip.shown());
        EXPECT_EQ(f.app->hit_regions[kinds.size() - 2].rect,
                  (Rect{x1 - 244, 300 + 112 - 58, x1 - 132, 300 + 112 - 18}));
        EXPECT_EQ(f.app->hit_regions.back().rect, (Rect{x1 - 120, 300 + 112 - 58, x1 - 18, 300 + 112 - 18}));
        EXPECT_TRUE(filled(records, zavo_ui::chrome::shell::panel_ground(f.theme),
                           Rect{cx - c.dialog_width / 2, 300 - 112, x1, 300 + 112}))
            << c.width;
        const DrawRecord* title = records.find_text("Delete " + first.name + "?");
        ASSERT_NE(title, nullptr);
        EXPECT_EQ(title->bounds.x0, cx - c.dialog_width / 2 + 24);
        EXPECT_TRUE(records.find_text(target_label(first)));
    }
}

TEST_F(WindowPaint, DialogTextsByRequestAndForAVanishedConnection) {
    ViewFrame f(RemoteApp::with_sample_data());
    const SavedConnection c = f.app->connections.front();
    const std::string key = confirmation_key(c);
    using R = ConfirmationRequest::Kind;
    struct Case {
        ConfirmationRequest request;
        std::vector<std::string> shown;
    } cases[] = {
        {{R::Connect, key, {}, c.id},
         {"Connect to " + c.name + "?", target_label(c),
          "This opens a live remote session. Remote will recheck the saved target and access before anything is "
          "sent.",
          "Cancel", "Connect"}},
        {{R::TrustHostKey, key, {"ssh-ed25519", "SHA256:abc"}, c.id},
         {"Trust SSH key for " + c.name + "?", target_label(c), "Verify this out of band before trusting:",
          "ssh-ed25519", "SHA256:abc", "This pin is private to this device.", "Cancel", "Trust key"}},
        {{R::ForgetHostKey, key, {}, c.id},
         {"Forget SSH key for " + c.name + "?", target_label(c),
          "This removes only this device's saved host-key pin. Reconnect to inspect and explicitly trust a "
          "replacement key.",
          "Cancel", "Forget key"}},
        {{R::Delete, key, {}, Uuid::new_v4()},
         {"Delete this saved connection?",
          "This removes the shared saved profile from Remote. It does not modify the remote machine.", "Cancel",
          "Delete"}},
    };
    for (const auto& c : cases) {
        f.app->confirmation = c.request;
        const auto all = texts(f.paint());
        const std::vector<std::string> last(all.end() - std::ptrdiff_t(c.shown.size()), all.end());
        EXPECT_EQ(last, c.shown);
    }
}

// The key to trust is set apart from the sentences around it, as exactly its characters in the
// monospaced face; the panel grows to keep the buttons below it, in a narrow window too, where
// the fingerprint breaks into lines of whole characters.
TEST_F(WindowPaint, TheTrustDialogSetsTheKeyApart) {
    const HostKeyIdentity identity{"ssh-ed25519", "SHA256:vmbxoEV6x9mNq0Zr1dS4Gk7TyhW2pLcA8uFjB3eXo5s"};
    for (const double width : {1280.0, 320.0}) {
        SCOPED_TRACE(width);
        ViewFrame f(RemoteApp::with_sample_data(), width, 800);
        const SavedConnection& c = f.app->connections.front();
        f.app->confirmation = ConfirmationRequest{ConfirmationRequest::Kind::TrustHostKey, confirmation_key(c),
                                                  identity, c.id};
        const auto records = f.paint();
        std::string key;
        double bottom = 0;
        for (const DrawRecord* t : records.texts()) {
            if (t->style.family != zavo_ui::FontFamily::Mono) continue;
            EXPECT_TRUE(t->style.verbatim) << t->text;
            key += t->text;
            bottom = std::max(bottom, t->bounds.y1);
        }
        EXPECT_EQ(key, identity.algorithm + identity.fingerprint);
        EXPECT_GT(records.find_text("This pin is private to this device.")->bounds.y0, bottom);
        EXPECT_GT(f.app->hit_region_rect(UiCommand::plain(K::Confirm))->y0, bottom);
        EXPECT_TRUE(records.find_text(target_label(c))->style.verbatim);
    }
}

TEST_F(WindowPaint, NoticeBannerAtTheBottomRight) {
    // The fake renderer sets 12 px text 6 wide a letter and 15 high a line.
    const std::string one_line = "Action cancelled.";
    const std::string two_lines = "Action cancelled. No connection or profile was changed.";
    struct Case {
        double width;
        std::string notice;
        double banner, height;
    } cases[] = {{300, one_line, 268, 54}, {1280, two_lines, 520, 54}, {300, two_lines, 268, 27 + 30 + 9}};
    for (const auto& c : cases) {
        ViewFrame f(RemoteApp::new_(), c.width, 800);
        f.app->notice = Notice{c.notice};
        const auto records = f.paint();
        const Rect box{c.width - 16 - c.banner, 784 - c.height, c.width - 16, 784};
        EXPECT_TRUE(filled(records, f.colors().background, box)) << c.width;  // opaque under the tint
        EXPECT_TRUE(filled(records, views::color_with_alpha(f.colors().warning, 0.18f), box)) << c.width;
        EXPECT_EQ(records.find_text("Action needs review")->bounds.x0, box.x0 + 12);
        const DrawRecord* notice = records.find_text(c.notice);
        ASSERT_NE(notice, nullptr);
        EXPECT_EQ(notice->bounds.y0, box.y0 + 27);
        EXPECT_EQ(notice->style.wrap_width, c.banner - 24);
    }
}

// A notice about saving is titled by what it says; a notice of an action after it is titled
// as one again.
TEST_F(WindowPaint, TheBannerIsTitledByItsNotice) {
    using State = zavo_ui::DocumentSaving::State;
    const std::pair<zavo_ui::DocumentSaving, const char*> cases[] = {
        {{State::NotSaved, "Read-only file system", ""}, "Changes are not saved"},
        {{State::KeptElsewhere, "No space left on device", ""}, "Not saved on this device"},
        {{State::Saved, "", ""}, "Saving works again"},
    };
    ViewFrame f(RemoteApp::new_(), 420, 560);
    for (const auto& [saving, title] : cases) {
        f.app->document_saving(saving);
        const auto records = f.paint();
        const DrawRecord* drawn = records.find_text(title);
        ASSERT_NE(drawn, nullptr) << title;
        EXPECT_EQ(drawn->bounds.x0, 16 + 12);  // the banner is 388 wide, 16 from the right
        EXPECT_FALSE(records.find_text("Action needs review")) << title;
    }
    crdt::Document doc;
    f.app->execute(UiCommand::plain(K::CancelConfirmation), doc);
    EXPECT_TRUE(f.paint().find_text("Action needs review"));
}

// A control under a cover the pointer is on (the notice banner, a dialog, the narrow
// navigation's scrim) shows no hover: the cover takes the click.
TEST_F(WindowPaint, AControlUnderACoverShowsNoHover) {
    struct Case {
        const char* what;
        double width;
        const char* row;
        std::function<void(RemoteApp&)> cover;
    } cases[] = {
        {"banner", 1280, "Workshop Laptop", [](RemoteApp& a) { a.notice = Notice{"Action cancelled."}; }},
        {"dialog", 1280, "Build Box", [](RemoteApp& a) { a.request_delete(a.connections.front().id); }},
        {"scrim", 600, "Build Box", [](RemoteApp& a) { a.nav_choice = true; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ViewFrame f(RemoteApp::with_sample_data(), c.width, 800);
        f.app->reduced_motion = true;
        f.paint();
        const UiCommand edit = UiCommand::with_id(K::EditConnection, test_support::id_named(f.app->connections, c.row));
        const Rect button = *f.app->hit_region_rect(edit);
        // Where the banner will lie over the button; its middle for the others.
        const Rect banner{1280 - 16 - 520, 800 - 70, 1280 - 16, 800 - 16};
        f.app->pointer = std::string_view(c.what) == "banner" ? button.intersect(banner).center() : button.center();
        const zavo_ui::Color hovered = f.colors().lift(1.6f);
        EXPECT_TRUE(filled(f.paint(), hovered, button)) << "hovered without a cover";
        c.cover(*f.app);
        f.app->snap_nav_flap();
        EXPECT_FALSE(filled(f.paint(), hovered, button));
    }
}

TEST_F(WindowPaint, NavigationByLayout) {
    struct Case {
        const char* what;
        double width;
        std::optional<bool> choice;
        std::vector<K> tail;  // the last regions of the frame
        double pane_x0;
    } cases[] = {
        {"wide, open", 1280, std::nullopt, {K::EditConnection, K::ShowConnections, K::NewConnectionForm}, 64},
        {"wide, closed", 1280, false, {K::EditConnection}, 0},
        {"narrow, closed", 600, std::nullopt, {K::ToggleNavigation}, 64},
        {"narrow, open", 600, true, {K::ToggleNavigation, K::ShowConnections, K::NewConnectionForm}, 64},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ViewFrame f(RemoteApp::with_sample_data(), c.width);
        f.app->nav_choice = c.choice;
        f.app->snap_nav_flap();
        const auto records = f.paint();
        const auto kinds = region_kinds(*f.app);
        EXPECT_EQ(std::vector<K>(kinds.end() - std::ptrdiff_t(c.tail.size()), kinds.end()), c.tail);
        EXPECT_EQ(f.app->hit_regions[1].rect.x0, c.pane_x0 + 24);  // the search input
        if (c.width < 720) {
            const bool open = c.choice.value_or(false);
            EXPECT_EQ(records.find_text("‹") != nullptr, open);
            // Closed: three bars in the toggle button.
            int bars = 0;
            for (const DrawRecord* r : records.of_kind(DrawRecord::Kind::Fill))
                if (r->color == f.colors().text_primary && r->bounds.height() == 2) ++bars;
            EXPECT_EQ(bars, open ? 0 : 3);
        }
    }
}

TEST_F(WindowPaint, FlapAnimationAndReducedMotion) {
    using namespace std::chrono;
    ViewFrame f(RemoteApp::new_());
    // After a 5-second gap the flap moves as far as 0.1 s would take it.
    f.app->nav_choice = false;
    f.app->last_frame = steady_clock::now() - seconds(5);
    f.app->redraw_needed = false;
    f.paint();
    EXPECT_NEAR(f.app->flap.progress, std::exp(-1.4), 1e-9);
    EXPECT_TRUE(f.app->redraw_needed);

    // Frames 16 ms apart settle it exactly on the target; then it asks for nothing.
    int frames = 0;
    while (f.app->flap.progress != 0.0 && frames < 100) {
        f.app->last_frame = steady_clock::now() - milliseconds(16);
        f.paint();
        ++frames;
    }
    EXPECT_LT(frames, 40);
    f.app->redraw_needed = false;
    f.paint();
    EXPECT_FALSE(f.app->redraw_needed);
    EXPECT_FALSE(f.app->wants_animation_frame());

    // Reduced motion: straight to the target, no frames asked for.
    f.app->reduced_motion = true;
    f.app->nav_choice = true;
    f.paint();
    EXPECT_EQ(f.app->flap.progress, 1.0);
    EXPECT_FALSE(f.app->redraw_needed);
}

TEST_F(WindowPaint, FullscreenSessionHasNoNavigation) {
    ViewFrame f(RemoteApp::with_sample_data());
    f.app->show_preview_session(ConnectionKind::Vnc, SessionStatus::connected());
    f.app->session.set_fullscreen(true);
    f.paint();
    const auto kinds = region_kinds(*f.app);
    EXPECT_FALSE(contains(kinds, K::ShowConnections));
    EXPECT_FALSE(contains(kinds, K::NewConnectionForm));
    f.app->session.set_fullscreen(false);
    f.paint();
    EXPECT_TRUE(contains(region_kinds(*f.app), K::ShowConnections));
}

TEST_F(WindowPaint, FormAndSessionScreensOwnTheMainPane) {
    ViewFrame f(RemoteApp::with_sample_data());
    crdt::Document doc;
    f.app->execute(UiCommand::plain(K::NewConnectionForm), doc);
    f.paint();
    EXPECT_EQ(region_kinds(*f.app).front(), K::SetKind);
    f.app->show_preview_session(ConnectionKind::Ssh, SessionStatus::failed("refused"));
    const auto records = f.paint();
    EXPECT_TRUE(records.find_text("Connection failed"));
    EXPECT_FALSE(records.find_text("Remote Machines"));
}

TEST_F(WindowPaint, LongNamesKeepTheDialogTitleOnOneLine) {
    ViewFrame f(RemoteApp::with_sample_data(), 1000, 600);
    SavedConnection& c = f.app->connections.front();
    c.name = std::string(200, 'n');
    c.host = std::string(200, 'h') + ".net";
    f.app->connections.touch();
    f.app->request_delete(c.id);
    const auto records = f.paint();
    const double x0 = 500 - 230 + 24, x1 = 500 + 230 - 24;
    int checked = 0;
    const auto all = records.texts();  // the dialog draws the last five
    for (const DrawRecord* t : std::vector<const DrawRecord*>(all.end() - 5, all.end())) {
        if (t->text.starts_with("Delete nnn") || t->text.starts_with("admin@hhh")) {
            ++checked;
            const bool target = t->text.starts_with("admin@");
            EXPECT_TRUE(target ? t->text.find("…") != std::string::npos && t->text.ends_with("h.net:22")
                               : t->text.ends_with("…?"))
                << t->text;
            EXPECT_GE(t->bounds.x0, x0);
            EXPECT_LE(t->bounds.x1, x1);
            EXPECT_LE(t->bounds.height(), 18 * 1.25);
        }
    }
    EXPECT_EQ(checked, 2);  // the title and the target line
}

TEST_F(WindowPaint, AConnectedSessionMarkedOnlineCountsInTheList) {
    ViewFrame f(RemoteApp::with_sample_data());
    SavedConnection& nas = *find_connection(f.app->connections, *f.app->first_connection_of_kind(ConnectionKind::Vnc));
    nas.presence = Presence::Offline;
    f.app->connections.touch();
    EXPECT_TRUE(f.paint().find_text("8 saved · 4 online · 2 connectable here"));
    f.app->show_preview_session(ConnectionKind::Vnc, SessionStatus::connected());
    f.paint();
    EXPECT_EQ(nas.presence, Presence::Online);
    f.app->screen = Screen::list();
    EXPECT_TRUE(f.paint().find_text("8 saved · 5 online · 2 connectable here"));
}
