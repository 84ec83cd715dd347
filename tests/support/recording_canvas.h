// A canvas that keeps every drawing operation as a value, so a test can compare what was drawn
// whole. It can also pretend that some text formats are missing.
#pragma once

#include <array>
#include <initializer_list>
#include <ostream>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "chart/canvas.h"
#include "core/text.h"

namespace tessivo::testing {

#define TESSIVO_OP(T, ...) struct T { __VA_ARGS__; friend bool operator==(const T&, const T&) = default; }
TESSIVO_OP(ClearOp, Rgba colour);
TESSIVO_OP(LineOp, PointF from, to; Brush brush; float strokeWidth);
TESSIVO_OP(FillRectOp, RectF rect; Brush brush);
TESSIVO_OP(FillRoundedRectOp, RectF rect; float radiusX, radiusY; Brush brush);
TESSIVO_OP(StrokeRoundedRectOp, RectF rect; float radiusX, radiusY; Brush brush; float strokeWidth);
TESSIVO_OP(FillCircleOp, PointF centre; float radius; Brush brush);
TESSIVO_OP(PolygonOp, std::vector<PointF> points; Brush brush);
TESSIVO_OP(PolylineOp, std::vector<PointF> points; Brush brush; float strokeWidth);
TESSIVO_OP(TextOp, std::u16string text; TextFormat format; TextAlign align; ParagraphAlign paragraph;
           RectF rect; Brush brush; std::string utf8() const { return toUtf8(text); });
#undef TESSIVO_OP

using DrawOp = std::variant<ClearOp, LineOp, FillRectOp, FillRoundedRectOp, StrokeRoundedRectOp, FillCircleOp,
                            PolygonOp, PolylineOp, TextOp>;

class RecordingCanvas final : public Canvas {
 public:
  std::vector<DrawOp> ops;

  RecordingCanvas(std::initializer_list<TextFormat> missing = {}) {  // formats the target lacks
    for (TextFormat f : missing) missing_[static_cast<std::size_t>(f)] = true;
  }

  void clear(Rgba colour) override { ops.emplace_back(ClearOp{colour}); }
  void line(PointF a, PointF b, Brush brush, float w) override { ops.emplace_back(LineOp{a, b, brush, w}); }
  void fillRect(RectF rect, Brush brush) override { ops.emplace_back(FillRectOp{rect, brush}); }
  void fillRoundedRect(RectF rect, float rx, float ry, Brush brush) override {
    ops.emplace_back(FillRoundedRectOp{rect, rx, ry, brush});
  }
  void strokeRoundedRect(RectF rect, float rx, float ry, Brush brush, float width) override {
    ops.emplace_back(StrokeRoundedRectOp{rect, rx, ry, brush, width});
  }
  void fillCircle(PointF c, float r, Brush brush) override { ops.emplace_back(FillCircleOp{c, r, brush}); }
  bool fillPolygon(std::span<const PointF> points, Brush brush) override {
    ops.emplace_back(PolygonOp{{points.begin(), points.end()}, brush});
    return true;
  }
  bool strokePolyline(std::span<const PointF> points, Brush brush, float width) override {
    ops.emplace_back(PolylineOp{{points.begin(), points.end()}, brush, width});
    return true;
  }
  bool hasFormat(TextFormat format) const override { return !missing_[static_cast<std::size_t>(format)]; }
  // Recorded even in a missing format, so that a test sees the fault.
  void text(std::u16string_view text, TextFormat format, TextAlign align, ParagraphAlign paragraph,
            RectF rect, Brush brush) override {
    ops.emplace_back(TextOp{std::u16string(text), format, align, paragraph, rect, brush});
  }

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
  template <typename T>
  std::vector<T> withBrush(Brush brush) const {
    std::vector<T> out = all<T>();
    std::erase_if(out, [brush](const T& op) { return op.brush != brush; });
    return out;
  }

 private:
  std::array<bool, kTextFormatCount> missing_{};
};

}  // namespace tessivo::testing

namespace tessivo {  // readable failure messages, found by argument-dependent lookup
inline std::ostream& operator<<(std::ostream& os, const PointF& p) {
  return os << '(' << p.x << ", " << p.y << ')';
}
inline std::ostream& operator<<(std::ostream& os, const RectF& r) {
  return os << '(' << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ')';
}
}  // namespace tessivo
