#include "qt/chart_widget.h"

#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QWheelEvent>

#include "qt/failure.h"

namespace tessivo {

QtChartWidget::QtChartWidget(SpeedChart& chart, QWidget* parent)
    : QWidget(parent), chart_(chart), fonts_(makeChartFonts()) {
  // Every frame clears its whole background: no erase before painting, so no flicker.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setMouseTracking(true);
  setCursor(Qt::CrossCursor);
  chart_.surface = this;
}

QtChartWidget::~QtChartWidget() {
  if (chart_.surface == this) chart_.surface = nullptr;
}

bool QtChartWidget::event(QEvent* event) {
  // Qt has no "capture lost" message: a drag ends when the window loses activation (a popup
  // or another window took the mouse) or the pane is hidden mid-drag.
  const QEvent::Type type = event->type();
  if (chart_.dragging && (type == QEvent::WindowDeactivate || type == QEvent::Hide || type == QEvent::UngrabMouse)) {
    chart_.captureLost();
    setCursor(Qt::CrossCursor);
  }
  return QWidget::event(event);
}

void QtChartWidget::paintEvent(QPaintEvent*) {
  try {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    QtCanvas canvas(painter, fonts_);
    chart_.paint(canvas, static_cast<float>(width()), static_cast<float>(height()));
  } catch (...) {
    endProgramAfterFailure();
  }
}

void QtChartWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  // Qt reports the leave by itself, so the model's request for a leave notification needs
  // nothing more here.
  chart_.mouseMove(at.x(), at.y(), width());
  update();
}

void QtChartWidget::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  // Qt grabs the mouse for the pressed widget until the release, even outside it.
  const QPoint at = event->position().toPoint();
  chart_.buttonDown(at.x(), at.y());
  setCursor(Qt::SizeAllCursor);
}

void QtChartWidget::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  if (chart_.buttonUp()) setCursor(Qt::CrossCursor);
}

void QtChartWidget::mouseDoubleClickEvent(QMouseEvent* event) {
  // Takes the place of the second press, as the system's double-click message does.
  if (event->button() != Qt::LeftButton) return;
  chart_.doubleClick();
  update();
}

void QtChartWidget::wheelEvent(QWheelEvent* event) {
  const QPoint delta = event->angleDelta();
  // A sideways wheel is not the zoom wheel.
  if (delta.y() == 0 && delta.x() != 0) return;
  chart_.zoomAt(event->position().toPoint().x(), delta.y(), width());
  update();
}

void QtChartWidget::leaveEvent(QEvent*) {
  chart_.mouseLeave();
  update();
}

}  // namespace tessivo
