#include "zavo_ui/text_input.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "zavo_ui/surface.hpp"

namespace zavo_ui::widget::text_input {

namespace {

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Decodes one code point at `pos` of valid-or-not UTF-8; `len` gets its byte length (1 for a
// bad byte, whose value is then U+FFFD).
char32_t decode(std::string_view s, std::size_t pos, std::size_t& len) {
    auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char c = b(pos);
    len = 1;
    if (c < 0x80) return c;
    std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
    if (n == 0 || pos + n > s.size()) return 0xFFFD;
    char32_t cp = c & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
    for (std::size_t i = 1; i < n; ++i) {
        if (!is_continuation(b(pos + i))) return 0xFFFD;
        cp = (cp << 6) | (b(pos + i) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are invalid.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0xFFFD;
    len = n;
    return cp;
}

// Code points that attach to the character before them.
bool is_extending(char32_t cp) {
    return (cp >= 0x0300 && cp <= 0x036F) || (cp >= 0x1AB0 && cp <= 0x1AFF) || (cp >= 0x1DC0 && cp <= 0x1DFF) ||
           (cp >= 0x20D0 && cp <= 0x20FF) || (cp >= 0xFE00 && cp <= 0xFE0F) || (cp >= 0xFE20 && cp <= 0xFE2F) ||
           cp == 0x200D || (cp >= 0x1F3FB && cp <= 0x1F3FF) || (cp >= 0xE0100 && cp <= 0xE01EF);
}

bool is_word(char32_t cp) { return cp >= 0x80 ? cp != 0xA0 && cp != 0x3000 : (std::isalnum(int(cp)) || cp == '_'); }

// Code point boundaries of the text (0 and size included).
std::vector<std::size_t> code_point_positions(std::string_view s) {
    std::vector<std::size_t> out{0};
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t len;
        decode(s, i, len);
        i += len;
        out.push_back(i);
    }
    return out;
}

// Start of the code point that ends at `pos`; a byte that is not part of a valid sequence is
// a unit of its own, as decode treats it.
std::size_t prev_code_point_start(std::string_view s, std::size_t pos) {
    std::size_t start = pos - 1;
    while (start > 0 && pos - start < 4 && is_continuation(static_cast<unsigned char>(s[start]))) --start;
    std::size_t len;
    decode(s, start, len);
    return start + len == pos ? start : pos - 1;
}

char32_t code_point_before(std::string_view s, std::size_t pos) {
    std::size_t len;
    return decode(s, prev_code_point_start(s, pos), len);
}

bool is_control_key_text(std::string_view t) {
    for (unsigned char c : t)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

}  // namespace

std::vector<std::size_t> caret_positions(std::string_view text) {
    std::vector<std::size_t> out{0};
    std::size_t i = 0;
    while (i < text.size()) {
        i = next_position(text, i);
        out.push_back(i);
    }
    return out;
}

std::size_t next_position(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) return text.size();
    std::size_t len;
    decode(text, pos, len);
    pos += len;
    while (pos < text.size()) {
        char32_t cp = decode(text, pos, len);
        if (!is_extending(cp)) break;
        pos += len;
    }
    return pos;
}

std::size_t prev_position(std::string_view text, std::size_t pos) {
    pos = std::min(pos, text.size());
    if (pos == 0) return 0;
    std::size_t p = prev_code_point_start(text, pos);
    std::size_t len;
    while (p > 0 && is_extending(decode(text, p, len))) p = prev_code_point_start(text, p);
    return p;
}

std::size_t prev_word_start(std::string_view text, std::size_t pos) {
    pos = std::min(pos, text.size());
    while (pos > 0 && !is_word(code_point_before(text, pos))) pos = prev_position(text, pos);
    while (pos > 0 && is_word(code_point_before(text, pos))) pos = prev_position(text, pos);
    return pos;
}

std::size_t next_word_end(std::string_view text, std::size_t pos) {
    pos = std::min(pos, text.size());
    std::size_t len;
    while (pos < text.size() && !is_word(decode(text, pos, len))) pos = next_position(text, pos);
    while (pos < text.size() && is_word(decode(text, pos, len))) pos = next_position(text, pos);
    return pos;
}

std::string single_line(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t len;
        char32_t cp = decode(text, i, len);
        if (cp == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            // dropped: the \n that follows gives the space
        } else if (cp == '\r' || cp == '\n' || cp == '\t') {
            out += ' ';
        } else if (cp < 0x20 || cp == 0x7F) {
            // dropped
        } else if (cp == 0xFFFD && !(len == 3 && text.substr(i, 3) == "\xEF\xBF\xBD")) {
            out += "\xEF\xBF\xBD";
        } else {
            out.append(text.substr(i, len));
        }
        i += len;
    }
    return out;
}

// ---- state ----

std::optional<std::pair<std::size_t, std::size_t>> TextInput::selection() const {
    if (anchor_ == cursor_) return std::nullopt;
    return std::pair{std::min(anchor_, cursor_), std::max(anchor_, cursor_)};
}

std::string TextInput::selected_text() const {
    auto s = selection();
    return s ? text_.substr(s->first, s->second - s->first) : std::string();
}

void TextInput::set_text(std::string text) {
    text_ = std::move(text);
    if (cursor_ > text_.size()) cursor_ = text_.size();
    // Snap onto a boundary of the new text.
    auto positions = caret_positions(text_);
    auto it = std::upper_bound(positions.begin(), positions.end(), cursor_);
    cursor_ = *std::prev(it);
    anchor_ = cursor_;
    dragging_ = false;
}

void TextInput::set_text_with_cursor_at_end(std::string text) {
    text_ = std::move(text);
    cursor_ = anchor_ = text_.size();
    dragging_ = false;
}

void TextInput::set_cursor(std::size_t pos, bool extend) {
    pos = std::min(pos, text_.size());
    auto positions = caret_positions(text_);
    pos = *std::prev(std::upper_bound(positions.begin(), positions.end(), pos));
    cursor_ = pos;
    if (!extend) anchor_ = pos;
}

void TextInput::select_all() {
    anchor_ = 0;
    cursor_ = text_.size();
}

void TextInput::focus() {
    focused = true;
    caret_visible = true;
}

void TextInput::blur() {
    focused = false;
    caret_visible = false;
    anchor_ = cursor_;
    dragging_ = false;
}

bool TextInput::delete_selection() {
    auto s = selection();
    if (!s) return false;
    text_.erase(s->first, s->second - s->first);
    cursor_ = anchor_ = s->first;
    return true;
}

void TextInput::insert(std::string_view typed) {
    std::string clean = single_line(typed);
    delete_selection();
    text_.insert(cursor_, clean);
    cursor_ += clean.size();
    anchor_ = cursor_;
}

// ---- events ----

bool TextInput::on_key(const event::Key& key, event::Modifiers mods, EventContext& ctx) {
    using event::NamedKey;
    const bool shift = mods.shift();
    const bool word = mods.control();
    if (auto* named = std::get_if<NamedKey>(&key.logical)) {
        switch (*named) {
            case NamedKey::ArrowLeft:
                if (!shift && selection()) {
                    cursor_ = anchor_ = selection()->first;
                } else {
                    set_cursor(word ? prev_word_start(text_, cursor_) : prev_position(text_, cursor_), shift);
                }
                return true;
            case NamedKey::ArrowRight:
                if (!shift && selection()) {
                    cursor_ = anchor_ = selection()->second;
                } else {
                    set_cursor(word ? next_word_end(text_, cursor_) : next_position(text_, cursor_), shift);
                }
                return true;
            case NamedKey::Home: set_cursor(0, shift); return true;
            case NamedKey::End: set_cursor(text_.size(), shift); return true;
            case NamedKey::Backspace:
                if (!delete_selection() && cursor_ > 0) {
                    std::size_t from = word ? prev_word_start(text_, cursor_) : prev_position(text_, cursor_);
                    text_.erase(from, cursor_ - from);
                    cursor_ = anchor_ = from;
                }
                return true;
            case NamedKey::Delete:
                if (!delete_selection() && cursor_ < text_.size()) {
                    std::size_t to = word ? next_word_end(text_, cursor_) : next_position(text_, cursor_);
                    text_.erase(cursor_, to - cursor_);
                    anchor_ = cursor_;
                }
                return true;
            case NamedKey::Space:
                if (mods.control() || mods.super_key()) return false;
                insert(" ");
                return true;
            default: return false;
        }
    }
    if (mods.control() || mods.super_key()) {
        const std::string* ch = key.character();
        if (!ch || !mods.control()) return false;
        std::string lower = *ch;
        for (auto& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
        // On layouts without Latin letters the shortcut follows the key's place.
        if (lower.size() != 1 || static_cast<unsigned char>(lower[0]) >= 0x80) {
            using event::KeyCode;
            lower.clear();
            if (key.physical == KeyCode::KeyA) lower = "a";
            if (key.physical == KeyCode::KeyC) lower = "c";
            if (key.physical == KeyCode::KeyX) lower = "x";
            if (key.physical == KeyCode::KeyV) lower = "v";
        }
        if (lower == "a") {
            select_all();
            return true;
        }
        if (lower == "c" || lower == "x") {
            if (auto s = selection(); s && ctx.clipboard) {
                ctx.clipboard->set_text(selected_text());
                if (lower == "x") delete_selection();
            }
            return true;
        }
        if (lower == "v") {
            if (ctx.clipboard)
                if (auto pasted = ctx.clipboard->get_text()) insert(*pasted);
            return true;
        }
        return false;
    }
    // Text the key types; control characters (Escape, Enter) are not text.
    std::string_view typed;
    if (key.text)
        typed = *key.text;
    else if (const std::string* ch = key.character())
        typed = *ch;
    if (typed.empty() || is_control_key_text(typed)) return false;
    insert(typed);
    return true;
}

void TextInput::handle_event(const event::Event& ev, event::Modifiers modifiers, EventContext& ctx, bool& handled,
                             double scale_factor) {
    if (auto* key = std::get_if<event::Key>(&ev)) {
        if (focused && key->pressed() && on_key(*key, modifiers, ctx)) handled = true;
        return;
    }
    if (auto* commit = std::get_if<event::TextCommit>(&ev)) {
        if (focused && !commit->text.empty()) {
            insert(commit->text);
            handled = true;
        }
        return;
    }
    if (auto* button = std::get_if<event::Button>(&ev)) {
        if (button->button != event::PointerButton::Primary) return;
        if (button->state == event::ElementState::Released) {
            dragging_ = false;
            return;
        }
        // The owner's card pads the field; a press in the padding still places the caret.
        Rect hit_area{rect_.x0 - 16.0, rect_.y0, rect_.x1 + 16.0, rect_.y1};
        if (!focused || !hit_area.contains(ctx.pointer)) return;
        set_cursor(hit(ctx.pointer.x, ctx.text_renderer), modifiers.shift());
        dragging_ = true;
        handled = true;
        return;
    }
    if (auto* moved = std::get_if<event::PointerMoved>(&ev)) {
        if (!dragging_ || !focused) return;
        double s = scale_factor > 0.0 ? scale_factor : 1.0;
        set_cursor(hit(moved->x / s, ctx.text_renderer), true);
        return;
    }
}

TextStyle TextInput::text_style() const {
    TextStyle style = TextStyle::of_size(effective_text_size());
    style.verbatim = verbatim;
    return style;
}

std::size_t TextInput::hit(double x, const text_render::TextRenderer* renderer) {
    // The layout shown last, where the caret may since have moved off it; the text laid out
    // anew only where it changed.
    if (renderer && !laid_for(*renderer)) {
        lay_out(*renderer);
    } else if (!renderer && (laid_offsets_.empty() || laid_text_ != text_)) {
        return x - rect_.x0 + scroll_ <= 0.0 ? 0 : text_.size();
    }
    const double local = x - rect_.x0 + scroll_;
    const std::vector<double>& offsets = laid_offsets_;
    const std::vector<std::size_t>& cps = laid_positions_;
    const std::size_t from = cps.front();
    std::vector<std::size_t> carets = caret_positions(std::string_view(text_).substr(from, cps.back() - from));
    for (auto& c : carets) c += from;
    // Nearest caret position; offsets are indexed by code point boundary.
    std::size_t best = from;
    double best_d = INFINITY;
    std::size_t ci = 0;
    for (std::size_t i = 0; i < cps.size() && i < offsets.size(); ++i) {
        while (ci < carets.size() && carets[ci] < cps[i]) ++ci;
        if (ci == carets.size() || carets[ci] != cps[i]) continue;
        double d = std::abs(offsets[i] - local);
        if (d < best_d) {
            best_d = d;
            best = cps[i];
        }
    }
    return best;
}

// ---- layout and drawing ----

bool TextInput::laid_for(const text_render::TextRenderer& text) const {
    return !laid_offsets_.empty() && laid_text_ == text_ && laid_size_ == text_style().size &&
           laid_scale_ == text.text_scale();
}

void TextInput::lay_out(const text_render::TextRenderer& text) {
    const TextStyle style = text_style();
    const double room = std::max(rect_.width(), 1.0);
    const bool laid = !laid_offsets_.empty();
    const bool windowed = laid && (laid_positions_.front() != 0 || laid_positions_.back() != laid_text_.size());
    if (laid_for(text)) {
        if (!windowed) return;
        const std::size_t first = laid_positions_.front(), last = laid_positions_.back();
        if (cursor_ >= first && cursor_ <= last) {
            const double x = laid_x(cursor_);
            if ((first == 0 || x >= room) && (last == text_.size() || laid_offsets_.back() - x >= room)) return;
        }
    }
    laid_text_ = text_;
    laid_size_ = style.size;
    laid_scale_ = text.text_scale();
    laid_line_height_ = text.measure_styled("Hg", style).height;
    std::size_t from = 0, to = text_.size();
    const std::string_view all = text_;
    if (text_render::first_code_points(all, kLaidWhole).size() < all.size()) {
        // Twice the field's width of text on either side of the caret, in whole characters.
        from = cursor_ - text_render::measured_piece(text, all.substr(0, cursor_), style, 2 * room, true).text.size();
        to = cursor_ + text_render::measured_piece(text, all.substr(cursor_), style, 2 * room).text.size();
        if (from < all.size()) from = prev_position(all, next_position(all, from));
        if (to > 0) to = next_position(all, prev_position(all, to));
    }
    const std::string_view part = all.substr(from, to - from);
    laid_offsets_ = text.caret_offsets(part, style);
    if (laid_offsets_.empty()) laid_offsets_.push_back(0.0);
    laid_positions_ = code_point_positions(part);
    for (auto& p : laid_positions_) p += from;
    // Laid out anew around the caret, the view keeps the caret where it was shown.
    if (windowed || from != 0 || to != all.size()) scroll_ = laid_x(cursor_) - caret_shown_;
}

double TextInput::laid_x(std::size_t pos) const {
    const auto it = std::lower_bound(laid_positions_.begin(), laid_positions_.end(), pos);
    return laid_offsets_[std::min<std::size_t>(std::size_t(it - laid_positions_.begin()), laid_offsets_.size() - 1)];
}

void TextInput::update_scroll() {
    double width = std::max(0.0, rect_.width());
    double caret = laid_x(cursor_);
    constexpr double CARET_ROOM = 2.0;
    if (caret - scroll_ > width - CARET_ROOM) scroll_ = caret - width + CARET_ROOM;
    if (caret - scroll_ < 0.0) scroll_ = caret;
    // Do not leave blank room on the right once the text got shorter.
    const double text_w = laid_offsets_.back();
    if (laid_positions_.back() == text_.size() && text_w - scroll_ < width - CARET_ROOM)
        scroll_ = text_w - width + CARET_ROOM;
    scroll_ = std::max(0.0, scroll_);
}

std::pair<std::size_t, std::size_t> TextInput::shown_part() const {
    const std::vector<double>& offsets = laid_offsets_;
    const std::vector<std::size_t>& cps = laid_positions_;
    if (cps.size() <= kDrawnWhole || offsets.size() != cps.size()) return {cps.front(), cps.back()};
    // Glyphs reach past their caret positions by less than a line's height.
    const double margin = laid_line_height_;
    const auto first = std::upper_bound(offsets.begin(), offsets.end(), scroll_ - margin);
    const auto last = std::lower_bound(offsets.begin(), offsets.end(), scroll_ + rect_.width() + margin);
    std::size_t from = cps[std::size_t(std::max(first - offsets.begin(), std::ptrdiff_t(1)) - 1)];
    std::size_t to = cps[std::min(std::size_t(last - offsets.begin()), cps.size() - 1)];
    // Whole characters, their marks included.
    if (from < text_.size()) from = prev_position(text_, next_position(text_, from));
    if (to > 0) to = next_position(text_, prev_position(text_, to));
    return {from, to};
}

void TextInput::draw(Scene& scene, const Affine& transform, const text_render::TextRenderer& text,
                     const theme::Theme& theme, DrawContext&) {
    const auto& c = theme.colors;
    const TextStyle style = text_style();
    if (!external_frame) {
        Rect frame{rect_.x0 - 12.0, rect_.y0, rect_.x1 + 12.0, rect_.y1};
        surface::card(scene, transform, frame, c.background, 8.0);
        if (focused) scene.stroke_color(transform, Stroke::of_width(2.0), c.focus, RoundedRect::from_rect(frame, 8.0));
    }

    lay_out(text);
    update_scroll();
    caret_shown_ = laid_x(cursor_) - scroll_;

    const double line_h = laid_line_height_;
    const double top = rect_.center().y - line_h / 2.0;
    auto x_at = [&](std::size_t pos) { return rect_.x0 + laid_x(pos) - scroll_; };

    scene.push_clip(transform, Rect{rect_.x0 - 2.0, rect_.y0, rect_.x1 + 2.0, rect_.y1});
    if (focused) {
        if (auto s = selection())
            scene.fill_color(transform, c.focus.with_alpha(0.35f),
                             Rect{x_at(s->first), top, x_at(s->second), top + line_h});
    }
    if (text_.empty()) {
        if (!placeholder.empty())
            text.draw_styled(scene, transform.pre_translate(rect_.x0, top), placeholder, style, c.text_secondary);
    } else {
        const auto [from, to] = shown_part();
        text.draw_styled(scene, transform.pre_translate(x_at(from), top), std::string_view(text_).substr(from, to - from),
                         style, c.text_primary);
    }
    if (focused && caret_visible) {
        double x = std::clamp(x_at(cursor_), rect_.x0, std::max(rect_.x0, rect_.x1 - 1.5));
        scene.fill_color(transform, c.text_primary, Rect{x, top, x + 1.5, top + line_h});
    }
    scene.pop_layer();
}

}  // namespace zavo_ui::widget::text_input
