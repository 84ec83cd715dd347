// The list model against the core's cell texts, and what refreshes do to a view over it.
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
      rows[i].counters.readBytes = 1234567 * (i + 1);
    }
    model.setRowCount(count);
    model.repaint();
  }
  QVariant cell(int row, int column) const { return model.data(model.index(row, column)); }
};

TEST_F(ListModelTest, CellsAreTheCoreTextsAndHeadersTheColumnTitles) {
  publish(3);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < column::Count; ++c)
      EXPECT_EQ(cell(r, c).toString().toStdU16String(), cellTextOf(rows[std::size_t(r)], c)) << r << "," << c;
  }
  EXPECT_EQ(cell(1, column::ReadBytes).toString(), QStringLiteral("2,469,134"));
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
  publish(2);
  EXPECT_EQ(model.rowCount(), 2);
  ASSERT_EQ(inserted.size(), 2);
  EXPECT_EQ(std::pair(inserted[1][1].toInt(), inserted[1][2].toInt()), std::pair(200, 249));
  ASSERT_EQ(removed.size(), 1);
  EXPECT_EQ(std::pair(removed[0][1].toInt(), removed[0][2].toInt()), std::pair(2, 249));
  EXPECT_EQ(reset.size(), 0);
}

}  // namespace
}  // namespace tessivo
