#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "chart/speed_chart.h"
#include "core/text.h"
#include "support/recording_canvas.h"

namespace tessivo {
namespace {

using testing::FillRectOp;
using testing::FillRoundedRectOp;
using testing::LineOp;
using testing::RecordingCanvas;
using testing::StrokeRoundedRectOp;
using testing::TextOp;

// The plot of an 800 x 400 frame: 720 wide, so the panel takes its widest 520.
constexpr float kL = 64, kT = 26, kR = 784, kB = 370;

struct Named {
  std::u16string name;
  std::uint64_t read, write;
};

ChartSample sampleWith(SpeedChart& chart, std::uint64_t read, std::uint64_t write,
                       const std::vector<Named>& contributors) {
  ChartSample s{read, write, {}};
  for (const Named& c : contributors) s.contributors.push_back({chart.names.intern(c.name), c.read, c.write});
  return s;
}

// Three live items exactly across the plot: anchors at x 64, 424 and 784.
SpeedChart threeItems() {
  SpeedChart chart;
  chart.viewSpan = 3;
  for (int i = 0; i < 3; ++i) chart.liveSamples.push_back(ChartSample{});
  return chart;
}

std::vector<Named> numbered(int count) {
  std::vector<Named> out;
  for (int i = 0; i < count; ++i) {
    std::u16string name = u"p";
    appendAscii(name, std::to_string(i));
    out.push_back({name, 100, 100});
  }
  return out;
}

RectF panelRect(const RecordingCanvas& canvas) {
  const auto panels = canvas.all<FillRoundedRectOp>();
  return panels.size() == 1 ? panels[0].rect : RectF{-1, -1, -1, -1};
}

std::vector<FillRectOp> barRects(const RecordingCanvas& canvas) { return canvas.all<FillRectOp>(); }

TEST(SharePanel, PlacedRightOfTheCursorThenLeftThenPressedInside) {
  SpeedChart chart = threeItems();
  auto place = [&](std::int32_t index, float left, float right) {
    RecordingCanvas canvas;
    chart.drawSharePanel(canvas, index, left, kT, right, kB);
    return panelRect(canvas);
  };
  EXPECT_EQ(place(0, kL, kR), (RectF{76, 32, 596, 146}));   // right of x 64
  EXPECT_EQ(place(2, kL, kR), (RectF{252, 32, 772, 146}));  // no room right of x 784: left of it
  EXPECT_EQ(place(1, kL, kR), (RectF{68, 32, 588, 146}));   // left of x 424 is short: held at L + 4

  // An anchor past the plot's right edge: neither side fits, so it rests 4 inside R.
  chart.liveSamples.resize(5);
  chart.viewPan = 0.5f;  // anchor of item 4 at 964
  EXPECT_EQ(place(4, kL, kR), (RectF{260, 32, 780, 146}));
  // On a 100-wide plot (panel 120) the same rule would pass the left margin; L + 4 wins.
  EXPECT_EQ(place(4, 64, 164), (RectF{68, 32, 188, 146}));

  RecordingCanvas canvas;
  chart.drawSharePanel(canvas, 0, kL, kT, kR, kB);
  const auto outline = canvas.all<StrokeRoundedRectOp>();
  ASSERT_EQ(outline.size(), 1u);
  EXPECT_EQ(outline[0].rect, panelRect(canvas));
  EXPECT_EQ(outline[0].radiusX, 6.0f);
  EXPECT_EQ(outline[0].radiusY, 6.0f);
  EXPECT_EQ(outline[0].brush, Brush::PanelBorder);
  EXPECT_EQ(outline[0].strokeWidth, 1.0f);
  EXPECT_EQ(canvas.all<FillRoundedRectOp>()[0].brush, Brush::Panel);
  EXPECT_LT(canvas.indexOf<FillRoundedRectOp>(Brush::Panel), canvas.indexOf<StrokeRoundedRectOp>(Brush::PanelBorder));
}

TEST(SharePanel, EmptyItemShowsTotalsHeadingsRuleAndNote) {
  SpeedChart chart = threeItems();
  RecordingCanvas canvas;
  chart.drawSharePanel(canvas, 2, kL, kT, kR, kB);  // px 252, py 32, text top 42
  EXPECT_EQ(panelRect(canvas), (RectF{252, 32, 772, 146}));  // five lines: 114 high
  EXPECT_TRUE(barRects(canvas).empty());  // zero speeds: not even the total bar's background

  const TextOp* total = canvas.findText("合计  现在");
  ASSERT_NE(total, nullptr);
  EXPECT_EQ(total->rect, (RectF{262, 42, 476, 60}));
  EXPECT_EQ(total->format, TextFormat::TableHead);
  EXPECT_EQ(total->brush, Brush::TableText);
  const std::vector<std::string> expected{"合计  现在", "0.0 B/s", "0.0 B/s", "进程", "读取", "写入", "占比",
                                          "（无进程级活动记录）"};
  EXPECT_EQ(canvas.textStrings(), expected);

  const auto texts = canvas.texts();
  for (const TextOp& t : texts) {
    EXPECT_EQ(t.align, TextAlign::Leading) << t.utf8();
    EXPECT_EQ(t.paragraph, ParagraphAlign::Near) << t.utf8();
  }
  EXPECT_EQ(texts[1].rect, (RectF{482, 42, 566, 60}));
  EXPECT_EQ(texts[2].rect, (RectF{574, 42, 658, 60}));
  EXPECT_EQ(texts[1].format, TextFormat::Mono);
  EXPECT_EQ(texts[6].rect, (RectF{666, 60, 762, 78}));  // 占比 over the 96-wide bar column
  EXPECT_EQ(texts[6].format, TextFormat::TableHead);
  EXPECT_EQ(texts[6].brush, Brush::Hint);
  EXPECT_EQ(texts[7].rect, (RectF{262, 84, 762, 102}));
  EXPECT_EQ(texts[7].format, TextFormat::Mono);
  EXPECT_EQ(texts[7].brush, Brush::Hint);

  const auto rule = canvas.all<LineOp>();
  ASSERT_EQ(rule.size(), 1u);
  EXPECT_EQ(rule[0], (LineOp{{262, 80}, {762, 80}, Brush::PanelBorder, 0.6f}));
}

TEST(SharePanel, BarsShareTheColumnRelativeToTheLargestContributor) {
  SpeedChart chart = threeItems();
  // Stored order is kept: the largest contributor is second here.
  chart.liveSamples[0] = sampleWith(chart, 300, 100, {{u"b", 100, 100}, {u"a", 300, 100}, {u"idle", 0, 0}});
  RecordingCanvas canvas;
  chart.drawSharePanel(canvas, 0, kL, kT, kR, kB);  // px 76: bar column 490..586
  EXPECT_NE(canvas.findText("合计  -0.7s"), nullptr);  // two items of 0.333 s before the newest

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
  EXPECT_EQ(barRects(canvas), expected);

  const TextOp* first = canvas.findText("b");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->rect, (RectF{86, 84, 300, 102}));
  EXPECT_EQ(first->format, TextFormat::Mono);
  EXPECT_EQ(first->brush, Brush::TableText);
  const auto texts = canvas.textStrings();
  const std::vector<std::string> rows(texts.begin() + 7, texts.end());
  EXPECT_EQ(rows, (std::vector<std::string>{"b", "100.0 B/s", "100.0 B/s", "a", "300.0 B/s", "100.0 B/s",
                                            "idle", "0.0 B/s", "0.0 B/s"}));

