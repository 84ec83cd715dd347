#include "qt/list_model.h"

#include <algorithm>
#include <climits>
#include <string>

#include <QtGui/QPaintEngine>
#include <QtGui/QPainter>
#include <QtWidgets/QAbstractItemView>
#include <QtWidgets/QApplication>
#include <QtWidgets/QStyle>

#include "qt/failure.h"
#include "list/cell_text.h"

namespace tessivo {

namespace {

// Past this many changed cells in one refresh, the shown rows are repainted as one.
constexpr int kCellByCellLimit = 64;

}  // namespace

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
  if (!visibleRows_) {
    if (shown_ > 0) emit dataChanged(index(0, 0), index(shown_ - 1, column::Count - 1), {Qt::DisplayRole});
    return;
  }
  auto [first, last] = visibleRows_();
  first = std::max(first, 0);
  last = std::min({last, shown_ - 1, static_cast<int>(std::min<std::size_t>(rows_.size(), INT_MAX)) - 1});
  if (first > last) {
    // Nothing on screen: what shows later is read then.
    shownRows_ = 0;
    return;
  }
  const int count = last - first + 1;
  nextTexts_.resize(static_cast<std::size_t>(count) * column::Count);
  std::vector<std::pair<int, int>> changed;  // (row, column)
  int changedCount = 0;
  for (int r = first; r <= last; ++r) {
    const bool known = r >= shownFirst_ && r < shownFirst_ + shownRows_;
    for (int c = 0; c < column::Count; ++c) {
      std::u16string& text = nextTexts_[static_cast<std::size_t>((r - first) * column::Count + c)];
      text = cellTextOf(rows_[static_cast<std::size_t>(r)], c);
      if (!known || shownTexts_[static_cast<std::size_t>((r - shownFirst_) * column::Count + c)] != text) {
        ++changedCount;
        if (changedCount <= kCellByCellLimit) changed.emplace_back(r, c);
      }
    }
  }
  std::swap(shownTexts_, nextTexts_);
  shownFirst_ = first;
  shownRows_ = count;
  if (changedCount > kCellByCellLimit) {
    // Most of what shows changed: one announcement for the shown rows.
    emit dataChanged(index(first, 0), index(last, column::Count - 1), {Qt::DisplayRole});
    return;
  }
  for (const auto& [r, c] : changed) emit dataChanged(index(r, c), index(r, c), {Qt::DisplayRole});
}

void QtListDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem cell = option;
  initStyleOption(&cell, index);
  QStyle* style = cell.widget != nullptr ? cell.widget->style() : QApplication::style();
  const auto* view = qobject_cast<const QAbstractItemView*>(cell.widget);
  const auto* device = dynamic_cast<const QImage*>(painter->paintEngine()->paintDevice());
  // What the view has under a plain cell: its viewport's own background, nothing else.
  const QBrush ground = view != nullptr ? view->viewport()->palette().brush(view->viewport()->backgroundRole()) : QBrush();
  const bool plain = view != nullptr && device != nullptr && view->viewport()->autoFillBackground() &&
                     ground.style() == Qt::SolidPattern && ground.color().alpha() == 255 &&
                     !(cell.state & QStyle::State_Selected) && !(cell.features & QStyleOptionViewItem::Alternate) &&
                     cell.icon.isNull() && cell.rect.isValid() && device->devicePixelRatio() == 1.0 &&
                     painter->transform().type() <= QTransform::TxTranslate && painter->opacity() == 1.0 &&
                     painter->compositionMode() == QPainter::CompositionMode_SourceOver;
  if (!plain) {
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, cell.widget);
    return;
  }
  const CellKey key{cell.text,
                    cell.rect.size(),
                    static_cast<int>(cell.state),
                    static_cast<int>(cell.features),
                    static_cast<int>(cell.displayAlignment),
                    static_cast<int>(cell.textElideMode),
                    static_cast<int>(cell.direction),
                    ground.color().rgba(),
                    cell.palette.cacheKey(),
                    cell.font.key(),
                    static_cast<int>(device->format())};
  auto it = cells_.find(key);
  if (it == cells_.end()) {
    QImage image(cell.rect.size(), device->format());
    image.fill(ground.color());
    {
      QPainter imagePainter(&image);
      imagePainter.setRenderHints(painter->renderHints());
      imagePainter.setFont(painter->font());
      imagePainter.setPen(painter->pen());
      imagePainter.setBrush(painter->brush());
      QStyleOptionViewItem atOrigin = cell;
      atOrigin.rect.moveTopLeft(QPoint(0, 0));
      style->drawControl(QStyle::CE_ItemViewItem, &atOrigin, &imagePainter, cell.widget);
    }
    if (cellBytes_ + image.sizeInBytes() > kCacheBytes) {
      cells_.clear();
      cellBytes_ = 0;
    }
    cellBytes_ += image.sizeInBytes();
    it = cells_.insert(key, image);
  }
  painter->drawImage(cell.rect.topLeft(), it.value());
}

void QtListDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  QStyledItemDelegate::initStyleOption(option, index);
  option->state &= ~QStyle::State_HasFocus;
}

}  // namespace tessivo
