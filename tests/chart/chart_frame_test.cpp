#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "chart/chart_frame.h"
#include "chart/speed_chart.h"
#include "support/recording_canvas.h"

namespace tessivo {
namespace {

using testing::FillCircleOp;
using testing::FillRectOp;
using testing::LineOp;
using testing::PolygonOp;
using testing::PolylineOp;
using testing::RecordingCanvas;
using testing::TextOp;

// An 800 x 400 frame: plot 64..784 across (720 wide), 26..370 down (344 high).
constexpr float kW = 800.0f;
constexpr float kH = 400.0f;

void pushLive(SpeedChart& chart, std::uint64_t read, std::uint64_t write) {
  chart.liveSamples.push_back(ChartSample{read, write, {}});
}

RecordingCanvas paintFrame(const SpeedChart& chart, float w = kW, float h = kH) {
  RecordingCanvas canvas;
  chart.paint(canvas, w, h);
  return canvas;
}

std::vector<std::string> speedLabels(const RecordingCanvas& canvas) {
  std::vector<std::string> out;
  for (const TextOp& t : canvas.texts()) {
    if (t.format == TextFormat::Label && t.align == TextAlign::Trailing && t.paragraph == ParagraphAlign::Center) {
      out.push_back(t.utf8());
    }
  }
  return out;
}

std::string topSpeedLabel(std::uint64_t peak) {
  SpeedChart chart;
  pushLive(chart, peak, 0);
  pushLive(chart, 0, peak / 2);
  const auto labels = speedLabels(paintFrame(chart));
  return labels.empty() ? std::string() : labels.front();
}

TEST(ChartFrame, ClearsThenDrawsFiveByTenGridWhateverTheSize) {
  SpeedChart chart;
  const RecordingCanvas canvas = paintFrame(chart);
  ASSERT_FALSE(canvas.ops.empty());
  EXPECT_EQ(std::get<testing::ClearOp>(canvas.ops.front()).colour, kChartBackground);
  const auto grid = canvas.withBrush<LineOp>(Brush::Grid);
  ASSERT_EQ(grid.size(), 12u);
  const float ys[] = {26, 112, 198, 284, 370};
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(grid[k].from, (PointF{64, ys[k]}));
    EXPECT_EQ(grid[k].to, (PointF{784, ys[k]}));
    EXPECT_EQ(grid[k].strokeWidth, 1.0f);
  }
  for (int k = 0; k < 7; ++k) {
    const float x = 64.0f + 120.0f * static_cast<float>(k);
    EXPECT_EQ(grid[5 + k].from, (PointF{x, 26}));
    EXPECT_EQ(grid[5 + k].to, (PointF{x, 370}));
  }

