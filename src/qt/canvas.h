// The chart's canvas over a QPainter: the core's brushes become QColors and its four text
// formats QFonts of installed families (the Windows fonts are not there on Linux).
#pragma once

#include <QtGui/QFont>
#include <QtGui/QPainter>
#include <QtGui/QPolygonF>
#include <QtGui/QTextLayout>

#include <array>

#include "chart/canvas.h"

namespace tessivo {

using ChartFonts = std::array<QFont, kTextFormatCount>;

// The four formats, made once per chart widget.
ChartFonts makeChartFonts();

class QtCanvas final : public Canvas {
 public:
  // The painter should have antialiasing on; the canvas only sets pens, brushes and fonts.
  QtCanvas(QPainter& painter, const ChartFonts& fonts) : painter_(painter), fonts_(fonts) {}

  void clear(Rgba colour) override;
  void line(PointF from, PointF to, Brush brush, float strokeWidth) override;
  void fillRect(RectF rect, Brush brush) override;
  void fillRoundedRect(RectF rect, float radiusX, float radiusY, Brush brush) override;
  void strokeRoundedRect(RectF rect, float radiusX, float radiusY, Brush brush, float strokeWidth) override;
  void fillCircle(PointF centre, float radius, Brush brush) override;
  bool fillPolygon(std::span<const PointF> points, Brush brush) override;
  bool strokePolyline(std::span<const PointF> points, Brush brush, float strokeWidth) override;
  bool hasFormat(TextFormat format) const override;
  void text(std::u16string_view text, TextFormat format, TextAlign align, ParagraphAlign paragraph, RectF rect,
            Brush brush) override;

 private:
  void fillWith(Brush brush);
  void strokeWith(Brush brush, float strokeWidth);
  const QPolygonF& polygonOf(std::span<const PointF> points);

  QPainter& painter_;
  const ChartFonts& fonts_;
  QPolygonF points_;  // reused by every path of the frame
  QTextLayout layout_;  // and by every text
};

}  // namespace tessivo
