#include "zavo_callstream/picture_pool.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <vector>

#include "zavo_callstream/decoder.hpp"
#include "zavo_callstream/encoder.hpp"

namespace {

using namespace zavo_callstream::decoder;

PictureBytes filled(PicturePool& pool, std::size_t size, std::uint8_t value) {
    PicturePool::Buffer buffer = pool.take(size);
    std::fill(buffer->begin(), buffer->end(), value);
    return pool.share(std::move(buffer));
}

TEST(PicturePool, ABufferLetGoIsUsedAgainAsItWas) {
    PicturePool pool;
    PictureBytes first = filled(pool, 64, 7);
    const std::uint8_t* bytes = first.data();
    PictureBytes copy = first;
    first = {};
    EXPECT_EQ(pool.idle(), 0u) << "a copy still holds it";
    copy = {};
    EXPECT_EQ(pool.idle(), 1u);
    PicturePool::Buffer again = pool.take(64);
    EXPECT_EQ(again->data(), bytes);
    EXPECT_EQ(*again, std::vector<std::uint8_t>(64, 7)) << "not cleared";
}

TEST(PicturePool, NeverHandsOutABufferStillHeldAndKeepsFewIdle) {
    PicturePool pool(2);
    std::vector<PictureBytes> held;
    std::set<const std::uint8_t*> in_use;
    for (int round = 0; round < 50; ++round) {
        PictureBytes picture = filled(pool, 256, static_cast<std::uint8_t>(round));
        ASSERT_FALSE(in_use.contains(picture.data())) << "round " << round;
        in_use.insert(picture.data());
        held.push_back(std::move(picture));
        // Let go of some, oldest first, now and then.
        while (held.size() > static_cast<std::size_t>(round % 4)) {
            in_use.erase(held.front().data());
            held.erase(held.begin());
        }
        for (std::size_t i = 0; i < held.size(); ++i)
            ASSERT_EQ(held[i], PictureBytes(std::vector<std::uint8_t>(256, held[i][0]))) << "round " << round;
        ASSERT_LE(pool.idle(), 2u);
    }
    EXPECT_EQ(pool.take(100)->size(), 100u) << "an idle buffer of another size is resized";
}

TEST(PicturePool, PicturesMayOutliveTheirPool) {
    std::optional<PicturePool> pool(std::in_place, 2);
    PictureBytes picture = filled(*pool, 32, 3);
    pool.reset();
    EXPECT_EQ(picture[31], 3);
    picture = {};  // freed, not returned: the leak checker sees nothing left behind
}

TEST(PicturePool, DecoderWritesEachPictureIntoABufferLetGo) {
    constexpr std::uint32_t W = 64, H = 48;
    zavo_callstream::encoder::H264Encoder encoder(W, H);
    H264Decoder decoder, reference;
    std::vector<std::uint8_t> picture(std::size_t{W} * H * 4, 40);
    const auto unit = [&](std::uint8_t shade) {
        std::fill(picture.begin(), picture.end(), shade);
        return encoder.encode_rgba(picture);
    };
    const auto first_unit = unit(40), second_unit = unit(200);
    auto first = decoder.decode(first_unit);
    ASSERT_TRUE(first);
    const std::uint8_t* bytes = first->rgba.data();
    first.reset();
    auto second = decoder.decode(second_unit);
    (void)reference.decode(first_unit);  // the same stream into buffers of its own
    auto expected = reference.decode(second_unit);
    ASSERT_TRUE(second && expected);
    EXPECT_EQ(second->rgba.data(), bytes);
    EXPECT_EQ(*second, *expected);
}

}  // namespace
