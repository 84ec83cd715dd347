#include "list/row_order.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/text.h"

namespace tessivo {
namespace {

using Names = std::vector<std::string>;

ProcessRow named(const char* utf8Name, std::uint32_t pid = 0) {
  ProcessRow row;
  row.name = fromUtf8(utf8Name);
  row.pid = pid;
  return row;
}

std::vector<ProcessRow> rowsNamed(std::initializer_list<const char*> utf8Names) {
  std::vector<ProcessRow> rows;
  for (const char* n : utf8Names) rows.push_back(named(n));
  return rows;
}

Names sorted(std::vector<ProcessRow> rows, std::int32_t column, bool ascending) {
  sortRows(rows, column, ascending);
  Names out;
  for (const ProcessRow& r : rows) out.push_back(toUtf8(r.name));
  return out;
}

// Sets the key of one numeric column on a row, so one table drives them all.
void setKey(ProcessRow& row, std::int32_t column, std::uint64_t key) {
  std::uint64_t* const fields[] = {nullptr, nullptr, &row.counters.readBytes, &row.counters.writeBytes,
                                   &row.counters.readOps, &row.counters.writeOps, &row.readRate, &row.writeRate};
  if (column == 1) row.pid = static_cast<std::uint32_t>(key);
  else *fields[column] = key;
}

TEST(RowOrder, NumericColumnsOrderByTheirOwnFieldInBothDirections) {
  // Keys beyond 32 bits and with the top bit set catch truncating or signed comparisons;
  // the names run against the keys so the tie-break cannot pass for the key.
  const std::uint64_t big = std::uint64_t{1} << 63;
  for (std::int32_t column = 1; column <= 7; ++column) {
    const bool pid = column == 1;
    std::vector<ProcessRow> rows = rowsNamed({"a", "b", "c", "d"});
    const std::uint64_t keys[] = {pid ? 4000000000u : big + 1, pid ? 70000u : big,
                                  pid ? 65536u : (std::uint64_t{1} << 32), 4};
    for (std::size_t i = 0; i < rows.size(); ++i) {
      setKey(rows[i], column, keys[i]);
      // Other fields disagree with the key, so reading the wrong field shows.
      for (std::int32_t other = 1; other <= 7; ++other)
        if (other != column) setKey(rows[i], other, other == 1 ? i : 10 * i);
    }
    EXPECT_EQ(sorted(rows, column, true), (Names{"d", "c", "b", "a"})) << "column " << column;
    EXPECT_EQ(sorted(rows, column, false), (Names{"a", "b", "c", "d"})) << "column " << column;
  }
}

TEST(RowOrder, EqualKeysAreAlwaysAToZWithEmptyNamesFirst) {
  // Sorted by bytes written, largest first: the rows that wrote nothing read A to Z.
  std::vector<ProcessRow> rows = rowsNamed({"zeta", "Alpha", "beta", "gamma", "delta"});
  rows[2].counters.writeBytes = 500;
  rows[4].counters.writeBytes = 900;
  EXPECT_EQ(sorted(rows, 3, false), (Names{"delta", "beta", "Alpha", "gamma", "zeta"}));
  EXPECT_EQ(sorted(rows, 3, true), (Names{"Alpha", "gamma", "zeta", "beta", "delta"}));
  // Grouped rows all carry pid 0: by pid they come out in name order both ways.
  for (const bool ascending : {true, false}) {
    EXPECT_EQ(sorted(rowsNamed({"svchost.exe", "Code.exe", "explorer.exe", ""}), 1, ascending),
              (Names{"", "Code.exe", "explorer.exe", "svchost.exe"}));
  }
}

TEST(RowOrder, NameColumnFoldsOnlyAsciiAndReadsUnnamedAsUnknown) {
  // A-Z fold to lower case, so '_' (0x5F) lies below 'b'; other letters keep their case
  // (É U+00C9 before é U+00E9); a prefix comes first; "（" is U+FF08, after every ASCII name.
  const auto rows = rowsNamed({"", "zeta", "é", "A_", "Alpha", "（未知）", "ab", "É", "a", "（甲）"});
  EXPECT_EQ(sorted(rows, 0, true), (Names{"a", "A_", "ab", "Alpha", "zeta", "É", "é", "", "（未知）", "（甲）"}));
  // The unnamed row ties with one really named so; the empty name wins the tie either way.
  EXPECT_EQ(sorted(rows, 0, false), (Names{"（甲）", "", "（未知）", "é", "É", "zeta", "Alpha", "ab", "A_", "a"}));
  // In any other column's tie-break the empty name comes first.
  EXPECT_EQ(sorted(rows, 2, false), (Names{"", "a", "A_", "ab", "Alpha", "zeta", "É", "é", "（未知）", "（甲）"}));
  EXPECT_FALSE(keyLess(named("Chrome.EXE"), named("chrome.exe"), 0));
  EXPECT_FALSE((RowOrder{0, true}(named("Chrome.EXE"), named("chrome.exe"))));
}

TEST(RowOrder, PathColumnIgnoresAsciiCaseAndEmptyPathsComeFirst) {
  std::vector<ProcessRow> rows = rowsNamed({"a", "b", "c", "d"});
  rows[0].imagePath = u"C:\\Windows\\System32\\svchost.exe";
  rows[1].imagePath = u"c:\\program files\\app.exe";
  rows[3].imagePath = u"C:\\Program Files\\App.exe";  // the same as b's but for case
  EXPECT_EQ(sorted(rows, 8, true), (Names{"c", "b", "d", "a"}));
  EXPECT_EQ(sorted(rows, 8, false), (Names{"a", "b", "d", "c"}));
}

TEST(RowOrder, AnyOtherColumnSortsByPid) {
  for (const std::int32_t column : {9, -1, 42, -2147483647 - 1}) {
    std::vector<ProcessRow> rows{named("a", 30), named("b", 10), named("c", 20)};
    rows[0].counters.readBytes = 1;  // the default column disagrees
    EXPECT_EQ(sorted(rows, column, true), (Names{"b", "c", "a"})) << column;
    EXPECT_EQ(sorted(rows, column, false), (Names{"a", "c", "b"})) << column;
  }
}

TEST(RowOrder, SortRowsGivesTheComparatorsOrderOnAwkwardRows) {
  // Shared keys, case twins, long names alike in their first units, embedded nulls,
  // empty texts and duplicates: where a shortcut in the sort would go wrong.
  using namespace std::string_literals;
  const std::u16string texts[] = {u""s, u"a"s, u"A"s, u"b"s, u"（未知）"s, u"é"s, u"É"s, u"a_"s, u"aB"s,
                                  u"processname-1.exe"s, u"PROCESSNAME-2.exe"s, u"processname-10.exe"s,
                                  u"processname"s, u"processnamE"s, u"abcdfghiA"s, u"abcdeghiB"s,
                                  u"ab\0"s, u"ab\0c"s, u"ab"s, u"\uFFFFz"s};
  const std::size_t n = std::size(texts);
  std::vector<ProcessRow> rows;
  for (std::size_t i = 0; i < 3 * n; ++i) {
    ProcessRow r;
    r.pid = static_cast<std::uint32_t>((i * 7) % 11);
    r.name = texts[i % n];
    r.imagePath = texts[(i * 5) % n];
    r.counters = IoCounters{i % 2, i % 3, 0, i % 4, i % 2 ? 0u : ~std::uint64_t{0}, /*otherBytes: identity*/ i};
    r.readRate = i % 3 == 0 ? 0 : std::uint64_t{1} << 63;
    r.writeRate = i / 7;
    rows.push_back(r);
  }
  for (std::int32_t column = -1; column <= 9; ++column) {
    for (const bool ascending : {true, false}) {
      std::vector<ProcessRow> out = rows;
      sortRows(out, column, ascending);
      const RowOrder order{column, ascending};
      std::vector<bool> seen(rows.size());
      for (std::size_t i = 0; i < out.size(); ++i) {
        seen[out[i].counters.otherBytes] = true;
        if (i > 0) {
          EXPECT_FALSE(order(out[i], out[i - 1])) << "column " << column << " asc " << ascending << " at " << i;
        }
      }
      EXPECT_EQ(std::count(seen.begin(), seen.end(), true), static_cast<std::ptrdiff_t>(rows.size()));
    }
  }
}

}  // namespace
}  // namespace tessivo
