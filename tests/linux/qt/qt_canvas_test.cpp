// A real chart frame drawn through the QPainter canvas, checked against where the recording
// canvas says each part of the same frame goes.
#include <gtest/gtest.h>

#include <QtGui/QImage>

#include <algorithm>

#include "chart/speed_chart.h"
#include "linux/qt_canvas.h"
#include "support/recording_canvas.h"

namespace tessivo {
namespace {

constexpr int kWidth = 900, kHeight = 380;

struct Ink {
  int count = 0, left = kWidth, right = -1, top = kHeight, bottom = -1;
};

// The pixels in `rect` (grown by `margin`) that show mostly `colour` over the background.
Ink inkIn(const QImage& image, RectF rect, Rgba colour, int margin = 0) {
  const Rgba bg = kChartBackground;
  const int d[3] = {colour.r - bg.r, colour.g - bg.g, colour.b - bg.b};
  Ink ink;
  for (int y = std::max(0, int(rect.top) - margin); y < std::min(kHeight, int(rect.bottom) + margin + 1); ++y) {
    for (int x = std::max(0, int(rect.left) - margin); x < std::min(kWidth, int(rect.right) + margin + 1); ++x) {
      const QRgb p = image.pixel(x, y);
      const int along = d[0] * (qRed(p) - bg.r) + d[1] * (qGreen(p) - bg.g) + d[2] * (qBlue(p) - bg.b);
      if (along < 0.6 * (d[0] * d[0] + d[1] * d[1] + d[2] * d[2])) continue;
      ink = {ink.count + 1, std::min(ink.left, x), std::max(ink.right, x), std::min(ink.top, y), std::max(ink.bottom, y)};
    }
  }
  return ink;
}

TEST(QtCanvasTest, FrameShowsBackgroundTextsAndLinesWhereTheChartPutsThem) {
  SpeedChart chart;
  for (std::uint64_t i = 0; i < 120; ++i)
    chart.recordSample(1'000'000 + 40'000 * (i % 17), 300'000, {NameRate{u"磁盘写手", 1'000'000, 300'000}});
  testing::RecordingCanvas recording;
  chart.paint(recording, kWidth, kHeight);
  QImage image(kWidth, kHeight, QImage::Format_ARGB32);
  image.fill(Qt::magenta);  // the frame must cover all of it
  {
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    const ChartFonts fonts = makeChartFonts();
    QtCanvas canvas(painter, fonts);
    chart.paint(canvas, kWidth, kHeight);
  }
  const Rgba bg = kChartBackground;
  EXPECT_EQ(image.pixel(kWidth - 4, kHeight / 2), qRgb(bg.r, bg.g, bg.b));  // right of the plot
  for (int y = 0; y < kHeight; y += 7)
    for (int x = 0; x < kWidth; x += 7) ASSERT_NE(image.pixel(x, y), QColor(Qt::magenta).rgb()) << x << "," << y;

  const auto texts = recording.texts();
  ASSERT_GE(texts.size(), 5u);
  for (const testing::TextOp& t : texts) {
    const Ink ink = inkIn(image, t.rect, brushColour(t.brush));
    ASSERT_GT(ink.count, 0) << t.utf8();
    EXPECT_GE(ink.bottom - ink.top, 6) << t.utf8();  // glyphs of a 12 to 13 px font
    // Each text sits at the side of its box that its alignment names.
    const float side = t.align == TextAlign::Leading    ? ink.left - t.rect.left
                       : t.align == TextAlign::Trailing ? t.rect.right - ink.right
                                                        : (ink.left + ink.right - t.rect.left - t.rect.right) / 2.0f;
    EXPECT_NEAR(side, 0.0f, 3.0f) << t.utf8();
  }
  const auto lines = recording.withBrush<testing::PolylineOp>(Brush::ReadLine);
  ASSERT_FALSE(lines.empty());
  for (std::size_t i = 0; i < lines[0].points.size(); i += 10) {
    const PointF p = lines[0].points[i];
    EXPECT_GT(inkIn(image, {p.x, p.y, p.x, p.y}, brushColour(Brush::ReadLine), 1).count, 0) << i;
  }
}

}  // namespace
}  // namespace tessivo
