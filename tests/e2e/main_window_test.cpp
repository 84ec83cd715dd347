// The main window in this process over a scripted source: what only the inside shows (the
// wiring to the core, text requests, the timer, tear-down, the chart's view state under the
// mouse). The end-to-end suite drives the same window from outside.
#include "win32/main_window.h"

#include <gtest/gtest.h>
#include <commctrl.h>

#include <functional>

#include "sampling/refresh_tick.h"
#include "support/scripted_system.h"

namespace tessivo {
namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
    MainWindow::registerClass(GetModuleHandleW(nullptr));  // again in later tests: harmless
    system.add(100, u"alpha.exe", u"C:\\apps\\alpha.exe").perTick.readBytes = 40960;
    system.add(200, u"Beta.exe", u"C:\\apps\\beta.exe").perTick.writeBytes = 8192;
    system.add(300, u"gamma.exe");
    ASSERT_NE(hwnd = window.create(GetModuleHandleW(nullptr)), nullptr);
    list = GetDlgItem(hwnd, 1001);
    chart = GetDlgItem(hwnd, 1002);
  }
  void TearDown() override {
    if (window.window() != nullptr) DestroyWindow(window.window());
    drain();
  }

  static int drain() {  // dispatches what is queued; the WM_QUIT code, or -1 without one
    int code = -1;
    for (MSG m; PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);)
      m.message == WM_QUIT ? void(code = static_cast<int>(m.wParam)) : void(DispatchMessageW(&m));
    return code;
  }
  LRESULT notify(NMHDR& header) {
    return SendMessageW(hwnd, WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
  }

  testing::ScriptedSystem system;
  AppState state{system};
  int prepared = 0;
  MainWindow window{state, [this] { ++prepared; }};
  HWND hwnd = nullptr, list = nullptr, chart = nullptr;
};

// Exact cells are checked from outside; here, the requests that must not be answered with a row.
TEST_F(MainWindowTest, TextRequestsOutsideTheRowsOrWithoutTheTextBitChangeNothing) {
  ASSERT_FALSE(state.rows.empty());
  wchar_t sentinel[] = L"untouched", cell[64] = {};
  ListView_GetItemText(list, 0, 0, cell, 64);
  EXPECT_NE(cell[0], 0) << "the control's own request is answered";
  NMLVDISPINFOW request{};
  request.hdr = {list, 1001, LVN_GETDISPINFOW};
  request.item.mask = LVIF_STATE;  // no text asked for
  request.item.pszText = sentinel;
  EXPECT_EQ(notify(request.hdr), 0);
  EXPECT_EQ(request.item.pszText, sentinel);
  request.item.mask = LVIF_TEXT;  // a row the control still counts but the state no longer has
  request.item.iItem = static_cast<int>(state.rows.size());
  notify(request.hdr);
  EXPECT_STREQ(request.item.pszText, L"");
  request.item.iItem = 0;  // the same request from another control is not the list's
  request.item.pszText = sentinel;
  request.hdr.idFrom = 1002;
  notify(request.hdr);
  EXPECT_EQ(request.item.pszText, sentinel);
}

TEST_F(MainWindowTest, OnlyTimerOneTheListsHeaderClicksAndKnownCommandsRefresh) {
  const auto click = [&](UINT_PTR from, int column) {
    NMLISTVIEW header{};
    header.hdr = {list, from, LVN_COLUMNCLICK};
    header.iItem = -1;
    header.iSubItem = column;
    return notify(header.hdr) == 0;
  };
  const struct {
    const char* what;
    std::function<bool()> send;
    std::uint64_t refreshes;
  } cases[] = {{"a click on the list's header", [&] { return click(1001, 0); }, 1},
               {"a click from another control", [&] { return click(1002, 3); }, 0},
               {"an unknown command", [&] { return SendMessageW(hwnd, WM_COMMAND, 12345, 0), true; }, 0},
               {"timer 1", [&] { return SendMessageW(hwnd, WM_TIMER, 1, 0) == 0; }, 1},
               {"timer 2", [&] { return SendMessageW(hwnd, WM_TIMER, 2, 0), true; }, 0}};
  for (const auto& c : cases) {
    const auto reads = system.readCount;
    EXPECT_TRUE(c.send()) << c.what;
    EXPECT_EQ(system.readCount, reads + c.refreshes) << c.what;
  }
  EXPECT_EQ(state.sortColumn, 0);
  // The armed timer delivers ticks through the message loop on its own.
  const auto reads = system.readCount;
  for (const ULONGLONG end = GetTickCount64() + 20'000; system.readCount == reads && GetTickCount64() < end;)
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT), drain();
  EXPECT_GT(system.readCount, reads);
}

