// The desktop program's switching source against a real agent in a child process, at the
// program's refresh period (333 ms):
// - the longest refresh on the calling thread (readSnapshot plus the image paths of the
//   processes new in it, as row building asks them) while the agent is stopped by SIGSTOP;
// - how long after a restarted agent answers the source takes its counts from it again.
// - the same refresh without any agent, for comparison.
// All are wall-clock figures of single events, reported as counters; the Time column is
// the mean refresh.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "agent/agent_server.h"
#include "agent/switching_system.h"
#include "support/live_process.h"

namespace {

using Clock = std::chrono::steady_clock;
using tessivo::ProcessSample;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool answers(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return ok;
}

// The agent's loop in a forked child, until killed; returns once it accepts connections.
pid_t startAgent(const std::string& socketPath) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
    tessivo::raiseOpenFileLimit();
    tessivo::ProcSystem system;
    tessivo::AgentOptions options;
    options.socketPath = socketPath;
    volatile std::sig_atomic_t stop = 0;
    tessivo::AgentServer server(system, options, nullptr);
    server.run(stop);
    ::_exit(0);
  }
  for (int i = 0; i < 500 && !answers(socketPath); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return pid;
}

void killAgent(pid_t pid) {
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

// One refresh as the program's calling thread sees it.
struct Refresher {
  tessivo::SwitchingSystem system;
  std::vector<ProcessSample> out;
  std::unordered_set<std::uint32_t> known;
  explicit Refresher(const std::string& socketPath) : system(socketPath) {}
  double refresh() {
    const Clock::time_point start = Clock::now();
    system.readSnapshot(out);
    std::unordered_set<std::uint32_t> now;
    for (const ProcessSample& s : out) {
      if (!known.contains(s.pid)) benchmark::DoNotOptimize(system.imagePath(s.pid));
      now.insert(s.pid);
    }
    known.swap(now);
    return msSince(start);
  }
};

constexpr auto kPeriod = std::chrono::milliseconds(333);

// Refreshes at the program's period, each timed on the calling thread; the longest too.
void timeRefreshes(benchmark::State& state, Refresher& refresher) {
  double longest = 0;
  for (auto _ : state) {
    std::this_thread::sleep_for(kPeriod);
    const double ms = refresher.refresh();
    longest = std::max(longest, ms);
    state.SetIterationTime(ms / 1000);
  }
  state.counters["longest_ms"] = longest;
}

std::string scratchSocket(char* folder) {
  if (::mkdtemp(folder) == nullptr) return {};
  return std::string(folder) + "/agent.sock";
}

void BM_RefreshWhileAgentStopped(benchmark::State& state) {
  const tessivo::testing::IdleChildren children(200);
  char folder[] = "/tmp/tessivo-client-bench-XXXXXX";
  const std::string socketPath = scratchSocket(folder);
  const pid_t agent = startAgent(socketPath);
  Refresher refresher(socketPath);
  for (int i = 0; i < 20 && !refresher.system.fromAgent(); ++i) {
    refresher.refresh();
    std::this_thread::sleep_for(kPeriod);
  }
  if (!refresher.system.fromAgent()) state.SkipWithError("the agent did not answer");
  ::kill(agent, SIGSTOP);
  timeRefreshes(state, refresher);
  ::kill(agent, SIGCONT);
  killAgent(agent);
  std::filesystem::remove_all(folder);
}

// The same refresh with no agent at all: what /proc alone costs, for comparison.
void BM_RefreshWithoutAgent(benchmark::State& state) {
  const tessivo::testing::IdleChildren children(200);
  Refresher refresher("/nonexistent/agent.sock");
  refresher.refresh();
  timeRefreshes(state, refresher);
}

void BM_ReconnectAfterRestart(benchmark::State& state) {
  char folder[] = "/tmp/tessivo-client-bench-XXXXXX";
  const std::string socketPath = scratchSocket(folder);
  pid_t agent = startAgent(socketPath);
  Refresher refresher(socketPath);
  double longest = 0, total = 0;
  for (auto _ : state) {
    for (int i = 0; i < 20 && !refresher.system.fromAgent(); ++i) {
      refresher.refresh();
      std::this_thread::sleep_for(kPeriod);
    }
    killAgent(agent);
    for (int i = 0; i < 20 && refresher.system.fromAgent(); ++i) {
      refresher.refresh();
      std::this_thread::sleep_for(kPeriod);
    }
    // The refresh timer runs on regardless of when the agent comes back.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    agent = startAgent(socketPath);
    const Clock::time_point back = Clock::now();
    for (int i = 0; i < 60 && !refresher.system.fromAgent(); ++i) {
      std::this_thread::sleep_for(kPeriod);
      refresher.refresh();
    }
    const double ms = refresher.system.fromAgent() ? msSince(back) : 1e9;
    longest = std::max(longest, ms);
    total += ms;
    state.SetIterationTime(ms / 1000);
  }
  state.counters["longest_ms"] = longest;
  state.counters["mean_ms"] = total / static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
  killAgent(agent);
  std::filesystem::remove_all(folder);
}

BENCHMARK(BM_RefreshWhileAgentStopped)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshWithoutAgent)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReconnectAfterRestart)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
