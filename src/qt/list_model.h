// The process list's model: it holds only the row count it was told and reads each cell's
// text from the core's rows when the view asks, the way an owner-data list view does.
#pragma once

#include <QtCore/QAbstractTableModel>
#include <QtCore/QHash>
#include <QtGui/QImage>
#include <QtWidgets/QStyledItemDelegate>

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
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
  // The rows changed in place: the view repaints what it shows and keeps its state. With
  // a visible-rows query, only the shown cells whose text changed are announced.
  void repaint() override;

  // The first and last row the view shows (first > last for none, e.g. while the window is
  // minimised: a row that is not on screen needs no repaint, it is read when it shows).
  void setVisibleRows(std::function<std::pair<int, int>()> visibleRows) { visibleRows_ = std::move(visibleRows); }

 private:
  const std::vector<ProcessRow>& rows_;
  int shown_ = 0;
  std::function<std::pair<int, int>()> visibleRows_;
  // The texts of rows shownFirst_.. as the view last had them announced, column by column.
  int shownFirst_ = 0;
  int shownRows_ = 0;
  std::vector<std::u16string> shownTexts_;
  std::vector<std::u16string> nextTexts_;
};

// Draws the list's cells without the frame Qt puts around the current cell: the list
// selects whole rows, and a header click leaves no cell marked.
//
// A cell drawn once is kept as an image and copied when it is drawn again unchanged (a
// list laid out anew, a scroll): laying its text out again would cost far more. Only plain
// cells are kept (not selected, over the view's own solid background, painted into an
// image at one pixel per unit); they come out as the style draws them, to the pixel.
class QtListDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

 private:
  struct CellKey {
    QString text;
    QSize size;
    int state = 0;
    int features = 0;
    int alignment = 0;
    int elide = 0;
    int direction = 0;
    QRgb background = 0;
    qint64 palette = 0;
    QString font;
    int format = 0;
    bool operator==(const CellKey&) const = default;
  };
  friend size_t qHash(const CellKey& k, size_t seed) {
    return qHashMulti(seed, k.text, k.size.width(), k.size.height(), k.state, k.features, k.alignment, k.background,
                      k.palette, k.font, k.format);
  }
  static constexpr qsizetype kCacheBytes = 6 << 20;  // past this the kept cells are dropped
  mutable QHash<CellKey, QImage> cells_;
  mutable qsizetype cellBytes_ = 0;
};

}  // namespace tessivo
