#pragma once
// H.264 decoding of a device's video stream into RGBA pictures.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "zavo_callstream/picture_pool.hpp"

class ISVCDecoder;

namespace zavo_callstream::decoder {

// One decoded picture: 4 bytes a pixel (R, G, B, A; A is 255), rows top to bottom, no padding.
// Its buffer goes back to the decoder's pool when the last holder lets go of it.
struct DecodedFrame {
    PictureBytes rgba;
    std::uint32_t width = 0;
    std::uint32_t height = 0;

    friend bool operator==(const DecodedFrame&, const DecodedFrame&) = default;
};

// Decodes one Annex B access unit at a time. Construction never fails: a decoder that could not
// be set up yields no pictures.
class H264Decoder {
public:
    H264Decoder();
    ~H264Decoder();
    H264Decoder(H264Decoder&& other) noexcept;
    H264Decoder& operator=(H264Decoder&& other) noexcept;
    H264Decoder(const H264Decoder&) = delete;
    H264Decoder& operator=(const H264Decoder&) = delete;

    // The picture the frame completes, or none (parameter sets only, corrupt or truncated data,
    // or a decoder that could not be created). With `picture` false the frame is decoded, as
    // the frames after it need, but not converted to RGBA, and none is returned.
    std::optional<DecodedFrame> decode(std::span<const std::uint8_t> frame, bool picture = true);
    // The picture the last decode completed, converted now; none when it completed none.
    std::optional<DecodedFrame> last_picture();

private:
    // The decoder's own planes of the last picture, valid until the next decode.
    struct Planes {
        const unsigned char* y = nullptr;
        const unsigned char* u = nullptr;
        const unsigned char* v = nullptr;
        int luma_stride = 0;
        int chroma_stride = 0;
        int width = 0;
        int height = 0;
    };
    std::optional<Planes> last_;
    ISVCDecoder* decoder_ = nullptr;
    // Buffers of pictures let go, written again without clearing.
    PicturePool pool_;
};

}  // namespace zavo_callstream::decoder
