// The chart's rate history, its view state and the mouse operations that change it.
#include "chart/speed_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace tessivo {

namespace {

constexpr std::int32_t kMinIntervalMs = 50;
constexpr std::int32_t kMaxIntervalMs = 10000;
constexpr std::int32_t kDefaultIntervalMs = 333;
constexpr std::int32_t kMinRetentionHours = 1;
constexpr std::int32_t kMaxRetentionHours = 720;
constexpr std::size_t kMaxContributors = 10;

// Plot margins of the chart window, in pixels.
constexpr std::int32_t kPlotLeft = 64;
constexpr std::int32_t kPlotRightMargin = 16;

// Speeds never come near 2^64 in practice, but a wrapped sum would put a
// near-idle name first, so the ranking saturates instead.
std::uint64_t rankOf(std::uint64_t read, std::uint64_t write) {
  const std::uint64_t sum = read + write;
  return sum < read ? std::numeric_limits<std::uint64_t>::max() : sum;
}

bool isKnownRange(ChartRange range) {
  switch (range) {
    case ChartRange::Live:
    case ChartRange::Hour1:
    case ChartRange::Hour24:
    case ChartRange::Full:
      return true;
  }
  return false;
}

}  // namespace

// ---- rate history ----

void SpeedChart::releaseNames(const ChartSample& sample) {
  for (const Contributor& c : sample.contributors) names.release(c.nameId);
}

void SpeedChart::trimQueue(SampleQueue& queue, std::uint64_t capacity) {
  while (queue.size() > capacity) {
    releaseNames(queue.front());
    queue.pop_front();
  }
  queue.setLimit(static_cast<std::size_t>(std::min<std::uint64_t>(capacity, SIZE_MAX - 1)));
}

void SpeedChart::clearHistory() {
  for (const ChartSample& s : liveSamples) releaseNames(s);
  for (const ChartSample& s : minuteSamples) releaseNames(s);
  for (const MinuteAccumulator::Sums& sums : minuteAccumulator.nameSums) names.release(sums.nameId);
  liveSamples = SampleQueue{};
  minuteSamples = SampleQueue{};
  minuteAccumulator = MinuteAccumulator{};
  ranked_ = std::vector<Ranked>();
  compactNames();
}

void SpeedChart::compactNames() {
  // Below half full the pool is built anew; the cost is one lookup per stored contributor.
  if (names.idCount() < 64 || names.liveNames() * 2 >= names.idCount()) return;
  NamePool fresh;
  for (SampleQueue* queue : {&liveSamples, &minuteSamples})
    for (ChartSample& s : *queue)
      for (Contributor& c : s.contributors) c.nameId = fresh.intern(names.name(c.nameId));
  MinuteAccumulator& acc = minuteAccumulator;
  for (MinuteAccumulator::Sums& sums : acc.nameSums) sums.nameId = fresh.intern(names.name(sums.nameId));
  acc.slotOf = std::vector<std::uint32_t>(fresh.idCount(), 0);
  for (std::size_t i = 0; i < acc.nameSums.size(); ++i)
    acc.slotOf[acc.nameSums[i].nameId] = static_cast<std::uint32_t>(i + 1);
  names = std::move(fresh);
  ranked_ = std::vector<Ranked>();
}

bool SpeedChart::closeMinuteIfDue() {
  MinuteAccumulator& acc = minuteAccumulator;
  if (acc.tickCount < ticksPerMinute) return false;

  const auto n = static_cast<std::uint64_t>(acc.tickCount);
  // Every name is averaged over the whole minute, not over the refreshes it appeared in.
  ranked_.clear();
  for (const MinuteAccumulator::Sums& sums : acc.nameSums)
    ranked_.push_back({sums.nameId, sums.readSum / n, sums.writeSum / n});

  // Equal sums are ordered by name so that which names survive the cut does not
  // depend on the order the names came in.
  const auto larger = [this](const Ranked& a, const Ranked& b) {
    const std::uint64_t ra = rankOf(a.readRate, a.writeRate);
    const std::uint64_t rb = rankOf(b.readRate, b.writeRate);
    if (ra != rb) return ra > rb;
    return names.name(a.nameId) < names.name(b.nameId);
  };
  const std::size_t kept = std::min(ranked_.size(), kMaxContributors);
  std::partial_sort(ranked_.begin(), ranked_.begin() + static_cast<std::ptrdiff_t>(kept), ranked_.end(), larger);

  ChartSample& minute = minuteSamples.emplace_back();
  minute.readRate = acc.readSum / n;
  minute.writeRate = acc.writeSum / n;
  for (std::size_t i = 0; i < kept; ++i) {
    names.retain(ranked_[i].nameId);
    minute.contributors.push_back({ranked_[i].nameId, ranked_[i].readRate, ranked_[i].writeRate});
  }
  // The new item holds its names now, so the accumulator's references can go first.
  for (const MinuteAccumulator::Sums& sums : acc.nameSums) {
    acc.slotOf[sums.nameId] = 0;
    names.release(sums.nameId);
  }
  acc.nameSums.clear();
  trimQueue(minuteSamples, minuteCapacity);

  acc.tickCount = 0;
  acc.readSum = 0;
  acc.writeSum = 0;
  return true;
}

