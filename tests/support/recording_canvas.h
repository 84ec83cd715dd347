// A canvas that keeps every drawing operation as a value, so a test can find "the
// text drawn in this rectangle" and compare it whole. It can also pretend that some
// text formats are missing or that paths cannot be made.
#pragma once

#include <array>
#include <cstddef>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "chart/canvas.h"
#include "core/text.h"

namespace tessivo::testing {

struct ClearOp {
  Rgba colour;
  friend bool operator==(const ClearOp&, const ClearOp&) = default;
};
struct LineOp {
  PointF from, to;
  Brush brush;
  float strokeWidth;
  friend bool operator==(const LineOp&, const LineOp&) = default;
};
struct FillRectOp {
  RectF rect;
  Brush brush;
  friend bool operator==(const FillRectOp&, const FillRectOp&) = default;
};
struct FillRoundedRectOp {
  RectF rect;
  float radiusX, radiusY;
  Brush brush;
  friend bool operator==(const FillRoundedRectOp&, const FillRoundedRectOp&) = default;
};
struct StrokeRoundedRectOp {
  RectF rect;
  float radiusX, radiusY;
  Brush brush;
  float strokeWidth;
  friend bool operator==(const StrokeRoundedRectOp&, const StrokeRoundedRectOp&) = default;
};
struct FillCircleOp {
  PointF centre;
  float radius;
  Brush brush;
  friend bool operator==(const FillCircleOp&, const FillCircleOp&) = default;
};
struct PolygonOp {
  std::vector<PointF> points;
  Brush brush;
  friend bool operator==(const PolygonOp&, const PolygonOp&) = default;
};
struct PolylineOp {
  std::vector<PointF> points;
  Brush brush;
  float strokeWidth;
  friend bool operator==(const PolylineOp&, const PolylineOp&) = default;
};
struct TextOp {
  std::u16string text;
  TextFormat format;
  TextAlign align;
  ParagraphAlign paragraph;
  RectF rect;
  Brush brush;
  friend bool operator==(const TextOp&, const TextOp&) = default;
  std::string utf8() const { return toUtf8(text); }
};

using DrawOp = std::variant<ClearOp, LineOp, FillRectOp, FillRoundedRectOp, StrokeRoundedRectOp,
                            FillCircleOp, PolygonOp, PolylineOp, TextOp>;

class RecordingCanvas final : public Canvas {
 public:
  std::vector<DrawOp> ops;
  // Paths attempted with a brush listed here fail (and record nothing).
  std::vector<Brush> failingPathBrushes;
  int failedPaths = 0;

  void setFormatMissing(TextFormat format, bool missing = true) {
    missing_[static_cast<std::size_t>(format)] = missing;
  }
  void failPathsWith(Brush brush) { failingPathBrushes.push_back(brush); }

  void clear(Rgba colour) override { ops.emplace_back(ClearOp{colour}); }
  void line(PointF from, PointF to, Brush brush, float strokeWidth) override {
    ops.emplace_back(LineOp{from, to, brush, strokeWidth});
  }
  void fillRect(RectF rect, Brush brush) override { ops.emplace_back(FillRectOp{rect, brush}); }
  void fillRoundedRect(RectF rect, float rx, float ry, Brush brush) override {
    ops.emplace_back(FillRoundedRectOp{rect, rx, ry, brush});
  }
  void strokeRoundedRect(RectF rect, float rx, float ry, Brush brush, float strokeWidth) override {
    ops.emplace_back(StrokeRoundedRectOp{rect, rx, ry, brush, strokeWidth});
  }
  void fillCircle(PointF centre, float radius, Brush brush) override {
    ops.emplace_back(FillCircleOp{centre, radius, brush});
  }
  bool fillPolygon(std::span<const PointF> points, Brush brush) override {
    if (pathFails(brush)) return false;
    ops.emplace_back(PolygonOp{{points.begin(), points.end()}, brush});
    return true;
  }
  bool strokePolyline(std::span<const PointF> points, Brush brush, float strokeWidth) override {
    if (pathFails(brush)) return false;
    ops.emplace_back(PolylineOp{{points.begin(), points.end()}, brush, strokeWidth});
    return true;
  }
  bool hasFormat(TextFormat format) const override { return !missing_[static_cast<std::size_t>(format)]; }
  void text(std::u16string_view text, TextFormat format, TextAlign align, ParagraphAlign paragraph,
            RectF rect, Brush brush) override {
    // Drawing with a format the target lacks is the fault this canvas exists to catch.
    if (!hasFormat(format)) ++textsWithMissingFormat;
    ops.emplace_back(TextOp{std::u16string(text), format, align, paragraph, rect, brush});
  }

  int textsWithMissingFormat = 0;

  // ---- queries ----
  template <typename T>
  std::vector<T> all() const {
    std::vector<T> out;
    for (const DrawOp& op : ops) {
      if (const T* p = std::get_if<T>(&op)) out.push_back(*p);
    }
    return out;
  }
  template <typename T>
  std::size_t count() const {
    std::size_t n = 0;
    for (const DrawOp& op : ops) n += std::holds_alternative<T>(op) ? 1 : 0;
    return n;
  }
  std::vector<TextOp> texts() const { return all<TextOp>(); }
  std::vector<std::string> textStrings() const {
    std::vector<std::string> out;
    for (const TextOp& t : texts()) out.push_back(t.utf8());
    return out;
  }
  // The first text whose content is exactly `utf8`; null when there is none.
  const TextOp* findText(const std::string& utf8) const {
    const std::u16string wanted = fromUtf8(utf8);
    for (const DrawOp& op : ops) {
      if (const auto* t = std::get_if<TextOp>(&op); t != nullptr && t->text == wanted) return t;
    }
    return nullptr;
  }
  // Position of the first operation of type T with this brush, or -1.
  template <typename T>
  std::ptrdiff_t indexOf(Brush brush) const {
    for (std::size_t i = 0; i < ops.size(); ++i) {
      if (const T* p = std::get_if<T>(&ops[i]); p != nullptr && p->brush == brush) {
        return static_cast<std::ptrdiff_t>(i);
      }
    }
    return -1;
  }
  template <typename T>
  std::vector<T> withBrush(Brush brush) const {
    std::vector<T> out;
    for (const T& op : all<T>()) {
      if (op.brush == brush) out.push_back(op);
    }
    return out;
  }

 private:
  bool pathFails(Brush brush) {
    for (Brush b : failingPathBrushes) {
      if (b == brush) {
        ++failedPaths;
        return true;
      }
    }
    return false;
  }
  std::array<bool, kTextFormatCount> missing_{};
};

}  // namespace tessivo::testing

namespace tessivo {
// Readable failure messages; found by argument-dependent lookup.
inline std::ostream& operator<<(std::ostream& os, const PointF& p) { return os << '(' << p.x << ", " << p.y << ')'; }
inline std::ostream& operator<<(std::ostream& os, const RectF& r) {
  return os << '(' << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ')';
}
}  // namespace tessivo
