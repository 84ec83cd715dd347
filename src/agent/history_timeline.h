// When each item of the program's chart history was recorded and whether with the agent's
// counts, so that an agent's history can be taken in as the program's own past: the
// minutes from before the program started, those it did not record (it was stopped, say),
// and those it recorded while the agent was away (this user's /proc only) are filled from
// the agent's where the agent has them. Everything the program recorded with the agent's
// counts stays as it is, and the agent's history is only read.
#pragma once

#include <cstdint>
#include <deque>

#include "agent/agent_system.h"
#include "chart/speed_chart.h"

namespace tessivo {

class HistoryTimeline {
 public:
  // After every refresh, which records one live sample and perhaps closes a minute: the
  // refresh's clock (the agent's CLOCK_MONOTONIC) and whether its counts were the agent's.
  void recorded(const SpeedChart& chart, std::uint64_t nowMs, bool fromAgent);

  // Takes the agent's history into the chart, the live samples only when the agent refreshes
  // at the chart's interval. Items older than the chart's capacities go, as they would have,
  // and so do those from before the chart's history was last cleared (a new interval).
  // True when the chart changed.
  bool merge(SpeedChart& chart, const HistoryCopy& copy);

  // The minute samples at the oldest end that began before the program's first refresh, and
  // the clock at which the oldest of them began.
  std::size_t minutesBeforeStart() const;
  std::uint64_t oldestMinuteStartMs() const { return minutes_.empty() ? 0 : minutes_.front().startMs; }

  struct Stamp {
    std::uint64_t startMs = 0;
    std::uint64_t endMs = 0;
    bool complete = true;  // every refresh of it had the agent's counts
  };
  const std::deque<Stamp>& minuteStamps() const { return minutes_; }

 private:
  // Items leave the chart's queues only at the oldest end or all at once.
  void sync(const SpeedChart& chart);

  std::deque<Stamp> live_;     // parallel to the chart's live samples
  std::deque<Stamp> minutes_;  // parallel to its minute samples
  Stamp filling_;              // the minute being filled
  std::uint64_t startMs_ = 0;  // the program's first refresh began
  std::uint64_t lastMs_ = 0;   // its latest refresh
  std::uint64_t floorMs_ = 0;  // the history was last cleared then
  bool started_ = false;
};

}  // namespace tessivo
