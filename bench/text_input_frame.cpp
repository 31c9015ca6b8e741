// A text input with the Qt text engine, holding 100,000 characters, against the same holding 20,
// in the same run; each frame is the input's scene replayed into a 600 x 40 image.
//
//   BM_TextInputTyped/<length>   a frame after a character was typed at the end (laid out again)
//   BM_TextInputFrame/<length>   a frame of the same text (what the window paints while it waits)
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>

#include <string>

#include "support/offscreen_app.hpp"
#include "zavo_ui/qt/qt_text_renderer.hpp"
#include "zavo_ui/qt/scene_painter.hpp"
#include "zavo_ui/text_input.hpp"
#include "zavo_ui/theme.hpp"

namespace {

using namespace zavo_ui;

struct Field {
    qt::TextEngine engine;
    qt::QtTextRenderer text{engine};
    qt::ImageCache images;
    theme::Theme theme = theme::Theme::dark();
    DrawContext draw;
    Scene scene;
    QImage image{600, 40, QImage::Format_ARGB32_Premultiplied};
    widget::text_input::TextInput input;

    explicit Field(std::size_t length) {
        test_support::offscreen_app();
        std::string s;
        for (std::size_t i = 0; s.size() < length; ++i) s += std::to_string(i) + " ";
        s.resize(length);
        input.set_text_with_cursor_at_end(std::move(s));
        input.focus();
        input.apply_layout_external({12, 0, 588, 40});
        frame();
    }
    void frame() {
        scene.reset();
        input.draw(scene, Affine::identity(), text, theme, draw);
        QPainter painter(&image);
        qt::paint_scene(painter, scene, engine, images);
        painter.end();
        images.end_frame();
        benchmark::DoNotOptimize(image.constBits());
    }
};

void BM_TextInputTyped(benchmark::State& state) {
    Field field(std::size_t(state.range(0)));
    EventContext ctx;
    for (auto _ : state) {
        bool handled = false;
        field.input.handle_event(event::TextCommit{"x"}, {}, ctx, handled, 1.0);
        field.frame();
    }
}
BENCHMARK(BM_TextInputTyped)->Arg(20)->Arg(100'000)->Unit(benchmark::kMicrosecond);

void BM_TextInputFrame(benchmark::State& state) {
    Field field(std::size_t(state.range(0)));
    for (auto _ : state) field.frame();
}
BENCHMARK(BM_TextInputFrame)->Arg(20)->Arg(100'000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
