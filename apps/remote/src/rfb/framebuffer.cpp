#include "rfb/framebuffer.hpp"

#include "rfb/big_endian.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <sys/mman.h>

#include <fmt/format.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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
void swizzle_bgrx_portable(const std::uint8_t* src, std::uint8_t* dst, std::size_t n) {
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

#if defined(__x86_64__)
// The same with one byte shuffle per 32 bytes, where the processor has AVX2.
__attribute__((target("avx2"))) void swizzle_bgrx_avx2(const std::uint8_t* src, std::uint8_t* dst, std::size_t n) {
    const __m256i order = _mm256_setr_epi8(2, 1, 0, -1, 6, 5, 4, -1, 10, 9, 8, -1, 14, 13, 12, -1,  //
                                           2, 1, 0, -1, 6, 5, 4, -1, 10, 9, 8, -1, 14, 13, 12, -1);
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i * 4));
        __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i * 4 + 32));
        a = _mm256_or_si256(_mm256_shuffle_epi8(a, order), opaque);
        b = _mm256_or_si256(_mm256_shuffle_epi8(b, order), opaque);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i * 4), a);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i * 4 + 32), b);
    }
    swizzle_bgrx_portable(src + i * 4, dst + i * 4, n - i);
}

const bool HAVE_AVX2 = __builtin_cpu_supports("avx2");
#endif

void swizzle_bgrx(const std::uint8_t* src, std::uint8_t* dst, std::size_t n) {
#if defined(__x86_64__)
    if (HAVE_AVX2) return swizzle_bgrx_avx2(src, dst, n);
#endif
    swizzle_bgrx_portable(src, dst, n);
}

// n wire pixels of bpp bytes each into RGBA at dst.
void decode_run(const PixelFormat& f, std::size_t bpp, bool client_format, const std::uint8_t* src, std::uint8_t* dst,
                std::size_t n) {
    if (client_format) {
        swizzle_bgrx(src, dst, n);
        return;
    }
    for (std::size_t i = 0; i < n; ++i) store_pixel(dst + i * 4, f.decode_pixel({src + i * bpp, bpp}));
}

// How many of `len` positions from `start` (saturating at 65535) lie below `limit`.
std::uint32_t visible(std::uint32_t start, std::uint32_t len, std::uint32_t limit) {
    return start >= limit ? 0 : std::min(len, limit - start);
}

// Fills the part of the w x h area at (x, y) that lies inside the framebuffer.
void fill_area(Framebuffer& fb, std::uint16_t x, std::uint16_t y, std::uint16_t w, std::uint16_t h,
               std::uint32_t value) {
    auto area = fb.visible_area(x, y, w, h);
    if (!area) return;
    if (std::uint8_t* base = fb.bulk_data()) {
        std::size_t stride = std::size_t{fb.width} * 4;
        std::uint8_t* first = base + std::size_t{y} * stride + std::size_t{x} * 4;
        for (std::size_t c = 0; c < area->width; ++c) store_pixel(first + c * 4, value);
        for (std::size_t r = 1; r < area->height; ++r)
            std::memcpy(first + r * stride, first, std::size_t{area->width} * 4);
        return;
    }
    for (std::uint32_t r = 0; r < h; ++r)
        for (std::uint32_t c = 0; c < w; ++c) fb.set_pixel(saturating_add(x, c), saturating_add(y, r), value);
}

