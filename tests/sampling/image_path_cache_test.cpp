#include "sampling/image_path_cache.h"

#include <gtest/gtest.h>

#include "support/scripted_system.h"

namespace tessivo {
namespace {

TEST(ImagePathCache, AsksOncePerIdentifierAndRemembersFailures) {
  testing::ScriptedSystem sys;
  sys.add(0, u"System");
  sys.add(4, u"System", u"C:\\should\\never\\be\\asked");
  sys.add(10, u"a.exe", u"C:\\a.exe");
  sys.add(11, u"b.exe");  // path cannot be obtained
  ImagePathCache cache;
  EXPECT_EQ(cache.lookup(0, sys), u"");
  EXPECT_EQ(cache.lookup(4, sys), u"");
  EXPECT_EQ(sys.imagePathCalls, 0u);
  EXPECT_TRUE(cache.contains(4));
  const std::u16string& a = cache.pathOf(10, sys);
  EXPECT_EQ(cache.pathOf(11, sys), u"");
  sys.find(11)->imagePath = u"C:\\b.exe";  // a later attempt would succeed, but none is made
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(cache.lookup(10, sys), u"C:\\a.exe");
    EXPECT_EQ(cache.lookup(11, sys), u"");
  }
  EXPECT_EQ(sys.imagePathCalls, 2u);
  for (std::uint32_t pid = 100; pid < 2100; ++pid) cache.pathOf(pid, sys);  // many rehashes
  EXPECT_EQ(a, u"C:\\a.exe");  // references handed out stay valid
  cache.forget(11);
  EXPECT_EQ(cache.lookup(11, sys), u"C:\\b.exe");
}

TEST(ImagePathCache, RetainOnlyKeepsTheLiveIdentifiers) {
  testing::ScriptedSystem sys;
  ImagePathCache cache;
  for (std::uint32_t pid : {4u, 8u, 12u, 16u, 20u}) cache.pathOf(pid, sys);
  const std::vector<std::uint32_t> live{4, 12, 20, 99};
  cache.retainOnly(live);
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_TRUE(cache.contains(12));
  EXPECT_FALSE(cache.contains(8));
  EXPECT_FALSE(cache.contains(99));  // retaining does not add
  const std::vector<std::uint32_t> unsorted{20, 4};
  cache.retainOnly(unsorted);
  EXPECT_TRUE(cache.contains(20));
  EXPECT_TRUE(cache.contains(4));
  EXPECT_FALSE(cache.contains(12));
  const std::vector<std::uint32_t> repeated{20, 20};  // one live pid, listed twice
  cache.retainOnly(repeated);
  EXPECT_EQ(cache.size(), 1u);
  cache.retainOnly({});
  EXPECT_EQ(cache.size(), 0u);
}

}  // namespace
}  // namespace tessivo
