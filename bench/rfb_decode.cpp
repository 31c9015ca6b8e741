// FramebufferUpdate decoding from memory, each against a reference run in the same program:
// Raw against memcpy of the same bytes, CopyRect against memmove of the area, RRE in Mpixel/s.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

#include "rfb/framebuffer.hpp"
#include "tests/rfb/reference_decoder.hpp"
#include "tests/rfb/wire.hpp"

namespace {

using namespace remote::rfb;
using rfb_test::Wire;

constexpr std::uint16_t W = 1920;
constexpr std::uint16_t H = 1080;

// Decodes the update into one screen-sized framebuffer, once an iteration.
void decode_each_iteration(benchmark::State& state, const Wire& w) {
    Framebuffer fb(W, H);
    for (auto _ : state) {
        MemoryStream s(w.bytes);
        auto r = read_framebuffer_update(s, fb, CLIENT_PIXEL_FORMAT);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(fb.pixels->data());
    }
}

void set_bytes_per_iteration(benchmark::State& state, std::int64_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * bytes);
}

const Wire& raw_update() {
    static const Wire w = [] {
        Wire u;
        u.u8(0).u16(1).rect(0, 0, W, H, 0);
        std::mt19937 rng(1);
        u.bytes.reserve(u.bytes.size() + std::size_t{W} * H * 4);
        for (std::size_t i = 0; i < std::size_t{W} * H; ++i) {
            std::uint32_t v = rng();
            u.raw({std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), 0});
        }
        return u;
    }();
    return w;
}

void BM_RawDecode(benchmark::State& state) {
    const Wire& w = raw_update();
    decode_each_iteration(state, w);
    set_bytes_per_iteration(state, W * H * 4);
}
BENCHMARK(BM_RawDecode)->Unit(benchmark::kMillisecond);

// The worker's real cost per update: a published snapshot makes the update copy the buffer first.
void BM_RawDecodeWithSnapshot(benchmark::State& state) {
    const Wire& w = raw_update();
    Framebuffer fb(W, H);
    for (auto _ : state) {
        Framebuffer snapshot = fb;
        MemoryStream s(w.bytes);
        auto r = read_framebuffer_update(s, fb, CLIENT_PIXEL_FORMAT);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(snapshot.pixels->data());
    }
    set_bytes_per_iteration(state, W * H * 4);
}
BENCHMARK(BM_RawDecodeWithSnapshot)->Unit(benchmark::kMillisecond);

void BM_RawPixelAtATimeReference(benchmark::State& state) {
    const Wire& w = raw_update();
    Framebuffer fb(W, H);
    for (auto _ : state) {
        MemoryStream s(w.bytes);
        auto r = rfb_test::reference_update(s, fb, CLIENT_PIXEL_FORMAT);
        benchmark::DoNotOptimize(r);
    }
    set_bytes_per_iteration(state, W * H * 4);
}
BENCHMARK(BM_RawPixelAtATimeReference)->Unit(benchmark::kMillisecond);

void BM_RawMemcpyReference(benchmark::State& state) {
    const Wire& w = raw_update();
    std::vector<std::uint8_t> dst(std::size_t{W} * H * 4);
    const std::uint8_t* src = w.bytes.data() + 16;
    for (auto _ : state) {
        std::memcpy(dst.data(), src, dst.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    set_bytes_per_iteration(state, W * H * 4);
}
BENCHMARK(BM_RawMemcpyReference)->Unit(benchmark::kMillisecond);

// A whole-screen scroll by one row: the area below the top row moves up.
void BM_CopyRectScroll(benchmark::State& state) {
    Wire w;
    w.u8(0).u16(1).rect(0, 0, W, H - 1, 1).u16(0).u16(1);
    decode_each_iteration(state, w);
    set_bytes_per_iteration(state, W * (H - 1) * 4);
}
BENCHMARK(BM_CopyRectScroll)->Unit(benchmark::kMillisecond);

// The same scroll for a window one column narrower than the screen: moved row by row.
void BM_CopyRectScrollRows(benchmark::State& state) {
    Wire w;
    w.u8(0).u16(1).rect(1, 0, W - 1, H - 1, 1).u16(1).u16(1);
    decode_each_iteration(state, w);
    set_bytes_per_iteration(state, (W - 1) * (H - 1) * 4);
}
BENCHMARK(BM_CopyRectScrollRows)->Unit(benchmark::kMillisecond);

void BM_CopyRectMemmoveReference(benchmark::State& state) {
    std::vector<std::uint8_t> buf(std::size_t{W} * H * 4);
    const std::size_t stride = std::size_t{W} * 4;
    for (auto _ : state) {
        std::memmove(buf.data(), buf.data() + stride, stride * (H - 1));
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    set_bytes_per_iteration(state, W * (H - 1) * 4);
}
BENCHMARK(BM_CopyRectMemmoveReference)->Unit(benchmark::kMillisecond);

// A full-screen RRE rectangle with 10,000 subrectangles of up to 64 x 64 pixels.
void BM_Rre10000(benchmark::State& state) {
    Wire w;
    w.u8(0).u16(1).rect(0, 0, W, H, 2).u32(10000).bgrx(1, 2, 3);
    std::mt19937 rng(7);
    std::uint64_t pixels = std::uint64_t{W} * H;
    for (int i = 0; i < 10000; ++i) {
        std::uint16_t sw = static_cast<std::uint16_t>(1 + rng() % 64), sh = static_cast<std::uint16_t>(1 + rng() % 64);
        w.bgrx(std::uint8_t(i), std::uint8_t(i >> 8), 9).u16(rng() % (W - sw)).u16(rng() % (H - sh)).u16(sw).u16(sh);
        pixels += std::uint64_t{sw} * sh;
    }
    decode_each_iteration(state, w);
    state.counters["Mpixel/s"] = benchmark::Counter(static_cast<double>(pixels) * static_cast<double>(state.iterations()) / 1e6,
                                                    benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Rre10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
