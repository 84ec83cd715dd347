// The chart history the agent keeps, at 72 and 720 hours of always-busy minutes (reached
// with a test clock: the history is fed at a 10 s interval, six refreshes a minute):
// - memory: the agent's history (both byte sources) beside the desktop program's own tracker
//   and chart fed the same refreshes, one byte source;
// - the transfer: the whole history over the agent's socket into the desktop program's
//   worker, as it happens after a connect (frames, bytes on the wire, time until handed over);
// - the merge into the program's chart on its GUI thread: the pause a refresh sees.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/agent_history.h"
#include "agent/agent_link.h"
#include "agent/agent_server.h"
#include "agent/history_timeline.h"
#include "counting_alloc.h"
#include "sampling/io_tracker.h"
#include "sampling/top_list.h"

namespace {

using namespace tessivo;
using bench::gLiveBytes;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kIntervalMs = 10'000;
constexpr std::size_t kProcesses = 60;

// Sixty processes writing every refresh at speeds that drift (0.1 to 10 MB/s), under names that change every
// minute among 300 of about twenty characters: every minute has ten contributors.
struct BusyMachine {
  std::vector<std::u16string> names;
  std::vector<ProcessSample> samples;
  std::vector<ProcCounters> counters;
  std::uint64_t clockMs = 1'000'000;
  std::uint64_t tick = 0;
  BusyMachine() : samples(kProcesses), counters(kProcesses) {
    for (int i = 0; i < 300; ++i) {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%s-%03d", i % 3 ? "build-worker" : "backup-daemon", i);
      names.emplace_back(buf, buf + std::strlen(buf));
    }
    for (std::size_t i = 0; i < kProcesses; ++i) samples[i].pid = static_cast<std::uint32_t>(100 + i);
  }
  void step() {
    ++tick;
    clockMs += kIntervalMs;
    for (std::size_t i = 0; i < kProcesses; ++i) {
      const std::uint64_t amount = 1'000'000 * ((tick * 7 + i * 13) % 97 + 1);  // 0.1 to 10 MB/s
      counters[i].allIo.writeBytes += amount;
      counters[i].allIo.readBytes += amount / 2;
      counters[i].diskOnly.writeBytes += amount / 3;
      samples[i].counters = counters[i].allIo;
      if (tick % 6 == 1) samples[i].name = names[(tick / 6 * 7 + i) % names.size()];
    }
  }
};

std::uint64_t refreshesFor(std::int32_t hours) { return static_cast<std::uint64_t>(hours) * 60 * 6 + 30; }

void fill(AgentHistory& history, std::int32_t hours) {
  BusyMachine machine;
  for (std::uint64_t t = refreshesFor(hours); t > 0; --t) {
    machine.step();
    history.record(machine.samples, machine.counters, machine.clockMs);
  }
}

void BM_HistoryMemory(benchmark::State& state) {
  const auto hours = static_cast<std::int32_t>(state.range(0));
  for (auto _ : state) {
    const std::int64_t before = gLiveBytes.load();
    auto history = std::make_unique<AgentHistory>(kIntervalMs, hours);
    fill(*history, hours);
    const std::int64_t agentBytes = gLiveBytes.load() - before;

    // What the desktop program keeps for the same refreshes: its tracker and its chart.
    const std::int64_t start = gLiveBytes.load();
    auto chart = std::make_unique<SpeedChart>();
    auto tracker = std::make_unique<IoTracker>();
    TopListScratch top;
    std::vector<ProcessActivity> activities;
    chart->setSampleInterval(kIntervalMs);
    chart->setRetentionHours(hours);
    BusyMachine machine;
    for (std::uint64_t t = refreshesFor(hours); t > 0; --t) {
      machine.step();
      tracker->update(machine.samples, machine.clockMs, activities);
      std::uint64_t read = 0, write = 0;
      for (const ProcessActivity& a : activities) read += a.readRate, write += a.writeRate;
      chart->recordSample(read, write, buildTopList(activities, top));
    }
    const std::int64_t desktopBytes = gLiveBytes.load() - start;

    const std::size_t minutes = history->size(ProcByteSource::AllIo, agent::HistorySeries::Minutes);
    ChartSample newest;
    history->item(ProcByteSource::AllIo, agent::HistorySeries::Minutes, minutes - 1, newest);
    state.counters["minutes"] = static_cast<double>(minutes);
    state.counters["agent_MiB"] = static_cast<double>(agentBytes) / (1 << 20);
    state.counters["desktop_MiB"] = static_cast<double>(desktopBytes) / (1 << 20);
    state.counters["agent_both_sources_vs_desktop"] = static_cast<double>(agentBytes) / static_cast<double>(desktopBytes);
    if (minutes != static_cast<std::size_t>(hours) * 60 || newest.contributors.size() != 10 ||
        chart->minuteSamples.size() != minutes)
      state.SkipWithError("the history is not full and busy");
  }
}
BENCHMARK(BM_HistoryMemory)->Arg(72)->Arg(720)->Iterations(1)->Unit(benchmark::kMillisecond);

// What a refresh of the history costs the agent per process, both byte sources, over the
// same thousand processes the /proc benchmarks read (compare proc_snapshot_bench's figure).
void BM_HistoryRecord(benchmark::State& state) {
  constexpr std::size_t kMany = 1000;
  std::vector<ProcessSample> samples(kMany);
  std::vector<ProcCounters> counters(kMany);
  for (std::size_t i = 0; i < kMany; ++i) {
    samples[i].pid = static_cast<std::uint32_t>(100 + i);
    samples[i].name = u"sleep";
  }
  AgentHistory history(333, 72);
  std::uint64_t clock = 1'000'000;
  for (auto _ : state) {
    clock += 333;
    for (std::size_t i = 0; i < kMany; i += 50) counters[i].allIo.writeBytes += 4096 * (i + 1);  // a few busy
    history.record(samples, counters, clock);
  }
  state.counters["ns_per_process"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * kMany, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_HistoryRecord);

volatile std::sig_atomic_t stopServer = 0;

// The whole history from a real agent loop over its socket into the program's worker,
// then merged into the program's chart on this thread.
void BM_HistoryTransferAndMerge(benchmark::State& state) {
  const auto hours = static_cast<std::int32_t>(state.range(0));
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tessivo-hbench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  ProcSystem proc;
  AgentOptions options;
  options.socketPath = (dir / "agent.sock").string();
  options.intervalMs = kIntervalMs;
  options.retentionHours = hours;
  AgentServer server(proc, options, nullptr);
  fill(server.history(), hours);
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM), sigaddset(&blocked, SIGINT);
  ::pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
  stopServer = 0;
  std::thread serving([&] { server.run(stopServer); });

  // The quickest of the runs: the machine is shared, and other work only ever adds.
  double arrivalMs = 1e9, mergeMs = 1e9, wireBytes = 0, frames = 0;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    AgentLink link(options.socketPath);
    link.request();  // as the program's source does when it is made
    HistoryCopy copy;
    while (!link.takeHistory(copy) && Clock::now() - start < std::chrono::seconds(20))
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    arrivalMs = std::min(arrivalMs, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    if (copy.minutes.size() != static_cast<std::size_t>(hours) * 60) state.SkipWithError("not the whole history");

    // The bytes on the wire: the same frames the agent sent, encoded again.
    wireBytes = frames = 0;
    for (const agent::HistorySeries series : {agent::HistorySeries::Minutes, agent::HistorySeries::Live}) {
      for (std::uint64_t after = 0;; ++frames) {
        std::string frame;
        server.history().encode(ProcByteSource::AllIo, series, after, frame);
        wireBytes += static_cast<double>(frame.size());
        agent::HistoryChunk chunk;
        agent::decodeHistory(std::string_view(frame).substr(agent::kFrameHeader), chunk);
        if (chunk.items.empty()) break;
        after = chunk.firstSequence + chunk.items.size() - 1;
      }
    }

    // The program has refreshed a few times, since the agent's newest minute, when the
    // history arrives.
    const std::uint64_t started = copy.minutes.back().endMs + 60'000;
    SpeedChart chart;
    chart.setSampleInterval(kIntervalMs);
    chart.setRetentionHours(hours);
    HistoryTimeline timeline;
    for (int i = 0; i < 3; ++i) {
      chart.recordSample(5, 5, {NameRate{u"own", 5, 5}});
      timeline.recorded(chart, started + i * kIntervalMs, true);
    }
    const Clock::time_point merging = Clock::now();
    {
      HistoryCopy taken = std::move(copy);  // freed on this thread too, as in the program
      timeline.merge(chart, taken);
    }
    mergeMs = std::min(mergeMs, std::chrono::duration<double, std::milli>(Clock::now() - merging).count());
    if (chart.minuteSamples.size() != static_cast<std::size_t>(hours) * 60) state.SkipWithError("not merged");
  }
  stopServer = 1;
  serving.join();
  std::filesystem::remove_all(dir);
  state.counters["frames"] = frames;
  state.counters["wire_KiB"] = wireBytes / 1024;
  state.counters["arrival_ms"] = arrivalMs;
  state.counters["gui_merge_ms"] = mergeMs;
}
BENCHMARK(BM_HistoryTransferAndMerge)->Arg(72)->Arg(720)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
