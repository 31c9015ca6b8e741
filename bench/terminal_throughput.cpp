// The terminal and its parser against libvterm on the same 64 MiB of mixed session output.
//
//   BM_PumpFlood   a host's flood through SshSession::pump_output, queued in 32 KiB chunks as
//                  the worker queues them and taken one pump a frame: 160 KiB of a character and
//                  REP 65535 after it, 4 MiB of ED 2, and as the reference 4 MiB of the mixed output;
//                  counters longest_ms (the longest single pump), pumps and total_ms.
#include <benchmark/benchmark.h>
#include <vterm.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <span>
#include <string>

#include "ssh/ssh_session.hpp"
#include "vt/parser.hpp"
#include "vt/terminal.hpp"

namespace {

constexpr std::size_t kStreamSize = 64u << 20;
constexpr std::size_t kWriteSize = 64u << 10;

// Text, colours, cursor moves, erases and UTF-8 in proportions like a busy shell's.
const std::string& stream() {
    static const std::string bytes = [] {
        std::mt19937 rng(42);
        std::string s;
        s.reserve(kStreamSize + 64);
        const char* utf8[] = {"\xc3\xa9", "\xe2\x82\xac", "\xe6\x97\xa5\xe6\x9c\xac", "\xf0\x9f\x98\x80", "\xc3\xbc"};
        while (s.size() < kStreamSize) {
            unsigned pick = rng() % 100;
            if (pick < 60) {
                int len = 2 + rng() % 9;
                for (int i = 0; i < len; ++i) s += char('a' + rng() % 26);
                s += ' ';
            } else if (pick < 72) {
                s += "\r\n";
            } else if (pick < 82) {
                static const char* sgr[] = {"\x1b[0m", "\x1b[1;31m", "\x1b[32m", "\x1b[1;94m", "\x1b[39;22m", "\x1b[m"};
                s += sgr[rng() % 6];
            } else if (pick < 88) {
                s += "\x1b[" + std::to_string(1 + rng() % 24) + ";" + std::to_string(1 + rng() % 80) + "H";
            } else if (pick < 91) {
                static const char* moves[] = {"\x1b[K", "\x1b[A", "\x1b[3C", "\x1b[2D", "\t", "\b"};
                s += moves[rng() % 6];
            } else {
                s += utf8[rng() % 5];
            }
        }
        s.resize(kStreamSize);
        return s;
    }();
    return bytes;
}

template <typename Write>
void feed_in_writes(Write&& write) {
    const std::string& s = stream();
    for (std::size_t off = 0; off < s.size(); off += kWriteSize)
        write(s.data() + off, std::min(kWriteSize, s.size() - off));
}

void BM_TerminalOurs(benchmark::State& state) {
    for (auto _ : state) {
        remote::Terminal terminal(80, 24);
        feed_in_writes([&](const char* p, std::size_t n) {
            terminal.feed(std::span(reinterpret_cast<const std::uint8_t*>(p), n));
        });
        benchmark::DoNotOptimize(terminal.row(0).data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kStreamSize));
}

void BM_TerminalLibvterm(benchmark::State& state) {
    for (auto _ : state) {
        VTerm* vt = vterm_new(24, 80);
        vterm_set_utf8(vt, 1);
        VTermScreen* screen = vterm_obtain_screen(vt);
        vterm_screen_reset(screen, 1);
        feed_in_writes([&](const char* p, std::size_t n) { vterm_input_write(vt, p, n); });
        VTermScreenCell cell;
        vterm_screen_get_cell(screen, VTermPos{0, 0}, &cell);
        benchmark::DoNotOptimize(cell);
        vterm_free(vt);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kStreamSize));
}

// Callbacks that do nothing but keep the compiler from dropping the work; a run of printable
// ASCII is one event, as one text callback is for libvterm.
struct CountingPerformer : remote::vt::NullPerformer {
    std::size_t events = 0;
    void print(char32_t) { ++events; }
    void print_ascii(std::span<const std::uint8_t>) { ++events; }
    void execute(std::uint8_t) { ++events; }
    void csi_dispatch(const remote::vt::Params&, remote::vt::Intermediates, bool, char) { ++events; }
};

void BM_ParserOurs(benchmark::State& state) {
    for (auto _ : state) {
        remote::vt::Parser parser;
        CountingPerformer performer;
        feed_in_writes([&](const char* p, std::size_t n) {
            parser.advance(performer, std::span(reinterpret_cast<const std::uint8_t*>(p), n));
        });
        benchmark::DoNotOptimize(performer.events);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kStreamSize));
}

