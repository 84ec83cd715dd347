// The menu bar and the tray icon's popup as data; each shell turns them into its own menus.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessivo {

enum class MenuItemKind : std::uint8_t { Command, Separator, Popup };

struct MenuItem {
  MenuItemKind kind = MenuItemKind::Command;
  std::u16string text;             // empty for a separator
  std::int32_t id = 0;             // command id; 0 for separators and popups
  bool checked = false;            // initial check mark
  std::vector<MenuItem> children;  // the items of a popup
};

namespace command {
inline constexpr std::int32_t ClearAll = 40001;
inline constexpr std::int32_t About = 40002;
inline constexpr std::int32_t GroupByApp = 40003;
inline constexpr std::int32_t CountRunDelta = 40004;
inline constexpr std::int32_t CountSystemCumulative = 40005;
inline constexpr std::int32_t ShowChart = 40006;
inline constexpr std::int32_t RangeLive = 40010;  // 40010..40013
inline constexpr std::int32_t RangeFull = 40013;
inline constexpr std::int32_t Interval100 = 40020;  // 40020..40025
inline constexpr std::int32_t Interval2000 = 40025;
inline constexpr std::int32_t Retention1h = 40030;  // 40030..40034
inline constexpr std::int32_t Retention168h = 40034;
inline constexpr std::int32_t Restore = 40040;
inline constexpr std::int32_t Exit = 40041;
}  // namespace command

// The three popups 程序, 视图, 设置 with their items and the initial check marks.
std::vector<MenuItem> buildMenuBar();
// 还原, separator, 退出.
std::vector<MenuItem> buildTrayMenu();

}  // namespace tessivo
