// Start-up and idle cost of the program on the offscreen platform, measured from outside:
// each run starts the program, reads its frame log (SPDLOG_LEVEL=debug, on standard error)
// from a pipe and its peak memory from /proc. The widget gallery, a small program on the same framework, runs as
// the reference.
//
//   first_frame_ms   process start to the first painted frame
//   idle_paints      frames painted during two idle seconds after the first frame settled
//   peak_rss_mb      peak resident memory of the idle program
//
// In process: the cost of one frame of the Qt backend (a list-like scene with cards, texts and
// a remote picture replayed into a 1280 x 800 image), against filling the same image.
#include <benchmark/benchmark.h>

#include <QImage>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/offscreen_app.hpp"
#include "support/temp_dir.hpp"
#include "zavo_ui/qt/qt_text_renderer.hpp"
#include "zavo_ui/qt/scene_painter.hpp"
#include "zavo_ui/surface.hpp"
#include "zavo_ui/theme.hpp"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Measured {
    bool ok = false;
    std::string error;
    double first_frame_ms = 0;
    int idle_paints = 0;
    double peak_rss_mb = 0;
};

double peak_rss_mb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

// Starts `program` offscreen, waits for its first frame, then counts frames for `idle`.
Measured measure(const std::string& program, std::vector<std::string> args, bool sample,
                 std::chrono::milliseconds idle) {
    Measured m;
    if (!fs::exists(program)) {
        m.error = program + " is not built";
        return m;
    }
    const test_support::TempDir tmp("zavo-startup-bench-");
    const fs::path home = tmp.path();
    fs::create_directories(home / "runtime");
    fs::permissions(home / "runtime", fs::perms::owner_all);

    std::vector<std::string> envs;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        for (const char* drop :
             {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=", "SPDLOG_LEVEL=", "ZAVO_REMOTE_SAMPLE=", "XDG_"}) {
            if (entry.rfind(drop, 0) == 0) entry.clear();
        }
        if (!entry.empty()) envs.push_back(entry);
    }
    envs.push_back("QT_QPA_PLATFORM=offscreen");
    envs.push_back("SPDLOG_LEVEL=debug");
    envs.push_back("XDG_RUNTIME_DIR=" + (home / "runtime").string());
    envs.push_back("XDG_DATA_HOME=" + (home / "data").string());
    envs.push_back("XDG_STATE_HOME=" + (home / "state").string());
    envs.push_back("XDG_CONFIG_HOME=" + (home / "config").string());
    if (sample) envs.push_back("ZAVO_REMOTE_SAMPLE=1");
    std::vector<char*> envp;
    for (auto& e : envs) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
        m.error = "pipe failed";
        return m;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 2);  // spdlog writes to stderr
    const auto start = Clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    if (spawned != 0) {
        close(pipe_fds[0]);
        m.error = "cannot start " + program;
        return m;
    }

    std::string pending;
    int frames = 0;
    std::optional<Clock::time_point> first;
    std::optional<Clock::time_point> idle_from;
    int frames_at_idle = 0;
    const auto deadline = start + std::chrono::seconds(10);
    bool open = true;
    while (open && Clock::now() < deadline) {
        const auto now = Clock::now();
        // Idle counting starts half a second after the first frame, once start-up work settled.
        if (first && !idle_from && now >= *first + std::chrono::milliseconds(500)) {
            idle_from = now;
            frames_at_idle = frames;
        }
        if (idle_from && now >= *idle_from + idle) break;
        pollfd p{pipe_fds[0], POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        char buf[4096];
        const ssize_t n = read(pipe_fds[0], buf, sizeof buf);
        if (n <= 0) {
            open = false;
            break;
        }
        pending.append(buf, size_t(n));
        for (std::size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1)) {
            if (pending.substr(0, nl).find("] frame ") == std::string::npos) continue;
            ++frames;
            if (!first) first = Clock::now();
        }
    }
    if (first && idle_from) {
        m.ok = true;
        m.first_frame_ms = std::chrono::duration<double, std::milli>(*first - start).count();
        m.idle_paints = frames - frames_at_idle;
        m.peak_rss_mb = peak_rss_mb(pid);
    } else {
        m.error = open ? program + " painted no frame in time" : program + " ended before it idled";
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    close(pipe_fds[0]);
    return m;
}

