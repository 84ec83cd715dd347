#include "agent/agent_history.h"

#include <algorithm>

namespace tessivo {

namespace {

void note(std::deque<std::uint64_t>& times, std::uint64_t& newest, std::uint64_t nowMs, std::size_t held) {
  times.push_back(nowMs);
  ++newest;
  while (times.size() > held) times.pop_front();
}

}  // namespace

AgentHistory::AgentHistory(std::uint32_t intervalMs, std::int32_t retentionHours) {
  for (Source& source : sources_) {
    source.chart.setSampleInterval(static_cast<std::int32_t>(std::min<std::uint32_t>(intervalMs, 1u << 30)));
    source.chart.setRetentionHours(retentionHours);
  }
}

void AgentHistory::record(std::vector<ProcessSample>& samples, std::span<const ProcCounters> counters,
                          std::uint64_t nowMs) {
  const std::size_t count = std::min(samples.size(), counters.size());
  for (const ProcByteSource which : {ProcByteSource::AllIo, ProcByteSource::DiskOnly}) {
    Source& source = of(which);
    for (std::size_t i = 0; i < count; ++i)
      samples[i].counters = which == ProcByteSource::DiskOnly ? counters[i].diskOnly : counters[i].allIo;
    source.tracker.update(samples, nowMs, source.activities);
    std::uint64_t totalRead = 0;
    std::uint64_t totalWrite = 0;
    for (const ProcessActivity& activity : source.activities) {
      totalRead += activity.readRate;
      totalWrite += activity.writeRate;
    }
    SpeedChart& chart = source.chart;
    chart.recordSample(totalRead, totalWrite, buildTopList(source.activities, source.top));
    note(source.live.endMs, source.live.newest, nowMs, chart.liveSamples.size());
    // The accumulator starts over exactly when a refresh closes a minute.
    if (chart.minuteAccumulator.tickCount == 0) note(source.minutes.endMs, source.minutes.newest, nowMs, chart.minuteSamples.size());
  }
  for (std::size_t i = 0; i < count; ++i) samples[i].counters = counters[i].allIo;
}

std::uint64_t AgentHistory::endMs(ProcByteSource source, agent::HistorySeries series, std::size_t index) const {
  const Source& s = of(source);
  return (series == agent::HistorySeries::Live ? s.live : s.minutes).endMs.at(index);
}

std::uint64_t AgentHistory::newestSequence(ProcByteSource source, agent::HistorySeries series) const {
  const Source& s = of(source);
  return (series == agent::HistorySeries::Live ? s.live : s.minutes).newest;
}

void AgentHistory::encode(ProcByteSource which, agent::HistorySeries series, std::uint64_t after, std::string& out) {
  Source& source = of(which);
  const bool live = series == agent::HistorySeries::Live;
  const SampleQueue& queue = live ? source.chart.liveSamples : source.chart.minuteSamples;
  const Series& stamps = live ? source.live : source.minutes;
  const SpeedChart& chart = source.chart;

  agent::HistoryChunk& chunk = chunk_;
  chunk.source = which;
  chunk.series = series;
  chunk.intervalMs = static_cast<std::uint32_t>(chart.sampleIntervalMs);
  chunk.spanMs = live ? chunk.intervalMs : chunk.intervalMs * static_cast<std::uint32_t>(chart.ticksPerMinute);
  chunk.newestSequence = stamps.newest;
  chunk.names.clear();
  chunk.items.clear();
  const std::uint64_t oldest = stamps.newest - queue.size() + 1;  // the number of queue[0]
  const std::uint64_t first = std::max(after + 1, oldest);
  chunk.firstSequence = first;
  if (after < stamps.newest) {
    const std::size_t from = static_cast<std::size_t>(first - oldest);
    const std::size_t items = std::min(queue.size() - from, agent::kMaxHistoryItems);
    nameSlot_.assign(chart.names.idCount(), 0);
    chunk.items.resize(items);
    for (std::size_t i = 0; i < items; ++i) {
      const ChartSample& sample = queue[from + i];
      agent::HistoryItem& item = chunk.items[i];
      item.endMs = stamps.endMs[from + i];
      item.sample = sample;
      for (Contributor& c : item.sample.contributors) {
        std::uint32_t& slot = nameSlot_[c.nameId];
        if (slot == 0) {
          chunk.names.emplace_back(chart.names.name(c.nameId));
          slot = static_cast<std::uint32_t>(chunk.names.size());
        }
        c.nameId = slot - 1;
      }
    }
  }
  agent::encodeHistory(chunk, out);
}

}  // namespace tessivo
