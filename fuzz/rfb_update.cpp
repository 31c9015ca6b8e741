// FramebufferUpdates from arbitrary bytes, decoded by the fast decoder and by the pixel-at-a-time
// reference: both must agree on every result, and on every pixel after a successful update.
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>
#include <span>

#include "rfb/framebuffer.hpp"
#include "tests/rfb/reference_decoder.hpp"

using namespace remote::rfb;

namespace {

PixelFormat format_for(std::uint8_t choice) {
    switch (choice % 6) {
        case 0: return PixelFormat{16, 16, false, true, 31, 63, 31, 11, 5, 0};
        case 1: return PixelFormat{16, 16, true, true, 31, 63, 31, 11, 5, 0};
        case 2: return PixelFormat{8, 8, false, true, 7, 7, 3, 0, 3, 6};
        case 3: return PixelFormat{24, 24, true, true, 255, 255, 255, 0, 8, 16};
        case 4: return PixelFormat{static_cast<std::uint8_t>(choice), 24, false, true, 1023, 255, 7, 20, 40, 3};
        default: return CLIENT_PIXEL_FORMAT;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::uint16_t width = static_cast<std::uint16_t>(1 + data[0] % 80);
    const std::uint16_t height = static_cast<std::uint16_t>(1 + data[1] % 60);
    const PixelFormat format = format_for(data[2]);
    const std::uint8_t flags = data[3];
    std::span<const std::uint8_t> rest(data + 4, size - 4);

    Framebuffer fast(width, height), slow(width, height);
    if (flags & 0x80) fast.generation = slow.generation = ~std::uint64_t{0} - (flags & 3);
    // The fast decoder judges as far as it can look ahead, at times only a little way.
    MemoryStream a(rest, (flags & 0x40) ? 12 + std::size_t{data[1]} : SIZE_MAX), b(rest);
    // Snapshots taken before some updates and let go, oldest first, before others: a held one
    // must never change, and buffers let go are written again.
    std::vector<std::pair<Framebuffer, PixelBuffer>> held;
    for (int update = 0; update < 16; ++update) {
        if (flags & (1 << (update % 7))) {
            held.emplace_back(fast, *fast.pixels);
        } else if (!held.empty()) {
            held.erase(held.begin());
        }
        auto ra = read_framebuffer_update(a, fast, format);
        auto rb = rfb_test::reference_update(b, slow, format);
        for (const auto& [snapshot, before] : held)
            if (*snapshot.pixels != before) std::abort();  // a snapshot changed
        if (ra.has_value() != rb.has_value()) std::abort();
        if (!ra) {
            if (ra.error() != rb.error()) std::abort();
            break;
        }
        if (*ra != *rb || fast.generation != slow.generation || *fast.pixels != *slow.pixels) std::abort();
        if (a.remaining() != b.remaining()) std::abort();
        if (a.remaining() == 0) break;
    }
    return 0;
}
