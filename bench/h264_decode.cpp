// Decoding a 1280 x 720 H.264 stream into RGBA pictures, against OpenH264's decoding alone on
// the same stream: the difference is what the conversion to RGBA costs, into buffers that
// painting has let go.
#include <benchmark/benchmark.h>
#include <wels/codec_api.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "zavo_callstream/decoder.hpp"
#include "zavo_callstream/encoder.hpp"
#include "zavo_ui/relay/test_picture.hpp"

namespace {

constexpr std::uint32_t W = 1280;
constexpr std::uint32_t H = 720;
constexpr int FRAMES = 60;

using Stream = std::vector<std::vector<std::uint8_t>>;

// Moving content everywhere: a drifting colour field with fine detail, like camera video.
Stream moving_stream() {
    zavo_callstream::encoder::H264Encoder encoder(W, H, 30.0f, FRAMES);
    std::vector<std::uint8_t> rgba(std::size_t{W} * H * 4);
    Stream stream;
    for (int f = 0; f < FRAMES; ++f) {
        for (std::uint32_t y = 0; y < H; ++y)
            for (std::uint32_t x = 0; x < W; ++x) {
                std::uint8_t* p = &rgba[(std::size_t{y} * W + x) * 4];
                const double t = f * 0.15;
                p[0] = static_cast<std::uint8_t>(128 + 100 * std::sin(x * 0.02 + t) + ((x * 7 + y * 13 + f) & 15));
                p[1] = static_cast<std::uint8_t>(128 + 100 * std::sin(y * 0.03 - t));
                p[2] = static_cast<std::uint8_t>(128 + 100 * std::sin((x + y) * 0.01 + 2 * t));
                p[3] = 255;
            }
        stream.push_back(encoder.encode_rgba(rgba));
    }
    return stream;
}

// A simulated device's screen with the pointer moving over it: mostly unchanged blocks.
Stream screen_stream() {
    zavo_callstream::encoder::H264Encoder encoder(W, H, 30.0f, FRAMES);
    zavo_ui::device_relay::TestPicture picture("Studio Node", W, H);
    zavo_ui::device_relay::DeviceScreenState state;
    state.has_pointer = true;
    Stream stream;
    for (int f = 0; f < FRAMES; ++f) {
        state.frame = static_cast<std::uint64_t>(f);
        state.pointer_x = 100 + f * 15;
        state.pointer_y = 200 + f * 6;
        stream.push_back(encoder.encode_rgba(picture.render(state)));
    }
    return stream;
}

const Stream& stream_for(int content) {
    static const Stream moving = moving_stream();
    static const Stream screen = screen_stream();
    return content == 0 ? moving : screen;
}

void set_label(benchmark::State& state, int content) {
    state.SetLabel(content == 0 ? "moving video" : "device screen");
}

// The reference: OpenH264 alone, the picture left in its I420 planes.
void BM_OpenH264DecodeOnly(benchmark::State& state) {
    const Stream& stream = stream_for(static_cast<int>(state.range(0)));
    ISVCDecoder* decoder = nullptr;
    WelsCreateDecoder(&decoder);
    int quiet = WELS_LOG_QUIET;
    decoder->SetOption(DECODER_OPTION_TRACE_LEVEL, &quiet);
    SDecodingParam param{};
    param.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_AVC;
    param.eEcActiveIdc = ERROR_CON_DISABLE;
    decoder->Initialize(&param);
    std::int64_t pictures = 0;
    for (auto _ : state) {
        for (const auto& unit : stream) {
            unsigned char* planes[3] = {};
            SBufferInfo info{};
            decoder->DecodeFrameNoDelay(unit.data(), static_cast<int>(unit.size()), planes, &info);
            benchmark::DoNotOptimize(planes[0]);
            pictures += info.iBufferStatus == 1;
        }
    }
    decoder->Uninitialize();
    WelsDestroyDecoder(decoder);
    state.counters["pictures/s"] = benchmark::Counter(static_cast<double>(pictures), benchmark::Counter::kIsRate);
    set_label(state, static_cast<int>(state.range(0)));
}

void BM_H264DecoderToRgba(benchmark::State& state) {
    const Stream& stream = stream_for(static_cast<int>(state.range(0)));
    zavo_callstream::decoder::H264Decoder decoder;
    std::int64_t pictures = 0;
    // Painting holds the picture it shows while the next one is decoded.
    std::optional<zavo_callstream::decoder::DecodedFrame> shown;
    for (auto _ : state) {
        for (const auto& unit : stream) {
            auto picture = decoder.decode(unit);
            benchmark::DoNotOptimize(picture);
            pictures += picture.has_value();
            if (picture) shown = std::move(picture);
        }
    }
    state.counters["pictures/s"] = benchmark::Counter(static_cast<double>(pictures), benchmark::Counter::kIsRate);
    set_label(state, static_cast<int>(state.range(0)));
}

}  // namespace

BENCHMARK(BM_OpenH264DecodeOnly)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_H264DecoderToRgba)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
