#include "vt/parser.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace {

using remote::vt::Intermediates;
using remote::vt::NullPerformer;
using remote::vt::OscParams;
using remote::vt::Params;
using remote::vt::Parser;

// Records every callback as a line of text.
struct Recorder : NullPerformer {
    std::vector<std::string> events;

    void print(char32_t c) { events.push_back("print " + std::to_string(std::uint32_t(c))); }
    void execute(std::uint8_t b) { events.push_back("exec " + std::to_string(b)); }
    void csi_dispatch(const Params& params, Intermediates inter, bool ignore, char action) {
        std::string s = "csi ";
        for (std::size_t g = 0; g < params.size(); ++g) {
            if (g) s += ';';
            bool first = true;
            for (auto v : params[g]) {
                if (!first) s += ':';
                s += std::to_string(v);
                first = false;
            }
        }
        s += " [";
        for (auto b : inter) s += char(b);
        s += "]";
        if (ignore) s += " ignore";
        s += ' ';
        s += action;
        events.push_back(s);
    }
    void esc_dispatch(Intermediates inter, bool, std::uint8_t b) {
        events.push_back("esc " + std::string(inter.begin(), inter.end()) + char(b));
    }
    void osc_dispatch(OscParams params, bool bell) {
        std::string s = "osc";
        for (auto p : params) s += " <" + std::string(p.begin(), p.end()) + ">";
        if (bell) s += " bell";
        events.push_back(s);
    }
    void hook(const Params&, Intermediates, bool, char action) { events.push_back(std::string("hook ") + action); }
    void put(std::uint8_t b) { events.push_back("put " + std::to_string(b)); }
    void unhook() { events.push_back("unhook"); }
};

std::vector<std::string> parse(std::string_view bytes) {
    Recorder r;
    Parser p;
    p.advance(r, std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    return r.events;
}

using Events = std::vector<std::string>;

TEST(Parser, CsiParametersAndIntermediates) {
    struct Case {
        std::string_view input;
        Events expected;
    };
    const Case cases[] = {
        {"\x1b[m", {"csi 0 [] m"}},
        {"\x1b[1;31m", {"csi 1;31 [] m"}},
        {"\x1b[;5H", {"csi 0;5 [] H"}},
        {"\x1b[38:2:1:2:3m", {"csi 38:2:1:2:3 [] m"}},
        {"\x1b[4:3;1m", {"csi 4:3;1 [] m"}},
        {"\x1b[?25l", {"csi 25 [?] l"}},
        {"\x1b[99999999H", {"csi 65535 [] H"}},
        {"\x1b[1 q", {"csi 1 [ ] q"}},
        // Three intermediates: the third is dropped and the sequence is marked.
        {"\x1b[1 !\"p", {"csi 1 [ !] ignore p"}},
        // A private marker after a parameter makes the sequence invalid: nothing is dispatched.
        {"\x1b[1?hX", {"print 88"}},
        {"\x1b[1;<mX", {"print 88"}},
        // C0 controls inside a sequence run at once; the sequence continues.
        {"\x1b[1\n2H", {"exec 10", "csi 12 [] H"}},
        // CAN aborts; ESC restarts.
        {"\x1b[12\x18", {"exec 24"}},
        {"\x1b[12\x1b[3A", {"csi 3 [] A"}},
    };
    for (const auto& c : cases) EXPECT_EQ(parse(c.input), c.expected) << c.input.substr(1);
}

TEST(Parser, ThirtyTwoValuesAtMostThenIgnoreFlag) {
    std::string thirty_two = "\x1b[";
    for (int i = 1; i <= 32; ++i) thirty_two += std::to_string(i) + (i < 32 ? ";" : "");
    auto ev = parse(thirty_two + "m");
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].find("ignore"), std::string::npos);
    EXPECT_NE(ev[0].find(";32 []"), std::string::npos);

    // Thousands of parameters: 32 are kept, the rest are dropped and the sequence is marked.
    std::string huge = "\x1b[";
    for (int i = 0; i < 5000; ++i) huge += "7;";
    ev = parse(huge + "1m");
    ASSERT_EQ(ev.size(), 1u);
    std::string expected = "csi ";
    for (int i = 0; i < 32; ++i) expected += std::string(i ? ";" : "") + "7";
    EXPECT_EQ(ev[0], expected + " [] ignore m");

    // Sub-parameters count towards the limit too.
    std::string colons = "\x1b[";
    for (int i = 0; i < 40; ++i) colons += "1:";
    ev = parse(colons + "1m");
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_NE(ev[0].find("ignore"), std::string::npos);
}

