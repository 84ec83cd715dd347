// The rate history, its name pool and the view state: ranges, refreshes, zoom, drag, hover.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "chart/speed_chart.h"
#include "core/text.h"

namespace tessivo {
namespace {

using Names = std::vector<std::string>;
constexpr std::int32_t kWidth = 1280;  // plot from x 64 to 1264, 1200 wide

struct Chart : ::testing::Test, ChartSurface {
  SpeedChart chart;
  int repaints = 0;
  void requestRepaint() override { ++repaints; }
  void SetUp() override { chart.surface = this; }
  void record(int n, std::uint64_t read = 1, const std::vector<NameRate>& top = {}) {
    for (int i = 0; i < n; ++i) chart.recordSample(read, 1, top);
  }
  Names names(const ChartSample& s) const {
    Names out;
    for (const Contributor& c : s.contributors) out.push_back(toUtf8(chart.contributorName(c)));
    return out;
  }
  void expectPoolHoldsTheQueuedNames() const {
    std::set<std::u16string_view> held;
    for (const auto* q : {&chart.liveSamples, &chart.minuteSamples})
      for (const ChartSample& s : *q)
        for (const Contributor& c : s.contributors) held.insert(chart.contributorName(c));
    EXPECT_EQ(chart.names.liveNames(), held.size());
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
            std::tuple(90, 0, Names{"rare", "busy"}, 15, 0, 0));
  chart.ticksPerMinute = 1;  // ranked by the saturated sum, then by name
  const std::uint64_t half = std::uint64_t{1} << 63;
  chart.recordSample(0, 0, {{u"b", 1, 1}, {u"huge", half, half}, {u"a", 2, 0}, {u"c", 1, 1}});
  EXPECT_EQ(names(chart.minuteSamples.back()), (Names{"huge", "a", "b", "c"}));
  chart.ticksPerMinute = 2;
  chart.recordSample(0, 0, std::vector<NameRate>(12, NameRate{u"p", 1, 0}));  // cut at ten before use
  EXPECT_EQ(std::tuple(chart.liveSamples.back().contributors.size(),
                       chart.minuteAccumulator.nameSums[u"p"].readSum),
            std::tuple(10, 10));
}

TEST_F(Chart, CapacitiesFollowIntervalAndRetentionWithinTheirBounds) {
  for (auto [ms, hours, clamped, live, ticks, minutes] :  // each clamped to its bounds, then the capacities
       {std::tuple{20, 24, 50, 1600u, 1200, 1440u}, {6000, 0, 6000, 16u, 10, 60u},
        {60000, 1000, 10000, 16u, 6, 43200u}, {333, 72, 333, 240u, 180, 4320u}}) {
    chart.setSampleInterval(ms);
    chart.setRetentionHours(hours);
    const auto& c = chart;
    EXPECT_EQ(std::tuple(c.sampleIntervalMs, c.liveCapacity, c.ticksPerMinute, c.minuteCapacity),
              std::tuple(clamped, live, ticks, minutes));
  }
  chart.sampleIntervalMs = 0;
  chart.recomputeCapacities();
  EXPECT_EQ(std::tuple(chart.sampleIntervalMs, chart.liveCapacity), std::tuple(333, 240));
}

TEST_F(Chart, SettingsTrimOrRestartTheHistoryAndThePoolFollows) {
  chart.setSampleInterval(10000);  // six refreshes a minute, 16 live items
  for (int minute = 0; minute < 4320; ++minute)
    record(6, minute, {{widenAscii(std::to_string(minute)), 1, 0}});
  record(3, 0, {{u"x", 1, 0}});  // half a minute in the accumulator
  EXPECT_EQ(std::tuple(chart.minuteSamples.size(), chart.liveSamples.size()), std::tuple(4320, 16));
  expectPoolHoldsTheQueuedNames();
  const int before = repaints;
  chart.setSampleInterval(20000);  // clamped to the current setting: nothing happens
  chart.setRetentionHours(72);
  chart.setRetentionHours(1);  // the newest 60 minutes stay
  EXPECT_EQ(std::tuple(chart.minuteSamples.size(), chart.minuteSamples.front().readRate, repaints),
            std::tuple(60, 4260, before + 1));
  expectPoolHoldsTheQueuedNames();
  chart.setSampleInterval(2000);  // the items' ages would be wrong: everything starts over
  record(1);
  EXPECT_EQ(std::tuple(chart.liveSamples.size(), chart.minuteSamples.size(), chart.names.liveNames(),
                       chart.minuteAccumulator.tickCount, chart.minuteAccumulator.nameSums.size()),
            std::tuple(1, 0, 0, 1, 0));
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
  chart.setRange(ChartRange::Live);  // the same range, or an unknown one: nothing happens
  chart.setRange(static_cast<ChartRange>(7));
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

TEST_F(Chart, WheelZoomsAboutTheCursorDragPansWithinTheQueueAndHoverArmsTheLeaveOnce) {
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
  EXPECT_TRUE(chart.viewAltered && !chart.hoverActive);
  EXPECT_TRUE(chart.buttonUp());
  EXPECT_FALSE(chart.buttonUp());
  chart.buttonDown(0, 0);
  chart.captureLost();
  EXPECT_TRUE(chart.mouseMove(0, 0, kWidth));  // hovering again
  EXPECT_FALSE(chart.mouseMove(210, 40, kWidth));
  EXPECT_EQ(std::tuple(chart.hoverActive, chart.hoverX, chart.hoverY), std::tuple(true, 210, 40));
  chart.mouseLeave();
  EXPECT_TRUE(!chart.hoverActive && chart.mouseMove(0, 0, kWidth));
  chart.doubleClick();
  EXPECT_EQ(std::tuple(chart.viewSpan, chart.viewPan, chart.viewAltered), std::tuple(240.0f, 0.0f, false));
}

}  // namespace
}  // namespace tessivo
