#include "procfs/proc_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <utility>

#include "procfs/exec_detection.h"
#include "procfs/lineage_ledger.h"
#include "procfs/own_io.h"
#include "procfs/proc_entry.h"
#include "procfs/proc_files.h"
#include "procfs/proc_io_math.h"

namespace tessivo {

namespace {

// A known process's stat (name, parent, program bounds) is read again every this many
// snapshots (staggered by pid): at the default 333 ms, an exec shows within 2.7 s.
constexpr std::uint64_t kNameRefresh = 8;

// While no pid is handed out, the processes are the previous snapshot's and /proc is not
// listed again (listing costs about as much as reading every process's counters); it is
// listed all the same every this many snapshots, to check that the kernel's last pid tells.
constexpr std::uint64_t kRelistEvery = 30;

}  // namespace

struct ProcSystem::Impl {
  explicit Impl(std::string root) : procRoot(std::move(root)) {}

  std::string procRoot;
  ProcDescriptor dir;
  bool realProc = false;  // the kernel's /proc, where this process may be listed
  std::vector<ProcEntry> entries;  // by pid, ascending
  std::vector<ProcEntry> nextEntries;
  std::vector<std::uint32_t> pids;
  std::vector<ProcCounters> counters;  // index-aligned with the latest snapshot
  ProcFiles files;
  LineageLedger ledger;
  std::uint64_t snapshots = 0;
  // The kernel's last handed-out pid, when it is this tree's (the tree is /proc as this
  // process's namespace sees it); without it every snapshot lists /proc.
  ProcDescriptor loadavg;
  std::uint32_t listedAfter = 0;  // the last pid as read just before the latest listing
  bool entriesWhole = false;      // entries hold every process of that listing still there
  std::uint64_t sinceListing = 0;
  std::u16string nameScratch;
  alignas(8) std::array<char, 32 * 1024> dirBuffer{};

