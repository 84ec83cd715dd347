// The chart's view state: ranges, resets, the view step of a refresh, zoom, drag and hover.
#include <gtest/gtest.h>

#include "chart/speed_chart.h"

namespace tessivo {
namespace {

struct CountingSurface : ChartSurface {
  int repaints = 0;
  void requestRepaint() override { ++repaints; }
};

constexpr std::int32_t kWidth = 1280;  // plot from x 64 to 1264, 1200 wide

struct ChartView : ::testing::Test {
  SpeedChart chart;
  CountingSurface surface;
  void SetUp() override { chart.surface = &surface; }
  void fillLive(int n) {
    for (int i = 0; i < n; ++i) chart.recordSample(1, 1, {});
  }
  void alter(float span, float pan) {
    chart.viewSpan = span;
    chart.viewPan = pan;
    chart.viewAltered = true;
  }
};

TEST_F(ChartView, RangeChangesResetViewAndSameRangeDoesNothing) {
  fillLive(179);  // one short of the first minute
  alter(100, 5);
  chart.hoverActive = true;
  chart.setRange(ChartRange::Live);
  chart.setRange(static_cast<ChartRange>(7));
  EXPECT_EQ(surface.repaints, 179);
  EXPECT_EQ(chart.viewPan, 5.0f);
  chart.setRange(ChartRange::Hour1);
  EXPECT_EQ(surface.repaints, 180);
  EXPECT_FALSE(chart.viewAltered || chart.hoverActive);
  EXPECT_EQ(chart.itemCount(), 0);

  // Each range starts at its own span: the live capacity, an hour, a day, the whole retention.
  chart.setRetentionHours(1);
  alter(3, 1);
  chart.hoverActive = true;
  for (auto [range, span] : {std::pair{ChartRange::Hour24, 1440.0f}, {ChartRange::Hour1, 60.0f},
                             {ChartRange::Full, 60.0f}, {ChartRange::Live, 240.0f}}) {
    chart.setRange(range);
    EXPECT_EQ(chart.viewSpan, span);
    EXPECT_EQ(chart.viewPan, 0.0f);
    alter(3, 1);
  }
  chart.hoverActive = true;
  chart.setRetentionHours(24);  // resets the view but keeps the hover read-out
  EXPECT_TRUE(chart.hoverActive);
  EXPECT_FALSE(chart.viewAltered);
  chart.setSampleInterval(1000);
  EXPECT_FALSE(chart.hoverActive);
  EXPECT_EQ(chart.viewSpan, 80.0f);
}

TEST_F(ChartView, AlteredViewFollowsItsItemsUpToMaxPan) {
  fillLive(240);
  EXPECT_EQ(chart.viewPan, 0.0f);  // an unaltered view follows the newest item
  alter(100, 10);
  fillLive(1);
  EXPECT_EQ(chart.viewPan, 11.0f);
  fillLive(200);
  EXPECT_EQ(chart.viewPan, 140.0f);  // liveCapacity - span
  EXPECT_EQ(chart.leftIndex(), 0.0f);
  EXPECT_EQ(chart.rightIndex(), 99.0f);

  // A minute range moves only when a minute closes.
  chart.setSampleInterval(10000);
  chart.setRange(ChartRange::Hour1);
  for (int i = 0; i < 6 * 5; ++i) chart.recordSample(1, 1, {});
  alter(2, 1);
  for (int i = 0; i < 5; ++i) chart.recordSample(1, 1, {});
  EXPECT_EQ(chart.viewPan, 1.0f);
  chart.recordSample(1, 1, {});
  EXPECT_EQ(chart.viewPan, 2.0f);
  EXPECT_EQ(chart.maxPan(), 4.0f);
}

TEST_F(ChartView, WheelZoomsAboutTheCursor) {
  fillLive(240);
  chart.zoomAt(664, 120, kWidth);  // forward at mid-plot
  EXPECT_FLOAT_EQ(chart.viewSpan, 192.0f);
  EXPECT_FLOAT_EQ(chart.viewPan, 24.0f);
  EXPECT_TRUE(chart.viewAltered);
  chart.zoomAt(664, -120, kWidth);  // back to the default span at the newest item
  EXPECT_FLOAT_EQ(chart.viewSpan, 240.0f);
  EXPECT_FALSE(chart.viewAltered);

  const int before = surface.repaints;
  chart.zoomAt(300, -120, kWidth);  // already the widest: nothing moves, yet it repaints
  EXPECT_EQ(chart.viewSpan, 240.0f);
  EXPECT_EQ(chart.viewPan, 0.0f);
  EXPECT_FALSE(chart.viewAltered);
  EXPECT_EQ(surface.repaints, before + 1);

  chart.zoomAt(664, 240, kWidth);  // one step, whatever the delta
  EXPECT_FLOAT_EQ(chart.viewSpan, 192.0f);
  chart.zoomAt(664, 0, kWidth);
  EXPECT_FLOAT_EQ(chart.viewSpan, 240.0f);
  for (int i = 0; i < 40; ++i) chart.zoomAt(900, 120, kWidth);
  EXPECT_EQ(chart.viewSpan, 2.0f);
  EXPECT_LE(chart.viewPan, chart.maxPan());
  for (int i = 0; i < 40; ++i) chart.zoomAt(0, -120, kWidth);
  EXPECT_EQ(chart.viewSpan, 240.0f);

  alter(100, 70);
  chart.zoomAt(10, 120, 40);  // no plot inside: zoom about the left edge
  EXPECT_FLOAT_EQ(chart.viewSpan, 80.0f);
  EXPECT_FLOAT_EQ(chart.viewPan, 90.0f);
  chart.setRetentionHours(1);
  chart.setRange(ChartRange::Hour24);
  chart.zoomAt(664, 120, kWidth);  // an oversized span is pulled into range
  EXPECT_EQ(chart.viewSpan, 60.0f);
}

TEST_F(ChartView, DragPansByPlotWidthAndEndsOnReleaseOrLostCapture) {
  fillLive(240);
  chart.viewSpan = 100;
  chart.hoverActive = true;
  const int before = surface.repaints;
  chart.buttonDown(100, 50);
  EXPECT_EQ(surface.repaints, before);
  EXPECT_FALSE(chart.mouseMove(1300, 80, kWidth));
  EXPECT_FLOAT_EQ(chart.viewPan, 99.0f);  // the whole plot width is span - 1 items
  EXPECT_TRUE(chart.viewAltered);
  EXPECT_FALSE(chart.hoverActive);
  chart.mouseMove(5000, 0, kWidth);
  EXPECT_EQ(chart.viewPan, 140.0f);
  chart.mouseMove(-5000, 0, kWidth);
  EXPECT_EQ(chart.viewPan, 0.0f);
  EXPECT_TRUE(chart.buttonUp());
  EXPECT_FALSE(chart.buttonUp());

  chart.viewPan = 20;
  chart.buttonDown(400, 0);
  chart.mouseMove(388, 0, kWidth);
  EXPECT_FLOAT_EQ(chart.viewPan, 20.0f - 12.0f * 99.0f / 1200.0f);
  chart.captureLost();
  chart.mouseMove(0, 0, kWidth);
  EXPECT_TRUE(chart.hoverActive);  // no longer dragging

  SpeedChart lone;  // one item: nothing to pan, but the view counts as altered
  lone.recordSample(1, 1, {});
  lone.buttonDown(0, 0);
  lone.mouseMove(600, 0, kWidth);
  EXPECT_EQ(lone.viewPan, 0.0f);
  EXPECT_TRUE(lone.viewAltered);
}

TEST_F(ChartView, HoverArmsLeaveOnceAndDoubleClickResets) {
  EXPECT_TRUE(chart.mouseMove(200, 30, kWidth));
  EXPECT_FALSE(chart.mouseMove(210, 40, kWidth));
  EXPECT_EQ(chart.hoverX, 210);
  EXPECT_EQ(chart.hoverY, 40);
  chart.mouseLeave();
  EXPECT_FALSE(chart.hoverActive);
  EXPECT_EQ(surface.repaints, 3);
  EXPECT_TRUE(chart.mouseMove(200, 30, kWidth));

  fillLive(240);
  chart.zoomAt(300, 120, kWidth);
  ASSERT_TRUE(chart.viewAltered);
  chart.doubleClick();
  EXPECT_EQ(chart.viewSpan, 240.0f);
  EXPECT_EQ(chart.viewPan, 0.0f);
  EXPECT_FALSE(chart.viewAltered);
}

}  // namespace
}  // namespace tessivo
