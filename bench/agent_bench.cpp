// The agent's CPU per process per refresh while it serves one desktop client, against the
// desktop program reading /proc itself, among about 1,000 idle processes (TESSIVO_BENCH_IDLE).
// Both run paced at the refresh period given as the argument (ms), as they do for real: a
// snapshot after a pause finds colder caches than one in a tight loop.
//
// The agent is the real server loop on its own thread over a socket in a scratch folder; the
// client is the desktop program's agent source on the benchmark's thread. Only the agent
// thread's CPU (user and system) is counted for it, through its thread CPU clock; the time of
// each iteration is that CPU, so the Time column reads as CPU per refresh (the CPU column of
// the agent case is then the client thread's: receiving and decoding).
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "agent/agent_server.h"
#include "support/live_process.h"
#include "agent/agent_system.h"
#include "procfs/proc_system.h"

namespace {

using tessivo::ProcessSample;
using tessivo::ProcSystem;

std::int64_t cpuNs(clockid_t clock) {
  timespec now{};
  ::clock_gettime(clock, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void pause(benchmark::State& state) {
  const auto ms = state.range(0);
  const timespec period{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000};
  ::nanosleep(&period, nullptr);
}

void report(benchmark::State& state, std::int64_t cpu, std::size_t processes) {
  state.counters["processes"] = static_cast<double>(processes);
  if (state.iterations() > 0 && processes > 0)
    state.counters["ns_per_process"] =
        static_cast<double>(cpu) / static_cast<double>(state.iterations()) / static_cast<double>(processes);
}

// A: the desktop program's own /proc snapshot.
void BM_DesktopReadsProc(benchmark::State& state) {
  tessivo::raiseOpenFileLimit();  // as the program does: a descriptor pair kept per process
  const tessivo::testing::IdleChildren children;
  ProcSystem system;
  std::vector<ProcessSample> out;
  system.readSnapshot(out);  // descriptors kept from here on, as after the first refresh
  std::int64_t total = 0;
  for (auto _ : state) {
    pause(state);
    const std::int64_t start = cpuNs(CLOCK_THREAD_CPUTIME_ID);
    system.readSnapshot(out);
    const std::int64_t spent = cpuNs(CLOCK_THREAD_CPUTIME_ID) - start;
    total += spent;
    state.SetIterationTime(static_cast<double>(spent) * 1e-9);
  }
  report(state, total, out.size());
}

// B: the agent serving one client that asks for a snapshot every period.
void BM_AgentServesOneClient(benchmark::State& state) {
  tessivo::raiseOpenFileLimit();  // as the agent does
  const tessivo::testing::IdleChildren children;
  char folder[] = "/tmp/tessivo-agent-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) throw std::runtime_error("mkdtemp");
  const std::string socketPath = std::string(folder) + "/agent.sock";
  ProcSystem system;
  tessivo::AgentOptions options;
  options.socketPath = socketPath;
  options.intervalMs = static_cast<std::uint32_t>(state.range(0));
  volatile std::sig_atomic_t stop = 0;
  std::vector<ProcessSample> out;
  std::uint64_t firstSequence = 0;
  std::int64_t total = 0;
  {
    tessivo::AgentServer server(system, options, nullptr);
    std::thread agent([&] { server.run(stop); });
    clockid_t agentClock{};
    pthread_getcpuclockid(agent.native_handle(), &agentClock);
    tessivo::AgentSystem client(socketPath);
    if (!client.connect()) state.SkipWithError("the agent did not answer");
    client.readSnapshot(out);
    firstSequence = client.lastSequence();
    for (auto _ : state) {
      const std::int64_t start = cpuNs(agentClock);
      pause(state);
      client.readSnapshot(out);
      const std::int64_t spent = cpuNs(agentClock) - start;
      total += spent;
      state.SetIterationTime(static_cast<double>(spent) * 1e-9);
    }
    // Snapshots the agent took per refresh: 1 when its pacing and the client's agree.
    if (state.iterations() > 0)
      state.counters["snapshots_per_refresh"] =
          static_cast<double>(client.lastSequence() - firstSequence) / static_cast<double>(state.iterations());
    if (out.empty()) state.SkipWithError("the agent sent no snapshot");
    stop = 1;
    agent.join();
  }
  std::filesystem::remove_all(folder);
  report(state, total, out.size());
}

BENCHMARK(BM_DesktopReadsProc)->Arg(100)->UseManualTime()->Iterations(60)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AgentServesOneClient)->Arg(100)->UseManualTime()->Iterations(60)->Unit(benchmark::kMicrosecond);

}  // namespace
