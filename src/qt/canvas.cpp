#include "qt/canvas.h"

#include <QtCore/QStringList>
#include <QtGui/QPen>
#include <QtGui/QTextOption>

#include <algorithm>
#include <cstddef>

namespace tessivo {

namespace {

QColor colourOf(Rgba c) { return QColor(c.r, c.g, c.b, c.a); }
QColor colourOf(Brush b) { return colourOf(brushColour(b)); }
QPointF pointOf(PointF p) { return QPointF(p.x, p.y); }
QRectF rectOf(RectF r) { return QRectF(QPointF(r.left, r.top), QPointF(r.right, r.bottom)); }

bool isMonospace(const TextFormatSpec& format) { return std::u16string_view(format.family) == u"Consolas"; }

// The Windows faces are not on Linux; these stand in, chosen by their widths: at 12 px the
// widest axis label of each unit ("190.7 MiB/s") takes 58.6 px in Carlito (Calibri's
// widths) and fits its 60 px box as on Windows, where the wider stand-ins wrap; a speed of
// the share panel ("1013.8 KiB/s") takes 72 px of its 84 px column in Noto Sans Mono CJK
// (half-width Latin; Consolas would take about 79). Chinese text comes from Noto Sans CJK,
// which has a bold face for the semi-bold headings. The later names are fallbacks for a
// machine without those packages.
QStringList chartFamilies(const TextFormatSpec& format) {
  if (isMonospace(format))
    return {QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("Inconsolata"), QStringLiteral("DejaVu Sans Mono")};
  return {QStringLiteral("Carlito"), QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")};
}

Qt::Alignment horizontalFlag(TextAlign align) {
  switch (align) {
    case TextAlign::Leading: return Qt::AlignLeft;
    case TextAlign::Trailing: return Qt::AlignRight;
    case TextAlign::Center: return Qt::AlignHCenter;
  }
  return Qt::AlignLeft;
}

}  // namespace

ChartFonts makeChartFonts() {
  ChartFonts fonts;
  for (std::size_t i = 0; i < fonts.size(); ++i) {
    const TextFormatSpec format = textFormatSpec(static_cast<TextFormat>(i));
    QFont& font = fonts[i];
    font.setFamilies(chartFamilies(format));
    font.setStyleHint(isMonospace(format) ? QFont::Monospace : QFont::SansSerif);
    // Sizes are device pixels: the program scales nothing.
    font.setPixelSize(qRound(format.size));
    font.setWeight(static_cast<QFont::Weight>(format.weight));
  }
  return fonts;
}

void QtCanvas::fillWith(Brush brush) {
  painter_.setPen(Qt::NoPen);
  painter_.setBrush(colourOf(brush));
}

void QtCanvas::strokeWith(Brush brush, float strokeWidth) {
  // Flat ends and mitred joins, as Direct2D strokes by default.
  painter_.setPen(QPen(colourOf(brush), strokeWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
  painter_.setBrush(Qt::NoBrush);
}

const QPolygonF& QtCanvas::polygonOf(std::span<const PointF> points) {
  points_.clear();
  points_.reserve(static_cast<qsizetype>(points.size()));
  for (const PointF& p : points) points_.append(pointOf(p));
  return points_;
}

void QtCanvas::clear(Rgba colour) {
  painter_.save();
  painter_.setCompositionMode(QPainter::CompositionMode_Source);
  painter_.fillRect(painter_.window(), colourOf(colour));
  painter_.restore();
}

void QtCanvas::line(PointF from, PointF to, Brush brush, float strokeWidth) {
  strokeWith(brush, strokeWidth);
  painter_.drawLine(pointOf(from), pointOf(to));
}

void QtCanvas::fillRect(RectF rect, Brush brush) { painter_.fillRect(rectOf(rect), colourOf(brush)); }

void QtCanvas::fillRoundedRect(RectF rect, float radiusX, float radiusY, Brush brush) {
  fillWith(brush);
  painter_.drawRoundedRect(rectOf(rect), radiusX, radiusY);
}

void QtCanvas::strokeRoundedRect(RectF rect, float radiusX, float radiusY, Brush brush, float strokeWidth) {
  strokeWith(brush, strokeWidth);
  painter_.drawRoundedRect(rectOf(rect), radiusX, radiusY);
}

void QtCanvas::fillCircle(PointF centre, float radius, Brush brush) {
  fillWith(brush);
  painter_.drawEllipse(pointOf(centre), radius, radius);
}

bool QtCanvas::fillPolygon(std::span<const PointF> points, Brush brush) {
  if (points.empty()) return false;
  fillWith(brush);
  painter_.drawPolygon(polygonOf(points));
  return true;
}

bool QtCanvas::strokePolyline(std::span<const PointF> points, Brush brush, float strokeWidth) {
  if (points.empty()) return false;
  strokeWith(brush, strokeWidth);
  painter_.drawPolyline(polygonOf(points));
  return true;
}

bool QtCanvas::hasFormat(TextFormat format) const {
  // Fontconfig always substitutes some family, so every format can draw.
  return static_cast<std::size_t>(format) < fonts_.size();
}

void QtCanvas::text(std::u16string_view text, TextFormat format, TextAlign align, ParagraphAlign paragraph,
                    RectF rect, Brush brush) {
  if (!hasFormat(format)) return;
  // Laid out as DirectWrite lays out the Windows chart's texts, which its rectangles are made
  // for: wrapped at spaces to the rectangle's width, a word wider than that broken where it
  // must, each line aligned as asked and the block placed by the paragraph alignment. Not
  // clipped: a block taller than its box runs over it evenly, as there.
  const qreal width = std::max(0.0f, rect.right - rect.left);
  const auto formatIndex = static_cast<std::size_t>(format);
  const QString string = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
  const auto layOut = [&](QTextLayout& layout) {
    QTextOption option(horizontalFlag(align));
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setText(string);
    layout.setFont(fonts_[formatIndex]);
    layout.setTextOption(option);
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(width);
      line.setPosition(QPointF(0, height));
      height += line.height();
    }
    layout.endLayout();
    return height;
  };
  QTextLayout* layout = &layout_;
  qreal height = 0;
  if (cache_ != nullptr) {
    TextLayoutCache::Laid& laid = cache_->find(string, formatIndex, width, static_cast<int>(align),
                                               [&](TextLayoutCache::Laid& fresh) { fresh.height = layOut(fresh.layout); });
    layout = &laid.layout;
    height = laid.height;
  } else {
    height = layOut(layout_);
  }
  const qreal free = rect.bottom - rect.top - height;
  const qreal top = rect.top + (paragraph == ParagraphAlign::Near  ? 0.0
                                : paragraph == ParagraphAlign::Far ? free
                                                                   : free / 2);
  painter_.setPen(colourOf(brush));
  layout->draw(&painter_, QPointF(rect.left, top));
}

void TextLayoutCache::sweep() {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (!it.value()->used) {
      it = entries_.erase(it);
    } else {
      it.value()->used = false;
      ++it;
    }
  }
}

}  // namespace tessivo
