// The rate history: minute averaging, capacities, trimming and the name pool behind it.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "chart/speed_chart.h"
#include "core/text.h"

namespace tessivo {
namespace {

struct CountingSurface : ChartSurface {
  int repaints = 0;
  void requestRepaint() override { ++repaints; }
};

std::u16string nameOf(int i) { return u"proc" + widenAscii(std::to_string(i)) + u".exe"; }

// Distinct names held by both queues: exactly what the pool must still hold.
std::size_t namesHeld(const SpeedChart& chart) {
  std::set<std::u16string_view> held;
  for (const auto* q : {&chart.liveSamples, &chart.minuteSamples})
    for (const ChartSample& s : *q)
      for (const Contributor& c : s.contributors) held.insert(chart.contributorName(c));
  return held.size();
}

TEST(SpeedChartHistory, MinuteClosesOnItsLastRefreshWithTruncatedAverages) {
  SpeedChart chart;
  chart.recordSample(7, 8, {{u"A", 1, 2}});
  ASSERT_EQ(chart.liveSamples.size(), 1u);
  EXPECT_EQ(chart.liveSamples.back().readRate, 7u);
  EXPECT_EQ(chart.contributorName(chart.liveSamples.back().contributors[0]), u"A");

  for (int i = 2; i <= 179; ++i) {
    std::vector<NameRate> top{{u"busy", 0, 1}};
    if (i % 60 == 0) top.push_back({u"rare", 900, 0});  // 3 of the 180 refreshes
    chart.recordSample(i, 1, std::move(top));
  }
  EXPECT_TRUE(chart.minuteSamples.empty());
  chart.recordSample(180, 0, {{u"rare", 900, 0}, {u"busy", 0, 1}});
  ASSERT_EQ(chart.minuteSamples.size(), 1u);
  const ChartSample& m = chart.minuteSamples.back();
  EXPECT_EQ(m.readRate, 90u);  // 16296 / 180 = 90.53 truncates
  EXPECT_EQ(m.writeRate, 1u);  // 186 / 180
  ASSERT_EQ(m.contributors.size(), 3u);
  EXPECT_EQ(chart.contributorName(m.contributors[0]), u"rare");
  EXPECT_EQ(m.contributors[0].readRate, 15u);  // 2700 over the whole minute, not over 3
  EXPECT_EQ(m.contributors[1].writeRate, 0u);  // 179 / 180 truncates
  EXPECT_EQ(chart.minuteAccumulator.tickCount, 0);
  EXPECT_TRUE(chart.minuteAccumulator.nameSums.empty());
}

TEST(SpeedChartHistory, MinuteKeepsTenLargestNamesAndLiveKeepsTen) {
  SpeedChart chart;
  chart.setSampleInterval(10000);  // six refreshes a minute
  for (int r = 0; r < 6; ++r) {
    std::vector<NameRate> top;
    for (int k = 0; k < 5 && r < 5; ++k) top.push_back({nameOf(5 * r + k), 0, 6u * (5 * r + k + 1)});
    chart.recordSample(0, 0, std::move(top));
  }
  ASSERT_EQ(chart.minuteSamples.size(), 1u);
  const auto& c = chart.minuteSamples[0].contributors;
  ASSERT_EQ(c.size(), 10u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(chart.contributorName(c[i]), nameOf(24 - i));
    EXPECT_EQ(c[i].writeRate, static_cast<std::uint64_t>(25 - i));
  }
  std::vector<NameRate> twelve;
  for (int i = 0; i < 12; ++i) twelve.push_back({nameOf(i), 100u - i, 0});
  chart.recordSample(0, 0, std::move(twelve));
  EXPECT_EQ(chart.liveSamples.back().contributors.size(), 10u);
  EXPECT_EQ(chart.minuteAccumulator.nameSums.size(), 10u);
}

TEST(SpeedChartHistory, CapacitiesFollowIntervalAndRetentionWithClamps) {
  struct Row { std::int32_t ms, clamped; std::uint64_t live; std::int32_t ticks; };
  SpeedChart chart;
  for (Row r : {Row{20, 50, 1600, 1200}, {6000, 6000, 16, 10}, {60000, 10000, 16, 6}, {333, 333, 240, 180}}) {
    chart.setSampleInterval(r.ms);
    EXPECT_EQ(chart.sampleIntervalMs, r.clamped) << r.ms;
    EXPECT_EQ(chart.liveCapacity, r.live) << r.ms;
    EXPECT_EQ(chart.ticksPerMinute, r.ticks) << r.ms;
  }
  for (auto [h, cap] : {std::pair{24, 1440u}, {0, 60u}, {1000, 43200u}}) {
    chart.setRetentionHours(h);
    EXPECT_EQ(chart.minuteCapacity, cap) << h;
  }
  chart.sampleIntervalMs = 0;
  chart.recomputeCapacities();
  EXPECT_EQ(chart.sampleIntervalMs, 333);
  EXPECT_EQ(chart.liveCapacity, 240u);
}

TEST(SpeedChartHistory, SameSettingDoesNothingAndNewIntervalEmptiesEverything) {
  SpeedChart chart;
  CountingSurface surface;
  chart.surface = &surface;
  chart.setSampleInterval(10000);
  chart.setRetentionHours(720);
  for (int i = 0; i < 70; ++i) chart.recordSample(1, 1, {{nameOf(i % 3), 1, 1}});
  ASSERT_EQ(chart.minuteSamples.size(), 11u);
  const int before = surface.repaints;
  chart.setSampleInterval(20000);  // clamps to the current 10000
  chart.setRetentionHours(1000);   // clamps to the current 720
  EXPECT_EQ(surface.repaints, before);
  EXPECT_EQ(chart.liveSamples.size(), 16u);
  EXPECT_EQ(chart.minuteSamples.size(), 11u);

  chart.setSampleInterval(2000);
  EXPECT_TRUE(chart.liveSamples.empty());
  EXPECT_TRUE(chart.minuteSamples.empty());
  EXPECT_EQ(chart.names.liveNames(), 0u);
  EXPECT_EQ(surface.repaints, before + 1);
  chart.recordSample(0, 0, {});  // the minute being filled started over too
  EXPECT_EQ(chart.minuteAccumulator.tickCount, 1);
  EXPECT_TRUE(chart.minuteAccumulator.nameSums.empty());
}

TEST(SpeedChartHistory, TrimmingKeepsNewestAndPoolHoldsOnlyQueuedNames) {
  SpeedChart chart;
  chart.setSampleInterval(10000);
  for (int minute = 0; minute < 4320; ++minute)
    for (int t = 0; t < 6; ++t) chart.recordSample(minute, 0, {{nameOf(minute), 1, 0}});
  ASSERT_EQ(chart.minuteSamples.size(), 4320u);
  EXPECT_EQ(chart.liveSamples.size(), 16u);  // the oldest live samples were dropped one by one
  EXPECT_EQ(chart.names.liveNames(), namesHeld(chart));

  chart.setRetentionHours(1);
  ASSERT_EQ(chart.minuteSamples.size(), 60u);
  EXPECT_EQ(chart.minuteSamples.front().readRate, 4260u);
  EXPECT_EQ(chart.minuteSamples.back().readRate, 4319u);
  EXPECT_EQ(chart.names.liveNames(), 60u);

  chart.setSampleInterval(100);
  for (int i = 0; i < 800; ++i) chart.recordSample(0, 0, {{nameOf(100000 + i), 1, 0}});
  chart.sampleIntervalMs = 10000;  // a shorter live queue must give its names back too
  chart.recomputeCapacities();
  EXPECT_EQ(chart.liveSamples.size(), 16u);
  EXPECT_EQ(chart.contributorName(chart.liveSamples.front().contributors[0]), nameOf(100784));
  EXPECT_EQ(chart.names.liveNames(), namesHeld(chart));
}

TEST(NamePool, CountsReferencesAndReusesFreedIds) {
  NamePool pool;
  const std::uint32_t a = pool.intern(u"svchost.exe");
  EXPECT_EQ(pool.intern(u"svchost.exe"), a);
  const std::uint32_t upper = pool.intern(u"SVCHOST.EXE");  // exact, case-sensitive
  EXPECT_NE(upper, a);
  EXPECT_EQ(pool.liveNames(), 2u);
  pool.release(a);
  EXPECT_EQ(pool.name(a), u"svchost.exe");
  pool.release(a);
  EXPECT_EQ(pool.liveNames(), 1u);
  EXPECT_TRUE(pool.name(a).empty());
  pool.release(a);  // an extra release must not free someone else's name
  EXPECT_EQ(pool.intern(u"a much longer name that does not fit inline.exe"), a);
  EXPECT_EQ(pool.name(upper), u"SVCHOST.EXE");
  EXPECT_TRUE(pool.name(9999).empty());
}

TEST(NamePool, CopyLooksUpItsOwnTexts) {
  auto original = std::make_unique<NamePool>();
  const std::uint32_t id = original->intern(u"a much longer name that does not fit inline.exe");
  original->intern(u"short");
  NamePool copy(*original);
  NamePool assigned;
  assigned = *original;
  original.reset();  // the copies must not refer to the original's storage
  EXPECT_EQ(copy.intern(u"a much longer name that does not fit inline.exe"), id);
  EXPECT_EQ(copy.name(id), u"a much longer name that does not fit inline.exe");
  assigned.release(id);
  EXPECT_EQ(assigned.liveNames(), 1u);
  EXPECT_EQ(copy.liveNames(), 2u);
}

}  // namespace
}  // namespace tessivo
