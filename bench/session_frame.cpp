// One frame of a connected session, as the window paints it: RemoteApp::paint builds the scene
// (polling the session first) and the Qt backend replays it into a 1280 x 800 image.
//
//   BM_RemotePictureFrame   a VNC session with a new 1920 x 1080 picture each frame, scaled to fit;
//                           each frame is followed by the reference, a bare QPainter::drawImage of
//                           the same picture into the same rectangle (counters reference_ms, ratio;
//                           cpu_ratio compares the CPU time of all threads, which load disturbs less)
//   BM_TerminalFrame        an SSH session with a full 80 x 24 grid of coloured text
//
// Goals: ratio at most 1.3; the terminal frame under 2 ms.
//
// Frames with nothing new, as the framework's host makes them for the window (scene, comparison
// with the frame shown, and a repaint of what differs into the window's backing store), against
// the first frame that shows the content in the same run:
//
//   BM_UnchangedTerminalFrame  the terminal after a full screen of new output (counters first_ms,
//                              the frame that shows it; ratio; repaints, of the unchanged frames)
//   BM_UnchangedPictureFrame   a 1920 x 1080 picture at Fit after a new generation, as above
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>

#include <time.h>

#include <chrono>
#include <random>
#include <string>

#include "bench/session_window.hpp"
#include "tests/views/session_harness.hpp"
#include "zavo_ui/host/host.hpp"
#include "zavo_ui/qt/frames.hpp"

namespace {

using namespace remote;

// The application showing the session screen of its first connection of `kind`.
struct Window : bench_support::SessionWindow {
    explicit Window(ConnectionKind kind) : SessionWindow(RemoteApp::with_sample_data(), kind) {}
};

// CPU time of every thread of the process (Qt scales pictures on a pool of threads).
double process_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

std::shared_ptr<rfb::PixelBuffer> noise_picture(std::size_t width, std::size_t height) {
    auto pixels = std::make_shared<rfb::PixelBuffer>(width * height * 4);
    std::mt19937 rng(7);
    for (std::size_t i = 0; i < pixels->size(); i += 4) {
        const auto v = rng();
        (*pixels)[i] = std::uint8_t(v);
        (*pixels)[i + 1] = std::uint8_t(v >> 8);
        (*pixels)[i + 2] = std::uint8_t(v >> 16);
        (*pixels)[i + 3] = 255;
    }
    return pixels;
}

void BM_RemotePictureFrame(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    Window window(ConnectionKind::Vnc);
    views_test::VncHarness vnc(*window.app);
    rfb::Framebuffer fb(1920, 1080);
    fb.pixels = noise_picture(1920, 1080);
    const QImage picture(fb.pixels->data(), 1920, 1080, 1920 * 4, QImage::Format_RGBA8888);
    std::uint64_t generation = 0;
    double frames = 0, references = 0, frame_cpu = 0, reference_cpu = 0;
    for (auto _ : state) {
        // The worker publishes a newer generation over the same pixels each frame.
        fb.generation = ++generation;
        vnc.frame->set(fb);
        const auto start = Clock::now();
        const double cpu_start = process_cpu_seconds();
        window.frame();
        const auto painted = Clock::now();
        const double cpu_painted = process_cpu_seconds();
        // The reference draws into the rectangle the frame drew the picture in.
        const zavo_ui::Rect d = *window.app->session.surface_rect();
        QPainter painter(&window.target);
        painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
        painter.drawImage(QRectF(d.x0, d.y0, d.width(), d.height()), picture);
        painter.end();
        benchmark::DoNotOptimize(window.target.constBits());
        const auto drawn = Clock::now();
        frame_cpu += cpu_painted - cpu_start;
        reference_cpu += process_cpu_seconds() - cpu_painted;
        const double frame = std::chrono::duration<double>(painted - start).count();
        frames += frame;
        references += std::chrono::duration<double>(drawn - painted).count();
        state.SetIterationTime(frame);
    }
    state.counters["reference_ms"] = 1000.0 * references / double(state.iterations());
    state.counters["ratio"] = frames / references;
    state.counters["cpu_ratio"] = frame_cpu / reference_cpu;
    state.counters["items"] = double(window.scene.items().size());
}
BENCHMARK(BM_RemotePictureFrame)->UseManualTime()->Unit(benchmark::kMillisecond);

// 24 rows of 80 columns: words in the sixteen colours and the default one, some bold.
std::string coloured_screen(unsigned seed = 11) {
    std::mt19937 rng(seed);
    std::string out;
    for (int row = 0; row < 24; ++row) {
        int col = 0;
        while (col < 80) {
            const int len = std::min<int>(80 - col, 2 + int(rng() % 9));
            const int colour = int(rng() % 17);
            out += colour == 16 ? "\x1b[0m"
                                : "\x1b[" + std::string(rng() % 4 == 0 ? "1;" : "0;") +
                                      std::to_string(colour < 8 ? 30 + colour : 90 + colour - 8) + "m";
            for (int i = 0; i < len; ++i) out += char(i + 1 == len && col + len < 80 ? ' ' : 'a' + rng() % 26);
            col += len;
        }
        out += "\x1b[0m";
        if (row < 23) out += "\r\n";
    }
    return out;
}

void BM_TerminalFrame(benchmark::State& state) {
    Window window(ConnectionKind::Ssh);
    views_test::SshHarness ssh(*window.app);
    ssh.write(coloured_screen());
    window.frame();  // drains the output into the grid
    for (auto _ : state) window.frame();
    std::size_t texts = 0;
    for (const auto& item : window.scene.items()) texts += std::holds_alternative<zavo_ui::scene_item::TextItem>(item);
    state.counters["texts"] = double(texts);
}
BENCHMARK(BM_TerminalFrame)->Unit(benchmark::kMillisecond);

// The application under the framework's host in a 1280 x 800 window whose backing store is an
// image, on the session screen of its first connection of `kind`.
struct HostWindow : zavo_ui::host::Window {
    bool qt = (test_support::offscreen_app(), true);
    zavo_ui::qt::Painting painting;
    zavo_ui::theme::Theme theme = zavo_ui::theme::Theme::dark();
    RemoteApp* app;
    zavo_ui::host::Host host;
    QImage store{1280, 800, QImage::Format_RGB32};
    std::uint64_t repaints = 0;

