// The pieces of the Qt shell that need no display: the list model against the core's cell
// texts and what refreshes do to a view over it; a real chart frame drawn through the QPainter
// canvas, checked against where the recording canvas says each part of the same frame goes.
#include <gtest/gtest.h>

#include <QtGui/QImage>
#include <QtTest/QSignalSpy>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QStyleOptionMenuItem>
#include <QtWidgets/QTableView>

#include <algorithm>

#include "chart/speed_chart.h"
#include "qt/canvas.h"
#include "qt/list_model.h"
#include "qt/commands.h"
#include "qt/menu_builder.h"
#include "qt/program_icon.h"
#include "qt/main_window.h"
#include "list/cell_text.h"
#include "support/recording_canvas.h"

namespace tessivo {
namespace {

struct ListModelTest : ::testing::Test {
  std::vector<ProcessRow> rows;
  QtListModel model{rows};

  // What a refresh does: new rows in place, then the count and a repaint.
  void publish(std::size_t count) {
    rows.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      rows[i].pid = static_cast<std::uint32_t>(100 + i);
      rows[i].name = u"进程";
      rows[i].counters.readBytes = 1234567 * (i + 1);
    }
    model.setRowCount(count);
    model.repaint();
  }
  QVariant cell(int row, int column) const { return model.data(model.index(row, column)); }
};

// The status bar says which of the agent's troubles it is, and never that rows show zeros.
TEST(CountSourceNotice, SaysWhyTheAgentIsNotInUse) {
  const struct {
    AgentState state;
    bool root;
    const char* says;  // null: no notice
  } table[] = {
      {AgentState::Serving, false, "可查看全部用户"},          {AgentState::Serving, true, "可查看全部用户"},
      {AgentState::Partial, false, "CAP_SYS_PTRACE"},          {AgentState::NotRunning, false, "未运行"},
      {AgentState::NotPermitted, false, "sudo usermod -aG tessivo $USER"},
      {AgentState::NotAnswering, false, "无应答"},            {AgentState::NotRunning, true, nullptr},
      {AgentState::NotPermitted, true, nullptr},
  };
  for (const auto& row : table) {
    const char16_t* notice = countSourceNotice(row.state, row.root);
    const QString text = notice != nullptr ? QString::fromUtf16(notice) : QString();
    EXPECT_EQ(notice == nullptr, row.says == nullptr) << static_cast<int>(row.state) << row.root;
    if (row.says != nullptr) {
      EXPECT_TRUE(text.contains(QString::fromUtf8(row.says))) << text.toStdString();
    }
    if (row.state != AgentState::Serving && notice != nullptr) {
      EXPECT_TRUE(text.contains(QStringLiteral("保持最后读到的计数"))) << text.toStdString();
    }
  }
}

TEST_F(ListModelTest, CellsAreTheCoreTextsAndHeadersTheColumnTitles) {
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  publish(3);
  ASSERT_EQ(changed.size(), 1);  // every column of every shown row
  EXPECT_EQ(changed[0][0].toModelIndex(), model.index(0, 0));
  EXPECT_EQ(changed[0][1].toModelIndex(), model.index(2, column::Count - 1));
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < column::Count; ++c)
      EXPECT_EQ(cell(r, c).toString().toStdU16String(), cellTextOf(rows[std::size_t(r)], c)) << r << "," << c;
  }
  EXPECT_FALSE(cell(3, 0).isValid());
  EXPECT_FALSE(cell(0, column::Count).isValid());
  rows.clear();  // a clear empties the rows before it tells the count
  EXPECT_FALSE(cell(2, 0).isValid());
  EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("进程"));
  EXPECT_EQ(model.headerData(8, Qt::Horizontal).toString(), QStringLiteral("映像路径"));
  EXPECT_FALSE(model.headerData(9, Qt::Horizontal).isValid());
}

