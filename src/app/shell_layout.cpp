#include "app/shell_layout.h"

#include <algorithm>
#include <limits>

namespace tessivo {

namespace {

// WM_SIZE carries 16-bit words, but nothing stops a caller from passing more.
std::int32_t toInt32(std::uint32_t value) {
  return static_cast<std::int32_t>(std::min<std::uint32_t>(value, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

PaneLayout layoutPanes(bool chartVisible, std::uint32_t width, std::uint32_t height) {
  PaneLayout layout;
  const std::int32_t w = toInt32(width);
  const std::int32_t h = toInt32(height);
  layout.chartShown = chartVisible;
  if (chartVisible) {
    // The chart keeps its full height even in a lower client area; the parent clips it.
    layout.chartWidth = w;
    layout.chartHeight = kChartPaneHeight;
  }
  layout.listTop = chartVisible ? kChartPaneHeight : 0;
  layout.listWidth = w;
  layout.listHeight = std::max(h - layout.listTop, 0);
  return layout;
}

TrayAction trayAction(std::uint32_t event) {
  // Only the low word names the event; newer shells put the icon id in the high word.
  switch (event & 0xFFFFu) {
    case 0x202:  // WM_LBUTTONUP
    case 0x203:  // WM_LBUTTONDBLCLK
    case 0x400:  // NIN_SELECT
      return TrayAction::Restore;
    case 0x205:  // WM_RBUTTONUP
    case 0x07B:  // WM_CONTEXTMENU
      return TrayAction::PopupMenu;
    default:
      return TrayAction::None;
  }
}

}  // namespace tessivo
