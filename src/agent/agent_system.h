// The desktop program's process sources beside the /proc one: AgentSystem asks a running
// tessivo-agent over its socket, and SwitchingSystem, which the program uses, takes the
// agent's snapshots and paths while it answers and reads /proc itself otherwise.
//
// Every byte from the agent is checked before use: an agent that sends anything the
// protocol does not allow, or does not answer in time, is dropped like one that went away.
//
// No own-I/O correction is needed here: socket send/recv do not pass through the kernel's
// rchar/wchar/syscr/syscw accounting (only read/write-family calls do), so talking to the
// agent never shows in this process's own counters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agent/agent_protocol.h"
#include "procfs/proc_descriptor.h"
#include "procfs/proc_system.h"

namespace tessivo {

class AgentSystem final : public ProcessSystem {
 public:
  explicit AgentSystem(std::string socketPath = agent::kDefaultSocketPath, std::uint32_t timeoutMs = 500);

  // Connects and reads the greeting; false (and not connected) when the agent is not
  // there, refuses, or speaks another version.
  bool connect();
  bool connected() const { return static_cast<bool>(fd_); }
  void disconnect();

  // On any failure out is left empty and the connection is dropped.
  void readSnapshot(std::vector<ProcessSample>& out) override;
  // Empty when unknown or on failure (then disconnected).
  std::u16string imagePath(std::uint32_t pid) override;
  // The agent's sample time of the latest snapshot (CLOCK_MONOTONIC, shared by all
  // processes of the machine); asks the agent's clock before the first one.
  std::uint64_t nowMs() override;

  void setByteSource(ProcByteSource source) { byteSource_ = source; }
  // Both byte sources of the latest snapshot, index-aligned with it.
  const std::vector<ProcCounters>& lastCounters() const { return snapshot_.counters; }
  std::uint64_t lastSequence() const { return snapshot_.sequence; }
  const agent::Hello& hello() const { return hello_; }

 private:
  bool send(const agent::Request& request);
  // The next frame, whole, within the timeout; its payload stays valid until the next read.
  bool receive(std::string_view& payload);

  std::string socketPath_;
  std::uint32_t timeoutMs_;
  ProcByteSource byteSource_ = ProcByteSource::AllIo;
  ProcDescriptor fd_;
  std::string input_;
  agent::Hello hello_;
  agent::Snapshot snapshot_;
  bool haveSnapshot_ = false;
};

class SwitchingSystem final : public ProcessSystem {
 public:
  static constexpr std::uint64_t kReconnectMs = 2000;

  explicit SwitchingSystem(std::string socketPath = agent::kDefaultSocketPath);

  void readSnapshot(std::vector<ProcessSample>& out) override;
  std::u16string imagePath(std::uint32_t pid) override;
  std::uint64_t nowMs() override;

  // The program's 计数来源 setting, for both sources.
  void setByteSource(ProcByteSource source);
  // Whether the latest snapshot came from the agent.
  bool fromAgent() const { return onAgent_; }

 private:
  // What the program was last shown of one process, and what to add to the current
  // source's raw counters so that its counts continue from there.
  struct Track {
    std::uint32_t pid = 0;
    std::uint64_t createTime = 0;
    std::uint32_t rawGeneration = 0;
    std::uint32_t generation = 0;
    ProcCounters offset;
    ProcCounters shown;
  };

  void present(const std::vector<ProcCounters>& raw, bool switched, std::vector<ProcessSample>& out);

  ProcSystem local_;
  AgentSystem agent_;
  ProcByteSource byteSource_ = ProcByteSource::AllIo;
  bool onAgent_ = false;
  bool started_ = false;
  std::uint64_t lastAttemptMs_ = 0;
  bool attempted_ = false;
  std::uint64_t lastNowMs_ = 0;
  std::vector<Track> tracks_;  // by pid, ascending, as the latest snapshot
  std::vector<Track> nextTracks_;
};

}  // namespace tessivo