void report(benchmark::State& state, const Measured& m) {
    if (!m.ok) {
        state.SkipWithError(m.error.c_str());
        return;
    }
    state.SetIterationTime(m.first_frame_ms / 1000.0);
    state.counters["first_frame_ms"] = m.first_frame_ms;
    state.counters["idle_paints"] = m.idle_paints;
    state.counters["peak_rss_mb"] = m.peak_rss_mb;
}

const std::string kBin = REMOTE_BINARY_DIR;

void BM_GalleryReference(benchmark::State& state) {
    for (auto _ : state) report(state, measure(kBin + "/zavo_ui_gallery", {}, false, std::chrono::seconds(2)));
}
BENCHMARK(BM_GalleryReference)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_RemoteWithSampleData(benchmark::State& state) {
    for (auto _ : state) report(state, measure(kBin + "/remote", {}, true, std::chrono::seconds(2)));
}
BENCHMARK(BM_RemoteWithSampleData)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

using test_support::offscreen_app;

// Forty cards with a name, a target line and a chip, and a 1920 x 1080 picture scaled into a
// quarter of the window.
zavo_ui::Scene list_scene(zavo_ui::text_render::TextRenderer& text) {
    using namespace zavo_ui;
    const theme::Theme theme = theme::Theme::dark();
    const auto& c = theme.colors;
    Scene scene;
    scene.fill_color(Affine::identity(), c.background, Rect{0, 0, 1280, 800});
    for (int i = 0; i < 40; ++i) {
        const double x = 80 + (i % 2) * 560, y = 20 + (i / 2) * 38;
        surface::card(scene, Affine::identity(), Rect{x, y, x + 540, y + 34}, c.surface, 10);
        text.draw_text_weighted(scene, Affine::translate(x + 12, y + 8), "Build box " + std::to_string(i), 16, 2,
                                c.text_primary);
        text.draw_text(scene, Affine::translate(x + 200, y + 10), "admin@10.0.0." + std::to_string(i) + ":22", 13,
                       c.text_secondary);
        surface::pill(scene, Affine::identity(), Rect{x + 440, y + 8, x + 480, y + 26}, c.success.with_alpha(0.18f));
    }
    static const Image picture = [] {
        std::vector<std::uint8_t> px(std::size_t(1920) * 1080 * 4, 200);
        return Image::from_vector(std::move(px), 1920, 1080);
    }();
    const Rect d{640, 400, 1280, 760};
    scene.fill(Fill::NonZero, Affine::identity(), ImageBrush{picture},
               Affine::translate(d.x0, d.y0) * Affine::scale_non_uniform(d.width() / 1920, d.height() / 1080), d);
    return scene;
}

void BM_ReplayListFrame(benchmark::State& state) {
    offscreen_app();
    zavo_ui::qt::TextEngine engine;
    zavo_ui::qt::QtTextRenderer text(engine);
    zavo_ui::qt::ImageCache images;
    const zavo_ui::Scene scene = list_scene(text);
    for (auto _ : state) {
        QImage frame = zavo_ui::qt::render_scene(scene, zavo_ui::Size{1280, 800}, 1.0, Qt::black, engine, images);
        benchmark::DoNotOptimize(frame.constBits());
        images.end_frame();
    }
    state.counters["items"] = double(scene.items().size());
}
BENCHMARK(BM_ReplayListFrame)->Unit(benchmark::kMillisecond);

void BM_FillFrameReference(benchmark::State& state) {
    offscreen_app();
    for (auto _ : state) {
        QImage frame(1280, 800, QImage::Format_ARGB32_Premultiplied);
        frame.fill(Qt::black);
        benchmark::DoNotOptimize(frame.constBits());
    }
}
BENCHMARK(BM_FillFrameReference)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
