// One frame of the speed chart, drawn on an abstract canvas: grid, scale and time
// labels, hint, read and write series, header with legend, and the hover read-out
// with its share panel.
#include "chart/chart_frame.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chart/chart_format.h"
#include "chart/speed_chart.h"

namespace tessivo {

namespace {

constexpr float kRowHeight = 18.0f;

const SampleQueue& activeQueue(const SpeedChart& chart) {
  return chart.rangeMode == ChartRange::Live ? chart.liveSamples : chart.minuteSamples;
}

std::int32_t queueCount(const SampleQueue& queue) {
  constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(std::min(queue.size(), kMax));
}

float spanOf(const SpeedChart& chart) { return std::max(chart.viewSpan, 2.0f); }

float itemSecondsOf(const SpeedChart& chart) {
  return chart.rangeMode == ChartRange::Live ? static_cast<float>(chart.sampleIntervalMs) / 1000.0f : 60.0f;
}

float newestOf(std::int32_t itemCount) {
  return itemCount > 0 ? static_cast<float>(itemCount - 1) : 0.0f;
}

// The frame and the share panel both anchor on this, so the panel's anchor and the
// cursor line coincide to the last bit.
float leftIndexOf(float newest, float pan, float span) { return newest - pan - span + 1.0f; }

// A float index as a 32-bit integer within [lo, hi]; NaN and out-of-range values
// must not reach the conversion.
std::int32_t clampToIndex(double value, std::int32_t lo, std::int32_t hi) {
  if (!(value >= lo)) return lo;
  if (value > hi) return hi;
  return static_cast<std::int32_t>(value);
}

// Speeds are unsigned 64-bit; their sum must not wrap round to a small number.
std::uint64_t saturatingSum(std::uint64_t a, std::uint64_t b) {
  const std::uint64_t sum = a + b;
  return sum < a ? std::numeric_limits<std::uint64_t>::max() : sum;
}

void drawText(Canvas& canvas, std::u16string_view text, TextFormat format, TextAlign align,
              ParagraphAlign paragraph, RectF rect, Brush brush) {
  if (canvas.hasFormat(format)) canvas.text(text, format, align, paragraph, rect, brush);
}

std::u16string_view rangeLabel(ChartRange range) {
  switch (range) {
    case ChartRange::Live: return u"实时";
    case ChartRange::Hour1: return u"1 小时";
    case ChartRange::Hour24: return u"24 小时";
    case ChartRange::Full: return u"完整";
  }
  return u"";
}

// At most 30 units; longer names keep 29 and an ellipsis. A cut never splits a
// surrogate pair, which would leave an unpaired half on screen.
std::u16string panelLabel(std::u16string_view name) {
  if (name.empty()) return kUnknownName;
  constexpr std::size_t kMaxUnits = 30;
  if (name.size() <= kMaxUnits) return std::u16string(name);
  std::size_t keep = kMaxUnits - 1;
  const char16_t last = name[keep - 1];
  if (last >= 0xD800 && last <= 0xDBFF) --keep;
  std::u16string label(name.substr(0, keep));
  label += u'…';
  return label;
}

void appendDecimal(std::u16string& out, std::size_t value) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, value);
  for (const char* p = digits; p != result.ptr; ++p) out.push_back(static_cast<char16_t>(*p));
}

}  // namespace

std::uint64_t chartScaleMax(std::uint64_t peak) {
  const std::uint64_t t = std::max<std::uint64_t>(peak, 1024);
  std::uint64_t p = 10;
  while (p <= t / 10) p *= 10;  // the largest power of ten not above t
  const std::uint64_t q = t / p + (t % p != 0 ? 1 : 0);
  const std::uint64_t multiple = q <= 1 ? 1 : q == 2 ? 2 : q <= 5 ? 5 : 10;
  // Above 10^19 the next step does not fit in 64 bits; the largest value still covers the peak.
  if (p > std::numeric_limits<std::uint64_t>::max() / multiple) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return p * multiple;
}

