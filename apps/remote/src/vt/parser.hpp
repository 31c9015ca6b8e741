#pragma once
// A DEC/ANSI escape-sequence parser (Paul Williams' state machine) that reports what it finds
// to a performer. Input may arrive in chunks of any size: a sequence or a UTF-8 character split
// across chunks is reported once, when its last byte arrives. Memory is bounded: at most 32
// parameter values, two intermediates, 1 KiB of OSC text and 16 OSC parameters.
//
// The input is UTF-8, not 8-bit: where this parser departs from the DEC machine on purpose, a
// comment starting "Unlike DEC" says how, at the place it happens.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace remote::vt {

inline constexpr std::size_t kMaxParams = 32;
inline constexpr std::size_t kMaxIntermediates = 2;
inline constexpr std::size_t kMaxOscRaw = 1024;
inline constexpr std::size_t kMaxOscParams = 16;

// The parameters of a CSI or DCS sequence: groups separated by ';', each group a value with its
// sub-parameters separated by ':'. An empty parameter is the value 0; values saturate at 65535.
class Params {
public:
    std::size_t size() const { return groups_; }
    bool empty() const { return groups_ == 0; }
    std::size_t len() const { return len_; }
    bool is_full() const { return len_ == kMaxParams; }

    std::span<const std::uint16_t> operator[](std::size_t group) const {
        std::size_t begin = starts_[group];
        std::size_t end = group + 1 < groups_ ? starts_[group + 1] : len_;
        return {values_.data() + begin, end - begin};
    }

    void clear() { len_ = groups_ = open_ = 0; }
    // Adds a value to the open group (or a new one) and closes the group.
    void push(std::uint16_t value) {
        add(value);
        open_ = 0;
    }
    // Adds a sub-parameter; the group stays open for the next value.
    void extend(std::uint16_t value) {
        add(value);
        ++open_;
    }
    // Sets value `i` of a sequence without sub-parameters, each value its own group, at any
    // order; `set_size` then says how many there are.
    void set_plain(std::size_t i, std::uint16_t value) {
        values_[i] = value;
        starts_[i] = static_cast<std::uint8_t>(i);
    }
    void set_size(std::size_t n) {
        len_ = groups_ = n;
        open_ = 0;
    }

private:
    void add(std::uint16_t value) {
        if (open_ == 0) starts_[groups_++] = static_cast<std::uint8_t>(len_);
        values_[len_++] = value;
    }

    std::array<std::uint16_t, kMaxParams> values_{};
    std::array<std::uint8_t, kMaxParams> starts_{};
    std::size_t len_ = 0;
    std::size_t groups_ = 0;
    std::size_t open_ = 0;
};

using Intermediates = std::span<const std::uint8_t>;
using OscParams = std::span<const std::span<const std::uint8_t>>;

// Does nothing for every callback; performers derive from it and hide what they handle. A
// performer may also take runs of printable ASCII at once, as print_ascii(span of bytes);
// without it each character of a run goes to print.
struct NullPerformer {
    void print(char32_t) {}
    void execute(std::uint8_t) {}
    void csi_dispatch(const Params&, Intermediates, bool /*ignore*/, char) {}
    void esc_dispatch(Intermediates, bool /*ignore*/, std::uint8_t) {}
    void hook(const Params&, Intermediates, bool /*ignore*/, char) {}
    void put(std::uint8_t) {}
    void unhook() {}
    void osc_dispatch(OscParams, bool /*bell_terminated*/) {}
};

class Parser {
public:
    template <typename P>
    void advance(P& performer, std::span<const std::uint8_t> bytes);

    template <typename P>
    void advance(P& performer, std::uint8_t byte) {
        advance(performer, std::span<const std::uint8_t>(&byte, 1));
    }

private:
    enum class State : std::uint8_t {
        Ground,
        Escape,
        EscapeIntermediate,
        CsiEntry,
        CsiParam,
        CsiIntermediate,
        CsiIgnore,
        DcsEntry,
        DcsParam,
        DcsIntermediate,
        DcsPassthrough,
        DcsIgnore,
        OscString,
        SosPmApcString,
    };

