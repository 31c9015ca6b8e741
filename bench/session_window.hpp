#pragma once
// The application in a 1280 x 800 offscreen window, and the Qt side that paints it: one frame
// is RemoteApp::paint (which polls the live session first) replayed into an image.
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>

#include <memory>

#include "app/remote_app.hpp"
#include "support/offscreen_app.hpp"
#include "zavo_ui/qt/qt_text_renderer.hpp"
#include "zavo_ui/qt/scene_painter.hpp"
#include "zavo_ui/theme.hpp"

namespace bench_support {

struct SessionWindow {
    std::unique_ptr<remote::RemoteApp> app;
    zavo_ui::qt::TextEngine engine;
    zavo_ui::qt::QtTextRenderer text{engine};
    zavo_ui::qt::ImageCache images;
    zavo_ui::theme::Theme theme = zavo_ui::theme::Theme::dark();
    zavo_ui::DrawContext draw;
    zavo_ui::Scene scene;
    QImage target{1280, 800, QImage::Format_ARGB32_Premultiplied};

    // Shows the session screen of the first connection of `kind`.
    SessionWindow(std::unique_ptr<remote::RemoteApp> a, remote::ConnectionKind kind) : app(std::move(a)) {
        test_support::offscreen_app();
        app->window_bounds = {0, 0, 1280, 800};
        app->last_narrow = false;
        app->snap_nav_flap();
        app->screen = remote::Screen::session(*app->first_connection_of_kind(kind));
    }

    void frame() {
        scene.reset();
        app->paint(scene, zavo_ui::Affine::identity(), text, theme, draw);
        QPainter painter(&target);
        zavo_ui::qt::paint_scene(painter, scene, engine, images);
        painter.end();
        images.end_frame();
        benchmark::DoNotOptimize(target.constBits());
    }
};

}  // namespace bench_support
