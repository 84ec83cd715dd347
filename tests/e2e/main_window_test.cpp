// The main window in this process, over a scripted process source: what only the inside
// shows (the wiring to the core, the text requests, the timer, tear-down, the chart's view
// state under the mouse). The end-to-end suite drives the same window from outside.
#include "win32/main_window.h"

#include <gtest/gtest.h>
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "sampling/refresh_tick.h"
#include "support/scripted_system.h"

namespace tessivo {
namespace {

std::u16string cellFromControl(HWND list, int row, int column) {
  wchar_t text[512] = {};
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = 512;
  SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
  return reinterpret_cast<const char16_t*>(text);
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
    MainWindow::registerClass(GetModuleHandleW(nullptr));  // again in later tests: harmless
    auto& alpha = system.add(100, u"alpha.exe", u"C:\\apps\\alpha.exe");
    alpha.perTick.readBytes = 40960;
    alpha.perTick.readOps = 10;
    auto& beta = system.add(200, u"Beta.exe", u"C:\\apps\\beta.exe");
    beta.perTick.writeBytes = 8192;
    system.add(300, u"gamma.exe");
    window = std::make_unique<MainWindow>(state, [this] { ++prepared; });
    hwnd = window->create(GetModuleHandleW(nullptr));
    ASSERT_NE(hwnd, nullptr);
    list = GetDlgItem(hwnd, 1001);
    chart = GetDlgItem(hwnd, 1002);
  }

  void TearDown() override {
    if (window->window() != nullptr) DestroyWindow(window->window());
    quitCode = drainForQuit();
    window.reset();
  }

  // Dispatches what is queued; returns the WM_QUIT code if one came, else -1.
  static int drainForQuit() {
    MSG msg;
    int code = -1;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        code = static_cast<int>(msg.wParam);
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    return code;
  }

  LRESULT command(std::int32_t id) { return SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(id, 0), 0); }

  LRESULT notify(NMHDR& header) { return SendMessageW(hwnd, WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header)); }

  LRESULT columnClick(int column, UINT_PTR from = 1001) {
    NMLISTVIEW click{};
    click.hdr.hwndFrom = list;
    click.hdr.idFrom = from;
    click.hdr.code = LVN_COLUMNCLICK;
    click.iItem = -1;
    click.iSubItem = column;
    return notify(click.hdr);
  }

  void refreshes(int n) {
    for (int i = 0; i < n; ++i) SendMessageW(hwnd, WM_TIMER, 1, 0);
  }

  testing::ScriptedSystem system;
  AppState state{system};
  std::unique_ptr<MainWindow> window;
  HWND hwnd = nullptr;
  HWND list = nullptr;
  HWND chart = nullptr;
  int prepared = 0;
  int quitCode = -1;
};

// Window classes, styles, columns, menus and layout are checked from outside by the
// end-to-end suite; here, what only the inside shows: the wiring to the core.
TEST_F(MainWindowTest, CreationWiresTheShellToTheCoreBeforeTheFirstShow) {
  EXPECT_EQ(prepared, 1);
  EXPECT_GE(system.readCount, 1u) << "the list must be filled before the window first shows";
  EXPECT_EQ(state.listView, &window->list());
  EXPECT_EQ(state.chart.surface, &window->chart());
  EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), static_cast<LRESULT>(state.rows.size()));
  EXPECT_EQ(GetClassLongPtrW(chart, GCL_STYLE), static_cast<ULONG_PTR>(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS));
}

// Exact cells are checked from outside by the end-to-end suite; here, the requests that
// must not be answered with a row.
TEST_F(MainWindowTest, TextRequestsOutsideTheRowsOrWithoutTextBitChangeNothing) {
  ASSERT_FALSE(state.rows.empty());
  EXPECT_FALSE(cellFromControl(list, 0, 0).empty()) << "the control's own request is answered";
  wchar_t sentinel[] = L"untouched";
  NMLVDISPINFOW request{};
  request.hdr.hwndFrom = list;
  request.hdr.idFrom = 1001;
  request.hdr.code = LVN_GETDISPINFOW;
  request.item.mask = LVIF_STATE;  // no text asked for: nothing may change
  request.item.iItem = 0;
  request.item.pszText = sentinel;
  EXPECT_EQ(notify(request.hdr), 0);
  EXPECT_EQ(request.item.pszText, sentinel);

  request.item.mask = LVIF_TEXT;  // a row the control still counts but the state no longer has
  request.item.iItem = static_cast<int>(state.rows.size());
  notify(request.hdr);
  ASSERT_NE(request.item.pszText, nullptr);
  EXPECT_STREQ(request.item.pszText, L"");

  request.item.iItem = 0;  // the same request from another control is not the list's
  request.item.pszText = sentinel;
  request.hdr.idFrom = 1002;
  notify(request.hdr);
  EXPECT_EQ(request.item.pszText, sentinel);
}

