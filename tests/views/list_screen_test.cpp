// The connection list on the recording backend: heading and counts, row metrics per text
// scale, wide and compact rows, the clipped viewport and its scrolling, and the empty states.
#include <gtest/gtest.h>

#include "profiles/connection_list.hpp"
#include "support/env.hpp"
#include "tests/views/view_frame.hpp"
#include "views/screens.hpp"
#include "zavo_ui/simulated_devices.hpp"

#include <fmt/format.h>

#include <cmath>
#include <ranges>
#include <string>

using namespace remote;
using namespace view_test;

namespace {

SavedConnection make(std::string name, ConnectionKind kind, Presence presence = Presence::Unknown,
                     std::string group = "lab") {
    SavedConnection c;
    c.name = std::move(name);
    c.kind = kind;
    c.host = kind == ConnectionKind::Zavo ? "" : "host.lab";
    c.port = 22;
    c.auth = kind == ConnectionKind::Zavo ? AuthKind::DeviceIdentity : AuthKind::Password;
    c.presence = presence;
    c.group = std::move(group);
    c.last_used = "2h ago";
    c.id = Uuid::new_v4();
    return c;
}

std::unique_ptr<RemoteApp> app_with(std::vector<SavedConnection> list) {
    return RemoteApp::with_data(std::move(list), {});
}

std::vector<SavedConnection> many(std::size_t n, ConnectionKind kind = ConnectionKind::Vnc) {
    std::vector<SavedConnection> list;
    for (std::size_t i = 0; i < n; ++i) list.push_back(make(fmt::format("Machine {:05}", i), kind));
    return list;
}

// The fake renderer puts the viewport's top here (the heading is 27.5 high at 22 px).
constexpr double kViewportTop = 16 + 27.5 + 4 + 16.25 + 12 + 8 + 36 + 16;

class ListScreen : public ::testing::Test {
protected:
    void SetUp() override { env.set("REMOTE_LIVE_SESSIONS", nullptr); }
    test_support::EnvGuard env;
};

}  // namespace

TEST_F(ListScreen, HeadingByPaneWidthAndCounts) {
    struct Case {
        const char* what;
        double pane;
        bool live;
        std::vector<SavedConnection> list;
        std::string title, counts, button;
        double button_width;
        // clang-format off
    } cases[] = {
        {"narrow pane", 500, false, {}, "Remote", "0 saved · 0 online", "+ New", 88},
        {"wide pane", 520, false, {}, "Remote Machines", "0 saved · 0 online", "+ New connection", 150},
        {"live", 1216, true,
         {make("a", ConnectionKind::Ssh, Presence::Online), make("b", ConnectionKind::Vnc, Presence::Online),
          make("c", ConnectionKind::Rdp)},
         "Remote Machines", "3 saved · 2 online · 2 connectable here", "+ New connection", 150},
        {"not live", 1216, false,
         {make("a", ConnectionKind::Ssh, Presence::Online), make("b", ConnectionKind::Vnc, Presence::Online),
          make("c", ConnectionKind::Rdp)},
         "Remote Machines", "3 saved · 2 online · 0 connectable here", "+ New connection", 150},
    };
    // clang-format on
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        env.set("REMOTE_LIVE_SESSIONS", c.live ? "1" : nullptr);
        ViewFrame f(app_with(c.list), c.pane + 64);  // the rail or the narrow gutter takes 64
        f.app->search_query = "zzz";                 // counts cover every saved connection
        const auto records = f.paint();
        EXPECT_TRUE(records.find_text(c.title));
        EXPECT_TRUE(records.find_text(c.counts));
        EXPECT_TRUE(records.find_text(c.button));
        EXPECT_EQ(f.app->hit_regions[0].rect.width(), c.button_width);
        EXPECT_EQ(f.app->hit_regions[0].rect.x1, c.pane + 64 - 24);
    }
}

