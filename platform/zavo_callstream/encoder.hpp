#pragma once
// H.264 encoding of RGBA pictures, for the devices that the relay simulates.
#include <cstdint>
#include <span>
#include <vector>

class ISVCEncoder;

namespace zavo_callstream::encoder {

// Encodes pictures of one fixed size into Annex B access units (Baseline profile, one slice,
// a key frame every `key_interval` pictures).
class H264Encoder {
public:
    // Width and height must be even and non-zero; `valid` tells whether the encoder was set up.
    H264Encoder(std::uint32_t width, std::uint32_t height, float frame_rate = 30.0f, std::uint32_t key_interval = 30);
    ~H264Encoder();
    H264Encoder(H264Encoder&& other) noexcept;
    H264Encoder& operator=(H264Encoder&& other) noexcept;
    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    bool valid() const { return encoder_ != nullptr; }
    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }

    // One access unit for the picture (R, G, B, A bytes, rows top to bottom, `width` * 4 a row);
    // empty when the picture has the wrong size or the encoder failed.
    std::vector<std::uint8_t> encode_rgba(std::span<const std::uint8_t> rgba);

    // The next picture is encoded as a key frame with its parameter sets.
    void force_key_frame();

private:
    ISVCEncoder* encoder_ = nullptr;
    std::uint32_t width_ = 0;
    std::uint32_t height_ = 0;
    std::uint64_t pictures_ = 0;
    float frame_rate_ = 30.0f;
    std::vector<std::uint8_t> i420_;
};

}  // namespace zavo_callstream::encoder
