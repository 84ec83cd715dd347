// Chart frames on a recording canvas: texts, scale, series, the hover read-out and its share panel.
#include <gtest/gtest.h>

#include <limits>

#include "chart/chart_format.h"
#include "chart/chart_frame.h"
#include "chart/speed_chart.h"
#include "support/recording_canvas.h"

namespace tessivo {
namespace {

using namespace testing;
using Texts = std::vector<std::string>;
constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
constexpr float kL = 64, kT = 26, kR = 784, kB = 370;  // the plot of an 800 x 400 frame

// Live items (three by default: anchors at x 64, 424, 784) drawn whole, or only their share panel.
struct Frame : ::testing::Test {
  SpeedChart chart;
  RectF panel;  // of the share panel last drawn
  void SetUp() override { chart.viewSpan = 3, chart.liveSamples.resize(3); }
  void set(std::size_t index, std::uint64_t read, std::uint64_t write,
           const std::vector<NameRate>& top = {}) {
    chart.liveSamples[index] = ChartSample{read, write, {}};
    for (const NameRate& c : top)
      chart.liveSamples[index].contributors.push_back({chart.names.intern(c.name), c.readRate, c.writeRate});
  }
  Texts paint(TextFormat format, bool belowPlot = false) {  // the texts in one format
    const RecordingCanvas c = hover(chart.hoverX, 800, chart.hoverActive);
    return c.textStrings(
        [=](const TextOp& t) { return t.format == format && (t.rect.top > kB) == belowPlot; });
  }
  RecordingCanvas hover(std::int32_t x, float width = 800, bool active = true) {
    RecordingCanvas c;
    std::tie(chart.hoverActive, chart.hoverX) = std::tuple(active, x);
    chart.paint(c, width, 400);
    return c;
  }
  RecordingCanvas drawPanel(std::int32_t index, float bottom = kB, float right = kR, RecordingCanvas c = {}) {
    chart.drawSharePanel(c, index, kL, kT, right, bottom);
    const auto panels = c.all<FillRoundedRectOp>();
    panel = panels.size() == 1 ? panels[0].rect : RectF{-1, -1, -1, -1};
    return c;
  }
  Texts nameColumn(const RecordingCanvas& c) const {  // below the headings: labels, and the count of the rest
    return c.textStrings(
        [this](const TextOp& t) { return t.rect.left == panel.left + 10 && t.rect.top > panel.top + 42; });
  }
};

TEST(ChartText, SpeedsDurationsOffsetsAndTheScale) {
  for (auto [value, text] : {std::pair{1023ull, "1023.0 B/s"}, {1024ull, "1.0 KiB/s"},
                             {1048575ull, "1024.0 KiB/s"}, {1048576ull, "1.0 MiB/s"},
                             {1073741824ull, "1.0 GiB/s"}, {kMax, "17179869184.0 GiB/s"}})
    EXPECT_EQ(toUtf8(formatRate(value)), text) << value;  // the unit is chosen on the unrounded value
  for (auto [seconds, text] : {std::pair{9.96f, "10.0s"}, {10.0f, "10s"}, {59.7f, "60s"}, {60.0f, "1m00s"},
                               {3599.6f, "60m00s"}, {3659.0f, "1h00m"}, {-90.0f, "1m30s"},
                               {1.0e12f, "596523h14m"}, {std::numeric_limits<float>::quiet_NaN(), "0.0s"}})
    EXPECT_EQ(toUtf8(formatDuration(seconds)), text) << seconds;
  for (auto [seconds, text] :
       {std::pair{0.5f, "现在"}, {-3.0f, "现在"}, {0.6f, "-0.6s"}, {3600.0f, "-1h00m"}})
    EXPECT_EQ(toUtf8(formatTimeOffset(seconds)), text) << seconds;
  for (auto [peak, max] : {std::pair{0ull, 2000ull}, {2001ull, 5000ull}, {5000ull, 5000ull},
                           {5001ull, 10000ull}, {10000001ull, 20000000ull},
                           {10000000000000000001ull, kMax}})  // 2 x 10^19 does not fit
    EXPECT_EQ(chartScaleMax(peak), max) << peak;
}

TEST_F(Frame, ScaleHeaderAndTimeLabels) {
  chart.viewSpan = 240;
  set(0, kMax, 0);  // quarters of the top scale, top first, without overflow
  EXPECT_EQ(paint(TextFormat::Label)[1], "12884901888.0 GiB/s");
  set(0, 0, 0), set(1, 4096, 100), set(2, 1536, 3 * 1048576);
  EXPECT_EQ(paint(TextFormat::Label),
            (Texts{"4.8 MiB/s", "3.6 MiB/s", "2.4 MiB/s", "1.2 MiB/s", "0.0 B/s", "读取", "写入"}));
  EXPECT_EQ(paint(TextFormat::Header),
            Texts{"[实时 跨度=1m20s]  读取: 1.5 KiB/s    写入: 3.0 MiB/s    峰值: 3.0 MiB/s"});
  EXPECT_EQ(paint(TextFormat::Label, true), (Texts{"-1m20s", "现在", "滚轮：缩放   拖动：平移"}));
  std::tie(chart.viewPan, chart.viewAltered) = std::tuple(30.0f, true);  // both edges move back 30 items
  EXPECT_EQ(paint(TextFormat::Label, true),
            (Texts{"-1m30s", "-10.0s", "滚轮：缩放   拖动：平移   双击：重置"}));
  std::tie(chart.rangeMode, chart.viewPan) = std::tuple(ChartRange::Hour1, 0.0f);  // live items do not count
  for (auto [span, head, left] : {std::tuple{60.0f, "[1 小时 跨度=1h00m]", "-59m00s"},
                                  {0.5f, "[1 小时 跨度=2m00s]", "-1m00s"}}) {  // a span below 2 counts as 2
    chart.viewSpan = span;
    EXPECT_EQ(paint(TextFormat::Header),
              Texts{std::string(head) + "  读取: 0.0 B/s    写入: 0.0 B/s    峰值: 0.0 B/s"});
    EXPECT_EQ(paint(TextFormat::Label, true).at(0), left);
  }
}

TEST_F(Frame, SeriesAreAreaThenLineThroughTheItemsDrawnOneBeyondEachEdge) {
  set(0, 1000, 500), set(1, 500, 1500), set(2, 2000, 0);  // a scale of 2000 over 344 pixels
  EXPECT_EQ(hover(0).all<PolygonOp>().at(0),
            (PolygonOp{{{64, 370}, {64, 198}, {424, 284}, {784, 26}, {784, 370}}, Brush::ReadFill}));
  EXPECT_EQ(hover(0).all<PolylineOp>().at(1),
            (PolylineOp{{{64, 284}, {424, 112}, {784, 370}}, Brush::WriteLine, 1.8f}));
  set(0, 900000, 0);
  chart.liveSamples.resize(5);
  chart.viewPan = 0.5f;  // edges at 1.5 and 3.5: item 0 is neither drawn nor counted in the peak
  EXPECT_EQ(hover(-1).withBrush<PolylineOp>(Brush::ReadLine).at(0).points,
            (std::vector<PointF>{{-116, 284}, {244, 26}, {604, 370}, {964, 370}}));
  EXPECT_EQ(paint(TextFormat::Header),
            Texts{"[实时 跨度=1.0s]  读取: 0.0 B/s    写入: 0.0 B/s    峰值: 2.0 KiB/s"});
  chart.liveSamples.resize(1);
  EXPECT_EQ(hover(0).count<PolylineOp>(), 0u);  // a single item makes no line
}

TEST_F(Frame, HoverRoundsHalfAwayAndClampsToTheDrawnItems) {
  for (auto [x, at] : {std::pair{243, 64.0f}, {244, 424.0f}, {-500, 64.0f}, {5000, 784.0f}})
    EXPECT_EQ(hover(x).withBrush<LineOp>(Brush::HoverLine).at(0).from.x, at) << x;
  EXPECT_EQ(std::tuple(hover(400, 81).count<FillCircleOp>(), hover(400, 80).count<FillCircleOp>()),
            std::tuple(2, 0));  // too narrow to hover
  chart.viewPan = 5;  // the whole queue lies right of the view
  EXPECT_EQ(hover(400).count<FillRoundedRectOp>(), 0u);
}

TEST_F(Frame, SharePanelListsTotalsAndContributorsWithBarsBesideTheCursor) {
  chart.viewPan = 0.5f;  // items 2, 3 and 4 at x 244, 604 and 964 (past R)
  chart.liveSamples.resize(5);
  for (auto [index, right, rect] : {std::tuple{2, kR, RectF{256, 32, 776, 146}},  // right of the cursor
                                    {3, kR, RectF{72, 32, 592, 146}},             // no room: left of it
                                    {4, kR, RectF{260, 32, 780, 146}},            // neither: 4 inside R
                                    {4, 164.0f, RectF{68, 32, 188, 146}}})       // L + 4 wins over R
    EXPECT_EQ((drawPanel(index, kB, right), panel), rect) << index << " " << right;
  chart.viewPan = 2;  // item 0 at x 64
  EXPECT_EQ(drawPanel(2).textStrings(), (Texts{"合计  -0.7s", "0.0 B/s", "0.0 B/s", "进程", "读取", "写入",
                                               "占比", "（无进程级活动记录）"}));
  EXPECT_EQ(drawPanel(2).count<FillRectOp>(), 0u);  // zero speeds: not even the total bar's background
  set(0, 300, 100,
      {{u"b", 100, 100}, {u"a", 300, 100}, {u"idle", 0, 0}});  // stored order; the largest second
  std::vector<RectF> bars;  // bar column 490..586: the total split 3 : 1, b half of a, idle a track only
  for (const FillRectOp& op : drawPanel(0).all<FillRectOp>()) bars.push_back(op.rect);
  EXPECT_EQ(bars, (std::vector<RectF>{{490, 47, 586, 55}, {490, 47, 562, 55}, {562, 47, 586, 55},
                                      {490, 89, 586, 97}, {490, 89, 514, 97}, {514, 89, 538, 97},
                                      {490, 107, 586, 115}, {490, 107, 562, 115}, {562, 107, 586, 115},
                                      {490, 125, 586, 133}}));
  EXPECT_EQ(drawPanel(0, kB, kR, {TextFormat::Mono}).textStrings(),
            (Texts{"合计  -1.3s", "进程", "读取", "写入", "占比"}));  // a missing format skips only its texts
  EXPECT_EQ(std::tuple(drawPanel(0, kB, kL + 432).count<FillRectOp>(),
                       drawPanel(0, kB, kL + 433).count<FillRectOp>()),
            std::tuple(0, 10));         // a bar column of no width draws no bars, of one pixel it does
  chart.rangeMode = ChartRange::Hour1;  // ages in minutes; indices outside the shown queue draw nothing
  chart.minuteSamples.resize(3);
  EXPECT_EQ(drawPanel(0).textStrings().at(0), "合计  -2m00s");
  EXPECT_TRUE(drawPanel(3).ops.empty() && drawPanel(-1).ops.empty());
}

TEST_F(Frame, SharePanelRowsFitTheHeightWithACountOfTheRestAndCutLabels) {
  std::vector<NameRate> ten(10, NameRate{u"p", 100, 100});
  for (std::size_t i = 0; i < 9; ++i) ten[i].name += widenAscii(std::to_string(i));
  ten[9] = {u"largest", 1000, 600};  // not shown, yet the measure of every bar
  set(0, 1, 0, ten);
  const RecordingCanvas c = drawPanel(0, 244);  // ten lines fit: five contributors and the count
  EXPECT_EQ(std::tuple(panel, nameColumn(c)),
            std::tuple(RectF{76, 32, 596, 236}, Texts{"p0", "p1", "p2", "p3", "p4", "… 其余 5 项"}));
  EXPECT_EQ(c.withBrush<FillRectOp>(Brush::WriteLine).at(1).rect.right, 490.0f + 200.0f / 1600.0f * 96.0f);
  set(1, 1, 0, {ten.begin(), ten.begin() + 3});  // five lines at least: the one row left is the count
  EXPECT_EQ(nameColumn(drawPanel(1, 126)), Texts{"… 其余 3 项"});
  EXPECT_EQ(panel, (RectF{68, 30, 588, 144}));  // pushed up from B - 4, then held at T + 4
  const std::u16string astral = std::u16string(28, u'e') + u"\U0001F600" + u"zz";  // a pair on the cut
  set(2, 1, 0,
      {{std::u16string(30, u'n'), 1, 0}, {std::u16string(31, u'm'), 1, 0}, {u"", 1, 0}, {astral, 1, 0}});
  EXPECT_EQ(nameColumn(drawPanel(2)), (Texts{std::string(30, 'n'), std::string(29, 'm') + "…", "（未知）",
                                             std::string(28, 'e') + "…"}));
}

}  // namespace
}  // namespace tessivo
