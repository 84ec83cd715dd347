#include "list/row_order.h"

#include <algorithm>
#include <string_view>

#include "core/text.h"
#include "list/cell_text.h"

namespace tessivo {

namespace {

using Entry = RowSortScratch::Entry;

// By the name column an unnamed row counts as the name the chart shows for it.
std::u16string_view nameKey(const ProcessRow& row) {
  return row.name.empty() ? std::u16string_view(kUnknownName) : std::u16string_view(row.name);
}

bool isTextColumn(std::int32_t sortColumn) { return sortColumn == column::Name || sortColumn == column::ImagePath; }

std::u16string_view textKey(const ProcessRow& row, std::int32_t sortColumn) {
  return sortColumn == column::Name ? nameKey(row) : std::u16string_view(row.imagePath);
}

std::uint64_t numericKey(const ProcessRow& row, std::int32_t sortColumn) {
  switch (sortColumn) {
    case column::ReadBytes: return row.counters.readBytes;
    case column::WriteBytes: return row.counters.writeBytes;
    case column::ReadOps: return row.counters.readOps;
    case column::WriteOps: return row.counters.writeOps;
    case column::ReadRate: return row.readRate;
    case column::WriteRate: return row.writeRate;
    default: return row.pid;  // the pid column, and the total key of an unknown one
  }
}

constexpr std::size_t kUnitsPerWord = 4;

// Units [from, from + 4) of text, folded, packed big-endian with missing units as 0. Such
// words order as the texts' starts do: a shorter text pads with the smallest unit, so it
// can tie with a longer one only where the longer one holds zeros, never pass it.
std::uint64_t foldedWord(std::u16string_view text, std::size_t from) {
  std::uint64_t word = 0;
  for (std::size_t i = from; i < from + kUnitsPerWord; ++i) {
    word = (word << 16) | (i < text.size() ? foldAscii(text[i]) : 0u);
  }
  return word;
}

// compareNoCase of two texts whose first `known` units, as far as both reach, are
// already known to fold alike: the rest decides.
int compareAfter(std::u16string_view a, std::u16string_view b, std::size_t known) {
  const std::size_t skip = std::min({known, a.size(), b.size()});
  return compareNoCase(a.substr(skip), b.substr(skip));
}

// RowOrder on the entries: their words settle almost every comparison, and only ties on
// every word go back to the texts. The row index last makes the order total.
class EntryLess {
 public:
  EntryLess(const std::vector<ProcessRow>& rows, std::int32_t sortColumn, bool sortAscending)
      : rows_(rows), column_(sortColumn), ascending_(sortAscending), textColumn_(isTextColumn(sortColumn)) {}

  bool operator()(const Entry& a, const Entry& b) const {
    if (a.key != b.key) return a.key < b.key;
    if (textColumn_) {
      const int c = compareAfter(textKey(rows_[a.row], column_), textKey(rows_[b.row], column_), kUnitsPerWord);
      if (c != 0) return ascending_ ? c < 0 : c > 0;
    }
    if (a.name[0] != b.name[0]) return a.name[0] < b.name[0];
    if (a.name[1] != b.name[1]) return a.name[1] < b.name[1];
    const int c = compareAfter(rows_[a.row].name, rows_[b.row].name, 2 * kUnitsPerWord);
    if (c != 0) return c < 0;
    return a.row < b.row;
  }

 private:
  const std::vector<ProcessRow>& rows_;
  std::int32_t column_;
  bool ascending_;
  bool textColumn_;
};

// Moves every row to the place its entry was sorted to, following each cycle of the
// permutation once; the strings' buffers move along and none is allocated.
void permute(std::vector<ProcessRow>& rows, std::vector<Entry>& entries) {
  for (std::uint32_t start = 0; start < entries.size(); ++start) {
    std::uint32_t from = entries[start].row;
    if (from == start) continue;
    ProcessRow held = std::move(rows[start]);
    std::uint32_t at = start;
    while (from != start) {
      rows[at] = std::move(rows[from]);
      entries[at].row = at;
      at = from;
      from = entries[at].row;
    }
    rows[at] = std::move(held);
    entries[at].row = at;
  }
}

}  // namespace

bool keyLess(const ProcessRow& a, const ProcessRow& b, std::int32_t sortColumn) {
  if (isTextColumn(sortColumn)) return compareNoCase(textKey(a, sortColumn), textKey(b, sortColumn)) < 0;
  return numericKey(a, sortColumn) < numericKey(b, sortColumn);
}

bool RowOrder::operator()(const ProcessRow& a, const ProcessRow& b) const {
  if (keyLess(a, b, sortColumn)) return sortAscending;
  if (keyLess(b, a, sortColumn)) return !sortAscending;
  // Equal keys: always A to Z by the stored name, whatever the direction.
  return compareNoCase(a.name, b.name) < 0;
}

void sortRows(std::vector<ProcessRow>& rows, std::int32_t sortColumn, bool sortAscending, RowSortScratch& scratch) {
  std::vector<Entry>& entries = scratch.entries;
  entries.resize(rows.size());
  const bool textColumn = isTextColumn(sortColumn);
  for (std::uint32_t i = 0; i < entries.size(); ++i) {
    const ProcessRow& row = rows[i];
    // A text key's first units stand in for it; the comparison goes on to the rest on a tie.
    const std::uint64_t key = textColumn ? foldedWord(textKey(row, sortColumn), 0) : numericKey(row, sortColumn);
    entries[i] = Entry{sortAscending ? key : ~key, {foldedWord(row.name, 0), foldedWord(row.name, kUnitsPerWord)}, i};
  }
  std::sort(entries.begin(), entries.end(), EntryLess(rows, sortColumn, sortAscending));
  permute(rows, entries);
}

void sortRows(std::vector<ProcessRow>& rows, std::int32_t sortColumn, bool sortAscending) {
  RowSortScratch scratch;
  sortRows(rows, sortColumn, sortAscending, scratch);
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
