// A set of texts numbered 0, 1, 2, ... in order of first insertion, for the per-refresh
// groupings (application keys, top-list names). Rebuilt every refresh, so it keeps all of
// its storage between rounds: after the first few refreshes a round allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessivo {

class TextIndex {
 public:
  // Forgets every text but keeps the storage; sizes the table for about `expected` texts.
  void reset(std::size_t expected);

  // The number of `key` and whether it was added by this call. Keys compare exactly.
  std::pair<std::uint32_t, bool> insert(std::u16string_view key);

  std::size_t size() const noexcept { return size_; }
  std::u16string_view key(std::uint32_t number) const noexcept { return keys_[number]; }

 private:
  void grow();

  std::vector<std::u16string> keys_;    // [0, size_) live; the rest keep their capacity
  std::vector<std::size_t> hashes_;     // hash of keys_[i]
  std::vector<std::uint32_t> slots_;    // open addressing: 0 empty, else number + 1
  std::size_t size_ = 0;
};

}  // namespace tessivo
