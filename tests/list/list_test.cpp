// The list's cell texts and its row order.
#include <gtest/gtest.h>

#include <limits>

#include "core/text.h"
#include "list/cell_text.h"
#include "list/display_text.h"
#include "list/row_order.h"

namespace tessivo {
namespace {

using Names = std::vector<std::string>;
constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
const ProcessRow kRow{12345, u"Explorer.EXE", u"C:\\Windows\\explorer.exe",
                      IoCounters{/*readOps*/ 4000, /*writeOps*/ 5, 77, /*readBytes*/ 1234567, 0, 88},
                      1536, 52};

TEST(CellText, EachColumnShowsItsOwnFieldAsGroupedDecimalsOrKiBPerSecond) {
  const std::vector<ProcessRow> rows{kRow};
  std::u16string cell = u"previous";  // items the list no longer has (its count may lag) leave the cell be
  for (const std::int32_t item : {1, -1, INT32_MIN})
    EXPECT_TRUE(displayText(rows, item, 0, cell) == std::u16string_view(u"") && cell == u"previous") << item;
  const char* const expected[] = {"Explorer.EXE", "12,345",    "1,234,567", "0", "4,000", "5",
                                  "1.5 KiB/s",    "0.1 KiB/s", "C:\\Windows\\explorer.exe", "", ""};
  for (std::int32_t column = 0; column < 11; ++column)  // the "other" pair is never shown; 12 is no column
    EXPECT_EQ(toUtf8(displayText(rows, 0, column < 10 ? column : 12, cell)), expected[column]) << column;
  for (auto [value, grouped, rate] :
       {std::tuple{51ull, "51", "0.0 KiB/s"}, {256ull, "256", "0.2 KiB/s"},  // a tie goes to the even tenth
        {99999ull, "99,999", "97.7 KiB/s"}, {100000ull, "100,000", "97.7 KiB/s"},
        {1073741824ull, "1,073,741,824", "1048576.0 KiB/s"},  // KiB/s, ungrouped
        {kMax, "18,446,744,073,709,551,615", "18014398509481984.0 KiB/s"}})
    EXPECT_EQ(std::tuple(toUtf8(formatGrouped(value)), toUtf8(formatKiBRate(value))),
              std::tuple(grouped, rate));
  ProcessRow app = kRow;
  std::tie(app.pid, app.name) = std::tuple(0, u"");  // an application row, or the idle process: no substitute
  EXPECT_EQ(std::tuple(toUtf8(cellTextOf(app, 1)), cellTextOf(app, 0)), std::tuple("-", u""));
}

std::vector<ProcessRow> rowsNamed(std::initializer_list<const char*> names) {
  std::vector<ProcessRow> rows;
  for (const char* n : names) rows.push_back(ProcessRow{0, fromUtf8(n), {}, {}, 0, 0});
  return rows;
}
Names sorted(std::vector<ProcessRow> rows, std::int32_t column, bool ascending) {
  sortRows(rows, column, ascending);
  Names out;
  for (const ProcessRow& r : rows) out.push_back(toUtf8(r.name));
  return out;
}

TEST(RowOrder, NumericColumnsOrderByTheirOwnFieldInBothDirections) {
  // Keys beyond 32 bits and with the top bit set catch truncating or signed comparisons; the
  // names run against the keys, and every other field disagrees with them.
  const std::uint64_t big = std::uint64_t{1} << 63;
  for (const std::int32_t column : {1, 2, 3, 4, 5, 6, 7, 9, -1, -2147483647 - 1}) {  // unknown ones: by pid
    const bool pid = column == 1 || column > 7 || column < 1;
    std::vector<ProcessRow> rows = rowsNamed({"a", "b", "c", "d"});
    const std::uint64_t keys[] = {pid ? 4000000000u : big + 1, pid ? 70000u : big,
                                  pid ? 65536u : (1ull << 32), 4};
    for (std::size_t i = 0; i < rows.size(); ++i) {
      ProcessRow& r = rows[i];
      std::uint64_t* const fields[] = {&r.counters.readBytes, &r.counters.writeBytes, &r.counters.readOps,
                                       &r.counters.writeOps,  &r.readRate,            &r.writeRate};
      for (std::uint64_t* f : fields) *f = 10 * i;
      r.pid = static_cast<std::uint32_t>(pid ? keys[i] : i);
      if (!pid) *fields[column - 2] = keys[i];
    }
    EXPECT_EQ(std::tuple(sorted(rows, column, true), sorted(rows, column, false)),
              std::tuple(Names{"d", "c", "b", "a"}, Names{"a", "b", "c", "d"})) << "column " << column;
  }
}

TEST(RowOrder, TextColumnsFoldOnlyAsciiAndEqualKeysAreAToZ) {
  // A-Z fold to lower case, so '_' (0x5F) lies below 'b'; other letters keep their case
  // (É U+00C9 before é U+00E9); a prefix comes first; "（" is U+FF08, after every ASCII name.
  const auto rows = rowsNamed(
      {"", "zeta", "é", "A_", "Processname.exe", "（未知）", "ab", "É", "a", "Zulu", "processname"});
  // The unnamed row ties with one really named （未知）; the empty name wins the tie.
  EXPECT_EQ(sorted(rows, 0, true), (Names{"a", "A_", "ab", "processname", "Processname.exe", "zeta", "Zulu",
                                          "É", "é", "", "（未知）"}));
  EXPECT_EQ(sorted(rows, 0, false), (Names{"", "（未知）", "é", "É", "Zulu", "zeta", "Processname.exe", "processname",
                                           "ab", "A_", "a"}));  // the tie stays A to Z
  for (const bool ascending : {true, false})  // in any other column's tie-break the empty name comes first
    EXPECT_EQ(sorted(rows, 2, ascending), (Names{"", "a", "A_", "ab", "processname", "Processname.exe",
                                                 "zeta", "Zulu", "É", "é", "（未知）"}));
  std::vector<ProcessRow> paths = rowsNamed({"a", "b", "c", "d"});
  std::tie(paths[0].imagePath, paths[1].imagePath, paths[3].imagePath) =  // d's is b's but for case
      std::tuple(u"C:\\Windows\\svchost.exe", u"c:\\program files\\app.exe", u"C:\\Program Files\\App.exe");
  EXPECT_EQ(sorted(paths, 8, true), (Names{"c", "b", "d", "a"}));
}

TEST(RowOrder, HeaderClickFlipsTheSameColumnAndStartsAnotherAscending) {
  std::int32_t column = 2;
  bool ascending = false;
  for (auto [clicked, nowAscending] : {std::pair{2, true}, {2, false}, {5, true}, {0, true}}) {
    applyHeaderClick(clicked, column, ascending);
    EXPECT_EQ(std::tuple(column, ascending), std::tuple(clicked, nowAscending)) << clicked;
  }
}

}  // namespace
}  // namespace tessivo
