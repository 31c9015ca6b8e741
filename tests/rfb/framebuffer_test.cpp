#include "rfb/framebuffer.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <set>

#include "tests/rfb/reference_decoder.hpp"
#include "tests/rfb/wire.hpp"

namespace {

using namespace remote::rfb;
using rfb_test::rgba;
using rfb_test::Wire;

Result<std::uint16_t> decode(Framebuffer& fb, const Wire& w, const PixelFormat& f = CLIENT_PIXEL_FORMAT) {
    MemoryStream s(w.bytes);
    return read_framebuffer_update(s, fb, f);
}

std::string error_of(const Result<std::uint16_t>& r) { return r ? std::string("ok") : r.error().message; }

// An update header: padding and the rectangle count.
Wire update(std::uint16_t rects) { return Wire().u8(0).u16(rects); }

TEST(Framebuffer, PixelAccessIsBoundsChecked) {
    Framebuffer fb(3, 2);
    EXPECT_EQ(fb.pixels->size(), 24u);
    fb.set_pixel(2, 1, 0x11223344);
    fb.set_pixel(3, 0, 1);
    fb.set_pixel(0, 2, 1);
    EXPECT_EQ(fb.pixel(2, 1), 0x11223344u);
    EXPECT_EQ((*fb.pixels)[20], 0x44);  // R first
    EXPECT_EQ(fb.pixel(3, 0), 0u);
    EXPECT_EQ(std::count(fb.pixels->begin(), fb.pixels->end(), 0), 20);

    Framebuffer huge(4097, 4096);  // over the limit: empty, reads 0, writes dropped
    EXPECT_TRUE(huge.pixels->empty());
    huge.set_pixel(0, 0, 5);
    EXPECT_EQ(huge.pixel(0, 0), 0u);
    Framebuffer full(4096, 4096);
    EXPECT_EQ(full.pixels->size(), 64u << 20);
}

TEST(Framebuffer, SnapshotKeepsItsPixelsAndBufferIsCopiedOnlyWhenShared) {
    Framebuffer fb(2, 2);
    auto raw_red = update(1).rect(0, 0, 1, 1, 0).bgrx(255, 0, 0);
    ASSERT_TRUE(decode(fb, raw_red));
    const PixelBuffer* own = fb.pixels.get();
    ASSERT_TRUE(decode(fb, raw_red));
    EXPECT_EQ(fb.pixels.get(), own) << "an unshared buffer is written in place";

    Framebuffer snapshot = fb;
    ASSERT_TRUE(decode(fb, update(1).rect(0, 0, 1, 1, 0).bgrx(0, 0, 255)));
    EXPECT_NE(fb.pixels.get(), own);
    EXPECT_EQ(snapshot.pixel(0, 0), rgba(255, 0, 0));
    EXPECT_EQ(snapshot.generation, 2u);
    EXPECT_EQ(fb.pixel(0, 0), rgba(0, 0, 255));
    EXPECT_EQ(fb.generation, 3u);

    Framebuffer again = fb;
    fb.set_pixel(1, 1, 7);  // shared: dropped
    EXPECT_EQ(fb.pixel(1, 1), 0u);

    // A pixel set between updates is kept when the buffer moves again.
    again = {};
    ASSERT_TRUE(decode(fb, update(0)));
    snapshot = {};
    fb.set_pixel(1, 1, 7);
    const Framebuffer held = fb;
    ASSERT_TRUE(decode(fb, update(0)));
    EXPECT_EQ(fb.pixels.get(), own) << "the first buffer, let go, is used again";
    EXPECT_EQ(fb.pixel(1, 1), 7u);
    EXPECT_EQ(fb.pixel(0, 0), rgba(0, 0, 255));
}

TEST(Framebuffer, SnapshotImageSharesThePixelBytes) {
    Framebuffer fb(3, 2);
    ASSERT_TRUE(decode(fb, update(1).rect(0, 0, 1, 1, 0).bgrx(255, 0, 0)));
    const Framebuffer snapshot = fb;
    const zavo_ui::Image a = snapshot_image(snapshot), b = snapshot_image(snapshot);
    EXPECT_EQ(a.data.get(), snapshot.pixels.get()) << "no copy";
    EXPECT_EQ(a.width, 3u);
    EXPECT_EQ(a.height, 2u);
    EXPECT_TRUE(a.is_valid());
    EXPECT_NE(a.blob_id, b.blob_id);
}

TEST(Framebuffer, UpdateHeaderErrors) {
    Framebuffer fb(4, 4);
    EXPECT_EQ(error_of(decode(fb, update(0))), "ok");
    EXPECT_EQ(fb.generation, 1u);
    EXPECT_EQ(std::count(fb.pixels->begin(), fb.pixels->end(), 0), 64);

    EXPECT_EQ(error_of(decode(fb, update(4097))), "RFB update has too many rectangles");
    EXPECT_EQ(error_of(decode(fb, update(4096))), "failed to fill whole buffer");
    EXPECT_EQ(error_of(decode(fb, update(1).rect(0, 0, 1, 1, -239))), "unsupported RFB encoding -239");
    for (std::uint8_t bits : {0, 33}) {
        PixelFormat f = CLIENT_PIXEL_FORMAT;
        f.bits_per_pixel = bits;
        EXPECT_EQ(error_of(decode(fb, update(0), f)), "invalid RFB pixel format") << int(bits);
    }
    fb.generation = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(error_of(decode(fb, update(0))), "RFB framebuffer generation exhausted");
    EXPECT_EQ(fb.generation, std::numeric_limits<std::uint64_t>::max());
}

TEST(Framebuffer, RectangleLimitsAreCheckedBeforeReadingTheirData) {
    // Each case's data stops right after what precedes the check: an accepted size ends in
    // "failed to fill whole buffer", a refused one in its limit error.
    struct Case {
        Wire wire;
        std::string error;
        // clang-format off
    } cases[] = {
        {update(1).rect(0, 0, 4096, 4096, 0), "failed to fill whole buffer"},
        {update(1).rect(0, 0, 4096, 4097, 0), "RFB raw rectangle is too large"},
        {update(1).rect(0, 0, 65535, 65535, 0), "RFB raw rectangle is too large"},
        {update(1).rect(0, 0, 4096, 4097, 1).u16(0).u16(0), "RFB copy rectangle is too large"},
        {update(1).rect(0, 0, 4096, 4097, 1).u16(0), "failed to fill whole buffer"},
        {update(1).rect(0, 0, 4, 4, 2).u32(1000001), "RFB RRE update has too many subrectangles"},
        {update(1).rect(0, 0, 4, 4, 2).u32(1000000).bgrx(0, 0, 0), "failed to fill whole buffer"},
        {update(1).rect(0, 0, 5000, 5000, 2).u32(1), "RRE background rectangle exceeds the pixel work limit"},
        {update(1).rect(0, 0, 4, 4, 2).u32(1).bgrx(0, 0, 0).bgrx(1, 1, 1).u16(0).u16(0).u16(5000).u16(5000),
         "RRE subrectangle exceeds the pixel work limit"},
        {update(1).rect(0, 0, 4, 4, 2).u32(2).bgrx(0, 0, 0).bgrx(1, 1, 1).u16(0).u16(0).u16(4096).u16(4096).bgrx(2, 2, 2)
             .u16(0).u16(0).u16(1).u16(1),
         "RRE subrectangles exceed the pixel work limit"},
    };
    // clang-format on
    for (auto& c : cases) {
        Framebuffer fb(4, 4);
        EXPECT_EQ(error_of(decode(fb, c.wire)), c.error);
        EXPECT_EQ(fb.generation, 0u);
    }
    Framebuffer fb(4, 4);
    // clang-format off
    auto exact = update(1).rect(0, 0, 4, 4, 2).u32(2).bgrx(0, 0, 0).bgrx(1, 1, 1).u16(0).u16(0).u16(4096).u16(4095)
                     .bgrx(9, 9, 9).u16(3).u16(3).u16(4096).u16(1);
    // clang-format on
    EXPECT_EQ(error_of(decode(fb, exact)), "ok") << "subrectangle areas summing to exactly the limit";
    EXPECT_EQ(fb.pixel(3, 3), rgba(9, 9, 9));
    EXPECT_EQ(fb.pixel(2, 3), rgba(1, 1, 1));
}

TEST(Framebuffer, RawClipsAtTheEdgesIncludingSaturatedPositions) {
    Framebuffer fb(65535, 1);
    Wire w = update(1).rect(65500, 0, 100, 2, 0);
    for (int row = 0; row < 2; ++row)
        for (int i = 0; i < 100; ++i) w.bgrx(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(row), 7);
    ASSERT_EQ(error_of(decode(fb, w)), "ok");
    for (int x = 65500; x < 65535; ++x)
        ASSERT_EQ(fb.pixel(static_cast<std::uint16_t>(x), 0), rgba(x - 65500, 0, 7)) << x;
    EXPECT_EQ(fb.pixel(65499, 0), 0u);

    Framebuffer small(3, 3);
    Wire r = update(1).rect(1, 1, 3, 3, 0);
    for (int i = 0; i < 9; ++i) r.bgrx(static_cast<std::uint8_t>(i + 1), 0, 0);
    ASSERT_EQ(error_of(decode(small, r)), "ok");
    EXPECT_EQ(small.pixel(1, 1), rgba(1, 0, 0));
    EXPECT_EQ(small.pixel(2, 1), rgba(2, 0, 0));
    EXPECT_EQ(small.pixel(1, 2), rgba(4, 0, 0));
    EXPECT_EQ(small.pixel(2, 2), rgba(5, 0, 0));
    EXPECT_EQ(small.pixel(0, 0), 0u);
}

TEST(Framebuffer, CopyRectReadsTheWholeSourceBeforeWriting) {
    Framebuffer fb(4, 2);
    Wire row = update(1).rect(0, 0, 4, 2, 0);
    for (int i = 0; i < 8; ++i) row.bgrx(static_cast<std::uint8_t>(10 + i), 0, 0);
    ASSERT_TRUE(decode(fb, row));

    ASSERT_TRUE(decode(fb, update(1).rect(1, 0, 3, 2, 1).u16(0).u16(0)));  // one pixel right, overlapping
    const int want[2][4] = {{10, 10, 11, 12}, {14, 14, 15, 16}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(fb.pixel(static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y)), rgba(want[y][x], 0, 0));

    ASSERT_TRUE(decode(fb, update(1).rect(0, 0, 2, 2, 1).u16(3).u16(1)));  // source mostly outside
    EXPECT_EQ(fb.pixel(0, 0), rgba(16, 0, 0));
    EXPECT_EQ(fb.pixel(1, 0), 0u);
    EXPECT_EQ(fb.pixel(0, 1), 0u);
    EXPECT_EQ(fb.pixel(1, 1), 0u);
}

TEST(Framebuffer, RreFillsBackgroundThenSubrectanglesInOrder) {
    Framebuffer fb(6, 4);
    ASSERT_TRUE(decode(fb, update(1).rect(1, 1, 2, 2, 2).u32(0).bgrx(5, 5, 5)));
    EXPECT_EQ(fb.pixel(1, 1), rgba(5, 5, 5));
    EXPECT_EQ(fb.pixel(2, 2), rgba(5, 5, 5));
    EXPECT_EQ(fb.pixel(3, 2), 0u);

    // the second subrectangle overlaps the first and reaches past the enclosing rectangle
    // clang-format off
    auto w = update(1).rect(0, 0, 3, 2, 2).u32(2).bgrx(1, 1, 1)
                 .bgrx(2, 2, 2).u16(0).u16(0).u16(2).u16(1)
                 .bgrx(3, 3, 3).u16(1).u16(0).u16(5).u16(3);
    // clang-format on
    ASSERT_TRUE(decode(fb, w));
    EXPECT_EQ(fb.pixel(0, 0), rgba(2, 2, 2));
    EXPECT_EQ(fb.pixel(1, 0), rgba(3, 3, 3));
    EXPECT_EQ(fb.pixel(0, 1), rgba(1, 1, 1));
    EXPECT_EQ(fb.pixel(5, 2), rgba(3, 3, 3));
    EXPECT_EQ(fb.pixel(5, 3), 0u);
}

// Random updates, valid and broken, decoded by the fast decoder and by the reference.
class UpdateGenerator {
public:
    explicit UpdateGenerator(std::uint32_t seed) : rng_(seed) {}

    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    PixelFormat format() {
        switch (pick(0, 4)) {
            case 0: return PixelFormat{16, 16, pick(0, 1) == 1, true, 31, 63, 31, 11, 5, 0};
            case 1: return PixelFormat{8, 8, false, true, 7, 7, 3, 0, 3, 6};
            case 2: return PixelFormat{24, 24, pick(0, 1) == 1, true, 255, 255, 255, 0, 8, 16};
            default: return CLIENT_PIXEL_FORMAT;
        }
    }

