#include "chart/chart_sample.h"

#include <algorithm>

namespace tessivo {

namespace {

constexpr std::size_t kFirstSlots = 64;

// The storage a limit calls for: the items plus the one on its way in.
std::size_t roomFor(std::size_t limit) { return limit == static_cast<std::size_t>(-1) ? limit : limit + 1; }

}  // namespace

ChartSample& SampleQueue::emplace_back() {
  if (size_ == slots_.size()) {
    // Doubling, but never past the limit (plus the item on its way in), so that a full
    // 720-hour queue does not sit in storage for 1.5 times its items.
    reallocate(std::max(size_ + 1, std::min(std::max(kFirstSlots, 2 * size_), roomFor(limit_))));
  }
  ChartSample& slot = slots_[wrap(head_ + size_)];
  ++size_;
  slot.readRate = 0, slot.writeRate = 0;
  slot.contributors.clear();
  return slot;
}

void SampleQueue::resize(std::size_t count) {
  while (size_ < count) emplace_back();
  size_ = count;
}

void SampleQueue::setLimit(std::size_t limit) {
  limit_ = limit;
  if (slots_.size() > std::max(size_, roomFor(limit))) reallocate(std::max(size_, roomFor(limit)));
}

void SampleQueue::reallocate(std::size_t slots) {
  std::vector<ChartSample> moved;
  moved.reserve(slots);
  for (std::size_t i = 0; i < size_; ++i) moved.push_back((*this)[i]);
  moved.resize(slots);
  slots_ = std::move(moved);
  head_ = 0;
}

}  // namespace tessivo
