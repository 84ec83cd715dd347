// The process list of the scripted build, read cell by cell through the list view: column
// titles and widths, the exact texts in both grouping and both counting modes, the order
// after header clicks, and 全部清除.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/expected.h"
#include "driver/program.h"

namespace tessivo::e2e {
namespace {

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(program.started()) << utf8(program.failure()); }

  // The whole list, read between two snapshots; returns the number of the snapshot shown.
  std::int64_t stableTable(Table& out) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      const std::int64_t before = program.reads();
      out = program.table();
      if (program.reads() == before) return before;
    }
    ADD_FAILURE() << "the list never stayed still for one read";
    return -1;
  }

  void expectList(bool groupByApp, bool cumulative) {
    Table table;
    const std::int64_t reads = stableTable(table);
    EXPECT_EQ(matchList(table, reads, groupByApp, cumulative), "")
        << (groupByApp ? "grouped" : "ungrouped") << ", " << (cumulative ? "cumulative" : "run delta");
  }

  // The row whose cell in `column` reads `text`; empty when there is none.
  std::vector<std::wstring> rowWhere(int column, const std::wstring& text) {
    Table table;
    stableTable(table);
    for (auto& row : table)
      if (row[static_cast<std::size_t>(column)] == text) return row;
    return {};
  }

  std::vector<std::wstring> columnTexts(int column) {
    std::vector<std::wstring> texts;
    const int rows = program.rowCount();
    for (int r = 0; r < rows; ++r) texts.push_back(program.cell(r, column));
    return texts;
  }

  Program program{paths().scripted};
};

TEST_F(ListTest, NineColumnsWithTheirTitlesAndWidths) {
  const wchar_t* titles[] = {L"进程", L"PID", L"读取字节", L"写入字节", L"读取次数",
                             L"写入次数", L"读取速度", L"写入速度", L"映像路径"};
  const int widths[] = {180, 70, 130, 130, 110, 110, 120, 120, 450};
  ASSERT_EQ(program.columnCount(), 9);
  for (int c = 0; c < 9; ++c) {
    EXPECT_EQ(program.columnTitle(c), titles[c]) << "column " << c;
    EXPECT_EQ(program.columnWidth(c), widths[c]) << "column " << c;
  }
}

TEST_F(ListTest, CellsMatchTheScriptInBothGroupingAndCountingModes) {
  ASSERT_TRUE(program.waitForReads(4));
  expectList(true, false);
  // Applications: the two spellings of one executable are one row, named and spelled as the
  // lower process id has it; "System" twice without a path is one row; no row has a pid.
  const auto editor = rowWhere(0, L"Editor.exe");
  ASSERT_FALSE(editor.empty());
  EXPECT_EQ(editor[1], L"-");
  EXPECT_EQ(editor[8], L"C:\\Program Files\\Editor\\Editor.exe");
  EXPECT_EQ(rowWhere(0, L"System").at(8), L"");
  EXPECT_EQ(program.rowCount(), 4);

  ASSERT_TRUE(program.command(40003));  // one row per process
  expectList(false, false);
  EXPECT_EQ(program.rowCount(), 6);
  EXPECT_EQ(rowWhere(1, L"-").at(0), L"System");
  EXPECT_EQ(rowWhere(1, L"4").at(0), L"System");
  EXPECT_EQ(rowWhere(1, L"1,300").at(8), L"c:\\program files\\editor\\EDITOR.EXE");
  const auto unnamed = rowWhere(1, L"2,500");
  ASSERT_FALSE(unnamed.empty());
  EXPECT_EQ(unnamed[0], L"（未知）");
  EXPECT_EQ(unnamed[8], L"");

  ASSERT_TRUE(program.command(40005));  // the system's totals
  expectList(false, true);
  const auto backup = rowWhere(1, L"12,345");
  ASSERT_FALSE(backup.empty());
  EXPECT_EQ(backup[2], L"1,234,567,890");  // reads nothing more: its total before the start
  EXPECT_EQ(backup[4], L"4,000");
  EXPECT_EQ(backup[6], L"0.0 KiB/s");

  ASSERT_TRUE(program.command(40003));
  expectList(true, true);
  ASSERT_TRUE(program.command(40004));
  expectList(true, false);
}

