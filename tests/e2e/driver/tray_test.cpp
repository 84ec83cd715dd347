// The notification area: minimising hides the window behind an icon, sampling goes on,
// and each of the icon's restore events brings the window back and removes the icon; the
// right button opens the icon's menu; a start minimised ends in the same hidden state.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include "driver/program.h"

namespace tessivo::e2e {
namespace {

constexpr UINT kTrayMessage = WM_APP + 1;

// Minimises and waits for the outcome: hidden behind the icon where the desktop gives one,
// otherwise still reachable as a minimised window. Returns whether the icon is there.
bool minimise(Program& program) {
  PostMessageW(program.main(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(eventually([&] { return IsIconic(program.main()) != FALSE; })) << "never minimised";
  const bool icon = eventually([&] { return !IsWindowVisible(program.main()) && program.trayIconPresent(); }, 5'000);
  if (!icon) {
    EXPECT_TRUE(IsWindowVisible(program.main())) << "hidden without an icon: unreachable";
    EXPECT_FALSE(program.trayIconPresent());
  }
  return icon;
}

bool restored(Program& program) {
  return eventually([&] {
    return IsWindowVisible(program.main()) && !IsIconic(program.main()) && !program.trayIconPresent();
  });
}

TEST(Tray, EachRestoreEventOfTheIconBringsTheWindowBack) {
  Program program(paths().scripted);
  ASSERT_TRUE(program.started()) << utf8(program.failure());
  const struct {
    const char* name;
    LPARAM event;
  } events[] = {{"left button up", WM_LBUTTONUP}, {"double click", WM_LBUTTONDBLCLK}, {"NIN_SELECT", NIN_SELECT}};
  for (const auto& e : events) {
    SCOPED_TRACE(e.name);
    ASSERT_TRUE(minimise(program)) << "Wine gave no notification area";
    // Sampling goes on behind the icon.
    EXPECT_TRUE(program.waitForReads(program.reads() + 2, 5'000));
    PostMessageW(program.main(), kTrayMessage, 1, e.event);
    EXPECT_TRUE(restored(program));
    const RECT client = program.clientRect();
    const RECT list = program.childRect(program.list());
    EXPECT_EQ(list.right, client.right) << "laid out again on restore";
  }

  // Events of another icon id, or of no interest, change nothing.
  ASSERT_TRUE(minimise(program));
  PostMessageW(program.main(), kTrayMessage, 2, WM_LBUTTONUP);
  PostMessageW(program.main(), kTrayMessage, 1, WM_MOUSEMOVE);
  Sleep(300);
  EXPECT_FALSE(IsWindowVisible(program.main()));
  EXPECT_TRUE(program.trayIconPresent());

  // The right button opens the icon's menu (还原, 退出); cancelling it leaves the icon.
  PostMessageW(program.main(), kTrayMessage, 1, WM_RBUTTONUP);
  HWND popup = program.waitForWindow(L"#32768", nullptr, 5'000);
  EXPECT_NE(popup, nullptr) << "no popup menu";
  PostMessageW(program.main(), WM_CANCELMODE, 0, 0);
  EXPECT_TRUE(eventually([&] { return !IsWindowVisible(popup); }));
  EXPECT_TRUE(program.trayIconPresent());
  ASSERT_TRUE(program.command(40040));  // 还原
  EXPECT_TRUE(restored(program));
}

// Keys for the icon's popup menu, which takes them from the program's message queue.
void press(HWND popup, WORD key) {
  PostMessageW(popup, WM_KEYDOWN, key, 0);
  PostMessageW(popup, WM_KEYUP, key, 0xC0000001);
}

TEST(Tray, IconMenuRestoresAndExitsWhileSamplingGoesOn) {
  Program program(paths().scripted);
  ASSERT_TRUE(program.started()) << utf8(program.failure());
  ASSERT_TRUE(minimise(program));
  PostMessageW(program.main(), kTrayMessage, 1, WM_CONTEXTMENU);
  HWND popup = program.waitForWindow(L"#32768", nullptr, 5'000);
  ASSERT_NE(popup, nullptr) << "no popup menu";
  EXPECT_TRUE(program.waitForReads(program.reads() + 2, 5'000)) << "the timer stopped while the menu was open";
  press(popup, VK_DOWN);  // 还原, the first item
  press(popup, VK_RETURN);
  EXPECT_TRUE(restored(program));

  ASSERT_TRUE(minimise(program));
  PostMessageW(program.main(), kTrayMessage, 1, WM_RBUTTONUP);
  popup = program.waitForWindow(L"#32768", nullptr, 5'000);
  ASSERT_NE(popup, nullptr) << "no popup menu";
  press(popup, VK_UP);  // 退出, the last item
  press(popup, VK_RETURN);
  EXPECT_EQ(program.waitForExit(30'000), 0);
}

// The shell announces a restart while the window hides behind the icon: afterwards there
// is still exactly one icon, the window stays hidden, and restoring removes the icon.
TEST(Tray, ShellRestartAnnouncementKeepsTheIconAndTheWindowHidden) {
  Program program(paths().scripted);
  ASSERT_TRUE(program.started()) << utf8(program.failure());
  ASSERT_TRUE(minimise(program));
  ASSERT_TRUE(program.send(program.main(), RegisterWindowMessageW(L"TaskbarCreated")));
  Sleep(300);
  EXPECT_FALSE(IsWindowVisible(program.main()));
  EXPECT_TRUE(program.trayIconPresent());
  PostMessageW(program.main(), kTrayMessage, 1, NIN_SELECT);
  EXPECT_TRUE(restored(program)) << "the icon outlived the restore";
}

// Where the icon cannot be added, minimising must not hide the window for good. Under Wine
// the notification area always takes an icon, so the driver takes the program's place in it
// first (same window, same id): the program's own add then fails as a duplicate.
TEST(Tray, WithoutAnIconTheMinimisedWindowStaysOnTheTaskbar) {
  Program program(paths().scripted);
  ASSERT_TRUE(program.started()) << utf8(program.failure());
  NOTIFYICONDATAW squatter{};
  squatter.cbSize = sizeof squatter;
  squatter.hWnd = program.main();
  squatter.uID = 1;
  ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &squatter)) << "cannot occupy the icon's place";
  PostMessageW(program.main(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(eventually([&] { return IsIconic(program.main()) != FALSE; }));
  Sleep(300);
  EXPECT_TRUE(IsWindowVisible(program.main())) << "hidden with no icon to bring it back";
  Shell_NotifyIconW(NIM_DELETE, &squatter);
  // The taskbar button restores it, as for any window.
  PostMessageW(program.main(), WM_SYSCOMMAND, SC_RESTORE, 0);
  EXPECT_TRUE(restored(program));
  // And with the place free again, the next minimise hides it behind its own icon.
  EXPECT_TRUE(minimise(program));
}

TEST(Tray, StartedMinimisedItHidesBehindTheIconAtOnce) {
  Program program(paths().scripted, SW_SHOWMINIMIZED);
  ASSERT_TRUE(program.started()) << utf8(program.failure());
  EXPECT_TRUE(eventually([&] { return !IsWindowVisible(program.main()) && program.trayIconPresent(); }));
  EXPECT_GT(program.rowCount(), 0);
  PostMessageW(program.main(), kTrayMessage, 1, NIN_SELECT);
  EXPECT_TRUE(restored(program));
}

}  // namespace
}  // namespace tessivo::e2e
