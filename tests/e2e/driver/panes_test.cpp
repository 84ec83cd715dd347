// The two panes and the sampling timer: 显示速度图表 and resizing lay the panes out at once;
// the sampling-interval menu changes how often the program takes a snapshot.
#include <windows.h>

#include <gtest/gtest.h>

#include <numeric>
#include <sstream>
#include <vector>

#include "driver/program.h"

namespace tessivo::e2e {
namespace {

std::string text(const RECT& r) {
  std::ostringstream out;
  out << '(' << r.left << ',' << r.top << ")-(" << r.right << ',' << r.bottom << ')';
  return out.str();
}

bool same(const RECT& a, LONG left, LONG top, LONG right, LONG bottom) {
  return a.left == left && a.top == top && a.right == right && a.bottom == bottom;
}

class PanesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(program.started()) << utf8(program.failure()); }

  // Gaps in ms between the last `count` consecutive snapshots.
  std::vector<std::int64_t> lastGaps(int count) {
    const auto* c = program.control();
    const std::int64_t last = c->reads;
    std::vector<std::int64_t> gaps;
    for (std::int64_t n = last - count + 1; n <= last; ++n)
      gaps.push_back(c->readTicks[n % script::kReadTimeSlots] - c->readTicks[(n - 1) % script::kReadTimeSlots]);
    return gaps;
  }

  Program program{paths().scripted};
};

TEST_F(PanesTest, ChartToggleAndResizeLayTheListOutAtOnce) {
  const RECT client = program.clientRect();
  ASSERT_TRUE(program.command(40006));  // chart off: the list takes the whole client area
  EXPECT_FALSE(IsWindowVisible(program.chart()));
  RECT list = program.childRect(program.list());
  EXPECT_TRUE(same(list, 0, 0, client.right, client.bottom)) << text(list);

  ASSERT_TRUE(program.command(40006));  // and back
  EXPECT_TRUE(IsWindowVisible(program.chart()));
  EXPECT_TRUE(same(program.childRect(program.chart()), 0, 0, client.right, 380));
  list = program.childRect(program.list());
  EXPECT_TRUE(same(list, 0, 380, client.right, client.bottom)) << text(list);

  // A smaller window: both panes follow its width; the list keeps what is below the chart.
  ASSERT_TRUE(SetWindowPos(program.main(), nullptr, 0, 0, 900, 600, SWP_NOMOVE | SWP_NOZORDER));
  const RECT smaller = program.clientRect();
  ASSERT_LT(smaller.right, client.right);
  EXPECT_TRUE(eventually([&] {
    return same(program.childRect(program.list()), 0, 380, smaller.right, smaller.bottom) &&
           same(program.childRect(program.chart()), 0, 0, smaller.right, 380);
  })) << text(program.childRect(program.list()));

  // Lower than the chart: the chart keeps its 380 pixels and the list gets no height.
  ASSERT_TRUE(program.send(program.main(), WM_SIZE, SIZE_RESTORED, MAKELPARAM(700, 300)));
  EXPECT_TRUE(same(program.childRect(program.chart()), 0, 0, 700, 380));
  list = program.childRect(program.list());
  EXPECT_TRUE(same(list, 0, 380, 700, 380)) << text(list);
}

TEST_F(PanesTest, SamplingIntervalMenuChangesTheTickRate) {
  ASSERT_TRUE(program.command(40025));  // 2 秒
  const std::int64_t at2s = program.reads();
  ASSERT_TRUE(program.waitForReads(at2s + 3, 20'000));
  for (std::int64_t gap : lastGaps(2)) {
    EXPECT_GE(gap, 1'900) << "2 s interval";
    EXPECT_LE(gap, 4'000) << "2 s interval";
  }

  ASSERT_TRUE(program.command(40020));  // 100 毫秒
  const std::int64_t at100 = program.reads();
  ASSERT_TRUE(program.waitForReads(at100 + 21, 20'000));
  const std::vector<std::int64_t> fast = lastGaps(20);
  const double mean = static_cast<double>(std::accumulate(fast.begin(), fast.end(), std::int64_t{0})) / 20.0;
  EXPECT_GE(mean, 90.0);
  EXPECT_LE(mean, 250.0) << "the 333 ms default would give 333";
}

}  // namespace
}  // namespace tessivo::e2e
