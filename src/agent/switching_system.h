// The process source the desktop program uses: its own /proc at every refresh, and
// tessivo-agent's snapshots and image paths while the agent answers, for what /proc hides
// from this user. The agent is reached only through AgentLink's worker: a refresh waits
// for it at most a few milliseconds, and otherwise goes on from /proc alone. Counts
// continue across every change of source (see CountContinuity).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent/agent_link.h"
#include "agent/count_continuity.h"
#include "procfs/proc_system.h"

namespace tessivo {

class SwitchingSystem final : public ProcessSystem {
 public:
  // How long a refresh waits for the agent's snapshot: the /proc read is done meanwhile,
  // so this is only what the exchange takes beyond it.
  static constexpr std::uint32_t kWaitMs = 4;
  // The first refresh, before the window shows, gives a starting agent more time.
  static constexpr std::uint32_t kFirstWaitMs = 250;

  explicit SwitchingSystem(std::string socketPath = agent::kDefaultSocketPath, std::uint32_t waitMs = kWaitMs);

  void readSnapshot(std::vector<ProcessSample>& out) override;
  std::u16string imagePath(std::uint32_t pid) override;
  std::uint64_t nowMs() override;

  // The program's 计数来源 setting, for both sources.
  void setByteSource(ProcByteSource source);
  // Whether the latest snapshot came from the agent.
  bool fromAgent() const { return onAgent_; }
  // What the agent's worker last found; Serving or Partial while the agent is in use.
  AgentState agentState() const { return link_.state(); }
  // The agent's history, once after each new connection to it (see AgentLink).
  bool takeHistory(HistoryCopy& into) { return link_.takeHistory(into); }

 private:
  ProcSystem local_;
  AgentLink link_;
  CountContinuity counts_;
  std::uint32_t waitMs_;
  ProcByteSource byteSource_ = ProcByteSource::AllIo;
  bool onAgent_ = false;
  bool started_ = false;
  std::uint64_t lastNowMs_ = 0;
  std::vector<ProcessSample> localSamples_;
  agent::Snapshot snapshot_;
};

}  // namespace tessivo
