#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "chart/chart_format.h"
#include "core/text.h"

namespace tessivo {
namespace {

std::string rate(std::uint64_t v) { return toUtf8(formatRate(v)); }
std::string duration(float s) { return toUtf8(formatDuration(s)); }
std::string offset(float s) { return toUtf8(formatTimeOffset(s)); }

TEST(FormatRate, PicksTheBinaryUnitBeforeRounding) {
  EXPECT_EQ(rate(0), "0.0 B/s");
  EXPECT_EQ(rate(1023), "1023.0 B/s");
  EXPECT_EQ(rate(1024), "1.0 KiB/s");
  EXPECT_EQ(rate(1536), "1.5 KiB/s");
  EXPECT_EQ(rate(1048575), "1024.0 KiB/s");  // rounds up, but the unit is already chosen
  EXPECT_EQ(rate(1048576), "1.0 MiB/s");
  EXPECT_EQ(rate(1073741823), "1024.0 MiB/s");
  EXPECT_EQ(rate(1073741824), "1.0 GiB/s");
  EXPECT_EQ(rate(5ull << 40), "5120.0 GiB/s");  // nothing above GiB/s
}

TEST(FormatRate, LargestSpeedFitsAndUsesOneDecimal) {
  const std::string top = rate(std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(top, "17179869184.0 GiB/s");
  EXPECT_EQ(rate(1500), "1.5 KiB/s");
  EXPECT_EQ(rate(1000), "1000.0 B/s");
  EXPECT_EQ(rate(2000), "2.0 KiB/s");  // 1.953 rounds to one decimal
}

TEST(FormatDuration, ChoosesItsFormOnTheUnroundedValue) {
  EXPECT_EQ(duration(0.0f), "0.0s");
  EXPECT_EQ(duration(9.5f), "9.5s");
  EXPECT_EQ(duration(9.96f), "10.0s");  // still the short form
  EXPECT_EQ(duration(10.0f), "10s");
  EXPECT_EQ(duration(59.4f), "59s");
  EXPECT_EQ(duration(59.7f), "60s");
  EXPECT_EQ(duration(60.0f), "1m00s");
  EXPECT_EQ(duration(80.0f), "1m20s");
  EXPECT_EQ(duration(79.92f), "1m20s");
  EXPECT_EQ(duration(3599.6f), "60m00s");
  EXPECT_EQ(duration(3600.0f), "1h00m");
  EXPECT_EQ(duration(3659.0f), "1h00m");  // seconds dropped, minutes not rounded
  EXPECT_EQ(duration(86400.0f), "24h00m");
  EXPECT_EQ(duration(259200.0f), "72h00m");
  EXPECT_EQ(duration(-5.0f), "5.0s");
  EXPECT_EQ(duration(-90.0f), "1m30s");
}

TEST(FormatDuration, ExtremeValuesStayWithinRange) {
  // Far beyond any span the chart offers; must not wrap into a negative count.
  EXPECT_EQ(duration(1.0e12f), "596523h14m");
  EXPECT_EQ(duration(std::numeric_limits<float>::infinity()), "596523h14m");
  EXPECT_EQ(duration(std::numeric_limits<float>::quiet_NaN()), "0.0s");
}

TEST(FormatTimeOffset, NowUpToHalfASecondThenNegative) {
  EXPECT_EQ(offset(0.0f), "现在");
  EXPECT_EQ(offset(0.5f), "现在");
  EXPECT_EQ(offset(-3.0f), "现在");
  EXPECT_EQ(offset(0.6f), "-0.6s");
  EXPECT_EQ(offset(79.587f), "-1m20s");
  EXPECT_EQ(offset(3600.0f), "-1h00m");
}

}  // namespace
}  // namespace tessivo
