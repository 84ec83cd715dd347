#include "app/refresh_tick.h"

#include <utility>

#include "app/app_state.h"
#include "list/row_order.h"
#include "sampling/top_list.h"

namespace tessivo {

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

  state.chart.recordSample(totalRead, totalWrite, buildTopList(scratch.activities, scratch.top));
  if (state.afterRecord) state.afterRecord(now);

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
