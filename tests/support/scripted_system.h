// A process system whose processes, counters and clock a test or benchmark chooses.
// Portable and header-only: native tests, benchmarks and a Windows test build of the
// program all use it in place of the real one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/types.h"
#include "sampling/process_system.h"

namespace tessivo::testing {

struct ScriptedProcess {
  std::uint32_t pid = 0;
  std::u16string name;
  std::u16string imagePath;  // empty: the path cannot be obtained
  std::uint64_t createTime = 0;
  IoCounters counters;  // what the next snapshot reports
  IoCounters perTick;   // added to counters at every step of the script
};

class ScriptedSystem : public ProcessSystem {
 public:
  std::vector<ScriptedProcess> processes;  // in the order the system lists them
  std::uint64_t clockMs = 10'000;
  std::uint64_t stepMs = 333;
  // Every snapshot after the first is one step later than the one before: counters have
  // grown by perTick and the clock by stepMs. The next failReads snapshots come back
  // empty; time passes for them all the same.
  int failReads = 0;
  std::uint64_t readCount = 0;
  std::uint64_t imagePathCalls = 0;

  ScriptedProcess& add(std::uint32_t pid, std::u16string name, std::u16string imagePath = {},
                       std::uint64_t createTime = 0) {
    return processes.emplace_back(
        ScriptedProcess{pid, std::move(name), std::move(imagePath), createTime, {}, {}});
  }
  ScriptedProcess* find(std::uint32_t pid) {
    auto it = std::ranges::find(processes, pid, &ScriptedProcess::pid);
    return it == processes.end() ? nullptr : &*it;
  }

  void readSnapshot(std::vector<ProcessSample>& out) override {
    if (++readCount > 1) {
      clockMs += stepMs;
      for (ScriptedProcess& p : processes) {
        IoCounters& c = p.counters;
        const IoCounters& d = p.perTick;
        c = IoCounters{c.readOps + d.readOps,     c.writeOps + d.writeOps,     c.otherOps + d.otherOps,
                       c.readBytes + d.readBytes, c.writeBytes + d.writeBytes, c.otherBytes + d.otherBytes};
      }
    }
    out.resize(failReads > 0 ? 0 : processes.size());
    failReads -= failReads > 0 ? 1 : 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
      const ScriptedProcess& p = processes[i];
      out[i].name.assign(p.name);  // reuses the sample's storage, as the real walk does
      std::tie(out[i].pid, out[i].counters, out[i].createTime) = std::tuple(p.pid, p.counters, p.createTime);
    }
  }
  std::u16string imagePath(std::uint32_t pid) override {
    ++imagePathCalls;
    const ScriptedProcess* p = find(pid);
    return p == nullptr ? std::u16string() : p->imagePath;
  }
  std::uint64_t nowMs() override { return clockMs; }
};

}  // namespace tessivo::testing
