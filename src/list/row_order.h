// The order of the list rows: one column, one direction, the name as tie-break.
#pragma once

#include <cstdint>
#include <vector>

#include "core/types.h"

namespace tessivo {

// True when a's key for the column is strictly less than b's.
bool keyLess(const ProcessRow& a, const ProcessRow& b, std::int32_t sortColumn);

// Strict weak ordering: true when a is listed before b.
struct RowOrder {
  std::int32_t sortColumn = 2;
  bool sortAscending = false;
  bool operator()(const ProcessRow& a, const ProcessRow& b) const;
};

void sortRows(std::vector<ProcessRow>& rows, std::int32_t sortColumn, bool sortAscending);

// A click on a column header: the same column flips the direction, another starts ascending.
void applyHeaderClick(std::int32_t clickedColumn, std::int32_t& sortColumn, bool& sortAscending);

}  // namespace tessivo
