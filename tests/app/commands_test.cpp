// The chart settings behind the radio groups, the timer re-armed, the history 全部清除 keeps, ids doing nothing.
#include "app/commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "app/menu_model.h"
#include "app/shell_layout.h"
#include "support/refresh_rig.h"

namespace tessivo {
namespace {

bool asksTheShell(const CommandEffect& e) {
  return e.timerIntervalMs || e.relayout || e.showAbout || e.restore || e.destroy || !e.checks.empty();
}

TEST(Commands, RadioGroupsSetTheChartAndReArmTheTimerWithoutRefreshingAndOtherIdsDoNothing) {
  testing::RefreshRig rig(1000);
  const SpeedChart& c = rig.state.chart;
  // Range (by its index), interval (ms) and retention (hours), one choice repeated in each.
  for (auto [id, value] : {std::pair{40013, 3}, {40013, 3}, {40011, 1}, {40025, 2000}, {40025, 2000},
                           {40020, 100}, {40023, 500}, {40034, 168}, {40030, 1}, {40030, 1}, {40032, 24}}) {
    const CommandEffect e = runCommand(rig.state, id);
    const bool interval = id / 10 == 4002;
    const int now = id < 40020 ? int(c.rangeMode) : interval ? c.sampleIntervalMs : c.retentionHours;
    EXPECT_EQ(std::tuple(now, e.timerIntervalMs), std::tuple(value, interval ? std::optional(value) : std::nullopt));
    std::map<std::int32_t, bool> marks;  // as the shell is left by the checks in their order
    for (auto [item, checked] : e.checks) marks[item] = checked;
    for (auto [item, checked] : marks)  // the marks of its own group, on it alone
      EXPECT_EQ(std::pair(item / 10, checked), std::pair(id / 10, item == id)) << id << " " << item;
  }
  for (const std::int32_t id : {0, -1, 40000, 40007, 40009, 40014, 40019, 40026, 40029, 40035, 40039, 40042})
    EXPECT_FALSE(runCommand(rig.state, id).handled || asksTheShell(runCommand(rig.state, id))) << id;
  EXPECT_EQ(std::tuple(rig.state.groupByApp, rig.state.chartVisible, int(c.rangeMode), c.sampleIntervalMs,
                       c.retentionHours, rig.sys.readCount),
            std::tuple(true, true, 1, 500, 24, 0));  // the next tick comes from the timer
}

TEST(Commands, ClearAllEmptiesTheListAndTheCountersButKeepsTheChartHistory) {
  testing::RefreshRig rig(1000);
  rig.add(10, u"chrome.exe", 3000);
  rig.state.listView = &rig.list;
  rig.tick(2);
  rig.list.calls.clear();
  const CommandEffect effect = runCommand(rig.state, command::ClearAll);
  EXPECT_TRUE(effect.handled && !asksTheShell(effect) && rig.state.tracker.size() == 0);
  EXPECT_EQ(std::tuple(rig.state.rows.size(), rig.list.calls, rig.sys.readCount,
                       rig.state.chart.liveSamples.size()),
            std::tuple(0, std::vector<std::string>{"count 0"}, 2, 2));  // no repaint, no refresh
  rig.state.listView = nullptr;  // without a list control there is nothing to tell
  EXPECT_TRUE(runCommand(rig.state, command::ClearAll).handled);
}

// By their texts, as the user picks them: the mode, the one mark, and the counts since start or since now.
TEST(Commands, EachCountingModeItemSetsItsModeMarksOnlyItAndRecountsAndGroupingRefreshesAtOnce) {
  testing::RefreshRig rig(1000);
  rig.add(10, u"a", 3000).counters.readBytes = 50'000;  // read before the monitor started
  rig.tick(2);
  const std::vector<MenuItem> program = buildMenuBar().at(0).children;
  for (auto [text, cumulative] : {std::pair{u"计数模式：系统累计", true}, {u"计数模式：本次增量", false}}) {
    const auto item = std::ranges::find(program, std::u16string(text), &MenuItem::text);
    ASSERT_NE(item, program.end());
    const CommandEffect e = runCommand(rig.state, item->id);
    EXPECT_EQ(std::tuple(rig.state.tracker.countMode == CountMode::SystemCumulative, e.checks.size(),
                         rig.state.rows.at(0).counters.readBytes > 50'000),
              std::tuple(cumulative, 2u, cumulative));
    for (auto [id, checked] : e.checks) EXPECT_EQ(checked, id == item->id) << id;
  }
  const std::uint64_t reads = rig.sys.readCount;
  runCommand(rig.state, command::GroupByApp);  // shown at once, not at the next tick
  EXPECT_EQ(std::tuple(rig.state.groupByApp, rig.sys.readCount), std::tuple(false, reads + 1));
}

TEST(ShellLayout, AClientAreaLowerThanTheChartLeavesTheListNoHeight) {
  const PaneLayout low = layoutPanes(true, 800, 100);  // the chart keeps its height; the parent clips it
  EXPECT_EQ(std::tuple(low.chartHeight, low.listTop, low.listHeight),
            std::tuple(kChartPaneHeight, kChartPaneHeight, 0));
}

}  // namespace
}  // namespace tessivo
