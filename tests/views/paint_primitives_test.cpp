#include "views/paint_primitives.hpp"

#include "session_harness.hpp"
#include "view_frame.hpp"
#include "zavo_ui/surface.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace remote;
using namespace view_test;

namespace {

SavedConnection connection(ConnectionKind kind, std::string name = "Build Box") {
    SavedConnection c;
    c.name = std::move(name);
    c.kind = kind;
    c.host = "build.lab";
    c.port = 22;
    c.user = "admin";
    c.id = Uuid::new_v4();
    return c;
}

// The first filled shape in `color`.
std::optional<Rect> filled(const zavo_ui::RecordingBackend& rec, const zavo_ui::Color& color) {
    for (const auto* r : rec.of_kind(DrawRecord::Kind::Fill))
        if (r->color == color) return r->bounds;
    return std::nullopt;
}

// The fake renderer setting verbatim text (targets, ids) a fifth wider than other text, in its
// monospace advance, as a font without its kerning may set it.
class WiderVerbatimText : public zavo_ui::text_render::FakeTextRenderer {
public:
    zavo_ui::text_render::TextMetrics measure_styled(std::string_view t, const zavo_ui::TextStyle& style) const override {
        return FakeTextRenderer::measure_styled(t, as_set(style));
    }
    std::vector<double> caret_offsets(std::string_view t, const zavo_ui::TextStyle& style) const override {
        return FakeTextRenderer::caret_offsets(t, as_set(style));
    }

private:
    static zavo_ui::TextStyle as_set(zavo_ui::TextStyle style) {
        if (style.verbatim) style.family = zavo_ui::FontFamily::Mono;
        return style;
    }
};

}  // namespace

TEST(PaintHelpers, ColorWithAlphaTruncatesTheClampedAlphaByte) {
    const zavo_ui::Color c = zavo_ui::Color::from_rgba8(200, 100, 50);
    const std::vector<std::pair<float, int>> cases{{0.10f, 25},  {0.12f, 30},  {0.18f, 45}, {0.25f, 63}, {0.6f, 153},
                                                   {0.62f, 158}, {0.75f, 191}, {0.8f, 204}, {1.7f, 255}, {-0.2f, 0}};
    for (auto [alpha, byte] : cases) {
        const zavo_ui::Color got = views::color_with_alpha(c, alpha);
        EXPECT_EQ(got, views::rgba8_to_color(200, 100, 50, std::uint8_t(byte))) << alpha;
    }
}

TEST(PaintHelpers, TextMetricsAreSemiboldAndUnwrapped) {
    zavo_ui::text_render::FakeTextRenderer text(1.5f);
    EXPECT_DOUBLE_EQ(views::text_line_height(text, 16), 16 * 1.5 * 1.25);
    EXPECT_DOUBLE_EQ(views::text_width(text, "Connect", 13), 7 * 13 * 1.5 * 0.5);
}

TEST(PaintPrimitives, AClippedAreaCutsDrawingAndHitRegionsAlike) {
    ViewFrame f(RemoteApp::new_());
    auto ctx = f.context();
    const auto select = UiCommand::with_id(K::Select, Uuid::new_v4());
    {
        const views::ClippedArea outer(*f.app, ctx, Rect{0, 100, 500, 400});
        f.app->push_hit_region({10, 50, 90, 150}, select);                         // cut at the top
        f.app->push_hit_region({10, 20, 90, 100}, UiCommand::plain(K::SaveForm));  // wholly above
        {
            const views::ClippedArea inner(*f.app, ctx, Rect{200, 0, 800, 300});
            ctx.fill(f.colors().accent, Rect{0, 0, 1000, 1000});
            f.app->push_hit_region({150, 250, 600, 450}, UiCommand::plain(K::CancelForm));  // in both
        }
        f.app->push_hit_region({400, 350, 600, 450}, UiCommand::plain(K::Disconnect));  // the outer again
    }
    f.app->push_hit_region({0, 0, 1000, 1000}, UiCommand::plain(K::ToggleScale));  // none any more

    EXPECT_EQ(f.app->hit_regions, (std::vector<HitRegion>{{{10, 100, 90, 150}, select},
                                                          {{200, 250, 500, 300}, UiCommand::plain(K::CancelForm)},
                                                          {{400, 350, 500, 400}, UiCommand::plain(K::Disconnect)},
                                                          {{0, 0, 1000, 1000}, UiCommand::plain(K::ToggleScale)}}));
    EXPECT_EQ(f.records().of_kind(DrawRecord::Kind::Fill).front()->clip, (Rect{200, 100, 500, 300}));
}