TEST_F(ListTest, HeaderClicksSortAscendingThenDescendingWithNamesBreakingTies) {
  ASSERT_TRUE(program.waitForReads(3));
  using Names = std::vector<std::wstring>;
  // At start: bytes read, largest first; the two that read nothing by name.
  EXPECT_EQ(columnTexts(0), (Names{L"Editor.exe", L"System", L"Backup.exe", L"（未知）"}));
  ASSERT_TRUE(program.clickHeader(2));
  EXPECT_EQ(columnTexts(0), (Names{L"Backup.exe", L"（未知）", L"System", L"Editor.exe"}));
  ASSERT_TRUE(program.clickHeader(0));
  EXPECT_EQ(columnTexts(0), (Names{L"Backup.exe", L"Editor.exe", L"System", L"（未知）"}));
  ASSERT_TRUE(program.clickHeader(0));
  EXPECT_EQ(columnTexts(0), (Names{L"（未知）", L"System", L"Editor.exe", L"Backup.exe"}));
  // Every application row has pid 0: by PID is by name, whichever the direction.
  ASSERT_TRUE(program.clickHeader(1));
  EXPECT_EQ(columnTexts(0), (Names{L"Backup.exe", L"Editor.exe", L"System", L"（未知）"}));
  ASSERT_TRUE(program.clickHeader(1));
  EXPECT_EQ(columnTexts(0), (Names{L"Backup.exe", L"Editor.exe", L"System", L"（未知）"}));

  ASSERT_TRUE(program.command(40003));  // per process; still by PID, descending
  EXPECT_EQ(columnTexts(1), (Names{L"12,345", L"2,500", L"1,300", L"1,200", L"4", L"-"}));
  ASSERT_TRUE(program.clickHeader(1));
  EXPECT_EQ(columnTexts(1), (Names{L"-", L"4", L"1,200", L"1,300", L"2,500", L"12,345"}));
  // By read speed: the three that read nothing come first, by name (Backup.exe, System,
  // （未知）), then the slowest reader; the second click reverses only the speeds.
  ASSERT_TRUE(program.clickHeader(6));
  EXPECT_EQ(columnTexts(1), (Names{L"12,345", L"-", L"2,500", L"4", L"1,300", L"1,200"}));
  ASSERT_TRUE(program.clickHeader(6));
  EXPECT_EQ(columnTexts(1), (Names{L"1,200", L"1,300", L"4", L"12,345", L"-", L"2,500"}));
}

TEST_F(ListTest, ClearAllEmptiesTheListUntilTheNextTickWhichCountsFromZero) {
  ASSERT_TRUE(program.command(40025));  // a tick every 2 s leaves time to look in between
  std::int64_t cleared = -1;
  for (int attempt = 0; attempt < 5 && cleared < 0; ++attempt) {
    const std::int64_t before = program.reads();
    ASSERT_TRUE(program.waitForReads(before + 1, 10'000));
    const std::int64_t at = program.reads();
    ASSERT_TRUE(program.command(40001));
    const int rows = program.rowCount();
    if (program.reads() != at) continue;  // a tick came in between; try again
    EXPECT_EQ(rows, 0);
    cleared = at;
  }
  ASSERT_GE(cleared, 0) << "no clear fell between two ticks";

  ASSERT_TRUE(program.waitForReads(cleared + 1, 10'000));
  EXPECT_EQ(program.rowCount(), 4);
  const auto first = rowWhere(0, L"Editor.exe");
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(first[2], L"0");
  EXPECT_EQ(first[4], L"0");
  EXPECT_EQ(first[6], L"0.0 KiB/s");

  ASSERT_TRUE(program.waitForReads(cleared + 2, 10'000));
  const auto second = rowWhere(0, L"Editor.exe");
  ASSERT_FALSE(second.empty());
  EXPECT_EQ(second[2], L"399,600");     // one step of both members: 333,000 + 66,600
  EXPECT_EQ(second[6], L"97.6 KiB/s");  // 83,250 + 16,650 B/s, the first smoothed readings
  EXPECT_EQ(rowWhere(0, L"System").at(2), L"3,330");
}

}  // namespace
}  // namespace tessivo::e2e
