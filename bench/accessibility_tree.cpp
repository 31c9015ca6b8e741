// The accessibility tree of a list of 10,000 saved connections: building it, and the bridge's
// refresh that exports it to Qt (what a frame costs while a screen reader listens), against
// sorting the visible rows alone in the same run.
#include "app/remote_app.hpp"
#include "profiles/connection_list.hpp"
#include "zavo_ui/qt/accessibility.hpp"
#include "zavo_ui/qt/frames.hpp"
#include "zavo_ui/theme.hpp"

#include <QGuiApplication>
#include <QWindow>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace remote;

namespace {

std::unique_ptr<RemoteApp> app_with(std::size_t count) {
    std::vector<SavedConnection> list;
    for (std::size_t i = 0; i < count; ++i) {
        SavedConnection c;
        c.name = "machine " + std::to_string(i);
        c.host = "host-" + std::to_string(i) + ".example.net";
        c.port = 22;
        c.user = "ops";
        c.kind = static_cast<ConnectionKind>(i % 4);
        c.auth = c.kind == ConnectionKind::Zavo ? AuthKind::DeviceIdentity : AuthKind::Password;
        c.id = Uuid::new_v4();
        list.push_back(std::move(c));
    }
    auto app = RemoteApp::with_data(std::move(list), {});
    app->window_bounds = {0, 0, 1280, 800};
    return app;
}

void BM_VisibleRowsOnly(benchmark::State& state) {
    auto app = app_with(10'000);
    for (auto _ : state) benchmark::DoNotOptimize(visible_connections(app->connections, ""));
}
BENCHMARK(BM_VisibleRowsOnly)->Unit(benchmark::kMillisecond);

void BM_AccessibilityTree(benchmark::State& state) {
    auto app = app_with(10'000);
    for (auto _ : state) benchmark::DoNotOptimize(app->accessibility_tree());
}
BENCHMARK(BM_AccessibilityTree)->Unit(benchmark::kMillisecond);

void BM_BridgeRefresh(benchmark::State& state) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    static QGuiApplication qapp(argc, argv);
    const auto theme = zavo_ui::theme::Theme::dark();
    zavo_ui::qt::Painting painting;
    zavo_ui::host::Host host(app_with(10'000), theme, painting.text, zavo_ui::Size{1280, 800}, 1.0);
    QWindow window;
    zavo_ui::qt::AccessBridge bridge(window, host, {});
    bridge.refresh(true);
    for (auto _ : state) bridge.refresh(true);  // nothing changed: the steady cost of a frame
}
BENCHMARK(BM_BridgeRefresh)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