TEST(PaintHelpers, ShortenedTargetsKeepTheirPortWhole) {
    // 10 px, drawn verbatim: every character, "…" included, is 6 wide (other text 5).
    const WiderVerbatimText text;
    constexpr double kChar = 6.0;
    const std::string endpoint = "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a";
    struct Case {
        ConnectionKind kind;
        const char* user;
        std::string host;
        std::uint16_t port;
        const char* suffix;
        int chars;  // the room
        const char* shown;
    } cases[] = {
        {ConnectionKind::Ssh, "root", "edge.example.net", 2222, "", 26, "root@edge.example.net:2222"},
        {ConnectionKind::Ssh, "root", "edge.example.net", 2222, "", 20, "root@edge.….net:2222"},
        {ConnectionKind::Ssh, "averyveryverylongusername", "h", 22, "", 20, "averyve…sername@h:22"},
        {ConnectionKind::Ssh, "averyveryverylongusername", "render-node.example.com", 22, "", 25,
         "avery…name@rende….com:22"},
        {ConnectionKind::Vnc, "ignored", "vault.example.com", 5901, " · VNC", 20, "vaul….com:5901 · VNC"},
        {ConnectionKind::Rdp, "", "acct-ws-legacy-0001.corp.example.org", 0, "", 20, "acct-ws-le…ample.org"},
        {ConnectionKind::Vnc, "", "ééééééééééé", 1, "", 10, "éééé…ééé:1"},
        {ConnectionKind::Zavo, "", endpoint, 0, "", 20, "Zavo device d75a980…"},
    };
    for (const auto& c : cases) {
        SavedConnection conn = connection(c.kind);
        conn.user = c.user;
        conn.host = c.host;
        conn.port = c.port;
        const std::string shown = views::elide_target(text, conn, 10.0f, 0, c.chars * kChar, c.suffix);
        EXPECT_EQ(shown, c.shown) << c.chars;
        EXPECT_LE(text.measure_styled(shown, views::PaintContext::verbatim_style(10.0f)).width, c.chars * kChar)
            << shown;
    }
}

// The fake renderer, counting the characters it is asked to measure or lay out.
class CountingText : public zavo_ui::text_render::FakeTextRenderer {
public:
    mutable std::size_t characters = 0;
    zavo_ui::text_render::TextMetrics measure_styled(std::string_view t, const zavo_ui::TextStyle& style) const override {
        characters += t.size();
        return FakeTextRenderer::measure_styled(t, style);
    }
    std::vector<double> caret_offsets(std::string_view t, const zavo_ui::TextStyle& style) const override {
        characters += t.size();
        return FakeTextRenderer::caret_offsets(t, style);
    }
};