void SpeedChart::recordSample(std::uint64_t totalRead, std::uint64_t totalWrite, std::span<const NameRate> topList) {
  // An item names at most ten contributors; a longer list (largest first) is cut
  // rather than letting the history's memory grow with it.
  topList = topList.first(std::min(topList.size(), kMaxContributors));

  // The live item takes its references before the minute closing below drops any, so a
  // name in both never leaves the pool in between.
  ChartSample& live = liveSamples.emplace_back();
  live.readRate = totalRead;
  live.writeRate = totalWrite;
  for (const NameRate& entry : topList)
    live.contributors.push_back({names.intern(entry.name), entry.readRate, entry.writeRate});

  MinuteAccumulator& acc = minuteAccumulator;
  acc.tickCount += 1;
  acc.readSum += totalRead;
  acc.writeSum += totalWrite;
  for (const Contributor& c : live.contributors) {
    if (c.nameId >= acc.slotOf.size()) acc.slotOf.resize(names.idCount(), 0);
    std::uint32_t& slot = acc.slotOf[c.nameId];
    if (slot == 0) {
      names.retain(c.nameId);
      acc.nameSums.push_back({c.nameId, 0, 0});
      slot = static_cast<std::uint32_t>(acc.nameSums.size());
    }
    acc.nameSums[slot - 1].readSum += c.readRate;
    acc.nameSums[slot - 1].writeSum += c.writeRate;
  }

  const bool closedMinute = closeMinuteIfDue();
  trimQueue(liveSamples, liveCapacity);

  // An altered view moves its pan with every new item so the same items stay on screen.
  if (viewAltered) {
    const bool newItem = rangeMode == ChartRange::Live ? liveSamples.size() > 1
                                                       : closedMinute && minuteSamples.size() > 1;
    if (newItem) viewPan = clampPan(viewPan + 1.0f);
  }
  repaint();
}

void SpeedChart::setSampleInterval(std::int32_t intervalMs) {
  const std::int32_t clamped = std::clamp(intervalMs, kMinIntervalMs, kMaxIntervalMs);
  if (clamped == sampleIntervalMs) return;
  sampleIntervalMs = clamped;
  recomputeCapacities();
  // Items carry no time of their own: after a change of interval their positions
  // would lie about their age, so the history starts over.
  clearHistory();
  hoverActive = false;
  resetView();
  repaint();
}

void SpeedChart::setRetentionHours(std::int32_t hours) {
  const std::int32_t clamped = std::clamp(hours, kMinRetentionHours, kMaxRetentionHours);
  if (clamped == retentionHours) return;
  retentionHours = clamped;
  recomputeCapacities();
  trimQueue(minuteSamples, minuteCapacity);
  compactNames();
  resetView();
  repaint();
}

void SpeedChart::recomputeCapacities() {
  if (sampleIntervalMs <= 0) sampleIntervalMs = kDefaultIntervalMs;
  liveCapacity = std::max<std::uint64_t>(16, static_cast<std::uint64_t>(80000 / sampleIntervalMs));
  ticksPerMinute = std::max<std::int32_t>(1, 60000 / sampleIntervalMs);
  // A negative retention written straight into the member must not become a huge capacity.
  minuteCapacity = static_cast<std::uint64_t>(std::max(retentionHours, 0)) * 3600 / 60;
  trimQueue(liveSamples, liveCapacity);
}

// ---- view state ----

void SpeedChart::setRange(ChartRange range) {
  if (range == rangeMode || !isKnownRange(range)) return;
  rangeMode = range;
  hoverActive = false;
  resetView();
  repaint();
}

void SpeedChart::resetView() {
  viewSpan = defaultSpan();
  viewPan = 0.0f;
  viewAltered = false;
}

