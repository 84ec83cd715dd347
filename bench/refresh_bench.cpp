// One refresh in steady state: every process already known, counters growing, the clock
// moving 333 ms per tick.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "app/app_state.h"
#include "core/text.h"
#include "counting_alloc.h"
#include "list/row_order.h"
#include "sampling/row_builder.h"
#include "app/refresh_tick.h"
#include "support/scripted_system.h"

namespace {

using tessivo::bench::gAllocations;
using tessivo::bench::gLiveBytes;
using tessivo::testing::ScriptedSystem;

void populate(ScriptedSystem& sys, int count) {
  for (int i = 0; i < count; ++i) {
    const auto pid = static_cast<std::uint32_t>(8 + 4 * i);
    // About three processes per application, as with browsers and service hosts.
    const std::string app = "app" + std::to_string(i / 3);
    auto& p = sys.add(pid, tessivo::widenAscii(app + ".exe"),
                      tessivo::widenAscii("C:\\Program Files\\Vendor\\" + app + "\\" + app + ".exe"),
                      132'000'000'000'000'000ull + pid);
    p.counters = tessivo::IoCounters{1000, 500, 200, 4'000'000, 2'000'000, 100'000};
    // A quarter of the processes are busy, the rest idle.
    if (i % 4 == 0) p.perTick = tessivo::IoCounters{3, 1, 1, 65'536 + 512 * static_cast<unsigned>(i % 97), 4096, 128};
  }
}

void BM_Refresh(benchmark::State& bench) {
  ScriptedSystem sys;
  sys.stepMs = 333;
  populate(sys, static_cast<int>(bench.range(0)));
  tessivo::AppState state(sys);
  state.groupByApp = bench.range(1) != 0;
  // Every pid known, buffers grown, and more than one minute item closed.
  for (int i = 0; i < 400; ++i) tessivo::RefreshTick::run(state);
  const std::uint64_t allocationsBefore = gAllocations.load();
  for (auto _ : bench) {
    tessivo::RefreshTick::run(state);
    benchmark::DoNotOptimize(state.rows.data());
  }
  bench.counters["allocs_per_refresh"] =
      static_cast<double>(gAllocations.load() - allocationsBefore) / static_cast<double>(bench.iterations());
  bench.counters["rows"] = static_cast<double>(state.rows.size());
  bench.counters["pathCalls"] = static_cast<double>(sys.imagePathCalls);
}

// The ordering step alone, on the same rows as built (pid order), to tell it apart from
// the rest of the refresh.
void BM_SortRowsOfRefresh(benchmark::State& bench) {
  ScriptedSystem sys;
  populate(sys, static_cast<int>(bench.range(0)));
  tessivo::AppState state(sys);
  state.groupByApp = bench.range(1) != 0;
  for (int i = 0; i < 20; ++i) tessivo::RefreshTick::run(state);
  const std::vector<tessivo::ProcessRow> built =
      tessivo::buildRows(state.scratch.activities, state.groupByApp, state.imagePaths, sys);
  std::vector<tessivo::ProcessRow> rows;
  for (auto _ : bench) {
    bench.PauseTiming();
    rows = built;
    bench.ResumeTiming();
    tessivo::sortRows(rows, state.sortColumn, state.sortAscending);
    benchmark::DoNotOptimize(rows.data());
  }
}

// A build machine's churn: 1000 processes, 30 of them replaced by new identifiers every
// refresh, for a million identifiers. What the whole state holds must not grow with them.
void BM_ChurnMemory(benchmark::State& bench) {
  for (auto _ : bench) {
    ScriptedSystem sys;
    populate(sys, 1000);
    const std::int64_t before = gLiveBytes.load();
    auto state = std::make_unique<tessivo::AppState>(sys);
    std::uint32_t nextPid = 100'000;
    std::int64_t at100k = 0;
    for (std::uint64_t seen = 1000; seen < 1'000'000; seen += 30) {
      for (int k = 0; k < 30; ++k) {
        auto& p = sys.processes[(seen + k) % 1000];
        p.pid = nextPid++;
        p.createTime = 132'000'000'000'000'000ull + p.pid;
      }
      tessivo::RefreshTick::run(*state);
      if (at100k == 0 && seen >= 100'000) at100k = gLiveBytes.load() - before;
    }
    const std::int64_t held = gLiveBytes.load() - before;
    bench.counters["MiB_at_100k_ids"] = static_cast<double>(at100k) / (1024.0 * 1024.0);
    bench.counters["MiB_at_1M_ids"] = static_cast<double>(held) / (1024.0 * 1024.0);
    bench.counters["tracked_ids"] = static_cast<double>(state->tracker.size());
  }
}
BENCHMARK(BM_ChurnMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_SortRowsOfRefresh)
    ->ArgNames({"processes", "grouped"})
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_Refresh)
    ->ArgNames({"processes", "grouped"})
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->Args({5000, 0})
    ->Args({5000, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
