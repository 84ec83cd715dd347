// PLACEHOLDER: minimal bodies so the tree links; replaced by the real chart model.
#include "chart/speed_chart.h"

namespace tessivo {

void SpeedChart::recordSample(std::uint64_t totalRead, std::uint64_t totalWrite,
                              std::vector<NameRate> topList) {
  ChartSample s{totalRead, totalWrite, {}};
  for (const NameRate& n : topList) s.contributors.push_back({names.intern(n.name), n.readRate, n.writeRate});
  liveSamples.push_back(std::move(s));
  while (liveSamples.size() > liveCapacity) {
    for (const Contributor& c : liveSamples.front().contributors) names.release(c.nameId);
    liveSamples.pop_front();
  }
  repaint();
}
void SpeedChart::setRange(ChartRange range) { rangeMode = range; }
void SpeedChart::setSampleInterval(std::int32_t intervalMs) { sampleIntervalMs = intervalMs; }
void SpeedChart::setRetentionHours(std::int32_t hours) { retentionHours = hours; }
void SpeedChart::recomputeCapacities() {}
void SpeedChart::resetView() {}
float SpeedChart::defaultSpan() const { return 240.0f; }
float SpeedChart::clampPan(float p) const { return p; }
const std::deque<ChartSample>& SpeedChart::shownQueue() const { return liveSamples; }
std::int32_t SpeedChart::itemCount() const { return static_cast<std::int32_t>(liveSamples.size()); }
float SpeedChart::itemSeconds() const { return 0.333f; }
float SpeedChart::effectiveSpan() const { return viewSpan; }
float SpeedChart::maxSpan() const { return 240.0f; }
float SpeedChart::maxPan() const { return 0.0f; }
float SpeedChart::rightIndex() const { return 0.0f; }
float SpeedChart::leftIndex() const { return 0.0f; }
bool SpeedChart::mouseMove(std::int32_t, std::int32_t, std::int32_t) { return false; }
void SpeedChart::buttonDown(std::int32_t, std::int32_t) {}
bool SpeedChart::buttonUp() { return false; }
void SpeedChart::doubleClick() {}
void SpeedChart::mouseLeave() {}
void SpeedChart::captureLost() {}
void SpeedChart::zoomAt(std::int32_t, std::int32_t, std::int32_t) {}
void SpeedChart::repaint() const {
  if (surface != nullptr) surface->requestRepaint();
}

}  // namespace tessivo
