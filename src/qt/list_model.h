// The process list's model: it holds only the row count it was told and reads each cell's
// text from the core's rows when the view asks, the way an owner-data list view does.
#pragma once

#include <QtCore/QAbstractTableModel>
#include <QtWidgets/QStyledItemDelegate>

#include <cstddef>
#include <vector>

#include "core/types.h"
#include "list/list_surface.h"

namespace tessivo {

class QtListModel final : public QAbstractTableModel, public ListSurface {
  Q_OBJECT

 public:
  explicit QtListModel(const std::vector<ProcessRow>& rows, QObject* parent = nullptr);

  // The width in pixels the list gives each column at start.
  static int columnWidth(int column);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  // Rows come and go at the end, so the view keeps its scroll position and selection.
  void setRowCount(std::size_t count) override;
  // The rows changed in place: the view repaints what it shows and keeps its state.
  void repaint() override;

 private:
  const std::vector<ProcessRow>& rows_;
  int shown_ = 0;
};

// Draws the list's cells without the frame Qt puts around the current cell: the list
// selects whole rows, and a header click leaves no cell marked.
class QtListDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

}  // namespace tessivo