TEST_F(ListModelTest, RowsComeAndGoAtTheEndAndAViewKeepsItsPlace) {
  QTableView view;
  view.setModel(&model);
  view.resize(600, 200);
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted), removed(&model, &QAbstractItemModel::rowsRemoved),
      reset(&model, &QAbstractItemModel::modelReset);
  publish(200);
  view.show();
  view.selectRow(120);
  view.verticalScrollBar()->setValue(90);
  publish(200);
  publish(250);
  EXPECT_EQ(view.currentIndex().row(), 120);
  EXPECT_TRUE(view.selectionModel()->isRowSelected(120, {}));
  EXPECT_EQ(view.verticalScrollBar()->value(), 90);
  publish(3);
  publish(2);  // one fewer: no blank row left behind
  EXPECT_EQ(model.rowCount(), 2);
  ASSERT_EQ(inserted.size(), 2);
  EXPECT_EQ(std::pair(inserted[1][1].toInt(), inserted[1][2].toInt()), std::pair(200, 249));
  ASSERT_EQ(removed.size(), 2);
  EXPECT_EQ(std::pair(removed[0][1].toInt(), removed[0][2].toInt()), std::pair(3, 249));
  EXPECT_EQ(std::pair(removed[1][1].toInt(), removed[1][2].toInt()), std::pair(2, 2));
  EXPECT_EQ(reset.size(), 0);
}

// The list's delegate keeps drawn cells as images: a view drawn through it, first drawing
// then copying (a selected row and an elided name among them), is the style's own drawing.
TEST_F(ListModelTest, KeptCellsAreTheStylesOwnPixels) {
  publish(12);
  rows[3].name = std::u16string(40, u'长');
  rows[5].imagePath = u"/usr/lib/x86_64-linux-gnu/a/path/too/long/for/its/column/by/far/tessivo";
  QTableView view;
  view.setModel(&model);
  view.resize(900, 240);
  view.selectRow(1);
  view.selectionModel()->clearCurrentIndex();  // no focus frame: the plain delegate draws one
  const auto drawn = [&view] {
    QImage image(view.size(), QImage::Format_RGB32);
    view.render(&image);
    return image;
  };
  QStyledItemDelegate plain;
  view.setItemDelegate(&plain);
  drawn();  // the first drawing also lays the header out
  const QImage expected = drawn();
  QtListDelegate kept;
  view.setItemDelegate(&kept);
  for (int pass = 0; pass < 2; ++pass) EXPECT_EQ(drawn(), expected) << "pass " << pass;
}

constexpr int kWidth = 900, kHeight = 380;

struct Ink {
  int count = 0, left = kWidth, right = -1, top = kHeight, bottom = -1;
};

// The pixels in `rect` (grown by `margin`) that show mostly `colour` over the background.
Ink inkIn(const QImage& image, RectF rect, Rgba colour, int margin = 0) {
  const Rgba bg = kChartBackground;
  const int d[3] = {colour.r - bg.r, colour.g - bg.g, colour.b - bg.b};
  Ink ink;
  for (int y = std::max(0, int(rect.top) - margin); y < std::min(kHeight, int(rect.bottom) + margin + 1); ++y) {
    for (int x = std::max(0, int(rect.left) - margin); x < std::min(kWidth, int(rect.right) + margin + 1); ++x) {
      const QRgb p = image.pixel(x, y);
      const int along = d[0] * (qRed(p) - bg.r) + d[1] * (qGreen(p) - bg.g) + d[2] * (qBlue(p) - bg.b);
      if (along < 0.6 * (d[0] * d[0] + d[1] * d[1] + d[2] * d[2])) continue;
      ink = {ink.count + 1, std::min(ink.left, x), std::max(ink.right, x), std::min(ink.top, y), std::max(ink.bottom, y)};
    }
  }
  return ink;
}

// How far ink lies from the side of `r` that `align` names, and from the edge `paragraph` names.
std::pair<float, float> offset(const Ink& ink, RectF r, TextAlign align, ParagraphAlign paragraph) {
  const auto off = [](int ink0, int ink1, float r0, float r1, int where) {
    return where == 0 ? ink0 - r0 : where == 2 ? r1 - ink1 : (ink0 + ink1 - r0 - r1) / 2.0f;
  };
  return {off(ink.left, ink.right, r.left, r.right,
              align == TextAlign::Leading ? 0 : align == TextAlign::Trailing ? 2 : 1),
          off(ink.top, ink.bottom, r.top, r.bottom,
              paragraph == ParagraphAlign::Near ? 0 : paragraph == ParagraphAlign::Far ? 2 : 1)};
}

// An image filled with `fill` and then painted through the QPainter canvas.
template <typename Draw>
QImage render(const ChartFonts& fonts, QColor fill, Draw draw) {
  QImage image(kWidth, kHeight, QImage::Format_ARGB32);
  image.fill(fill);
  {
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    QtCanvas canvas(painter, fonts);
    draw(canvas);
  }
  return image;
}

