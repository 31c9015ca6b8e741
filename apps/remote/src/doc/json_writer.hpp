#pragma once
// A JSON text writer: compact (no whitespace at all) or indented by two spaces per level.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace remote::json {

// Appends `text` as a JSON string: quote and backslash escaped, \b \t \n \f \r, other
// characters below U+0020 as \u00xx; everything else (non-ASCII included) as itself.
void append_escaped(std::string& out, std::string_view text);

class Writer {
public:
    enum class Style { Compact, Indented };

    explicit Writer(Style style = Style::Compact);

    void begin_object();
    void end_object();
    void begin_array();
    void end_array();
    void key(std::string_view name);
    void string(std::string_view text);
    void unsigned_number(std::uint64_t value);
    void boolean(bool value);
    void null();
    // A member of the open object: its key, then the value.
    void string_member(std::string_view name, std::string_view text);
    void number_member(std::string_view name, std::uint64_t value);
    void bool_member(std::string_view name, bool value);

    // The text written so far; the writer is left empty.
    std::string take();

private:
    struct Level {
        bool object;
        bool empty;
    };

    void before_value();
    void close(char bracket);
    void newline_indent(std::size_t depth);

    Style style_;
    std::string out_;
    std::vector<Level> levels_;
    bool after_key_ = false;
};

}  // namespace remote::json
