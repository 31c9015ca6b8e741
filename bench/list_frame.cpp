// One frame of the connection list with 10,000 saved connections at 1280 x 800: the
// application building its scene (real text metrics), the Qt backend replaying that scene
// into an image, and both together, against filling the frame alone in the same run.
//
//   BM_ListFrameScene        RemoteApp::paint into a scene (the list's order and counts kept
//                            from the frame before, as between two frames of a running window)
//   BM_ListFrameSceneAfterEdit  the same after a sync that changed one connection (its favourite
//                            flag, so its row moves), each frame the list a sync would hand over
//   BM_ListFrameSceneAfterLongRename  the same, the edit making the name of a row in view
//                            100,000 characters long
//   BM_ListFrameSceneAfterSync  the same after a sync that changed every connection: names,
//                            presence and hosts (device rows get another endpoint id)
//   BM_ListFrameReplay       the Qt backend replaying one such scene into the frame image; sprites_kb
//                            what its sprite cache holds for the frame
//   BM_ListFrameWhole        both; counter x_fill = its time over BM_FillFrame's
//   BM_FillFrame             the same 1280 x 800 image filled with the background, the reference
//   BM_ListFrameScrolled     whole frames of the list scrolled end to end, each frame 600 px (and
//                            with half=1 600.5 px) further, so every frame shows rows the frame
//                            before did not; x_fill as above, sprites_kb the most the painter's
//                            sprite cache held after a frame, rss_growth_kb how much the process's
//                            peak memory grew over the whole scroll
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <QImage>
#include <QPainter>

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/remote_app.hpp"
#include "support/offscreen_app.hpp"
#include "zavo_ui/qt/qt_text_renderer.hpp"
#include "zavo_ui/qt/scene_painter.hpp"
#include "zavo_ui/simulated_devices.hpp"
#include "zavo_ui/theme.hpp"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<remote::SavedConnection> ten_thousand() {
    using namespace remote;
    static const char* words[] = {"Build", "Studio", "Garage", "Office", "Rack", "Lab", "Edge", "Node", "Vault", "Pi"};
    static const char* groups[] = {"lab", "home", "prod", "work", "staging", "Zavo", "edge", "backup"};
    const std::string device = zavo_ui::simulated_devices::SIMULATED_DEVICES[0].endpoint_id();
    std::mt19937 rng(7);
    std::vector<SavedConnection> list;
    list.reserve(10'000);
    for (int i = 0; i < 10'000; ++i) {
        SavedConnection c;
        c.kind = static_cast<ConnectionKind>(i % 4);
        c.name = fmt::format("{} {} {}", words[rng() % 10], words[rng() % 10], i);
        c.host = c.kind == ConnectionKind::Zavo ? device : fmt::format("host-{}.example.net", rng() % 100000);
        c.port = c.kind == ConnectionKind::Zavo ? 0 : 22;
        c.user = c.kind == ConnectionKind::Ssh ? "admin" : "";
        c.auth = c.kind == ConnectionKind::Zavo ? AuthKind::DeviceIdentity : AuthKind::Password;
        c.group = groups[rng() % 8];
        c.presence = static_cast<Presence>(rng() % 3);
        c.last_used = "2h ago";
        c.favorite = rng() % 16 == 0;
        c.id = Uuid::new_v4();
        list.push_back(std::move(c));
    }
    return list;
}

// The application on its list, laid out in a 1280 x 800 window, scrolled into the middle.
struct ListWindow {
    std::unique_ptr<remote::RemoteApp> app = remote::RemoteApp::with_data(ten_thousand(), {});
    zavo_ui::qt::TextEngine engine;
    zavo_ui::qt::QtTextRenderer text{engine};
    zavo_ui::theme::Theme theme = zavo_ui::theme::Theme::dark();
    zavo_ui::DrawContext draw;
    zavo_ui::qt::ImageCache images;
    zavo_ui::Scene scene;

    ListWindow() {
        test_support::offscreen_app();
        app->window_bounds = {0, 0, 1280, 800};
        app->last_narrow = false;
        app->snap_nav_flap();
        app->list_scroll = 80.0 * 5000;
        build();  // the first frame makes the order, the counts and the row metrics
    }
    void build() {
        scene.reset();
        app->paint(scene, zavo_ui::Affine::identity(), text, theme, draw);
    }
    // Into the same image every frame, as the window paints into its backing store.
    void replay() {
        frame.fill(Qt::black);
        QPainter painter(&frame);
        zavo_ui::qt::paint_scene(painter, scene, engine, images);
        painter.end();
        images.end_frame();
    }
    QImage frame{1280, 800, QImage::Format_ARGB32_Premultiplied};
};

ListWindow& window() {
    static ListWindow w;
    return w;
}

// The reference: the same image filled with the window's background.
void fill_frame() {
    ListWindow& w = window();
    w.frame.fill(zavo_ui::qt::to_qcolor(w.theme.colors.background));
    benchmark::DoNotOptimize(w.frame.constBits());
}

// Seconds per fill, measured in this run.
double fill_seconds() {
    static const double seconds = [] {
        for (int i = 0; i < 20; ++i) fill_frame();
        const int n = 400;
        const auto start = Clock::now();
        for (int i = 0; i < n; ++i) fill_frame();
        return std::chrono::duration<double>(Clock::now() - start).count() / n;
    }();
    return seconds;
}

