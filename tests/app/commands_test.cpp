#include "app/commands.h"

#include <gtest/gtest.h>

#include <map>

#include "app/menu_model.h"
#include "support/refresh_rig.h"

namespace tessivo {
namespace {

using Checks = std::vector<std::pair<std::int32_t, bool>>;
using Names = std::vector<std::string>;

// The check marks of the menus as the shell keeps them: the initial ones, then every
// effect's changes applied in order.
struct MenuChecks {
  std::map<std::int32_t, bool> checked;
  MenuChecks() {
    collect(buildMenuBar());
    collect(buildTrayMenu());
  }
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
  std::vector<std::int32_t> checkedIn(std::int32_t first, std::int32_t last) const {
    std::vector<std::int32_t> out;
    for (auto it = checked.lower_bound(first); it != checked.upper_bound(last); ++it)
      if (it->second) out.push_back(it->first);
    return out;
  }
};

// Two processes of one application and one other, each busy every one-second step.
struct Rig : testing::RefreshRig {
  MenuChecks menu;
  Rig() : RefreshRig(1000) {
    add(10, u"chrome.exe", 3000, 100, u"C:\\Apps\\chrome.exe");
    add(11, u"chrome.exe", 1000, 0, u"C:\\Apps\\chrome.exe");
    add(20, u"svchost.exe", 500, 700, u"C:\\Windows\\svchost.exe");
    for (testing::ScriptedProcess& p : sys.processes) p.counters = IoCounters{100, 100, 0, 1'000'000, 1'000'000, 0};
    state.listView = &list;
  }
  CommandEffect run(std::int32_t id) {
    CommandEffect effect = runCommand(state, id);
    menu.apply(effect);
    return effect;
  }
};

bool asksTheShell(const CommandEffect& e) { return e.timerIntervalMs || e.relayout || e.showAbout || e.restore || e.destroy; }

TEST(Commands, EveryMenuItemIsACommandAndTheInitialChecksAreTheStartingSettings) {
  Rig rig;
  const std::map<std::int32_t, bool> initial = rig.menu.checked;
  EXPECT_EQ(initial.at(command::GroupByApp), rig.state.groupByApp);
  EXPECT_EQ(initial.at(command::ShowChart), rig.state.chartVisible);
  // One item of each group is checked, and choosing it changes no setting and no check mark.
  for (auto [first, last] : {std::pair{command::CountRunDelta, command::CountSystemCumulative},
                              {command::RangeLive, command::RangeFull}, {command::Interval100, command::Interval2000},
                              {command::Retention1h, command::Retention168h}})
    EXPECT_EQ(rig.menu.checkedIn(first, last).size(), 1u) << first;
  for (auto [id, on] : initial)
    if (on && id != command::GroupByApp && id != command::ShowChart) rig.run(id);
  EXPECT_EQ(rig.menu.checked, initial);
  EXPECT_EQ(rig.state.tracker.countMode, CountMode::RunDelta);
  EXPECT_EQ(rig.state.chart.rangeMode, ChartRange::Live);
  EXPECT_EQ(rig.state.chart.sampleIntervalMs, 333);
  EXPECT_EQ(rig.state.chart.retentionHours, 72);
  for (auto [id, on] : initial) EXPECT_TRUE(runCommand(rig.state, id).handled) << id;
}

TEST(Commands, ClearAllEmptiesTheListWithoutRefreshing) {
  Rig rig;
  rig.tick(2);
  ASSERT_GT(rig.state.rows.front().counters.readBytes, 0u);
  const std::uint64_t reads = rig.sys.readCount;
  rig.list.calls.clear();
  const CommandEffect effect = rig.run(command::ClearAll);
  EXPECT_TRUE(effect.handled);
  EXPECT_TRUE(effect.checks.empty());
  EXPECT_FALSE(asksTheShell(effect));
  EXPECT_TRUE(rig.state.rows.empty());
  EXPECT_EQ(rig.list.calls, (Names{"count 0"}));  // no repaint
  EXPECT_EQ(rig.sys.readCount, reads);            // no refresh
  EXPECT_EQ(rig.state.chart.liveSamples.size(), 2u);  // history kept

  // The next tick counts from the moment of the clear.
  rig.tick();
  for (const ProcessRow& r : rig.state.rows) EXPECT_EQ(r.counters.readBytes, 0u) << toUtf8(r.name);
  rig.tick();
  EXPECT_EQ(rig.rowNames(), (Names{"chrome.exe/0", "svchost.exe/0"}));
  EXPECT_EQ(rig.state.rows.front().counters.readBytes, 4000u);

  rig.state.listView = nullptr;  // without a list control there is nothing to tell
  EXPECT_TRUE(runCommand(rig.state, command::ClearAll).handled);
  EXPECT_TRUE(rig.state.rows.empty());
}

TEST(Commands, GroupingAndCountingModeCheckWhatIsInForceAndRefresh) {
  Rig rig;
  rig.tick();
  EXPECT_EQ(rig.run(command::GroupByApp).checks, (Checks{{40003, false}}));
  EXPECT_EQ(rig.sys.readCount, 2u);
  EXPECT_EQ(rig.state.rows.size(), 3u);  // one row per process
  EXPECT_EQ(rig.list.calls.back(), "repaint");
  EXPECT_EQ(rig.run(command::GroupByApp).checks, (Checks{{40003, true}}));
  EXPECT_EQ(rig.rowNames(), (Names{"chrome.exe/0", "svchost.exe/0"}));

  // The system's own totals: 1,000,000 each plus three steps of 3000 and 1000 for chrome.exe.
  const Checks cumulative{{40004, false}, {40005, true}};
  EXPECT_EQ(rig.run(command::CountSystemCumulative).checks, cumulative);
  EXPECT_EQ(rig.state.tracker.countMode, CountMode::SystemCumulative);
  EXPECT_EQ(rig.state.rows.front().counters.readBytes, 2'000'000u + 3 * 4000);
  EXPECT_EQ(rig.run(command::CountSystemCumulative).checks, cumulative);  // the mode in force: refreshes still
  EXPECT_EQ(rig.state.rows.front().counters.readBytes, 2'000'000u + 4 * 4000);
  EXPECT_EQ(rig.run(command::CountRunDelta).checks, (Checks{{40004, true}, {40005, false}}));
  EXPECT_EQ(rig.menu.checkedIn(40004, 40005), (std::vector<std::int32_t>{40004}));
  EXPECT_EQ(rig.sys.readCount, 6u);
  for (const ProcessRow& r : rig.state.rows) EXPECT_EQ(r.counters.readBytes, 0u);  // counted afresh
}

TEST(Commands, RadioGroupsCheckOnlyTheChosenItem) {
  Rig rig;
  const SpeedChart& chart = rig.state.chart;
  // Range (by its index), interval (ms) and retention (hours), one choice repeated in each.
  const std::pair<std::int32_t, std::int32_t> choices[] = {{40013, 3},    {40013, 3},  {40011, 1}, {40025, 2000},
                                                           {40025, 2000}, {40020, 100}, {40023, 500}, {40034, 168},
                                                           {40030, 1},    {40030, 1},  {40032, 24}};
  for (auto [id, value] : choices) {
    const CommandEffect effect = rig.run(id);
    const std::int32_t group = id / 10 * 10;
    const std::int32_t now = group == command::RangeLive     ? static_cast<std::int32_t>(chart.rangeMode)
                             : group == command::Interval100 ? chart.sampleIntervalMs
                                                             : chart.retentionHours;
    EXPECT_EQ(now, value) << id;
    EXPECT_EQ(rig.menu.checkedIn(group, group + 9), (std::vector<std::int32_t>{id}));
    // Re-armed even when unchanged: the next tick then comes one full period after the choice.
    EXPECT_EQ(effect.timerIntervalMs, group == command::Interval100 ? std::optional(value) : std::nullopt) << id;
  }
  EXPECT_EQ(rig.sys.readCount, 0u);  // the next tick comes from the timer
}

TEST(Commands, ChartToggleAboutRestoreAndExitOnlyAskTheShell) {
  Rig rig;
  for (const bool shown : {false, true}) {
    const CommandEffect effect = rig.run(command::ShowChart);
    EXPECT_EQ(rig.state.chartVisible, shown);
    EXPECT_TRUE(effect.relayout);
    EXPECT_EQ(effect.checks, (Checks{{40006, shown}}));
  }
  for (auto [id, flag] : {std::pair{command::About, &CommandEffect::showAbout},
                          {command::Restore, &CommandEffect::restore}, {command::Exit, &CommandEffect::destroy}}) {
    const CommandEffect effect = rig.run(id);
    EXPECT_TRUE(effect.handled && effect.*flag) << id;
    EXPECT_EQ(effect.showAbout + effect.restore + effect.destroy + effect.relayout, 1) << id;
    EXPECT_TRUE(effect.checks.empty()) << id;
  }
  EXPECT_EQ(rig.sys.readCount, 0u);
}

TEST(Commands, UnknownIdsAreNotHandledAndChangeNothing) {
  Rig rig;
  const std::map<std::int32_t, bool> initial = rig.menu.checked;
  for (const std::int32_t id : {0, -1, 40000, 40007, 40009, 40014, 40019, 40026, 40029, 40035, 40039, 40042, 1001}) {
    const CommandEffect effect = rig.run(id);
    EXPECT_FALSE(effect.handled || asksTheShell(effect)) << id;
    EXPECT_TRUE(effect.checks.empty()) << id;
  }
  EXPECT_EQ(rig.menu.checked, initial);
  EXPECT_TRUE(rig.state.groupByApp && rig.state.chartVisible);
  EXPECT_EQ(rig.sys.readCount, 0u);
}

TEST(Commands, HeaderClickReordersWithAFreshSample) {
  Rig rig;
  rig.state.groupByApp = false;
  rig.tick(2);
  // Read rates: pid 10 3000, pid 11 1000, pid 20 500 bytes per second.
  const Names fastest{"chrome.exe/10", "chrome.exe/11", "svchost.exe/20"};
  const Names slowest{"svchost.exe/20", "chrome.exe/11", "chrome.exe/10"};
  // 读取速度 slowest first, then fastest; the pid lowest first, then highest.
  for (auto [column, expected] : {std::pair{6, slowest}, {6, fastest}, {1, fastest}, {1, slowest}}) {
    onColumnClick(rig.state, column);
    EXPECT_EQ(rig.rowNames(), expected) << column;
  }
  EXPECT_FALSE(rig.state.sortAscending);
  EXPECT_EQ(rig.sys.readCount, 2u + 4);
  EXPECT_EQ(rig.list.calls.back(), "repaint");
}

}  // namespace
}  // namespace tessivo
