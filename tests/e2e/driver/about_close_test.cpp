// The About box, and the ways the program ends: WM_CLOSE and 退出 both exit with code 0,
// also from behind the icon.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "driver/program.h"

namespace tessivo::e2e {
namespace {

// The message box's text: its one static control that is not the icon.
BOOL CALLBACK findText(HWND child, LPARAM context) {
  if (classOf(child) == L"Static" && !textOf(child).empty()) {
    *reinterpret_cast<std::wstring*>(context) = textOf(child);
    return FALSE;
  }
  return TRUE;
}

TEST(About, BoxShowsItsCaptionAndTextWhileSamplingGoesOn) {
  Program program(paths().scripted);
  ASSERT_TRUE(program.started()) << utf8(program.failure());
  ASSERT_TRUE(program.command(40025));  // the text names 333 ms whatever the interval
  PostMessageW(program.main(), WM_COMMAND, 40002, 0);
  HWND box = program.waitForWindow(L"#32770", L"关于", 10'000);
  ASSERT_NE(box, nullptr) << "no About box";
  EXPECT_EQ(GetWindow(box, GW_OWNER), program.main());
  std::wstring text;
  EnumChildWindows(box, findText, reinterpret_cast<LPARAM>(&text));
  EXPECT_EQ(text, L"Tessivo\n刷新间隔：333 毫秒\n数据来源：NtQuerySystemInformation(SystemProcessInformation)。");
  // Its modal loop keeps the sampling timer's messages coming.
  EXPECT_TRUE(program.waitForReads(program.reads() + 1, 10'000));
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(eventually([&] { return !IsWindow(box); }));
  EXPECT_TRUE(IsWindowVisible(program.main()));
}

TEST(Closing, WmCloseEndsTheProgramWithExitCodeZero) {
  Program program(paths().scripted);
  ASSERT_TRUE(program.started()) << utf8(program.failure());
  PostMessageW(program.main(), WM_CLOSE, 0, 0);
  EXPECT_EQ(program.waitForExit(30'000), 0);
}

TEST(Closing, WmCloseWithTheAboutBoxOpenStillEndsWithCodeZero) {
  Program program(paths().scripted);
  ASSERT_TRUE(program.started()) << utf8(program.failure());
  PostMessageW(program.main(), WM_COMMAND, 40002, 0);
  ASSERT_NE(program.waitForWindow(L"#32770", L"关于", 10'000), nullptr);
  PostMessageW(program.main(), WM_CLOSE, 0, 0);
  EXPECT_EQ(program.waitForExit(30'000), 0);
}

TEST(Closing, ExitFromBehindTheIconEndsWithCodeZero) {
  Program program(paths().scripted);
  ASSERT_TRUE(program.started()) << utf8(program.failure());
  PostMessageW(program.main(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(eventually([&] { return program.trayIconPresent(); })) << "no icon to remove";
  PostMessageW(program.main(), WM_COMMAND, 40041, 0);  // 退出
  EXPECT_EQ(program.waitForExit(30'000), 0);
  // Whether the program removed its icon cannot be told from here: Wine's notification area
  // drops the icons of a destroyed window by itself. The in-process shell test checks it.
}

}  // namespace
}  // namespace tessivo::e2e
