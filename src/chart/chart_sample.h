// One item of the rate history, and the pool its contributor names live in.
// Days of minute samples repeat the same few names thousands of times, so each
// name is stored once and the items refer to it by number.
#pragma once

#include <cstdint>
#include <deque>
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

struct ChartSample {
  std::uint64_t readRate = 0;
  std::uint64_t writeRate = 0;
  std::vector<Contributor> contributors;  // at most ten, largest read + write first
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
  void release(std::uint32_t id);                  // drops one reference
  std::u16string_view name(std::uint32_t id) const;
  std::size_t liveNames() const;

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
