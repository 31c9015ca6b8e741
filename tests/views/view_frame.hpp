#pragma once
// A window for view tests: the application in a window of a chosen size, painted with the
// deterministic text renderer into a scene that the recording backend replays.
#include "app/remote_app.hpp"
#include "views/paint_primitives.hpp"
#include "zavo_ui/recording_backend.hpp"
#include "zavo_ui/scene.hpp"
#include "zavo_ui/text_render.hpp"
#include "zavo_ui/theme.hpp"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace view_test {

using K = remote::UiCommand::Kind;
using zavo_ui::DrawRecord;
using zavo_ui::Rect;

struct ViewFrame {
    std::unique_ptr<remote::RemoteApp> app;
    zavo_ui::text_render::FakeTextRenderer text{1.0f};
    zavo_ui::theme::Theme theme = zavo_ui::theme::Theme::dark();
    zavo_ui::DrawContext draw;
    zavo_ui::Scene scene;

    explicit ViewFrame(std::unique_ptr<remote::RemoteApp> a, double width = 1280, double height = 800)
        : app(std::move(a)) {
        resize(width, height);
    }
    // What a layout of the window at this size leaves behind, the flap settled.
    void resize(double width, double height) {
        app->window_bounds = {0, 0, width, height};
        app->narrow = width < 720;
        app->last_narrow = app->narrow;
        app->snap_nav_flap();
    }
    // The wide layout with the navigation closed: the main pane is the whole window and the
    // frame pushes no navigation regions.
    void close_navigation() {
        app->nav_choice = false;
        app->snap_nav_flap();
    }
    // One frame, replayed into records.
    zavo_ui::RecordingBackend paint() {
        scene.reset();
        app->paint(scene, zavo_ui::Affine::identity(), text, theme, draw);
        return zavo_ui::RecordingBackend::of(scene, &text);
    }
    // A context for calling one painter directly (into `scene`, emptied first).
    remote::views::PaintContext context() {
        scene.reset();
        return remote::views::PaintContext{scene, zavo_ui::Affine::identity(), text, theme, draw};
    }
    zavo_ui::RecordingBackend records() const { return zavo_ui::RecordingBackend::of(scene, &text); }
    const zavo_ui::tokens::colors::Colors& colors() const { return theme.colors; }
};

// The commands' kinds of the last paint's controls, in order.
inline std::vector<K> region_kinds(const remote::RemoteApp& app) {
    std::vector<K> out;
    for (const auto& r : app.hit_regions)
        if (r.role == remote::HitRegion::Role::Control) out.push_back(r.command.kind);
    return out;
}

// The command of the topmost region under `p`, as a click there finds it: none where nothing
// or a region without a command (a cover, the remote picture) lies on top.
inline std::optional<remote::UiCommand> topmost_command(const remote::RemoteApp& app, zavo_ui::Point p) {
    const remote::HitRegion* region = app.topmost_region(p);
    if (!region || region->role != remote::HitRegion::Role::Control) return std::nullopt;
    return region->command;
}

// The texts drawn, in order.
inline std::vector<std::string> texts(const zavo_ui::RecordingBackend& records) {
    std::vector<std::string> out;
    for (const DrawRecord* t : records.texts()) out.push_back(t->text);
    return out;
}

}  // namespace view_test
