#include "sampling/top_list.h"

#include <algorithm>

namespace tessivo {

std::span<const NameRate> buildTopList(const std::vector<ProcessActivity>& activities, TopListScratch& scratch) {
  TextIndex& names = scratch.names;
  std::vector<NameRate>& sums = scratch.sums;
  names.reset(activities.size());
  std::size_t count = 0;
  for (const ProcessActivity& activity : activities) {
    if (activity.readRate == 0 && activity.writeRate == 0) continue;
    const std::u16string_view name = activity.name.empty() ? std::u16string_view(kUnknownName) : activity.name;
    const auto [number, isNew] = names.insert(name);
    if (isNew) {
      if (number == sums.size()) sums.emplace_back();
      sums[number].readRate = 0;
      sums[number].writeRate = 0;
      ++count;
    }
    sums[number].readRate += activity.readRate;
    sums[number].writeRate += activity.writeRate;
  }

  std::vector<std::uint32_t>& order = scratch.order;
  order.resize(count);
  for (std::uint32_t i = 0; i < count; ++i) order[i] = i;
  const std::size_t kept = std::min(count, kTopListSize);
  // Equal sums keep their order of appearance, so the outcome does not depend on the sort.
  std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(kept), order.end(),
                    [&sums](std::uint32_t a, std::uint32_t b) {
                      const std::uint64_t sa = sums[a].readRate + sums[a].writeRate;
                      const std::uint64_t sb = sums[b].readRate + sums[b].writeRate;
                      return sa != sb ? sa > sb : a < b;
                    });

  std::vector<NameRate>& topList = scratch.list;
  if (topList.size() < kept) topList.resize(kept);  // never shrunk: the names past `kept` keep their storage
  for (std::size_t i = 0; i < kept; ++i) {
    const std::uint32_t number = order[i];
    topList[i].name.assign(names.key(number));
    topList[i].readRate = sums[number].readRate;
    topList[i].writeRate = sums[number].writeRate;
  }
  return std::span<const NameRate>(topList).first(kept);
}

}  // namespace tessivo