FrameGeometry FrameGeometry::compute(const SpeedChart& chart, float targetWidth, float targetHeight) {
  FrameGeometry g;
  g.width = targetWidth;
  g.height = targetHeight;
  g.plotRight = targetWidth - 16.0f;
  g.plotBottom = targetHeight - 30.0f;
  g.plotWidth = std::max(targetWidth - 16.0f - kPlotLeft, 1.0f);
  g.plotHeight = std::max(g.plotBottom - kPlotTop, 1.0f);
  g.span = spanOf(chart);

  const SampleQueue& queue = activeQueue(chart);
  g.itemCount = queueCount(queue);
  g.newest = newestOf(g.itemCount);
  g.leftIndex = leftIndexOf(g.newest, chart.viewPan, g.span);
  g.firstDrawn = clampToIndex(std::floor(static_cast<double>(g.leftIndex)), 0, g.itemCount);
  g.lastDrawn = g.itemCount == 0
                    ? -1
                    : clampToIndex(std::ceil(static_cast<double>(g.newest - chart.viewPan)), -1,
                                   g.itemCount - 1);
  g.itemSeconds = itemSecondsOf(chart);

  g.peak = 0;
  if (g.lastDrawn >= g.firstDrawn) {
    auto it = queue.begin() + g.firstDrawn;
    const auto end = queue.begin() + g.lastDrawn + 1;
    for (; it != end; ++it) g.peak = std::max({g.peak, it->readRate, it->writeRate});
  }
  g.scaleMax = chartScaleMax(g.peak);
  return g;
}

float FrameGeometry::x(std::int32_t index) const {
  return (static_cast<float>(index) - leftIndex) / (span - 1.0f) * plotWidth + kPlotLeft;
}

float FrameGeometry::y(std::uint64_t speed) const {
  const double ratio = std::clamp(static_cast<double>(speed) / static_cast<double>(scaleMax), 0.0, 1.0);
  return plotBottom - static_cast<float>(ratio * plotHeight);
}

void SpeedChart::paint(Canvas& canvas, float width, float height) const {
  canvas.clear(kChartBackground);
  const FrameGeometry f = FrameGeometry::compute(*this, width, height);

  for (int k = 0; k <= 4; ++k) {
    const float y = static_cast<float>(k) * f.plotHeight * 0.25f + kPlotTop;
    canvas.line({kPlotLeft, y}, {f.plotRight, y}, Brush::Grid, 1.0f);
  }
  for (int k = 0; k <= 6; ++k) {
    const float x = static_cast<float>(k) * f.plotWidth / 6.0f + kPlotLeft;
    canvas.line({x, kPlotTop}, {x, f.plotBottom}, Brush::Grid, 1.0f);
  }

  if (canvas.hasFormat(TextFormat::Label)) {
    for (int k = 0; k <= 4; ++k) {
      const float y = static_cast<float>(k) * f.plotHeight * 0.25f + kPlotTop;
      // floor(k * scaleMax / 4) without letting k * scaleMax overflow near the top of the range
      const auto uk = static_cast<std::uint64_t>(k);
      const std::uint64_t step = uk * (f.scaleMax / 4) + (uk * (f.scaleMax % 4)) / 4;
      canvas.text(formatRate(f.scaleMax - step), TextFormat::Label, TextAlign::Trailing,
                  ParagraphAlign::Center, {0.0f, y - 9.0f, 60.0f, y + 9.0f}, Brush::Text);
    }

    const float below = f.plotBottom + 4.0f;
    const float belowEnd = f.plotBottom + 24.0f;
    canvas.text(formatTimeOffset((f.span - 1.0f + viewPan) * f.itemSeconds), TextFormat::Label,
                TextAlign::Leading, ParagraphAlign::Near, {kPlotLeft, below, 184.0f, belowEnd},
                Brush::Text);
    canvas.text(formatTimeOffset(viewPan * f.itemSeconds), TextFormat::Label, TextAlign::Trailing,
                ParagraphAlign::Near, {f.plotRight - 120.0f, below, f.plotRight, belowEnd},
                Brush::Text);
    canvas.text(viewAltered ? u"滚轮：缩放   拖动：平移   双击：重置" : u"滚轮：缩放   拖动：平移",
                TextFormat::Label, TextAlign::Center, ParagraphAlign::Near,
                {184.0f, below, f.plotRight - 120.0f, belowEnd}, Brush::Hint);
  }

  drawSeries(canvas, true, f);
  drawSeries(canvas, false, f);
  drawHeader(canvas, kPlotLeft, f.plotRight, f);

  if (!hoverActive || f.itemCount == 0) return;
  const float usableWidth = width - 80.0f;
  if (!(usableWidth > 0.0f)) return;
  const float xh = std::min(f.plotRight, std::max(kPlotLeft, static_cast<float>(hoverX)));
  const float position = std::roundf((xh - kPlotLeft) / usableWidth * (f.span - 1.0f) + f.leftIndex);
  const std::int32_t hoverIndex = clampToIndex(position, 0, f.itemCount - 1);
  if (hoverIndex < f.firstDrawn || hoverIndex > f.lastDrawn) return;

  const ChartSample& item = activeQueue(*this)[static_cast<std::size_t>(hoverIndex)];
  const float x = f.x(hoverIndex);
  canvas.line({x, kPlotTop}, {x, f.plotBottom}, Brush::HoverLine, 1.0f);
  canvas.fillCircle({x, f.y(item.readRate)}, 3.5f, Brush::ReadLine);
  canvas.fillCircle({x, f.y(item.writeRate)}, 3.5f, Brush::WriteLine);
  drawSharePanel(canvas, hoverIndex, kPlotLeft, kPlotTop, f.plotRight, f.plotBottom);
}

