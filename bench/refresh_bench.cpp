// One refresh in steady state: every process already known, counters growing, the clock
// moving 333 ms per tick.
#include <benchmark/benchmark.h>

#include <string>

#include "app/app_state.h"
#include "core/text.h"
#include "list/row_order.h"
#include "sampling/row_builder.h"
#include "sampling/refresh_tick.h"
#include "support/scripted_system.h"

namespace {

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
  for (int i = 0; i < 20; ++i) tessivo::RefreshTick::run(state);  // every pid known, buffers grown
  for (auto _ : bench) {
    tessivo::RefreshTick::run(state);
    benchmark::DoNotOptimize(state.rows.data());
  }
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
