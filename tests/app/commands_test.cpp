// What the commands do to the state that the running program does not show: the chart's
// settings behind the radio groups, the timer re-armed even for an unchanged choice, the
// history kept by 全部清除, and ids that are not commands. Check marks, grouping, counting
// modes, header clicks and the layout are checked on the running program end to end.
#include "app/commands.h"

#include <gtest/gtest.h>

#include "app/menu_model.h"
#include "support/refresh_rig.h"

namespace tessivo {
namespace {

bool asksTheShell(const CommandEffect& e) { return e.timerIntervalMs || e.relayout || e.showAbout || e.restore || e.destroy; }

TEST(Commands, RadioGroupsSetTheChartAndReArmTheTimerWithoutRefreshing) {
  testing::RefreshRig rig(1000);
  const SpeedChart& chart = rig.state.chart;
  // Range (by its index), interval (ms) and retention (hours), one choice repeated in each.
  const std::pair<std::int32_t, std::int32_t> choices[] = {{40013, 3},    {40013, 3},  {40011, 1}, {40025, 2000},
                                                           {40025, 2000}, {40020, 100}, {40023, 500}, {40034, 168},
                                                           {40030, 1},    {40030, 1},  {40032, 24}};
  for (auto [id, value] : choices) {
    const CommandEffect effect = runCommand(rig.state, id);
    const std::int32_t group = id / 10 * 10;
    const std::int32_t now = group == command::RangeLive     ? static_cast<std::int32_t>(chart.rangeMode)
                             : group == command::Interval100 ? chart.sampleIntervalMs
                                                             : chart.retentionHours;
    EXPECT_EQ(now, value) << id;
    // Re-armed even when unchanged: the next tick then comes one full period after the choice.
    EXPECT_EQ(effect.timerIntervalMs, group == command::Interval100 ? std::optional(value) : std::nullopt) << id;
  }
  EXPECT_EQ(rig.sys.readCount, 0u);  // the next tick comes from the timer
}

TEST(Commands, ClearAllKeepsTheChartHistoryAndNeedsNoList) {
  testing::RefreshRig rig(1000);
  rig.add(10, u"chrome.exe", 3000);
  rig.state.listView = &rig.list;
  rig.tick(2);
  rig.list.calls.clear();
  const CommandEffect effect = runCommand(rig.state, command::ClearAll);
  EXPECT_TRUE(effect.handled && effect.checks.empty() && !asksTheShell(effect));
  EXPECT_TRUE(rig.state.rows.empty());
  EXPECT_EQ(rig.list.calls, (std::vector<std::string>{"count 0"}));  // no repaint, no refresh
  EXPECT_EQ(rig.sys.readCount, 2u);
  EXPECT_EQ(rig.state.chart.liveSamples.size(), 2u);

  rig.tick();
  rig.state.listView = nullptr;  // without a list control there is nothing to tell
  EXPECT_TRUE(runCommand(rig.state, command::ClearAll).handled);
  EXPECT_TRUE(rig.state.rows.empty());
}

TEST(Commands, UnknownIdsAreNotHandledAndChangeNothing) {
  testing::RefreshRig rig(1000);
  for (const std::int32_t id : {0, -1, 40000, 40007, 40009, 40014, 40019, 40026, 40029, 40035, 40039, 40042, 1001}) {
    const CommandEffect effect = runCommand(rig.state, id);
    EXPECT_FALSE(effect.handled || asksTheShell(effect)) << id;
    EXPECT_TRUE(effect.checks.empty()) << id;
  }
  EXPECT_TRUE(rig.state.groupByApp && rig.state.chartVisible);
  EXPECT_EQ(rig.state.chart.sampleIntervalMs, 333);
  EXPECT_EQ(rig.sys.readCount, 0u);
}

}  // namespace
}  // namespace tessivo
