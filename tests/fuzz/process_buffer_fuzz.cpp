// The walk over the native process-information buffer, over any bytes and any reported length.
// Input: the buffer's address (8 bytes), the length the system reported (4), then the buffer.
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <vector>

#include "fuzz_support.h"
#include "sampling/process_buffer.h"

using namespace tessivo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto address = fuzz::take<std::uint64_t>(data, size);
  const auto reported = fuzz::take<std::uint32_t>(data, size);
  // The buffer in a block of its exact size, the bytes past the reported length poisoned: a
  // read of either is an ASan report.
  const std::unique_ptr<std::byte[]> block(new std::byte[size]);
  if (size > 0) std::memcpy(block.get(), data, size);
  const std::byte* const begin = block.get();
  const std::size_t valid = std::min<std::size_t>(reported, size);
  ASAN_POISON_MEMORY_REGION(begin + valid, size - valid);
  const std::span<const std::byte> buffer(begin, size);

  std::vector<ProcessSample> fresh;
  parseProcessBuffer(buffer, reported, address, fresh);
  // Reused storage holding more samples than there are records, with stale names and counters.
  std::vector<ProcessSample> reused(fresh.size() + 2, ProcessSample{7, u"stale", {1, 2, 3, 4, 5, 6}, 9});
  parseProcessBuffer(buffer, reported, address, reused);
  ASAN_UNPOISON_MEMORY_REGION(begin + valid, size - valid);

  // Every record lies wholly inside the valid bytes, one record size apart at least.
  FUZZ_CHECK(fresh.size() <= valid / kProcessRecordMinSize);
  FUZZ_CHECK((valid >= kProcessRecordMinSize) == !fresh.empty());
  FUZZ_CHECK(reused.size() == fresh.size());
  for (std::size_t i = 0; i < fresh.size(); ++i) {
    const ProcessSample& s = fresh[i];
    const ProcessSample& r = reused[i];
    FUZZ_CHECK(s.pid == r.pid && s.name == r.name && s.counters == r.counters && s.createTime == r.createTime);
    // A name is whole UTF-16 units found inside the valid bytes, or the system process's own.
    if (s.name.empty() || (s.name == u"System" && (s.pid == 0 || s.pid == 4))) continue;
    const auto* name = reinterpret_cast<const std::byte*>(s.name.data());
    FUZZ_CHECK(std::search(begin, begin + valid, name, name + 2 * s.name.size()) != begin + valid);
  }
  // The first record starts the buffer: its fields are the bytes at their offsets, as given.
  if (!fresh.empty()) {
    IoCounters counters;
    std::uint64_t pid = 0;
    std::uint64_t created = 0;
    std::memcpy(&counters, begin + 0xD0, sizeof counters);
    std::memcpy(&pid, begin + 0x50, sizeof pid);
    std::memcpy(&created, begin + 0x20, sizeof created);
    FUZZ_CHECK(fresh[0].counters == counters && fresh[0].pid == static_cast<std::uint32_t>(pid) &&
               fresh[0].createTime == created);
  }
  return 0;
}
