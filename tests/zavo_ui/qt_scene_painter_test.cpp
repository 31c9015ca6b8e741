#include "zavo_ui/qt/scene_painter.hpp"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include "qt_test_app.hpp"
#include "zavo_ui/host/damage.hpp"
#include "zavo_ui/qt/frames.hpp"
#include "zavo_ui/qt/qt_text_renderer.hpp"

namespace zavo_ui::qt {
namespace {

constexpr Color kRed = Color::from_hex(0xFF0000);
constexpr Color kGreen = Color::from_hex(0x00FF00);
constexpr Color kBlue = Color::from_hex(0x0000FF);
constexpr Color kWhite = Color::from_hex(0xFFFFFF);

struct Probe {
    double x, y;  // logical pixels
    QRgb expected;
    const char* what;
};

// The largest difference of one colour channel between two images of one size.
int largest_difference(const QImage& a, const QImage& b) {
    int worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            worst = std::max(
                {worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return worst;
}

class QtScenePainter : public ::testing::Test {
protected:
    void SetUp() override { testing::offscreen_app(); }

    QImage render(const Scene& scene, Size size, double scale = 1.0) {
        return render_scene(scene, size, scale, Qt::black, engine, images);
    }

    static void expect_probes(const QImage& image, double scale, std::initializer_list<Probe> probes) {
        for (const Probe& p : probes) {
            SCOPED_TRACE(p.what);
            const QRgb got = image.pixel(int(p.x * scale), int(p.y * scale));
            EXPECT_NEAR(qRed(got), qRed(p.expected), 8);
            EXPECT_NEAR(qGreen(got), qGreen(p.expected), 8);
            EXPECT_NEAR(qBlue(got), qBlue(p.expected), 8);
        }
    }

    TextEngine engine;
    ImageCache images;
};

TEST_F(QtScenePainter, FillsStrokesAndTransformsLandWhereTheyWereDrawn) {
    Scene scene;
    scene.fill_color(Affine::identity(), kRed, Rect{10, 10, 50, 30});
    scene.fill_color(Affine::translate(100, 0), kGreen, RoundedRect::from_rect(Rect{0, 0, 40, 40}, 20));
    scene.fill_color(Affine::identity(), kBlue, Circle{Point{40, 80}, 10});
    scene.stroke_color(Affine::identity(), Stroke::of_width(4), kWhite, Line{Point{100, 80}, Point{180, 80}});
    BezPath triangle;
    triangle.move_to({150, 10});
    triangle.line_to({190, 10});
    triangle.line_to({190, 50});
    triangle.close_path();
    scene.fill_color(Affine::identity(), kRed, triangle);
    const QImage image = render(scene, Size{200, 100});
    ASSERT_EQ(image.size(), QSize(200, 100));
    expect_probes(image, 1.0,
                  {{30, 20, qRgb(255, 0, 0), "inside the rectangle"},
                   {55, 20, qRgb(0, 0, 0), "right of the rectangle"},
                   {120, 20, qRgb(0, 255, 0), "centre of the rounded rectangle"},
                   {101, 1, qRgb(0, 0, 0), "its rounded-off corner"},
                   {40, 80, qRgb(0, 0, 255), "centre of the circle"},
                   {40, 92, qRgb(0, 0, 0), "below the circle"},
                   {140, 80, qRgb(255, 255, 255), "on the stroked line"},
                   {140, 85, qRgb(0, 0, 0), "beside the 4-pixel line"},
                   {185, 15, qRgb(255, 0, 0), "inside the path"},
                   {155, 45, qRgb(0, 0, 0), "outside the path's diagonal"}});
}

// Strokes along rectangles, rounded rectangles and circles are filled as rings: they cover
// the pixels Qt's own stroker covers.
TEST_F(QtScenePainter, RingStrokesCoverWhatTheStrokerCovers) {
    const Shape shapes[] = {Rect{10.5, 12, 70, 50}, RoundedRect::from_rect(Rect{10, 10, 70.5, 52}, 8),
                            RoundedRect::from_rect(Rect{20, 20, 26, 60}, 12), Circle{Point{40, 32}, 17.5}};
    for (const Shape& shape : shapes) {
        for (double width : {1.0, 1.2, 2.0, 5.0}) {
            SCOPED_TRACE(::testing::Message() << "shape " << shape.index() << " width " << width);
            Scene scene;
            scene.stroke_color(Affine::scale(1.5), Stroke::of_width(width), kWhite, shape);
            const QImage ring = render(scene, Size{80, 64}, 2.0);
            QImage stroked(ring.size(), QImage::Format_ARGB32_Premultiplied);
            stroked.fill(Qt::black);
            QPainter painter(&stroked);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setTransform(QTransform::fromScale(3, 3));
            QPen pen(Qt::white, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
            painter.strokePath(to_path(shape), pen);
            painter.end();
            long total = 0, covered = 0;
            int worst = 0;
            for (int y = 0; y < ring.height(); ++y) {
                for (int x = 0; x < ring.width(); ++x) {
                    const int d = std::abs(qRed(ring.pixel(x, y)) - qRed(stroked.pixel(x, y)));
                    total += d;
                    worst = std::max(worst, d);
                    covered += qRed(stroked.pixel(x, y));
                }
            }
            // The stroker flattens the offset curves, so edge pixels of the curved parts differ a
            // little; no pixel is inked in one and bare in the other.
            EXPECT_LT(worst, 200);
            EXPECT_LT(total, covered / 20);
        }
    }
}

TEST_F(QtScenePainter, EdgesAreAntialiased) {
    Scene scene;
    scene.fill_color(Affine::identity(), kWhite, Rect{10.5, 10, 30, 30});
    const QImage image = render(scene, Size{40, 40});
    const int half = qRed(image.pixel(10, 20));
    EXPECT_GT(half, 90);
    EXPECT_LT(half, 165);
}

TEST_F(QtScenePainter, ClipLayersClipUntilPopped) {
    Scene scene;
    scene.push_clip(Affine::identity(), Rect{0, 0, 50, 100});
    scene.fill_color(Affine::identity(), kRed, Rect{0, 0, 100, 50});
    scene.pop_layer();
    scene.fill_color(Affine::identity(), kGreen, Rect{0, 50, 100, 100});
    scene.push_clip(Affine::identity(), Rect{0, 0, 100, 100});
    scene.push_clip(Affine::translate(60, 0), Rect{0, 0, 10, 100});
    scene.fill_color(Affine::identity(), kBlue, Rect{0, 0, 100, 20});
    // Left open: the replay closes it.
    const QImage image = render(scene, Size{100, 100});
    expect_probes(image, 1.0,
                  {{25, 25, qRgb(255, 0, 0), "inside the first clip"},
                   {75, 25, qRgb(0, 0, 0), "clipped away"},
                   {75, 75, qRgb(0, 255, 0), "after the pop"},
                   {65, 10, qRgb(0, 0, 255), "inside both nested clips"},
                   {55, 10, qRgb(0, 0, 0), "outside the inner clip"},
                   {45, 10, qRgb(255, 0, 0), "under the inner clip, outside it"}});
}

TEST_F(QtScenePainter, ImagesFollowTheBrushTransformWithoutCopies) {
    // A 2 x 1 picture: red, then blue.
    std::vector<std::uint8_t> pixels = {255, 0, 0, 255, 0, 0, 255, 255};
    const Image picture = Image::from_vector(std::move(pixels), 2, 1);
    Scene scene;
    // Covers (20, 10)-(60, 30): each source pixel becomes 20 x 20.
    const Rect target{20, 10, 60, 30};
    scene.fill(Fill::NonZero, Affine::identity(), ImageBrush{picture},
               Affine::translate(target.x0, target.y0) * Affine::scale_non_uniform(20, 20), target);
    const QImage image = render(scene, Size{80, 40});
    expect_probes(image, 1.0,
                  {{25, 20, qRgb(255, 0, 0), "left half"},
                   {55, 20, qRgb(0, 0, 255), "right half"},
                   {10, 20, qRgb(0, 0, 0), "left of the target"},
                   {70, 20, qRgb(0, 0, 0), "right of the target"}});
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images.get(picture).constBits(), picture.data->data()) << "the pixels were copied";
    images.end_frame();  // used in the frame: kept
    images.end_frame();  // not used since: dropped
    EXPECT_EQ(images.size(), 0u);
}

// A remote picture is drawn scaled straight from its own pixels the first time; drawn again at
// that size, from a copy made once in the painter's format, with the same pixels. Its own pixels
// are never copied.
TEST_F(QtScenePainter, APictureIsConvertedOncePerPictureAndSize) {
    std::vector<std::uint8_t> pixels(40 * 20 * 4);
    for (std::size_t i = 0; i < pixels.size(); i += 4)
        pixels[i] = std::uint8_t(i / 4 % 40 * 6), pixels[i + 1] = std::uint8_t(i / 160 * 12), pixels[i + 3] = 255;
    const Image picture = Image::from_vector(std::move(pixels), 40, 20);
    const auto scene_at = [&](const Rect& d) {
        Scene scene;
        scene.fill(Fill::NonZero, Affine::identity(), ImageBrush{picture},
                   Affine::translate(d.x0, d.y0) * Affine::scale_non_uniform(d.width() / 40, d.height() / 20), d);
        return scene;
    };
    for (const Rect& at : {Rect{10, 10, 50, 30}, Rect{5, 5, 65.2, 35.1}}) {
        SCOPED_TRACE(::testing::Message() << "at " << at.x0 << " " << at.width());
        const std::uint64_t made = images.drawables_made();
        const Scene scene = scene_at(at);
        const QImage first = render(scene, Size{80, 60});
        EXPECT_EQ(images.drawables_made(), made) << "a picture drawn once was copied";
        for (int frame = 0; frame < 3; ++frame)
            EXPECT_EQ(largest_difference(render(scene, Size{80, 60}), first), 0) << "frame " << frame;
        EXPECT_EQ(images.drawables_made(), made + 1) << "made once for the picture at this size";
    }
    const QImage one_to_one = render(scene_at({10, 10, 50, 30}), Size{80, 60});
    for (int x : {0, 17, 39})
        EXPECT_EQ(one_to_one.pixel(10 + x, 25), qRgb(x * 6, 15 * 12, 0)) << "drawn at its size, pixel for pixel";
    EXPECT_EQ(images.get(picture).constBits(), picture.data->data()) << "the picture's pixels were copied";
}

TEST_F(QtScenePainter, TextIsDrawnInsideItsMeasuredBox) {
    QtTextRenderer text(engine);
    Scene scene;
    const Affine at = Affine::translate(20, 10);
    text.draw_text_weighted(scene, at, "Remote", 20, 2, kWhite);
    const auto box = text.measure_weighted("Remote", 20, 2);
    const QImage image = render(scene, Size{200, 60});
    int inked = 0;
    int min_x = 1000, max_x = -1, min_y = 1000, max_y = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qRed(image.pixel(x, y)) < 128) continue;
            ++inked;
            min_x = std::min(min_x, x), max_x = std::max(max_x, x);
            min_y = std::min(min_y, y), max_y = std::max(max_y, y);
        }
    }
    ASSERT_GT(inked, 50);
    EXPECT_GE(min_x, 20);
    EXPECT_LE(min_x, 23);
    EXPECT_LE(max_x, 20 + box.width);
    EXPECT_GE(max_x, 20 + box.width - 4);
    EXPECT_GE(min_y, 10);
    EXPECT_LE(max_y, 10 + box.height);
}

// Shapes and texts drawn from sprites give the pixels drawing them directly gives: off the
// pixel grid, at scale 1 and 2, large ones with their middles filled across, texts over
// plain and over mixed ground, cut by a clip or the image's edge, when made and when drawn
// again.
TEST_F(QtScenePainter, SpritesDrawWhatDirectDrawingDraws) {
    QtTextRenderer text(engine);
    Scene scene;
    scene.fill_color(Affine::identity(), Color::from_hex(0x15171C), Rect{0, 0, 400, 300});
    // Stripes below the clip, under a text the clip cuts.
    for (double x = 0; x < 400; x += 6) scene.fill_color(Affine::identity(), kBlue, Rect{x, 291, x + 3, 300});
    scene.push_clip(Affine::identity(), Rect{4, 30.4, 396, 290});
    for (int row = 0; row < 3; ++row) {
        const double top = 20.4 + 90.0 * row + 0.3 * row;
        const Rect card{8.0 + 0.25 * row, top, 392.5, top + 72.0};
        scene.fill_color(Affine::identity(), Color::from_hex(0x23262E), RoundedRect::from_rect(card, 12.0));
        scene.stroke_color(Affine::identity(), Stroke::of_width(1.0), Color::from_rgba8(255, 255, 255, 30),
                           RoundedRect::from_rect(card.inset(0.5), 11.5));
        scene.fill_color(Affine::identity(), kGreen.with_alpha(0.25f), Circle{{30.0, top + 36.0}, 9.0});
        scene.fill_color(Affine::identity(), kGreen, Circle{{30.0, top + 36.0}, 5.0});
        const Rect pill{286.0, top + 20.0, 388.0 + 0.4 * row, top + 52.0};
        scene.fill_color(Affine::identity(), kRed.with_alpha(0.12f), RoundedRect::from_rect(pill, 8.0));
        scene.stroke_color(Affine::identity(), Stroke::of_width(1.0), kRed.with_alpha(0.75f),
                           RoundedRect::from_rect(pill.inset(0.5), 7.5));
        scene.stroke_color(Affine::identity(), Stroke::of_width(2.0), kBlue, Rect{266.3, top + 8.0, 280.0, top + 64.7});
        BezPath star;
        star.move_to({203.3 + row, top + 10.0});
        star.line_to({211.0, top + 30.2});
        star.line_to({195.0, top + 30.2});
        star.close_path();
        scene.stroke_color(Affine::identity(), Stroke::of_width(1.2), kWhite, star);
        text.draw_text_weighted(scene, Affine::translate(50.0 + 0.37 * row, top + 13.0), "Node Pi 8160 Ágj", 16, 2,
                                kWhite);
        text.draw_text_weighted(scene, Affine::translate(50.0, top + 38.72), "admin@host-7517.example.net:22", 13, 0,
                                Color::from_hex(0x9AA0AC));
        text.draw_text_weighted(scene, Affine::translate(298.07, top + 29.4), "Needs access", 11.5, 2, kRed);
    }
    // Over two grounds at once: drawn directly.
    text.draw_text_weighted(scene, Affine::translate(6.0, 108.0), "Straddles", 13, 0, kWhite);
    text.draw_text_weighted(scene, Affine::translate(20.5, 281.3), "Cut by the clip", 14, 0, kWhite);
    text.draw_styled(scene, Affine::translate(140.0, 281.0), "$ ls ~/wörk_{j}",
                     TextStyle{13.0f, 3, std::nullopt, FontFamily::Mono}, kWhite);
    scene.pop_layer();
    text.draw_text_weighted(scene, Affine::translate(22.79, 4.0), "≡", 22, 0, kWhite);
    text.draw_text_weighted(scene, Affine::translate(360.3, 5.0), "Off the edge", 13, 0, kWhite);

    // Into an image as render_scene makes it, and into one without alpha as a window's backing
    // store often is.
    for (const QImage::Format format : {QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB32}) {
        for (const double scale : {1.0, 2.0}) {
            SCOPED_TRACE(::testing::Message() << "format " << format << " scale " << scale);
            const auto render = [&](ImageCache& cache) {
                QImage image(int(400 * scale), int(300 * scale), format);
                image.setDevicePixelRatio(scale);
                image.fill(Qt::black);
                QPainter painter(&image);
                paint_scene(painter, scene, engine, cache);
                painter.end();
                cache.end_frame();
                return image;
            };
            ImageCache direct_cache(0);
            const QImage direct = render(direct_cache);
            EXPECT_EQ(direct_cache.sprites().size(), 0u);
            // Sprites are made the second time a frame asks for them.
            ImageCache cache;
            EXPECT_EQ(largest_difference(direct, render(cache)), 0) << "first seen";
            EXPECT_EQ(cache.sprites().size(), 0u);
            EXPECT_EQ(largest_difference(direct, render(cache)), 0) << "when made";
            EXPECT_GT(cache.sprites().size(), 30u);
            EXPECT_EQ(largest_difference(direct, render(cache)), 0) << "when drawn again";
        }
    }
}

// A window's frames as a person changes them: rows in a clipped viewport, a hover outline, a
// tooltip, a scroll, a picture, a dialog. Repainting only where each frame's scene differs from
// the last, over what the window showed (sprites and all), gives the frame drawn whole.
TEST_F(QtScenePainter, RepaintingWhatChangedGivesTheWholeFrame) {
    struct Look {
        int hovered = -1;
        bool tooltip = false;
        double scroll = 0;
        std::uint64_t picture = 0;  // which of two pictures
        bool dialog = false;
        const char* status = "2 saved · 1 online";
    };
    const std::vector<Image> pictures = [] {
        std::vector<Image> out;
        for (std::uint8_t shade : {40, 200}) {
            std::vector<std::uint8_t> pixels(64 * 48 * 4);
            for (std::size_t i = 0; i < pixels.size(); i += 4)
                pixels[i] = std::uint8_t(i / 4 % 64 * 4), pixels[i + 1] = shade, pixels[i + 2] = 90, pixels[i + 3] = 255;
            out.push_back(Image::from_vector(std::move(pixels), 64, 48));
        }
        return out;
    }();
    Painting painting;
    const auto scene_of = [&](const Look& look) {
        QtTextRenderer& text = painting.text;
        Scene s;
        s.fill_color(Affine::identity(), Color::from_hex(0x15171C), Rect{0, 0, 400, 300});
        text.draw_text_weighted(s, Affine::translate(24.3, 12), look.status, 13, 0, kWhite);
        s.push_clip(Affine::identity(), Rect{0, 40.5, 400, 300});
        for (int row = 0; row < 6; ++row) {
            const double top = 44.0 - look.scroll + 60.0 * row;
            const Rect card{24, top, 376, top + 52};
            s.fill_color(Affine::identity(), Color::from_hex(0x23262E), RoundedRect::from_rect(card, 12));
            if (row == look.hovered)
                s.stroke_color(Affine::identity(), Stroke::of_width(1), kWhite, RoundedRect::from_rect(card, 12));
            text.draw_text_weighted(s, Affine::translate(68, top + 13), "Build Studio " + std::to_string(row), 16, 2,
                                    kWhite);
        }
        s.pop_layer();
        const Rect shown{300, 200, 364, 248};
        s.fill(Fill::NonZero, Affine::identity(), ImageBrush{pictures[look.picture]},
               Affine::translate(shown.x0, shown.y0), shown);
        if (look.tooltip) {
            s.fill_color(Affine::identity(), Color::from_hex(0x30333C), RoundedRect::from_rect({150, 90, 260, 116}, 6));
            text.draw_text(s, Affine::translate(158, 95), "Add to favourites", 12, kWhite);
        }
        if (look.dialog) {
            s.fill_color(Affine::identity(), kGreen.with_alpha(0.3f), Rect{0, 0, 400, 300});
            text.draw_text_weighted(s, Affine::translate(120, 130), "Delete Build Studio 2?", 18, 3, kWhite);
        }
        return s;
    };
    const std::vector<Look> frames = {
        {}, {.hovered = 1}, {.hovered = 1}, {.hovered = 1, .tooltip = true}, {.hovered = 2}, {.hovered = 2, .scroll = 17.5},
        {.scroll = 17.5, .picture = 1}, {.scroll = 17.5, .picture = 1, .dialog = true}, {.scroll = 17.5, .picture = 1},
        {.scroll = 17.5, .picture = 1, .status = "3 saved · 1 online"}, {},
    };
    for (const double scale : {1.0, 2.0}) {
        SCOPED_TRACE(::testing::Message() << "scale " << scale);
        QImage window(int(400 * scale), int(300 * scale), QImage::Format_RGB32);
        window.setDevicePixelRatio(scale);
        Scene shown;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            SCOPED_TRACE(::testing::Message() << "frame " << i);
            const Scene next = scene_of(frames[i]);
            const auto damage = i == 0 ? std::vector<Rect>{{0, 0, 400, 300}}
                                       : host::scene_damage(shown, next, painting.text);
            QPainter painter(&window);
            PainterFrame(painter, painting).paint(next, Size{400, 300}, scale, damage);
            painter.end();
            ImageCache whole(0);
            QImage expected(window.size(), QImage::Format_RGB32);
            expected.setDevicePixelRatio(scale);
            QPainter direct(&expected);
            paint_scene(direct, next, engine, whole);
            direct.end();
            EXPECT_EQ(largest_difference(window, expected), 0);
            shown = next;
        }
        EXPECT_GT(painting.images.sprites().size(), 5u) << "the repaints drew from sprites";
    }
}

TEST_F(QtScenePainter, ScaleRendersAtDevicePixels) {
    Scene scene;
    scene.fill_color(Affine::identity(), kRed, Rect{10, 10, 20, 20});
    const QImage image = render(scene, Size{40, 30}, 2.0);
    EXPECT_EQ(image.size(), QSize(80, 60));
    EXPECT_EQ(image.devicePixelRatio(), 2.0);
    EXPECT_EQ(qRed(image.pixel(21, 21)), 255);
    EXPECT_EQ(qRed(image.pixel(39, 39)), 255);
    EXPECT_EQ(qRed(image.pixel(41, 41)), 0);
    EXPECT_EQ(qRed(image.pixel(19, 19)), 0);
}

}  // namespace
}  // namespace zavo_ui::qt
