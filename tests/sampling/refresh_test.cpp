// One refresh (top list, rows, publishing, image paths) and the indexes it keeps between refreshes.
#include <gtest/gtest.h>

#include "core/text.h"
#include "sampling/row_builder.h"
#include "support/refresh_rig.h"

namespace tessivo {
namespace {

using Texts = std::vector<std::string>;

// With 4000 ms steps the smoothing counts fully: a process shows its own speed from its second sample on.
struct Refresh : ::testing::Test, testing::RefreshRig {
  Refresh() : RefreshRig(4000) {}
  Texts rows(bool withRates = false) const {  // "name/pid" (or "name/read rate") in display order
    Texts out;
    for (const ProcessRow& r : state.rows)
      out.push_back(toUtf8(r.name) + "/" + std::to_string(withRates ? r.readRate : r.pid));
    return out;
  }
};

TEST_F(Refresh, RecordsTotalsAndTheBusiestNames) {
  state.groupByApp = false;
  for (std::uint32_t i = 1; i <= 12; ++i) appendAscii(add(100 + i, u"p", 10 * i, i).name, std::to_string(i));
  add(300, u"dup.exe", 500);
  add(301, u"dup.exe", 0, 700);
  add(302, u"DUP.EXE", 50);  // another name: names compare exactly
  add(400, u"", 90);
  add(500, u"idle.exe", 0);
  add(600, u"tie.z", 100);  // equal sums keep their order of appearance
  add(601, u"tie.a", 0, 100);
  tick(2);
  const ChartSample& s = state.chart.liveSamples.back();
  EXPECT_EQ(std::tuple(state.chart.liveSamples[0].contributors.size(), s.readRate, s.writeRate,
                       state.rows.size()),
            std::tuple(0, 780 + 500 + 50 + 90 + 100, 78 + 700 + 100, 19));  // the idle process has a row too
  Texts top;
  for (const Contributor& c : s.contributors)
    top.push_back(toUtf8(state.chart.contributorName(c)) + "=" + std::to_string(c.readRate + c.writeRate));
  EXPECT_EQ(top, (Texts{"dup.exe=1200", "p12=132", "p11=121", "p10=110", "tie.z=100", "tie.a=100", "p9=99",
                        "（未知）=90", "p8=88", "p7=77"}));
}

TEST_F(Refresh, PublishesSortedRowsAndReadsTheClockAfterTheSnapshot) {
  sys.stepMs = 333;
  add(8, u"a.exe", 1'000'000, 0, u"C:\\A.exe");
  add(9, u"A.EXE", 0, 0, u"c:\\a.exe");
  add(7, u"b.exe", 2'000'000, 0, u"C:\\b.exe");
  tick();  // no list yet: publishing is skipped
  state.listView = &list;
  tick();
  EXPECT_EQ(list.calls, (Texts{"count 2", "repaint"}));
  EXPECT_EQ(rows(true), (Texts{"b.exe/166500", "A.exe/83250"}));  // by bytes read; 333 ms after the first
  std::tie(state.groupByApp, state.sortColumn, state.sortAscending) = std::tuple(false, 0, true);
  tick();
  EXPECT_EQ(rows(), (Texts{"a.exe/8", "A.EXE/9", "b.exe/7"}));
  sys.failReads = 1, sys.stepMs = 4000;  // an empty snapshot empties rows and paths
  tick();
  EXPECT_TRUE(state.rows.empty() && state.imagePaths.size() == 0 &&
              state.chart.liveSamples.back().readRate == 0);
  tick();  // but the tracker's entries are kept: two steps of 666000 bytes over 8000 ms since
  EXPECT_EQ(std::tuple(state.rows[2].counters.readBytes, state.rows[2].readRate),
            std::tuple(2'664'000, 166'500));
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
  EXPECT_EQ(rows(true), (Texts{"b.exe/5", "other.exe/0", "System/0"}));
  EXPECT_EQ(std::tuple(state.rows[1].imagePath, state.rows[1].counters),
            std::tuple(u"C:\\other.exe", IoCounters{}));
  const testing::ScriptedProcess b = sys.processes.back();  // leaves for one refresh: asked again on return
  sys.processes.pop_back();
  tick();
  EXPECT_FALSE(state.imagePaths.contains(24));
  sys.processes.push_back(b);
  tick();
  EXPECT_EQ(sys.imagePathCalls, 4u);
}

// Activities with counters base + 1 .. base + 6 and speeds base + 7, base + 8, of processes the system knows.
struct Rows : ::testing::Test {
  testing::ScriptedSystem sys;
  ImagePathCache cache;
  std::vector<ProcessActivity> activities;
  void add(std::uint32_t pid, std::u16string name, std::u16string path, std::uint64_t base = 0) {
    sys.add(pid, name, std::move(path));
    activities.push_back({pid,
                          std::move(name),
                          {base + 1, base + 2, base + 3, base + 4, base + 5, base + 6},
                          base + 7,
                          base + 8});
  }
  static Texts names(const std::vector<ProcessRow>& rows) {
    Texts out;
    for (const ProcessRow& r : rows) out.push_back(toUtf8(r.name) + "/" + std::to_string(r.readRate));
    return out;
  }
};

TEST_F(Rows, GroupByPathIgnoringAsciiCaseElseByNameAndRebuildInPlace) {
  for (auto [pid, name, path, base] :
       {std::tuple{0u, u"System", u"", 0u}, {4, u"System", u"", 0},
        {10, u"FOO.EXE", u"c:\\Apps\\FOO.EXE", 10}, {12, u"", u"", 0},
        {20, u"foo.exe", u"C:\\apps\\foo.exe", 100}, {21, u"svc", u"C:\\Windows/svc.exe", 0},
        {22, u"setup.exe", u"C:\\a\\setup.exe", 0}, {23, u"Ä.exe", u"", 0}, {24, u"ä.exe", u"", 0},
        {25, u"", u"", 0}, {26, u"sys.exe", u"", 0}, {27, u"SYS.EXE", u"bare.exe", 0},
        {28, u"setup.exe", u"D:\\b\\setup.exe", 0}})  // the last: the same name, another program
    add(pid, name, path, base);
  RowBuilder builder;
  std::vector<ProcessRow> rows;
  builder.build(activities, true, cache, sys, rows);  // named by the lower pid's path, after either separator
  EXPECT_EQ(names(rows),
            (Texts{"System/14", "FOO.EXE/124", "（未知）/14", "svc.exe/7", "setup.exe/7", "Ä.exe/7",
                   "ä.exe/7", "sys.exe/7", "bare.exe/7", "setup.exe/7"}));  // only A-Z fold
  EXPECT_EQ(std::tuple(rows[1].imagePath, rows[1].pid, rows[1].counters, rows[1].writeRate),
            std::tuple(u"c:\\Apps\\FOO.EXE", 0, IoCounters{112, 114, 116, 118, 120, 122}, 126));
  builder.build(activities, false, cache, sys, rows);
  ASSERT_EQ(rows.size(), 13u);
  EXPECT_EQ(
      std::tuple(rows[1].pid, rows[1].name, rows[3].name, rows[4].imagePath, rows[4].counters),
      std::tuple(4, u"System", kUnknownName, u"C:\\apps\\foo.exe", IoCounters{101, 102, 103, 104, 105, 106}));
  EXPECT_EQ(std::tuple(sys.imagePathCalls, fileNamePart(u"C:\\dir\\")), std::tuple(11, u""));  // once per pid
  activities.resize(2);
  builder.build(activities, true, cache, sys, rows);
  EXPECT_EQ(names(rows), Texts{"System/14"});
}

TEST_F(Rows, PathCacheAsksOncePerIdentifierAndKeepsOnlyLiveOnes) {
  sys.add(4, u"System", u"C:\\should\\never\\be\\asked");
  sys.add(10, u"a.exe", u"C:\\a.exe");
  sys.add(11, u"b.exe");  // the path cannot be obtained
  const std::u16string& a = cache.pathOf(10, sys);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(
        std::tuple(cache.lookup(0, sys), cache.lookup(4, sys), cache.lookup(10, sys), cache.lookup(11, sys)),
        std::tuple(u"", u"", u"C:\\a.exe", u""));
    sys.find(11)->imagePath = u"C:\\b.exe";  // a later attempt would succeed, but none is made
  }
  EXPECT_EQ(sys.imagePathCalls, 2u);
  for (std::uint32_t pid = 100; pid < 2100; ++pid) cache.pathOf(pid, sys);  // many rehashes
  cache.forget(11);
  EXPECT_EQ(std::tuple(a, cache.lookup(11, sys)),
            std::tuple(u"C:\\a.exe", u"C:\\b.exe"));  // references stay valid
  using Pids = std::vector<std::uint32_t>;
  cache = {};
  for (std::uint32_t pid : {4u, 8u, 12u, 16u, 20u}) cache.pathOf(pid, sys);
  for (const auto& [retain, kept] :
       {std::pair<Pids, Pids>{{4, 12, 20, 99}, {4, 12, 20}},  // retaining adds none
        {{20, 4}, {4, 20}}, {{20, 20}, {20}}, {{}, {}}}) {  // any order, twice
    cache.retainOnly(retain);
    Pids now;
    for (std::uint32_t pid : {4u, 8u, 12u, 16u, 20u, 99u})
      if (cache.contains(pid)) now.push_back(pid);
    EXPECT_EQ(std::tuple(now, cache.size()), std::tuple(kept, kept.size()));
  }
}

}  // namespace
}  // namespace tessivo