std::size_t g_events = 0;
// libvterm hands the text callback everything that is left; it takes the printable run.
int on_text(const char* bytes, size_t len, void*) {
    ++g_events;
    size_t n = 0;
    while (n < len && static_cast<unsigned char>(bytes[n]) >= 0x20 && bytes[n] != 0x7f) ++n;
    return int(n);
}
int on_control(unsigned char, void*) {
    ++g_events;
    return 1;
}
int on_escape(const char*, size_t, void*) { return 1; }
int on_csi(const char*, const long[], int, const char*, char, void*) {
    ++g_events;
    return 1;
}
int on_osc(const char*, size_t, void*) { return 1; }
int on_dcs(const char*, size_t, void*) { return 1; }
int on_resize(int, int, void*) { return 1; }

void BM_ParserLibvterm(benchmark::State& state) {
    static const VTermParserCallbacks callbacks = {on_text, on_control, on_escape, on_csi, on_osc, on_dcs, on_resize};
    for (auto _ : state) {
        VTerm* vt = vterm_new(24, 80);
        vterm_set_utf8(vt, 1);
        vterm_parser_set_callbacks(vt, &callbacks, nullptr);
        feed_in_writes([&](const char* p, std::size_t n) { vterm_input_write(vt, p, n); });
        benchmark::DoNotOptimize(g_events);
        vterm_free(vt);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kStreamSize));
}

const std::string& flood(int kind) {
    static const std::string floods[] = {
        [] {
            std::string s;
            while (s.size() < (160u << 10)) s += "x\x1b[65535b";
            return s;
        }(),
        [] {
            std::string s;
            while (s.size() < (4u << 20)) s += "\x1b[2J";
            return s;
        }(),
        stream().substr(0, 4u << 20),
        [] {
            // A row of accented letters, then combining marks on its last cell.
            std::string s = "\x1b[H";
            for (int i = 0; i < 80; ++i) s += "e\xcc\x81";
            while (s.size() < (4u << 20)) s += "\xcc\x81";
            return s;
        }(),
        [] {
            // Cursor reports asked for.
            std::string s;
            while (s.size() < (4u << 20)) s += "\x1b[6n";
            return s;
        }(),
    };
    return floods[kind];
}

void BM_PumpFlood(benchmark::State& state) {
    using namespace remote;
    using Clock = std::chrono::steady_clock;
    const std::string& bytes = flood(int(state.range(0)));
    constexpr std::size_t kChunk = 32u << 10;
    double longest = 0.0, total = 0.0;
    std::size_t pumps = 0;
    for (auto _ : state) {
        auto [output_tx, output_rx] = make_bounded_channel<SshChunk>(kSshOutputCapacity);
        auto [input_tx, input_rx] = make_bounded_channel<SshInput>(kSshInputCapacity);
        SshSession session(Terminal(80, 24), make_shared_cell(SessionStatus::connected()), std::move(output_rx),
                           std::move(input_tx), make_shared_cell<std::optional<HostKeyProblem>>(std::nullopt));
        longest = total = 0.0;
        pumps = 0;
        std::size_t sent = 0;
        bool more = true;
        while (more) {
            // The worker fills what room the queue has, then the frame pumps once.
            while (sent < bytes.size()) {
                const std::size_t n = std::min(kChunk, bytes.size() - sent);
                if (!output_tx.try_send(SshChunk(bytes.begin() + std::ptrdiff_t(sent),
                                                 bytes.begin() + std::ptrdiff_t(sent + n))))
                    break;
                sent += n;
            }
            const auto t0 = Clock::now();
            more = session.pump_output() || sent < bytes.size();
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            longest = std::max(longest, ms);
            total += ms;
            ++pumps;
        }
        benchmark::DoNotOptimize(session.terminal.row(0).data());
    }
    state.counters["longest_ms"] = longest;
    state.counters["pumps"] = double(pumps);
    state.counters["total_ms"] = total;
    static const char* const labels[] = {"160 KiB of x REP 65535", "4 MiB of ED 2", "4 MiB of mixed output",
                                         "4 MiB of combining marks on a marked row", "4 MiB of cursor reports asked"};
    state.SetLabel(labels[state.range(0)]);
}

BENCHMARK(BM_PumpFlood)->DenseRange(0, 4)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TerminalOurs)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_TerminalLibvterm)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ParserOurs)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ParserLibvterm)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
