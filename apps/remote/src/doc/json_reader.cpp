#include "doc/json_reader.hpp"

#include "profiles/text.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace remote::json {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void append_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::string debug_quoted(std::string_view text) {
    std::string out = "\"";
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        switch (ch) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (c < 0x20 || c == 0x7F)
                    out += fmt::format("\\u{{{:x}}}", c);
                else
                    out.push_back(ch);
        }
    }
    out.push_back('"');
    return out;
}

std::string Error::to_string() const { return fmt::format("{} at line {} column {}", message, line, column); }

std::optional<char> Reader::peek() {
    while (pos_ < input_.size() && is_space(input_[pos_])) ++pos_;
    if (pos_ == input_.size()) return std::nullopt;
    return input_[pos_];
}

Error Reader::error_at(std::size_t index, std::string message) const {
    index = std::min(index, input_.size());
    std::string_view before = input_.substr(0, index);
    std::size_t line = 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
    std::size_t line_start = before.rfind('\n');
    std::size_t column = line_start == std::string_view::npos ? index : index - line_start - 1;
    return Error{std::move(message), line, column};
}

Error Reader::error(std::string message) const { return error_at(pos_, std::move(message)); }

Error Reader::peek_error(std::string message) const {
    return error_at(std::min(pos_ + 1, input_.size()), std::move(message));
}

Result<std::string> Reader::string() {
    ++pos_;  // opening quote
    std::string out;
    while (true) {
        std::size_t run = pos_;
        while (pos_ < input_.size()) {
            auto c = static_cast<unsigned char>(input_[pos_]);
            if (c == '"' || c == '\\' || c < 0x20) break;
            ++pos_;
        }
        out.append(input_.substr(run, pos_ - run));
        if (pos_ == input_.size()) return std::unexpected(error("EOF while parsing a string"));
        char c = input_[pos_++];
        if (c == '"') break;
        if (c != '\\')
            return std::unexpected(error("control character (\\u0000-\\u001F) found while parsing a string"));
        if (pos_ == input_.size()) return std::unexpected(error("EOF while parsing a string"));
        char e = input_[pos_++];
        switch (e) {
            case '"': out.push_back('"'); break;
            case '\\': out.push_back('\\'); break;
            case '/': out.push_back('/'); break;
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'u': {
                auto hex4 = [this]() -> Result<std::uint32_t> {
                    std::uint32_t v = 0;
                    for (int i = 0; i < 4; ++i) {
                        if (pos_ == input_.size()) return std::unexpected(error("EOF while parsing a string"));
                        int d = hex_digit(input_[pos_++]);
                        if (d < 0) return std::unexpected(error("invalid escape"));
                        v = v << 4 | static_cast<std::uint32_t>(d);
                    }
                    return v;
                };
                auto first = hex4();
                if (!first) return std::unexpected(first.error());
                std::uint32_t cp = *first;
                if (cp >= 0xDC00 && cp <= 0xDFFF) return std::unexpected(error("lone leading surrogate in hex escape"));
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    if (pos_ + 2 > input_.size() || input_[pos_] != '\\' || input_[pos_ + 1] != 'u') {
                        pos_ = std::min(pos_ + 1, input_.size());
                        return std::unexpected(error("unexpected end of hex escape"));
                    }
                    pos_ += 2;
                    auto second = hex4();
                    if (!second) return std::unexpected(second.error());
                    if (*second < 0xDC00 || *second > 0xDFFF)
                        return std::unexpected(error("lone leading surrogate in hex escape"));
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (*second - 0xDC00);
                }
                append_utf8(out, cp);
                break;
            }
            default: return std::unexpected(error("invalid escape"));
        }
    }
    if (!is_valid_utf8(out)) return std::unexpected(error("invalid unicode code point"));
    return out;
}

Result<Number> Reader::number() {
    std::size_t start = pos_;
    bool negative = false;
    if (input_[pos_] == '-') {
        negative = true;
        ++pos_;
    }
    auto eof_or = [this](const char* message) {
        return std::unexpected(pos_ == input_.size() ? error("EOF while parsing a value") : peek_error(message));
    };
    if (pos_ == input_.size() || !is_digit(input_[pos_])) return eof_or("invalid number");
    bool integral = true;
    if (input_[pos_] == '0') {
        ++pos_;
        if (pos_ < input_.size() && is_digit(input_[pos_])) return std::unexpected(peek_error("invalid number"));
    } else {
        while (pos_ < input_.size() && is_digit(input_[pos_])) ++pos_;
    }
    if (pos_ < input_.size() && input_[pos_] == '.') {
        integral = false;
        ++pos_;
        if (pos_ == input_.size() || !is_digit(input_[pos_])) return eof_or("invalid number");
        while (pos_ < input_.size() && is_digit(input_[pos_])) ++pos_;
    }
    if (pos_ < input_.size() && (input_[pos_] == 'e' || input_[pos_] == 'E')) {
        integral = false;
        ++pos_;
        if (pos_ < input_.size() && (input_[pos_] == '+' || input_[pos_] == '-')) ++pos_;
        if (pos_ == input_.size() || !is_digit(input_[pos_])) return eof_or("invalid number");
        while (pos_ < input_.size() && is_digit(input_[pos_])) ++pos_;
    }
    std::string text(input_.substr(start, pos_ - start));
    Number n;
    if (integral) {
        std::string_view digits = std::string_view(text).substr(negative ? 1 : 0);
        std::uint64_t value = 0;
        bool overflow = false;
        for (char c : digits) {
            auto d = static_cast<std::uint64_t>(c - '0');
            if (value > (UINT64_MAX - d) / 10) {
                overflow = true;
                break;
            }
            value = value * 10 + d;
        }
        if (!overflow && !negative) {
            n.kind = Number::Kind::Unsigned;
            n.unsigned_value = value;
            return n;
        }
        // "-0" falls through and reads as the float -0.0.
        if (!overflow && value != 0 && value <= static_cast<std::uint64_t>(INT64_MAX) + 1) {
            n.kind = Number::Kind::Signed;
            n.signed_value = value == static_cast<std::uint64_t>(INT64_MAX) + 1 ? INT64_MIN
                                                                                : -static_cast<std::int64_t>(value);
            return n;
        }
    }
    n.kind = Number::Kind::Float;
    n.float_value = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(n.float_value)) return std::unexpected(error("number out of range"));
    return n;
}