    template <typename P>
    static void print_run(P& p, const std::uint8_t* begin, const std::uint8_t* end);
    template <typename P>
    const std::uint8_t* plain_csi(P& p, const std::uint8_t* esc, const std::uint8_t* end);
    template <typename P>
    const std::uint8_t* ground(P& p, const std::uint8_t* it, const std::uint8_t* end);
    template <typename P>
    void ground_utf8(P& p, std::uint8_t b);
    // A whole UTF-8 character; U+0080-U+009F are C1 controls (see ground_utf8).
    template <typename P>
    static void character(P& p, char32_t cp) {
        if (cp <= 0x9F) {
            p.execute(std::uint8_t(cp));
        } else {
            p.print(cp);
        }
    }
    template <typename P>
    void byte(P& p, std::uint8_t b);
    template <typename P>
    void enter(P& p, State next);
    template <typename P>
    void osc_end(P& p, bool bell);

    void clear() {
        n_intermediates_ = 0;
        ignoring_ = false;
        param_ = 0;
        params_.clear();
    }
    void collect(std::uint8_t b) {
        // Unlike DEC, which leaves more intermediates to the implementation: a third one sets
        // the ignore flag, and the sequence is still dispatched with it.
        if (n_intermediates_ == kMaxIntermediates) {
            ignoring_ = true;
        } else {
            intermediates_[n_intermediates_++] = b;
        }
    }
    void param(std::uint8_t b) {
        // Unlike DEC: a 33rd value sets the ignore flag (the sequence is still dispatched) and
        // values saturate at 65535.
        if (params_.is_full()) {
            ignoring_ = true;
            return;
        }
        if (b == ';') {
            params_.push(param_);
            param_ = 0;
        } else if (b == ':') {
            // Unlike DEC, where a colon makes the sequence ignored: it separates sub-parameters
            // (38:5:1).
            params_.extend(param_);
            param_ = 0;
        } else {
            unsigned v = param_ * 10u + unsigned(b - '0');
            param_ = v > 0xFFFFu ? std::uint16_t(0xFFFF) : std::uint16_t(v);
        }
    }
    // An intermediate (0x20-0x2F), parameter (0x30-0x3B) or private-marker (0x3C-0x3F) byte of
    // a CSI or DCS sequence, given that sequence's entry, parameter, intermediate and ignore states.
    void sequence_byte(std::uint8_t b, State entry, State params, State intermediate, State ignore) {
        if (b <= 0x2F) {
            collect(b);
            state_ = intermediate;
        } else if (b <= 0x3B) {
            if (state_ == intermediate) {
                state_ = ignore;
            } else {
                param(b);
                state_ = params;
            }
        } else if (state_ == entry) {
            collect(b);
            state_ = params;
        } else {
            state_ = ignore;
        }
    }
    // The last parameter is always added, even when empty: CSI m has one parameter, 0.
    void finish_params() {
        if (params_.is_full()) {
            ignoring_ = true;
        } else {
            params_.push(param_);
        }
    }
    // Unlike DEC, which leaves the string whole to the dispatch: it is split at ';' into at most
    // 16 parameters here, and text past 1 KiB is dropped.
    void osc_put(std::uint8_t b) {
        if (b == ';') {
            if (osc_n_params_ == kMaxOscParams) return;
            osc_bounds_[osc_n_params_++] = static_cast<std::uint16_t>(osc_len_);
        } else if (osc_len_ < kMaxOscRaw) {
            osc_raw_[osc_len_++] = b;
        }
    }

    State state_ = State::Ground;
    bool ignoring_ = false;
    std::uint16_t param_ = 0;
    Params params_;
    std::array<std::uint8_t, kMaxIntermediates> intermediates_{};
    std::size_t n_intermediates_ = 0;

    std::array<std::uint8_t, kMaxOscRaw> osc_raw_{};
    std::size_t osc_len_ = 0;
    // End offset of each finished OSC parameter but the last.
    std::array<std::uint16_t, kMaxOscParams> osc_bounds_{};
    std::size_t osc_n_params_ = 0;

    // A UTF-8 character in progress: its value so far, the bytes still needed and the range
    // allowed for the next byte.
    char32_t utf8_cp_ = 0;
    std::uint8_t utf8_need_ = 0;
    std::uint8_t utf8_lo_ = 0x80;
    std::uint8_t utf8_hi_ = 0xBF;
};

// Where a run of printable ASCII (0x20-0x7E) ends, and what ends it: an escape, a byte from
// 0x80, or else a C0 control, DEL or the end of the input. What ends the run is read from the
// scan's masks, without waiting for that byte to be loaded.
struct RunEnd {
    enum Stop : unsigned { Other, Escape, High };
    const std::uint8_t* at;
    unsigned stop;
};

