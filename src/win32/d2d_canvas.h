// A chart frame drawn with Direct2D: the core's brushes and text formats mapped onto the
// chart window's solid colour brushes and DirectWrite formats.
#pragma once

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>
#include <wrl/client.h>

#include <array>
#include <vector>

#include "chart/canvas.h"

namespace tessivo {

using BrushTable = std::array<ID2D1SolidColorBrush*, kBrushCount>;
using FormatTable = std::array<IDWriteTextFormat*, kTextFormatCount>;
// In Brush order: grid, text, read line, write line, read fill, write fill, bar track, panel,
// panel border, table text, hint, hover line.
using OwnedBrushes = std::array<Microsoft::WRL::ComPtr<ID2D1SolidColorBrush>, kBrushCount>;
// In TextFormat order: label, header, mono, table head.
using OwnedFormats = std::array<Microsoft::WRL::ComPtr<IDWriteTextFormat>, kTextFormatCount>;

// The chart's twelve brushes on `target`, in their order; one that fails stays null.
void createChartBrushes(ID2D1RenderTarget& target, OwnedBrushes& brushes);
// The chart's four text formats; one that fails stays null.
void createChartTextFormats(IDWriteFactory& factory, OwnedFormats& formats);
BrushTable borrow(const OwnedBrushes& brushes);
FormatTable borrow(const OwnedFormats& formats);

// Borrows everything it draws with for the length of one frame, between BeginDraw and EndDraw.
// A brush or format that could not be created is null: what needs it is not drawn.
class D2dCanvas final : public Canvas {
 public:
  D2dCanvas(ID2D1RenderTarget& target, ID2D1Factory& factory, const BrushTable& brushes,
            const FormatTable& formats)
      : target_(target), factory_(factory), brushes_(brushes), formats_(formats) {}

  void clear(Rgba colour) override;
  void line(PointF from, PointF to, Brush brush, float strokeWidth) override;
  void fillRect(RectF rect, Brush brush) override;
  void fillRoundedRect(RectF rect, float radiusX, float radiusY, Brush brush) override;
  void strokeRoundedRect(RectF rect, float radiusX, float radiusY, Brush brush, float strokeWidth) override;
  void fillCircle(PointF centre, float radius, Brush brush) override;
  bool fillPolygon(std::span<const PointF> points, Brush brush) override;
  bool strokePolyline(std::span<const PointF> points, Brush brush, float strokeWidth) override;
  bool hasFormat(TextFormat format) const override;
  void text(std::u16string_view text, TextFormat format, TextAlign align, ParagraphAlign paragraph,
            RectF rect, Brush brush) override;

 private:
  ID2D1SolidColorBrush* brush(Brush b) const;
  // A path through the points, filled and closed or hollow and open; null on any failure.
  ID2D1PathGeometry* makePath(std::span<const PointF> points, bool closedFilled);

  ID2D1RenderTarget& target_;
  ID2D1Factory& factory_;
  const BrushTable& brushes_;
  const FormatTable& formats_;
  std::vector<D2D1_POINT_2F> points_;  // reused by every path of the frame
};

}  // namespace tessivo
