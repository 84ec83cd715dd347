// Cost of one refresh's recordSample once the history is full, and the memory a
// full 720-hour history holds.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "chart/speed_chart.h"
#include "core/text.h"
#include "counting_alloc.h"

namespace {

using tessivo::bench::gLiveBytes;
using tessivo::NameRate;
using tessivo::SpeedChart;

// A few hundred distinct process names of about twenty characters.
std::vector<std::u16string> processNames() {
  std::vector<std::u16string> out;
  const char* stems[] = {"SearchIndexer", "MsMpEngService", "OneDriveSyncer", "chrome-render", "svchost-netsvc",
                         "explorer-shell"};
  for (int i = 0; i < 300; ++i) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%s%03d.exe", stems[i % 6], i);
    out.push_back(tessivo::widenAscii(buf));
  }
  return out;
}

// The refresh's top list: ten names, largest first, drifting through the name set.
std::vector<NameRate> topList(const std::vector<std::u16string>& names, std::uint64_t tick) {
  std::vector<NameRate> top;
  top.reserve(10);
  for (std::uint64_t k = 0; k < 10; ++k)
    top.push_back({names[(tick * 7 + k * 31) % names.size()], 100000 - k * 1000, 5000 - k * 100});
  return top;
}

void BM_RecordSampleSteadyState(benchmark::State& state) {
  const auto names = processNames();
  SpeedChart chart;
  std::uint64_t tick = 0;
  for (; tick < 2 * chart.liveCapacity; ++tick) chart.recordSample(1000000, 50000, topList(names, tick));

  constexpr std::size_t kBatch = 4096;
  std::vector<std::vector<NameRate>> lists;
  std::size_t next = kBatch;
  for (auto _ : state) {
    if (next == kBatch) {
      state.PauseTiming();
      lists.clear();
      for (std::size_t i = 0; i < kBatch; ++i) lists.push_back(topList(names, tick + i));
      next = 0;
      state.ResumeTiming();
    }
    chart.recordSample(1000000 + tick, 50000, std::move(lists[next++]));
    ++tick;
  }
  benchmark::DoNotOptimize(chart.liveSamples.back().readRate);
  state.counters["live_items"] = static_cast<double>(chart.liveSamples.size());
}
BENCHMARK(BM_RecordSampleSteadyState);

void BM_FullRetentionMemory(benchmark::State& state) {
  const auto names = processNames();
  for (auto _ : state) {
    const std::int64_t before = gLiveBytes.load();
    auto chart = std::make_unique<SpeedChart>();
    chart->setRetentionHours(720);
    chart->setSampleInterval(10000);  // six refreshes a minute keeps the fill quick
    const std::uint64_t refreshes = chart->minuteCapacity * static_cast<std::uint64_t>(chart->ticksPerMinute);
    for (std::uint64_t t = 0; t < refreshes; ++t) chart->recordSample(1000000, 50000, topList(names, t));
    const std::int64_t held = gLiveBytes.load() - before;

    state.counters["minute_items"] = static_cast<double>(chart->minuteSamples.size());
    state.counters["names"] = static_cast<double>(chart->names.liveNames());
    state.counters["bytes"] = static_cast<double>(held);
    state.counters["MiB"] = static_cast<double>(held) / (1024.0 * 1024.0);
    state.counters["bytes_per_minute_item"] = static_cast<double>(held) / static_cast<double>(chart->minuteSamples.size());
    if (chart->minuteSamples.size() != 43200 || held > 16 * 1024 * 1024)
      state.SkipWithError("a full 720-hour history does not fit in 16 MiB");
  }
}
BENCHMARK(BM_FullRetentionMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
