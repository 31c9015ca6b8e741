#include "zavo_ui/qt/text_engine.hpp"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include "qt_test_app.hpp"

namespace zavo_ui::qt {
namespace {

class QtTextEngine : public ::testing::Test {
 protected:
  void SetUp() override { testing::offscreen_app(); }
  TextEngine engine;
};

TEST_F(QtTextEngine, DebianFontsAreUsed) {
  EXPECT_TRUE(TextEngine::ui_font_available()) << "fonts-inter is not installed";
  EXPECT_TRUE(TextEngine::mono_font_available()) << "fonts-dejavu-core is not installed";
}

TEST_F(QtTextEngine, MonospaceAdvanceAt14PxIsCloseTo8Point4) {
  const QSizeF one = engine.measure("M", FontFace::Mono, 14, 0, std::nullopt);
  const QSizeF eighty = engine.measure(std::string(80, 'i'), FontFace::Mono, 14, 0, std::nullopt);
  EXPECT_NEAR(one.width(), 8.4, 0.1);
  EXPECT_NEAR(eighty.width(), 80 * 8.4, 80 * 0.1);
}

TEST_F(QtTextEngine, SizeWeightAndWrappingChangeTheBox) {
  const std::string text = "Remote Machines";
  const QSizeF regular = engine.measure(text, FontFace::Ui, 13, 0, std::nullopt);
  const QSizeF bold = engine.measure(text, FontFace::Ui, 13, 3, std::nullopt);
  const QSizeF half = engine.measure(text, FontFace::Ui, 12.5f, 0, std::nullopt);
  const QSizeF big = engine.measure(text, FontFace::Ui, 26, 0, std::nullopt);
  EXPECT_GT(bold.width(), regular.width());
  EXPECT_LT(half.width(), regular.width());
  EXPECT_NEAR(big.width(), 2 * regular.width(), 0.05 * regular.width());
  EXPECT_GT(regular.height(), 13);
  EXPECT_LT(regular.height(), 20);

  const QSizeF wrapped = engine.measure(text, FontFace::Ui, 13, 0, regular.width() * 0.7f);
  EXPECT_NEAR(wrapped.height(), 2 * regular.height(), 0.5);
  EXPECT_LE(wrapped.width(), regular.width() * 0.7);
  const QSizeF two_lines = engine.measure("Remote\nMachines", FontFace::Ui, 13, 0, std::nullopt);
  EXPECT_NEAR(two_lines.height(), 2 * regular.height(), 0.5);
  EXPECT_EQ(engine.measure("", FontFace::Ui, 13, 0, std::nullopt).width(), 0);
}

TEST_F(QtTextEngine, DrawnTextStaysInsideItsMeasuredBox) {
  QImage image(200, 60, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::black);
  const QSizeF box = engine.measure("Hg Remote", FontFace::Ui, 20, 2, std::nullopt);
  {
    QPainter painter(&image);
    painter.translate(10, 10);
    engine.draw(painter, "Hg Remote", FontFace::Ui, 20, 2, std::nullopt, Qt::white);
  }
  int inked = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (qRed(image.pixel(x, y)) < 40) continue;
      ++inked;
      EXPECT_GE(x, 9);
      EXPECT_LE(x, 10 + box.width() + 1);
      EXPECT_GE(y, 9);
      EXPECT_LE(y, 10 + box.height() + 1);
    }
  }
  EXPECT_GT(inked, 100);
}

}  // namespace
}  // namespace zavo_ui::qt
