#include "agent/agent_history.h"

#include <algorithm>

namespace tessivo {

AgentHistory::AgentHistory(std::uint32_t intervalMs, std::int32_t retentionHours)
    : sources_{Source(minuteNames_), Source(minuteNames_)} {
  const std::int32_t hours = std::clamp(retentionHours, 1, 720);
  for (Source& source : sources_) {
    source.chart.setSampleInterval(static_cast<std::int32_t>(std::min<std::uint32_t>(intervalMs, 1u << 30)));
    source.chart.setRetentionHours(1);  // the closed minutes are kept in the store
    source.minutes.setCapacity(static_cast<std::size_t>(hours) * 60);
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
    source.liveMs.push_back(nowMs);
    ++source.liveNewest;
    while (source.liveMs.size() > chart.liveSamples.size()) source.liveMs.pop_front();
    // The accumulator starts over exactly when a refresh closes a minute.
    if (chart.minuteAccumulator.tickCount == 0) {
      source.minutes.push(chart.minuteSamples.back(), chart.names, nowMs);
      ++source.minutesNewest;
    }
  }
  for (std::size_t i = 0; i < count; ++i) samples[i].counters = counters[i].allIo;
}

std::size_t AgentHistory::size(ProcByteSource source, agent::HistorySeries series) const {
  const Source& s = of(source);
  return series == agent::HistorySeries::Live ? s.chart.liveSamples.size() : s.minutes.size();
}

std::uint64_t AgentHistory::item(ProcByteSource source, agent::HistorySeries series, std::size_t index,
                                 ChartSample& out) const {
  const Source& s = of(source);
  if (series == agent::HistorySeries::Minutes) return s.minutes.read(index, out);
  out = s.chart.liveSamples[index];
  return s.liveMs[index];
}

std::u16string_view AgentHistory::name(ProcByteSource source, agent::HistorySeries series, const Contributor& c) const {
  return series == agent::HistorySeries::Live ? of(source).chart.contributorName(c) : minuteNames_.name(c.nameId);
}

std::uint64_t AgentHistory::newestSequence(ProcByteSource source, agent::HistorySeries series) const {
  const Source& s = of(source);
  return series == agent::HistorySeries::Live ? s.liveNewest : s.minutesNewest;
}

void AgentHistory::encode(ProcByteSource which, agent::HistorySeries series, std::uint64_t after, std::string& out) {
  const Source& source = of(which);
  const bool live = series == agent::HistorySeries::Live;
  const SpeedChart& chart = source.chart;
  const std::size_t held = size(which, series);
  const std::uint64_t newest = newestSequence(which, series);

  agent::HistoryChunk& chunk = chunk_;
  chunk.source = which;
  chunk.series = series;
  chunk.intervalMs = static_cast<std::uint32_t>(chart.sampleIntervalMs);
  chunk.spanMs = live ? chunk.intervalMs : chunk.intervalMs * static_cast<std::uint32_t>(chart.ticksPerMinute);
  chunk.newestSequence = newest;
  chunk.names.clear();
  chunk.items.clear();
  const std::uint64_t oldest = newest - held + 1;  // the number of the item at index 0
  const std::uint64_t first = std::max(after + 1, oldest);
  chunk.firstSequence = first;
  if (after < newest) {
    const std::size_t from = static_cast<std::size_t>(first - oldest);
    const std::size_t items = std::min(held - from, agent::kMaxHistoryItems);
    nameSlot_.assign(live ? chart.names.idCount() : minuteNames_.idCount(), 0);
    chunk.items.resize(items);
    for (std::size_t i = 0; i < items; ++i) {
      agent::HistoryItem& entry = chunk.items[i];
      entry.endMs = item(which, series, from + i, entry.sample);
      for (Contributor& c : entry.sample.contributors) {
        std::uint32_t& slot = nameSlot_[c.nameId];
        if (slot == 0) {
          chunk.names.emplace_back(name(which, series, c));
          slot = static_cast<std::uint32_t>(chunk.names.size());
        }
        c.nameId = slot - 1;
      }
    }
  }
  agent::encodeHistory(chunk, out);
}

}  // namespace tessivo
