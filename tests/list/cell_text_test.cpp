#include "list/cell_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "core/text.h"
#include "list/display_text.h"

namespace tessivo {
namespace {

std::string grouped(std::uint64_t v) { return toUtf8(formatGrouped(v)); }
std::string rate(std::uint64_t v) { return toUtf8(formatKiBRate(v)); }

TEST(FormatGrouped, CommasAtEveryThirdDigitFromTheRight) {
  EXPECT_EQ(grouped(0), "0");
  EXPECT_EQ(grouped(7), "7");
  EXPECT_EQ(grouped(999), "999");
  EXPECT_EQ(grouped(1000), "1,000");
  EXPECT_EQ(grouped(9999), "9,999");
  EXPECT_EQ(grouped(10000), "10,000");
  EXPECT_EQ(grouped(100000), "100,000");
  EXPECT_EQ(grouped(999999), "999,999");
  EXPECT_EQ(grouped(1000000), "1,000,000");
  EXPECT_EQ(grouped(1234567), "1,234,567");
  EXPECT_EQ(grouped(4294967296ull), "4,294,967,296");  // beyond 32 bits
  EXPECT_EQ(grouped(std::numeric_limits<std::uint64_t>::max()), "18,446,744,073,709,551,615");
}

TEST(FormatKiBRate, OneDecimalOfKibibytesWithAFullStop) {
  EXPECT_EQ(rate(0), "0.0 KiB/s");
  EXPECT_EQ(rate(51), "0.0 KiB/s");  // 0.0498...
  EXPECT_EQ(rate(52), "0.1 KiB/s");  // 0.0508...
  EXPECT_EQ(rate(1023), "1.0 KiB/s");
  EXPECT_EQ(rate(1536), "1.5 KiB/s");
  EXPECT_EQ(rate(1048576), "1024.0 KiB/s");  // never switches to MiB/s
  EXPECT_EQ(rate(1073741824), "1048576.0 KiB/s");  // and never groups digits
  // Exact ties go to the even tenth, on every platform alike.
  EXPECT_EQ(rate(256), "0.2 KiB/s");
  EXPECT_EQ(rate(768), "0.8 KiB/s");
}

TEST(FormatKiBRate, ValuesWithTheTopBitSetStayPositive) {
  EXPECT_EQ(rate(std::uint64_t{1} << 63), "9007199254740992.0 KiB/s");
  EXPECT_EQ(rate(std::numeric_limits<std::uint64_t>::max()), "18014398509481984.0 KiB/s");
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
  const ProcessRow row = sampleRow();
  EXPECT_EQ(toUtf8(cellTextOf(row, 0)), "Explorer.EXE");
  EXPECT_EQ(toUtf8(cellTextOf(row, 1)), "12,345");  // the pid is grouped like the counters
  EXPECT_EQ(toUtf8(cellTextOf(row, 2)), "1,234,567");
  EXPECT_EQ(toUtf8(cellTextOf(row, 3)), "0");  // a zero counter is a digit, not "-" or empty
  EXPECT_EQ(toUtf8(cellTextOf(row, 4)), "4,000");
  EXPECT_EQ(toUtf8(cellTextOf(row, 5)), "5");
  EXPECT_EQ(toUtf8(cellTextOf(row, 6)), "1.5 KiB/s");
  EXPECT_EQ(toUtf8(cellTextOf(row, 7)), "0.1 KiB/s");
  EXPECT_EQ(toUtf8(cellTextOf(row, 8)), "C:\\Windows\\explorer.exe");
  // The "other" pair is never shown, and there is no tenth column.
  EXPECT_TRUE(cellTextOf(row, 9).empty());
  EXPECT_TRUE(cellTextOf(row, -1).empty());
  EXPECT_TRUE(cellTextOf(row, 1 << 30).empty());
}

TEST(CellText, PidZeroAndMissingTextsShowAsTheyAre) {
  ProcessRow row = sampleRow();
  row.pid = 0;  // an application row, or the idle process
  row.name.clear();
  row.imagePath.clear();
  EXPECT_EQ(toUtf8(cellTextOf(row, 1)), "-");
  EXPECT_TRUE(cellTextOf(row, 0).empty());  // the name as stored, no substitute
  EXPECT_TRUE(cellTextOf(row, 8).empty());
  row.pid = 1000;
  EXPECT_EQ(toUtf8(cellTextOf(row, 1)), "1,000");
  row.pid = std::numeric_limits<std::uint32_t>::max();
  EXPECT_EQ(toUtf8(cellTextOf(row, 1)), "4,294,967,295");
  row.name = u"（未知）";  // non-ASCII text passes through untouched
  EXPECT_EQ(cellTextOf(row, 0), std::u16string(u"（未知）"));
}

TEST(DisplayText, OutOfRangeItemsGiveEmptyTextAndKeepTheLastCell) {
  const std::vector<ProcessRow> rows{sampleRow(), sampleRow()};
  std::u16string cellText = u"previous";
  for (const std::int32_t item : {2, 3, -1, std::numeric_limits<std::int32_t>::min()}) {
    const char16_t* text = displayText(rows, item, 0, cellText);
    ASSERT_NE(text, nullptr) << item;
    EXPECT_EQ(text[0], u'\0') << item;
    EXPECT_EQ(toUtf8(cellText), "previous") << item;
  }
  EXPECT_EQ(displayText({}, 0, 0, cellText)[0], u'\0');
}

TEST(DisplayText, TheCellTextOwnsWhatTheListReads) {
  std::vector<ProcessRow> rows{sampleRow(), sampleRow()};
  rows[1].pid = 7;
  std::u16string cellText;
  const char16_t* text = displayText(rows, 1, 1, cellText);
  EXPECT_EQ(text, cellText.c_str());
  EXPECT_EQ(std::u16string(text), u"7");
  text = displayText(rows, 0, 2, cellText);
  EXPECT_EQ(text, cellText.c_str());
  EXPECT_EQ(toUtf8(text), "1,234,567");
  // An unknown column of a valid row replaces the last text with an empty one.
  text = displayText(rows, 0, 12, cellText);
  EXPECT_EQ(text, cellText.c_str());
  EXPECT_TRUE(cellText.empty());
}

}  // namespace
}  // namespace tessivo
