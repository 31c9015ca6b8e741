#include "rfb/messages.hpp"

#include "rfb/big_endian.hpp"

#include <algorithm>

#include <fmt/format.h>
#include <nettle/des.h>

namespace remote::rfb {

namespace {

// Length of the well-formed UTF-8 sequence at the start of s, or 0 for the length of the
// maximal invalid prefix (at least 1) in *bad.
std::size_t utf8_sequence(std::span<const std::uint8_t> s, std::size_t* bad) {
    std::uint8_t b = s[0];
    if (b < 0x80) return 1;
    std::size_t need;
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        *bad = 1;
        return 0;
    }
    for (std::size_t i = 1; i <= need; ++i) {
        if (i >= s.size() || s[i] < lo || s[i] > hi) {
            *bad = i;
            return 0;
        }
        lo = 0x80;
        hi = 0xBF;
    }
    return need + 1;
}

// Unicode White_Space code points.
bool is_unicode_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Removes trailing white space from valid UTF-8.
std::string_view trim_end(std::string_view s) {
    while (!s.empty()) {
        std::size_t start = s.size() - 1;
        while (start > 0 && (static_cast<std::uint8_t>(s[start]) & 0xC0) == 0x80) --start;
        char32_t c = 0;
        auto lead = static_cast<std::uint8_t>(s[start]);
        std::size_t len = s.size() - start;
        c = len == 1 ? lead : len == 2 ? lead & 0x1F : len == 3 ? lead & 0x0F : lead & 0x07;
        for (std::size_t i = start + 1; i < s.size(); ++i) c = c << 6 | (static_cast<std::uint8_t>(s[i]) & 0x3F);
        if (!is_unicode_space(c)) break;
        s.remove_suffix(len);
    }
    return s;
}

// A decimal u8 as the standard parser reads it: one optional '+', then digits only.
std::optional<std::uint8_t> parse_u8(std::string_view s) {
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    unsigned value = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 255) return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
}

}  // namespace

std::string utf8_lossy(std::span<const std::uint8_t> bytes, bool* was_valid) {
    std::string out;
    out.reserve(bytes.size());
    bool valid = true;
    while (!bytes.empty()) {
        std::size_t bad = 0;
        std::size_t n = utf8_sequence(bytes, &bad);
        if (n > 0) {
            out.append(reinterpret_cast<const char*>(bytes.data()), n);
            bytes = bytes.subspan(n);
        } else {
            out.append("\xEF\xBF\xBD");
            bytes = bytes.subspan(bad);
            valid = false;
        }
    }
    if (was_valid) *was_valid = valid;
    return out;
}

std::uint32_t scale_channel(std::uint32_t value, std::uint8_t shift, std::uint16_t max) {
    if (max == 0) return 0;
    std::uint32_t channel = (value >> (shift % 32)) & max;
    return (channel * 255 + max / 2) / max;
}

PixelFormat PixelFormat::from_wire(std::span<const std::uint8_t, 16> b) {
    PixelFormat f;
    f.bits_per_pixel = b[0];
    f.depth = b[1];
    f.big_endian = b[2] != 0;
    f.true_colour = b[3] != 0;
    f.red_max = get_u16(&b[4]);
    f.green_max = get_u16(&b[6]);
    f.blue_max = get_u16(&b[8]);
    f.red_shift = b[10];
    f.green_shift = b[11];
    f.blue_shift = b[12];
    return f;
}

std::array<std::uint8_t, 16> PixelFormat::to_wire() const {
    std::array<std::uint8_t, 16> b{};
    b[0] = bits_per_pixel;
    b[1] = depth;
    b[2] = big_endian ? 1 : 0;
    b[3] = true_colour ? 1 : 0;
    put_u16(&b[4], red_max);
    put_u16(&b[6], green_max);
    put_u16(&b[8], blue_max);
    b[10] = red_shift;
    b[11] = green_shift;
    b[12] = blue_shift;
    return b;
}

std::uint32_t PixelFormat::decode_pixel(std::span<const std::uint8_t> bytes) const {
    std::uint32_t value = 0;
    if (big_endian) {
        for (std::uint8_t b : bytes) value = value << 8 | b;
    } else {
        for (std::size_t i = 0; i < bytes.size() && i < 4; ++i) value |= std::uint32_t{bytes[i]} << (8 * i);
    }
    std::uint32_t r = scale_channel(value, red_shift, red_max);
    std::uint32_t g = scale_channel(value, green_shift, green_max);
    std::uint32_t b = scale_channel(value, blue_shift, blue_max);
    return r | g << 8 | b << 16 | 0xFF000000u;
}

