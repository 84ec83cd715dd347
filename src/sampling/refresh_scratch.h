// Buffers one refresh uses and the next one reuses, so that a steady-state refresh keeps
// its strings' and vectors' capacity instead of allocating them again.
#pragma once

#include <cstdint>
#include <vector>

#include "core/types.h"
#include "list/row_order.h"
#include "sampling/row_builder.h"
#include "sampling/top_list.h"

namespace tessivo {

struct RefreshScratch {
  std::vector<ProcessSample> samples;
  std::vector<ProcessActivity> activities;
  std::vector<std::uint32_t> livePids;    // ascending, as the activities are
  std::vector<std::uint32_t> reusedPids;  // identifiers that now belong to a new process
  TopListScratch top;                     // this refresh's top list
  RowBuilder rowBuilder;
  std::vector<ProcessRow> spareRows;      // the rows of an earlier refresh, rebuilt in place
  RowSortScratch rowSort;                 // the sort keys of the rows being ordered
};

}  // namespace tessivo
