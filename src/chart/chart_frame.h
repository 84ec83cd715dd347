// Per-frame values of a chart drawing: the plot rectangle, the stretch of the shown
// queue that is drawn, and the vertical scale. Computed once at the start of a frame.
#pragma once

#include <cstdint>

namespace tessivo {

class SpeedChart;

inline constexpr float kPlotLeft = 64.0f;
inline constexpr float kPlotTop = 26.0f;

struct FrameGeometry {
  float width = 0, height = 0;  // the target's size
  float plotLeft = kPlotLeft, plotTop = kPlotTop;
  float plotRight = 0, plotBottom = 0;  // not clamped
  float plotWidth = 1, plotHeight = 1;  // at least one pixel
  float span = 2;                       // max(viewSpan, 2)
  std::int32_t itemCount = 0;
  float newest = 0;     // index of the newest item, 0 when the queue is empty
  float leftIndex = 0;  // the fractional index on the plot's left edge
  std::int32_t firstDrawn = 0;
  std::int32_t lastDrawn = -1;  // -1 when the queue is empty
  float itemSeconds = 0;
  std::uint64_t peak = 0;  // largest read or write speed of the drawn items
  std::uint64_t scaleMax = 2000;

  static FrameGeometry compute(const SpeedChart& chart, float targetWidth, float targetHeight);

  float x(std::int32_t index) const;
  float y(std::uint64_t speed) const;
  std::int32_t drawnCount() const { return lastDrawn - firstDrawn + 1; }
};

// The smallest 1, 2 or 5 times a power of ten that is at least max(peak, 1024);
// the largest value that fits when that would not.
std::uint64_t chartScaleMax(std::uint64_t peak);

}  // namespace tessivo
