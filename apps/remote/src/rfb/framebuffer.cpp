#include "rfb/framebuffer.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include <fmt/format.h>

namespace remote::rfb {

namespace {

void store_pixel(std::uint8_t* out, std::uint32_t v) {
    out[0] = static_cast<std::uint8_t>(v);
    out[1] = static_cast<std::uint8_t>(v >> 8);
    out[2] = static_cast<std::uint8_t>(v >> 16);
    out[3] = static_cast<std::uint8_t>(v >> 24);
}

bool is_client_format(const PixelFormat& f, std::size_t bpp) {
    return bpp == 4 && !f.big_endian && f.red_max == 255 && f.green_max == 255 && f.blue_max == 255 &&
           f.red_shift == 16 && f.green_shift == 8 && f.blue_shift == 0;
}

// B, G, R, X wire pixels to R, G, B, 255.
void swizzle_bgrx(const std::uint8_t* src, std::uint8_t* dst, std::size_t n) {
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        using v4 = std::uint32_t __attribute__((vector_size(16)));
        for (; i + 8 <= n; i += 8) {
            v4 a, b;
            std::memcpy(&a, src + i * 4, 16);
            std::memcpy(&b, src + i * 4 + 16, 16);
            a = ((a >> 16) & 0xFF) | (a & 0xFF00) | ((a & 0xFF) << 16) | 0xFF000000u;
            b = ((b >> 16) & 0xFF) | (b & 0xFF00) | ((b & 0xFF) << 16) | 0xFF000000u;
            std::memcpy(dst + i * 4, &a, 16);
            std::memcpy(dst + i * 4 + 16, &b, 16);
        }
    }
    for (; i < n; ++i) {
        dst[i * 4 + 0] = src[i * 4 + 2];
        dst[i * 4 + 1] = src[i * 4 + 1];
        dst[i * 4 + 2] = src[i * 4 + 0];
        dst[i * 4 + 3] = 255;
    }
}

// n wire pixels of bpp bytes each into RGBA at dst.
void decode_run(const PixelFormat& f, std::size_t bpp, bool client_format, const std::uint8_t* src,
                std::uint8_t* dst, std::size_t n) {
    if (client_format) {
        swizzle_bgrx(src, dst, n);
        return;
    }
    for (std::size_t i = 0; i < n; ++i) store_pixel(dst + i * 4, f.decode_pixel({src + i * bpp, bpp}));
}

// How many of `len` positions from `start` (saturating at 65535) lie below `limit`.
std::size_t visible(std::uint32_t start, std::uint32_t len, std::uint32_t limit) {
    return start >= limit ? 0 : std::min(len, limit - start);
}

// Fills the part of the w x h area at (x, y) that lies inside the framebuffer.
void fill_area(Framebuffer& fb, std::uint16_t x, std::uint16_t y, std::uint16_t w, std::uint16_t h,
               std::uint32_t value) {
    std::size_t cols = visible(x, w, fb.width);
    std::size_t rows = visible(y, h, fb.height);
    if (cols == 0 || rows == 0) return;
    if (std::uint8_t* base = fb.bulk_data()) {
        std::size_t stride = std::size_t{fb.width} * 4;
        std::uint8_t* first = base + std::size_t{y} * stride + std::size_t{x} * 4;
        for (std::size_t c = 0; c < cols; ++c) store_pixel(first + c * 4, value);
        for (std::size_t r = 1; r < rows; ++r) std::memcpy(first + r * stride, first, cols * 4);
        return;
    }
    for (std::uint32_t r = 0; r < h; ++r)
        for (std::uint32_t c = 0; c < w; ++c) fb.set_pixel(saturating_add(x, c), saturating_add(y, r), value);
}

}  // namespace

Framebuffer::Framebuffer() : pixels(std::make_shared<PixelBuffer>()) {}

