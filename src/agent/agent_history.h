// The chart's history as the desktop program would keep it, kept by the agent from its own
// snapshots for both byte sources, so that a desktop program shows what happened before it
// was started. Each source has its own tracker and chart, fed one refresh at a time exactly
// as the program's refresh feeds its own; each minute the chart closes moves to a compact
// store. The agent adds the clock of every item and numbers the items, so that a client can
// ask for the ones after those it has. Memory only.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

#include "agent/agent_protocol.h"
#include "agent/minute_store.h"
#include "chart/speed_chart.h"
#include "procfs/proc_system.h"
#include "sampling/io_tracker.h"
#include "sampling/top_list.h"

namespace tessivo {

class AgentHistory {
 public:
  // The interval is clamped as the program's chart clamps it; refreshes are due every
  // intervalMs() of the agent's clock. Retention in hours, 1 to 720.
  AgentHistory(std::uint32_t intervalMs, std::int32_t retentionHours);

  // One refresh over a snapshot: samples with both sources' counters index-aligned, and the
  // clock of the snapshot. The samples' counters are put back as they were.
  void record(std::vector<ProcessSample>& samples, std::span<const ProcCounters> counters, std::uint64_t nowMs);

  // Appends one HistoryReply frame: at most kMaxHistoryItems of the items after `after`.
  void encode(ProcByteSource source, agent::HistorySeries series, std::uint64_t after, std::string& out);

  std::uint32_t intervalMs() const { return static_cast<std::uint32_t>(sources_[0].chart.sampleIntervalMs); }
  // The items held of a series, and the one at index (0 = oldest) with its clock; the
  // contributors' names are in names().
  std::size_t size(ProcByteSource source, agent::HistorySeries series) const;
  std::uint64_t item(ProcByteSource source, agent::HistorySeries series, std::size_t index, ChartSample& out) const;
  std::u16string_view name(ProcByteSource source, agent::HistorySeries series, const Contributor& c) const;
  // The number of the newest item of a series (items are numbered from 1).
  std::uint64_t newestSequence(ProcByteSource source, agent::HistorySeries series) const;

 private:
  struct Source {
    explicit Source(NamePool& pool) : minutes(pool) {}
    IoTracker tracker;
    SpeedChart chart;  // its live samples are the history's; its minutes move to `minutes`
    TopListScratch top;
    std::vector<ProcessActivity> activities;
    std::deque<std::uint64_t> liveMs;  // parallel to the chart's live samples
    std::uint64_t liveNewest = 0;
    MinuteStore minutes;
    std::uint64_t minutesNewest = 0;
  };
  Source& of(ProcByteSource source) { return sources_[source == ProcByteSource::DiskOnly ? 1 : 0]; }
  const Source& of(ProcByteSource source) const { return sources_[source == ProcByteSource::DiskOnly ? 1 : 0]; }

  NamePool minuteNames_;  // the names of both sources' minutes
  std::array<Source, 2> sources_;
  agent::HistoryChunk chunk_;            // reused by encode
  std::vector<std::uint32_t> nameSlot_;  // per pool id: its index in chunk_.names + 1
};

}  // namespace tessivo
