// A whole application state over a scripted system, with a list that writes down what it
// is told: the fixture of the refresh step and of the commands that run it.
#pragma once

#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/refresh_tick.h"
#include "core/text.h"
#include "support/scripted_system.h"

namespace tessivo::testing {

using Texts = std::vector<std::string>;
// "name/read rate" of each row.
inline Texts named(const std::vector<ProcessRow>& rows) {
  Texts out;
  for (const ProcessRow& r : rows) out.push_back(toUtf8(r.name) + "/" + std::to_string(r.readRate));
  return out;
}
// "name=read rate/write rate" of each of an item's contributors.
inline Texts contributors(const SpeedChart& chart, const ChartSample& item) {
  Texts out;
  for (const Contributor& c : item.contributors)
    out.push_back(toUtf8(chart.contributorName(c)) + "=" + std::to_string(c.readRate) + "/" +
                  std::to_string(c.writeRate));
  return out;
}

struct RecordingList : ListSurface {
  std::vector<std::string> calls;
  void setRowCount(std::size_t count) override { calls.push_back("count " + std::to_string(count)); }
  void repaint() override { calls.push_back("repaint"); }
};

struct RefreshRig {
  ScriptedSystem sys;
  AppState state{sys};
  RecordingList list;
  explicit RefreshRig(std::uint64_t stepMs) { sys.stepMs = stepMs; }
  // A process reading and writing at steady speeds (bytes per second of the script's
  // clock) with one operation each way per step; its creation time is 1000 + pid.
  ScriptedProcess& add(std::uint32_t pid, std::u16string name, std::uint64_t readRate,
                       std::uint64_t writeRate = 0, std::u16string path = {}) {
    ScriptedProcess& p = sys.add(pid, std::move(name), std::move(path), 1000 + pid);
    p.perTick = IoCounters{1, 1, 0, readRate * sys.stepMs / 1000, writeRate * sys.stepMs / 1000, 0};
    return p;
  }
  void tick(int times = 1) {
    for (int i = 0; i < times; ++i) RefreshTick::run(state);
  }
};

}  // namespace tessivo::testing
