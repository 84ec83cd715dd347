// The Linux process source: /proc/<pid>/io for counters and /proc/<pid>/stat for the short
// name, parent and start time in snapshots; readlink /proc/<pid>/exe, once for a process
// first seen and again after an exec, for its image path and its name (the program's file
// name, the short name only where the link cannot be read); CLOCK_MONOTONIC for the clock. Counters are the process's whole thread group's, with two
// adjustments so that every byte is counted once:
// - this process's own reads of /proc (and what discountOwnIo declares) are taken off its
//   own counters;
// - the kernel adds a reaped child's whole counters to its parent's; what a listed child
//   was last seen with is taken off its parent's when it goes.
// Switching the byte source changes what the counters mean: the tracker wants a clear then.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "procfs/proc_files.h"
#include "sampling/process_system.h"

namespace tessivo {

// Which of the kernel's byte counters a snapshot reports as read and written bytes.
enum class ProcByteSource : std::uint8_t {
  AllIo,     // rchar / wchar: every read and write the process makes (the default)
  DiskOnly,  // read_bytes / write_bytes: what reached the storage layer
};

// Both byte sources of one process in one snapshot, with the same adjustments applied, and
// what else /proc says of it that the shared sample has no place for.
struct ProcCounters {
  IoCounters allIo;     // rchar / wchar bytes
  IoCounters diskOnly;  // read_bytes / write_bytes bytes
  bool kernelThread = false;
  bool unreadable = false;  // counters hidden from this reader: the zeros are no reading
};

class ProcSystem final : public ProcessSystem {
 public:
  // procRoot is "/proc" in the program; tests point it at a fixture tree.
  explicit ProcSystem(std::string procRoot = "/proc");
  ~ProcSystem() override;
  ProcSystem(const ProcSystem&) = delete;
  ProcSystem& operator=(const ProcSystem&) = delete;

  void readSnapshot(std::vector<ProcessSample>& out) override;
  std::u16string imagePath(std::uint32_t pid) override;
  std::uint64_t nowMs() override;

  void setByteSource(ProcByteSource source) { byteSource_ = source; }
  ProcByteSource byteSource() const { return byteSource_; }

  // Both byte sources of the latest snapshot, index-aligned with it, adjusted as the
  // snapshot is.
  const std::vector<ProcCounters>& lastCounters() const;

  // Declares I/O this process did for monitoring (serving its clients, say), to be taken off
  // its own counters in later snapshots like the source's own reads. Declare it once done.
  // Process-wide and thread-safe: every source of the process takes it off.
  void discountOwnIo(std::uint64_t readBytes, std::uint64_t readCalls, std::uint64_t writeBytes,
                     std::uint64_t writeCalls);

  // Descriptors held open across snapshots (two per process at most).
  std::size_t keptDescriptors() const;

 private:
  struct Impl;
  std::string procRoot_;
  ProcByteSource byteSource_ = ProcByteSource::AllIo;
  std::unique_ptr<Impl> impl_;  // kept descriptors and reusable buffers
};

}  // namespace tessivo
