// Session output into the terminal: arbitrary bytes in arbitrary chunks must never crash, the
// cursor must stay inside its bounds, and the parser's callbacks must see bounded data.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "vt/parser.hpp"
#include "vt/terminal.hpp"

namespace {

// Every callback folded into one number, to compare two runs over the same bytes.
struct Digest : remote::vt::NullPerformer {
    std::uint64_t h = 1469598103934665603ull;
    void mix(std::uint64_t v) { h = (h ^ v) * 1099511628211ull; }
    void print(char32_t c) { mix(0x100000000ull | c); }
    void execute(std::uint8_t b) { mix(0x200000000ull | b); }
    void csi_dispatch(const remote::vt::Params& p, remote::vt::Intermediates inter, bool ignore, char action) {
        mix(0x300000000ull | std::uint8_t(action) | (ignore ? 0x100 : 0));
        for (std::size_t g = 0; g < p.size(); ++g)
            for (auto v : p[g]) mix((std::uint64_t(g) << 16) | v);
        for (auto b : inter) mix(0x400000000ull | b);
    }
    void esc_dispatch(remote::vt::Intermediates inter, bool ignore, std::uint8_t b) {
        mix(0x500000000ull | b | (ignore ? 0x100 : 0));
        for (auto i : inter) mix(i);
    }
    void osc_dispatch(remote::vt::OscParams params, bool bell) {
        mix(0x600000000ull | (bell ? 1 : 0));
        for (auto param : params)
            for (auto b : param) mix(b);
    }
    void hook(const remote::vt::Params&, remote::vt::Intermediates, bool, char a) {
        mix(0x700000000ull | std::uint8_t(a));
    }
    void put(std::uint8_t b) { mix(0x800000000ull | b); }
    void unhook() { mix(0x900000000ull); }
};

struct Checker : remote::vt::NullPerformer {
    void check(const remote::vt::Params& params, remote::vt::Intermediates inter) {
        std::size_t total = 0;
        for (std::size_t g = 0; g < params.size(); ++g) {
            if (params[g].empty()) std::abort();
            total += params[g].size();
        }
        if (total != params.len() || total > remote::vt::kMaxParams || inter.size() > remote::vt::kMaxIntermediates)
            std::abort();
    }
    void print(char32_t c) {
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) std::abort();
    }
    void csi_dispatch(const remote::vt::Params& p, remote::vt::Intermediates i, bool, char) { check(p, i); }
    void hook(const remote::vt::Params& p, remote::vt::Intermediates i, bool, char) { check(p, i); }
    void osc_dispatch(remote::vt::OscParams params, bool) {
        std::size_t total = 0;
        for (auto p : params) total += p.size();
        if (params.size() > remote::vt::kMaxOscParams || total > remote::vt::kMaxOscRaw) std::abort();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // The first two bytes choose the grid size; the rest is fed in chunks whose lengths come
    // from the data itself, so that every sequence gets split somewhere.
    remote::Terminal terminal(data[0] % 100, data[1] % 40);
    remote::vt::Parser parser;
    Checker checker;
    std::span<const uint8_t> rest(data + 2, size - 2);
    std::size_t step = 1;
    while (!rest.empty()) {
        std::size_t n = std::min(rest.size(), step);
        terminal.feed(rest.first(n));
        parser.advance(checker, rest.first(n));
        if (terminal.cursor_col() >= terminal.cols() || terminal.cursor_row() >= terminal.rows()) std::abort();
        step = rest[0] % 64 + 1;
        rest = rest.subspan(n);
    }
    for (std::size_t r = 0; r < terminal.rows(); ++r)
        if (terminal.row(r).size() != terminal.cols()) std::abort();

    // However the bytes are split, the terminal shows the same.
    remote::Terminal whole_terminal(data[0] % 100, data[1] % 40);
    whole_terminal.feed(std::span<const uint8_t>(data + 2, size - 2));
    if (whole_terminal.cursor_row() != terminal.cursor_row() || whole_terminal.cursor_col() != terminal.cursor_col() ||
        whole_terminal.wrap_pending() != terminal.wrap_pending() || whole_terminal.take_replies() != terminal.take_replies())
        std::abort();
    for (std::size_t r = 0; r < terminal.rows(); ++r) {
        const auto a = terminal.row(r), b = whole_terminal.row(r);
        for (std::size_t c = 0; c < terminal.cols(); ++c) {
            if (!(a[c] == b[c]) || terminal.marks(r, c) != whole_terminal.marks(r, c)) std::abort();
            // A wide character's halves stay together.
            const bool tail = a[c].has(remote::cell_flag::kWideTail);
            const bool head_before = c > 0 && a[c - 1].has(remote::cell_flag::kWide);
            if (tail != head_before) std::abort();
        }
    }

    // However the bytes are split, the parser reports the same.
    remote::vt::Parser whole_parser, bytewise_parser;
    Digest whole, bytewise;
    whole_parser.advance(whole, std::span<const uint8_t>(data + 2, size - 2));
    for (std::size_t i = 2; i < size; ++i) bytewise_parser.advance(bytewise, data[i]);
    if (whole.h != bytewise.h) std::abort();
    return 0;
}
