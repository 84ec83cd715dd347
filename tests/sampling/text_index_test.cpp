#include "sampling/text_index.h"

#include <gtest/gtest.h>

#include "core/text.h"

namespace tessivo {
namespace {

TEST(TextIndex, NumbersTextsInOrderAcrossGrowthAndRounds) {
  TextIndex index;
  for (int round = 0; round < 2; ++round) {
    index.reset(round == 0 ? 1 : 0);  // far too small: the table has to grow
    for (int i = 0; i < 300; ++i) {
      const auto [number, isNew] = index.insert(widenAscii("key" + std::to_string(i)));
      EXPECT_EQ(number, static_cast<std::uint32_t>(i));
      EXPECT_TRUE(isNew);
    }
    for (int i = 299; i >= 0; --i) {
      const auto [number, isNew] = index.insert(widenAscii("key" + std::to_string(i)));
      EXPECT_EQ(number, static_cast<std::uint32_t>(i));
      EXPECT_FALSE(isNew);
    }
    EXPECT_EQ(index.size(), 300u);
    EXPECT_EQ(index.key(123), u"key123");
  }
  index.reset(4);
  EXPECT_EQ(index.insert(u"key7"), (std::pair<std::uint32_t, bool>{0, true}));  // earlier rounds forgotten
  EXPECT_EQ(index.insert(u"KEY7").second, true);                                // exact comparison
  EXPECT_EQ(index.insert(u"").first, 2u);
}

}  // namespace
}  // namespace tessivo
