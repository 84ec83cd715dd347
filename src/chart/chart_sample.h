// One item of the rate history, the queue the items live in, and the pool their
// contributor names live in. Days of minute samples repeat the same few names thousands
// of times, so each name is stored once and the items refer to it by number. Items hold
// their contributors inline and the queue reuses the slot of the item that leaves, so
// recording into a full history allocates nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tessivo {

struct Contributor {
  std::uint32_t nameId = 0;  // into the chart's NamePool
  std::uint64_t readRate = 0;
  std::uint64_t writeRate = 0;
};

// At most ten contributors, in place; an eleventh is not kept.
class ContributorList {
 public:
  static constexpr std::size_t kCapacity = 10;
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  void clear() noexcept { size_ = 0; }
  void push_back(const Contributor& c) noexcept {
    if (size_ < kCapacity) items_[size_++] = c;
  }
  Contributor& operator[](std::size_t i) noexcept { return items_[i]; }
  const Contributor& operator[](std::size_t i) const noexcept { return items_[i]; }
  Contributor* begin() noexcept { return items_.data(); }
  Contributor* end() noexcept { return items_.data() + size_; }
  const Contributor* begin() const noexcept { return items_.data(); }
  const Contributor* end() const noexcept { return items_.data() + size_; }

 private:
  std::array<Contributor, kCapacity> items_{};
  std::uint32_t size_ = 0;
};

struct ChartSample {
  std::uint64_t readRate = 0;
  std::uint64_t writeRate = 0;
  ContributorList contributors;  // largest read + write first
};

// The items of one history queue in a ring, index 0 the oldest. Storage grows up to the
// queue's limit and is kept while the queue is full; shrinkToLimit gives back what a
// lower limit no longer needs.
class SampleQueue {
 public:
  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  ChartSample& operator[](std::size_t i) noexcept { return slots_[wrap(head_ + i)]; }
  const ChartSample& operator[](std::size_t i) const noexcept { return slots_[wrap(head_ + i)]; }
  ChartSample& at(std::size_t i) { return i < size_ ? (*this)[i] : throw std::out_of_range("SampleQueue::at"); }
  const ChartSample& at(std::size_t i) const {
    return i < size_ ? (*this)[i] : throw std::out_of_range("SampleQueue::at");
  }
  ChartSample& front() noexcept { return (*this)[0]; }
  const ChartSample& front() const noexcept { return (*this)[0]; }
  ChartSample& back() noexcept { return (*this)[size_ - 1]; }
  const ChartSample& back() const noexcept { return (*this)[size_ - 1]; }

  // Appends an item left empty, in the slot of one that left earlier when there is one.
  ChartSample& emplace_back();
  void push_back(const ChartSample& sample) { emplace_back() = sample; }
  void pop_front() noexcept { head_ = wrap(head_ + 1), --size_; }
  void resize(std::size_t count);
  void clear() noexcept { head_ = 0, size_ = 0; }

  // The most items the queue will hold (one more while an item is added), and the storage
  // beyond it given back.
  void setLimit(std::size_t limit);
  std::size_t storage() const noexcept { return slots_.size(); }
  // Storage for this many items at once, so that filling a queue copies each item once.
  void reserve(std::size_t items) {
    if (items > slots_.size()) reallocate(items);
  }

  template <typename Queue, typename Item>
  struct Iterator {
    Queue* queue;
    std::size_t index;
    Item& operator*() const { return (*queue)[index]; }
    Item* operator->() const { return &(*queue)[index]; }
    Iterator& operator++() { return ++index, *this; }
    Iterator operator+(std::ptrdiff_t n) const { return {queue, index + static_cast<std::size_t>(n)}; }
    bool operator==(const Iterator& other) const { return index == other.index; }
  };
  Iterator<SampleQueue, ChartSample> begin() { return {this, 0}; }
  Iterator<SampleQueue, ChartSample> end() { return {this, size_}; }
  Iterator<const SampleQueue, const ChartSample> begin() const { return {this, 0}; }
  Iterator<const SampleQueue, const ChartSample> end() const { return {this, size_}; }

 private:
  std::size_t wrap(std::size_t i) const noexcept { return i >= slots_.size() ? i - slots_.size() : i; }
  void reallocate(std::size_t slots);

  std::vector<ChartSample> slots_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
  std::size_t limit_ = static_cast<std::size_t>(-1);
};

// Reference-counted interned names: a name lives while some item refers to it.
class NamePool {
 public:
  NamePool() = default;
  // The index holds views into the entries' own texts, so a copy must index its
  // own texts rather than the original's.
  NamePool(const NamePool& other);
  NamePool& operator=(const NamePool& other);
  NamePool(NamePool&&) noexcept = default;
  NamePool& operator=(NamePool&&) noexcept = default;
  ~NamePool() = default;

  std::uint32_t intern(std::u16string_view name);  // adds one reference
  void retain(std::uint32_t id);                   // adds one reference to a live name
  void release(std::uint32_t id);                  // drops one reference
  std::u16string_view name(std::uint32_t id) const;
  std::size_t liveNames() const;
  std::size_t idCount() const noexcept { return entries_.size(); }  // live and free

 private:
  struct Entry {
    std::u16string text;
    std::uint32_t refs = 0;
  };
  std::deque<Entry> entries_;  // a deque: entries never move, so index_'s views stay valid
  std::vector<std::uint32_t> freeIds_;
  std::unordered_map<std::u16string_view, std::uint32_t> index_;  // views into entries_' texts

  void rebuildIndex();
};

}  // namespace tessivo
