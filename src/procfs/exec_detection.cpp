#include "procfs/exec_detection.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <string_view>

#include "procfs/proc_files.h"

namespace tessivo {

namespace {

// 0: no program (kernel threads, zombies); 1: hidden from this reader.
bool validCode(std::uint64_t address) { return address > 1; }

}  // namespace

bool takeStat(ProcEntry& entry, const ProcStat& stat, bool sameProcess, std::u16string& nameScratch) {
  assignName(stat.comm, nameScratch);
  const bool otherProgram = validCode(stat.startCode) && validCode(entry.startCode) &&
                            (stat.startCode != entry.startCode || stat.endCode != entry.endCode);
  const bool exec = sameProcess && (otherProgram || nameScratch != entry.comm);
  if (exec) ++entry.generation;
  if (nameScratch != entry.comm) entry.comm.assign(nameScratch);
  entry.ppid = stat.ppid;
  entry.kernelThread = stat.kernelThread;
  entry.startCode = stat.startCode;
  entry.endCode = stat.endCode;
  return exec;
}

void takeProgram(ProcEntry& entry, int procDir) {
  std::array<char, 4096> target{};
  const ssize_t n = ::readlinkat(procDir, PidPath(entry.pid, "exe").c_str(), target.data(), target.size());
  // A target that fills the buffer may have been cut short: no path rather than a wrong one.
  const bool whole = n > 0 && static_cast<std::size_t>(n) < target.size();
  const std::string_view link = withoutDeletedSuffix({target.data(), whole ? static_cast<std::size_t>(n) : 0});
  const std::string_view file = link.substr(link.find_last_of('/') + 1);
  if (file.empty()) {
    entry.path.clear();
    if (entry.name != entry.comm) entry.name.assign(entry.comm);
    return;
  }
  assignUtf8(link, entry.path);
  assignName(file, entry.name);
}

}  // namespace tessivo