TEST_F(ListScreen, EmptyStates) {
    ViewFrame empty(RemoteApp::new_());
    auto records = empty.paint();
    EXPECT_TRUE(records.find_text("No machines yet"));
    EXPECT_TRUE(records.find_text("Add one to reach it over SSH, VNC, or the Zavo relay."));
    EXPECT_EQ(region_kinds(*empty.app), (std::vector<K>{K::NewConnectionForm, K::FocusInput, K::NewConnectionForm,
                                                        K::ShowConnections, K::NewConnectionForm}));
    const Rect button = empty.app->hit_regions[2].rect;
    EXPECT_EQ(button.width(), 168);  // the minimum
    EXPECT_EQ(button.height(), 40);
    EXPECT_DOUBLE_EQ(button.center().x, (64 + 1280) / 2.0);

    ViewFrame none(app_with(many(30)));
    none.app->list_scroll = 400;
    none.paint();
    EXPECT_GT(none.app->list_scroll_max, 0);
    none.app->search_query = "no such machine";
    records = none.paint();
    const DrawRecord* text = records.find_text("No machines match your search.");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->bounds.y0, kViewportTop + 48);
    EXPECT_DOUBLE_EQ((text->bounds.x0 + text->bounds.x1) / 2, (64 + 1280) / 2.0);
    EXPECT_EQ(none.app->list_scroll, 0);
    EXPECT_EQ(none.app->list_scroll_max, 0);
    EXPECT_EQ(region_kinds(*none.app).size(), 4u);  // heading, search and the rail
}

TEST_F(ListScreen, RowMetricsFollowTheTextScale) {
    zavo_ui::text_render::FakeTextRenderer text(1.0f);
    RowMetrics initial;  // the fake's at 1.0, but for the block height, which rounds up to the row height
    initial.block_height = 71.75;
    EXPECT_EQ(views::measure_row_metrics(text), initial);
    text.set_text_scale(2.0f);
    const RowMetrics m = views::measure_row_metrics(text);
    EXPECT_EQ(m.scale, 2.0);
    EXPECT_EQ(m.second_line_offset, 13 + 40 + 5);
    EXPECT_EQ(m.chip_height, 27.5 + 4);
    EXPECT_EQ(m.button_height, 32.5 + 12);
    EXPECT_EQ(m.action_width, 13 * 11.5 + 18);  // "Not supported" is the widest
    EXPECT_EQ(m.edit_width, 76);
    EXPECT_EQ(m.wide_row_height, m.block_height);
    EXPECT_EQ(m.compact_row_height, m.block_height + m.button_height + 12);

    // Compact below 620 x scale of pane width; the metrics follow a scale change.
    struct Case {
        float scale;
        double pane;
        bool compact;
    } cases[] = {{1.0f, 619, true}, {1.0f, 620, false}, {1.5f, 929, true}, {1.5f, 930, false}};
    for (const auto& c : cases) {
        ViewFrame f(app_with(many(3)), c.pane + 64);
        f.text.set_text_scale(c.scale);
        f.paint();
        EXPECT_EQ(f.app->compact_rows, c.compact) << c.scale << " " << c.pane;
        EXPECT_EQ(f.app->metrics_scale, c.scale);
        EXPECT_EQ(f.app->row_metrics.scale, c.scale);
        const Rect row = f.app->hit_regions[2].rect;
        EXPECT_EQ(row.height(), c.compact ? f.app->row_metrics.compact_row_height : f.app->row_metrics.wide_row_height);
    }
}