  // Nothing but silent contributors: backgrounds only, and no division by zero.
  chart.liveSamples[1] = sampleWith(chart, 0, 0, {{u"x", 0, 0}, {u"y", 0, 0}});
  RecordingCanvas silent;
  chart.drawSharePanel(silent, 1, kL, kT, kR, kB);
  const auto bars = barRects(silent);
  ASSERT_EQ(bars.size(), 2u);
  EXPECT_EQ(bars[0].brush, Brush::BarTrack);
  EXPECT_EQ(bars[1].brush, Brush::BarTrack);
}

TEST(SharePanel, RowsFitTheHeightWithACountOfTheRest) {
  SpeedChart chart = threeItems();
  std::vector<Named> ten = numbered(10);
  ten[9] = {u"largest", 1000, 600};  // not shown, yet the measure of every bar
  chart.liveSamples[0] = sampleWith(chart, 1, 1, ten);

  // 218 high: ten fitting lines, six for rows: five contributors and the count.
  RecordingCanvas canvas;
  chart.drawSharePanel(canvas, 0, kL, 26, kR, 244);
  EXPECT_EQ(panelRect(canvas), (RectF{76, 32, 596, 236}));  // ten lines: 204 high
  for (const char* shown : {"p0", "p1", "p2", "p3", "p4"}) EXPECT_NE(canvas.findText(shown), nullptr) << shown;
  EXPECT_EQ(canvas.findText("p5"), nullptr);
  const TextOp* rest = canvas.findText("… 其余 5 项");
  ASSERT_NE(rest, nullptr);
  EXPECT_EQ(rest->rect, (RectF{86, 174, 586, 192}));
  EXPECT_EQ(rest->format, TextFormat::Mono);
  EXPECT_EQ(rest->brush, Brush::Hint);
  const auto bars = canvas.withBrush<FillRectOp>(Brush::WriteLine);
  ASSERT_EQ(bars.size(), 6u);  // the total line's and five rows'
  EXPECT_EQ(bars[1].rect.right, 490.0f + 200.0f / 1600.0f * 96.0f);

  // 100 high: fitting lines are held at five, so one line remains, and it is the count.
  chart.liveSamples[1] = sampleWith(chart, 1, 1, numbered(3));
  RecordingCanvas low;
  chart.drawSharePanel(low, 1, kL, 26, kR, 126);
  EXPECT_EQ(panelRect(low).top, 30.0f);  // pushed up from B - 4, then held at T + 4
  EXPECT_EQ(panelRect(low).bottom, 144.0f);
  EXPECT_EQ(low.findText("p0"), nullptr);
  const TextOp* only = low.findText("… 其余 3 项");
  ASSERT_NE(only, nullptr);
  EXPECT_EQ(only->rect.top, 82.0f);
  EXPECT_TRUE(low.withBrush<FillRectOp>(Brush::BarTrack).size() == 1u);  // the total line's

  // The usual 380-high chart lists all ten and needs no count.
  RecordingCanvas usual;
  chart.drawSharePanel(usual, 0, kL, 26, kR, 350);
  EXPECT_NE(usual.findText("largest"), nullptr);
  EXPECT_EQ(panelRect(usual).bottom - panelRect(usual).top, 14 * 18 + 24.0f);
  for (const TextOp& t : usual.texts()) EXPECT_EQ(t.utf8().find("其余"), std::string::npos);
}

TEST(SharePanel, LabelsAreCutAtThirtyUnitsAndNamedWhenEmpty) {
  SpeedChart chart = threeItems();
  const std::u16string thirty(30, u'n');
  const std::u16string thirtyOne = std::u16string(30, u'm') + u"x";
  // A pair straddling the cut stays whole or goes whole.
  const std::u16string astral = std::u16string(28, u'e') + u"\U0001F600" + u"zz";
  chart.liveSamples[0] =
      sampleWith(chart, 1, 1, {{thirty, 1, 0}, {thirtyOne, 1, 0}, {u"", 1, 0}, {astral, 1, 0}});
  RecordingCanvas canvas;
  chart.drawSharePanel(canvas, 0, kL, kT, kR, kB);
  std::vector<std::u16string> names;
  for (const TextOp& t : canvas.texts()) {
    if (t.rect.left == 86.0f && t.rect.top >= 84.0f) names.push_back(t.text);
  }
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[0], thirty);
  EXPECT_EQ(names[1], std::u16string(29, u'm') + u"…");
  EXPECT_EQ(names[1].size(), 30u);
  EXPECT_EQ(names[2], u"（未知）");
  EXPECT_EQ(names[3], std::u16string(28, u'e') + u"…");
}