[[gnu::always_inline]] inline RunEnd run_end(const std::uint8_t* it, const std::uint8_t* end) {
#if defined(__SSE2__)
    // Moved by 0x60, 0x20-0x7E become the 95 lowest signed bytes (-128 to -34): one compare
    // tells printable from the rest.
    struct Masks {
        unsigned outside, escapes, high;
    };
    const auto classify = [](const std::uint8_t* at) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        return Masks{unsigned(_mm_movemask_epi8(_mm_cmpgt_epi8(_mm_add_epi8(v, _mm_set1_epi8(0x60)), _mm_set1_epi8(-34)))),
                     unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(0x1B)))),
                     unsigned(_mm_movemask_epi8(v))};
    };
    const auto stop = [](unsigned outside, unsigned escapes, unsigned high) {
        const unsigned bit = outside & (0u - outside);
        return unsigned((bit & escapes) != 0) | unsigned((bit & high) != 0) << 1;
    };
    // 32 bytes a step: most runs (a few words) end within the first.
    while (end - it >= 32) {
        const Masks lo = classify(it), hi = classify(it + 16);
        if (const unsigned outside = lo.outside | hi.outside << 16; outside != 0)
            return {it + __builtin_ctz(outside), stop(outside, lo.escapes | hi.escapes << 16, lo.high | hi.high << 16)};
        it += 32;
    }
    if (end - it >= 16) {
        if (const Masks m = classify(it); m.outside != 0)
            return {it + __builtin_ctz(m.outside), stop(m.outside, m.escapes, m.high)};
        it += 16;
    }
#endif
    while (it != end && *it >= 0x20 && *it < 0x7F) ++it;
    if (it == end) return {it, RunEnd::Other};
    return {it, *it == 0x1B ? RunEnd::Escape : *it >= 0x80 ? RunEnd::High : RunEnd::Other};
}

template <typename P>
void Parser::print_run(P& p, const std::uint8_t* begin, const std::uint8_t* end) {
    if constexpr (requires { p.print_ascii(std::span<const std::uint8_t>(begin, end)); }) {
        p.print_ascii(std::span<const std::uint8_t>(begin, end));
    } else {
        for (; begin != end; ++begin) p.print(char32_t(*begin));
    }
}

// A whole CSI sequence of the common shape (an optional private marker, digits and ';', a
// final byte) that starts at `esc` within this input is dispatched at once, as the state machine
// would; the end of the sequence, or nothing when it is of another shape or not whole here.
template <typename P>
[[gnu::always_inline]] inline const std::uint8_t* Parser::plain_csi(P& p, const std::uint8_t* esc, const std::uint8_t* end) {
    const std::uint8_t* q = esc + 1;
    if (end - q < 2 || *q != '[') return nullptr;
    ++q;
    n_intermediates_ = 0;
    if (*q >= 0x3C && *q <= 0x3F) intermediates_[n_intermediates_++] = *q++;
    // At most 30 parameter bytes: never more than 31 values.
    const std::uint8_t* limit = end - q > 30 ? q + 30 : end;
    unsigned value = 0;
    std::size_t n = 0;
    params_.set_plain(0, 0);
    for (; q != limit; ++q) {
        const std::uint8_t b = *q;
        const unsigned d = unsigned(b) - '0';
        if (d > 0x0B) break;
        if (b == ':') return nullptr;
        // Without a branch on the byte, which the mix of sequences makes unpredictable: a ';'
        // starts the next value at 0.
        const unsigned sep = b == ';';
        value = std::min(value * 10u + d, 0xFFFFu) & (sep - 1u);
        n += sep;
        params_.set_plain(n, std::uint16_t(value));
    }
    if (q == limit || *q < 0x40 || *q > 0x7E) return nullptr;
    params_.set_size(n + 1);
    p.csi_dispatch(params_, Intermediates(intermediates_.data(), n_intermediates_), false, char(*q));
    return q + 1;
}

