// The chart's history as the desktop program would keep it, kept by the agent from its own
// snapshots for both byte sources, so that a desktop program shows what happened before it
// was started. Each source has its own tracker and chart, fed one refresh at a time exactly
// as the program's refresh feeds its own; the agent adds the clock of every item and numbers
// the items, so that a client can ask for the ones after those it has. Memory only.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "agent/agent_protocol.h"
#include "chart/speed_chart.h"
#include "procfs/proc_system.h"
#include "sampling/io_tracker.h"
#include "sampling/top_list.h"

namespace tessivo {

class AgentHistory {
 public:
  static constexpr std::int32_t kDefaultRetentionHours = 72;

  // The interval is clamped as the program's chart clamps it; refreshes are due every
  // intervalMs() of the agent's clock.
  AgentHistory(std::uint32_t intervalMs, std::int32_t retentionHours);

  // One refresh over a snapshot: samples with both sources' counters index-aligned, and the
  // clock of the snapshot. The samples' counters are put back as they were.
  void record(std::vector<ProcessSample>& samples, std::span<const ProcCounters> counters, std::uint64_t nowMs);

  // Appends one HistoryReply frame: at most kMaxHistoryItems of the items after `after`.
  void encode(ProcByteSource source, agent::HistorySeries series, std::uint64_t after, std::string& out);

  std::uint32_t intervalMs() const { return static_cast<std::uint32_t>(sources_[0].chart.sampleIntervalMs); }
  const SpeedChart& chart(ProcByteSource source) const { return of(source).chart; }
  // The clock of the item at index (0 = oldest) of a series, and the number of the newest.
  std::uint64_t endMs(ProcByteSource source, agent::HistorySeries series, std::size_t index) const;
  std::uint64_t newestSequence(ProcByteSource source, agent::HistorySeries series) const;

 private:
  struct Series {
    std::deque<std::uint64_t> endMs;  // parallel to the chart's queue
    std::uint64_t newest = 0;         // items recorded so far
  };
  struct Source {
    IoTracker tracker;
    SpeedChart chart;
    TopListScratch top;
    std::vector<ProcessActivity> activities;
    Series live;
    Series minutes;
  };
  Source& of(ProcByteSource source) { return sources_[source == ProcByteSource::DiskOnly ? 1 : 0]; }
  const Source& of(ProcByteSource source) const { return sources_[source == ProcByteSource::DiskOnly ? 1 : 0]; }

  std::array<Source, 2> sources_;
  agent::HistoryChunk chunk_;            // reused by encode
  std::vector<std::uint32_t> nameSlot_;  // per pool id: its index in chunk_.names + 1
};

}  // namespace tessivo