Framebuffer::Framebuffer(std::uint16_t w, std::uint16_t h) : width(w), height(h) {
    std::uint64_t area = std::uint64_t{w} * h;
    pixels = area <= MAX_FRAMEBUFFER_PIXELS ? std::make_shared<PixelBuffer>(area * 4) : std::make_shared<PixelBuffer>();
}

std::uint32_t Framebuffer::pixel(std::uint16_t x, std::uint16_t y) const {
    if (x >= width || y >= height || !pixels) return 0;
    std::size_t at = (std::size_t{y} * width + x) * 4;
    if (at + 4 > pixels->size()) return 0;
    const std::uint8_t* p = pixels->data() + at;
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

void Framebuffer::set_pixel(std::uint16_t x, std::uint16_t y, std::uint32_t value) {
    if (x >= width || y >= height || !pixels || is_shared()) return;
    std::size_t at = (std::size_t{y} * width + x) * 4;
    if (at + 4 > pixels->size()) return;
    store_pixel(pixels->data() + at, value);
}

void Framebuffer::make_own() {
    if (!pixels) {
        pixels = std::make_shared<PixelBuffer>();
    } else if (is_shared()) {
        pixels = std::make_shared<PixelBuffer>(*pixels);
    }
}

std::uint8_t* Framebuffer::bulk_data() {
    if (!pixels || is_shared()) return nullptr;
    if (pixels->size() < std::size_t{width} * height * 4 || pixels->empty()) return nullptr;
    return pixels->data();
}

zavo_ui::Image snapshot_image(const Framebuffer& snapshot) {
    return zavo_ui::Image::from_shared(snapshot.pixels, snapshot.width, snapshot.height);
}

Result<std::uint64_t> check_pixel_work(std::uint16_t width, std::uint16_t height, std::string_view subject) {
    std::uint64_t area = std::uint64_t{width} * height;
    if (area > MAX_FRAMEBUFFER_PIXELS) return invalid_data(fmt::format("{} exceeds the pixel work limit", subject));
    return area;
}

Result<RectHeader> read_rect_header(Stream& stream) {
    std::uint8_t b[12];
    if (auto r = read_exact(stream, b); !r) return std::unexpected(std::move(r.error()));
    RectHeader h;
    h.x = static_cast<std::uint16_t>(b[0] << 8 | b[1]);
    h.y = static_cast<std::uint16_t>(b[2] << 8 | b[3]);
    h.width = static_cast<std::uint16_t>(b[4] << 8 | b[5]);
    h.height = static_cast<std::uint16_t>(b[6] << 8 | b[7]);
    h.encoding = static_cast<std::int32_t>(std::uint32_t{b[8]} << 24 | std::uint32_t{b[9]} << 16 |
                                           std::uint32_t{b[10]} << 8 | b[11]);
    return h;
}

Result<void> read_raw_rect(Stream& stream, Framebuffer& fb, const RectHeader& rect, const PixelFormat& format,
                           std::size_t bpp) {
    std::uint64_t bytes = std::uint64_t{rect.width} * rect.height * bpp;
    if (bytes > MAX_RAW_RECT_BYTES) return invalid_data("RFB raw rectangle is too large");
    if (bytes == 0) return {};

    const bool client_format = is_client_format(format, bpp);
    std::uint8_t* base = fb.bulk_data();
    const std::size_t stride = std::size_t{fb.width} * 4;
    const std::size_t cols = base ? visible(rect.x, rect.width, fb.width) : 0;
    const std::size_t rows = base ? visible(rect.y, rect.height, fb.height) : 0;

    // Pixels are decoded straight out of the stream's buffer, a run at a time.
    for (std::uint32_t row = 0; row < rect.height; ++row) {
        std::uint8_t* dst = row < rows ? base + (std::size_t{rect.y} + row) * stride + std::size_t{rect.x} * 4 : nullptr;
        std::uint32_t col = 0;
        while (col < rect.width) {
            auto buf = stream.fill_buf();
            if (!buf) return std::unexpected(std::move(buf.error()));
            if (buf->empty()) return fail(ErrorKind::UnexpectedEof, "failed to fill whole buffer");
            std::size_t n = std::min<std::size_t>(buf->size() / bpp, rect.width - col);
            const std::uint8_t* src = buf->data();
            std::array<std::uint8_t, 4> split{};
            if (n == 0) {  // a pixel cut by the buffer's end
                if (auto r = read_exact(stream, std::span(split.data(), bpp)); !r) return r;
                src = split.data();
                n = 1;
            }
            if (base) {
                if (dst && col < cols) decode_run(format, bpp, client_format, src, dst + std::size_t{col} * 4,
                                                  std::min<std::size_t>(n, cols - col));
            } else {
                for (std::size_t i = 0; i < n; ++i)
                    fb.set_pixel(saturating_add(rect.x, col + static_cast<std::uint32_t>(i)),
                                 saturating_add(rect.y, row), format.decode_pixel({src + i * bpp, bpp}));
            }
            if (src != split.data()) stream.consume(n * bpp);
            col += static_cast<std::uint32_t>(n);
        }
    }
    return {};
}

Result<void> read_copy_rect(Stream& stream, Framebuffer& fb, const RectHeader& rect) {
    std::uint8_t b[4];
    if (auto r = read_exact(stream, b); !r) return r;
    const std::uint16_t sx = static_cast<std::uint16_t>(b[0] << 8 | b[1]);
    const std::uint16_t sy = static_cast<std::uint16_t>(b[2] << 8 | b[3]);
    if (std::uint64_t{rect.width} * rect.height > MAX_FRAMEBUFFER_PIXELS)
        return invalid_data("RFB copy rectangle is too large");

    std::uint8_t* base = fb.bulk_data();
    if (!base) {
        // Every source pixel is read before any is written, so overlapping areas copy cleanly.
        if (fb.is_shared()) return {};  // every write would be dropped
        std::vector<std::uint32_t> area;
        area.reserve(std::size_t{rect.width} * rect.height);
        for (std::uint32_t r = 0; r < rect.height; ++r)
            for (std::uint32_t c = 0; c < rect.width; ++c)
                area.push_back(fb.pixel(saturating_add(sx, c), saturating_add(sy, r)));
        std::size_t i = 0;
        for (std::uint32_t r = 0; r < rect.height; ++r)
            for (std::uint32_t c = 0; c < rect.width; ++c)
                fb.set_pixel(saturating_add(rect.x, c), saturating_add(rect.y, r), area[i++]);
        return {};
    }

    // Only destination pixels inside the framebuffer matter; a source outside it reads as zero.
    const std::size_t cols = visible(rect.x, rect.width, fb.width);
    const std::size_t rows = visible(rect.y, rect.height, fb.height);
    if (cols == 0 || rows == 0) return {};
    const std::size_t src_cols = std::min(cols, visible(sx, rect.width, fb.width));
    const std::size_t src_rows = visible(sy, rect.height, fb.height);
    const std::size_t stride = std::size_t{fb.width} * 4;

    if (src_cols == cols && src_rows >= rows && cols == fb.width) {  // whole rows: one block move
        std::memmove(base + std::size_t{rect.y} * stride, base + std::size_t{sy} * stride, rows * stride);
        return {};
    }
    // Rows in the order that never overwrites a source row still to be read; within a row
    // the move comes before the zeroing, which may cover the row's own source.
    const bool bottom_up = rect.y > sy;
    for (std::size_t i = 0; i < rows; ++i) {
        std::size_t r = bottom_up ? rows - 1 - i : i;
        std::uint8_t* dst = base + (rect.y + r) * stride + std::size_t{rect.x} * 4;
        std::size_t moved = r < src_rows ? src_cols : 0;
        if (moved > 0) std::memmove(dst, base + (sy + r) * stride + std::size_t{sx} * 4, moved * 4);
        if (moved < cols) std::memset(dst + moved * 4, 0, (cols - moved) * 4);
    }
    return {};
}

Result<void> read_rre_rect(Stream& stream, Framebuffer& fb, const RectHeader& rect, const PixelFormat& format,
                           std::size_t bpp) {
    auto count = read_u32(stream);
    if (!count) return std::unexpected(std::move(count.error()));
    if (*count > MAX_RRE_SUBRECTANGLES) return invalid_data("RFB RRE update has too many subrectangles");
    if (auto r = check_pixel_work(rect.width, rect.height, "RRE background rectangle"); !r)
        return std::unexpected(std::move(r.error()));

    std::array<std::uint8_t, 12> b{};
    if (auto r = read_exact(stream, std::span(b.data(), bpp)); !r) return r;
    const std::uint32_t background = format.decode_pixel({b.data(), bpp});

    struct Sub {
        std::uint32_t pixel;
        std::uint16_t x, y, w, h;
    };
    std::vector<Sub> subs;
    subs.reserve(std::min<std::uint32_t>(*count, 65536));
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; i < *count; ++i) {
        if (auto r = read_exact(stream, std::span(b.data(), bpp + 8)); !r) return r;
        const std::uint8_t* g = b.data() + bpp;
        Sub s{format.decode_pixel({b.data(), bpp}), static_cast<std::uint16_t>(g[0] << 8 | g[1]),
              static_cast<std::uint16_t>(g[2] << 8 | g[3]), static_cast<std::uint16_t>(g[4] << 8 | g[5]),
              static_cast<std::uint16_t>(g[6] << 8 | g[7])};
        auto area = check_pixel_work(s.w, s.h, "RRE subrectangle");
        if (!area) return std::unexpected(std::move(area.error()));
        total += *area;
        if (total > MAX_FRAMEBUFFER_PIXELS) return invalid_data("RRE subrectangles exceed the pixel work limit");
        subs.push_back(s);
    }

    fill_area(fb, rect.x, rect.y, rect.width, rect.height, background);
    for (const Sub& s : subs)
        fill_area(fb, saturating_add(rect.x, s.x), saturating_add(rect.y, s.y), s.w, s.h, s.pixel);
    return {};
}