void SpeedChart::drawSeries(Canvas& canvas, bool read, const FrameGeometry& frame) const {
  const SampleQueue& queue = activeQueue(*this);
  // A single item makes no line; a frame computed for other data must not index past the queue.
  if (frame.drawnCount() < 2 || frame.firstDrawn < 0 || frame.lastDrawn >= queueCount(queue)) return;
  const auto count = static_cast<std::size_t>(frame.drawnCount());

  // One buffer serves both figures: the area closes the line down to the plot's bottom.
  std::vector<PointF> points;
  points.reserve(count + 2);
  points.push_back({frame.x(frame.firstDrawn), frame.plotBottom});
  auto it = queue.begin() + frame.firstDrawn;
  for (std::int32_t i = frame.firstDrawn; i <= frame.lastDrawn; ++i, ++it) {
    points.push_back({frame.x(i), frame.y(read ? it->readRate : it->writeRate)});
  }
  points.push_back({frame.x(frame.lastDrawn), frame.plotBottom});

  // Without its area the series is skipped for this frame rather than drawn half.
  if (!canvas.fillPolygon(points, read ? Brush::ReadFill : Brush::WriteFill)) return;
  canvas.strokePolyline(std::span<const PointF>(points).subspan(1, count),
                        read ? Brush::ReadLine : Brush::WriteLine, 1.8f);
}

void SpeedChart::drawHeader(Canvas& canvas, float left, float right, const FrameGeometry& frame) const {
  if (canvas.hasFormat(TextFormat::Header)) {
    const SampleQueue& queue = activeQueue(*this);
    const std::uint64_t currentRead = queue.empty() ? 0 : queue.back().readRate;
    const std::uint64_t currentWrite = queue.empty() ? 0 : queue.back().writeRate;
    std::u16string header;
    header.reserve(96);
    header += u"[";
    header += rangeLabel(rangeMode);
    header += u" 跨度=";
    header += formatDuration(frame.itemSeconds * frame.span);
    header += u"]  读取: ";
    header += formatRate(currentRead);
    header += u"    写入: ";
    header += formatRate(currentWrite);
    header += u"    峰值: ";
    header += formatRate(frame.peak);
    canvas.text(header, TextFormat::Header, TextAlign::Leading, ParagraphAlign::Center,
                {left, 2.0f, right - 180.0f, 26.0f}, Brush::Text);
  }

  const float x0 = right - 170.0f;
  canvas.fillRect({x0, 8.0f, x0 + 14.0f, 18.0f}, Brush::ReadLine);
  drawText(canvas, u"读取", TextFormat::Label, TextAlign::Leading, ParagraphAlign::Near,
           {x0 + 18.0f, 4.0f, x0 + 70.0f, 22.0f}, Brush::Text);
  const float x1 = x0 + 80.0f;
  canvas.fillRect({x1, 8.0f, x1 + 14.0f, 18.0f}, Brush::WriteLine);
  drawText(canvas, u"写入", TextFormat::Label, TextAlign::Leading, ParagraphAlign::Near,
           {x1 + 18.0f, 4.0f, x1 + 70.0f, 22.0f}, Brush::Text);
}

