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
    line += field == 22 ? std::string(startTime) : std::to_string(field * 11);
  }
  return line + "\n";
}

TEST(ProcParse, StatNameEndsAtTheLastParenthesis) {
  struct Case {
    std::string text;
    std::optional<std::string_view> comm;  // empty: not a stat line
    std::uint64_t startTime = 0;
  };
  const Case cases[] = {
      {statLine("bash", "8812"), "bash", 8812},
      {statLine("a) S (b", "7"), "a) S (b", 7},  // a name that looks like fields
      {statLine("Web Content", "18446744073709551615"), "Web Content", 18446744073709551615ull},
      {statLine("", "3"), "", 3},
      {"12 (short) S 1 2 3", std::nullopt},  // cut before field 22
      {"12 short S" + statLine("x", "5").substr(10), std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto stat = parseProcStat(c.text);
    ASSERT_EQ(stat.has_value(), c.comm.has_value());
    if (!stat) continue;
    EXPECT_EQ(stat->comm, *c.comm);
    EXPECT_EQ(stat->startTime, c.startTime);
  }
}

TEST(ProcParse, IoTakesTheLinesThatArePresent) {
  struct Case {
    std::string_view text;
    std::optional<ProcIo> io;
  };
  const auto same = [](const ProcIo& a, const ProcIo& b) {
    return a.rchar == b.rchar && a.wchar == b.wchar && a.syscr == b.syscr && a.syscw == b.syscw &&
           a.readBytes == b.readBytes && a.writeBytes == b.writeBytes;
  };
  const Case cases[] = {
      {"rchar: 1\nwchar: 2\nsyscr: 3\nsyscw: 4\nread_bytes: 5\nwrite_bytes: 6\ncancelled_write_bytes: 7\n",
       ProcIo{1, 2, 3, 4, 5, 6}},
      {"write_bytes: 9\nrchar: 8", ProcIo{8, 0, 0, 0, 0, 9}},  // missing lines, other order, no final newline
      {"future_field: 5\nwchar: 18446744073709551615\nsyscw:\nbogus\n",
       ProcIo{0, 18446744073709551615ull, 0, 0, 0, 0}},
      {"rchar: 99999999999999999999999\n", ProcIo{18446744073709551615ull, 0, 0, 0, 0, 0}},  // saturates
      {"", std::nullopt},
      {"cancelled_write_bytes: 4\nnoise", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto io = parseProcIo(c.text);
    ASSERT_EQ(io.has_value(), c.io.has_value());
    if (io) {
      EXPECT_TRUE(same(*io, *c.io));
    }
  }
}

TEST(ProcParse, PidNamesNamesAndLinks) {
  EXPECT_EQ(parsePidName("1"), 1u);
  EXPECT_EQ(parsePidName("4294967295"), 4294967295u);
  for (std::string_view other : {"", "0", "01", "4294967296", "12a", "self", "thread-self"}) {
    EXPECT_EQ(parsePidName(other), 0u) << other;
  }

  std::u16string name = u"a previous, longer name";
  const char16_t* storage = name.data();
  assignUtf8("caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80", name);
  EXPECT_EQ(name, u"café 中 😀");
  EXPECT_EQ(name.data(), storage);  // reused, not reallocated
  assignUtf8("a\xFF" "b\xE4\xB8" "c\xC0\xAF", name);  // stray, cut short, overlong
  EXPECT_EQ(name, u"a\uFFFDb\uFFFD\uFFFDc\uFFFD");

  EXPECT_EQ(withoutDeletedSuffix("/usr/bin/app (deleted)"), "/usr/bin/app");
  EXPECT_EQ(withoutDeletedSuffix("/usr/bin/app"), "/usr/bin/app");
  EXPECT_EQ(withoutDeletedSuffix(" (deleted)"), " (deleted)");
}

}  // namespace
}  // namespace tessivo
