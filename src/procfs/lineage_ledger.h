// Counting a reaped child once. When a parent waits for a child, the kernel adds the
// child's whole counters to the parent's and drops the child from its listing, so without
// care every byte of a short-lived child would show twice: on the child while it lived and
// again on its parent. The ledger notes what each listed process that went was last seen
// with and, once the snapshot is complete, takes that off its parent's counters for good.
#pragma once

#include <cstdint>
#include <vector>

#include "procfs/proc_entry.h"
#include "procfs/proc_files.h"

namespace tessivo {

class LineageLedger {
 public:
  // A listed process that is gone (or whose pid is someone else's now).
  void noteGone(const ProcEntry& entry);
  bool empty() const { return gone_.empty(); }
  void clear() { gone_.clear(); }

  // Settles this snapshot's departures against the processes listed now (by pid,
  // ascending), read through files under the /proc directory procDir.
  void settle(std::vector<ProcEntry>& listed, ProcFiles& files, int procDir);

 private:
  struct Gone {
    std::uint32_t pid;
    std::uint32_t ppid;
    ProcIo counters;
    friend bool operator<(const Gone& a, const Gone& b) { return a.pid < b.pid; }
  };
  const Gone* findGone(std::uint32_t pid) const;

  std::vector<Gone> gone_;
};

}  // namespace tessivo