// The ink of one text drawn alone in `box` over the chart's background, and in a box as high
// and 500 px wide, where it runs on one line.
Ink textInk(const ChartFonts& fonts, const testing::TextOp& t, RectF box) {
  const Rgba bg = kChartBackground;
  return inkIn(render(fonts, QColor(bg.r, bg.g, bg.b),
                      [&](Canvas& c) { c.text(t.text, t.format, t.align, t.paragraph, box, t.brush); }),
               {0, 0, kWidth, kHeight}, brushColour(t.brush));
}
std::pair<Ink, Ink> inkInAndWide(const ChartFonts& fonts, const testing::TextOp& t) {
  const RectF r = t.rect;
  return {textInk(fonts, t, r), textInk(fonts, t, {r.left, r.top, r.left + 500, r.bottom})};
}

// A real chart frame: background everywhere, each text at the side of its box that its
// alignment names, the read line along its points. Then the widest axis labels in the axis's
// 60 px box, and other texts wider than theirs, each away from the image's edges so that ink
// running out of it shows: wrapped inside the box, aligned as asked, no glyph lost.
TEST(QtCanvasTest, FrameAndTextsWiderThanTheirBoxLandWhereTheChartPutsThem) {
  const ChartFonts fonts = makeChartFonts();
  SpeedChart chart;
  for (std::uint64_t i = 0; i < 120; ++i)
    chart.recordSample(1'000'000 + 40'000 * (i % 17), 300'000, {NameRate{u"磁盘写手", 1'000'000, 300'000}});
  testing::RecordingCanvas recording;
  chart.paint(recording, kWidth, kHeight);
  const QImage image = render(fonts, Qt::magenta, [&](Canvas& c) { chart.paint(c, kWidth, kHeight); });
  const Rgba bg = kChartBackground;
  EXPECT_EQ(image.pixel(kWidth - 4, kHeight / 2), qRgb(bg.r, bg.g, bg.b));  // right of the plot
  for (int y = 0; y < kHeight; y += 7)
    for (int x = 0; x < kWidth; x += 7) ASSERT_NE(image.pixel(x, y), QColor(Qt::magenta).rgb()) << x << "," << y;
  const auto texts = recording.texts();
  ASSERT_GE(texts.size(), 5u);
  for (const testing::TextOp& t : texts) {
    const Ink ink = inkIn(image, t.rect, brushColour(t.brush));
    ASSERT_GT(ink.count, 0) << t.utf8();
    EXPECT_GE(ink.bottom - ink.top, 6) << t.utf8();  // glyphs of a 12 to 13 px font
    EXPECT_NEAR(offset(ink, t.rect, t.align, t.paragraph).first, 0.0f, 3.0f) << t.utf8();
  }
  const auto lines = recording.withBrush<testing::PolylineOp>(Brush::ReadLine);
  ASSERT_FALSE(lines.empty());
  for (std::size_t i = 0; i < lines[0].points.size(); i += 10) {
    const PointF p = lines[0].points[i];
    EXPECT_GT(inkIn(image, {p.x, p.y, p.x, p.y}, brushColour(Brush::ReadLine), 1).count, 0) << i;
  }

  using A = TextAlign;
  using P = ParagraphAlign;
  using F = TextFormat;
  for (auto [text, format, align, paragraph, r] :
       {std::tuple{u"1023.9 KiB/s", F::Label, A::Trailing, P::Center, RectF{300, 100, 356, 118}},
        {u"17179869184.0 GiB/s", F::Label, A::Trailing, P::Center, {300, 100, 360, 118}},  // broken in the word
        {u"1023.9 MiB/s", F::Mono, A::Leading, P::Near, {300, 100, 350, 118}},
        {u"合计  59m59s", F::TableHead, A::Leading, P::Far, {300, 100, 340, 118}},
        {u"滚轮：缩放   拖动：平移   双击：重置", F::Label, A::Center, P::Near, {300, 100, 420, 120}}}) {
    const auto [ink, whole] = inkInAndWide(fonts, {text, format, align, paragraph, r, Brush::Text});
    const std::string what = QString::fromUtf16(text).toStdString();
    ASSERT_GT(whole.count, 0) << what;
    EXPECT_GT(ink.bottom - ink.top, whole.bottom - whole.top + 6) << what;  // more than one line
    EXPECT_NEAR(double(ink.count) / whole.count, 1.0, 0.15) << what;  // no line lost, none clipped
    EXPECT_TRUE(ink.left >= r.left - 1 && ink.right <= r.right + 1) << what << " " << ink.left << "-" << ink.right;
    const auto [side, level] = offset(ink, r, align, paragraph);
    EXPECT_NEAR(side, 0.0f, 3.0f) << what;
    EXPECT_NEAR(level, paragraph == P::Center ? 0.0f : 3.0f, 3.5f) << what;
  }
}

// The chart's texts on one line inside their boxes: the axis labels of every scale (each
// unit's widest digits among them), and the share panel's speeds of 1000.0 to 1023.9 KiB/s,
// a name of 30 units and the headings. And the semi-bold formats drawn heavier than the
// regular one, in Chinese and in Latin.
TEST(QtCanvasTest, ChartTextsFitTheirBoxesAndHeadingsHaveTheirWeight) {
  const ChartFonts fonts = makeChartFonts();
  std::vector<testing::TextOp> texts;
  for (std::uint64_t power = 1000; power <= 1'000'000'000'000; power *= 10) {
    for (const std::uint64_t scale : {1, 2, 5}) {
      if (scale * power > 1'000'000'000'000) break;  // past 931.3 GiB/s the labels wrap on Windows too
      SpeedChart chart;
      chart.recordSample(scale * power, 0, {});
      testing::RecordingCanvas recording;
      chart.paint(recording, kWidth, kHeight);
      for (const testing::TextOp& t : recording.texts())
        if (t.rect.right - t.rect.left == 60) texts.push_back(t);
    }
  }
  ASSERT_EQ(texts.size(), 28u * 5);
  SpeedChart chart;
  chart.recordSample(1'038'131, 1'048'473,
                     {NameRate{u"a-program-named-thirty-units-x", 1'038'131, 1'048'473}, {u"磁盘写手", 1, 2}});
  chart.mouseMove(200, 100, kWidth);
  testing::RecordingCanvas recording;
  chart.paint(recording, kWidth, kHeight);
  std::size_t panel = 0;
  for (const testing::TextOp& t : recording.texts()) {
    if (t.format != TextFormat::Mono && t.format != TextFormat::TableHead) continue;
    texts.push_back(t);
    panel += t.utf8() == "1013.8 KiB/s" || t.utf8() == "1023.9 KiB/s";
  }
  ASSERT_EQ(panel, 4u);  // the total line's and the first row's
  for (const testing::TextOp& t : texts) {
    const auto [ink, whole] = inkInAndWide(fonts, t);
    EXPECT_EQ(ink.bottom - ink.top, whole.bottom - whole.top) << t.utf8();  // one line
    EXPECT_TRUE(ink.left >= t.rect.left - 1 && ink.right <= t.rect.right + 1)
        << t.utf8() << " " << ink.left << "-" << ink.right;
  }
  for (const char16_t* text : {u"进程读取写入占比", u"KiB/s Peak"}) {
    const auto inkOf = [&](TextFormat f) {
      const RectF box{300, 100, 500, 118};
      return textInk(fonts, {text, f, TextAlign::Leading, ParagraphAlign::Near, box, Brush::Text}, box).count;
    };
    EXPECT_GT(inkOf(TextFormat::TableHead), 1.2 * inkOf(TextFormat::Label)) << QString::fromUtf16(text).toStdString();
  }
}

// Menus show no empty check box on an item without its mark, and the mark where it is set.
TEST(QtMenuTest, UncheckedItemsDrawAsPlainOnes) {
  QMenu menu;
  appendMenuItems(menu, buildLinuxMenuBar(), [](std::int32_t) {}, nullptr);
  QMenu* popup = menu.actions().front()->menu();
  ASSERT_NE(popup, nullptr);
  const auto draw = [&](QStyleOptionMenuItem::CheckType type, bool checked) {
    QStyleOptionMenuItem option;
    option.initFrom(popup);
    option.rect = QRect(0, 0, 200, 24);
    option.text = QStringLiteral("按应用分组");
    option.menuHasCheckableItems = true;
    option.checkType = type;
    option.checked = checked;
    QImage image(200, 24, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    popup->style()->drawControl(QStyle::CE_MenuItem, &option, &painter, popup);
    return image;
  };
  const QImage plain = draw(QStyleOptionMenuItem::NotCheckable, false);
  EXPECT_EQ(draw(QStyleOptionMenuItem::NonExclusive, false), plain);
  EXPECT_EQ(draw(QStyleOptionMenuItem::Exclusive, false), plain);
  EXPECT_NE(draw(QStyleOptionMenuItem::NonExclusive, true), plain);
  EXPECT_FALSE(programIcon().pixmap(32).isNull());  // the tray's icon, built in
}

}  // namespace
}  // namespace tessivo
