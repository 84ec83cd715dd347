#include "linux/proc_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

#include "linux/proc_descriptor.h"
#include "linux/proc_parse.h"

namespace tessivo {

namespace {

// Descriptors left to the rest of the program however many processes there are.
constexpr std::size_t kReservedDescriptors = 128;

// A known process's stat (name, parent, program bounds) is read again every this many
// snapshots (staggered by pid): at the default 333 ms, an exec shows within 2.7 s.
constexpr std::uint64_t kNameRefresh = 8;

// How many vanished parents a vanished child's counters are passed up through.
constexpr int kChainLimit = 8;

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

std::uint64_t minus(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; }
std::uint64_t plus(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

template <typename F>
ProcIo fieldwise(const ProcIo& a, const ProcIo& b, F f) {
  return {f(a.rchar, b.rchar), f(a.wchar, b.wchar),         f(a.syscr, b.syscr),
          f(a.syscw, b.syscw), f(a.readBytes, b.readBytes), f(a.writeBytes, b.writeBytes)};
}
ProcIo operator-(const ProcIo& a, const ProcIo& b) { return fieldwise(a, b, minus); }
ProcIo operator+(const ProcIo& a, const ProcIo& b) { return fieldwise(a, b, plus); }
ProcIo lesser(const ProcIo& a, const ProcIo& b) {
  return fieldwise(a, b, [](std::uint64_t x, std::uint64_t y) { return std::min(x, y); });
}
bool isZero(const ProcIo& io) {
  return (io.rchar | io.wchar | io.syscr | io.syscw | io.readBytes | io.writeBytes) == 0;
}

// The I/O this process did for monitoring: every source's reads of /proc, and what was
// declared. A forked child starts with zero counters, so the totals belong to one pid.
struct OwnIo {
  std::atomic<pid_t> pid{0};
  std::atomic<std::uint64_t> readBytes{0};
  std::atomic<std::uint64_t> readCalls{0};
  std::atomic<std::uint64_t> writeBytes{0};
  std::atomic<std::uint64_t> writeCalls{0};

  // The current pid, after forgetting a parent process's totals.
  pid_t sync() {
    const pid_t now = ::getpid();
    if (pid.exchange(now, std::memory_order_relaxed) != now) {
      for (auto* total : {&readBytes, &readCalls, &writeBytes, &writeCalls}) total->store(0, std::memory_order_relaxed);
    }
    return now;
  }
  ProcIo totals() const {
    ProcIo io;
    io.rchar = readBytes.load(std::memory_order_relaxed);
    io.syscr = readCalls.load(std::memory_order_relaxed);
    io.wchar = writeBytes.load(std::memory_order_relaxed);
    io.syscw = writeCalls.load(std::memory_order_relaxed);
    return io;
  }
};
OwnIo ownIo;

bool validCode(std::uint64_t address) { return address > 1; }

}  // namespace

struct ProcSystem::Impl {
  struct Entry {
    std::uint32_t pid = 0;
    std::uint32_t ppid = 0;
    std::uint64_t startTime = 0;
    std::uint64_t startCode = 0;
    std::uint64_t endCode = 0;
    std::uint32_t generation = 0;  // bumped on an exec
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
  // A listed process that is gone, with what its parent may be credited with at its reap.
  struct Gone {
    std::uint32_t pid;
    std::uint32_t ppid;
    ProcIo counters;
    friend bool operator<(const Gone& a, const Gone& b) { return a.pid < b.pid; }
  };

  explicit Impl(std::string root) : procRoot(std::move(root)) {}

  std::string procRoot;
  ProcDescriptor dir;
  bool realProc = false;  // the kernel's /proc, where this process may be listed
  std::uint32_t selfPid = 0;
  std::vector<Entry> entries;  // by pid, ascending
  std::vector<Entry> nextEntries;
  std::vector<std::uint32_t> pids;
  std::vector<Gone> gone;
  std::vector<ProcCounters> counters;  // index-aligned with the latest snapshot
  std::size_t kept = 0;
  std::size_t keepLimit = 0;
  std::uint64_t snapshots = 0;
  std::u16string nameScratch;
  alignas(8) std::array<char, 32 * 1024> dirBuffer{};
  std::array<char, 4096> text{};

