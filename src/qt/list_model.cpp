#include "qt/list_model.h"

#include <algorithm>
#include <climits>
#include <string>

#include "qt/failure.h"
#include "list/cell_text.h"

namespace tessivo {

QtListModel::QtListModel(const std::vector<ProcessRow>& rows, QObject* parent)
    : QAbstractTableModel(parent), rows_(rows) {}

int QtListModel::columnWidth(int columnIndex) {
  if (columnIndex < 0 || columnIndex >= column::Count) return 0;
  return kColumnHeadings[static_cast<std::size_t>(columnIndex)].width;
}

int QtListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shown_; }

int QtListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : column::Count; }

QVariant QtListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  const auto row = static_cast<std::size_t>(index.row());
  // The count the view knows may run ahead of the rows for a moment (a clear empties the
  // rows first); such cells are empty.
  if (index.row() >= shown_ || row >= rows_.size()) return {};
  try {
    const std::u16string text = cellTextOf(rows_[row], index.column());
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
  } catch (...) {
    endProgramAfterFailure();
    return {};
  }
}

QVariant QtListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= column::Count) return {};
  if (role == Qt::DisplayRole) return QString::fromUtf16(kColumnHeadings[static_cast<std::size_t>(section)].title);
  if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
  return {};
}

void QtListModel::setRowCount(std::size_t count) {
  const int wanted = static_cast<int>(std::min<std::size_t>(count, INT_MAX));
  if (wanted > shown_) {
    beginInsertRows(QModelIndex(), shown_, wanted - 1);
    shown_ = wanted;
    endInsertRows();
  } else if (wanted < shown_) {
    beginRemoveRows(QModelIndex(), wanted, shown_ - 1);
    shown_ = wanted;
    endRemoveRows();
  }
}

void QtListModel::repaint() {
  if (shown_ == 0) return;
  emit dataChanged(index(0, 0), index(shown_ - 1, column::Count - 1), {Qt::DisplayRole});
}

void QtListDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  option->state &= ~QStyle::State_HasFocus;
}

}  // namespace tessivo