  // A window smaller than the margins still gets all twelve lines on a one-pixel plot.
  const RecordingCanvas tiny = paintFrame(chart, 50, 40);
  const auto tinyGrid = tiny.withBrush<LineOp>(Brush::Grid);
  ASSERT_EQ(tinyGrid.size(), 12u);
  EXPECT_EQ(tinyGrid[4].from.y, 27.0f);  // 26 + plotHeight of 1
  EXPECT_EQ(tinyGrid[11].from.x, 65.0f);  // 64 + plotWidth of 1
  EXPECT_EQ(tinyGrid[11].to.y, 10.0f);    // the unclamped plot bottom, H - 30
}

TEST(ChartFrame, ScaleIsTheNextOneTwoFiveStepAboveThePeak) {
  EXPECT_EQ(topSpeedLabel(0), "2.0 KiB/s");         // 2000
  EXPECT_EQ(topSpeedLabel(2000), "2.0 KiB/s");      // 2000
  EXPECT_EQ(topSpeedLabel(2001), "4.9 KiB/s");      // 5000
  EXPECT_EQ(topSpeedLabel(5001), "9.8 KiB/s");      // 10000
  EXPECT_EQ(topSpeedLabel(1048576), "1.9 MiB/s");   // 2000000
  EXPECT_EQ(topSpeedLabel(10000000), "9.5 MiB/s");  // 10000000

  EXPECT_EQ(chartScaleMax(0), 2000u);
  EXPECT_EQ(chartScaleMax(1024), 2000u);
  EXPECT_EQ(chartScaleMax(2001), 5000u);
  EXPECT_EQ(chartScaleMax(5001), 10000u);
  EXPECT_EQ(chartScaleMax(9999999), 10000000u);
  EXPECT_EQ(chartScaleMax(10000001), 20000000u);
  EXPECT_EQ(chartScaleMax(10000000000000000000ull), 10000000000000000000ull);
  // 2 x 10^19 does not fit: the scale saturates instead of wrapping below the peak.
  EXPECT_EQ(chartScaleMax(10000000000000000001ull), std::numeric_limits<std::uint64_t>::max());
}

TEST(ChartFrame, SpeedLabelsDescendEvenAtTheTopOfTheRange) {
  SpeedChart chart;
  pushLive(chart, std::numeric_limits<std::uint64_t>::max(), 0);
  pushLive(chart, 1, 1);
  const auto labels = speedLabels(paintFrame(chart));
  ASSERT_EQ(labels.size(), 5u);
  EXPECT_EQ(labels[0], "17179869184.0 GiB/s");
  EXPECT_EQ(labels[2], "8589934592.0 GiB/s");  // half of the full scale, not a wrapped product
  EXPECT_EQ(labels[4], "0.0 B/s");
}

TEST(ChartFrame, EmptyQueueDrawsGridLabelsAndHeaderOnly) {
  SpeedChart chart;
  chart.hoverActive = true;
  chart.hoverX = 400;
  const RecordingCanvas canvas = paintFrame(chart);
  EXPECT_EQ(speedLabels(canvas),
            (std::vector<std::string>{"2.0 KiB/s", "1.5 KiB/s", "1000.0 B/s", "500.0 B/s", "0.0 B/s"}));
  const auto labels = canvas.all<TextOp>();
  ASSERT_GE(labels.size(), 5u);
  EXPECT_EQ(labels[0].rect, (RectF{0, 17, 60, 35}));   // around y 26
  EXPECT_EQ(labels[4].rect, (RectF{0, 361, 60, 379}));  // around y 370
  EXPECT_EQ(labels[0].brush, Brush::Text);
  EXPECT_NE(canvas.findText("[实时 跨度=1m20s]  读取: 0.0 B/s    写入: 0.0 B/s    峰值: 0.0 B/s"), nullptr);
  EXPECT_EQ(canvas.count<PolygonOp>(), 0u);
  EXPECT_EQ(canvas.count<PolylineOp>(), 0u);
  EXPECT_EQ(canvas.count<FillCircleOp>(), 0u);
  EXPECT_EQ(canvas.count<testing::FillRoundedRectOp>(), 0u);
  EXPECT_TRUE(canvas.withBrush<LineOp>(Brush::HoverLine).empty());
}

TEST(ChartFrame, TimeLabelsAndHeaderSpanFollowRangeAndPan) {
  SpeedChart live;  // 333 ms, span 240
  pushLive(live, 10, 20);
  RecordingCanvas canvas = paintFrame(live);
  const TextOp* left = canvas.findText("-1m20s");
  const TextOp* right = canvas.findText("现在");
  ASSERT_NE(left, nullptr);
  ASSERT_NE(right, nullptr);
  EXPECT_EQ(left->rect, (RectF{64, 374, 184, 394}));
  EXPECT_EQ(left->align, TextAlign::Leading);
  EXPECT_EQ(left->paragraph, ParagraphAlign::Near);
  EXPECT_EQ(right->rect, (RectF{664, 374, 784, 394}));
  EXPECT_EQ(right->align, TextAlign::Trailing);
  EXPECT_EQ(right->paragraph, ParagraphAlign::Near);
  EXPECT_EQ(right->format, TextFormat::Label);
  EXPECT_EQ(right->brush, Brush::Text);
  EXPECT_NE(canvas.findText("[实时 跨度=1m20s]  读取: 10.0 B/s    写入: 20.0 B/s    峰值: 20.0 B/s"), nullptr);

  live.viewPan = 30;  // both edges move back by 30 items of 0.333 s
  canvas = paintFrame(live);
  EXPECT_NE(canvas.findText("-1m30s"), nullptr);
  EXPECT_NE(canvas.findText("-10.0s"), nullptr);

  SpeedChart hour;
  hour.rangeMode = ChartRange::Hour1;
  hour.viewSpan = 60;
  hour.minuteSamples.push_back(ChartSample{0, 0, {}});
  canvas = paintFrame(hour);
  EXPECT_NE(canvas.findText("-59m00s"), nullptr);
  EXPECT_NE(canvas.findText("[1 小时 跨度=1h00m]  读取: 0.0 B/s    写入: 0.0 B/s    峰值: 0.0 B/s"), nullptr);

  hour.rangeMode = ChartRange::Hour24;
  hour.viewSpan = 1440;
  EXPECT_NE(paintFrame(hour).findText("[24 小时 跨度=24h00m]  读取: 0.0 B/s    写入: 0.0 B/s    峰值: 0.0 B/s"),
            nullptr);
  hour.rangeMode = ChartRange::Full;
  hour.viewSpan = 4320;
  EXPECT_NE(paintFrame(hour).findText("[完整 跨度=72h00m]  读取: 0.0 B/s    写入: 0.0 B/s    峰值: 0.0 B/s"),
            nullptr);
  // A live queue does not feed a minute range, and a span below 2 counts as 2.
  pushLive(hour, 5000, 5000);
  hour.viewSpan = 0.5f;
  EXPECT_NE(paintFrame(hour).findText("[完整 跨度=2m00s]  读取: 0.0 B/s    写入: 0.0 B/s    峰值: 0.0 B/s"),
            nullptr);
}

TEST(ChartFrame, HintHasTwoFormsAndSitsBetweenTheTimeLabels) {
  SpeedChart chart;
  const RecordingCanvas following = paintFrame(chart);
  const TextOp* plain = following.findText("滚轮：缩放   拖动：平移");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->rect, (RectF{184, 374, 664, 394}));
  EXPECT_EQ(plain->align, TextAlign::Center);
  EXPECT_EQ(plain->paragraph, ParagraphAlign::Near);
  EXPECT_EQ(plain->brush, Brush::Hint);
  EXPECT_EQ(plain->format, TextFormat::Label);
  EXPECT_EQ(following.findText("滚轮：缩放   拖动：平移   双击：重置"), nullptr);

