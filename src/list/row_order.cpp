#include "list/row_order.h"

#include <algorithm>
#include <string_view>

#include "core/text.h"
#include "list/cell_text.h"

namespace tessivo {

namespace {

// By the name column an unnamed row counts as the name the chart shows for it.
std::u16string_view nameKey(const ProcessRow& row) {
  return row.name.empty() ? std::u16string_view(kUnknownName) : std::u16string_view(row.name);
}

}  // namespace

bool keyLess(const ProcessRow& a, const ProcessRow& b, std::int32_t sortColumn) {
  switch (sortColumn) {
    case column::Name:
      return compareNoCase(nameKey(a), nameKey(b)) < 0;
    case column::ReadBytes:
      return a.counters.readBytes < b.counters.readBytes;
    case column::WriteBytes:
      return a.counters.writeBytes < b.counters.writeBytes;
    case column::ReadOps:
      return a.counters.readOps < b.counters.readOps;
    case column::WriteOps:
      return a.counters.writeOps < b.counters.writeOps;
    case column::ReadRate:
      return a.readRate < b.readRate;
    case column::WriteRate:
      return a.writeRate < b.writeRate;
    case column::ImagePath:
      return compareNoCase(a.imagePath, b.imagePath) < 0;
    case column::Pid:
    default:
      // An unknown column still needs a total key; the pid is one.
      return a.pid < b.pid;
  }
}

bool RowOrder::operator()(const ProcessRow& a, const ProcessRow& b) const {
  if (keyLess(a, b, sortColumn)) return sortAscending;
  if (keyLess(b, a, sortColumn)) return !sortAscending;
  // Equal keys: always A to Z by the stored name, whatever the direction.
  return compareNoCase(a.name, b.name) < 0;
}

void sortRows(std::vector<ProcessRow>& rows, std::int32_t sortColumn, bool sortAscending) {
  std::sort(rows.begin(), rows.end(), RowOrder{sortColumn, sortAscending});
}

void applyHeaderClick(std::int32_t clickedColumn, std::int32_t& sortColumn, bool& sortAscending) {
  if (clickedColumn == sortColumn) {
    sortAscending = !sortAscending;
  } else {
    sortColumn = clickedColumn;
    sortAscending = true;
  }
}

}  // namespace tessivo