TEST_F(MainWindowTest, OnlyTheListsHeaderClicksAndKnownCommandsAreHandled) {
  const auto reads = system.readCount;
  EXPECT_EQ(columnClick(0), 0);
  EXPECT_EQ(system.readCount, reads + 1) << "a header click refreshes at once";
  columnClick(3, 1002);  // not from the list
  EXPECT_EQ(state.sortColumn, 0);
  command(12345);  // not a command: the default procedure gets it
  EXPECT_EQ(system.readCount, reads + 1);
}

TEST_F(MainWindowTest, TimerOneRunsTheRefresh) {
  const auto reads = system.readCount;
  SendMessageW(hwnd, WM_TIMER, 1, 0);
  EXPECT_EQ(system.readCount, reads + 1);
  SendMessageW(hwnd, WM_TIMER, 2, 0);
  EXPECT_EQ(system.readCount, reads + 1);

  // The armed timer delivers ticks through the message loop on its own.
  const ULONGLONG deadline = GetTickCount64() + 20'000;
  while (system.readCount == reads + 1 && GetTickCount64() < deadline) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    drainForQuit();
  }
  EXPECT_GT(system.readCount, reads + 1);
}

TEST_F(MainWindowTest, DestroyingTheWindowEndsTheLoopAndUnhooksTheCore) {
  ShowWindow(hwnd, SW_MINIMIZE);
  ASSERT_TRUE(state.trayIconShown) << "minimised without an icon";
  DestroyWindow(hwnd);
  EXPECT_FALSE(state.trayIconShown) << "the icon outlives the window";
  EXPECT_EQ(drainForQuit(), 0);
  EXPECT_EQ(window->window(), nullptr);
  EXPECT_EQ(state.listView, nullptr);
  EXPECT_EQ(state.chart.surface, nullptr);
  // A refresh after the windows are gone publishes nowhere and must not fail.
  const auto reads = system.readCount;
  RefreshTick::run(state);
  EXPECT_EQ(system.readCount, reads + 1);
  EXPECT_FALSE(state.rows.empty());
}

TEST_F(MainWindowTest, ChartWindowDrawsAndTurnsTheMouseIntoViewChanges) {
  SendMessageW(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(800, 600));
  refreshes(300);  // more than the live capacity
  RedrawWindow(chart, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  EXPECT_TRUE(window->chart().hasRenderTarget()) << "the first paint makes the device resources";

  SendMessageW(chart, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(400, 100));
  EXPECT_EQ(GetCapture(), chart);
  EXPECT_TRUE(state.chart.dragging);
  SendMessageW(chart, WM_LBUTTONUP, 0, MAKELPARAM(420, 100));
  EXPECT_NE(GetCapture(), chart);
  EXPECT_FALSE(state.chart.dragging);

  SendMessageW(chart, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(400, 100));
  ReleaseCapture();  // someone else took the mouse
  EXPECT_FALSE(state.chart.dragging);

  SendMessageW(chart, WM_MOUSEMOVE, 0, MAKELPARAM(300, 120));
  EXPECT_TRUE(state.chart.hoverActive);
  EXPECT_EQ(state.chart.hoverX, 300);
  EXPECT_EQ(state.chart.hoverY, 120);
  SendMessageW(chart, WM_MOUSELEAVE, 0, 0);
  EXPECT_FALSE(state.chart.hoverActive);

  state.chart.resetView();
  const float span = state.chart.viewSpan;
  POINT middle{64 + (800 - 64 - 16) / 2, 100};
  ClientToScreen(chart, &middle);
  SendMessageW(chart, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), MAKELPARAM(middle.x, middle.y));
  EXPECT_LT(state.chart.viewSpan, span) << "a wheel step away from the user zooms in";
  EXPECT_TRUE(state.chart.viewAltered);
  SendMessageW(chart, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(400, 100));
  EXPECT_FALSE(state.chart.viewAltered);
  EXPECT_EQ(state.chart.viewSpan, span);
}

}  // namespace
}  // namespace tessivo
