#include "app/commands.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/menu_model.h"
#include "core/text.h"
#include "sampling/refresh_tick.h"
#include "support/scripted_system.h"

namespace tessivo {
namespace {

struct RecordingList : ListSurface {
  std::vector<std::string> calls;
  void setRowCount(std::size_t count) override { calls.push_back("count " + std::to_string(count)); }
  void repaint() override { calls.push_back("repaint"); }
};

// The check marks of the menu bar as the shell keeps them: the initial ones, then every
// effect's changes applied in order.
struct MenuChecks {
  std::map<std::int32_t, bool> checked;
  MenuChecks() { collect(buildMenuBar()); }
  void collect(const std::vector<MenuItem>& items) {
    for (const MenuItem& item : items) {
      if (item.kind == MenuItemKind::Command) checked[item.id] = item.checked;
      collect(item.children);
    }
  }
  void apply(const CommandEffect& effect) {
    for (const auto& [id, on] : effect.checks) {
      ASSERT_TRUE(checked.count(id)) << "no menu item " << id;
      checked[id] = on;
    }
  }
  // The checked ids among first..last.
  std::vector<std::int32_t> checkedIn(std::int32_t first, std::int32_t last) const {
    std::vector<std::int32_t> out;
    for (std::int32_t id = first; id <= last; ++id)
      if (checked.at(id)) out.push_back(id);
    return out;
  }
};

struct Rig {
  testing::ScriptedSystem sys;
  AppState state{sys};
  RecordingList list;
  MenuChecks menu;
  Rig() {
    sys.stepMs = 1000;
    // Two processes of one application and one other, each busy every step.
    sys.add(10, u"chrome.exe", u"C:\\Apps\\chrome.exe", 1).perTick = IoCounters{1, 2, 0, 3000, 100, 0};
    sys.add(11, u"chrome.exe", u"C:\\Apps\\chrome.exe", 2).perTick = IoCounters{1, 0, 0, 1000, 0, 0};
    sys.add(20, u"svchost.exe", u"C:\\Windows\\svchost.exe", 3).perTick = IoCounters{5, 5, 0, 500, 700, 0};
    for (testing::ScriptedProcess& p : sys.processes) p.counters = IoCounters{100, 100, 0, 1'000'000, 1'000'000, 0};
    state.listView = &list;
  }
  CommandEffect run(std::int32_t id) {
    CommandEffect effect = runCommand(state, id);
    menu.apply(effect);
    return effect;
  }
  std::vector<std::string> rowNames() const {
    std::vector<std::string> out;
    for (const ProcessRow& r : state.rows) out.push_back(toUtf8(r.name) + "/" + std::to_string(r.pid));
    return out;
  }
};

TEST(Commands, ClearAllEmptiesTheListWithoutRefreshing) {
  Rig rig;
  RefreshTick::run(rig.state);
  RefreshTick::run(rig.state);
  ASSERT_FALSE(rig.state.rows.empty());
  ASSERT_GT(rig.state.rows.front().counters.readBytes, 0u);
  const std::size_t history = rig.state.chart.liveSamples.size();
  const std::uint64_t reads = rig.sys.readCount;
  rig.list.calls.clear();

  const CommandEffect effect = rig.run(command::ClearAll);
  EXPECT_TRUE(effect.handled);
  EXPECT_TRUE(effect.checks.empty());
  EXPECT_FALSE(effect.timerIntervalMs.has_value());
  EXPECT_FALSE(effect.relayout || effect.showAbout || effect.restore || effect.destroy);
  EXPECT_TRUE(rig.state.rows.empty());
  EXPECT_TRUE(rig.state.tracker.baselines.empty());
  EXPECT_TRUE(rig.state.tracker.rateStates.empty());
  EXPECT_EQ(rig.list.calls, (std::vector<std::string>{"count 0"}));  // no repaint
  EXPECT_EQ(rig.sys.readCount, reads);                                 // no refresh
  EXPECT_EQ(rig.state.chart.liveSamples.size(), history);              // history kept

  // The next tick counts from the moment of the clear.
  RefreshTick::run(rig.state);
  for (const ProcessRow& r : rig.state.rows) EXPECT_EQ(r.counters.readBytes, 0u) << toUtf8(r.name);
  RefreshTick::run(rig.state);
  ASSERT_EQ(rig.state.rows.size(), 2u);  // grouped: chrome.exe and svchost.exe
  EXPECT_EQ(rig.state.rows.front().counters.readBytes, 4000u);

  // Without a list control there is nothing to tell.
  rig.state.listView = nullptr;
  EXPECT_TRUE(runCommand(rig.state, command::ClearAll).handled);
  EXPECT_TRUE(rig.state.rows.empty());
}

TEST(Commands, GroupingFlipsChecksAndRefreshes) {
  Rig rig;
  RefreshTick::run(rig.state);
  const std::uint64_t reads = rig.sys.readCount;
  CommandEffect effect = rig.run(command::GroupByApp);
  EXPECT_FALSE(rig.state.groupByApp);
  EXPECT_EQ(effect.checks, (std::vector<std::pair<std::int32_t, bool>>{{40003, false}}));
  EXPECT_EQ(rig.sys.readCount, reads + 1);
  EXPECT_EQ(rig.state.rows.size(), 3u);  // one row per process
  EXPECT_EQ(rig.list.calls.back(), "repaint");

  effect = rig.run(command::GroupByApp);
  EXPECT_TRUE(rig.state.groupByApp);
  EXPECT_EQ(effect.checks, (std::vector<std::pair<std::int32_t, bool>>{{40003, true}}));
  EXPECT_EQ(rig.sys.readCount, reads + 2);
  ASSERT_EQ(rig.state.rows.size(), 2u);
  for (const ProcessRow& r : rig.state.rows) EXPECT_EQ(r.pid, 0u);
  EXPECT_FALSE(effect.timerIntervalMs || effect.relayout);
}

TEST(Commands, CountingModeChecksTheModeInForceAndAlwaysRefreshes) {
  Rig rig;
  RefreshTick::run(rig.state);
  RefreshTick::run(rig.state);
  CommandEffect effect = rig.run(command::CountSystemCumulative);
  EXPECT_EQ(rig.state.tracker.countMode, CountMode::SystemCumulative);
  EXPECT_EQ(effect.checks, (std::vector<std::pair<std::int32_t, bool>>{{40004, false}, {40005, true}}));
  EXPECT_EQ(rig.menu.checkedIn(40004, 40005), (std::vector<std::int32_t>{40005}));
  // The system's own totals: 1,000,000 each plus two steps of 3000 and 1000 for chrome.exe.
  ASSERT_EQ(rig.state.rows.size(), 2u);
  EXPECT_EQ(rig.rowNames().front(), "chrome.exe/0");
  EXPECT_EQ(rig.state.rows.front().counters.readBytes, 2'000'000u + 2 * 4000);

  // The mode in force again: same checks, and the refresh still runs.
  const std::uint64_t reads = rig.sys.readCount;
  effect = rig.run(command::CountSystemCumulative);
  EXPECT_EQ(effect.checks, (std::vector<std::pair<std::int32_t, bool>>{{40004, false}, {40005, true}}));
  EXPECT_EQ(rig.sys.readCount, reads + 1);
  EXPECT_EQ(rig.state.rows.front().counters.readBytes, 2'000'000u + 3 * 4000);

  effect = rig.run(command::CountRunDelta);
  EXPECT_EQ(rig.state.tracker.countMode, CountMode::RunDelta);
  EXPECT_EQ(effect.checks, (std::vector<std::pair<std::int32_t, bool>>{{40004, true}, {40005, false}}));
  EXPECT_EQ(rig.menu.checkedIn(40004, 40005), (std::vector<std::int32_t>{40004}));
  EXPECT_EQ(rig.sys.readCount, reads + 2);
  for (const ProcessRow& r : rig.state.rows) EXPECT_EQ(r.counters.readBytes, 0u);  // counted afresh
}

TEST(Commands, ChartToggleChecksAndAsksForALayout) {
  Rig rig;
  CommandEffect effect = rig.run(command::ShowChart);
  EXPECT_FALSE(rig.state.chartVisible);
  EXPECT_TRUE(effect.relayout);
  EXPECT_EQ(effect.checks, (std::vector<std::pair<std::int32_t, bool>>{{40006, false}}));
  EXPECT_EQ(rig.sys.readCount, 0u);
  effect = rig.run(command::ShowChart);
  EXPECT_TRUE(rig.state.chartVisible);
  EXPECT_TRUE(effect.relayout);
  EXPECT_EQ(effect.checks, (std::vector<std::pair<std::int32_t, bool>>{{40006, true}}));
}

TEST(Commands, RangeChecksTheChosenOneAndUnchecksTheOthers) {
  Rig rig;
  const ChartRange ranges[] = {ChartRange::Live, ChartRange::Hour1, ChartRange::Hour24, ChartRange::Full};
  for (const std::int32_t id : {40012, 40011, 40013, 40013, 40010, 40012}) {
    const CommandEffect effect = rig.run(id);
    EXPECT_TRUE(effect.handled);
    EXPECT_EQ(rig.state.chart.rangeMode, ranges[id - 40010]) << id;
    ASSERT_EQ(effect.checks.size(), 4u) << id;
    EXPECT_EQ(effect.checks.front(), std::make_pair(id, true));
    EXPECT_EQ(rig.menu.checkedIn(40010, 40013), (std::vector<std::int32_t>{id}));
    EXPECT_FALSE(effect.timerIntervalMs.has_value());
  }
}

TEST(Commands, IntervalRearmsTheTimerEvenWhenUnchanged) {
  Rig rig;
  const std::int32_t intervals[] = {100, 250, 333, 500, 1000, 2000};
  for (const std::int32_t id : {40025, 40025, 40020, 40021, 40022, 40023, 40024}) {
    const std::int32_t ms = intervals[id - 40020];
    const CommandEffect effect = rig.run(id);
    EXPECT_EQ(rig.state.chart.sampleIntervalMs, ms) << id;
    ASSERT_TRUE(effect.timerIntervalMs.has_value()) << id;
    EXPECT_EQ(*effect.timerIntervalMs, ms);
    // All six unchecked first, then the chosen one.
    ASSERT_EQ(effect.checks.size(), 7u);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_FALSE(effect.checks[i].second);
    EXPECT_EQ(effect.checks.back(), std::make_pair(id, true));
    EXPECT_EQ(rig.menu.checkedIn(40020, 40025), (std::vector<std::int32_t>{id}));
  }
  EXPECT_EQ(rig.sys.readCount, 0u);  // the next tick comes from the timer
}

TEST(Commands, RetentionChecksOnlyTheChosenOne) {
  Rig rig;
  const std::int32_t hours[] = {1, 6, 24, 72, 168};
  for (const std::int32_t id : {40030, 40034, 40034, 40031, 40032, 40033}) {
    const CommandEffect effect = rig.run(id);
    EXPECT_EQ(rig.state.chart.retentionHours, hours[id - 40030]) << id;
    ASSERT_EQ(effect.checks.size(), 6u);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_FALSE(effect.checks[i].second);
    EXPECT_EQ(effect.checks.back(), std::make_pair(id, true));
    EXPECT_EQ(rig.menu.checkedIn(40030, 40034), (std::vector<std::int32_t>{id}));
    EXPECT_FALSE(effect.timerIntervalMs.has_value());
  }
}

TEST(Commands, AboutRestoreAndExitOnlyAskTheShell) {
  Rig rig;
  const auto onlyFlag = [&](std::int32_t id, bool CommandEffect::*flag) {
    const CommandEffect effect = rig.run(id);
    EXPECT_TRUE(effect.handled) << id;
    EXPECT_TRUE(effect.*flag) << id;
    EXPECT_EQ(effect.showAbout + effect.restore + effect.destroy + effect.relayout, 1) << id;
    EXPECT_TRUE(effect.checks.empty()) << id;
    EXPECT_FALSE(effect.timerIntervalMs.has_value()) << id;
  };
  onlyFlag(command::About, &CommandEffect::showAbout);
  onlyFlag(command::Restore, &CommandEffect::restore);
  onlyFlag(command::Exit, &CommandEffect::destroy);
  EXPECT_EQ(rig.sys.readCount, 0u);
  EXPECT_EQ(toUtf8(kAboutText), toUtf8(aboutText(333)));
  EXPECT_NE(toUtf8(aboutText(2000)).find("刷新间隔：2000 毫秒\n"), std::string::npos);
}

TEST(Commands, UnknownIdsAreNotHandledAndChangeNothing) {
  Rig rig;
  for (const std::int32_t id : {0, -1, 40000, 40007, 40009, 40014, 40019, 40026, 40029, 40035, 40039, 40042, 1001}) {
    const CommandEffect effect = rig.run(id);
    EXPECT_FALSE(effect.handled) << id;
    EXPECT_TRUE(effect.checks.empty()) << id;
    EXPECT_FALSE(effect.timerIntervalMs || effect.relayout || effect.showAbout || effect.restore || effect.destroy);
  }
  EXPECT_TRUE(rig.state.groupByApp);
  EXPECT_TRUE(rig.state.chartVisible);
  EXPECT_EQ(rig.state.chart.sampleIntervalMs, 333);
  EXPECT_EQ(rig.state.chart.retentionHours, 72);
  EXPECT_EQ(rig.state.chart.rangeMode, ChartRange::Live);
  EXPECT_EQ(rig.sys.readCount, 0u);
}

TEST(Commands, HeaderClickReordersWithAFreshSample) {
  Rig rig;
  rig.state.groupByApp = false;
  RefreshTick::run(rig.state);
  RefreshTick::run(rig.state);
  const std::uint64_t reads = rig.sys.readCount;
  // Read rates: pid 10 3000, pid 11 1000, pid 20 500 bytes per second.
  onColumnClick(rig.state, 6);  // 读取速度: slowest first
  EXPECT_EQ(rig.state.sortColumn, 6);
  EXPECT_TRUE(rig.state.sortAscending);
  EXPECT_EQ(rig.sys.readCount, reads + 1);
  EXPECT_EQ(rig.rowNames(), (std::vector<std::string>{"svchost.exe/20", "chrome.exe/11", "chrome.exe/10"}));
  onColumnClick(rig.state, 6);
  EXPECT_FALSE(rig.state.sortAscending);
  EXPECT_EQ(rig.rowNames(), (std::vector<std::string>{"chrome.exe/10", "chrome.exe/11", "svchost.exe/20"}));
  onColumnClick(rig.state, 1);
  EXPECT_TRUE(rig.state.sortAscending);
  EXPECT_EQ(rig.rowNames(), (std::vector<std::string>{"chrome.exe/10", "chrome.exe/11", "svchost.exe/20"}));
  onColumnClick(rig.state, 1);
  EXPECT_EQ(rig.rowNames(), (std::vector<std::string>{"svchost.exe/20", "chrome.exe/11", "chrome.exe/10"}));
  EXPECT_EQ(rig.sys.readCount, reads + 4);
  EXPECT_EQ(rig.list.calls.back(), "repaint");
}

}  // namespace
}  // namespace tessivo
