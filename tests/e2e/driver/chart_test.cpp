// The chart pane under the mouse: a move shows the hover panel, a wheel step zooms. What is
// drawn is checked by the chart's own tests; here the pictures are saved for people to look
// at, and must at least not be blank.
#include <windows.h>

#include <gtest/gtest.h>

#include "driver/program.h"

namespace tessivo::e2e {
namespace {

TEST(Chart, HoverAndWheelOverTheChartAreDrawn) {
  Program program(paths().scripted);
  ASSERT_TRUE(program.started()) << utf8(program.failure());
  ASSERT_TRUE(program.waitForReads(30));
  RECT chart{};
  GetClientRect(program.chart(), &chart);
  // Near the newest data, inside the plot (which ends 16 pixels from the right edge).
  POINT at{chart.right - 40, 200};
  POINT screen = at;
  ClientToScreen(program.chart(), &screen);
  // The pointer itself goes there too: the leave tracking the chart arms on a move would
  // otherwise end the hover at once.
  SetCursorPos(screen.x, screen.y);
  ASSERT_TRUE(program.send(program.chart(), WM_MOUSEMOVE, 0, MAKELPARAM(at.x, at.y)));
  Sleep(400);
  int colours = 0;
  EXPECT_TRUE(program.screenshot(program.main(), L"hover.png", &colours));
  EXPECT_GT(colours, 16);

  ASSERT_TRUE(program.send(program.chart(), WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), MAKELPARAM(screen.x, screen.y)));
  ASSERT_TRUE(program.send(program.chart(), WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), MAKELPARAM(screen.x, screen.y)));
  Sleep(400);
  EXPECT_TRUE(program.screenshot(program.main(), L"zoom.png", &colours));
  EXPECT_GT(colours, 16);
  // A double-click resets the view; the program stays responsive throughout.
  EXPECT_TRUE(program.send(program.chart(), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(at.x, at.y)));
}

}  // namespace
}  // namespace tessivo::e2e
