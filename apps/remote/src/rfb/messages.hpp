#pragma once
// RFB wire side of the client: handshake, pixel format and the client-to-server messages.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rfb/stream.hpp"

namespace remote::rfb {

struct ProtocolVersion {
    std::uint8_t major = 0;
    std::uint8_t minor = 0;
    friend bool operator==(const ProtocolVersion&, const ProtocolVersion&) = default;
};

enum class SecurityType : std::uint8_t { None = 1, VncAuthentication = 2 };

struct PixelFormat {
    std::uint8_t bits_per_pixel = 0;
    std::uint8_t depth = 0;
    bool big_endian = false;
    bool true_colour = false;
    std::uint16_t red_max = 0;
    std::uint16_t green_max = 0;
    std::uint16_t blue_max = 0;
    std::uint8_t red_shift = 0;
    std::uint8_t green_shift = 0;
    std::uint8_t blue_shift = 0;

    static PixelFormat from_wire(std::span<const std::uint8_t, 16> bytes);
    std::array<std::uint8_t, 16> to_wire() const;
    // One wire pixel (1 to 4 bytes) as R, G, B, 255 read as a little-endian u32.
    std::uint32_t decode_pixel(std::span<const std::uint8_t> bytes) const;

    friend bool operator==(const PixelFormat&, const PixelFormat&) = default;
};

// 32 bpp, depth 24, little-endian true colour, maxima 255, shifts 16/8/0: B, G, R, X on the wire.
inline constexpr PixelFormat CLIENT_PIXEL_FORMAT{32, 24, false, true, 255, 255, 255, 16, 8, 0};
inline constexpr std::array<std::int32_t, 3> CLIENT_ENCODINGS{0, 1, 2};  // Raw, CopyRect, RRE

inline constexpr std::uint32_t MAX_SERVER_NAME_BYTES = 16384;
inline constexpr std::uint64_t MAX_FRAMEBUFFER_PIXELS = 16777216;  // 4096 x 4096
// A reason string beyond this is refused instead of read.
inline constexpr std::uint32_t MAX_REASON_BYTES = 65536;

struct ServerInit {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    PixelFormat pixel_format;
    std::string name;
};

// Channel value (value >> shift) & max scaled to 0..255, rounded to nearest.
std::uint32_t scale_channel(std::uint32_t value, std::uint8_t shift, std::uint16_t max);

std::optional<ProtocolVersion> parse_protocol_version(std::span<const std::uint8_t, 12> bytes);
// The client's 12-byte answer; the version it names is the one the client speaks.
std::array<std::uint8_t, 12> protocol_version_reply(ProtocolVersion server);
ProtocolVersion client_version(ProtocolVersion server);
std::optional<SecurityType> choose_security_type(std::span<const std::uint8_t> offered);
std::array<std::uint8_t, 16> vnc_auth_response(std::span<const std::uint8_t, 16> challenge, std::string_view password);

Result<std::string> read_reason_string(Stream& stream);
Result<void> read_security_result(Stream& stream);
Result<ServerInit> read_server_init(Stream& stream);
Result<void> check_framebuffer_size(std::uint16_t width, std::uint16_t height);

std::array<std::uint8_t, 20> set_pixel_format_message(const PixelFormat& format);
std::vector<std::uint8_t> set_encodings_message(std::span<const std::int32_t> encodings);
std::array<std::uint8_t, 10> framebuffer_update_request_message(bool incremental, std::uint16_t x, std::uint16_t y,
                                                                std::uint16_t width, std::uint16_t height);
std::array<std::uint8_t, 8> key_event_message(bool down, std::uint32_t keysym);
std::array<std::uint8_t, 6> pointer_event_message(std::uint8_t buttons, std::uint16_t x, std::uint16_t y);

struct HandshakeResult {
    ProtocolVersion version;  // the version the client speaks
    SecurityType security = SecurityType::None;
    ServerInit server_init;
};

// ProtocolVersion, security (with the password for VNC Authentication), ClientInit and ServerInit.
Result<HandshakeResult> run_handshake(Stream& stream, const std::optional<std::string>& password);

// UTF-8 with each invalid sequence replaced by U+FFFD.
std::string utf8_lossy(std::span<const std::uint8_t> bytes, bool* was_valid = nullptr);

}  // namespace remote::rfb
