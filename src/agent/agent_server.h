// The agent's one loop: samples /proc at its interval, keeps the chart's history from those
// samples, and serves the latest snapshot, image paths, the clock and the history to local
// clients over a Unix stream socket. Single-threaded; every
// client socket is non-blocking, so a client that stalls only ever delays itself.
#pragma once

#include <csignal>
#include <cstdint>
#include <memory>
#include <string>

#include "procfs/proc_system.h"

namespace tessivo {

class AgentHistory;
class AgentMetrics;

struct AgentOptions {
  std::string socketPath = "/run/tessivo/agent.sock";
  // The socket's group, whose members may connect. Empty: the agent's own group, except
  // that an agent started with group root gives it to `tessivo` when that group exists.
  std::string socketGroup;
  std::uint32_t intervalMs = 333;
  // A desktop program holds one connection; a user may run two (a local and a remote
  // session) and briefly a third while one reconnects: 4 leaves room, and one user's burst
  // takes at most 4 of the places. The total fits a terminal server of a few dozen users.
  std::size_t maxClients = 64;
  std::size_t maxClientsPerUser = 4;
  std::uint32_t frameTimeoutMs = 2000;   // a request begun must be complete within this
  // A client sending nothing at all is dropped: a desktop program asks at every refresh,
  // 2 s apart at the longest.
  std::uint32_t idleTimeoutMs = 15000;
  std::uint32_t stallTimeoutMs = 5000;   // a client not reading its reply is dropped
  bool partial = false;  // capabilities missing: said in every Status reply
  std::int32_t retentionHours = 72;  // of the chart's minute history kept for clients
  // History frames a client may have at once, and the rate at which more come: 720 hours
  // is under 90 frames, so a program taking it in never waits, and a client asking over
  // and over costs the agent a few milliseconds a second.
  std::uint32_t historyBurst = 256;
  std::uint32_t historyFramesPerSecond = 32;
};

class AgentServer {
 public:
  // Binds the socket (mode 0660, the group of AgentOptions::socketGroup); throws
  // std::runtime_error when it cannot, or when another agent already answers there.
  // metrics may be null.
  AgentServer(ProcSystem& system, AgentOptions options, AgentMetrics* metrics);
  ~AgentServer();
  AgentServer(const AgentServer&) = delete;
  AgentServer& operator=(const AgentServer&) = delete;

  // Runs until stop becomes non-zero (set from a signal handler: SIGTERM and SIGINT must be
  // blocked by the caller; they are let through only while waiting).
  void run(const volatile std::sig_atomic_t& stop);

  // The name (or number) of the group the socket was given, for the start line.
  std::string socketGroupName() const;

  // The history the loop keeps and serves; tests fill it under a clock of their own before
  // running the loop.
  AgentHistory& history();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tessivo