    HostWindow(std::unique_ptr<RemoteApp> a, ConnectionKind kind)
        : app(a.get()), host(std::move(a), theme, painting.text, zavo_ui::Size{1280, 800}, 1.0) {
        app->screen = Screen::session(*app->first_connection_of_kind(kind));
        host.attach_window(*this);
    }
    ~HostWindow() override { host.detach_window(); }

    void request_frame(zavo_ui::host::FramePace) override {}
    void present(std::span<const zavo_ui::Rect> damage) override {
        ++repaints;
        QPainter painter(&store);
        zavo_ui::qt::PainterFrame frame(painter, painting);
        host.present(frame, damage);
    }
    void post(std::function<void()>) override {}
    void post_after(std::chrono::milliseconds, std::function<void()>) override {}
};

// Each iteration: `show_new` makes something new, the frame that shows it is timed as the
// reference, then one frame with nothing new is the measured time.
template <class ShowNew>
void unchanged_frames(benchmark::State& state, HostWindow& window, ShowNew show_new) {
    using Clock = std::chrono::steady_clock;
    window.host.frame();
    double firsts = 0, unchanged = 0;
    std::uint64_t repaints = 0;
    for (auto _ : state) {
        show_new();
        const auto start = Clock::now();
        window.host.frame();
        const auto shown = Clock::now();
        const std::uint64_t before = window.repaints;
        window.host.frame();
        const auto done = Clock::now();
        repaints += window.repaints - before;
        firsts += std::chrono::duration<double>(shown - start).count();
        const double frame = std::chrono::duration<double>(done - shown).count();
        unchanged += frame;
        state.SetIterationTime(frame);
        benchmark::DoNotOptimize(window.store.constBits());
    }
    state.counters["first_ms"] = 1000.0 * firsts / double(state.iterations());
    state.counters["ratio"] = unchanged / firsts;
    state.counters["repaints"] = double(repaints);
}

void BM_UnchangedTerminalFrame(benchmark::State& state) {
    HostWindow window(RemoteApp::with_sample_data(), ConnectionKind::Ssh);
    views_test::SshHarness ssh(*window.app);
    const std::string screens[2] = {coloured_screen(11), coloured_screen(12)};
    int next = 0;
    unchanged_frames(state, window, [&] { ssh.write("\x1b[H" + screens[next++ % 2]); });
}
BENCHMARK(BM_UnchangedTerminalFrame)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_UnchangedPictureFrame(benchmark::State& state) {
    HostWindow window(RemoteApp::with_sample_data(), ConnectionKind::Vnc);
    views_test::VncHarness vnc(*window.app);
    rfb::Framebuffer fb(1920, 1080);
    fb.pixels = noise_picture(1920, 1080);
    unchanged_frames(state, window, [&] {
        ++fb.generation;
        vnc.frame->set(fb);
    });
    state.counters["scale_to_fit"] = double(window.app->session.scale_to_fit());
}
BENCHMARK(BM_UnchangedPictureFrame)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
