// Decisions of the main window that need no platform: pane layout and tray icon events.
#pragma once

#include <cstdint>

namespace tessivo {

inline constexpr std::int32_t kChartPaneHeight = 380;

struct PaneLayout {
  bool chartShown = false;  // place the chart at 0,0 with chartWidth x chartHeight, else hide it
  std::int32_t chartWidth = 0, chartHeight = 0;
  std::int32_t listTop = 0, listWidth = 0, listHeight = 0;  // the list at 0,listTop
};

// Layout for a client area of width x height (the unsigned words of WM_SIZE).
PaneLayout layoutPanes(bool chartVisible, std::uint32_t width, std::uint32_t height);

enum class TrayAction : std::uint8_t { None, Restore, PopupMenu };

// The low word of the tray callback's lParam (a mouse message or NIN_SELECT).
TrayAction trayAction(std::uint32_t event);

}  // namespace tessivo
