#include "app/shell_layout.h"

#include <gtest/gtest.h>

namespace tessivo {
namespace {

TEST(ShellLayout, ChartOnTopListBelow) {
  const PaneLayout p = layoutPanes(true, 1200, 800);
  EXPECT_TRUE(p.chartShown);
  EXPECT_EQ(p.chartWidth, 1200);
  EXPECT_EQ(p.chartHeight, 380);
  EXPECT_EQ(p.listTop, 380);
  EXPECT_EQ(p.listWidth, 1200);
  EXPECT_EQ(p.listHeight, 420);
}

TEST(ShellLayout, LowClientAreasKeepTheChartAndGiveTheListNothing) {
  for (const std::uint32_t height : {381u, 380u, 379u, 1u, 0u}) {
    const PaneLayout p = layoutPanes(true, 640, height);
    EXPECT_TRUE(p.chartShown) << height;
    EXPECT_EQ(p.chartHeight, 380) << height;  // clipped by the parent, never shrunk
    EXPECT_EQ(p.listTop, 380) << height;
    EXPECT_EQ(p.listHeight, height > 380 ? static_cast<std::int32_t>(height) - 380 : 0) << height;
  }
  // The largest sizes a size message can carry.
  const PaneLayout big = layoutPanes(true, 65535, 65535);
  EXPECT_EQ(big.listWidth, 65535);
  EXPECT_EQ(big.listHeight, 65535 - 380);
  // Beyond the signed range nothing wraps negative.
  const PaneLayout huge = layoutPanes(true, 0xFFFFFFFFu, 0xFFFFFFFFu);
  EXPECT_GT(huge.listWidth, 0);
  EXPECT_GT(huge.listHeight, 0);
}

TEST(ShellLayout, HiddenChartLetsTheListFillTheClientArea) {
  const PaneLayout p = layoutPanes(false, 1200, 800);
  EXPECT_FALSE(p.chartShown);
  EXPECT_EQ(p.listTop, 0);
  EXPECT_EQ(p.listWidth, 1200);
  EXPECT_EQ(p.listHeight, 800);
  const PaneLayout low = layoutPanes(false, 300, 200);
  EXPECT_EQ(low.listTop, 0);
  EXPECT_EQ(low.listHeight, 200);
  EXPECT_EQ(layoutPanes(false, 0, 0).listHeight, 0);
}

TEST(TrayAction, ClicksAndSelectRestoreRightClickAndContextMenuPopUp) {
  EXPECT_EQ(trayAction(0x202), TrayAction::Restore);  // left button up
  EXPECT_EQ(trayAction(0x203), TrayAction::Restore);  // left double click
  EXPECT_EQ(trayAction(0x400), TrayAction::Restore);  // NIN_SELECT
  EXPECT_EQ(trayAction(0x205), TrayAction::PopupMenu);  // right button up
  EXPECT_EQ(trayAction(0x07B), TrayAction::PopupMenu);  // WM_CONTEXTMENU
  for (const std::uint32_t other : {0x000u, 0x200u, 0x201u, 0x204u, 0x206u, 0x401u, 0x402u, 0x404u, 0x405u}) {
    EXPECT_EQ(trayAction(other), TrayAction::None) << other;
  }
  // Only the low word names the event.
  EXPECT_EQ(trayAction(0x00010202u), TrayAction::Restore);
  EXPECT_EQ(trayAction(0x00010205u), TrayAction::PopupMenu);
  EXPECT_EQ(trayAction(0x02000000u), TrayAction::None);
}

}  // namespace
}  // namespace tessivo
