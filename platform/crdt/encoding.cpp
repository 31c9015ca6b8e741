#include "crdt/encoding.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace crdt::detail {

namespace {
Error err(std::string m) { return Error{std::move(m)}; }

// Replaces invalid UTF-8 sequences by U+FFFD.
std::string sanitize_utf8(std::span<const std::uint8_t> b) {
    if (std::all_of(b.begin(), b.end(), [](std::uint8_t c) { return c < 0x80; }))
        return std::string(reinterpret_cast<const char*>(b.data()), b.size());
    std::string out;
    out.reserve(b.size());
    std::size_t i = 0;
    while (i < b.size()) {
        std::uint8_t c = b[i];
        std::size_t n = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        bool ok = n != 0 && i + n <= b.size();
        std::uint32_t cp = n == 1 ? c : n == 2 ? (c & 0x1Fu) : n == 3 ? (c & 0x0Fu) : (c & 0x07u);
        for (std::size_t k = 1; ok && k < n; ++k) {
            if ((b[i + k] & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (b[i + k] & 0x3Fu);
        }
        if (ok && ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
                   (cp >= 0xD800 && cp <= 0xDFFF)))
            ok = false;
        if (ok) {
            out.append(reinterpret_cast<const char*>(&b[i]), n);
            i += n;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out;
}
}  // namespace

void write_uleb(std::vector<std::uint8_t>& out, std::uint64_t v) {
    do {
        std::uint8_t b = v & 0x7f;
        v >>= 7;
        out.push_back(static_cast<std::uint8_t>(b | (v ? 0x80 : 0)));
    } while (v);
}

void write_sleb(std::vector<std::uint8_t>& out, std::int64_t v) {
    while (true) {
        std::uint8_t b = static_cast<std::uint8_t>(v & 0x7f);
        v >>= 7;  // arithmetic shift
        bool done = (v == 0 && !(b & 0x40)) || (v == -1 && (b & 0x40));
        out.push_back(static_cast<std::uint8_t>(b | (done ? 0 : 0x80)));
        if (done) return;
    }
}

std::size_t uleb_size(std::uint64_t v) {
    std::size_t n = 1;
    while (v >>= 7) ++n;
    return n;
}

Result<std::uint8_t> Reader::byte() {
    if (pos_ >= data_.size()) return std::unexpected(err("unexpected end of data"));
    return data_[pos_++];
}

Result<std::uint64_t> Reader::uleb() {
    std::uint64_t v = 0;
    for (unsigned shift = 0, n = 1;; shift += 7, ++n) {
        if (pos_ >= data_.size()) return std::unexpected(err("unexpected end of data"));
        std::uint8_t b = data_[pos_++];
        if (shift == 63 && b > 1) return std::unexpected(err("integer does not fit 64 bits"));
        v |= static_cast<std::uint64_t>(b & 0x7f) << shift;
        if (!(b & 0x80)) {
            if (b == 0 && n > 1) return std::unexpected(err("overlong integer encoding"));
            return v;
        }
    }
}

Result<std::int64_t> Reader::sleb() {
    std::uint64_t v = 0;
    std::uint8_t prev = 0;
    for (unsigned shift = 0, n = 1;; shift += 7, ++n) {
        if (pos_ >= data_.size()) return std::unexpected(err("unexpected end of data"));
        std::uint8_t b = data_[pos_++];
        if (shift == 63 && b != 0x00 && b != 0x7f) return std::unexpected(err("integer does not fit 64 bits"));
        v |= static_cast<std::uint64_t>(b & 0x7f) << shift;
        if (!(b & 0x80)) {
            if (n > 1 && ((b == 0 && !(prev & 0x40)) || (b == 0x7f && (prev & 0x40))))
                return std::unexpected(err("overlong integer encoding"));
            if (shift + 7 < 64 && (b & 0x40)) v |= ~std::uint64_t{0} << (shift + 7);
            return static_cast<std::int64_t>(v);
        }
        prev = b;
    }
}

Result<std::span<const std::uint8_t>> Reader::bytes(std::uint64_t n) {
    if (n > remaining()) return std::unexpected(err("unexpected end of data"));
    auto out = data_.subspan(pos_, static_cast<std::size_t>(n));
    pos_ += static_cast<std::size_t>(n);
    return out;
}

// ---------------------------------------------------------------- RLE

namespace {
void put_value(std::vector<std::uint8_t>& out, std::uint64_t v) { write_uleb(out, v); }
void put_value(std::vector<std::uint8_t>& out, std::int64_t v) { write_sleb(out, v); }
void put_value(std::vector<std::uint8_t>& out, const std::string& v) {
    write_uleb(out, v.size());
    out.insert(out.end(), v.begin(), v.end());
}
}  // namespace

template <class T>
void RleEncoder<T>::write_value(const T& v) {
    put_value(out_, v);
}

template <class T>
void RleEncoder<T>::flush() {
    switch (state_) {
        case State::Empty:
        case State::InitialNulls: break;
        case State::Nulls:
            write_sleb(out_, 0);
            write_uleb(out_, count_);
            break;
        case State::Lone:
            write_sleb(out_, -1);
            write_value(last_);
            break;
        case State::Run:
            write_sleb(out_, static_cast<std::int64_t>(count_));
            write_value(last_);
            break;
        case State::Literal:
            literal_.push_back(last_);
            write_sleb(out_, -static_cast<std::int64_t>(literal_.size()));
            for (const auto& v : literal_) write_value(v);
            literal_.clear();
            break;
    }
}

template <class T>
void RleEncoder<T>::append(const T& v) {
    switch (state_) {
        case State::Empty: break;
        case State::InitialNulls:
        case State::Nulls:
            write_sleb(out_, 0);
            write_uleb(out_, count_);
            break;
        case State::Lone:
            if (v == last_) {
                state_ = State::Run;
                count_ = 2;
                return;
            }
            state_ = State::Literal;
            literal_.push_back(last_);
            last_ = v;
            return;
        case State::Run:
            if (v == last_) {
                ++count_;
                return;
            }
            flush();
            break;
        case State::Literal:
            if (v == last_) {
                write_sleb(out_, -static_cast<std::int64_t>(literal_.size()));
                for (const auto& x : literal_) write_value(x);
                literal_.clear();
                state_ = State::Run;
                count_ = 2;
                return;
            }
            literal_.push_back(last_);
            last_ = v;
            return;
    }
    state_ = State::Lone;
    last_ = v;
}

template <class T>
void RleEncoder<T>::append_null() {
    switch (state_) {
        case State::Empty:
            state_ = State::InitialNulls;
            count_ = 1;
            return;
        case State::InitialNulls:
        case State::Nulls: ++count_; return;
        default:
            flush();
            state_ = State::Nulls;
            count_ = 1;
    }
}

template <class T>
std::vector<std::uint8_t> RleEncoder<T>::finish() {
    flush();
    state_ = State::Empty;
    return std::move(out_);
}

namespace {
template <class T>
Result<T> read_one(Reader& in);
template <>
Result<std::uint64_t> read_one<std::uint64_t>(Reader& in) {
    return in.uleb();
}
template <>
Result<std::int64_t> read_one<std::int64_t>(Reader& in) {
    return in.sleb();
}
template <>
Result<std::string> read_one<std::string>(Reader& in) {
    auto n = in.uleb();
    if (!n) return std::unexpected(n.error());
    auto b = in.bytes(*n);
    if (!b) return std::unexpected(b.error());
    return sanitize_utf8(*b);
}
}  // namespace

template <class T>
Result<T> RleDecoder<T>::read_value() {
    return read_one<T>(in_);
}

template <class T>
Result<std::optional<T>> RleDecoder<T>::next() {
    if (left_ == 0) {
        if (in_.done()) return std::optional<T>{};
        auto count = in_.sleb();
        if (!count) return std::unexpected(count.error());
        if (*count > 0) {
            mode_ = Mode::Run;
            left_ = static_cast<std::uint64_t>(*count);
            auto v = read_value();
            if (!v) return std::unexpected(v.error());
            value_ = std::move(*v);
        } else if (*count < 0) {
            mode_ = Mode::Literal;
            left_ = static_cast<std::uint64_t>(0) - static_cast<std::uint64_t>(*count);
        } else {
            mode_ = Mode::Nulls;
            auto n = in_.uleb();
            if (!n) return std::unexpected(n.error());
            if (*n == 0) return std::unexpected(err("empty null run"));
            left_ = *n;
        }
    }
    --left_;
    switch (mode_) {
        case Mode::Run: return std::optional<T>(value_);
        case Mode::Literal: {
            auto v = read_value();
            if (!v) return std::unexpected(v.error());
            return std::optional<T>(std::move(*v));
        }
        case Mode::Nulls: break;
    }
    return std::optional<T>{};
}

std::optional<std::uint64_t> count_uleb_rle(std::span<const std::uint8_t> data) {
    Reader in(data);
    std::uint64_t total = 0;
    while (!in.done()) {
        auto n = in.sleb();
        if (!n) return std::nullopt;
        std::uint64_t items;
        if (*n > 0) {
            items = static_cast<std::uint64_t>(*n);
            if (!in.uleb()) return std::nullopt;
        } else if (*n < 0) {
            items = static_cast<std::uint64_t>(0) - static_cast<std::uint64_t>(*n);
            for (std::uint64_t k = 0; k < items; ++k)
                if (!in.uleb()) return std::nullopt;
        } else {
            auto nulls = in.uleb();
            if (!nulls) return std::nullopt;
            items = *nulls;
        }
        if (__builtin_add_overflow(total, items, &total)) return std::nullopt;
    }
    return total;
}

template class RleEncoder<std::uint64_t>;
template class RleEncoder<std::int64_t>;
template class RleEncoder<std::string>;
template class RleDecoder<std::uint64_t>;
template class RleDecoder<std::int64_t>;
template class RleDecoder<std::string>;

Result<std::optional<std::int64_t>> DeltaDecoder::next() {
    auto d = rle_.next();
    if (!d) return std::unexpected(d.error());
    if (!*d) return std::optional<std::int64_t>{};
    std::int64_t out;
    if (__builtin_add_overflow(abs_, **d, &out)) return std::unexpected(err("delta overflows"));
    abs_ = out;
    return std::optional<std::int64_t>(out);
}

void BooleanEncoder::append(bool v) {
    if (v == last_) {
        ++count_;
        return;
    }
    write_uleb(out_, count_);
    last_ = v;
    count_ = 1;
}

std::vector<std::uint8_t> BooleanEncoder::finish() {
    if (count_ > 0) write_uleb(out_, count_);
    count_ = 0;
    return std::move(out_);
}

Result<bool> BooleanDecoder::next() {
    while (left_ == 0) {
        if (in_.done()) return false;
        auto n = in_.uleb();
        if (!n) return std::unexpected(n.error());
        value_ = !value_;
        left_ = *n;
    }
    --left_;
    return value_;
}

// ---------------------------------------------------------------- values

namespace {
// clang-format off
enum ValueType : std::uint64_t {
    TNull = 0, TFalse = 1, TTrue = 2, TUint = 3, TInt = 4, TF64 = 5, TStr = 6, TBytes = 7, TCounter = 8, TTimestamp = 9,
};
// clang-format on
}  // namespace

void ValueEncoder::append(const ScalarValue& v) {
    std::size_t before = raw_.size();
    std::uint64_t type = TNull;
    struct V {
        std::vector<std::uint8_t>& raw;
        std::uint64_t& type;
        void operator()(Null) { type = TNull; }
        void operator()(bool b) { type = b ? TTrue : TFalse; }
        void operator()(std::uint64_t u) {
            type = TUint;
            write_uleb(raw, u);
        }
        void operator()(std::int64_t i) {
            type = TInt;
            write_sleb(raw, i);
        }
        void operator()(double d) {
            type = TF64;
            auto bits = std::bit_cast<std::uint64_t>(d);
            for (int k = 0; k < 8; ++k) raw.push_back(static_cast<std::uint8_t>(bits >> (8 * k)));
        }
        void operator()(const std::string& s) {
            type = TStr;
            raw.insert(raw.end(), s.begin(), s.end());
        }
        void operator()(const Bytes& b) {
            type = TBytes;
            raw.insert(raw.end(), b.begin(), b.end());
        }
        void operator()(Counter c) {
            type = TCounter;
            write_sleb(raw, c.value);
        }
        void operator()(Timestamp t) {
            type = TTimestamp;
            write_sleb(raw, t.millis);
        }
        void operator()(const Unknown& u) {
            type = u.type_code & 15u;
            raw.insert(raw.end(), u.bytes.begin(), u.bytes.end());
        }
    };
    std::visit(V{raw_, type}, v);
    meta_.append(static_cast<std::uint64_t>(raw_.size() - before) << 4 | type);
}

Result<ScalarValue> ValueDecoder::next() {
    auto m = meta_.next();
    if (!m) return std::unexpected(m.error());
    std::uint64_t meta = m->value_or(0);
    std::uint64_t type = meta & 15, len = meta >> 4;
    auto bytes = raw_.bytes(len);
    if (!bytes) return std::unexpected(err("value column too short"));
    auto whole_int = [&](auto read) -> Result<ScalarValue> {
        Reader r(*bytes);
        auto v = read(r);
        if (!v) return std::unexpected(v.error());
        if (!r.done()) return std::unexpected(err("value length does not match its integer"));
        return *v;
    };
    switch (type) {
        case TNull:
        case TFalse:
        case TTrue:
            if (len != 0) return std::unexpected(err("value of null or boolean type with a length"));
            if (type == TNull) return Null{};
            return type == TTrue;
        case TUint:
            return whole_int([](Reader& r) -> Result<ScalarValue> {
                auto v = r.uleb();
                if (!v) return std::unexpected(v.error());
                return ScalarValue(*v);
            });
        case TInt:
        case TCounter:
        case TTimestamp:
            return whole_int([type](Reader& r) -> Result<ScalarValue> {
                auto v = r.sleb();
                if (!v) return std::unexpected(v.error());
                if (type == TCounter) return ScalarValue(Counter{*v});
                if (type == TTimestamp) return ScalarValue(Timestamp{*v});
                return ScalarValue(*v);
            });
        case TF64: {
            if (len != 8) return std::unexpected(err("float value is not 8 bytes"));
            std::uint64_t bits = 0;
            for (int k = 0; k < 8; ++k) bits |= static_cast<std::uint64_t>((*bytes)[k]) << (8 * k);
            return std::bit_cast<double>(bits);
        }
        case TStr: return sanitize_utf8(*bytes);
        case TBytes: return Bytes(bytes->begin(), bytes->end());
        default: return Unknown{static_cast<std::uint8_t>(type), Bytes(bytes->begin(), bytes->end())};
    }
}

}  // namespace crdt::detail
