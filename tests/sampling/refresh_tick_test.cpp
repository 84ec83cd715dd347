#include "sampling/refresh_tick.h"

#include <gtest/gtest.h>

#include "support/refresh_rig.h"

namespace tessivo {
namespace {

using Calls = std::vector<std::string>;

// With 4000 ms steps the smoothing counts fully: a process shows its own speed exactly
// from its second sample on.
struct Rig : testing::RefreshRig {
  Rig() : RefreshRig(4000) {}
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
  for (std::uint32_t i = 1; i <= 12; ++i) {
    std::u16string name = u"p";
    appendAscii(name, std::to_string(i));
    rig.add(100 + i, name, 10 * i, i);
  }
  rig.add(300, u"dup.exe", 500);
  rig.add(301, u"dup.exe", 0, 700);
  rig.add(302, u"DUP.EXE", 50);  // another name: names compare exactly
  rig.add(400, u"", 90);
  rig.add(500, u"idle.exe", 0);
  rig.tick();
  EXPECT_EQ(rig.state.chart.liveSamples.back().readRate, 0u);
  EXPECT_TRUE(rig.state.chart.liveSamples.back().contributors.empty());
  rig.tick();
  ASSERT_EQ(rig.state.chart.liveSamples.size(), 2u);
  EXPECT_EQ(rig.state.chart.liveSamples.back().readRate, 780u + 500 + 50 + 90);
  EXPECT_EQ(rig.state.chart.liveSamples.back().writeRate, 78u + 700);
  using C = std::vector<std::pair<std::string, std::uint64_t>>;
  EXPECT_EQ(rig.contributors(), (C{{"dup.exe", 1200}, {"p12", 132}, {"p11", 121}, {"p10", 110}, {"p9", 99},
                                   {"（未知）", 90}, {"p8", 88}, {"p7", 77}, {"p6", 66}, {"p5", 55}}));
  EXPECT_EQ(rig.state.rows.size(), 17u);  // every process has a row, the idle one too
  ASSERT_NE(rig.row(500), nullptr);
  EXPECT_EQ(rig.row(300)->readRate, 500u);
  EXPECT_EQ(rig.row(300)->counters.readBytes, 2000u);
}

TEST(RefreshTick, PublishesRowsAndReadsTheClockAfterTheSnapshot) {
  testing::RefreshRig rig(333);
  rig.add(8, u"a.exe", 1'000'000, 0, u"C:\\A.exe");
  rig.add(9, u"A.EXE", 0, 0, u"c:\\a.exe");
  rig.tick();  // no list yet: publishing is skipped
  rig.state.listView = &rig.list;
  rig.tick();
  EXPECT_EQ(rig.list.calls, (Calls{"count 1", "repaint"}));
  EXPECT_EQ(rig.rowNames(), (Calls{"A.exe/0"}));
  EXPECT_EQ(rig.state.rows[0].readRate, 83'250u);  // 333 ms after the first snapshot
  rig.state.groupByApp = false;
  rig.tick();
  EXPECT_EQ(rig.list.calls, (Calls{"count 1", "repaint", "count 2", "repaint"}));
}

TEST(RefreshTick, AsksForPathsOnlyOfNewIdentifiers) {
  Rig rig;
  rig.add(0, u"System", 0);
  rig.add(4, u"System", 0);
  rig.add(20, u"a.exe", 5, 0, u"C:\\a.exe");
  rig.tick(4);
  EXPECT_EQ(rig.sys.imagePathCalls, 1u);
  rig.add(24, u"b.exe", 5, 0, u"C:\\b.exe");
  rig.tick(2);
  EXPECT_EQ(rig.sys.imagePathCalls, 2u);
  EXPECT_EQ(rig.state.rows.size(), 3u);

  // pid 20 now belongs to another program, started since the last refresh.
  testing::ScriptedProcess& reused = *rig.sys.find(20);
  reused = testing::ScriptedProcess{20, u"other.exe", u"C:\\other.exe", 9999, IoCounters{0, 0, 0, 10, 0, 0}, {}};
  rig.tick();
  EXPECT_EQ(rig.sys.imagePathCallsByPid[20], 2u);
  auto other = std::find_if(rig.state.rows.begin(), rig.state.rows.end(),
                            [](const ProcessRow& r) { return r.name == u"other.exe"; });
  ASSERT_NE(other, rig.state.rows.end());
  EXPECT_EQ(other->imagePath, u"C:\\other.exe");
  EXPECT_EQ(other->counters, IoCounters{});
  EXPECT_EQ(other->readRate, 0u);

  // A process that leaves for one refresh is asked again when it comes back.
  const testing::ScriptedProcess b = *rig.sys.find(24);
  rig.sys.remove(24);
  rig.tick();
  EXPECT_FALSE(rig.state.imagePaths.contains(24));
  rig.sys.processes.push_back(b);
  rig.tick();
  EXPECT_EQ(rig.sys.imagePathCallsByPid[24], 2u);
  EXPECT_EQ(rig.sys.imagePathCallsByPid.count(0) + rig.sys.imagePathCallsByPid.count(4), 0u);
}

TEST(RefreshTick, EmptySnapshotEmptiesRowsAndPathsButKeepsTheTracker) {
  Rig rig;
  rig.add(30, u"a.exe", 100, 0, u"C:\\a.exe");
  rig.tick(2);
  rig.state.listView = &rig.list;
  rig.sys.failReads = 1;
  rig.tick();
  EXPECT_TRUE(rig.state.rows.empty());
  EXPECT_EQ(rig.state.imagePaths.size(), 0u);
  EXPECT_EQ(rig.state.chart.liveSamples.back().readRate, 0u);
  EXPECT_EQ(rig.list.calls, (Calls{"count 0", "repaint"}));
  rig.tick();  // the same process continues from its entries
  ASSERT_EQ(rig.state.rows.size(), 1u);
  EXPECT_EQ(rig.state.rows[0].counters.readBytes, 1200u);
  EXPECT_EQ(rig.state.rows[0].readRate, 100u);  // 800 bytes over the 8000 ms since
  EXPECT_EQ(rig.sys.imagePathCalls, 2u);
}

}  // namespace
}  // namespace tessivo
