// FramebufferUpdate decoding from memory, each against a reference run in the same program:
// Raw against memcpy of the same bytes, CopyRect against memmove of the area, RRE in Mpixel/s,
// a small update with a snapshot held against the same update with none.
#include <benchmark/benchmark.h>

#include <cstring>
#include <optional>
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

// The worker's real cost per update: painting holds the newest snapshot while the next update
// is decoded, and lets it go when it takes the one after.
void BM_RawDecodeWithSnapshot(benchmark::State& state) {
    const Wire& w = raw_update();
    Framebuffer fb(W, H);
    std::optional<Framebuffer> shown;
    for (auto _ : state) {
        shown = fb;
        MemoryStream s(w.bytes);
        auto r = read_framebuffer_update(s, fb, CLIENT_PIXEL_FORMAT);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(shown->pixels->data());
    }
    set_bytes_per_iteration(state, W * H * 4);
}
BENCHMARK(BM_RawDecodeWithSnapshot)->Unit(benchmark::kMillisecond);

// A 64 x 64 Raw update on a 3840 x 2160 desktop, at a different place each time (a cursor
// trail, a typed word), with painting holding the newest snapshot (arg 1) or nothing (arg 0).
void BM_SmallUpdateOn4K(benchmark::State& state) {
    constexpr std::uint16_t W4 = 3840, H4 = 2160, S = 64;
    std::vector<Wire> updates;
    std::mt19937 rng(3);
    for (int i = 0; i < 64; ++i) {
        Wire u;
        u.u8(0).u16(1).rect(static_cast<std::uint16_t>(rng() % (W4 - S)), static_cast<std::uint16_t>(rng() % (H4 - S)),
                            S, S, 0);
        for (int p = 0; p < S * S; ++p) u.bgrx(std::uint8_t(rng()), std::uint8_t(i), 7);
        updates.push_back(std::move(u));
    }
    const bool hold = state.range(0) != 0;
    Framebuffer fb(W4, H4);
    std::optional<Framebuffer> shown;
    std::size_t next = 0;
    for (auto _ : state) {
        if (hold) shown = fb;
        MemoryStream s(updates[next].bytes);
        next = (next + 1) % updates.size();
        auto r = read_framebuffer_update(s, fb, CLIENT_PIXEL_FORMAT);
        benchmark::DoNotOptimize(r);
    }
    state.SetLabel(hold ? "snapshot held" : "no snapshot");
}
BENCHMARK(BM_SmallUpdateOn4K)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

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
    state.counters["Mpixel/s"] = benchmark::Counter(
        static_cast<double>(pixels) * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Rre10000)->Unit(benchmark::kMillisecond);

// An update a server should not send: 4096 RRE rectangles each filling a 4096 x 4096 desktop,
// 81,924 bytes. It is refused from its headers, as far as a socket's 64 KiB buffer looks ahead,
// while painting holds the last picture; the reference copies the update's bytes once.
const Wire& hostile_rre() {
    static const Wire w = [] {
        Wire u;
        u.u8(0).u16(4096);
        for (int i = 0; i < 4096; ++i) u.rect(0, 0, 4096, 4096, 2).u32(0).bgrx(1, 2, 3);
        return u;
    }();
    return w;
}

void BM_HostileRreRefused(benchmark::State& state) {
    const Wire& w = hostile_rre();
    Framebuffer fb(4096, 4096);
    const Framebuffer shown = fb;
    for (auto _ : state) {
        MemoryStream s(w.bytes, 64 * 1024);
        auto r = read_framebuffer_update(s, fb, CLIENT_PIXEL_FORMAT);
        if (r) state.SkipWithError("the hostile update was accepted");
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_HostileRreRefused)->Unit(benchmark::kMicrosecond);

void BM_HostileRreBytesMemcpyReference(benchmark::State& state) {
    const Wire& w = hostile_rre();
    std::vector<std::uint8_t> dst(w.bytes.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), w.bytes.data(), dst.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    set_bytes_per_iteration(state, static_cast<std::int64_t>(w.bytes.size()));
}
BENCHMARK(BM_HostileRreBytesMemcpyReference)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
