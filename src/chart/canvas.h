// What a chart frame is drawn on. The core names brushes and text formats; each
// shell maps them to its own objects (Direct2D brushes and DirectWrite formats on
// Windows), and tests record the operations.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tessivo {

struct Rgba {
  std::uint8_t r, g, b, a;
  friend bool operator==(const Rgba&, const Rgba&) = default;
};

struct PointF {
  float x = 0, y = 0;
  friend bool operator==(const PointF&, const PointF&) = default;
};

struct RectF {
  float left = 0, top = 0, right = 0, bottom = 0;
  friend bool operator==(const RectF&, const RectF&) = default;
};

// The chart's twelve solid brushes, in the order the device resources create them.
enum class Brush : std::uint8_t {
  Grid, Text, ReadLine, WriteLine, ReadFill, WriteFill,
  BarTrack, Panel, PanelBorder, TableText, Hint, HoverLine,
};
inline constexpr int kBrushCount = 12;

constexpr Rgba brushColour(Brush b) noexcept {
  switch (b) {
    case Brush::Grid: return {60, 60, 70, 180};
    case Brush::Text: return {200, 200, 210, 255};
    case Brush::ReadLine: return {80, 170, 255, 255};
    case Brush::WriteLine: return {255, 120, 120, 255};
    case Brush::ReadFill: return {80, 170, 255, 60};
    case Brush::WriteFill: return {255, 120, 120, 60};
    case Brush::BarTrack: return {70, 70, 84, 160};
    case Brush::Panel: return {30, 30, 38, 235};
    case Brush::PanelBorder: return {120, 120, 140, 255};
    case Brush::TableText: return {230, 230, 240, 255};
    case Brush::Hint: return {160, 160, 180, 255};
    case Brush::HoverLine: return {180, 180, 200, 200};
  }
  return {0, 0, 0, 0};
}

inline constexpr Rgba kChartBackground{24, 24, 28, 255};

// The chart's four text formats.
enum class TextFormat : std::uint8_t { Label, Header, Mono, TableHead };
inline constexpr int kTextFormatCount = 4;

struct TextFormatSpec {
  const char16_t* family;
  int weight;     // 400 normal, 600 semi-bold
  float size;     // device-independent pixels
};

constexpr TextFormatSpec textFormatSpec(TextFormat f) noexcept {
  switch (f) {
    case TextFormat::Label: return {u"Microsoft YaHei UI", 400, 12.0f};
    case TextFormat::Header: return {u"Microsoft YaHei UI", 600, 13.0f};
    case TextFormat::Mono: return {u"Consolas", 400, 12.0f};
    case TextFormat::TableHead: return {u"Microsoft YaHei UI", 600, 12.0f};
  }
  return {u"", 400, 12.0f};
}

enum class TextAlign : std::uint8_t { Leading, Trailing, Center };
enum class ParagraphAlign : std::uint8_t { Near, Far, Center };

class Canvas {
 public:
  virtual ~Canvas() = default;

  virtual void clear(Rgba colour) = 0;
  virtual void line(PointF from, PointF to, Brush brush, float strokeWidth) = 0;
  virtual void fillRect(RectF rect, Brush brush) = 0;
  virtual void fillRoundedRect(RectF rect, float radiusX, float radiusY, Brush brush) = 0;
  virtual void strokeRoundedRect(RectF rect, float radiusX, float radiusY, Brush brush,
                                 float strokeWidth) = 0;
  virtual void fillCircle(PointF centre, float radius, Brush brush) = 0;
  // A closed, filled figure through the points. False when the path could not be made.
  virtual bool fillPolygon(std::span<const PointF> points, Brush brush) = 0;
  // An open, hollow figure through the points. False when the path could not be made.
  virtual bool strokePolyline(std::span<const PointF> points, Brush brush, float strokeWidth) = 0;
  // Whether text in this format can be drawn; texts of a missing format are skipped.
  virtual bool hasFormat(TextFormat format) const = 0;
  // Text in a layout rectangle; the alignments are set on the format just before drawing.
  virtual void text(std::u16string_view text, TextFormat format, TextAlign align,
                    ParagraphAlign paragraph, RectF rect, Brush brush) = 0;
};

}  // namespace tessivo
