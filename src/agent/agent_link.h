// The agent's connection on a worker thread of its own, so that whatever the agent does
// (gone, refusing, hung by SIGSTOP, slow) the caller's thread never waits on it for longer
// than it chooses. The worker connects (and tries again every kRetryMs
// while it is not connected: a failed connect of a Unix socket costs microseconds), greets,
// asks the agent's status, exchanges one snapshot per request and fetches the image paths
// of the processes new in it, before it hands the snapshot over. After each new connection
// it also takes in the agent's history, a frame at a time between snapshots, and hands it
// over whole.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "agent/agent_system.h"

namespace tessivo {

class AgentLink {
 public:
  // How often the worker tries to connect while the agent is away and no refresh asks (each
  // request tries at once): a wake-up every 100 ms cost the idle desktop more than its refreshes.
  static constexpr std::uint32_t kRetryMs = 1000;

  explicit AgentLink(std::string socketPath);
  ~AgentLink();
  AgentLink(const AgentLink&) = delete;
  AgentLink& operator=(const AgentLink&) = delete;

  // Asks the worker for a fresh snapshot; returns at once.
  void request();
  // Waits at most waitMs for the answer to the latest request. True with `into` swapped
  // with the new snapshot: that answer, or the previous request's one that came late.
  bool take(agent::Snapshot& into, std::uint32_t waitMs);

  // The path the agent gave for this process of the latest snapshot handed over; empty
  // when unknown. Never waits on the agent.
  std::u16string imagePath(std::uint32_t pid) const;
  // The worker's latest verdict on the agent.
  AgentState state() const;

  // The byte source whose history the next connection takes in.
  void setByteSource(ProcByteSource source);
  // True, with `into` swapped with it, once the worker has the whole history the agent
  // kept at the latest connection. Never waits on the agent.
  bool takeHistory(HistoryCopy& into);

 private:
  struct Path {
    std::uint64_t createTime = 0;
    std::uint32_t generation = 0;
    std::u16string path;
  };

  void run();
  // On the worker, unlocked: the next frame of the history being taken in.
  void fetchHistoryFrame();
  // On the worker: the paths of the processes in `snapshot` that have none yet.
  void fetchPaths(const agent::Snapshot& snapshot);

  AgentSystem client_;  // the worker's only
  mutable std::mutex mutex_;
  std::condition_variable wake_;     // the worker waits here for a request
  std::condition_variable answered_; // the caller waits here for an answer
  std::uint64_t requested_ = 0;
  std::uint64_t served_ = 0;
  std::uint64_t publishedFor_ = 0;  // the request the published snapshot answers
  bool published_ = false;          // a snapshot is waiting to be taken
  bool stop_ = false;
  AgentState state_ = AgentState::Unknown;
  agent::Snapshot shared_;  // handed over by swapping
  agent::Snapshot work_;
  std::unordered_map<std::uint32_t, Path> paths_;  // shared, under mutex_
  ProcByteSource historySource_ = ProcByteSource::AllIo;  // shared
  HistoryCopy historyShared_;                             // shared
  bool historyPublished_ = false;                         // shared
  // The worker's own: the history being taken in.
  struct HistoryFetch {
    bool active = false;
    std::uint64_t connection = 0;  // the connection it was started on
    agent::HistorySeries series = agent::HistorySeries::Minutes;
    std::uint64_t after = 0;
    HistoryCopy copy;
    agent::HistoryChunk chunk;
    std::unordered_map<std::u16string, std::uint32_t> nameIndex;
    std::vector<std::uint32_t> nameMap;  // chunk's name index -> copy's
  } fetch_;
  std::thread worker_;
};

}  // namespace tessivo
