// A process-wide counting allocator for benchmarks that report heap use: every allocation
// and the bytes live. Replaces the global operator new and delete, which cannot be inline,
// so include it in one source file of a benchmark binary only.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace tessivo::bench {

inline std::atomic<std::uint64_t> gAllocations{0};
inline std::atomic<std::int64_t> gLiveBytes{0};

// Each block carries its size in front, so a free knows what it gives back.
inline constexpr std::size_t kAllocHeader = alignof(std::max_align_t);

inline void* countedAlloc(std::size_t size) {
  void* raw = std::malloc(size + kAllocHeader);
  if (raw == nullptr) throw std::bad_alloc();
  *static_cast<std::size_t*>(raw) = size;
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  gLiveBytes.fetch_add(static_cast<std::int64_t>(size), std::memory_order_relaxed);
  return static_cast<char*>(raw) + kAllocHeader;
}

inline void countedFree(void* p) noexcept {
  if (p == nullptr) return;
  void* raw = static_cast<char*>(p) - kAllocHeader;
  gLiveBytes.fetch_sub(static_cast<std::int64_t>(*static_cast<std::size_t*>(raw)), std::memory_order_relaxed);
  std::free(raw);
}

}  // namespace tessivo::bench

void* operator new(std::size_t size) { return tessivo::bench::countedAlloc(size); }
void* operator new[](std::size_t size) { return tessivo::bench::countedAlloc(size); }
void operator delete(void* p) noexcept { tessivo::bench::countedFree(p); }
void operator delete[](void* p) noexcept { tessivo::bench::countedFree(p); }
void operator delete(void* p, std::size_t) noexcept { tessivo::bench::countedFree(p); }
void operator delete[](void* p, std::size_t) noexcept { tessivo::bench::countedFree(p); }
