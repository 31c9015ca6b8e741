#include "crdt/encoding.hpp"

#include <gtest/gtest.h>

namespace {

using namespace crdt::detail;
using B = std::vector<std::uint8_t>;

// The examples of the format's documentation.
TEST(Encoding, ColumnsMatchTheDocumentedBytes) {
    RleEncoder<std::uint64_t> uleb;
    for (int v : {0, 0, 0}) uleb.append(static_cast<std::uint64_t>(v));
    uleb.append_null();
    uleb.append_null();
    for (int v : {1, 2, 3}) uleb.append(static_cast<std::uint64_t>(v));
    EXPECT_EQ(uleb.finish(), (B{0x03, 0x00, 0x00, 0x02, 0x7d, 0x01, 0x02, 0x03}));

    DeltaEncoder delta;
    for (int v : {3, 4, 5, 6, 9, 7, 8}) delta.append(v);
    EXPECT_EQ(delta.finish(), (B{0x7f, 0x03, 0x03, 0x01, 0x7d, 0x03, 0x7e, 0x01}));

    RleEncoder<std::string> str;
    str.append("a");
    str.append("");
    str.append_null();
    str.append("boo");
    str.append("boo");
    EXPECT_EQ(str.finish(), (B{0x7e, 0x01, 0x61, 0x00, 0x00, 0x01, 0x02, 0x03, 0x62, 0x6f, 0x6f}));

    BooleanEncoder boolean;
    for (bool v : {true, true, false, false, false}) boolean.append(v);
    EXPECT_EQ(boolean.finish(), (B{0x00, 0x02, 0x03}));

    RleEncoder<std::uint64_t> nulls;  // a column of nulls only is left out
    nulls.append_null();
    EXPECT_TRUE(nulls.finish().empty());
}

TEST(Encoding, ColumnsReadBackWhatWasWritten) {
    std::vector<std::optional<std::int64_t>> values{5, 5, std::nullopt, -1, 7, 7, 7, std::nullopt, std::nullopt, 0};
    DeltaEncoder enc;
    for (auto v : values) v ? enc.append(*v) : enc.append_null();
    auto bytes = enc.finish();
    DeltaDecoder dec(bytes);
    for (auto v : values) EXPECT_EQ(dec.next().value(), v);
    EXPECT_TRUE(dec.done());
    EXPECT_EQ(dec.next().value(), std::nullopt);  // exhausted columns read as null

    // clang-format off
    std::vector<crdt::ScalarValue> scalars{crdt::Null{}, true, false, std::uint64_t{300}, std::int64_t{-300},
                                           2.5, std::string("h\xc3\xa9"), crdt::Bytes{0, 1}, crdt::Counter{-7},
                                           crdt::Timestamp{1700000000000}, crdt::Unknown{12, {9, 9}}};
    // clang-format on
    ValueEncoder venc;
    for (const auto& s : scalars) venc.append(s);
    auto meta = venc.finish_meta(), raw = venc.finish_raw();
    ValueDecoder vdec(meta, raw);
    for (const auto& s : scalars) EXPECT_EQ(vdec.next().value(), s) << crdt::to_debug_string(s);
}

TEST(Encoding, IntegersRefuseOverlongAndOverflowingForms) {
    struct Case {
        B bytes;
        bool is_signed;
        bool ok;
        std::int64_t value;
    };
    std::vector<Case> cases{
        {{0x00}, false, true, 0},
        {{0x80, 0x01}, false, true, 128},
        {{0x80, 0x00}, false, false, 0},                                                  // overlong 0
        {{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}, false, true, -1},  // 2^64-1
        {{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02}, false, false, 0},  // 2^64
        {{0x80}, false, false, 0},                                                        // truncated
        {{0x40}, true, true, -64},
        {{0xff, 0x7f}, true, false, 0},  // overlong -1
        {{0xc0, 0x00}, true, true, 64},
        {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x7f}, true, true, INT64_MIN},
        {{0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}, true, false, 0},
    };
    for (const auto& c : cases) {
        Reader r(c.bytes);
        if (c.is_signed) {
            auto v = r.sleb();
            ASSERT_EQ(v.has_value(), c.ok) << testing::PrintToString(c.bytes);
            if (c.ok) {
                EXPECT_EQ(*v, c.value);
            }
        } else {
            auto v = r.uleb();
            ASSERT_EQ(v.has_value(), c.ok) << testing::PrintToString(c.bytes);
            if (c.ok) {
                EXPECT_EQ(*v, static_cast<std::uint64_t>(c.value));
            }
        }
    }
    for (std::int64_t v :
         {std::int64_t{0}, std::int64_t{63}, std::int64_t{64}, std::int64_t{-65}, INT64_MAX, INT64_MIN}) {
        B out;
        write_sleb(out, v);
        Reader r(out);
        EXPECT_EQ(r.sleb().value(), v);
    }
}

}  // namespace