float SpeedChart::defaultSpan() const {
  switch (rangeMode) {
    case ChartRange::Live:
      return static_cast<float>(liveCapacity);
    case ChartRange::Hour1:
      return 60.0f;
    case ChartRange::Hour24:
      return 1440.0f;
    case ChartRange::Full:
      return static_cast<float>(minuteCapacity);
  }
  return static_cast<float>(liveCapacity);
}

float SpeedChart::clampPan(float proposedPan) const { return std::min(proposedPan, maxPan()); }

const SampleQueue& SpeedChart::shownQueue() const {
  return rangeMode == ChartRange::Live ? liveSamples : minuteSamples;
}

std::int32_t SpeedChart::itemCount() const { return static_cast<std::int32_t>(shownQueue().size()); }

float SpeedChart::itemSeconds() const {
  return rangeMode == ChartRange::Live ? static_cast<float>(sampleIntervalMs) / 1000.0f : 60.0f;
}

float SpeedChart::effectiveSpan() const { return std::max(viewSpan, 2.0f); }

float SpeedChart::maxSpan() const {
  return static_cast<float>(rangeMode == ChartRange::Live ? liveCapacity : minuteCapacity);
}

float SpeedChart::maxPan() const {
  const std::int32_t count = itemCount();
  if (count <= 1) return 0.0f;
  return std::max(0.0f, static_cast<float>(count) - effectiveSpan());
}

float SpeedChart::rightIndex() const {
  const std::int32_t count = itemCount();
  return static_cast<float>(count > 0 ? count - 1 : 0) - viewPan;
}

float SpeedChart::leftIndex() const { return rightIndex() - (effectiveSpan() - 1.0f); }

// ---- mouse ----

bool SpeedChart::mouseMove(std::int32_t x, std::int32_t y, std::int32_t clientWidth) {
  bool requestLeave = false;
  if (dragging) {
    const std::int32_t dx = x - dragStartX;
    const float span = effectiveSpan();
    const float plotWidth = static_cast<float>(std::max(clientWidth - kPlotLeft - kPlotRightMargin, 1));
    const float proposed = static_cast<float>(dx) * (span - 1.0f) / plotWidth + dragStartPan;
    viewPan = std::max(0.0f, clampPan(proposed));
    viewAltered = true;
    hoverActive = false;
  } else {
    hoverX = x;
    hoverY = y;
    hoverActive = true;
    if (!leaveTracking) {
      leaveTracking = true;
      requestLeave = true;
    }
  }
  repaint();
  return requestLeave;
}

void SpeedChart::buttonDown(std::int32_t x, std::int32_t y) {
  dragStartX = x;
  dragStartY = y;
  dragStartPan = viewPan;
  dragging = true;
}

bool SpeedChart::buttonUp() {
  if (!dragging) return false;
  dragging = false;
  return true;
}

void SpeedChart::doubleClick() {
  resetView();
  repaint();
}

void SpeedChart::mouseLeave() {
  hoverActive = false;
  leaveTracking = false;
  repaint();
}

void SpeedChart::captureLost() { dragging = false; }

void SpeedChart::zoomAt(std::int32_t x, std::int32_t wheelDelta, std::int32_t clientWidth) {
  const std::int32_t plotRight = clientWidth - kPlotRightMargin;
  const std::int32_t plotWidth = std::max(clientWidth - kPlotRightMargin - kPlotLeft, 1);
  // In a window narrower than its margins the plot has no inside; the fraction is
  // kept within the plot so the anchor stays on the visible stretch.
  const float f = std::clamp(
      static_cast<float>(std::min(plotRight, std::max(kPlotLeft, x)) - kPlotLeft) / static_cast<float>(plotWidth),
      0.0f, 1.0f);

  const float span = effectiveSpan();
  const std::int32_t count = itemCount();
  const float newest = static_cast<float>(count > 0 ? count - 1 : 0);
  const float anchor = (newest - viewPan - span + 1.0f) + (span - 1.0f) * f;

  const float factor = wheelDelta > 0 ? 0.8f : 1.25f;
  const float newSpan = std::min(maxSpan(), std::max(2.0f, factor * span));
  const float newRight = anchor - (newSpan - 1.0f) * f + (newSpan - 1.0f);

  viewSpan = newSpan;
  viewPan = std::max(0.0f, clampPan(newest - newRight));
  viewAltered = std::fabs(viewPan) > 0.5f || std::fabs(newSpan - defaultSpan()) > 0.5f;
  repaint();
}

void SpeedChart::repaint() const {
  if (surface != nullptr) surface->requestRepaint();
}

}  // namespace tessivo
