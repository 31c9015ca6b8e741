// Encoded video as the relay delivers it: the input is a run of access units, each prefixed by
// its length (two bytes, big-endian), decoded in order by one decoder. Every picture must be
// complete: width * height * 4 bytes, opaque.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "zavo_callstream/decoder.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zavo_callstream::decoder::H264Decoder decoder;
    std::span<const std::uint8_t> rest(data, size);
    while (rest.size() >= 2) {
        const std::size_t n = std::min<std::size_t>(rest.size() - 2, std::size_t{rest[0]} << 8 | rest[1]);
        auto picture = decoder.decode(rest.subspan(2, n));
        rest = rest.subspan(2 + n);
        if (!picture) continue;
        if (picture->width == 0 || picture->height == 0 ||
            picture->rgba.size() != std::size_t{picture->width} * picture->height * 4)
            std::abort();
        for (std::size_t i = 3; i < picture->rgba.size(); i += 4)
            if (picture->rgba[i] != 255) std::abort();
    }
    return 0;
}
