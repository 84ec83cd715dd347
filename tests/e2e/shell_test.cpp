// The shell's pieces in process: the native source over a scripted system call and Wine's, the Direct2D
// canvas read back pixel by pixel, the main window over a scripted source for what only the inside shows.
#include <windows.h>
#include <commctrl.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/scripted_system.h"
#include "win32/d2d_canvas.h"
#include "win32/main_window.h"
#include "win32/process_query.h"
#include "win32/snapshot_source.h"

// The replacements below pair malloc with free, which the compiler cannot see through inlining.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
static bool failNextAllocation = false;  // while armed, the next allocation of this binary fails once

void* operator new(std::size_t size) {
  void* p = std::exchange(failNextAllocation, false) ? nullptr : std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace tessivo {
namespace {

TEST(ProcessQuery, RetriesOnceWithTheReportedLengthInAZeroedBuffer) {
  const std::int32_t tooSmall = kStatusInfoLengthMismatch, denied = static_cast<std::int32_t>(0xC0000022u);
  const struct {
    const char* name;
    std::vector<std::pair<std::int32_t, std::uint32_t>> answers;  // status, length returned
    std::optional<std::uint32_t> result;
    std::vector<std::uint32_t> lengths;  // asked for, in order
  } cases[] = {
      {"fits at once", {{0, 12345}}, 12345, {40960}},
      {"too small, then fits in the reported length plus 16000", {{tooSmall, 100000}, {0, 99000}}, 99000,
       {40960, 116000}},
      {"a success status other than 0", {{0x105, 300}}, 300, {40960}},
      {"too small twice", {{tooSmall, 50000}, {tooSmall, 80000}}, std::nullopt, {40960, 66000}},
      {"denied: no retry", {{denied, 0}}, std::nullopt, {40960}},
      {"a retry length past 32 bits must not wrap", {{tooSmall, 0xFFFFF000u}}, std::nullopt, {40960}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint32_t> lengths;
    std::vector<std::byte> buffer;
    const auto query = [&](std::uint32_t, void* data, std::uint32_t length, std::uint32_t* returned) {
      auto* bytes = static_cast<std::byte*>(data);
      EXPECT_TRUE(std::all_of(bytes, bytes + length, [](std::byte b) { return b == std::byte{0}; }));
      std::fill_n(bytes, std::min<std::uint32_t>(length, 64), std::byte{0xAB});  // a retry must zero it again
      const auto [status, reported] = c.answers.at(lengths.size());  // a call too many throws: fails
      lengths.push_back(length);
      *returned = reported;
      return status;
    };
    EXPECT_EQ(queryProcessBuffer(query, buffer), c.result);
    EXPECT_EQ(lengths, c.lengths);
    EXPECT_EQ(buffer.size(), lengths.back());
  }
}

TEST(SnapshotSource, SnapshotAndPathDescribeThisProcess) {
  SnapshotSource source;
  ASSERT_TRUE(source.resolve());
  std::vector<ProcessSample> samples(3);  // storage to be reused, not appended to
  samples[0].pid = 0xFFFFFFF0u;
  IO_COUNTERS before{}, after{};
  ASSERT_TRUE(GetProcessIoCounters(GetCurrentProcess(), &before));
  source.readSnapshot(samples);
  ASSERT_TRUE(GetProcessIoCounters(GetCurrentProcess(), &after));
  for (const ProcessSample& s : samples)  // nothing left from before; no terminator in a name
    EXPECT_TRUE(s.pid != 0xFFFFFFF0u && s.name.find(u'\0') == std::u16string::npos) << s.pid;
  const auto me = std::ranges::find(samples, GetCurrentProcessId(), &ProcessSample::pid);
  ASSERT_NE(me, samples.end()) << "this process is missing from the snapshot";
  // Its counters lie between two direct queries of the same six, in the same order.
  using Six = std::array<std::uint64_t, 6>;
  const Six low = std::bit_cast<Six>(before), mine = std::bit_cast<Six>(me->counters);
  for (std::size_t i = 0; i < 6; ++i)
    EXPECT_TRUE(low[i] <= mine[i] && mine[i] <= std::bit_cast<Six>(after)[i]) << "counter " << i;
  // Its name and path are checked on the shipped program; here, that the path holds no terminator.
  const std::u16string image = source.imagePath(GetCurrentProcessId());
  EXPECT_TRUE(!image.empty() && image.find(u'\0') == std::u16string::npos) << image.size();
  EXPECT_TRUE(source.imagePath(0xFFFFFFF0u).empty()) << "no such process: empty, not an error";
}

using Microsoft::WRL::ComPtr;
constexpr int kSize = 64;

constexpr Rgba kBack = kChartBackground, kRead = brushColour(Brush::ReadLine);
constexpr Rgba kWrite = brushColour(Brush::WriteLine), kBorder = brushColour(Brush::PanelBorder);
constexpr Rgba kText = brushColour(Brush::TableText);

TEST(D2dCanvas, EachCallDrawsWhereAndInTheColourAskedAndNothingWithoutItsBrushOrFormat) {
  ComPtr<IWICImagingFactory> wic;
  ComPtr<IWICBitmap> bitmap;
  ComPtr<ID2D1Factory> factory;
  ComPtr<ID2D1RenderTarget> target;
  ComPtr<IDWriteFactory> dwrite;
  ASSERT_TRUE(  // COM stays initialised for the rest of the process: nothing outlives it
      SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) &&
      SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_PPV_ARGS(wic.GetAddressOf()))) &&
      SUCCEEDED(wic->CreateBitmap(kSize, kSize, GUID_WICPixelFormat32bppPBGRA, WICBitmapCacheOnLoad,
                                  bitmap.GetAddressOf())) &&
      SUCCEEDED(D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, factory.GetAddressOf())) &&
      SUCCEEDED(factory->CreateWicBitmapRenderTarget(bitmap.Get(), D2D1::RenderTargetProperties(),
                                                     target.GetAddressOf())) &&
      SUCCEEDED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                    reinterpret_cast<IUnknown**>(dwrite.GetAddressOf()))));
  target->SetAntialiasMode(D2D1_ANTIALIAS_MODE_ALIASED);  // a pixel is either inside a shape or not
  target->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
  OwnedBrushes brushes;
  OwnedFormats formats;
  createChartBrushes(*target.Get(), brushes);
  createChartTextFormats(*dwrite.Get(), formats);
  BrushTable brushTable = borrow(brushes);
  FormatTable formatTable = borrow(formats);
  std::uint8_t pixels[kSize * kSize * 4] = {};
  const auto is = [&](int x, int y, Rgba c) {  // stored blue, green, red, alpha
    const std::uint8_t* p = pixels + (y * kSize + x) * 4;
    return std::abs(p[2] - c.r) <= 2 && std::abs(p[1] - c.g) <= 2 && std::abs(p[0] - c.b) <= 2;
  };
  const PointF triangle[] = {{0, 0}, {30, 0}, {0, 30}}, corner[] = {{34, 30}, {60, 30}, {60, 4}};
  // Equal speeds give a row of points on one line, some repeated: the stroke ends at the last.
  const PointF flat[] = {{8, 45}, {16, 45}, {16, 45}, {24, 45}, {32, 45}, {40, 45}};
  const PointF back[] = {{8, 56}, {40, 56}, {24, 56}};  // a turning point stays
  const RECT all{0, 0, 64, 64}, none{};
  const auto text = [](const char16_t* t, TextFormat format, TextAlign align, ParagraphAlign paragraph) {
    return [=](Canvas& c) { c.text(t, format, align, paragraph, {0, 0, 64, 64}, Brush::TableText); };
  };
  const struct {
    const char* what;
    RECT inkWithin;  // every pixel but the background's lies in it, and some do unless it is empty
    std::vector<std::tuple<int, int, Rgba>> probes;  // x, y, colour
    std::function<void(Canvas&)> draw;
  } cases[] = {
      // A rectangle without its right and bottom edges, a circle without its box's corners,
      // rounded corners, a stroked rectangle not filled, a line.
      {"shapes", all,
       {{12, 12, kRead}, {4, 4, kRead}, {20, 20, kBack}, {2, 2, kBack}, {48, 12, kWrite}, {41, 5, kBack},
        {16, 44, kBorder}, {5, 29, kBack}, {48, 28, kText}, {48, 44, kBack}, {30, 62, kText}},
       [](Canvas& c) {
         c.fillRect({4, 4, 20, 20}, Brush::ReadLine);
         c.fillCircle({48, 12}, 8, Brush::WriteLine);
         c.fillRoundedRect({4, 28, 28, 60}, 8, 8, Brush::PanelBorder);
         c.strokeRoundedRect({36, 28, 60, 60}, 4, 4, Brush::TableText, 2);
         c.line({0, 62}, {63, 62}, Brush::TableText, 2);
       }},
      // A polygon closed and filled, a polyline open and hollow, straight runs ending where they end.
      {"paths", all,
       {{5, 5, kWrite}, {25, 25, kBack}, {47, 30, kText}, {60, 17, kText}, {47, 17, kBack}, {55, 25, kBack},
        {20, 45, kWrite}, {39, 45, kWrite}, {42, 45, kBack}, {63, 45, kBack}, {36, 56, kRead}},
       [&](Canvas& c) {
         EXPECT_TRUE(c.fillPolygon(triangle, Brush::WriteLine));
         EXPECT_TRUE(c.strokePolyline(corner, Brush::TableText, 3));
         EXPECT_TRUE(c.strokePolyline(flat, Brush::WriteLine, 2));
         EXPECT_TRUE(c.strokePolyline(back, Brush::ReadLine, 2));
       }},
      // One format aligned differently by consecutive calls: each call sets its own.
      {"text at the far corner", {32, 32, 64, 64}, {},
       text(u"WW", TextFormat::Label, TextAlign::Trailing, ParagraphAlign::Far)},
      {"text at the near corner", {0, 0, 32, 32}, {},
       text(u"WW", TextFormat::Label, TextAlign::Leading, ParagraphAlign::Near)},
      {"text in the middle", {17, 17, 48, 48}, {},
       text(u"W", TextFormat::Header, TextAlign::Center, ParagraphAlign::Center)},
      {"no points, or no brush or format: nothing", none, {}, [&](Canvas& c) {  // last: the tables stay so
         EXPECT_FALSE(c.fillPolygon({}, Brush::WriteLine));
         brushTable[static_cast<std::size_t>(Brush::Hint)] = nullptr;
         formatTable[static_cast<std::size_t>(TextFormat::Mono)] = nullptr;
         EXPECT_TRUE(!c.hasFormat(TextFormat::Mono) && c.hasFormat(TextFormat::Label));
         c.fillRect({0, 0, 64, 64}, Brush::Hint);
         const RectF box{0, 0, 64, 64};
         c.text(u"WW", TextFormat::Mono, TextAlign::Leading, ParagraphAlign::Near, box, Brush::TableText);
         c.text(u"WW", TextFormat::Label, TextAlign::Leading, ParagraphAlign::Near, box, Brush::Hint);
         EXPECT_FALSE(c.fillPolygon(triangle, Brush::Hint));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    target->BeginDraw();  // one frame on the chart's background, read back
    D2dCanvas canvas(*target.Get(), *factory.Get(), brushTable, formatTable);
    canvas.clear(kBack);
    c.draw(canvas);
    ASSERT_TRUE(SUCCEEDED(target->EndDraw()));
    ASSERT_TRUE(SUCCEEDED(bitmap->CopyPixels(nullptr, kSize * 4, kSize * kSize * 4, pixels)));
    for (const auto& [x, y, colour] : c.probes) EXPECT_TRUE(is(x, y, colour)) << x << ',' << y;
    int inside = 0, outside = 0;  // pixels of anything but the background
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x)
        if (!is(x, y, kBack)) ++(PtInRect(&c.inkWithin, POINT{x, y}) ? inside : outside);
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(inside > 0, IsRectEmpty(&c.inkWithin) == FALSE) << "whether anything was drawn";
  }
}

