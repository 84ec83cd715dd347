// The chart window as the chart model sees it.
#pragma once

namespace tessivo {

class ChartSurface {
 public:
  virtual ~ChartSurface() = default;
  // Invalidates the whole chart window without erasing.
  virtual void requestRepaint() = 0;
};

}  // namespace tessivo