bool intersects(const PixelArea& a, const PixelArea& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

bool contains(const PixelArea& outer, const PixelArea& inner) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

// What is left of `a` outside `cut`, as up to four areas (above, below, left, right of it).
void subtract(const PixelArea& a, const PixelArea& cut, std::vector<PixelArea>& out) {
    const std::uint32_t top = std::max(a.y, cut.y), bottom = std::min(a.y + a.height, cut.y + cut.height);
    const std::uint32_t left = std::max(a.x, cut.x), right = std::min(a.x + a.width, cut.x + cut.width);
    auto add = [&](std::uint32_t x0, std::uint32_t y0, std::uint32_t x1, std::uint32_t y1) {
        if (x1 > x0 && y1 > y0)
            out.push_back({static_cast<std::uint16_t>(x0), static_cast<std::uint16_t>(y0),
                           static_cast<std::uint16_t>(x1 - x0), static_cast<std::uint16_t>(y1 - y0)});
    };
    add(a.x, a.y, a.x + a.width, top);
    add(a.x, bottom, a.x + a.width, a.y + a.height);
    add(a.x, top, left, bottom);
    add(right, top, a.x + a.width, bottom);
}

// Areas of one update past which it counts as having changed everything.
constexpr std::size_t MAX_TRACKED_AREAS = 256;
// Old areas of a recycled buffer left for later; more are copied at once.
constexpr std::size_t MAX_STALE_AREAS = 64;
// Published buffers kept for reuse: painting may hold the newest snapshot and the one before
// while the cell holds a third.
constexpr std::size_t MAX_SPARE_BUFFERS = 3;
// Generations of changes kept; a spare older than that is copied whole.
constexpr std::size_t MAX_HISTORY = 32;

// True when `buffer` is the only reference. Taking another one is an acquiring operation on the
// count, so whatever a holder that just let go did with the pixels happens before we write them.
bool held_only_here(const std::shared_ptr<PixelBuffer>& buffer) {
    const std::shared_ptr<PixelBuffer> probe = buffer;
    return probe.use_count() == 2;
}

// A buffer with the bytes of `from`, or `size` zero bytes. Large ones ask for huge pages, so that
// updates scattered over a big desktop do not each cost a page-table walk.
std::shared_ptr<PixelBuffer> new_pixel_buffer(std::size_t size, const PixelBuffer* from = nullptr) {
    auto buffer = std::make_shared<PixelBuffer>();
    if (from) size = from->size();
    buffer->reserve(size);
    constexpr std::uintptr_t HUGE_PAGE = 2u << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(buffer->data());
    const std::uintptr_t first = (begin + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1), end = (begin + size) & ~(HUGE_PAGE - 1);
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);  // a hint; failure is fine
    if (from) {
        buffer->assign(from->begin(), from->end());
    } else {
        buffer->resize(size);
    }
    return buffer;
}

}  // namespace

Framebuffer::Framebuffer() : pixels(std::make_shared<PixelBuffer>()) {}

Framebuffer::Framebuffer(std::uint16_t w, std::uint16_t h) : width(w), height(h) {
    std::uint64_t area = std::uint64_t{w} * h;
    pixels = new_pixel_buffer(area <= MAX_FRAMEBUFFER_PIXELS ? area * 4 : 0);
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
    recycling_.pending_.everything = true;  // single pixels are not tracked one by one
}

std::uint8_t* Framebuffer::bulk_data() {
    if (!pixels || is_shared()) return nullptr;
    if (pixels->size() < std::size_t{width} * height * 4 || pixels->empty()) return nullptr;
    return pixels->data();
}

std::optional<PixelArea> Framebuffer::visible_area(std::uint16_t x, std::uint16_t y, std::uint32_t w,
                                                   std::uint32_t h) const {
    const std::uint32_t cols = visible(x, w, width), rows = visible(y, h, height);
    if (cols == 0 || rows == 0) return std::nullopt;
    return PixelArea{x, y, static_cast<std::uint16_t>(cols), static_cast<std::uint16_t>(rows)};
}

BufferRecycling& BufferRecycling::operator=(const BufferRecycling&) noexcept {
    // The buffer it was kept for is gone: start over.
    *this = BufferRecycling();
    return *this;
}

void Framebuffer::begin_update() {
    switch_buffer();
    if (recycling_.stale_.size() > MAX_STALE_AREAS) copy_stale();
}

void Framebuffer::limit_work() {
    recycling_.work_left_ = std::max(UPDATE_PIXEL_WORK_SCREENS * width * height, MIN_UPDATE_PIXEL_WORK);
}