void BM_ListFrameScene(benchmark::State& state) {
    ListWindow& w = window();
    for (auto _ : state) w.build();
    state.counters["items"] = double(w.scene.items().size());
    state.counters["regions"] = double(w.app->hit_regions.size());
}
BENCHMARK(BM_ListFrameScene)->Unit(benchmark::kMicrosecond);

// Frames that each follow a sync: the window's list and `other` take turns, as a sync replaces
// the list with what it loaded. The list is put back afterwards.
void frames_after_syncs(benchmark::State& state, remote::ConnectionList other) {
    ListWindow& w = window();
    for (auto _ : state) {
        std::swap(w.app->connections, other);
        w.build();
    }
    if (state.iterations() % 2 == 1) std::swap(w.app->connections, other);
    w.build();
}

void BM_ListFrameSceneAfterEdit(benchmark::State& state) {
    remote::ConnectionList edited = window().app->connections;
    edited[edited.size() / 3].favorite = !edited[edited.size() / 3].favorite;
    edited.touch();
    frames_after_syncs(state, std::move(edited));
}
BENCHMARK(BM_ListFrameSceneAfterEdit)->Unit(benchmark::kMicrosecond);

// As after an edit, the edit making the name of a row in view 100,000 characters long (the
// row's texts are laid out again every frame).
void BM_ListFrameSceneAfterLongRename(benchmark::State& state) {
    ListWindow& w = window();
    remote::ConnectionList renamed = w.app->connections;
    const auto shown = std::ranges::find_if(w.app->hit_regions, [](const remote::HitRegion& r) {
        return r.command.kind == remote::UiCommand::Kind::Select;
    });
    if (shown == w.app->hit_regions.end()) return state.SkipWithError("no row in view");
    for (remote::SavedConnection& c : renamed)
        if (c.id == *shown->command.id()) c.name += std::string(100'000, 'n');
    renamed.touch();
    frames_after_syncs(state, std::move(renamed));
}
BENCHMARK(BM_ListFrameSceneAfterLongRename)->Unit(benchmark::kMicrosecond);

void BM_ListFrameSceneAfterSync(benchmark::State& state) {
    using zavo_ui::simulated_devices::SIMULATED_DEVICES;
    remote::ConnectionList changed = window().app->connections;
    const std::string device = SIMULATED_DEVICES[0].endpoint_id();
    const std::string other_device = SIMULATED_DEVICES[1].endpoint_id();
    for (remote::SavedConnection& c : changed) {
        c.name += " (moved)";
        c.presence = static_cast<remote::Presence>((static_cast<int>(c.presence) + 1) % 3);
        c.host = c.kind == remote::ConnectionKind::Zavo ? (c.host == device ? other_device : device) : "b." + c.host;
    }
    changed.touch();
    frames_after_syncs(state, std::move(changed));
}
BENCHMARK(BM_ListFrameSceneAfterSync)->Unit(benchmark::kMicrosecond);

void BM_ListFrameReplay(benchmark::State& state) {
    ListWindow& w = window();
    w.build();
    for (auto _ : state) w.replay();
    state.counters["sprites_kb"] = double(w.images.sprites().bytes()) / 1024.0;
}
BENCHMARK(BM_ListFrameReplay)->Unit(benchmark::kMicrosecond);

// Seconds to build and replay one frame.
double whole_frame(ListWindow& w) {
    const auto start = Clock::now();
    w.build();
    w.replay();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_ListFrameWhole(benchmark::State& state) {
    ListWindow& w = window();
    const double fill = fill_seconds();
    double total = 0;
    for (auto _ : state) total += whole_frame(w);
    state.counters["x_fill"] = total / double(state.iterations()) / fill;
}
BENCHMARK(BM_ListFrameWhole)->Unit(benchmark::kMicrosecond);

void BM_FillFrame(benchmark::State& state) {
    for (auto _ : state) fill_frame();
}
BENCHMARK(BM_FillFrame)->Unit(benchmark::kMicrosecond);

long peak_rss_kb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void BM_ListFrameScrolled(benchmark::State& state) {
    ListWindow& w = window();
    const double fill = fill_seconds();
    const double step = double(state.range(0)) + 0.5 * double(state.range(1));
    const double kept = w.app->list_scroll;
    w.app->list_scroll = 0.0;
    const long rss_before = peak_rss_kb();
    double total = 0;
    std::size_t sprites = 0;
    for (auto _ : state) {
        total += whole_frame(w);
        sprites = std::max(sprites, w.images.sprites().bytes());
        w.app->list_scroll = w.app->list_scroll >= w.app->list_scroll_max ? 0.0 : w.app->list_scroll + step;
    }
    state.counters["x_fill"] = total / double(state.iterations()) / fill;
    state.counters["sprites_kb"] = double(sprites) / 1024.0;
    state.counters["rss_growth_kb"] = double(peak_rss_kb() - rss_before);
    w.app->list_scroll = kept;
    w.build();
}
// Enough frames to pass every row once.
BENCHMARK(BM_ListFrameScrolled)
    ->ArgNames({"step_px", "half"})
    ->Args({600, 0})
    ->Args({600, 1})
    ->Iterations(1400)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