// Every count of values around 30 parameter bytes, the longest sequence taken whole at once:
// empty values, and one value written with many leading zeros.
TEST(Parser, ParameterCountsAndLengthsAroundTheBound) {
    for (std::size_t semicolons = 0; semicolons <= 34; ++semicolons) {
        const std::size_t kept = std::min<std::size_t>(semicolons + 1, remote::vt::kMaxParams);
        std::string values = "0";
        for (std::size_t i = 1; i < kept; ++i) values += ";0";
        const std::string ignore = semicolons + 1 > kept ? " ignore" : "";
        const std::string empty(semicolons, ';');
        EXPECT_EQ(parse("\x1b[" + empty + "m"), (Events{"csi " + values + " []" + ignore + " m"})) << semicolons;
        EXPECT_EQ(parse("\x1b[?" + empty + "h"), (Events{"csi " + values + " [?]" + ignore + " h"})) << semicolons;
    }
    for (std::size_t digits = 1; digits <= 40; ++digits) {
        EXPECT_EQ(parse("\x1b[" + std::string(digits - 1, '0') + "7;2H"), (Events{"csi 7;2 [] H"})) << digits;
        const std::string nines(digits, '9');
        EXPECT_EQ(parse("\x1b[" + nines + "H"), (Events{"csi " + (digits < 5 ? nines : "65535") + " [] H"})) << digits;
    }
}

TEST(Parser, Utf8DecodingAndReplacement) {
    struct Case {
        std::string_view input;
        Events expected;
    };
    const Case cases[] = {
        {"\xc3\xa9", {"print 233"}},
        {"\xe2\x82\xac", {"print 8364"}},
        {"\xf0\x9f\x98\x80", {"print 128512"}},
        // One replacement per maximal subpart: a truncated sequence is one, then the letter.
        {"\xe2\x82"
         "A",
         {"print 65533", "print 65"}},
        {"\xf0\x9f\x98"
         "A",
         {"print 65533", "print 65"}},
        // Overlong, surrogate and out-of-range forms: every byte is one.
        {"\xc0\xaf", {"print 65533", "print 65533"}},
        {"\xe0\x80\xaf", {"print 65533", "print 65533", "print 65533"}},
        {"\xed\xa0\x80", {"print 65533", "print 65533", "print 65533"}},
        {"\xf4\x90\x80\x80", {"print 65533", "print 65533", "print 65533", "print 65533"}},
        {"\xf5", {"print 65533"}},
        {"\xff\xfe", {"print 65533", "print 65533"}},
        // A valid start cut short by another start: one each, and the second goes on.
        {"\xe2\xc3\xa9", {"print 65533", "print 233"}},
        // A stray continuation byte is one, 8-bit C1 bytes too; a C1 character encoded in UTF-8
        // is a control.
        {"\x80\xbf", {"print 65533", "print 65533"}},
        {"\x85", {"print 65533"}},
        {"\xc2\x85", {"exec 133"}},
        // An escape cuts a character short.
        {"\xe2\x1b[A", {"print 65533", "csi 0 [] A"}},
    };
    for (const auto& c : cases) EXPECT_EQ(parse(c.input), c.expected);
}