// Plain text is the common case: runs of printable ASCII are found by a bulk scan, and C0
// controls, plain CSI sequences and whole UTF-8 characters decoded in a tight loop. Returns
// where the state machine must take over, byte by byte, or the end. What comes next in mixed
// output cannot be predicted; the order of the tests after each piece is the one measured to
// mispredict least (escape first, text last).
template <typename P>
[[gnu::always_inline]] inline const std::uint8_t* Parser::ground(P& p, const std::uint8_t* it, const std::uint8_t* end) {
    std::uint8_t b;
next:
    if (it == end) return end;
    b = *it;
    if (b == 0x1B) goto escape;
    if (b >= 0x80) goto high;
    if (b >= 0x20 && b < 0x7F) goto text;
control:
    b = *it;
    // DEL prints, as in the state machine.
    if (b >= 0x20) return it;
    // CAN and SUB too: in the ground state they only execute. A line end is mostly CR LF.
    p.execute(b);
    ++it;
    if (b == '\r' && it != end && *it == '\n') {
        p.execute(*it);
        ++it;
    }
    goto next;
text: {
    const RunEnd run = run_end(it + 1, end);
    print_run(p, it, run.at);
    it = run.at;
    if (it == end) return end;
    if (run.stop == RunEnd::High) goto high;
    if (run.stop == RunEnd::Escape) goto escape;
    goto control;
}
escape:
    if (const std::uint8_t* after = plain_csi(p, it, end)) {
        it = after;
        goto next;
    }
    return it;
high:
    b = *it;
    if (b >= 0xC2 && b <= 0xDF && end - it >= 2 && (it[1] & 0xC0) == 0x80) {
        character(p, (char32_t(b & 0x1F) << 6) | (it[1] & 0x3F));
        it += 2;
        goto next;
    }
    if (b >= 0xE1 && b <= 0xEF && b != 0xED && end - it >= 3 && (it[1] & 0xC0) == 0x80 && (it[2] & 0xC0) == 0x80) {
        p.print((char32_t(b & 0x0F) << 12) | (char32_t(it[1] & 0x3F) << 6) | (it[2] & 0x3F));
        it += 3;
        goto next;
    }
    if (b >= 0xF0 && b <= 0xF4 && end - it >= 4 && (it[1] & 0xC0) == 0x80 && (it[2] & 0xC0) == 0x80 &&
        (it[3] & 0xC0) == 0x80 && (b != 0xF0 || it[1] >= 0x90) && (b != 0xF4 || it[1] <= 0x8F)) {
        p.print((char32_t(b & 0x07) << 18) | (char32_t(it[1] & 0x3F) << 12) | (char32_t(it[2] & 0x3F) << 6) |
                (it[3] & 0x3F));
        it += 4;
        goto next;
    }
    return it;
}

template <typename P>
void Parser::advance(P& p, std::span<const std::uint8_t> bytes) {
    const std::uint8_t* it = bytes.data();
    const std::uint8_t* end = it + bytes.size();
    while (it != end) {
        if (state_ == State::Ground && utf8_need_ == 0) {
            it = ground(p, it, end);
            if (it == end) return;
        }
        const std::uint8_t b = *it++;
        if (utf8_need_ != 0 || (b >= 0x80 && state_ == State::Ground)) {
            ground_utf8(p, b);
        } else {
            byte(p, b);
        }
    }
}

// Unlike DEC, where 0x80-0x9F are C1 controls and 0xA0-0xFF print as 8-bit characters: bytes
// from 0x80 are UTF-8 in the ground state. Characters U+0080-U+009F go to execute() as C1
// controls, but start no sequence (U+009B is no CSI); a byte that cannot be part of a character,
// or the maximal part of a sequence that cannot be finished, prints one U+FFFD.
template <typename P>
void Parser::ground_utf8(P& p, std::uint8_t b) {
    if (utf8_need_ != 0) {
        if (b >= utf8_lo_ && b <= utf8_hi_) {
            utf8_cp_ = (utf8_cp_ << 6) | (b & 0x3F);
            utf8_lo_ = 0x80;
            utf8_hi_ = 0xBF;
            if (--utf8_need_ == 0) character(p, utf8_cp_);
            return;
        }
        // The sequence so far is one invalid character (its maximal subpart); the byte starts
        // afresh.
        utf8_need_ = 0;
        p.print(U'\uFFFD');
        if (b < 0x80) {
            byte(p, b);
            return;
        }
    }
    utf8_lo_ = 0x80;
    utf8_hi_ = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        utf8_cp_ = b & 0x1F;
        utf8_need_ = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
        utf8_cp_ = b & 0x0F;
        utf8_need_ = 2;
        if (b == 0xE0) utf8_lo_ = 0xA0;
        if (b == 0xED) utf8_hi_ = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        utf8_cp_ = b & 0x07;
        utf8_need_ = 3;
        if (b == 0xF0) utf8_lo_ = 0x90;
        if (b == 0xF4) utf8_hi_ = 0x8F;
    } else {
        // A byte that cannot start a character, 8-bit C1 controls included.
        p.print(U'\uFFFD');
    }
}

