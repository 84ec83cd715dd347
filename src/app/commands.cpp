#include "app/commands.h"

#include <array>

#include "app/menu_model.h"
#include "list/row_order.h"
#include "app/refresh_tick.h"

namespace tessivo {

namespace {

constexpr std::array<ChartRange, 4> kRanges{ChartRange::Live, ChartRange::Hour1, ChartRange::Hour24,
                                            ChartRange::Full};
constexpr std::array<std::int32_t, 6> kIntervalsMs{100, 250, 333, 500, 1000, 2000};
constexpr std::array<std::int32_t, 5> kRetentionHours{1, 6, 24, 72, 168};

// One item of a group of radio-like items: checked, the others unchecked.
template <std::size_t N>
void checkOneOf(CommandEffect& effect, std::int32_t firstId, std::size_t chosen, bool uncheckAllFirst) {
  if (uncheckAllFirst) {
    for (std::size_t i = 0; i < N; ++i) effect.checks.emplace_back(firstId + static_cast<std::int32_t>(i), false);
    effect.checks.emplace_back(firstId + static_cast<std::int32_t>(chosen), true);
    return;
  }
  effect.checks.emplace_back(firstId + static_cast<std::int32_t>(chosen), true);
  for (std::size_t i = 0; i < N; ++i) {
    if (i != chosen) effect.checks.emplace_back(firstId + static_cast<std::int32_t>(i), false);
  }
}

constexpr std::int32_t kRangeFirst = command::RangeLive;
constexpr std::int32_t kIntervalFirst = command::Interval100;
constexpr std::int32_t kRetentionFirst = command::Retention1h;

}  // namespace

CommandEffect runCommand(AppState& state, std::int32_t commandId) {
  CommandEffect effect;
  effect.handled = true;

  if (commandId >= kRangeFirst && commandId <= command::RangeFull) {
    const auto index = static_cast<std::size_t>(commandId - kRangeFirst);
    state.chart.setRange(kRanges[index]);
    checkOneOf<kRanges.size()>(effect, kRangeFirst, index, false);
    return effect;
  }
  if (commandId >= kIntervalFirst && commandId <= command::Interval2000) {
    const auto index = static_cast<std::size_t>(commandId - kIntervalFirst);
    state.chart.setSampleInterval(kIntervalsMs[index]);
    // Re-armed even when unchanged: the next tick then comes one full period after the choice.
    effect.timerIntervalMs = kIntervalsMs[index];
    checkOneOf<kIntervalsMs.size()>(effect, kIntervalFirst, index, true);
    return effect;
  }
  if (commandId >= kRetentionFirst && commandId <= command::Retention168h) {
    const auto index = static_cast<std::size_t>(commandId - kRetentionFirst);
    state.chart.setRetentionHours(kRetentionHours[index]);
    checkOneOf<kRetentionHours.size()>(effect, kRetentionFirst, index, true);
    return effect;
  }

  switch (commandId) {
    case command::ClearAll:
      state.tracker.clear();
      state.rows.clear();
      // The list shows nothing until the next tick refills it; no refresh now.
      if (state.listView != nullptr) state.listView->setRowCount(0);
      break;
    case command::About:
      effect.showAbout = true;
      break;
    case command::GroupByApp:
      state.groupByApp = !state.groupByApp;
      effect.checks.emplace_back(command::GroupByApp, state.groupByApp);
      RefreshTick::run(state);
      break;
    case command::CountRunDelta:
    case command::CountSystemCumulative:
      state.tracker.setCountMode(commandId == command::CountSystemCumulative ? CountMode::SystemCumulative
                                                                             : CountMode::RunDelta);
      effect.checks.emplace_back(command::CountRunDelta, state.tracker.countMode == CountMode::RunDelta);
      effect.checks.emplace_back(command::CountSystemCumulative,
                                 state.tracker.countMode == CountMode::SystemCumulative);
      RefreshTick::run(state);
      break;
    case command::ShowChart:
      state.chartVisible = !state.chartVisible;
      effect.checks.emplace_back(command::ShowChart, state.chartVisible);
      effect.relayout = true;
      break;
    case command::Restore:
      effect.restore = true;
      break;
    case command::Exit:
      effect.destroy = true;
      break;
    default:
      return CommandEffect{};
  }
  return effect;
}

void onColumnClick(AppState& state, std::int32_t column) {
  applyHeaderClick(column, state.sortColumn, state.sortAscending);
  // There is no re-sort of the rows on display: the order applies to a fresh sample.
  RefreshTick::run(state);
}

}  // namespace tessivo
