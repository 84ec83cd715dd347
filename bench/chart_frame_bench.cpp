// One chart frame: the live view at its full 240 items, and the full retention of
// 720 hours (43200 minute samples of ten contributors each) with the share panel up.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "chart/speed_chart.h"
#include "core/text.h"
#include "support/recording_canvas.h"

namespace tessivo {
namespace {

// Touches what it is given, as a real target would read it, but keeps nothing:
// the figures are then the frame's own work, not a recorder's copying.
class CountingCanvas final : public Canvas {
 public:
  std::uint64_t ops = 0;
  double checksum = 0;

  void clear(Rgba colour) override { tally(colour.r); }
  void line(PointF from, PointF to, Brush, float w) override { tally(from.x + to.y + w); }
  void fillRect(RectF r, Brush) override { tally(r.left + r.right); }
  void fillRoundedRect(RectF r, float rx, float, Brush) override { tally(r.top + rx); }
  void strokeRoundedRect(RectF r, float, float ry, Brush, float) override { tally(r.bottom + ry); }
  void fillCircle(PointF c, float radius, Brush) override { tally(c.y + radius); }
  bool fillPolygon(std::span<const PointF> points, Brush) override { return walk(points); }
  bool strokePolyline(std::span<const PointF> points, Brush, float) override { return walk(points); }
  bool hasFormat(TextFormat) const override { return true; }
  void text(std::u16string_view text, TextFormat, TextAlign, ParagraphAlign, RectF rect, Brush) override {
    tally(static_cast<double>(text.size()) + rect.left);
  }

 private:
  void tally(double v) {
    ++ops;
    checksum += v;
  }
  bool walk(std::span<const PointF> points) {
    double sum = 0;
    for (const PointF& p : points) sum += p.y;
    tally(sum);
    return true;
  }
};

void fillLive(SpeedChart& chart) {
  for (std::uint64_t i = 0; i < chart.liveCapacity; ++i) {
    chart.liveSamples.push_back(ChartSample{(i * 7919) % 3000000, (i * 104729) % 2000000, {}});
  }
  chart.hoverActive = true;
  chart.hoverX = 600;
}

void fillFull(SpeedChart& chart) {
  chart.retentionHours = 720;
  chart.minuteCapacity = 720 * 60;
  chart.rangeMode = ChartRange::Full;
  chart.viewSpan = static_cast<float>(chart.minuteCapacity);
  std::u16string names[20];
  for (int n = 0; n < 20; ++n) {
    names[n] = u"process-";
    appendAscii(names[n], std::to_string(n));
    names[n] += u".exe";
  }
  for (std::uint64_t i = 0; i < chart.minuteCapacity; ++i) {
    ChartSample s{(i * 7919) % 50000000, (i * 104729) % 30000000, {}};
    for (std::uint64_t k = 0; k < 10; ++k) {
      s.contributors.push_back(
          {chart.names.intern(names[(i + k) % 20]), (10 - k) * 100000 + i % 1000, (10 - k) * 50000});
    }
    chart.minuteSamples.push_back(std::move(s));
  }
  chart.hoverActive = true;
  chart.hoverX = 600;  // mid-plot: the panel lists all ten at 380 high
}

constexpr float kWidth = 1200.0f;
constexpr float kHeight = 380.0f;

// A frame without its panel or series would measure the wrong thing.
bool drawsEverything(const SpeedChart& chart) {
  testing::RecordingCanvas probe;
  chart.paint(probe, kWidth, kHeight);
  return probe.count<testing::FillRoundedRectOp>() == 1 && probe.count<testing::PolylineOp>() == 2;
}

// One frame of a chart filled by `fill`, repeated on the counting canvas, or on the
// recording canvas the tests use (cleared every iteration: what the frame costs when every
// operation is also copied into a value).
template <void (*fill)(SpeedChart&), bool recorded>
void BM_Frame(benchmark::State& state) {
  SpeedChart chart;
  fill(chart);
  if (!drawsEverything(chart)) state.SkipWithError("frame lacks its series or share panel");
  if constexpr (recorded) {
    testing::RecordingCanvas canvas;
    for (auto _ : state) {
      canvas.ops.clear();
      chart.paint(canvas, kWidth, kHeight);
      benchmark::DoNotOptimize(canvas.ops.data());
    }
  } else {
    CountingCanvas canvas;
    for (auto _ : state) {
      chart.paint(canvas, kWidth, kHeight);
      benchmark::DoNotOptimize(canvas.checksum);
    }
    state.counters["ops/frame"] = static_cast<double>(canvas.ops) / static_cast<double>(state.iterations());
  }
}
BENCHMARK(BM_Frame<fillLive, false>)->Name("BM_FrameLive")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Frame<fillFull, false>)->Name("BM_FrameFull")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Frame<fillLive, true>)->Name("BM_FrameLiveRecorded")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Frame<fillFull, true>)->Name("BM_FrameFullRecorded")->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tessivo