TEST(Parser, SplitAnywhereGivesTheSameEvents) {
    const std::string_view input =
        "ab\xe2\x82\xac\x1b[1;31mX\x1b]0;title\x07\x1bP1$qm\x1b\\\xf0\x9f\x98\x80\x1b[38:5:1m\r\n"
        "\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82Z";
    const Events whole = parse(input);
    for (std::size_t cut = 1; cut < input.size(); ++cut) {
        Recorder r;
        Parser p;
        auto bytes = reinterpret_cast<const std::uint8_t*>(input.data());
        p.advance(r, std::span(bytes, cut));
        p.advance(r, std::span(bytes + cut, input.size() - cut));
        EXPECT_EQ(r.events, whole) << "cut at " << cut;
    }
}

// Runs of printable ASCII come whole, however long and wherever they end: at any byte that is
// not 0x20-0x7E, at every offset from the start of the scan.
TEST(Parser, PrintableRunsEndAtTheFirstOtherByte) {
    struct Runs : Recorder {
        void print_ascii(std::span<const std::uint8_t> run) { events.push_back("run " + std::to_string(run.size())); }
    };
    for (const std::uint8_t other : {0x00, 0x09, 0x1F, 0x7F, 0x80, 0xC3, 0xFF}) {
        for (std::size_t at = 0; at < 70; ++at) {
            std::string input(at, ' ');
            for (std::size_t i = 0; i < at; ++i) input[i] = char(0x20 + i % 95);
            input += char(other);
            input += '\r';  // ends a UTF-8 lead too
            Runs r;
            Parser p;
            p.advance(r, std::span(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()));
            ASSERT_GE(r.events.size(), 2u);
            const std::string after = r.events.at(at == 0 ? 0 : 1);
            if (at > 0) {
                EXPECT_EQ(r.events.at(0), "run " + std::to_string(at)) << int(other) << " at " << at;
            }
            EXPECT_FALSE(after.starts_with("run")) << int(other) << " at " << at;
        }
    }
}

// Whatever ends a run of printable ASCII, wherever it ends within the bulk scan, the events
// are those of the same bytes fed one at a time.
TEST(Parser, WhateverEndsARunTheEventsAreTheSame) {
    const std::string_view ends[] = {"\x1b[1;2H", "\x1b" "7", "\x1b\xc3\xa9", "\xc3\xa9", "\xc3[1m", "\xe2\x82\xac",
                                     "\xf0\x9f\x98\x80", "\r\n", "\t", "\x7f", "\x18", "\x80", "\xff"};
    for (const std::string_view stop : ends) {
        for (std::size_t at = 1; at < 70; ++at) {
            std::string input(at, ' ');
            for (std::size_t i = 0; i < at; ++i) input[i] = char(0x20 + i % 95);
            input += stop;
            input += 'x';
            Recorder bytewise;
            Parser p;
            for (const char c : input) p.advance(bytewise, std::uint8_t(c));
            EXPECT_EQ(parse(input), bytewise.events) << at;
        }
    }
}

TEST(Parser, OscStringsAreBounded) {
    EXPECT_EQ(parse("\x1b]2;hello\x07"), (Events{"osc <2> <hello> bell"}));
    EXPECT_EQ(parse("\x1b]0;a;b\x1b\\"), (Events{"osc <0> <a> <b>", "esc \\"}));

    std::string endless = "\x1b]0;";
    endless.append(100000, 'x');
    auto ev = parse(endless + "\x07" + "Z");
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].size(), std::string("osc <0> <> bell").size() + remote::vt::kMaxOscRaw - 1);
    EXPECT_EQ(ev[1], "print 90");

    std::string many = "\x1b]";
    for (int i = 0; i < 100; ++i) many += "1;";
    ev = parse(many + "\x07");
    ASSERT_EQ(ev.size(), 1u);
}

TEST(Parser, DcsAndStringsSwallowTheirPayload) {
    EXPECT_EQ(parse("\x1bPq#0\x1b\\A"), (Events{"hook q", "put 35", "put 48", "unhook", "esc \\", "print 65"}));
    EXPECT_EQ(parse("\x1b_payload\x1b\\B"), (Events{"esc \\", "print 66"}));
    EXPECT_EQ(parse("\x1b"
                    "7\x1b(B"),
              (Events{"esc 7", "esc (B"}));
}

}  // namespace
