// Cost of one refresh's recordSample once the history is full, and the memory a
// full 720-hour history holds.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "chart/speed_chart.h"
#include "core/text.h"

namespace {

// Live heap bytes of the whole process. The counting allocator below is the only
// way to see what the containers really hold, so it has to be process-wide.
std::atomic<std::int64_t> gLiveBytes{0};

constexpr std::size_t kHeader = alignof(std::max_align_t);

void* countedAlloc(std::size_t size) {
  void* raw = std::malloc(size + kHeader);
  if (raw == nullptr) throw std::bad_alloc();
  *static_cast<std::size_t*>(raw) = size;
  gLiveBytes.fetch_add(static_cast<std::int64_t>(size), std::memory_order_relaxed);
  return static_cast<char*>(raw) + kHeader;
}

void countedFree(void* p) noexcept {
  if (p == nullptr) return;
  void* raw = static_cast<char*>(p) - kHeader;
  gLiveBytes.fetch_sub(static_cast<std::int64_t>(*static_cast<std::size_t*>(raw)), std::memory_order_relaxed);
  std::free(raw);
}

}  // namespace

void* operator new(std::size_t size) { return countedAlloc(size); }
void* operator new[](std::size_t size) { return countedAlloc(size); }
void operator delete(void* p) noexcept { countedFree(p); }
void operator delete[](void* p) noexcept { countedFree(p); }
void operator delete(void* p, std::size_t) noexcept { countedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { countedFree(p); }

namespace {

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
