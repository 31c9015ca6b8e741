#pragma once
// Primitive encodings of the storage format: LEB128 integers and the column encodings (run
// length, delta, boolean, values). Readers check every bound and refuse non-canonical or
// overflowing integers; exhausted columns read as nulls.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "crdt/document.hpp"

namespace crdt::detail {

void write_uleb(std::vector<std::uint8_t>& out, std::uint64_t v);
void write_sleb(std::vector<std::uint8_t>& out, std::int64_t v);
std::size_t uleb_size(std::uint64_t v);

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}
    bool done() const { return pos_ >= data_.size(); }
    std::size_t pos() const { return pos_; }
    std::size_t remaining() const { return data_.size() - pos_; }
    Result<std::uint64_t> uleb();
    Result<std::int64_t> sleb();
    Result<std::span<const std::uint8_t>> bytes(std::uint64_t n);
    Result<std::uint8_t> byte();
    std::span<const std::uint8_t> rest() const { return data_.subspan(pos_); }

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

// Run-length encoding of optional values: (n > 0, value) is a run, (0, count) nulls and
// (-n, n values) a literal run.
template <class T>
class RleEncoder {
public:
    void append(const T& v);
    void append_null();
    std::vector<std::uint8_t> finish();

private:
    enum class State { Empty, InitialNulls, Nulls, Lone, Run, Literal };
    void write_value(const T& v);
    void flush();
    std::vector<std::uint8_t> out_;
    State state_ = State::Empty;
    std::uint64_t count_ = 0;
    T last_{};
    std::vector<T> literal_;
};

class DeltaEncoder {
public:
    void append(std::int64_t v) {
        rle_.append(static_cast<std::int64_t>(static_cast<std::uint64_t>(v) - static_cast<std::uint64_t>(abs_)));
        abs_ = v;
    }
    void append_null() { rle_.append_null(); }
    std::vector<std::uint8_t> finish() { return rle_.finish(); }

private:
    RleEncoder<std::int64_t> rle_;
    std::int64_t abs_ = 0;
};

class BooleanEncoder {
public:
    void append(bool v);
    std::vector<std::uint8_t> finish();

private:
    std::vector<std::uint8_t> out_;
    bool last_ = false;
    std::uint64_t count_ = 0;
};

// A value metadata column and its raw value column.
class ValueEncoder {
public:
    void append(const ScalarValue& v);
    std::vector<std::uint8_t> finish_meta() { return meta_.finish(); }
    std::vector<std::uint8_t> finish_raw() { return std::move(raw_); }

private:
    RleEncoder<std::uint64_t> meta_;
    std::vector<std::uint8_t> raw_;
};

// The number of items in a run-length encoded column of uLEB values; nullopt when malformed.
std::optional<std::uint64_t> count_uleb_rle(std::span<const std::uint8_t> data);

template <class T>
class RleDecoder {
public:
    explicit RleDecoder(std::span<const std::uint8_t> data) : in_(data) {}
    // The next value, nullopt for a null (also once the column is exhausted).
    Result<std::optional<T>> next();
    bool done() const { return left_ == 0 && in_.done(); }

private:
    Result<T> read_value();
    Reader in_;
    enum class Mode { Run, Literal, Nulls } mode_ = Mode::Nulls;
    std::uint64_t left_ = 0;
    T value_{};
};

class DeltaDecoder {
public:
    explicit DeltaDecoder(std::span<const std::uint8_t> data) : rle_(data) {}
    Result<std::optional<std::int64_t>> next();
    bool done() const { return rle_.done(); }

private:
    RleDecoder<std::int64_t> rle_;
    std::int64_t abs_ = 0;
};

class BooleanDecoder {
public:
    explicit BooleanDecoder(std::span<const std::uint8_t> data) : in_(data) {}
    Result<bool> next();
    bool done() const { return left_ == 0 && in_.done(); }

private:
    Reader in_;
    bool value_ = true;  // flipped before the first run, which counts falses
    std::uint64_t left_ = 0;
};

class ValueDecoder {
public:
    ValueDecoder(std::span<const std::uint8_t> meta, std::span<const std::uint8_t> raw) : meta_(meta), raw_(raw) {}
    Result<ScalarValue> next();
    bool done() const { return meta_.done(); }

private:
    RleDecoder<std::uint64_t> meta_;
    Reader raw_;
};

}  // namespace crdt::detail
