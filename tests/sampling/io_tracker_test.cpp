#include "sampling/io_tracker.h"

#include <gtest/gtest.h>

namespace tessivo {
namespace {

ProcessSample sample(std::uint32_t pid, std::uint64_t readBytes, std::uint64_t writeBytes = 0,
                     std::uint64_t createTime = 0) {
  ProcessSample s;
  s.pid = pid;
  s.name = u"p.exe";
  s.counters = IoCounters{readBytes / 100, writeBytes / 100, 3, readBytes, writeBytes, 7};
  s.createTime = createTime;
  return s;
}

// One process reading `readBytes` in total at each of the given clock values.
std::vector<std::uint64_t> readRates(IoTracker& t, std::vector<std::pair<std::uint64_t, std::uint64_t>> steps) {
  std::vector<std::uint64_t> rates;
  for (auto [now, bytes] : steps) rates.push_back(t.update({sample(5, bytes)}, now)[0].readRate);
  return rates;
}

TEST(IoTracker, SmoothsByElapsedTime) {
  IoTracker t;
  EXPECT_EQ(readRates(t, {{1000, 0}, {1333, 333'000}, {1666, 666'000}}),
            (std::vector<std::uint64_t>{0, 83'250, 159'569}));
  // A gap of 4000 ms or more counts fully; the instantaneous speed truncates (2469135.6).
  EXPECT_EQ(readRates(t, {{6666, 666'000 + 12'345'678}})[0], 2'469'135u);
  EXPECT_EQ(readRates(t, {{10'666, 666'000 + 12'345'678 + 4000}})[0], 1000u);
  // No time passed: 0 now, and the next refresh continues from the kept state.
  IoTracker u;
  EXPECT_EQ(readRates(u, {{0, 0}, {333, 333'000}, {333, 333'000}, {666, 666'000}}),
            (std::vector<std::uint64_t>{0, 83'250, 0, 159'569}));
  // Write speed likewise; a counter that went down gives 0, never a wrapped amount.
  IoTracker w;
  w.update({sample(1, 0, 4000)}, 0);
  EXPECT_EQ(w.update({sample(1, 0, 8000)}, 4000)[0].writeRate, 1000u);
  EXPECT_EQ(w.update({sample(1, 0, 100)}, 8000)[0].writeRate, 0u);
  // An absurd jump does not wrap around to a small speed.
  w.update({sample(2, 0)}, 8000);
  EXPECT_EQ(w.update({sample(2, std::uint64_t{1} << 62)}, 12'000)[0].readRate, std::uint64_t{1} << 60);
}

TEST(IoTracker, RunDeltaCountsFromFirstSight) {
  IoTracker t;
  auto first = t.update({sample(9, 10u << 20, 500), sample(3, 100)}, 0);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].pid, 3u);  // sorted by pid
  EXPECT_EQ(first[1].counters, IoCounters{});
  EXPECT_EQ(first[1].readRate, 0u);
  EXPECT_EQ(first[1].name, u"p.exe");
  auto later = t.update({sample(9, (10u << 20) + 4000, 400)}, 4000);
  EXPECT_EQ(later[0].counters, (IoCounters{40, 0, 0, 4000, 0, 0}));  // write below baseline: 0
  EXPECT_EQ(later[0].readRate, 1000u);
  // Any value other than 1 behaves as RunDelta.
  t.countMode = static_cast<CountMode>(7);
  EXPECT_EQ(t.update({sample(9, (10u << 20) + 8000)}, 8000)[0].counters.readBytes, 8000u);
}

TEST(IoTracker, ModeChangesAndClearRestart) {
  IoTracker t;
  const auto at = [&t](std::uint64_t bytes, std::uint64_t now) { return t.update({sample(1, bytes)}, now)[0]; };
  at(1000, 0);
  EXPECT_EQ(at(5000, 4000).readRate, 1000u);
  t.setCountMode(CountMode::RunDelta);  // same mode: nothing forgotten
  EXPECT_EQ(at(9000, 8000).counters.readBytes, 8000u);
  t.setCountMode(CountMode::SystemCumulative);
  const ProcessActivity cumulative = at(13'000, 12'000);
  EXPECT_EQ(cumulative.counters.readBytes, 13'000u);
  EXPECT_EQ(cumulative.readRate, 0u);
  EXPECT_TRUE(t.baselines.empty());  // not used in this mode
  EXPECT_EQ(at(17'000, 16'000).readRate, 1000u);
  t.setCountMode(CountMode::RunDelta);
  const ProcessActivity back = at(21'000, 20'000);
  EXPECT_EQ(back.counters, IoCounters{});
  EXPECT_EQ(back.readRate, 0u);
  at(25'000, 24'000);
  t.clear();
  EXPECT_EQ(t.countMode, CountMode::RunDelta);
  EXPECT_EQ(at(29'000, 28'000).readRate, 0u);
  EXPECT_EQ(at(33'000, 32'000).counters.readBytes, 4000u);
}

TEST(IoTracker, ReusedIdentifierStartsAfresh) {
  IoTracker t;
  std::vector<ProcessActivity> out;
  std::vector<std::uint32_t> reused;
  const auto at = [&](std::uint64_t bytes, std::uint64_t createTime, std::uint64_t now) {
    t.update({sample(100, bytes, 0, createTime)}, now, out, &reused);
    return out[0];
  };
  at(50'000, 111, 0);
  EXPECT_EQ(at(60'000, 111, 4000).readRate, 2500u);
  const ProcessActivity fresh = at(2000, 222, 8000);  // a new process got pid 100
  EXPECT_EQ(reused, std::vector<std::uint32_t>{100});
  EXPECT_EQ(fresh.counters, IoCounters{});
  EXPECT_EQ(fresh.readRate, 0u);
  EXPECT_EQ(at(6000, 222, 12'000).readRate, 1000u);
  EXPECT_TRUE(reused.empty());
  // Unknown creation time is never a reuse; the same process after an empty snapshot continues.
  EXPECT_EQ(at(10'000, 0, 16'000).counters.readBytes, 8000u);
  EXPECT_TRUE(reused.empty());
  t.update({}, 20'000, out, &reused);
  EXPECT_TRUE(out.empty());
  const ProcessActivity later = at(18'000, 222, 24'000);
  EXPECT_TRUE(reused.empty());
  EXPECT_EQ(later.counters.readBytes, 16'000u);
  EXPECT_EQ(later.readRate, 1000u);  // 8000 bytes over 8000 ms, weight 1
}

}  // namespace
}  // namespace tessivo