std::optional<ProtocolVersion> parse_protocol_version(std::span<const std::uint8_t, 12> bytes) {
    bool valid = false;
    std::string text = utf8_lossy(bytes, &valid);
    if (!valid) return std::nullopt;
    std::string_view rest(text);
    if (!rest.starts_with("RFB ")) return std::nullopt;
    rest = trim_end(rest.substr(4));
    auto dot = rest.find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    auto major = parse_u8(rest.substr(0, dot));
    auto minor = parse_u8(rest.substr(dot + 1));
    if (!major || !minor) return std::nullopt;
    return ProtocolVersion{*major, *minor};
}

ProtocolVersion client_version(ProtocolVersion server) {
    if (server.major >= 4) return {3, 8};
    if (server.major < 3) return {3, 3};
    if (server.minor >= 8) return {3, 8};
    if (server.minor == 7) return {3, 7};
    return {3, 3};
}

std::array<std::uint8_t, 12> protocol_version_reply(ProtocolVersion server) {
    auto text = fmt::format("RFB 003.{:03}\n", client_version(server).minor);
    std::array<std::uint8_t, 12> out{};
    std::copy_n(text.begin(), out.size(), out.begin());
    return out;
}

std::optional<SecurityType> choose_security_type(std::span<const std::uint8_t> offered) {
    if (std::find(offered.begin(), offered.end(), 1) != offered.end()) return SecurityType::None;
    if (std::find(offered.begin(), offered.end(), 2) != offered.end()) return SecurityType::VncAuthentication;
    return std::nullopt;
}

std::array<std::uint8_t, 16> vnc_auth_response(std::span<const std::uint8_t, 16> challenge, std::string_view password) {
    std::uint8_t key[8] = {};
    for (std::size_t i = 0; i < 8 && i < password.size(); ++i) {
        auto b = static_cast<std::uint8_t>(password[i]);
        std::uint8_t reversed = 0;
        for (int bit = 0; bit < 8; ++bit) {
            if (b & (1u << bit)) reversed = static_cast<std::uint8_t>(reversed | (0x80u >> bit));
        }
        key[i] = reversed;
    }
    des_ctx ctx;
    des_set_key(&ctx, key);  // reports weak keys (such as all zero) but sets them up all the same
    std::array<std::uint8_t, 16> out{};
    des_encrypt(&ctx, out.size(), out.data(), challenge.data());
    return out;
}

Result<std::string> read_reason_string(Stream& stream) {
    auto len = read_u32(stream);
    if (!len) return std::unexpected(std::move(len.error()));
    if (*len > MAX_REASON_BYTES) return invalid_data("RFB reason string exceeds the 64 KiB limit");
    std::vector<std::uint8_t> bytes(*len);
    if (auto r = read_exact(stream, bytes); !r) return std::unexpected(std::move(r.error()));
    return utf8_lossy(bytes);
}

Result<void> read_security_result(Stream& stream) {
    auto word = read_u32(stream);
    if (!word) return std::unexpected(std::move(word.error()));
    if (*word == 0) return {};
    auto reason = read_reason_string(stream);
    return fail(ErrorKind::PermissionDenied, reason ? std::move(*reason) : std::string("authentication failed"));
}

Result<void> check_framebuffer_size(std::uint16_t width, std::uint16_t height) {
    std::uint64_t area = std::uint64_t{width} * height;
    if (area < 1 || area > MAX_FRAMEBUFFER_PIXELS)
        return invalid_data("RFB framebuffer dimensions exceed the 16 megapixel limit");
    return {};
}

Result<ServerInit> read_server_init(Stream& stream) {
    std::uint8_t head[24];
    if (auto r = read_exact(stream, head); !r) return std::unexpected(std::move(r.error()));
    std::uint32_t name_len = get_u32(&head[20]);
    if (name_len > MAX_SERVER_NAME_BYTES) return invalid_data("RFB server name exceeds the 16 KiB limit");
    ServerInit init;
    init.width = get_u16(&head[0]);
    init.height = get_u16(&head[2]);
    if (auto r = check_framebuffer_size(init.width, init.height); !r) return std::unexpected(std::move(r.error()));
    std::vector<std::uint8_t> name(name_len);
    if (auto r = read_exact(stream, name); !r) return std::unexpected(std::move(r.error()));
    init.name = utf8_lossy(name);
    init.pixel_format = PixelFormat::from_wire(std::span<const std::uint8_t, 16>(&head[4], 16));
    return init;
}

