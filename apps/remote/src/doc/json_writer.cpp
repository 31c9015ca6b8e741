#include "doc/json_writer.hpp"

#include <cassert>

namespace remote::json {

void append_escaped(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    out.push_back('"');
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\f': out += "\\f"; break;
            case '\r': out += "\\r"; break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out.push_back(hex[c >> 4]);
                    out.push_back(hex[c & 15]);
                } else {
                    out.push_back(ch);
                }
        }
    }
    out.push_back('"');
}

Writer::Writer(Style style) : style_(style) { out_.reserve(128); }

void Writer::newline_indent(std::size_t depth) {
    out_.push_back('\n');
    out_.append(2 * depth, ' ');
}

void Writer::before_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (levels_.empty()) return;
    Level& level = levels_.back();
    assert(!level.object && "object members need a key");
    if (!level.empty) out_.push_back(',');
    level.empty = false;
    if (style_ == Style::Indented) newline_indent(levels_.size());
}

void Writer::key(std::string_view name) {
    assert(!levels_.empty() && levels_.back().object && !after_key_);
    Level& level = levels_.back();
    if (!level.empty) out_.push_back(',');
    level.empty = false;
    if (style_ == Style::Indented) newline_indent(levels_.size());
    append_escaped(out_, name);
    out_ += style_ == Style::Indented ? ": " : ":";
    after_key_ = true;
}

void Writer::begin_object() {
    before_value();
    out_.push_back('{');
    levels_.push_back({true, true});
}

void Writer::begin_array() {
    before_value();
    out_.push_back('[');
    levels_.push_back({false, true});
}

void Writer::close(char bracket) {
    assert(!levels_.empty() && !after_key_);
    bool empty = levels_.back().empty;
    levels_.pop_back();
    if (style_ == Style::Indented && !empty) newline_indent(levels_.size());
    out_.push_back(bracket);
}

void Writer::end_object() { close('}'); }
void Writer::end_array() { close(']'); }

void Writer::string(std::string_view text) {
    before_value();
    append_escaped(out_, text);
}

void Writer::unsigned_number(std::uint64_t value) {
    before_value();
    out_ += std::to_string(value);
}

void Writer::boolean(bool value) {
    before_value();
    out_ += value ? "true" : "false";
}

void Writer::null() {
    before_value();
    out_ += "null";
}

void Writer::string_member(std::string_view name, std::string_view text) {
    key(name);
    string(text);
}

void Writer::number_member(std::string_view name, std::uint64_t value) {
    key(name);
    unsigned_number(value);
}

void Writer::bool_member(std::string_view name, bool value) {
    key(name);
    boolean(value);
}

std::string Writer::take() {
    std::string text = std::move(out_);
    out_.clear();
    levels_.clear();
    after_key_ = false;
    return text;
}

}  // namespace remote::json