  chart.viewAltered = true;
  const RecordingCanvas altered = paintFrame(chart);
  EXPECT_NE(altered.findText("滚轮：缩放   拖动：平移   双击：重置"), nullptr);
  EXPECT_EQ(altered.findText("滚轮：缩放   拖动：平移"), nullptr);
}

TEST(ChartFrame, HeaderAndLegendGeometry) {
  SpeedChart chart;
  pushLive(chart, 4096, 100);
  pushLive(chart, 1536, 3 * 1048576);
  const RecordingCanvas canvas = paintFrame(chart);
  const TextOp* header =
      canvas.findText("[实时 跨度=1m20s]  读取: 1.5 KiB/s    写入: 3.0 MiB/s    峰值: 3.0 MiB/s");
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->format, TextFormat::Header);
  EXPECT_EQ(header->align, TextAlign::Leading);
  EXPECT_EQ(header->paragraph, ParagraphAlign::Center);
  EXPECT_EQ(header->rect, (RectF{64, 2, 604, 26}));
  EXPECT_EQ(header->brush, Brush::Text);

  const auto swatches = canvas.all<FillRectOp>();
  ASSERT_EQ(swatches.size(), 2u);
  EXPECT_EQ(swatches[0], (FillRectOp{{614, 8, 628, 18}, Brush::ReadLine}));
  EXPECT_EQ(swatches[1], (FillRectOp{{694, 8, 708, 18}, Brush::WriteLine}));
  const TextOp* readLegend = canvas.findText("读取");
  const TextOp* writeLegend = canvas.findText("写入");
  ASSERT_NE(readLegend, nullptr);
  ASSERT_NE(writeLegend, nullptr);
  EXPECT_EQ(readLegend->rect, (RectF{632, 4, 684, 22}));
  EXPECT_EQ(writeLegend->rect, (RectF{712, 4, 764, 22}));
  EXPECT_EQ(writeLegend->format, TextFormat::Label);
  EXPECT_EQ(writeLegend->align, TextAlign::Leading);
  EXPECT_EQ(writeLegend->paragraph, ParagraphAlign::Near);
  EXPECT_EQ(writeLegend->brush, Brush::Text);
}