// A menu as text: items split by '|', a popup as "text{items}", a command as "text#id" followed
// by '*' when checked (a separator: "#0").
std::wstring describe(HMENU menu) {
  std::wstring out;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t text[256] = {};
    GetMenuStringW(menu, static_cast<UINT>(i), text, 256, MF_BYPOSITION);
    const bool checked = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_CHECKED;
    const std::wstring id = L'#' + std::to_wstring(GetMenuItemID(menu, i)) + (checked ? L"*" : L"");
    HMENU sub = GetSubMenu(menu, i);
    out += (i > 0 ? L"|" : L"") + (text + (sub ? L'{' + describe(sub) + L'}' : id));
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

// Creation hooks the shell to the core before the first show and sets the menu bar, where each command
// moves its check mark; destruction unhooks it, removes the icon and ends the loop with exit code 0.
TEST_F(MainWindowTest, CreationWiresTheShellAndTheMenuBarWhoseCommandsMoveTheirMarksAndDestructionUndoes) {
  EXPECT_EQ(prepared, 1);
  EXPECT_TRUE(state.listView == &window.list() && state.chart.surface == &window.chart());
  EXPECT_EQ(GetClassLongPtrW(chart, GCL_STYLE), static_cast<ULONG_PTR>(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS));
  std::wstring expected =
      L"程序{全部清除#40001|按应用分组#40003*|#0|计数模式：本次增量#40004*|计数模式：系统累计#40005|#0|"
      L"显示速度图表#40006*|#0|关于#40002}|视图{范围：实时（快速）#40010*|范围：1 小时（60 秒）#40011|"
      L"范围：24 小时（60 秒）#40012|范围：完整保留（60 秒）#40013}|设置{采样率{100 毫秒#40020|"
      L"250 毫秒#40021|333 毫秒（默认）#40022*|500 毫秒#40023|1 秒#40024|2 秒#40025}|保留时长{"
      L"1 小时#40030|6 小时#40031|24 小时#40032|72 小时（默认）#40033*|7 天（168 小时）#40034}}";
  EXPECT_EQ(describe(GetMenu(hwnd)), expected);
  const auto mark = [&](int id, bool on) {
    const std::size_t at = expected.find(L"#" + std::to_wstring(id)) + 6;
    if ((expected[at] == L'*') != on) on ? expected.insert(at, 1, L'*') : expected.erase(at, 1);
  };
  const std::pair<int, int> radioGroups[] = {{40004, 40005}, {40010, 40013}, {40020, 40025}, {40030, 40034}};
  for (int id : {40003, 40003, 40005, 40005, 40004, 40006, 40006, 40011, 40012, 40013, 40013, 40010, 40020,
                 40021, 40023, 40024, 40025, 40025, 40022, 40030, 40031, 40032, 40034, 40033, 40001}) {
    EXPECT_EQ(SendMessageW(hwnd, WM_COMMAND, static_cast<WPARAM>(id), 0), 0);
    for (const auto& [first, last] : radioGroups)
      for (int member = first; id >= first && id <= last && member <= last; ++member)
        mark(member, member == id);
    if (id == 40003 || id == 40006) mark(id, expected.find(std::to_wstring(id) + L"*") == std::wstring::npos);
    EXPECT_EQ(describe(GetMenu(hwnd)), expected) << "after command " << id;
  }
  ShowWindow(hwnd, SW_MINIMIZE);
  ASSERT_TRUE(state.trayIconShown) << "minimised without an icon";
  DestroyWindow(hwnd);
  EXPECT_FALSE(state.trayIconShown) << "the icon outlives the window";
  EXPECT_EQ(drain(), 0);
  EXPECT_EQ(window.window(), nullptr);
  EXPECT_TRUE(state.listView == nullptr && state.chart.surface == nullptr);
}

// The chart turns the mouse into view changes. Then an allocation failure inside a chart frame: the
// drawing is closed on the way out and the program ends with exit code 1, as for one in the main window.
TEST_F(MainWindowTest, ChartTurnsTheMouseIntoViewChangesAndAnAllocationFailureInAFrameEndsWithOne) {
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
  // The wheel's point is on the screen; in a window away from the screen's origin, zoomed about
  // the plot's middle the newest tenth of the items shown leaves on the right.
  SetWindowPos(hwnd, nullptr, 300, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  POINT middle{64 + (800 - 64 - 16) / 2, 100};  // of the plot, in screen coordinates
  ClientToScreen(chart, &middle);
  ASSERT_GT(middle.x, 300 + 64 + (800 - 64 - 16) / 2);
  SendMessageW(chart, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), MAKELPARAM(middle.x, middle.y));
  EXPECT_EQ(std::tuple(state.chart.viewSpan, std::round(state.chart.viewPan)), std::tuple(0.8f * span, span / 10))
      << "a wheel step away from the user zooms in about the cursor";
  mouse(WM_LBUTTONDBLCLK);
  EXPECT_EQ(state.chart.viewSpan, span) << "a double click resets the view";
  paintChart();
  ASSERT_TRUE(window.chart().hasRenderTarget()) << "the first paint makes the device resources";
  failNextAllocation = true;
  paintChart();
  ASSERT_FALSE(failNextAllocation) << "the frame allocated nothing, so nothing failed";
  EXPECT_FALSE(window.chart().drawOpen()) << "EndDraw skipped";
  EXPECT_FALSE(window.chart().paintOpen()) << "EndPaint skipped";
  EXPECT_EQ(drain(), 1);
  EXPECT_EQ(window.window(), nullptr) << "the main window must be gone";
}

}  // namespace
}  // namespace tessivo
