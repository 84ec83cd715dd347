#include "win32/chart_window.h"

#include <windowsx.h>

namespace tessivo {

namespace {

// Runs a clean-up on every way out of a scope.
template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(f) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;
  ~ScopeExit() { f_(); }

 private:
  F f_;
};

constexpr HRESULT kRecreateTarget = D2DERR_RECREATE_TARGET;
static_assert(static_cast<unsigned long>(kRecreateTarget) == 0x8899000CUL);

HCURSOR systemCursor(LPCWSTR id) { return LoadCursorW(nullptr, id); }

}  // namespace

ChartWindow::~ChartWindow() {
  if (chart_.surface == this) chart_.surface = nullptr;
  // A window that outlives this object must not reach it any more.
  if (window_ != nullptr) SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
}

ATOM ChartWindow::registerClass(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = &ChartWindow::windowProc;
  wc.hInstance = instance;
  wc.hCursor = systemCursor(IDC_CROSS);
  wc.hbrBackground = nullptr;  // every frame clears its own background
  wc.lpszClassName = kChartClassName;
  return RegisterClassExW(&wc);
}

bool ChartWindow::create(HWND parent, int controlId, HINSTANCE instance) {
  window_ = CreateWindowExW(0, kChartClassName, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId)), instance, nullptr);
  if (window_ == nullptr) return false;
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  chart_.surface = this;
  createDeviceIndependentResources();
  return true;
}

HRESULT ChartWindow::createDeviceIndependentResources() {
  if (!d2dFactory_) {
    const HRESULT hr = D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, d2dFactory_.GetAddressOf());
    if (FAILED(hr)) return hr;
  }
  if (dwriteFactory_) return S_OK;  // the formats were made together with it
  const HRESULT hr = DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                         reinterpret_cast<IUnknown**>(dwriteFactory_.GetAddressOf()));
  if (FAILED(hr)) return hr;
  // A format that cannot be made stays null; the texts that need it are skipped.
  createChartTextFormats(*dwriteFactory_.Get(), formats_);
  return S_OK;
}

HRESULT ChartWindow::createDeviceResources() {
  const HRESULT independent = createDeviceIndependentResources();
  if (FAILED(independent)) return independent;
  if (renderTarget_) return S_OK;
  RECT client{};
  GetClientRect(window_, &client);
  UINT32 width = static_cast<UINT32>(client.right - client.left);
  UINT32 height = static_cast<UINT32>(client.bottom - client.top);
  if (width == 0 || height == 0) width = height = 1;
  // 96 DPI: one device-independent pixel is one device pixel; the program scales nothing.
  const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
      D2D1_RENDER_TARGET_TYPE_DEFAULT, D2D1::PixelFormat(DXGI_FORMAT_UNKNOWN, D2D1_ALPHA_MODE_UNKNOWN), 96.0f,
      96.0f, D2D1_RENDER_TARGET_USAGE_NONE, D2D1_FEATURE_LEVEL_DEFAULT);
  const HRESULT hr = d2dFactory_->CreateHwndRenderTarget(
      properties, D2D1::HwndRenderTargetProperties(window_, D2D1::SizeU(width, height), D2D1_PRESENT_OPTIONS_NONE),
      renderTarget_.ReleaseAndGetAddressOf());
  if (FAILED(hr)) return hr;
  renderTarget_->SetAntialiasMode(D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
  createChartBrushes(*renderTarget_.Get(), brushes_);
  return S_OK;
}

void ChartWindow::discardDeviceResources() {
  for (auto& brush : brushes_) brush.Reset();
  renderTarget_.Reset();
}

void ChartWindow::requestRepaint() {
  // A null window would invalidate every window on the desktop.
  if (window_ != nullptr) InvalidateRect(window_, nullptr, FALSE);
}

int ChartWindow::clientWidth() const {
  RECT client{};
  GetClientRect(window_, &client);
  return client.right - client.left;
}

