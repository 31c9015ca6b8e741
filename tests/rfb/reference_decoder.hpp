#pragma once
// A straightforward pixel-at-a-time FramebufferUpdate decoder, kept as the yardstick the fast
// decoder is compared with (tests and the differential fuzz target).
#include <fmt/format.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "rfb/framebuffer.hpp"

namespace rfb_test {

using namespace remote::rfb;

// Positions only grow along a row or column (saturating at 65535, which no framebuffer
// reaches), so a loop may stop at the first one outside the framebuffer.
inline bool outside(std::uint16_t origin, std::uint32_t offset, std::uint16_t size) {
    return saturating_add(origin, offset) >= size;
}

// Writes value over the w x h area at (x, y), a pixel at a time.
inline void fill_pixels(Framebuffer& fb, std::uint16_t x, std::uint16_t y, std::uint16_t w, std::uint16_t h,
                        std::uint32_t value) {
    for (std::uint32_t row = 0; row < h && !outside(y, row, fb.height); ++row)
        for (std::uint32_t col = 0; col < w && !outside(x, col, fb.width); ++col)
            fb.set_pixel(saturating_add(x, col), saturating_add(y, row), value);
}

// Pixels of the w x h area at (x, y) inside the framebuffer, counted one at a time.
inline std::uint64_t count_pixels(const Framebuffer& fb, std::uint16_t x, std::uint16_t y, std::uint16_t w,
                                  std::uint16_t h) {
    std::uint64_t n = 0;
    for (std::uint32_t row = 0; row < h && !outside(y, row, fb.height); ++row)
        for (std::uint32_t col = 0; col < w && !outside(x, col, fb.width); ++col) ++n;
    return n;
}

// The pixels an update may still write beyond what its bytes pay for.
struct WorkLeft {
    std::uint64_t pixels;
    Result<void> charge(std::uint64_t n) {
        if (n > pixels) return invalid_data("RFB update exceeds the pixel work limit");
        pixels -= n;
        return {};
    }
};

inline Result<void> reference_raw(Stream& s, Framebuffer& fb, const RectHeader& r, const PixelFormat& f,
                                  std::size_t bpp) {
    std::uint64_t n = std::uint64_t{r.width} * r.height * bpp;
    if (n > MAX_RAW_RECT_BYTES) return invalid_data("RFB raw rectangle is too large");
    // Read a pixel at a time: a short stream fails the same way without a large buffer first.
    std::uint8_t px[4];
    for (std::uint32_t row = 0; row < r.height; ++row)
        for (std::uint32_t col = 0; col < r.width; ++col) {
            if (auto e = read_exact(s, std::span(px, bpp)); !e) return e;
            fb.set_pixel(saturating_add(r.x, col), saturating_add(r.y, row), f.decode_pixel({px, bpp}));
        }
    return {};
}

inline Result<void> reference_copy(Stream& s, Framebuffer& fb, const RectHeader& r, WorkLeft& work) {
    auto sx = read_u16(s);
    if (!sx) return std::unexpected(sx.error());
    auto sy = read_u16(s);
    if (!sy) return std::unexpected(sy.error());
    if (std::uint64_t{r.width} * r.height > MAX_FRAMEBUFFER_PIXELS)
        return invalid_data("RFB copy rectangle is too large");
    if (auto e = work.charge(count_pixels(fb, r.x, r.y, r.width, r.height)); !e) return e;
    // Every source pixel is read from the framebuffer as it was before the copy.
    const Framebuffer before = [&] {
        Framebuffer copy = fb;
        copy.pixels = std::make_shared<PixelBuffer>(*fb.pixels);
        return copy;
    }();
    for (std::uint32_t row = 0; row < r.height && !outside(r.y, row, fb.height); ++row)
        for (std::uint32_t col = 0; col < r.width && !outside(r.x, col, fb.width); ++col)
            fb.set_pixel(saturating_add(r.x, col), saturating_add(r.y, row),
                         before.pixel(saturating_add(*sx, col), saturating_add(*sy, row)));
    return {};
}

inline Result<void> reference_rre(Stream& s, Framebuffer& fb, const RectHeader& r, const PixelFormat& f,
                                  std::size_t bpp, WorkLeft& work) {
    auto count = read_u32(s);
    if (!count) return std::unexpected(count.error());
    if (*count > MAX_RRE_SUBRECTANGLES) return invalid_data("RFB RRE update has too many subrectangles");
    if (auto a = check_pixel_work(r.width, r.height, "RRE background rectangle"); !a) return std::unexpected(a.error());
    std::vector<std::uint8_t> px(bpp);
    if (auto e = read_exact(s, px); !e) return e;
    std::uint32_t background = f.decode_pixel(px);
    struct Sub {
        std::uint32_t pixel;
        std::uint16_t x, y, w, h;
    };
    std::vector<Sub> subs;
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; i < *count; ++i) {
        if (auto e = read_exact(s, px); !e) return e;
        Sub sub{f.decode_pixel(px), 0, 0, 0, 0};
        for (std::uint16_t* v : {&sub.x, &sub.y, &sub.w, &sub.h}) {
            auto w = read_u16(s);
            if (!w) return std::unexpected(w.error());
            *v = *w;
        }
        auto area = check_pixel_work(sub.w, sub.h, "RRE subrectangle");
        if (!area) return std::unexpected(area.error());
        total += *area;
        if (total > MAX_FRAMEBUFFER_PIXELS) return invalid_data("RRE subrectangles exceed the pixel work limit");
        subs.push_back(sub);
    }
    std::uint64_t pixels = count_pixels(fb, r.x, r.y, r.width, r.height);
    for (const Sub& sub : subs)
        pixels += count_pixels(fb, saturating_add(r.x, sub.x), saturating_add(r.y, sub.y), sub.w, sub.h);
    if (auto e = work.charge(pixels); !e) return e;
    fill_pixels(fb, r.x, r.y, r.width, r.height, background);
    for (const Sub& sub : subs)
        fill_pixels(fb, saturating_add(r.x, sub.x), saturating_add(r.y, sub.y), sub.w, sub.h, sub.pixel);
    return {};
}

