#include "linux/proc_parse.h"

#include <gtest/gtest.h>

#include <string>

namespace tessivo {
namespace {

// A stat line as the kernel writes it: 52 fields, starttime in field 22.
std::string statLine(std::string_view comm, std::string_view startTime) {
  std::string line = "4321 (" + std::string(comm) + ") S";
  for (int field = 4; field <= 52; ++field) {
    line += ' ';
    line += field == 22 ? std::string(startTime) : std::to_string(field);
  }
  return line + "\n";
}

TEST(ProcParse, StatNameEndsAtTheLastParenthesis) {
  const struct {
    std::string text;
    const char* comm;  // null: not a stat line
    std::uint64_t startTime;
  } cases[] = {
      {statLine("a) S (b", "7"), "a) S (b", 7},  // a name that looks like fields
      {statLine("Web Content", "18446744073709551615"), "Web Content", 18446744073709551615ull},
      {statLine("", "3"), "", 3},
      {"12 (short) S 1 2 3", nullptr, 0},  // cut before field 22
      {"12 short S" + statLine("x", "5").substr(10), nullptr, 0},
  };
  for (const auto& c : cases) {
    const auto stat = parseProcStat(c.text);
    ASSERT_EQ(stat.has_value(), c.comm != nullptr) << c.text;
    if (stat) {
      EXPECT_EQ(stat->comm, c.comm);
      EXPECT_EQ(stat->startTime, c.startTime);
    }
  }
}

TEST(ProcParse, IoTakesTheLinesThatArePresent) {
  const struct {
    std::string_view text;
    const char* fields;  // rchar wchar syscr syscw read_bytes write_bytes; null: not an io file
  } cases[] = {
      {"rchar: 1\nwchar: 2\nsyscr: 3\nsyscw: 4\nread_bytes: 5\nwrite_bytes: 6\ncancelled_write_bytes: 7\n", "1 2 3 4 5 6"},
      {"write_bytes: 9\nrchar: 8", "8 0 0 0 0 9"},  // missing lines, other order, no final newline
      {"new_field: 5\nwchar: 18446744073709551615\nsyscw:\nbogus\n", "0 18446744073709551615 0 0 0 0"},
      {"rchar: 99999999999999999999999\n", "18446744073709551615 0 0 0 0 0"},  // saturates
      {"", nullptr},
      {"cancelled_write_bytes: 4\nnoise", nullptr},
  };
  for (const auto& c : cases) {
    const auto io = parseProcIo(c.text);
    ASSERT_EQ(io.has_value(), c.fields != nullptr) << c.text;
    if (!io) continue;
    std::string fields;
    for (std::uint64_t v : {io->rchar, io->wchar, io->syscr, io->syscw, io->readBytes, io->writeBytes})
      fields.append(fields.empty() ? "" : " ").append(std::to_string(v));
    EXPECT_EQ(fields, c.fields) << c.text;
  }
}

TEST(ProcParse, PidNamesNamesAndLinks) {
  EXPECT_EQ(parsePidName("4294967295"), 4294967295u);
  for (std::string_view other : {"", "0", "01", "4294967296", "12a", "self"}) EXPECT_EQ(parsePidName(other), 0u) << other;

  std::u16string name = u"a previous, longer name";
  const char16_t* storage = name.data();
  assignUtf8("caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80", name);
  EXPECT_EQ(name, u"café 中 😀");
  EXPECT_EQ(name.data(), storage);  // reused, not reallocated
  assignUtf8("a\xFF" "b\xE4\xB8" "c\xC0\xAF", name);  // stray, cut short, overlong
  EXPECT_EQ(name, u"a\uFFFDb\uFFFD\uFFFDc\uFFFD");

  EXPECT_EQ(withoutDeletedSuffix("/usr/bin/app (deleted)"), "/usr/bin/app");
  EXPECT_EQ(withoutDeletedSuffix(" (deleted)"), " (deleted)");
}

}  // namespace
}  // namespace tessivo