void Framebuffer::switch_buffer() {
    BufferRecycling& r = recycling_;
    if (!pixels) pixels = std::make_shared<PixelBuffer>();
    if (held_only_here(pixels)) return;

    // A spare of the same size that nobody holds any more; the most recent one has the least to catch up.
    std::optional<std::size_t> pick;
    for (std::size_t i = 0; i < r.spares_.size(); ++i) {
        const auto& spare = r.spares_[i];
        if (spare.buffer->size() != pixels->size() || !held_only_here(spare.buffer)) continue;
        if (!pick || spare.current_at > r.spares_[*pick].current_at) pick = i;
    }
    std::shared_ptr<PixelBuffer> next;
    const bool whole = pixels->size() == std::size_t{width} * height * 4 && !pixels->empty();
    if (pick) {
        next = std::move(r.spares_[*pick].buffer);
        const std::uint64_t since = r.spares_[*pick].current_at;
        r.spares_.erase(r.spares_.begin() + static_cast<std::ptrdiff_t>(*pick));
        if (whole) {
            r.stale_ = changes_since(since);
        } else {
            std::copy(pixels->begin(), pixels->end(), next->begin());
        }
    } else {
        next = new_pixel_buffer(0, pixels.get());
        if (r.spares_.size() >= MAX_SPARE_BUFFERS) {  // let go of the oldest; its holders keep it
            auto oldest = std::min_element(r.spares_.begin(), r.spares_.end(),
                                           [](const auto& a, const auto& b) { return a.current_at < b.current_at; });
            r.spares_.erase(oldest);
        }
    }
    r.spares_.push_back({pixels, generation});
    if (!r.stale_.empty()) r.source_ = pixels;
    pixels = std::move(next);
}

std::vector<PixelArea> Framebuffer::changes_since(std::uint64_t since) const {
    const BufferRecycling& r = recycling_;
    const PixelArea all{0, 0, width, height};
    std::vector<PixelArea> areas;
    // Entries run without gaps up to the current generation; the first one needed must be there.
    if (generation > since && (r.history_.empty() || r.history_.front().generation > since + 1)) return {all};
    std::uint64_t total = 0;
    auto add = [&](const BufferRecycling::Changes& c) {
        if (c.everything) return false;
        for (const PixelArea& a : c.areas) {
            areas.push_back(a);
            total += a.size();
        }
        return total < all.size();
    };
    for (const auto& c : r.history_)
        if (c.generation > since && !add(c)) return {all};
    if (!add(r.pending_)) return {all};
    return areas;
}

void Framebuffer::copy_from_source(const PixelArea& a) {
    const std::size_t stride = std::size_t{width} * 4;
    const std::size_t offset = std::size_t{a.y} * stride + std::size_t{a.x} * 4;
    const std::uint8_t* from = recycling_.source_->data() + offset;
    std::uint8_t* to = pixels->data() + offset;
    for (std::size_t row = 0; row < a.height; ++row)
        std::memcpy(to + row * stride, from + row * stride, std::size_t{a.width} * 4);
}

void Framebuffer::copy_stale() {
    for (const PixelArea& a : recycling_.stale_) copy_from_source(a);
    recycling_.stale_.clear();
}

void Framebuffer::before_read(std::uint16_t x, std::uint16_t y, std::uint32_t w, std::uint32_t h) {
    auto& stale = recycling_.stale_;
    if (stale.empty()) return;
    auto area = visible_area(x, y, w, h);
    if (!area) return;
    std::erase_if(stale, [&](const PixelArea& s) {
        if (!intersects(s, *area)) return false;
        copy_from_source(s);
        return true;
    });
}