void ChartWindow::paint() {
  PAINTSTRUCT ps;
  BeginPaint(window_, &ps);
  paintOpen_ = true;
  // EndDraw and EndPaint run on every way out, a frame that throws included: a target left
  // inside a draw fails every later BeginDraw, and the paint's device context would leak.
  const ScopeExit endPaint{[&] {
    EndPaint(window_, &ps);
    paintOpen_ = false;
  }};
  if (FAILED(createDeviceResources())) return;
  const BrushTable brushes = borrow(brushes_);
  const FormatTable formats = borrow(formats_);
  renderTarget_->BeginDraw();
  drawOpen_ = true;
  const ScopeExit endDraw{[&] {
    drawOpen_ = false;
    if (renderTarget_->EndDraw() == kRecreateTarget) discardDeviceResources();
  }};
  D2dCanvas canvas(*renderTarget_.Get(), *d2dFactory_.Get(), brushes, formats);
  const D2D1_SIZE_F size = renderTarget_->GetSize();
  chart_.paint(canvas, size.width, size.height);
}

LRESULT CALLBACK ChartWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  auto* self = reinterpret_cast<ChartWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) {
    // Before the chart is attached: paint only validates, mouse and size messages do nothing.
    switch (message) {
      case WM_PAINT: {
        PAINTSTRUCT ps;
        BeginPaint(window, &ps);
        EndPaint(window, &ps);
        return 0;
      }
      case WM_ERASEBKGND: return 1;
      case WM_SIZE: case WM_MOUSEMOVE: case WM_LBUTTONDOWN: case WM_LBUTTONUP: case WM_LBUTTONDBLCLK:
      case WM_MOUSEWHEEL: case WM_CAPTURECHANGED: case WM_MOUSELEAVE:
        return 0;
      default: return DefWindowProcW(window, message, wParam, lParam);
    }
  }
  try {
    return self->handle(message, wParam, lParam);
  } catch (...) {
    // Nothing may unwind into the system's dispatcher. A frame or gesture that could not
    // finish (out of memory) leaves the chart's state unreliable: the main window ends the
    // program with exit code 1, once this message has returned.
    HWND parent = GetParent(window);
    if (parent == nullptr || !PostMessageW(parent, kChartFailedMessage, 0, 0)) PostQuitMessage(1);
    return 0;
  }
}

LRESULT ChartWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  const int x = GET_X_LPARAM(lParam);
  const int y = GET_Y_LPARAM(lParam);
  switch (message) {
    case WM_SIZE:
      if (renderTarget_) renderTarget_->Resize(D2D1::SizeU(LOWORD(lParam), HIWORD(lParam)));
      return 0;
    case WM_PAINT:
      paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_MOUSEMOVE:
      if (chart_.mouseMove(x, y, clientWidth())) {
        TRACKMOUSEEVENT track{};
        track.cbSize = sizeof track;
        track.dwFlags = TME_LEAVE;
        track.hwndTrack = window_;
        track.dwHoverTime = 0;
        TrackMouseEvent(&track);
      }
      requestRepaint();
      return 0;
    case WM_LBUTTONDOWN:
      SetCapture(window_);
      chart_.buttonDown(x, y);
      SetCursor(systemCursor(IDC_SIZEALL));
      return 0;
    case WM_LBUTTONUP:
      if (chart_.buttonUp()) {
        ReleaseCapture();
        SetCursor(systemCursor(IDC_CROSS));
      }
      return 0;
    case WM_LBUTTONDBLCLK:
      chart_.doubleClick();
      requestRepaint();
      return 0;
    case WM_MOUSEWHEEL: {
      POINT at{x, y};  // screen coordinates for this message
      ScreenToClient(window_, &at);
      chart_.zoomAt(at.x, GET_WHEEL_DELTA_WPARAM(wParam), clientWidth());
      requestRepaint();
      return 0;
    }
    case WM_CAPTURECHANGED:
      chart_.captureLost();
      return 0;
    case WM_MOUSELEAVE:
      chart_.mouseLeave();
      requestRepaint();
      return 0;
    case WM_NCDESTROY: {
      // The window is going: nothing may repaint or reach this object through it any more.
      HWND gone = window_;
      SetWindowLongPtrW(gone, GWLP_USERDATA, 0);
      if (chart_.surface == this) chart_.surface = nullptr;
      discardDeviceResources();
      window_ = nullptr;
      return DefWindowProcW(gone, message, wParam, lParam);
    }
    default:
      return DefWindowProcW(window_, message, wParam, lParam);
  }
}

}  // namespace tessivo
