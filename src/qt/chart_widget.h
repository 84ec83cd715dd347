// The speed chart pane: paints the chart's frames through a QPainter canvas and hands the
// mouse to the chart model (hover, drag to pan, wheel to zoom, double-click to reset).
#pragma once

#include <QtWidgets/QWidget>

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

  void requestRepaint() override { update(); }

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
  SpeedChart& chart_;
  ChartFonts fonts_;
};

}  // namespace tessivo
