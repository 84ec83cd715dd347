// The list model against the core's cell texts, and what a refresh does to a view over it.
#include <gtest/gtest.h>

#include <QtTest/QSignalSpy>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QTableView>

#include "linux/qt_list_model.h"
#include "list/cell_text.h"

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
      rows[i].name.push_back(static_cast<char16_t>(u'a' + i % 26));
      rows[i].counters.readBytes = 1234567 * (i + 1);
      rows[i].readRate = 2048 * i;
    }
    model.setRowCount(count);
    model.repaint();
  }
  QString cell(int row, int column) const { return model.data(model.index(row, column)).toString(); }
};

TEST_F(ListModelTest, CellsAreTheCoreTextsAndHeadersTheColumnTitles) {
  publish(3);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < column::Count; ++c) {
      const std::u16string want = cellTextOf(rows[static_cast<std::size_t>(r)], c);
      EXPECT_EQ(cell(r, c), QString::fromUtf16(want.data(), static_cast<qsizetype>(want.size()))) << r << "," << c;
    }
  }
  EXPECT_EQ(cell(1, column::ReadBytes), QStringLiteral("2,469,134"));
  EXPECT_FALSE(model.data(model.index(3, 0)).isValid());       // past the count
  EXPECT_FALSE(model.data(model.index(0, column::Count)).isValid());
  rows.clear();                                                 // a clear empties the rows first
  EXPECT_FALSE(model.data(model.index(2, 0)).isValid());
  EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("进程"));
  EXPECT_EQ(model.headerData(8, Qt::Horizontal).toString(), QStringLiteral("映像路径"));
  EXPECT_FALSE(model.headerData(9, Qt::Horizontal).isValid());
}

TEST_F(ListModelTest, CountChangesAtTheEndAndAnUnchangedCountOnlyRepaints) {
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
  publish(5);
  publish(5);
  publish(2);
  EXPECT_EQ(model.rowCount(), 2);
  ASSERT_EQ(inserted.size(), 1);
  EXPECT_EQ(inserted[0][1].toInt(), 0);
  EXPECT_EQ(inserted[0][2].toInt(), 4);
  ASSERT_EQ(removed.size(), 1);
  EXPECT_EQ(removed[0][1].toInt(), 2);
  EXPECT_EQ(removed[0][2].toInt(), 4);
  ASSERT_EQ(changed.size(), 3);
  const QModelIndex last = changed[1][1].toModelIndex();  // the whole unchanged range
  EXPECT_EQ(std::pair(last.row(), last.column()), std::pair(4, column::Count - 1));
  EXPECT_EQ(reset.size(), 0);
}

TEST_F(ListModelTest, ViewKeepsSelectionAndScrollPositionAcrossRefreshes) {
  QTableView view;
  view.setModel(&model);
  view.resize(600, 200);
  publish(200);
  view.show();
  view.selectRow(120);
  view.verticalScrollBar()->setValue(90);
  publish(200);
  publish(250);
  EXPECT_EQ(view.currentIndex().row(), 120);
  EXPECT_TRUE(view.selectionModel()->isRowSelected(120, {}));
  EXPECT_EQ(view.verticalScrollBar()->value(), 90);
}

}  // namespace
}  // namespace tessivo
