#pragma once
// A single-line text field: typing (input-method commits included), a caret moved by
// characters, words, Home and End, selection by Shift and by dragging, the clipboard
// (Control+A, C, X, V) and horizontal scrolling of text wider than the field.
//
// Positions are byte offsets into the UTF-8 text and always fall on character boundaries
// (a base character with its combining marks counts as one).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zavo_ui/geometry.hpp"
#include "zavo_ui/scene.hpp"
#include "zavo_ui/text_render.hpp"
#include "zavo_ui/theme.hpp"
#include "zavo_ui/widget.hpp"

namespace zavo_ui::widget::text_input {

class TextInput : public Widget {
public:
    TextInput() = default;
    // A field that edits its own text.
    static TextInput local() { return TextInput(); }
    TextInput with_placeholder(std::string text) && {
        placeholder = std::move(text);
        return std::move(*this);
    }

    // Shown in the secondary colour while the text is empty.
    std::string placeholder;
    // Text size in logical pixels; none means 14.
    std::optional<float> text_size;
    // The text is drawn as exactly its characters (TextStyle::verbatim): for hosts, ports, ids.
    bool verbatim = false;
    // The owner draws the field's ground and focus ring (the field then draws only text,
    // selection and caret).
    bool external_frame = false;
    // Focused: the field takes keys and shows its selection. caret_visible: the caret is drawn.
    bool focused = false;
    bool caret_visible = false;

    const std::string& text() const { return text_; }
    // Replaces the text; the caret stays where it was (moved back onto the new text if needed)
    // and the selection is dropped.
    void set_text(std::string text);
    // Replaces the text and puts the caret at its end.
    void set_text_with_cursor_at_end(std::string text);

    std::size_t cursor() const { return cursor_; }
    // The selected byte range [first, second), or none when nothing is selected.
    std::optional<std::pair<std::size_t, std::size_t>> selection() const;
    std::string selected_text() const;
    // Moves the caret to `pos` (snapped to a boundary); with `extend` the selection grows.
    void set_cursor(std::size_t pos, bool extend = false);
    void select_all();

    // Enters the focused state (caret shown); the selection is kept.
    void focus();
    // Leaves it: no caret, the selection and any drag are dropped.
    void blur();

    // The rectangle the text is laid out in (the owner's card minus its padding).
    void apply_layout_external(const Rect& rect) { rect_ = rect; }
    const Rect& rect() const { return rect_; }
    // How far the text is scrolled left so that the caret stays in view.
    double scroll_x() const { return scroll_; }

    void draw(Scene& scene, const Affine& transform, const text_render::TextRenderer& text, const theme::Theme& theme,
              DrawContext& draw);

    // Widget
    void paint(Scene& scene, const Affine& transform, text_render::TextRenderer& text, const theme::Theme& theme,
               DrawContext& draw) override {
        this->draw(scene, transform, text, theme, draw);
    }
    // Consumes editing keys, text commits and primary presses on the field while focused.
    void handle_event(const event::Event& event, event::Modifiers modifiers, EventContext& ctx, bool& handled,
                      double scale_factor) override;
    std::optional<Rect> bounds() override { return rect_; }

    float effective_text_size() const { return text_size.value_or(14.0f); }
    // The style the text is measured and drawn in.
    TextStyle text_style() const;

private:
    bool on_key(const event::Key& key, event::Modifiers modifiers, EventContext& ctx);
    void insert(std::string_view typed);
    bool delete_selection();
    // Caret position under window x, laid out by the renderer when there is one, else from the
    // last frame's layout.
    std::size_t hit(double x, const text_render::TextRenderer* renderer);
    // Whether the last layout is of this text, size and scale.
    bool laid_for(const text_render::TextRenderer& text) const;
    // Lays the text out unless the last layout is of this text, size and scale and holds the
    // caret with a field's width on either side of it (or the text's end).
    void lay_out(const text_render::TextRenderer& text);
    // The x of a byte position in the layout, within the part laid out.
    double laid_x(std::size_t pos) const;
    void update_scroll();
    // The bytes of the text to draw: all of a short text, else what the field shows of it and a
    // little on either side, in whole characters.
    std::pair<std::size_t, std::size_t> shown_part() const;
    // A text of at most this many code points is laid out whole; a longer one around the caret,
    // as far as twice the field's width on either side: what is shown, whatever the length.
    static constexpr std::size_t kLaidWhole = 1024;
    static constexpr std::size_t kDrawnWhole = 256;

    std::string text_;
    std::size_t cursor_ = 0;
    std::size_t anchor_ = 0;
    bool dragging_ = false;
    Rect rect_;
    double scroll_ = 0.0;

    // The last frame's layout: the text, size and scale it was made for, the bytes of the code
    // point boundaries laid out (all, or those around the caret) with their x offsets from the
    // first of them, and the line height. scroll_ counts from that first one too.
    std::string laid_text_;
    float laid_size_ = 0.0f;
    float laid_scale_ = 0.0f;
    std::vector<double> laid_offsets_;
    std::vector<std::size_t> laid_positions_;
    double laid_line_height_ = 0.0;
    double caret_shown_ = 0.0;  // where the field showed the caret in the last frame
};

// Editing helpers on UTF-8 text, exposed for tests.
// Byte offsets of every caret position: 0, each character boundary, text.size().
std::vector<std::size_t> caret_positions(std::string_view text);
std::size_t prev_position(std::string_view text, std::size_t pos);
std::size_t next_position(std::string_view text, std::size_t pos);
// Start of the word before pos and end of the word after pos (letters, digits, '_' and any
// non-ASCII character make words; spaces and ASCII punctuation separate them).
std::size_t prev_word_start(std::string_view text, std::size_t pos);
std::size_t next_word_end(std::string_view text, std::size_t pos);
// Text fit for one line: invalid UTF-8 becomes U+FFFD, line breaks and tabs become spaces,
// other control characters are dropped.
std::string single_line(std::string_view text);

}  // namespace zavo_ui::widget::text_input
