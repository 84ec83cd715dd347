#include "sampling/image_path_cache.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace tessivo {

const std::u16string& ImagePathCache::pathOf(std::uint32_t pid, ProcessSystem& system) {
  auto found = paths.find(pid);
  if (found != paths.end()) return found->second;
  // The idle and system processes cannot be opened; don't ask.
  std::u16string path = (pid == 0 || pid == 4) ? std::u16string() : system.imagePath(pid);
  return paths.emplace(pid, std::move(path)).first->second;
}

void ImagePathCache::retainOnly(std::span<const std::uint32_t> livePids) {
  std::span<const std::uint32_t> sorted = livePids;
  std::vector<std::uint32_t> sortedCopy;
  if (!std::is_sorted(livePids.begin(), livePids.end())) {
    sortedCopy.assign(livePids.begin(), livePids.end());
    std::sort(sortedCopy.begin(), sortedCopy.end());
    sorted = sortedCopy;
  }
  // Usually no process has left: finding every live pid is cheaper than walking the map.
  std::size_t liveCached = 0;
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    if (i > 0 && sorted[i] == sorted[i - 1]) continue;
    liveCached += paths.count(sorted[i]);
  }
  const auto prune = [&sorted](auto& map) {
    for (auto it = map.begin(); it != map.end();) {
      if (std::binary_search(sorted.begin(), sorted.end(), it->first)) {
        ++it;
      } else {
        it = map.erase(it);
      }
    }
  };
  if (liveCached != paths.size()) prune(paths);
  if (!generations.empty()) prune(generations);
}

void ImagePathCache::followGenerations(std::span<const ProcessSample> samples) {
  for (const ProcessSample& sample : samples) {
    if (sample.imageGeneration == 0) continue;  // as first seen: nothing to compare
    auto [at, added] = generations.try_emplace(sample.pid, sample.imageGeneration);
    if (!added && at->second == sample.imageGeneration) continue;
    at->second = sample.imageGeneration;
    paths.erase(sample.pid);
  }
}

}  // namespace tessivo
