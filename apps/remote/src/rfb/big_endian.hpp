#pragma once
// RFB puts every multi-byte number on the wire big-endian: the one reader and writer of those
// fields.
#include <cstdint>

namespace remote::rfb {

constexpr std::uint16_t get_u16(const std::uint8_t* in) { return static_cast<std::uint16_t>(in[0] << 8 | in[1]); }

constexpr std::uint32_t get_u32(const std::uint8_t* in) {
    return std::uint32_t{in[0]} << 24 | std::uint32_t{in[1]} << 16 | std::uint32_t{in[2]} << 8 | in[3];
}

constexpr void put_u16(std::uint8_t* out, std::uint16_t v) {
    out[0] = static_cast<std::uint8_t>(v >> 8);
    out[1] = static_cast<std::uint8_t>(v);
}

constexpr void put_u32(std::uint8_t* out, std::uint32_t v) {
    put_u16(out, static_cast<std::uint16_t>(v >> 16));
    put_u16(out + 2, static_cast<std::uint16_t>(v));
}

}  // namespace remote::rfb
