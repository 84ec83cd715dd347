#include "qt/chart_widget.h"

#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QWheelEvent>
#include <QtCore/QSemaphore>
#include <QtCore/QThreadPool>
#include <QtGui/QImage>
#include <QtGui/QPaintEngine>

#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>
#include <type_traits>

#include "qt/failure.h"

namespace tessivo {

namespace {

// Writes each drawing call and its values as words; two frames with the same words draw
// the same pixels. Each call is one step, also one that draws nothing (an empty polygon),
// so that the steps count alike here and in StepRange; `starts` gets each step's first word.
class RecordingCanvas final : public Canvas {
 public:
  RecordingCanvas(std::vector<std::uint32_t>& words, std::vector<std::uint32_t>* starts)
      : words_(words), starts_(starts) {
    words_.clear();
    if (starts_ != nullptr) starts_->clear();
  }

  void clear(Rgba c) override { put(1, c.r, c.g, c.b, c.a); }
  void line(PointF from, PointF to, Brush brush, float width) override {
    put(2, from.x, from.y, to.x, to.y, brush, width);
  }
  void fillRect(RectF r, Brush brush) override { put(3, r.left, r.top, r.right, r.bottom, brush); }
  void fillRoundedRect(RectF r, float rx, float ry, Brush brush) override {
    put(4, r.left, r.top, r.right, r.bottom, rx, ry, brush);
  }
  void strokeRoundedRect(RectF r, float rx, float ry, Brush brush, float width) override {
    put(5, r.left, r.top, r.right, r.bottom, rx, ry, brush, width);
  }
  void fillCircle(PointF centre, float radius, Brush brush) override { put(6, centre.x, centre.y, radius, brush); }
  bool fillPolygon(std::span<const PointF> points, Brush brush) override {
    put(kPolygonStep, brush, static_cast<std::uint32_t>(points.size()));
    for (const PointF& p : points) more(p.x, p.y);
    return !points.empty();
  }
  bool strokePolyline(std::span<const PointF> points, Brush brush, float width) override {
    put(kPolylineStep, brush, width, static_cast<std::uint32_t>(points.size()));
    for (const PointF& p : points) more(p.x, p.y);
    return !points.empty();
  }
  bool hasFormat(TextFormat format) const override { return static_cast<std::size_t>(format) < kTextFormatCount; }
  void text(std::u16string_view text, TextFormat format, TextAlign align, ParagraphAlign paragraph, RectF r,
            Brush brush) override {
    put(9, format, align, paragraph, r.left, r.top, r.right, r.bottom, brush, static_cast<std::uint32_t>(text.size()));
    for (const char16_t c : text) more(static_cast<std::uint32_t>(c));
  }

  static constexpr std::uint32_t kPolygonStep = 7;
  static constexpr std::uint32_t kPolylineStep = 8;

 private:
  void word(std::uint32_t w) { words_.push_back(w); }
  void word(int w) { words_.push_back(static_cast<std::uint32_t>(w)); }
  void word(float f) { words_.push_back(std::bit_cast<std::uint32_t>(f)); }
  template <typename E>
    requires std::is_enum_v<E>
  void word(E e) {
    words_.push_back(static_cast<std::uint32_t>(e));
  }
  void word(std::uint8_t b) { words_.push_back(b); }
  template <typename... Values>
  void put(std::uint32_t step, Values... values) {
    if (starts_ != nullptr) starts_->push_back(static_cast<std::uint32_t>(words_.size()));
    word(step);
    (word(values), ...);
  }
  template <typename... Values>
  void more(Values... values) {
    (word(values), ...);
  }

  std::vector<std::uint32_t>& words_;
  std::vector<std::uint32_t>* starts_;
};

// Passes on only the steps [first, last) of a frame to another canvas; the others draw
// nothing but answer as drawn.
class StepRange final : public Canvas {
 public:
  StepRange(Canvas& target, std::size_t first, std::size_t last) : target_(target), first_(first), last_(last) {}

  void clear(Rgba c) override {
    if (take()) target_.clear(c);
  }
  void line(PointF from, PointF to, Brush brush, float width) override {
    if (take()) target_.line(from, to, brush, width);
  }
  void fillRect(RectF r, Brush brush) override {
    if (take()) target_.fillRect(r, brush);
  }
  void fillRoundedRect(RectF r, float rx, float ry, Brush brush) override {
    if (take()) target_.fillRoundedRect(r, rx, ry, brush);
  }
  void strokeRoundedRect(RectF r, float rx, float ry, Brush brush, float width) override {
    if (take()) target_.strokeRoundedRect(r, rx, ry, brush, width);
  }
  void fillCircle(PointF centre, float radius, Brush brush) override {
    if (take()) target_.fillCircle(centre, radius, brush);
  }
  bool fillPolygon(std::span<const PointF> points, Brush brush) override {
    return take() ? target_.fillPolygon(points, brush) : !points.empty();
  }
  bool strokePolyline(std::span<const PointF> points, Brush brush, float width) override {
    return take() ? target_.strokePolyline(points, brush, width) : !points.empty();
  }
  bool hasFormat(TextFormat format) const override { return target_.hasFormat(format); }
  void text(std::u16string_view text, TextFormat format, TextAlign align, ParagraphAlign paragraph, RectF r,
            Brush brush) override {
    if (take()) target_.text(text, format, align, paragraph, r, brush);
  }

