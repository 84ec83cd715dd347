// Parser cases the look-alike tree does not reach; stat and io text are read there.
#include "linux/proc_parse.h"

#include <gtest/gtest.h>

namespace tessivo {
namespace {

TEST(ProcParse, PidNamesNamesAndLinks) {
  EXPECT_EQ(parsePidName("4294967295"), 4294967295u);
  for (std::string_view other : {"", "0", "01", "4294967296", "12a", "self"}) EXPECT_EQ(parsePidName(other), 0u) << other;
  EXPECT_FALSE(parseProcStat("12 (short) S 1 2 3").has_value());  // cut before the start time
  EXPECT_FALSE(parseProcIo("cancelled_write_bytes: 4\nnoise").has_value());

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