std::array<std::uint8_t, 20> set_pixel_format_message(const PixelFormat& format) {
    std::array<std::uint8_t, 20> out{};
    auto wire = format.to_wire();
    std::copy(wire.begin(), wire.end(), out.begin() + 4);
    return out;
}

std::vector<std::uint8_t> set_encodings_message(std::span<const std::int32_t> encodings) {
    std::vector<std::uint8_t> out(4 + 4 * encodings.size());
    out[0] = 2;
    put_u16(&out[2], static_cast<std::uint16_t>(encodings.size()));
    for (std::size_t i = 0; i < encodings.size(); ++i)
        put_u32(&out[4 + 4 * i], static_cast<std::uint32_t>(encodings[i]));
    return out;
}

std::array<std::uint8_t, 10> framebuffer_update_request_message(bool incremental, std::uint16_t x, std::uint16_t y,
                                                                std::uint16_t width, std::uint16_t height) {
    std::array<std::uint8_t, 10> out{};
    out[0] = 3;
    out[1] = incremental ? 1 : 0;
    put_u16(&out[2], x);
    put_u16(&out[4], y);
    put_u16(&out[6], width);
    put_u16(&out[8], height);
    return out;
}

std::array<std::uint8_t, 8> key_event_message(bool down, std::uint32_t keysym) {
    std::array<std::uint8_t, 8> out{};
    out[0] = 4;
    out[1] = down ? 1 : 0;
    put_u32(&out[4], keysym);
    return out;
}

std::array<std::uint8_t, 6> pointer_event_message(std::uint8_t buttons, std::uint16_t x, std::uint16_t y) {
    std::array<std::uint8_t, 6> out{};
    out[0] = 5;
    out[1] = buttons;
    put_u16(&out[2], x);
    put_u16(&out[4], y);
    return out;
}

Result<HandshakeResult> run_handshake(Stream& stream, const std::optional<std::string>& password) {
    HandshakeResult result;

    std::array<std::uint8_t, 12> greeting{};
    if (auto r = read_exact(stream, greeting); !r) return std::unexpected(std::move(r.error()));
    auto server = parse_protocol_version(greeting);
    if (!server) return invalid_data("bad ProtocolVersion");
    if (auto r = write_all(stream, protocol_version_reply(*server)); !r) return std::unexpected(std::move(r.error()));
    result.version = client_version(*server);
    const bool v38 = result.version.minor == 8;

    std::uint8_t type = 0;
    if (result.version.minor == 3) {
        auto word = read_u32(stream);
        if (!word) return std::unexpected(std::move(word.error()));
        type = static_cast<std::uint8_t>(*word);
    } else {
        auto count = read_u8(stream);
        if (!count) return std::unexpected(std::move(count.error()));
        if (*count == 0) {
            auto reason = read_reason_string(stream);
            if (!reason) return std::unexpected(std::move(reason.error()));
            return fail(ErrorKind::PermissionDenied, std::move(*reason));
        }
        std::vector<std::uint8_t> offered(*count);
        if (auto r = read_exact(stream, offered); !r) return std::unexpected(std::move(r.error()));
        auto chosen = choose_security_type(offered);
        if (!chosen) return fail(ErrorKind::Unsupported, "no supported VNC security type");
        type = static_cast<std::uint8_t>(*chosen);
        const std::uint8_t reply[1] = {type};
        if (auto r = write_all(stream, reply); !r) return std::unexpected(std::move(r.error()));
    }

    if (type == static_cast<std::uint8_t>(SecurityType::None)) {
        result.security = SecurityType::None;
        if (v38) {
            if (auto r = read_security_result(stream); !r) return std::unexpected(std::move(r.error()));
        }
    } else if (type == static_cast<std::uint8_t>(SecurityType::VncAuthentication)) {
        result.security = SecurityType::VncAuthentication;
        std::array<std::uint8_t, 16> challenge{};
        if (auto r = read_exact(stream, challenge); !r) return std::unexpected(std::move(r.error()));
        auto response = vnc_auth_response(challenge, password.value_or(std::string()));
        if (auto r = write_all(stream, response); !r) return std::unexpected(std::move(r.error()));
        if (auto r = read_security_result(stream); !r) return std::unexpected(std::move(r.error()));
    } else {
        return fail(ErrorKind::Unsupported, fmt::format("unhandled security type {}", type));
    }

    const std::uint8_t client_init[1] = {1};  // shared desktop
    if (auto r = write_all(stream, client_init); !r) return std::unexpected(std::move(r.error()));

    auto init = read_server_init(stream);
    if (!init) return std::unexpected(std::move(init.error()));
    result.server_init = std::move(*init);
    return result;
}

}  // namespace remote::rfb
