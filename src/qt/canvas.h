// The chart's canvas over a QPainter: the core's brushes become QColors and its four text
// formats QFonts of installed families (the Windows fonts are not there on Linux).
#pragma once

#include <QtGui/QFont>
#include <QtGui/QPainter>
#include <QtGui/QPolygonF>
#include <QtGui/QTextLayout>

#include <QtCore/QHash>
#include <QtCore/QString>

#include <array>
#include <memory>

#include "chart/canvas.h"

namespace tessivo {

using ChartFonts = std::array<QFont, kTextFormatCount>;

// The four formats, made once per chart widget.
ChartFonts makeChartFonts();

// Texts laid out by earlier frames, kept for as long as each frame draws them again: most
// of a chart's texts are the same from one refresh to the next, and laying a text out
// (shaping it) costs far more than drawing it.
class TextLayoutCache {
 public:
  struct Laid {
    QTextLayout layout;
    qreal height = 0;
    bool used = true;
  };
  // The layout of this text, format and width, made with `make` the first time.
  template <typename Make>
  Laid& find(const QString& text, std::size_t format, qreal width, int align, Make&& make) {
    const Key key{text, format, width, align};
    auto it = entries_.find(key);
    if (it == entries_.end()) {
      auto laid = std::make_unique<Laid>();
      make(*laid);
      it = entries_.insert(key, std::shared_ptr<Laid>(std::move(laid)));
    }
    it.value()->used = true;
    return *it.value();
  }
  // After a frame: the texts it did not draw go.
  void sweep();

 private:
  struct Key {
    QString text;
    std::size_t format;
    qreal width;
    int align;
    bool operator==(const Key& other) const {
      return format == other.format && width == other.width && align == other.align && text == other.text;
    }
  };
  friend size_t qHash(const Key& key, size_t seed) { return qHashMulti(seed, key.text, key.format, key.width, key.align); }
  QHash<Key, std::shared_ptr<Laid>> entries_;
};

class QtCanvas final : public Canvas {
 public:
  // The painter should have antialiasing on; the canvas only sets pens, brushes and fonts.
  // With a cache, texts laid out before are drawn from it.
  QtCanvas(QPainter& painter, const ChartFonts& fonts, TextLayoutCache* cache = nullptr)
      : painter_(painter), fonts_(fonts), cache_(cache) {}

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
  TextLayoutCache* cache_;
  QTextLayout layout_;  // and by every text, without a cache
};

}  // namespace tessivo