void Framebuffer::before_overwrite(std::uint16_t x, std::uint16_t y, std::uint32_t w, std::uint32_t h) {
    auto area = visible_area(x, y, w, h);
    if (!area) return;
    BufferRecycling& r = recycling_;
    note_change(*area);
    if (r.stale_.empty()) return;
    std::vector<PixelArea> left;
    left.reserve(r.stale_.size());
    for (const PixelArea& s : r.stale_) {
        if (!intersects(s, *area)) {
            left.push_back(s);
        } else if (!contains(*area, s)) {
            subtract(s, *area, left);
        }
    }
    r.stale_ = std::move(left);
    if (r.stale_.size() > MAX_STALE_AREAS) copy_stale();
}

void Framebuffer::note_change(const PixelArea& area) {
    auto& p = recycling_.pending_;
    if (p.everything) return;
    if (p.areas.size() >= MAX_TRACKED_AREAS) {
        p.everything = true;
        p.areas.clear();
        return;
    }
    p.areas.push_back(area);
}

Result<void> Framebuffer::charge_work(std::uint64_t pixels_written) {
    auto& left = recycling_.work_left_;
    if (pixels_written > left) return invalid_data("RFB update exceeds the pixel work limit");
    left -= pixels_written;
    return {};
}

void Framebuffer::commit_changes() {
    BufferRecycling& r = recycling_;
    r.pending_.generation = generation;
    r.history_.push_back(std::move(r.pending_));
    r.pending_ = {};
    // Only what a spare still has to catch up on is kept.
    std::uint64_t oldest = generation;
    for (const auto& spare : r.spares_) oldest = std::min(oldest, spare.current_at);
    std::erase_if(r.history_, [&](const auto& c) { return c.generation <= oldest; });
    if (r.history_.size() > MAX_HISTORY)
        r.history_.erase(r.history_.begin(), r.history_.end() - static_cast<std::ptrdiff_t>(MAX_HISTORY));
}

void Framebuffer::finish_update() {
    abandon_update();  // the update's bookkeeping ends the same way; only success counts it
    generation += 1;
    commit_changes();
}

void Framebuffer::abandon_update() {
    copy_stale();
    recycling_.source_.reset();
    recycling_.work_left_ = ~std::uint64_t{0};
}

zavo_ui::Image snapshot_image(const Framebuffer& snapshot) {
    return zavo_ui::Image::from_shared(snapshot.pixels, snapshot.width, snapshot.height);
}

Result<std::uint64_t> check_pixel_work(std::uint16_t width, std::uint16_t height, std::string_view subject) {
    std::uint64_t area = std::uint64_t{width} * height;
    if (area > MAX_FRAMEBUFFER_PIXELS) return invalid_data(fmt::format("{} exceeds the pixel work limit", subject));
    return area;
}

