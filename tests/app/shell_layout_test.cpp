#include "app/shell_layout.h"

#include <gtest/gtest.h>

namespace tessivo {
namespace {

TEST(ShellLayout, ChartKeepsItsHeightOnTopAndTheListTakesTheRest) {
  const struct { bool chart; std::uint32_t w, h; std::int32_t listTop, listHeight; } cases[] = {
      {true, 1200, 800, 380, 420}, {true, 640, 381, 380, 1}, {true, 640, 379, 380, 0},
      {true, 640, 0, 380, 0},  // clipped by the parent, never shrunk
      {true, 65535, 65535, 380, 65535 - 380},  // the largest sizes a size message carries
      {false, 1200, 800, 0, 800}, {false, 0, 0, 0, 0}};
  for (const auto& c : cases) {
    const PaneLayout p = layoutPanes(c.chart, c.w, c.h);
    EXPECT_EQ(p.chartShown, c.chart) << c.h;
    EXPECT_EQ(p.chartWidth, c.chart ? static_cast<std::int32_t>(c.w) : 0) << c.h;
    EXPECT_EQ(p.chartHeight, c.chart ? 380 : 0) << c.h;
    EXPECT_EQ(p.listTop, c.listTop) << c.h;
    EXPECT_EQ(p.listWidth, static_cast<std::int32_t>(c.w)) << c.h;
    EXPECT_EQ(p.listHeight, c.listHeight) << c.h;
  }
  // Beyond the signed range nothing wraps negative.
  const PaneLayout huge = layoutPanes(true, 0xFFFFFFFFu, 0xFFFFFFFFu);
  EXPECT_GT(huge.listWidth, 0);
  EXPECT_GT(huge.listHeight, 0);
}

TEST(TrayAction, ClicksAndSelectRestoreRightClickAndContextMenuPopUp) {
  // Only the low word names the event.
  for (std::uint32_t restore : {0x202u, 0x203u, 0x400u, 0x00010202u}) EXPECT_EQ(trayAction(restore), TrayAction::Restore);
  for (std::uint32_t popup : {0x205u, 0x07Bu, 0x00010205u}) EXPECT_EQ(trayAction(popup), TrayAction::PopupMenu);
  for (std::uint32_t other : {0x000u, 0x200u, 0x201u, 0x204u, 0x206u, 0x401u, 0x404u, 0x02000000u})
    EXPECT_EQ(trayAction(other), TrayAction::None) << other;
}

}  // namespace
}  // namespace tessivo
