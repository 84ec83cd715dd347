#include "sampling/text_index.h"

#include <algorithm>
#include <functional>

namespace tessivo {

namespace {

std::size_t tableSizeFor(std::size_t count) {
  // At most half full, so probe runs stay short.
  std::size_t size = 16;
  while (size < count * 2) size *= 2;
  return size;
}

}  // namespace

void TextIndex::reset(std::size_t expected) {
  size_ = 0;
  const std::size_t wanted = tableSizeFor(expected);
  if (slots_.size() < wanted) {
    slots_.assign(wanted, 0);
  } else {
    std::fill(slots_.begin(), slots_.end(), 0u);
  }
}

std::pair<std::uint32_t, bool> TextIndex::insert(std::u16string_view key) {
  if (slots_.empty() || (size_ + 1) * 2 > slots_.size()) grow();
  const std::size_t hash = std::hash<std::u16string_view>{}(key);
  const std::size_t mask = slots_.size() - 1;
  std::size_t at = hash & mask;
  while (slots_[at] != 0) {
    const std::uint32_t number = slots_[at] - 1;
    if (hashes_[number] == hash && keys_[number] == key) return {number, false};
    at = (at + 1) & mask;
  }
  const auto number = static_cast<std::uint32_t>(size_);
  if (size_ < keys_.size()) {
    keys_[size_].assign(key);  // keeps the capacity of an earlier round's text
    hashes_[size_] = hash;
  } else {
    keys_.emplace_back(key);
    hashes_.push_back(hash);
  }
  ++size_;
  slots_[at] = number + 1;
  return {number, true};
}

void TextIndex::grow() {
  const std::size_t newSize = slots_.empty() ? 16 : slots_.size() * 2;
  slots_.assign(newSize, 0);
  const std::size_t mask = newSize - 1;
  for (std::size_t number = 0; number < size_; ++number) {
    std::size_t at = hashes_[number] & mask;
    while (slots_[at] != 0) at = (at + 1) & mask;
    slots_[at] = static_cast<std::uint32_t>(number + 1);
  }
}

}  // namespace tessivo
