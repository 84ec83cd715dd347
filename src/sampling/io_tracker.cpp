#include "sampling/io_tracker.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tessivo {

namespace {

// Far beyond any device, and low enough that llround of a value near it stays defined.
constexpr std::uint64_t kMaxRate = std::uint64_t{1} << 62;

constexpr std::size_t kSweepSlices = 16;

std::uint64_t minus(std::uint64_t now, std::uint64_t before) { return now >= before ? now - before : 0; }

// bytes * 1000 / dtMs with truncation, without the wrap of the plain product.
std::uint64_t perSecond(std::uint64_t bytes, std::uint64_t dtMs) {
  const std::uint64_t whole = bytes / dtMs;
  const std::uint64_t rest = bytes % dtMs;
  if (whole >= kMaxRate / 1000) return kMaxRate;
  if (rest > std::numeric_limits<std::uint64_t>::max() / 1000) {
    // Only for intervals of hundreds of millennia: a fraction of a byte per second.
    return whole * 1000 + static_cast<std::uint64_t>(static_cast<double>(rest) * 1000.0 / static_cast<double>(dtMs));
  }
  return std::min(whole * 1000 + rest * 1000 / dtMs, kMaxRate);
}

std::uint64_t smooth(std::uint64_t instant, std::uint64_t old, double weight) {
  const double oldRate = static_cast<double>(old);
  return static_cast<std::uint64_t>(std::llround((static_cast<double>(instant) - oldRate) * weight + oldRate));
}

}  // namespace

std::vector<ProcessActivity> IoTracker::update(const std::vector<ProcessSample>& samples, std::uint64_t nowMs) {
  std::vector<ProcessActivity> out;
  update(samples, nowMs, out);
  return out;
}

void IoTracker::update(const std::vector<ProcessSample>& samples, std::uint64_t nowMs,
                       std::vector<ProcessActivity>& out, std::vector<std::uint32_t>* reusedPids) {
  if (reusedPids != nullptr) reusedPids->clear();
  if (samples.empty()) {
    // A failed snapshot says nothing about anyone: nobody ages, nobody is forgotten.
    out.clear();
    lastWasEmpty_ = true;
    return;
  }
  previousClockMs_ = absenceClockMs_;
  if (!lastWasEmpty_ && nowMs > lastNowMs_) absenceClockMs_ += nowMs - lastNowMs_;
  lastNowMs_ = nowMs;
  lastWasEmpty_ = false;
  ++snapshots_;

  // Work in pid order directly, so the activities (and their strings) never move once written;
  // equal pids keep the snapshot's order.
  order_.resize(samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) order_[i] = {samples[i].pid, static_cast<std::uint32_t>(i)};
  std::sort(order_.begin(), order_.end());

  out.resize(samples.size());
  const bool cumulative = countMode == CountMode::SystemCumulative;
  for (std::size_t n = 0; n < order_.size(); ++n) {
    const ProcessSample& sample = samples[order_[n].second];
    ProcessActivity& activity = out[n];
    activity.pid = sample.pid;
    activity.name.assign(sample.name);

    auto [stateAt, firstSeen] = states.try_emplace(sample.pid);
    RateState& state = stateAt->second;
    if (!firstSeen && state.seenSnapshot != snapshots_ &&
        forgotten(state, snapshots_ - 1 - state.seenSnapshot, previousClockMs_)) {
      // The previous snapshot would have forgotten it, had the sweep come by: it starts afresh.
      state = RateState{};
      firstSeen = true;
    } else if (!firstSeen && sample.createTime != 0 && state.createTime != 0 && sample.createTime != state.createTime) {
      // The system gave a departed process's identifier to a new one: measure the new
      // process from its own first sample, not against the old one's counters.
      state = RateState{};
      firstSeen = true;
      if (reusedPids != nullptr) reusedPids->push_back(sample.pid);
    }
    if (firstSeen) state.baseline = sample.counters;
    state.seenClockMs = absenceClockMs_;
    state.seenSnapshot = snapshots_;

    if (cumulative) {
      activity.counters = sample.counters;
    } else {
      const IoCounters& base = state.baseline;
      const IoCounters& c = sample.counters;
      activity.counters = IoCounters{minus(c.readOps, base.readOps),     minus(c.writeOps, base.writeOps),
                                     minus(c.otherOps, base.otherOps),   minus(c.readBytes, base.readBytes),
                                     minus(c.writeBytes, base.writeBytes), minus(c.otherBytes, base.otherBytes)};
    }

    activity.readRate = 0;
    activity.writeRate = 0;
    if (!firstSeen && nowMs > state.lastTickMs) {
      const std::uint64_t dt = nowMs - state.lastTickMs;
      const double weight = std::min(static_cast<double>(dt) / 4000.0, 1.0);
      const std::uint64_t instRead = perSecond(minus(sample.counters.readBytes, state.lastCounters.readBytes), dt);
      const std::uint64_t instWrite = perSecond(minus(sample.counters.writeBytes, state.lastCounters.writeBytes), dt);
      state.readRate = smooth(instRead, state.readRate, weight);
      state.writeRate = smooth(instWrite, state.writeRate, weight);
      activity.readRate = state.readRate;
      activity.writeRate = state.writeRate;
    }

    state.lastCounters = sample.counters;
    state.lastTickMs = nowMs;
    if (sample.createTime != 0) state.createTime = sample.createTime;
  }
  sweep();
}

// Whether a snapshot at `clockMs` without the identifier forgets it.
bool IoTracker::forgotten(const RateState& state, std::uint64_t missedSnapshots, std::uint64_t clockMs) {
  return missedSnapshots >= 2 && clockMs - state.seenClockMs >= kForgetAfterMs;
}

// A slice of the buckets per snapshot, so that no refresh pays for walking the whole table;
// after each whole pass a table left mostly empty gives its buckets back.
void IoTracker::sweep() {
  const std::size_t buckets = states.bucket_count();
  if (sweepBucket_ >= buckets) sweepBucket_ = 0;
  const std::size_t end = std::min(buckets, sweepBucket_ + buckets / kSweepSlices + 1);
  stale_.clear();
  for (std::size_t b = sweepBucket_; b < end; ++b)
    for (auto it = states.cbegin(b); it != states.cend(b); ++it)
      if (forgotten(it->second, snapshots_ - it->second.seenSnapshot, absenceClockMs_)) stale_.push_back(it->first);
  for (const std::uint32_t pid : stale_) states.erase(pid);
  sweepBucket_ = end;
  if (end == buckets && buckets > 64 && states.size() * 8 < buckets) states.rehash(states.size() * 2);
}

void IoTracker::clear() {
  states = decltype(states)();  // clear() alone would keep every bucket the table grew to
  sweepBucket_ = 0;
}

void IoTracker::setCountMode(CountMode mode) {
  if (mode == countMode) return;
  countMode = mode;
  clear();
}

}  // namespace tessivo
