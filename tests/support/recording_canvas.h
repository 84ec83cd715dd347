// A canvas that keeps every drawing operation as a value, so a test can find "the
// text drawn in this rectangle" and compare it whole. It can also pretend that some
// text formats are missing or that paths cannot be made.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "chart/canvas.h"
#include "core/text.h"

namespace tessivo::testing {

#define TESSIVO_OP_EQ(T) friend bool operator==(const T&, const T&) = default
struct ClearOp { Rgba colour; TESSIVO_OP_EQ(ClearOp); };
struct LineOp { PointF from, to; Brush brush; float strokeWidth; TESSIVO_OP_EQ(LineOp); };
struct FillRectOp { RectF rect; Brush brush; TESSIVO_OP_EQ(FillRectOp); };
struct FillRoundedRectOp { RectF rect; float radiusX, radiusY; Brush brush; TESSIVO_OP_EQ(FillRoundedRectOp); };
struct StrokeRoundedRectOp {
  RectF rect; float radiusX, radiusY; Brush brush; float strokeWidth; TESSIVO_OP_EQ(StrokeRoundedRectOp);
};
struct FillCircleOp { PointF centre; float radius; Brush brush; TESSIVO_OP_EQ(FillCircleOp); };
struct PolygonOp { std::vector<PointF> points; Brush brush; TESSIVO_OP_EQ(PolygonOp); };
struct PolylineOp { std::vector<PointF> points; Brush brush; float strokeWidth; TESSIVO_OP_EQ(PolylineOp); };
struct TextOp {
  std::u16string text;
  TextFormat format;
  TextAlign align;
  ParagraphAlign paragraph;
  RectF rect;
  Brush brush;
  TESSIVO_OP_EQ(TextOp);
  std::string utf8() const { return toUtf8(text); }
};
#undef TESSIVO_OP_EQ

using DrawOp = std::variant<ClearOp, LineOp, FillRectOp, FillRoundedRectOp, StrokeRoundedRectOp,
                            FillCircleOp, PolygonOp, PolylineOp, TextOp>;

class RecordingCanvas final : public Canvas {
 public:
  std::vector<DrawOp> ops;
  std::vector<Brush> failingPathBrushes;  // paths with these brushes fail and record nothing
  int failedPaths = 0;
  int textsWithMissingFormat = 0;  // drawing with a format the target lacks is a fault

  void setFormatMissing(TextFormat format) { missing_[static_cast<std::size_t>(format)] = true; }
  void failPathsWith(Brush brush) { failingPathBrushes.push_back(brush); }

  void clear(Rgba colour) override { ops.emplace_back(ClearOp{colour}); }
  void line(PointF from, PointF to, Brush brush, float width) override { ops.emplace_back(LineOp{from, to, brush, width}); }
  void fillRect(RectF rect, Brush brush) override { ops.emplace_back(FillRectOp{rect, brush}); }
  void fillRoundedRect(RectF rect, float rx, float ry, Brush brush) override {
    ops.emplace_back(FillRoundedRectOp{rect, rx, ry, brush});
  }
  void strokeRoundedRect(RectF rect, float rx, float ry, Brush brush, float width) override {
    ops.emplace_back(StrokeRoundedRectOp{rect, rx, ry, brush, width});
  }
  void fillCircle(PointF centre, float radius, Brush brush) override { ops.emplace_back(FillCircleOp{centre, radius, brush}); }
  bool fillPolygon(std::span<const PointF> points, Brush brush) override {
    if (pathFails(brush)) return false;
    ops.emplace_back(PolygonOp{{points.begin(), points.end()}, brush});
    return true;
  }
  bool strokePolyline(std::span<const PointF> points, Brush brush, float width) override {
    if (pathFails(brush)) return false;
    ops.emplace_back(PolylineOp{{points.begin(), points.end()}, brush, width});
    return true;
  }
  bool hasFormat(TextFormat format) const override { return !missing_[static_cast<std::size_t>(format)]; }
  void text(std::u16string_view text, TextFormat format, TextAlign align, ParagraphAlign paragraph,
            RectF rect, Brush brush) override {
    if (!hasFormat(format)) ++textsWithMissingFormat;
    ops.emplace_back(TextOp{std::u16string(text), format, align, paragraph, rect, brush});
  }

  // ---- queries ----
  template <typename T>
  std::vector<T> all() const {
    std::vector<T> out;
    for (const DrawOp& op : ops)
      if (const T* p = std::get_if<T>(&op)) out.push_back(*p);
    return out;
  }
  template <typename T>
  std::size_t count() const { return all<T>().size(); }
  std::vector<TextOp> texts() const { return all<TextOp>(); }
  // The contents of the texts drawn (those `keep` accepts), in drawing order.
  template <typename Keep = bool (*)(const TextOp&)>
  std::vector<std::string> textStrings(Keep keep = [](const TextOp&) { return true; }) const {
    std::vector<std::string> out;
    for (const TextOp& t : texts())
      if (keep(t)) out.push_back(t.utf8());
    return out;
  }
  // The first text whose content is exactly `utf8`; null when there is none.
  const TextOp* findText(const std::string& utf8) const {
    const std::u16string wanted = fromUtf8(utf8);
    for (const DrawOp& op : ops)
      if (const auto* t = std::get_if<TextOp>(&op); t != nullptr && t->text == wanted) return t;
    return nullptr;
  }
  // Position of the first operation of type T with this brush, or -1.
  template <typename T>
  std::ptrdiff_t indexOf(Brush brush) const {
    for (std::size_t i = 0; i < ops.size(); ++i)
      if (const T* p = std::get_if<T>(&ops[i]); p != nullptr && p->brush == brush) return static_cast<std::ptrdiff_t>(i);
    return -1;
  }
  template <typename T>
  std::vector<T> withBrush(Brush brush) const {
    std::vector<T> out;
    for (const T& op : all<T>())
      if (op.brush == brush) out.push_back(op);
    return out;
  }

 private:
  bool pathFails(Brush brush) {
    const bool fails = std::find(failingPathBrushes.begin(), failingPathBrushes.end(), brush) != failingPathBrushes.end();
    failedPaths += fails ? 1 : 0;
    return fails;
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