    std::uint16_t coord(std::uint16_t size) {
        switch (pick(0, 5)) {
            case 0: return static_cast<std::uint16_t>(65535 - pick(0, 40));
            case 1: return static_cast<std::uint16_t>(size + pick(0, 3));
            default: return static_cast<std::uint16_t>(pick(0, size));
        }
    }

    void pixel(Wire& w, std::size_t bpp) {
        for (std::size_t i = 0; i < bpp; ++i) w.u8(static_cast<std::uint32_t>(pick(0, 255)));
    }

    Wire make(std::uint16_t fw, std::uint16_t fh, std::size_t bpp) {
        int rects = pick(0, 6);
        Wire w = update(static_cast<std::uint16_t>(rects));
        for (int i = 0; i < rects; ++i) {
            std::uint16_t x = coord(fw), y = coord(fh);
            std::uint16_t rw = static_cast<std::uint16_t>(pick(0, fw + 2)),
                          rh = static_cast<std::uint16_t>(pick(0, fh + 2));
            int enc = pick(0, 2);
            w.rect(x, y, rw, rh, enc);
            if (enc == 0) {
                for (int p = 0; p < rw * rh; ++p) pixel(w, bpp);
            } else if (enc == 1) {
                w.u16(coord(fw)).u16(coord(fh));
            } else {
                int subs = pick(0, 5);
                w.u32(static_cast<std::uint32_t>(subs));
                pixel(w, bpp);
                for (int s = 0; s < subs; ++s) {
                    pixel(w, bpp);
                    w.u16(coord(fw))
                        .u16(coord(fh))
                        .u16(static_cast<std::uint32_t>(pick(0, fw)))
                        .u16(static_cast<std::uint32_t>(pick(0, fh)));
                }
            }
        }
        if (pick(0, 7) == 0 && !w.bytes.empty())
            w.bytes.resize(static_cast<std::size_t>(pick(0, static_cast<int>(w.bytes.size()) - 1)));
        return w;
    }

private:
    std::mt19937 rng_;
};

TEST(Framebuffer, FastDecoderMatchesThePixelAtATimeReference) {
    for (std::uint32_t seed = 0; seed < 3000; ++seed) {
        UpdateGenerator gen(seed);
        const std::uint16_t fw = static_cast<std::uint16_t>(gen.pick(1, 40)),
                            fh = static_cast<std::uint16_t>(gen.pick(1, 24));
        const PixelFormat f = gen.format();
        const std::size_t bpp = (f.bits_per_pixel + 7u) / 8;
        Framebuffer fast(fw, fh), slow(fw, fh);
        if (gen.pick(0, 9) == 0) {  // a buffer too short for its size: only the pixels it holds are written
            std::size_t keep = static_cast<std::size_t>(gen.pick(0, fw * fh * 4));
            fast.pixels->resize(keep);
            slow.pixels->resize(keep);
        }
        // Snapshots taken at random points, some kept to the end and some let go again (whose
        // buffers the decoder may then write); every one kept must keep its pixels.
        struct Held {
            Framebuffer snapshot;
            PixelBuffer pixels;
        };
        std::vector<Held> held;
        for (int u = 0; u < 10; ++u) {
            if (gen.pick(0, 1)) held.push_back({fast, *fast.pixels});
            if (!held.empty() && gen.pick(0, 2) == 0)
                held.erase(held.begin() + gen.pick(0, static_cast<int>(held.size()) - 1));
            Wire w = gen.make(fw, fh, bpp);
            // The fast decoder judges what it can look ahead at before decoding; often only a
            // little, as a socket's buffer holds only so much.
            MemoryStream a(w.bytes, seed % 3 == 0 ? SIZE_MAX : 12 + seed % 200), b(w.bytes);
            auto ra = read_framebuffer_update(a, fast, f);
            auto rb = rfb_test::reference_update(b, slow, f);
            for (const Held& h : held) ASSERT_EQ(*h.snapshot.pixels, h.pixels) << "seed " << seed << " update " << u;
            ASSERT_EQ(ra.has_value(), rb.has_value()) << "seed " << seed;
            if (!ra) {
                ASSERT_EQ(ra.error(), rb.error()) << "seed " << seed;
                break;  // a failed update leaves an unspecified partial state
            }
            ASSERT_EQ(*ra, *rb);
            ASSERT_EQ(fast.generation, slow.generation);
            ASSERT_EQ(*fast.pixels, *slow.pixels) << "seed " << seed << " update " << u;
        }
    }
}

// The worker's pattern: publish after every update while painting holds the newest snapshot
// and lets the one before go. Two buffers take turns; each catches up on what changed.
TEST(Framebuffer, BuffersLetGoAreWrittenAgainAndCatchUp) {
    Framebuffer fb(64, 32), reference(64, 32);
    std::optional<Framebuffer> shown;
    std::set<const PixelBuffer*> buffers;
    std::mt19937 rng(5);
    for (int u = 0; u < 40; ++u) {
        shown = fb;  // painting takes the newest snapshot; the previous one is let go
        const PixelBuffer before = *shown->pixels;
        const auto x = static_cast<std::uint16_t>(rng() % 60), y = static_cast<std::uint16_t>(rng() % 28);
        Wire w = update(2).rect(x, y, 4, 4, 2).u32(0).bgrx(static_cast<std::uint8_t>(u), 1, 2);
        w.rect(static_cast<std::uint16_t>(rng() % 60), static_cast<std::uint16_t>(rng() % 28), 4, 4, 1).u16(x).u16(y);
        ASSERT_TRUE(decode(fb, w));
        MemoryStream s(w.bytes);
        ASSERT_TRUE(rfb_test::reference_update(s, reference, CLIENT_PIXEL_FORMAT));
        ASSERT_EQ(*shown->pixels, before);
        ASSERT_EQ(*fb.pixels, *reference.pixels) << "update " << u;
        buffers.insert(fb.pixels.get());
    }
    EXPECT_EQ(buffers.size(), 2u) << "published buffers are reused once nobody holds them";
}

// A server may demand writes its bytes do not pay for (CopyRect and RRE fills) only up to a
// few screens' worth per update.
TEST(Framebuffer, PixelWorkOfOneUpdateIsBounded) {
    constexpr std::uint16_t W = 4096, H = 4096;
    // 4096 RRE rectangles, each filling the whole screen: 81,924 bytes with the message type.
    Wire hostile = update(4096);
    for (int i = 0; i < 4096; ++i) hostile.rect(0, 0, W, H, 2).u32(0).bgrx(1, 2, 3);
    EXPECT_EQ(hostile.bytes.size() + 1, 81924u);
    Wire copies = update(4096);
    for (int i = 0; i < 4096; ++i) copies.rect(0, 0, W, H, 1).u16(0).u16(1);
    // A full-screen refresh as a server sends it: a scroll, the new line, and every pixel
    // repainted by RRE: the background and subrectangles covering the screen once more.
    Wire refresh = update(3).rect(0, 0, W, H - 16, 1).u16(0).u16(16).rect(0, H - 16, W, 16, 2).u32(0).bgrx(4, 4, 4);
    refresh.rect(0, 0, W, H, 2).u32(2).bgrx(5, 5, 5).bgrx(6, 6, 6).u16(0).u16(0).u16(W).u16(H / 2);
    refresh.bgrx(7, 7, 7).u16(0).u16(H / 2).u16(W).u16(H / 2);
    struct Case {
        const char* name;
        const Wire& wire;
        std::string error;
    } cases[] = {
        {"screen-sized RRE fills", hostile, "RFB update exceeds the pixel work limit"},
        {"screen-sized copies", copies, "RFB update exceeds the pixel work limit"},
        {"full-screen refresh", refresh, "ok"},
    };
    Framebuffer fb(W, H);
    for (const Case& c : cases) {
        const std::uint64_t generation = fb.generation;
        // Judged from what a socket's buffer holds ahead, with painting holding the last picture:
        // a refused update writes nothing and does not even take a buffer of its own.
        const Framebuffer shown = fb;
        MemoryStream s(c.wire.bytes, 64 * 1024);
        EXPECT_EQ(error_of(read_framebuffer_update(s, fb, CLIENT_PIXEL_FORMAT)), c.error) << c.name;
        EXPECT_EQ(fb.generation, generation + (c.error == "ok")) << c.name;
        if (c.error != "ok") {
            EXPECT_EQ(fb.pixels, shown.pixels) << c.name;
        }
    }
    EXPECT_EQ(fb.pixel(5, 5), rgba(6, 6, 6));
    EXPECT_EQ(fb.pixel(5, H - 1), rgba(7, 7, 7));

    // Past what can be looked ahead at, the rest is judged once what came before is decoded: an
    // update longer than that may be refused after its first part was written.
    Wire long_one = update(3).rect(0, 0, 2, 2, 2).u32(0).bgrx(8, 8, 8).rect(0, 0, 16, 16, 0);
    for (int i = 0; i < 256; ++i) long_one.bgrx(9, 9, 9);
    long_one.rect(0, 0, 1, 1, 7);
    MemoryStream s(long_one.bytes, 256);
    EXPECT_EQ(error_of(read_framebuffer_update(s, fb, CLIENT_PIXEL_FORMAT)), "unsupported RFB encoding 7");
    EXPECT_EQ(fb.pixel(0, 0), rgba(9, 9, 9));
}

TEST(Framebuffer, RectanglesDecodedIntoASharedBufferWriteNothing) {
    Framebuffer fb(4, 4);
    Framebuffer snapshot = fb;
    const RectHeader r{0, 0, 2, 2, 0};
    Wire raw;
    for (int i = 0; i < 4; ++i) raw.bgrx(1, 2, 3);
    MemoryStream s(raw.append(Wire().u16(0).u16(0).bytes).append(Wire().u32(0).bgrx(4, 4, 4).bytes).bytes);
    EXPECT_TRUE(read_raw_rect(s, fb, r, CLIENT_PIXEL_FORMAT, 4));
    EXPECT_TRUE(read_copy_rect(s, fb, {1, 1, 2, 2, 1}));
    EXPECT_TRUE(read_rre_rect(s, fb, {0, 0, 4, 4, 2}, CLIENT_PIXEL_FORMAT, 4));
    EXPECT_EQ(s.remaining(), 0u);
    EXPECT_EQ(std::count(fb.pixels->begin(), fb.pixels->end(), 0), 64);
}

}  // namespace
