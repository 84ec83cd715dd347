// Counts shown across changes of source: one process's write bytes, refresh by refresh,
// as /proc (0: unreadable there) and the agent (0: not from the agent) report them.
#include <gtest/gtest.h>

#include <vector>

#include "agent/count_continuity.h"

namespace tessivo {
namespace {

constexpr std::uint64_t kZero = ~0ull;  // a reading of zero, where 0 says there is none

struct Step {
  std::uint64_t agent;  // 0: this refresh's list is /proc's
  std::uint64_t local;  // 0: unreadable to /proc
  std::uint64_t shown;
  std::uint32_t rawGeneration = 0;
  std::uint32_t generation = 0;
  std::uint64_t createTime = 1;
};

struct Case {
  const char* what;
  std::vector<Step> steps;
};

ProcCounters written(std::uint64_t bytes, bool unreadable = false) {
  ProcCounters c;
  if (bytes == kZero) bytes = 0;
  c.allIo.writeBytes = bytes;
  c.diskOnly.writeBytes = bytes / 2;
  c.unreadable = unreadable;
  return c;
}

TEST(CountContinuity, CreditsEachSourcesGrowthOnceAcrossEverySwitch) {
  const std::vector<Case> cases = {
      {"another user's process across an outage: held, then what it did meanwhile at once",
       {{100, 0, 100}, {0, 0, 100}, {0, 0, 100}, {400, 0, 400}, {450, 0, 450}}},
      {"this user's process: /proc's growth at every refresh, no switch drops one",
       {{100, 100, 100}, {0, 150, 150}, {0, 200, 200}, {260, 260, 260}, {300, 300, 300}}},
      {"this user's process when the agent's frame differs (reaped children, own reads)",
       {{5000, 100, 100}, {0, 150, 150}, {9000, 200, 200}, {9100, 250, 250}}},
      {"readable, then not: the agent's growth less what /proc credited meanwhile",
       {{100, 100, 100}, {0, 180, 180}, {0, 0, 180}, {300, 0, 300}, {0, 350, 300}, {0, 360, 310}}},
      {"first seen unreadable: the agent's first value is no growth",
       {{0, 0, 0}, {500, 0, 0}, {520, 0, 20}}},
      {"first seen on the agent: its whole count, as a new process", {{700, 0, 700}, {710, 0, 710}}},
      {"a new process's first I/O counts from zero, on either source",
       {{kZero, 0, 0}, {500, 0, 500}, {0, kZero, 500}, {0, 40, 540}}},
      {"a counter that goes back is no growth, and counting goes on from there",
       {{0, 300, 300}, {0, 200, 300}, {0, 260, 360}}},
      {"a reused pid is a new process", {{0, 300, 300}, {0, 50, 50, 0, 0, 2}}},
      {"an exec within one source counts; a switch of source does not",
       {{100, 0, 100, 0, 0}, {0, 0, 100, 3, 0}, {0, 0, 100, 4, 1}, {200, 0, 200, 0, 1}, {210, 0, 210, 1, 2}}},
  };
  for (const Case& c : cases) {
    CountContinuity counts;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const Step& s = c.steps[i];
      ProcessSample sample;
      sample.pid = 10;
      sample.createTime = s.createTime;
      sample.imageGeneration = s.rawGeneration;
      // A neighbour on either side keeps the merge by pid honest.
      ProcessSample before = sample, after = sample;
      before.pid = 9, after.pid = 11;
      std::vector<ProcessSample> out{before, sample, after};
      const std::vector<ProcessSample> local = out;
      const std::vector<ProcCounters> localRaw{written(7), written(s.local, s.local == 0), written(7)};
      const std::vector<ProcCounters> agentRaw{written(7), written(s.agent), written(7)};
      counts.present(out, s.agent != 0, agentRaw, local, localRaw, ProcByteSource::AllIo);
      ASSERT_EQ(out.size(), 3u) << c.what;
      EXPECT_EQ(out[1].counters.writeBytes, s.shown) << c.what << ", refresh " << i;
      EXPECT_EQ(out[1].imageGeneration, s.generation) << c.what << ", refresh " << i;
      EXPECT_EQ(out[0].counters.writeBytes, 7u) << c.what;
      // The other byte source goes along.
      counts.present(out = {before, sample, after}, s.agent != 0, agentRaw, local, localRaw,
                     ProcByteSource::DiskOnly);
      EXPECT_EQ(out[1].counters.writeBytes, s.shown / 2) << c.what << ", refresh " << i;
    }
  }
}

}  // namespace
}  // namespace tessivo
