#include "agent/minute_store.h"

namespace tessivo {

namespace {

void put(std::deque<std::uint8_t>& out, std::uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<std::uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<std::uint8_t>(value));
}

std::uint64_t get(const std::deque<std::uint8_t>& in, std::size_t& at) {
  std::uint64_t value = 0;
  for (unsigned shift = 0;; shift += 7) {
    const std::uint8_t byte = in[at++];
    value |= static_cast<std::uint64_t>(byte & 0x7f) << shift;
    if ((byte & 0x80) == 0) return value;
  }
}

}  // namespace

MinuteStore::~MinuteStore() {
  while (!starts_.empty()) popFront();
}

void MinuteStore::setCapacity(std::size_t minutes) {
  capacity_ = minutes;
  while (starts_.size() > capacity_) popFront();
}

void MinuteStore::push(const ChartSample& sample, const NamePool& from, std::uint64_t endMs) {
  starts_.push_back(front_ + bytes_.size());
  put(bytes_, endMs);
  put(bytes_, sample.readRate);
  put(bytes_, sample.writeRate);
  bytes_.push_back(static_cast<std::uint8_t>(sample.contributors.size()));
  for (const Contributor& c : sample.contributors) {
    put(bytes_, names_.intern(from.name(c.nameId)));
    put(bytes_, c.readRate);
    put(bytes_, c.writeRate);
  }
  while (starts_.size() > capacity_) popFront();
}

std::uint64_t MinuteStore::read(std::size_t index, ChartSample& out) const {
  std::size_t at = static_cast<std::size_t>(starts_[index] - front_);
  const std::uint64_t endMs = get(bytes_, at);
  out.readRate = get(bytes_, at);
  out.writeRate = get(bytes_, at);
  out.contributors.clear();
  for (std::size_t n = bytes_[at++]; n > 0; --n) {
    Contributor c;
    c.nameId = static_cast<std::uint32_t>(get(bytes_, at));
    c.readRate = get(bytes_, at);
    c.writeRate = get(bytes_, at);
    out.contributors.push_back(c);
  }
  return endMs;
}

void MinuteStore::popFront() {
  ChartSample oldest;
  read(0, oldest);
  for (const Contributor& c : oldest.contributors) names_.release(c.nameId);
  const std::size_t length = starts_.size() > 1 ? static_cast<std::size_t>(starts_[1] - starts_[0]) : bytes_.size();
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(length));
  front_ += length;
  starts_.pop_front();
}

}  // namespace tessivo
