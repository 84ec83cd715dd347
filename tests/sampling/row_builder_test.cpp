#include "sampling/row_builder.h"

#include <gtest/gtest.h>

#include "support/scripted_system.h"

namespace tessivo {
namespace {

struct Fixture {
  testing::ScriptedSystem sys;
  ImagePathCache cache;
  std::vector<ProcessActivity> activities;

  void add(std::uint32_t pid, std::u16string name, std::u16string path, std::uint64_t base = 0) {
    sys.add(pid, name, std::move(path));
    activities.push_back(ProcessActivity{pid, std::move(name), IoCounters{base + 1, base + 2, base + 3, base + 4, base + 5, base + 6},
                                         base + 7, base + 8});
  }
  std::vector<ProcessRow> rows(bool grouped) { return buildRows(activities, grouped, cache, sys); }
};

TEST(RowBuilder, GroupsByPathIgnoringAsciiCase) {
  Fixture f;
  f.add(0, u"System", u"");
  f.add(4, u"System", u"");
  f.add(10, u"FOO.EXE", u"c:\\Apps\\FOO.EXE", 10);
  f.add(12, u"", u"");
  f.add(20, u"foo.exe", u"C:\\apps\\foo.exe", 100);
  f.add(21, u"svc", u"C:\\Windows/svc.exe");
  f.add(22, u"bare", u"bare.exe");
  f.add(23, u"Ä.exe", u"");
  f.add(24, u"ä.exe", u"");  // only A-Z fold
  f.add(25, u"", u"");
  f.add(26, u"sys.exe", u"");
  f.add(27, u"SYS.EXE", u"");
  const auto rows = f.rows(true);
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows[0].name, u"System");
  EXPECT_EQ(rows[0].counters.readOps, 2u);
  EXPECT_EQ(rows[1].name, u"FOO.EXE");  // as the lower pid spells it
  EXPECT_EQ(rows[1].imagePath, u"c:\\Apps\\FOO.EXE");
  EXPECT_EQ(rows[1].pid, 0u);
  EXPECT_EQ(rows[1].counters, (IoCounters{112, 114, 116, 118, 120, 122}));
  EXPECT_EQ(rows[1].readRate, 124u);
  EXPECT_EQ(rows[1].writeRate, 126u);
  EXPECT_EQ(rows[2].name, kUnknownName);  // both unnamed ones
  EXPECT_EQ(rows[2].readRate, 14u);
  EXPECT_EQ(rows[3].name, u"svc.exe");  // after the later separator of either kind
  EXPECT_EQ(rows[4].name, u"bare.exe");
  EXPECT_EQ(rows[5].name, u"Ä.exe");
  EXPECT_EQ(rows[6].name, u"ä.exe");
  EXPECT_EQ(rows[7].name, u"sys.exe");
  EXPECT_EQ(rows[7].imagePath, u"");
  EXPECT_EQ(rows[7].readRate, 14u);
  EXPECT_EQ(fileNamePart(u"C:/x\\y.exe"), u"y.exe");
  EXPECT_EQ(fileNamePart(u"C:\\dir\\"), u"");
}

TEST(RowBuilder, UngroupedKeepsEveryProcess) {
  Fixture f;
  f.add(0, u"System", u"");
  f.add(4, u"System", u"");
  f.add(9, u"", u"C:\\x.exe");
  const auto rows = f.rows(false);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].pid, 0u);
  EXPECT_EQ(rows[1].pid, 4u);
  EXPECT_EQ(rows[1].name, u"System");
  EXPECT_EQ(rows[2].pid, 9u);
  EXPECT_EQ(rows[2].name, kUnknownName);
  EXPECT_EQ(rows[2].imagePath, u"C:\\x.exe");
  EXPECT_EQ(rows[2].counters, (IoCounters{1, 2, 3, 4, 5, 6}));
}

TEST(RowBuilder, RebuildsInPlaceWithoutStaleRows) {
  Fixture f;
  for (std::uint32_t pid = 8; pid < 40; ++pid) {
    std::u16string name = u"n";
    name.push_back(static_cast<char16_t>(u'a' + pid % 26));  // pids 26 apart share a name
    f.add(pid, name, u"");
  }
  RowBuilder builder;
  std::vector<ProcessRow> rows;
  builder.build(f.activities, false, f.cache, f.sys, rows);
  EXPECT_EQ(rows.size(), 32u);
  builder.build(f.activities, true, f.cache, f.sys, rows);
  ASSERT_EQ(rows.size(), 26u);
  EXPECT_EQ(rows[0].pid, 0u);
  EXPECT_EQ(rows[0].readRate, 14u);  // pids 8 and 34
  f.activities.resize(1);
  builder.build(f.activities, true, f.cache, f.sys, rows);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].readRate, 7u);
}

}  // namespace
}  // namespace tessivo