  bool openRoot() {
    if (!dir) {
      dir = ProcDescriptor(::open(procRoot.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      struct statfs fs {};
      realProc = dir && ::fstatfs(dir.get(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
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

  void updateKeepLimit() {
    rlimit limit{};
    std::uint64_t soft = 1024;
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) soft = limit.rlim_cur;
    keepLimit = soft > kReservedDescriptors ? static_cast<std::size_t>(soft - kReservedDescriptors) : 0;
  }

  void release(ProcDescriptor& fd) {
    if (fd) {
      fd.reset();
      --kept;
    }
  }

  void drop(Entry& entry) {
    release(entry.stat);
    release(entry.io);
  }

  // Bytes read into text from offset 0, or -errno. Every call counts as this process's
  // own monitoring read, as the kernel counts it.
  ssize_t readAt(int fd) {
    for (;;) {
      const ssize_t n = ::pread(fd, text.data(), text.size() - 1, 0);
      ownIo.readCalls.fetch_add(1, std::memory_order_relaxed);
      if (n > 0) ownIo.readBytes.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
      if (n >= 0) return n;
      if (errno != EINTR) return -errno;
    }
  }

  // The counters behind fd, this process's own monitoring I/O off when it is pid. The
  // kernel's answer holds every read before this one, not this one.
  std::optional<ProcIo> readIo(int fd, std::uint32_t pid) {
    const bool self = realProc && pid == selfPid;
    const ProcIo before = self ? ownIo.totals() : ProcIo{};
    std::optional<ProcIo> io = parseProcIo(textOf(readAt(fd)));
    if (io && self) *io = *io - before;
    return io;
  }

  // Opens leaf under the directory fd (a process's, or /proc itself): the descriptor, or -errno.
  int openFile(int at, const char* leaf, int flags = 0) {
    const int fd = ::openat(at, leaf, O_RDONLY | O_CLOEXEC | flags);
    if (fd >= 0) return fd;
    const int error = errno;
    if (error == EMFILE || error == ENFILE) keepLimit = kept;  // keep no more this snapshot
    return -error;
  }

  // Keeps fd in slot while descriptors last, else closes it.
  void keepOrClose(ProcDescriptor&& fd, ProcDescriptor& slot) {
    if (fd && kept < keepLimit) {
      slot = std::move(fd);
      ++kept;
    }
  }

  std::string_view textOf(ssize_t n) const { return {text.data(), n > 0 ? static_cast<std::size_t>(n) : 0}; }

  static bool descriptorsOut(int error) { return error == -EMFILE || error == -ENFILE; }

  // Takes name, parent and program bounds from a stat read of the same process; a changed
  // name or program means an exec (or a rename: the path is then merely asked again).
  void takeStat(Entry& entry, const ProcStat& stat, bool sameProcess) {
    assignName(stat.comm, nameScratch);
    const bool otherProgram = validCode(stat.startCode) && validCode(entry.startCode) &&
                              (stat.startCode != entry.startCode || stat.endCode != entry.endCode);
    if (sameProcess && (otherProgram || nameScratch != entry.name)) ++entry.generation;
    if (nameScratch != entry.name) entry.name.assign(nameScratch);
    entry.ppid = stat.ppid;
    entry.startCode = stat.startCode;
    entry.endCode = stat.endCode;
  }

  // What a gone process leaves for its parent's reap.
  void noteGone(const Entry& entry) {
    if (entry.seen && !entry.ioUnreadable && entry.ppid != 0 && !isZero(entry.last))
      gone.push_back(Gone{entry.pid, entry.ppid, entry.last});
  }

  enum class Outcome { Listed, Gone, Skipped };

  // Fills entry.now and the name fields for one listed process.
  //
  // A known process costs one read per snapshot, its io file through a kept descriptor;
  // its stat file (the name and program, which change on exec, and the parent, which changes
  // when the parent goes) is read every kNameRefresh snapshots. A kept descriptor fails once
  // its process is gone, even when the pid is already someone else's: the process is then
  // read as a new one, its files opened under its own directory, so that they all belong to
  // one process, and its start time tells which it is. Without a working io descriptor
  // the stat file is read every time, for the same reason.
  Outcome sampleOne(Entry& entry, bool known, bool nameDue) {
    bool fresh = !known;
    std::optional<ProcIo> io;
    if (!fresh && entry.io) {
      io = readIo(entry.io.get(), entry.pid);
      if (!io) fresh = true;
    }
    if (!fresh && !io && !entry.ioUnreadable) fresh = true;  // no io kept: open it under its directory
    if (!fresh && (nameDue || !io)) {
      const std::optional<ProcStat> stat =
          entry.stat ? parseProcStat(textOf(readAt(entry.stat.get()))) : std::nullopt;
      if (stat) {
        takeStat(entry, *stat, true);
      } else {
        fresh = true;
      }
    }
    if (!fresh) {
      entry.now = io.value_or(ProcIo{});
      return Outcome::Listed;
    }

    const int opened = openFile(dir.get(), PidPath(entry.pid, "").c_str(), O_DIRECTORY);
    if (opened < 0) return descriptorsOut(opened) ? Outcome::Skipped : Outcome::Gone;
    const ProcDescriptor process(opened);
    const int statFd = openFile(process.get(), "stat");
    if (statFd < 0) return descriptorsOut(statFd) ? Outcome::Skipped : Outcome::Gone;
    ProcDescriptor statFile(statFd);
    const std::optional<ProcStat> stat = parseProcStat(textOf(readAt(statFile.get())));
    if (!stat) return Outcome::Gone;
    const bool same = known && stat->startTime == entry.startTime;
    if (!same) {
      if (known) noteGone(entry);  // the pid is another process's now
      drop(entry);
      const std::uint32_t pid = entry.pid;
      entry = Entry{};
      entry.pid = pid;
      entry.startTime = stat->startTime;
    }
    takeStat(entry, *stat, same);
    release(entry.stat);
    keepOrClose(std::move(statFile), entry.stat);

    if (same && io) {
      // The kept io descriptor still works: only the stat one had to be opened again.
    } else if (!entry.ioUnreadable) {
      release(entry.io);
      const int ioFd = openFile(process.get(), "io");
      ProcDescriptor ioFile(ioFd >= 0 ? ioFd : -1);
      // Zeros now would read as a drop and then a burst: better absent for one snapshot.
      if (descriptorsOut(ioFd)) return Outcome::Skipped;
      io = ioFd >= 0 ? readIo(ioFile.get(), entry.pid) : std::nullopt;
      if (io) {
        keepOrClose(std::move(ioFile), entry.io);
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

  Entry* findNext(std::uint32_t pid) {
    const auto at = std::lower_bound(nextEntries.begin(), nextEntries.end(), pid,
                                     [](const Entry& e, std::uint32_t p) { return e.pid < p; });
    return at != nextEntries.end() && at->pid == pid ? &*at : nullptr;
  }
  const Gone* findGone(std::uint32_t pid) const {
    const auto at = std::lower_bound(gone.begin(), gone.end(), Gone{pid, 0, {}});
    return at != gone.end() && at->pid == pid ? &*at : nullptr;
  }

  // Whether the process ignores SIGCHLD, so that the kernel reaps its children without
  // adding their counters to its own.
  bool reapsSilently(std::uint32_t pid) {
    const int fd = openFile(dir.get(), PidPath(pid, "status").c_str());
    if (fd < 0) return false;
    const ProcDescriptor status(fd);
    return ignoresSignal(textOf(readAt(status.get())), SIGCHLD);
  }

  // The counters of the processes that went this snapshot reappear in their parents' at the
  // reap (the kernel adds them when the parent waits; its listing drops the child then):
  // they are taken off the parents' counters, at most by what each parent grew, since a
  // parent that ignores SIGCHLD gets nothing, and for good. A child whose parent went too
  // passes up its counters with its parent's. Children of a parent that went are re-parented
  // by now: their parent is read again.
  void settleGone() {
    std::sort(gone.begin(), gone.end());
    for (const Gone& child : gone) {
      std::uint32_t parent = child.ppid;
      for (int hop = 0; hop < kChainLimit; ++hop) {
        const Gone* up = findGone(parent);
        if (up == nullptr) break;
        parent = up->ppid;
      }
      Entry* entry = findNext(parent);
      if (entry != nullptr && entry->seen) entry->reaped = entry->reaped + child.counters;
    }
    for (Entry& entry : nextEntries) {
      if (!isZero(entry.reaped) && !reapsSilently(entry.pid)) {
        // Read again: the reap is certain to show now, whatever the order of the reads.
        std::optional<ProcIo> io;
        if (entry.io) io = readIo(entry.io.get(), entry.pid);
        if (io) entry.now = *io;
        entry.offset = entry.offset + lesser(entry.reaped, entry.now - entry.last);
      }
      entry.reaped = ProcIo{};
      if (findGone(entry.ppid) != nullptr && entry.stat) {
        const std::optional<ProcStat> stat = parseProcStat(textOf(readAt(entry.stat.get())));
        if (stat) entry.ppid = stat->ppid;
      }
    }
    gone.clear();
  }

  void snapshot(ProcByteSource source, std::vector<ProcessSample>& out) {
    selfPid = static_cast<std::uint32_t>(ownIo.sync());
    if (!listPids()) {
      for (Entry& entry : entries) drop(entry);
      entries.clear();
      out.clear();
      counters.clear();
      return;
    }
    updateKeepLimit();
    nextEntries.clear();
    gone.clear();
    std::size_t old = 0;
    const auto leave = [&](Entry& entry) {
      noteGone(entry);
      drop(entry);
    };
    for (const std::uint32_t pid : pids) {
      while (old < entries.size() && entries[old].pid < pid) leave(entries[old++]);
      const bool known = old < entries.size() && entries[old].pid == pid;
      Entry entry = known ? std::move(entries[old++]) : Entry{};
      entry.pid = pid;
      const bool nameDue = (snapshots + pid) % kNameRefresh == 0;
      const Outcome outcome = sampleOne(entry, known, nameDue);
      if (outcome == Outcome::Listed) {
        nextEntries.push_back(std::move(entry));
      } else if (outcome == Outcome::Gone && known) {
        leave(entry);
      } else {
        drop(entry);
      }
    }
    while (old < entries.size()) leave(entries[old++]);
    if (!gone.empty()) settleGone();

    out.resize(nextEntries.size());
    counters.resize(nextEntries.size());
    for (std::size_t i = 0; i < nextEntries.size(); ++i) {
      Entry& entry = nextEntries[i];
      const ProcIo io = entry.now - entry.offset;
      ProcCounters& both = counters[i];
      both.allIo = IoCounters{io.syscr, io.syscw, 0, io.rchar, io.wchar, 0};
      both.diskOnly = IoCounters{io.syscr, io.syscw, 0, io.readBytes, io.writeBytes, 0};
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
  ownIo.sync();
  ownIo.readBytes.fetch_add(readBytes, std::memory_order_relaxed);
  ownIo.readCalls.fetch_add(readCalls, std::memory_order_relaxed);
  ownIo.writeBytes.fetch_add(writeBytes, std::memory_order_relaxed);
  ownIo.writeCalls.fetch_add(writeCalls, std::memory_order_relaxed);
}

std::size_t ProcSystem::keptDescriptors() const { return impl_->kept; }

std::uint64_t raiseOpenFileLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? std::numeric_limits<std::uint64_t>::max() : limit.rlim_cur;
}

}  // namespace tessivo
