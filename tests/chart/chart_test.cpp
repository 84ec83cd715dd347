// The rate history, its name pool and the view state, and the frames they paint on a recording canvas.
#include <gtest/gtest.h>

#include <limits>
#include <memory>

#include "chart/chart_format.h"
#include "chart/chart_frame.h"
#include "chart/speed_chart.h"
#include "core/text.h"
#include "support/recording_canvas.h"
#include "support/refresh_rig.h"
#include "../../bench/counting_alloc.h"  // the heap of the whole test program, counted

namespace tessivo {
namespace {

using namespace testing;
constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
constexpr std::int32_t kWidth = 1280;                   // a chart window: plot from x 64 to 1264, 1200 wide
constexpr float kL = 64, kT = 26, kR = 784, kB = 370;  // the plot of an 800 x 400 frame

struct Chart : ::testing::Test, ChartSurface {
  SpeedChart chart;
  int repaints = 0;
  void requestRepaint() override { ++repaints; }
  void SetUp() override { chart.surface = this; }
  void record(int n, std::uint64_t read = 1, const std::vector<NameRate>& top = {}) {
    for (int i = 0; i < n; ++i) chart.recordSample(read, 1, top);
  }
  Texts names(const ChartSample& s) const {
    Texts out;
    for (const Contributor& c : s.contributors) out.push_back(toUtf8(chart.contributorName(c)));
    return out;
  }
  void alter(float span, float pan) { chart.viewSpan = span, chart.viewPan = pan, chart.viewAltered = true; }
};

TEST_F(Chart, MinuteAveragesEveryNameOverTheWholeMinuteAndRanksThem) {
  for (int i = 1; i <= 180; ++i) {
    ASSERT_TRUE(chart.minuteSamples.empty()) << i;  // a minute closes on its last refresh
    std::vector<NameRate> top{{u"busy", 0, 1}};
    if (i % 60 == 0) top.insert(top.begin(), {u"rare", 900, 0});  // 3 of the 180 refreshes
    chart.recordSample(i, i == 180 ? 0 : 1, top);
  }
  const ChartSample& m = chart.minuteSamples.at(0);  // 16290 / 180, 179 / 180 and 2700 / 180, truncated
  EXPECT_EQ(std::tuple(m.readRate, m.writeRate, names(m), m.contributors[0].readRate,
                       chart.minuteAccumulator.tickCount, chart.minuteAccumulator.nameSums.size()),
            std::tuple(90, 0, Texts{"rare", "busy"}, 15, 0, 0));
  chart.ticksPerMinute = 1;  // ranked by the saturated sum, then by name
  chart.recordSample(0, 0, {{u"b", 1, 1}, {u"huge", 1ull << 63, 1ull << 63}, {u"a", 2, 0}, {u"c", 1, 1}});
  EXPECT_EQ(names(chart.minuteSamples.back()), (Texts{"huge", "a", "b", "c"}));
}

TEST_F(Chart, SettingsAreClampedAndTrimOrRestartTheHistoryAndThePoolFollows) {
  for (auto [ms, hours, clamped, live, ticks, minutes] :  // each clamped to its bounds, then the capacities
       {std::tuple{20, 0, 50, 1600u, 1200, 60u}, {60000, 1000, 10000, 16u, 6, 43200u}}) {
    chart.setSampleInterval(ms);
    chart.setRetentionHours(hours);
    const auto& c = chart;
    EXPECT_EQ(std::tuple(c.sampleIntervalMs, c.liveCapacity, c.ticksPerMinute, c.minuteCapacity),
              std::tuple(clamped, live, ticks, minutes));
  }
  for (int minute = 0; minute < 4320; ++minute)  // six refreshes a minute, 16 live items
    record(6, minute, {{widenAscii(std::to_string(minute)), 1, 0}});
  record(3, 0, {{u"x", 1, 0}});  // half a minute in the accumulator
  EXPECT_EQ(std::tuple(chart.minuteSamples.size(), chart.liveSamples.size(), chart.names.liveNames()),
            std::tuple(4320, 16, 4321));  // the pool holds each minute's name and x
  const int before = repaints;
  chart.setSampleInterval(20000);  // clamped to the current settings: nothing happens
  chart.setRetentionHours(800);
  chart.setRetentionHours(1);  // the newest 60 minutes stay
  EXPECT_EQ(std::tuple(chart.minuteSamples.size(), chart.minuteSamples.front().readRate, repaints,
                       chart.names.liveNames()),
            std::tuple(60, 4260, before + 1, 61));  // the trimmed minutes' names are released
  chart.setSampleInterval(2000);  // the items' ages would be wrong: everything starts over
  record(1);
  EXPECT_EQ(std::tuple(chart.liveSamples.size(), chart.minuteSamples.size(), chart.names.liveNames(),
                       chart.minuteAccumulator.tickCount, chart.minuteAccumulator.nameSums.size()),
            std::tuple(1, 0, 0, 1, 0));
}

TEST_F(Chart, AClearOrTrimGivesBackWhatItLeavesUnused) {
  using bench::gLiveBytes;
  chart.setRetentionHours(720);
  chart.setSampleInterval(10000);  // six refreshes a minute, 16 live items
  const auto top = [](int minute, int refresh) {  // ten names of 20 characters
    std::vector<NameRate> out;
    for (int k = 0; k < 10; ++k)
      out.push_back({widenAscii(std::to_string(10'000'000 + minute * 60 + refresh * 10 + k) + "-process.exe"), 9, 0});
    return out;
  };
  const std::int64_t before = gLiveBytes;
  for (int minute = 1; minute <= 1000; ++minute)
    for (int refresh = 0; refresh < 6; ++refresh) chart.recordSample(1, 1, top(minute, refresh));
  const std::int64_t full = gLiveBytes - before;
  chart.setRetentionHours(1);  // 60 minute items of ten names, 16 live ones; two minutes' names in both
  EXPECT_EQ(std::tuple(chart.names.liveNames(), names(chart.minuteSamples.back()).at(9),
                       names(chart.liveSamples.back()).at(9)),
            std::tuple(600 + 160 - 20, "10060009-process.exe", "10060059-process.exe"));
  EXPECT_LT(gLiveBytes - before, full / 8) << full;
  chart.setSampleInterval(5000);
  EXPECT_LE(gLiveBytes, before) << gLiveBytes - before;
}

TEST(NamePool, CountsReferencesReusesFreedIdsAndCopiesItsOwnTexts) {
  auto pool = std::make_unique<NamePool>();
  const std::uint32_t a = pool->intern(u"svchost.exe"), upper = pool->intern(u"SVCHOST.EXE");  // exact
  EXPECT_EQ(pool->intern(u"svchost.exe"), a);
  pool->release(a);
  EXPECT_EQ(pool->name(a), u"svchost.exe");  // one reference left
  for (int i = 0; i < 2; ++i) pool->release(a);  // the extra release must not free another name
  EXPECT_TRUE(pool->liveNames() == 1 && upper != a && pool->name(a).empty() && pool->name(9999).empty());
  EXPECT_EQ(pool->intern(std::u16string(40, u'n')), a);
  NamePool copy(*pool), assigned;
  assigned = *pool;
  pool.reset();  // the copies must not refer to the original's storage
  assigned.release(a);
  EXPECT_EQ(std::tuple(copy.intern(std::u16string(40, u'n')), copy.name(upper), assigned.liveNames(),
                       copy.liveNames()),
            std::tuple(a, u"SVCHOST.EXE", 1, 2));
}

TEST_F(Chart, RangesResetTheViewAndAnAlteredViewFollowsItsItems) {
  record(179);  // one short of the first minute
  alter(100, 5);
  chart.setRange(ChartRange::Live);  // the same range: nothing happens
  EXPECT_EQ(std::tuple(repaints, chart.viewPan), std::tuple(179, 5.0f));
  chart.setRetentionHours(1);
  for (auto [range, span] : {std::pair{ChartRange::Hour24, 1440.0f}, {ChartRange::Full, 60.0f},
                             {ChartRange::Hour1, 60.0f}, {ChartRange::Live, 240.0f}}) {
    alter(3, 1);
    chart.hoverActive = true;
    chart.setRange(range);
    EXPECT_EQ(
        std::tuple(chart.viewSpan, chart.viewPan, chart.viewAltered, chart.hoverActive, chart.itemCount()),
        std::tuple(span, 0.0f, false, false, range == ChartRange::Live ? 179 : 0));
  }
  record(61);
  alter(100, 10);
  for (auto [n, pan] : {std::pair{1, 11.0f}, {200, 140.0f}}) {  // one item further each, up to the oldest
    record(n);
    EXPECT_EQ(std::tuple(chart.viewPan, chart.leftIndex()), std::tuple(pan, 239.0f - pan - 99.0f));
  }
  chart.setSampleInterval(10000);  // a minute range moves only when a minute closes
  chart.setRange(ChartRange::Hour1);
  record(6 * 5);
  alter(2, 1);
  for (auto [n, pan] : {std::pair{5, 1.0f}, {1, 2.0f}}) {
    record(n);
    EXPECT_EQ(std::tuple(chart.viewPan, chart.maxPan()), std::tuple(pan, n == 5 ? 3.0f : 4.0f));
  }
}

TEST_F(Chart, WheelZoomsAboutTheCursorAndDragPansWithinTheQueue) {
  record(240);
  for (auto [x, delta, span, pan] : {std::tuple{664, 120, 192.0f, 24.0f}, {664, -120, 240.0f, 0.0f},
                                     {300, -120, 240.0f, 0.0f}, {664, 240, 192.0f, 24.0f},
                                     {664, 0, 240.0f, 0.0f}, {10, 120, 192.0f, 48.0f}}) {  // 40 wide: at L
    const int before = repaints;
    chart.zoomAt(x, delta, x == 10 ? 40 : kWidth);
    EXPECT_NEAR(chart.viewSpan, span, 1e-3) << x << " " << delta;
    EXPECT_NEAR(chart.viewPan, pan, 1e-3) << x << " " << delta;
    EXPECT_EQ(std::tuple(chart.viewAltered, repaints), std::tuple(span != 240.0f, before + 1));
  }
  for (int i = 0; i < 40; ++i) chart.zoomAt(900, 120, kWidth);
  EXPECT_TRUE(chart.viewSpan == 2.0f && chart.viewPan <= chart.maxPan());
  chart.viewSpan = 100, chart.viewPan = 0, chart.hoverActive = true;
  chart.buttonDown(100, 50);
  for (auto [x, pan] : {std::pair{1300, 99.0f}, {5000, 140.0f}, {-5000, 0.0f}, {88, 0.0f}, {112, 0.99f}}) {
    EXPECT_FALSE(chart.mouseMove(x, 80, kWidth));  // the plot's width is span - 1 items
    EXPECT_FLOAT_EQ(chart.viewPan, pan) << x;
  }
  EXPECT_TRUE(chart.viewAltered && !chart.hoverActive);  // a drag hides the read-out
}

// Live items (three by default: anchors at x 64, 424, 784) drawn whole, or only their share panel.
struct Frame : ::testing::Test {
  SpeedChart chart;
  RectF panel;  // of the share panel last drawn
  void SetUp() override { chart.viewSpan = 3, chart.liveSamples.resize(3); }
  void set(std::size_t index, std::uint64_t read, std::uint64_t write, std::vector<NameRate> top = {}) {
    chart.liveSamples[index] = ChartSample{read, write, {}};
    for (const NameRate& c : top)
      chart.liveSamples[index].contributors.push_back({chart.names.intern(c.name), c.readRate, c.writeRate});
  }
  Texts paint(TextFormat format, bool belowPlot = false) {  // the texts in one format
    return hover(chart.hoverX, 800, chart.hoverActive).textStrings(
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

TEST(ChartText, SpeedsDurationsAndTheScale) {
  for (auto [rate, text] : {std::pair{kMax, "17179869184.0 GiB/s"}, {1023, "1023.0 B/s"}, {1024, "1.0 KiB/s"},
                            {1048575, "1024.0 KiB/s"}, {1048576, "1.0 MiB/s"}, {1073741824, "1.0 GiB/s"}})
    EXPECT_EQ(toUtf8(formatRate(rate)), text) << rate;  // the unit is chosen on the unrounded value
  for (auto [seconds, text] : {std::pair{9.96f, "10.0s"}, {10.0f, "10s"}, {59.7f, "60s"}, {60.0f, "1m00s"},
                               {3599.6f, "60m00s"}, {3659.0f, "1h00m"}, {-90.0f, "1m30s"},
                               {1.0e12f, "596523h14m"}, {std::numeric_limits<float>::quiet_NaN(), "0.0s"}})
    EXPECT_EQ(toUtf8(formatDuration(seconds)), text) << seconds;
  for (auto [peak, max] : {std::pair{0ull, 2000ull}, {2001, 5000}, {5000, 5000}, {5001, 10000},
                           {10000001, 20000000}, {10000000000000000001ull, kMax}})  // 2 x 10^19 does not fit
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
  // Minute items of 60 s, the live ones not counted; a span below 2 counts as 2.
  std::tie(chart.rangeMode, chart.viewPan, chart.viewSpan) = std::tuple(ChartRange::Hour1, 0.0f, 0.5f);
  EXPECT_EQ(std::tuple(paint(TextFormat::Header).at(0), paint(TextFormat::Label, true).at(0)),
            std::tuple("[1 小时 跨度=2m00s]  读取: 0.0 B/s    写入: 0.0 B/s    峰值: 0.0 B/s", "-1m00s"));
}

TEST_F(Frame, SeriesRunThroughTheItemsDrawnOneBeyondEachEdgeAndTheHoverRoundsToThem) {
  set(0, 1000, 500), set(1, 500, 1500), set(2, 2000, 0);  // a scale of 2000 over 344 pixels
  EXPECT_EQ(hover(0).all<PolygonOp>().at(0),
            (PolygonOp{{{64, 370}, {64, 198}, {424, 284}, {784, 26}, {784, 370}}, Brush::ReadFill}));
  for (auto [x, at] : {std::pair{243, 64.0f}, {244, 424.0f}, {-500, 64.0f}, {5000, 784.0f}})
    EXPECT_EQ(hover(x).withBrush<LineOp>(Brush::HoverLine).at(0).from.x, at) << x;
  EXPECT_EQ(std::tuple(hover(400, 81).count<FillCircleOp>(), hover(400, 80).count<FillCircleOp>()),
            std::tuple(2, 0));  // too narrow to hover
  set(0, 900000, 0);
  chart.liveSamples.resize(5);
  chart.viewPan = 0.5f;  // edges at 1.5 and 3.5: item 0 is neither drawn nor counted in the scale
  EXPECT_EQ(hover(-1).withBrush<PolylineOp>(Brush::WriteLine).at(0),
            (PolylineOp{{{-116, 112}, {244, 370}, {604, 370}, {964, 370}}, Brush::WriteLine, 1.8f}));
  chart.viewPan = 5;  // the whole queue lies right of the view
  EXPECT_EQ(hover(400).count<FillRoundedRectOp>(), 0u);
  chart.liveSamples.resize(1);
  EXPECT_EQ(hover(0).count<PolylineOp>(), 0u);  // a single item makes no line
}

TEST_F(Frame, SharePanelListsTotalsAndContributorsBesideTheCursorWithinTheHeight) {
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
  chart.viewPan = 0.5f;  // items 3 and 4 of five at x 604 and 964 (past R)
  chart.liveSamples.resize(5);
  for (auto [index, right, rect] : {std::tuple{3, kR, RectF{72, 32, 592, 146}},  // no room right: left of it
                                    {4, kR, RectF{260, 32, 780, 146}},            // neither: 4 inside R
                                    {4, 164.0f, RectF{68, 32, 188, 146}}})        // L + 4 wins over R
    EXPECT_EQ((drawPanel(index, kB, right), panel), rect) << index << " " << right;
  EXPECT_EQ(std::tuple(drawPanel(3).textStrings(), drawPanel(3).count<FillRectOp>()),
            std::tuple(Texts{"合计  现在", "0.0 B/s", "0.0 B/s", "进程", "读取", "写入", "占比",
                             "（无进程级活动记录）"}, 0));  // zero speeds: not even a bar's background
  chart.viewPan = 2;  // item 0 at x 64
  set(0, 300, 100, {{u"b", 100, 100}, {u"a", 300, 100}, {u"idle", 0, 0}});  // stored order, largest second
  const auto bars = drawPanel(0).all<FillRectOp>();  // per row a track, then its read and write parts
  EXPECT_EQ(std::tuple(bars.size(), bars[1].rect, bars[5].rect),  // none for idle; the total splits 3 : 1
            std::tuple(10, RectF{490, 47, 562, 55}, RectF{514, 89, 538, 97}));  // b: half of a's measure
  EXPECT_EQ(drawPanel(0, kB, kR, {TextFormat::Mono}).textStrings(),
            (Texts{"合计  -1.3s", "进程", "读取", "写入", "占比"}));  // a missing format skips only its texts
  EXPECT_TRUE(drawPanel(5).ops.empty() && drawPanel(-1).ops.empty());  // outside the queue: nothing
}

}  // namespace
}  // namespace tessivo