inline Result<std::uint16_t> reference_update(Stream& s, Framebuffer& fb, const PixelFormat& f) {
    if (fb.generation == std::numeric_limits<std::uint64_t>::max())
        return invalid_data("RFB framebuffer generation exhausted");
    std::uint8_t head[3];
    if (auto e = read_exact(s, head); !e) return std::unexpected(e.error());
    std::uint16_t count = static_cast<std::uint16_t>(head[1] << 8 | head[2]);
    if (count > MAX_UPDATE_RECTANGLES) return invalid_data("RFB update has too many rectangles");
    std::size_t bpp = (std::size_t{f.bits_per_pixel} + 7) / 8;
    if (bpp < 1 || bpp > 4) return invalid_data("invalid RFB pixel format");
    if (fb.is_shared()) fb.pixels = std::make_shared<PixelBuffer>(*fb.pixels);
    WorkLeft work{std::max(UPDATE_PIXEL_WORK_SCREENS * fb.width * fb.height, MIN_UPDATE_PIXEL_WORK)};
    for (std::uint16_t i = 0; i < count; ++i) {
        auto r = read_rect_header(s);
        if (!r) return std::unexpected(r.error());
        Result<void> e;
        if (r->encoding == 0)
            e = reference_raw(s, fb, *r, f, bpp);
        else if (r->encoding == 1)
            e = reference_copy(s, fb, *r, work);
        else if (r->encoding == 2)
            e = reference_rre(s, fb, *r, f, bpp, work);
        else
            return invalid_data(fmt::format("unsupported RFB encoding {}", r->encoding));
        if (!e) return std::unexpected(e.error());
    }
    fb.generation += 1;
    return count;
}

}  // namespace rfb_test
