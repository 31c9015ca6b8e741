#include "zavo_ui/text_input.hpp"

#include <gtest/gtest.h>

#include "zavo_ui/recording_backend.hpp"

namespace {

using namespace zavo_ui;
using namespace zavo_ui::event;
using widget::text_input::TextInput;

constexpr std::uint8_t CTRL = Modifiers::CONTROL;
constexpr std::uint8_t SHIFT = Modifiers::SHIFT;

struct Step {
    Event event;
    Modifiers mods;
};

Step key(NamedKey k, std::uint8_t mods = 0) { return {named_key(k), Modifiers{mods}}; }
Step chr(const char* text, std::uint8_t mods = 0) {
    Key k = character_key(text);
    if (mods & CTRL) k.text = std::string(1, char(std::tolower(text[0]) - 'a' + 1));  // as Control+letter arrives
    return {k, Modifiers{mods}};
}
Step commit(const char* text) { return {TextCommit{text}, {}}; }

TextInput focused_input(std::string text = "") {
    auto in = TextInput::local().with_placeholder("Search");
    in.set_text_with_cursor_at_end(std::move(text));
    in.focus();
    in.apply_layout_external({100, 0, 300, 36});
    return in;
}

bool feed(TextInput& in, const Step& s, EventContext& ctx) {
    bool handled = false;
    static_cast<Widget&>(in).handle_event(s.event, s.mods, ctx, handled, 1.0);
    return handled;
}

using Sel = std::optional<std::pair<std::size_t, std::size_t>>;

TEST(TextInputKeys, Sequences) {
    struct Case {
        const char* name;
        std::string start;  // caret at its end
        std::vector<Step> steps;
        std::string text;
        std::size_t cursor;
        Sel selection;
    };
    const std::string e_acute = "e\xCC\x81";  // e + combining acute accent
    // clang-format off
    Case cases[] = {
        {"typing, non-ASCII included", "", {chr("h"), chr("\xC3\xA9"), chr("y")}, "h\xC3\xA9y", 4, {}},
        {"space is typed", "a", {key(NamedKey::Space), chr("b")}, "a b", 3, {}},
        {"input-method commit", "x", {commit("\xE6\x97\xA5\xE6\x9C\xAC")}, "x\xE6\x97\xA5\xE6\x9C\xAC", 7, {}},
        {"backspace after moving left", "abc", {key(NamedKey::ArrowLeft), key(NamedKey::Backspace)}, "ac", 1, {}},
        {"backspace at start does nothing", "ab", {key(NamedKey::Home), key(NamedKey::Backspace)}, "ab", 0, {}},
        {"delete at home", "abc", {key(NamedKey::Home), key(NamedKey::Delete)}, "bc", 0, {}},
        {"delete at end does nothing", "abc", {key(NamedKey::Delete)}, "abc", 3, {}},
        {"right stops at end", "ab", {key(NamedKey::ArrowRight)}, "ab", 2, {}},
        {"left stops at start", "a", {key(NamedKey::ArrowLeft), key(NamedKey::ArrowLeft)}, "a", 0, {}},
        {"end after home", "abc", {key(NamedKey::Home), key(NamedKey::End)}, "abc", 3, {}},
        {"shift+left selects", "abc", {key(NamedKey::ArrowLeft, SHIFT), key(NamedKey::ArrowLeft, SHIFT)}, "abc", 1,
         Sel{{1, 3}}},
        {"typing replaces the selection", "abc", {key(NamedKey::ArrowLeft, SHIFT), key(NamedKey::ArrowLeft, SHIFT),
                                                  chr("X")}, "aX", 2, {}},
        {"backspace deletes the selection", "abcd", {key(NamedKey::Home, SHIFT), key(NamedKey::Backspace)}, "", 0, {}},
        {"shift+home then right collapses to the end", "abc", {key(NamedKey::Home, SHIFT), key(NamedKey::ArrowRight)},
         "abc", 3, {}},
        {"left collapses a selection to its start", "abc", {key(NamedKey::ArrowLeft, SHIFT), key(NamedKey::ArrowLeft)},
         "abc", 2, {}},
        {"shift+end from home", "abc", {key(NamedKey::Home), key(NamedKey::ArrowRight), key(NamedKey::End, SHIFT)},
         "abc", 3, Sel{{1, 3}}},
        {"control+left by words", "one two.three", {key(NamedKey::ArrowLeft, CTRL)}, "one two.three", 8, {}},
        {"control+left twice", "one two  ", {key(NamedKey::ArrowLeft, CTRL), key(NamedKey::ArrowLeft, CTRL)},
         "one two  ", 0, {}},
        {"control+right to the word's end", "one two", {key(NamedKey::Home), key(NamedKey::ArrowRight, CTRL),
                                                        key(NamedKey::ArrowRight, CTRL)}, "one two", 7, {}},
        {"control+shift+left selects a word", "host.lab", {key(NamedKey::ArrowLeft, CTRL | SHIFT)}, "host.lab", 5,
         Sel{{5, 8}}},
        {"control+backspace deletes a word", "ssh admin", {key(NamedKey::Backspace, CTRL)}, "ssh ", 4, {}},
        {"control+delete deletes a word", "ssh admin", {key(NamedKey::Home), key(NamedKey::Delete, CTRL)}, " admin", 0,
         {}},
        {"combining mark moves with its letter", e_acute + "x",
         {key(NamedKey::ArrowLeft), key(NamedKey::ArrowLeft)}, e_acute + "x", 0, {}},
        {"backspace removes letter and mark", e_acute + "x", {key(NamedKey::ArrowLeft), key(NamedKey::Backspace)},
         "x", 0, {}},
        {"backspace removes a 4-byte character", "a\xF0\x9F\x98\x80", {key(NamedKey::Backspace)}, "a", 1, {}},
        {"control+a selects all", "abc", {key(NamedKey::Home), chr("a", CTRL)}, "abc", 3, Sel{{0, 3}}},
        {"other control letters type nothing", "ab", {chr("b", CTRL), chr("n", CTRL)}, "ab", 2, {}},
        {"enter, tab and escape type nothing", "ab", {key(NamedKey::Enter), key(NamedKey::Tab), key(NamedKey::Escape)},
         "ab", 2, {}},
        {"releases are ignored", "ab", {{character_key("z", ElementState::Released), {}}}, "ab", 2, {}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TextInput in = focused_input(c.start);
        EventContext ctx;
        for (const auto& s : c.steps) feed(in, s, ctx);
        EXPECT_EQ(in.text(), c.text);
        EXPECT_EQ(in.cursor(), c.cursor);
        EXPECT_EQ(in.selection(), c.selection);
    }
}

TEST(TextInputKeys, ConsumesOnlyWhatItHandles) {
    TextInput in = focused_input("ab");
    EventContext ctx;
    EXPECT_TRUE(feed(in, chr("c"), ctx));
    EXPECT_TRUE(feed(in, key(NamedKey::Backspace), ctx));
    EXPECT_TRUE(feed(in, key(NamedKey::ArrowLeft), ctx));
    EXPECT_FALSE(feed(in, key(NamedKey::Enter), ctx));
    EXPECT_FALSE(feed(in, key(NamedKey::Tab), ctx));
    EXPECT_FALSE(feed(in, key(NamedKey::ArrowDown), ctx));
    EXPECT_FALSE(feed(in, chr("n", CTRL), ctx));  // left to the application's shortcuts

    in.blur();
    EXPECT_FALSE(feed(in, chr("x"), ctx));
    EXPECT_EQ(in.text(), "ab");
}

TEST(TextInputClipboard, CopyCutPaste) {
    MemoryClipboard clip;
    EventContext ctx;
    ctx.clipboard = &clip;
    TextInput in = focused_input("hello world");

    EXPECT_TRUE(feed(in, chr("c", CTRL), ctx));  // nothing selected: nothing copied
    EXPECT_EQ(clip.get_text(), std::nullopt);

    feed(in, key(NamedKey::ArrowLeft, CTRL | SHIFT), ctx);
    feed(in, chr("c", CTRL), ctx);
    EXPECT_EQ(clip.get_text(), "world");
    EXPECT_EQ(in.text(), "hello world");

    feed(in, chr("x", CTRL), ctx);
    EXPECT_EQ(in.text(), "hello ");
    EXPECT_EQ(clip.get_text(), "world");

    feed(in, chr("v", CTRL), ctx);
    feed(in, chr("v", CTRL), ctx);
    EXPECT_EQ(in.text(), "hello worldworld");
    EXPECT_EQ(in.cursor(), in.text().size());

    // Paste replaces the selection; line breaks and tabs become spaces, bad bytes U+FFFD.
    clip.set_text("a\r\nb\tc\x01\xFF");
    feed(in, chr("a", CTRL), ctx);
    feed(in, chr("v", CTRL), ctx);
    EXPECT_EQ(in.text(), "a b c\xEF\xBF\xBD");

    // A Cyrillic layout: the shortcut follows the physical key.
    Key ctrl_a = character_key("\xD1\x84");
    ctrl_a.physical = KeyCode::KeyA;
    feed(in, {ctrl_a, Modifiers{CTRL}}, ctx);
    EXPECT_EQ(in.selection(), Sel({0, in.text().size()}));

    // Without a clipboard the shortcuts are still the field's and change nothing.
    EventContext none;
    TextInput other = focused_input("abc");
    EXPECT_TRUE(feed(other, chr("v", CTRL), none));
    EXPECT_EQ(other.text(), "abc");
}

TEST(TextInputMouse, ClickDragAndShiftClick) {
    text_render::FakeTextRenderer fake;  // 14 px: 7 px per character
    TextInput in = focused_input("abcdef");
    EventContext ctx;
    ctx.text_renderer = &fake;
    auto press = [&](double x, std::uint8_t mods = 0) {
        ctx.pointer = {x, 18};
        return feed(in, {Button{PointerButton::Primary, ElementState::Pressed}, Modifiers{mods}}, ctx);
    };

    EXPECT_TRUE(press(100 + 7 * 2 + 3));  // nearest boundary: after "ab"
    EXPECT_EQ(in.cursor(), 2u);
    EXPECT_EQ(in.selection(), std::nullopt);

    // Drag in physical pixels at scale 2.
    bool handled = false;
    in.handle_event(PointerMoved{2 * (100 + 7 * 5 - 2), 36}, {}, ctx, handled, 2.0);
    EXPECT_EQ(in.selection(), Sel({2, 5}));
    feed(in, {Button{PointerButton::Primary, ElementState::Released}, {}}, ctx);
    in.handle_event(PointerMoved{2 * 300.0, 36}, {}, ctx, handled, 2.0);  // no longer dragging
    EXPECT_EQ(in.selection(), Sel({2, 5}));

    EXPECT_TRUE(press(100, SHIFT));  // extends from the anchor
    EXPECT_EQ(in.selection(), Sel({0, 2}));

    EXPECT_TRUE(press(92));  // the card's padding left of the text: start
    EXPECT_EQ(in.cursor(), 0u);
    EXPECT_TRUE(press(310));  // right padding, past the text: end
    EXPECT_EQ(in.cursor(), 6u);

    ctx.pointer = {150, 50};  // below the field
    EXPECT_FALSE(feed(in, {Button{PointerButton::Primary, ElementState::Pressed}, {}}, ctx));
    ctx.pointer = {110, 18};
    EXPECT_FALSE(feed(in, {Button{PointerButton::Secondary, ElementState::Pressed}, {}}, ctx));
}

TEST(TextInputDraw, ScrollsToKeepTheCaretInView) {
    text_render::FakeTextRenderer fake;
    auto theme = theme::Theme::dark();
    DrawContext dc;
    TextInput in = focused_input(std::string(20, 'w'));  // 140 px of text
    in.apply_layout_external({100, 0, 150, 36});         // in a 50 px field

    auto draw = [&] {
        Scene scene;
        in.draw(scene, {}, fake, theme, dc);
        return RecordingBackend::of(scene, &fake);
    };
    auto rec = draw();
    EXPECT_DOUBLE_EQ(in.scroll_x(), 92.0);
    const DrawRecord* text = rec.find_text(std::string(20, 'w'));
    ASSERT_NE(text, nullptr);
    EXPECT_DOUBLE_EQ(text->bounds.x0, 8.0);
    EXPECT_EQ(text->clip, (Rect{98, 0, 152, 36}));
    auto fills = rec.of_kind(DrawRecord::Kind::Fill);
    const DrawRecord* caret = fills.back();
    EXPECT_GE(caret->bounds.x0, 100.0);
    EXPECT_LE(caret->bounds.x1, 150.0);

    // A click lands where the text is shown, not where it would be unscrolled.
    EventContext ctx;
    ctx.pointer = {149, 18};
    feed(in, key(NamedKey::Home), ctx);
    EXPECT_EQ(in.cursor(), 0u);
    draw();
    EXPECT_DOUBLE_EQ(in.scroll_x(), 0.0);
    feed(in, key(NamedKey::End), ctx);
    draw();
    feed(in, {Button{PointerButton::Primary, ElementState::Pressed}, {}}, ctx);  // from the last layout
    EXPECT_EQ(in.cursor(), 20u);

    // A larger text scale lays the text out again.
    fake.set_text_scale(2.0f);
    draw();
    EXPECT_DOUBLE_EQ(in.scroll_x(), 280.0 - 50 + 2);
    fake.set_text_scale(1.0f);

    // Shortened text scrolls back so no blank room is left on the right.
    in.set_text_with_cursor_at_end("www");
    draw();
    EXPECT_DOUBLE_EQ(in.scroll_x(), 0.0);
}

// The fake renderer, counting the characters it is asked to measure or lay out.
class CountingText : public text_render::FakeTextRenderer {
public:
    mutable std::size_t characters = 0;
    text_render::TextMetrics measure_styled(std::string_view t, const TextStyle& style) const override {
        characters += t.size();
        return FakeTextRenderer::measure_styled(t, style);
    }
    std::vector<double> caret_offsets(std::string_view t, const TextStyle& style) const override {
        characters += t.size();
        return FakeTextRenderer::caret_offsets(t, style);
    }
};

// A long text costs a frame, a keystroke and a click what the field shows of it: drawn as far as
// shown, where the whole text would be, and nothing measured again while it stays.
TEST(TextInputDraw, ALongTextCostsWhatTheFieldShows) {
    CountingText text;
    const text_render::FakeTextRenderer boxes;  // for the recording's text boxes
    auto theme = theme::Theme::dark();
    DrawContext dc;
    std::string long_text;  // no part of it twice
    for (int i = 0; long_text.size() < 100'000; ++i) long_text += std::to_string(i) + ",";
    TextInput in = focused_input(long_text);  // 7 px a character, in a field 200 px wide
    const auto draw = [&] {
        Scene scene;
        in.draw(scene, {}, text, theme, dc);
        const auto rec = RecordingBackend::of(scene, &boxes);
        const auto texts = rec.of_kind(DrawRecord::Kind::Text);
        return texts.empty() ? DrawRecord{} : *texts.front();
    };
    EventContext ctx;
    ctx.text_renderer = &text;
    const auto click = [&](double x) {
        ctx.pointer = {x, 18};
        feed(in, {Button{PointerButton::Primary, ElementState::Pressed}, {}}, ctx);
        feed(in, {Button{PointerButton::Primary, ElementState::Released}, {}}, ctx);
    };
    const auto costs = [&](auto&& action) {
        const std::size_t before = text.characters;
        action();
        return text.characters - before;
    };
    EXPECT_LE(costs(draw), 5'000u);

    // At the end: the text ends at the field's right edge, less the caret's room.
    DrawRecord shown = draw();
    EXPECT_TRUE(long_text.ends_with(shown.text));
    EXPECT_LE(shown.text.size(), 200u);
    EXPECT_DOUBLE_EQ(shown.bounds.x1, 298.0);
    EXPECT_EQ(costs(draw), 0u);
    EXPECT_EQ(costs([&] { click(298.0 - 7.0 * 3); }), 0u);
    EXPECT_EQ(in.cursor(), long_text.size() - 3);
    EXPECT_LE(costs([&] { feed(in, chr("x"), ctx); draw(); }), 5'000u);
    EXPECT_TRUE((long_text.substr(0, long_text.size() - 3) + "x" + long_text.substr(long_text.size() - 3))
                    .ends_with(draw().text));

    // At the start, after Home.
    EXPECT_LE(costs([&] { feed(in, key(NamedKey::Home), ctx); draw(); }), 5'000u);
    shown = draw();
    EXPECT_TRUE(long_text.starts_with(shown.text));
    EXPECT_LE(shown.text.size(), 200u);
    EXPECT_DOUBLE_EQ(shown.bounds.x0, 100.0);
    EXPECT_EQ(costs([&] { click(100.0 + 7.0 * 5 + 1.0); }), 0u);
    EXPECT_EQ(in.cursor(), 5u);

    // Moving on by characters and words shows the text that follows, where it follows.
    for (int i = 0; i < 300; ++i) feed(in, key(NamedKey::ArrowRight, i % 2 ? CTRL : 0), ctx);
    EXPECT_LE(costs(draw), 5'000u);
    shown = draw();
    const std::size_t at = long_text.find(shown.text);
    ASSERT_NE(at, std::string::npos);
    click(171.0);
    EXPECT_EQ(in.cursor(), at + std::size_t(std::lround((171.0 - shown.bounds.x0) / 7.0)));
}

// A click places the caret under the pointer in what the field showed last, also after keys moved
// the caret far from it before the next frame: in a short text, in one scrolled along, and in one
// laid out only around its caret.
TEST(TextInputDraw, AClickLandsOnWhatTheFieldShowed) {
    const text_render::FakeTextRenderer text;  // 7 px a character, in a field 200 px wide
    auto theme = theme::Theme::dark();
    DrawContext dc;
    for (std::size_t length : {20u, 600u, 100'000u}) {
        SCOPED_TRACE(length);
        std::string s;  // no part of it twice
        for (int i = 0; s.size() < length; ++i) s += std::to_string(i) + ",";
        TextInput in = focused_input(s);
        Scene scene;
        in.draw(scene, {}, text, theme, dc);
        const auto rec = RecordingBackend::of(scene, &text);
        const auto texts = rec.of_kind(DrawRecord::Kind::Text);
        ASSERT_EQ(texts.size(), 1u);
        const DrawRecord& shown = *texts.front();
        const std::size_t at = s.rfind(shown.text);
        ASSERT_NE(at, std::string::npos);

        EventContext ctx;
        ctx.text_renderer = &text;
        feed(in, key(NamedKey::Home), ctx);
        ctx.pointer = {171.0, 18};
        feed(in, {Button{PointerButton::Primary, ElementState::Pressed}, {}}, ctx);
        EXPECT_EQ(in.cursor(), at + std::size_t(std::lround((171.0 - shown.bounds.x0) / 7.0)));
    }
}

TEST(TextInputDraw, PlaceholderFrameSelectionAndCaret) {
    text_render::FakeTextRenderer fake;
    auto theme = theme::Theme::dark();
    DrawContext dc;
    auto draw = [&](TextInput& in) {
        Scene scene;
        in.draw(scene, {}, fake, theme, dc);
        return RecordingBackend::of(scene, &fake);
    };

    TextInput empty = focused_input("");
    auto rec = draw(empty);
    const DrawRecord* ph = rec.find_text("Search");
    ASSERT_NE(ph, nullptr);
    EXPECT_EQ(ph->color, theme.colors.text_secondary);
    EXPECT_DOUBLE_EQ(ph->bounds.y0, 18 - 17.5 / 2);  // centred: 14 px text is 17.5 high
    // Own frame with the focus ring.
    bool ring = false;
    for (auto* s : rec.of_kind(DrawRecord::Kind::Stroke))
        if (s->color == theme.colors.focus && s->stroke_width == 2.0) ring = true;
    EXPECT_TRUE(ring);

    TextInput bare = focused_input("abc");
    bare.external_frame = true;
    feed(bare, key(NamedKey::Home, SHIFT), *std::make_unique<EventContext>());
    rec = draw(bare);
    EXPECT_TRUE(rec.of_kind(DrawRecord::Kind::Stroke).empty());
    auto fills = rec.of_kind(DrawRecord::Kind::Fill);
    ASSERT_EQ(fills.size(), 2u);  // selection, caret
    EXPECT_EQ(fills[0]->bounds.x0, 100.0);
    EXPECT_EQ(fills[0]->bounds.x1, 121.0);
    EXPECT_EQ(rec.find_text("abc")->color, theme.colors.text_primary);

    bare.blur();  // no caret, no selection
    rec = draw(bare);
    EXPECT_TRUE(rec.of_kind(DrawRecord::Kind::Fill).empty());
}

TEST(TextInputState, SetTextKeepsTheCaretOnTheNewText) {
    TextInput in = focused_input("abcdef");
    in.set_cursor(4);
    in.set_text("abcdefgh");
    EXPECT_EQ(in.cursor(), 4u);
    in.set_text("ab");
    EXPECT_EQ(in.cursor(), 2u);
    in.set_text_with_cursor_at_end("a\xC3\xA9");
    in.set_cursor(2);  // inside é: snapped back
    EXPECT_EQ(in.cursor(), 1u);
    in.select_all();
    in.set_text("xyz");
    EXPECT_EQ(in.selection(), std::nullopt);
}

}  // namespace
