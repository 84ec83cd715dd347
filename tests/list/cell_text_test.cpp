#include "list/cell_text.h"

#include <gtest/gtest.h>

#include <limits>

#include "core/text.h"
#include "list/display_text.h"

namespace tessivo {
namespace {

constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();

TEST(FormatGrouped, CommasAtEveryThirdDigitFromTheRight) {
  const std::pair<std::uint64_t, const char*> cases[] = {
      {0, "0"},           {999, "999"},           {1000, "1,000"},
      {99999, "99,999"},  {100000, "100,000"},    {1234567, "1,234,567"},
      {4294967296ull, "4,294,967,296"},  // beyond 32 bits
      {kMax64, "18,446,744,073,709,551,615"}};
  for (auto [value, text] : cases) EXPECT_EQ(toUtf8(formatGrouped(value)), text) << value;
}

TEST(FormatKiBRate, OneDecimalOfKibibytesWithAFullStop) {
  const std::pair<std::uint64_t, const char*> cases[] = {
      {0, "0.0 KiB/s"},
      {51, "0.0 KiB/s"},  // 0.0498...
      {52, "0.1 KiB/s"},  // 0.0508...
      {1536, "1.5 KiB/s"},
      {1073741824, "1048576.0 KiB/s"},  // never another unit, never grouped
      {256, "0.2 KiB/s"},               // exact ties go to the even tenth
      {768, "0.8 KiB/s"},
      {std::uint64_t{1} << 63, "9007199254740992.0 KiB/s"},  // the top bit stays positive
      {kMax64, "18014398509481984.0 KiB/s"}};
  for (auto [value, text] : cases) EXPECT_EQ(toUtf8(formatKiBRate(value)), text) << value;
}

ProcessRow sampleRow() {
  ProcessRow row;
  row.pid = 12345;
  row.name = u"Explorer.EXE";
  row.imagePath = u"C:\\Windows\\explorer.exe";
  row.counters = IoCounters{/*readOps*/ 4000, /*writeOps*/ 5, /*otherOps*/ 77, /*readBytes*/ 1234567,
                            /*writeBytes*/ 0, /*otherBytes*/ 88};
  row.readRate = 1536;
  row.writeRate = 52;
  return row;
}

TEST(CellText, EachColumnShowsItsOwnField) {
  ProcessRow row = sampleRow();
  const char* const expected[] = {"Explorer.EXE", "12,345", "1,234,567", "0", "4,000", "5",
                                  "1.5 KiB/s",    "0.1 KiB/s", "C:\\Windows\\explorer.exe"};
  for (std::int32_t column = 0; column < 9; ++column) EXPECT_EQ(toUtf8(cellTextOf(row, column)), expected[column]);
  // The "other" pair is never shown, and there is no tenth column.
  for (std::int32_t column : {9, -1, 1 << 30}) EXPECT_TRUE(cellTextOf(row, column).empty()) << column;

  row.pid = 0;  // an application row, or the idle process
  row.name.clear();
  EXPECT_EQ(toUtf8(cellTextOf(row, 1)), "-");
  EXPECT_TRUE(cellTextOf(row, 0).empty());  // the name as stored, no substitute
  row.pid = std::numeric_limits<std::uint32_t>::max();
  EXPECT_EQ(toUtf8(cellTextOf(row, 1)), "4,294,967,295");
}

TEST(DisplayText, OutOfRangeItemsGiveEmptyTextAndKeepTheLastCell) {
  std::vector<ProcessRow> rows{sampleRow(), sampleRow()};
  rows[1].pid = 7;
  std::u16string cellText = u"previous";
  for (const std::int32_t item : {2, 3, -1, std::numeric_limits<std::int32_t>::min()}) {
    const char16_t* text = displayText(rows, item, 0, cellText);
    ASSERT_NE(text, nullptr) << item;
    EXPECT_EQ(text[0], u'\0') << item;
    EXPECT_EQ(toUtf8(cellText), "previous") << item;
  }
  EXPECT_EQ(displayText({}, 0, 0, cellText)[0], u'\0');

  // The cell text owns what the list reads.
  const char16_t* text = displayText(rows, 1, 1, cellText);
  EXPECT_EQ(text, cellText.c_str());
  EXPECT_EQ(std::u16string(text), u"7");
  // An unknown column of a valid row replaces the last text with an empty one.
  text = displayText(rows, 0, 12, cellText);
  EXPECT_EQ(text, cellText.c_str());
  EXPECT_TRUE(cellText.empty());
}

}  // namespace
}  // namespace tessivo
