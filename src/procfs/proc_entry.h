// What the /proc source keeps of one listed process between snapshots.
#pragma once

#include <cstdint>
#include <string>

#include "procfs/proc_descriptor.h"
#include "procfs/proc_parse.h"

namespace tessivo {

struct ProcEntry {
  std::uint32_t pid = 0;
  std::uint32_t ppid = 0;
  std::uint64_t startTime = 0;
  std::uint64_t startCode = 0;
  std::uint64_t endCode = 0;
  std::uint32_t generation = 0;  // bumped on an exec
  bool kernelThread = false;
  std::u16string name;
  ProcDescriptor stat;
  ProcDescriptor io;
  bool ioUnreadable = false;  // this process's counters cannot be read; not asked again
  bool seen = false;          // `last` holds a previous snapshot's counters
  ProcIo now;                 // this snapshot's counters, own monitoring reads off
  ProcIo last;                // the previous snapshot's
  ProcIo offset;              // reaped children's counters taken off, for the process's life
  ProcIo reaped;              // this snapshot: what vanished children were last seen with
};

}  // namespace tessivo