Result<void> Reader::literal(std::string_view word) {
    for (char c : word) {
        if (pos_ == input_.size()) return std::unexpected(error("EOF while parsing a value"));
        if (input_[pos_] != c) return std::unexpected(peek_error("expected ident"));
        ++pos_;
    }
    return {};
}

Result<void> Reader::colon() {
    auto c = peek();
    if (!c) return std::unexpected(peek_error("EOF while parsing an object"));
    if (*c != ':') return std::unexpected(peek_error("expected `:`"));
    advance();
    return {};
}

Result<void> Reader::skip_scalar(char first) {
    switch (first) {
        case '"': {
            auto s = string();
            if (!s) return std::unexpected(s.error());
            return {};
        }
        case 'n': return literal("null");
        case 't': return literal("true");
        case 'f': return literal("false");
        default:
            if (first == '-' || is_digit(first)) {
                auto n = number();
                if (!n) return std::unexpected(n.error());
                return {};
            }
            return std::unexpected(peek_error("expected value"));
    }
}

Result<void> Reader::skip_value() {
    std::vector<bool> open;  // true for an object, false for an array
    while (true) {
        // A value is expected here.
        auto c = peek();
        if (!c) return std::unexpected(peek_error("EOF while parsing a value"));
        bool have_value = false;
        if (*c == '[') {
            advance();
            auto n = peek();
            if (n == ']') {
                advance();
                have_value = true;
            } else {
                open.push_back(false);
            }
        } else if (*c == '{') {
            advance();
            auto n = peek();
            if (n == '}') {
                advance();
                have_value = true;
            } else if (n == '"') {
                if (auto k = string(); !k) return std::unexpected(k.error());
                if (auto k = colon(); !k) return std::unexpected(k.error());
                open.push_back(true);
            } else if (!n) {
                return std::unexpected(peek_error("EOF while parsing an object"));
            } else {
                return std::unexpected(peek_error("key must be a string"));
            }
        } else {
            if (auto s = skip_scalar(*c); !s) return s;
            have_value = true;
        }
        if (!have_value) continue;
        // After a value: close brackets until one wants another element.
        bool next_value = false;
        while (!open.empty() && !next_value) {
            auto n = peek();
            if (open.back()) {
                if (!n) return std::unexpected(peek_error("EOF while parsing an object"));
                if (*n == '}') {
                    advance();
                    open.pop_back();
                } else if (*n == ',') {
                    advance();
                    auto k = peek();
                    if (k == '"') {
                        if (auto s = string(); !s) return std::unexpected(s.error());
                        if (auto s = colon(); !s) return std::unexpected(s.error());
                        next_value = true;
                    } else if (k == '}') {
                        return std::unexpected(peek_error("trailing comma"));
                    } else if (!k) {
                        return std::unexpected(peek_error("EOF while parsing a value"));
                    } else {
                        return std::unexpected(peek_error("key must be a string"));
                    }
                } else {
                    return std::unexpected(peek_error("expected `,` or `}`"));
                }
            } else {
                if (!n) return std::unexpected(peek_error("EOF while parsing a list"));
                if (*n == ']') {
                    advance();
                    open.pop_back();
                } else if (*n == ',') {
                    advance();
                    if (peek() == ']') return std::unexpected(peek_error("trailing comma"));
                    next_value = true;
                } else {
                    return std::unexpected(peek_error("expected `,` or `]`"));
                }
            }
        }
        if (!next_value) return {};
    }
}

Result<void> Reader::finish() {
    if (peek()) return std::unexpected(peek_error("trailing characters"));
    return {};
}

std::string Reader::describe(const Number& number) {
    switch (number.kind) {
        case Number::Kind::Unsigned: return fmt::format("integer `{}`", number.unsigned_value);
        case Number::Kind::Signed: return fmt::format("integer `{}`", number.signed_value);
        case Number::Kind::Float: break;
    }
    std::string text = fmt::format("{}", number.float_value);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return fmt::format("floating point `{}`", text);
}

Error Reader::invalid_type(std::string_view expected) {
    auto c = peek();
    if (!c) return peek_error("EOF while parsing a value");
    std::string found;
    switch (*c) {
        case '[': found = "sequence"; break;
        case '{': found = "map"; break;
        case '"': {
            auto s = string();
            if (!s) return s.error();
            found = "string " + debug_quoted(*s);
            break;
        }
        case 'n': {
            if (auto l = literal("null"); !l) return l.error();
            found = "null";
            break;
        }
        case 't':
        case 'f': {
            bool value = *c == 't';
            if (auto l = literal(value ? "true" : "false"); !l) return l.error();
            found = value ? "boolean `true`" : "boolean `false`";
            break;
        }
        default: {
            if (*c != '-' && !is_digit(*c)) return peek_error("expected value");
            auto n = number();
            if (!n) return n.error();
            found = describe(*n);
        }
    }
    return error(fmt::format("invalid type: {}, expected {}", found, expected));
}

}  // namespace remote::json