// Creation hooks the shell to the core and fills the list before the first show; destroying the
// window unhooks it, removes the icon and ends the loop.
TEST_F(MainWindowTest, CreationHooksTheShellToTheCoreAndDestructionUnhooksIt) {
  EXPECT_EQ(prepared, 1);
  EXPECT_GE(system.readCount, 1u);
  EXPECT_TRUE(state.listView == &window.list() && state.chart.surface == &window.chart());
  EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), static_cast<LRESULT>(state.rows.size()));
  EXPECT_EQ(GetClassLongPtrW(chart, GCL_STYLE), static_cast<ULONG_PTR>(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS));
  ShowWindow(hwnd, SW_MINIMIZE);
  ASSERT_TRUE(state.trayIconShown) << "minimised without an icon";
  DestroyWindow(hwnd);
  EXPECT_FALSE(state.trayIconShown) << "the icon outlives the window";
  EXPECT_EQ(drain(), 0);
  EXPECT_EQ(window.window(), nullptr);
  EXPECT_EQ(state.listView, nullptr);
  EXPECT_EQ(state.chart.surface, nullptr);
  const auto reads = system.readCount;
  RefreshTick::run(state);  // publishes nowhere, and must not fail
  EXPECT_EQ(system.readCount, reads + 1);
  EXPECT_FALSE(state.rows.empty());
}

TEST_F(MainWindowTest, ChartWindowDrawsAndTurnsTheMouseIntoViewChanges) {
  SendMessageW(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(800, 600));
  for (int i = 0; i < 300; ++i) SendMessageW(hwnd, WM_TIMER, 1, 0);  // more than the live capacity
  RedrawWindow(chart, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_TRUE(window.chart().hasRenderTarget()) << "the first paint makes the device resources";
  const auto mouse = [&](UINT message, int x = 400, int y = 100) {
    const bool down = message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK;
    SendMessageW(chart, message, down ? MK_LBUTTON : 0, MAKELPARAM(x, y));
  };
  mouse(WM_LBUTTONDOWN);
  EXPECT_TRUE(GetCapture() == chart && state.chart.dragging);
  mouse(WM_LBUTTONUP, 420);
  EXPECT_FALSE(GetCapture() == chart || state.chart.dragging);
  mouse(WM_LBUTTONDOWN);
  ReleaseCapture();  // someone else took the mouse
  EXPECT_FALSE(state.chart.dragging);
  mouse(WM_MOUSEMOVE, 300, 120);
  EXPECT_TRUE(state.chart.hoverActive && state.chart.hoverX == 300 && state.chart.hoverY == 120);
  mouse(WM_MOUSELEAVE);
  EXPECT_FALSE(state.chart.hoverActive);

  state.chart.resetView();
  const float span = state.chart.viewSpan;
  POINT middle{64 + (800 - 64 - 16) / 2, 100};  // of the plot, in screen coordinates
  ClientToScreen(chart, &middle);
  SendMessageW(chart, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), MAKELPARAM(middle.x, middle.y));
  EXPECT_LT(state.chart.viewSpan, span) << "a wheel step away from the user zooms in";
  EXPECT_TRUE(state.chart.viewAltered);
  mouse(WM_LBUTTONDBLCLK);
  EXPECT_FALSE(state.chart.viewAltered);
  EXPECT_EQ(state.chart.viewSpan, span);
}

}  // namespace
}  // namespace tessivo
