#include "agent/switching_system.h"

#include <algorithm>

namespace tessivo {

SwitchingSystem::SwitchingSystem(std::string socketPath, std::uint32_t waitMs)
    : link_(std::move(socketPath)), waitMs_(waitMs) {
  link_.request();  // the worker connects while the window is being built
}

void SwitchingSystem::setByteSource(ProcByteSource source) {
  byteSource_ = source;
  local_.setByteSource(source);
  link_.setByteSource(source);
}

void SwitchingSystem::readSnapshot(std::vector<ProcessSample>& out) {
  // The agent's exchange runs while /proc is read here.
  if (started_) link_.request();
  local_.readSnapshot(localSamples_);
  const bool fromAgent = link_.take(snapshot_, started_ ? waitMs_ : std::max(waitMs_, kFirstWaitMs));
  started_ = true;
  onAgent_ = fromAgent;
  const std::vector<ProcCounters>& localRaw = local_.lastCounters();
  if (fromAgent) out = snapshot_.samples;
  else out = localSamples_;
  counts_.present(out, fromAgent, snapshot_.counters, localSamples_, localRaw, byteSource_,
                  link_.state() == AgentState::Partial);
}

std::u16string SwitchingSystem::imagePath(std::uint32_t pid) {
  // This user's processes from /proc; the others' as the agent gave them.
  std::u16string path = local_.imagePath(pid);
  return path.empty() ? link_.imagePath(pid) : path;
}

std::uint64_t SwitchingSystem::nowMs() {
  // The /proc clock: the counts of this user's processes are of this moment, and the
  // agent samples on the same CLOCK_MONOTONIC.
  lastNowMs_ = std::max(lastNowMs_, local_.nowMs());
  return lastNowMs_;
}

}  // namespace tessivo
