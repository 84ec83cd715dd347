#include "agent/count_continuity.h"

#include <algorithm>
#include <array>

namespace tessivo {

namespace {

constexpr std::size_t kFields = 12;

std::array<std::uint64_t*, kFields> fields(ProcCounters& c) {
  return {&c.allIo.readOps,      &c.allIo.writeOps,      &c.allIo.otherOps,      &c.allIo.readBytes,
          &c.allIo.writeBytes,   &c.allIo.otherBytes,    &c.diskOnly.readOps,    &c.diskOnly.writeOps,
          &c.diskOnly.otherOps,  &c.diskOnly.readBytes,  &c.diskOnly.writeBytes, &c.diskOnly.otherBytes};
}

std::array<std::uint64_t, kFields> values(const ProcCounters& c) {
  ProcCounters copy = c;
  std::array<std::uint64_t, kFields> out{};
  const auto p = fields(copy);
  for (std::size_t i = 0; i < kFields; ++i) out[i] = *p[i];
  return out;
}

bool anyNonZero(const ProcCounters& c) {
  const auto v = values(c);
  return std::any_of(v.begin(), v.end(), [](std::uint64_t x) { return x != 0; });
}

// What each counter grew by from `anchor` to `now`; a counter that went back (another
// adjustment of the same source) has not grown.
std::array<std::uint64_t, kFields> growth(const ProcCounters& now, const ProcCounters& anchor) {
  const auto n = values(now), a = values(anchor);
  std::array<std::uint64_t, kFields> out{};
  for (std::size_t i = 0; i < kFields; ++i) out[i] = n[i] >= a[i] ? n[i] - a[i] : 0;
  return out;
}

const IoCounters& chosen(const ProcCounters& both, ProcByteSource source) {
  return source == ProcByteSource::DiskOnly ? both.diskOnly : both.allIo;
}

}  // namespace

void CountContinuity::present(std::vector<ProcessSample>& out, bool listFromAgent,
                              std::span<const ProcCounters> agentRaw, std::span<const ProcessSample> local,
                              std::span<const ProcCounters> localRaw, ProcByteSource source, bool agentPartial) {
  if (listFromAgent && agentRaw.size() != out.size()) out.clear();
  if (local.size() != localRaw.size()) local = {};
  nextTracks_.clear();
  std::size_t old = 0, at = 0;
  for (std::size_t i = 0; i < out.size(); ++i) {
    ProcessSample& sample = out[i];
    while (old < tracks_.size() && tracks_[old].pid < sample.pid) ++old;
    while (at < local.size() && local[at].pid < sample.pid) ++at;
    const ProcCounters* fromLocal = nullptr;
    if (at < local.size() && local[at].pid == sample.pid && local[at].createTime == sample.createTime &&
        !localRaw[at].unreadable)
      fromLocal = &localRaw[at];
    const ProcCounters* fromAgent =
        listFromAgent && (!agentPartial || anyNonZero(agentRaw[i])) ? &agentRaw[i] : nullptr;

    Track track;
    if (old < tracks_.size() && tracks_[old].pid == sample.pid && tracks_[old].createTime == sample.createTime) {
      track = tracks_[old];
      const auto shown = fields(track.shown);
      if (fromLocal != nullptr && track.localAnchor) {
        const auto grown = growth(*fromLocal, track.localRaw);
        for (std::size_t f = 0; f < kFields; ++f) *shown[f] += grown[f];
      } else if (fromAgent != nullptr && track.agentAnchor) {
        // What /proc credited since the agent's anchor is part of the agent's growth.
        const auto grown = growth(*fromAgent, track.agentRaw);
        const auto then = values(track.agentShown);
        for (std::size_t f = 0; f < kFields; ++f) *shown[f] = std::max(*shown[f], then[f] + grown[f]);
      }
      // Each source numbers images its own way: only a change within one source is an exec.
      if (track.rawFromAgent == listFromAgent && track.rawGeneration != sample.imageGeneration) ++track.generation;
    } else {
      track.pid = sample.pid;
      track.createTime = sample.createTime;
      if (fromLocal != nullptr) track.shown = *fromLocal;
      else if (fromAgent != nullptr) track.shown = *fromAgent;
    }
    track.rawGeneration = sample.imageGeneration;
    track.rawFromAgent = listFromAgent;
    track.localAnchor = fromLocal != nullptr;
    if (fromLocal != nullptr) track.localRaw = *fromLocal;
    if (fromAgent != nullptr) {
      track.agentAnchor = true;
      track.agentRaw = *fromAgent;
      track.agentShown = track.shown;
    }
    sample.counters = chosen(track.shown, source);
    sample.imageGeneration = track.generation;
    nextTracks_.push_back(track);
  }
  std::swap(tracks_, nextTracks_);
}

}  // namespace tessivo
