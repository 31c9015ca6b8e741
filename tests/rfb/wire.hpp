#pragma once
// Builds server byte sequences for the RFB tests.
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace rfb_test {

class Wire {
public:
    Wire& u8(std::uint32_t v) {
        bytes.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    Wire& u16(std::uint32_t v) { return u8(v >> 8).u8(v); }
    Wire& u32(std::uint32_t v) { return u16(v >> 16).u16(v); }
    Wire& s32(std::int32_t v) { return u32(static_cast<std::uint32_t>(v)); }
    Wire& text(std::string_view s) {
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    Wire& raw(std::initializer_list<std::uint8_t> b) {
        bytes.insert(bytes.end(), b.begin(), b.end());
        return *this;
    }
    Wire& append(const std::vector<std::uint8_t>& b) {
        bytes.insert(bytes.end(), b.begin(), b.end());
        return *this;
    }
    Wire& fill(std::size_t n, std::uint8_t v) {
        bytes.insert(bytes.end(), n, v);
        return *this;
    }
    // A reason string: length, then the bytes.
    Wire& reason(std::string_view s) { return u32(static_cast<std::uint32_t>(s.size())).text(s); }
    // The rectangle header of a FramebufferUpdate.
    Wire& rect(std::uint16_t x, std::uint16_t y, std::uint16_t w, std::uint16_t h, std::int32_t encoding) {
        return u16(x).u16(y).u16(w).u16(h).s32(encoding);
    }
    // A client-format pixel (B, G, R, X on the wire) from R, G, B.
    Wire& bgrx(std::uint8_t r, std::uint8_t g, std::uint8_t b) { return u8(b).u8(g).u8(r).u8(0x5A); }
    // ServerInit with a 32-bit server format and the given name.
    Wire& server_init(std::uint16_t w, std::uint16_t h, std::string_view name = "desk") {
        u16(w).u16(h).raw({32, 24, 0, 1, 0, 255, 0, 255, 0, 255, 16, 8, 0, 0, 0, 0});
        return u32(static_cast<std::uint32_t>(name.size())).text(name);
    }

    std::vector<std::uint8_t> bytes;
};

// An RGBA pixel value as the framebuffer holds it.
inline std::uint32_t rgba(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a = 255) {
    return std::uint32_t{r} | std::uint32_t{g} << 8 | std::uint32_t{b} << 16 | std::uint32_t{a} << 24;
}

}  // namespace rfb_test
