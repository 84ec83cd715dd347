// The speed chart pane: paints the chart's frames through a QPainter canvas and hands the
// mouse to the chart model (hover, drag to pan, wheel to zoom, double-click to reset).
#pragma once

#include <QtGui/QImage>
#include <QtWidgets/QWidget>

#include <cstdint>
#include <vector>

#include "chart/chart_surface.h"
#include "chart/speed_chart.h"
#include "qt/canvas.h"

namespace tessivo {

class QtChartWidget final : public QWidget, public ChartSurface {
  Q_OBJECT

 public:
  // From now on the chart repaints through this widget, until it is destroyed.
  explicit QtChartWidget(SpeedChart& chart, QWidget* parent = nullptr);
  ~QtChartWidget() override;
  QtChartWidget(const QtChartWidget&) = delete;
  QtChartWidget& operator=(const QtChartWidget&) = delete;

  // A refresh's repaint: skipped while the pane is not on screen, and when the frame would
  // come out as the one on screen (the same drawing calls with the same values).
  void requestRepaint() override;

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  // The frame into an image of the window's format, its background from background_.
  void paintFrame(QImage& frame);
  // The frame's steps [first, last) onto a device.
  void paintSteps(QPaintDevice& device, std::size_t first, std::size_t last);
  // The frame's drawing calls as words, for telling whether it changed; with `starts`, the
  // first word of each call.
  void record(std::vector<std::uint32_t>& into, std::vector<std::uint32_t>* starts = nullptr) const;

  SpeedChart& chart_;
  ChartFonts fonts_;
  TextLayoutCache texts_;
  QImage frame_;       // the frame as painted on the pool's thread
  QImage background_;  // its steps before the first series
  std::vector<std::uint32_t> backgroundWords_;  // those steps, as recorded
  std::vector<std::uint32_t> frameWords_;
  std::vector<std::uint32_t> frameStarts_;
  std::vector<std::uint32_t> painted_;  // the frame on screen, as recorded
  std::vector<std::uint32_t> next_;
  bool paintedValid_ = false;
};

}  // namespace tessivo
