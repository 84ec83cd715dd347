// The counts the desktop program shows when they come from two sources: its own /proc
// (readable for this user's processes) and tessivo-agent (every process, while it answers).
//
// The kernel's counters are cumulative, so a process (pid and start time) is credited at
// each refresh with what its counters grew by since the last value the program had for it
// from the same source:
// - /proc first, when it read the process at this refresh and at the one before: the same
//   frame as the agent's but with this program's own reads of /proc taken off;
// - otherwise the agent's, since the agent's last value for it, however long ago: what
//   another user's process did while the agent was away arrives as one refresh's burst.
// Each source takes off reaped children in its own way, so their values are never
// subtracted from one another. A process /proc cannot read, or one whose counters read all
// zeros from an agent without its capabilities, has no reading from that source: it neither
// credits nor moves the anchor. Any other zero is a reading, so that a new process's first
// I/O is counted from zero.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "procfs/proc_system.h"

namespace tessivo {

class CountContinuity {
 public:
  // One refresh. `out` is the listed processes in ascending pid order (from the agent when
  // listFromAgent, from /proc otherwise), with their raw image generations; agentRaw is
  // index-aligned with out when listFromAgent and ignored otherwise. local / localRaw are
  // this refresh's /proc snapshot (empty when it was not read). Fills each sample's
  // counters from the chosen byte source and numbers its image generations so that only a
  // change seen within one source is an exec. agentPartial: the agent lacks capabilities,
  // so its zeros may be unreadable counters.
  void present(std::vector<ProcessSample>& out, bool listFromAgent, std::span<const ProcCounters> agentRaw,
               std::span<const ProcessSample> local, std::span<const ProcCounters> localRaw, ProcByteSource source,
               bool agentPartial = false);

  void clear() { tracks_.clear(); }

 private:
  struct Track {
    std::uint32_t pid = 0;
    std::uint64_t createTime = 0;
    std::uint32_t rawGeneration = 0;
    bool rawFromAgent = false;
    std::uint32_t generation = 0;
    ProcCounters shown;
    bool localAnchor = false;  // /proc read it at the latest refresh
    ProcCounters localRaw;
    bool agentAnchor = false;  // the agent's latest value for it, and what was shown then
    ProcCounters agentRaw;
    ProcCounters agentShown;
  };

  std::vector<Track> tracks_;  // by pid, ascending, as the latest refresh
  std::vector<Track> nextTracks_;
};

}  // namespace tessivo
