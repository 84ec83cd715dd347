// Row building and the two indexes it keeps: image paths by pid, groups by key.
#include "sampling/row_builder.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "support/scripted_system.h"

namespace tessivo {
namespace {

struct Fixture {
  testing::ScriptedSystem sys;
  ImagePathCache cache;
  std::vector<ProcessActivity> activities;

  // Counters base + 1 .. base + 6, speeds base + 7 and base + 8.
  void add(std::uint32_t pid, std::u16string name, std::u16string path, std::uint64_t base = 0) {
    sys.add(pid, name, std::move(path));
    activities.push_back(ProcessActivity{
        pid, std::move(name), IoCounters{base + 1, base + 2, base + 3, base + 4, base + 5, base + 6}, base + 7, base + 8});
  }
};

std::vector<std::string> names(const std::vector<ProcessRow>& rows) {
  std::vector<std::string> out;
  for (const ProcessRow& r : rows) out.push_back(toUtf8(r.name) + "/" + std::to_string(r.readRate));
  return out;
}

TEST(RowBuilder, GroupsByPathIgnoringAsciiCaseElseByName) {
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
  const auto rows = buildRows(f.activities, true, f.cache, f.sys);
  // Named as the lower pid's path (after either separator) or name spells it; unnamed as （未知）.
  EXPECT_EQ(names(rows), (std::vector<std::string>{"System/14", "FOO.EXE/124", "（未知）/14", "svc.exe/7",
                                                   "bare.exe/7", "Ä.exe/7", "ä.exe/7", "sys.exe/14"}));
  EXPECT_EQ(rows[1].imagePath, u"c:\\Apps\\FOO.EXE");
  EXPECT_EQ(rows[1].pid, 0u);
  EXPECT_EQ(rows[1].counters, (IoCounters{112, 114, 116, 118, 120, 122}));
  EXPECT_EQ(rows[1].writeRate, 126u);
  EXPECT_EQ(fileNamePart(u"C:\\dir\\"), u"");

  const auto each = buildRows(f.activities, false, f.cache, f.sys);
  ASSERT_EQ(each.size(), 12u);
  EXPECT_EQ(each[1].pid, 4u);
  EXPECT_EQ(each[1].name, u"System");
  EXPECT_EQ(each[3].name, kUnknownName);
  EXPECT_EQ(each[4].imagePath, u"C:\\apps\\foo.exe");
  EXPECT_EQ(each[4].counters, (IoCounters{101, 102, 103, 104, 105, 106}));
  EXPECT_EQ(f.sys.imagePathCalls, 10u);  // once per pid, never for 0 and 4
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

TEST(ImagePathCache, AsksOncePerIdentifierAndRemembersFailures) {
  testing::ScriptedSystem sys;
  sys.add(0, u"System");
  sys.add(4, u"System", u"C:\\should\\never\\be\\asked");
  sys.add(10, u"a.exe", u"C:\\a.exe");
  sys.add(11, u"b.exe");  // path cannot be obtained
  ImagePathCache cache;
  EXPECT_EQ(cache.lookup(0, sys), u"");
  EXPECT_EQ(cache.lookup(4, sys), u"");
  EXPECT_EQ(sys.imagePathCalls, 0u);
  EXPECT_TRUE(cache.contains(4));
  const std::u16string& a = cache.pathOf(10, sys);
  EXPECT_EQ(cache.pathOf(11, sys), u"");
  sys.find(11)->imagePath = u"C:\\b.exe";  // a later attempt would succeed, but none is made
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(cache.lookup(10, sys), u"C:\\a.exe");
    EXPECT_EQ(cache.lookup(11, sys), u"");
  }
  EXPECT_EQ(sys.imagePathCalls, 2u);
  for (std::uint32_t pid = 100; pid < 2100; ++pid) cache.pathOf(pid, sys);  // many rehashes
  EXPECT_EQ(a, u"C:\\a.exe");  // references handed out stay valid
  cache.forget(11);
  EXPECT_EQ(cache.lookup(11, sys), u"C:\\b.exe");
}

TEST(ImagePathCache, RetainOnlyKeepsTheLiveIdentifiers) {
  testing::ScriptedSystem sys;
  ImagePathCache cache;
  for (std::uint32_t pid : {4u, 8u, 12u, 16u, 20u}) cache.pathOf(pid, sys);
  const auto retained = [&cache](std::vector<std::uint32_t> live) {
    cache.retainOnly(live);
    std::vector<std::uint32_t> kept;
    for (std::uint32_t pid : {4u, 8u, 12u, 16u, 20u, 99u})
      if (cache.contains(pid)) kept.push_back(pid);
    EXPECT_EQ(kept.size(), cache.size());
    return kept;
  };
  using Pids = std::vector<std::uint32_t>;
  EXPECT_EQ(retained({4, 12, 20, 99}), (Pids{4, 12, 20}));  // retaining does not add
  EXPECT_EQ(retained({20, 4}), (Pids{4, 20}));              // any order
  EXPECT_EQ(retained({20, 20}), (Pids{20}));                // one live pid, listed twice
  EXPECT_EQ(retained({}), Pids{});
}

TEST(TextIndex, NumbersTextsInOrderAcrossGrowthAndRounds) {
  TextIndex index;
  for (int round = 0; round < 2; ++round) {
    index.reset(round == 0 ? 1 : 0);  // far too small: the table has to grow
    for (int i = 0; i < 300; ++i) {
      const auto [number, isNew] = index.insert(widenAscii("key" + std::to_string(i)));
      EXPECT_EQ(number, static_cast<std::uint32_t>(i));
      EXPECT_TRUE(isNew);
    }
    for (int i = 299; i >= 0; --i) {
      const auto [number, isNew] = index.insert(widenAscii("key" + std::to_string(i)));
      EXPECT_EQ(number, static_cast<std::uint32_t>(i));
      EXPECT_FALSE(isNew);
    }
    EXPECT_EQ(index.size(), 300u);
    EXPECT_EQ(index.key(123), u"key123");
  }
  index.reset(4);
  EXPECT_EQ(index.insert(u"key7"), (std::pair<std::uint32_t, bool>{0, true}));  // earlier rounds forgotten
  EXPECT_EQ(index.insert(u"KEY7").second, true);                                // exact comparison
  EXPECT_EQ(index.insert(u"").first, 2u);
}

}  // namespace
}  // namespace tessivo
