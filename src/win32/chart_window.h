// The speed chart's child window: its class, the Direct2D and DirectWrite objects it draws
// with (device-independent ones made once, device ones at paint time and dropped when the
// device is lost), and the mouse messages decoded for the chart model.
#pragma once

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>
#include <wrl/client.h>

#include <array>

#include "chart/canvas.h"
#include "chart/chart_surface.h"
#include "chart/speed_chart.h"
#include "win32/d2d_canvas.h"

namespace tessivo {

inline constexpr int kChartWindowId = 1002;
inline constexpr wchar_t kChartClassName[] = L"QuarnelSpeedChart";
// Posted to the parent when a chart message could not be handled (out of memory): the
// state is then unreliable and the program ends, reporting failure.
inline constexpr UINT kChartFailedMessage = WM_APP + 2;

class ChartWindow final : public ChartSurface {
 public:
  explicit ChartWindow(SpeedChart& chart) : chart_(chart) {}
  ChartWindow(const ChartWindow&) = delete;
  ChartWindow& operator=(const ChartWindow&) = delete;
  // The COM members release themselves in the reverse of their declaration order: the
  // formats first, the Direct2D factory last.
  ~ChartWindow() override;

  static ATOM registerClass(HINSTANCE instance);
  // Creates the child window; on success the chart repaints through this object.
  bool create(HWND parent, int controlId, HINSTANCE instance);
  HWND window() const { return window_; }

  HRESULT createDeviceIndependentResources();
  HRESULT createDeviceResources();
  void discardDeviceResources();

  void requestRepaint() override;

  // For checks of the device-resource and paint life cycles.
  bool hasRenderTarget() const { return renderTarget_ != nullptr; }
  bool paintOpen() const { return paintOpen_; }
  bool drawOpen() const { return drawOpen_; }

 private:
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void paint();
  int clientWidth() const;

  SpeedChart& chart_;
  HWND window_ = nullptr;
  bool paintOpen_ = false;  // between BeginPaint and EndPaint
  bool drawOpen_ = false;   // between BeginDraw and EndDraw

  Microsoft::WRL::ComPtr<ID2D1Factory> d2dFactory_;
  Microsoft::WRL::ComPtr<IDWriteFactory> dwriteFactory_;
  Microsoft::WRL::ComPtr<ID2D1HwndRenderTarget> renderTarget_;
  OwnedBrushes brushes_;
  OwnedFormats formats_;
};

}  // namespace tessivo
