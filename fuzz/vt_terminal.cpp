// Session output into the terminal: arbitrary bytes in arbitrary chunks must never crash, the
// cursor must stay inside its bounds, and the parser's callbacks must see bounded data.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "vt/parser.hpp"
#include "vt/terminal.hpp"

namespace {

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
        if (terminal.cursor_col() > terminal.cols() || terminal.cursor_row() >= terminal.rows()) std::abort();
        step = rest[0] % 64 + 1;
        rest = rest.subspan(n);
    }
    for (std::size_t r = 0; r < terminal.rows(); ++r)
        if (terminal.row(r).size() != terminal.cols()) std::abort();
    return 0;
}
