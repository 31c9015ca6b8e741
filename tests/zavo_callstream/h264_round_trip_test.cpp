#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "zavo_callstream/decoder.hpp"
#include "zavo_callstream/encoder.hpp"

namespace {

using zavo_callstream::decoder::DecodedFrame;
using zavo_callstream::decoder::H264Decoder;
using zavo_callstream::encoder::H264Encoder;

constexpr std::uint32_t W = 320;
constexpr std::uint32_t H = 240;

struct Rgb {
    std::uint8_t r, g, b;
};

// Four flat quadrants: red, green, blue, white.
constexpr std::array<Rgb, 4> QUADRANTS{{{220, 30, 30}, {30, 200, 40}, {30, 40, 210}, {235, 235, 235}}};

std::vector<std::uint8_t> quadrant_picture() {
    std::vector<std::uint8_t> rgba(std::size_t{W} * H * 4);
    for (std::uint32_t y = 0; y < H; ++y)
        for (std::uint32_t x = 0; x < W; ++x) {
            const Rgb& c = QUADRANTS[(y >= H / 2 ? 2 : 0) + (x >= W / 2 ? 1 : 0)];
            std::uint8_t* p = &rgba[(std::size_t{y} * W + x) * 4];
            p[0] = c.r;
            p[1] = c.g;
            p[2] = c.b;
            p[3] = 255;
        }
    return rgba;
}

// Mean absolute difference per channel over the quadrant's inner area (away from edges, where
// chroma subsampling blurs).
double quadrant_error(const DecodedFrame& frame, int quadrant) {
    const Rgb& c = QUADRANTS[static_cast<std::size_t>(quadrant)];
    const std::uint32_t x0 = (quadrant % 2) * (W / 2) + 16, y0 = (quadrant / 2) * (H / 2) + 16;
    double sum = 0;
    int n = 0;
    for (std::uint32_t y = y0; y < y0 + H / 2 - 32; ++y)
        for (std::uint32_t x = x0; x < x0 + W / 2 - 32; ++x) {
            const std::uint8_t* p = &frame.rgba[(std::size_t{y} * frame.width + x) * 4];
            sum += std::abs(p[0] - c.r) + std::abs(p[1] - c.g) + std::abs(p[2] - c.b);
            n += 3;
        }
    return sum / n;
}

TEST(H264RoundTrip, KnownPictureSurvivesWithinCodecTolerance) {
    H264Encoder encoder(W, H);
    ASSERT_TRUE(encoder.valid());
    H264Decoder decoder;
    const auto picture = quadrant_picture();

    // A key frame, then predicted frames of the same picture: each decodes on its own arrival.
    for (int i = 0; i < 3; ++i) {
        const auto unit = encoder.encode_rgba(picture);
        ASSERT_FALSE(unit.empty());
        auto frame = decoder.decode(unit);
        ASSERT_TRUE(frame.has_value()) << "frame " << i;
        EXPECT_EQ(frame->width, W);
        EXPECT_EQ(frame->height, H);
        ASSERT_EQ(frame->rgba.size(), std::size_t{W} * H * 4);
        for (int q = 0; q < 4; ++q) EXPECT_LT(quadrant_error(*frame, q), 6.0) << "frame " << i << " quadrant " << q;
        for (std::size_t p = 3; p < frame->rgba.size(); p += 4) ASSERT_EQ(frame->rgba[p], 255);
    }
}

TEST(H264RoundTrip, ChangesReachThePicture) {
    H264Encoder encoder(W, H);
    H264Decoder decoder;
    auto picture = quadrant_picture();
    ASSERT_TRUE(decoder.decode(encoder.encode_rgba(picture)));
    // Paint the whole top-left quadrant white in the next, predicted frame.
    for (std::uint32_t y = 0; y < H / 2; ++y)
        for (std::uint32_t x = 0; x < W / 2; ++x)
            for (int c = 0; c < 3; ++c) picture[(std::size_t{y} * W + x) * 4 + c] = 235;
    auto frame = decoder.decode(encoder.encode_rgba(picture));
    ASSERT_TRUE(frame);
    const std::uint8_t* p = &frame->rgba[(std::size_t{H / 4} * W + W / 4) * 4];
    EXPECT_NEAR(p[0], 235, 8);
    EXPECT_NEAR(p[1], 235, 8);
    EXPECT_NEAR(p[2], 235, 8);
}

// A frame decoded without its picture still serves the frames after it; the last one decoded is
// converted when asked, as decoding it with its picture would have given it.
TEST(H264RoundTrip, FramesDecodedWithoutTheirPictureAreConvertedWhenAsked) {
    H264Encoder encoder(W, H);
    H264Decoder decoder;
    H264Decoder reference;
    auto picture = quadrant_picture();
    EXPECT_FALSE(decoder.last_picture()) << "nothing decoded yet";
    for (int i = 0; i < 4; ++i) {
        for (std::size_t p = 0; p < picture.size(); p += 4) picture[p] = std::uint8_t(40 * i);
        const auto unit = encoder.encode_rgba(picture);
        EXPECT_FALSE(decoder.decode(unit, false)) << "frame " << i;
        const auto expected = reference.decode(unit);
        ASSERT_TRUE(expected) << "frame " << i;
        EXPECT_EQ(decoder.last_picture(), expected) << "frame " << i;
    }
    EXPECT_FALSE(decoder.decode(std::vector<std::uint8_t>{0, 0, 0, 1, 0x65}, false));
    EXPECT_FALSE(decoder.last_picture()) << "a frame without a picture leaves none to convert";
}

TEST(H264RoundTrip, BytesWithoutAPictureYieldNone) {
    H264Encoder encoder(W, H);
    const auto key = encoder.encode_rgba(quadrant_picture());
    ASSERT_GT(key.size(), 64u);

    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<std::uint8_t> noise(4096);
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<std::uint8_t>(i * 7919 >> 3);
    const std::vector<Case> cases{
        {"empty", {}},
        {"noise", noise},
        {"start code alone", {0, 0, 0, 1}},
        {"truncated key frame", std::vector<std::uint8_t>(key.begin(), key.begin() + key.size() / 2)},
    };
    for (const auto& c : cases) {
        H264Decoder decoder;
        EXPECT_FALSE(decoder.decode(c.bytes).has_value()) << c.name;
    }
}

TEST(H264RoundTrip, PredictedFrameWithoutItsKeyFrameYieldsNone) {
    H264Encoder encoder(W, H);
    const auto picture = quadrant_picture();
    (void)encoder.encode_rgba(picture);
    const auto predicted = encoder.encode_rgba(picture);
    H264Decoder decoder;
    EXPECT_FALSE(decoder.decode(predicted).has_value());
    // A later key frame recovers the stream.
    encoder.force_key_frame();
    EXPECT_TRUE(decoder.decode(encoder.encode_rgba(picture)).has_value());
}

TEST(H264RoundTrip, MovedFromDecoderYieldsNoPictures) {
    H264Encoder encoder(W, H);
    const auto key = encoder.encode_rgba(quadrant_picture());
    H264Decoder decoder;
    H264Decoder taken = std::move(decoder);
    EXPECT_FALSE(decoder.decode(key).has_value());  // NOLINT(bugprone-use-after-move)
    EXPECT_TRUE(taken.decode(key).has_value());
}

TEST(H264Encoder, RefusesSizesItCannotEncode) {
    EXPECT_FALSE(H264Encoder(0, 240).valid());
    EXPECT_FALSE(H264Encoder(321, 240).valid());
    H264Encoder encoder(W, H);
    EXPECT_TRUE(encoder.encode_rgba(std::vector<std::uint8_t>(16)).empty());
}

}  // namespace