namespace {

constexpr std::size_t RECT_HEADER_BYTES = 12;

RectHeader rect_header(const std::uint8_t* b) {
    return {get_u16(&b[0]), get_u16(&b[2]), get_u16(&b[4]), get_u16(&b[6]), static_cast<std::int32_t>(get_u32(&b[8]))};
}

// The pixel bytes of a Raw rectangle.
Result<std::uint64_t> raw_rect_bytes(const RectHeader& rect, std::size_t bpp) {
    const std::uint64_t bytes = std::uint64_t{rect.width} * rect.height * bpp;
    if (bytes > MAX_RAW_RECT_BYTES) return invalid_data("RFB raw rectangle is too large");
    return bytes;
}

// The pixels a CopyRect writes: its destination inside the framebuffer.
Result<std::uint64_t> copy_rect_work(const Framebuffer& fb, const RectHeader& rect) {
    if (std::uint64_t{rect.width} * rect.height > MAX_FRAMEBUFFER_PIXELS)
        return invalid_data("RFB copy rectangle is too large");
    const auto dest = fb.visible_area(rect.x, rect.y, rect.width, rect.height);
    return dest ? dest->size() : 0;
}

// What an RRE rectangle's head allows: its subrectangle count and its background.
Result<void> check_rre_head(const RectHeader& rect, std::uint32_t count) {
    if (count > MAX_RRE_SUBRECTANGLES) return invalid_data("RFB RRE update has too many subrectangles");
    if (auto r = check_pixel_work(rect.width, rect.height, "RRE background rectangle"); !r)
        return std::unexpected(std::move(r.error()));
    return {};
}

// Where one RRE subrectangle lies in the framebuffer, from the x, y, width and height (relative
// to the rectangle) that follow its pixel on the wire.
struct RreSub {
    std::uint16_t x, y, w, h;
    std::optional<PixelArea> visible;  // the part inside the framebuffer
};

// Reads it and counts its area into the rectangle's `total`, which is bounded.
Result<RreSub> rre_subrect(const Framebuffer& fb, const RectHeader& rect, const std::uint8_t* g, std::uint64_t& total) {
    RreSub s{saturating_add(rect.x, get_u16(&g[0])), saturating_add(rect.y, get_u16(&g[2])), get_u16(&g[4]),
             get_u16(&g[6]), std::nullopt};
    auto area = check_pixel_work(s.w, s.h, "RRE subrectangle");
    if (!area) return std::unexpected(std::move(area.error()));
    total += *area;
    if (total > MAX_FRAMEBUFFER_PIXELS) return invalid_data("RRE subrectangles exceed the pixel work limit");
    s.visible = fb.visible_area(s.x, s.y, s.w, s.h);
    return s;
}

}  // namespace

Result<RectHeader> read_rect_header(Stream& stream) {
    std::uint8_t b[RECT_HEADER_BYTES];
    if (auto r = read_exact(stream, b); !r) return std::unexpected(std::move(r.error()));
    return rect_header(b);
}

