#pragma once
// The remote desktop's pixels and the decoding of FramebufferUpdate messages into them.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "rfb/messages.hpp"
#include "rfb/stream.hpp"
#include "zavo_ui/image.hpp"

namespace remote::rfb {

using PixelBuffer = std::vector<std::uint8_t>;

// RGBA pixels, 4 bytes each, rows top to bottom. Copies share `pixels`; a buffer with more than
// one holder is never written, so a copy handed out (a snapshot) never changes.
struct Framebuffer {
    std::shared_ptr<PixelBuffer> pixels;
    std::uint64_t generation = 0;  // FramebufferUpdates applied
    std::uint16_t width = 0;
    std::uint16_t height = 0;

    Framebuffer();
    // All zero; an empty buffer when width x height is over MAX_FRAMEBUFFER_PIXELS.
    Framebuffer(std::uint16_t width, std::uint16_t height);

    // R, G, B, A as a little-endian u32 (R in the low byte); 0 outside the buffer.
    std::uint32_t pixel(std::uint16_t x, std::uint16_t y) const;
    // Dropped outside the buffer and while the buffer is shared.
    void set_pixel(std::uint16_t x, std::uint16_t y, std::uint32_t value);

    bool is_shared() const { return pixels.use_count() > 1; }
    // Copies the buffer when another holder still shares it.
    void make_own();
    // The whole buffer for writing rows in place, when it is unshared and holds every pixel.
    std::uint8_t* bulk_data();
};

struct RectHeader {
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::int32_t encoding = 0;
    friend bool operator==(const RectHeader&, const RectHeader&) = default;
};

inline constexpr std::size_t MAX_UPDATE_RECTANGLES = 4096;
inline constexpr std::uint64_t MAX_RAW_RECT_BYTES = 64ull * 1024 * 1024;
inline constexpr std::uint32_t MAX_RRE_SUBRECTANGLES = 1000000;

// Decodes one FramebufferUpdate (its message-type byte already read) and advances the generation.
// Returns the number of rectangles.
Result<std::uint16_t> read_framebuffer_update(Stream& stream, Framebuffer& fb, const PixelFormat& format);
Result<RectHeader> read_rect_header(Stream& stream);
Result<void> read_raw_rect(Stream& stream, Framebuffer& fb, const RectHeader& rect, const PixelFormat& format,
                           std::size_t bytes_per_pixel);
Result<void> read_copy_rect(Stream& stream, Framebuffer& fb, const RectHeader& rect);
Result<void> read_rre_rect(Stream& stream, Framebuffer& fb, const RectHeader& rect, const PixelFormat& format,
                           std::size_t bytes_per_pixel);
// The area, or "{subject} exceeds the pixel work limit" when it is over MAX_FRAMEBUFFER_PIXELS.
Result<std::uint64_t> check_pixel_work(std::uint16_t width, std::uint16_t height, std::string_view subject);

// The image painting shows for a snapshot: over the snapshot's own pixel bytes (shared, never
// copied; the worker never writes them again), width x height, with a new blob id.
zavo_ui::Image snapshot_image(const Framebuffer& snapshot);

// u16 sum that stops at 65535.
inline std::uint16_t saturating_add(std::uint16_t a, std::uint32_t b) {
    std::uint32_t s = a + b;
    return static_cast<std::uint16_t>(s > 0xFFFF ? 0xFFFF : s);
}

}  // namespace remote::rfb