// Cutting a text costs what is shown of it, whatever its length; what is shown is what a short
// text with the same start (and end) shows.
TEST(PaintHelpers, ShorteningALongTextMeasuresWhatIsShown) {
    for (std::size_t length : {1'000u, 100'000u, 1'000'000u}) {
        std::string text;
        for (std::size_t i = 0; i < length; ++i) text += char('a' + i % 26);
        SavedConnection conn = connection(ConnectionKind::Ssh);
        conn.user = text;
        conn.host = text;
        CountingText counting;
        const std::string name = views::elide(counting, text, 16.0f, 2, 300.0);
        const std::string target = views::elide_target(counting, conn, 13.0f, 0, 400.0);
        EXPECT_LE(counting.characters, 10'000u) << length;

        const zavo_ui::text_render::FakeTextRenderer fake;
        SavedConnection short_conn = conn;
        short_conn.user = short_conn.host = text.substr(0, 100) + text.substr(text.size() - 100);
        EXPECT_EQ(name, views::elide(fake, text.substr(0, 200), 16.0f, 2, 300.0)) << length;
        EXPECT_EQ(target, views::elide_target(fake, short_conn, 13.0f, 0, 400.0)) << length;
    }
}

// Every screen that shows a connection, each of its texts 100,000 characters long in turn, in
// a wide window and in one narrow enough for compact rows: a frame measures what it shows, the
// first one after a change too.
TEST(PaintHelpers, FramesShowingAVeryLongTextMeasureWhatTheyShow) {
    const std::string long_text(100'000, 'n');
    const std::pair<const char*, std::function<void(SavedConnection&)>> fields[] = {
        {"name and host", [&](SavedConnection& c) { c.name = c.host = long_text; }},
        {"group", [&](SavedConnection& c) { c.group = long_text; }},
        {"user", [&](SavedConnection& c) { c.user = long_text; }},
    };
    for (const double width : {1280.0, 560.0}) {
        for (const auto& [field, lengthen] : fields) {
            SavedConnection conn = connection(ConnectionKind::Ssh);
            lengthen(conn);
            auto app = RemoteApp::with_data({conn}, {});
            app->window_bounds = {0, 0, width, 800};
            app->last_narrow = false;
            app->snap_nav_flap();
            views_test::SshHarness ssh(*app);
            crdt::Document scratch;
            CountingText text;
            const auto theme = zavo_ui::theme::Theme::dark();
            zavo_ui::DrawContext draw;
            const auto frame = [&] {
                zavo_ui::Scene scene;
                const std::size_t before = text.characters;
                app->paint(scene, zavo_ui::Affine::identity(), text, theme, draw);
                return text.characters - before;
            };
            const std::pair<const char*, std::function<void()>> screens[] = {
                {"list", [] {}},
                {"delete dialog", [&] { app->request_delete(conn.id); }},
                {"form", [&] {
                     app->confirmation.reset();
                     app->execute(UiCommand::with_id(K::EditConnection, conn.id), scratch);
                 }},
                {"session", [&] { app->screen = Screen::session(conn.id); }},
                // A server may give its reason for refusing at any length (VNC's up to 64 KiB).
                {"failed session", [&] {
                     std::string reason;
                     while (reason.size() < 65'536) reason += "refused ";
                     ssh.status->set(SessionStatus::failed(reason));
                 }},
            };
            for (const auto& [name, show] : screens) {
                show();
                EXPECT_LE(frame(), 50'000u) << name << ", the first frame, " << field << ", " << width;
                EXPECT_LE(frame(), 50'000u) << name << ", " << field << ", " << width;
            }
        }
    }
}

TEST(PaintPrimitives, RailItemHeaderButtonAndFieldLabelGeometry) {
    ViewFrame f(RemoteApp::new_());
    auto ctx = f.context();
    EXPECT_EQ(views::paint_rail_item(*f.app, ctx, {"+", Rect{0, 0, 64, 800}, 1, false}), (Rect{12, 128, 52, 168}));
    // "Fullscreen" is 65 wide at 13 px in the fake renderer.
    EXPECT_EQ(views::paint_header_button(*f.app, ctx, {"Fullscreen", 900, Rect{0, 0, 1000, 48}}),
              (Rect{900 - 89, 8, 900, 40}));
    EXPECT_DOUBLE_EQ(views::paint_field_label(ctx, "Name", 10, 100), 119.0);  // 15 high at 12 px
    const auto rec = f.records();
    EXPECT_EQ(rec.find_text("Name")->color, f.colors().text_secondary);
    EXPECT_EQ(rec.find_text("+")->color, f.colors().text_secondary);
}

TEST(PaintPrimitives, RailItemShowsSelectionAndHover) {
    ViewFrame f(RemoteApp::new_());
    const Rect rail{0, 0, 64, 800};
    views::paint_rail_item(*f.app, f.context(), {"≡", rail, 0, true});
    EXPECT_EQ(f.records().find_text("≡")->color, f.colors().text_primary);
    EXPECT_EQ(filled(f.records(), zavo_ui::surface::edge_on(f.colors().surface)), (Rect{12, 72, 52, 112}));

    f.app->pointer = {30, 80};
    views::paint_rail_item(*f.app, f.context(), {"≡", rail, 0, false});
    EXPECT_EQ(filled(f.records(), f.colors().lift(0.5f)), (Rect{12, 72, 52, 112}));
}

TEST(PaintPrimitives, InputCardRingsOnlyTheFocusedSlot) {
    ViewFrame f(RemoteApp::new_());
    for (std::optional<InputSlot> focus :
         {std::optional<InputSlot>{}, std::optional(InputSlot::Name), std::optional(InputSlot::Host)}) {
        f.app->focused = focus;
        auto ctx = f.context();
        views::paint_input_card(*f.app, ctx, Rect{100, 50, 400, 90}, InputSlot::Name);
        int rings = 0;
        const auto records = f.records();  // the pointers below point into it
        for (const auto* r : records.of_kind(DrawRecord::Kind::Stroke))
            if (r->color == f.colors().focus && r->stroke_width == 2.0) ++rings;
        EXPECT_EQ(rings, focus == InputSlot::Name ? 1 : 0);
        EXPECT_EQ(f.app->input_mut(InputSlot::Name).rect(), (Rect{112, 50, 388, 90}));
    }
}

TEST(PaintPrimitives, ProblemCardGeometryAndButtons) {
    struct Case {
        const char* what;
        Rect area;
        int paragraphs;
        std::uint8_t mode;
        bool offer_edit;
        Rect card;
        std::vector<std::pair<K, Rect>> buttons;
    };
    // Card top T = area top + max((height - H) / 2, 16), H = 336 + 22 n; buttons at T + 244 + 22 n.
    // clang-format off
    const std::vector<Case> cases{
        {"alone, no paragraphs", {0, 0, 1000, 800}, 0, 0, false, {270, 232, 730, 568},
         {{K::Disconnect, {434, 476, 566, 514}}}},
        {"two paragraphs", {0, 0, 1000, 800}, 2, 0, false, {270, 210, 730, 590},
         {{K::Disconnect, {434, 498, 566, 536}}}},
        {"narrow area, retry", {100, 0, 400, 800}, 1, 2, false, {120, 221, 380, 579},
         {{K::RequestConnect, {126, 487, 230, 525}}, {K::Disconnect, {242, 487, 374, 525}}}},
        {"short area, edit", {0, 100, 1000, 300}, 2, 0, true, {270, 116, 730, 496},
         {{K::EditConnection, {376, 404, 480, 442}}, {K::Disconnect, {492, 404, 624, 442}}}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ViewFrame f(RemoteApp::new_());
        const SavedConnection conn = connection(ConnectionKind::Vnc);
        auto ctx = f.context();
        std::vector<std::string> paragraphs(std::size_t(c.paragraphs), "Some words.");
        views::paint_problem_card(*f.app, ctx, {c.area, "Connecting…", paragraphs, conn, c.mode, c.offer_edit});
        const auto rec = f.records();
        EXPECT_EQ(filled(rec, f.colors().background), c.area);
        EXPECT_EQ(filled(rec, f.colors().surface), c.card);
        ASSERT_EQ(f.app->hit_regions.size(), c.buttons.size());
        for (std::size_t i = 0; i < c.buttons.size(); ++i) {
            EXPECT_EQ(f.app->hit_regions[i].command.kind, c.buttons[i].first);
            EXPECT_EQ(f.app->hit_regions[i].rect, c.buttons[i].second);
        }
        if (c.buttons.size() > 1) {
            EXPECT_EQ(*f.app->hit_regions[0].command.id(), conn.id);
        }
    }
}

TEST(PaintPrimitives, ProblemCardTexts) {
    ViewFrame f(RemoteApp::new_());
    SavedConnection conn = connection(ConnectionKind::Ssh);
    auto ctx = f.context();
    views::paint_problem_card(
        *f.app, ctx, {Rect{0, 0, 1000, 800}, "Connection failed", {"Connection refused", "Second."}, conn, 2, false});
    const auto rec = f.records();
    std::vector<std::string> texts;
    for (const auto* t : rec.texts()) texts.push_back(t->text);
    EXPECT_EQ(texts, (std::vector<std::string>{"SSH", "Build Box", "admin@build.lab:22 · SSH", "Connection failed",
                                               "Connection refused", "Second.", "Retry", "Back to list"}));
    // Centred texts sit on the card's centre line.
    const auto* name = rec.find_text("Build Box");
    EXPECT_DOUBLE_EQ((name->bounds.x0 + name->bounds.x1) / 2, 500);
    const auto* second = rec.find_text("Second.");
    EXPECT_DOUBLE_EQ(second->bounds.y0 - rec.find_text("Connection refused")->bounds.y0, 22);
}

// A reason too long for the window gives up its last lines, ended by "…", so that the card's
// buttons stay in the window; the sentences after it keep theirs.
TEST(PaintPrimitives, ProblemCardLongReasonKeepsItsButtonsInTheWindow) {
    std::string reason;
    while (reason.size() < 3000) reason += "refused ";
    for (const Rect area : {Rect{0, 0, 1000, 800}, Rect{0, 0, 1000, 500}}) {
        SCOPED_TRACE(area.y1);
        ViewFrame f(RemoteApp::new_());
        auto ctx = f.context();
        views::paint_problem_card(*f.app, ctx,
                                  {area, "Connection failed", {reason, "Second."}, connection(ConnectionKind::Vnc), 2,
                                   false});
        ASSERT_FALSE(f.app->hit_regions.empty());
        EXPECT_LE(f.app->hit_regions.back().rect.y1, area.y1 - 16);
        const auto rec = f.records();
        const auto card = filled(rec, f.colors().surface);
        ASSERT_TRUE(card);
        EXPECT_GE(card->y0, area.y0 + 16);
        EXPECT_LE(card->y1, area.y1 - 16);
        std::vector<std::string> shown;
        for (const auto* t : rec.texts())
            if (t->text.starts_with("refused")) shown.push_back(t->text);
        ASSERT_FALSE(shown.empty());
        EXPECT_TRUE(shown.back().ends_with("…")) << shown.back();
        for (const std::string& line : shown) EXPECT_LE(ctx.measure(line, 13.0f).width, 460.0 - 48.0);  // the card's text room
        EXPECT_TRUE(rec.find_text("Second."));
    }
}

TEST(ScrollRowIntoView, KeepsTheRowInsideTheViewport) {
    auto app = RemoteApp::new_();
    app->window_bounds = {0, 0, 1280, 524};  // wide rows: 72 high, pitch 80
    app->list_top = 124;                     // viewport 400 high
    app->scroll_row_into_view(9, 10);        // content 792
    EXPECT_DOUBLE_EQ(app->list_scroll_max, 392);
    EXPECT_DOUBLE_EQ(app->list_scroll, 792 - 400);  // the last row's bottom on the viewport's bottom
    app->scroll_row_into_view(4, 10);
    EXPECT_DOUBLE_EQ(app->list_scroll, 320);  // row 4 starts above: it moves to the top
    app->scroll_row_into_view(0, 10);
    EXPECT_DOUBLE_EQ(app->list_scroll, 0);
    app->scroll_row_into_view(2, 3);  // shorter than the viewport
    EXPECT_DOUBLE_EQ(app->list_scroll_max, 0);
    EXPECT_DOUBLE_EQ(app->list_scroll, 0);
    app->window_bounds = {0, 0, 600, 524};  // compact below 620 + 64
    app->scroll_row_into_view(9, 10);
    EXPECT_DOUBLE_EQ(app->list_scroll_max, 124 * 10 - 8 - 400);
}
