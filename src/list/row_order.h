// The order of the list rows: one column, one direction, the name as tie-break.
#pragma once

#include <cstdint>
#include <vector>

#include "core/types.h"

namespace tessivo {

// True when a's key for the column is strictly less than b's.
bool keyLess(const ProcessRow& a, const ProcessRow& b, std::int32_t sortColumn);

// Strict weak ordering: true when a is listed before b. The definition of the order;
// sortRows gives the same order by faster means.
struct RowOrder {
  std::int32_t sortColumn = 2;
  bool sortAscending = false;
  bool operator()(const ProcessRow& a, const ProcessRow& b) const;
};

// What one sort computes per row, kept between sorts so that a steady-state refresh
// sorts without allocating.
struct RowSortScratch {
  struct Entry {
    std::uint64_t key;       // the column's key, complemented when descending
    std::uint64_t name[2];   // the name's first eight units, folded, big-endian
    std::uint32_t row;       // index into the rows being sorted
  };
  std::vector<Entry> entries;
};

// Puts rows in RowOrder{sortColumn, sortAscending} order; rows the order holds equal
// keep the order they came in.
void sortRows(std::vector<ProcessRow>& rows, std::int32_t sortColumn, bool sortAscending,
              RowSortScratch& scratch);
void sortRows(std::vector<ProcessRow>& rows, std::int32_t sortColumn, bool sortAscending);

// A click on a column header: the same column flips the direction, another starts ascending.
void applyHeaderClick(std::int32_t clickedColumn, std::int32_t& sortColumn, bool& sortAscending);

}  // namespace tessivo
