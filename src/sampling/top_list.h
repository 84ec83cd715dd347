// A refresh's top list: the busiest names of one refresh's activities, summed by exact
// name, largest read + write first, at most ten. The desktop program's chart and the
// agent's history both take their contributors from here.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/types.h"
#include "sampling/text_index.h"

namespace tessivo {

// Buffers kept from one refresh to the next, so that a steady refresh allocates nothing.
struct TopListScratch {
  TextIndex names;                  // exact names of the active processes
  std::vector<NameRate> sums;       // per names number (name left empty)
  std::vector<std::uint32_t> order; // names numbers, busiest first
  std::vector<NameRate> list;       // the first ten or fewer are the top list
};

inline constexpr std::size_t kTopListSize = 10;

// The processes without a speed are left out; a process without a name counts as
// "（未知）". The list lives in the scratch until its next use.
std::span<const NameRate> buildTopList(const std::vector<ProcessActivity>& activities, TopListScratch& scratch);

}  // namespace tessivo