void SpeedChart::drawSharePanel(Canvas& canvas, std::int32_t index, float left, float top, float right,
                                float bottom) const {
  const SampleQueue& queue = activeQueue(*this);
  const std::int32_t itemCount = queueCount(queue);
  if (index < 0 || index >= itemCount) return;
  const ChartSample& item = queue[static_cast<std::size_t>(index)];
  const std::size_t n = item.contributors.size();

  const float span = spanOf(*this);
  const float leftIndex = leftIndexOf(newestOf(itemCount), viewPan, span);
  const float plotWidth = right - left;
  const float anchorX = (static_cast<float>(index) - leftIndex) / (span - 1.0f) * plotWidth + left;
  const float panelWidth = std::min(std::max(plotWidth - 8.0f, 120.0f), 520.0f);
  const float availableHeight = std::max(bottom - top - 8.0f, 60.0f);
  const double fitting = std::trunc((availableHeight - 20.0f - 4.0f) / kRowHeight);
  const std::size_t fittingLines =
      fitting >= 5.0 ? static_cast<std::size_t>(std::min(fitting, 1.0e6)) : std::size_t{5};
  const std::size_t shownRows = std::min(n, fittingLines - 4);
  const std::size_t lineCount = n == 0 ? 5 : shownRows + 4;
  const float panelHeight = static_cast<float>(lineCount) * kRowHeight + 20.0f + 4.0f;

  float px = anchorX + 12.0f;
  if (px + panelWidth > right - 4.0f) px = anchorX - panelWidth - 12.0f;
  if (px + panelWidth > right - 4.0f) px = right - 4.0f - panelWidth;
  px = std::max(left + 4.0f, px);
  float py = top + 6.0f;
  if (py + panelHeight > bottom - 4.0f) py = bottom - 4.0f - panelHeight;
  py = std::max(top + 4.0f, py);

  const RectF panel{px, py, px + panelWidth, py + panelHeight};
  canvas.fillRoundedRect(panel, 6.0f, 6.0f, Brush::Panel);
  canvas.strokeRoundedRect(panel, 6.0f, 6.0f, Brush::PanelBorder, 1.0f);

  const float nameLeft = px + 10.0f, nameRight = px + 224.0f;
  const float readLeft = px + 230.0f, readRight = px + 314.0f;
  const float writeLeft = px + 322.0f, writeRight = px + 406.0f;
  const float barLeft = px + 414.0f;
  const float innerRight = px + panelWidth - 10.0f;
  const float barWidth = innerRight - barLeft;  // none at all on a plot of 432 or less

  const float y = py + 10.0f;
  if (canvas.hasFormat(TextFormat::TableHead)) {
    const float age = static_cast<float>(itemCount - 1 - index) * itemSecondsOf(*this);
    std::u16string total = u"合计  ";
    total += formatTimeOffset(age);
    canvas.text(total, TextFormat::TableHead, TextAlign::Leading,
                ParagraphAlign::Near, {nameLeft, y, nameRight, y + kRowHeight}, Brush::TableText);
  }
  if (canvas.hasFormat(TextFormat::Mono)) {
    canvas.text(formatRate(item.readRate), TextFormat::Mono, TextAlign::Leading, ParagraphAlign::Near,
                {readLeft, y, readRight, y + kRowHeight}, Brush::TableText);
    canvas.text(formatRate(item.writeRate), TextFormat::Mono, TextAlign::Leading, ParagraphAlign::Near,
                {writeLeft, y, writeRight, y + kRowHeight}, Brush::TableText);
  }
  const std::uint64_t itemTotal = saturatingSum(item.readRate, item.writeRate);
  if (itemTotal > 0 && barWidth > 0.0f) {
    const float readEnd =
        barLeft + static_cast<float>(item.readRate) / static_cast<float>(itemTotal) * barWidth;
    canvas.fillRect({barLeft, y + 5.0f, innerRight, y + 13.0f}, Brush::BarTrack);
    canvas.fillRect({barLeft, y + 5.0f, readEnd, y + 13.0f}, Brush::ReadLine);
    canvas.fillRect({readEnd, y + 5.0f, innerRight, y + 13.0f}, Brush::WriteLine);
  }

  const float headY = y + kRowHeight;
  const float headBottom = headY + kRowHeight;
  drawText(canvas, u"进程", TextFormat::TableHead, TextAlign::Leading, ParagraphAlign::Near,
           {nameLeft, headY, nameRight, headBottom}, Brush::Hint);
  drawText(canvas, u"读取", TextFormat::TableHead, TextAlign::Leading, ParagraphAlign::Near,
           {readLeft, headY, readRight, headBottom}, Brush::Hint);
  drawText(canvas, u"写入", TextFormat::TableHead, TextAlign::Leading, ParagraphAlign::Near,
           {writeLeft, headY, writeRight, headBottom}, Brush::Hint);
  drawText(canvas, u"占比", TextFormat::TableHead, TextAlign::Leading, ParagraphAlign::Near,
           {barLeft, headY, innerRight, headBottom}, Brush::Hint);
  canvas.line({nameLeft, y + 38.0f}, {innerRight, y + 38.0f}, Brush::PanelBorder, 0.6f);

  float rowY = y + 42.0f;
  if (n == 0) {
    drawText(canvas, u"（无进程级活动记录）", TextFormat::Mono, TextAlign::Leading, ParagraphAlign::Near,
             {nameLeft, rowY, innerRight, rowY + kRowHeight}, Brush::Hint);
    return;
  }

  std::uint64_t largest = 1;  // the divisor of every bar, never 0
  for (const Contributor& c : item.contributors) largest = std::max(largest, saturatingSum(c.readRate, c.writeRate));

  const bool mono = canvas.hasFormat(TextFormat::Mono);
  const std::size_t rowsDrawn = shownRows < n ? shownRows - 1 : shownRows;
  for (std::size_t i = 0; i < rowsDrawn; ++i, rowY += kRowHeight) {
    const Contributor& c = item.contributors[i];
    if (mono) {
      canvas.text(panelLabel(contributorName(c)), TextFormat::Mono, TextAlign::Leading, ParagraphAlign::Near,
                  {nameLeft, rowY, nameRight, rowY + kRowHeight}, Brush::TableText);
      canvas.text(formatRate(c.readRate), TextFormat::Mono, TextAlign::Leading, ParagraphAlign::Near,
                  {readLeft, rowY, readRight, rowY + kRowHeight}, Brush::TableText);
      canvas.text(formatRate(c.writeRate), TextFormat::Mono, TextAlign::Leading, ParagraphAlign::Near,
                  {writeLeft, rowY, writeRight, rowY + kRowHeight}, Brush::TableText);
    }
    if (!(barWidth > 0.0f)) continue;  // no bar column: no inverted rectangles either
    canvas.fillRect({barLeft, rowY + 5.0f, innerRight, rowY + 13.0f}, Brush::BarTrack);
    const std::uint64_t total = saturatingSum(c.readRate, c.writeRate);
    if (total == 0) continue;
    const float barLength = static_cast<float>(total) / static_cast<float>(largest) * barWidth;
    const float readLength = static_cast<float>(c.readRate) / static_cast<float>(total) * barLength;
    canvas.fillRect({barLeft, rowY + 5.0f, barLeft + readLength, rowY + 13.0f}, Brush::ReadLine);
    canvas.fillRect({barLeft + readLength, rowY + 5.0f, barLeft + barLength, rowY + 13.0f}, Brush::WriteLine);
  }

  if (shownRows < n && mono) {
    std::u16string rest = u"… 其余 ";
    appendDecimal(rest, n - rowsDrawn);
    rest += u" 项";
    canvas.text(rest, TextFormat::Mono, TextAlign::Leading, ParagraphAlign::Near,
                {nameLeft, rowY, innerRight, rowY + kRowHeight}, Brush::Hint);
  }
}

}  // namespace tessivo
