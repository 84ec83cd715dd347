// The agent's one loop: samples /proc at its interval and serves the latest snapshot, image
// paths and the clock to local clients over a Unix stream socket. Single-threaded; every
// client socket is non-blocking, so a client that stalls only ever delays itself.
#pragma once

#include <csignal>
#include <cstdint>
#include <memory>
#include <string>

#include "procfs/proc_system.h"

namespace tessivo {

class AgentMetrics;

struct AgentOptions {
  std::string socketPath = "/run/tessivo/agent.sock";
  std::uint32_t intervalMs = 333;
  std::size_t maxClients = 16;
  std::uint32_t frameTimeoutMs = 2000;   // a request begun must be complete within this
  std::uint32_t idleTimeoutMs = 60000;   // a client sending nothing at all is dropped
  std::uint32_t stallTimeoutMs = 5000;   // a client not reading its reply is dropped
};

class AgentServer {
 public:
  // Binds the socket (mode 0660, the agent's group); throws std::runtime_error when it
  // cannot, or when another agent already answers there. metrics may be null.
  AgentServer(ProcSystem& system, AgentOptions options, AgentMetrics* metrics);
  ~AgentServer();
  AgentServer(const AgentServer&) = delete;
  AgentServer& operator=(const AgentServer&) = delete;

  // Runs until stop becomes non-zero (set from a signal handler: SIGTERM and SIGINT must be
  // blocked by the caller; they are let through only while waiting).
  void run(const volatile std::sig_atomic_t& stop);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tessivo