Result<std::uint16_t> read_framebuffer_update(Stream& stream, Framebuffer& fb, const PixelFormat& format) {
    if (fb.generation == std::numeric_limits<std::uint64_t>::max())
        return invalid_data("RFB framebuffer generation exhausted");
    std::uint8_t head[3];
    if (auto r = read_exact(stream, head); !r) return std::unexpected(std::move(r.error()));
    const std::uint16_t count = static_cast<std::uint16_t>(head[1] << 8 | head[2]);
    if (count > MAX_UPDATE_RECTANGLES) return invalid_data("RFB update has too many rectangles");
    const std::size_t bpp = (std::size_t{format.bits_per_pixel} + 7) / 8;
    if (bpp < 1 || bpp > 4) return invalid_data("invalid RFB pixel format");

    fb.make_own();
    for (std::uint16_t i = 0; i < count; ++i) {
        auto rect = read_rect_header(stream);
        if (!rect) return std::unexpected(std::move(rect.error()));
        Result<void> r;
        switch (rect->encoding) {
        case 0:
            r = read_raw_rect(stream, fb, *rect, format, bpp);
            break;
        case 1:
            r = read_copy_rect(stream, fb, *rect);
            break;
        case 2:
            r = read_rre_rect(stream, fb, *rect, format, bpp);
            break;
        default:
            return invalid_data(fmt::format("unsupported RFB encoding {}", rect->encoding));
        }
        if (!r) return std::unexpected(std::move(r.error()));
    }
    fb.generation += 1;
    return count;
}

}  // namespace remote::rfb
