#include "win32/d2d_canvas.h"

namespace tessivo {

namespace {

using Microsoft::WRL::ComPtr;

D2D1_POINT_2F point(PointF p) { return D2D1::Point2F(p.x, p.y); }
D2D1_RECT_F rectOf(RectF r) { return D2D1::RectF(r.left, r.top, r.right, r.bottom); }

DWRITE_TEXT_ALIGNMENT textAlignment(TextAlign align) {
  switch (align) {
    case TextAlign::Leading: return DWRITE_TEXT_ALIGNMENT_LEADING;
    case TextAlign::Trailing: return DWRITE_TEXT_ALIGNMENT_TRAILING;
    case TextAlign::Center: return DWRITE_TEXT_ALIGNMENT_CENTER;
  }
  return DWRITE_TEXT_ALIGNMENT_LEADING;
}

DWRITE_PARAGRAPH_ALIGNMENT paragraphAlignment(ParagraphAlign align) {
  switch (align) {
    case ParagraphAlign::Near: return DWRITE_PARAGRAPH_ALIGNMENT_NEAR;
    case ParagraphAlign::Far: return DWRITE_PARAGRAPH_ALIGNMENT_FAR;
    case ParagraphAlign::Center: return DWRITE_PARAGRAPH_ALIGNMENT_CENTER;
  }
  return DWRITE_PARAGRAPH_ALIGNMENT_NEAR;
}

}  // namespace

void createChartBrushes(ID2D1RenderTarget& target, OwnedBrushes& brushes) {
  for (std::size_t i = 0; i < brushes.size(); ++i) {
    const Rgba c = brushColour(static_cast<Brush>(i));
    target.CreateSolidColorBrush(D2D1::ColorF(c.r / 255.0f, c.g / 255.0f, c.b / 255.0f, c.a / 255.0f),
                                 brushes[i].ReleaseAndGetAddressOf());
  }
}

void createChartTextFormats(IDWriteFactory& factory, OwnedFormats& formats) {
  for (std::size_t i = 0; i < formats.size(); ++i) {
    const TextFormatSpec style = textFormatSpec(static_cast<TextFormat>(i));
    factory.CreateTextFormat(reinterpret_cast<const wchar_t*>(style.family), nullptr,
                             static_cast<DWRITE_FONT_WEIGHT>(style.weight), DWRITE_FONT_STYLE_NORMAL,
                             DWRITE_FONT_STRETCH_NORMAL, style.size, L"", formats[i].ReleaseAndGetAddressOf());
  }
}

BrushTable borrow(const OwnedBrushes& brushes) {
  BrushTable table{};
  for (std::size_t i = 0; i < table.size(); ++i) table[i] = brushes[i].Get();
  return table;
}

FormatTable borrow(const OwnedFormats& formats) {
  FormatTable table{};
  for (std::size_t i = 0; i < table.size(); ++i) table[i] = formats[i].Get();
  return table;
}

ID2D1SolidColorBrush* D2dCanvas::brush(Brush b) const {
  const auto index = static_cast<std::size_t>(b);
  return index < brushes_.size() ? brushes_[index] : nullptr;
}

void D2dCanvas::clear(Rgba colour) {
  target_.Clear(D2D1::ColorF(colour.r / 255.0f, colour.g / 255.0f, colour.b / 255.0f, colour.a / 255.0f));
}

void D2dCanvas::line(PointF from, PointF to, Brush b, float strokeWidth) {
  if (ID2D1SolidColorBrush* paint = brush(b)) target_.DrawLine(point(from), point(to), paint, strokeWidth);
}

void D2dCanvas::fillRect(RectF rect, Brush b) {
  if (ID2D1SolidColorBrush* paint = brush(b)) target_.FillRectangle(rectOf(rect), paint);
}

void D2dCanvas::fillRoundedRect(RectF rect, float radiusX, float radiusY, Brush b) {
  if (ID2D1SolidColorBrush* paint = brush(b))
    target_.FillRoundedRectangle(D2D1::RoundedRect(rectOf(rect), radiusX, radiusY), paint);
}

void D2dCanvas::strokeRoundedRect(RectF rect, float radiusX, float radiusY, Brush b, float strokeWidth) {
  if (ID2D1SolidColorBrush* paint = brush(b))
    target_.DrawRoundedRectangle(D2D1::RoundedRect(rectOf(rect), radiusX, radiusY), paint, strokeWidth);
}

void D2dCanvas::fillCircle(PointF centre, float radius, Brush b) {
  if (ID2D1SolidColorBrush* paint = brush(b))
    target_.FillEllipse(D2D1::Ellipse(point(centre), radius, radius), paint);
}

ID2D1PathGeometry* D2dCanvas::makePath(std::span<const PointF> points, bool closedFilled) {
  if (points.empty()) return nullptr;
  ComPtr<ID2D1PathGeometry> path;
  if (FAILED(factory_.CreatePathGeometry(path.GetAddressOf()))) return nullptr;
  ComPtr<ID2D1GeometrySink> sink;
  if (FAILED(path->Open(sink.GetAddressOf()))) return nullptr;
  points_.clear();
  for (std::size_t i = 1; i < points.size(); ++i) {
    const D2D1_POINT_2F p = point(points[i]);
    if (!closedFilled && !points_.empty()) {
      // A point that only continues a straight run (or repeats the last one) adds nothing to
      // an open stroke; some renderers join such collinear segments with a spike that runs
      // past the line's end. Turning back is kept.
      const D2D1_POINT_2F a = points_.size() >= 2 ? points_[points_.size() - 2] : point(points[0]);
      const D2D1_POINT_2F b = points_.back();
      const float cross = (b.x - a.x) * (p.y - b.y) - (b.y - a.y) * (p.x - b.x);
      const float dot = (b.x - a.x) * (p.x - b.x) + (b.y - a.y) * (p.y - b.y);
      if ((p.x == b.x && p.y == b.y) || (cross == 0.0f && dot >= 0.0f)) {
        points_.back() = p;
        continue;
      }
    }
    points_.push_back(p);
  }
  sink->BeginFigure(point(points[0]), closedFilled ? D2D1_FIGURE_BEGIN_FILLED : D2D1_FIGURE_BEGIN_HOLLOW);
  if (!points_.empty()) sink->AddLines(points_.data(), static_cast<UINT32>(points_.size()));
  sink->EndFigure(closedFilled ? D2D1_FIGURE_END_CLOSED : D2D1_FIGURE_END_OPEN);
  if (FAILED(sink->Close())) return nullptr;
  return path.Detach();
}

bool D2dCanvas::fillPolygon(std::span<const PointF> points, Brush b) {
  ID2D1SolidColorBrush* paint = brush(b);
  if (paint == nullptr) return false;
  ComPtr<ID2D1PathGeometry> path;
  path.Attach(makePath(points, true));
  if (!path) return false;
  target_.FillGeometry(path.Get(), paint);
  return true;
}

bool D2dCanvas::strokePolyline(std::span<const PointF> points, Brush b, float strokeWidth) {
  ID2D1SolidColorBrush* paint = brush(b);
  if (paint == nullptr) return false;
  ComPtr<ID2D1PathGeometry> path;
  path.Attach(makePath(points, false));
  if (!path) return false;
  target_.DrawGeometry(path.Get(), paint, strokeWidth);
  return true;
}

bool D2dCanvas::hasFormat(TextFormat format) const {
  const auto index = static_cast<std::size_t>(format);
  return index < formats_.size() && formats_[index] != nullptr;
}

void D2dCanvas::text(std::u16string_view text, TextFormat format, TextAlign align, ParagraphAlign paragraph,
                     RectF rect, Brush b) {
  ID2D1SolidColorBrush* paint = brush(b);
  if (!hasFormat(format) || paint == nullptr) return;
  // Formats are shared by every text of the frame: each text sets the alignment it needs.
  IDWriteTextFormat* textFormat = formats_[static_cast<std::size_t>(format)];
  textFormat->SetTextAlignment(textAlignment(align));
  textFormat->SetParagraphAlignment(paragraphAlignment(paragraph));
  target_.DrawText(reinterpret_cast<const wchar_t*>(text.data()), static_cast<UINT32>(text.size()), textFormat,
                   rectOf(rect), paint, D2D1_DRAW_TEXT_OPTIONS_NONE, DWRITE_MEASURING_MODE_NATURAL);
}

}  // namespace tessivo