TEST(ChartSeries, AreaAndLineThroughTheDrawnItemsReadFirst) {
  SpeedChart chart;
  chart.viewSpan = 3;  // three items exactly across: x = 64, 424, 784
  pushLive(chart, 1000, 500);
  pushLive(chart, 500, 1500);
  pushLive(chart, 2000, 0);
  const RecordingCanvas canvas = paintFrame(chart);
  const auto polygons = canvas.all<PolygonOp>();
  const auto lines = canvas.all<PolylineOp>();
  ASSERT_EQ(polygons.size(), 2u);
  ASSERT_EQ(lines.size(), 2u);
  // Scale 2000 over 344 pixels: 1000 -> 198, 500 -> 284, 1500 -> 112, 2000 -> 26.
  EXPECT_EQ(polygons[0].brush, Brush::ReadFill);
  EXPECT_EQ(polygons[0].points,
            (std::vector<PointF>{{64, 370}, {64, 198}, {424, 284}, {784, 26}, {784, 370}}));
  EXPECT_EQ(lines[0].brush, Brush::ReadLine);
  EXPECT_EQ(lines[0].strokeWidth, 1.8f);
  EXPECT_EQ(lines[0].points, (std::vector<PointF>{{64, 198}, {424, 284}, {784, 26}}));
  EXPECT_EQ(polygons[1].brush, Brush::WriteFill);
  EXPECT_EQ(lines[1].brush, Brush::WriteLine);
  EXPECT_EQ(lines[1].points, (std::vector<PointF>{{64, 284}, {424, 112}, {784, 370}}));
  // Read area, read line, write area, write line, in that order.
  EXPECT_LT(canvas.indexOf<PolygonOp>(Brush::ReadFill), canvas.indexOf<PolylineOp>(Brush::ReadLine));
  EXPECT_LT(canvas.indexOf<PolylineOp>(Brush::ReadLine), canvas.indexOf<PolygonOp>(Brush::WriteFill));
  EXPECT_LT(canvas.indexOf<PolygonOp>(Brush::WriteFill), canvas.indexOf<PolylineOp>(Brush::WriteLine));
}

TEST(ChartSeries, ViewBetweenItemsDrawsOneBeyondEachEdgeAndPeaksOverThemOnly) {
  SpeedChart chart;
  chart.viewSpan = 3;
  chart.viewPan = 0.5f;  // right edge at 3.5, left edge at 1.5
  pushLive(chart, 900000, 0);  // item 0: left of the drawn range
  pushLive(chart, 1000, 0);
  pushLive(chart, 0, 0);
  pushLive(chart, 0, 1500);
  pushLive(chart, 0, 0);
  const RecordingCanvas canvas = paintFrame(chart);
  const auto lines = canvas.withBrush<PolylineOp>(Brush::ReadLine);
  ASSERT_EQ(lines.size(), 1u);
  ASSERT_EQ(lines[0].points.size(), 4u);  // items 1 to 4
  EXPECT_EQ(lines[0].points.front(), (PointF{-116, 198}));  // half a spacing left of the plot
  EXPECT_EQ(lines[0].points.back(), (PointF{964, 370}));    // half a spacing right of it
  EXPECT_NE(canvas.findText("[实时 跨度=1.0s]  读取: 0.0 B/s    写入: 0.0 B/s    峰值: 1.5 KiB/s"), nullptr);
  EXPECT_EQ(speedLabels(canvas).front(), "2.0 KiB/s");
}

