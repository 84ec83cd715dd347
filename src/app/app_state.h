// Everything the program knows at run time, in one record. Built by the entry point
// before the main window exists; the window only borrows it. Platform handles
// (the main window, the tray icon) live in the shell's own object.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "chart/speed_chart.h"
#include "core/types.h"
#include "list/list_surface.h"
#include "sampling/image_path_cache.h"
#include "sampling/io_tracker.h"
#include "sampling/process_system.h"
#include "sampling/refresh_scratch.h"

namespace tessivo {

struct AppState {
  explicit AppState(ProcessSystem& system) : snapshotSource(system) {}
  AppState(const AppState&) = delete;
  AppState& operator=(const AppState&) = delete;

  // The list control; null until the shell has created it (publishing is then skipped).
  ListSurface* listView = nullptr;
  ProcessSystem& snapshotSource;
  IoTracker tracker;
  ImagePathCache imagePaths;
  SpeedChart chart;
  std::int32_t sortColumn = 2;  // 读取字节
  bool sortAscending = false;
  bool groupByApp = true;
  bool chartVisible = true;
  std::vector<ProcessRow> rows;  // on display, already in display order
  std::u16string cellText;       // owns the text last handed to the list
  bool trayIconShown = false;
  RefreshScratch scratch;        // per-refresh buffers, reused so a tick allocates little
  // Told after every refresh has recorded into the chart's history, with the refresh's clock.
  std::function<void(std::uint64_t nowMs)> afterRecord;
};

}  // namespace tessivo
