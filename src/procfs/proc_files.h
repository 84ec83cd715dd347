// Reading a process's files under /proc: descriptors kept open between snapshots while the
// open-file limit allows (a refresh then costs one pread per file), one reusable text
// buffer, and every read counted as this process's own monitoring I/O.
#pragma once

#include <sys/types.h>

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "procfs/proc_descriptor.h"
#include "procfs/proc_parse.h"

namespace tessivo {

// "<pid>/<leaf>", terminated, in a fixed buffer: no allocation per file.
class PidPath {
 public:
  PidPath(std::uint32_t pid, std::string_view leaf) {
    char* end = std::to_chars(text_.data(), text_.data() + 10, pid).ptr;
    if (!leaf.empty()) *end++ = '/';
    std::memcpy(end, leaf.data(), leaf.size());
    end[leaf.size()] = '\0';
  }
  const char* c_str() const { return text_.data(); }

 private:
  std::array<char, 24> text_{};
};

class ProcFiles {
 public:
  // Set once per snapshot: this process's pid, and whether the tree is the kernel's /proc
  // (where this process may be listed and its own reads show in its counters).
  void beginSnapshot(std::uint32_t selfPid, bool realProc);
  // Re-reads the open-file limit, less what is left to the rest of the program.
  void updateKeepLimit();

  // Opens leaf under the directory fd (a process's, or /proc itself): the descriptor, or
  // -errno. Running out of descriptors stops keeping any more this snapshot, and from the
  // next one on keeps no more than were kept then, less room to read one process.
  int open(int at, const char* leaf, int flags = 0);
  // Keeps fd in slot while descriptors last, else closes it.
  void keepOrClose(ProcDescriptor&& fd, ProcDescriptor& slot);
  void release(ProcDescriptor& fd);
  std::size_t kept() const { return kept_; }
  // Whether closing fd gives room to open another: not when its number is past the limit.
  bool freesRoom(const ProcDescriptor& fd) const { return fd && static_cast<std::uint64_t>(fd.get()) < softLimit_; }

  // The whole file behind fd from offset 0 (empty on an error); valid until the next read.
  std::string_view read(int fd);
  // The counters behind fd, this process's own monitoring I/O off when pid is this process.
  std::optional<ProcIo> readIo(int fd, std::uint32_t pid);

  static bool descriptorsOut(int error);

 private:
  std::uint32_t selfPid_ = 0;
  bool realProc_ = false;
  std::size_t kept_ = 0;
  std::size_t keepLimit_ = 0;
  std::size_t keepCap_ = SIZE_MAX;  // learnt when the table was full, for as long as the limit stands
  std::uint64_t capSoftLimit_ = 0;
  std::uint64_t softLimit_ = 1024;
  std::array<char, 4096> text_{};
};

// Raises the soft RLIMIT_NOFILE to the hard limit, so descriptors can be kept per process.
// Returns the soft limit in force afterwards.
std::uint64_t raiseOpenFileLimit();

}  // namespace tessivo
