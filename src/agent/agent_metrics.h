// The agent's Prometheus endpoint: per-application counters of bytes and operations read
// and written (both byte sources), a process-count gauge per application, and the agent's
// own cost. Served by prometheus-cpp's pull exposer on its own threads; update() is called
// by the sampling loop after every snapshot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/types.h"
#include "procfs/proc_system.h"

namespace tessivo {

struct AgentMetricsOptions {
  std::string bindAddress = "127.0.0.1:9464";  // ADDR:PORT; empty: no endpoint (benchmarks, tests)
  std::size_t maxSeries = 2000;                // application series before the rest are summed
  bool separateKernelThreads = false;          // else all kernel threads are one application
};

class AgentMetrics {
 public:
  // Throws std::runtime_error when the address cannot be bound.
  explicit AgentMetrics(const AgentMetricsOptions& options);
  ~AgentMetrics();
  AgentMetrics(const AgentMetrics&) = delete;
  AgentMetrics& operator=(const AgentMetrics&) = delete;

  // After each snapshot: the samples, both byte sources of each (index-aligned), the image
  // path of each (index-aligned; empty when unknown), and the snapshot's duration.
  void update(const std::vector<ProcessSample>& samples, const std::vector<ProcCounters>& counters,
              const std::vector<std::u16string>& paths, std::uint64_t snapshotNanoseconds);

  // What a scrape returns now, in the text exposition format.
  std::string scrapeText() const;

  // The port the endpoint listens on (useful with port 0); 0 without an endpoint.
  int listeningPort() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tessivo
