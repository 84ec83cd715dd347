// An allocation failure inside a chart frame: the drawing is closed on the way out and the
// program ends with exit code 1, as it does for a failure in the main window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "support/scripted_system.h"
#include "win32/main_window.h"

namespace {
// While armed, the next allocation of this binary fails once.
bool failNextAllocation = false;
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

TEST(ChartFailure, AllocationFailureInAFrameClosesThePaintAndEndsWithCodeOne) {
  MainWindow::registerClass(GetModuleHandleW(nullptr));
  testing::ScriptedSystem system;
  system.add(100, u"alpha.exe", u"C:\\apps\\alpha.exe").perTick.readBytes = 1 << 20;
  AppState state(system);
  MainWindow window(state, nullptr);
  ASSERT_NE(window.create(GetModuleHandleW(nullptr)), nullptr);
  for (int i = 0; i < 50; ++i) SendMessageW(window.window(), WM_TIMER, kSamplingTimerId, 0);
  HWND chart = window.chart().window();
  RedrawWindow(chart, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);  // device resources made
  ASSERT_TRUE(window.chart().hasRenderTarget());

  failNextAllocation = true;
  RedrawWindow(chart, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  ASSERT_FALSE(failNextAllocation) << "the frame allocated nothing, so nothing failed";
  EXPECT_FALSE(window.chart().drawOpen()) << "EndDraw skipped";
  EXPECT_FALSE(window.chart().paintOpen()) << "EndPaint skipped";

  int quitCode = -1;
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) quitCode = static_cast<int>(msg.wParam);
    DispatchMessageW(&msg);
  }
  EXPECT_EQ(quitCode, 1);
  EXPECT_TRUE(window.failed());
  EXPECT_EQ(window.window(), nullptr) << "the main window must be gone";
}

}  // namespace
}  // namespace tessivo