TEST(ChartSeries, SingleItemIsNotDrawnButStillHovers) {
  SpeedChart chart;
  pushLive(chart, 1000, 500);
  chart.hoverActive = true;
  chart.hoverX = 784;
  const RecordingCanvas canvas = paintFrame(chart);
  EXPECT_EQ(canvas.count<PolygonOp>(), 0u);
  EXPECT_EQ(canvas.count<PolylineOp>(), 0u);
  const auto cursor = canvas.withBrush<LineOp>(Brush::HoverLine);
  ASSERT_EQ(cursor.size(), 1u);
  EXPECT_EQ(cursor[0].from, (PointF{784, 26}));
  EXPECT_EQ(cursor[0].to, (PointF{784, 370}));
  EXPECT_EQ(canvas.count<FillCircleOp>(), 2u);
  EXPECT_EQ(canvas.count<testing::FillRoundedRectOp>(), 1u);
}

TEST(ChartSeries, FailedPathSkipsOnlyThatSeries) {
  SpeedChart chart;
  pushLive(chart, 1000, 500);
  pushLive(chart, 500, 1000);

  RecordingCanvas noReadArea;
  noReadArea.failPathsWith(Brush::ReadFill);
  chart.paint(noReadArea, kW, kH);
  EXPECT_EQ(noReadArea.failedPaths, 1);
  EXPECT_TRUE(noReadArea.withBrush<PolylineOp>(Brush::ReadLine).empty());  // no line without its area
  EXPECT_EQ(noReadArea.withBrush<PolygonOp>(Brush::WriteFill).size(), 1u);
  EXPECT_EQ(noReadArea.withBrush<PolylineOp>(Brush::WriteLine).size(), 1u);
  EXPECT_NE(noReadArea.findText("读取"), nullptr);  // the rest of the frame goes on

  RecordingCanvas noWriteLine;
  noWriteLine.failPathsWith(Brush::WriteLine);
  chart.paint(noWriteLine, kW, kH);
  EXPECT_EQ(noWriteLine.failedPaths, 1);
  EXPECT_EQ(noWriteLine.count<PolygonOp>(), 2u);
  EXPECT_EQ(noWriteLine.withBrush<PolylineOp>(Brush::ReadLine).size(), 1u);
  EXPECT_TRUE(noWriteLine.withBrush<PolylineOp>(Brush::WriteLine).empty());
}

TEST(ChartHover, IndexRoundsHalfAwayAndClamps) {
  SpeedChart chart;
  chart.viewSpan = 3;
  pushLive(chart, 1000, 500);
  pushLive(chart, 2000, 0);
  pushLive(chart, 0, 1000);
  chart.hoverActive = true;
  auto cursorX = [&](std::int32_t hoverX) {
    chart.hoverX = hoverX;
    const auto cursor = paintFrame(chart).withBrush<LineOp>(Brush::HoverLine);
    return cursor.size() == 1 ? cursor[0].from.x : -1.0f;
  };
  EXPECT_EQ(cursorX(243), 64.0f);    // 0.497 of an item
  EXPECT_EQ(cursorX(244), 424.0f);   // exactly half: away from zero
  EXPECT_EQ(cursorX(-500), 64.0f);   // left of the plot: its left edge
  EXPECT_EQ(cursorX(5000), 784.0f);  // right of the plot: its right edge

  chart.hoverX = 244;
  const RecordingCanvas canvas = paintFrame(chart);
  const auto dots = canvas.all<FillCircleOp>();
  ASSERT_EQ(dots.size(), 2u);
  EXPECT_EQ(dots[0], (FillCircleOp{{424, 26}, 3.5f, Brush::ReadLine}));
  EXPECT_EQ(dots[1], (FillCircleOp{{424, 370}, 3.5f, Brush::WriteLine}));
  EXPECT_LT(canvas.indexOf<LineOp>(Brush::HoverLine), canvas.indexOf<FillCircleOp>(Brush::ReadLine));
  EXPECT_LT(canvas.indexOf<FillCircleOp>(Brush::WriteLine), canvas.indexOf<testing::FillRoundedRectOp>(Brush::Panel));

  // Fewer items than the span: the cursor at the plot's left edge clamps to the oldest item.
  SpeedChart sparse;
  pushLive(sparse, 1, 1);
  pushLive(sparse, 2, 2);
  sparse.hoverActive = true;
  sparse.hoverX = 64;
  const auto cursor = paintFrame(sparse).withBrush<LineOp>(Brush::HoverLine);
  ASSERT_EQ(cursor.size(), 1u);
  EXPECT_FLOAT_EQ(cursor[0].from.x, 64.0f + 238.0f / 239.0f * 720.0f);
}

