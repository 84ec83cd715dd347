// The agent's metrics: one snapshot's accounting, and one scrape (collection and text
// serialisation) at 1,000 processes and at the 2,000-series cap.
#include <benchmark/benchmark.h>

#include <string>

#include "agent/agent_metrics.h"
#include "core/text.h"

namespace {

using tessivo::AgentMetrics;

struct Workload {
  std::vector<tessivo::ProcessSample> samples;
  std::vector<tessivo::ProcCounters> counters;
  std::vector<std::u16string> paths;

  // `processes` processes spread over `applications` programs.
  Workload(int processes, int applications) {
    for (int i = 0; i < processes; ++i) {
      tessivo::ProcessSample sample;
      sample.pid = static_cast<std::uint32_t>(100 + i);
      sample.name = u"worker";
      sample.createTime = 1;
      samples.push_back(sample);
      counters.emplace_back();
      paths.push_back(tessivo::fromUtf8("/usr/lib/app-" + std::to_string(i % applications) + "/bin/worker"));
    }
  }

  void grow() {
    for (tessivo::ProcCounters& c : counters) {
      c.allIo.readBytes += 4096;
      c.allIo.writeBytes += 512;
      c.allIo.readOps += 1;
    }
  }
};

void BM_MetricsUpdate(benchmark::State& state) {
  Workload work(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  AgentMetrics metrics({"", 2000});
  for (auto _ : state) {
    work.grow();
    metrics.update(work.samples, work.counters, work.paths, 1000);
  }
  state.counters["ns_per_process"] = benchmark::Counter(
      static_cast<double>(state.range(0)), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_MetricsUpdate)->Args({1000, 100})->Args({2500, 2500})->Unit(benchmark::kMicrosecond);

void BM_Scrape(benchmark::State& state) {
  Workload work(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  AgentMetrics metrics({"", 2000});
  metrics.update(work.samples, work.counters, work.paths, 1000);
  work.grow();
  metrics.update(work.samples, work.counters, work.paths, 1000);
  std::size_t bytes = 0;
  for (auto _ : state) {
    const std::string text = metrics.scrapeText();
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
// 1,000 processes in 100 programs; then 2,500 programs, of which 2,000 get a series.
BENCHMARK(BM_Scrape)->Args({1000, 100})->Args({2500, 2500})->Unit(benchmark::kMillisecond);

}  // namespace