template <typename P>
void Parser::osc_end(P& p, bool bell) {
    std::array<std::span<const std::uint8_t>, kMaxOscParams> slices;
    std::size_t n = 0;
    std::size_t begin = 0;
    for (; n < osc_n_params_; ++n) {
        slices[n] = {osc_raw_.data() + begin, osc_bounds_[n] - begin};
        begin = osc_bounds_[n];
    }
    if (n < kMaxOscParams) slices[n++] = {osc_raw_.data() + begin, osc_len_ - begin};
    p.osc_dispatch(OscParams(slices.data(), n), bell);
}

template <typename P>
void Parser::enter(P& p, State next) {
    // Exit actions of the state left.
    if (state_ == State::OscString) {
        osc_end(p, false);
    } else if (state_ == State::DcsPassthrough) {
        p.unhook();
    }
    state_ = next;
    switch (next) {
        case State::Escape:
        case State::CsiEntry:
        case State::DcsEntry: clear(); break;
        case State::OscString:
            osc_len_ = 0;
            osc_n_params_ = 0;
            break;
        default: break;
    }
}

template <typename P>
void Parser::byte(P& p, std::uint8_t b) {
    // Transitions from anywhere.
    if (b == 0x18 || b == 0x1A) {
        p.execute(b);
        enter(p, State::Ground);
        return;
    }
    if (b == 0x1B) {
        enter(p, State::Escape);
        return;
    }
    const bool c0 = b < 0x20;
    // Unlike DEC, which folds 0xA0-0xFF onto 0x20-0x7F in every state: outside the ground state
    // a byte from 0x80 is kept as it came in OSC strings and DCS data (UTF-8 text), and
    // ignored elsewhere.
    switch (state_) {
        case State::Ground:
            // Only bytes below 0x80 come here; the rest go through ground_utf8.
            if (c0) {
                p.execute(b);
            } else {
                p.print(char32_t(b));
            }
            return;
        case State::Escape:
            if (c0) {
                p.execute(b);
            } else if (b >= 0x20 && b <= 0x2F) {
                collect(b);
                state_ = State::EscapeIntermediate;
            } else if (b == '[') {
                enter(p, State::CsiEntry);
            } else if (b == ']') {
                enter(p, State::OscString);
            } else if (b == 'P') {
                enter(p, State::DcsEntry);
            } else if (b == 'X' || b == '^' || b == '_') {
                enter(p, State::SosPmApcString);
            } else if (b >= 0x30 && b <= 0x7E) {
                p.esc_dispatch(Intermediates(intermediates_.data(), n_intermediates_), ignoring_, b);
                state_ = State::Ground;
            }
            return;
        case State::EscapeIntermediate:
            if (c0) {
                p.execute(b);
            } else if (b <= 0x2F) {
                collect(b);
            } else if (b <= 0x7E) {
                p.esc_dispatch(Intermediates(intermediates_.data(), n_intermediates_), ignoring_, b);
                state_ = State::Ground;
            }
            return;
        case State::CsiEntry:
        case State::CsiParam:
        case State::CsiIntermediate:
            if (c0) {
                p.execute(b);
            } else if (b >= 0x40 && b <= 0x7E) {
                finish_params();
                p.csi_dispatch(params_, Intermediates(intermediates_.data(), n_intermediates_), ignoring_, char(b));
                state_ = State::Ground;
            } else if (b <= 0x3F) {
                sequence_byte(b, State::CsiEntry, State::CsiParam, State::CsiIntermediate, State::CsiIgnore);
            }
            return;
        case State::CsiIgnore:
            if (c0) {
                p.execute(b);
            } else if (b >= 0x40 && b <= 0x7E) {
                state_ = State::Ground;
            }
            return;
        case State::DcsEntry:
        case State::DcsParam:
        case State::DcsIntermediate:
            if (c0) return;
            if (b >= 0x40 && b <= 0x7E) {
                finish_params();
                p.hook(params_, Intermediates(intermediates_.data(), n_intermediates_), ignoring_, char(b));
                state_ = State::DcsPassthrough;
            } else if (b <= 0x3F) {
                sequence_byte(b, State::DcsEntry, State::DcsParam, State::DcsIntermediate, State::DcsIgnore);
            }
            return;
        case State::DcsPassthrough:
            if (b != 0x7F) p.put(b);
            return;
        case State::DcsIgnore:
        case State::SosPmApcString: return;
        case State::OscString:
            // Unlike DEC, which ignores C0 controls here: BEL ends the string as ST does (xterm).
            if (b == 0x07) {
                osc_end(p, true);
                state_ = State::Ground;
            } else if (!c0) {
                osc_put(b);
            }
            return;
    }
}

}  // namespace remote::vt
