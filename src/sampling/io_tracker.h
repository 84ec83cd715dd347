// Turns each snapshot's cumulative system counters into the amounts the list shows (in the
// current counting mode) and into smoothed read and write speeds, per process identifier.
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

  // A different mode is stored and forgets everything; the current one changes nothing.
  void setCountMode(CountMode mode);

  std::unordered_map<std::uint32_t, IoCounters> baselines;  // RunDelta starting points
  std::unordered_map<std::uint32_t, RateState> rateStates;
  CountMode countMode = CountMode::RunDelta;

 private:
  std::vector<std::pair<std::uint32_t, std::uint32_t>> order_;  // (pid, sample index), reused
};

}  // namespace tessivo
