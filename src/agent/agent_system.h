// The desktop program's client of a running tessivo-agent: one connection over its socket,
// with blocking exchanges bounded by a timeout (the program runs them on a worker thread,
// see AgentLink).
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

// Why the agent's counts are not in use, or how they are.
enum class AgentState : std::uint8_t {
  Unknown,       // not tried yet
  Serving,       // connected, with every capability it needs
  Partial,       // connected, but it lacks capabilities: others' counters unreadable to it too
  NotRunning,    // no socket, or nobody listening on it
  NotPermitted,  // the socket refuses this user (not in the agent's group), or the agent does
  NotAnswering,  // connected but silent, hung, of another version, or talking nonsense
};

// An agent's history of one byte source as the client took it in: its live samples and
// minute samples, oldest first, whose contributors' nameIds index `names`.
struct HistoryCopy {
  ProcByteSource source = ProcByteSource::AllIo;
  std::uint32_t intervalMs = 0;    // the agent's refresh interval
  std::uint32_t liveSpanMs = 0;    // the time one live sample stands for
  std::uint32_t minuteSpanMs = 0;  // and one minute sample
  std::vector<std::u16string> names;
  std::vector<agent::HistoryItem> live;
  std::vector<agent::HistoryItem> minutes;
};

class AgentSystem final : public ProcessSystem {
 public:
  explicit AgentSystem(std::string socketPath = agent::kDefaultSocketPath, std::uint32_t timeoutMs = 500);

  // Connects, reads the greeting and asks for the agent's status; false (and not
  // connected) when the agent is not there, refuses, or speaks another version. state()
  // says which.
  bool connect();
  AgentState state() const { return state_; }
  bool connected() const { return static_cast<bool>(fd_); }
  // Counts the connections made: a new one is a new start for the agent's numbering.
  std::uint64_t connections() const { return connections_; }
  void disconnect();

  // The next snapshot as the agent sent it; false (and disconnected) on any failure. A
  // new connection accepts any numbering: a restarted agent counts from 1 again.
  bool fetch(agent::Snapshot& into);
  // On any failure out is left empty and the connection is dropped.
  void readSnapshot(std::vector<ProcessSample>& out) override;
  // Empty when unknown or on failure (then disconnected).
  std::u16string imagePath(std::uint32_t pid) override;

  enum class HistoryAnswer { Chunk, Unsupported, Failed };
  // One frame of the agent's history: the items after `after`. Unsupported (still
  // connected) from an agent that keeps none; Failed (then disconnected) on any fault.
  HistoryAnswer fetchHistory(ProcByteSource source, agent::HistorySeries series, std::uint64_t after,
                             agent::HistoryChunk& into);
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
  // Drops the connection, saying why.
  bool fail(AgentState why);
  // The next frame, whole, within the timeout; its payload stays valid until the next read.
  bool receive(std::string_view& payload);

  std::string socketPath_;
  std::uint32_t timeoutMs_;
  ProcByteSource byteSource_ = ProcByteSource::AllIo;
  ProcDescriptor fd_;
  std::string input_;
  agent::Hello hello_;
  agent::Snapshot snapshot_;
  agent::Snapshot latest_;  // readSnapshot's buffer
  bool closedUnheard_ = false;  // the last receive saw the agent close before any byte
  bool haveSnapshot_ = false;
  std::uint64_t connections_ = 0;
  AgentState state_ = AgentState::Unknown;
};

}  // namespace tessivo
