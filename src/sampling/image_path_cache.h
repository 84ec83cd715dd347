// Full image paths of processes, asked from the system once per process identifier and
// remembered, failures included (as an empty path), while the identifier stays live and
// its sample's image generation stays the same (an exec puts another program behind it).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>

#include <vector>

#include "sampling/process_system.h"

namespace tessivo {

class ImagePathCache {
 public:
  // The cached path of pid, resolving it through `system` on first sight. The reference
  // stays valid until the entry is removed (retainOnly or forget).
  const std::u16string& pathOf(std::uint32_t pid, ProcessSystem& system);

  // The same as a copy.
  std::u16string lookup(std::uint32_t pid, ProcessSystem& system) { return pathOf(pid, system); }

  // Removes every entry whose pid is not in livePids (ascending order expected; other
  // orders work, only slower).
  void retainOnly(std::span<const std::uint32_t> livePids);

  // Drops one entry, so the next lookup asks the system again (identifier reused).
  void forget(std::uint32_t pid) {
    paths.erase(pid);
    generations.erase(pid);
  }

  // Drops the path of every sample whose image generation changed since the last call.
  // Only identifiers whose generation ever left 0 are remembered.
  void followGenerations(std::span<const ProcessSample> samples);

  bool contains(std::uint32_t pid) const { return paths.count(pid) != 0; }
  std::size_t size() const noexcept { return paths.size(); }

  std::unordered_map<std::uint32_t, std::u16string> paths;
  std::unordered_map<std::uint32_t, std::uint32_t> generations;
};

}  // namespace tessivo
