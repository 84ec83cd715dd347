// The notification area, the About box and closing.
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

// The popup menu the icon's event opens, or null; a closed menu's window may linger hidden.
HWND iconMenu(Program& p, LPARAM event) {
  p.post(kTrayMessage, 1, event);
  return p.window(L"#32768", nullptr, 10'000, true);
}

void press(HWND popup, WORD key) {  // the popup takes its keys from the program's queue
  PostMessageW(popup, WM_KEYDOWN, key, 0);
  PostMessageW(popup, WM_KEYUP, key, 0xC0000001);
}

TEST_F(Scripted, TheIconsEventsAndMenuRestoreOrEndTheProgramWhileSamplingGoesOn) {
  for (UINT event : {WM_LBUTTONUP, WM_LBUTTONDBLCLK, NIN_SELECT}) {
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

// Started minimised, it hides behind the icon at once; a shell restart leaves one icon and the
// window hidden; restoring removes the icon. Without an icon (the driver takes its place in
// Wine's notification area first, which always takes one) it stays minimised on the taskbar.
TEST(Tray, StartedMinimisedItHidesBehindTheIconAndWithoutAnIconStaysOnTheTaskbar) {
  Program program(paths.scripted, SW_SHOWMINIMIZED);
  ASSERT_STARTED(program);
  EXPECT_TRUE(eventually([&] { return !IsWindowVisible(program.main) && program.trayIcon(); }));
  EXPECT_FALSE(program.table().empty());
  ASSERT_TRUE(program.send(program.main, RegisterWindowMessageW(L"TaskbarCreated")));
  EXPECT_FALSE(IsWindowVisible(program.main));
  EXPECT_TRUE(program.trayIcon());
  program.post(kTrayMessage, 1, NIN_SELECT);
  ASSERT_TRUE(restored(program)) << "an icon outlived the restore";
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

TEST_F(Scripted, AboutBoxShowsItsTextWhileSamplingGoesOnAndClosingWithItOpenEndsWithZero) {
  program.post(WM_COMMAND, 40002);
  HWND box = program.window(L"#32770", L"关于");
  ASSERT_NE(box, nullptr) << "no About box";
  EXPECT_EQ(GetWindow(box, GW_OWNER), program.main);
  wchar_t text[512] = {};  // the one static control with a text; the other holds the icon
  for (HWND c = nullptr; !*text && (c = FindWindowExW(box, c, L"Static", nullptr)) != nullptr;)
    GetWindowTextW(c, text, 512);
  EXPECT_STREQ(text, L"Tessivo\n刷新间隔：333 毫秒\n数据来源：NtQuerySystemInformation(SystemProcessInformation)。");
  EXPECT_TRUE(program.waitForReads(program.reads() + 1)) << "its modal loop stopped the timer";
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(eventually([&] { return !IsWindow(box); }));
  EXPECT_TRUE(IsWindowVisible(program.main));
  program.post(WM_COMMAND, 40002);
  ASSERT_NE(program.window(L"#32770", L"关于"), nullptr);
  EXPECT_EQ(program.close(), 0);
}

}  // namespace
}  // namespace tessivo::e2e
