#include <gtest/gtest.h>

#include <optional>

#include "chart/speed_chart.h"
#include "core/text.h"
#include "support/recording_canvas.h"

namespace tessivo {
namespace {

using testing::FillRectOp;
using testing::FillRoundedRectOp;
using testing::RecordingCanvas;
using testing::TextOp;
using Texts = std::vector<std::string>;

// The plot of an 800 x 400 frame: 720 wide, so the panel takes its widest 520.
constexpr float kL = 64, kT = 26, kR = 784, kB = 370;

// Three live items exactly across the plot: anchors at x 64, 424 and 784.
struct Panel {
  SpeedChart chart;
  Panel() {
    chart.viewSpan = 3;
    chart.liveSamples.resize(3);
  }
  void set(std::size_t index, std::uint64_t read, std::uint64_t write, const std::vector<NameRate>& contributors) {
    ChartSample s{read, write, {}};
    for (const NameRate& c : contributors) s.contributors.push_back({chart.names.intern(c.name), c.readRate, c.writeRate});
    chart.liveSamples[index] = std::move(s);
  }
  RecordingCanvas draw(std::int32_t index, float right = kR, float bottom = kB,
                       std::optional<TextFormat> missing = std::nullopt) const {
    RecordingCanvas canvas;
    if (missing) canvas.setFormatMissing(*missing);
    chart.drawSharePanel(canvas, index, kL, kT, right, bottom);
    return canvas;
  }
};

std::vector<NameRate> numbered(int count) {
  std::vector<NameRate> out(static_cast<std::size_t>(count), NameRate{u"p", 100, 100});
  for (int i = 0; i < count; ++i) appendAscii(out[static_cast<std::size_t>(i)].name, std::to_string(i));
  return out;
}

RectF panelRect(const RecordingCanvas& canvas) {
  const auto panels = canvas.all<FillRoundedRectOp>();
  return panels.size() == 1 ? panels[0].rect : RectF{-1, -1, -1, -1};
}

// The name column below the headings: the contributors' labels and the count of the rest.
Texts nameColumn(const RecordingCanvas& canvas) {
  const RectF panel = panelRect(canvas);
  return canvas.textStrings([&panel](const TextOp& t) { return t.rect.left == panel.left + 10 && t.rect.top > panel.top + 42; });
}

TEST(SharePanel, PlacedRightOfTheCursorThenLeftThenPressedInside) {
  Panel p;
  EXPECT_EQ(panelRect(p.draw(0)), (RectF{76, 32, 596, 146}));   // right of x 64
  EXPECT_EQ(panelRect(p.draw(2)), (RectF{252, 32, 772, 146}));  // no room right of x 784: left of it
  EXPECT_EQ(panelRect(p.draw(1)), (RectF{68, 32, 588, 146}));   // left of x 424 is short: held at L + 4
  // An anchor past the plot's right edge: neither side fits, so it rests 4 inside R.
  p.chart.liveSamples.resize(5);
  p.chart.viewPan = 0.5f;  // anchor of item 4 at 964
  EXPECT_EQ(panelRect(p.draw(4)), (RectF{260, 32, 780, 146}));
  // On a 100-wide plot (panel 120) the same rule would pass the left margin; L + 4 wins.
  EXPECT_EQ(panelRect(p.draw(4, 164)), (RectF{68, 32, 188, 146}));
}

TEST(SharePanel, EmptyItemShowsTotalsHeadingsAndNote) {
  Panel p;
  const RecordingCanvas canvas = p.draw(2);
  EXPECT_EQ(canvas.textStrings(),
            (Texts{"合计  现在", "0.0 B/s", "0.0 B/s", "进程", "读取", "写入", "占比", "（无进程级活动记录）"}));
  EXPECT_TRUE(canvas.all<FillRectOp>().empty());  // zero speeds: not even the total bar's background
  EXPECT_EQ(canvas.count<testing::LineOp>(), 1u);  // the rule under the headings
}

TEST(SharePanel, BarsShareTheColumnRelativeToTheLargestContributor) {
  Panel p;
  // Stored order is kept: the largest contributor is second here.
  p.set(0, 300, 100, {{u"b", 100, 100}, {u"a", 300, 100}, {u"idle", 0, 0}});
  const RecordingCanvas canvas = p.draw(0);  // px 76: bar column 490..586
  const std::vector<FillRectOp> expected{
      {{490, 47, 586, 55}, Brush::BarTrack},  // total line: the whole column, split 3 : 1
      {{490, 47, 562, 55}, Brush::ReadLine},
      {{562, 47, 586, 55}, Brush::WriteLine},
      {{490, 89, 586, 97}, Brush::BarTrack},  // b: 200 of 400, half the column, split 1 : 1
      {{490, 89, 514, 97}, Brush::ReadLine},
      {{514, 89, 538, 97}, Brush::WriteLine},
      {{490, 107, 586, 115}, Brush::BarTrack},  // a: the full column
      {{490, 107, 562, 115}, Brush::ReadLine},
      {{562, 107, 586, 115}, Brush::WriteLine},
      {{490, 125, 586, 133}, Brush::BarTrack},  // idle: background only
  };
  EXPECT_EQ(canvas.all<FillRectOp>(), expected);
  const Texts texts = canvas.textStrings();
  EXPECT_EQ(texts[0], "合计  -0.7s");  // two items of 0.333 s before the newest
  EXPECT_EQ(Texts(texts.begin() + 7, texts.end()),
            (Texts{"b", "100.0 B/s", "100.0 B/s", "a", "300.0 B/s", "100.0 B/s", "idle", "0.0 B/s", "0.0 B/s"}));
}

TEST(SharePanel, RowsFitTheHeightWithACountOfTheRest) {
  Panel p;
  std::vector<NameRate> ten = numbered(10);
  ten[9] = {u"largest", 1000, 600};  // not shown, yet the measure of every bar
  p.set(0, 1, 1, ten);
  // 218 high: ten fitting lines, six for rows: five contributors and the count.
  const RecordingCanvas canvas = p.draw(0, kR, 244);
  EXPECT_EQ(panelRect(canvas), (RectF{76, 32, 596, 236}));
  EXPECT_EQ(nameColumn(canvas), (Texts{"p0", "p1", "p2", "p3", "p4", "… 其余 5 项"}));
  const auto bars = canvas.withBrush<FillRectOp>(Brush::WriteLine);
  ASSERT_EQ(bars.size(), 6u);  // the total line's and five rows'
  EXPECT_EQ(bars[1].rect.right, 490.0f + 200.0f / 1600.0f * 96.0f);

  // 100 high: fitting lines are held at five, so one line remains, and it is the count.
  p.set(1, 1, 1, numbered(3));
  const RecordingCanvas low = p.draw(1, kR, 126);
  EXPECT_EQ(panelRect(low), (RectF{68, 30, 588, 144}));  // pushed up from B - 4, then held at T + 4
  EXPECT_EQ(nameColumn(low), (Texts{"… 其余 3 项"}));
}

TEST(SharePanel, LabelsAreCutAtThirtyUnitsAndNamedWhenEmpty) {
  Panel p;
  const std::u16string thirty(30, u'n');
  const std::u16string astral = std::u16string(28, u'e') + u"\U0001F600" + u"zz";  // a pair on the cut
  p.set(0, 1, 1, {{thirty, 1, 0}, {std::u16string(30, u'm') + u"x", 1, 0}, {u"", 1, 0}, {astral, 1, 0}});
  EXPECT_EQ(nameColumn(p.draw(0)), (Texts{toUtf8(thirty), std::string(29, 'm') + "…", "（未知）", std::string(28, 'e') + "…"}));
}

TEST(SharePanel, NarrowPlotDrawsNoBarsButKeepsTheTexts) {
  Panel p;
  p.set(0, 300, 100, {{u"a", 300, 100}, {u"b", 0, 0}});
  const RecordingCanvas narrow = p.draw(0, kL + 416);  // panel 408: the column would be -16 wide
  EXPECT_TRUE(narrow.all<FillRectOp>().empty());
  EXPECT_NE(narrow.findText("a"), nullptr);
  EXPECT_TRUE(p.draw(0, kL + 432).all<FillRectOp>().empty());  // a column of no width
  const auto thin = p.draw(0, kL + 433).all<FillRectOp>();     // one pixel: bars again
  ASSERT_EQ(thin.size(), 7u);  // total line 3, "a" 3, "b" its background
  EXPECT_EQ(thin[3].rect.right - thin[3].rect.left, 1.0f);
}

TEST(SharePanel, MissingFormatsSkipTheirTextsAndNothingElse) {
  Panel p;
  p.set(0, 300, 100, {{u"a", 300, 100}});
  const RecordingCanvas noMono = p.draw(0, kR, kB, TextFormat::Mono);
  EXPECT_EQ(noMono.textStrings(), (Texts{"合计  -0.7s", "进程", "读取", "写入", "占比"}));
  EXPECT_EQ(noMono.all<FillRectOp>().size(), 6u);
  const RecordingCanvas noHead = p.draw(0, kR, kB, TextFormat::TableHead);
  EXPECT_EQ(noHead.textStrings(), (Texts{"300.0 B/s", "100.0 B/s", "a", "300.0 B/s", "100.0 B/s"}));
  const RecordingCanvas emptyNoMono = p.draw(1, kR, kB, TextFormat::Mono);
  EXPECT_EQ(emptyNoMono.findText("（无进程级活动记录）"), nullptr);
}

TEST(SharePanel, AgeInMinuteRangesAndIndicesOutsideTheQueue) {
  SpeedChart chart;
  chart.rangeMode = ChartRange::Hour1;
  chart.viewSpan = 60;
  chart.minuteSamples.resize(3);
  chart.liveSamples.resize(1);  // not the shown queue
  const auto draw = [&chart](std::int32_t index) {
    RecordingCanvas canvas;
    chart.drawSharePanel(canvas, index, kL, kT, kR, kB);
    return canvas;
  };
  EXPECT_NE(draw(0).findText("合计  -2m00s"), nullptr);
  EXPECT_NE(draw(2).findText("合计  现在"), nullptr);
  for (std::int32_t bad : {-1, 3, 1000}) EXPECT_TRUE(draw(bad).ops.empty()) << bad;
}

}  // namespace
}  // namespace tessivo
