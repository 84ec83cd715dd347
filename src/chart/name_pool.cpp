#include "chart/chart_sample.h"

namespace tessivo {

NamePool::NamePool(const NamePool& other) : entries_(other.entries_), freeIds_(other.freeIds_) { rebuildIndex(); }

NamePool& NamePool::operator=(const NamePool& other) {
  if (this != &other) {
    entries_ = other.entries_;
    freeIds_ = other.freeIds_;
    rebuildIndex();
  }
  return *this;
}

void NamePool::rebuildIndex() {
  index_.clear();
  for (std::size_t id = 0; id < entries_.size(); ++id)
    if (entries_[id].refs > 0) index_.emplace(std::u16string_view(entries_[id].text), static_cast<std::uint32_t>(id));
}

std::uint32_t NamePool::intern(std::u16string_view name) {
  if (auto it = index_.find(name); it != index_.end()) {
    ++entries_[it->second].refs;
    return it->second;
  }
  std::uint32_t id;
  if (!freeIds_.empty()) {
    id = freeIds_.back();
    freeIds_.pop_back();
  } else {
    id = static_cast<std::uint32_t>(entries_.size());
    entries_.emplace_back();
  }
  Entry& e = entries_[id];
  e.text.assign(name);
  e.refs = 1;
  index_.emplace(std::u16string_view(e.text), id);
  return id;
}

void NamePool::retain(std::uint32_t id) {
  if (id < entries_.size() && entries_[id].refs > 0) ++entries_[id].refs;
}

void NamePool::release(std::uint32_t id) {
  if (id >= entries_.size() || entries_[id].refs == 0) return;
  Entry& e = entries_[id];
  if (--e.refs == 0) {
    index_.erase(std::u16string_view(e.text));
    e.text.clear();
    e.text.shrink_to_fit();
    freeIds_.push_back(id);
  }
}

std::u16string_view NamePool::name(std::uint32_t id) const {
  return id < entries_.size() ? std::u16string_view(entries_[id].text) : std::u16string_view();
}

std::size_t NamePool::liveNames() const { return index_.size(); }

}  // namespace tessivo
