// The cost of one /proc snapshot with many processes: steady state through kept
// descriptors, first sight of every process, and the open/read/close fallback.
// With `--loop COUNT INTERVAL_MS` it instead takes COUNT snapshots INTERVAL_MS apart and
// prints its own CPU time per process per snapshot, for side-by-side runs with other tools,
// and its own read rate as its snapshots show it (what an idle machine's chart draws).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/live_process.h"
#include "procfs/proc_system.h"

namespace {

using tessivo::ProcessSample;
using tessivo::ProcSystem;
using tessivo::testing::IdleChildren;

double cpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void report(benchmark::State& state, double cpu, std::size_t processes) {
  state.counters["processes"] = static_cast<double>(processes);
  const double snapshots = static_cast<double>(state.iterations());
  if (snapshots > 0 && processes > 0)
    state.counters["cpu_us_per_process"] = cpu * 1e6 / snapshots / static_cast<double>(processes);
}

// Times snapshots of an already primed source.
void measureSnapshots(benchmark::State& state, ProcSystem& system, std::vector<ProcessSample>& out) {
  const double start = cpuSeconds();
  for (auto _ : state) {
    system.readSnapshot(out);
    benchmark::DoNotOptimize(out.data());
  }
  report(state, cpuSeconds() - start, out.size());
  state.counters["kept_fds"] = static_cast<double>(system.keptDescriptors());
}

void BM_SnapshotKept(benchmark::State& state) {
  const IdleChildren children;
  ProcSystem system;
  std::vector<ProcessSample> out;
  system.readSnapshot(out);  // every process seen once: descriptors open
  measureSnapshots(state, system, out);
}
BENCHMARK(BM_SnapshotKept)->Unit(benchmark::kMillisecond);

// Every process new: what the first tick costs, and a tick after many processes started.
void BM_SnapshotFirstSight(benchmark::State& state) {
  const IdleChildren children;
  std::vector<ProcessSample> out;
  const double start = cpuSeconds();
  for (auto _ : state) {
    ProcSystem system;
    system.readSnapshot(out);
    benchmark::DoNotOptimize(out.data());
  }
  report(state, cpuSeconds() - start, out.size());
}
BENCHMARK(BM_SnapshotFirstSight)->Unit(benchmark::kMillisecond);

// No descriptor may be kept: every file opened, read and closed at every snapshot.
void BM_SnapshotNoKeptDescriptors(benchmark::State& state) {
  const IdleChildren children;
  rlimit old{};
  ::getrlimit(RLIMIT_NOFILE, &old);
  rlimit tight = old;
  tight.rlim_cur = 128;  // all of it left to the rest of the program
  ::setrlimit(RLIMIT_NOFILE, &tight);
  ProcSystem system;
  std::vector<ProcessSample> out;
  system.readSnapshot(out);
  measureSnapshots(state, system, out);
  ::setrlimit(RLIMIT_NOFILE, &old);
}
BENCHMARK(BM_SnapshotNoKeptDescriptors)->Unit(benchmark::kMillisecond);

int loop(int count, int intervalMs) {
  tessivo::raiseOpenFileLimit();
  ProcSystem system;
  std::vector<ProcessSample> out;
  std::size_t processes = 0;
  const auto self = static_cast<std::uint32_t>(::getpid());
  tessivo::IoCounters first{};
  tessivo::IoCounters last{};
  const double start = cpuSeconds();
  for (int i = 0; i < count; ++i) {
    if (i > 0) {
      const timespec pause{intervalMs / 1000, static_cast<long>(intervalMs % 1000) * 1'000'000};
      ::nanosleep(&pause, nullptr);
    }
    system.readSnapshot(out);
    processes += out.size();
    for (const ProcessSample& s : out)
      if (s.pid == self) (i == 0 ? first : last) = s.counters;
  }
  const double cpu = cpuSeconds() - start;
  const double seconds = count > 1 ? (count - 1) * intervalMs / 1000.0 : 1.0;
  std::printf("snapshots %d processes %.0f cpu_s %.6f cpu_us_per_process %.3f own_read_bytes_per_s %.0f "
              "own_read_calls_per_s %.0f\n",
              count, static_cast<double>(processes) / count, cpu,
              processes > 0 ? cpu * 1e6 / static_cast<double>(processes) : 0.0,
              static_cast<double>(last.readBytes - first.readBytes) / seconds,
              static_cast<double>(last.readOps - first.readOps) / seconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--loop") == 0) return loop(std::atoi(argv[2]), std::atoi(argv[3]));
  tessivo::raiseOpenFileLimit();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
