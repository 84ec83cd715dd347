#include <gtest/gtest.h>

#include <limits>

#include "chart/chart_format.h"
#include "chart/chart_frame.h"
#include "chart/speed_chart.h"
#include "support/recording_canvas.h"

namespace tessivo {
namespace {

using testing::FillCircleOp;
using testing::FillRoundedRectOp;
using testing::LineOp;
using testing::PolygonOp;
using testing::PolylineOp;
using testing::RecordingCanvas;
using testing::TextOp;
using Texts = std::vector<std::string>;

// An 800 x 400 frame: plot 64..784 across (720 wide), 26..370 down (344 high).
constexpr float kW = 800.0f;
constexpr float kH = 400.0f;

SpeedChart liveChart(std::vector<std::pair<std::uint64_t, std::uint64_t>> items, float span = 240) {
  SpeedChart chart;
  chart.viewSpan = span;
  for (auto [read, write] : items) chart.liveSamples.push_back(ChartSample{read, write, {}});
  return chart;
}

RecordingCanvas paintFrame(const SpeedChart& chart, float w = kW, float h = kH) {
  RecordingCanvas canvas;
  chart.paint(canvas, w, h);
  return canvas;
}

// The scale's five labels (top first), the texts below the plot (left time, right time,
// hint) and the header.
Texts scaleLabels(const RecordingCanvas& canvas) {
  return canvas.textStrings([](const TextOp& t) { return t.format == TextFormat::Label && t.paragraph == ParagraphAlign::Center; });
}
Texts belowPlot(const RecordingCanvas& canvas) {
  return canvas.textStrings([](const TextOp& t) { return t.rect.top > 370; });
}
std::string header(const RecordingCanvas& canvas) {
  const Texts found = canvas.textStrings([](const TextOp& t) { return t.format == TextFormat::Header; });
  return found.size() == 1 ? found[0] : std::string();
}

TEST(ChartFrame, GridOfFiveByTenEvenOnAOnePixelPlot) {
  const RecordingCanvas canvas = paintFrame(SpeedChart{});
  EXPECT_EQ(std::get<testing::ClearOp>(canvas.ops.front()).colour, kChartBackground);
  EXPECT_EQ(canvas.withBrush<LineOp>(Brush::Grid)[6], (LineOp{{184, 26}, {184, 370}, Brush::Grid, 1.0f}));
  const auto tiny = paintFrame(SpeedChart{}, 50, 40).withBrush<LineOp>(Brush::Grid);
  ASSERT_EQ(tiny.size(), 12u);
  EXPECT_EQ(tiny[4].from.y, 27.0f);  // 26 + plotHeight of 1
  EXPECT_EQ(tiny[11], (LineOp{{65, 26}, {65, 10}, Brush::Grid, 1.0f}));  // plotWidth 1; bottom H - 30, unclamped
}

TEST(ChartFrame, ScaleIsTheNextOneTwoFiveStepAboveThePeakAndNeverWraps) {
  const std::pair<std::uint64_t, std::uint64_t> steps[] = {
      {0, 2000},  {1024, 2000}, {2001, 5000}, {5001, 10000}, {9999999, 10000000}, {10000001, 20000000},
      {10000000000000000000ull, 10000000000000000000ull},
      {10000000000000000001ull, std::numeric_limits<std::uint64_t>::max()}};  // 2 x 10^19 does not fit
  for (auto [peak, scale] : steps) EXPECT_EQ(chartScaleMax(peak), scale) << peak;

  // The peak is either series' largest; labels are quarters of the scale, top first.
  EXPECT_EQ(scaleLabels(paintFrame(liveChart({{1, 1}, {0, 1048576}}))).front(), "1.9 MiB/s");
  EXPECT_EQ(scaleLabels(paintFrame(liveChart({}))), (Texts{"2.0 KiB/s", "1.5 KiB/s", "1000.0 B/s", "500.0 B/s", "0.0 B/s"}));
  // At the top of the range the quarters must not overflow.
  EXPECT_EQ(scaleLabels(paintFrame(liveChart({{std::numeric_limits<std::uint64_t>::max(), 0}, {1, 1}}))),
            (Texts{"17179869184.0 GiB/s", "12884901888.0 GiB/s", "8589934592.0 GiB/s", "4294967296.0 GiB/s", "0.0 B/s"}));
}

TEST(ChartFrame, HeaderShowsRangeSpanCurrentSpeedsAndPeak) {
  EXPECT_EQ(header(paintFrame(liveChart({}))), "[实时 跨度=1m20s]  读取: 0.0 B/s    写入: 0.0 B/s    峰值: 0.0 B/s");
  const RecordingCanvas two = paintFrame(liveChart({{4096, 100}, {1536, 3 * 1048576}}));
  EXPECT_EQ(header(two), "[实时 跨度=1m20s]  读取: 1.5 KiB/s    写入: 3.0 MiB/s    峰值: 3.0 MiB/s");

  SpeedChart minutes;
  minutes.minuteSamples.push_back(ChartSample{0, 0, {}});
  minutes.liveSamples.push_back(ChartSample{5000, 5000, {}});  // a live queue does not feed a minute range
  const struct { ChartRange range; float span; const char* header; } ranges[] = {
      {ChartRange::Hour1, 60, "[1 小时 跨度=1h00m]"},
      {ChartRange::Hour24, 1440, "[24 小时 跨度=24h00m]"},
      {ChartRange::Full, 4320, "[完整 跨度=72h00m]"},
      {ChartRange::Full, 0.5f, "[完整 跨度=2m00s]"}};  // a span below 2 counts as 2
  for (const auto& r : ranges) {
    minutes.rangeMode = r.range;
    minutes.viewSpan = r.span;
    EXPECT_EQ(header(paintFrame(minutes)), std::string(r.header) + "  读取: 0.0 B/s    写入: 0.0 B/s    峰值: 0.0 B/s");
  }
}

TEST(ChartFrame, TimeLabelsFollowPanAndTheHintNamesTheReset) {
  SpeedChart live = liveChart({{10, 20}});
  EXPECT_EQ(belowPlot(paintFrame(live)), (Texts{"-1m20s", "现在", "滚轮：缩放   拖动：平移"}));
  live.viewPan = 30;  // both edges move back by 30 items of 0.333 s
  live.viewAltered = true;
  EXPECT_EQ(belowPlot(paintFrame(live)), (Texts{"-1m30s", "-10.0s", "滚轮：缩放   拖动：平移   双击：重置"}));
  SpeedChart hour;
  hour.rangeMode = ChartRange::Hour1;
  hour.viewSpan = 60;
  EXPECT_EQ(belowPlot(paintFrame(hour)).front(), "-59m00s");
}

TEST(ChartSeries, AreaThenLineThroughTheDrawnItemsReadFirst) {
  // Three items exactly across: x = 64, 424, 784. Scale 2000 over 344 pixels.
  const RecordingCanvas canvas = paintFrame(liveChart({{1000, 500}, {500, 1500}, {2000, 0}}, 3));
  const auto polygons = canvas.all<PolygonOp>();
  const auto lines = canvas.all<PolylineOp>();
  ASSERT_EQ(polygons.size(), 2u);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(polygons[0], (PolygonOp{{{64, 370}, {64, 198}, {424, 284}, {784, 26}, {784, 370}}, Brush::ReadFill}));
  EXPECT_EQ(lines[0], (PolylineOp{{{64, 198}, {424, 284}, {784, 26}}, Brush::ReadLine, 1.8f}));
  EXPECT_EQ(polygons[1].brush, Brush::WriteFill);
  EXPECT_EQ(lines[1], (PolylineOp{{{64, 284}, {424, 112}, {784, 370}}, Brush::WriteLine, 1.8f}));
  EXPECT_LT(canvas.indexOf<PolygonOp>(Brush::ReadFill), canvas.indexOf<PolylineOp>(Brush::ReadLine));
  EXPECT_LT(canvas.indexOf<PolylineOp>(Brush::ReadLine), canvas.indexOf<PolygonOp>(Brush::WriteFill));
  EXPECT_LT(canvas.indexOf<PolygonOp>(Brush::WriteFill), canvas.indexOf<PolylineOp>(Brush::WriteLine));
}

TEST(ChartSeries, ViewBetweenItemsDrawsOneBeyondEachEdgeAndPeaksOverThemOnly) {
  SpeedChart chart = liveChart({{900000, 0}, {1000, 0}, {0, 0}, {0, 1500}, {0, 0}}, 3);
  chart.viewPan = 0.5f;  // right edge at 3.5, left edge at 1.5: item 0 lies outside
  const RecordingCanvas canvas = paintFrame(chart);
  const auto lines = canvas.withBrush<PolylineOp>(Brush::ReadLine);
  ASSERT_EQ(lines.size(), 1u);
  ASSERT_EQ(lines[0].points.size(), 4u);  // items 1 to 4
  EXPECT_EQ(lines[0].points.front(), (PointF{-116, 198}));  // half a spacing left of the plot
  EXPECT_EQ(lines[0].points.back(), (PointF{964, 370}));    // half a spacing right of it
  EXPECT_EQ(header(canvas), "[实时 跨度=1.0s]  读取: 0.0 B/s    写入: 0.0 B/s    峰值: 1.5 KiB/s");
  EXPECT_EQ(scaleLabels(canvas).front(), "2.0 KiB/s");
}

TEST(ChartSeries, FailedPathSkipsOnlyThatSeriesAndASingleItemDrawsNone) {
  const SpeedChart chart = liveChart({{1000, 500}, {500, 1000}});
  for (const Brush failing : {Brush::ReadFill, Brush::WriteLine}) {
    RecordingCanvas canvas;
    canvas.failPathsWith(failing);
    chart.paint(canvas, kW, kH);
    const bool readFails = failing == Brush::ReadFill;  // no line without its area
    EXPECT_EQ(canvas.withBrush<PolylineOp>(Brush::ReadLine).size(), readFails ? 0u : 1u);
    EXPECT_EQ(canvas.withBrush<PolygonOp>(Brush::WriteFill).size(), 1u);
    EXPECT_EQ(canvas.withBrush<PolylineOp>(Brush::WriteLine).size(), readFails ? 1u : 0u);
    EXPECT_NE(canvas.findText("读取"), nullptr);  // the rest of the frame goes on
  }
  const RecordingCanvas single = paintFrame(liveChart({{1000, 500}}));
  EXPECT_EQ(single.count<PolygonOp>() + single.count<PolylineOp>(), 0u);
}

RecordingCanvas hoverAt(SpeedChart chart, std::int32_t x, float width = kW) {
  chart.hoverActive = true;
  chart.hoverX = x;
  return paintFrame(chart, width);
}
float cursorX(const RecordingCanvas& canvas) {
  const auto line = canvas.withBrush<LineOp>(Brush::HoverLine);
  return line.size() == 1 ? line[0].from.x : -1.0f;
}
// Cursor line, two dots and the share panel.
std::size_t readOutOps(const RecordingCanvas& canvas) {
  return canvas.withBrush<LineOp>(Brush::HoverLine).size() + canvas.count<FillCircleOp>() +
         canvas.count<FillRoundedRectOp>();
}

TEST(ChartHover, CursorRoundsHalfAwayAndClampsToTheDrawnItems) {
  const SpeedChart three = liveChart({{1000, 500}, {2000, 0}, {0, 1000}}, 3);
  EXPECT_EQ(cursorX(hoverAt(three, 243)), 64.0f);    // 0.497 of an item
  EXPECT_EQ(cursorX(hoverAt(three, 244)), 424.0f);   // exactly half: away from zero
  EXPECT_EQ(cursorX(hoverAt(three, -500)), 64.0f);   // left of the plot: its left edge
  EXPECT_EQ(cursorX(hoverAt(three, 5000)), 784.0f);  // right of the plot: its right edge
  const RecordingCanvas canvas = hoverAt(three, 244);
  EXPECT_EQ(canvas.withBrush<LineOp>(Brush::HoverLine)[0], (LineOp{{424, 26}, {424, 370}, Brush::HoverLine, 1.0f}));
  EXPECT_EQ(canvas.all<FillCircleOp>(), (std::vector<FillCircleOp>{{{424, 26}, 3.5f, Brush::ReadLine},
                                                                   {{424, 370}, 3.5f, Brush::WriteLine}}));
  // Fewer items than the span: the plot's left edge clamps to the oldest item. One item hovers too.
  EXPECT_FLOAT_EQ(cursorX(hoverAt(liveChart({{1, 1}, {2, 2}}), 64)), 64.0f + 238.0f / 239.0f * 720.0f);
  EXPECT_EQ(cursorX(hoverAt(liveChart({{1000, 500}}), 784)), 784.0f);
}

TEST(ChartHover, SkippedWhenInactiveNarrowEmptyOrOutsideTheDrawnItems) {
  SpeedChart chart = liveChart({{1000, 500}, {2000, 0}}, 3);
  chart.hoverX = 400;
  EXPECT_EQ(readOutOps(paintFrame(chart)), 0u);  // not hovering
  EXPECT_EQ(readOutOps(hoverAt(chart, 400, 81)), 4u);
  EXPECT_EQ(readOutOps(hoverAt(chart, 400, 80)), 0u);
  EXPECT_EQ(readOutOps(hoverAt(SpeedChart{}, 400)), 0u);
  chart.viewPan = 5;  // the whole queue lies right of the view
  const RecordingCanvas away = hoverAt(chart, 400);
  EXPECT_EQ(readOutOps(away), 0u);
  EXPECT_EQ(away.count<PolylineOp>(), 0u);
}

TEST(ChartFrame, MissingFormatsSkipTheirTextsOnly) {
  SpeedChart chart = liveChart({{1000, 500}, {2000, 0}});
  chart.hoverActive = true;
  RecordingCanvas noLabel;
  noLabel.setFormatMissing(TextFormat::Label);
  chart.paint(noLabel, kW, kH);
  EXPECT_TRUE(scaleLabels(noLabel).empty() && belowPlot(noLabel).empty());
  EXPECT_EQ(header(noLabel), "[实时 跨度=1m20s]  读取: 2.0 KiB/s    写入: 0.0 B/s    峰值: 2.0 KiB/s");
  RecordingCanvas none;
  for (TextFormat f : {TextFormat::Label, TextFormat::Header, TextFormat::Mono, TextFormat::TableHead})
    none.setFormatMissing(f);
  chart.paint(none, kW, kH);
  EXPECT_EQ(none.count<TextOp>(), 0u);
  EXPECT_EQ(none.withBrush<LineOp>(Brush::Grid).size(), 12u);
  EXPECT_EQ(none.count<PolylineOp>(), 2u);
  EXPECT_EQ(none.withBrush<testing::FillRectOp>(Brush::ReadLine).size(), 2u);  // legend swatch, panel bar
  EXPECT_EQ(readOutOps(none), 4u);  // the read-out holds more than text
}

TEST(FormatRate, PicksTheBinaryUnitBeforeRoundingWithOneDecimal) {
  const std::pair<std::uint64_t, const char*> cases[] = {
      {0, "0.0 B/s"}, {1023, "1023.0 B/s"}, {1024, "1.0 KiB/s"}, {2000, "2.0 KiB/s"},  // 1.953 to one decimal
      {1048575, "1024.0 KiB/s"},  // rounds up, but the unit is already chosen
      {1048576, "1.0 MiB/s"}, {1073741823, "1024.0 MiB/s"}, {1073741824, "1.0 GiB/s"},
      {5ull << 40, "5120.0 GiB/s"}, {std::numeric_limits<std::uint64_t>::max(), "17179869184.0 GiB/s"}};
  for (auto [value, text] : cases) EXPECT_EQ(toUtf8(formatRate(value)), text) << value;
}

TEST(FormatDuration, ChoosesItsFormOnTheUnroundedValue) {
  const std::pair<float, const char*> cases[] = {
      {0.0f, "0.0s"},       {9.5f, "9.5s"},        {9.96f, "10.0s"},  // still the short form
      {10.0f, "10s"},       {59.4f, "59s"},        {59.7f, "60s"},
      {60.0f, "1m00s"},     {79.92f, "1m20s"},     {3599.6f, "60m00s"},
      {3600.0f, "1h00m"},   {3659.0f, "1h00m"},  // seconds dropped, minutes not rounded
      {259200.0f, "72h00m"}, {-90.0f, "1m30s"},
      // Far beyond any span the chart offers; must not wrap into a negative count.
      {1.0e12f, "596523h14m"}, {std::numeric_limits<float>::infinity(), "596523h14m"},
      {std::numeric_limits<float>::quiet_NaN(), "0.0s"},
  };
  for (auto [seconds, text] : cases) EXPECT_EQ(toUtf8(formatDuration(seconds)), text) << seconds;
}

TEST(FormatTimeOffset, NowUpToHalfASecondThenNegative) {
  const std::pair<float, const char*> cases[] = {
      {0.0f, "现在"}, {0.5f, "现在"}, {-3.0f, "现在"}, {0.6f, "-0.6s"}, {79.587f, "-1m20s"}, {3600.0f, "-1h00m"}};
  for (auto [seconds, text] : cases) EXPECT_EQ(toUtf8(formatTimeOffset(seconds)), text) << seconds;
}

}  // namespace
}  // namespace tessivo
