#include "procfs/exec_detection.h"

namespace tessivo {

namespace {

// 0: no program (kernel threads, zombies); 1: hidden from this reader.
bool validCode(std::uint64_t address) { return address > 1; }

}  // namespace

void takeStat(ProcEntry& entry, const ProcStat& stat, bool sameProcess, std::u16string& nameScratch) {
  assignName(stat.comm, nameScratch);
  const bool otherProgram = validCode(stat.startCode) && validCode(entry.startCode) &&
                            (stat.startCode != entry.startCode || stat.endCode != entry.endCode);
  if (sameProcess && (otherProgram || nameScratch != entry.name)) ++entry.generation;
  if (nameScratch != entry.name) entry.name.assign(nameScratch);
  entry.ppid = stat.ppid;
  entry.kernelThread = stat.kernelThread;
  entry.startCode = stat.startCode;
  entry.endCode = stat.endCode;
}

}  // namespace tessivo
