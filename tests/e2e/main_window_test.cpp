// The main window in this process over a scripted source: what only the inside shows (the
// wiring to the core, the menu bar, tear-down, the chart's view state under the mouse, a
// failing chart frame). The end-to-end suite drives the same window from outside.
#include "win32/main_window.h"

#include <gtest/gtest.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <vector>

#include "support/scripted_system.h"

// The replacements below pair malloc with free, which the compiler cannot see through inlining.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
bool failNextAllocation = false;  // while armed, the next allocation of this binary fails once
}  // namespace

void* operator new(std::size_t size) {
  if (failNextAllocation) {
    failNextAllocation = false;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace tessivo {
namespace {

// A menu as text: items split by '|', a popup as "text{items}", a separator as "-", a command
// as "text#id", followed by '*' when checked.
std::wstring describe(HMENU menu) {
  std::wstring out;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t text[256] = {};
    GetMenuStringW(menu, static_cast<UINT>(i), text, 256, MF_BYPOSITION);
    const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
    if (i > 0) out += L'|';
    if (HMENU sub = GetSubMenu(menu, i))
      out += text + (L'{' + describe(sub) + L'}');
    else if (state & MF_SEPARATOR)
      out += L'-';
    else
      out += text + (L'#' + std::to_wstring(GetMenuItemID(menu, i))) + ((state & MF_CHECKED) ? L"*" : L"");
  }
  return out;
}

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
  void paintChart() { RedrawWindow(chart, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); }

  testing::ScriptedSystem system;
  AppState state{system};
  int prepared = 0;
  MainWindow window{state, [this] { ++prepared; }};
  HWND hwnd = nullptr, chart = nullptr;
};

TEST_F(MainWindowTest, MenuBarHoldsEveryItemAndEachCommandMovesItsCheckMark) {
  std::wstring expected =
      L"程序{全部清除#40001|按应用分组#40003*|-|计数模式：本次增量#40004*|计数模式：系统累计#40005|-|"
      L"显示速度图表#40006*|-|关于#40002}|视图{范围：实时（快速）#40010*|范围：1 小时（60 秒）#40011|"
      L"范围：24 小时（60 秒）#40012|范围：完整保留（60 秒）#40013}|设置{采样率{100 毫秒#40020|"
      L"250 毫秒#40021|333 毫秒（默认）#40022*|500 毫秒#40023|1 秒#40024|2 秒#40025}|保留时长{"
      L"1 小时#40030|6 小时#40031|24 小时#40032|72 小时（默认）#40033*|7 天（168 小时）#40034}}";
  EXPECT_EQ(describe(GetMenu(hwnd)), expected);
  const auto mark = [&](int id, bool on) {
    const std::size_t at = expected.find(L"#" + std::to_wstring(id)) + 6;
    if ((expected[at] == L'*') != on) on ? expected.insert(at, 1, L'*') : expected.erase(at, 1);
  };
  const std::vector<std::vector<int>> radioGroups = {
      {40004, 40005}, {40010, 40011, 40012, 40013}, {40020, 40021, 40022, 40023, 40024, 40025},
      {40030, 40031, 40032, 40033, 40034}};
  for (int id : {40003, 40003, 40005, 40005, 40004, 40006, 40006, 40011, 40012, 40013, 40013, 40010, 40020,
                 40021, 40023, 40024, 40025, 40025, 40022, 40030, 40031, 40032, 40034, 40033, 40001}) {
    EXPECT_EQ(SendMessageW(hwnd, WM_COMMAND, static_cast<WPARAM>(id), 0), 0);
    for (const auto& group : radioGroups)
      for (int member : group)
        if (std::count(group.begin(), group.end(), id)) mark(member, member == id);
    if (id == 40003 || id == 40006) mark(id, expected.find(std::to_wstring(id) + L"*") == std::wstring::npos);
    EXPECT_EQ(describe(GetMenu(hwnd)), expected) << "after command " << id;
  }
}

// Creation hooks the shell to the core before the first show; destroying the window unhooks
// it, removes the icon and ends the loop with exit code 0.
TEST_F(MainWindowTest, CreationHooksTheShellToTheCoreAndDestructionUnhooksIt) {
  EXPECT_EQ(prepared, 1);
  EXPECT_TRUE(state.listView == &window.list() && state.chart.surface == &window.chart());
  EXPECT_EQ(GetClassLongPtrW(chart, GCL_STYLE), static_cast<ULONG_PTR>(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS));
  ShowWindow(hwnd, SW_MINIMIZE);
  ASSERT_TRUE(state.trayIconShown) << "minimised without an icon";
  DestroyWindow(hwnd);
  EXPECT_FALSE(state.trayIconShown) << "the icon outlives the window";
  EXPECT_EQ(drain(), 0);
  EXPECT_EQ(window.window(), nullptr);
  EXPECT_EQ(state.listView, nullptr);
  EXPECT_EQ(state.chart.surface, nullptr);
}

// An allocation failure inside a chart frame: the drawing is closed on the way out and the
// program ends with exit code 1, as it does for a failure in the main window.
TEST_F(MainWindowTest, AllocationFailureInAChartFrameClosesThePaintAndEndsWithCodeOne) {
  for (int i = 0; i < 50; ++i) SendMessageW(hwnd, WM_TIMER, kSamplingTimerId, 0);
  paintChart();
  ASSERT_TRUE(window.chart().hasRenderTarget()) << "the first paint makes the device resources";
  failNextAllocation = true;
  paintChart();
  ASSERT_FALSE(failNextAllocation) << "the frame allocated nothing, so nothing failed";
  EXPECT_FALSE(window.chart().drawOpen()) << "EndDraw skipped";
  EXPECT_FALSE(window.chart().paintOpen()) << "EndPaint skipped";
  EXPECT_EQ(drain(), 1);
  EXPECT_TRUE(window.failed());
  EXPECT_EQ(window.window(), nullptr) << "the main window must be gone";
}

TEST_F(MainWindowTest, ChartWindowTurnsTheMouseIntoViewChanges) {
  SendMessageW(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(800, 600));
  for (int i = 0; i < 300; ++i) SendMessageW(hwnd, WM_TIMER, 1, 0);  // more than the live capacity
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
