#include "list/row_order.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/text.h"

namespace tessivo {
namespace {

ProcessRow named(const char* utf8Name, std::uint32_t pid = 0) {
  ProcessRow row;
  row.name = fromUtf8(utf8Name);
  row.pid = pid;
  return row;
}

std::vector<std::string> names(const std::vector<ProcessRow>& rows) {
  std::vector<std::string> out;
  for (const ProcessRow& r : rows) out.push_back(toUtf8(r.name));
  return out;
}

using Names = std::vector<std::string>;

// Sets the key of one column on a row, so one table drives every column.
void setKey(ProcessRow& row, std::int32_t column, std::uint64_t key) {
  switch (column) {
    case 1: row.pid = static_cast<std::uint32_t>(key); break;
    case 2: row.counters.readBytes = key; break;
    case 3: row.counters.writeBytes = key; break;
    case 4: row.counters.readOps = key; break;
    case 5: row.counters.writeOps = key; break;
    case 6: row.readRate = key; break;
    case 7: row.writeRate = key; break;
    default: break;
  }
}

TEST(RowOrder, NumericColumnsOrderByTheirOwnFieldInBothDirections) {
  // Keys beyond 32 bits and with the top bit set catch truncating or signed comparisons;
  // the names run against the keys so the tie-break cannot pass for the key.
  const std::uint64_t big = std::uint64_t{1} << 63;
  for (std::int32_t column = 1; column <= 7; ++column) {
    const bool pid = column == 1;
    std::vector<ProcessRow> rows{named("a"), named("b"), named("c"), named("d")};
    setKey(rows[0], column, pid ? 4000000000u : big + 1);
    setKey(rows[1], column, pid ? 70000u : big);
    setKey(rows[2], column, pid ? 65536u : (std::uint64_t{1} << 32));
    setKey(rows[3], column, pid ? 4u : 4);
    // Other fields disagree with the key, so reading the wrong field shows.
    for (std::size_t i = 0; i < rows.size(); ++i) {
      for (std::int32_t other = 1; other <= 7; ++other)
        if (other != column) setKey(rows[i], other, other == 1 ? static_cast<std::uint64_t>(i) : 10 * i);
    }
    sortRows(rows, column, true);
    EXPECT_EQ(names(rows), (Names{"d", "c", "b", "a"})) << "column " << column;
    sortRows(rows, column, false);
    EXPECT_EQ(names(rows), (Names{"a", "b", "c", "d"})) << "column " << column;
  }
}

TEST(RowOrder, EqualKeysAreAlwaysAToZ) {
  // Sorted by bytes written, largest first: the rows that wrote nothing read A to Z.
  std::vector<ProcessRow> rows{named("zeta"), named("Alpha"), named("beta"), named("gamma"), named("delta")};
  rows[2].counters.writeBytes = 500;
  rows[4].counters.writeBytes = 900;
  sortRows(rows, 3, false);
  EXPECT_EQ(names(rows), (Names{"delta", "beta", "Alpha", "gamma", "zeta"}));
  sortRows(rows, 3, true);
  EXPECT_EQ(names(rows), (Names{"Alpha", "gamma", "zeta", "beta", "delta"}));
}

TEST(RowOrder, GroupedRowsByPidComeOutInNameOrderBothWays) {
  std::vector<ProcessRow> rows{named("svchost.exe"), named("Code.exe"), named("explorer.exe"), named("")};
  for (const bool ascending : {true, false}) {
    sortRows(rows, 1, ascending);
    EXPECT_EQ(names(rows), (Names{"", "Code.exe", "explorer.exe", "svchost.exe"})) << ascending;
  }
}

TEST(RowOrder, NameColumnFoldsOnlyAsciiAndReadsUnnamedAsUnknown) {
  const RowOrder byName{0, true};
  // ASCII case only: equal keys and equal tie-break names, so neither comes first.
  EXPECT_FALSE(keyLess(named("Chrome.EXE"), named("chrome.exe"), 0));
  EXPECT_FALSE(byName(named("Chrome.EXE"), named("chrome.exe")));
  EXPECT_FALSE(byName(named("chrome.exe"), named("Chrome.EXE")));
  // Non-ASCII case differs: É (U+00C9) is below é (U+00E9).
  EXPECT_TRUE(keyLess(named("É"), named("é"), 0));
  EXPECT_FALSE(keyLess(named("é"), named("É"), 0));
  // Folding goes to lower case: '_' (0x5F) lies below 'b' but above 'B'.
  EXPECT_TRUE(keyLess(named("A_"), named("AB"), 0));

  // "（" is U+FF08, so an unnamed row sorts after every ASCII name by this column...
  std::vector<ProcessRow> rows{named(""), named("zeta"), named("Alpha"), named("（未知）"), named("（甲）")};
  sortRows(rows, 0, true);
  // ...ties with a row really named so (the stored empty name wins the tie-break)...
  EXPECT_EQ(names(rows), (Names{"Alpha", "zeta", "", "（未知）", "（甲）"}));
  EXPECT_FALSE(keyLess(named(""), named("（未知）"), 0));
  EXPECT_FALSE(keyLess(named("（未知）"), named(""), 0));
  sortRows(rows, 0, false);
  EXPECT_EQ(names(rows), (Names{"（甲）", "", "（未知）", "zeta", "Alpha"}));
  // ...and before every named row in any other column's tie-break.
  sortRows(rows, 2, false);
  EXPECT_EQ(names(rows), (Names{"", "Alpha", "zeta", "（未知）", "（甲）"}));
}

TEST(RowOrder, PathColumnIgnoresAsciiCaseAndEmptyPathsComeFirst) {
  std::vector<ProcessRow> rows{named("a"), named("b"), named("c"), named("d")};
  rows[0].imagePath = u"C:\\Windows\\System32\\svchost.exe";
  rows[1].imagePath = u"c:\\program files\\app.exe";
  rows[2].imagePath = u"";
  rows[3].imagePath = u"C:\\Program Files\\App.exe";  // the same as b's but for case
  sortRows(rows, 8, true);
  EXPECT_EQ(names(rows), (Names{"c", "b", "d", "a"}));
  sortRows(rows, 8, false);
  EXPECT_EQ(names(rows), (Names{"a", "b", "d", "c"}));
  EXPECT_FALSE(keyLess(rows[1], rows[2], 8));
  EXPECT_FALSE(keyLess(rows[2], rows[1], 8));
}

TEST(RowOrder, AnyOtherColumnSortsByPid) {
  for (const std::int32_t column : {9, -1, 42, -2147483647 - 1}) {
    std::vector<ProcessRow> rows{named("a", 30), named("b", 10), named("c", 20)};
    rows[0].counters.readBytes = 1;  // the default column disagrees
    sortRows(rows, column, true);
    EXPECT_EQ(names(rows), (Names{"b", "c", "a"})) << column;
    sortRows(rows, column, false);
    EXPECT_EQ(names(rows), (Names{"a", "c", "b"})) << column;
  }
}

TEST(RowOrder, IsAStrictWeakOrderingForEveryColumnAndDirection) {
  // Duplicates, case twins, empty texts and shared keys: the cases where a careless
  // comparison breaks irreflexivity, asymmetry or transitivity.
  std::vector<ProcessRow> rows;
  const char* const rowNames[] = {"", "a", "A", "b", "（未知）", "é", "É", "a_", "aB", ""};
  for (std::size_t i = 0; i < std::size(rowNames); ++i) {
    ProcessRow r = named(rowNames[i], static_cast<std::uint32_t>(i % 3));
    r.imagePath = (i % 4 == 0) ? u"" : (i % 2 ? u"C:\\X" : u"c:\\x\\y");
    r.counters = IoCounters{i % 2, i % 3, 0, i % 4, i % 2 ? 0u : 9u, 0};
    r.readRate = i % 3 == 0 ? 0 : std::uint64_t{1} << 63;
    r.writeRate = i / 3;
    rows.push_back(r);
  }
  for (std::int32_t column = -1; column <= 9; ++column) {
    for (const bool ascending : {true, false}) {
      const RowOrder less{column, ascending};
      const auto equivalent = [&](const ProcessRow& x, const ProcessRow& y) { return !less(x, y) && !less(y, x); };
      for (const ProcessRow& a : rows) {
        EXPECT_FALSE(less(a, a)) << column;
        for (const ProcessRow& b : rows) {
          if (less(a, b)) {
            EXPECT_FALSE(less(b, a)) << column;
          }
          for (const ProcessRow& c : rows) {
            if (less(a, b) && less(b, c)) {
              EXPECT_TRUE(less(a, c)) << column;
            }
            if (equivalent(a, b) && equivalent(b, c)) {
              EXPECT_TRUE(equivalent(a, c)) << column;
            }
          }
        }
      }
    }
  }
}

TEST(HeaderClick, SameColumnFlipsAndANewColumnStartsAscending) {
  std::int32_t column = 2;
  bool ascending = false;
  applyHeaderClick(2, column, ascending);  // 读取字节 after start: smallest readers first
  EXPECT_EQ(column, 2);
  EXPECT_TRUE(ascending);
  applyHeaderClick(2, column, ascending);  // twice: back where it was
  EXPECT_FALSE(ascending);
  applyHeaderClick(6, column, ascending);  // 读取速度: slowest first
  EXPECT_EQ(column, 6);
  EXPECT_TRUE(ascending);
  applyHeaderClick(6, column, ascending);
  applyHeaderClick(0, column, ascending);  // a new column ignores the old direction
  EXPECT_EQ(column, 0);
  EXPECT_TRUE(ascending);
  applyHeaderClick(2, column, ascending);
  EXPECT_EQ(column, 2);
  EXPECT_TRUE(ascending);
}

}  // namespace
}  // namespace tessivo