TEST(ChartHover, SkippedWhenNarrowInactiveOrOutsideTheDrawnItems) {
  SpeedChart chart;
  chart.viewSpan = 3;
  pushLive(chart, 1000, 500);
  pushLive(chart, 2000, 0);
  chart.hoverX = 400;
  EXPECT_TRUE(paintFrame(chart).withBrush<LineOp>(Brush::HoverLine).empty());  // not hovering

  chart.hoverActive = true;
  EXPECT_EQ(paintFrame(chart, 81, kH).withBrush<LineOp>(Brush::HoverLine).size(), 1u);
  const RecordingCanvas narrow = paintFrame(chart, 80, kH);
  EXPECT_TRUE(narrow.withBrush<LineOp>(Brush::HoverLine).empty());
  EXPECT_EQ(narrow.count<FillCircleOp>(), 0u);
  EXPECT_EQ(narrow.count<testing::FillRoundedRectOp>(), 0u);

  chart.viewPan = 5;  // the whole queue lies right of the view
  const RecordingCanvas away = paintFrame(chart);
  EXPECT_TRUE(away.withBrush<LineOp>(Brush::HoverLine).empty());
  EXPECT_EQ(away.count<PolylineOp>(), 0u);
}

TEST(ChartFrame, MissingFormatsSkipTheirTextsOnly) {
  SpeedChart chart;
  pushLive(chart, 1000, 500);
  pushLive(chart, 2000, 0);
  chart.hoverActive = true;
  chart.hoverX = 784;

  RecordingCanvas noLabel;
  noLabel.setFormatMissing(TextFormat::Label);
  chart.paint(noLabel, kW, kH);
  EXPECT_EQ(noLabel.textsWithMissingFormat, 0);
  EXPECT_TRUE(speedLabels(noLabel).empty());
  EXPECT_EQ(noLabel.findText("现在"), nullptr);
  EXPECT_EQ(noLabel.findText("滚轮：缩放   拖动：平移"), nullptr);
  EXPECT_EQ(noLabel.all<FillRectOp>().front(), (FillRectOp{{614, 8, 628, 18}, Brush::ReadLine}));  // swatch stays
  EXPECT_NE(noLabel.findText("[实时 跨度=1m20s]  读取: 2.0 KiB/s    写入: 0.0 B/s    峰值: 2.0 KiB/s"), nullptr);

  RecordingCanvas none;
  for (TextFormat f : {TextFormat::Label, TextFormat::Header, TextFormat::Mono, TextFormat::TableHead}) {
    none.setFormatMissing(f);
  }
  chart.paint(none, kW, kH);
  EXPECT_EQ(none.count<TextOp>(), 0u);
  EXPECT_EQ(none.withBrush<LineOp>(Brush::Grid).size(), 12u);
  EXPECT_EQ(none.count<PolylineOp>(), 2u);
  EXPECT_EQ(none.count<testing::FillRoundedRectOp>(), 1u);  // the panel itself is no text
}

}  // namespace
}  // namespace tessivo
