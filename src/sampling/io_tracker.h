// Turns each snapshot's cumulative system counters into the amounts the list shows (in the
// current counting mode) and into smoothed read and write speeds, per process identifier.
// An identifier that stops appearing is forgotten after a while, so that a system handing
// out ever new identifiers does not grow the tracker without end.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/types.h"

namespace tessivo {

struct RateState {
  IoCounters lastCounters;       // raw system counters of the latest sample
  std::uint64_t lastTickMs = 0;  // clock of that sample
  std::uint64_t readRate = 0;    // smoothed, bytes per second
  std::uint64_t writeRate = 0;
  // Creation time of the process these entries belong to (0: unknown). A sample of the
  // same pid with another non-zero creation time is a different process.
  std::uint64_t createTime = 0;
  IoCounters baseline;  // RunDelta starting point
  // When the identifier was last in a snapshot: absence clock and non-empty snapshot count.
  std::uint64_t seenClockMs = 0;
  std::uint64_t seenSnapshot = 0;
};

class IoTracker {
 public:
  // One activity per sample, sorted by pid ascending.
  std::vector<ProcessActivity> update(const std::vector<ProcessSample>& samples, std::uint64_t nowMs);

  // The same into `out`, reusing its elements' storage. The pids whose identifier was found
  // reused by a new process (entries dropped, treated as first seen) are written to
  // `reusedPids` when it is given.
  void update(const std::vector<ProcessSample>& samples, std::uint64_t nowMs,
              std::vector<ProcessActivity>& out, std::vector<std::uint32_t>* reusedPids = nullptr);

  // Forgets every baseline and rate state; the counting mode stays.
  void clear();

  std::size_t size() const noexcept { return states.size(); }

  // An identifier missing from at least two non-empty snapshots and for this long (time
  // between non-empty snapshots only) is forgotten; if it comes back it starts afresh.
  // One missing from a single snapshot (a failed query of that process) resumes its counts.
  static constexpr std::uint64_t kForgetAfterMs = 10'000;

  // A different mode is stored and forgets everything; the current one changes nothing.
  void setCountMode(CountMode mode);

  std::unordered_map<std::uint32_t, RateState> states;
  CountMode countMode = CountMode::RunDelta;

 private:
  static bool forgotten(const RateState& state, std::uint64_t missedSnapshots, std::uint64_t clockMs);
  void sweep();

  std::vector<std::pair<std::uint32_t, std::uint32_t>> order_;  // (pid, sample index), reused
  // A clock that advances only from one non-empty snapshot to the next, so that a run of
  // failed snapshots ages nobody; and the number of non-empty snapshots so far.
  std::uint64_t absenceClockMs_ = 0;
  std::uint64_t previousClockMs_ = 0;  // of the non-empty snapshot before the current one
  std::uint64_t snapshots_ = 0;
  std::uint64_t lastNowMs_ = 0;
  bool lastWasEmpty_ = true;
  // The sweep walks a slice of the buckets per snapshot, a whole pass every kSweepSlices.
  std::size_t sweepBucket_ = 0;
  std::vector<std::uint32_t> stale_;  // reused by the sweep
};

}  // namespace tessivo
