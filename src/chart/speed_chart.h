// The speed chart: the rate history, the view state that picks which stretch of it
// is shown, and the operations through which refreshes, menus and the mouse change it.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "chart/canvas.h"
#include "chart/chart_sample.h"
#include "chart/chart_surface.h"
#include "core/types.h"

namespace tessivo {

// The minute being filled. Its names are the chart's pool names (exact, case-sensitive),
// each holding one reference while the minute lasts.
struct MinuteAccumulator {
  struct Sums {
    std::uint32_t nameId = 0;
    std::uint64_t readSum = 0;
    std::uint64_t writeSum = 0;
  };
  std::int32_t tickCount = 0;
  std::uint64_t readSum = 0;
  std::uint64_t writeSum = 0;
  std::vector<Sums> nameSums;         // in order of first appearance
  std::vector<std::uint32_t> slotOf;  // per pool id: its nameSums index + 1, 0 for none
};

struct FrameGeometry;  // per-frame values of a drawing, see chart_frame.h

class SpeedChart {
 public:
  // ---- rate history ----
  std::int32_t sampleIntervalMs = 333;
  std::int32_t retentionHours = 72;
  std::uint64_t liveCapacity = 240;
  std::int32_t ticksPerMinute = 180;
  std::uint64_t minuteCapacity = 4320;
  SampleQueue liveSamples;    // index 0 is the oldest
  SampleQueue minuteSamples;  // index 0 is the oldest
  MinuteAccumulator minuteAccumulator;
  NamePool names;  // the contributors' names of both queues

  std::u16string_view contributorName(const Contributor& c) const { return names.name(c.nameId); }

  // ---- view state ----
  ChartRange rangeMode = ChartRange::Live;
  bool hoverActive = false;
  std::int32_t hoverX = 0;
  std::int32_t hoverY = 0;
  bool leaveTracking = false;
  float viewSpan = 240.0f;
  float viewPan = 0.0f;
  bool viewAltered = false;
  bool dragging = false;
  std::int32_t dragStartX = 0;
  std::int32_t dragStartY = 0;
  float dragStartPan = 0.0f;

  // The chart window; null while there is none, and then repainting is a no-op.
  ChartSurface* surface = nullptr;

  // ---- entry points ----
  // One refresh's totals and top list (largest first; past ten not kept).
  void recordSample(std::uint64_t totalRead, std::uint64_t totalWrite, std::span<const NameRate> topList);
  void recordSample(std::uint64_t totalRead, std::uint64_t totalWrite, std::initializer_list<NameRate> topList) {
    recordSample(totalRead, totalWrite, std::span<const NameRate>(topList.begin(), topList.size()));
  }
  void setRange(ChartRange range);
  void setSampleInterval(std::int32_t intervalMs);
  void setRetentionHours(std::int32_t hours);
  void recomputeCapacities();
  void resetView();
  float defaultSpan() const;
  float clampPan(float proposedPan) const;

  // ---- derived values ----
  const SampleQueue& shownQueue() const;
  std::int32_t itemCount() const;
  float itemSeconds() const;
  float effectiveSpan() const;  // max(viewSpan, 2)
  float maxSpan() const;
  float maxPan() const;
  float rightIndex() const;
  float leftIndex() const;

  // ---- mouse, decoded by the chart window; clientWidth is the window's client width ----
  // Returns true when the window must ask for a leave notification now.
  bool mouseMove(std::int32_t x, std::int32_t y, std::int32_t clientWidth);
  void buttonDown(std::int32_t x, std::int32_t y);  // the window also captures the mouse
  bool buttonUp();                                  // true when a drag ended (release capture)
  void doubleClick();
  void mouseLeave();
  void captureLost();
  void zoomAt(std::int32_t x, std::int32_t wheelDelta, std::int32_t clientWidth);

  // ---- drawing (chart_frame.cpp) ----
  void paint(Canvas& canvas, float width, float height) const;
  void drawSeries(Canvas& canvas, bool read, const FrameGeometry& frame) const;
  void drawHeader(Canvas& canvas, float left, float right, const FrameGeometry& frame) const;
  void drawSharePanel(Canvas& canvas, std::int32_t index, float left, float top, float right,
                      float bottom) const;

 private:
  void repaint() const;
  // History helpers: every sample that leaves a queue gives its names back to the pool.
  void releaseNames(const ChartSample& sample);
  void trimQueue(SampleQueue& queue, std::uint64_t capacity);
  void clearHistory();
  bool closeMinuteIfDue();  // true when this refresh closed a minute sample
  // After a clear or trim has left most pool ids free: a pool of only the live names.
  void compactNames();

  struct Ranked {
    std::uint32_t nameId;
    std::uint64_t readRate;
    std::uint64_t writeRate;
  };
  std::vector<Ranked> ranked_;  // reused by closeMinuteIfDue
};

}  // namespace tessivo
