#include "procfs/lineage_ledger.h"

#include <signal.h>

#include <algorithm>
#include <optional>

#include "procfs/proc_io_math.h"

namespace tessivo {

namespace {

using procio::operator+;
using procio::operator-;

// How many vanished parents a vanished child's counters are passed up through.
constexpr int kChainLimit = 8;

ProcEntry* findListed(std::vector<ProcEntry>& listed, std::uint32_t pid) {
  const auto at = std::lower_bound(listed.begin(), listed.end(), pid,
                                   [](const ProcEntry& e, std::uint32_t p) { return e.pid < p; });
  return at != listed.end() && at->pid == pid ? &*at : nullptr;
}

// Whether the process ignores SIGCHLD, so that the kernel reaps its children without
// adding their counters to its own.
bool reapsSilently(ProcFiles& files, int procDir, std::uint32_t pid) {
  const int fd = files.open(procDir, PidPath(pid, "status").c_str());
  if (fd < 0) return false;
  const ProcDescriptor status(fd);
  return ignoresSignal(files.read(status.get()), SIGCHLD);
}

}  // namespace

void LineageLedger::noteGone(const ProcEntry& entry) {
  if (entry.seen && !entry.ioUnreadable && entry.ppid != 0 && !procio::isZero(entry.last))
    gone_.push_back(Gone{entry.pid, entry.ppid, entry.last});
}

const LineageLedger::Gone* LineageLedger::findGone(std::uint32_t pid) const {
  const auto at = std::lower_bound(gone_.begin(), gone_.end(), Gone{pid, 0, {}});
  return at != gone_.end() && at->pid == pid ? &*at : nullptr;
}

// The counters of the processes that went this snapshot reappear in their parents' at the
// reap (the kernel adds them when the parent waits; its listing drops the child then):
// they are taken off the parents' counters, at most by what each parent grew, since a
// parent that ignores SIGCHLD gets nothing, and for good. A child whose parent went too
// passes up its counters with its parent's. Children of a parent that went are re-parented
// by now: their parent is read again.
void LineageLedger::settle(std::vector<ProcEntry>& listed, ProcFiles& files, int procDir) {
  std::sort(gone_.begin(), gone_.end());
  for (const Gone& child : gone_) {
    std::uint32_t parent = child.ppid;
    for (int hop = 0; hop < kChainLimit; ++hop) {
      const Gone* up = findGone(parent);
      if (up == nullptr) break;
      parent = up->ppid;
    }
    ProcEntry* entry = findListed(listed, parent);
    if (entry != nullptr && entry->seen) entry->reaped = entry->reaped + child.counters;
  }
  for (ProcEntry& entry : listed) {
    if (!procio::isZero(entry.reaped) && !reapsSilently(files, procDir, entry.pid)) {
      // Read again: the reap is certain to show now, whatever the order of the reads.
      std::optional<ProcIo> io;
      if (entry.io) io = files.readIo(entry.io.get(), entry.pid);
      if (io) entry.now = *io;
      entry.offset = entry.offset + procio::lesser(entry.reaped, entry.now - entry.last);
    }
    entry.reaped = ProcIo{};
    if (findGone(entry.ppid) != nullptr && entry.stat) {
      const std::optional<ProcStat> stat = parseProcStat(files.read(entry.stat.get()));
      if (stat) entry.ppid = stat->ppid;
    }
  }
  gone_.clear();
}

}  // namespace tessivo
