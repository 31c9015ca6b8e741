#pragma once
// A pull reader over UTF-8 JSON text. It never recurses on the input: skipping a value keeps
// its own stack of open brackets, so deeply nested input cannot exhaust the call stack.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace remote::json {

// A decoding fault and where it happened (lines from 1; the column counts the bytes read on
// that line, so the first byte of a line is column 1 and nothing read yet is column 0).
struct Error {
    std::string message;
    std::size_t line = 0;
    std::size_t column = 0;

    // "{message} at line {line} column {column}"
    std::string to_string() const;

    friend bool operator==(const Error&, const Error&) = default;
};

// A text as debug output shows it: between double quotes, with escapes.
std::string debug_quoted(std::string_view text);

template <class T>
using Result = std::expected<T, Error>;

struct Number {
    enum class Kind { Unsigned, Signed, Float };
    Kind kind = Kind::Unsigned;
    std::uint64_t unsigned_value = 0;
    std::int64_t signed_value = 0;
    double float_value = 0;
};

class Reader {
public:
    explicit Reader(std::string_view input) : input_(input) {}

    // Skips whitespace (space, tab, line feed, carriage return) and returns the next byte.
    std::optional<char> peek();
    // Consumes the byte that peek returned.
    void advance() { ++pos_; }

    // An error at the last byte read, or at the next byte.
    Error error(std::string message) const;
    Error peek_error(std::string message) const;

    // The string whose opening quote is next; escapes decoded, UTF-8 checked.
    Result<std::string> string();
    // The number that starts at the next byte.
    Result<Number> number();
    // `word` ("null", "true", "false"), whose first byte is next.
    Result<void> literal(std::string_view word);
    // ':' between a key and its value.
    Result<void> colon();
    // Skips one well-formed value of any shape and depth.
    Result<void> skip_value();
    // Only whitespace may follow the top-level value.
    Result<void> finish();

    // The error for a value of the wrong type where `expected` was wanted. Reads a scalar to
    // name it ("string \"x\"", "integer `5`", ...); "map" and "sequence" are not read.
    Error invalid_type(std::string_view expected);
    // How a number is named in such errors.
    static std::string describe(const Number& number);

private:
    Error error_at(std::size_t index, std::string message) const;
    Result<void> skip_scalar(char first);

    std::string_view input_;
    std::size_t pos_ = 0;
};

}  // namespace remote::json
