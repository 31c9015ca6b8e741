#pragma once
// The remote desktop's pixels and the decoding of FramebufferUpdate messages into them.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "rfb/messages.hpp"
#include "rfb/stream.hpp"
#include "zavo_ui/image.hpp"

namespace remote::rfb {

using PixelBuffer = std::vector<std::uint8_t>;

// A part of the framebuffer, inside it and not empty.
struct PixelArea {
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint64_t size() const { return std::uint64_t{width} * height; }
};

// The worker's bookkeeping behind a Framebuffer: the buffers it published before, kept to be
// written again once nobody holds them, and what each update changed, so a recycled buffer is
// brought up to date by copying only that. A copy (a snapshot) starts without any of it.
class BufferRecycling {
public:
    BufferRecycling() = default;
    BufferRecycling(const BufferRecycling&) noexcept {}
    BufferRecycling& operator=(const BufferRecycling&) noexcept;
    BufferRecycling(BufferRecycling&&) noexcept = default;
    BufferRecycling& operator=(BufferRecycling&&) noexcept = default;

private:
    friend struct Framebuffer;
    struct Spare {
        std::shared_ptr<PixelBuffer> buffer;
        std::uint64_t current_at = 0;  // the generation it was last current at
    };
    struct Changes {
        std::uint64_t generation = 0;  // the update that made this generation
        std::vector<PixelArea> areas;  // empty with `everything`
        bool everything = false;
    };
    std::vector<Spare> spares_;
    std::vector<Changes> history_;  // oldest first, one entry per generation
    Changes pending_;               // written since the last generation, not yet committed
    // While an update runs on a recycled buffer: the newest buffer, and the areas of the
    // recycled one that are older than it until they are copied over or overwritten.
    std::shared_ptr<const PixelBuffer> source_;
    std::vector<PixelArea> stale_;
    std::uint64_t work_left_ = ~std::uint64_t{0};
};

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
    // The whole buffer for writing rows in place, when it is unshared and holds every pixel.
    std::uint8_t* bulk_data();

    // For the rectangle decoders, between begin_update and finish_update (or abandon_update):
    // `begin_update` makes the buffer its own when another holder still shares it, moving to
    // a buffer published earlier and since let go, or else to a new copy. A recycled buffer is
    // brought up to date by copying only what changed after it was current, and those copies
    // wait until their areas are read (`before_read`) or found not to be overwritten at the
    // end; `before_overwrite` announces an area about to be written in full.
    void begin_update();
    void before_read(std::uint16_t x, std::uint16_t y, std::uint32_t width, std::uint32_t height);
    void before_overwrite(std::uint16_t x, std::uint16_t y, std::uint32_t width, std::uint32_t height);
    // The bound of one update's pixels that its bytes do not pay for (CopyRect and RRE fills):
    // `limit_work` sets it as an update starts, `charge_work` counts pixels against it (past it:
    // "RFB update exceeds the pixel work limit"), and `work_left` is what remains.
    void limit_work();
    Result<void> charge_work(std::uint64_t pixels_written);
    std::uint64_t work_left() const { return recycling_.work_left_; }
    // Success: the generation advances. Failure: the buffer keeps what the failed update wrote.
    void finish_update();
    void abandon_update();

    // The part of the area at (x, y) that lies inside the framebuffer.
    std::optional<PixelArea> visible_area(std::uint16_t x, std::uint16_t y, std::uint32_t width,
                                          std::uint32_t height) const;

private:
    void switch_buffer();
    void copy_from_source(const PixelArea& area);
    void copy_stale();
    void note_change(const PixelArea& area);
    void commit_changes();
    std::vector<PixelArea> changes_since(std::uint64_t generation) const;

    BufferRecycling recycling_;
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
// Pixels one update may write beyond what its bytes pay for: this many framebuffers' worth,
// and never less than MIN_UPDATE_PIXEL_WORK.
inline constexpr std::uint64_t UPDATE_PIXEL_WORK_SCREENS = 8;
inline constexpr std::uint64_t MIN_UPDATE_PIXEL_WORK = 1u << 20;

// Decodes one FramebufferUpdate (its message-type byte already read) and advances the generation.
// Returns the number of rectangles. The update is judged from the bytes ahead before any of it is
// decoded, as far as the stream can look ahead: its limits, its encodings and the pixels it would
// write beyond what its bytes pay for, so that a refused update costs only what was read of it.
// Past the look-ahead the rest is judged the same way in turn, once what came before is decoded.
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
