// Start-up: the main window, its panes and the first refresh, in the scripted build and in
// the shipped program; the menu bar as the program holds it.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>

#include <string>
#include <vector>

#include "driver/program.h"

namespace tessivo::e2e {
namespace {

std::wstring classOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

// Everything the first look at the window shows, the same for both builds.
void expectStartUpWindow(Program& program) {
  ASSERT_TRUE(program.started()) << utf8(program.failure());
  RECT frame{};
  GetWindowRect(program.main(), &frame);
  EXPECT_EQ(frame.right - frame.left, 1280);
  EXPECT_EQ(frame.bottom - frame.top, 720);
  EXPECT_TRUE(IsWindowVisible(program.main()));

  ASSERT_NE(program.list(), nullptr);
  EXPECT_EQ(classOf(program.list()), L"SysListView32");
  // The control adds its own scroll bars when the columns or rows do not fit.
  const auto style = static_cast<DWORD>(GetWindowLongPtrW(program.list(), GWL_STYLE));
  EXPECT_EQ(style & ~static_cast<DWORD>(WS_HSCROLL | WS_VSCROLL), 0x50001005u);
  EXPECT_TRUE(GetWindowLongPtrW(program.list(), GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  LRESULT listStyles = 0;
  ASSERT_TRUE(program.send(program.list(), LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0, &listStyles));
  EXPECT_EQ(listStyles, 0x10021);
  EXPECT_EQ(program.columnCount(), 9);
  EXPECT_GT(program.rowCount(), 0);

  ASSERT_NE(program.chart(), nullptr);
  EXPECT_EQ(classOf(program.chart()), L"QuarnelSpeedChart");
  EXPECT_TRUE(IsWindowVisible(program.chart()));
  const RECT client = program.clientRect();
  const RECT chart = program.childRect(program.chart());
  const RECT list = program.childRect(program.list());
  EXPECT_EQ(chart.left, 0);
  EXPECT_EQ(chart.top, 0);
  EXPECT_EQ(chart.right, client.right);
  EXPECT_EQ(chart.bottom, 380);
  EXPECT_EQ(list.left, 0);
  EXPECT_EQ(list.top, 380);
  EXPECT_EQ(list.right, client.right);
  EXPECT_EQ(list.bottom, client.bottom);
}

TEST(StartUp, ScriptedBuildShowsBothPanesAndAFilledList) {
  Program program(paths().scripted);
  expectStartUpWindow(program);
  ASSERT_NE(program.control(), nullptr);
  // The first refresh runs inside the window's creation, before it is first shown.
  EXPECT_EQ(program.control()->readsAtFirstShow, 1);
  EXPECT_EQ(program.control()->rowsAtFirstShow, 4);  // the four applications of the script

  // Another process cannot read the program's menu bar under Wine (the handle is valid only
  // in its owner); the scripted build describes it from inside instead. Say which applies.
  HMENU bar = GetMenu(program.main());
  std::printf("e2e: GetMenu from outside gives %p, %d items\n", static_cast<void*>(bar),
              bar ? GetMenuItemCount(bar) : -1);

  ASSERT_TRUE(program.waitForReads(15));
  int colours = 0;
  EXPECT_TRUE(program.screenshot(program.main(), L"startup.png", &colours));
  EXPECT_GT(colours, 16) << "the window looks blank";
}

TEST(StartUp, ShippedProgramStartsAndClosesWithExitCodeZero) {
  Program program(paths().real);
  expectStartUpWindow(program);
  PostMessageW(program.main(), WM_CLOSE, 0, 0);
  EXPECT_EQ(program.waitForExit(60'000), 0);
}

}  // namespace
}  // namespace tessivo::e2e
