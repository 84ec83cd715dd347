#include "agent/history_timeline.h"

#include <algorithm>
#include <vector>

namespace tessivo {

namespace {

using Stamp = HistoryTimeline::Stamp;

std::uint64_t overlap(const Stamp& a, std::uint64_t start, std::uint64_t end) {
  const std::uint64_t from = std::max(a.startMs, start);
  const std::uint64_t to = std::min(a.endMs, end);
  return to > from ? to - from : 0;
}

// Adds up how much of each item of `probe` (sorted by end, as `cover` is) the items of
// `cover` take, walking both once.
std::vector<std::uint64_t> covered(const std::vector<Stamp>& probe, const std::vector<Stamp>& cover) {
  std::vector<std::uint64_t> out(probe.size(), 0);
  std::size_t first = 0;
  for (std::size_t i = 0; i < probe.size(); ++i) {
    while (first < cover.size() && cover[first].endMs <= probe[i].startMs) ++first;
    for (std::size_t j = first; j < cover.size() && cover[j].startMs < probe[i].endMs; ++j)
      out[i] += overlap(cover[j], probe[i].startMs, probe[i].endMs);
  }
  return out;
}

struct Entry {
  Stamp stamp;
  std::size_t own;          // index into the queue of an own item kept, or kNone
  std::size_t agent;        // index into the agent's items, or kNone
  std::size_t ownReplaced;  // index into the queue of an own item the agent's replaced
};
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// One series: the program's items and stamps, and the agent's. protectFrom: from this clock
// on the program records the present itself.
bool mergeSeries(SampleQueue& queue, std::deque<Stamp>& stamps, const std::vector<agent::HistoryItem>& agentItems,
                 std::uint32_t spanMs, std::uint64_t floorMs, std::uint64_t protectFrom, std::uint64_t capacity, NamePool& names,
                 const std::vector<std::u16string>& agentNames, std::vector<std::uint32_t>& nameIds) {
  if (agentItems.empty() || capacity == 0) return false;
  std::vector<Stamp> kept;  // what the agent may not replace
  for (const Stamp& s : stamps)
    if (s.complete) kept.push_back(s);
  kept.push_back({protectFrom, static_cast<std::uint64_t>(-1), true});

  std::vector<Stamp> offered(agentItems.size());
  for (std::size_t k = 0; k < agentItems.size(); ++k) {
    const std::uint64_t end = agentItems[k].endMs;
    offered[k] = {end - std::min<std::uint64_t>(end, spanMs), end, true};
  }
  const std::vector<std::uint64_t> takenByOwn = covered(offered, kept);
  std::vector<Stamp> added;
  std::vector<std::size_t> addedIndex;
  for (std::size_t k = 0; k < offered.size(); ++k) {
    if (offered[k].startMs < floorMs) continue;  // from before the program's history was cleared
    // Half of it or more recorded by the program with the agent's counts: the program's stays.
    if (2 * takenByOwn[k] >= offered[k].endMs - offered[k].startMs && offered[k].endMs > offered[k].startMs) continue;
    added.push_back(offered[k]);
    addedIndex.push_back(k);
  }
  if (added.empty()) return false;

  // The program's items recorded without the agent's counts give way to the agent's where
  // those cover half of them or more.
  std::vector<Stamp> own(stamps.begin(), stamps.end());
  const std::vector<std::uint64_t> takenByAgent = covered(own, added);
  std::vector<Entry> merged;
  merged.reserve(own.size() + added.size());
  std::size_t a = 0;
  for (std::size_t i = 0; i <= own.size(); ++i) {
    const std::uint64_t end = i < own.size() ? own[i].endMs : static_cast<std::uint64_t>(-1);
    for (; a < added.size() && added[a].endMs < end; ++a) merged.push_back({added[a], kNone, addedIndex[a], kNone});
    if (i == own.size()) break;
    const std::uint64_t length = std::max<std::uint64_t>(1, own[i].endMs - own[i].startMs);
    const bool replaced = !own[i].complete && 2 * takenByAgent[i] >= length;
    merged.push_back({own[i], replaced ? kNone : i, kNone, replaced ? i : kNone});
  }
  // Dropped own items (kNone in both) give their names back, as do the oldest past capacity.
  const std::size_t drop = merged.size() > capacity ? merged.size() - static_cast<std::size_t>(capacity) : 0;
  // Only items older than all the chart can hold: nothing changes.
  if (std::none_of(merged.begin() + static_cast<std::ptrdiff_t>(drop), merged.end(),
                   [](const Entry& e) { return e.agent != kNone; }))
    return false;
  // The new queue is built beside the old one and takes its place: each item is copied once.
  SampleQueue fresh;
  fresh.setLimit(static_cast<std::size_t>(capacity));
  fresh.reserve(std::min(merged.size() - drop + 1, static_cast<std::size_t>(capacity) + 1));
  std::deque<Stamp> newStamps;
  nameIds.assign(agentNames.size(), static_cast<std::uint32_t>(-1));
  for (std::size_t m = 0; m < merged.size(); ++m) {
    const Entry& e = merged[m];
    const bool keep = m >= drop;
    if (e.own != kNone) {
      if (keep) fresh.push_back(queue[e.own]);
      else
        for (const Contributor& c : queue[e.own].contributors) names.release(c.nameId);
    } else if (e.agent != kNone) {
      if (!keep) continue;
      ChartSample& sample = fresh.emplace_back();
      sample = agentItems[e.agent].sample;
      for (Contributor& c : sample.contributors) {
        std::uint32_t& id = nameIds[c.nameId];
        if (id == static_cast<std::uint32_t>(-1)) id = names.intern(agentNames[c.nameId]);
        else names.retain(id);
        c.nameId = id;
      }
    } else {
      // An own item the agent's replaced.
      for (const Contributor& c : queue[e.ownReplaced].contributors) names.release(c.nameId);
      continue;
    }
    if (keep) newStamps.push_back(e.stamp);
  }
  queue = std::move(fresh);
  stamps = std::move(newStamps);
  return true;
}

}  // namespace

void HistoryTimeline::sync(const SpeedChart& chart) {
  while (live_.size() > chart.liveSamples.size()) live_.pop_front();
  while (minutes_.size() > chart.minuteSamples.size()) minutes_.pop_front();
}

void HistoryTimeline::recorded(const SpeedChart& chart, std::uint64_t nowMs, bool fromAgent) {
  const std::uint64_t interval = static_cast<std::uint64_t>(std::max(chart.sampleIntervalMs, 1));
  const std::uint64_t startMs = nowMs - std::min(nowMs, interval);
  if (!started_) startMs_ = startMs;
  // The live samples are emptied only by a clear of the whole history (a new interval): what
  // was before it stays gone, also when the agent has it.
  if (started_ && chart.liveSamples.size() == 1 && !live_.empty()) floorMs_ = startMs;
  started_ = true;
  lastMs_ = nowMs;
  live_.push_back({startMs, nowMs, fromAgent});
  // The accumulator holds one refresh just after a minute began, none just after one closed.
  const std::int32_t ticks = chart.minuteAccumulator.tickCount;
  if (ticks == 1) filling_ = {startMs, nowMs, fromAgent};  // a minute is six refreshes at least
  filling_.endMs = nowMs;
  filling_.complete = filling_.complete && fromAgent;
  if (ticks == 0) minutes_.push_back(filling_);
  sync(chart);
}

bool HistoryTimeline::merge(SpeedChart& chart, const HistoryCopy& copy) {
  sync(chart);
  std::vector<std::uint32_t> nameIds;
  const bool minuteOpen = chart.minuteAccumulator.tickCount > 0;
  bool changed = mergeSeries(chart.minuteSamples, minutes_, copy.minutes, copy.minuteSpanMs, floorMs_,
                             minuteOpen ? filling_.startMs : lastMs_, chart.minuteCapacity, chart.names, copy.names,
                             nameIds);
  if (copy.intervalMs == static_cast<std::uint32_t>(chart.sampleIntervalMs))
    changed = mergeSeries(chart.liveSamples, live_, copy.live, copy.liveSpanMs, floorMs_, lastMs_, chart.liveCapacity,
                          chart.names, copy.names, nameIds) ||
              changed;
  if (changed) chart.viewPan = std::max(0.0f, chart.clampPan(chart.viewPan));
  return changed;
}

std::size_t HistoryTimeline::minutesBeforeStart() const {
  // The stamps are in time order: asked at every refresh, this is a search, not a walk.
  if (!started_) return 0;
  const auto end = std::partition_point(minutes_.begin(), minutes_.end(), [&](const Stamp& s) { return s.startMs < startMs_; });
  return static_cast<std::size_t>(end - minutes_.begin());
}

}  // namespace tessivo