  bool openRoot() {
    if (!dir) {
      dir = ProcDescriptor(::open(procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      struct statfs fs {};
      realProc = dir && ::fstatfs(dir.get(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
      std::array<char, 16> self{};
      const ssize_t n = realProc ? ::readlinkat(dir.get(), "self", self.data(), self.size()) : -1;
      if (n > 0 && parseDecimal({self.data(), static_cast<std::size_t>(n)}) == static_cast<std::uint64_t>(::getpid()))
        loadavg = ProcDescriptor(::openat(dir.get(), "loadavg", O_RDONLY | O_CLOEXEC));
    }
    return static_cast<bool>(dir);
  }

  // The process identifiers listed now, ascending; false when the directory cannot be read.
  bool listPids() {
    pids.clear();
    if (!openRoot() || ::lseek(dir.get(), 0, SEEK_SET) != 0) return false;
    for (;;) {
      const ssize_t n = ::getdents64(dir.get(), dirBuffer.data(), dirBuffer.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        dir.reset();  // reopened at the next snapshot
        return false;
      }
      if (n == 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* entry = reinterpret_cast<const dirent64*>(dirBuffer.data() + at);
        at += entry->d_reclen;
        if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN) continue;
        const std::uint32_t pid = parsePidName(entry->d_name);
        if (pid != 0) pids.push_back(pid);
      }
    }
    // The kernel lists processes in ascending order; other trees need not.
    if (!std::is_sorted(pids.begin(), pids.end())) std::sort(pids.begin(), pids.end());
    return true;
  }

  // The pids to read: the previous snapshot's when no pid was handed out since the latest
  // listing (no process began, nor any thread) and every process of it is still read, else
  // the pids listed now. A check listing that finds a process the kernel's last pid missed
  // stops the shortcut for good.
  bool gatherPids() {
    const std::optional<std::uint32_t> last = loadavg ? parseLastPid(files.read(loadavg.get())) : std::nullopt;
    const bool quiet = last && *last == listedAfter && entriesWhole;
    if (quiet && ++sinceListing < kRelistEvery) {
      pids.clear();
      for (const ProcEntry& entry : entries) pids.push_back(entry.pid);
      return true;
    }
    if (!listPids()) return false;
    if (quiet) {
      const auto known = [this](std::uint32_t pid) {
        const auto at = std::lower_bound(entries.begin(), entries.end(), pid,
                                         [](const ProcEntry& e, std::uint32_t p) { return e.pid < p; });
        return at != entries.end() && at->pid == pid;
      };
      if (!std::all_of(pids.begin(), pids.end(), known)) loadavg.reset();
    }
    listedAfter = last.value_or(0);
    sinceListing = 0;
    return true;
  }

  // Opens through files; while the descriptor table is full, gives back a descriptor kept
  // for a process already read this snapshot and tries again. Those processes cost a reopen
  // at their next read; no process is left out for want of a descriptor.
  int openMakingRoom(int at, const char* leaf, int flags = 0) {
    for (std::size_t next = nextEntries.size();;) {
      const int fd = files.open(at, leaf, flags);
      if (!ProcFiles::descriptorsOut(fd)) return fd;
      const auto holdsRoom = [this](const ProcEntry& e) { return files.freesRoom(e.stat) || files.freesRoom(e.io); };
      while (next > 0 && !holdsRoom(nextEntries[next - 1])) --next;
      if (next == 0) return fd;
      ProcEntry& held = nextEntries[next - 1];
      files.release(files.freesRoom(held.stat) ? held.stat : held.io);
    }
  }

  void drop(ProcEntry& entry) {
    files.release(entry.stat);
    files.release(entry.io);
  }

  enum class Outcome { Listed, Gone, Skipped };

  // Fills entry.now and the name fields for one listed process.
  //
  // A known process costs one read per snapshot, its io file through a kept descriptor;
  // its program link is read only when it is first seen and after an exec;
  // its stat file (the name and program, which change on exec, and the parent, which changes
  // when the parent goes) is read every kNameRefresh snapshots. A kept descriptor fails once
  // its process is gone, even when the pid is already someone else's: the process is then
  // read as a new one, its files opened under its own directory, so that they all belong to
  // one process, and its start time tells which it is. Without a working io descriptor
  // the stat file is read every time, for the same reason.
  Outcome sampleOne(ProcEntry& entry, bool known, bool nameDue) {
    bool fresh = !known;
    std::optional<ProcIo> io;
    if (!fresh && entry.io) {
      io = files.readIo(entry.io.get(), entry.pid);
      if (!io) fresh = true;
    }
    if (!fresh && !io && !entry.ioUnreadable) fresh = true;  // no io kept: open it under its directory
    if (!fresh && (nameDue || !io)) {
      const std::optional<ProcStat> stat =
          entry.stat ? parseProcStat(files.read(entry.stat.get())) : std::nullopt;
      if (stat) {
        if (takeStat(entry, *stat, true, nameScratch)) takeProgram(entry, dir.get());
      } else {
        fresh = true;
      }
    }
    if (!fresh) {
      entry.now = io.value_or(ProcIo{});
      return Outcome::Listed;
    }

    const int opened = openMakingRoom(dir.get(), PidPath(entry.pid, "").c_str(), O_DIRECTORY);
    if (opened < 0) return ProcFiles::descriptorsOut(opened) ? Outcome::Skipped : Outcome::Gone;
    const ProcDescriptor process(opened);
    const int statFd = openMakingRoom(process.get(), "stat");
    if (statFd < 0) return ProcFiles::descriptorsOut(statFd) ? Outcome::Skipped : Outcome::Gone;
    ProcDescriptor statFile(statFd);
    const std::optional<ProcStat> stat = parseProcStat(files.read(statFile.get()));
    if (!stat) return Outcome::Gone;
    const bool same = known && stat->startTime == entry.startTime;
    if (!same) {
      if (known) ledger.noteGone(entry);  // the pid is another process's now
      drop(entry);
      const std::uint32_t pid = entry.pid;
      entry = ProcEntry{};
      entry.pid = pid;
      entry.startTime = stat->startTime;
    }
    if (takeStat(entry, *stat, same, nameScratch) || !same) takeProgram(entry, dir.get());
    files.release(entry.stat);
    files.keepOrClose(std::move(statFile), entry.stat);

    if (same && io) {
      // The kept io descriptor still works: only the stat one had to be opened again.
    } else if (!entry.ioUnreadable) {
      files.release(entry.io);
      const int ioFd = openMakingRoom(process.get(), "io");
      ProcDescriptor ioFile(ioFd >= 0 ? ioFd : -1);
      // Zeros now would read as a drop and then a burst: better absent for one snapshot.
      if (ProcFiles::descriptorsOut(ioFd)) return Outcome::Skipped;
      io = ioFd >= 0 ? files.readIo(ioFile.get(), entry.pid) : std::nullopt;
      if (io) {
        files.keepOrClose(std::move(ioFile), entry.io);
      } else {
        // Gone since it was listed: its directory empties.
        if (::faccessat(process.get(), "stat", F_OK, 0) != 0) return Outcome::Gone;
        // Another user's process, or counters the kernel does not offer: listed with zeros.
        entry.ioUnreadable = true;
      }
    }
    entry.now = io.value_or(ProcIo{});
    return Outcome::Listed;
  }

  void snapshot(ProcByteSource source, std::vector<ProcessSample>& out) {
    const std::uint32_t selfPid = own_io::sync();
    if (!gatherPids()) {
      entriesWhole = false;
      for (ProcEntry& entry : entries) drop(entry);
      entries.clear();
      out.clear();
      counters.clear();
      return;
    }
    files.beginSnapshot(selfPid, realProc);
    files.updateKeepLimit();
    nextEntries.clear();
    ledger.clear();
    std::size_t old = 0;
    entriesWhole = true;
    const auto leave = [&](ProcEntry& entry) {
      ledger.noteGone(entry);
      drop(entry);
    };
    for (const std::uint32_t pid : pids) {
      while (old < entries.size() && entries[old].pid < pid) leave(entries[old++]);
      const bool known = old < entries.size() && entries[old].pid == pid;
      ProcEntry entry = known ? std::move(entries[old++]) : ProcEntry{};
      entry.pid = pid;
      const bool nameDue = (snapshots + pid) % kNameRefresh == 0;
      const Outcome outcome = sampleOne(entry, known, nameDue);
      if (outcome == Outcome::Listed) {
        nextEntries.push_back(std::move(entry));
        continue;
      }
      entriesWhole = false;  // gone or skipped: the next snapshot lists again
      if (outcome == Outcome::Gone && known) {
        leave(entry);
      } else {
        drop(entry);
      }
    }
    while (old < entries.size()) leave(entries[old++]);
    if (!ledger.empty()) ledger.settle(nextEntries, files, dir.get());

    out.resize(nextEntries.size());
    counters.resize(nextEntries.size());
    for (std::size_t i = 0; i < nextEntries.size(); ++i) {
      ProcEntry& entry = nextEntries[i];
      const ProcIo io = procio::operator-(entry.now, entry.offset);
      ProcCounters& both = counters[i];
      both.allIo = IoCounters{io.syscr, io.syscw, 0, io.rchar, io.wchar, 0};
      both.diskOnly = IoCounters{io.syscr, io.syscw, 0, io.readBytes, io.writeBytes, 0};
      both.kernelThread = entry.kernelThread;
      both.unreadable = entry.ioUnreadable;
      ProcessSample& sample = out[i];
      sample.pid = entry.pid;
      sample.name.assign(entry.name);
      sample.createTime = entry.startTime;
      sample.imageGeneration = entry.generation;
      sample.counters = source == ProcByteSource::DiskOnly ? both.diskOnly : both.allIo;
      entry.last = entry.now;
      entry.seen = true;
    }
    std::swap(entries, nextEntries);
    nextEntries.clear();
    ++snapshots;
  }
};

ProcSystem::ProcSystem(std::string procRoot)
    : procRoot_(std::move(procRoot)), impl_(std::make_unique<Impl>(procRoot_)) {}

ProcSystem::~ProcSystem() = default;

void ProcSystem::readSnapshot(std::vector<ProcessSample>& out) { impl_->snapshot(byteSource_, out); }

std::u16string ProcSystem::imagePath(std::uint32_t pid) {
  // A listed process's link was read when it was first seen or last exec'd.
  const std::vector<ProcEntry>& entries = impl_->entries;
  const auto listed = std::lower_bound(entries.begin(), entries.end(), pid,
                                       [](const ProcEntry& e, std::uint32_t p) { return e.pid < p; });
  if (listed != entries.end() && listed->pid == pid) return listed->path;
  if (!impl_->openRoot()) return {};
  std::array<char, 4096> target{};
  const ssize_t n = ::readlinkat(impl_->dir.get(), PidPath(pid, "exe").c_str(), target.data(), target.size());
  // A target that fills the buffer may have been cut short: no path rather than a wrong one.
  if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return {};
  std::u16string path;
  assignUtf8(withoutDeletedSuffix({target.data(), static_cast<std::size_t>(n)}), path);
  return path;
}

std::uint64_t ProcSystem::nowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000;
}

const std::vector<ProcCounters>& ProcSystem::lastCounters() const { return impl_->counters; }

void ProcSystem::discountOwnIo(std::uint64_t readBytes, std::uint64_t readCalls, std::uint64_t writeBytes,
                               std::uint64_t writeCalls) {
  own_io::declare(readBytes, readCalls, writeBytes, writeCalls);
}

std::size_t ProcSystem::keptDescriptors() const { return impl_->files.kept(); }

}  // namespace tessivo
