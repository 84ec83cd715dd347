#include "app/refresh_tick.h"

#include <algorithm>
#include <span>
#include <utility>

#include "app/app_state.h"
#include "list/row_order.h"

namespace tessivo {

namespace {

constexpr std::size_t kTopListSize = 10;

// The busiest names of this refresh: exact-name sums over the processes with a speed,
// largest read + write first, at most ten; written into the scratch's list, whose names
// keep their storage from one refresh to the next.
std::span<const NameRate> buildTopList(const std::vector<ProcessActivity>& activities, RefreshScratch& scratch) {
  TextIndex& names = scratch.topNames;
  std::vector<NameRate>& sums = scratch.topSums;
  names.reset(activities.size());
  std::size_t count = 0;
  for (const ProcessActivity& activity : activities) {
    if (activity.readRate == 0 && activity.writeRate == 0) continue;
    const std::u16string_view name = activity.name.empty() ? std::u16string_view(kUnknownName) : activity.name;
    const auto [number, isNew] = names.insert(name);
    if (isNew) {
      if (number == sums.size()) sums.emplace_back();
      sums[number].readRate = 0;
      sums[number].writeRate = 0;
      ++count;
    }
    sums[number].readRate += activity.readRate;
    sums[number].writeRate += activity.writeRate;
  }

  std::vector<std::uint32_t>& order = scratch.topOrder;
  order.resize(count);
  for (std::uint32_t i = 0; i < count; ++i) order[i] = i;
  const std::size_t kept = std::min(count, kTopListSize);
  // Equal sums keep their order of appearance, so the outcome does not depend on the sort.
  std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(kept), order.end(),
                    [&sums](std::uint32_t a, std::uint32_t b) {
                      const std::uint64_t sa = sums[a].readRate + sums[a].writeRate;
                      const std::uint64_t sb = sums[b].readRate + sums[b].writeRate;
                      return sa != sb ? sa > sb : a < b;
                    });

  std::vector<NameRate>& topList = scratch.topList;
  if (topList.size() < kept) topList.resize(kept);  // never shrunk: the names past `kept` keep their storage
  for (std::size_t i = 0; i < kept; ++i) {
    const std::uint32_t number = order[i];
    topList[i].name.assign(names.key(number));
    topList[i].readRate = sums[number].readRate;
    topList[i].writeRate = sums[number].writeRate;
  }
  return std::span<const NameRate>(topList).first(kept);
}

}  // namespace

void RefreshTick::run(AppState& state) {
  RefreshScratch& scratch = state.scratch;
  ProcessSystem& system = state.snapshotSource;

  system.readSnapshot(scratch.samples);
  const std::uint64_t now = system.nowMs();  // after the snapshot, so its time is not overstated
  state.tracker.update(scratch.samples, now, scratch.activities, &scratch.reusedPids);

  std::uint64_t totalRead = 0;
  std::uint64_t totalWrite = 0;
  scratch.livePids.resize(scratch.activities.size());
  for (std::size_t i = 0; i < scratch.activities.size(); ++i) {
    const ProcessActivity& activity = scratch.activities[i];
    scratch.livePids[i] = activity.pid;  // ascending: the activities are sorted by pid
    totalRead += activity.readRate;
    totalWrite += activity.writeRate;
  }

  state.imagePaths.retainOnly(scratch.livePids);
  // A reused identifier names another executable now; ask for its path again.
  for (const std::uint32_t pid : scratch.reusedPids) state.imagePaths.forget(pid);
  // The same process running another program (an exec): its path too.
  state.imagePaths.followGenerations(scratch.samples);

  state.chart.recordSample(totalRead, totalWrite, buildTopList(scratch.activities, scratch));

  scratch.rowBuilder.build(scratch.activities, state.groupByApp, state.imagePaths, system, scratch.spareRows);
  sortRows(scratch.spareRows, state.sortColumn, state.sortAscending, scratch.rowSort);
  // The displayed rows change in one step; the old ones stay behind as next refresh's storage.
  std::swap(state.rows, scratch.spareRows);

  if (state.listView != nullptr) {
    state.listView->setRowCount(state.rows.size());
    state.listView->repaint();
  }
}

}  // namespace tessivo