 private:
  bool take() {
    const std::size_t step = next_++;
    return step >= first_ && step < last_;
  }
  Canvas& target_;
  std::size_t first_;
  std::size_t last_;
  std::size_t next_ = 0;
};

}  // namespace

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

void QtChartWidget::record(std::vector<std::uint32_t>& into, std::vector<std::uint32_t>* starts) const {
  RecordingCanvas canvas(into, starts);
  chart_.paint(canvas, static_cast<float>(width()), static_cast<float>(height()));
}

void QtChartWidget::requestRepaint() {
  // Hidden or minimised, nothing is painted; showing again paints the pane whole.
  if (!isVisible() || window()->isMinimized()) {
    paintedValid_ = false;
    return;
  }
  record(next_);
  if (paintedValid_ && next_ == painted_) return;
  update();
}

void QtChartWidget::paintSteps(QPaintDevice& device, std::size_t first, std::size_t last) {
  QPainter painter(&device);
  painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
  QtCanvas canvas(painter, fonts_, &texts_);
  StepRange steps(canvas, first, last);
  chart_.paint(steps, static_cast<float>(width()), static_cast<float>(height()));
}

void QtChartWidget::paintFrame(QImage& frame) {
  // The grid, the scales and the labels up to the first series change far less often than
  // the series: they are kept as an image of their own, painted again when they change.
  record(frameWords_, &frameStarts_);
  std::size_t background = 0;
  while (background < frameStarts_.size()) {
    const std::uint32_t step = frameWords_[frameStarts_[background]];
    if (step == RecordingCanvas::kPolygonStep || step == RecordingCanvas::kPolylineStep) break;
    ++background;
  }
  const std::size_t backgroundWords = background < frameStarts_.size() ? frameStarts_[background] : frameWords_.size();
  const bool same = background_.size() == frame.size() && background_.format() == frame.format() &&
                    backgroundWords_.size() == backgroundWords &&
                    std::equal(backgroundWords_.begin(), backgroundWords_.end(), frameWords_.begin());
  if (!same) {
    if (background_.size() != frame.size() || background_.format() != frame.format())
      background_ = QImage(frame.size(), frame.format());
    paintSteps(background_, 0, background);
    backgroundWords_.assign(frameWords_.begin(), frameWords_.begin() + static_cast<std::ptrdiff_t>(backgroundWords));
  }
  const auto row = static_cast<std::size_t>(background_.bytesPerLine());
  if (frame.bytesPerLine() == background_.bytesPerLine()) {
    std::memcpy(frame.bits(), background_.constBits(), row * static_cast<std::size_t>(frame.height()));
  } else {
    for (int y = 0; y < frame.height(); ++y) std::memcpy(frame.scanLine(y), background_.constScanLine(y), row);
  }
  paintSteps(frame, background, frameStarts_.size());
  texts_.sweep();
}

void QtChartWidget::paintEvent(QPaintEvent* event) {
  try {
    QPainter painter(this);
    // Qt's raster engine splits every large fill (a grid line, a series' area) across its
    // thread pool and waits for it: dozens of hand-offs a frame, which cost more than the
    // fills. Painted on one of the pool's own threads it does not split them: the frame
    // goes there whole, straight into the window's image where the pane is wholly on
    // screen (the pane owns those pixels), else into an image of the window's format that
    // is copied in.
    auto* window = dynamic_cast<QImage*>(painter.paintEngine()->paintDevice());
    bool framePainted = false;
    QThreadPool* pool = QThreadPool::globalInstance();
    if (window != nullptr && pool != nullptr && devicePixelRatio() == 1.0 && !size().isEmpty()) {
      const QTransform& toWindow = painter.deviceTransform();
      const QRect inWindow(QPoint(static_cast<int>(toWindow.dx()), static_cast<int>(toWindow.dy())), size());
      const bool direct = toWindow.type() == QTransform::TxTranslate || toWindow.type() == QTransform::TxNone;
      const bool whole = direct && toWindow.dx() == inWindow.x() && toWindow.dy() == inWindow.y() &&
                         window->rect().contains(inWindow) && window->depth() % 8 == 0 &&
                         visibleRegion() == QRegion(rect());
      QImage into;
      if (whole) {
        // A view of the window's own pixels (no copy, nothing detached).
        auto* first = const_cast<uchar*>(window->constScanLine(inWindow.y())) + inWindow.x() * (window->depth() / 8);
        into = QImage(first, width(), height(), window->bytesPerLine(), window->format());
      } else {
        if (frame_.size() != size() || frame_.format() != window->format()) frame_ = QImage(size(), window->format());
      }
      QImage& target = whole ? into : frame_;
      QSemaphore done;
      std::exception_ptr failure;
      pool->start([&] {
        try {
          paintFrame(target);
        } catch (...) {
          failure = std::current_exception();
        }
        done.release();
      });
      done.acquire();
      if (failure) std::rethrow_exception(failure);
      framePainted = true;
      if (!whole) {
        // Every frame is opaque (it begins by clearing): a straight copy.
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(0, 0, frame_);
      }
    } else {
      painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
      QtCanvas canvas(painter, fonts_, &texts_);
      chart_.paint(canvas, static_cast<float>(width()), static_cast<float>(height()));
      texts_.sweep();
    }
    // What is on screen now, for the next refresh to compare with (a part is not all of it):
    // the frame just recorded for painting, or recorded now.
    paintedValid_ = event->rect().contains(rect());
    if (paintedValid_ && framePainted) {
      painted_.swap(frameWords_);
    } else if (paintedValid_) {
      record(painted_);
    }
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
