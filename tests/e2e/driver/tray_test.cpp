// The notification area, the About box and closing, the chart under the mouse.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "driver/program.h"

namespace tessivo::e2e {
namespace {

constexpr UINT kTrayMessage = WM_APP + 1;

bool minimise(Program& p) {  // true once the window hides behind its icon
  p.post(WM_SYSCOMMAND, SC_MINIMIZE);
  return eventually([&] { return IsIconic(p.main) && !IsWindowVisible(p.main) && p.trayIcon(); }, 5'000);
}

bool restored(Program& p) {
  return eventually([&] { return IsWindowVisible(p.main) && !IsIconic(p.main) && !p.trayIcon(); });
}

HWND iconMenu(Program& p, LPARAM event) {  // the popup menu the icon's event opens, or null
  p.post(kTrayMessage, 1, event);
  return p.window(L"#32768");
}

void press(HWND popup, WORD key) {  // the popup takes its keys from the program's queue
  PostMessageW(popup, WM_KEYDOWN, key, 0);
  PostMessageW(popup, WM_KEYUP, key, 0xC0000001);
}

TEST_F(Scripted, TheIconsEventsAndMenuRestoreOrEndTheProgramWhileSamplingGoesOn) {
  const UINT events[] = {WM_LBUTTONUP, WM_LBUTTONDBLCLK, NIN_SELECT};
  for (UINT event : events) {
    SCOPED_TRACE("event " + std::to_string(event));
    ASSERT_TRUE(minimise(program)) << "no icon";
    EXPECT_TRUE(program.waitForReads(program.reads() + 2, 5'000)) << "sampling stopped behind the icon";
    program.post(kTrayMessage, 1, event);
    EXPECT_TRUE(restored(program));
    EXPECT_EQ(program.rect(program.list).right, program.rect(program.main).right) << "not laid out again";
  }
  // Events of another icon, or of no interest, change nothing; the right button opens the
  // icon's menu and cancelling it leaves the icon.
  ASSERT_TRUE(minimise(program));
  program.post(kTrayMessage, 2, WM_LBUTTONUP);
  program.post(kTrayMessage, 1, WM_MOUSEMOVE);
  HWND popup = iconMenu(program, WM_RBUTTONUP);
  ASSERT_NE(popup, nullptr);
  EXPECT_FALSE(IsWindowVisible(program.main));
  program.post(WM_CANCELMODE);
  EXPECT_TRUE(eventually([&] { return !IsWindowVisible(popup); }));
  EXPECT_TRUE(program.trayIcon());
  ASSERT_NE(popup = iconMenu(program, WM_CONTEXTMENU), nullptr);
  EXPECT_TRUE(program.waitForReads(program.reads() + 2, 5'000)) << "the timer stopped under the menu";
  press(popup, VK_DOWN);  // 还原, the first item
  press(popup, VK_RETURN);
  EXPECT_TRUE(restored(program));
  ASSERT_TRUE(minimise(program));
  ASSERT_NE(popup = iconMenu(program, WM_RBUTTONUP), nullptr);
  press(popup, VK_UP);  // 退出, the last item
  press(popup, VK_RETURN);
  // Whether it removed its icon cannot be told from here (Wine drops the icons of a destroyed
  // window by itself); the in-process tear-down test checks it.
  EXPECT_EQ(program.exitCode(), 0);
}

// Wine's notification area always takes an icon: the driver takes the program's place in it
// first (same window, same id), so that the program's own add fails.
TEST_F(Scripted, WithoutAnIconTheMinimisedWindowStaysOnTheTaskbar) {
  NOTIFYICONDATAW squatter{};
  squatter.cbSize = sizeof squatter;
  squatter.hWnd = program.main;
  squatter.uID = 1;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &squatter)) << "cannot occupy the icon's place";
  program.post(WM_SYSCOMMAND, SC_MINIMIZE);
  EXPECT_TRUE(eventually([&] { return IsIconic(program.main) != FALSE; }));
  Sleep(300);
  EXPECT_TRUE(IsWindowVisible(program.main)) << "hidden with no icon to bring it back";
  Shell_NotifyIconW(NIM_DELETE, &squatter);
  program.post(WM_SYSCOMMAND, SC_RESTORE);  // as the taskbar button does
  EXPECT_TRUE(restored(program));
  EXPECT_TRUE(minimise(program)) << "with the place free, the next minimise hides it behind its icon";
}

// Started minimised, it hides behind the icon at once; a shell restart then leaves one icon
// and the window hidden, and restoring removes the icon.
TEST(Tray, StartedMinimisedItHidesBehindTheIconThroughAShellRestart) {
  Program program(paths.scripted, SW_SHOWMINIMIZED);
  ASSERT_STARTED(program);
  EXPECT_TRUE(eventually([&] { return !IsWindowVisible(program.main) && program.trayIcon(); }));
  EXPECT_FALSE(program.table().empty());
  ASSERT_TRUE(program.send(program.main, RegisterWindowMessageW(L"TaskbarCreated")));
  EXPECT_FALSE(IsWindowVisible(program.main));
  EXPECT_TRUE(program.trayIcon());
  program.post(kTrayMessage, 1, NIN_SELECT);
  EXPECT_TRUE(restored(program)) << "an icon outlived the restore";
}

TEST_F(Scripted, AboutBoxShowsItsTextWhileSamplingGoesOnAndClosingWithItOpenEndsWithZero) {
  ASSERT_TRUE(program.command(40025));  // the text names 333 ms whatever the interval
  program.post(WM_COMMAND, 40002);
  HWND box = program.window(L"#32770", L"关于");
  ASSERT_NE(box, nullptr) << "no About box";
  EXPECT_EQ(GetWindow(box, GW_OWNER), program.main);
  wchar_t text[512] = {};  // the one static control with a text; the other holds the icon
  for (HWND c = nullptr; !*text && (c = FindWindowExW(box, c, L"Static", nullptr)) != nullptr;)
    GetWindowTextW(c, text, 512);
  EXPECT_STREQ(
      text, L"Tessivo\n刷新间隔：333 毫秒\n数据来源：NtQuerySystemInformation(SystemProcessInformation)。");
  EXPECT_TRUE(program.waitForReads(program.reads() + 1)) << "its modal loop stopped the timer";
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(eventually([&] { return !IsWindow(box); }));
  EXPECT_TRUE(IsWindowVisible(program.main));
  program.post(WM_COMMAND, 40002);
  ASSERT_NE(program.window(L"#32770", L"关于"), nullptr);
  EXPECT_EQ(program.close(), 0);
}

// What the chart draws is its own tests' concern: here the pictures of the hover panel and of
// the zoomed view are saved for people to look at, and must not be blank.
TEST_F(Scripted, HoverAndWheelOverTheChartAreDrawn) {
  ASSERT_TRUE(program.waitForReads(30));
  RECT chart{};
  GetClientRect(program.chart, &chart);
  POINT at{chart.right - 40, 200}, screen = at;  // near the newest data, inside the plot
  ClientToScreen(program.chart, &screen);
  SetCursorPos(screen.x, screen.y);  // else the leave tracking armed by the move ends the hover
  ASSERT_TRUE(program.send(program.chart, WM_MOUSEMOVE, 0, MAKELPARAM(at.x, at.y)));
  Sleep(400);
  EXPECT_GT(program.screenshot(L"hover.png"), 16);
  for (int step = 0; step < 2; ++step)
    ASSERT_TRUE(program.send(program.chart, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA),
                             MAKELPARAM(screen.x, screen.y)));
  Sleep(400);
  EXPECT_GT(program.screenshot(L"zoom.png"), 16);
  EXPECT_TRUE(program.send(program.chart, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(at.x, at.y)));  // resets
}

}  // namespace
}  // namespace tessivo::e2e
