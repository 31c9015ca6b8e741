#include "rfb/messages.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/rfb/wire.hpp"

namespace {

using namespace remote::rfb;
using rfb_test::Wire;

std::array<std::uint8_t, 12> twelve(std::string_view s) {
    std::array<std::uint8_t, 12> out{};
    for (std::size_t i = 0; i < 12 && i < s.size(); ++i) out[i] = static_cast<std::uint8_t>(s[i]);
    return out;
}

TEST(ProtocolVersion, Parses) {
    struct Case {
        std::string_view text;
        std::optional<ProtocolVersion> want;
    } cases[] = {
        {"RFB 003.008\n", ProtocolVersion{3, 8}},
        {"RFB 3.8     ", ProtocolVersion{3, 8}},
        {"RFB 3.7\t\r  \n", ProtocolVersion{3, 7}},
        {"RFB +03.+08\n", ProtocolVersion{3, 8}},
        {"RFB 000.255\n", ProtocolVersion{0, 255}},
        {"RFB 004.000\n", ProtocolVersion{4, 0}},
        {"RFB 003.889\n", std::nullopt},
        {"RFB 003-008\n", std::nullopt},
        {"RFB 003.00\xff\n", std::nullopt},
        {"RFB 003.\n   ", std::nullopt},
        {"RFB +.008\n  ", std::nullopt},
        {"RFB  03.008\n", std::nullopt},
        {"RFB 0x3.008\n", std::nullopt},
        {"rfb 003.008\n", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_protocol_version(twelve(c.text)), c.want) << c.text;
}

TEST(ProtocolVersion, ClientAnswersWithTheVersionItSpeaks) {
    struct Case {
        ProtocolVersion server;
        std::string_view reply;
    } cases[] = {
        {{3, 8}, "RFB 003.008\n"}, {{3, 9}, "RFB 003.008\n"}, {{3, 7}, "RFB 003.007\n"},
        {{3, 5}, "RFB 003.003\n"}, {{3, 0}, "RFB 003.003\n"}, {{2, 9}, "RFB 003.003\n"},
        {{0, 0}, "RFB 003.003\n"}, {{4, 0}, "RFB 003.008\n"}, {{255, 255}, "RFB 003.008\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(protocol_version_reply(c.server), twelve(c.reply)) << c.reply;
}

TEST(Security, PrefersNoneWhereverItIsOffered) {
    using V = std::vector<std::uint8_t>;
    EXPECT_EQ(choose_security_type(V{2, 1}), SecurityType::None);
    EXPECT_EQ(choose_security_type(V{16, 2, 18}), SecurityType::VncAuthentication);
    EXPECT_EQ(choose_security_type(V{16, 18}), std::nullopt);
    EXPECT_EQ(choose_security_type(V{}), std::nullopt);
}

TEST(VncAuth, EncryptsBothChallengeHalvesWithTheBitReversedPassword) {
    // Key 0123456789ABCDEF ("Now is t" encrypts to 3FA40E8A984D4815), written with each byte's
    // bits reversed as the password.
    const std::string password("\x80\xC4\xA2\xE6\x91\xD5\xB3\xF7", 8);
    std::array<std::uint8_t, 16> challenge{};
    for (int i = 0; i < 16; ++i) challenge[i] = static_cast<std::uint8_t>("Now is tNow is t"[i]);
    const std::array<std::uint8_t, 16> want{0x3F, 0xA4, 0x0E, 0x8A, 0x98, 0x4D, 0x48, 0x15,
                                            0x3F, 0xA4, 0x0E, 0x8A, 0x98, 0x4D, 0x48, 0x15};
    EXPECT_EQ(vnc_auth_response(challenge, password), want);
    EXPECT_EQ(vnc_auth_response(challenge, password + "ignored"), want);
}

TEST(VncAuth, EmptyPasswordUsesTheAllZeroKey) {
    std::array<std::uint8_t, 16> zero{};
    const std::array<std::uint8_t, 16> want{0x8C, 0xA6, 0x4D, 0xE9, 0xC1, 0xB1, 0x23, 0xA7,
                                            0x8C, 0xA6, 0x4D, 0xE9, 0xC1, 0xB1, 0x23, 0xA7};
    EXPECT_EQ(vnc_auth_response(zero, ""), want);
    std::array<std::uint8_t, 16> c{};
    c[3] = 7;
    EXPECT_NE(vnc_auth_response(c, "secret"), vnc_auth_response(c, ""));
    EXPECT_EQ(vnc_auth_response(c, "12345678"), vnc_auth_response(c, "123456789"));
}

TEST(PixelFormat, WireRoundTripNormalisesFlags) {
    std::array<std::uint8_t, 16> wire{16, 16, 2, 7, 0, 31, 0, 63, 0, 31, 11, 5, 0, 9, 9, 9};
    PixelFormat f = PixelFormat::from_wire(wire);
    EXPECT_TRUE(f.big_endian);
    EXPECT_TRUE(f.true_colour);
    EXPECT_EQ(f.green_max, 63);
    EXPECT_EQ(f.red_shift, 11);
    std::array<std::uint8_t, 16> back{16, 16, 1, 1, 0, 31, 0, 63, 0, 31, 11, 5, 0, 0, 0, 0};
    EXPECT_EQ(f.to_wire(), back);
}

TEST(PixelFormat, DecodesAndScalesChannels) {
    PixelFormat rgb565{16, 16, false, true, 31, 63, 31, 11, 5, 0};
    auto le16 = [](std::uint16_t v) { return std::array<std::uint8_t, 2>{std::uint8_t(v), std::uint8_t(v >> 8)}; };
    EXPECT_EQ(rgb565.decode_pixel(le16(31 << 11)), rfb_test::rgba(255, 0, 0));
    EXPECT_EQ(rgb565.decode_pixel(le16(16 << 11)), rfb_test::rgba(132, 0, 0));
    EXPECT_EQ(rgb565.decode_pixel(le16(63 << 5 | 1)), rfb_test::rgba(0, 255, 8));
    PixelFormat be = rgb565;
    be.big_endian = true;
    EXPECT_EQ(be.decode_pixel(std::array<std::uint8_t, 2>{0xF8, 0x00}), rfb_test::rgba(255, 0, 0));
    // client format: B, G, R, X
    EXPECT_EQ(CLIENT_PIXEL_FORMAT.decode_pixel(std::array<std::uint8_t, 4>{1, 2, 3, 4}), rfb_test::rgba(3, 2, 1));
    EXPECT_EQ(scale_channel(0xFFFFFFFF, 40, 255), 255u);  // shift taken modulo 32
    EXPECT_EQ(scale_channel(0xFFFFFFFF, 0, 0), 0u);
    EXPECT_EQ(scale_channel(1, 0, 1), 255u);
}

TEST(Messages, ClientMessagesHaveTheirWireLayout) {
    EXPECT_EQ(
        set_pixel_format_message(CLIENT_PIXEL_FORMAT),
        (std::array<std::uint8_t, 20>{0, 0, 0, 0, 0x20, 0x18, 0, 1, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0x10, 8, 0, 0, 0, 0}));
    EXPECT_EQ(set_encodings_message(CLIENT_ENCODINGS),
              (std::vector<std::uint8_t>{2, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 2}));
    EXPECT_EQ(set_encodings_message(std::vector<std::int32_t>{-239}),
              (std::vector<std::uint8_t>{2, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0x11}));
    EXPECT_EQ(framebuffer_update_request_message(true, 1, 0x203, 0x405, 0xFFFF),
              (std::array<std::uint8_t, 10>{3, 1, 0, 1, 2, 3, 4, 5, 0xFF, 0xFF}));
    EXPECT_EQ(framebuffer_update_request_message(false, 0, 0, 8, 6),
              (std::array<std::uint8_t, 10>{3, 0, 0, 0, 0, 0, 0, 8, 0, 6}));
    EXPECT_EQ(key_event_message(true, 0xFF0D), (std::array<std::uint8_t, 8>{4, 1, 0, 0, 0, 0, 0xFF, 0x0D}));
    EXPECT_EQ(key_event_message(false, 0x01020304), (std::array<std::uint8_t, 8>{4, 0, 0, 0, 1, 2, 3, 4}));
    EXPECT_EQ(pointer_event_message(5, 0x102, 0x304), (std::array<std::uint8_t, 6>{5, 5, 1, 2, 3, 4}));
}

TEST(ServerInit, LimitsAreCheckedBeforeTheNameIsRead) {
    struct Case {
        std::uint16_t w, h;
        std::uint32_t name_len;
        bool with_name;
        std::string error;  // empty: accepted
    } cases[] = {
        {4096, 4096, 4, true, ""},
        {1, 1, 16384, true, ""},
        {800, 600, 16385, false, "RFB server name exceeds the 16 KiB limit"},
        {4097, 4096, 4, true, "RFB framebuffer dimensions exceed the 16 megapixel limit"},
        {0, 600, 4, true, "RFB framebuffer dimensions exceed the 16 megapixel limit"},
        {65535, 65535, 4, true, "RFB framebuffer dimensions exceed the 16 megapixel limit"},
        {800, 600, 1000, false, "failed to fill whole buffer"},
    };
    for (const auto& c : cases) {
        Wire w;
        w.u16(c.w).u16(c.h).raw({32, 24, 0, 1, 0, 255, 0, 255, 0, 255, 16, 8, 0, 0, 0, 0}).u32(c.name_len);
        if (c.with_name) w.fill(c.name_len, 'n');
        MemoryStream s(w.bytes);
        auto init = read_server_init(s);
        if (c.error.empty()) {
            ASSERT_TRUE(init) << init.error().message;
            EXPECT_EQ(init->width, c.w);
            EXPECT_EQ(init->name.size(), c.name_len);
            EXPECT_EQ(init->pixel_format, CLIENT_PIXEL_FORMAT);
        } else {
            ASSERT_FALSE(init);
            EXPECT_EQ(init.error().message, c.error) << c.w << "x" << c.h;
        }
    }
}

TEST(ServerInit, NameInvalidUtf8BecomesReplacementCharacters) {
    Wire w;
    w.u16(2).u16(2).fill(16, 0).u32(7).raw({'a', 0xC3, 'b', 0xE2, 0x82, 0xFF, 'c'});
    MemoryStream s(w.bytes);
    auto init = read_server_init(s);
    ASSERT_TRUE(init);
    EXPECT_EQ(init->name,
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD\xEF\xBF\xBD"
              "c");
}

TEST(SecurityResult, FailureCarriesTheReasonOrAuthenticationFailed) {
    struct Case {
        Wire wire;
        std::optional<std::string> error;
    };
    std::vector<Case> cases;
    cases.push_back({Wire().u32(0), std::nullopt});
    cases.push_back({Wire().u32(1).reason("password mismatch"), "password mismatch"});
    cases.push_back({Wire().u32(1), "authentication failed"});
    cases.push_back({Wire().u32(2).u32(10).text("cut"), "authentication failed"});
    cases.push_back({Wire().u32(1).u32(MAX_REASON_BYTES + 1), "authentication failed"});
    for (auto& c : cases) {
        MemoryStream s(c.wire.bytes);
        auto r = read_security_result(s);
        if (!c.error) {
            EXPECT_TRUE(r);
            continue;
        }
        ASSERT_FALSE(r);
        EXPECT_EQ(r.error().kind, ErrorKind::PermissionDenied);
        EXPECT_EQ(r.error().message, *c.error);
    }
    Wire short_word = Wire().u16(0);
    MemoryStream cut(short_word.bytes);
    EXPECT_EQ(read_security_result(cut).error(),
              (StreamError{ErrorKind::UnexpectedEof, "failed to fill whole buffer"}));
}

struct HandshakeCase {
    std::string name;
    Wire server;
    std::optional<std::string> password;
    // success
    ProtocolVersion version{};
    SecurityType security = SecurityType::None;
    Wire client;  // the bytes the client must have written
    // failure
    std::optional<StreamError> error;
};

std::vector<HandshakeCase> handshake_cases() {
    const std::array<std::uint8_t, 16> challenge{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    std::vector<std::uint8_t> chal(challenge.begin(), challenge.end());
    auto resp = vnc_auth_response(challenge, "pw");
    std::vector<std::uint8_t> response(resp.begin(), resp.end());
    auto empty_resp = vnc_auth_response(challenge, "");
    std::vector<std::uint8_t> empty_response(empty_resp.begin(), empty_resp.end());
    using K = ErrorKind;
    std::vector<HandshakeCase> cases;
    // clang-format off
    cases.push_back({"3.8 none", Wire().text("RFB 003.008\n").u8(1).u8(1).u32(0).server_init(8, 6), "pw", {3, 8},
                     SecurityType::None, Wire().text("RFB 003.008\n").u8(1).u8(1), {}});
    cases.push_back({"3.7 none has no security result", Wire().text("RFB 003.007\n").u8(1).u8(1).server_init(8, 6),
                     {}, {3, 7}, SecurityType::None, Wire().text("RFB 003.007\n").u8(1).u8(1), {}});
    cases.push_back({"3.3 none", Wire().text("RFB 003.003\n").u32(1).server_init(8, 6), {}, {3, 3},
                     SecurityType::None, Wire().text("RFB 003.003\n").u8(1), {}});
    cases.push_back({"4.0 speaks 3.8", Wire().text("RFB 004.000\n").u8(1).u8(1).u32(0).server_init(8, 6), {}, {3, 8},
                     SecurityType::None, Wire().text("RFB 003.008\n").u8(1).u8(1), {}});
    cases.push_back({"2.9 speaks 3.3", Wire().text("RFB 002.009\n").u32(1).server_init(8, 6), {}, {3, 3},
                     SecurityType::None, Wire().text("RFB 003.003\n").u8(1), {}});
    cases.push_back({"3.5 speaks 3.3", Wire().text("RFB 003.005\n").u32(1).server_init(8, 6), {}, {3, 3},
                     SecurityType::None, Wire().text("RFB 003.003\n").u8(1), {}});
    cases.push_back({"none preferred over auth with a password",
                     Wire().text("RFB 003.008\n").u8(2).u8(2).u8(1).u32(0).server_init(8, 6), "pw", {3, 8},
                     SecurityType::None, Wire().text("RFB 003.008\n").u8(1).u8(1), {}});
    cases.push_back({"3.8 vnc auth", Wire().text("RFB 003.008\n").u8(2).u8(16).u8(2).append(chal).u32(0).server_init(8, 6),
                     "pw", {3, 8}, SecurityType::VncAuthentication,
                     Wire().text("RFB 003.008\n").u8(2).append(response).u8(1), {}});
    cases.push_back({"3.3 type from the low byte", Wire().text("RFB 003.003\n").raw({0, 0, 1, 2}).append(chal).u32(0).server_init(8, 6),
                     {}, {3, 3}, SecurityType::VncAuthentication,
                     Wire().text("RFB 003.003\n").append(empty_response).u8(1), {}});
    cases.push_back({"bad version", Wire().text("RFB 003-008\n"), {}, {}, {}, {}, StreamError{K::InvalidData, "bad ProtocolVersion"}});
    cases.push_back({"unsupported list", Wire().text("RFB 003.008\n").u8(2).u8(16).u8(18), {}, {}, {}, {},
                     StreamError{K::Unsupported, "no supported VNC security type"}});
    cases.push_back({"refused with reason", Wire().text("RFB 003.008\n").u8(0).reason("Too many security failures"),
                     {}, {}, {}, {}, StreamError{K::PermissionDenied, "Too many security failures"}});
    cases.push_back({"refused, reason cut off", Wire().text("RFB 003.007\n").u8(0).u32(20).text("Too"), {}, {}, {}, {},
                     StreamError{K::UnexpectedEof, "failed to fill whole buffer"}});
    cases.push_back({"3.3 type 0", Wire().text("RFB 003.003\n").u32(0).reason("nope"), {}, {}, {}, {},
                     StreamError{K::Unsupported, "unhandled security type 0"}});
    cases.push_back({"3.3 type 16", Wire().text("RFB 003.003\n").u32(16), {}, {}, {}, {},
                     StreamError{K::Unsupported, "unhandled security type 16"}});
    cases.push_back({"3.7 wrong password, server closes", Wire().text("RFB 003.007\n").u8(1).u8(2).append(chal).u32(1),
                     "wrong", {}, {}, {}, StreamError{K::PermissionDenied, "authentication failed"}});
    cases.push_back({"3.8 wrong password with reason", Wire().text("RFB 003.008\n").u8(1).u8(2).append(chal).u32(1).reason("Authentication failure"),
                     "wrong", {}, {}, {}, StreamError{K::PermissionDenied, "Authentication failure"}});
    cases.push_back({"closed during security", Wire().text("RFB 003.008\n").u8(2).u8(1), {}, {}, {}, {},
                     StreamError{K::UnexpectedEof, "failed to fill whole buffer"}});
    cases.push_back({"closed in the greeting", Wire().text("RFB 003"), {}, {}, {}, {},
                     StreamError{K::UnexpectedEof, "failed to fill whole buffer"}});
    cases.push_back({"3.8 none result failure", Wire().text("RFB 003.008\n").u8(1).u8(1).u32(1).reason("no"), {}, {}, {}, {},
                     StreamError{K::PermissionDenied, "no"}});
    // clang-format on
    return cases;
}

TEST(Handshake, RunsInOrderForEveryVersionAndSecurityType) {
    for (auto& c : handshake_cases()) {
        SCOPED_TRACE(c.name);
        MemoryStream s(c.server.bytes);
        auto r = run_handshake(s, c.password);
        if (c.error) {
            ASSERT_FALSE(r);
            EXPECT_EQ(r.error(), *c.error);
            continue;
        }
        ASSERT_TRUE(r) << r.error().message;
        EXPECT_EQ(r->version, c.version);
        EXPECT_EQ(r->security, c.security);
        EXPECT_EQ(r->server_init.width, 8);
        EXPECT_EQ(r->server_init.name, "desk");
        EXPECT_EQ(s.written, c.client.bytes);
        EXPECT_EQ(s.remaining(), 0u);
    }
}

TEST(ReasonString, LongReasonIsRefusedBeforeItIsRead) {
    Wire too_long = Wire().u32(MAX_REASON_BYTES + 1);
    MemoryStream s(too_long.bytes);
    auto r = read_reason_string(s);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind, ErrorKind::InvalidData);
    Wire longest = Wire().u32(MAX_REASON_BYTES).fill(MAX_REASON_BYTES, 'x');
    MemoryStream ok(longest.bytes);
    EXPECT_EQ(read_reason_string(ok).value().size(), MAX_REASON_BYTES);
}

}  // namespace
