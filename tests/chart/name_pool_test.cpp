// The interned-name pool behind the chart history.
#include <gtest/gtest.h>

#include <memory>

#include "chart/chart_sample.h"

namespace tessivo {
namespace {

TEST(NamePool, CountsReferencesAndReusesFreedIds) {
  NamePool pool;
  const std::uint32_t a = pool.intern(u"svchost.exe");
  EXPECT_EQ(pool.intern(u"svchost.exe"), a);
  const std::uint32_t upper = pool.intern(u"SVCHOST.EXE");  // exact, case-sensitive
  EXPECT_NE(upper, a);
  EXPECT_EQ(pool.liveNames(), 2u);
  pool.release(a);
  EXPECT_EQ(pool.name(a), u"svchost.exe");
  pool.release(a);
  EXPECT_EQ(pool.liveNames(), 1u);
  EXPECT_TRUE(pool.name(a).empty());
  pool.release(a);  // an extra release must not free someone else's name
  EXPECT_EQ(pool.intern(u"a much longer name that does not fit inline.exe"), a);
  EXPECT_EQ(pool.name(upper), u"SVCHOST.EXE");
  EXPECT_TRUE(pool.name(9999).empty());
}

TEST(NamePool, CopyLooksUpItsOwnTexts) {
  auto original = std::make_unique<NamePool>();
  const std::uint32_t id = original->intern(u"a much longer name that does not fit inline.exe");
  original->intern(u"short");
  NamePool copy(*original);
  NamePool assigned;
  assigned = *original;
  original.reset();  // the copies must not refer to the original's storage
  EXPECT_EQ(copy.intern(u"a much longer name that does not fit inline.exe"), id);
  EXPECT_EQ(copy.name(id), u"a much longer name that does not fit inline.exe");
  assigned.release(id);
  EXPECT_EQ(assigned.liveNames(), 1u);
  EXPECT_EQ(copy.liveNames(), 2u);
}

}  // namespace
}  // namespace tessivo