TEST_F(ListScreen, ScrollingClampsAndOnlyRowsInTheViewportAreDrawn) {
    // Five 72-high rows (pitch 80) make 392; a 300-high viewport scrolls by at most 92.
    ViewFrame f(app_with(many(5)), 1280, kViewportTop + 300);
    f.app->list_scroll = 1000;
    f.paint();
    EXPECT_DOUBLE_EQ(f.app->list_scroll_max, 92);
    EXPECT_DOUBLE_EQ(f.app->list_scroll, 92);
    f.app->list_scroll = -5;
    f.paint();
    EXPECT_DOUBLE_EQ(f.app->list_scroll, 0);

    // 10,000 rows in an 800-high window: a screenful is drawn, all of it inside the viewport's clip.
    ViewFrame big(app_with(many(10'000)));
    big.app->list_scroll = 80 * 5000 + 40;  // row 5000 half above the viewport
    const auto records = big.paint();
    std::vector<std::string> names;
    for (const DrawRecord* t : records.texts())
        if (t->text.starts_with("Machine ")) {
            names.push_back(t->text);
            EXPECT_EQ(t->clip, (Rect{64, kViewportTop, 1280, 800}));
        }
    const std::size_t shown = static_cast<std::size_t>(std::ceil((800 - kViewportTop + 40) / 80.0));
    ASSERT_EQ(names.size(), shown);
    EXPECT_EQ(names.front(), "Machine 05000");
    // The row reaching above the viewport is clicked only where it shows: its star, above the
    // viewport, has no region.
    const Rect first = big.app->hit_regions[2].rect;
    EXPECT_EQ(first, (Rect{88, kViewportTop, 1256, kViewportTop + 32}));
    EXPECT_EQ(region_kinds(*big.app).size(), 2 + 3 * shown - 1 + 2);
}

// The notice banner stays until a dialog clears it: the list scrolls far enough that its last
// row, and that row's Connect, come into view above it, by the wheel's range and by the keys'.
TEST_F(ListScreen, TheLastRowScrollsIntoViewAboveTheNoticeBanner) {
    for (const char* notice : {"Action cancelled.",
                               "This connection changed while confirmation was open. Review "
                               "the current profile, then try again. Then once more."}) {
        SCOPED_TRACE(notice);
        ViewFrame f(app_with(many(20, ConnectionKind::Zavo)));
        f.app->notice = Notice{notice};
        f.app->list_scroll = 1e9;
        f.paint();
        const Uuid last = f.app->connections[f.app->list_cache.visible(f.app->connections, "").back()].id;
        const Rect banner = std::ranges::find(f.app->hit_regions, HitRegion::Role::Cover, &HitRegion::role)->rect;
        const auto row = f.app->hit_region_rect(UiCommand::with_id(K::Select, last));
        const auto connect = f.app->hit_region_rect(UiCommand::with_id(K::RequestConnect, last));
        ASSERT_TRUE(row && connect);
        EXPECT_DOUBLE_EQ(row->y1, banner.y0 - 8);
        EXPECT_EQ(topmost_command(*f.app, connect->center()), UiCommand::with_id(K::RequestConnect, last));
        const double wheel_max = f.app->list_scroll_max;
        f.app->list_scroll = 0;
        f.app->scroll_row_into_view(19, 20);
        EXPECT_DOUBLE_EQ(f.app->list_scroll, wheel_max);
    }
    // Without a notice the last row ends on the window's bottom.
    ViewFrame f(app_with(many(20, ConnectionKind::Zavo)));
    f.app->list_scroll = 1e9;
    f.paint();
    EXPECT_DOUBLE_EQ(f.app->list_scroll_max, 20 * 80 - 8 - (800 - kViewportTop));
}

TEST_F(ListScreen, ARowBehindTheSearchInputIsClickedOnlyWhereItShows) {
    // Row 1 spans 32 above the viewport to 40 into it, 16 of it behind the search input; the
    // last row reaches below the window.
    ViewFrame f(app_with(many(10)), 1280, kViewportTop + 300);
    f.app->list_scroll = 112;
    f.paint();
    const auto ids = [&](std::size_t row) {
        return f.app->connections[f.app->list_cache.visible(f.app->connections, "")[row]].id;
    };
    const Rect search = *f.app->hit_region_rect(UiCommand::focus_input(InputSlot::Search));
    EXPECT_EQ(topmost_command(*f.app, {100, search.y1 - 4}), UiCommand::focus_input(InputSlot::Search));
    EXPECT_EQ(topmost_command(*f.app, {100, kViewportTop - 8}), std::nullopt);  // the gap above the viewport
    EXPECT_EQ(topmost_command(*f.app, {100, kViewportTop}), UiCommand::with_id(K::Select, ids(1)));
    // Bounds for assistive technology are what shows; a control wholly hidden has none.
    EXPECT_EQ(f.app->hit_region_rect(UiCommand::with_id(K::Select, ids(1))),
              (Rect{88, kViewportTop, 1256, kViewportTop + 40}));
    EXPECT_FALSE(f.app->hit_region_rect(UiCommand::with_id(K::ToggleFavorite, ids(1))));
    EXPECT_EQ(f.app->hit_region_rect(UiCommand::with_id(K::Select, ids(5)))->y1, kViewportTop + 300);
}

TEST_F(ListScreen, RowContents) {
    env.set("REMOTE_LIVE_SESSIONS", "1");
    SavedConnection fav = make("Build", ConnectionKind::Ssh, Presence::Online);
    fav.favorite = true;
    fav.user = "admin";
    const SavedConnection rdp = make("Win", ConnectionKind::Rdp, Presence::Offline, "work");
    ViewFrame f(app_with({fav, rdp}));
    f.app->selected = rdp.id;
    const auto records = f.paint();
    const auto& c = f.colors();
    const double top = kViewportTop, tx = 88 + 44;

    // Names, chips, targets and last use on the two lines; the group left of Edit.
    const DrawRecord* name = records.find_text("Build");
    EXPECT_EQ(name->bounds.x0, tx);
    EXPECT_EQ(name->bounds.y0, top + 13);
    EXPECT_EQ(records.find_text("SSH")->color, c.success);
    EXPECT_EQ(records.find_text("SSH")->bounds.y0, top + 38 + 2);
    EXPECT_EQ(records.find_text("RDP")->color, c.warning);
    const DrawRecord* target = records.find_text("admin@host.lab:22");
    EXPECT_EQ(target->bounds.x0, tx + 3 * 5.5 + 16 + 12);
    EXPECT_EQ(records.find_text("· 2h ago")->bounds.x0, target->bounds.x1 + 14);
    const Rect edit = *f.app->hit_region_rect(UiCommand::with_id(K::EditConnection, fav.id));
    EXPECT_EQ(records.find_text("lab")->bounds.x1, edit.x0 - 16);

    // The favourite's star is filled, the other's stroked; the star's region lies over the row's.
    int filled_stars = 0, stroked_stars = 0;
    for (const DrawRecord* r : records.records() | std::views::transform([](const DrawRecord& d) { return &d; }))
        if (std::holds_alternative<zavo_ui::BezPath>(r->shape)) {
            if (r->kind == DrawRecord::Kind::Fill && r->color == c.warning) ++filled_stars;
            if (r->kind == DrawRecord::Kind::Stroke && r->color == c.text_secondary && r->stroke_width == 1.2)
                ++stroked_stars;
        }
    EXPECT_EQ(filled_stars, 1);
    EXPECT_EQ(stroked_stars, 1);
    const double star_x = tx + 5 * 8 + 16;
    const Rect star = *f.app->hit_region_rect(UiCommand::with_id(K::ToggleFavorite, fav.id));
    EXPECT_EQ(star, (Rect{star_x - 11, top + 10, star_x + 11, top + 32}));

    // Ready: Connect with its region. Not ready: the pill, and a click there selects the row.
    EXPECT_TRUE(f.app->hit_region_rect(UiCommand::with_id(K::RequestConnect, fav.id)));
    EXPECT_FALSE(f.app->hit_region_rect(UiCommand::with_id(K::RequestConnect, rdp.id)));
    const DrawRecord* pill = records.find_text("Not supported");
    ASSERT_NE(pill, nullptr);
    EXPECT_EQ(pill->color, c.text_secondary);
    EXPECT_EQ(topmost_command(*f.app, pill->bounds.center()), UiCommand::with_id(K::Select, rdp.id));

    // Presence dots: online has its halo.
    int halos = 0;
    for (const DrawRecord* r : records.of_kind(DrawRecord::Kind::Fill))
        if (std::holds_alternative<zavo_ui::Circle>(r->shape) && r->color == views::color_with_alpha(c.success, 0.25f))
            ++halos;
    EXPECT_EQ(halos, 1);
}

TEST_F(ListScreen, CompactRowsDropAGroupThatWouldReachEdit) {
    ViewFrame f(app_with({make("a", ConnectionKind::Vnc, Presence::Unknown, "home"),
                          make("b", ConnectionKind::Vnc, Presence::Unknown, std::string(60, 'g'))}),
                560);
    const auto records = f.paint();
    ASSERT_TRUE(f.app->compact_rows);
    const DrawRecord* home = records.find_text("home");
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(home->bounds.x0, 64 + 24 + 44);
    const Rect edit = f.app->hit_regions[4].rect;  // row a: Select, star, Edit
    EXPECT_DOUBLE_EQ(home->bounds.center().y, edit.center().y);
    EXPECT_EQ(edit.y0, kViewportTop + f.app->row_metrics.block_height);
    EXPECT_FALSE(records.find_text(std::string(60, 'g')));
}

TEST_F(ListScreen, LongTextsEndBeforeTheControls) {
    const std::string long_name(120, 'N');
    SavedConnection c = make(long_name, ConnectionKind::Vnc, Presence::Unknown, std::string(300, 'g'));
    c.host = std::string(200, 'h') + ".example";
    ViewFrame f(app_with({c}));
    const auto records = f.paint();
    const Rect edit = f.app->hit_regions[4].rect;
    const auto all = records.texts();
    const auto group_at = std::ranges::find_if(all, [](const DrawRecord* t) { return t->text.starts_with("ggg"); });
    ASSERT_NE(group_at, all.end());
    const DrawRecord* group = *group_at;
    EXPECT_TRUE(group->text.ends_with("…"));
    EXPECT_DOUBLE_EQ(group->bounds.x1, edit.x0 - 16);
    EXPECT_GE(group->bounds.x0, 88 + 44 + (edit.x0 - 16 - 88 - 44) / 2);  // at most half the room
    for (const DrawRecord* t : records.texts()) {
        if (t->text.starts_with("NNN") || t->text.starts_with("hhh")) {
            // The target gives way in the middle of its host and keeps its port.
            const bool target = t->text.starts_with("hhh");
            EXPECT_TRUE(target ? t->text.ends_with(".example:22") : t->text.ends_with("…")) << t->text;
            EXPECT_NE(t->text.find("…"), std::string::npos) << t->text;
            EXPECT_LE(t->bounds.x1, group->bounds.x0 - 12);
        }
    }
    EXPECT_LE(f.app->hit_regions[3].rect.x1, group->bounds.x0 - 12);  // the star
    EXPECT_LT(group->bounds.x1, edit.x0);
}

// The rows' texts are kept between frames: a frame paints exactly what a window painting the list
// for the first time paints, after each change a row's texts depend on, and measures only the rows
// that changed.
TEST_F(ListScreen, KeptRowTextsFollowEveryChangeAndOnlyChangedRowsAreMeasured) {
    struct Counting : zavo_ui::text_render::FakeTextRenderer {
        zavo_ui::text_render::TextMetrics measure_styled(std::string_view t, const zavo_ui::TextStyle& s) const override {
            ++measured;
            return FakeTextRenderer::measure_styled(t, s);
        }
        mutable int measured = 0;
    };
    std::vector<SavedConnection> list = many(30, ConnectionKind::Ssh);
    list[1].kind = ConnectionKind::Zavo;
    list[1].auth = AuthKind::DeviceIdentity;
    ViewFrame kept(app_with(list), 1000);
    Counting text;
    const auto paint = [&](ViewFrame& f) {
        f.scene.reset();
        f.app->paint(f.scene, zavo_ui::Affine::identity(), text, f.theme, f.draw);
    };
    paint(kept);
    text.measured = 0;
    paint(kept);
    const int heading = text.measured;  // what a frame measures besides the rows
    const auto same_as_fresh = [&](const char* what) {
        SCOPED_TRACE(what);
        ViewFrame fresh(app_with(std::vector<SavedConnection>(kept.app->connections)),
                        kept.app->window_bounds.width(), kept.app->window_bounds.height());
        fresh.app->selected = kept.app->selected;
        fresh.app->search_query = kept.app->search_query;
        fresh.app->list_scroll = kept.app->list_scroll;
        paint(fresh);
        text.measured = 0;
        paint(kept);
        EXPECT_EQ(kept.scene, fresh.scene);
        return text.measured - heading;
    };
    EXPECT_EQ(same_as_fresh("unchanged"), 0);
    kept.app->connections[2].name = std::string(90, 'N');
    kept.app->connections.touch();
    const int one_row = same_as_fresh("one name, now too long");
    EXPECT_GT(one_row, 0);
    kept.app->connections[3].group = "";
    kept.app->connections[3].last_used = "just now";
    kept.app->connections.touch();
    EXPECT_LE(same_as_fresh("a group and a last-used text"), one_row);
    kept.app->connections[1].host = zavo_ui::simulated_devices::SIMULATED_DEVICES[0].endpoint_id();
    kept.app->connections.touch();
    same_as_fresh("a device's node, now valid");
    env.set("REMOTE_LIVE_SESSIONS", "");
    same_as_fresh("live sessions allowed");
    kept.resize(600, 800);
    same_as_fresh("compact rows");
    kept.app->search_query = "Machine 0001";
    same_as_fresh("a search");
    kept.app->search_query.clear();
    kept.app->list_scroll = 1500;
    same_as_fresh("scrolled");
    const auto drawn = std::ranges::count(region_kinds(*kept.app), K::Select);
    EXPECT_EQ(kept.app->row_texts.size(), std::size_t(drawn)) << "rows no longer drawn are let go";
}
