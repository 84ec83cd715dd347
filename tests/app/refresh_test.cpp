// One refresh over a scripted system: totals and busiest names for the chart, rows for the list.
#include "app/refresh_tick.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "support/refresh_rig.h"

namespace tessivo {
namespace {

using testing::named;
using testing::Texts;

// With 4000 ms steps the smoothing counts fully: a process shows its own speed from its second sample on.
struct Refresh : ::testing::Test, testing::RefreshRig { Refresh() : RefreshRig(4000) {} };

TEST_F(Refresh, RecordsTotalsAndTheBusiestNames) {
  state.groupByApp = false;
  for (std::uint32_t i = 1; i <= 12; ++i) appendAscii(add(100 + i, u"p", 10 * i, i).name, std::to_string(i));
  // DUP.EXE is another name, as names compare exactly; equal sums keep their order of appearance.
  for (auto [pid, name, read, write] : {std::tuple{300u, u"dup.exe", 500u, 0u}, {301, u"dup.exe", 0, 700},
                                        {302, u"DUP.EXE", 50, 0}, {400, u"", 90, 0}, {500, u"idle.exe", 0, 0},
                                        {600, u"tie.z", 100, 0}, {601, u"tie.a", 0, 100}})
    add(pid, name, read, write);
  tick(3);  // the third refresh's sums start from zero again, as the second's did
  const ChartSample& s = state.chart.liveSamples.back();
  EXPECT_EQ(std::tuple(state.chart.liveSamples[0].contributors.size(), s.readRate, s.writeRate,
                       state.rows.size()),
            std::tuple(0, 780 + 500 + 50 + 90 + 100, 78 + 700 + 100, 19));  // the idle process has a row too
  EXPECT_EQ(testing::contributors(state.chart, s),
            (Texts{"dup.exe=500/700", "p12=120/12", "p11=110/11", "p10=100/10", "tie.z=100/0", "tie.a=0/100", "p9=90/9",
                   "（未知）=90/0", "p8=80/8", "p7=70/7"}));
}

TEST_F(Refresh, PublishesToTheListAndAnEmptySnapshotEmptiesRowsAndPathsButNotTheTracker) {
  add(8, u"a.exe", 1000, 0, u"C:\\a.exe");
  state.listView = &list;
  tick(2);
  EXPECT_EQ(list.calls, (Texts{"count 1", "repaint", "count 1", "repaint"}));
  sys.failReads = 1;
  tick();
  EXPECT_TRUE(state.rows.empty() && state.imagePaths.size() == 0 &&
              state.chart.liveSamples.back().readRate == 0);
  tick();  // the tracker still holds the entry: three steps counted, two of them over the last 8000 ms
  EXPECT_EQ(std::tuple(state.rows[0].counters.readBytes, state.rows[0].readRate), std::tuple(12'000, 1000));
}

TEST_F(Refresh, AsksForPathsOnlyOfNewIdentifiers) {
  add(0, u"System", 0);
  add(4, u"System", 0);
  add(20, u"a.exe", 5, 0, u"C:\\a.exe");
  tick(4);
  add(24, u"b.exe", 5, 0, u"C:\\b.exe");
  tick(2);
  EXPECT_EQ(std::tuple(sys.imagePathCalls, state.rows.size()), std::tuple(2, 3));  // never for 0 and 4
  // pid 20 now belongs to another program, started since the last refresh.
  *sys.find(20) = {20, u"other.exe", u"C:\\other.exe", 9999, IoCounters{0, 0, 0, 10, 0, 0}, {}};
  tick();
  EXPECT_EQ(std::tuple(named(state.rows), sys.imagePathCalls),
            std::tuple(Texts{"b.exe/5", "other.exe/0", "System/0"}, 3));
}

}  // namespace
}  // namespace tessivo
