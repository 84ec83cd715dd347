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
  std::u16string comm;  // the kernel's short name, as stat gives it
  std::u16string path;  // the program's file, empty where its link cannot be read
  std::u16string name;  // shown: the program's file name, or comm without a readable link
  bool kernelThread = false;  // PF_KTHREAD in stat's flags
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
