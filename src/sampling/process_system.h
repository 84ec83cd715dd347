// What the core asks of the operating system. The Windows shell answers with the
// native process query, OpenProcess + QueryFullProcessImageNameW and GetTickCount64;
// tests answer with scripted processes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/types.h"

namespace tessivo {

class ProcessSystem {
 public:
  virtual ~ProcessSystem() = default;

  // One snapshot, in the system's order, written into out (whose storage is reused).
  // On any failure out is left empty.
  virtual void readSnapshot(std::vector<ProcessSample>& out) = 0;

  // Full image path of one process; empty when it cannot be obtained.
  virtual std::u16string imagePath(std::uint32_t pid) = 0;

  // Milliseconds of a monotonic clock.
  virtual std::uint64_t nowMs() = 0;
};

}  // namespace tessivo