Result<void> read_raw_rect(Stream& stream, Framebuffer& fb, const RectHeader& rect, const PixelFormat& format,
                           std::size_t bpp) {
    auto bytes = raw_rect_bytes(rect, bpp);
    if (!bytes) return std::unexpected(std::move(bytes.error()));
    if (*bytes == 0) return {};

    const bool client_format = is_client_format(format, bpp);
    fb.before_overwrite(rect.x, rect.y, rect.width, rect.height);
    std::uint8_t* base = fb.bulk_data();
    const std::size_t stride = std::size_t{fb.width} * 4;
    const std::size_t cols = base ? visible(rect.x, rect.width, fb.width) : 0;
    const std::size_t rows = base ? visible(rect.y, rect.height, fb.height) : 0;

    // Pixels are decoded straight out of the stream's buffer, a run at a time.
    for (std::uint32_t row = 0; row < rect.height; ++row) {
        std::uint8_t* dst = row < rows ? base + (std::size_t{rect.y} + row) * stride + std::size_t{rect.x} * 4
                                       : nullptr;
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
                if (dst && col < cols)
                    decode_run(format, bpp, client_format, src, dst + std::size_t{col} * 4,
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
    const std::uint16_t sx = get_u16(&b[0]);
    const std::uint16_t sy = get_u16(&b[2]);
    auto work = copy_rect_work(fb, rect);
    if (!work) return std::unexpected(std::move(work.error()));
    if (auto r = fb.charge_work(*work); !r) return r;
    const auto dest = fb.visible_area(rect.x, rect.y, rect.width, rect.height);
    fb.before_read(sx, sy, rect.width, rect.height);
    fb.before_overwrite(rect.x, rect.y, rect.width, rect.height);

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
    if (!dest) return {};
    const std::size_t cols = dest->width, rows = dest->height;
    const std::size_t src_cols = std::min<std::size_t>(cols, visible(sx, rect.width, fb.width));
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
    if (auto r = check_rre_head(rect, *count); !r) return r;

    std::array<std::uint8_t, 12> b{};
    if (auto r = read_exact(stream, std::span(b.data(), bpp)); !r) return r;
    const std::uint32_t background = format.decode_pixel({b.data(), bpp});

    struct Sub {
        RreSub sub;
        std::uint32_t pixel;
        bool reaches_out;  // past the rectangle's visible part
    };
    std::vector<Sub> subs;
    subs.reserve(std::min<std::uint32_t>(*count, 65536));
    const auto inside = fb.visible_area(rect.x, rect.y, rect.width, rect.height);
    std::uint64_t total = 0, work = inside ? inside->size() : 0;
    std::size_t reaching_out = 0;
    for (std::uint32_t i = 0; i < *count; ++i) {
        if (auto r = read_exact(stream, std::span(b.data(), bpp + 8)); !r) return r;
        auto s = rre_subrect(fb, rect, b.data() + bpp, total);
        if (!s) return std::unexpected(std::move(s.error()));
        if (s->visible) {
            work += s->visible->size();
            const bool out = !inside || !contains(*inside, *s->visible);
            reaching_out += out;
            subs.push_back({*s, format.decode_pixel({b.data(), bpp}), out});
        }
    }
    if (auto r = fb.charge_work(work); !r) return r;

    // Many areas outside the rectangle: bring the whole buffer up to date first, once.
    if (reaching_out > MAX_STALE_AREAS) fb.before_read(0, 0, fb.width, fb.height);
    fb.before_overwrite(rect.x, rect.y, rect.width, rect.height);
    fill_area(fb, rect.x, rect.y, rect.width, rect.height, background);
    for (const auto& [s, pixel, reaches_out] : subs) {
        if (reaches_out) fb.before_overwrite(s.x, s.y, s.w, s.h);
        fill_area(fb, s.x, s.y, s.w, s.h, pixel);
    }
    return {};
}

namespace {

// One rectangle, its header and its data.
Result<void> read_rect(Stream& stream, Framebuffer& fb, const PixelFormat& format, std::size_t bpp) {
    auto rect = read_rect_header(stream);
    if (!rect) return std::unexpected(std::move(rect.error()));
    switch (rect->encoding) {
        case 0: return read_raw_rect(stream, fb, *rect, format, bpp);
        case 1: return read_copy_rect(stream, fb, *rect);
        case 2: return read_rre_rect(stream, fb, *rect, format, bpp);
        default: return invalid_data(fmt::format("unsupported RFB encoding {}", rect->encoding));
    }
}

}  // namespace

namespace {

// The next rectangles of an update that the bytes ahead in the stream show whole.
struct Judged {
    std::uint16_t rects = 0;
    std::uint64_t work = 0;  // the pixels they write beyond what their bytes pay for
};

// Looks at up to `rects` rectangles ahead without taking their bytes, as far as the stream can
// look ahead, and fails as decoding them would (a limit, an encoding, a stream that ends), also
// when they would write more than `work_left` pixels that their bytes do not pay for. A Raw
// rectangle's pixels are skipped, not looked at.
Result<Judged> judge_ahead(Stream& stream, const Framebuffer& fb, std::size_t bpp, std::uint16_t rects,
                           std::uint64_t work_left) {
    const std::uint64_t reach = stream.lookahead();
    // The `len` bytes at `at`; null when they lie past the reach. A stream that ends before
    // them fails as reading them would.
    const auto look = [&](std::uint64_t at, std::uint64_t len) -> Result<const std::uint8_t*> {
        if (at + len > reach) return nullptr;
        auto ahead = stream.peek(static_cast<std::size_t>(at + len));
        if (!ahead) return std::unexpected(std::move(ahead.error()));
        if (ahead->size() < at + len) return fail(ErrorKind::UnexpectedEof, "failed to fill whole buffer");
        return ahead->data() + at;
    };

    Judged judged;
    std::uint64_t at = 0;
    while (judged.rects < rects) {
        auto head = look(at, RECT_HEADER_BYTES);
        if (!head) return std::unexpected(std::move(head.error()));
        if (!*head) break;
        const RectHeader rect = rect_header(*head);
        std::uint64_t size = RECT_HEADER_BYTES, work = 0;
        switch (rect.encoding) {
            case 0: {
                auto bytes = raw_rect_bytes(rect, bpp);
                if (!bytes) return std::unexpected(std::move(bytes.error()));
                size += *bytes;
                break;
            }
            case 1: {
                auto source = look(at + size, 4);
                if (!source) return std::unexpected(std::move(source.error()));
                if (!*source) return judged;
                auto pixels = copy_rect_work(fb, rect);
                if (!pixels) return std::unexpected(std::move(pixels.error()));
                size += 4;
                work = *pixels;
                break;
            }
            case 2: {
                auto count_bytes = look(at + size, 4);
                if (!count_bytes) return std::unexpected(std::move(count_bytes.error()));
                if (!*count_bytes) return judged;
                const std::uint32_t count = get_u32(*count_bytes);
                if (auto r = check_rre_head(rect, count); !r) return std::unexpected(std::move(r.error()));
                const std::uint64_t sub_bytes = bpp + 8, body = 4 + bpp + count * sub_bytes;
                if (at + size + body > reach) return judged;
                if (auto background = look(at + size + 4, bpp); !background)
                    return std::unexpected(std::move(background.error()));
                const auto inside = fb.visible_area(rect.x, rect.y, rect.width, rect.height);
                work = inside ? inside->size() : 0;
                std::uint64_t total = 0;
                for (std::uint32_t i = 0; i < count; ++i) {
                    auto bytes = look(at + size + 4 + bpp + i * sub_bytes, sub_bytes);
                    if (!bytes) return std::unexpected(std::move(bytes.error()));
                    auto sub = rre_subrect(fb, rect, *bytes + bpp, total);
                    if (!sub) return std::unexpected(std::move(sub.error()));
                    if (sub->visible) work += sub->visible->size();
                }
                size += body;
                break;
            }
            default: return invalid_data(fmt::format("unsupported RFB encoding {}", rect.encoding));
        }
        if (work > work_left - judged.work) return invalid_data("RFB update exceeds the pixel work limit");
        judged.work += work;
        ++judged.rects;
        at += size;
    }
    return judged;
}

}  // namespace

Result<std::uint16_t> read_framebuffer_update(Stream& stream, Framebuffer& fb, const PixelFormat& format) {
    if (fb.generation == std::numeric_limits<std::uint64_t>::max())
        return invalid_data("RFB framebuffer generation exhausted");
    std::uint8_t head[3];
    if (auto r = read_exact(stream, head); !r) return std::unexpected(std::move(r.error()));
    const std::uint16_t count = get_u16(&head[1]);
    if (count > MAX_UPDATE_RECTANGLES) return invalid_data("RFB update has too many rectangles");
    const std::size_t bpp = (std::size_t{format.bits_per_pixel} + 7) / 8;
    if (bpp < 1 || bpp > 4) return invalid_data("invalid RFB pixel format");

    fb.limit_work();
    bool begun = false;
    for (std::uint16_t done = 0; done < count;) {
        auto judged = judge_ahead(stream, fb, bpp, static_cast<std::uint16_t>(count - done), fb.work_left());
        if (!judged) {
            fb.abandon_update();
            return std::unexpected(std::move(judged.error()));
        }
        if (!begun) fb.begin_update();
        begun = true;
        // A rectangle whose bytes are more than the stream can look ahead judges itself as it is
        // read: RRE reads all its subrectangles before it writes.
        const std::uint16_t n = std::max<std::uint16_t>(judged->rects, 1);
        for (std::uint16_t i = 0; i < n; ++i) {
            if (auto r = read_rect(stream, fb, format, bpp); !r) {
                fb.abandon_update();
                return std::unexpected(std::move(r.error()));
            }
        }
        done = static_cast<std::uint16_t>(done + n);
    }
    if (!begun) fb.begin_update();  // an empty update makes the buffer its own all the same
    fb.finish_update();
    return count;
}

}  // namespace remote::rfb
