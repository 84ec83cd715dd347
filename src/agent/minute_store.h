// The agent's minute samples, kept compactly: days of minutes of every user's processes, for
// two byte sources, in less than the desktop program's own chart holds for one. Each minute is
// one record of variable-length integers (its clock, its two totals, its contributors by name
// number and their two speeds) in a byte queue; names live once in a pool both sources share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "chart/chart_sample.h"

namespace tessivo {

class MinuteStore {
 public:
  explicit MinuteStore(NamePool& names) : names_(names) {}
  ~MinuteStore();
  MinuteStore(const MinuteStore&) = delete;
  MinuteStore& operator=(const MinuteStore&) = delete;

  // The oldest minutes go while more than `minutes` are held.
  void setCapacity(std::size_t minutes);
  // One closed minute whose contributors' names are in `from`, and its clock.
  void push(const ChartSample& sample, const NamePool& from, std::uint64_t endMs);

  std::size_t size() const noexcept { return starts_.size(); }
  // The minute at index (0 = oldest) into `out`, its contributors' names in the shared pool;
  // returns its clock.
  std::uint64_t read(std::size_t index, ChartSample& out) const;

 private:
  void popFront();

  NamePool& names_;
  std::deque<std::uint8_t> bytes_;
  std::deque<std::uint64_t> starts_;  // where each minute's record begins, counted from the first byte ever
  std::uint64_t front_ = 0;           // that count for bytes_[0]
  std::size_t capacity_ = 0;
};

}  // namespace tessivo