TEST(SharePanel, NarrowPlotDrawsNoBarsAtAll) {
  SpeedChart chart = threeItems();
  chart.liveSamples[0] = sampleWith(chart, 300, 100, {{u"a", 300, 100}, {u"b", 0, 0}});
  auto barsOn = [&](float plotWidth) {
    RecordingCanvas canvas;
    chart.drawSharePanel(canvas, 0, kL, kT, kL + plotWidth, kB);
    return canvas;
  };
  const RecordingCanvas narrow = barsOn(416);  // panel 408: the column would be -16 wide
  EXPECT_TRUE(barRects(narrow).empty());
  EXPECT_NE(narrow.findText("a"), nullptr);  // the texts stay
  EXPECT_NE(narrow.findText("占比"), nullptr);
  EXPECT_TRUE(barRects(barsOn(432)).empty());  // a column of no width
  const auto thin = barRects(barsOn(433));     // one pixel: bars again
  ASSERT_EQ(thin.size(), 7u);  // total line 3, "a" 3, "b" its background
  EXPECT_EQ(thin[3].rect.right - thin[3].rect.left, 1.0f);
}

TEST(SharePanel, MissingFormatsSkipTheirTextsAndNothingElse) {
  SpeedChart chart = threeItems();
  chart.liveSamples[0] = sampleWith(chart, 300, 100, {{u"a", 300, 100}});
  RecordingCanvas noMono;
  noMono.setFormatMissing(TextFormat::Mono);
  chart.drawSharePanel(noMono, 0, kL, kT, kR, kB);
  EXPECT_EQ(noMono.textsWithMissingFormat, 0);
  EXPECT_EQ(noMono.textStrings(), (std::vector<std::string>{"合计  -0.7s", "进程", "读取", "写入", "占比"}));
  EXPECT_EQ(barRects(noMono).size(), 6u);

  RecordingCanvas noHead;
  noHead.setFormatMissing(TextFormat::TableHead);
  chart.drawSharePanel(noHead, 0, kL, kT, kR, kB);
  EXPECT_EQ(noHead.textsWithMissingFormat, 0);
  EXPECT_EQ(noHead.textStrings(),
            (std::vector<std::string>{"300.0 B/s", "100.0 B/s", "a", "300.0 B/s", "100.0 B/s"}));
  EXPECT_EQ(noHead.count<LineOp>(), 1u);

  chart.liveSamples[1] = ChartSample{};
  RecordingCanvas emptyNoMono;
  emptyNoMono.setFormatMissing(TextFormat::Mono);
  chart.drawSharePanel(emptyNoMono, 1, kL, kT, kR, kB);
  EXPECT_EQ(emptyNoMono.findText("（无进程级活动记录）"), nullptr);
  EXPECT_EQ(emptyNoMono.textsWithMissingFormat, 0);
}

TEST(SharePanel, AgeInMinuteRangesAndIndicesOutsideTheQueue) {
  SpeedChart chart;
  chart.rangeMode = ChartRange::Hour1;
  chart.viewSpan = 60;
  for (int i = 0; i < 3; ++i) chart.minuteSamples.push_back(ChartSample{});
  chart.liveSamples.push_back(ChartSample{});  // not the shown queue

  RecordingCanvas oldest;
  chart.drawSharePanel(oldest, 0, kL, kT, kR, kB);
  EXPECT_NE(oldest.findText("合计  -2m00s"), nullptr);
  RecordingCanvas newest;
  chart.drawSharePanel(newest, 2, kL, kT, kR, kB);
  EXPECT_NE(newest.findText("合计  现在"), nullptr);

  for (std::int32_t bad : {-1, 3, 1000}) {
    RecordingCanvas canvas;
    chart.drawSharePanel(canvas, bad, kL, kT, kR, kB);
    EXPECT_TRUE(canvas.ops.empty()) << bad;
  }
}

}  // namespace
}  // namespace tessivo
