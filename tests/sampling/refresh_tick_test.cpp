#include "sampling/refresh_tick.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/app_state.h"
#include "core/text.h"
#include "support/scripted_system.h"

namespace tessivo {
namespace {

struct RecordingList : ListSurface {
  std::vector<std::string> calls;
  void setRowCount(std::size_t count) override { calls.push_back("count " + std::to_string(count)); }
  void repaint() override { calls.push_back("repaint"); }
};

// With 4000 ms steps the smoothing counts fully, so a process reading 4 * r bytes per
// step shows exactly r B/s from its second sample on.
struct Rig {
  testing::ScriptedSystem sys;
  AppState state{sys};
  Rig() { sys.stepMs = 4000; }
  void add(std::uint32_t pid, std::u16string name, std::uint64_t readRate, std::uint64_t writeRate = 0,
           std::u16string path = {}) {
    sys.add(pid, std::move(name), std::move(path), 1000 + pid).perTick = IoCounters{1, 1, 0, 4 * readRate, 4 * writeRate, 0};
  }
  const ProcessRow* row(std::uint32_t pid) const {
    auto it = std::find_if(state.rows.begin(), state.rows.end(), [pid](const ProcessRow& r) { return r.pid == pid; });
    return it == state.rows.end() ? nullptr : &*it;
  }
  std::vector<std::pair<std::string, std::uint64_t>> contributors() const {
    std::vector<std::pair<std::string, std::uint64_t>> out;
    for (const Contributor& c : state.chart.liveSamples.back().contributors)
      out.emplace_back(toUtf8(state.chart.contributorName(c)), c.readRate + c.writeRate);
    return out;
  }
};

TEST(RefreshTick, RecordsTotalsAndTheBusiestNames) {
  Rig rig;
  rig.state.groupByApp = false;
  for (std::uint32_t i = 1; i <= 12; ++i) rig.add(100 + i, u"p" + widenAscii(std::to_string(i)), 10 * i, i);
  rig.add(300, u"dup.exe", 500);
  rig.add(301, u"dup.exe", 0, 700);
  rig.add(302, u"DUP.EXE", 50);  // another name: names compare exactly
  rig.add(400, u"", 90);
  rig.add(500, u"idle.exe", 0);
  RefreshTick::run(rig.state);
  ASSERT_EQ(rig.state.chart.liveSamples.size(), 1u);
  EXPECT_EQ(rig.state.chart.liveSamples.back().readRate, 0u);
  EXPECT_TRUE(rig.state.chart.liveSamples.back().contributors.empty());
  RefreshTick::run(rig.state);
  const ChartSample& s = rig.state.chart.liveSamples.back();
  EXPECT_EQ(s.readRate, 780u + 500 + 50 + 90);
  EXPECT_EQ(s.writeRate, 78u + 700);
  using C = std::vector<std::pair<std::string, std::uint64_t>>;
  EXPECT_EQ(rig.contributors(), (C{{"dup.exe", 1200}, {"p12", 132}, {"p11", 121}, {"p10", 110}, {"p9", 99},
                                   {"（未知）", 90}, {"p8", 88}, {"p7", 77}, {"p6", 66}, {"p5", 55}}));
  EXPECT_EQ(rig.state.rows.size(), 17u);  // every process has a row, the idle one too
  ASSERT_NE(rig.row(500), nullptr);
  EXPECT_EQ(rig.row(500)->readRate, 0u);
  EXPECT_EQ(rig.row(300)->readRate, 500u);
  EXPECT_EQ(rig.row(300)->counters.readBytes, 2000u);
}

TEST(RefreshTick, PublishesRowsAndReadsTheClockAfterTheSnapshot) {
  Rig rig;
  rig.sys.stepMs = 333;
  rig.add(8, u"a.exe", 0, 0, u"C:\\A.exe");
  rig.add(9, u"A.EXE", 0, 0, u"c:\\a.exe");
  rig.sys.find(8)->perTick.readBytes = 333'000;
  RefreshTick::run(rig.state);  // no list yet: publishing is skipped
  RecordingList list;
  rig.state.listView = &list;
  RefreshTick::run(rig.state);
  EXPECT_EQ(list.calls, (std::vector<std::string>{"count 1", "repaint"}));
  ASSERT_EQ(rig.state.rows.size(), 1u);
  EXPECT_EQ(rig.state.rows[0].name, u"A.exe");
  EXPECT_EQ(rig.state.rows[0].readRate, 83'250u);  // 333 ms after the first snapshot
  rig.state.groupByApp = false;
  RefreshTick::run(rig.state);
  EXPECT_EQ(rig.state.rows.size(), 2u);
  EXPECT_EQ(list.calls.back(), "repaint");
  EXPECT_EQ(list.calls[2], "count 2");
}

TEST(RefreshTick, AsksForPathsOnlyOfNewIdentifiers) {
  Rig rig;
  rig.add(0, u"System", 0);
  rig.add(4, u"System", 0);
  rig.add(20, u"a.exe", 5, 0, u"C:\\a.exe");
  for (int i = 0; i < 4; ++i) RefreshTick::run(rig.state);
  EXPECT_EQ(rig.sys.imagePathCalls, 1u);
  rig.add(24, u"b.exe", 5, 0, u"C:\\b.exe");
  RefreshTick::run(rig.state);
  RefreshTick::run(rig.state);
  EXPECT_EQ(rig.sys.imagePathCalls, 2u);
  EXPECT_EQ(rig.state.rows.size(), 3u);

  // pid 20 now belongs to another program, started since the last refresh.
  testing::ScriptedProcess& reused = *rig.sys.find(20);
  reused.createTime = 9999;
  reused.imagePath = u"C:\\other.exe";
  reused.name = u"other.exe";
  reused.counters.readBytes = 10;
  RefreshTick::run(rig.state);
  EXPECT_EQ(rig.sys.imagePathCallsByPid[20], 2u);
  auto other = std::find_if(rig.state.rows.begin(), rig.state.rows.end(),
                            [](const ProcessRow& r) { return r.name == u"other.exe"; });
  ASSERT_NE(other, rig.state.rows.end());
  EXPECT_EQ(other->imagePath, u"C:\\other.exe");
  EXPECT_EQ(other->counters, IoCounters{});
  EXPECT_EQ(other->readRate, 0u);

  // A process that leaves for one refresh is asked again when it comes back.
  testing::ScriptedProcess b = *rig.sys.find(24);
  rig.sys.remove(24);
  RefreshTick::run(rig.state);
  EXPECT_FALSE(rig.state.imagePaths.contains(24));
  rig.sys.processes.push_back(b);
  RefreshTick::run(rig.state);
  EXPECT_EQ(rig.sys.imagePathCallsByPid[24], 2u);
  EXPECT_EQ(rig.sys.imagePathCallsByPid.count(0) + rig.sys.imagePathCallsByPid.count(4), 0u);
}

TEST(RefreshTick, EmptySnapshotEmptiesRowsAndPathsButKeepsTheTracker) {
  Rig rig;
  rig.add(30, u"a.exe", 100, 0, u"C:\\a.exe");
  RefreshTick::run(rig.state);
  RefreshTick::run(rig.state);
  RecordingList list;
  rig.state.listView = &list;
  rig.sys.failReads = 1;
  RefreshTick::run(rig.state);
  EXPECT_TRUE(rig.state.rows.empty());
  EXPECT_EQ(rig.state.imagePaths.size(), 0u);
  EXPECT_EQ(rig.state.chart.liveSamples.back().readRate, 0u);
  EXPECT_TRUE(rig.state.chart.liveSamples.back().contributors.empty());
  EXPECT_EQ(list.calls, (std::vector<std::string>{"count 0", "repaint"}));
  EXPECT_EQ(rig.state.tracker.rateStates.size(), 1u);
  RefreshTick::run(rig.state);  // the same process continues from its entries
  ASSERT_EQ(rig.state.rows.size(), 1u);
  EXPECT_EQ(rig.state.rows[0].counters.readBytes, 1200u);
  EXPECT_EQ(rig.state.rows[0].readRate, 100u);  // 800 bytes over the 8000 ms since
  EXPECT_EQ(rig.sys.imagePathCalls, 2u);
}

}  // namespace
}  // namespace tessivo
